#include "net/session.h"

#include <algorithm>
#include <vector>

#include "data/config.h"
#include "net/discovery.h"
#include "net/protocol.h"
#include "net/server_list.h"
#include "net/transport.h"
#include "runtime/containers.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "world/barrels.h"
#include "world/events.h"
#include "world/map.h"
#include "world/messages.h"
#include "world/rounds.h"

Session session;

namespace {

constexpr const char* kOwnAddress = "127.0.0.1";
constexpr size_t kAddressLength = 32;
constexpr int32_t kMinRounds = 1, kMaxRounds = 100;
constexpr int32_t kMinRoundTime = 60, kMaxRoundTime = 300;  // seconds

void closeConnectionOf(rt::Handle* connection) {
  if (!*connection) return;
  rt::closeConnection(*connection);
  forgetConnection(*connection);
  *connection = 0;
}

void closeServerOf(rt::Handle* server) {
  if (!*server) return;
  rt::closeServer(*server);
  *server = 0;
}

bool openClientSide(const std::string& address, int32_t tcpPort, int32_t udpPort) {
  session.gameConnection = rt::openConnection(rt::kAnyNumber, address, tcpPort, rt::kTcp);
  session.positionLink = rt::openConnection(rt::kAnyNumber, address, udpPort, rt::kUdp);
  session.isConnected = session.gameConnection && session.positionLink;
  return session.isConnected;
}

void closeClientSide() {
  closeConnectionOf(&session.gameConnection);
  closeConnectionOf(&session.positionLink);
  session.isConnected = false;
}

// The players' connections belong to the servers and go with them; the transport forgets their
// queues at its next flush.
void closeHostSide() {
  closeServerOf(&session.infoServer);
  closeServerOf(&session.gameServer);
  closeServerOf(&session.positionServer);
  closeServerOf(&session.probeServer);
  session.isHost = false;
  world.isHost = false;
}

void enterGame() { session.nextPositionAt = 0; }

bool mapRowOf(const std::string& name, MapRow* row) {
  if (!isSafeMapName(name)) return false;
  MapSummary summary;
  if (!readMapSummary(mapFilePath(name), &summary)) return false;
  row->name = name;
  row->playerLimit = summary.headerValue;
  row->columns = summary.lastColumn + 1;
  row->rows = summary.lastRow + 1;
  row->crc = rt::fileCrc32(mapFilePath(name));
  return true;
}

bool startRoundAndAnnounce() {
  const RoundSettings& s = session.settings;
  if (!startHostRound(s.mapName, s.rounds, s.roundTime * 1000)) return false;
  broadcastRoundStart();
  return true;
}

// The chosen map cannot be played: said once in the log and once in every lobby, the host's
// own included.
bool refuseMatch(const char* why) {
  const std::string& name = session.settings.mapName;
  rt::logLine("SESSION", "no match on map %s: %s", name.c_str(), why);
  broadcastNotice("Map Unplayable", name);
  ++session.startsRefused;
  return false;
}

}  // namespace

std::recursive_mutex& lobbyLock() {
  static std::recursive_mutex lock;
  return lock;
}

NetPorts configuredPorts(int32_t portBase) {
  NetPorts ports;
  ports.icp = portBase > 0 ? portBase : config.icpPort;
  ports.tcp = portBase > 0 ? portBase + 1 : config.tcpPort;
  ports.udp = portBase > 0 ? portBase + 2 : config.udpPort;
  ports.bindAddress = BindAddress();
  return ports;
}

// ---- Creating, joining, leaving -------------------------------------------------------------

bool createSession(const NetPorts& ports, const std::string& playerName, bool observer) {
  if (session.isHost || session.isConnected) return false;
  SaveConfig();
  session.infoServer = rt::createServer(rt::kAnyNumber, ports.icp, rt::kTcp, ports.bindAddress);
  session.gameServer = rt::createServer(rt::kAnyNumber, ports.tcp, rt::kTcp, ports.bindAddress);
  session.positionServer =
      rt::createServer(rt::kAnyNumber, ports.udp, rt::kUdp, ports.bindAddress);
  session.isHost = session.gameServer && session.positionServer;
  world.isHost = session.isHost;
  session.ports = ports;
  session.ports.icp = rt::serverPort(session.infoServer);
  session.ports.tcp = rt::serverPort(session.gameServer);
  session.ports.udp = rt::serverPort(session.positionServer);
  session.observer = observer;
  session.playerName = playerName;
  // A host bound to one address is reached there, also by its own client.
  std::string own = ports.bindAddress.empty() ? kOwnAddress : ports.bindAddress;
  if (!session.isHost || !openClientSide(own, session.ports.tcp, session.ports.udp)) {
    rt::logLine("SESSION", "cannot host on ports %d/%d/%d", ports.icp, ports.tcp, ports.udp);
    leaveSession();
    return false;
  }
  setRuleMessages(networkRuleMessages());
  session.lobbyScreen = "Server Lobby";
  session.settings.rounds = std::clamp(config.rounds, kMinRounds, kMaxRounds);
  session.settings.roundTime = std::clamp(config.roundTime, kMinRoundTime, kMaxRoundTime);
  rt::logLine("SESSION", "hosting on ports %d/%d/%d%s", session.ports.icp, session.ports.tcp,
              session.ports.udp, observer ? ", watching without a player" : "");
  startProbeAnswers();
  if (config.internet) joinServerList(ServerListUrl(), ports.bindAddress);
  return true;
}

bool joinSession(const std::string& address, const NetPorts& ports,
                 const std::string& playerName) {
  if (session.isHost || session.isConnected) return false;
  std::string host = address.substr(0, kAddressLength);
  session.playerName = playerName;
  session.ports = ports;
  if (!openClientSide(host, ports.tcp, ports.udp)) {
    rt::logLine("SESSION", "cannot join %s on ports %d/%d", host.c_str(), ports.tcp, ports.udp);
    leaveSession();
    return false;
  }
  SaveConfig();
  setRuleMessages(networkRuleMessages());
  session.lobbyScreen = "Client Lobby";
  rt::logLine("SESSION", "joined %s on ports %d/%d", host.c_str(), ports.tcp, ports.udp);
  return true;
}

void leaveSession() {
  bool existed = session.isHost || session.isConnected;
  if (session.isHost) {
    broadcastGameCanceled();
    flushConnections();
    leaveServerList();
  }
  if (world.match.running) endMatchWorld();
  removeAllPlayers();
  closeClientSide();
  closeHostSide();
  flushConnections();
  setRuleMessages({});
  world.localPlayer = nullptr;
  session = Session{};
  if (existed) rt::logLine("SESSION", "left");
}

void loseConnection() {
  if (session.turnedAway) {
    rt::logLine("SESSION", "turned away: the lobby stays without players");
    std::string lobby = session.lobbyScreen;
    leaveSession();
    session.lobbyScreen = lobby;
    session.turnedAway = true;
    return;
  }
  rt::logLine("SESSION", "connection to the host lost");
  leaveSession();
  session.notice = "Game Canceled";
}

// ---- The lobby and the match ----------------------------------------------------------------

std::vector<MapRow> listMaps() {
  std::vector<MapRow> rows;
  rt::Handle folder = rt::examineDirectory(rt::kAnyNumber, "Data\\Maps\\", "*.map");
  if (!folder) return rows;
  while (rt::nextDirectoryEntry(folder)) {
    if (rt::directoryEntryIsFolder(folder)) continue;
    std::string file = rt::directoryEntryName(folder);
    if (file.size() <= 4) continue;
    MapRow row;
    if (mapRowOf(file.substr(0, file.size() - 4), &row)) rows.push_back(row);
  }
  rt::finishDirectory(folder);
  return rows;
}

void selectMap(const std::string& name, int32_t rounds, int32_t roundTimeSeconds) {
  RoundSettings& s = session.settings;
  s.rounds = std::clamp(rounds, kMinRounds, kMaxRounds);
  s.roundTime = std::clamp(roundTimeSeconds, kMinRoundTime, kMaxRoundTime);
  MapRow row;
  s.mapSelected = mapRowOf(name, &row);
  s.mapName = s.mapSelected ? row.name : "";
  s.playerLimit = row.playerLimit;
  s.mapCrc = row.crc;
  if (s.mapSelected && session.isHost) sendServerDataMessage(0);
}

bool startMatch() {
  if (!session.isHost || world.match.running || !session.settings.mapSelected) return false;
  MapSummary summary;
  if (!readMapSummary(mapFilePath(session.settings.mapName), &summary)) {
    return refuseMatch("the file is gone");
  }
  // The box grid travels in one message, a byte per cell; a map too large for it cannot be
  // played over the network at all.
  int64_t cells = int64_t{std::max(summary.lastColumn + 1, 1)} * std::max(summary.lastRow + 1, 1);
  int64_t bytes = 64 + static_cast<int64_t>(session.settings.mapName.size()) + cells +
                  8 * static_cast<int64_t>(world.players.count());
  if (bytes > kMaxMessageLength) return refuseMatch("too large for the round-start message");
  SaveConfig();
  world.match = MatchState{};
  if (!startRoundAndAnnounce()) return refuseMatch("it does not load");
  enterGame();
  return true;
}

void hostRoundControl() {
  if (!session.isHost || !world.match.running) return;
  switch (roundControl(rt::frame.now)) {
    case RoundEvent::kNone:
      return;
    case RoundEvent::kNextRound:
      if (startRoundAndAnnounce()) return;
      // The map broke between two rounds: the match ends here, as after its last round.
      refuseMatch("it does not load any more");
      [[fallthrough]];
    case RoundEvent::kGameOver:
      rt::logLine("GAME", "over after %d rounds", world.match.rounds);
      broadcastGameOver();
      ++session.matchesPlayed;
      returnToLobby();
      return;
  }
}

void returnToLobby() {
  // The score table as this machine counted it, so that machines can be compared.
  for (const Player& p : world.players) {
    rt::logLine("SCORE", "player %d \"%s\": %d kills, %d self-kills, %d deaths, %d points", p.id,
                playerName(p).c_str(), p.kills, p.selfKills, p.deaths, p.points);
  }
  endMatchWorld();
  session.lobbyScreen = session.isHost ? "Server Lobby" : "Client Lobby";
  session.nextPositionAt = 0;
  ++session.lobbyRevision;
  rt::logLine("GAME", "back in the lobby");
}

// ---- Player records ---------------------------------------------------------------------------

Player* createPlayer() {
  size_t position = world.players.count();
  Player* player = world.players.append();
  setPlayerName(*player, "Player " + std::to_string(position));
  player->colour = static_cast<int32_t>(playerColour(position));
  return player;
}

void removePlayer(Player* player) {
  if (!player) return;
  std::vector<Barrel*> barrels;
  for (Barrel& barrel : world.round.barrels) {
    if (barrel.ownerPlayer == player) barrels.push_back(&barrel);
  }
  for (Barrel* barrel : barrels) removeBarrel(barrel);
  WorldEvent event{WorldEventType::kPlayerRemoved};
  event.player = player;
  notifyWorld(event);
  if (world.localPlayer == player) world.localPlayer = nullptr;
  world.players.remove(player);
}

void removeAllPlayers() {
  while (!world.players.empty()) removePlayer(&world.players.front());
  world.localPlayer = nullptr;
}
