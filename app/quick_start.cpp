// --host and --connect: a session without the menus, for players who know where they go and for
// scripts and tests. The host creates the session on the chosen map and starts a match as soon
// as enough players are there, again after each match; a client joins and goes with its host.
//
// A --headless host is a dedicated server: its own client connects like any other and keeps the
// host's world in step, but it has no player, so --start-with counts only the players who join.

#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "data/config.h"
#include "net/session.h"
#include "runtime/containers.h"
#include "runtime/frame.h"
#include "runtime/log.h"

namespace {

// Between two matches the players see the lobby for a moment (and may leave).
constexpr uint32_t kPauseBetweenMatches = 3000;

struct QuickStart {
  bool active = false;
  bool hosting = false;
  bool once = false;
  int startWith = 2;
  int32_t matchesSeen = 0;
  uint32_t lobbySince = 0;
  bool pausing = false;
};

QuickStart quick;

// The map named, or the first in name order; "" when there is none.
std::string chooseMap(const Options& options) {
  for (const MapRow& row : listMaps()) {
    if (options.map.empty() || rt::equalNoCase(row.name, options.map)) return row.name;
  }
  return "";
}

bool host(const Options& options, const std::string& name) {
  std::string map = chooseMap(options);
  if (map.empty()) {
    fprintf(stderr, "powderbox: no map '%s' in Data/Maps\n", options.map.c_str());
    return false;
  }
  if (!createSession(configuredPorts(options.portBase), name, options.headless)) {
    fprintf(stderr, "powderbox: cannot open the ports of a session\n");
    return false;
  }
  int rounds = options.rounds > 0 ? options.rounds : config.rounds;
  selectMap(map, rounds, config.roundTime);
  quick.hosting = true;
  quick.once = options.once;
  quick.startWith = options.startWith;
  rt::logLine("QUICK", "hosting %s, %d rounds, starting with %d players",
              session.settings.mapName.c_str(), session.settings.rounds, quick.startWith);
  return true;
}

[[noreturn]] void end(int exitCode) {
  leaveSession();
  SaveConfig();
  EndProgram(exitCode);
}

void hostStep() {
  if (session.matchesPlayed > quick.matchesSeen) {
    quick.matchesSeen = session.matchesPlayed;
    if (quick.once) {
      rt::logLine("QUICK", "the match is over; ending");
      end(0);
    }
    quick.pausing = true;
    quick.lobbySince = rt::frame.now;
  }
  if (quick.pausing && rt::frame.now - quick.lobbySince < kPauseBetweenMatches) return;
  quick.pausing = false;
  if (static_cast<int>(world.players.count()) < quick.startWith) return;
  startMatch();
}

void clientStep() {
  if (session.isConnected && session.notice.empty()) return;
  if (session.notice.empty()) {
    // The player left by choice and stays in the menus.
    rt::logLine("QUICK", "the session was left; staying in the menus");
    quick.active = false;
    return;
  }
  rt::logLine("QUICK", "the session has ended; ending");
  end(0);
}

}  // namespace

bool StartQuickSession(const Options& options) {
  std::string name = options.name.empty() ? config.playerName : options.name;
  if (options.host) {
    if (!host(options, name)) return false;
  } else if (!joinSession(options.connect, configuredPorts(options.portBase), name)) {
    fprintf(stderr, "powderbox: cannot connect to %s\n", options.connect.c_str());
    return false;
  }
  quick.active = true;
  return true;
}

void QuickStartStep() {
  if (!quick.active || app.inGame) return;
  if (quick.hosting && !session.isHost) {
    rt::logLine("QUICK", "the session was closed; staying in the menus");
    quick.active = false;
  } else if (quick.hosting) {
    hostStep();
  } else {
    clientStep();
  }
}
