// Process-wide state shared by every layer of the installer.
//
// The values are plain data: each one is written by a single side (start-up,
// the install engine, or a page on the user-interface thread) and read by the
// others without a lock, so the writer must finish before readers start.
// Capacities are those of the fixed narrow buffers the rest of the program
// copies into; every writer must keep the terminating NUL inside them.
#pragma once

#include <atomic>
#include <cstdint>

// What this build of the program does; fixed per executable at link time.
enum class RunMode : int32_t {
  Online = 0,
  MakePackage = 1,
  Guided = 2,
  Bundle = 3,
  LocalPackage = 4,
  BesidePackage = 5,
  Uninstall = 6,
};

// Defined in the run-mode unit that each executable is built with.
extern const int32_t g_runMode;

inline constexpr int kExePathSize = 1024;
inline constexpr int kFolderSize = 512;
inline constexpr int kProgramDirCopySize = 500;
inline constexpr int kVersionTextSize = 80;

extern char g_exePath[kExePathSize];    // Full path of the running executable.
extern char g_exeDir[kExePathSize];     // Its folder, without a trailing separator.
extern char g_programDir[kFolderSize];  // The same folder, fetched again at start.
extern char g_programDirCopy[kProgramDirCopySize];
extern char g_installPath[kFolderSize];  // "InstallPath" from the key store, or empty.
extern char g_dataDir[kFolderSize];      // The product's roaming data folder.
extern char g_logRoot[kFolderSize];      // Root handed to the log.
extern char g_actionExe[kFolderSize];    // The action-driver program (logged only).
extern char g_targetDir[kFolderSize];    // Target chosen on the local package page.

// Install state: 0 idle, 1 downloading (or a download waiting to be
// continued), 2 installing.  Pause: 0 running, 2 paused.  These are read by
// worker threads while the window thread writes them, so they are atomics.
extern std::atomic<int32_t> g_installStage;
extern std::atomic<int32_t> g_pauseState;
extern char g_versionText[kVersionTextSize];  // The server's current version.

// 1 from program start; the stop sequence clears it so pooled workers end.
extern std::atomic<int32_t> g_threadsMayRun;
// Set by the make-package dialog's Cancel; the maker's walk and chunk loop
// watch it.
extern std::atomic<int32_t> g_makeStopFlag;

// Copies src into a fixed buffer of `size` bytes, cutting at a UTF-8
// character boundary when it does not fit; always NUL-terminates.
// Returns false when the text had to be cut.
bool KwCopyText(char* dst, int size, const char* src);
