// Helper of the download benchmark.
//
//   kwbenchdl make OUTDIR MEGABYTES [VOLUME_MEGABYTES]
//                                     random product tree packed as V2.0.0 volumes
//                                     (of about VOLUME_MEGABYTES each when given)
//   kwbenchdl urls SERVER_URL         "name url" of every volume, as the server hands them out
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwserverconfig.h"
#include "tool/makepackage/ikwmakepkg.h"

namespace {

int Make(const std::string& out, long megabytes, long volumeMegabytes) {
  std::string source = out + "/source";
  std::string package = out + "/package";
  std::filesystem::create_directories(source + "/Windows");
  std::filesystem::create_directories(source + "/ikwdriver");
  std::filesystem::create_directories(package);
  std::mt19937_64 rng(42);
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  // Incompressible content, so the package is as large as the tree.
  long left = megabytes;
  for (int file = 0; left > 0; ++file) {
    long size = left < 96 ? left : 96;
    std::string path = source + "/Windows/data" + std::to_string(file) + ".bin";
    if (file == 0) path = source + "/Windows/Tarnwick.exe";
    std::ofstream f(path, std::ios::binary);
    for (long m = 0; m < size; ++m) {
      for (auto& v : block) v = rng();
      f.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size() * 8));
    }
    left -= size;
  }
  std::ofstream(source + "/ikwdriver/uninstall.exe") << "uninstaller";
  IKWMakePkg maker(0,
                   volumeMegabytes > 0 ? int64_t{volumeMegabytes} << 20 : kwpkg::kVolumeThreshold);
  maker.SetSourceFolder(source.c_str());
  maker.SetOutputFolder(package.c_str());
  maker.SetPackageName("V2.0.0");
  if (maker.Start() != 0) return 1;
  maker.WaitDone();
  std::printf("%zu volume(s)\n", maker.Volumes().size());
  return maker.Volumes().empty() ? 1 : 0;
}

int Urls(const std::string& server) {
  if (KwCurlBindForExecutable(".") != 0) return 1;
  KwSetServerBaseUrl(server.c_str());
  CKWDownloadUtilFor util;
  char version[256];
  std::vector<PackageEntry> entries;
  if (util.GetVersion(version, sizeof(version), entries) != 0) return 1;
  for (PackageEntry& e : entries) {
    if (util.GetDownloadUrl(e) != 0) return 1;
    std::printf("%s %lld %s\n", e.name, static_cast<long long>(e.length), e.url);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "make") == 0) {
    return Make(argv[2], std::atol(argv[3]), argc == 5 ? std::atol(argv[4]) : 0);
  }
  if (argc == 3 && std::strcmp(argv[1], "urls") == 0) return Urls(argv[2]);
  std::fprintf(
      stderr,
      "usage: kwbenchdl make OUTDIR MEGABYTES [VOLUME_MEGABYTES] | kwbenchdl urls SERVER_URL\n");
  return 2;
}
