// kwinstall: the install engine without a window, for unattended installs
// and tests.
//
//   kwinstall --server URL --dir INSTALL_DIR --agree
//   kwinstall --volume FIRST_VOLUME --dir INSTALL_DIR --agree
//   kwinstall --verify --dir INSTALL_DIR
//   kwinstall --repair --dir INSTALL_DIR --server URL
//
// Exit status: 0 only after the finishing steps of a complete installation;
// 1 when the run failed, 2 for a wrong command line, 3 when the run was
// refused before it started (agreement, folder, free space), 130 when
// interrupted.  The reason goes to standard error.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwengineconfig.h"
#include "MsgBox/engine/kwengineowner.h"
#include "MsgBox/engine/kwengineupdate.h"
#include "MsgBox/engine/kwinstallcheck.h"
#include "kwinstallprogress.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "platform/kwprocess.h"
#include "tool/http/kwserverconfig.h"

namespace {

std::atomic<int> g_interrupted{0};

void OnSignal(int) {
  g_interrupted = 1;
}

const char* kUsage =
    "usage: kwinstall --server URL --dir INSTALL_DIR --agree\n"
    "       kwinstall --volume FIRST_VOLUME --dir INSTALL_DIR --agree\n"
    "       kwinstall --verify --dir INSTALL_DIR\n"
    "       kwinstall --repair --dir INSTALL_DIR --server URL\n"
    "\n"
    "Installs Tarnwick without a window: downloads the package volumes from the\n"
    "install server (or reads local volumes), verifies and unpacks them into\n"
    "INSTALL_DIR, registers the product and cleans up.  When INSTALL_DIR holds an\n"
    "installed version whose manifest was kept, only the pieces of the new version\n"
    "that it lacks are downloaded, and the size to download is printed first.\n"
    "\n"
    "  --server URL      base URL of the install server (http or https)\n"
    "  --volume PATH     first volume of a package on disk (NAME_000.kwk or .tmp)\n"
    "  --dir DIR         install folder (created when missing)\n"
    "  --agree           accept the licence agreement and privacy policy\n"
    "  --ini FILE        settings file (default: itarnwick.ini beside kwinstall);\n"
    "                    [SERVER] URL, CAFILE; [INSTALL] REQUIREDSPACE (bytes),\n"
    "                    LOWESTSPEED, MAXSPEED (bytes per second, 0 off)\n"
    "  --lowest-speed B  a transfer slower than B bytes/s for 5 s moves to another\n"
    "                    file server or is tried again (default: the ini's, off)\n"
    "  --max-speed B     download at most B bytes/s in all (default: the ini's, off)\n"
    "  --plain           plain progress lines even on a terminal\n"
    "  --quiet           no progress, only the result\n"
    "  --timing          print the seconds of each phase, how long unpacking\n"
    "                    overlapped the download, and the bytes fetched\n"
    "  --verify          check the installed version against its kept manifest and\n"
    "                    list every missing, changed or unexpected file\n"
    "  --repair          fetch from --server only the pieces of damaged files\n"
    "  --stall-timeout S give up when for S seconds no downloaded byte reaches the\n"
    "                    disk and less than 512 bytes a second arrive (default\n"
    "                    300; 0 waits for ever, as the installer window does)\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 installed, 1 install failed, 2 bad command line,\n"
    "3 refused before starting, 130 interrupted; --verify: 0 intact, 1 any file\n"
    "missing, changed or unexpected (or nothing to check); --repair: 0 repaired.\n";

// Records what the engine tells its owner; the main thread polls it.
class CommandLineOwner : public IKWInstallEngineOwner {
 public:
  void EngineRepaint() override {}
  void EnginePostCommand(int command) override { command_ = command; }
  void EngineMessage(const char* key) override {
    std::snprintf(key_, sizeof(key_), "%s", key ? key : "");
  }
  // Notes go to standard error on lines of their own, beside the progress.
  void EngineNote(const char* text) override {
    std::fprintf(stderr, "\nkwinstall: note: %s\n", text ? text : "");
  }
  int command() const { return command_; }
  const char* key() const { return key_; }

 private:
  std::atomic<int> command_{0};
  char key_[64] = {};
};

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof(cwd)) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

// The real size before the bytes flow: an update's share of the release,
// or why everything is downloaded.  False while neither is known yet.
bool ShowSize(const KwEngineProgress& p, bool tty) {
  if (p.updateBytes < 0 && p.updateNote.empty()) return false;
  if (tty) std::fputs("\r", stdout);
  if (p.updateBytes >= 0) {
    char line[512];
    std::snprintf(line, sizeof(line), Text("updatesize"), KwInstallSizeText(p.updateBytes).c_str(),
                  KwInstallSizeText(p.fullBytes).c_str(), p.updateFrom.c_str());
    std::printf("%-78s\n", line);
  } else {
    std::printf("%-78s\n", p.updateNote.c_str());
  }
  std::fflush(stdout);
  return true;
}

// Lists what differs from the kept manifest of the installed version.
int Verify(const std::string& dir) {
  std::string version, bytes, why;
  KwManifest manifest;
  if (KwLoadInstalled(dir, &version, &manifest, &bytes, &why) != 0) {
    std::fprintf(stderr, "kwinstall: %s\n", why.c_str());
    return 1;
  }
  const std::vector<KwInstallIssue> issues = KwCheckInstalled(dir, version, manifest);
  for (const KwInstallIssue& i : issues)
    std::printf("%s %s\n", KwInstallIssueWord(i.kind), i.name.c_str());
  if (!issues.empty()) {
    std::fprintf(stderr, "kwinstall: %zu of %zu file(s) of %s differ from the release\n",
                 issues.size(), manifest.files.size(), version.c_str());
    return 1;
  }
  std::printf("verified %s: %zu file(s), %s\n", version.c_str(), manifest.files.size(),
              KwInstallSizeText(manifest.ContentBytes()).c_str());
  return 0;
}

int Repair(const std::string& dir, const std::string& server, const std::string& ini) {
  KwLoadServerConfig(ini.c_str());
  KwSetServerBaseUrl(server.c_str());
  if (KwCurlBindForExecutable(g_exeDir) != 0) {
    std::fprintf(stderr, "kwinstall: the curl library cannot be loaded\n");
    return 1;
  }
  KwUpdateProgress progress;
  std::string why;
  if (KwRepairInstalled(dir, &progress, &why) != 0) {
    std::fprintf(stderr, "kwinstall: repair failed: %s\n", why.c_str());
    return 1;
  }
  std::printf("repaired %s: %s fetched, %s were intact\n", dir.c_str(),
              KwInstallSizeText(progress.fetchedBytes.load()).c_str(),
              KwInstallSizeText(progress.keptBytes.load()).c_str());
  std::printf("bytes fetched %lld\n", static_cast<long long>(progress.fetchedBytes.load()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server, volume, dir, ini, stall = "300", lowest, highest;
  auto isCount = [](const std::string& t) {
    return !t.empty() && t.size() < 19 && t.find_first_not_of("0123456789") == std::string::npos;
  };
  bool agree = false, plain = false, quiet = false, timing = false, verify = false, repair = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool ok = true;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("kwinstall (Tarnwick) %s\n", KW_TOOLS_VERSION);
      return 0;
    } else if (a == "--server") {
      ok = value(&server);
    } else if (a == "--volume") {
      ok = value(&volume);
    } else if (a == "--dir") {
      ok = value(&dir);
    } else if (a == "--ini") {
      ok = value(&ini);
    } else if (a == "--stall-timeout") {
      ok = value(&stall) && !stall.empty() &&
           stall.find_first_not_of("0123456789") == std::string::npos;
    } else if (a == "--lowest-speed") {
      ok = value(&lowest) && isCount(lowest);
    } else if (a == "--max-speed") {
      ok = value(&highest) && isCount(highest);
    } else if (a == "--agree") {
      agree = true;
    } else if (a == "--plain") {
      plain = true;
    } else if (a == "--quiet") {
      quiet = true;
    } else if (a == "--timing") {
      timing = true;
    } else if (a == "--verify") {
      verify = true;
    } else if (a == "--repair") {
      repair = true;
    } else {
      std::fprintf(stderr, "kwinstall: unknown argument %s\n\n%s", a.c_str(), kUsage);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "kwinstall: %s needs a value\n\n%s", a.c_str(), kUsage);
      return 2;
    }
  }

  KwGetExecutablePath(g_exePath, kExePathSize);
  KwCopyText(g_exeDir, kExePathSize, g_exePath);
  if (char* slash = std::strrchr(g_exeDir, '/')) *slash = '\0';
  if (ini.empty()) ini = KwIniPathIn(g_exeDir);
  IKWLang::StartupLoadBuiltIn();
  IKWLang::Instance()->SetCodePage(0);

  if (verify || repair) {
    if (dir.empty() || (verify && repair) || !volume.empty() || (verify && !server.empty()) ||
        (repair && server.empty())) {
      std::fprintf(stderr,
                   "kwinstall: --verify takes --dir; --repair takes --dir and --server\n\n%s",
                   kUsage);
      return 2;
    }
    return verify ? Verify(Absolute(dir)) : Repair(Absolute(dir), server, ini);
  }
  if (server.empty() == volume.empty() || dir.empty()) {
    std::fprintf(stderr, "kwinstall: give --dir and exactly one of --server or --volume\n\n%s",
                 kUsage);
    return 2;
  }
  CommandLineOwner owner;
  CKWInstallEngine engine(&owner);
  engine.SetRequiredSpace(KwReadRequiredSpace(ini.c_str()));
  engine.SetLowestSpeed(lowest.empty() ? KwReadInstallBytes(ini.c_str(), "LOWESTSPEED")
                                       : std::atoll(lowest.c_str()));
  engine.SetMaxSpeed(highest.empty() ? KwReadInstallBytes(ini.c_str(), "MAXSPEED")
                                     : std::atoll(highest.c_str()));
  if (!server.empty()) {
    KwLoadServerConfig(ini.c_str());
    KwSetServerBaseUrl(server.c_str());
    if (KwCurlBindForExecutable(g_exeDir) != 0) {
      std::fprintf(stderr, "kwinstall: the curl library cannot be loaded\n");
      return 1;
    }
    engine.SetRunMode(0);
    engine.SetPackageSource("");
  } else {
    // A package on disk installs like the local package installer does.
    engine.SetRunMode(static_cast<int32_t>(RunMode::LocalPackage));
    engine.SetPackageSource(Absolute(volume).c_str());
  }
  g_installStage = 0;
  g_pauseState = 0;

  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  const char* key = nullptr;
  int started = engine.StartRun(agree, Absolute(dir).c_str(), &key);
  if (started != kKwStartOk) {
    std::fprintf(stderr, "kwinstall: %s\n", key ? Text(key) : "a run is already active");
    return 3;
  }

  bool tty = !plain && !quiet && isatty(STDOUT_FILENO);
  auto started_at = std::chrono::steady_clock::now();
  auto install_at = started_at;
  bool installing = false;
  auto lastPlain = std::chrono::steady_clock::now() - std::chrono::seconds(10);
  std::string lastPhase;
  bool sizeShown = false;
  // The engine keeps asking an unreachable server for ever, as a window
  // would until its user cancels; unattended runs need an end.
  const long long stallSeconds = std::atoll(stall.c_str());
  // Bytes that reach the disk count as movement, but only beyond the most
  // the phase had so far (a volume fetched again and again moves nothing).
  // So do bytes still arriving into a segment, at an average of at least
  // kSlowestArrival a second over the window: a slow but steady link may
  // need longer than the window for one segment, a trickle of a few bytes a
  // second never gets there.
  constexpr int64_t kSlowestArrival = 512;
  auto lastMove = std::chrono::steady_clock::now();
  int64_t mostSettled = -1;
  int64_t lastWritten = 0;
  int64_t arrivedAtMove = 0;
  int32_t lastStage = -1;
  int ticks = 0;
  while (!engine.RunFinished()) {
    // Short polls so the phase change is timed closely; the display keeps
    // its own pace.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!installing && g_installStage.load() == 2) {
      installing = true;
      install_at = std::chrono::steady_clock::now();
    }
    {
      KwEngineProgress now = engine.Progress();
      auto at = std::chrono::steady_clock::now();
      // Written bytes grow with every segment that lands (a volume failing
      // its check again and again ends the run by itself after a few tries).
      const bool steadyArrival =
          stallSeconds > 0 && now.arrivedBytes - arrivedAtMove >= kSlowestArrival * stallSeconds;
      if (now.settledBytes > mostSettled || now.writtenBytes > lastWritten || steadyArrival ||
          g_installStage.load() != lastStage) {
        if (g_installStage.load() != lastStage) mostSettled = -1;
        mostSettled = std::max(mostSettled, now.settledBytes);
        lastWritten = now.writtenBytes;
        arrivedAtMove = now.arrivedBytes;
        lastStage = g_installStage.load();
        lastMove = at;
      } else if (stallSeconds > 0 && at - lastMove >= std::chrono::seconds(stallSeconds)) {
        engine.Stop();
        if (tty) std::fputs("\n", stdout);
        std::fprintf(stderr,
                     "kwinstall: installation failed: nothing moved for %lld seconds: no "
                     "downloaded bytes reached the disk and less than 512 bytes a second "
                     "arrived (server unreachable, not answering or sending a trickle?)\n",
                     stallSeconds);
        return 1;
      }
    }
    if (++ticks % 10 != 0 && !g_interrupted) continue;
    if (g_interrupted) {
      engine.Stop();
      if (tty) std::fputs("\n", stdout);
      std::fprintf(stderr, "kwinstall: interrupted; a later run continues the download\n");
      return 130;
    }
    if (quiet) continue;
    KwEngineProgress p = engine.Progress();
    if (!sizeShown) sizeShown = ShowSize(p, tty);
    int32_t stage = g_installStage.load();
    const bool downloading = stage != 2 && p.downloadTotal > 0;
    const char* phase = downloading ? "download" : "install ";
    // While downloading, the volumes that verified are being unpacked
    // beside it: both show.
    std::string line =
        p.totalBytes == 0 ? std::string("preparing")
        : downloading
            ? KwInstallProgressLine(phase, p.downloadDone, p.downloadTotal, p.speed, true) +
                  KwInstallUnpackPart(p.unpackDone, p.unpackTotal, p.statusLine, tty ? 24 : 60)
            : KwInstallProgressLine(phase, p.unpackDone, p.unpackTotal, 0, false);
    // The speed shown is what arrives; the cap says why it is no higher.
    if (downloading && p.speedCap > 0) line += "  (cap " + KwInstallSizeText(p.speedCap) + "/s)";
    auto now = std::chrono::steady_clock::now();
    if (tty) {
      std::printf("\r%-118s", line.c_str());
      std::fflush(stdout);
    } else if (now - lastPlain >= std::chrono::seconds(2) || phase != lastPhase) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
      lastPlain = now;
      lastPhase = phase;
    }
  }
  engine.WaitUntilFinished();
  KwEngineProgress p = engine.Progress();
  // A short run may end before the loop above showed it.
  if (!sizeShown && !quiet) ShowSize(p, false);
  const bool succeeded = engine.LastResult() == 0 && owner.command() == kKwCmdInstallDone;
  // The polls above sample the run; the last one may fall before the last
  // files were written, so a finished install says 100 % itself.
  if (succeeded && !quiet && p.totalBytes > 0) {
    // The same total as the install lines before it: the package's bytes,
    // not the download and the unpacking counted together.
    const int64_t total = p.unpackTotal > 0 ? p.unpackTotal : p.totalBytes;
    const std::string line = KwInstallProgressLine("install ", total, total, 0, false);
    std::printf(tty ? "\r%-78s" : "%s\n", line.c_str());
  }
  if (tty) std::fputs("\n", stdout);
  if (!succeeded) {
    std::string reason = p.failure;
    if (owner.key()[0] != '\0') reason = std::string(Text(owner.key())) + " (" + reason + ")";
    std::fprintf(stderr, "kwinstall: installation failed: %s\n", reason.c_str());
    return 1;
  }
  if (!quiet) std::printf("installed into %s\n", g_installPath);
  if (timing) {
    auto end = std::chrono::steady_clock::now();
    if (!installing) install_at = started_at;
    std::printf("download seconds %.3f\ninstall seconds %.3f\n",
                std::chrono::duration<double>(install_at - started_at).count(),
                std::chrono::duration<double>(end - install_at).count());
    // Part of the download seconds: verifying after the last segments landed.
    std::printf("verify tail seconds %.3f\n", static_cast<double>(p.verifyTailMs) / 1000.0);
    // Unpacking that ran while later volumes were still downloading.
    std::printf("overlap seconds %.3f\n", static_cast<double>(p.overlapMs) / 1000.0);
    std::printf("bytes fetched %lld\n", static_cast<long long>(p.fetchedBytes));
    if (p.updateBytes >= 0) {
      std::printf("update from %s: %lld of %lld bytes\n", p.updateFrom.c_str(),
                  static_cast<long long>(p.updateBytes), static_cast<long long>(p.fullBytes));
    }
  }
  return 0;
}
