// The install phase of the install engine: the volumes are read in order
// from their source and pushed through the unpacker into a staging folder;
// a complete, undamaged package is then moved into place as the version
// folder, and only then registered.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "MsgBox/desktop/kwinstalledversions.h"
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

void CKWInstallEngine::Impl::InstallPhase(bool downloaded) {
  std::unique_ptr<KwVolumeSource> source;
  bool embedded = false;
  if (downloaded) {
    // Exactly the volumes that verified: a leftover volume of an older,
    // longer package in the same folder must not be unpacked after them.
    source = KwMakeFileListSource(downloaded_, version_);
  } else if (packageSource_ == "^") {
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

  KwStaging staging;
  const int begun = staging.Begin(installPath_, version_);
  if (begun != 0) {
    if (begun == -ENOSPC || begun == -EDQUOT) return Fail("the disk is full", "diskfull");
    return Fail("the staging folder cannot be created in " + installPath_, "invalidpath2");
  }
  const bool unpacked = UnpackInto(*source, staging.folder());
  if (!unpacked || !active_) return staging.Abandon();

  const int committed = staging.Commit();
  if (committed != 0) {
    staging.Abandon();
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
  in.versionText = g_versionText;
  KwRunFinishingSteps(in);
  g_installStage = 0;
}

bool CKWInstallEngine::Impl::UnpackInto(KwVolumeSource& source, const std::string& folder) {
  CKWUnzipPackage unpacker;
  char ownerText[512] = {};
  unpacker.SetTargetFolder(folder.c_str());
  unpacker.SetOwnerText(ownerText);
  unpacker.SetCallback(&Impl::OnUnpacked, this);

  const auto& volumes = source.volumes();
  std::unique_ptr<char[]> buffer(new char[kInstallChunk]);
  KwStreamDigest digest;
  for (size_t i = 0; i < volumes.size() && active_; ++i) {
    volumeIndex_ = static_cast<int>(i);
    const KwSourceVolume& v = volumes[i];
    if (v.skip) {
      // Its bytes are not read, so a listing cannot vouch for them.
      if (v.checkListed) {
        Fail("volume was not read and cannot be checked: " + v.name, nullptr);
        return false;
      }
      doneBytes_ += v.length;
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
    digest.Update(reinterpret_cast<const char*>(header), sizeof(header));
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
    doneBytes_ += offset;
    while (offset < v.length && active_) {
      int32_t want = static_cast<int32_t>(std::min<int64_t>(v.length - offset, kInstallChunk));
      int32_t n = source.Read(i, offset, want, buffer.get());
      if (n != want) {
        Fail("volume cannot be read: " + v.name, nullptr);
        return false;
      }
      digest.Update(buffer.get(), n);
      doneBytes_ += n;
      Repaint();
      if (unpacker.PutBuffer(buffer.get(), n) != 0) {
        FailUnpacked(v.name + ": " + unpacker.ErrorText());
        return false;
      }
      if (unpacker.BadFiles() > 0) {
        FailUnpacked(v.name);
        return false;
      }
      offset += n;
    }
    if (!active_) return false;
    std::string mismatch;
    if (v.checkListed && !digest.Matches(v.entry, &mismatch)) {
      Fail("volume does not match its listing: " + v.name + " (" + mismatch + ")", nullptr);
      return false;
    }
  }
  if (!active_) return false;
  if (unpacker.Finish() != 0 || unpacker.BadFiles() > 0) {
    FailUnpacked(volumes.empty() ? std::string("the package") : volumes.back().name);
    return false;
  }
  if (unpacker.InsideFile() || unpacker.Pending() != 0) {
    Fail("the package ends inside a file", nullptr);
    return false;
  }
  return true;
}

void CKWInstallEngine::Impl::FailUnpacked(const std::string& volume) {
  int64_t total = 0;
  int64_t free = 0;
  if (disk_->Measure(installPath_.c_str(), &total, &free) && free < kMinFreeToContinue) {
    return Fail("the disk is full", "diskfull");
  }
  Fail("files of " + volume + " could not be unpacked", nullptr);
}
