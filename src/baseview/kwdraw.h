// Text and drawing operations shared by every painter of the toolkit.
//
// They take a QPainter (the device context of the toolkit), rectangles in
// KwRect form and 0x00BBGGRR colours, and leave the painter's pen, brush,
// font and render hints as they found them.  Texts are UTF-8; a null text
// draws nothing.  Pens, brushes and fonts live only for the call.
#pragma once

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <array>

#include "baseview/kwrect.h"

QColor KwToQColor(KwColor color);
QRect KwToQRect(const KwRect& rect);

// Alignment of the text operations: 0 left, 1 centred, 2 right.
enum KwAlign : int { kKwAlignLeft = 0, kKwAlignCenter = 1, kKwAlignRight = 2 };

// One line, vertically centred, clipped to the rectangle, no background.
void KwDrawTextLine(QPainter* dc, const KwRect& rect, KwColor color, const char* utf8, int size,
                    int align);

// Wrapped at word boundaries, and inside a word when it does not fit on a
// line by itself; top-aligned.  Returns the height of the laid-out text.
int KwDrawTextBlock(QPainter* dc, const KwRect& rect, KwColor color, const char* utf8, int size,
                    int align);

// Height that KwDrawTextBlock would return for this width, without drawing.
int KwMeasureTextBlock(int width, const char* utf8, int size);

// Width in pixels of the text in the toolkit font of this size.
int KwMeasureText(int size, const char* utf8);

// Solid line of the given pen width.
void KwDrawLine(QPainter* dc, int x1, int y1, int x2, int y2, KwColor color, int width);

// Four lines through (left, top), (left, bottom), (right, bottom), (right, top).
void KwDrawOutline(QPainter* dc, const KwRect& rect, KwColor color, int width);

// Solid fill of the rectangle.
void KwFillRect(QPainter* dc, const KwRect& rect, KwColor color);

// Filled rounded rectangle without outline; `diameter` is the corner diameter.
void KwFillRound(QPainter* dc, const KwRect& rect, KwColor color, int diameter);

// Direction of KwFillTriangle.
enum KwTriangleDir : int { kKwUp = 0, kKwDown = 1, kKwRight = 2, kKwLeft = 3 };

// Corners of the triangle inscribed in the rectangle, pointing `direction`
// (an unknown direction points up).  Pure arithmetic, used by KwFillTriangle.
std::array<KwPoint, 3> KwTrianglePoints(const KwRect& rect, int direction);

// Filled triangle inscribed in the rectangle.
void KwFillTriangle(QPainter* dc, const KwRect& rect, KwColor color, int direction);
