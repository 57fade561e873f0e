// kwpack: the package tools for release engineers and CI.
//
//   kwpack make SRC OUTDIR NAME      pack a folder tree into volumes, list.json,
//                                    release.json and the release manifest
//   kwpack list OUTDIR NAME          write the same for NAME_%03d.tmp volumes
//   kwpack verify OUTDIR             check volumes against list.json and the
//                                    manifest against the volumes
//   kwpack unpack FIRST_VOLUME DEST  unpack every volume of a package in order
//   kwpack bundle INSTALLER VOLUME OUT VERSION
//                                    append the marker and one volume to an installer
//   kwpack keygen KEYFILE            make an Ed25519 key pair for signing releases
//   kwpack sign OUTDIR --key KEYFILE [--expires DAYS]
//                                    sign OUTDIR/release.json
//
// Exit status 0 on success; otherwise 1 with a one-line reason on stderr
// (2 for a usage error).
#include <dirent.h>
#include <fcntl.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "baseutil/kwed25519.h"
#include "baseutil/kwsha256.h"
#include "baseutil/kwjsonread.h"
#include "kwprogress.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwmanifest.h"
#include "tool/makepackage/kwmanifestscan.h"
#include "tool/makepackage/kwpkgbundle.h"
#include "tool/makepackage/kwpkgchecksum.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/kwrelease.h"
#include "tool/makepackage/kwunzippackage.h"

namespace {

const char kUsage[] =
    "usage: kwpack COMMAND ARGS...\n"
    "  make SRC OUTDIR NAME [--threads N] [--volume-size BYTES] [--skip-special]\n"
    "       [--pieces fixed|content]\n"
    "  list OUTDIR NAME\n"
    "  verify OUTDIR\n"
    "  unpack FIRST_VOLUME DESTDIR [--threads N] [--inflater libdeflate|zlib]\n"
    "  bundle INSTALLER VOLUME OUT VERSION\n"
    "  keygen KEYFILE\n"
    "  sign OUTDIR --key KEYFILE [--expires DAYS]\n"
    "Run 'kwpack COMMAND --help' for one command, 'kwpack --help' for all.\n";

struct Help {
  const char* command;
  const char* text;
};
const Help kHelp[] = {
    {"make",
     "usage: kwpack make SRC OUTDIR NAME [--threads N] [--volume-size BYTES] [--skip-special]\n"
     "       [--pieces fixed|content]\n"
     "Packs the folder tree SRC into OUTDIR/NAME_000.kwk, NAME_001.kwk, ... and writes\n"
     "OUTDIR/list.json, OUTDIR/release.json (each volume's SHA-256 too) and the release\n"
     "manifest OUTDIR/manifest.kwm (every piece's SHA-256 and place, for updates that fetch\n"
     "only what changed).  Names beginning with '.' are skipped.\n"
     "Packages hold no links: a link to a file packs the file's content, while a link to a\n"
     "folder, a dangling link and a pipe, socket or device fail the run, each named on\n"
     "stderr; --skip-special leaves links to folders and special files out instead (still\n"
     "named).  --threads sets the compression threads (default: one per core);\n"
     "--volume-size the chunk payload after which a volume is closed (default 1000000000);\n"
     "--pieces content cuts files at content-defined boundaries, so an insertion in a large\n"
     "file changes only the pieces around it (default fixed: 3200000-byte pieces).\n"},
    {"list",
     "usage: kwpack list OUTDIR NAME\n"
     "Writes OUTDIR/list.json, OUTDIR/release.json and OUTDIR/manifest.kwm for the volumes\n"
     "OUTDIR/NAME_000.kwk, NAME_001.kwk, ... (else NAME_000.tmp, ...) up to the first\n"
     "missing or empty one.  With no volume nothing is written and the lists stay.\n"},
    {"verify",
     "usage: kwpack verify OUTDIR\n"
     "Checks the length and checksum of every volume listed in OUTDIR/list.json, and,\n"
     "when release.json names a manifest, the manifest's length, SHA-256 and every\n"
     "piece it lists against the volumes.\n"},
    {"unpack",
     "usage: kwpack unpack FIRST_VOLUME DESTDIR [--threads N] [--inflater libdeflate|zlib]\n"
     "Unpacks FIRST_VOLUME (a name ending in _000.kwk or _000.tmp) and the volumes that\n"
     "follow it into DESTDIR.  Fails when a volume is damaged, a file comes out wrong or\n"
     "the package ends inside a file.  --threads sets the inflating threads (default: one\n"
     "per core); files are always written in order.  --inflater picks the library that\n"
     "inflates the chunks (default libdeflate); the result is the same with either.\n"},
    {"bundle",
     "usage: kwpack bundle INSTALLER VOLUME OUT VERSION\n"
     "Writes OUT: the installer, the 32-byte marker (eight bytes 0x01, 0x02, 0x03 each and\n"
     "VERSION padded to 8 bytes) and the volume, with the run bits.  VOLUME must hold a\n"
     "whole package: the first of several volumes is refused and nothing is written.\n"},
    {"keygen",
     "usage: kwpack keygen KEYFILE\n"
     "Makes an Ed25519 key pair: the private key in KEYFILE (PEM, readable by you only)\n"
     "and the public key in KEYFILE.pub (PEM).  Prints the public key on one line, as\n"
     "the installer's ini takes it: section [SERVER], key PUBKEY (or name the .pub file\n"
     "there).  An existing KEYFILE is never replaced.\n"},
    {"sign",
     "usage: kwpack sign OUTDIR --key KEYFILE [--expires DAYS]\n"
     "Signs OUTDIR/release.json with the private key in KEYFILE: version, build time,\n"
     "every volume's length, checksum and SHA-256, and an expiry time DAYS days from\n"
     "now (default 90).  An installer with the matching PUBKEY refuses any other\n"
     "release, and this one after it expires.\n"},
};

int Fail(const std::string& why) {
  std::fprintf(stderr, "kwpack: %s\n", why.c_str());
  return 1;
}

// Help asked for goes to stdout with status 0; a usage error to stderr with 2.
int Usage(const char* command, bool asked = false) {
  FILE* to = asked ? stdout : stderr;
  const char* text = kUsage;
  for (const Help& h : kHelp)
    if (command != nullptr && std::strcmp(command, h.command) == 0) text = h.text;
  if (!asked || text != kUsage) {
    std::fputs(text, to);
    return asked ? 0 : 2;
  }
  // The whole help (the manual page is made from it): every command with
  // its description indented below it.
  std::fputs("usage: kwpack COMMAND ARGS...\n\nCommands:\n", to);
  for (const Help& h : kHelp) {
    std::string lines(h.text);
    const std::string prefix = "usage: kwpack ";
    if (lines.compare(0, prefix.size(), prefix) == 0) lines.erase(0, prefix.size());
    size_t start = 0;
    for (bool first = true; start < lines.size(); first = false) {
      size_t end = lines.find('\n', start);
      if (end == std::string::npos) end = lines.size();
      std::fprintf(to, "%s%s\n", first ? "  " : "        ",
                   lines.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  std::fputs("\nRun 'kwpack COMMAND --help' for one command.\n", to);
  return 0;
}

// Bytes the maker will meet, walked by the same rules, for the progress bar.
int64_t SourceBytes(const std::string& dir) {
  int64_t sum = 0;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string path = dir + "/" + e->d_name;
    struct stat lst, st;
    if (::lstat(path.c_str(), &lst) != 0 || ::stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (!S_ISLNK(lst.st_mode)) sum += SourceBytes(path);
    } else if (S_ISREG(st.st_mode)) {
      sum += st.st_size;
    }
  }
  ::closedir(d);
  return sum;
}

// The maker's thread names the current file; the main thread draws.
struct MakeView {
  std::mutex mutex;
  std::string current;
};

int OnMakeProgress(void* ctx, int32_t code, const char* text, int64_t) {
  auto* v = static_cast<MakeView*>(ctx);
  if (code == IKWMakePkg::kCodeFileBegin) {
    std::lock_guard<std::mutex> lock(v->mutex);
    v->current = text;
  }
  return 0;
}

struct Options {
  std::vector<std::string> pos;
  int threads = 0;  // One per core.
  int64_t volumeSize = kwpkg::kVolumeThreshold;
  KwInflaterKind inflater = KwInflaterKind::kLibdeflate;
  KwPieceMode pieces = KwPieceMode::kFixed;
  bool skipSpecial = false;
  std::string error;
};

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--skip-special") {
      o.skipSpecial = true;
    } else if (args[i] == "--inflater" && i + 1 < args.size()) {
      if (!KwParseInflaterName(args[i + 1].c_str(), &o.inflater)) {
        o.error = "bad value for --inflater: " + args[i + 1];
        return o;
      }
      ++i;
    } else if (args[i] == "--pieces" && i + 1 < args.size()) {
      if (args[i + 1] == "content") {
        o.pieces = KwPieceMode::kContent;
      } else if (args[i + 1] == "fixed") {
        o.pieces = KwPieceMode::kFixed;
      } else {
        o.error = "bad value for --pieces (fixed or content): " + args[i + 1];
        return o;
      }
      ++i;
    } else if ((args[i] == "--threads" || args[i] == "--volume-size") && i + 1 < args.size()) {
      char* end = nullptr;
      const long long v = std::strtoll(args[i + 1].c_str(), &end, 10);
      if (*end != 0 || v <= 0) {
        o.error = "bad value for " + args[i] + ": " + args[i + 1];
        return o;
      }
      if (args[i] == "--threads") {
        o.threads = static_cast<int>(std::min(v, 256LL));
      } else {
        o.volumeSize = v;
      }
      ++i;
    } else {
      o.pos.push_back(args[i]);
    }
  }
  return o;
}

int Cores() {
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int CmdMake(const std::vector<std::string>& args) {
  const Options opt = ParseOptions(args);
  if (!opt.error.empty()) return Fail("make: " + opt.error);
  const std::vector<std::string>& pos = opt.pos;
  const int threads = opt.threads;
  const int64_t volumeSize = opt.volumeSize;
  if (pos.size() != 3) return Usage("make");
  const std::string& src = pos[0];
  const std::string& out = pos[1];
  const std::string& name = pos[2];
  struct stat st;
  if (::stat(src.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Fail("make: source folder not found: " + src);
  if (name.empty() || name.find('/') != std::string::npos)
    return Fail("make: bad package name: " + name);
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) return Fail("make: cannot create " + out + ": " + ec.message());

  KwProgress progress("make", SourceBytes(src));
  MakeView view;
  IKWMakePkg maker(threads, volumeSize);
  maker.SetSourceFolder(src.c_str());
  maker.SetOutputFolder(out.c_str());
  maker.SetPackageName(name.c_str());
  maker.SetCallback(&OnMakeProgress, &view);
  maker.SetPieceMode(opt.pieces);
  maker.SetSkipUnpackable(opt.skipSpecial);
  maker.Start();
  while (!maker.Done()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string current;
    {
      std::lock_guard<std::mutex> lock(view.mutex);
      current = view.current;
    }
    progress.Update(maker.BytesRead(), current);
  }
  progress.Finish();
  for (const std::string& failed : maker.FailedFiles()) {
    std::fprintf(stderr, "kwpack: make: not packed: %s\n", failed.c_str());
  }
  for (const std::string& skipped : maker.SkippedEntries()) {
    std::fprintf(stderr, "kwpack: make: %s: %s\n", opt.skipSpecial ? "skipped" : "not packed",
                 skipped.c_str());
  }
  if (maker.Result() != 0) return Fail("make: " + maker.ErrorText());
  int64_t bytes = 0;
  for (const KwVolumeEntry& e : maker.Volumes()) bytes += e.size;
  std::printf("made %s: %d files, %s in, %zu volume(s), %s out, %.1f s\n", name.c_str(),
              maker.FilesPacked(), KwBytesText(static_cast<double>(maker.Total())).c_str(),
              maker.Volumes().size(), KwBytesText(static_cast<double>(bytes)).c_str(),
              progress.Seconds());
  return 0;
}

int CmdList(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("list");
  const int32_t n = KwMakeVolumeListJson(args[0], args[1]);
  if (n < 0) return Fail("list: cannot write " + args[0] + "/list.json");
  if (n == 0) return Fail("list: no volume of " + args[1] + " in " + args[0] + "; nothing written");
  std::printf("listed %d volume(s) in %s/list.json\n", n, args[0].c_str());
  return 0;
}

// Checks the manifest release.json names against its length and SHA-256,
// and every piece it lists against the volumes of `list`.  Empty when it
// holds (or there is none); `note` says what was checked.
std::string VerifyManifest(const std::string& dir, const Json::Value& list, std::string* note) {
  KwRelease release;
  std::string error;
  const int32_t loaded = KwLoadRelease(dir, &release, &error);
  if (loaded < 0) return error;
  if (loaded == 1 || !release.hasManifest) return "";
  const std::string& name = release.manifest.name;
  if (name.empty() || name.find('/') != std::string::npos)
    return "release.json names no usable manifest";
  KwManifest manifest;
  std::string bytes;
  const int32_t read = KwLoadManifestFile(dir + "/" + name, &manifest, &bytes, &error);
  if (read == 1) return "the manifest " + name + " is missing";
  if (read < 0) return error;
  if (static_cast<int64_t>(bytes.size()) != release.manifest.length ||
      KwSha256Hex(bytes.data(), bytes.size()) != release.manifest.sha256)
    return "the manifest " + name + " is not the one release.json names";
  std::vector<std::string> paths;
  for (const Json::Value& v : list) paths.push_back(dir + "/" + v.get("name", "").asString());
  KwManifest scanned;
  if (KwScanVolumes(paths, &scanned, &error) != 0) return "cannot read the volumes: " + error;
  const std::string diff = KwManifestDifference(manifest, scanned);
  if (!diff.empty()) return "the manifest does not match the volumes: " + diff;
  size_t pieces = 0;
  for (const KwManifestFile& f : manifest.files) pieces += f.pieces.size();
  *note = ", manifest of " + std::to_string(manifest.files.size()) + " file(s) and " +
          std::to_string(pieces) + " piece(s)";
  return "";
}

int CmdVerify(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("verify");
  const std::string& dir = args[0];
  Json::Value list;
  std::string why;
  const int32_t read = KwReadJsonFile(dir + "/list.json", &list, &why);
  if (read == kKwJsonNoFile) return Fail("verify: cannot read " + dir + "/list.json");
  if (read != kKwJsonOk) return Fail("verify: list.json is not a JSON array: " + why);
  if (!list.isArray()) return Fail("verify: list.json is not a JSON array");
  // Entries that are no objects read as empty ones (and fail as "bad entry name").
  auto member = [](const Json::Value& v, const char* name) {
    return v.isObject() ? KwJsonTextOr(v, name) : std::string();
  };
  // Listed lengths only drive the progress bar; absurd ones must not overflow it.
  auto add = [](int64_t sum, const std::string& text) {
    const int64_t length = std::strtoll(text.c_str(), nullptr, 10);
    return length > 0 && sum <= INT64_MAX - length ? sum + length : sum;
  };
  int64_t total = 0;
  for (const Json::Value& v : list) total = add(total, member(v, "length"));
  KwProgress progress("verify", total);
  int64_t done = 0;
  int bad = 0;
  std::string firstBad;
  for (const Json::Value& v : list) {
    const std::string name = member(v, "name");
    const std::string len = member(v, "length");
    const std::string sum = member(v, "checksum");
    std::string why;
    struct stat st;
    if (name.empty() || name.find('/') != std::string::npos) {
      why = "bad entry name";
    } else if (::stat((dir + "/" + name).c_str(), &st) != 0) {
      why = "missing";
    } else if (std::to_string(st.st_size) != len) {
      why = "length " + std::to_string(st.st_size) + ", listed " + len;
    } else {
      const std::string got = KwVolumeChecksumOfFile((dir + "/" + name).c_str());
      if (strcasecmp(got.c_str(), sum.c_str()) != 0 || got.empty())
        why = "checksum " + got + ", listed " + sum;
    }
    done = add(done, len);
    progress.Update(done, name);
    if (!why.empty()) {
      ++bad;
      if (firstBad.empty()) firstBad = name + ": " + why;
      if (!progress.Interactive()) std::printf("BAD %s: %s\n", name.c_str(), why.c_str());
    }
  }
  progress.Finish();
  if (bad > 0)
    return Fail("verify: " + std::to_string(bad) + " of " + std::to_string(list.size()) +
                " volume(s) bad, first " + firstBad);
  std::string manifestNote;
  const std::string manifestWhy = VerifyManifest(dir, list, &manifestNote);
  if (!manifestWhy.empty()) return Fail("verify: " + manifestWhy);
  std::printf("verified %u volume(s), %s%s\n", list.size(),
              KwBytesText(static_cast<double>(total)).c_str(), manifestNote.c_str());
  return 0;
}

struct UnpackView {
  std::string current;
};

int OnUnpackProgress(void* ctx, int32_t code, const char* text, int64_t) {
  auto* v = static_cast<UnpackView*>(ctx);
  if (code == CKWUnzipPackage::kFileBegun) v->current = text;
  return 0;
}

int CmdUnpack(const std::vector<std::string>& all) {
  const Options opt = ParseOptions(all);
  if (!opt.error.empty()) return Fail("unpack: " + opt.error);
  const std::vector<std::string>& args = opt.pos;
  if (args.size() != 2) return Usage("unpack");
  const std::string& first = args[0];
  const size_t cut = first.size() >= 8 ? first.size() - 8 : std::string::npos;
  if (cut == std::string::npos ||
      (first.compare(cut, 8, "_000.kwk") != 0 && first.compare(cut, 8, "_000.tmp") != 0))
    return Fail("unpack: the first volume's name must end in _000.kwk or _000.tmp: " + first);
  const std::string stem = first.substr(0, cut);
  const std::string ext = first.substr(first.size() - 3);
  std::vector<std::string> volumes;
  int64_t total = 0;
  for (int k = 0; k < 1000; ++k) {
    char num[8];
    std::snprintf(num, sizeof(num), "_%03d.", k);
    const std::string path = stem + num + ext;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) break;
    volumes.push_back(path);
    total += st.st_size;
  }
  if (volumes.empty()) return Fail("unpack: cannot open " + first);

  KwProgress progress("unpack", total);
  UnpackView view;
  CKWUnzipPackage unzip;
  unzip.SetInflater(opt.inflater);
  unzip.SetThreads(opt.threads > 0 ? opt.threads : Cores());
  unzip.SetTargetFolder(args[1].c_str());
  unzip.SetCallback(&OnUnpackProgress, &view);
  // The installer's read size: one chunk record and its header.
  const size_t kRead = 3200008;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kRead]);
  int64_t done = 0;
  for (const std::string& path : volumes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail("unpack: cannot open " + path);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    uint8_t header[kwpkg::kVolumeHeaderSize];
    if (::read(fd, header, sizeof(header)) != sizeof(header) ||
        !kwpkg::HasVolumeMagic(header, sizeof(header))) {
      ::close(fd);
      return Fail("unpack: not a package volume: " + path);
    }
    done += sizeof(header);
    for (;;) {
      const ssize_t n = ::read(fd, buf.get(), kRead);
      if (n < 0) {
        ::close(fd);
        return Fail("unpack: cannot read " + path + ": " + std::strerror(errno));
      }
      if (n == 0) break;
      if (unzip.PutBuffer(buf.get(), static_cast<int32_t>(n)) != 0) {
        ::close(fd);
        return Fail("unpack: " + path + ": " + unzip.ErrorText() + " (stream offset " +
                    std::to_string(unzip.ErrorOffset()) + ")");
      }
      done += n;
      progress.Update(done, view.current);
    }
    ::close(fd);
  }
  if (unzip.Finish() != 0)
    return Fail("unpack: " + unzip.ErrorText() + " (stream offset " +
                std::to_string(unzip.ErrorOffset()) + ")");
  progress.Finish();
  if (unzip.InsideFile() || unzip.Pending() != 0)
    return Fail("unpack: the package ends inside a file (is a volume missing?)");
  if (unzip.BadFiles() != 0)
    return Fail("unpack: " + std::to_string(unzip.BadFiles()) + " of " +
                std::to_string(unzip.FilesEnded()) + " file(s) came out wrong (see the log)");
  std::printf("unpacked %d file(s), %s from %zu volume(s), %.1f s\n", unzip.FilesEnded(),
              KwBytesText(static_cast<double>(unzip.Total())).c_str(), volumes.size(),
              progress.Seconds());
  return 0;
}

int CmdBundle(const std::vector<std::string>& args) {
  if (args.size() != 4) return Usage("bundle");
  std::string why;
  if (KwBundlePackage(args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3], &why) != 0) {
    return Fail("bundle: " + why);
  }
  struct stat st;
  const long long at = ::stat(args[0].c_str(), &st) == 0 ? st.st_size : 0;
  std::printf("bundled %s: package at offset %lld\n", args[2].c_str(),
              at + kwpkg::kBundleMarkerSize);
  return 0;
}

std::string ReadWhole(const std::string& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes `text` to a new file `path` with `mode`; never replaces a file.
bool WriteNew(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return (::close(fd) == 0) && ok;
}

int CmdKeygen(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("keygen");
  const std::string& file = args[0];
  struct stat st;
  if (::lstat(file.c_str(), &st) == 0 || ::lstat((file + ".pub").c_str(), &st) == 0)
    return Fail("keygen: " + file + " or " + file + ".pub exists already; not replaced");
  KwEd25519Pair pair;
  std::string error, hex;
  if (!KwEd25519Generate(&pair, &error)) return Fail("keygen: " + error);
  if (!WriteNew(file, pair.privatePem, 0600)) return Fail("keygen: cannot write " + file);
  if (!WriteNew(file + ".pub", pair.publicPem, 0644)) {
    ::unlink(file.c_str());
    return Fail("keygen: cannot write " + file + ".pub");
  }
  KwEd25519PublicKeyHex(pair.publicPem, &hex, &error);
  std::printf("private key: %s\npublic key:  %s.pub (key id %s)\nPUBKEY=%s\n", file.c_str(),
              file.c_str(), KwEd25519KeyId(hex).c_str(), hex.c_str());
  return 0;
}

int CmdSign(const std::vector<std::string>& args) {
  std::vector<std::string> pos;
  std::string keyFile;
  long long days = 90;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--key" || args[i] == "--expires") && i + 1 < args.size()) {
      if (args[i] == "--key") {
        keyFile = args[++i];
        continue;
      }
      char* end = nullptr;
      days = std::strtoll(args[++i].c_str(), &end, 10);
      if (*end != 0 || days <= 0 || days > 36500)
        return Fail("sign: --expires takes 1 to 36500 days: " + args[i]);
    } else {
      pos.push_back(args[i]);
    }
  }
  if (pos.size() != 1 || keyFile.empty()) return Usage("sign");
  KwRelease release;
  std::string error;
  const int32_t loaded = KwLoadRelease(pos[0], &release, &error);
  if (loaded == 1) return Fail("sign: no " + pos[0] + "/release.json (made by kwpack make)");
  if (loaded < 0) return Fail("sign: " + error);
  for (const KwReleaseVolume& v : release.volumes) {
    if (v.sha256.size() != 64) return Fail("sign: " + v.name + " has no SHA-256 in release.json");
  }
  bool read = false;
  const std::string pem = ReadWhole(keyFile, &read);
  if (!read) return Fail("sign: cannot read " + keyFile);
  std::string keyHex;
  if (!KwEd25519PublicOfPrivate(pem, &keyHex, &error))
    return Fail("sign: " + keyFile + ": " + error);
  release.isSigned = true;
  release.signature.expires = static_cast<int64_t>(std::time(nullptr)) + days * 86400;
  release.signature.keyId = KwEd25519KeyId(keyHex);
  const std::string message =
      KwReleaseMessage(release.version, release.buildtime, release.signature.expires,
                       release.volumes, release.hasManifest ? &release.manifest : nullptr);
  if (!KwEd25519Sign(pem, message, &release.signature.signature, &error))
    return Fail("sign: " + error);
  if (KwSaveRelease(pos[0], release) != 0)
    return Fail("sign: cannot write " + pos[0] + "/release.json");
  std::printf("signed %s/release.json: %zu volume(s), key id %s, expires in %lld day(s)\n",
              pos[0].c_str(), release.volumes.size(), release.signature.keyId.c_str(), days);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (cmd == "--version") {
    std::printf("kwpack (Tarnwick) %s\n", KW_TOOLS_VERSION);
    return 0;
  }
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    return Usage(args.empty() ? nullptr : args[0].c_str(), true);
  }
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return Usage(cmd.c_str(), true);
  }
  if (cmd == "make") return CmdMake(args);
  if (cmd == "list") return CmdList(args);
  if (cmd == "verify") return CmdVerify(args);
  if (cmd == "unpack") return CmdUnpack(args);
  if (cmd == "bundle") return CmdBundle(args);
  if (cmd == "keygen") return CmdKeygen(args);
  if (cmd == "sign") return CmdSign(args);
  std::fprintf(stderr, "kwpack: unknown command: %s\n", cmd.c_str());
  return Usage(nullptr);
}
