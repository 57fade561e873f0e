// A small result for internal helpers: a code (0 success, negative failure)
// and a message for logs and command-line tools.  Public operations keep the
// integer results the installer documents; this type never crosses a module
// boundary as an exception would.
#pragma once

#include <string>
#include <utility>

struct KwStatus {
  int code = 0;
  std::string message;

  static KwStatus Ok() { return {}; }
  static KwStatus Fail(int code, std::string message) { return {code, std::move(message)}; }
  bool ok() const { return code == 0; }
};
