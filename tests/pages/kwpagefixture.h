// Shared set-up of the page tests: a throw-away home for the key store and
// the desktop, a sample product packed with the maker, and the reference
// install server serving it in this process.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kwserveapp.h"
#include "kwserveoptions.h"
#include "kwservepackage.h"
#include "kwtest/noisebytes.h"
#include "kwtest/tempdir.h"
#include "tool/makepackage/ikwmakepkg.h"

namespace kwpagetest {

// Points HOME, the XDG folders and the key store at `dir` for one test.
class ScopedHome {
 public:
  explicit ScopedHome(const std::string& dir) {
    Set("HOME", dir);
    Set("XDG_CONFIG_HOME", dir + "/.config");
    Set("XDG_DATA_HOME", dir + "/.local/share");
    Set("XDG_DESKTOP_DIR", dir + "/Desktop");
    Set("KW_REGISTRY_DIR", dir + "/registry");
    std::filesystem::create_directories(dir + "/Desktop");
  }
  ~ScopedHome() {
    for (auto& [name, value] : saved_) {
      if (value.first) {
        setenv(name.c_str(), value.second.c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  void Set(const char* name, const std::string& value) {
    const char* old = getenv(name);
    saved_.emplace_back(name, std::make_pair(old != nullptr, old ? std::string(old) : ""));
    setenv(name, value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

// A small product tree: the program, its settings file, the uninstaller the
// engine moves, and `dataBytes` of incompressible data.
inline void WriteSampleProduct(const std::string& dir, size_t dataBytes) {
  // The program notes that it ran, beside itself.
  kwtest::WriteFile(dir + "/Windows/Tarnwick.exe",
                    "#!/bin/sh\necho started >> \"$(dirname \"$0\")/started.log\"\n");
  kwtest::WriteFile(dir + "/Windows/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini",
                    "[LANGUAGE]\nCODEPAGE=0\n");
  kwtest::WriteFile(dir + "/ikwdriver/uninstall.exe", "uninstaller");
  kwtest::WriteFile(dir + "/README.txt", "Tarnwick sample\n");
  kwtest::WriteFile(dir + "/data/sample.bin", kwtest::NoiseBytes(dataBytes, 0x9E3779B97F4A7C15ull));
}

// Packs `source` into `out` as package `name` with the maker.
inline bool MakePackage(const std::string& source, const std::string& out,
                        const std::string& name) {
  std::filesystem::create_directories(out);
  IKWMakePkg maker(1);
  maker.SetSourceFolder(source.c_str());
  maker.SetOutputFolder(out.c_str());
  maker.SetPackageName(name.c_str());
  if (maker.Start() != 0) return false;
  maker.WaitDone();
  return maker.Result() == 0;
}

// The reference install server on 127.0.0.1 in a thread of this process.
class Server {
 public:
  // `port` 0 picks a free one; a server started again for the same root
  // takes the port of the one it replaces.
  explicit Server(const std::string& root, int64_t rateLimit = 0, int port = 0) {
    KwServeOptions options;
    options.root = root;
    options.port = port;
    options.rateLimit = rateLimit;
    std::string error;
    if (!KwLoadServedPackage(root, "", &package_, &error)) return;
    app_ = std::make_unique<KwServeApp>(options, package_);
    port_ = app_->Bind();
    if (port_ < 0) {
      app_.reset();
      return;
    }
    thread_ = std::thread([this] { app_->Run(); });
  }
  ~Server() {
    if (app_) app_->Stop();
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return app_ != nullptr; }
  std::string url() const { return app_ ? app_->url() : std::string(); }
  int port() const { return port_; }

 private:
  int port_ = -1;
  KwServedPackage package_;
  std::unique_ptr<KwServeApp> app_;
  std::thread thread_;
};

}  // namespace kwpagetest
