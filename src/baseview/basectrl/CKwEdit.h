// CKwEdit: the native text control laid over an edit cell.
//
// A single-line cell gets a QLineEdit, a word-wrap cell a multi-line
// QPlainTextEdit.  The control takes the cell's colours, the toolkit font at
// the cell's size, the placeholder (shown in grey while the text is empty)
// and the password flag ("*" for every character).  It is a child widget of
// the view and is owned by the cell through IKwCellEditor: destroying the
// cell destroys the control.  User-interface thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

#include "baseview/basectrl/kwviewobject.h"

class CKwEdit : public IKwCellEditor {
 public:
  // Makes the control as a child of `view`, with the cell ID as its object
  // name and the cell's text, look and geometry.
  CKwEdit(QWidget* view, const CKWBaseViewObject& cell);
  ~CKwEdit() override;

  std::string Text() const override;
  void SetText(const std::string& text) override;
  void SetGeometry(const KwRect& r) override;
  KwRect Geometry() const override;
  void SetVisible(bool visible) override;

  // Colours, font, placeholder, password and enabled state from the cell.
  void ApplyLook(const CKWBaseViewObject& cell);
  QWidget* Widget() const { return widget_; }
  bool MultiLine() const { return multiLine_; }

 private:
  QPointer<QWidget> widget_;
  KwRect requested_;  // The cell's control rectangle last asked for.
  bool multiLine_ = false;
};
