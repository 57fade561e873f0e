#include "images/kwresourcemanager.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const char* tail) {
  std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

int CKwResourceManager::AddFolder(const std::string& folder) {
  int added = 0;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return 0;
  // Sorted walk so that "first path" does not depend on directory order.
  std::vector<fs::path> pending{fs::path(folder)};
  while (!pending.empty()) {
    fs::path dir = pending.back();
    pending.pop_back();
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().filename() < b.path().filename();
              });
    std::vector<fs::path> subfolders;
    for (const fs::directory_entry& entry : entries) {
      std::string name = entry.path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      std::error_code typeError;
      // Links to folders are not followed, so a loop of links cannot hang the walk.
      if (entry.is_directory(typeError) && !entry.is_symlink(typeError)) {
        subfolders.push_back(entry.path());
      } else if (EndsWith(name, ".png") || EndsWith(name, ".jpg")) {
        if (files_.emplace(name, entry.path().string()).second) ++added;
      }
    }
    // Depth-first in name order: push in reverse so the first name is next.
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) pending.push_back(*it);
  }
  return added;
}

int CKwResourceManager::Build(const std::string& exeDir) {
  return AddFolder(exeDir + "/resource/images") + AddFolder(exeDir + "/servericon");
}

std::string CKwResourceManager::Find(const std::string& name) const {
  auto it = files_.find(name);
  return it == files_.end() ? std::string() : it->second;
}
