// Real view widgets, offscreen: clicks, drags, wheel, scroll bar, edit
// controls, combo popup, command routing and repaint coalescing.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
#include <thread>
#include <vector>

#include "app/common/ikwbasepopup.h"
#include "baseview/basectrl/ikwbasewnd.h"
#include "baseview/ikwbasedlg.h"
#include "baseview/kwcommand.h"
#include "kwtest/qtapp.h"

namespace {

// Rows of 40 pixels; in each row a button (ID 100 * row + 1) at x 10, a
// check box (+2) at x 120, a text label (+3) at x 230 and an edit box (+4)
// at x 340, all 30 high.  Records what reaches the page.
class TestPage : public CIKWBaseWnd {
 public:
  explicit TestPage(int rows, CIKWBaseDlg* owner = nullptr) : CIKWBaseWnd(owner), rows_(rows) {}

  void CreateAllLineFromData() override {
    KwViewLockGuard lock(LineListMutex());
    ClearLines();
    for (int r = 0; r < rows_; ++r) AppendLine(MakeRow(r));
  }
  std::unique_ptr<CKWOneLineForm> MakeRow(int r) {
    auto row = std::make_unique<CKWOneLineForm>(40);
    row->NewCell(100 * r + 1, kKwCellButton)->text = "Go";
    row->NewCell(100 * r + 2, kKwCellCheck)->text = "Tick";
    row->NewCell(100 * r + 3, kKwCellText)->text = "Label";
    CKWBaseViewObject* edit = row->NewCell(100 * r + 4, kKwCellEdit);
    edit->text = r == 0 ? "typed" : "";
    edit->SetPlaceholder("cue");
    return row;
  }
  void LayoutLine(CKWOneLineForm* line, int left, int top, int, int) override {
    ++layouts;
    int i = 0;
    for (const auto& kv : line->Cells())
      kv.second->SetRect(left + 10 + 110 * i++, top + 5, 100, 30);
  }
  // Rows keep 40 pixels here, unlike a page that fills the view.
  void KwOnSize(int, int) override { RebuildRowTable(); }
  void OnCommandId(int command) override { commands.push_back(command); }
  void OnCellRightClicked(CKWOneLineForm*, int, int, CKWBaseViewObject* cell) override {
    rightClicked.push_back(cell->id);
  }
  void OnHoverCell(CKWOneLineForm*, CKWBaseViewObject* cell) override {
    hovered = cell ? cell->id : 0;
  }
  // Cell click commands only (no 90001, no 10981).
  std::vector<int> Clicks() const {
    std::vector<int> out;
    for (int c : commands) {
      if (c != kKwCmdOwnerNotify && c != kKwCmdRefreshRows) out.push_back(c);
    }
    return out;
  }

  std::vector<int> commands;
  std::vector<int> rightClicked;
  int hovered = 0;
  int layouts = 0;

 private:
  int rows_;
};

class OwnerDlg : public CIKWBaseDlg {
 public:
  std::vector<int> received;

 protected:
  void IKW_OnCommand(int command) override { received.push_back(command); }
};

struct Shown {
  std::unique_ptr<TestPage> page;
  explicit Shown(int rows, int height = 300, CIKWBaseDlg* owner = nullptr) {
    KwTestApp();
    page = std::make_unique<TestPage>(rows, owner);
    page->resize(480, height);
    page->CreateAllLineFromData();
    page->RebuildRowTable();
    page->show();
    KwPump(40);
  }
  QPoint CellCentre(int id) {
    CKWBaseViewObject* c = page->FindCell(id);
    return QPoint(c->x + c->width / 2, c->y + c->height / 2);
  }
};

TEST(ViewWidget, ClickPostsTheCellIdToTheView) {
  Shown v(3);
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, v.CellCentre(101));
  KwPump();
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{101}));
  // A press on the label and a click outside every cell.
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, v.CellCentre(203));
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, QPoint(470, 290));
  KwPump();
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{101, 203}));
}

TEST(ViewWidget, ReleaseOverAnotherRowClicksThePressedCell) {
  Shown v(3);
  QTest::mousePress(v.page.get(), Qt::LeftButton, {}, v.CellCentre(101));
  QTest::mouseMove(v.page.get(), v.CellCentre(201));
  QTest::mouseRelease(v.page.get(), Qt::LeftButton, {}, v.CellCentre(201));
  KwPump();
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{101}));
}

TEST(ViewWidget, DisabledAndInvisibleCellsPostNothingAndCheckBoxesToggle) {
  Shown v(2);
  v.page->FindCell(1)->enabled = false;
  v.page->FindCell(101)->visible = false;
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, v.CellCentre(1));
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, v.CellCentre(101));
  KwPump();
  EXPECT_TRUE(v.page->Clicks().empty());
  CKWBaseViewObject* check = v.page->FindCell(102);
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, v.CellCentre(102));
  KwPump();
  EXPECT_TRUE(check->checked);
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, v.CellCentre(102));
  KwPump();
  EXPECT_FALSE(check->checked);
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{102, 102}));
}

TEST(ViewWidget, DoubleClickIsOneClickOnAButtonAndTwoOnACheckBox) {
  Shown v(2);
  KwDoubleClick(v.page.get(), v.CellCentre(101));
  KwPump();
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{101}));
  KwDoubleClick(v.page.get(), v.CellCentre(102));
  KwPump();
  EXPECT_FALSE(v.page->FindCell(102)->checked);
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{101, 102, 102}));
}

TEST(ViewWidget, RightClickAndHoverReachTheirHooks) {
  Shown v(2);
  QTest::mouseClick(v.page.get(), Qt::RightButton, {}, v.CellCentre(103));
  v.page->FindCell(101)->enabled = false;
  QTest::mouseClick(v.page.get(), Qt::RightButton, {}, v.CellCentre(101));
  QTest::mouseMove(v.page.get(), v.CellCentre(102));
  KwPump();
  EXPECT_EQ(v.page->rightClicked, (std::vector<int>{103}));
  EXPECT_EQ(v.page->hovered, 102);
  EXPECT_TRUE(v.page->Clicks().empty());
}

TEST(ViewWidget, PressNotifiesTheOwnerDialog) {
  KwTestApp();
  OwnerDlg owner;
  Shown v(1, 300, &owner);
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, QPoint(470, 200));
  KwPump();
  ASSERT_FALSE(owner.received.empty());
  for (int c : owner.received) EXPECT_EQ(c, kKwCmdOwnerNotify);
}

void Wheel(QWidget* w, int delta) {
  QWheelEvent e(QPointF(100, 100), QPointF(w->mapToGlobal(QPoint(100, 100))), QPoint(),
                QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

TEST(ViewWidget, WheelScrollsAndDoesNothingAtTheEnds) {
  Shown v(20, 300);  // 800 pixels of rows in 300: maximum 500, step 100.
  ASSERT_TRUE(v.page->ScrollBarVisible());
  KwPump(250);
  const int paints = v.page->PaintCount();
  Wheel(v.page.get(), 120);  // Up at the top.
  KwPump(250);
  EXPECT_EQ(v.page->ScrollPosition(), 0);
  EXPECT_EQ(v.page->PaintCount(), paints);
  Wheel(v.page.get(), -120);
  KwPump(250);
  EXPECT_EQ(v.page->ScrollPosition(), 100);
  EXPECT_GT(v.page->PaintCount(), paints);
  for (int i = 0; i < 10; ++i) Wheel(v.page.get(), -120);
  EXPECT_EQ(v.page->ScrollPosition(), 500);
  // Clicks land on the scrolled rows: row 12 is now at the top.
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, QPoint(40, 10));
  KwPump();
  EXPECT_EQ(v.page->Clicks(), (std::vector<int>{1201}));
}

TEST(ViewWidget, ScrollBarArrowsAndThumbDrag) {
  Shown v(20, 300);
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, QPoint(468, 290));  // Down arrow.
  KwPump();
  EXPECT_EQ(v.page->ScrollPosition(), 24);
  QTest::mouseClick(v.page.get(), Qt::LeftButton, {}, QPoint(468, 10));  // Up arrow.
  KwPump();
  EXPECT_EQ(v.page->ScrollPosition(), 0);
  // Track 252, maximum 500: thumb max(12, 252 * 252 / 500) = 127, range 125.
  const KwScrollBarGeometry g = v.page->Scroll().Geometry(v.page->ClientRect());
  EXPECT_EQ(g.thumbLength, 127);
  QTest::mousePress(v.page.get(), Qt::LeftButton, {}, QPoint(468, 40));
  QTest::mouseMove(v.page.get(), QPoint(468, 65));  // 25 of 125 pixels: a fifth.
  QTest::mouseRelease(v.page.get(), Qt::LeftButton, {}, QPoint(468, 65));
  KwPump();
  EXPECT_EQ(v.page->ScrollPosition(), 100);
  EXPECT_TRUE(v.page->Clicks().empty());  // Bar presses never click cells.
}

TEST(ViewWidget, ContentDragFollowsThePointer) {
  Shown v(20, 300);
  QTest::mousePress(v.page.get(), Qt::LeftButton, {}, QPoint(450, 200));
  QTest::mouseMove(v.page.get(), QPoint(450, 195));
  EXPECT_EQ(v.page->ScrollPosition(), 0);  // Within 8 pixels.
  QTest::mouseMove(v.page.get(), QPoint(450, 150));
  EXPECT_EQ(v.page->ScrollPosition(), 50);
  QTest::mouseRelease(v.page.get(), Qt::LeftButton, {}, QPoint(450, 150));
}

TEST(ViewWidget, CommandRebuildsRowsBeforeThePage) {
  Shown v(2, 300);
  EXPECT_EQ(v.page->RowCount(), 2);
  v.page->AppendLine(v.page->MakeRow(2));
  KwPostCommand(v.page.get(), kKwCmdRefreshRows);
  KwPostCommand(v.page.get(), 4242);
  KwPump();
  EXPECT_EQ(v.page->RowCount(), 3);
  EXPECT_EQ(v.page->commands, (std::vector<int>{kKwCmdRefreshRows, 4242}));
}

TEST(ViewWidget, RepaintRequestsFromThreadsCoalesce) {
  Shown v(2, 300);
  KwPump(250);
  const int before = v.page->PaintCount();
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 500; ++i) v.page->RequestRepaint();
    });
  }
  for (auto& w : workers) w.join();
  KwPump(450);
  const int paints = v.page->PaintCount() - before;
  EXPECT_GE(paints, 1);
  EXPECT_LE(paints, 2);  // 2000 requests, at most one repaint per 100 ms tick.
}

TEST(ViewWidget, EditControlsFollowTheirCells) {
  Shown v(2, 300);
  v.page->grab();  // The first paint makes the edit controls.
  KwPump(150);
  CKWBaseViewObject* cell = v.page->FindCell(4);
  ASSERT_NE(cell->Editor(), nullptr);
  auto* edit = v.page->findChild<QLineEdit*>("4");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text().toStdString(), "typed");
  EXPECT_EQ(v.page->findChild<QLineEdit*>("104")->placeholderText().toStdString(), "cue");
  const KwRect want = KwEditControlRect(*cell);
  EXPECT_EQ(edit->x(), want.left);
  EXPECT_EQ(edit->width(), want.Width());
  EXPECT_LE(edit->y(), want.top);
  EXPECT_GE(edit->y() + edit->height(), want.bottom);
  edit->setText("");
  QTest::keyClicks(edit, "new text");
  v.page->PullEditTexts();
  EXPECT_EQ(cell->text, "new text");
  // Scrolling moves the control with its cell.
  v.page->resize(480, 60);
  v.page->ScrollBy(kKwScrollThumbTrack, 30);
  v.page->grab();
  KwPump(200);
  EXPECT_EQ(edit->x(), KwEditControlRect(*cell).left);
  EXPECT_EQ(v.page->ScrollPosition(), 20);  // 80 pixels of rows in 60.
  EXPECT_EQ(KwEditControlRect(*cell).top, 5 + (30 - 12) / 2 - 20);
  // Destroying the rows destroys the controls.
  v.page->ClearLines();
  EXPECT_EQ(v.page->findChild<QLineEdit*>("4"), nullptr);
}

TEST(ViewWidget, ComboBoxChoosesFromItsPopup) {
  KwTestApp();
  class ComboPage : public TestPage {
   public:
    ComboPage() : TestPage(1) {}
    void CreateAllLineFromData() override {
      KwViewLockGuard lock(LineListMutex());
      auto row = std::make_unique<CKWOneLineForm>(40);
      CKWBaseViewObject* combo = row->NewCell(9, kKwCellCombo);
      for (const char* t : {"English", "Chinese", "Japanese"}) combo->ComboBox()->AddItem(t);
      combo->ComboBox()->SetChangeCallback([this](int code, CSfDrawComboBox*) { changes += code; });
      AppendLine(std::move(row));
    }
    int changes = 0;
  };
  ComboPage page;
  page.resize(480, 300);
  page.CreateAllLineFromData();
  page.RebuildRowTable();
  page.show();
  KwPump(40);
  QTest::mouseClick(&page, Qt::LeftButton, {}, QPoint(50, 20));
  KwPump(60);
  auto* menu = qobject_cast<IKWMShowPopMenu*>(page.ComboPopup());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->height(), 3 * kKwPopupRowHeight);
  EXPECT_EQ(menu->width(), 100);
  EXPECT_FALSE(menu->List()->ScrollBarVisible());
  QTest::mouseClick(menu->List(), Qt::LeftButton, {}, QPoint(40, 36 + 18));
  KwPump(60);
  EXPECT_EQ(page.FindCell(9)->ComboBox()->Selection(), "1");
  EXPECT_EQ(page.changes, 3);
  EXPECT_EQ(page.ComboPopup(), nullptr);  // Closed and deleted itself.
  // Escape closes a new popup without a choice.
  QTest::mouseClick(&page, Qt::LeftButton, {}, QPoint(50, 20));
  KwPump(60);
  menu = qobject_cast<IKWMShowPopMenu*>(page.ComboPopup());
  ASSERT_NE(menu, nullptr);
  QTest::keyClick(menu, Qt::Key_Escape);
  KwPump(60);
  EXPECT_EQ(page.ComboPopup(), nullptr);
  EXPECT_EQ(page.FindCell(9)->ComboBox()->Selection(), "1");
  EXPECT_EQ(page.changes, 3);
}

TEST(ViewWidget, SliderDragPostsOnEveryMoveAndOnRelease) {
  KwTestApp();
  class SliderPage : public TestPage {
   public:
    SliderPage() : TestPage(1) {}
    void CreateAllLineFromData() override {
      KwViewLockGuard lock(LineListMutex());
      auto row = std::make_unique<CKWOneLineForm>(40);
      row->NewCell(5, kKwCellSlider);  // Value 0 of -100..100.
      AppendLine(std::move(row));
    }
    void LayoutLine(CKWOneLineForm* line, int left, int top, int, int) override {
      line->GetCell(5)->SetRect(left + 10, top + 5, 212, 30);  // Track of 200 pixels.
    }
    void OnSliderMoved(CKWOneLineForm*, CKWBaseViewObject*) override { ++moved; }
    void OnSliderReleased(CKWOneLineForm*, CKWBaseViewObject*) override { ++released; }
    int moved = 0;
    int released = 0;
  };
  SliderPage page;
  page.resize(300, 100);
  page.CreateAllLineFromData();
  page.RebuildRowTable();
  page.show();
  KwPump(40);
  const QPoint thumb(10 + 6 + 100, 20);
  QTest::mousePress(&page, Qt::LeftButton, {}, thumb);
  QTest::mouseMove(&page, thumb + QPoint(50, 0));
  QTest::mouseMove(&page, thumb + QPoint(500, 3));
  QTest::mouseRelease(&page, Qt::LeftButton, {}, thumb + QPoint(500, 3));
  KwPump();
  EXPECT_DOUBLE_EQ(page.FindCell(5)->value, 100);
  EXPECT_EQ(page.moved, 2);
  EXPECT_EQ(page.released, 1);
  // Two moves, the release, and the click of the pressed slider.
  EXPECT_EQ(page.Clicks(), (std::vector<int>{5, 5, 5, 5}));
}

TEST(ViewWidget, PageFirstRowFillsTheViewAndLongPopupsScroll) {
  KwTestApp();
  class FillPage : public CIKWBaseWnd {
   public:
    void CreateAllLineFromData() override {
      auto row = std::make_unique<CKWOneLineForm>(10);
      CKWBaseViewObject* combo = row->NewCell(9, kKwCellCombo);
      for (int i = 0; i < 12; ++i) combo->ComboBox()->AddItem("item " + std::to_string(i));
      AppendLine(std::move(row));
    }
    void LayoutLine(CKWOneLineForm* line, int left, int top, int, int) override {
      line->GetCell(9)->SetRect(left + 10, top + 10, 150, 30);
    }
  };
  FillPage page;
  page.CreateAllLineFromData();
  page.resize(320, 240);
  page.show();
  KwPump(150);
  EXPECT_EQ(page.GetLine(0)->height, 240);
  EXPECT_EQ(page.TotalHeight(), 240);
  EXPECT_FALSE(page.ScrollBarVisible());
  QTest::mouseClick(&page, Qt::LeftButton, {}, QPoint(40, 20));
  KwPump(60);
  auto* menu = qobject_cast<IKWMShowPopMenu*>(page.ComboPopup());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->height(), 288);
  EXPECT_TRUE(menu->List()->ScrollBarVisible());
  EXPECT_EQ(menu->List()->TotalHeight(), 12 * 36);
  menu->Dismiss();
  KwPump(60);
  EXPECT_EQ(page.ComboPopup(), nullptr);
}

TEST(ViewWidget, RenderedPageShowsItsCells) {
  Shown v(3, 200);
  QImage shot = v.page->grab().toImage();
  const std::string path = std::string(KW_BUILD_DIR) + "/basectrl_page.png";
  EXPECT_TRUE(shot.save(QString::fromStdString(path)));
  // The view background, and a button face in the default cell colour.
  EXPECT_EQ(shot.pixelColor(475 - 24, 195).rgb() & 0xFFFFFF, 0x787878u);
  CKWBaseViewObject* button = v.page->FindCell(101);
  EXPECT_EQ(shot.pixelColor(button->x + 50, button->y + 3).rgb() & 0xFFFFFF, 0x333238u);
  // The scroll bar at the right: 120 pixels of rows in 200 show none.
  EXPECT_FALSE(v.page->ScrollBarVisible());
  EXPECT_EQ(KwViewLockOrderViolations(), 0);
}

}  // namespace
