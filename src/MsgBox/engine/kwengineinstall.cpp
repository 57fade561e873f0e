// The install phase of the install engine: the volumes are read in order
// from their source and pushed through the unpacker into a staging folder;
// a complete, undamaged package is then moved into place as the version
// folder, and only then registered.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "MsgBox/desktop/kwinstalledversions.h"
#include "MsgBox/engine/kwenginecheckpoint.h"
#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwenginesource.h"
#include "MsgBox/engine/kwenginestaging.h"
#include "baseutil/ikwlog.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwunzippackage.h"

using kwengine::kInstallChunk;
using kwengine::kMinFreeToContinue;

int CKWInstallEngine::Impl::OnUnpacked(void* context, int32_t code, const char* text, int64_t) {
  auto* self = static_cast<Impl*>(context);
  if (code == CKWUnzipPackage::kFileBegun) {
    self->SetStatus(text);
    self->Repaint();
  }
  return 0;
}

void CKWInstallEngine::Impl::InstallPhase() {
  std::unique_ptr<KwVolumeSource> source;
  bool embedded = false;
  if (packageSource_ == "^") {
    source = KwMakeEmbeddedSource(installerFile_);
    embedded = true;
  } else if (!packageSource_.empty()) {
    source = KwMakeLocalSource(packageSource_);
  } else {
    source = KwMakeServerSource(&active_, &Impl::OnReceived, this, resume_);
  }
  std::string version;
  std::string why;
  if (source->Prepare(&version, &why) != 0) {
    if (embedded) g_installStage = 0;
    return Fail(why, source->FailureKey());
  }
  if (!KwIsSafePathPart(version.c_str())) {
    return Fail("unusable version name: " + version, nullptr);
  }
  version_ = version;
  if (g_versionText[0] == '\0') KwCopyText(g_versionText, kVersionTextSize, version.c_str());
  destination_ = installPath_ + "/" + version_;

  const auto& volumes = source->volumes();
  int64_t total = 0;
  for (const auto& v : volumes) total += v.length;
  doneBytes_ = 0;
  totalBytes_ = total;
  volumeCount_ = static_cast<int>(volumes.size());

  if (!BeginStaging()) return;
  installStartMs_ = kwengine::NowMs();
  if (!UnpackInto(*source, staging_.folder(), nullptr) || !active_) return staging_.Abandon();
  FinishInstall(false);
}

bool CKWInstallEngine::Impl::BeginStaging() {
  const int begun = staging_.Begin(installPath_, version_);
  if (begun == 0) return true;
  if (begun == -ENOSPC || begun == -EDQUOT) {
    Fail("the disk is full", "diskfull");
  } else {
    Fail("the staging folder cannot be created in " + installPath_, "invalidpath2");
  }
  return false;
}

bool CKWInstallEngine::Impl::StartInstallBeside(const std::vector<PackageEntry>& entries) {
  std::vector<KwSourceVolume> volumes;
  int64_t total = 0;
  int64_t largest = 0;
  for (const PackageEntry& e : entries) {
    KwSourceVolume v;
    v.name = e.name;
    v.path = e.localPath;
    v.length = e.length;
    v.entry = e;
    if (v.length < kwpkg::kVolumeHeaderSize) {
      Fail(std::string("volume too short to be one: ") + e.name, nullptr);
      return false;
    }
    total += v.length;
    largest = std::max(largest, v.length);
    volumes.push_back(v);
  }
  packageBytes_ = total;
  largestVolume_ = largest;
  unpackedBytes_ = 0;
  unpacked_ = false;
  gate_.Reset(volumes.size());
  // What an earlier run of the same release unpacked is taken up; anything
  // else starts afresh.
  resumed_ = KwUnpackCheckpoint();
  std::string text;
  KwUnpackCheckpoint c;
  if (staging_.Reopen(installPath_, version_, &text) && KwUnpackCheckpoint::Parse(text, &c) &&
      c.Fits(version_, entries)) {
    resumed_ = c;
    checkpointed_ = true;
    for (size_t i = 0; i < c.done.size(); ++i) {
      unpackedBytes_ += volumes[i].length;
      gate_.MarkVerified(i);
    }
    KW_LOG(4, "CKWinstaller::runinstall", "continuing %s after %d volumes",
           staging_.folder().c_str(), static_cast<int>(c.done.size()));
  } else if (!BeginStaging()) {
    return false;
  }
  installThread_ = std::thread([this, volumes]() mutable {
    pthread_setname_np(pthread_self(), "kw-install");
    InstallBeside(std::move(volumes));
  });
  return true;
}

void CKWInstallEngine::Impl::InstallBeside(std::vector<KwSourceVolume> volumes) {
  std::unique_ptr<KwVolumeSource> source = KwMakeListedFileSource(std::move(volumes), version_);
  std::string version;
  std::string why;
  if (source->Prepare(&version, &why) != 0) return Fail(why, nullptr);
  unpacked_ = UnpackInto(*source, staging_.folder(), &gate_) && active_;
}

void CKWInstallEngine::Impl::FinishInstall(bool downloaded) {
  const int committed = staging_.Commit();
  if (committed != 0) {
    staging_.Abandon();
    if (committed == -ENOSPC || committed == -EDQUOT) return Fail("the disk is full", "diskfull");
    return Fail("the version folder cannot be put in place: " + destination_, nullptr);
  }
  // From here the version is complete under its name; registering it is
  // what makes it the installed one.
  if (KwRecordInstalledVersion(installPath_, version_) != 0) {
    KW_LOG(4, "CKWinstaller::runinstall", "version not recorded: %s", destination_.c_str());
  }
  KwFinishInput in;
  // The product installed from the installer's own file gets its desktop
  // entry too: for its user it is the whole installation.
  in.makeShortcut = runMode_ == 0 || runMode_ == 4;
  in.removeDownloads = downloaded;
  in.installPath = installPath_;
  in.destination = destination_;
  // The version this run installed, not the one a page showed earlier.
  in.versionText = version_;
  KwRunFinishingSteps(in);
  if (downloaded) KeepManifest();
  g_installStage = 0;
}

// Written when the first volume goes to the unpacker; the finishing steps
// remove it.
void CKWInstallEngine::Impl::WriteUnzipMarker() {
  // Made afresh, never through a link planted at the marker's name.
  std::string marker = installPath_ + "/" + kKwUnzipMarker;
  ::unlink(marker.c_str());
  int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    if (::write(fd, "1", 1) != 1) KW_LOG(4, "CKWinstaller::runinstall", "marker not written");
    ::close(fd);
  }
}

bool CKWInstallEngine::Impl::UnpackInto(KwVolumeSource& source, const std::string& folder,
                                        KwVolumeGate* gate) {
  CKWUnzipPackage unpacker;
  char ownerText[512] = {};
  unpacker.SetTargetFolder(folder.c_str());
  unpacker.SetOwnerText(ownerText);
  unpacker.SetCallback(&Impl::OnUnpacked, this);

  const auto& volumes = source.volumes();
  std::unique_ptr<char[]> buffer(new char[kInstallChunk]);
  KwStreamDigest digest;
  std::atomic<int64_t>& counted = gate != nullptr ? unpackedBytes_ : doneBytes_;
  // A download run may continue what an earlier one unpacked (its
  // checkpoint): those volumes are in the staging folder already.
  const size_t first = gate != nullptr ? resumed_.done.size() : 0;
  if (first > 0 && resumed_.insideFile &&
      unpacker.ContinueFile(resumed_.fileName.c_str(), resumed_.fileSize, resumed_.fileWritten) !=
          0) {
    stagingSound_ = false;
    Fail("the staged file cannot be continued: " + resumed_.fileName, nullptr);
    return false;
  }
  for (size_t i = first; i < volumes.size() && active_; ++i) {
    const KwSourceVolume& v = volumes[i];
    if (gate != nullptr) {
      if (!gate->WaitVerified(i)) return false;
      if (i == first) {
        WriteUnzipMarker();
        installStartMs_ = kwengine::NowMs();
      }
    } else {
      volumeIndex_ = static_cast<int>(i);
    }
    unpackIndex_ = static_cast<int>(i);
    if (v.skip) {
      // Its bytes are not read, so a listing cannot vouch for them.
      if (v.checkListed) {
        Fail("volume was not read and cannot be checked: " + v.name, nullptr);
        return false;
      }
      counted += v.length;
      continue;
    }
    digest.Reset();
    uint8_t header[kwpkg::kVolumeHeaderSize];
    if (source.Read(i, 0, sizeof(header), reinterpret_cast<char*>(header)) != sizeof(header)) {
      Fail("volume cannot be read: " + v.name, nullptr);
      return false;
    }
    if (!kwpkg::HasVolumeMagic(header, sizeof(header))) {
      Fail("not a package volume: " + v.name, nullptr);
      return false;
    }
    // The sums are taken only where they are checked: a downloaded volume
    // was verified as it arrived, and summing it again here cost as much
    // processor time as the unpacking itself.
    if (v.checkListed) digest.Update(reinterpret_cast<const char*>(header), sizeof(header));
    int64_t offset = v.startOffset;
    // Bytes before a resumed offset are not unpacked again, but the sums
    // must still see them.
    for (int64_t at = sizeof(header); v.checkListed && at < offset && active_;) {
      int32_t want = static_cast<int32_t>(std::min<int64_t>(offset - at, kInstallChunk));
      if (source.Read(i, at, want, buffer.get()) != want) {
        Fail("volume cannot be read: " + v.name, nullptr);
        return false;
      }
      digest.Update(buffer.get(), want);
      at += want;
    }
    counted += offset;
    while (offset < v.length && active_) {
      // A pause holds the unpacking beside a download too; the designed
      // install phase of the other run modes never waited on it.
      while (gate != nullptr && Paused() && active_ && !end_) Nap(50);
      int32_t want = static_cast<int32_t>(std::min<int64_t>(v.length - offset, kInstallChunk));
      int32_t n = source.Read(i, offset, want, buffer.get());
      if (n != want) {
        Fail("volume cannot be read: " + v.name, nullptr);
        return false;
      }
      if (v.checkListed) digest.Update(buffer.get(), n);
      counted += n;
      Repaint();
      if (unpacker.PutBuffer(buffer.get(), n) != 0) {
        FailUnpacked(v.name + ": " + unpacker.ErrorText(), unpacker.WriteErrno());
        return false;
      }
      // A file that could not be written fails the run at once, before a
      // checkpoint could record a volume whose bytes did not all land.
      if (unpacker.BadFiles() > 0 || unpacker.WriteErrno() != 0) {
        FailUnpacked(v.name, unpacker.WriteErrno());
        return false;
      }
      offset += n;
    }
    if (!active_) return false;
    std::string mismatch;
    if (v.checkListed && !digest.Matches(v.entry, &mismatch)) {
      stagingSound_ = false;
      Fail("volume does not match its listing: " + v.name + " (" + mismatch + ")", nullptr);
      return false;
    }
    if (gate != nullptr) {
      // Its files are in the staging folder now: the checkpoint says so
      // first, then the disk gets the volume's room back while later volumes
      // still arrive.  A volume that could not be recorded stays.
      if (SaveCheckpoint(volumes, i + 1, unpacker)) {
        ::unlink(v.path.c_str());
        KwVolumeJournal::Remove(v.path);
      }
    }
  }
  if (!active_) return false;
  if (unpacker.Finish() != 0 || unpacker.BadFiles() > 0) {
    FailUnpacked(volumes.empty() ? std::string("the package") : volumes.back().name,
                 unpacker.WriteErrno());
    return false;
  }
  if (unpacker.InsideFile() || unpacker.Pending() != 0) {
    stagingSound_ = false;
    Fail("the package ends inside a file", nullptr);
    return false;
  }
  return true;
}

bool CKWInstallEngine::Impl::SaveCheckpoint(const std::vector<KwSourceVolume>& volumes,
                                            size_t unpacked, const CKWUnzipPackage& unpacker) {
  // Only a stream position whose every byte landed may be continued.
  if (unpacker.CurrentFileBad() || unpacker.WriteErrno() != 0 || unpacker.BadFiles() > 0) {
    return false;
  }
  KwUnpackCheckpoint c;
  c.version = version_;
  c.volumeCount = static_cast<int>(volumes.size());
  for (size_t k = 0; k < unpacked; ++k)
    c.done.push_back(KwUnpackCheckpoint::DigestOf(volumes[k].entry));
  c.insideFile = unpacker.InsideFile();
  if (c.insideFile) {
    c.fileName = unpacker.CurrentName();
    c.fileSize = unpacker.CurrentSize();
    c.fileWritten = unpacker.CurrentWritten();
  }
  if (!staging_.SaveCheckpoint(c.Format())) return false;
  checkpointed_ = true;
  return true;
}

void CKWInstallEngine::Impl::FailUnpacked(const std::string& volume, int writeErrno) {
  int64_t total = 0;
  int64_t free = 0;
  if (writeErrno == ENOSPC || writeErrno == EDQUOT ||
      (disk_->Measure(installPath_.c_str(), &total, &free) && free < kMinFreeToContinue)) {
    return Fail("the disk is full", "diskfull");
  }
  // Files that came out wrong from verified volumes: nothing staged so far
  // is worth continuing.
  stagingSound_ = false;
  Fail("files of " + volume + " could not be unpacked", nullptr);
}
