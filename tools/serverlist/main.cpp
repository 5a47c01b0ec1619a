// powderbox-serverlist: see --help, and README.md "Running a server list".

#include <signal.h>

#include <cstdio>
#include <string>

#include "runtime/log.h"
#include "tools/serverlist/options.h"
#include "tools/serverlist/probe.h"
#include "tools/serverlist/service.h"

int main(int argc, char** argv) {
  serverlist::Options options;
  int exitCode = serverlist::parseOptions(argc, argv, &options);
  if (exitCode >= 0) return exitCode;

  // Blocked before any thread starts, so that only sigwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  rt::openLog("-");
  serverlist::SystemClock clock;
  serverlist::TcpProber prober(options.infoPort, options.checkTimeoutMs);
  serverlist::Service service(options, clock, prober);
  std::string error;
  if (!service.start(&error)) {
    rt::logLine("ERROR", "%s", error.c_str());
    return serverlist::kExitFailed;
  }
  int signal = 0;
  sigwait(&stopSignals, &signal);
  rt::logLine("STOP", "signal %d", signal);
  service.stop();
  return serverlist::kExitOk;
}
