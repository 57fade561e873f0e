// kwserve's HTTP side: the install server API over one published package.
//
//   GET /app/install/info?timestamp=T&sign=S
//   GET /app/file/download-url?key=K&fileServerId=N&timestamp=T&sign=S
//   GET /files/NAME?expires=E&token=X      (the download addresses handed out)
//
// API answers are JSON objects with "code", "msg" and "data".  Signatures are
// recomputed over every query parameter but "sign"; a timestamp further than
// the allowed skew from the server's clock is refused.  Volume reads honour a
// single byte range (206 with Content-Range, 416 outside the file).
#pragma once

#include <memory>
#include <string>

#include "kwserveoptions.h"
#include "kwservepackage.h"

class KwServeApp {
 public:
  KwServeApp(const KwServeOptions& options, const KwServedPackage& package);
  ~KwServeApp();

  // Binds the listening socket; returns the port, or -1.
  int Bind();
  // "http://HOST:PORT" after Bind.
  std::string url() const;
  // Serves until Stop; returns when the server has ended.
  bool Run();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
