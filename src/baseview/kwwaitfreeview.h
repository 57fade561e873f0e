// CKwWaitFreeView: the content of the wait dialog, one row holding the
// please-wait text (cell 1011) and, in progress mode, a progress bar (cell
// 1012) below it.  Owned by its CKwDlgWait.
#pragma once

#include <string>

#include "baseview/basectrl/CKWBaseView.h"

class CKwWaitFreeView : public CKWBaseView {
  Q_OBJECT

 public:
  explicit CKwWaitFreeView(QWidget* parent = nullptr);

  // Builds the single row (row height = `height`) with the message; call
  // again to rebuild.
  void BuildRow(int height, const std::string& message);

  // Progress mode (not used by the installer's own windows).
  void SetProgressMode(bool on);
  bool ProgressMode() const { return progressMode_; }
  // The value is kept within [minimum, maximum]; any thread may call these
  // and then RequestRepaint().
  void SetRange(double minimum, double maximum);
  void SetProgress(double value);
  double Progress() const;

  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void DrawLineFront(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                     int height) override;

 private:
  bool progressMode_ = false;
};
