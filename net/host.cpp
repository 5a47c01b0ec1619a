// The host's server: new connections, the join requests, the echo of what players announce,
// the position relay, players who leave, and what only the host sends.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/config.h"
#include "net/protocol.h"
#include "net/protocol_local.h"
#include "net/session.h"
#include "net/transport.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "world/map.h"
#include "world/world.h"

namespace {

// Work done per frame at most, so that a flood from one peer cannot stall the game: server
// events, and messages read from one connection per event.
constexpr int kMaxServerEvents = 4096;
constexpr int kMaxReadsPerEvent = 64;

// A game connection must become a player this soon, or it is closed: connections that say
// nothing, trickle or send garbage cannot hold descriptors for long.
constexpr uint32_t kJoinWithinMs = 5000;
// Game connections that are not players yet, from one address and in all. Beyond the first
// limit a new one is closed at once; beyond the second the oldest waiting one makes room, so
// that a real player who joins at once always gets in.
constexpr size_t kNewcomersPerAddress = 8;
constexpr size_t kMaxNewcomers = 256;
// A position peer that is no player's this long is let go.
constexpr uint32_t kStrangerPeerMs = 3000;
// A player's positions that come from a new port of its address take over from the old one once
// the old one has been silent this long (a router may change the port of a long quiet flow).
constexpr uint32_t kRebindAfterMs = 2000;

// Connections the host keeps an eye on, each with the time it was first seen.
struct Guards {
  struct Newcomer {
    uint32_t since;
    std::string address;
  };
  std::unordered_map<uint32_t, Newcomer> newcomers;       // game connections, not yet players
  std::unordered_map<uint32_t, uint32_t> strangerPeers;   // position peers of nobody
  std::unordered_map<int32_t, uint32_t> lastPosition;     // player id -> last relayed position
  uint32_t refusals = 0;                                  // counted for the log
};

Guards& guards() {
  static Guards g;
  return g;
}

void sendToOne(MessageBuffer* buffer, uint32_t connection) {
  if (!buffer) return;
  if (mayLog()) {
    int32_t type = messageTypeOf(buffer);
    rt::logLine("MSG", "send %s(%d) to %u", messageName(type), type, connection);
  }
  sendMessage(buffer, connection, 1);
}

// Every player's game connection in list order, then the host's own client when it watches
// without a player of its own: it must see every echo to keep the host's world in step.
std::vector<uint32_t> recipients() {
  std::vector<uint32_t> list;
  for (const Player& player : world.players) list.push_back(connectionOf(player.id));
  bool watching = session.observer && session.myId != 0 && !findPlayer(session.myId);
  if (watching) list.push_back(connectionOf(session.myId));
  return list;
}

// Sends the buffer as it stands to everybody; the caller keeps it.
void sendToAll(MessageBuffer* buffer) {
  std::vector<uint32_t> list = recipients();
  if (mayLog()) {
    int32_t type = messageTypeOf(buffer);
    rt::logLine("MSG", "send %s(%d) to all (%zu)", messageName(type), type, list.size());
  }
  for (uint32_t connection : list) sendMessage(buffer, connection, 0);
}

void broadcast(MessageBuffer* buffer) {
  if (!buffer) return;
  sendToAll(buffer);
  freeBuffer(buffer);
}

// The box grid travels row by row, one byte a cell, in the order the host's map has them.
void writeBoxGrid(MessageBuffer* buffer) {
  for (int32_t row = 0; row < mapRows(); ++row) {
    for (int32_t column = 0; column < mapColumns(); ++column) {
      putByte(buffer, world.round.box.get(column, row) != 0 ? 1 : 0);
    }
  }
}

// A round runs: the connection is told so and let go.
void turnAway(uint32_t connection) {
  sendRoundRunningMessage(connection);
  flushConnections();
  rt::closeConnection(connection);
  forgetConnection(connection);
}

void answerJoinRequest(uint32_t connection, MessageBuffer* message) {
  int32_t id = idOf(connection);
  if (findPlayer(id)) {
    logDropped(kMsgJoinRequest, connection, "joined already");
    return;
  }
  // Only the connect is checked against a running round; a request that comes later must not
  // add a player in the middle of one either.
  if (world.match.running) {
    turnAway(connection);
    return;
  }
  std::string name = getString(message);
  Player* player = createPlayer();
  player->id = id;
  if (!name.empty()) setPlayerName(*player, name);
  ++session.lobbyRevision;
  rt::logLine("JOIN", "player %d \"%s\" joined, %zu players", id, playerName(*player).c_str(),
              world.players.count());
  broadcastPlayerList();
  if (session.settings.mapSelected) sendServerDataMessage(connection);
}

// The echo: only from a player, only speaking for himself, never a message meant for clients.
void echoFromPlayer(uint32_t connection, const MessageSpec& spec, MessageBuffer* message) {
  if (!findPlayer(idOf(connection))) {
    logDropped(spec.type, connection, "not a player");
    return;
  }
  if (spec.type == kMsgTextLine && longField(message, spec, 0) != kChatSubtype) {
    logDropped(spec.type, connection, "only the host announces who left");
    return;
  }
  if (spec.senderField >= 0 && longField(message, spec, spec.senderField) != idOf(connection)) {
    logDropped(spec.type, connection, "sender is somebody else");
    return;
  }
  sendToAll(message);
}

void closeQuietly(uint32_t connection) {
  rt::closeConnection(connection);
  forgetConnection(connection);
}

// Makes room for a new game connection, or says there is none for its address.
bool roomForNewcomer(const std::string& address) {
  Guards& g = guards();
  size_t fromAddress = 0;
  uint32_t oldest = 0, oldestSince = 0;
  for (const auto& [connection, newcomer] : g.newcomers) {
    if (newcomer.address == address) ++fromAddress;
    if (!oldest || rt::timeBefore(newcomer.since, oldestSince)) {
      oldest = connection;
      oldestSince = newcomer.since;
    }
  }
  if (fromAddress >= kNewcomersPerAddress) return false;
  if (g.newcomers.size() >= kMaxNewcomers) {
    closeQuietly(oldest);
    g.newcomers.erase(oldest);
  }
  return true;
}

void newGameConnection(uint32_t connection) {
  if (world.match.running) {
    turnAway(connection);
    return;
  }
  Guards& g = guards();
  std::string address = rt::connectionAddress(connection);
  if (!roomForNewcomer(address)) {
    ++g.refusals;
    if (mayLog()) {
      rt::logLine("NET", "refused a game connection from %s: %zu wait there already (%u so far)",
                  address.c_str(), kNewcomersPerAddress, g.refusals);
    }
    closeQuietly(connection);
    return;
  }
  g.newcomers[connection] = {rt::milliseconds(), address};
  sendIdentifyMessage(connection);
}

// Game connections that did not join in time, position peers of nobody, and the bookkeeping of
// connections that are gone.
void sweepGuards() {
  Guards& g = guards();
  uint32_t now = rt::milliseconds();
  std::vector<uint32_t> late;
  // The host's own client may watch without ever joining.
  auto settled = [](uint32_t connection) {
    return findPlayer(idOf(connection)) || (session.myId != 0 && idOf(connection) == session.myId);
  };
  for (const auto& [connection, newcomer] : g.newcomers) {
    if (settled(connection) || !rt::connectionExists(connection) ||
        now - newcomer.since >= kJoinWithinMs) {
      late.push_back(connection);
    }
  }
  for (uint32_t connection : late) {
    if (!settled(connection) && rt::connectionExists(connection)) {
      if (mayLog()) rt::logLine("NET", "closed game connection %u: no join in time", connection);
      closeQuietly(connection);
    }
    g.newcomers.erase(connection);
  }
  std::erase_if(g.strangerPeers, [now](const auto& entry) {
    auto [peer, since] = entry;
    if (!rt::connectionExists(peer)) return true;
    for (const Player& player : world.players) {
      if (connectionOf(player.udpLink) == peer) return true;
    }
    if (now - since < kStrangerPeerMs) return false;
    closeQuietly(peer);
    return true;
  });
  std::erase_if(g.lastPosition, [](const auto& entry) { return !findPlayer(entry.first); });
}

void answerInformation(uint32_t connection) {
  std::string text = serverInformationText();
  rt::sendBytes(connection, text.data(), static_cast<int>(text.size()));
  closeQuietly(connection);
  if (mayLog()) rt::logLine("MSG", "information sent to %u", connection);
}

void readGameConnection(uint32_t connection) {
  for (int i = 0; i < kMaxReadsPerEvent; ++i) {
    MessageBuffer* message = receiveMessage(connection, 0);
    if (message) {
      dispatchServerMessage(connection, message);
      freeBuffer(message);
    }
    if (!rt::connectionExists(connection) || faultSticks(connectionFault(connection))) {
      dropClient(connection);
      return;
    }
    if (!message && rt::pollConnection(connection) != rt::kNetData) return;
  }
}

void readPositionPeer(uint32_t peer) {
  guards().strangerPeers.try_emplace(peer, rt::milliseconds());
  for (int i = 0; i < kMaxReadsPerEvent; ++i) {
    MessageBuffer* message = receiveMessage(peer, 0);
    if (message) {
      relayPositionMessage(peer, message);
      freeBuffer(message);
    }
    // A datagram stream has no connection to lose: start over with the next datagram.
    if (faultSticks(connectionFault(peer))) forgetConnection(peer);
    if (!message && rt::pollConnection(peer) != rt::kNetData) return;
  }
}

void serverEvent(int type, const rt::ServerEvent& event) {
  if (type == rt::kNetConnected && event.server == session.gameServer) {
    newGameConnection(event.connection);
  } else if (type == rt::kNetConnected && event.server == session.infoServer) {
    answerInformation(event.connection);
  } else if (type == rt::kNetData && event.server == session.gameServer) {
    readGameConnection(event.connection);
  } else if (type == rt::kNetData && event.server == session.positionServer) {
    readPositionPeer(event.connection);
  } else if (type == rt::kNetData && event.server == session.infoServer) {
    rt::closeConnection(event.connection);
  } else if (type == rt::kNetDisconnected && event.server == session.gameServer) {
    dropClient(event.connection);
  }
}

// Every sender address costs the position server a peer, and their number is limited: a peer
// that belongs to no player is let go as soon as it sends something we do not take.
void forgetStrangePeer(uint32_t peer) {
  for (const Player& player : world.players) {
    if (connectionOf(player.udpLink) == peer) return;
  }
  closeQuietly(peer);
  guards().strangerPeers.erase(peer);
}

bool isPlayerAddress(const std::string& address) {
  for (const Player& player : world.players) {
    if (rt::connectionAddress(connectionOf(player.id)) == address) return true;
  }
  return false;
}

// Whether this player's positions may come from this peer: the first ones, or ones from a new
// port of its address once the old port has gone or fallen silent.
bool bindsPositions(Player& sender, uint32_t peer) {
  uint32_t bound = connectionOf(sender.udpLink);
  if (bound == peer) return true;
  std::string from = rt::connectionAddress(peer);
  if (from.empty() || from != rt::connectionAddress(connectionOf(sender.id))) {
    if (mayLog()) {
      rt::logLine("MSG", "drop position of %d from %s: not the player's address", sender.id,
                  from.c_str());
    }
    return false;
  }
  auto last = guards().lastPosition.find(sender.id);
  bool silent = last == guards().lastPosition.end() ||
                rt::milliseconds() - last->second >= kRebindAfterMs;
  if (sender.udpLink != 0 && rt::connectionExists(bound) && !silent) return false;
  if (sender.udpLink != 0) closeQuietly(bound);
  sender.udpLink = static_cast<int32_t>(peer);
  rt::logLine("NET", "positions of player %d from %s:%d", sender.id, from.c_str(),
              rt::connectionPort(peer));
  guards().strangerPeers.erase(peer);
  return true;
}

// Closed, stalled or broken game connections: their players leave.
void dropFaultedClients() {
  std::vector<uint32_t> doomed;
  for (const Player& player : world.players) {
    uint32_t connection = connectionOf(player.id);
    if (!rt::connectionExists(connection) || faultSticks(connectionFault(connection))) {
      doomed.push_back(connection);
    }
  }
  for (uint32_t connection : doomed) dropClient(connection);
}

}  // namespace

// ---- Senders ---------------------------------------------------------------------------------

void sendIdentifyMessage(uint32_t connection) {
  MessageBuffer* buffer = newMessage(kMsgIdentify);
  putLong(buffer, idOf(connection));
  sendToOne(buffer, connection);
}

void sendRoundRunningMessage(uint32_t connection) {
  sendToOne(newMessage(kMsgRoundRunning), connection);
}

void sendServerDataMessage(uint32_t connection) {
  MessageBuffer* buffer = newMessage(kMsgServerData);
  putString(buffer, session.settings.mapName);
  putLong(buffer, session.settings.rounds);
  putLong(buffer, session.settings.roundTime);
  if (connection) {
    sendToOne(buffer, connection);
  } else {
    broadcast(buffer);
  }
}

void broadcastPlayerList() {
  MessageBuffer* buffer = newMessage(kMsgPlayerList);
  putLong(buffer, static_cast<int32_t>(world.players.count()));
  for (const Player& player : world.players) putData(buffer, &wireOf(player), kWirePlayerSize);
  broadcast(buffer);
}

void broadcastPlayerGone(int32_t id) {
  MessageBuffer* buffer = newMessage(kMsgPlayerGone);
  putLong(buffer, id);
  broadcast(buffer);
}

void broadcastPlayerLeft(uint32_t colour, const std::string& name) {
  MessageBuffer* buffer = newMessage(kMsgTextLine);
  putLong(buffer, kPlayerLeftSubtype);
  putLong(buffer, static_cast<int32_t>(colour));
  putString(buffer, name);
  broadcast(buffer);
}

void broadcastNotice(const std::string& key, const std::string& name) {
  MessageBuffer* buffer = newMessage(kMsgTextLine);
  putLong(buffer, kNoticeSubtype);
  putString(buffer, key);
  putString(buffer, name);
  broadcast(buffer);
}

void broadcastRoundStart() { broadcast(newRoundStartMessage()); }

MessageBuffer* newRoundStartMessage() {
  MessageBuffer* buffer = newMessage(kMsgRoundStart);
  putString(buffer, world.match.mapName);
  putLong(buffer, world.match.rounds);
  putLong(buffer, world.match.roundTime);
  writeBoxGrid(buffer);
  putLong(buffer, static_cast<int32_t>(world.players.count()));
  for (const Player& player : world.players) {
    putFloat(buffer, player.x);
    putFloat(buffer, player.y);
  }
  return buffer;
}

void broadcastGameOver() { broadcast(newMessage(kMsgGameOver)); }
void broadcastGameCanceled() { broadcast(newMessage(kMsgGameCanceled)); }

void broadcastItemDropped(int32_t row, int32_t id, int32_t x, int32_t y) {
  MessageBuffer* buffer = newMessage(kMsgItemDropped);
  putWord(buffer, row);
  putLong(buffer, id);
  putLong(buffer, x);
  putLong(buffer, y);
  broadcast(buffer);
}

// ---- Dispatch --------------------------------------------------------------------------------

void dispatchServerMessage(uint32_t connection, MessageBuffer* message) {
  rewindBuffer(message);
  int32_t type = getLong(message);
  const MessageSpec* spec = findMessageSpec(type);
  logReceived(type, connection, message->length);
  if (!spec) {
    logDropped(type, connection, "unknown type");
    return;
  }
  if (spec->from != kFromClient) {
    logDropped(type, connection, "only the host sends it");
    return;
  }
  if (message->length < minimumMessageLength(*spec)) {
    logDropped(type, connection, "too short");
    return;
  }
  if (type == kMsgJoinRequest) {
    answerJoinRequest(connection, message);
    return;
  }
  if (spec->echoed) echoFromPlayer(connection, *spec, message);
}

void relayPositionMessage(uint32_t peer, MessageBuffer* message) {
  Player* sender = nullptr;
  if (message->length >= kPositionMessageLength) {
    rewindBuffer(message);
    sender = findPlayer(getLong(message));
    rewindBuffer(message);
  }
  // Anybody can send a datagram naming any player: it must at least come from the machine the
  // player's game connection comes from.
  if (!sender || !bindsPositions(*sender, peer)) {
    ++positionCounts.dropped;
    forgetStrangePeer(peer);
    return;
  }
  guards().lastPosition[sender->id] = rt::milliseconds();
  for (const Player& player : world.players) {
    if (&player == sender || player.udpLink == 0) continue;
    sendMessage(message, connectionOf(player.udpLink), 0);
    ++positionCounts.relayed;
  }
}

// ---- The poll --------------------------------------------------------------------------------

int admitPositionDatagram(const uint8_t* data, int length, const std::string& from) {
  DatagramForm form = datagramForm(data, length);
  if (form == DatagramForm::kHeaderAlone) return isPlayerAddress(from) ? -1 : 0;
  if (form != DatagramForm::kWholeFrame || length - kFrameHeaderSize < kPositionMessageLength) {
    return 0;
  }
  const uint8_t* id = data + kFrameHeaderSize;  // the first field, little-endian on the wire
  const Player* sender = findPlayer(static_cast<int32_t>(
      id[0] | id[1] << 8 | id[2] << 16 | static_cast<uint32_t>(id[3]) << 24));
  return sender && rt::connectionAddress(connectionOf(sender->id)) == from ? -1 : 0;
}

void pollServer() {
  if (!session.isHost) return;
  sweepGuards();
  dropFaultedClients();
  rt::ServerEvent event;
  for (int i = 0; i < kMaxServerEvents; ++i) {
    int type = rt::pollServers(&event);
    if (type == rt::kNetNone) break;
    serverEvent(type, event);
    if (!session.isHost) return;
  }
  dropFaultedClients();
}

// ---- The host's bookkeeping ------------------------------------------------------------------

std::string serverInformationText() {
  std::string name = ConfigText(config.serverName);
  // The answer is split at TABs; a TAB or line break in the name would shift every field.
  auto breaksFields = [](char c) { return c == '\t' || c == '\r' || c == '\n'; };
  std::replace_if(name.begin(), name.end(), breaksFields, ' ');
  const RoundSettings& s = session.settings;
  return name + "\t" + s.mapName + "\t" + std::to_string(world.players.count()) + "/" +
         std::to_string(s.playerLimit) + "\t" + std::to_string(s.rounds) + "\t" +
         std::to_string(s.roundTime) + "\t" + std::to_string(s.mapCrc);
}

void dropClient(uint32_t connection) {
  rt::closeConnection(connection);
  forgetConnection(connection);
  Player* player = findPlayer(idOf(connection));
  if (!player) return;
  int32_t id = player->id;
  uint32_t colour = static_cast<uint32_t>(player->colour);
  std::string name = playerName(*player);
  if (player->udpLink != 0) {
    rt::closeConnection(connectionOf(player->udpLink));
    forgetConnection(connectionOf(player->udpLink));
  }
  removePlayer(player);
  ++session.lobbyRevision;
  rt::logLine("LEAVE", "player %d \"%s\" left, %zu players", id, name.c_str(),
              world.players.count());
  broadcastPlayerGone(id);
  broadcastPlayerLeft(colour, name);
}
