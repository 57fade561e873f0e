// Page arithmetic and decisions that need no window: size and speed texts,
// the disk warning, the progress line, install-page refresh rules, layouts,
// the main dialog's command routing and the version folder scan.
#include <gtest/gtest.h>

#include "MsgBox/kwpagelayout.h"
#include "MsgBox/kwpagerules.h"
#include "MsgBox/kwpagetext.h"
#include "MsgBox/kwpageversions.h"
#include "kwtest/tempdir.h"

#include <filesystem>

TEST(PageText, SizeLadderSwitchesUnitAtEachPowerOf1024) {
  EXPECT_EQ(KwSizeText(0), "0 B");
  EXPECT_EQ(KwSizeText(1023), "1023 B");
  EXPECT_EQ(KwSizeText(1024), "1.00 KB");
  EXPECT_EQ(KwSizeText(1536), "1.50 KB");
  EXPECT_EQ(KwSizeText(1048575), "1024.00 KB");
  EXPECT_EQ(KwSizeText(1048576), "1.00 MB");
  EXPECT_EQ(KwSizeText(int64_t{1} << 30), "1.00 GB");
  EXPECT_EQ(KwSizeText(int64_t{5} << 40), "5120.00 GB");
  EXPECT_EQ(KwSizeText(-5), "0 B");
}

TEST(PageText, SpeedCarriesLabelAndPerSecondUnit) {
  EXPECT_EQ(KwSpeedText("Speed", 0), "Speed: 0 B/S");
  EXPECT_EQ(KwSpeedText("Speed", 1023), "Speed: 1023 B/S");
  EXPECT_EQ(KwSpeedText("Speed", 3 * 1048576 / 2), "Speed: 1.50 MB/S");
}

TEST(PageText, DiskWarningBelowFortyGiBOnly) {
  const int64_t gib = int64_t{1} << 30;
  EXPECT_TRUE(KwDiskSpaceLow(static_cast<int64_t>(39.99 * gib)));
  EXPECT_TRUE(KwDiskSpaceLow(40 * gib - 1));
  EXPECT_FALSE(KwDiskSpaceLow(40 * gib));
  EXPECT_FALSE(KwDiskSpaceLow(500 * gib));
  EXPECT_TRUE(KwDiskSpaceLow(0));
}

TEST(PageText, ProgressLineFollowsStageAndTotal) {
  const KwProgressTexts texts{"Preparing ...", "Downloading", "Installing", "Already", "Paused"};
  KwProgressCounters c;
  c.installStage = 1;
  EXPECT_EQ(KwProgressLine(texts, c), "Preparing ...");  // total not known yet
  c.totalBytes = 400;
  c.doneBytes = 50;
  EXPECT_EQ(KwProgressLine(texts, c), "Downloading 12.50 %");
  c.installStage = 2;
  c.doneBytes = 400;
  EXPECT_EQ(KwProgressLine(texts, c), "Installing 100.00 %");
  c.doneBytes = 900;  // a counter that runs ahead never shows more than 100
  EXPECT_EQ(KwProgressLine(texts, c), "Installing 100.00 %");
  c.installStage = 0;
  c.diskFree = 2048;
  c.diskTotal = 1048576;
  EXPECT_EQ(KwProgressLine(texts, c), "Already: 2.00 KB / 1.00 MB");
  // A held download says so with what it has; a finished run shows no line
  // (the page reports where the product went instead).
  const KwProgressTexts paused{"Preparing ...", "Downloading", "Installing", "Already", "Paused"};
  c.installStage = 1;
  c.doneBytes = 100;
  c.paused = true;
  EXPECT_EQ(KwProgressLine(paused, c), "Paused 25.00 %");
  c.paused = false;
  c.finished = true;
  EXPECT_EQ(KwProgressLine(paused, c), "");
}

TEST(PageText, LanguageTextsAreFilledInOrderAndNeverAsAFormat) {
  EXPECT_EQ(KwFormatText("Tarnwick %s is installed in %s.", "V2.0.0", "/home/u/t"),
            "Tarnwick V2.0.0 is installed in /home/u/t.");
  EXPECT_EQ(KwFormatText("attempt %d, 100%%", "3"), "attempt 3, 100%");
  // A text from a language file with more places than values, or a place
  // printf would read memory for, stays harmless.
  EXPECT_EQ(KwFormatText("%s %s %n %x", "a"), "a  %n %x");
  EXPECT_EQ(KwFormatText("no places", "a", "b"), "no places");
  EXPECT_EQ(KwFormatText("trailing %", "a"), "trailing %");
  // The disk line warns below what the release needs.
  EXPECT_TRUE(KwDiskSpaceLow(999, 1000));
  EXPECT_FALSE(KwDiskSpaceLow(1000, 1000));
}

TEST(InstallPageRules, FinishedPageOnlyReportsAndLocalInstallersSayInstall) {
  KwInstallPageState s;
  s.runMode = 5;
  KwInstallPageControls c = KwRefreshInstallPage(s);
  EXPECT_STREQ(c.startKey, "install");
  s.runMode = 4;
  EXPECT_STREQ(KwRefreshInstallPage(s).startKey, "install");
  s.runMode = 5;
  s.runActive = true;
  s.finished = true;
  c = KwRefreshInstallPage(s);
  EXPECT_FALSE(c.folderRowVisible);
  EXPECT_FALSE(c.agreementVisible);
  EXPECT_FALSE(c.startVisible);
  EXPECT_FALSE(c.cancelVisible);
}

TEST(InstallPageRules, IdlePageShowsFolderRowAndAgreement) {
  KwInstallPageState s;
  KwInstallPageControls c = KwRefreshInstallPage(s);
  EXPECT_TRUE(c.folderRowVisible);
  EXPECT_TRUE(c.agreementVisible);
  EXPECT_TRUE(c.startVisible);
  EXPECT_STREQ(c.startKey, "download");
  EXPECT_FALSE(c.progressVisible);
  EXPECT_FALSE(c.progressBarVisible);

  // A run that started but has not yet moved the stage hides the agreement
  // and shows the progress text, but no bar yet.
  s.runActive = true;
  c = KwRefreshInstallPage(s);
  EXPECT_FALSE(c.agreementVisible);
  EXPECT_TRUE(c.folderRowVisible);
  EXPECT_TRUE(c.progressVisible);
  EXPECT_FALSE(c.progressBarVisible);
}

TEST(InstallPageRules, DownloadPauseAndInstallStates) {
  KwInstallPageState s;
  s.installStage = 1;
  s.runActive = true;
  KwInstallPageControls c = KwRefreshInstallPage(s);
  EXPECT_FALSE(c.folderRowVisible);
  EXPECT_FALSE(c.agreementVisible);
  EXPECT_STREQ(c.startKey, "pause");
  EXPECT_TRUE(c.speedVisible);
  EXPECT_FALSE(c.speedReadsZero);
  EXPECT_TRUE(c.progressBarVisible);

  s.pauseState = KwToggledPause(s.pauseState);
  EXPECT_EQ(s.pauseState, 2);
  c = KwRefreshInstallPage(s);
  EXPECT_STREQ(c.startKey, "continuedownload");
  EXPECT_TRUE(c.speedReadsZero);
  EXPECT_EQ(KwToggledPause(s.pauseState), 0);

  s.installStage = 2;
  c = KwRefreshInstallPage(s);
  EXPECT_FALSE(c.startVisible);
  EXPECT_FALSE(c.cancelVisible);
  EXPECT_FALSE(c.speedVisible);
  EXPECT_TRUE(c.progressBarVisible);

  // A download waiting to be continued (stage 1, no run: not yet started, or
  // its start was refused) keeps the agreement hidden, as it counts as
  // ticked, and shows its folder and a button that starts the run.
  s.installStage = 1;
  s.runActive = false;
  c = KwRefreshInstallPage(s);
  EXPECT_FALSE(c.agreementVisible);
  EXPECT_FALSE(c.progressVisible);
  EXPECT_TRUE(c.folderRowVisible);
  EXPECT_STREQ(c.startKey, "continuedownload");
  EXPECT_EQ(KwStartButtonClicked(1, false), KwStartButtonAction::StartRun);
  EXPECT_EQ(KwStartButtonClicked(1, true), KwStartButtonAction::TogglePause);
  EXPECT_EQ(KwStartButtonClicked(0, false), KwStartButtonAction::StartRun);
}

TEST(MainDialogRouting, OnlineInstallerFlow) {
  KwMainRouteState s;  // run mode 0, idle
  EXPECT_EQ(KwRouteMainCommand(kCmdStartOnline, s), KwMainAction::ShowInstallOnline);
  EXPECT_EQ(KwRouteMainCommand(kCmdInstallDone, s), KwMainAction::EndEngineAndRefresh);
  EXPECT_EQ(KwRouteMainCommand(kCmdInstallFailed, s), KwMainAction::EndEngine);
  EXPECT_EQ(KwRouteMainCommand(kCmdCaption, s), KwMainAction::ReloadCaption);
  EXPECT_EQ(KwRouteMainCommand(kCmdFirstPageQuit, s), KwMainAction::PostQuit);
  EXPECT_EQ(KwRouteMainCommand(kCmdQuit, s), KwMainAction::Close);
  EXPECT_EQ(KwRouteMainCommand(kCmdMinimise, s), KwMainAction::Ignore);
  EXPECT_EQ(KwRouteMainCommand(90001, s), KwMainAction::Ignore);
  EXPECT_EQ(KwRouteMainCommand(kCmdStartLocal, s), KwMainAction::ChooseLocalPackage);
  s.hasTargetDir = true;
  EXPECT_EQ(KwRouteMainCommand(kCmdStartLocal, s), KwMainAction::ShowInstallLocal);
}

TEST(MainDialogRouting, ExitAsksOnlyWhileDownloadingInOnlineMode) {
  for (int stage : {0, 1, 2}) {
    KwMainRouteState s;
    s.installStage = stage;
    const KwMainAction want = stage == 1 ? KwMainAction::AskExit : KwMainAction::Close;
    EXPECT_EQ(KwRouteMainCommand(kCmdExitRequest, s), want) << "stage " << stage;
    s.runMode = 2;
    EXPECT_EQ(KwRouteMainCommand(kCmdExitRequest, s), KwMainAction::AskExit);
    s.runMode = 4;
    EXPECT_EQ(KwRouteMainCommand(kCmdExitRequest, s), KwMainAction::Close);
  }
  KwMainRouteState beside;
  beside.runMode = 5;
  EXPECT_EQ(KwRouteMainCommand(kCmdInstallFailed, beside), KwMainAction::Close);
  EXPECT_EQ(KwRouteMainCommand(kCmdInstallDone, beside), KwMainAction::OfferStartProduct);
}

TEST(PageLayout, MainWindowPlacement) {
  EXPECT_EQ(KwMainDialogSize(0).w, 1200);
  EXPECT_EQ(KwMainDialogSize(0).h, 700);
  EXPECT_EQ(KwMainDialogSize(2).w, 800);
  EXPECT_EQ(KwMainDialogSize(2).h, 520);
  int left = 0, top = 0;
  KwCentredOrigin(1920, 1080, 1200, 700, &left, &top);
  EXPECT_EQ(left, 360);
  EXPECT_EQ(top, 190);
  // Smaller screen: negative, truncated toward zero (-201 / 2 = -100).
  KwCentredOrigin(999, 599, 1200, 700, &left, &top);
  EXPECT_EQ(left, -100);
  EXPECT_EQ(top, -50);
  EXPECT_TRUE(KwInMakePackageCorner(47, 47));
  EXPECT_FALSE(KwInMakePackageCorner(48, 10));
  EXPECT_FALSE(KwInMakePackageCorner(10, 48));
}

TEST(PageLayout, InstallPageAtDesignedSize) {
  const KwInstallLayout l = KwLayoutInstallPage(0, 0, 1200, 652);
  // h0 = int(0.8 * 580) = 464; height int(0.8*464) = 371; width int(0.8*int(464*1.77833)) = 660.
  EXPECT_EQ(l.logo.Height(), 371);
  EXPECT_EQ(l.logo.Width(), 660);
  EXPECT_EQ(l.logo.left, 270);
  EXPECT_EQ(l.logo.top, (652 - 371 - 72) / 2 - 8);
  EXPECT_EQ(l.startButton.left, 1000);
  EXPECT_EQ(l.cancelButton.left, 884);
  EXPECT_EQ(l.startButton.top, 550);
  EXPECT_EQ(l.pathBox.Width(), 1200 - 456);
  EXPECT_EQ(l.diskLine.top, 512);
  // Controls of one row never overlap each other.
  EXPECT_LE(l.agreeBox.left + l.agreeBox.Width(), l.agreeText.left);
  EXPECT_LE(l.agreeText.left + l.agreeText.Width(), l.privacyLink.left);
  EXPECT_LE(l.cancelButton.left + l.cancelButton.Width(), l.startButton.left);
  EXPECT_LE(l.folderLabel.left + l.folderLabel.Width(), l.pathBox.left);
  EXPECT_LE(l.pathBox.left + l.pathBox.Width(), l.browseButton.left);
  // The progress text starts after the bar's end; the speed text stops
  // before the cancel button.
  const KwRect progress = KwProgressTextRect(0, 1200);
  const KwProgressBar bar = KwLayoutProgressBar(0, 1200, true, 1.0);
  EXPECT_GE(progress.left, bar.track.right);
  EXPECT_LE(progress.right, 1200);
  const KwRect speed = KwSpeedTextRect(0, 1200);
  EXPECT_EQ(speed.left, 218);
  EXPECT_LE(speed.right, l.cancelButton.left);
  EXPECT_EQ(KwSpeedTextRect(0, 600).Width(), 182);
  // Buttons grow to the right only when their text needs it.
  EXPECT_EQ(KwFitButton(l.startButton, 60), l.startButton);
  const KwRect grown = KwFitButton(l.startButton, 130);
  EXPECT_EQ(grown.left, l.startButton.left);
  EXPECT_EQ(grown.Width(), 154);
}

TEST(PageLayout, ProgressBarStaysInsideItsTrack) {
  KwProgressBar bar = KwLayoutProgressBar(0, 1200, true, 0.5);
  EXPECT_EQ(bar.track.left, 218);
  EXPECT_EQ(bar.track.Width(), 1200 - 436);
  EXPECT_EQ(bar.done.Width(), (1200 - 436) / 2);
  bar = KwLayoutProgressBar(0, 1200, false, 1.0);
  EXPECT_EQ(bar.track.left, 104);
  EXPECT_EQ(bar.done.left + bar.done.Width(), bar.track.left + bar.track.Width());
  bar = KwLayoutProgressBar(0, 1200, true, 7.0);
  EXPECT_EQ(bar.done.Width(), bar.track.Width());
  bar = KwLayoutProgressBar(0, 300, true, 0.5);  // narrower than the margins
  EXPECT_EQ(bar.track.Width(), 0);
  EXPECT_EQ(bar.done.Width(), 0);
}

TEST(PageLayout, OnlinePageCentresOnHalfWidth) {
  const KwOnlineLayout l = KwLayoutOnlinePage(0, 0, 1200, 652);
  EXPECT_EQ(l.emblem.left, 480);
  EXPECT_EQ(l.versionLabel.left, 300);
  EXPECT_EQ(l.versionList.left, 500);
  EXPECT_EQ(l.openButton.left, 800);
  EXPECT_EQ(l.installLink.top, 490);
  EXPECT_EQ(l.language.left, 1084);
}

TEST(PageVersions, OnlyTheExactVersionFolderCounts) {
  kwtest::TempDir dir;
  std::filesystem::create_directories(dir / "V2.0.0");
  std::filesystem::create_directories(dir / "V2.0.0-old");
  std::filesystem::create_directories(dir / "v2.0.0");
  kwtest::WriteFile(dir / "V2.0.0.txt", "x");
  const std::vector<std::string> found = KwScanInstalledVersions(dir.path());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], "V2.0.0");
  EXPECT_TRUE(KwScanInstalledVersions(dir / "missing").empty());
  EXPECT_TRUE(KwScanInstalledVersions("").empty());
}

TEST(PageVersions, LeftoverVolumeNeedsNonZeroSize) {
  kwtest::TempDir dir;
  const std::vector<std::string> names{"pkg/V2.0.0_000.tmp", "pkg\\V2.0.0_001.tmp"};
  EXPECT_FALSE(KwHasLeftoverVolume(dir.path(), names));
  kwtest::WriteFile(dir / "V2.0.0_001.tmp", "");
  EXPECT_FALSE(KwHasLeftoverVolume(dir.path(), names));
  kwtest::WriteFile(dir / "V2.0.0_001.tmp", "z");
  EXPECT_TRUE(KwHasLeftoverVolume(dir.path(), names));
  EXPECT_EQ(KwVolumeBaseName("a/b\\c.tmp"), "c.tmp");
}

TEST(PageVersions, DefaultFolderOnLastFixedDrive) {
  EXPECT_EQ(KwChooseInstallDrive({{"C:\\", true}, {"D:\\", true}, {"E:\\", false}}), "D:\\");
  EXPECT_EQ(KwChooseInstallDrive({{"E:\\", false}, {"F:\\", false}}), "E:\\");
  EXPECT_EQ(KwChooseInstallDrive({}), "");
  EXPECT_EQ(KwDefaultInstallFolder("D:\\"), "D:\\tarnwickinst");
  EXPECT_EQ(KwDefaultInstallFolder("/home/u/"), "/home/u/tarnwickinst");
}

TEST(PageVersions, BesidePackageTakesOnlyKwkFiles) {
  kwtest::TempDir dir;
  EXPECT_EQ(KwFindBesidePackage(dir.path()), "");
  std::filesystem::create_directories(dir / "a.kwk");  // a folder
  kwtest::WriteFile(dir / "b.kwk1", "x");
  kwtest::WriteFile(dir / ".hidden.kwk", "x");
  kwtest::WriteFile(dir / "kwk", "x");
  EXPECT_EQ(KwFindBesidePackage(dir.path()), "");
  kwtest::WriteFile(dir / "V2.0.0_000.KWK", "x");
  EXPECT_EQ(KwFindBesidePackage(dir.path()), "V2.0.0_000.KWK");
  kwtest::WriteFile(dir / "T_000.kwk", "x");
  EXPECT_EQ(KwFindBesidePackage(dir.path()), "T_000.kwk");  // name order
}

TEST(PageLayout, PagesFillTheAreaBelowTheCaption) {
  const KwRect r = KwMainPageRect(1200, 700);
  EXPECT_EQ(r.left, 6);
  EXPECT_EQ(r.top, 48);
  EXPECT_EQ(r.Width(), 1188);
  EXPECT_EQ(r.Height(), 646);
  EXPECT_TRUE(KwMainPageRect(10, 20).IsEmpty());
}
