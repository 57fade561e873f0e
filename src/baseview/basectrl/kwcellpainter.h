// Draws cells: one function per kind, all through the toolkit drawing
// operations, the toolkit font and the stock pictures.  Stateless apart from
// the combo-box arrow, which is decoded once on first use.
#pragma once

class QPainter;
class CKWBaseViewObject;

// Draws one cell in its rectangle; invisible cells draw nothing.  A pressed
// button shows a lighter face while the button is held.  Non-const because
// a combo-box cell makes its item list on first use.
void KwPaintCell(QPainter* dc, CKWBaseViewObject& cell);

// Box side of a check box or radio button of this style.
int KwCheckBoxSide(int style);
