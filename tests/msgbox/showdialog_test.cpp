// The show dialog with real widgets, offscreen: every button of every kind,
// the caption close button, Escape and Enter, typed input and its limits.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/common/ikwshowdialog.h"
#include "baseview/kwcommand.h"
#include "baseview/kwdraw.h"
#include "baseview/kwframelogic.h"
#include "kwtest/qtapp.h"

namespace {

struct Box {
  std::unique_ptr<CIKWShowDialog> dlg;
  Box(int kind, const char* message = "Hello", const char* input = nullptr) {
    KwTestApp();
    dlg = std::make_unique<CIKWShowDialog>(nullptr, kind);
    dlg->SetMessage(message);
    dlg->SetCaption("prompt");
    dlg->SetButtonTexts("No", "Yes");
    if (input) dlg->SetInitialInput(input);
    dlg->SetPosition(40, 40);
    dlg->show();
    dlg->Content() ? dlg->Content()->grab() : QPixmap();  // First paint: edit controls.
    KwPump(60);
  }
  // Clicks a cell of the content and lets the commands travel.
  void Click(int cellId) {
    CIKWMessageBoxBase* view = dlg->Content();
    ASSERT_NE(view, nullptr);
    CKWBaseViewObject* cell = view->FindCell(cellId);
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(view, Qt::LeftButton, {},
                      QPoint(cell->x + cell->width / 2, cell->y + cell->height / 2));
    KwPump(60);
  }
  bool Ended() const { return !dlg->isVisible(); }
};

struct ButtonCase {
  int kind;
  int cell;
  int result;
  int code;
};

TEST(ShowDialog, EveryButtonEndsWithItsResult) {
  const ButtonCase cases[] = {
      {1, 1003, kKwShowConfirmed, kKwIdOk},      {2, 1003, kKwShowCancelled, kKwIdCancel},
      {2, 1004, kKwShowConfirmed, kKwIdOk},      {3, 1004, kKwShowCancelled, kKwIdCancel},
      {3, 1005, kKwShowSaveAs, kKwIdOk},         {3, 1006, kKwShowSave, kKwIdOk},
      {4, 10006, kKwShowCancelled, kKwIdCancel}, {4, 10005, kKwShowConfirmed, kKwIdOk},
      {5, 10006, kKwShowCancelled, kKwIdCancel}, {5, 10005, kKwShowConfirmed, kKwIdOk},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " cell " << c.cell);
    Box box(c.kind);
    box.dlg->SetMessage("changed");  // Shown from the next repaint on.
    box.Click(c.cell);
    EXPECT_TRUE(box.Ended());
    EXPECT_EQ(box.dlg->Result(), c.result);
    EXPECT_EQ(box.dlg->result(), c.code);
  }
}

TEST(ShowDialog, OtherCellsAndCommandsAreIgnored) {
  Box box(1);
  box.Click(1002);                                // The message text.
  KwPostCommand(box.dlg.get(), kKwCmdBoxCancel);  // Not a command of kind 1.
  KwPostCommand(box.dlg.get(), 77);
  KwPump(60);
  EXPECT_FALSE(box.Ended());
  box.Click(1003);
  EXPECT_TRUE(box.Ended());
}

TEST(ShowDialog, CaptionCloseCancels) {
  Box box(2);
  // The close button of the drawn caption posts 10001 on the press.
  const KwCaptionLayout layout = KwComputeCaptionLayout(box.dlg->width(), false);
  const KwRect close = layout.buttons[kKwBtnClose];
  QTest::mouseClick(box.dlg.get(), Qt::LeftButton, {},
                    QPoint(close.left + close.Width() / 2, close.top + close.Height() / 2));
  KwPump(60);
  EXPECT_TRUE(box.Ended());
  EXPECT_EQ(box.dlg->Result(), kKwShowCancelled);
  EXPECT_EQ(box.dlg->result(), kKwIdCancel);
}

// Keys arrive where a real display sends them: at the box's content, which
// has the focus from the start, and from there at the dialog.
struct KeyCase {
  int kind;
  int key;
  int result;
  int code;
};

TEST(ShowDialog, EnterPressesTheDefaultButtonAndEscapeCancels) {
  const KeyCase cases[] = {
      {1, Qt::Key_Return, kKwShowConfirmed, kKwIdOk},
      {1, Qt::Key_Escape, kKwShowCancelled, kKwIdCancel},
      {2, Qt::Key_Enter, kKwShowConfirmed, kKwIdOk},
      {2, Qt::Key_Escape, kKwShowCancelled, kKwIdCancel},
      {3, Qt::Key_Return, kKwShowSave, kKwIdOk},
      {3, Qt::Key_Escape, kKwShowCancelled, kKwIdCancel},
      {4, Qt::Key_Return, kKwShowConfirmed, kKwIdOk},
      {4, Qt::Key_Escape, kKwShowCancelled, kKwIdCancel},
  };
  for (const KeyCase& c : cases) {
    Box box(c.kind, "Hello", "typed");
    // Kinds 3 and 4 start with the focus in their input field, whose
    // control passes Enter and Escape on to the box.
    QWidget* target = box.dlg->Content();
    if (auto* edit = box.dlg->Content()->findChild<QLineEdit*>()) target = edit;
    QTest::keyClick(target, static_cast<Qt::Key>(c.key));
    KwPump(60);
    EXPECT_TRUE(box.Ended()) << c.kind << " " << c.key;
    EXPECT_EQ(box.dlg->Result(), c.result) << c.kind << " " << c.key;
    EXPECT_EQ(box.dlg->result(), c.code) << c.kind << " " << c.key;
    if (c.kind == 4 && c.result == kKwShowConfirmed) {
      EXPECT_EQ(box.dlg->InputText(), "typed");
    }
  }
}

TEST(ShowDialog, TabWalksTheButtonsAndSpacePressesTheFocusedOne) {
  Box box(2);
  CIKWMessageBoxBase* content = box.dlg->Content();
  EXPECT_EQ(content->FocusOrder(), (std::vector<int>{1003, 1004}));
  QTest::keyClick(content, Qt::Key_Tab);
  EXPECT_EQ(content->KeyFocusId(), 1003);
  QTest::keyClick(content, Qt::Key_Tab);
  EXPECT_EQ(content->KeyFocusId(), 1004);
  QTest::keyClick(content, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(content->KeyFocusId(), 1003);
  // Space presses the focused button: here the one that answers no.
  QTest::keyClick(content, Qt::Key_Space);
  KwPump(60);
  EXPECT_TRUE(box.Ended());
  EXPECT_EQ(box.dlg->Result(), kKwShowCancelled);
  // With close-on-cancel set, Escape ends the dialog without the request.
  Box other(1);
  other.dlg->m_closeOnCancel = 1;
  QTest::keyClick(other.dlg->Content(), Qt::Key_Escape);
  EXPECT_TRUE(other.Ended());
}

TEST(ShowDialog, BoxHasAVisibleEdge) {
  Box box(1);
  const QImage shot = box.dlg->grab().toImage();
  const QColor edge = KwToQColor(kKwBoxEdge);
  // The left and bottom edges, below the caption, and the content inside.
  EXPECT_EQ(shot.pixelColor(0, 200), edge);
  EXPECT_EQ(shot.pixelColor(200, shot.height() - 1), edge);
  EXPECT_NE(shot.pixelColor(1, 200), edge);
}

TEST(ShowDialog, TypedInputIsCopiedOutAndCut) {
  {
    Box box(3, "Save as", "list.json");
    auto* edit = box.dlg->Content()->findChild<QLineEdit*>("1003");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text().toStdString(), "list.json");
    edit->setText(QString(40, QChar(0x4E2D)));  // 40 characters, 120 bytes.
    box.Click(1006);
    EXPECT_EQ(box.dlg->Result(), kKwShowSave);
    EXPECT_EQ(box.dlg->InputText().size(), 69u);  // 23 whole characters within 71 bytes.
  }
  {
    Box box(4, "Name", "first");
    auto* edit = box.dlg->Content()->findChild<QLineEdit*>("10004");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text().toStdString(), "first");
    edit->clear();
    QTest::keyClicks(edit, "second");
    box.Click(10005);
    EXPECT_EQ(box.dlg->InputText(), "second");
  }
  {
    Box box(5, "Notes", "a");
    auto* edit = box.dlg->Content()->findChild<QPlainTextEdit*>("10004");
    ASSERT_NE(edit, nullptr);
    edit->setPlainText(QString(1200, 'z'));
    box.Click(10005);
    EXPECT_EQ(box.dlg->InputText(), std::string(999, 'z'));
  }
  {
    // Cancel does not copy what was typed.
    Box box(4, "Name", "kept");
    box.dlg->Content()->findChild<QLineEdit*>("10004")->setText("typed");
    box.Click(10006);
    EXPECT_EQ(box.dlg->InputText(), "");
  }
}

TEST(ShowDialog, OverlongMessageAndCaptionAreCutAtCharacters) {
  std::string message;
  for (int i = 0; i < 1000; ++i) message += "\xE4\xB8\xAD";  // 3000 bytes of Chinese.
  Box box(1, message.c_str());
  EXPECT_EQ(box.dlg->Content()->Message().size(), 2178u);  // 726 whole characters.
  box.dlg->SetCaption(std::string(800, 'c').c_str());
  EXPECT_EQ(std::string(box.dlg->m_title).size(), 499u);
  box.dlg->EndDialog(kKwIdCancel);
}

TEST(ShowDialog, UnknownKindShowsAnEmptyDialog) {
  Box box(6);
  EXPECT_EQ(box.dlg->Content(), nullptr);
  EXPECT_EQ(box.dlg->width(), kKwShowDialogWidth);
  EXPECT_EQ(box.dlg->height(), kKwShowDialogHeight);
  KwPostCommand(box.dlg.get(), kKwCmdClose);
  KwPump(60);
  EXPECT_TRUE(box.Ended());
}

TEST(ShowDialog, ShowMessageRunsModallyCentredOnTheParent) {
  KwTestApp();
  QWidget parent;
  parent.setGeometry(100, 100, 800, 600);
  parent.show();
  KwPump(30);
  QRect seen;
  bool clicked = false;
  // Press OK once the modal box is up.
  QTimer::singleShot(150, [&] {
    auto* dlg = qobject_cast<CIKWShowDialog*>(QApplication::activeModalWidget());
    if (dlg == nullptr) return;
    seen = dlg->geometry();
    CKWBaseViewObject* ok = dlg->Content()->FindCell(1003);
    QTest::mouseClick(dlg->Content(), Qt::LeftButton, {},
                      QPoint(ok->x + ok->width / 2, ok->y + ok->height / 2));
    clicked = true;
  });
  EXPECT_EQ(KwShowMessage(&parent, "Please input install tagert path !", "prompt"), 0);
  EXPECT_TRUE(clicked);
  const QRect frame = parent.frameGeometry();
  EXPECT_EQ(seen.x(), (frame.left() + frame.left() + frame.width()) / 2 - 280);
  EXPECT_EQ(seen.y(), (frame.top() + frame.top() + frame.height()) / 2 - 160);
  EXPECT_EQ(seen.width(), 560);
}

TEST(ShowDialog, RenderedBoxesAreWritten) {
  for (int kind = 1; kind <= 5; ++kind) {
    Box box(kind, "A message to the user");
    QImage shot = box.dlg->grab().toImage();
    const std::string path =
        std::string(KW_BUILD_DIR) + "/msgbox_kind" + std::to_string(kind) + ".png";
    EXPECT_TRUE(shot.save(QString::fromStdString(path)));
    // The content's background below the caption.
    const QRgb ground = shot.pixel(5, 300) & 0xFFFFFF;
    EXPECT_EQ(ground, kind == 3 ? 0x252525u : 0x272727u);
    box.dlg->EndDialog(kKwIdCancel);
  }
}

}  // namespace
