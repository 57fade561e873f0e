// Shared pieces of the fuzz targets: a scratch folder per process for the
// readers that take files, a way to cut an input into pieces that depends
// only on the input (so a failure replays), and a check that stops the run
// with a message libFuzzer keeps beside the input.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace kwfuzz {

// Stops the run: libFuzzer (through the sanitizer's abort) saves the input.
#define KW_FUZZ_CHECK(cond)                                                         \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  return ::remove(path);
}

// Removes a folder tree (or a file); missing is fine.
inline void RemoveTree(const std::string& path) {
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// A folder of this process under /dev/shm (memory) or the temporary folder;
// removed when the process ends normally.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr;
    if (base == nullptr) base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string tmpl = std::string(base) + "/kwfuzz-XXXXXX";
    if (::mkdtemp(&tmpl[0]) == nullptr) std::abort();
    std::atexit([] { RemoveTree(ScratchDir()); });
    return tmpl;
  }();
  return dir;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Piece lengths that cover `size` bytes, drawn from a hash of the input:
// mostly short pieces (1, 2, 3, 7 bytes) with longer ones between, so
// boundaries fall inside every field of a record.
inline std::vector<size_t> Pieces(const uint8_t* data, size_t size) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  static const size_t kLengths[] = {1, 2, 3, 7, 71, 1, 5, 4096};
  std::vector<size_t> out;
  for (size_t done = 0; done < size;) {
    h = h * 6364136223846793005ull + 1442695040888963407ull;
    size_t n = kLengths[(h >> 33) % 8];
    if (n > size - done) n = size - done;
    out.push_back(n);
    done += n;
  }
  return out;
}

}  // namespace kwfuzz
