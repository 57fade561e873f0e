// CIKWMain: the common application data of one process.
//
// Start-up creates the single instance (Create), fills it and keeps it for
// the whole run; after the main dialog has ended, OnAppStop stops the
// shared services and Destroy frees it.  It owns the name-keyed table of
// embedded images (published to the toolkit for the dialog frame's caption
// pictures) and the resource manager.
#pragma once

#include <cstdint>
#include <memory>

#include "images/kwimageregistry.h"

class CKwImageUtil;
class CKwResourceManager;
class CkwpanelApp;

class CIKWMain {
 public:
  // The process-wide instance, or null before Create and after Destroy.
  static CIKWMain* Instance();
  // Creates the instance when missing; returns it.
  static CIKWMain* Create();
  static void Destroy();

  virtual ~CIKWMain();

  // Fills the common folders and settings, configures the log, loads the
  // language file and creates the resource manager and the image-icon
  // object.
  void InitCommanData();
  // The stop sequence: image-icon object, thread manager, language table,
  // then the log, in that order.
  void OnAppStop();

  // Stores a copy of the bytes under `name`; a name already present keeps
  // its first bytes.
  void RegisterImage(const char* name, const uint8_t* bytes, int32_t length);
  // A new image decoded from the bytes registered under `name`, owned by
  // the caller; null for an unknown name or bytes that do not decode.
  CKwImageUtil* CreateImage(const char* name) const;
  // Registers the caption pictures carried in the executable.
  int RegisterStartupImages();

  void SetApp(CkwpanelApp* app) { app_ = app; }
  CkwpanelApp* App() const { return app_; }
  CKwResourceManager* ResourceManager() const { return resources_.get(); }
  const CKwImageRegistry& Images() const { return images_; }

 private:
  CIKWMain();
  CKwImageRegistry images_;
  CkwpanelApp* app_ = nullptr;
  std::unique_ptr<CKwResourceManager> resources_;
};
