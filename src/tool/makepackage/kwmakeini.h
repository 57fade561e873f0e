// make.ini: the folders and the package name the make-package window and
// dialog remember between runs, in "%s/make.ini" of the executable's folder.
//
//   [FROM] FROMPATH   source folder
//   [TO]   TOPATH     output folder
//   [EXEC] PACKAGE    package name (NAME and FILE are read and not used)
//
// Values come back cut to 499 bytes, at a character boundary, as the
// 500-byte buffers they were always read into allow; a missing or unreadable
// file gives empty values.  Owned by nobody: every call reads or writes the
// file afresh.
#pragma once

#include <string>

inline constexpr int kKwMakeIniValueSize = 500;

struct KwMakeSettings {
  std::string fromPath;
  std::string toPath;
  std::string package;
  std::string name;  // Read only.
  std::string file;  // Read only.
};

// "%s/make.ini" of `folder`.
std::string KwMakeIniPath(const std::string& folder);
// Reads every key of the file in `folder`.
KwMakeSettings KwReadMakeIni(const std::string& folder);
// Writes FROMPATH, TOPATH and PACKAGE, keeping everything else in the file.
// Returns false when the file could not be written.
bool KwWriteMakeIni(const std::string& folder, const KwMakeSettings& settings);
