#include "kwenginetestkit.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "kwtest/tempdir.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgchecksum.h"

extern char** environ;

namespace kwenginetest {

namespace fs = std::filesystem;

namespace {

std::string Bytes(uint32_t seed, int64_t size, bool compressible) {
  std::string s(static_cast<size_t>(size), '\0');
  std::mt19937 rng(seed);
  for (int64_t i = 0; i < size; ++i) {
    s[static_cast<size_t>(i)] =
        compressible ? static_cast<char>("tarnwick "[rng() % 9]) : static_cast<char>(rng());
  }
  return s;
}

}  // namespace

ProductTree MakeProductTree(int64_t bigBytes) {
  ProductTree t;
  t.files["Windows/Tarnwick.exe"] = Bytes(1, 300000, false);
  t.files["ikwdriver/uninstall.exe"] = Bytes(2, 50000, false);
  t.files["ikwdriver/ikwactionapp.exe"] = Bytes(3, 70000, true);
  t.files["empty.txt"] = "";
  t.files["Windows/Tarnwick/Plugins/WinUI/Resources/resource/empty.ini"] = "";
  t.files["Windows/Tarnwick/Plugins/WinUI/Resources/resource/skin.dat"] = Bytes(4, 4000000, true);
  t.files["data/a/b/c/deep.bin"] = Bytes(5, 123457, false);
  t.files["data/big.bin"] = Bytes(6, bigBytes, false);
  t.files["data/exact_chunk.bin"] = Bytes(7, 3200000, false);
  t.files["readme.txt"] = "Tarnwick test product\n";
  int64_t when = 1600000000;
  for (const auto& f : t.files) t.mtimes[f.first] = when += 3607;
  return t;
}

void WriteProductTree(const ProductTree& tree, const std::string& folder) {
  for (const auto& f : tree.files) {
    std::string path = folder + "/" + f.first;
    kwtest::WriteFile(path, f.second);
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = tree.mtimes.at(f.first);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path.c_str(), times, 0);
  }
}

int PackTree(const std::string& source, const std::string& out, int64_t threshold,
             const std::string& version) {
  fs::create_directories(out);
  IKWMakePkg maker(2, threshold);
  maker.SetSourceFolder(source.c_str());
  maker.SetOutputFolder(out.c_str());
  maker.SetPackageName(version.c_str());
  if (maker.Start() != 0) return -1;
  maker.WaitDone();
  return static_cast<int>(maker.Volumes().size());
}

std::string CachedPackage(const ProductTree& tree, int64_t bigBytes, int64_t threshold) {
  // Bump the generation when the tree or the packing changes.
  std::string folder = std::string(KW_BUILD_DIR) + "/test-cache/engine-g2-" +
                       std::to_string(bigBytes) + "-" + std::to_string(threshold);
  if (fs::exists(folder + "/list.json")) return folder;
  // Made aside and renamed into place, so parallel test processes never see
  // a half-made package; the loser of the race drops its copy.
  std::string work = folder + ".tmp" + std::to_string(getpid());
  fs::remove_all(work);
  WriteProductTree(tree, work + "/source");
  if (PackTree(work + "/source", work + "/package", threshold) <= 0) return "";
  fs::create_directories(fs::path(folder).parent_path());
  std::error_code ec;
  fs::rename(work + "/package", folder, ec);
  fs::remove_all(work, ec);
  return fs::exists(folder + "/list.json") ? folder : "";
}

std::string CompareTree(const ProductTree& tree, const std::string& folder) {
  size_t seen = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    std::string rel = fs::relative(it->path(), folder).string();
    auto f = tree.files.find(rel);
    if (f == tree.files.end()) return "unexpected file " + rel;
    ++seen;
    if (kwtest::ReadFile(it->path().string()) != f->second) return "content differs: " + rel;
    struct stat st;
    stat(it->path().c_str(), &st);
    if (st.st_mtim.tv_sec != tree.mtimes.at(rel)) return "time differs: " + rel;
  }
  if (seen != tree.files.size()) return "files missing in " + folder;
  return "";
}

ScopedHome::ScopedHome(const std::string& root) : root_(root) {
  const std::pair<const char*, std::string> vars[] = {{"HOME", root},
                                                      {"XDG_CONFIG_HOME", root + "/config"},
                                                      {"XDG_DATA_HOME", root + "/data"},
                                                      {"XDG_DESKTOP_DIR", root + "/Desktop"},
                                                      {"KW_REGISTRY_DIR", root + "/registry"},
                                                      {"TMPDIR", root + "/tmp"}};
  for (const auto& v : vars) {
    const char* old = std::getenv(v.first);
    if (old != nullptr) {
      saved_.emplace_back(v.first, old);
    } else {
      unset_.push_back(v.first);
    }
    fs::create_directories(v.second);
    setenv(v.first, v.second.c_str(), 1);
  }
}

ScopedHome::~ScopedHome() {
  for (const auto& s : saved_) setenv(s.first.c_str(), s.second.c_str(), 1);
  for (const auto& u : unset_) unsetenv(u.c_str());
}

std::string BinDir() {
  return std::string(KW_BUILD_DIR) + "/bin";
}

ServerProcess::ServerProcess(const std::string& root, const std::vector<std::string>& options,
                             const std::string& logPath)
    : logPath_(logPath) {
  std::string program = BinDir() + "/kwserve";
  std::vector<std::string> args = {program, "--root", root, "--port", "0"};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  int r = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (r != 0) {
    pid_ = -1;
    close(out[0]);
    return;
  }
  // The server prints "listening on URL" once it has bound its port.
  FILE* f = fdopen(out[0], "r");
  char line[512];
  if (f != nullptr && std::fgets(line, sizeof(line), f) != nullptr) {
    const char* prefix = "listening on ";
    if (std::strncmp(line, prefix, std::strlen(prefix)) == 0) {
      url_ = line + std::strlen(prefix);
      while (!url_.empty() && (url_.back() == '\n' || url_.back() == '\r')) url_.pop_back();
    }
  }
  if (f != nullptr) std::fclose(f);
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
}

int ServerProcess::CountRequests(const std::string& needle) const {
  std::ifstream in(logPath_);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    if (line.find(" GET ") != std::string::npos && line.find(needle) != std::string::npos) ++n;
  }
  return n;
}

int ServerProcess::CountLines(const std::string& needle) const {
  std::ifstream in(logPath_);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    if (line.find(needle) != std::string::npos) ++n;
  }
  return n;
}

std::string Checksum(const std::string& path) {
  return KwVolumeChecksumOfFile(path.c_str());
}

int SpawnInstall(const std::vector<std::string>& args, const std::string& outPath) {
  std::string program = BinDir() + "/kwinstall";
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  int r = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return r == 0 ? pid : -1;
}

int WaitExit(int pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace kwenginetest
