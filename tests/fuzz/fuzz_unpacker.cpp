// The package record stream through the unpacker.  Whatever the bytes, the
// unpacker keeps inside its target folder, and the stream pushed whole and
// pushed in pieces gives the same files, reports, totals and verdict.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fuzzkit.h"
#include "tool/makepackage/kwunzippackage.h"

namespace {

struct Outcome {
  std::string reports;  // every callback, in order
  std::map<std::string, std::string> tree;
  bool failed = false;
  std::string errorText;
  int64_t errorOffset = -1, total = 0, streamOffset = 0;
  int32_t pending = 0, badFiles = 0, filesEnded = 0;
  bool insideFile = false;
};

int OnReport(void* context, int32_t code, const char* text, int64_t total) {
  auto* reports = static_cast<std::string*>(context);
  *reports += std::to_string(code) + " " + (text ? text : "(null)") + " " + std::to_string(total);
  *reports += '\n';
  return 0;
}

// Every entry below `root`: kind, run bits and content; symbolic links are
// listed, never followed.
std::map<std::string, std::string> Tree(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    const std::string rel = path.substr(root.size());
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      out[rel] = "link";
    } else if (S_ISDIR(st.st_mode)) {
      out[rel] = "dir";
    } else {
      out[rel] = std::string(st.st_mode & 0100 ? "run " : "file ") + kwfuzz::ReadFile(path);
    }
  }
  return out;
}

Outcome Unpack(const uint8_t* data, const std::vector<size_t>& pieces, const std::string& home) {
  kwfuzz::RemoveTree(home);
  ::mkdir(home.c_str(), 0700);
  Outcome o;
  {
    CKWUnzipPackage unpacker;
    unpacker.SetTargetFolder((home + "/target").c_str());
    unpacker.SetCallback(&OnReport, &o.reports);
    size_t at = 0;
    for (size_t n : pieces) {
      unpacker.PutBuffer(data + at, static_cast<int32_t>(n));
      at += n;
    }
    unpacker.Finish();
    o.failed = unpacker.Failed();
    o.errorText = unpacker.ErrorText();
    o.errorOffset = unpacker.ErrorOffset();
    o.total = unpacker.Total();
    o.streamOffset = unpacker.StreamOffset();
    o.pending = unpacker.Pending();
    o.badFiles = unpacker.BadFiles();
    o.filesEnded = unpacker.FilesEnded();
    o.insideFile = unpacker.InsideFile();
  }
  // Nothing may appear beside the target folder.
  std::map<std::string, std::string> around = Tree(home);
  for (const auto& [path, what] : around) {
    KW_FUZZ_CHECK(path.rfind("/target", 0) == 0);
  }
  o.tree = Tree(home + "/target");
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string home = kwfuzz::ScratchDir() + "/unpack";
  const Outcome whole = Unpack(data, {size}, home);
  const Outcome split = Unpack(data, kwfuzz::Pieces(data, size), home);
  KW_FUZZ_CHECK(whole.reports == split.reports);
  KW_FUZZ_CHECK(whole.tree == split.tree);
  KW_FUZZ_CHECK(whole.failed == split.failed);
  KW_FUZZ_CHECK(whole.errorText == split.errorText);
  KW_FUZZ_CHECK(whole.errorOffset == split.errorOffset);
  KW_FUZZ_CHECK(whole.total == split.total);
  KW_FUZZ_CHECK(whole.badFiles == split.badFiles);
  KW_FUZZ_CHECK(whole.filesEnded == split.filesEnded);
  KW_FUZZ_CHECK(whole.insideFile == split.insideFile);
  // How far reading got before a failure depends on the pieces (a record
  // header may have been taken in part); without one it does not.
  if (!whole.failed) {
    KW_FUZZ_CHECK(whole.streamOffset == static_cast<int64_t>(size));
    KW_FUZZ_CHECK(split.streamOffset == whole.streamOffset);
    KW_FUZZ_CHECK(whole.pending == split.pending);
  }
  return 0;
}
