// What a screen reader learns about drawn cells: the pure description of
// every cell kind (role, name, state, value), and the accessible objects Qt
// hands to AT-SPI for a live view, in English and in Chinese, with the names
// following a language change and the actions doing what a click does.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QLineEdit>
#include <QTest>

#include "baseview/basectrl/ikwbasewnd.h"
#include "baseview/basectrl/kwaccessdesc.h"
#include "baseview/basectrl/kwviewaccessible.h"
#include "baseview/kwcommand.h"
#include "kwtest/qtapp.h"
#include "language/ikwlang.h"

namespace {

// A page as the installer pages build theirs: texts from the language
// table on every paint, labels naming the edit box and the check box.
class ReaderPage : public CIKWBaseWnd {
 public:
  void CreateAllLineFromData() override {
    KwViewLockGuard lock(LineListMutex());
    auto row = std::make_unique<CKWOneLineForm>(200);
    row->NewCell(1, kKwCellText);  // folder label
    CKWBaseViewObject* path = row->NewCell(2, kKwCellEdit);
    path->text = "/home/user/tarnwickinst";
    path->labelIds = {1};
    CKWBaseViewObject* agree = row->NewCell(3, kKwCellCheck);
    agree->labelIds = {4, 5};
    row->NewCell(4, kKwCellText);
    row->NewCell(5, kKwCellText)->link = true;
    row->NewCell(6, kKwCellButton);
    CKWBaseViewObject* language = row->NewCell(7, kKwCellCombo);
    language->accNameKey = "selectLanguage";
    row->NewCell(8, kKwCellImage);
    AppendLine(std::move(row));
  }
  void LayoutLine(CKWOneLineForm* line, int left, int top, int, int) override {
    KwPlace(line, 1, left + 10, top + 10, 120);
    KwPlace(line, 2, left + 140, top + 10, 300);
    KwPlace(line, 3, left + 10, top + 60, 24);
    KwPlace(line, 4, left + 40, top + 60, 100);
    KwPlace(line, 5, left + 150, top + 60, 200);
    KwPlace(line, 6, left + 400, top + 60, 100);
    KwPlace(line, 7, left + 400, top + 10, 100);
    KwPlace(line, 8, left + 10, top + 120, 50);
  }
  void DrawLineBack(QPainter*, CKWOneLineForm* line, int, int, int, int) override {
    IKWLang* lang = IKWLang::Instance();
    line->GetCell(1)->text = lang->GetText("selectpath");
    line->GetCell(4)->text = lang->GetText("eula");
    line->GetCell(5)->text = lang->GetText("eula1");
    line->GetCell(6)->text = lang->GetText("download");
    CSfDrawComboBox* box = line->GetCell(7)->ComboBox();
    box->Clear();
    box->AddItem(lang->GetText("english"));
    box->AddItem(lang->GetText("chinese"));
    box->Select(lang->CodePage() != 0 ? 1 : 0);
  }
  void OnCommandId(int command) override { commands.push_back(command); }
  std::vector<int> commands;

 private:
  static void KwPlace(CKWOneLineForm* line, int id, int x, int y, int w) {
    line->GetCell(id)->SetRect(x, y, w, 24);
  }
};

QAccessibleInterface* ChildNamed(QAccessibleInterface* view, QAccessible::Role role,
                                 const QString& name) {
  for (int i = 0; i < view->childCount(); ++i) {
    QAccessibleInterface* child = view->child(i);
    if (child != nullptr && child->role() == role && child->text(QAccessible::Name) == name) {
      return child;
    }
  }
  return nullptr;
}

class Reader : public ::testing::Test {
 protected:
  void SetUp() override {
    KwTestApp();
    IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
    page_ = std::make_unique<ReaderPage>();
    page_->resize(600, 200);
    page_->CreateAllLineFromData();
    page_->Create(nullptr, KwRect{0, 0, 600, 200}, 77);
    page_->RebuildRowTable();
    page_->repaint();
    KwPump(150);  // first paint: the edit control
    view_ = QAccessible::queryAccessibleInterface(page_.get());
  }
  void TearDown() override { IKWLang::Instance()->SetCodePage(kKwCodePageDefault); }
  std::unique_ptr<ReaderPage> page_;
  QAccessibleInterface* view_ = nullptr;
};

TEST(ReaderDescription, EveryCellKind) {
  const auto find = [](int) -> const CKWBaseViewObject* { return nullptr; };
  const auto text = [](const std::string& key) { return "<" + key + ">"; };
  KwAccItem item;

  CKWBaseViewObject button(6, kKwCellButton);
  button.text = "  Download ";
  ASSERT_TRUE(KwDescribeCell(button, find, text, 6, &item));
  EXPECT_EQ(item.role, KwAccRole::Button);
  EXPECT_EQ(item.name, "Download");
  EXPECT_TRUE(item.focusable);
  EXPECT_TRUE(item.focused);
  button.enabled = false;
  ASSERT_TRUE(KwDescribeCell(button, find, text, 6, &item));
  EXPECT_TRUE(item.disabled);
  EXPECT_FALSE(item.focused);  // a disabled cell never has the focus

  CKWBaseViewObject check(3, kKwCellCheck);
  check.checked = true;
  ASSERT_TRUE(KwDescribeCell(check, find, text, 0, &item));
  EXPECT_EQ(item.role, KwAccRole::CheckBox);
  EXPECT_TRUE(item.checkable);
  EXPECT_TRUE(item.checked);

  CKWBaseViewObject combo(7, kKwCellCombo);
  combo.text = "painted over the list";
  combo.accNameKey = "selectLanguage";
  combo.ComboBox()->AddItem("English");
  combo.ComboBox()->AddItem("Chinese");
  combo.ComboBox()->Select(1);
  ASSERT_TRUE(KwDescribeCell(combo, find, text, 0, &item));
  EXPECT_EQ(item.role, KwAccRole::ComboBox);
  EXPECT_EQ(item.name, "<selectLanguage>");
  EXPECT_EQ(item.value, "Chinese");

  CKWBaseViewObject secret(9, kKwCellEdit);
  secret.text = "hunter2";
  secret.password = true;
  ASSERT_TRUE(KwDescribeCell(secret, find, text, 0, &item));
  EXPECT_EQ(item.role, KwAccRole::EditableText);
  EXPECT_TRUE(item.password);
  EXPECT_EQ(item.value, "");  // never read out

  CKWBaseViewObject slider(10, kKwCellSlider);
  slider.value = 42;
  ASSERT_TRUE(KwDescribeCell(slider, find, text, 0, &item));
  EXPECT_TRUE(item.hasValue);
  EXPECT_DOUBLE_EQ(item.current, 42);
  EXPECT_DOUBLE_EQ(item.maximum, 100);

  CKWBaseViewObject link(5, kKwCellText);
  link.text = "USER LICENSE AGREEMENT";
  link.link = true;
  ASSERT_TRUE(KwDescribeCell(link, find, text, 0, &item));
  EXPECT_EQ(item.role, KwAccRole::Link);

  // Nothing to read: an empty label, a picture, a hidden cell.
  CKWBaseViewObject empty(11, kKwCellText);
  CKWBaseViewObject picture(12, kKwCellImage);
  picture.text = "ignored";
  EXPECT_FALSE(KwDescribeCell(empty, find, text, 0, &item));
  EXPECT_FALSE(KwDescribeCell(picture, find, text, 0, &item));
  link.visible = false;
  EXPECT_FALSE(KwDescribeCell(link, find, text, 0, &item));
}

TEST_F(Reader, RolesNamesAndStatesInBothLanguages) {
  ASSERT_NE(view_, nullptr);
  // Reading order: label, path, language list; agreement box, its text,
  // the link, the button.  The picture says nothing.
  ASSERT_EQ(view_->childCount(), 7);
  EXPECT_EQ(view_->child(0)->role(), QAccessible::StaticText);
  EXPECT_EQ(view_->child(3)->role(), QAccessible::CheckBox);

  QAccessibleInterface* path = ChildNamed(view_, QAccessible::EditableText, "Choose location");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->object(), page_->findChild<QLineEdit*>("2"));
  EXPECT_EQ(path->text(QAccessible::Value), "/home/user/tarnwickinst");
  QAccessibleInterface* agree =
      ChildNamed(view_, QAccessible::CheckBox, "Agree to the USER LICENSE AGREEMENT");
  ASSERT_NE(agree, nullptr);
  EXPECT_FALSE(agree->state().checked);
  EXPECT_TRUE(agree->state().focusable);
  EXPECT_EQ(agree->parent(), view_);
  EXPECT_EQ(view_->indexOfChild(agree), 3);
  QAccessibleInterface* download = ChildNamed(view_, QAccessible::Button, "Download");
  ASSERT_NE(download, nullptr);
  QAccessibleInterface* language =
      ChildNamed(view_, QAccessible::ComboBox, "Choose default language");
  ASSERT_NE(language, nullptr);
  EXPECT_EQ(language->text(QAccessible::Value), "English");
  EXPECT_NE(ChildNamed(view_, QAccessible::Link, "USER LICENSE AGREEMENT"), nullptr);
  // The rectangle is where the cell is drawn, on the screen.
  EXPECT_EQ(agree->rect(), QRect(page_->mapToGlobal(QPoint(10, 60)), QSize(24, 24)));

  // The same objects speak Chinese after the switch and a repaint.
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  page_->repaint();
  EXPECT_EQ(agree->text(QAccessible::Name), QString::fromUtf8("同意塔恩维克的 用户许可协议"));
  EXPECT_EQ(download->text(QAccessible::Name), QString::fromUtf8("下载"));
  EXPECT_EQ(language->text(QAccessible::Name), QString::fromUtf8("选择默认语言"));
  EXPECT_EQ(language->text(QAccessible::Value), QString::fromUtf8("中文"));
  EXPECT_EQ(path->text(QAccessible::Name), QString::fromUtf8("选择安装位置"));
}

TEST_F(Reader, ActionsDoWhatAClickDoes) {
  QAccessibleInterface* agree = view_->child(3);
  ASSERT_NE(agree, nullptr);
  QAccessibleActionInterface* action = agree->actionInterface();
  ASSERT_NE(action, nullptr);
  EXPECT_TRUE(action->actionNames().contains(QAccessibleActionInterface::toggleAction()));
  action->doAction(QAccessibleActionInterface::toggleAction());
  KwPump(30);
  EXPECT_TRUE(agree->state().checked);
  EXPECT_EQ(page_->commands, std::vector<int>{3});

  // Focus moves where the reader asks, and the state says so.
  action->doAction(QAccessibleActionInterface::setFocusAction());
  EXPECT_EQ(page_->KeyFocusId(), 3);
  EXPECT_TRUE(agree->state().focused);

  QAccessibleInterface* download = ChildNamed(view_, QAccessible::Button, "Download");
  ASSERT_NE(download, nullptr);
  download->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  KwPump(30);
  EXPECT_EQ(page_->commands, (std::vector<int>{3, 6}));

  // A disabled button offers nothing and says so.
  {
    KwViewLockGuard lock(page_->LineListMutex());
    page_->FindCell(6)->enabled = false;
  }
  EXPECT_TRUE(download->state().disabled);
  EXPECT_TRUE(download->actionInterface() == nullptr ||
              download->actionInterface()->actionNames().isEmpty());
}

TEST_F(Reader, ContentScaleKeepsRectanglesOnTheDrawnCells) {
  page_->SetContentScale(0.5);
  page_->repaint();
  QAccessibleInterface* agree =
      ChildNamed(view_, QAccessible::CheckBox, "Agree to the USER LICENSE AGREEMENT");
  ASSERT_NE(agree, nullptr);
  EXPECT_EQ(agree->rect(), QRect(page_->mapToGlobal(QPoint(5, 30)), QSize(12, 12)));
  // A click on the drawn box (in widget pixels) still ticks it.
  QTest::mouseClick(page_.get(), Qt::LeftButton, {}, QPoint(11, 36));
  KwPump(30);
  EXPECT_TRUE(agree->state().checked);
}

}  // namespace
