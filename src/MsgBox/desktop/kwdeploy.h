// Deployment of the second installer by the guided first page: the checks
// a chosen location must pass, and the writing-out and start of the
// installer this program carries.
//
// Core code (no Qt): the page runs the checks on the user-interface thread
// and the deployment on the wait dialog's worker thread.  The carried bytes
// are registered once at start-up by the executable that embeds them and
// live as long as the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The folder made in the chosen location, the installer's file name in it,
// and the desktop entry that points at it.
inline constexpr const char* kKwDeployFolder = "tarnwick_install";
inline constexpr const char* kKwDeployExe = "twinstaller.exe";
inline constexpr const char* kKwDeployShortcut = "Tarnwick Installer";
// The settings file the second installer reads beside itself.
inline constexpr const char* kKwDeployIni = "itarnwick.ini";

// The installer executable this program carries (null and 0 when it
// carries none).  Registered by the executable's own start-up code; tests
// register bytes of their own.
void KwSetCarriedInstaller(const uint8_t* bytes, size_t size);
const uint8_t* KwCarriedInstaller(size_t* size);

// The location as the deployment uses it: a leading "~" (alone or before
// "/") stands for the home folder, and a relative location is taken from the
// current folder, so the written installer, its desktop entry and its start
// all name the same absolute file.  Empty stays empty.
std::string KwResolveDeployLocation(const std::string& typed);

// Checks a location in the order the page reports them and returns the
// language key of the first refusal, or null when the location is accepted:
// empty -> "pleaseinputtopath"; containing "Program Files" in exactly that
// letter case -> "invalidpath"; no file can be created in it ->
// "invalidpath2".  The write probe creates "install.log" only when no such
// file exists and removes only what it created, so a file of the user's is
// never truncated or deleted, and a symbolic link is never followed.
const char* KwCheckDeployLocation(const std::string& location);

// "<location>/tarnwick_install", and the installer's path inside it.
std::string KwDeployFolderPath(const std::string& location);
std::string KwDeployTargetPath(const std::string& location);

// Results of a deployment.
enum KwDeployResult : int {
  kKwDeployOk = 0,
  kKwDeployNothingCarried = -1,  // the program carries no installer
  kKwDeployWriteFailed = -2,     // the installer could not be written
  kKwDeployStartFailed = -3,     // written, but it could not be started
  kKwDeployKeyMissing = -4,      // the settings name a release key file that is not beside them
};

struct KwDeployRequest {
  std::string target;     // the installer's path (KwDeployTargetPath)
  std::string iniSource;  // settings file beside this program; "" for none
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  int settleMs = 500;  // pause between writing and starting
  // The language chosen on the first page (0 English, 936 Chinese), written
  // into the copied settings so the installer starts in it; -1 leaves them.
  int codePage = -1;
  // Starts the written installer detached in `folder`; 0 or a negative
  // error.  Empty: the platform's detached start.
  std::function<int32_t(const char* program, const char* folder)> start;
};

// Writes the carried bytes unchanged to the target (replacing an earlier
// file atomically, so a failed write leaves no half installer and a running
// one is not disturbed) with the run bits the umask allows, copies the
// settings file beside it together with the release key file they name
// relative to themselves ("PUBKEY" of section "SERVER"; settings naming a
// key file that is not there deploy nothing), makes the desktop entry
// "Tarnwick Installer" and starts the installer.  A failed write starts
// nothing.  Returns a KwDeployResult.
int KwDeployInstaller(const KwDeployRequest& request);
