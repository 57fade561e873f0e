// What the make-package window and dialog share around one package build:
// the status line they show, the check of their three inputs, and starting
// a maker on its own thread.
//
// The front end that starts a run owns the maker it gets back; it may
// destroy it only once the maker reports Done() (IKWMakePkg's destructor
// waits for that itself).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwmakeini.h"

// The status line of a progress report: "%lld %s" of the running total and
// the report's text.
std::string KwMakeStatusText(int64_t total, const char* text);

// True when the source folder, the output folder and the package name are
// all given.
bool KwMakeInputComplete(const KwMakeSettings& s);
// The language key of the first empty input, for an "Input error" that
// names it ("makeinputfrom", "makeinputto", "makeinputname"), or null.
const char* KwMakeMissingInputKey(const KwMakeSettings& s);

// Remembers the three inputs in make.ini of `iniFolder`, then builds a maker
// for them that reports to `callback` with `context` and sends its
// completion command to `owner`, and starts its thread.  Returns the
// running maker, or null when it could not be started.
std::unique_ptr<IKWMakePkg> KwStartMakeRun(const std::string& iniFolder, const KwMakeSettings& s,
                                           KwPkgCallback callback, void* context,
                                           IKWMakeCompletion* owner);
