// Decisions of the installer's windows that do not need a window: which
// install-page controls show and what they read, how the main dialog
// answers each command number, and when closing must ask first.  The widget
// classes apply these results; tests drive them as plain state machines.
#pragma once

#include <cstdint>

// ---- Install page refresh ------------------------------------------------
struct KwInstallPageState {
  int32_t runMode = 0;
  int32_t installStage = 0;  // 0 idle, 1 downloading, 2 installing
  int32_t pauseState = 0;    // 0 running, 2 paused
  bool runActive = false;
  bool finished = false;  // the run installed everything; the page only reports
};

struct KwInstallPageControls {
  bool folderRowVisible = true;  // 107, 108 (with its edit control), 109, 110
  bool startVisible = true;      // 102
  const char* startKey = "download";
  bool cancelVisible = true;     // 103
  bool agreementVisible = true;  // 104, 105, 113
  bool speedVisible = false;     // speed text (while downloading)
  bool progressVisible = false;  // progress text
  bool progressBarVisible = false;
  bool speedReadsZero = false;  // paused: the speed shows 0 B/S
};

KwInstallPageControls KwRefreshInstallPage(const KwInstallPageState& s);

// What a click on the start/pause button does.
enum class KwStartButtonAction { StartRun, TogglePause };
KwStartButtonAction KwStartButtonClicked(int32_t installStage, bool runActive);
// The pause state after a toggle: 0 <-> 2.
int32_t KwToggledPause(int32_t pauseState);

// ---- Main dialog command routing ------------------------------------------
// Command numbers exchanged between pages, the engine and the main dialog.
enum KwMainCommand : int {
  kCmdInstallFailed = 832,
  kCmdInstallDone = 833,
  kCmdFirstPageQuit = 2431,
  kCmdQuit = 3232,
  kCmdCaption = 9103,
  kCmdRefreshVersions = 9104,
  kCmdExitRequest = 10001,
  kCmdMinimise = 10002,
  kCmdStartOnline = 35125,
  kCmdStartLocal = 35126,
  kCmdServerUnreachable = 1000,
  kCmdReleaseRefused = 1001,  // the server's release failed the release key's check
};

enum class KwMainAction {
  Ignore,
  Close,                // end the modal loop (cancel result)
  EndEngine,            // remove the install page, back to the version page
  EndEngineAndRefresh,  // as EndEngine, then rebuild the version list
  PostQuit,             // post 3232 to itself
  ReloadCaption,        // title from "SOFTWARENAME", repaint
  AskExit,              // system question "exitinstques" / "prompt"
  ShowInstallOnline,    // install page with the server as source
  ShowInstallLocal,     // install page with the appended package ("^")
  ChooseLocalPackage,   // open-file dialog for a *.kwk volume
  OfferStartProduct,    // beside-package installer: "torundir"
};

struct KwMainRouteState {
  int32_t runMode = 0;
  int32_t installStage = 0;
  bool hasTargetDir = false;  // the local package page chose a target
};

KwMainAction KwRouteMainCommand(int command, const KwMainRouteState& s);

// Whether the exit request must ask before closing: the guided installer
// always asks, the online installer only while a download is on or waiting
// to be continued; every other case closes at once.
bool KwExitNeedsQuestion(int32_t runMode, int32_t installStage);
