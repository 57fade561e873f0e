// A temporary home for the uninstaller tests: data, desktop and key store
// all below one throw-away folder, and helpers to lay out an installation.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kwtest/tempdir.h"
#include "platform/kwregistry.h"

class TempHome {
 public:
  TempHome() {
    Save("HOME");
    Save("XDG_DATA_HOME");
    Save("XDG_CONFIG_HOME");
    Save("XDG_DESKTOP_DIR");
    Save("KW_REGISTRY_DIR");
    setenv("HOME", dir_.path().c_str(), 1);
    setenv("XDG_DATA_HOME", Data().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / ".config").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", Desktop().c_str(), 1);
    setenv("KW_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
  }
  ~TempHome() {
    for (int i = 0; i < count_; ++i) {
      if (had_[i]) {
        setenv(names_[i], values_[i].c_str(), 1);
      } else {
        unsetenv(names_[i]);
      }
    }
  }
  std::string Path() const { return dir_.path(); }
  std::string Data() const { return dir_ / "data"; }
  std::string Desktop() const { return dir_ / "Desktop"; }
  std::string operator/(const std::string& rel) const { return dir_ / rel; }

  static void SetValue(KwHive hive, const char* key, const char* name, const char* value) {
    KwRegKey k;
    KwRegKey::Create(hive, key, kKwRegWrite, &k);
    k.SetString(name, value);
  }
  static bool KeyExists(KwHive hive, const char* key) {
    KwRegKey k;
    return KwRegKey::Open(hive, key, kKwRegRead, &k) == kKwRegOk;
  }

 private:
  void Save(const char* name) {
    const char* v = std::getenv(name);
    names_[count_] = name;
    had_[count_] = v != nullptr;
    values_[count_] = v ? v : "";
    ++count_;
  }
  kwtest::TempDir dir_;
  const char* names_[8] = {};
  bool had_[8] = {};
  std::string values_[8];
  int count_ = 0;
};
