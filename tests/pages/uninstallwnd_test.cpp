// The uninstaller's window: it asks first, removes, reports what it removed
// in a skinned box in the user's language, and a second run says there is
// nothing to remove.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "MsgBox/kwuninstallwnd.h"
#include "app/common/ikwmessagebox.h"
#include "app/common/ikwshowdialog.h"
#include "baseview/kwcommand.h"
#include "kwpageapp.h"
#include "kwpageclick.h"
#include "kwpagefixture.h"
#include "language/ikwlang.h"
#include "platform/kwregistry.h"

namespace fs = std::filesystem;

namespace {

::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new kwpagetest::AppEnvironment("kwpages_uninstall_test"));

// Answers every box of the uninstaller as it shows: the question with
// `confirm`, the report with OK; keeps what each said.
class Answerer {
 public:
  explicit Answerer(bool confirm, const char* shotPrefix) : confirm_(confirm) {
    QObject::connect(&timer_, &QTimer::timeout, [this, shotPrefix] {
      auto* box = qobject_cast<CIKWShowDialog*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible() || box->Content() == nullptr) return;
      const std::string name = box->objectName().toStdString();
      seen.push_back(name + ": " + box->Content()->Message());
      if (shotPrefix != nullptr) {
        kwtest::SaveShot(
            box,
            (std::string(shotPrefix) + "-" + std::to_string(seen.size()) + "-" + name).c_str());
      }
      const bool question = name == "kwUninstallQuestion";
      KwPostCommand(box, question && !confirm_ ? kKwCmdBoxCancel : kKwCmdBoxOk);
    });
    timer_.start(50);
  }
  std::vector<std::string> seen;

 private:
  bool confirm_;
  QTimer timer_;
};

class UninstallWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<kwpagetest::ScopedHome>(dir_ / "home");
    in_.selfPath = Folder() + "/uninstall.exe";
    in_.dataRoot = dir_ / "home/.local/share";
    in_.desktopDir = dir_ / "home/Desktop";
  }
  std::string Folder() const { return dir_ / "home/tarnwickinst"; }
  void LayOut(int codePage) {
    kwtest::WriteFile(in_.selfPath, "ELF");
    kwtest::WriteFile(Folder() +
                          "/V2.0.0/Windows/Tarnwick/Plugins/WinUI/Resources/resource/"
                          "itarnwick.ini",
                      "[LANGUAGE]\nCODEPAGE=" + std::to_string(codePage) + "\n");
    kwtest::WriteFile(in_.desktopDir + "/Tarnwick.desktop", "d");
    KwRegKey key;
    KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegWrite, &key);
    key.SetString("InstallPath", Folder().c_str());
  }
  kwtest::TempDir dir_;
  std::unique_ptr<kwpagetest::ScopedHome> home_;
  KwUninstallUiInput in_;
};

TEST_F(UninstallWindow, AsksRemovesReportsAndASecondRunHasNothingToRemove) {
  LayOut(0);
  {
    Answerer no(false, nullptr);
    EXPECT_EQ(KwRunUninstallWindow(in_), kKwUninstallDeclined);
    ASSERT_EQ(no.seen.size(), 1u);
    EXPECT_EQ(no.seen[0],
              "kwUninstallQuestion: Remove Tarnwick from " + Folder() +
                  " ? This removes the version folder V2.0.0, the desktop entry, the settings.");
  }
  // Declined: nothing was touched.
  EXPECT_TRUE(fs::exists(Folder() + "/V2.0.0"));
  EXPECT_TRUE(fs::exists(in_.selfPath));

  {
    Answerer yes(true, "uninstall-en");
    EXPECT_EQ(KwRunUninstallWindow(in_), kKwUninstallDone);
    ASSERT_EQ(yes.seen.size(), 2u);
    EXPECT_EQ(yes.seen[1], "kwUninstallReport: Tarnwick was removed from " + Folder() +
                               ": the version folder V2.0.0, the desktop entry, the settings.");
  }
  EXPECT_FALSE(fs::exists(Folder() + "/V2.0.0"));
  EXPECT_FALSE(fs::exists(in_.desktopDir + "/Tarnwick.desktop"));

  // A second run (a copy left behind) asks nothing and says so.
  kwtest::WriteFile(in_.selfPath, "ELF");
  {
    Answerer again(true, "uninstall-nothing-en");
    EXPECT_EQ(KwRunUninstallWindow(in_), kKwUninstallDone);
    EXPECT_EQ(again.seen,
              std::vector<std::string>{"kwUninstallReport: Tarnwick is not installed in " +
                                       Folder() + ". There is nothing to remove."});
  }
}

TEST_F(UninstallWindow, SpeaksTheLanguageTheProductWasInstalledIn) {
  LayOut(936);
  Answerer yes(true, "uninstall-zh");
  EXPECT_EQ(KwRunUninstallWindow(in_), kKwUninstallDone);
  ASSERT_EQ(yes.seen.size(), 2u);
  EXPECT_EQ(yes.seen[0].rfind("kwUninstallQuestion: 确定要从 " + Folder() + " 卸载塔恩维克吗 ?", 0),
            0u)
      << yes.seen[0];
  EXPECT_EQ(yes.seen[1].rfind("kwUninstallReport: 已从 " + Folder() + " 卸载塔恩维克：", 0), 0u)
      << yes.seen[1];

  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  // Without a product to ask, the user's locale decides.
  std::vector<std::pair<const char*, std::string>> saved;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = getenv(name);
    saved.emplace_back(name, v != nullptr ? v : "\x01");
    unsetenv(name);
  }
  setenv("LANG", "zh_CN.UTF-8", 1);
  EXPECT_EQ(KwUninstallCodePage(dir_ / "nowhere"), kKwCodePageChinese);
  // Nothing left: a second run says so in the user's language.
  kwtest::WriteFile(in_.selfPath, "ELF");
  EXPECT_EQ(KwRunUninstallWindow(in_), kKwUninstallDone);
  ASSERT_EQ(yes.seen.size(), 3u);
  EXPECT_EQ(yes.seen[2],
            "kwUninstallReport: " + Folder() + " 中没有安装塔恩维克，没有需要卸载的内容。");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  setenv("LANG", "en_GB.UTF-8", 1);
  EXPECT_EQ(KwUninstallCodePage(dir_ / "nowhere"), kKwCodePageDefault);
  for (const auto& [name, value] : saved) {
    if (value == "\x01") {
      unsetenv(name);
    } else {
      setenv(name, value.c_str(), 1);
    }
  }
}

// A copy started from another folder names the installation it leaves alone.
TEST_F(UninstallWindow, ReportOfACopyElsewhereSaysTheEntriesWereKept) {
  const std::vector<KwUninstallItem> removed = {{"uninst_version", "V2.0.0"}};
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  EXPECT_EQ(KwUninstallReport("/tmp/copy", removed, {}, "/home/u/tarnwickinst"),
            "Tarnwick was removed from /tmp/copy: the version folder V2.0.0. "
            "The settings, menu and desktop entries belong to the installation in "
            "/home/u/tarnwickinst and were kept.");
  EXPECT_EQ(KwUninstallReport("/x", removed, {{"uninst_desktop", ""}}, ""),
            "Tarnwick was removed from /x: the version folder V2.0.0. "
            "These could not be removed: the desktop entry.");
}

}  // namespace
