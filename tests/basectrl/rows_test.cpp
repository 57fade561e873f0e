// Rows, cells, the row table and grouping, without a display.
#include <gtest/gtest.h>

#include "baseview/basectrl/kwonelineform.h"
#include "baseview/basectrl/kwrowtable.h"

namespace {

TEST(OneLineForm, FirstCellWithAnIdIsKept) {
  CKWOneLineForm row;
  CKWBaseViewObject* first = row.NewCell(7, kKwCellText);
  first->text = "first";
  auto second = std::make_unique<CKWBaseViewObject>(7, kKwCellButton);
  second->text = "second";
  EXPECT_FALSE(row.AddCell(std::move(second)));
  EXPECT_EQ(row.CellCount(), 1u);
  EXPECT_EQ(row.GetCell(7)->text, "first");
  EXPECT_EQ(row.NewCell(7, kKwCellImage), first);
  EXPECT_EQ(row.GetCell(7)->type, kKwCellText);
}

TEST(OneLineForm, HitTestPrefersTheHighestZOrderAndUsesInclusiveEdges) {
  CKWOneLineForm row;
  CKWBaseViewObject* back = row.NewCell(1, kKwCellText);
  back->SetRect(0, 0, 100, 40);
  CKWBaseViewObject* front = row.NewCell(2, kKwCellButton);
  front->SetRect(50, 10, 20, 20);
  front->zOrder = 2;
  EXPECT_EQ(row.HitTest(55, 15), front);
  EXPECT_EQ(row.HitTest(69, 29), front);  // x + width - 1, y + height - 1.
  EXPECT_EQ(row.HitTest(70, 29), back);
  EXPECT_EQ(row.HitTest(100, 0), nullptr);
  front->zOrder = -1;
  EXPECT_EQ(row.HitTest(55, 15), back);
  std::vector<CKWBaseViewObject*> order = row.PaintOrder();
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], front);
}

TEST(RowTable, TopsTotalsAndHits) {
  CKWOneLineForm a, b, c;
  KwRowTable t;
  t.Rebuild({&a, &b, &c}, {30, 0, 50});
  EXPECT_EQ(t.Total(), 80);
  EXPECT_EQ(t.Entry(2).top, 30);
  EXPECT_EQ(t.RowAt(0), 0);  // The top pixel line belongs to its row.
  EXPECT_EQ(t.RowAt(29), 0);
  EXPECT_EQ(t.RowAt(30), 2);  // The zero-height row never takes a hit.
  EXPECT_EQ(t.RowAt(80), -1);
  EXPECT_EQ(t.VisibleRows(40, 10), (std::vector<int>{2}));
  t.Rebuild({&a}, {-5});
  EXPECT_EQ(t.Total(), 0);
}

TEST(RowGrouping, CollapsedParentsHideTheirGroupOnly) {
  std::vector<std::unique_ptr<CKWOneLineForm>> rows;
  auto add = [&](int tag, bool expanded) {
    rows.push_back(std::make_unique<CKWOneLineForm>());
    rows.back()->tag = tag;
    rows.back()->expanded = expanded;
  };
  add(0, false);  // 0: header of group 3, collapsed.
  add(3, true);   // 1: child of group 3.
  add(3, true);   // 2: child of group 3.
  add(0, true);   // 3: header of group 5, expanded.
  add(5, true);   // 4: child of group 5.
  add(5, false);  // 5: nested header inside group 5, collapsed.
  add(6, true);   // 6: child of the nested header.
  EXPECT_TRUE(KwRowShownByGroup(rows, 0));
  EXPECT_FALSE(KwRowShownByGroup(rows, 1));
  EXPECT_FALSE(KwRowShownByGroup(rows, 2));
  // Group 5 stays visible although the earlier group 3 is collapsed.
  EXPECT_TRUE(KwRowShownByGroup(rows, 4));
  EXPECT_TRUE(KwRowShownByGroup(rows, 5));
  EXPECT_FALSE(KwRowShownByGroup(rows, 6));
  rows[5]->expanded = true;
  EXPECT_TRUE(KwRowShownByGroup(rows, 6));
  rows[3]->expanded = false;
  EXPECT_FALSE(KwRowShownByGroup(rows, 6));
  EXPECT_FALSE(KwRowShownByGroup(rows, 99));
}

TEST(ViewObject, PlaceholderAndEditGeometry) {
  CKWBaseViewObject cell(3, kKwCellEdit);
  cell.SetPlaceholder(std::string(100, 'a'));
  EXPECT_EQ(cell.placeholder().size(), 78u);
  // 26 Chinese characters of three bytes: the cut keeps whole characters.
  std::string cjk;
  for (int i = 0; i < 30; ++i) cjk += "\xE4\xB8\xAD";
  cell.SetPlaceholder(cjk);
  EXPECT_EQ(cell.placeholder().size(), 78u);
  cell.SetPlaceholder(std::string(1, 'x') + cjk);
  EXPECT_EQ(cell.placeholder().size(), 76u);

  cell.SetRect(100, 50, 200, 40);
  EXPECT_EQ(KwEditControlRect(cell), (KwRect{106, 64, 294, 76}));  // Default size 12.
  cell.fontSize = 16;
  EXPECT_EQ(KwEditControlRect(cell), (KwRect{108, 62, 292, 78}));
  cell.fontSize = -1;
  cell.style = 3;
  EXPECT_EQ(KwEditControlRect(cell).Height(), 9);
  cell.wordWrap = true;
  EXPECT_EQ(KwEditControlRect(cell), cell.Rect());
}

TEST(ComboBox, KeysAreIndicesAndBadSelectionsAreIgnored) {
  CSfDrawComboBox box;
  int calls = 0;
  box.SetChangeCallback([&](int code, CSfDrawComboBox*) { calls += code; });
  EXPECT_EQ(box.Selection(), "");
  EXPECT_EQ(box.SelectedText(), "");
  box.AddItem("English");
  box.AddItem("Chinese");
  EXPECT_EQ(box.Item(1).key, "1");
  EXPECT_TRUE(box.Select(1));
  EXPECT_EQ(box.Selection(), "1");
  EXPECT_EQ(box.SelectedText(), "Chinese");
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(box.Select(2));
  EXPECT_FALSE(box.Select(-1));
  EXPECT_EQ(box.Selection(), "1");
  EXPECT_EQ(calls, 3);
}

}  // namespace
