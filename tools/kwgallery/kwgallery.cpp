// kwgallery: shows every cell kind, a scrolling view, a combo box with its
// popup, each message-box kind and the wait dialog, in English and Chinese.
//
//   kwgallery                 a launcher window with a button per screen
//   kwgallery --screen NAME   one screen (cells, scroll, combo, msg1, msg1long,
//                             msg1release, msg2, msg3, msg4, msg5, wait) [--zh]
//   kwgallery --shots DIR     renders every screen in both languages to
//                             DIR/NAME_en.png and DIR/NAME_zh.png and exits
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/common/ikwshowdialog.h"
#include "baseutil/ikwthreadmanager.h"
#include "baseview/kwdlgwait.h"
#include "baseview/kwframelogic.h"
#include "images/kwimageregistry.h"
#include "kwgallerypages.h"
#include "language/ikwlang.h"

namespace {

const char* const kScreens[] = {"cells", "scroll", "combo", "msg1", "msg1long", "msg1release",
                                "msg2",  "msg3",   "msg4",  "msg5", "wait"};

void Settle(int rounds = 6) {
  for (int i = 0; i < rounds; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(15);
  }
}

QImage Grab(QWidget* w) {
  // The first paint creates the edit controls; the second grab shows them.
  w->grab();
  Settle();
  return w->grab().toImage();
}

const char* Lang(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

// Presses and releases the left button at a view point, as a user would.
void ClickAt(QWidget* view, QPoint p) {
  const QPointF local(p);
  const QPointF global(view->mapToGlobal(p));
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(view, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(view, &release);
}

std::unique_ptr<KwGalleryDlg> MakeCells() {
  auto* page = new KwCellsPage(nullptr);
  return std::make_unique<KwGalleryDlg>(page, KwGalleryText("Cells", "单元格"), 900, 560);
}

std::unique_ptr<KwGalleryDlg> MakeScroll() {
  auto* page = new KwListPage(nullptr);
  auto dlg = std::make_unique<KwGalleryDlg>(page, KwGalleryText("Scrolling", "滚动"), 520, 420);
  return dlg;
}

std::unique_ptr<CIKWShowDialog> MakeBox(const std::string& name) {
  int kind = name.rfind("msg1", 0) == 0 ? 1 : name.back() - '0';
  auto dlg = std::make_unique<CIKWShowDialog>(nullptr, kind);
  dlg->SetCaption(Lang("prompt"));
  dlg->SetPosition(80, 80);
  if (name == "msg1") dlg->SetMessage(Lang("pleaseinputtopath"));
  if (name == "msg1long") dlg->SetMessage(Lang("pleasecheck"));
  // The longest of the refusals of an untrusted release or its volumes.
  if (name == "msg1release") {
    std::string longest;
    for (const char* key : {"releasekeybad", "releaseunsigned", "releaseotherkey", "releasechanged",
                            "releaseexpired", "releaseolder", "volumebad", "pathtoolong"}) {
      if (std::strlen(Lang(key)) > longest.size()) longest = Lang(key);
    }
    dlg->SetMessage(longest.c_str());
  }
  if (kind == 2) {
    dlg->SetMessage(Lang("exitinstques"));
    dlg->SetButtonTexts(Lang("cancel"), Lang("install"));
  }
  if (kind == 3) {
    dlg->SetMessage(
        KwGalleryText("Save the package list under this name:", "请输入文件列表的保存名称："));
    dlg->SetInitialInput("list.json");
  }
  if (kind == 4) {
    dlg->SetMessage(Lang("selectpath"));
    dlg->SetInitialInput(KwGalleryText("/home/user/tarnwick", "/home/用户/塔恩维克"));
  }
  if (kind == 5) {
    dlg->SetMessage(KwGalleryText("Release notes:", "版本说明："));
    dlg->SetInitialInput(KwGalleryText("First line\nSecond line", "第一行\n第二行"));
  }
  return dlg;
}

void SlowJob(void*, CKwDlgWait*) {
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
}

// Shows one screen without blocking and returns its picture.
QImage Render(const std::string& name) {
  if (name == "cells" || name == "combo") {
    auto dlg = MakeCells();
    dlg->move(60, 60);
    dlg->show();
    QImage shot = Grab(dlg.get());
    if (name == "combo") {
      CIKWBaseWnd* page = dlg->Page();
      CKWBaseViewObject* combo = page->FindCell(KwCellsPage::kComboId);
      ClickAt(page, QPoint(combo->x + combo->width / 2, combo->y + combo->height / 2));
      Settle();
      shot = Grab(dlg.get());
      if (QWidget* popup = static_cast<CKWBaseView*>(page)->ComboPopup()) {
        const QImage list = Grab(popup);
        QPainter p(&shot);
        p.drawImage(popup->pos() - dlg->pos(), list);
        popup->close();
      }
    }
    dlg->EndDialog(QDialog::Rejected);
    return shot;
  }
  if (name == "scroll") {
    auto dlg = MakeScroll();
    dlg->move(60, 60);
    dlg->show();
    Settle();
    dlg->Page()->ScrollBy(kKwScrollThumbTrack, 520);
    QImage shot = Grab(dlg.get());
    dlg->EndDialog(QDialog::Rejected);
    return shot;
  }
  if (name == "wait") {
    CKwDlgWait dlg(nullptr);
    dlg.SetMessage(Lang("pleasewait"));
    dlg.SetJob(&SlowJob, nullptr);
    dlg.move(80, 80);
    dlg.show();
    Settle(20);
    QImage shot = Grab(&dlg);
    for (int i = 0; i < 300 && !dlg.Done(); ++i) Settle(1);
    Settle();
    return shot;
  }
  auto dlg = MakeBox(name);
  dlg->show();
  QImage shot = Grab(dlg.get());
  dlg->EndDialog(QDialog::Rejected);
  return shot;
}

int Shots(const QString& dir) {
  QDir().mkpath(dir);
  int failures = 0;
  for (int codePage : {0, 936}) {
    IKWLang::Instance()->SetCodePage(codePage);
    for (const char* name : kScreens) {
      const QImage shot = Render(name);
      const QString path = QString("%1/%2_%3.png").arg(dir, name, codePage == 936 ? "zh" : "en");
      if (shot.isNull() || !shot.save(path)) {
        std::fprintf(stderr, "kwgallery: could not write %s\n", path.toUtf8().constData());
        ++failures;
      } else {
        std::printf("%s\n", path.toUtf8().constData());
      }
    }
  }
  return failures == 0 ? 0 : 1;
}

// Runs one screen modally (interactive use).
void RunScreen(const std::string& name) {
  if (name == "cells" || name == "combo") {
    auto dlg = MakeCells();
    dlg->exec();
  } else if (name == "scroll") {
    auto dlg = MakeScroll();
    dlg->exec();
  } else if (name == "wait") {
    CKwDlgWait dlg(nullptr);
    dlg.SetMessage(Lang("pleasewait"));
    dlg.SetJob(&SlowJob, nullptr);
    dlg.exec();
  } else {
    auto dlg = MakeBox(name);
    dlg->exec();
    std::printf("%s: result %d, text \"%s\"\n", name.c_str(), dlg->Result(),
                dlg->InputText().c_str());
  }
}

// The launcher: one button per screen and a language switch.
class KwLauncherPage : public CIKWBaseWnd {
 public:
  KwLauncherPage() : CIKWBaseWnd(nullptr) { SetBackground(true, KwRGB(39, 39, 39)); }
  void CreateAllLineFromData() override {
    KwViewLockGuard lock(LineListMutex());
    ClearLines();
    CKWOneLineForm* row = AppendLine(std::make_unique<CKWOneLineForm>(std::max(height(), 1)));
    int id = 1;
    for (const char* name : kScreens) {
      CKWBaseViewObject* b = row->NewCell(id++, kKwCellButton);
      b->text = name;
      b->fontSize = 14;
    }
    CKWBaseViewObject* lang = row->NewCell(99, kKwCellButton);
    lang->text = "English / 中文";
    lang->bkColor = KwRGB(68, 122, 250);
    lang->fontSize = 14;
  }
  void LayoutLine(CKWOneLineForm* line, int left, int top, int, int) override {
    for (const auto& kv : line->Cells()) {
      const int i = kv.first == 99 ? 10 : kv.first - 1;
      kv.second->SetRect(left + 24 + (i % 3) * 130, top + 20 + (i / 3) * 50, 120, 36);
    }
  }
  void OnCommandId(int command) override {
    if (command == 99) {
      IKWLang* lang = IKWLang::Instance();
      lang->SetCodePage(lang->CodePage() == 936 ? 0 : 936);
      Repaint();
    } else if (command >= 1 && command <= 10) {
      RunScreen(kScreens[command - 1]);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  IKWLang::StartupLoadBuiltIn();
  CKwImageRegistry registry;
  registry.RegisterCaptionImages();
  CKwImageRegistry::SetCurrent(&registry);

  QString shotsDir;
  std::string screen;
  bool chinese = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--shots") == 0 && i + 1 < argc) shotsDir = argv[++i];
    if (std::strcmp(argv[i], "--screen") == 0 && i + 1 < argc) screen = argv[++i];
    if (std::strcmp(argv[i], "--zh") == 0) chinese = true;
  }
  IKWLang::Instance()->SetCodePage(chinese ? 936 : 0);

  int rc = 0;
  if (!shotsDir.isEmpty()) {
    rc = Shots(shotsDir);
  } else if (!screen.empty()) {
    RunScreen(screen);
  } else {
    KwGalleryDlg launcher(new KwLauncherPage(), "kwgallery", 440, 300);
    launcher.exec();
  }
  CKWThreadManager::StopAll();
  CKwImageRegistry::SetCurrent(nullptr);
  return rc;
}
