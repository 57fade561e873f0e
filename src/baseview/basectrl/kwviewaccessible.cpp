#include "baseview/basectrl/kwviewaccessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QWindow>
#include <map>
#include <utility>
#include <vector>

#include "baseview/basectrl/CKWBaseView.h"
#include "baseview/basectrl/CKwEdit.h"

namespace {

using CellKey = std::pair<int, int>;  // row, cell ID

bool SameItem(const KwAccItem& a, const KwAccItem& b) {
  return a.row == b.row && a.id == b.id;
}

class KwViewAccessible;

// One cell of a view.  It holds only the view and the cell's key; every
// answer comes from the view's current description.
class KwCellAccessible : public QAccessibleInterface,
                         public QAccessibleActionInterface,
                         public QAccessibleValueInterface {
 public:
  KwCellAccessible(CKWBaseView* view, CellKey key) : view_(view), key_(key) {}

  bool Find(KwAccItem* out) const;

  bool isValid() const override { return view_ != nullptr && Find(nullptr); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override {
    return view_ != nullptr ? view_->window()->windowHandle() : nullptr;
  }
  QAccessibleInterface* parent() const override {
    return view_ != nullptr ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    KwAccItem item;
    if (!Find(&item)) return {};
    if (t == QAccessible::Name) return QString::fromUtf8(item.name.c_str());
    if (t == QAccessible::Value) return QString::fromUtf8(item.value.c_str());
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    KwAccItem item;
    if (view_ == nullptr || !Find(&item)) return {};
    const QRect r = view_->ToWidgetRect(item.rect);
    return QRect(view_->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override {
    KwAccItem item;
    return Find(&item) ? KwQtRole(item.role) : QAccessible::NoRole;
  }
  QAccessible::State state() const override {
    KwAccItem item;
    QAccessible::State s;
    if (!Find(&item)) {
      s.invisible = true;
      return s;
    }
    return KwQtState(item);
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    KwAccItem item;
    if (!Find(&item)) return nullptr;
    if (t == QAccessible::ActionInterface && !KwActionNames(item).isEmpty()) {
      return static_cast<QAccessibleActionInterface*>(this);
    }
    if (t == QAccessible::ValueInterface && item.hasValue) {
      return static_cast<QAccessibleValueInterface*>(this);
    }
    return nullptr;
  }

  // Actions.
  QStringList actionNames() const override {
    KwAccItem item;
    return Find(&item) ? KwActionNames(item) : QStringList();
  }
  void doAction(const QString& name) override {
    if (view_ == nullptr) return;
    KwAccItem item;
    if (!Find(&item) || !KwActionNames(item).contains(name)) return;
    if (name == setFocusAction()) {
      view_->SetKeyFocus(item.id, true);
      return;
    }
    view_->ActivateCell(item.id);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

  // Value (progress bars and sliders).
  QVariant currentValue() const override { return Number(&KwAccItem::current); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return Number(&KwAccItem::maximum); }
  QVariant minimumValue() const override { return Number(&KwAccItem::minimum); }
  QVariant minimumStepSize() const override { return 0.0; }

 private:
  QVariant Number(double KwAccItem::*field) const {
    KwAccItem item;
    return Find(&item) ? QVariant(item.*field) : QVariant();
  }

  QPointer<CKWBaseView> view_;
  CellKey key_;
};

// The view: a pane whose children are its cells in reading order.
class KwViewAccessible : public QAccessibleWidget {
 public:
  explicit KwViewAccessible(CKWBaseView* view) : QAccessibleWidget(view, QAccessible::Pane) {}
  ~KwViewAccessible() override {
    for (const auto& kv : cells_) QAccessible::deleteAccessibleInterface(kv.second);
  }

  CKWBaseView* View() const { return static_cast<CKWBaseView*>(widget()); }

  // The description now; the edit controls get their cells' names.
  const std::vector<KwAccItem>& Describe() const {
    items_.clear();
    View()->DescribeAccessible(&items_);
    for (const KwAccItem& item : items_) {
      if (QWidget* editor = EditorOf(item)) {
        const QString name = QString::fromUtf8(item.name.c_str());
        if (editor->accessibleName() != name) editor->setAccessibleName(name);
      }
    }
    return items_;
  }
  const std::vector<KwAccItem>& Items() const { return items_; }

  QWidget* EditorOf(const KwAccItem& item) const {
    if (item.role != KwAccRole::EditableText) return nullptr;
    CKWBaseView* view = View();
    KwViewLockGuard lock(view->LineListMutex());
    CKWOneLineForm* line = view->GetLine(item.row);
    CKWBaseViewObject* cell = line != nullptr ? line->GetCell(item.id) : nullptr;
    auto* edit = cell != nullptr ? dynamic_cast<CKwEdit*>(cell->Editor()) : nullptr;
    return edit != nullptr ? edit->Widget() : nullptr;
  }

  QAccessibleInterface* InterfaceOf(const KwAccItem& item) const {
    if (QWidget* editor = EditorOf(item)) return QAccessible::queryAccessibleInterface(editor);
    const CellKey key{item.row, item.id};
    auto it = cells_.find(key);
    if (it != cells_.end()) {
      if (QAccessibleInterface* known = QAccessible::accessibleInterface(it->second)) return known;
    }
    auto* cell = new KwCellAccessible(View(), key);
    cells_[key] = QAccessible::registerAccessibleInterface(cell);
    return cell;
  }

  int childCount() const override { return static_cast<int>(Describe().size()); }
  QAccessibleInterface* child(int index) const override {
    if (items_.empty()) Describe();
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return InterfaceOf(items_[static_cast<size_t>(index)]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    const std::vector<KwAccItem>& items = Describe();
    for (size_t i = 0; i < items.size(); ++i) {
      if (InterfaceOf(items[i]) == child) return static_cast<int>(i);
    }
    return -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    const std::vector<KwAccItem>& items = Describe();
    for (const KwAccItem& item : items) {
      const QRect r = View()->ToWidgetRect(item.rect);
      if (QRect(View()->mapToGlobal(r.topLeft()), r.size()).contains(x, y)) {
        return InterfaceOf(item);
      }
    }
    return nullptr;
  }

  // Sends events for what differs from the last notified description.
  void Notify() {
    std::vector<KwAccItem> now = Describe();
    bool reordered = now.size() != notified_.size();
    for (size_t i = 0; !reordered && i < now.size(); ++i) {
      reordered = !SameItem(now[i], notified_[i]);
    }
    if (reordered) {
      QAccessibleEvent event(this, QAccessible::ObjectReorder);
      QAccessible::updateAccessibility(&event);
    }
    for (const KwAccItem& item : now) {
      const KwAccItem* before = nullptr;
      for (const KwAccItem& old : notified_) {
        if (SameItem(old, item)) before = &old;
      }
      if (before == nullptr || EditorOf(item) != nullptr) continue;
      QAccessibleInterface* iface = InterfaceOf(item);
      if (before->name != item.name) {
        QAccessibleEvent event(iface, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
      }
      if (before->checked != item.checked || before->disabled != item.disabled ||
          before->focused != item.focused) {
        QAccessible::State changed;
        changed.checked = before->checked != item.checked;
        changed.disabled = before->disabled != item.disabled;
        changed.focused = before->focused != item.focused;
        QAccessibleStateChangeEvent event(iface, changed);
        QAccessible::updateAccessibility(&event);
      }
      if (before->value != item.value || before->current != item.current) {
        QAccessibleValueChangeEvent event(
            iface, item.hasValue ? QVariant(item.current)
                                 : QVariant(QString::fromUtf8(item.value.c_str())));
        QAccessible::updateAccessibility(&event);
      }
    }
    notified_ = std::move(now);
  }

  void NotifyFocus(int cellId) {
    for (const KwAccItem& item : Describe()) {
      if (item.id != cellId || EditorOf(item) != nullptr) continue;
      QAccessibleEvent event(InterfaceOf(item), QAccessible::Focus);
      QAccessible::updateAccessibility(&event);
      return;
    }
  }

 private:
  mutable std::vector<KwAccItem> items_;
  std::vector<KwAccItem> notified_;
  mutable std::map<CellKey, QAccessible::Id> cells_;
};

bool KwCellAccessible::Find(KwAccItem* out) const {
  if (view_ == nullptr) return false;
  auto* parentIface =
      dynamic_cast<KwViewAccessible*>(QAccessible::queryAccessibleInterface(view_.data()));
  if (parentIface == nullptr) return false;
  for (const KwAccItem& item : parentIface->Describe()) {
    if (item.row == key_.first && item.id == key_.second) {
      if (out != nullptr) *out = item;
      return true;
    }
  }
  return false;
}

QAccessibleInterface* ViewFactory(const QString&, QObject* object) {
  if (auto* view = qobject_cast<CKWBaseView*>(object)) return new KwViewAccessible(view);
  return nullptr;
}

KwViewAccessible* ViewInterface(CKWBaseView* view) {
  if (view == nullptr || !QAccessible::isActive()) return nullptr;
  return dynamic_cast<KwViewAccessible*>(QAccessible::queryAccessibleInterface(view));
}

}  // namespace

void KwInstallViewAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(ViewFactory);
    return true;
  }();
  (void)installed;
}

void KwNotifyViewAccessible(CKWBaseView* view) {
  if (KwViewAccessible* iface = ViewInterface(view)) iface->Notify();
}

void KwNotifyViewFocus(CKWBaseView* view, int cellId) {
  if (KwViewAccessible* iface = ViewInterface(view)) iface->NotifyFocus(cellId);
}

QAccessible::Role KwQtRole(KwAccRole role) {
  switch (role) {
    case KwAccRole::StaticText:
      return QAccessible::StaticText;
    case KwAccRole::Link:
      return QAccessible::Link;
    case KwAccRole::Button:
      return QAccessible::Button;
    case KwAccRole::CheckBox:
      return QAccessible::CheckBox;
    case KwAccRole::RadioButton:
      return QAccessible::RadioButton;
    case KwAccRole::ComboBox:
      return QAccessible::ComboBox;
    case KwAccRole::EditableText:
      return QAccessible::EditableText;
    case KwAccRole::Slider:
      return QAccessible::Slider;
    case KwAccRole::ProgressBar:
      return QAccessible::ProgressBar;
  }
  return QAccessible::NoRole;
}

QAccessible::State KwQtState(const KwAccItem& item) {
  QAccessible::State s;
  s.focusable = item.focusable;
  s.focused = item.focused;
  s.checkable = item.checkable;
  s.checked = item.checked;
  s.disabled = item.disabled;
  s.readOnly = item.readOnly;
  s.passwordEdit = item.password;
  s.editable = item.role == KwAccRole::EditableText;
  s.hasPopup = item.role == KwAccRole::ComboBox;
  s.linked = item.role == KwAccRole::Link;
  return s;
}

QStringList KwActionNames(const KwAccItem& item) {
  if (item.disabled) return {};
  switch (item.role) {
    case KwAccRole::Button:
    case KwAccRole::Link:
      return {QAccessibleActionInterface::pressAction(),
              QAccessibleActionInterface::setFocusAction()};
    case KwAccRole::CheckBox:
    case KwAccRole::RadioButton:
      return {QAccessibleActionInterface::toggleAction(),
              QAccessibleActionInterface::setFocusAction()};
    case KwAccRole::ComboBox:
      return {QAccessibleActionInterface::showMenuAction(),
              QAccessibleActionInterface::setFocusAction()};
    default:
      return {};
  }
}
