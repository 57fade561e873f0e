#include "kwpanel/kwbundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "baseutil/ikwlog.h"

namespace {

constexpr size_t kPiece = 8192;

// Copies the whole of `in` to `out`; false on a read or write error.
bool CopyAll(FILE* in, FILE* out) {
  char piece[kPiece];
  for (;;) {
    size_t n = std::fread(piece, 1, sizeof(piece), in);
    if (n > 0 && std::fwrite(piece, 1, n, out) != n) return false;
    if (n < sizeof(piece)) return std::ferror(in) == 0;
  }
}

bool SameFile(const char* a, FILE* b) {
  struct stat sa;
  struct stat sb;
  return ::stat(a, &sa) == 0 && ::fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

int32_t KwRunBundleStep(const char* installerPath, const char* volumePath, const char* outputPath) {
  if (installerPath == nullptr || volumePath == nullptr || outputPath == nullptr) return -1;
  FILE* installer = std::fopen(installerPath, "rb");
  FILE* volume = installer != nullptr ? std::fopen(volumePath, "rb") : nullptr;
  if (installer == nullptr || volume == nullptr) {
    KW_LOG(4, "CkwpanelApp::Bundle", "cannot open %s",
           installer == nullptr ? installerPath : volumePath);
    if (installer != nullptr) std::fclose(installer);
    return -1;
  }
  // Creating the output over one of the inputs would empty it before it is
  // read.
  if (SameFile(outputPath, installer) || SameFile(outputPath, volume)) {
    std::fclose(installer);
    std::fclose(volume);
    return -2;
  }
  FILE* output = std::fopen(outputPath, "wb");
  if (output == nullptr) {
    std::fclose(installer);
    std::fclose(volume);
    return -2;
  }
  unsigned char marker[32];
  std::memset(marker, 0x01, 8);
  std::memset(marker + 8, 0x02, 8);
  std::memset(marker + 16, 0x03, 8);
  std::memcpy(marker + 24, "v201", 4);
  std::memset(marker + 28, 0x00, 4);
  // The installer comes first so the result still runs; the marker sits
  // directly in front of the volume, where the installer looks for it.
  bool ok = CopyAll(installer, output);
  ok = ok && std::fwrite(marker, 1, sizeof(marker), output) == sizeof(marker);
  ok = ok && CopyAll(volume, output);
  std::fclose(installer);
  std::fclose(volume);
  if (std::fclose(output) != 0) ok = false;
  if (!ok) {
    ::unlink(outputPath);
    return -3;
  }
  // The installer's own mode (executable bits) carries over to the bundle.
  struct stat st;
  if (::stat(installerPath, &st) == 0) ::chmod(outputPath, st.st_mode & 0777);
  return 0;
}
