#include "tool/makepackage/kwpkgbundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/kwtempfile.h"
#include "tool/makepackage/kwpkgformat.h"

namespace {

constexpr size_t kPiece = 8192;

int32_t Refuse(std::string* why, int32_t code, const std::string& text) {
  if (why != nullptr) *why = text;
  return code;
}

// Reads exactly `n` bytes; false at the end of the file or on an error.
bool ReadExactly(FILE* f, void* dest, size_t n) {
  return std::fread(dest, 1, n, f) == n;
}

// Copies the whole of `in` to `out` in 8192-byte pieces.
bool CopyAll(FILE* in, FILE* out) {
  char piece[kPiece];
  for (;;) {
    const size_t n = std::fread(piece, 1, sizeof(piece), in);
    if (n > 0 && std::fwrite(piece, 1, n, out) != n) return false;
    if (n < sizeof(piece)) return std::ferror(in) == 0;
  }
}

bool SameFile(const char* path, FILE* open) {
  struct stat a;
  struct stat b;
  return ::stat(path, &a) == 0 && ::fstat(fileno(open), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace

bool KwIsWholePackageVolume(const char* path, std::string* why) {
  auto no = [why](const std::string& text) {
    if (why != nullptr) *why = text;
    return false;
  };
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return no(std::string("cannot open ") + path + ": " + std::strerror(errno));
  struct stat st;
  const int64_t size = ::fstat(fileno(f), &st) == 0 ? st.st_size : -1;
  uint8_t head[kwpkg::kVolumeHeaderSize];
  if (!ReadExactly(f, head, sizeof(head)) || !kwpkg::HasVolumeMagic(head, sizeof(head))) {
    std::fclose(f);
    return no(std::string(path) + " is not a package volume");
  }
  if (kwpkg::GetU32(head + 8) != 0) {
    std::fclose(f);
    return no(std::string(path) + " is volume " + std::to_string(kwpkg::GetU32(head + 8)) +
              " of its package, not its first");
  }
  int64_t at = kwpkg::kVolumeHeaderSize;
  bool inside = false;
  std::string problem;
  while (at < size) {
    uint8_t rec[kwpkg::kRecordHeaderSize];
    if (size - at < kwpkg::kRecordHeaderSize || !ReadExactly(f, rec, sizeof(rec))) {
      problem = "ends inside a record header";
      break;
    }
    const int32_t type = static_cast<int32_t>(kwpkg::GetU32(rec));
    const int32_t length = static_cast<int32_t>(kwpkg::GetU32(rec + 4));
    const bool descriptor = type == kwpkg::kRecordBegin || type == kwpkg::kRecordEnd;
    if ((descriptor && length != kwpkg::kDescriptorSize) ||
        (type == kwpkg::kRecordData && (length < 0 || length > kwpkg::kMaxCompressedChunk)) ||
        (!descriptor && type != kwpkg::kRecordData)) {
      problem = "holds a damaged record at offset " + std::to_string(at);
      break;
    }
    // A volume other than the first of its package may open with the data
    // or the end of a file begun before it.
    if (type != kwpkg::kRecordBegin && !inside) {
      problem = "continues a file begun in an earlier volume";
      break;
    }
    if (type == kwpkg::kRecordBegin && inside) {
      problem = "holds a damaged record at offset " + std::to_string(at);
      break;
    }
    inside = type != kwpkg::kRecordEnd;
    at += kwpkg::kRecordHeaderSize + length;
    if (at > size || std::fseek(f, at, SEEK_SET) != 0) {
      problem = "ends inside a record";
      break;
    }
  }
  std::fclose(f);
  if (!problem.empty()) return no(std::string(path) + " " + problem);
  if (inside) {
    // The maker closes a full volume right after a data record, so the first
    // volume of a longer package always ends inside a file.
    return no(std::string(path) +
              " is the first of several volumes (its last file continues in the next); "
              "an installer file carries one volume: make the package with a larger volume size");
  }
  return true;
}

std::string KwVolumePackageName(const std::string& volumePath) {
  const size_t slash = volumePath.find_last_of("/\\");
  std::string name = slash == std::string::npos ? volumePath : volumePath.substr(slash + 1);
  const size_t under = name.rfind('_');
  if (under != std::string::npos) name.resize(under);
  return name;
}

int32_t KwBundlePackage(const char* installerPath, const char* volumePath, const char* outputPath,
                        const std::string& version, std::string* why) {
  if (installerPath == nullptr || volumePath == nullptr || outputPath == nullptr) {
    return Refuse(why, kKwBundleCannotOpen, "missing file name");
  }
  if (version.empty() || version.size() > static_cast<size_t>(kwpkg::kBundleVersionSize) ||
      version.find('\0') != std::string::npos) {
    return Refuse(why, kKwBundleBadVersion, "the version name must have 1 to 8 bytes: " + version);
  }
  FILE* installer = std::fopen(installerPath, "rb");
  if (installer == nullptr) {
    return Refuse(why, kKwBundleCannotOpen, std::string("cannot open ") + installerPath);
  }
  FILE* volume = std::fopen(volumePath, "rb");
  if (volume == nullptr) {
    std::fclose(installer);
    return Refuse(why, kKwBundleCannotOpen, std::string("cannot open ") + volumePath);
  }
  auto closeInputs = [&] {
    std::fclose(installer);
    std::fclose(volume);
  };
  std::string problem;
  if (!KwIsWholePackageVolume(volumePath, &problem)) {
    closeInputs();
    return Refuse(why, kKwBundleNotWhole, problem);
  }
  // Replacing one of the inputs would lose it.
  if (SameFile(outputPath, installer) || SameFile(outputPath, volume)) {
    closeInputs();
    return Refuse(why, kKwBundleCannotCreate,
                  std::string(outputPath) + " is one of the input files");
  }
  // A fresh name, made exclusively: a fixed one could be a planted link
  // that turns the bundle into a write of someone else's file.
  std::string part;
  const int partFd = KwCreateTempBeside(outputPath, &part);
  FILE* output = partFd >= 0 ? ::fdopen(partFd, "wb") : nullptr;
  if (output == nullptr) {
    if (partFd >= 0) {
      ::close(partFd);
      ::unlink(part.c_str());
    }
    closeInputs();
    return Refuse(why, kKwBundleCannotCreate, std::string("cannot create ") + outputPath);
  }
  unsigned char marker[kwpkg::kBundleMarkerSize] = {};
  std::memset(marker, 0x01, 8);
  std::memset(marker + 8, 0x02, 8);
  std::memset(marker + 16, 0x03, 8);
  std::memcpy(marker + 24, version.data(), version.size());
  // The installer comes first so the result still runs; the marker sits
  // directly in front of the volume, where the installer looks for it.
  bool ok = CopyAll(installer, output);
  ok = ok && std::fwrite(marker, 1, sizeof(marker), output) == sizeof(marker);
  ok = ok && CopyAll(volume, output);
  struct stat st;
  const mode_t installerMode = ::fstat(fileno(installer), &st) == 0 ? st.st_mode & 0777 : 0755;
  closeInputs();
  if (std::fclose(output) != 0) ok = false;
  // The result is a program: it gets the run bits whatever the installer
  // file had, within what the umask allows.
  ok = ok && ::chmod(part.c_str(), KwMaskedMode(installerMode | 0755)) == 0;
  if (!ok || std::rename(part.c_str(), outputPath) != 0) {
    ::unlink(part.c_str());
    return Refuse(why, kKwBundleWriteFailed, std::string("cannot write ") + outputPath);
  }
  return kKwBundleOk;
}
