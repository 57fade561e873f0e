// The key store: every call reads the hive file; every change re-reads it
// under the hive's lock, changes it in memory and replaces the file.
#include "platform/kwregistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

#include "baseutil/ikwlog.h"
#include "platform/kwatomicfile.h"
#include "platform/kwregformat.h"

namespace {

std::string HiveFolder(KwHive hive) {
  const char* dir = std::getenv("KW_REGISTRY_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  if (hive == KwHive::LocalMachine) return "/var/lib/kws";
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config == '/') return std::string(config) + "/kws";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/kws";
}

const char* HiveFileName(KwHive hive) {
  return hive == KwHive::LocalMachine ? "system.reg" : "user.reg";
}

// True when the nearest existing folder on `folder` may be written, so the
// hive's folder and file can be made or replaced.
bool FolderWritable(std::string folder) {
  for (;;) {
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0) {
      return S_ISDIR(st.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
    }
    size_t cut = folder.find_last_of('/');
    if (cut == std::string::npos || cut == 0) return ::access("/", W_OK) == 0;
    folder.resize(cut);
  }
}

bool HiveWritable(KwHive hive) {
  std::string folder = HiveFolder(hive);
  std::string file = folder + "/" + HiveFileName(hive);
  if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0) return false;
  return FolderWritable(folder);
}

// The user's hive is private; the machine hive is readable by every user
// (as the system's own machine settings are) and written only by those
// allowed to.
uint32_t HiveMode(KwHive hive) {
  return hive == KwHive::LocalMachine ? 0644 : 0600;
}

void MakeFolders(const std::string& folder, uint32_t mode) {
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') ::mkdir(folder.substr(0, i).c_str(), mode);
  }
}

KwRegDocument LoadHive(KwHive hive, std::string* raw) {
  std::string bytes;
  KwReadWholeFile(KwRegistryFile(hive), &bytes);
  KwRegDocument doc = KwRegParse(bytes);
  if (raw != nullptr) *raw = std::move(bytes);
  return doc;
}

// Runs `change` on the hive under its lock and writes the result when the
// change reports success and altered something.
int32_t ChangeHive(KwHive hive, const std::function<int32_t(KwRegDocument*, bool*)>& change) {
  if (!HiveWritable(hive)) return kKwRegAccessDenied;
  std::string folder = HiveFolder(hive);
  MakeFolders(folder, hive == KwHive::LocalMachine ? 0755 : 0700);
  std::string file = KwRegistryFile(hive);
  KwFileLock lock(file + ".lock");
  if (lock.Status() != 0) return lock.Status() == -EACCES ? kKwRegAccessDenied : kKwRegWriteFault;
  std::string raw;
  KwRegDocument doc = LoadHive(hive, &raw);
  bool changed = false;
  int32_t result = change(&doc, &changed);
  if (result != kKwRegOk || !changed) return result;
  if (doc.unparsedLines > 0) {
    // The file holds text this store does not understand; keep the whole
    // original beside it before the rewrite drops those lines.
    char suffix[48];
    std::snprintf(suffix, sizeof(suffix), ".damaged-%ld", static_cast<long>(std::time(nullptr)));
    std::string aside = file + suffix;
    int32_t saved = KwReplaceFileAtomic(aside, raw, 0600);
    KW_LOG(4, "KwRegistry::ChangeHive", "%d unreadable lines in %s; original kept as %s (%d)",
           doc.unparsedLines, file.c_str(), aside.c_str(), saved);
    if (saved != 0) return kKwRegWriteFault;  // Never drop what could not be kept.
  }
  int32_t written = KwReplaceFileAtomic(file, KwRegSerialize(doc), HiveMode(hive));
  if (written == -EACCES || written == -EPERM || written == -EROFS) return kKwRegAccessDenied;
  return written == 0 ? kKwRegOk : kKwRegWriteFault;
}

std::string Join(const std::string& base, const std::string& sub) {
  if (base.empty()) return sub;
  if (sub.empty()) return base;
  return base + "\\" + sub;
}

bool IsBelow(const std::string& lowerKey, const std::string& lowerParent) {
  if (lowerParent.empty()) return !lowerKey.empty();
  return lowerKey.size() > lowerParent.size() + 1 &&
         lowerKey.compare(0, lowerParent.size(), lowerParent) == 0 &&
         lowerKey[lowerParent.size()] == '\\';
}

bool IsChild(const std::string& lowerKey, const std::string& lowerParent) {
  if (!IsBelow(lowerKey, lowerParent)) return false;
  size_t start = lowerParent.empty() ? 0 : lowerParent.size() + 1;
  return lowerKey.find('\\', start) == std::string::npos;
}

const KwRegValueData* FindValue(const KwRegKeyData& key, const char* name) {
  std::string lower = KwRegLower(name == nullptr ? "" : name);
  for (const auto& v : key.values) {
    if (KwRegLower(v.name) == lower) return &v;
  }
  return nullptr;
}

void EraseBelow(KwRegDocument* doc, const std::string& lowerParent) {
  for (auto it = doc->keys.begin(); it != doc->keys.end();) {
    if (IsBelow(it->first, lowerParent)) {
      it = doc->keys.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

std::string KwRegistryFile(KwHive hive) {
  return HiveFolder(hive) + "/" + HiveFileName(hive);
}

KwRegKey::KwRegKey(KwRegKey&& other) noexcept {
  *this = std::move(other);
}

KwRegKey& KwRegKey::operator=(KwRegKey&& other) noexcept {
  hive_ = other.hive_;
  path_ = std::move(other.path_);
  access_ = other.access_;
  open_ = other.open_;
  other.open_ = false;
  return *this;
}

int32_t KwRegKey::Open(KwHive hive, const char* path, uint32_t access, KwRegKey* out) {
  if (out == nullptr || access == 0) return kKwRegInvalidParameter;
  out->Close();
  std::string normal;
  if (!KwRegNormalizePath(path, &normal)) return kKwRegInvalidParameter;
  KwRegDocument doc = LoadHive(hive, nullptr);
  auto found = doc.keys.find(KwRegLower(normal));
  if (found == doc.keys.end()) return kKwRegNotFound;
  if ((access & kKwRegWrite) != 0 && !HiveWritable(hive)) return kKwRegAccessDenied;
  out->hive_ = hive;
  out->path_ = found->second.path;
  out->access_ = access;
  out->open_ = true;
  return kKwRegOk;
}

int32_t KwRegKey::Create(KwHive hive, const char* path, uint32_t access, KwRegKey* out) {
  if (out == nullptr || access == 0) return kKwRegInvalidParameter;
  out->Close();
  std::string normal;
  if (!KwRegNormalizePath(path, &normal)) return kKwRegInvalidParameter;
  std::string stored = normal;
  int32_t result = ChangeHive(hive, [&](KwRegDocument* doc, bool* changed) {
    auto found = doc->keys.find(KwRegLower(normal));
    if (found != doc->keys.end()) {
      stored = found->second.path;
      return kKwRegOk;
    }
    stored = KwRegEnsureKey(doc, normal).path;
    *changed = true;
    return kKwRegOk;
  });
  if (result != kKwRegOk) return result;
  out->hive_ = hive;
  out->path_ = stored;
  out->access_ = access;
  out->open_ = true;
  return kKwRegOk;
}

int32_t KwRegKey::GetString(const char* name, std::string* value) const {
  if (!open_ || value == nullptr) return kKwRegInvalidParameter;
  if ((access_ & kKwRegRead) == 0) return kKwRegAccessDenied;
  KwRegDocument doc = LoadHive(hive_, nullptr);
  auto found = doc.keys.find(KwRegLower(path_));
  if (found == doc.keys.end()) return kKwRegKeyDeleted;
  const KwRegValueData* v = FindValue(found->second, name);
  if (v == nullptr) return kKwRegNotFound;
  *value = v->value;
  return kKwRegOk;
}

int32_t KwRegKey::QueryString(const char* name, char* buffer, uint32_t* size) const {
  if (size == nullptr) return kKwRegInvalidParameter;
  std::string value;
  int32_t result = GetString(name, &value);
  if (result != kKwRegOk) return result;
  uint32_t needed = static_cast<uint32_t>(value.size() + 1);
  if (buffer == nullptr) {
    *size = needed;
    return kKwRegOk;
  }
  if (*size < needed) {
    *size = needed;
    return kKwRegMoreData;
  }
  std::memcpy(buffer, value.c_str(), needed);
  *size = needed;
  return kKwRegOk;
}

int32_t KwRegKey::SetString(const char* name, const char* value) {
  if (!open_) return kKwRegInvalidParameter;
  if ((access_ & kKwRegWrite) == 0) return kKwRegAccessDenied;
  std::string key = KwRegLower(path_);
  std::string valueName = name == nullptr ? "" : name;
  std::string text = value == nullptr ? "" : value;
  return ChangeHive(hive_, [&](KwRegDocument* doc, bool* changed) {
    auto found = doc->keys.find(key);
    if (found == doc->keys.end()) return kKwRegKeyDeleted;
    auto* existing = const_cast<KwRegValueData*>(FindValue(found->second, valueName.c_str()));
    if (existing != nullptr) {
      existing->value = text;
    } else {
      found->second.values.push_back({valueName, text});
    }
    *changed = true;
    return kKwRegOk;
  });
}

int32_t KwRegKey::DeleteValue(const char* name) {
  if (!open_) return kKwRegInvalidParameter;
  if ((access_ & kKwRegWrite) == 0) return kKwRegAccessDenied;
  std::string key = KwRegLower(path_);
  std::string lowerName = KwRegLower(name == nullptr ? "" : name);
  return ChangeHive(hive_, [&](KwRegDocument* doc, bool* changed) {
    auto found = doc->keys.find(key);
    if (found == doc->keys.end()) return kKwRegKeyDeleted;
    auto& values = found->second.values;
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (KwRegLower(it->name) == lowerName) {
        values.erase(it);
        *changed = true;
        return kKwRegOk;
      }
    }
    return kKwRegNotFound;
  });
}

int32_t KwRegKey::DeleteTree(const char* subkey) {
  if (!open_) return kKwRegInvalidParameter;
  if ((access_ & kKwRegWrite) == 0) return kKwRegAccessDenied;
  std::string sub;
  if (!KwRegNormalizePath(subkey, &sub)) return kKwRegInvalidParameter;
  std::string self = KwRegLower(path_);
  std::string target = KwRegLower(Join(path_, sub));
  return ChangeHive(hive_, [&](KwRegDocument* doc, bool* changed) {
    if (doc->keys.find(self) == doc->keys.end()) return kKwRegKeyDeleted;
    auto found = doc->keys.find(target);
    if (found == doc->keys.end()) return kKwRegNotFound;
    EraseBelow(doc, target);
    if (sub.empty()) {
      found->second.values.clear();
    } else {
      doc->keys.erase(target);
    }
    *changed = true;
    return kKwRegOk;
  });
}

int32_t KwRegKey::DeleteKey(const char* subkey) {
  if (!open_) return kKwRegInvalidParameter;
  if ((access_ & kKwRegWrite) == 0) return kKwRegAccessDenied;
  std::string sub;
  if (!KwRegNormalizePath(subkey, &sub)) return kKwRegInvalidParameter;
  std::string target = KwRegLower(Join(path_, sub));
  if (target.empty()) return kKwRegAccessDenied;  // A hive's root stays.
  return ChangeHive(hive_, [&](KwRegDocument* doc, bool* changed) {
    if (doc->keys.find(target) == doc->keys.end()) return kKwRegNotFound;
    for (const auto& entry : doc->keys) {
      if (IsChild(entry.first, target)) return kKwRegAccessDenied;
    }
    doc->keys.erase(target);
    *changed = true;
    return kKwRegOk;
  });
}

int32_t KwRegKey::QueryInfo(uint32_t* subkeys, uint32_t* values) const {
  if (!open_) return kKwRegInvalidParameter;
  if ((access_ & kKwRegRead) == 0) return kKwRegAccessDenied;
  KwRegDocument doc = LoadHive(hive_, nullptr);
  std::string self = KwRegLower(path_);
  auto found = doc.keys.find(self);
  if (found == doc.keys.end()) return kKwRegKeyDeleted;
  uint32_t count = 0;
  for (const auto& entry : doc.keys) {
    if (IsChild(entry.first, self)) ++count;
  }
  if (subkeys != nullptr) *subkeys = count;
  if (values != nullptr) *values = static_cast<uint32_t>(found->second.values.size());
  return kKwRegOk;
}

int32_t KwRegKey::EnumKey(uint32_t index, std::string* name) const {
  if (!open_ || name == nullptr) return kKwRegInvalidParameter;
  if ((access_ & kKwRegRead) == 0) return kKwRegAccessDenied;
  KwRegDocument doc = LoadHive(hive_, nullptr);
  std::string self = KwRegLower(path_);
  if (doc.keys.find(self) == doc.keys.end()) return kKwRegKeyDeleted;
  uint32_t i = 0;
  for (const auto& entry : doc.keys) {
    if (!IsChild(entry.first, self)) continue;
    if (i++ == index) {
      size_t start = self.empty() ? 0 : self.size() + 1;
      *name = entry.second.path.substr(start);
      return kKwRegOk;
    }
  }
  return kKwRegNoMoreItems;
}

int32_t KwRegKey::EnumValue(uint32_t index, std::string* name, std::string* value) const {
  if (!open_ || name == nullptr) return kKwRegInvalidParameter;
  if ((access_ & kKwRegRead) == 0) return kKwRegAccessDenied;
  KwRegDocument doc = LoadHive(hive_, nullptr);
  auto found = doc.keys.find(KwRegLower(path_));
  if (found == doc.keys.end()) return kKwRegKeyDeleted;
  if (index >= found->second.values.size()) return kKwRegNoMoreItems;
  *name = found->second.values[index].name;
  if (value != nullptr) *value = found->second.values[index].value;
  return kKwRegOk;
}
