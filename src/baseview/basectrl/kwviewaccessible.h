// Screen-reader access to drawn views.  A view paints its cells itself, so
// the platform sees one surface; this layer gives every cell a user can act
// on or read its own accessible object (role, name in the current language,
// state, value, and a default action), so AT-SPI clients on Linux read and
// drive the pages.  Edit cells are read through their native control, which
// gets the cell's name.
//
// The interfaces are made on demand by Qt's accessibility cache (one per
// view, one per cell, deleted with the view).  User-interface thread only.
#pragma once

#include <QAccessible>

#include "baseview/basectrl/kwaccessdesc.h"

class CKWBaseView;

// Registers the factory for drawn views with Qt; safe to call often.
void KwInstallViewAccessibility();
// Tells screen readers what changed in a view since the last call: names
// (a language change), states, values and the set of cells.  Does nothing
// while no screen reader listens.
void KwNotifyViewAccessible(CKWBaseView* view);
// Tells screen readers that a cell got the keyboard focus.
void KwNotifyViewFocus(CKWBaseView* view, int cellId);

// The platform's role and state for an item.
QAccessible::Role KwQtRole(KwAccRole role);
QAccessible::State KwQtState(const KwAccItem& item);
// Names of the item's default actions (press, toggle, show menu); empty when
// the item cannot act.
QStringList KwActionNames(const KwAccItem& item);
