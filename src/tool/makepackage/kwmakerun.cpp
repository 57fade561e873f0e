#include "tool/makepackage/kwmakerun.h"

#include <cinttypes>
#include <cstdio>

#include "baseutil/ikwlog.h"

std::string KwMakeStatusText(int64_t total, const char* text) {
  char head[32];
  std::snprintf(head, sizeof head, "%" PRId64 " ", total);
  return std::string(head) + (text != nullptr ? text : "");
}

bool KwMakeInputComplete(const KwMakeSettings& s) {
  return !s.fromPath.empty() && !s.toPath.empty() && !s.package.empty();
}

const char* KwMakeMissingInputKey(const KwMakeSettings& s) {
  if (s.fromPath.empty()) return "makeinputfrom";
  if (s.toPath.empty()) return "makeinputto";
  if (s.package.empty()) return "makeinputname";
  return nullptr;
}

std::unique_ptr<IKWMakePkg> KwStartMakeRun(const std::string& iniFolder, const KwMakeSettings& s,
                                           KwPkgCallback callback, void* context,
                                           IKWMakeCompletion* owner) {
  KwWriteMakeIni(iniFolder, s);
  auto maker = std::make_unique<IKWMakePkg>();
  maker->SetSourceFolder(s.fromPath.c_str());
  maker->SetOutputFolder(s.toPath.c_str());
  maker->SetPackageName(s.package.c_str());
  maker->SetCallback(callback, context);
  maker->SetCompletion(owner);
  if (maker->Start() != 0) {
    KW_LOG(4, "KwStartMakeRun", "the maker did not start");
    return nullptr;
  }
  KW_LOG(4, "KwStartMakeRun", "%s -> %s/%s", s.fromPath.c_str(), s.toPath.c_str(),
         s.package.c_str());
  return maker;
}
