// The name-keyed image registry of the common application data.
//
// Start-up registers the embedded caption pictures under their names before
// any window exists; afterwards windows only read it.  The registry owns
// copies of the bytes.  CIKWMain owns one registry and publishes it with
// SetCurrent so that the toolkit (the dialog frame) can reach it without
// depending on the application layer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CKwImageUtil;

class CKwImageRegistry {
 public:
  // Stores a copy under `name`.  A name already present keeps its first
  // bytes; null names, null bytes and counts below 1 are ignored.
  void RegisterImage(const char* name, const uint8_t* bytes, int count);
  // A new image decoded from the registered bytes, owned by the caller;
  // nullptr for an unknown name.  Decodes again on every call.
  CKwImageUtil* CreateImage(const char* name) const;

  bool Contains(const char* name) const;
  size_t Count() const { return images_.size(); }
  // Registers every embedded caption picture ("close.png", "min.png",
  // "max.png", "me.png").  Returns how many were found in the executable.
  int RegisterCaptionImages();

  // The registry the toolkit reads; nullptr when none is published.
  static CKwImageRegistry* Current();
  static void SetCurrent(CKwImageRegistry* registry);

 private:
  std::map<std::string, std::vector<uint8_t>> images_;
};
