// A session: one host and the clients that joined it. Creating, joining, choosing the map,
// starting, round after round, game over back to the lobby, leaving; and the player records.
//
// The menus call these as the actions of their buttons; until they exist the quick start
// (--host, --connect) does. The session lasts from create or join to leave; a match (the in-game
// state) runs inside it, and between matches the session sits in its lobby.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "net/message_buffer.h"
#include "runtime/objects.h"
#include "world/world.h"

// The three ports of a host: information (TCP), game (TCP), positions (UDP). Port 0 lets the
// system choose (tests); the session then uses the ports it got.
struct NetPorts {
  int32_t icp = 6500;
  int32_t tcp = 6501;
  int32_t udp = 6502;
  std::string bindAddress;  // "" = all interfaces; tests bind 127.0.0.1
};
// The ports of the "Network" settings, or with a base above 0 (--port-base, so that several
// sessions run side by side) base, base + 1 and base + 2.
NetPorts configuredPorts(int32_t portBase = 0);

// What the lobby shows of the match to come. On the host it comes from the chosen map and the
// settings; on a client from the host's server data.
struct RoundSettings {
  bool mapSelected = false;
  std::string mapName;
  int32_t playerLimit = 0;  // shown, never enforced
  uint32_t mapCrc = 0;      // CRC-32 of the map file
  int32_t rounds = 3;
  int32_t roundTime = 180;  // seconds
};

struct Session {
  bool isHost = false;
  bool isConnected = false;
  // A host whose own client takes no part: it watches and runs the rounds but has no player
  // (the headless host of the quick start).
  bool observer = false;
  std::string lobbyScreen;  // "Server Lobby" or "Client Lobby"

  // Host side.
  rt::Handle infoServer = 0, gameServer = 0, positionServer = 0;
  // Hears local searches beside a position server bound to one address.
  rt::Handle probeServer = 0;
  NetPorts ports;  // as bound
  // Client side, also on the host.
  rt::Handle gameConnection = 0, positionLink = 0;
  int32_t myId = 0;  // as the host identified this machine
  std::string playerName;
  uint32_t nextPositionAt = 0;

  RoundSettings settings;
  std::vector<std::string> lobbyChat;  // "name: text" rows, oldest first
  uint32_t lobbyRevision = 0;          // counts changes of the lobby's player list
  // A language key the lobby should show in a message box ("Game Canceled"), "" for none.
  std::string notice;
  // The host said a round runs and let us go: the client's lobby stays, without players.
  bool turnedAway = false;
  int32_t matchesPlayed = 0;  // game overs seen in this session
  int32_t startsRefused = 0;  // rounds the host could not start, its map not loading
};

extern Session session;

inline constexpr size_t kLobbyChatRows = 100;

// The lobby lock: the menu frame holds it around its widgets and its actions, and the threads of
// the server search take it while they change what the lobby pages show.
std::recursive_mutex& lobbyLock();

// ---- Creating, joining, leaving -------------------------------------------------------------

// Host: the three servers, then its own client over 127.0.0.1. False (and everything opened is
// closed again) when the game or position port cannot be opened or the own client cannot
// connect, or when a session exists already.
bool createSession(const NetPorts& ports, const std::string& playerName, bool observer);
// Client: the game connection and the position link to a host. False (nothing left open) when
// either fails or a session exists already.
bool joinSession(const std::string& address, const NetPorts& ports,
                 const std::string& playerName);
// Both: the cancel to everybody (host), all players removed, connections and servers closed,
// the world back to its empty lobby state.
void leaveSession();
// Client: the game connection closed without a goodbye; the client side ends like a leave and
// the lobby is told. A client the host turned away (a round runs) keeps its lobby, without
// players and without a message.
void loseConnection();

// ---- The lobby and the match ----------------------------------------------------------------

// A row of the host's map list.
struct MapRow {
  std::string name;  // file name without ".map"
  int32_t playerLimit = 0;
  int32_t columns = 0, rows = 0;
  uint32_t crc = 0;
};
// Every "*.map" of "Data\Maps" whose name is safe, in name order.
std::vector<MapRow> listMaps();

// Host ("Send ServerData"): the round settings from a map of the list and the rounds and round
// time given; the server data to everybody when a map is chosen. An empty or unknown name clears
// the choice and sends nothing.
void selectMap(const std::string& name, int32_t rounds, int32_t roundTimeSeconds);
// Host ("Start"): the first round on the chosen map, its round start to everybody, into the
// game. False when no map is chosen or a match runs already; and when the map cannot be loaded
// or played over the network, which is logged and told to every lobby.
bool startMatch();
// Every game frame on the host: the round control; the next round with its round start, or after
// the last one (or when the map no longer loads) game over and back to the lobby.
void hostRoundControl();
// Both: the game ends; the world goes back to its lobby state (no map, no barrels or items,
// players alive with their start values and their scores).
void returnToLobby();

// ---- Player records ---------------------------------------------------------------------------

// Appends a player: "Player <position>", the colour of its position, start values, a body.
Player* createPlayer();
// Its barrels go with their lights, sparks and sounds, its body and HUD spark with it.
void removePlayer(Player* player);
void removeAllPlayers();
