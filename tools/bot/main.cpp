// powderbox-bot: start-up without a window, a sound device or the data archives (a bot draws
// and hears nothing; it needs the maps and the settings), then one session, then the end.

#include <csignal>
#include <cstdio>

#include "app/leak_suppressions.h"
#include "data/config.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "runtime/screen.h"
#include "tools/bot/bot.h"
#include "world/world.h"

POWDERBOX_DEFINE_LEAK_SUPPRESSIONS

namespace {

void onSignal(int) { RequestBotLeave(); }

void startServices(const BotOptions& options, const char* argv0) {
  rt::initDataRoot(argv0);
  if (!options.dataRoot.empty()) rt::setDataRoot(options.dataRoot);
  if (!options.logPath.empty() && !rt::openLog(options.logPath)) {
    fprintf(stderr, "powderbox-bot: cannot write the log %s\n", options.logPath.c_str());
  }
  if (options.seeded) rt::randomSeed(options.seed);
  rt::initNetwork();
  // Maps bring their tile pictures, which the null screen takes without a window.
  rt::initScreenSystem(rt::Backend::Null);
  // Joining saves the settings, as the game does: read them first so that they stay as they are.
  // A bot the game starts has a folder of its own, so that it never writes the player's file.
  SetConfigFolder(options.settingsFolder.empty() ? UserFolder() : options.settingsFolder);
  LoadConfig();
  rt::frame.now = rt::milliseconds();
  rt::logLine("BOT", "%s starts, data root %s", options.name.c_str(), rt::dataRoot().c_str());
}

void stopServices(int exitCode) {
  rt::logLine("END", "peak memory %lld KiB", static_cast<long long>(rt::peakResidentKb()));
  rt::logLine("END", "exit %d", exitCode);
  rt::shutdownNetwork();
  rt::shutdownScreenSystem();
  rt::closeLog();
}

}  // namespace

int main(int argc, char** argv) {
  BotOptions options;
  int exitCode = ParseBotOptions(argc, argv, &options);
  if (exitCode >= 0) return exitCode;
  startServices(options, argv[0]);
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  exitCode = PlayBot(options);
  stopServices(exitCode);
  return exitCode;
}
