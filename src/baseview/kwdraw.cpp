#include "baseview/kwdraw.h"

#include <QFontMetrics>
#include <QPolygon>
#include <QString>
#include <QTextLayout>
#include <QTextOption>
#include <cmath>

#include "baseview/kwfont.h"

QColor KwToQColor(KwColor color) {
  return QColor(KwRed(color), KwGreen(color), KwBlue(color));
}

QRect KwToQRect(const KwRect& rect) {
  return QRect(rect.left, rect.top, rect.Width(), rect.Height());
}

namespace {

Qt::Alignment HorizontalAlign(int align) {
  if (align == kKwAlignCenter) return Qt::AlignHCenter;
  if (align == kKwAlignRight) return Qt::AlignRight;
  return Qt::AlignLeft;
}

// Lays `text` out in lines of at most `width` pixels.  Returns the height.
qreal LayoutBlock(QTextLayout* layout, int width, int align) {
  QTextOption option(HorizontalAlign(align));
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout->setTextOption(option);
  QFontMetricsF metrics(layout->font());
  qreal y = 0;
  layout->beginLayout();
  for (;;) {
    QTextLine line = layout->createLine();
    if (!line.isValid()) break;
    line.setLineWidth(width > 0 ? width : 1);
    line.setPosition(QPointF(0, y));
    y += metrics.lineSpacing();
  }
  layout->endLayout();
  return y;
}

}  // namespace

void KwDrawTextLine(QPainter* dc, const KwRect& rect, KwColor color, const char* utf8, int size,
                    int align) {
  if (dc == nullptr || utf8 == nullptr || *utf8 == '\0') return;
  dc->save();
  dc->setFont(KwToolkitFont(size));
  dc->setPen(KwToQColor(color));
  dc->setBrush(Qt::NoBrush);
  dc->drawText(KwToQRect(rect), Qt::TextSingleLine | Qt::AlignVCenter | HorizontalAlign(align),
               QString::fromUtf8(utf8));
  dc->restore();
}

int KwDrawTextBlock(QPainter* dc, const KwRect& rect, KwColor color, const char* utf8, int size,
                    int align) {
  if (utf8 == nullptr || *utf8 == '\0') return 0;
  QTextLayout layout(QString::fromUtf8(utf8), KwToolkitFont(size));
  qreal height = LayoutBlock(&layout, rect.Width(), align);
  if (dc != nullptr) {
    dc->save();
    dc->setClipRect(KwToQRect(rect), Qt::IntersectClip);
    dc->setPen(KwToQColor(color));
    layout.draw(dc, QPointF(rect.left, rect.top));
    dc->restore();
  }
  return static_cast<int>(std::ceil(height));
}

int KwMeasureTextBlock(int width, const char* utf8, int size) {
  return KwDrawTextBlock(nullptr, KwRect{0, 0, width, 0}, 0, utf8, size, kKwAlignLeft);
}

int KwMeasureText(int size, const char* utf8) {
  if (utf8 == nullptr || *utf8 == '\0') return 0;
  QFontMetrics metrics(KwToolkitFont(size));
  return metrics.horizontalAdvance(QString::fromUtf8(utf8));
}

void KwDrawLine(QPainter* dc, int x1, int y1, int x2, int y2, KwColor color, int width) {
  if (dc == nullptr) return;
  dc->save();
  QPen pen(KwToQColor(color));
  pen.setWidth(width < 1 ? 1 : width);
  pen.setCapStyle(Qt::SquareCap);
  dc->setPen(pen);
  dc->setRenderHint(QPainter::Antialiasing, false);
  dc->drawLine(x1, y1, x2, y2);
  dc->restore();
}

void KwDrawOutline(QPainter* dc, const KwRect& rect, KwColor color, int width) {
  KwDrawLine(dc, rect.left, rect.top, rect.left, rect.bottom, color, width);
  KwDrawLine(dc, rect.left, rect.bottom, rect.right, rect.bottom, color, width);
  KwDrawLine(dc, rect.right, rect.bottom, rect.right, rect.top, color, width);
  KwDrawLine(dc, rect.right, rect.top, rect.left, rect.top, color, width);
}

void KwFillRect(QPainter* dc, const KwRect& rect, KwColor color) {
  if (dc == nullptr || rect.IsEmpty()) return;
  dc->fillRect(KwToQRect(rect), KwToQColor(color));
}

void KwFillRound(QPainter* dc, const KwRect& rect, KwColor color, int diameter) {
  if (dc == nullptr || rect.IsEmpty()) return;
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, true);
  dc->setPen(Qt::NoPen);
  dc->setBrush(KwToQColor(color));
  qreal radius = diameter > 0 ? diameter / 2.0 : 0.0;
  dc->drawRoundedRect(QRectF(rect.left, rect.top, rect.Width(), rect.Height()), radius, radius);
  dc->restore();
}

std::array<KwPoint, 3> KwTrianglePoints(const KwRect& rect, int direction) {
  int cx = rect.left + rect.Width() / 2;
  int cy = rect.top + rect.Height() / 2;
  switch (direction) {
    case kKwDown:
      return {KwPoint{rect.left, rect.top}, KwPoint{rect.right, rect.top},
              KwPoint{cx, rect.bottom}};
    case kKwRight:
      return {KwPoint{rect.left, rect.top}, KwPoint{rect.right, cy},
              KwPoint{rect.left, rect.bottom}};
    case kKwLeft:
      return {KwPoint{rect.right, rect.top}, KwPoint{rect.right, rect.bottom},
              KwPoint{rect.left, cy}};
    default:
      return {KwPoint{rect.left, rect.bottom}, KwPoint{cx, rect.top},
              KwPoint{rect.right, rect.bottom}};
  }
}

void KwFillTriangle(QPainter* dc, const KwRect& rect, KwColor color, int direction) {
  if (dc == nullptr || rect.IsEmpty()) return;
  std::array<KwPoint, 3> p = KwTrianglePoints(rect, direction);
  QPointF points[3] = {QPointF(p[0].x, p[0].y), QPointF(p[1].x, p[1].y), QPointF(p[2].x, p[2].y)};
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, true);
  dc->setPen(Qt::NoPen);
  dc->setBrush(KwToQColor(color));
  dc->drawPolygon(points, 3);
  dc->restore();
}
