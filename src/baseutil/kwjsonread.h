// Reading JSON that comes from outside the process: server answers,
// release.json, list.json.  Every such read goes through KwReadJson, which
// refuses documents that are too large or nested too deeply before the JSON
// library sees them and catches whatever the library throws, so a damaged
// file or a hostile server yields a result code and a reason, never an
// abort.  The member readers below never throw either: a member of the
// wrong kind reads as absent.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Deeper than any document the installer and its tools exchange (they nest
// four levels); the JSON library's own limit is far deeper and it throws.
inline constexpr int kKwJsonMaxDepth = 64;
// Larger than any release file or answer of a real package.
inline constexpr size_t kKwJsonMaxSize = 16u * 1024 * 1024;

enum : int32_t {
  kKwJsonOk = 0,
  kKwJsonMalformed = -1,  // not one JSON document, or not UTF-8
  kKwJsonTooDeep = -2,    // arrays and objects nested deeper than kKwJsonMaxDepth
  kKwJsonTooLarge = -3,   // more than the size limit
  kKwJsonNoFile = -4,     // KwReadJsonFile only: the file cannot be opened
};

// Parses `size` bytes at `data` as one JSON document into `root`.  0, or one
// of the codes above with a one-line reason in `error` (may be null); `root`
// is left null on failure.
int32_t KwReadJson(const char* data, size_t size, Json::Value* root, std::string* error,
                   size_t maxSize = kKwJsonMaxSize);
int32_t KwReadJson(const std::string& text, Json::Value* root, std::string* error);

// The same for a whole file; a file larger than the limit is refused before
// it is read.
int32_t KwReadJsonFile(const std::string& path, Json::Value* root, std::string* error,
                       size_t maxSize = kKwJsonMaxSize);

// The offset of the first byte that does not belong to well-formed UTF-8
// (no overlong forms, no surrogates, nothing past U+10FFFF); `size` when
// all do.
size_t KwFirstBadUtf8(const char* data, size_t size);

// The depth of the deepest array or object in `data` (0 for a scalar),
// counting only brackets outside strings; stops counting at `limit` + 1.
int KwJsonDepth(const char* data, size_t size, int limit);

// An integer from a JSON number or from a text holding a decimal number
// (optional sign, nothing else).  False when absent or not such a value.
bool KwJsonInt(const Json::Value& object, const char* member, int64_t* out);

// A text unchanged, or a number in decimal.  False when absent or of
// another kind (object, array, boolean, null).
bool KwJsonText(const Json::Value& object, const char* member, std::string* out);

// The member as KwJsonText reads it, or "" when it cannot.
std::string KwJsonTextOr(const Json::Value& object, const char* member);

// A whole number the way the package files store lengths: a JSON integer,
// or the leading decimal number of a text; 0 for anything else, including
// numbers outside the signed 64-bit range.
int64_t KwJsonLength(const Json::Value& value);
