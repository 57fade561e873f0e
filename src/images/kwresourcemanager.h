// CKwResourceManager: an index of picture files beside the executable.
//
// Start-up builds it from the folders "resource/images" and "servericon"
// under the executable's folder.  No window of the installer reads pictures
// from it; it exists for the product family's other windows.  Owned by the
// common application data; built once, read-only afterwards.
#pragma once

#include <map>
#include <string>

class CKwResourceManager {
 public:
  // Adds every file ending in ".png" or ".jpg" (lower case) found under
  // `folder`, recursively, skipping names that start with "."; a name
  // already indexed keeps its first path.  A missing folder adds nothing.
  // Returns how many files were added.
  int AddFolder(const std::string& folder);
  // Indexes "resource/images" and "servericon" under `exeDir`.
  int Build(const std::string& exeDir);

  // The path recorded for a file name, or an empty string.
  std::string Find(const std::string& name) const;
  size_t Count() const { return files_.size(); }

 private:
  std::map<std::string, std::string> files_;
};
