// --host and --connect: a session without clicking through the menus, for players who know
// where they go and for scripts and tests. The quick start drives the menus' own actions (the
// server lobby, the client lobby, "Start") with the command line's choices, so that what it does
// is what the screens do. The host starts a match as soon as enough players are there, again after
// each match; a client goes with its host.
//
// A --headless host is a dedicated server: its own client connects like any other and keeps the
// host's world in step, but it has no player, so --start-with counts only the players who join.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "data/config.h"
#include "net/session.h"
#include "runtime/containers.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "ui/menu.h"
#include "ui/screens/screens.h"
#include "ui/widgets.h"

namespace {

// Between two matches the players see the lobby for a moment (and may leave).
constexpr uint32_t kPauseBetweenMatches = 3000;

enum class Stage { kOff, kOpening, kLobby };

struct QuickStart {
  Stage stage = Stage::kOff;
  bool hosting = false;
  bool once = false;
  int startWith = 2;
  int bots = 0;  // practice bots the host adds once its lobby is open
  std::string address;
  int openingPasses = 0;
  int32_t matchesSeen = 0;
  int32_t refusalsSeen = 0;
  bool refused = false;
  uint32_t refusedAt = 0;  // the lobby's revision when the map was last refused
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

[[noreturn]] void end(int exitCode) {
  leaveSession();
  SaveConfig();
  EndProgram(exitCode);
}

// The lobby's action has run: the session is open, or the command line's choice failed.
void checkOpened() {
  if (quick.hosting && !session.isHost) {
    fprintf(stderr, "powderbox: cannot open the ports of a session\n");
    end(2);
  }
  if (quick.hosting && !session.settings.mapSelected) {
    fprintf(stderr, "powderbox: the map cannot be chosen\n");
    end(2);
  }
  if (!quick.hosting && !session.isConnected) {
    fprintf(stderr, "powderbox: cannot connect to %s\n", quick.address.c_str());
    end(2);
  }
  if (quick.hosting) {
    rt::logLine("QUICK", "hosting %s, %d rounds, starting with %d players",
                session.settings.mapName.c_str(), session.settings.rounds, quick.startWith);
    for (int i = 0; i < quick.bots; ++i) {
      if (!AddPracticeBot()) rt::logLine("QUICK", "no practice bot %d", i + 1);
    }
  }
  quick.stage = Stage::kLobby;
}

void hostStep() {
  if (!session.isHost) {
    rt::logLine("QUICK", "the session was closed; staying in the menus");
    quick.stage = Stage::kOff;
    return;
  }
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
  if (session.startsRefused > quick.refusalsSeen) {
    quick.refusalsSeen = session.startsRefused;
    quick.refused = true;
    quick.refusedAt = session.lobbyRevision;
    rt::logLine("QUICK", "the map cannot be played; asking again when the players change");
  }
  // Asking again every frame would only repeat the refusal; a newcomer hears it once.
  if (quick.refused && session.lobbyRevision == quick.refusedAt) return;
  if (static_cast<int>(world.players.count()) < quick.startWith) return;
  quick.refused = false;
  gui.action = "Start";
}

void clientStep() {
  if (session.isConnected && session.notice.empty()) return;
  if (session.notice.empty()) {
    // The player left by choice and stays in the menus.
    rt::logLine("QUICK", "the session was left; staying in the menus");
    quick.stage = Stage::kOff;
    return;
  }
  rt::logLine("QUICK", "the session has ended; ending");
  end(0);
}

}  // namespace

bool StartQuickSession(const Options& options) {
  quickChoices.playerName = options.name;
  quickChoices.portBase = options.portBase;
  quick.hosting = options.host;
  quick.once = options.once;
  quick.startWith = options.startWith;
  quick.bots = options.host ? std::max(options.bots, 0) : 0;
  // A bot that comes while a round runs is turned away: the first match waits for all of them.
  if (quick.bots > 0) {
    quick.startWith = std::max(quick.startWith, quick.bots + (options.headless ? 0 : 1));
  }
  if (options.host) {
    quickChoices.mapName = chooseMap(options);
    if (quickChoices.mapName.empty()) {
      fprintf(stderr, "powderbox: no map '%s' in Data/Maps\n", options.map.c_str());
      return false;
    }
    quickChoices.observer = options.headless;
    if (options.rounds > 0) config.rounds = options.rounds;
    menu.currentMenu = "Server Lobby";
  } else {
    quick.address = options.connect;
    quickChoices.address = options.connect;
    menu.currentMenu = "Client Lobby";
  }
  quick.stage = Stage::kOpening;
  return true;
}

void QuickStartStep() {
  if (quick.stage == Stage::kOff || app.inGame) return;
  // The menus' first frame runs the lobby's action; its outcome is there at the next.
  if (quick.stage == Stage::kOpening) {
    if (quick.openingPasses++ > 0) checkOpened();
    return;
  }
  if (quick.hosting) {
    hostStep();
  } else {
    clientStep();
  }
}
