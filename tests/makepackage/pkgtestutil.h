// Helpers shared by the package tests: building streams record by record,
// unpacking a stream in pushes of a given size, and reading a tree back.
#pragma once

#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kwtest/tempdir.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwunzippackage.h"

namespace pkgtest {

inline std::string Record(int32_t type, const std::string& payload) {
  uint8_t head[8];
  kwpkg::PutU32(head, static_cast<uint32_t>(type));
  kwpkg::PutU32(head + 4, static_cast<uint32_t>(payload.size()));
  return std::string(reinterpret_cast<char*>(head), 8) + payload;
}

// A raw 528-byte descriptor; the name is copied as given (hostile names too).
inline std::string Descriptor(const std::string& name, int64_t mtimeMs, int64_t size) {
  std::string d(kwpkg::kDescriptorSize, '\0');
  std::memcpy(&d[0], name.data(), std::min<size_t>(name.size(), kwpkg::kNameSize));
  kwpkg::PutI64(reinterpret_cast<uint8_t*>(&d[kwpkg::kNameSize]), mtimeMs);
  kwpkg::PutI64(reinterpret_cast<uint8_t*>(&d[kwpkg::kNameSize + 8]), size);
  return d;
}

inline std::string Deflate(const std::string& data) {
  uLongf n = compressBound(data.size());
  std::string out(n, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(data.data()),
            data.size(), 9);
  out.resize(n);
  return out;
}

// One whole file as records: begin, one data record per 3,200,000 bytes, end.
inline std::string FileRecords(const std::string& name, const std::string& content,
                               int64_t mtimeMs = 1600000000123) {
  const std::string d = Descriptor(name, mtimeMs, static_cast<int64_t>(content.size()));
  std::string s = Record(1, d);
  for (size_t at = 0; at < content.size(); at += kwpkg::kChunkSize)
    s += Record(2, Deflate(content.substr(at, kwpkg::kChunkSize)));
  return s + Record(3, d);
}

// Deterministic bytes; `entropy` 256 gives incompressible data.
inline std::string Bytes(size_t n, uint32_t seed, int entropy = 256) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>('a' + (x >> 24) % entropy);
  }
  return s;
}

// Large test content that deflates quickly at level 9: runs of one byte, a
// different byte per 4 KiB block, so a misplaced chunk still shows.
inline std::string Blocks(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 7;
  for (size_t i = 0; i < n; i += 4096) {
    x = x * 1664525u + 1013904223u;
    std::memset(&s[i], static_cast<int>(x >> 24), std::min<size_t>(4096, n - i));
  }
  return s;
}

struct Unpacked {
  std::vector<std::string> events;  // "code:text:total" per callback.
  int64_t total = 0;
  bool failed = false;
  std::string error;
  int64_t errorOffset = -1;
  int32_t badFiles = 0;
  int32_t pending = 0;
};

inline int OnEvent(void* ctx, int32_t code, const char* text, int64_t total) {
  static_cast<Unpacked*>(ctx)->events.push_back(std::to_string(code) + ":" + text + ":" +
                                                std::to_string(total));
  return 0;
}

// Pushes `stream` in pieces of `step` bytes (0: whole) into a fresh unpacker
// that inflates on `threads` threads with the inflater `kind`.
inline Unpacked Unpack(const std::string& stream, const std::string& target, size_t step,
                       int threads = 1, KwInflaterKind kind = KwInflaterKind::kLibdeflate) {
  Unpacked u;
  CKWUnzipPackage unzip;
  unzip.SetInflater(kind);
  unzip.SetThreads(threads);
  unzip.SetTargetFolder(target.c_str());
  unzip.SetCallback(&OnEvent, &u);
  if (step == 0) step = stream.size() + 1;
  for (size_t at = 0; at < stream.size(); at += step)
    unzip.PutBuffer(stream.data() + at, static_cast<int32_t>(std::min(step, stream.size() - at)));
  unzip.Finish();
  u.total = unzip.Total();
  u.failed = unzip.Failed();
  u.error = unzip.ErrorText();
  u.errorOffset = unzip.ErrorOffset();
  u.badFiles = unzip.BadFiles();
  u.pending = unzip.Pending();
  return u;
}

// Every regular file below `root`: relative name -> content; folders as "name/".
inline std::map<std::string, std::string> ReadTree(const std::string& root) {
  std::map<std::string, std::string> out;
  namespace fs = std::filesystem;
  if (!fs::exists(root)) return out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = e.path().string().substr(root.size());
    if (e.is_symlink()) {
      out[rel] = "<link>";
    } else if (e.is_directory()) {
      out[rel + "/"] = "";
    } else {
      out[rel] = kwtest::ReadFile(e.path().string());
    }
  }
  return out;
}

inline int64_t MtimeMs(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

}  // namespace pkgtest
