#include "MsgBox/kwuninstallwnd.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "MsgBox/desktop/kwuninstall.h"
#include "MsgBox/desktop/kwuninstallsurvey.h"
#include "MsgBox/kwpagelaunch.h"
#include "MsgBox/kwpagetext.h"
#include "app/common/ikwshowdialog.h"
#include "baseutil/ikwlog.h"
#include "language/ikwlang.h"
#include "platform/kwinifile.h"

namespace {

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

// The items as one run of text: the skinned box wraps its message but
// keeps no line breaks.
std::string ItemList(const std::vector<KwUninstallItem>& items) {
  std::string text;
  for (const KwUninstallItem& item : items) {
    if (!text.empty()) text += Text("listsep");
    text += KwFormatText(Text(item.key), item.name);
  }
  return text;
}

// A skinned box of `kind` (1 message, 2 question) in the middle of the
// screen; true when it was confirmed.
bool ShowBox(int kind, const std::string& message) {
  CIKWShowDialog dlg(nullptr, kind);
  dlg.setObjectName(kind == 2 ? "kwUninstallQuestion" : "kwUninstallReport");
  dlg.SetMessage(message.c_str());
  dlg.SetCaption(Text("SOFTWARENAME"));
  if (kind == 2) dlg.SetButtonTexts(Text("uninstall"), Text("cancel"));
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect s = screen->availableGeometry();
    dlg.SetPosition(s.left() + (s.width() - kKwShowDialogWidth) / 2,
                    s.top() + (s.height() - kKwShowDialogHeight) / 2);
  }
  dlg.exec();
  return dlg.Result() == kKwShowConfirmed;
}

}  // namespace

int KwUninstallCodePage(const std::string& installFolder) {
  const std::string ini = KwProductIniPath(installFolder + "/V2.0.0");
  const int32_t stored = KwGetPrivateProfileInt("LANGUAGE", "CODEPAGE", -1, ini.c_str());
  if (stored == 0 || stored == kKwCodePageChinese) return stored;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    return std::strncmp(value, "zh", 2) == 0 ? kKwCodePageChinese : kKwCodePageDefault;
  }
  return kKwCodePageDefault;
}

std::string KwUninstallReport(const std::string& folder,
                              const std::vector<KwUninstallItem>& removed,
                              const std::vector<KwUninstallItem>& stayed,
                              const std::string& otherFolder) {
  std::string text;
  if (!removed.empty()) text = KwFormatText(Text("uninstalldone"), folder, ItemList(removed));
  if (!stayed.empty()) {
    if (!text.empty()) text += " ";
    text += KwFormatText(Text("uninstallfailed"), ItemList(stayed));
  }
  if (!otherFolder.empty()) {
    if (!text.empty()) text += " ";
    text += KwFormatText(Text("uninstallkept"), otherFolder);
  }
  return text;
}

int KwRunUninstallWindow(const KwUninstallUiInput& in) {
  const std::string folder = FolderOf(in.selfPath);
  IKWLang::Instance()->SetCodePage(KwUninstallCodePage(folder));
  const char* data = in.dataRoot.c_str();
  const char* desktop = in.desktopDir.c_str();
  const std::vector<KwUninstallItem> before = KwSurveyUninstall(in.selfPath.c_str(), data, desktop);
  const std::string entriesFolder = KwEntriesFolder();
  const std::string otherFolder = KwEntriesNameFolder(folder) ? std::string() : entriesFolder;
  if (before.empty()) {
    ShowBox(1, KwFormatText(Text("uninstallnothing"), folder));
    return kKwUninstallDone;
  }
  const std::string question = KwFormatText(Text("uninstallask"), folder, ItemList(before));
  if (!ShowBox(2, question)) {
    KW_LOG(4, "Uninstall", "declined");
    return kKwUninstallDeclined;
  }
  UninstallFrom(in.selfPath.c_str(), data, desktop);
  const std::vector<KwUninstallItem> after = KwSurveyUninstall(in.selfPath.c_str(), data, desktop);
  std::vector<KwUninstallItem> removed;
  std::vector<KwUninstallItem> stayed;
  for (const KwUninstallItem& item : before) {
    const bool left = std::find(after.begin(), after.end(), item) != after.end();
    (left ? stayed : removed).push_back(item);
  }
  ShowBox(1, KwUninstallReport(folder, removed, stayed, otherFolder));
  return stayed.empty() ? kKwUninstallDone : kKwUninstallFailed;
}
