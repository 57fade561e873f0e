#include "tool/makepackage/kwpkgformat.h"

#include <cstdio>
#include <cstring>

namespace kwpkg {

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutI64(uint8_t* p, int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

int64_t GetI64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

void EncodeVolumeHeader(uint8_t out[kVolumeHeaderSize], uint32_t number) {
  std::memset(out, 0, kVolumeHeaderSize);
  PutU32(out, kMagic);
  PutU32(out + 4, kFormatVersion);
  PutU32(out + 8, number);
}

bool HasVolumeMagic(const uint8_t* header, size_t size) {
  return size >= 4 && GetU32(header) == kMagic;
}

bool MakeDescriptor(FileDescriptor* out, const char* name, int64_t mtimeMs, int64_t size) {
  std::memset(out, 0, sizeof(*out));
  const size_t len = std::strlen(name);
  if (len > static_cast<size_t>(kMaxNameLength)) return false;
  std::memcpy(out->name, name, len);
  out->mtimeMs = mtimeMs;
  out->size = size;
  return true;
}

void EncodeDescriptor(uint8_t out[kDescriptorSize], const FileDescriptor& d) {
  std::memset(out, 0, kDescriptorSize);
  // Only the bytes up to the NUL are copied; the filler stays zero.
  std::memcpy(out, d.name, strnlen(d.name, kNameSize - 1));
  PutI64(out + kNameSize, d.mtimeMs);
  PutI64(out + kNameSize + 8, d.size);
}

void DecodeDescriptor(const uint8_t in[kDescriptorSize], FileDescriptor* d, bool* nameTerminated) {
  std::memcpy(d->name, in, kNameSize);
  *nameTerminated = std::memchr(in, 0, kNameSize) != nullptr;
  d->name[kNameSize - 1] = 0;
  d->mtimeMs = GetI64(in + kNameSize);
  d->size = GetI64(in + kNameSize + 8);
}

// 100 ns ticks between 1601-01-01 and 1970-01-01.
static constexpr int64_t kEpochGapTicks = 116444736000000000LL;

// The conversions are the format's rule (ticks / 10^7 - 11,644,473,600 s,
// times 1,000, truncated toward zero; and back) computed in integers: the
// double-precision form loses a few ticks near today's dates, which made a
// time that lies exactly on a millisecond read back one millisecond early.
// Values a hostile descriptor may carry saturate instead of overflowing.
int64_t FileTimeToPkgMs(int64_t fileTime) {
  if (fileTime < INT64_MIN + kEpochGapTicks) return INT64_MIN / 10000;
  return (fileTime - kEpochGapTicks) / 10000;
}

int64_t PkgMsToFileTime(int64_t ms) {
  const int64_t limit = (INT64_MAX - kEpochGapTicks) / 10000;
  if (ms > limit) return INT64_MAX;
  if (ms < -limit) return INT64_MIN + kEpochGapTicks;
  return ms * 10000 + kEpochGapTicks;
}

int64_t UnixToFileTime(int64_t sec, int64_t nsec) {
  return sec * 10000000 + nsec / 100 + kEpochGapTicks;
}

void FileTimeToUnix(int64_t fileTime, int64_t* sec, int64_t* nsec) {
  // Saturated values from hostile input must not overflow the subtraction.
  const int64_t ticks =
      fileTime < INT64_MIN + kEpochGapTicks ? INT64_MIN / 2 : fileTime - kEpochGapTicks;
  int64_t s = ticks / 10000000;
  int64_t r = ticks % 10000000;
  if (r < 0) {
    r += 10000000;
    s -= 1;
  }
  *sec = s;
  *nsec = r * 100;
}

static bool Refuse(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

bool IsSafeStoredName(const char* name, std::string* why) {
  const size_t len = strnlen(name, kNameSize);
  if (len == 0) return Refuse(why, "empty name");
  if (len > static_cast<size_t>(kMaxNameLength)) return Refuse(why, "name too long");
  if (name[0] != '/') return Refuse(why, "name does not begin with /");
  size_t start = 1;
  for (size_t i = 1; i <= len; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (i < len && c < 0x20) return Refuse(why, "control byte in name");
    if (i < len && c == '\\') return Refuse(why, "backslash in name");
    if (i == len || c == '/') {
      const size_t n = i - start;
      if (n == 0) return Refuse(why, "empty folder name");
      if (n == 1 && name[start] == '.') return Refuse(why, "'.' in name");
      if (n == 2 && name[start] == '.' && name[start + 1] == '.')
        return Refuse(why, "'..' in name");
      start = i + 1;
    }
  }
  return true;
}

std::string VolumePath(const std::string& dir, const std::string& name, int number,
                       const char* extension) {
  char num[16];
  std::snprintf(num, sizeof(num), "%03d", number);
  return dir + "/" + name + "_" + num + "." + extension;
}

}  // namespace kwpkg
