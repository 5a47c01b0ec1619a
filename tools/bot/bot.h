// powderbox-bot: a player without a window or sound that joins a session over the network and
// plays by itself, for tests and load tests. One bot per process; it speaks the protocol through
// the game's own session and rules, so what it does is exactly what a player's machine does.
#pragma once

#include <cstdint>
#include <string>

#include "world/bot_brain.h"

struct BotOptions {
  std::string address;       // --connect
  int portBase = 0;          // --port-base; 0: the ports of the settings
  std::string name = "Bot";  // --name
  std::string logPath;       // --log
  std::string dataRoot;      // --data
  bool seeded = false;       // --seed given
  uint64_t seed = 0;
  BotPlay play = BotPlay::kWander;
  bool hunts = false;        // --play hunt: wander, and go after the other players
  int tcpPort = 0, udpPort = 0;  // --tcp-port, --udp-port; 0: from --port-base or the settings
  std::string settingsFolder;    // --settings; "": the player's
  bool untilItem = false;    // --until-item: wander until an item has dropped in this match
  std::string chat;          // --chat: said once, when the first round starts
  int leaveAfter = 0;        // --leave-after seconds from joining; 0: never
  int roundsThenLeave = 0;   // --rounds-then-leave; 0: never
  int positionHz = 10;       // --position-hz
  bool quiet = false;        // --quiet
};

// Exit codes.
inline constexpr int kBotEnded = 0;        // the host ended the session, or the script left
inline constexpr int kBotNoSession = 1;    // no connection, or the host turned the bot away
inline constexpr int kBotBadOptions = 2;

// Parses the command line. Returns -1 to go on, or an exit code (help, bad option).
int ParseBotOptions(int argc, char** argv, BotOptions* options);

// Joins and plays until the session ends or the script leaves; returns the exit code. The
// runtime services are started by the caller.
int PlayBot(const BotOptions& options);
// Asks a playing bot to leave at its next frame (from a signal handler).
void RequestBotLeave();
