#include "MsgBox/kwpagerules.h"

KwInstallPageControls KwRefreshInstallPage(const KwInstallPageState& s) {
  KwInstallPageControls c;
  const bool downloading = s.installStage == 1;
  const bool installing = s.installStage == 2;
  const bool idle = !downloading && !installing;
  // A download waiting to be continued with no run on (its start was refused,
  // or it stopped) shows its folder and a button that starts it again.
  const bool waiting = downloading && !s.runActive;

  c.folderRowVisible = idle || waiting;
  c.startVisible = !installing;
  if (downloading) {
    c.startKey = waiting || s.pauseState == 2 ? "continuedownload" : "pause";
  } else {
    // The installers with their package at hand have nothing to download.
    c.startKey = s.runMode == 4 || s.runMode == 5 ? "install" : "download";
  }
  c.cancelVisible = !installing;
  c.agreementVisible = idle && !s.runActive;
  c.progressVisible = s.runActive;
  c.progressBarVisible = s.runActive && s.installStage > 0;
  c.speedVisible = s.runActive && downloading;
  c.speedReadsZero = c.speedVisible && s.pauseState == 2;
  if (s.finished) {
    // Nothing is left to choose or start: the page says where the product is.
    c.folderRowVisible = false;
    c.startVisible = false;
    c.cancelVisible = false;
    c.agreementVisible = false;
    c.speedVisible = false;
  }
  return c;
}

KwStartButtonAction KwStartButtonClicked(int32_t installStage, bool runActive) {
  // Pausing needs a run to pause; without one the button starts it.
  return installStage == 0 || !runActive ? KwStartButtonAction::StartRun
                                         : KwStartButtonAction::TogglePause;
}

int32_t KwToggledPause(int32_t pauseState) {
  return pauseState == 2 ? 0 : 2;
}

bool KwExitNeedsQuestion(int32_t runMode, int32_t installStage) {
  if (runMode == 2) return true;
  if (runMode == 0) return installStage == 1;
  return false;
}

KwMainAction KwRouteMainCommand(int command, const KwMainRouteState& s) {
  switch (command) {
    case kCmdInstallFailed:
      return s.runMode == 5 ? KwMainAction::Close : KwMainAction::EndEngine;
    case kCmdInstallDone:
      return s.runMode == 5 ? KwMainAction::OfferStartProduct : KwMainAction::EndEngineAndRefresh;
    case kCmdFirstPageQuit:
      return KwMainAction::PostQuit;
    case kCmdQuit:
      return KwMainAction::Close;
    case kCmdCaption:
      return KwMainAction::ReloadCaption;
    case kCmdExitRequest:
      return KwExitNeedsQuestion(s.runMode, s.installStage) ? KwMainAction::AskExit
                                                            : KwMainAction::Close;
    case kCmdStartOnline:
      return KwMainAction::ShowInstallOnline;
    case kCmdStartLocal:
      return s.hasTargetDir ? KwMainAction::ShowInstallLocal : KwMainAction::ChooseLocalPackage;
    default:
      // The minimise request 10002 among others: this dialog has no use for it.
      return KwMainAction::Ignore;
  }
}
