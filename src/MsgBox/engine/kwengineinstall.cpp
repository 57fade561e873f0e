// The install phase of the install engine: the volumes are read in order
// from their source and pushed through the unpacker into the version folder;
// a complete, undamaged package then gets the finishing steps.
#include <algorithm>
#include <cstdio>

#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwenginesource.h"
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

  CKWUnzipPackage unpacker;
  char ownerText[512] = {};
  unpacker.SetTargetFolder(destination_.c_str());
  unpacker.SetOwnerText(ownerText);
  unpacker.SetCallback(&Impl::OnUnpacked, this);

  std::unique_ptr<char[]> buffer(new char[kInstallChunk]);
  for (size_t i = 0; i < volumes.size() && active_; ++i) {
    volumeIndex_ = static_cast<int>(i);
    const KwSourceVolume& v = volumes[i];
    if (v.skip) {
      doneBytes_ += v.length;
      continue;
    }
    uint8_t header[kwpkg::kVolumeHeaderSize];
    if (source->Read(i, 0, sizeof(header), reinterpret_cast<char*>(header)) != sizeof(header)) {
      return Fail("volume cannot be read: " + v.name, nullptr);
    }
    if (!kwpkg::HasVolumeMagic(header, sizeof(header))) {
      return Fail("not a package volume: " + v.name, nullptr);
    }
    int64_t offset = v.startOffset;
    doneBytes_ += offset;
    while (offset < v.length && active_) {
      int32_t want = static_cast<int32_t>(std::min<int64_t>(v.length - offset, kInstallChunk));
      int32_t n = source->Read(i, offset, want, buffer.get());
      if (n != want) return Fail("volume cannot be read: " + v.name, nullptr);
      doneBytes_ += n;
      Repaint();
      if (unpacker.PutBuffer(buffer.get(), n) != 0) {
        return Fail("volume cannot be unpacked: " + v.name + ": " + unpacker.ErrorText(), nullptr);
      }
      if (unpacker.BadFiles() > 0) return FailUnpacked(unpacker, v.name);
      offset += n;
    }
  }
  if (!active_) return;
  if (unpacker.BadFiles() > 0) return FailUnpacked(unpacker, volumes.back().name);
  if (unpacker.InsideFile() || unpacker.Pending() != 0) {
    return Fail("the package ends inside a file", nullptr);
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

void CKWInstallEngine::Impl::FailUnpacked(const CKWUnzipPackage& unpacker,
                                          const std::string& volume) {
  (void)unpacker;
  int64_t total = 0;
  int64_t free = 0;
  if (disk_->Measure(installPath_.c_str(), &total, &free) && free < kMinFreeToContinue) {
    return Fail("the disk is full", "diskfull");
  }
  Fail("files of " + volume + " could not be unpacked", nullptr);
}
