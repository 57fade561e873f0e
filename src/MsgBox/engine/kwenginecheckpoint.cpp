// KwUnpackCheckpoint; see kwenginecheckpoint.h.
#include "MsgBox/engine/kwenginecheckpoint.h"

#include <cstdlib>
#include <sstream>

namespace {
constexpr const char* kFirstLine = "tarnwick unpack checkpoint 1";
}  // namespace

std::string KwUnpackCheckpoint::DigestOf(const PackageEntry& e) {
  return std::string(e.checksum) + " " + (e.sha256[0] != '\0' ? e.sha256 : "-");
}

std::string KwUnpackCheckpoint::Format() const {
  std::ostringstream out;
  out << kFirstLine << "\n";
  out << "version " << version << "\n";
  out << "volumes " << volumeCount << "\n";
  for (const std::string& d : done) out << "done " << d << "\n";
  if (insideFile) {
    out << "file " << fileSize << " " << fileWritten << " " << fileName << "\n";
  }
  out << "end\n";
  return out.str();
}

bool KwUnpackCheckpoint::Parse(const std::string& text, KwUnpackCheckpoint* out) {
  KwUnpackCheckpoint c;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kFirstLine) return false;
  bool ended = false;
  while (std::getline(in, line)) {
    if (ended) return false;
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "version") {
      c.version = rest;
    } else if (key == "volumes") {
      c.volumeCount = std::atoi(rest.c_str());
    } else if (key == "done") {
      c.done.push_back(rest);
    } else if (key == "file") {
      std::istringstream f(rest);
      long long size = -1, written = -1;
      f >> size >> written;
      f.get();
      std::getline(f, c.fileName);
      if (!f && !f.eof()) return false;
      if (size < 0 || written < 0 || written > size || c.fileName.empty()) return false;
      c.insideFile = true;
      c.fileSize = size;
      c.fileWritten = written;
    } else if (key == "end") {
      ended = true;
    } else {
      return false;
    }
  }
  if (!ended || c.version.empty() || c.volumeCount <= 0 ||
      static_cast<int>(c.done.size()) > c.volumeCount) {
    return false;
  }
  *out = c;
  return true;
}

bool KwUnpackCheckpoint::Fits(const std::string& v,
                              const std::vector<PackageEntry>& entries) const {
  if (v != version || static_cast<size_t>(volumeCount) != entries.size()) return false;
  for (size_t i = 0; i < done.size(); ++i) {
    if (done[i] != DigestOf(entries[i])) return false;
  }
  return true;
}
