// Checking and repairing an installed version against the manifest the
// installer kept of it: which files are missing, changed (size or any
// piece's SHA-256) or unexpected, and fetching from the install server only
// the pieces of the damaged files.  Used by "kwinstall --verify" and
// "kwinstall --repair".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MsgBox/engine/kwengineupdate.h"
#include "tool/makepackage/kwmanifest.h"

struct KwInstallIssue {
  enum Kind { kMissing, kChanged, kUnexpected };
  Kind kind;
  std::string name;  // stored name, "/bin/app"
};

// "missing", "changed" or "unexpected".
const char* KwInstallIssueWord(KwInstallIssue::Kind kind);

// The uninstaller of the version folder ("/ikwdriver/uninstall.exe"),
// which the finishing steps move to "<install folder>/uninstall.exe".
inline constexpr const char* kKwMovedUninstaller = "/ikwdriver/uninstall.exe";

// Checks the installed version `version` of `installPath` against
// `manifest`; the issues in name order.  The uninstaller counts as present
// where the finishing steps moved it.  Unexpected entries are files, links
// and other non-folders the manifest does not list (folders only when
// nothing of the manifest lies in them).
std::vector<KwInstallIssue> KwCheckInstalled(const std::string& installPath,
                                             const std::string& version,
                                             const KwManifest& manifest);

// The installed version of `installPath` and its kept manifest.  0; -1
// with a reason when there is none or it is unusable.
int KwLoadInstalled(const std::string& installPath, std::string* version, KwManifest* manifest,
                    std::string* manifestBytes, std::string* why);

// Repairs the installed version of `installPath` from the install server
// (the configured base URL): the server must offer the same release (same
// version and manifest).  Only pieces that do not check are fetched.
// 0, or -1 with a reason.
int KwRepairInstalled(const std::string& installPath, KwUpdateProgress* progress, std::string* why);
