// kwpkgbench: in-process measurements for the package benchmark script.
//
//   kwpkgbench checksum FILE...   volume checksum of each file (vectorised and
//                                 the plain byte loop), in MB/s, from the page cache
//   kwpkgbench corpus DIR MB      writes a mixed corpus of about MB megabytes
//
// Figures are printed as "name seconds bytes" lines for the script to turn
// into ratios against the peer tools measured in the same run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tool/makepackage/kwpkgchecksum.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The plain loop the vectorised sum replaced, kept here as a reference point.
std::string NaiveChecksumOfFile(const char* path) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0) return std::string();
  std::vector<uint8_t> buf(256 * 1024);
  uint8_t acc[8] = {};
  uint64_t off = 0;
  ssize_t n;
  while ((n = ::read(fd, buf.data(), buf.size())) > 0) {
    for (ssize_t i = 0; i < n; ++i) acc[(off + i) & 7] += buf[i];
    off += n;
  }
  ::close(fd);
  char out[17];
  for (int i = 0; i < 8; ++i) std::snprintf(out + 2 * i, 3, "%02X", acc[i]);
  return out;
}

int Checksum(int argc, char** argv) {
  int64_t bytes = 0;
  for (int i = 0; i < argc; ++i) {
    struct stat st;
    if (::stat(argv[i], &st) == 0) bytes += st.st_size;
  }
  for (int round = 0; round < 2; ++round) {  // The first round warms the cache.
    double t = Now();
    std::string last;
    for (int i = 0; i < argc; ++i) last = KwVolumeChecksumOfFile(argv[i]);
    const double fast = Now() - t;
    t = Now();
    std::string naive;
    for (int i = 0; i < argc; ++i) naive = NaiveChecksumOfFile(argv[i]);
    const double slow = Now() - t;
    if (last != naive) {
      std::fprintf(stderr, "checksum mismatch: %s vs %s\n", last.c_str(), naive.c_str());
      return 1;
    }
    if (round == 1) {
      std::printf("checksum_sse2 %.4f %lld\n", fast, static_cast<long long>(bytes));
      std::printf("checksum_naive %.4f %lld\n", slow, static_cast<long long>(bytes));
    }
  }
  return 0;
}

// Mixed corpus: word text in many small and medium files, log-like lines,
// incompressible blobs, and copies of the system's own binaries.
int Corpus(const char* dir, long mb) {
  namespace fs = std::filesystem;
  const int64_t target = static_cast<int64_t>(mb) * 1000 * 1000;
  int64_t made = 0;
  uint64_t x = 88172645463325252ull;
  auto rnd = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  static const char* kWords[] = {"install", "package", "volume", "tarnwick", "checksum", "the",
                                 "a",       "of",      "folder", "file",     "chunk",    "record",
                                 "stream",  "window",  "server", "thread",   "zlib",     "level",
                                 "time",    "size",    "\n",     "\n",       ", ",       ". "};
  int n = 0;
  auto write = [&](const std::string& rel, const std::string& data) {
    const fs::path p = fs::path(dir) / rel;
    fs::create_directories(p.parent_path());
    FILE* f = std::fopen(p.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    made += static_cast<int64_t>(data.size());
  };
  // About a quarter: system binaries and libraries, as shipped products are.
  for (const char* root : {"/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib"}) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator() && made < target / 4; it.increment(ec)) {
      if (ec) break;
      if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
      const auto size = it->file_size(ec);
      if (ec || size < 4096 || size > 20000000) continue;
      std::string data(size, '\0');
      FILE* f = std::fopen(it->path().c_str(), "rb");
      if (f == nullptr) continue;
      const size_t got = std::fread(&data[0], 1, size, f);
      std::fclose(f);
      data.resize(got);
      write("bin/" + std::to_string(n++) + "_" + it->path().filename().string(), data);
    }
  }
  while (made < target) {
    const uint64_t kind = rnd() % 10;
    std::string data;
    if (kind < 6) {  // Text of assorted sizes, from a few KB to a few MB.
      const size_t size = 2000 + rnd() % (kind == 0 ? 6000000 : 200000);
      while (data.size() < size)
        data += kWords[rnd() % (sizeof(kWords) / sizeof(*kWords))], data += ' ';
      write("doc/" + std::to_string(n % 37) + "/t" + std::to_string(n) + ".txt", data);
    } else if (kind < 9) {  // Log-like lines with numbers.
      char line[128];
      const size_t size = 10000 + rnd() % 1500000;
      while (data.size() < size) {
        std::snprintf(line, sizeof(line), "2026-12-08 18:%02d:%02d.%03d worker %d bytes=%llu\n",
                      static_cast<int>(rnd() % 60), static_cast<int>(rnd() % 60),
                      static_cast<int>(rnd() % 1000), static_cast<int>(rnd() % 8),
                      static_cast<unsigned long long>(rnd() % 100000000));
        data += line;
      }
      write("log/l" + std::to_string(n) + ".log", data);
    } else {  // Already-compressed media.
      data.resize(100000 + rnd() % 4000000);
      for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        const uint64_t r = rnd();
        std::memcpy(&data[i], &r, 8);
      }
      write("media/m" + std::to_string(n) + ".bin", data);
    }
    ++n;
  }
  std::printf("corpus %d files %lld bytes\n", n, static_cast<long long>(made));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "checksum") == 0) return Checksum(argc - 2, argv + 2);
  if (argc == 4 && std::strcmp(argv[1], "corpus") == 0) return Corpus(argv[2], std::atol(argv[3]));
  std::fprintf(stderr, "usage: kwpkgbench checksum FILE... | corpus DIR MB\n");
  return 2;
}
