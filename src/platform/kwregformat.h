// The text form of one key-store hive: parsing and writing the ".reg"
// export format.  Pure functions on memory; the file handling is in
// kwregistry.cpp.
#pragma once

#include <map>
#include <string>
#include <vector>

struct KwRegValueData {
  std::string name;  // "" is the unnamed value, written as "@".
  std::string value;
};

struct KwRegKeyData {
  std::string path;  // As first created, e.g. "SOFTWARE\kws\Tarnwick"; "" is the root.
  std::vector<KwRegValueData> values;
};

// One hive.  `keys` is keyed by the lower-cased path, so a key's subkeys
// follow it in order; every key's parents are present too.
struct KwRegDocument {
  std::map<std::string, KwRegKeyData> keys;
  // Lines that could not be understood, in file order, each with its "\n".
  std::string unparsed;
  int unparsedLines = 0;
};

// Lower-cases ASCII letters only, as key paths and names compare.
std::string KwRegLower(const std::string& text);

// Cuts leading and trailing "\" from a key path; false for an empty path
// component ("a\\b") or a control character.
bool KwRegNormalizePath(const char* path, std::string* out);

// Adds `path` and all its parents that are missing; returns the key.
KwRegKeyData& KwRegEnsureKey(KwRegDocument* doc, const std::string& path);

// Parses the text of a hive fed in pieces of any size; the result does not
// depend on how the text was split.
class KwRegParser {
 public:
  KwRegParser();
  void Feed(const char* data, size_t length);
  // Parses what is left (a last line without a line end) and returns the
  // document.
  KwRegDocument Finish();

 private:
  void ParseLine(std::string line);
  KwRegDocument doc_;
  std::string pending_;
  std::string currentKey_;  // Lower-cased path of the current section.
  bool inSection_ = false;
  bool firstLine_ = true;
};

KwRegDocument KwRegParse(const std::string& text);

// The hive's text: a header line, then each key as "[path]" followed by its
// values and an empty line.  The root key is written only when it holds
// values.
std::string KwRegSerialize(const KwRegDocument& doc);

// Escapes/unescapes the inside of a quoted string.
std::string KwRegEscape(const std::string& text);
// Reads a quoted string starting at text[*pos] == '"'; moves *pos past the
// closing quote.  False when it is not a complete quoted string.
bool KwRegReadQuoted(const std::string& text, size_t* pos, std::string* out);
