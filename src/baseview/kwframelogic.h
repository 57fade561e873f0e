// The skinned dialog frame's caption geometry, hit-testing and press/drag
// state machine, free of any window system.
//
// CIKWBaseDlg feeds it presses, moves and releases (client point, client
// size, screen cursor, window rectangle) and carries out the actions it
// returns: commands to post, repaints, a new window rectangle, a cursor, a
// maximise toggle.  Tests drive it directly.
#pragma once

#include <vector>

#include "baseview/kwrect.h"

// Commands the frame posts to its own dialog.
inline constexpr int kKwCmdClose = 10001;
inline constexpr int kKwCmdMinimize = 10002;
inline constexpr int kKwCmdEndCancel = 54321;
inline constexpr int kKwCmdOwnerNotify = 90001;
inline constexpr int kKwCmdPopupClose = 100;
inline constexpr int kKwCmdRefreshRows = 10981;
inline constexpr int kKwFrameTimerId = 1234;
inline constexpr int kKwFrameTimerMs = 3000;

// Stand-ins for the window system's caption and frame metrics.  The caption
// band (size + frame + 8) is 48 pixels so that it holds the 48-pixel title
// area in which the 28-pixel caption buttons are centred.
inline constexpr int kKwCySize = 36;
inline constexpr int kKwCyFrame = 4;
inline constexpr int kKwCxFrame = 4;
inline constexpr int kKwCaptionBand = kKwCySize + kKwCyFrame + 8;

inline constexpr KwColor kKwCaptionColour = KwRGB(37, 37, 37);
inline constexpr KwColor kKwFrameEdgeColour = KwRGB(18, 18, 18);
inline constexpr KwColor kKwTitleColour = KwRGB(192, 192, 192);
inline constexpr KwColor kKwHoverOutline = KwRGB(128, 128, 128);
inline constexpr KwColor kKwPressedFill = KwRGB(128, 128, 0);

enum KwButtonState : int { kKwButtonNormal = 0, kKwButtonHover = 1, kKwButtonPressed = 2 };
enum KwDragMode : int {
  kKwDragNone = 0,
  kKwDragMove = 1,
  kKwDragTop = 2,
  kKwDragBottom = 3,
  kKwDragLeft = 4,
  kKwDragRight = 5
};
enum KwFrameCursor : int {
  kKwCursorUnchanged = 0,
  kKwCursorArrow,
  kKwCursorSizeWE,
  kKwCursorSizeNS
};
enum KwCaptionButton : int { kKwBtnClose = 0, kKwBtnMax = 1, kKwBtnMin = 2, kKwBtnCount = 3 };

// Where the caption's parts go in a window of width W (window coordinates).
struct KwCaptionLayout {
  KwRect band;                  // (0, 0, W, band height), caption colour.
  KwRect buttons[kKwBtnCount];  // 28 x 28: close, maximise, minimise.
  KwPoint images[kKwBtnCount];  // Top-left of each 24 x 24 picture.
  KwRect title;                 // Title text line.
  KwRect icon;                  // 16 x 16 application icon.
};
KwCaptionLayout KwComputeCaptionLayout(int windowWidth, bool drawIcon);

// The darker strips along the left, right and bottom window edges.
struct KwFrameStrips {
  KwRect top, left, right, bottom;
};
KwFrameStrips KwComputeFrameStrips(int windowWidth, int windowHeight);

// Which edge band a client point lies in (a KwDragMode: 2 to 5), or 0.
// Bands are 6 pixels wide and leave the corners out.
int KwHitEdge(int x, int y, int clientWidth, int clientHeight);

struct KwFrameActions {
  std::vector<int> commands;  // To post to the dialog, in order.
  bool repaintButtons = false;
  bool repaintAll = false;
  bool moveWindow = false;
  KwRect windowRect;  // Valid when moveWindow.
  int cursor = kKwCursorUnchanged;
  int maximize = 0;  // 1 maximise, 2 restore.
};

class KwFrameLogic {
 public:
  // Options of the frame (the dialog's fields of the same names).
  bool drawCaption = true;
  bool hasSizeButtons = true;
  int minWidth = 240;
  int minHeight = 360;

  void Reset();  // Initialisation: window state 1, buttons normal, no drag.

  // Left-button press at client point (x, y).  `cursor` is in screen
  // coordinates, `window` the window rectangle on screen.
  KwFrameActions Press(int x, int y, int clientWidth, int clientHeight, KwPoint cursor,
                       const KwRect& window);
  // Pointer movement (with or without the button held).
  KwFrameActions Move(int x, int y, int clientWidth, KwPoint cursor);
  // Left-button release.
  KwFrameActions Release(KwPoint cursor);

  // True when (x, y) lies on a caption button that takes presses.
  bool ButtonAt(int x, int y, int clientWidth, int clientHeight) const;

  // Cursor to show while hovering at (x, y) without a drag.
  int HoverCursor(int x, int y, int clientWidth, int clientHeight) const;

  int ButtonState(int button) const { return state_[button]; }
  int DragMode() const { return dragMode_; }
  int WindowState() const { return windowState_; }
  void SetWindowState(int state) { windowState_ = state; }
  // A command other than 54321 puts the close button back to normal.
  void ClearCloseState() { state_[kKwBtnClose] = kKwButtonNormal; }
  // True when the button takes part in hover and presses.
  bool ButtonActive(int button) const;

 private:
  // The rectangle a drag would give the window at `cursor`; `release` applies
  // the release rules (widths raised to the minimum, heights refused).
  bool DragRect(KwPoint cursor, bool release, KwRect* out) const;

  int state_[kKwBtnCount] = {0, 0, 0};
  int dragMode_ = kKwDragNone;
  int windowState_ = 1;
  KwPoint startCursor_;
  KwRect startWindow_;
};
