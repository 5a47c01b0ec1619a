// The host's server: new connections, the join requests, the echo of what players announce,
// the position relay, players who leave, and what only the host sends.
#include <algorithm>
#include <string>
#include <vector>

#include "data/config.h"
#include "net/protocol.h"
#include "net/protocol_local.h"
#include "net/session.h"
#include "net/transport.h"
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

void newGameConnection(uint32_t connection) {
  if (world.match.running) {
    turnAway(connection);
    return;
  }
  sendIdentifyMessage(connection);
}

void answerInformation(uint32_t connection) {
  std::string text = serverInformationText();
  rt::sendBytes(connection, text.data(), static_cast<int>(text.size()));
  rt::closeConnection(connection);
  forgetConnection(connection);
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
  rt::closeConnection(peer);
  forgetConnection(peer);
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
  if (sender && sender->udpLink == 0) {
    // Anybody can send a datagram naming any player: the first one must at least come from the
    // machine the player's game connection comes from.
    std::string from = rt::connectionAddress(peer);
    if (!from.empty() && from == rt::connectionAddress(connectionOf(sender->id))) {
      sender->udpLink = static_cast<int32_t>(peer);
    } else if (mayLog()) {
      rt::logLine("MSG", "drop position of %d from %s: not the player's address", sender->id,
                  from.c_str());
    }
  }
  if (!sender || connectionOf(sender->udpLink) != peer) {
    ++positionCounts.dropped;
    forgetStrangePeer(peer);
    return;
  }
  for (const Player& player : world.players) {
    if (&player == sender || player.udpLink == 0) continue;
    sendMessage(message, connectionOf(player.udpLink), 0);
    ++positionCounts.relayed;
  }
}

// ---- The poll --------------------------------------------------------------------------------

void pollServer() {
  if (!session.isHost) return;
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
