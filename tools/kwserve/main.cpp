// kwserve: the reference install server.  See kwserveoptions.cpp for the
// command line and kwserveapp.h for what it serves.
#include <signal.h>

#include <cstdio>
#include <thread>

#include "kwserveapp.h"
#include "kwserveoptions.h"
#include "kwservepackage.h"

int main(int argc, char** argv) {
  KwServeOptions options;
  std::string error;
  int parsed = KwParseServeOptions(argc, argv, &options, &error);
  if (parsed == 1 || parsed == 2) {
    std::fputs(parsed == 1 ? KwServeUsage().c_str() : KwServeVersion().c_str(), stdout);
    return 0;
  }
  if (parsed < 0) {
    std::fprintf(stderr, "kwserve: %s\n\n%s", error.c_str(), KwServeUsage().c_str());
    return 2;
  }
  KwServedPackage package;
  if (!KwLoadServedPackage(options.root, options.version, &package, &error)) {
    std::fprintf(stderr, "kwserve: %s\n", error.c_str());
    return 1;
  }

  // The stop signals are taken by one thread with sigwait, so the server is
  // stopped from ordinary code, never from inside a signal handler.  They are
  // blocked before any other thread exists so every thread inherits that.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  KwServeApp app(options, package);
  if (app.Bind() < 0) {
    std::fprintf(stderr, "kwserve: cannot listen on %s port %d\n", options.host.c_str(),
                 options.port);
    return 1;
  }
  std::thread waiter([&app, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    app.Stop();
  });
  std::fprintf(stderr, "kwserve: %s, %zu volume(s), version %s\n", options.root.c_str(),
               package.volumes.size(), package.version.c_str());
  std::printf("listening on %s\n", app.url().c_str());
  std::fflush(stdout);
  bool ok = app.Run();
  // The waiter must be done with the server before it is destroyed; when the
  // server ended for another reason, a signal aimed at the waiter ends its
  // wait (the signal stays blocked, so sigwait takes it).
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  std::fprintf(stderr, "kwserve: stopped\n");
  return ok ? 0 : 1;
}
