#include "baseview/basectrl/CKwEdit.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <algorithm>

#include "baseview/basectrl/CKwFreeForm.h"
#include "baseview/kwdraw.h"
#include "baseview/kwfont.h"

namespace {

constexpr KwColor kPlaceholder = KwRGB(128, 128, 128);

// The scale the view draws its cells at (1 when it is not a drawn view).
double ScaleOf(const QWidget* widget) {
  const auto* view =
      widget != nullptr ? qobject_cast<const CKwFreeForm*>(widget->parentWidget()) : nullptr;
  return view != nullptr ? view->ContentScale() : 1.0;
}

// Password fields show "*" for every character, whatever the platform
// style would use.
class KwPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == QStyle::SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};

QStyle* PasswordStyle() {
  static KwPasswordStyle* style = new KwPasswordStyle();
  return style;
}

}  // namespace

CKwEdit::CKwEdit(QWidget* view, const CKWBaseViewObject& cell) : multiLine_(cell.wordWrap) {
  if (multiLine_) {
    auto* edit = new QPlainTextEdit(view);
    edit->setFrameShape(QFrame::NoFrame);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->document()->setDocumentMargin(2);
    widget_ = edit;
  } else {
    auto* edit = new QLineEdit(view);
    edit->setFrame(false);
    edit->setTextMargins(0, 0, 0, 0);
    edit->setContentsMargins(0, 0, 0, 0);
    widget_ = edit;
  }
  widget_->setObjectName(QString::number(cell.id));
  widget_->setAttribute(Qt::WA_MacShowFocusRect, false);
  ApplyLook(cell);
  SetText(cell.text);
  SetGeometry(KwEditControlRect(cell));
  widget_->setVisible(cell.visible);
}

CKwEdit::~CKwEdit() {
  delete widget_.data();
}

void CKwEdit::ApplyLook(const CKWBaseViewObject& cell) {
  if (!widget_) return;
  QPalette pal = widget_->palette();
  pal.setColor(QPalette::Base, KwToQColor(cell.bkColor));
  pal.setColor(QPalette::Window, KwToQColor(cell.bkColor));
  pal.setColor(QPalette::Text, KwToQColor(cell.textColor));
  pal.setColor(QPalette::PlaceholderText, KwToQColor(kPlaceholder));
  pal.setColor(QPalette::Disabled, QPalette::Text, KwToQColor(kKwDisabledTextColor));
  widget_->setPalette(pal);
  widget_->setAutoFillBackground(true);
  const double scale = ScaleOf(widget_);
  widget_->setFont(
      KwToolkitFont(std::max(1, static_cast<int>(cell.EffectiveFontSize() * scale + 0.5))));
  widget_->setEnabled(cell.enabled);
  const QString cue = QString::fromUtf8(cell.placeholder().c_str());
  if (auto* line = qobject_cast<QLineEdit*>(widget_.data())) {
    line->setPlaceholderText(cue);
    if (cell.password) {
      line->setStyle(PasswordStyle());
      line->setEchoMode(QLineEdit::Password);
    } else {
      line->setEchoMode(QLineEdit::Normal);
    }
    line->setAlignment(cell.textAlign == 1   ? Qt::AlignHCenter | Qt::AlignVCenter
                       : cell.textAlign == 2 ? Qt::AlignRight | Qt::AlignVCenter
                                             : Qt::AlignLeft | Qt::AlignVCenter);
  } else if (auto* multi = qobject_cast<QPlainTextEdit*>(widget_.data())) {
    multi->setPlaceholderText(cue);
  }
}

std::string CKwEdit::Text() const {
  if (auto* line = qobject_cast<QLineEdit*>(widget_.data())) return line->text().toStdString();
  if (auto* multi = qobject_cast<QPlainTextEdit*>(widget_.data())) {
    return multi->toPlainText().toStdString();
  }
  return {};
}

void CKwEdit::SetText(const std::string& text) {
  const QString t = QString::fromUtf8(text.c_str());
  if (auto* line = qobject_cast<QLineEdit*>(widget_.data())) {
    line->setText(t);
  } else if (auto* multi = qobject_cast<QPlainTextEdit*>(widget_.data())) {
    multi->setPlainText(t);
  }
}

void CKwEdit::SetGeometry(const KwRect& cellRect) {
  requested_ = cellRect;
  if (!widget_) return;
  // The view may draw its cells scaled; the control sits over the drawn cell.
  const auto* view = qobject_cast<const CKwFreeForm*>(widget_->parentWidget());
  const QRect q = view != nullptr
                      ? view->ToWidgetRect(cellRect)
                      : QRect(cellRect.left, cellRect.top, cellRect.Width(), cellRect.Height());
  const KwRect r = KwRectXYWH(q.x(), q.y(), q.width(), q.height());
  if (multiLine_) {
    widget_->setGeometry(r.left, r.top, r.Width(), r.Height());
    return;
  }
  // The rectangle is one character height high.  Qt's line edit needs the
  // font's full line height (ascent plus descent) to draw without cutting
  // descenders, so the control grows around the same centre line.
  const int need = widget_->fontMetrics().height() + 2;
  const int h = std::max(r.Height(), need);
  const int top = r.top - (h - r.Height()) / 2;
  widget_->setGeometry(r.left, top, r.Width(), h);
}

KwRect CKwEdit::Geometry() const {
  return requested_;
}

void CKwEdit::SetVisible(bool visible) {
  if (widget_) widget_->setVisible(visible);
}
