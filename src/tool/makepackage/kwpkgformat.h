// The package volume format shared by the maker, the unpacker, the install
// engine and the reference server: byte layout constants, the 24-byte volume
// header, the 528-byte file descriptor, the time conversion and the rule for
// which stored names may be unpacked.  Plain functions over caller buffers;
// nothing here owns memory or touches files.
//
// All integers are little-endian.  A volume is a 24-byte header followed by
// records: an 8-byte record header (type, payload length, both signed 32-bit)
// and the payload.  A file is one begin record (descriptor), its data records
// (one zlib stream per 3,200,000-byte piece) and one end record (the same
// descriptor).  The package stream is every volume after its header, in
// volume-number order; records never straddle two volumes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Progress callback of the package tools: (context, code, text, running total).
// Its return value is ignored.  Maker codes are 0 to 3, unpacker codes are
// 101 to 103.
typedef int (*KwPkgCallback)(void* context, int32_t code, const char* text, int64_t total);

namespace kwpkg {

inline constexpr uint32_t kMagic = 0x4B50574Bu;  // "KWPK" read as little-endian.
inline constexpr uint32_t kFormatVersion = 1;
inline constexpr int kVolumeHeaderSize = 24;
inline constexpr int kRecordHeaderSize = 8;

inline constexpr int32_t kRecordBegin = 1;
inline constexpr int32_t kRecordData = 2;
inline constexpr int32_t kRecordEnd = 3;

inline constexpr int kNameSize = 512;  // Name area: at most 511 bytes and a NUL.
inline constexpr int kMaxNameLength = kNameSize - 1;
inline constexpr int kDescriptorSize = 528;

inline constexpr int32_t kChunkSize = 3200000;           // Uncompressed piece.
inline constexpr int32_t kMaxCompressedChunk = 4200000;  // Largest data payload.
inline constexpr int32_t kMaxRecordSize = kRecordHeaderSize + kMaxCompressedChunk;
inline constexpr int kZlibLevel = 9;

inline constexpr int64_t kVolumeThreshold = 1000000000;  // Chunk payload per volume.
inline constexpr int kMaxVolumes = 256;

// The marker that puts one volume behind an installer executable: eight bytes
// 0x01, eight 0x02, eight 0x03, then an 8-byte NUL-padded version name.
inline constexpr int kBundleMarkerSize = 32;
inline constexpr int kBundleVersionSize = 8;

// Little-endian accessors; the format never depends on the host's byte order.
void PutU32(uint8_t* p, uint32_t v);
void PutI64(uint8_t* p, int64_t v);
uint32_t GetU32(const uint8_t* p);
int64_t GetI64(const uint8_t* p);

// Fills the 24-byte header of volume `number`.
void EncodeVolumeHeader(uint8_t out[kVolumeHeaderSize], uint32_t number);
// True when the first four bytes carry the magic; the only check readers make.
bool HasVolumeMagic(const uint8_t* header, size_t size);

// One file descriptor as carried by the begin and end records.
struct FileDescriptor {
  char name[kNameSize];  // NUL-terminated stored name, begins with "/".
  int64_t mtimeMs;       // Milliseconds since 1970-01-01 UTC.
  int64_t size;          // Bytes before compression.
};

// Builds a descriptor; returns false (and leaves `out` zeroed) when `name` is
// longer than 511 bytes, so a long name is refused rather than cut.
bool MakeDescriptor(FileDescriptor* out, const char* name, int64_t mtimeMs, int64_t size);
void EncodeDescriptor(uint8_t out[kDescriptorSize], const FileDescriptor& d);
// Decodes 528 bytes.  `nameTerminated` tells whether the name area holds a NUL;
// when it does not, `name` is still terminated at its last byte.
void DecodeDescriptor(const uint8_t in[kDescriptorSize], FileDescriptor* d, bool* nameTerminated);

// Times.  The stored value is milliseconds since 1970 derived from a
// Windows-style file time (100 ns ticks since 1601), truncated toward zero,
// so a time written on either platform reads back the same.
int64_t FileTimeToPkgMs(int64_t fileTime);
int64_t PkgMsToFileTime(int64_t ms);
int64_t UnixToFileTime(int64_t sec, int64_t nsec);
void FileTimeToUnix(int64_t fileTime, int64_t* sec, int64_t* nsec);

// Checks a stored name before it is joined to a target folder.  A safe name
// begins with "/", has no empty, "." or ".." component, no backslash and no
// control byte, and is at most 511 bytes.  On refusal `why` (may be null)
// receives a short English reason for the log.
bool IsSafeStoredName(const char* name, std::string* why);

// "%s/%s_%03d.kwk": the path of volume `number` of package `name` in `dir`.
std::string VolumePath(const std::string& dir, const std::string& name, int number,
                       const char* extension = "kwk");

}  // namespace kwpkg
