// What the install engine needs from the page that owns it.
//
// The engine runs its work on its own threads and never touches a window;
// every call below may come from any of those threads.  An owner must only
// queue work for its window thread (request a repaint, post a command) and
// must never block or call back into the engine's Stop from these calls.
// The owner outlives the engine's threads: CKWInstallEngine::Stop (and its
// destructor) joins them before returning.
#pragma once

// Commands posted to the owner at the end of a run.
inline constexpr int kKwCmdInstallFailed = 832;  // ended without a complete installation
inline constexpr int kKwCmdInstallDone = 833;    // installed, registered and cleaned up

class IKWInstallEngineOwner {
 public:
  virtual ~IKWInstallEngineOwner() = default;

  // A value the page draws has changed (progress, speed, current file).
  virtual void EngineRepaint() = 0;

  // The run ended: kKwCmdInstallFailed or kKwCmdInstallDone, exactly once per
  // run that ends by itself.  A run ended through Stop() posts nothing.
  virtual void EnginePostCommand(int command) = 0;

  // The run stopped for a reason the user must read; `key` is a language key
  // (for example "diskfull") for a message box captioned "prompt".  Comes
  // right before EnginePostCommand(kKwCmdInstallFailed).
  virtual void EngineMessage(const char* key) = 0;

  // Something about the download worth a line in a log, not a message box
  // (a file server that sends whole files rather than byte ranges).
  virtual void EngineNote(const char* text) { (void)text; }
};
