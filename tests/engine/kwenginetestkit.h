// Shared pieces of the engine tests: a generated product tree, packing it,
// comparing an installed tree with it, a throw-away environment, and the
// reference install server run as a child process.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kwenginetest {

// Files of the generated product: relative path -> content.  Nested folders,
// "Windows/Tarnwick.exe", "ikwdriver/uninstall.exe", empty files and files
// larger than one download segment.  Modification times are whole seconds.
struct ProductTree {
  std::map<std::string, std::string> files;
  std::map<std::string, int64_t> mtimes;  // seconds since 1970
};

// Deterministic contents; `bigBytes` is the size of the largest file.
ProductTree MakeProductTree(int64_t bigBytes);
void WriteProductTree(const ProductTree& tree, const std::string& folder);

// Packs `source` into "%s/VERSION_%03d.kwk" volumes and list.json in `out`
// with a lowered volume threshold; returns the number of volumes.
int PackTree(const std::string& source, const std::string& out, int64_t threshold,
             const std::string& version = "V2.0.0");

// The package of MakeProductTree(bigBytes) packed with `threshold`, made
// once in the build folder and shared by every test process (each test runs
// in a process of its own under ctest).  Returns its folder, or "" on failure.
std::string CachedPackage(const ProductTree& tree, int64_t bigBytes, int64_t threshold);

// Empty when `folder` holds exactly the tree's files with their bytes and
// times; otherwise the first difference.
std::string CompareTree(const ProductTree& tree, const std::string& folder);

// Points HOME, XDG folders and the key store into `root`; restores on exit.
class ScopedHome {
 public:
  explicit ScopedHome(const std::string& root);
  ~ScopedHome();
  std::string desktop() const { return root_ + "/Desktop"; }
  std::string dataHome() const { return root_ + "/data"; }

 private:
  std::string root_;
  std::vector<std::pair<std::string, std::string>> saved_;
  std::vector<std::string> unset_;
};

// kwserve as a child process serving `root`, with extra options.
class ServerProcess {
 public:
  ServerProcess(const std::string& root, const std::vector<std::string>& options,
                const std::string& logPath);
  ~ServerProcess();
  bool ok() const { return !url_.empty(); }
  const std::string& url() const { return url_; }
  // Requests logged so far whose target contains `needle`.
  int CountRequests(const std::string& needle) const;
  // Log lines of any kind that contain `needle`.
  int CountLines(const std::string& needle) const;

 private:
  int pid_ = -1;
  std::string url_;
  std::string logPath_;
};

// The build's program folder ("<build>/bin").
std::string BinDir();

// Starts kwinstall of this build with `args` as a child process (so a test
// can kill it outright), its output and errors going to `outPath`.  The pid,
// or -1.
int SpawnInstall(const std::vector<std::string>& args, const std::string& outPath);
// Waits for `pid`: its exit status, or 128 plus the signal that ended it.
int WaitExit(int pid);

// The volume checksum of a file.
std::string Checksum(const std::string& path);

}  // namespace kwenginetest
