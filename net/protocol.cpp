#include "net/protocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "data/config.h"
#include "net/session.h"
#include "net/transport.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "ui/chat_box.h"
#include "world/barrels.h"
#include "world/decals.h"
#include "world/items.h"
#include "world/rounds.h"
#include "world/world.h"

namespace {

constexpr int32_t kMessageCapacity = 2048;
// Work done per frame at most, so that a flood from one peer cannot stall the game: server
// events, messages read from one connection per event, messages read by a client.
constexpr int kMaxServerEvents = 4096;
constexpr int kMaxReadsPerEvent = 64;
constexpr int kMaxClientReads = 4096;
// Message log lines per second; beyond it they are only counted.
constexpr int kLogBudget = 200;
constexpr uint32_t kPositionLogPeriod = 5000;
constexpr size_t kLobbyTextLimit = 512;
// Positions beyond this are nonsense from the wire; they become 0 before anything draws them.
constexpr float kFarPosition = 1e7f;
constexpr float kMaxSpeed = 100.0f;

// ---- Logging --------------------------------------------------------------------------------

struct MessageLog {
  uint32_t second = 0;
  int lines = 0;
  int suppressed = 0;
};

struct PositionCounts {
  uint32_t since = 0;
  int sent = 0, applied = 0, relayed = 0, dropped = 0;
};

MessageLog messageLog;
PositionCounts positionCounts;

const char* nameOf(int32_t type) {
  const MessageSpec* spec = FindMessageSpec(type);
  return spec ? spec->name : "unknown";
}

bool mayLog() {
  uint32_t second = rt::frame.now / 1000;
  if (second != messageLog.second) {
    if (messageLog.suppressed > 0) {
      rt::logLine("MSG", "%d message lines left out", messageLog.suppressed);
    }
    messageLog = MessageLog{second, 0, 0};
  }
  if (messageLog.lines >= kLogBudget) {
    ++messageLog.suppressed;
    return false;
  }
  ++messageLog.lines;
  return true;
}

void logSent(int32_t type, const char* to) {
  if (mayLog()) rt::logLine("MSG", "send %s(%d) to %s", nameOf(type), type, to);
}

void logReceived(int32_t type, uint32_t from, int32_t length) {
  if (!mayLog()) return;
  if (from) {
    rt::logLine("MSG", "recv %s(%d) from %u, %d bytes", nameOf(type), type, from, length);
  } else {
    rt::logLine("MSG", "recv %s(%d), %d bytes", nameOf(type), type, length);
  }
}

void logDropped(int32_t type, uint32_t from, const char* why) {
  if (mayLog()) rt::logLine("MSG", "drop %s(%d) from %u: %s", nameOf(type), type, from, why);
}

// Positions come ten times a second from every player: a count now and then is enough.
void logPositionCounts() {
  PositionCounts& c = positionCounts;
  if (rt::frame.now - c.since < kPositionLogPeriod) return;
  if (c.sent + c.applied + c.relayed + c.dropped > 0) {
    rt::logLine("MSG", "positions: %d sent, %d applied, %d relayed, %d dropped", c.sent, c.applied,
                c.relayed, c.dropped);
  }
  c = PositionCounts{rt::frame.now};
}

// ---- Building and sending -------------------------------------------------------------------

bool sticks(LinkFault fault) {
  return fault != LinkFault::kNone && fault != LinkFault::kSendFailed;
}

int32_t idOf(uint32_t connection) { return static_cast<int32_t>(connection); }
uint32_t connectionOf(int32_t id) { return static_cast<uint32_t>(id); }

int32_t typeOf(const MessageBuffer* message) {
  int32_t type = 0;
  if (message->length >= 4) memcpy(&type, message->data, 4);
  return type;
}

MessageBuffer* newMessage(int32_t type) {
  MessageBuffer* buffer = createBuffer(rt::kAnyNumber, kMessageCapacity, 0);
  if (buffer) putLong(buffer, type);
  return buffer;
}

void sendToHost(MessageBuffer* buffer) {
  if (!buffer) return;
  if (!session.isConnected) {
    freeBuffer(buffer);
    return;
  }
  logSent(typeOf(buffer), "host");
  sendMessage(buffer, session.gameConnection, 1);
}

void sendToOne(MessageBuffer* buffer, uint32_t connection) {
  if (!buffer) return;
  if (mayLog()) {
    rt::logLine("MSG", "send %s(%d) to %u", nameOf(typeOf(buffer)), typeOf(buffer), connection);
  }
  sendMessage(buffer, connection, 1);
}

// Every player's game connection in list order, then the host's own client when it watches
// without a player of its own: it must see every echo to keep the host's world in step.
std::vector<uint32_t> recipients() {
  std::vector<uint32_t> list;
  for (const Player& player : world.players) list.push_back(connectionOf(player.id));
  bool watching = session.observer && session.myId != 0 && !FindPlayer(session.myId);
  if (watching) list.push_back(connectionOf(session.myId));
  return list;
}

// Sends the buffer as it stands to everybody; the caller keeps it.
void sendToAll(MessageBuffer* buffer) {
  std::vector<uint32_t> list = recipients();
  if (mayLog()) {
    rt::logLine("MSG", "send %s(%d) to all (%zu)", nameOf(typeOf(buffer)), typeOf(buffer),
                list.size());
  }
  for (uint32_t connection : list) sendMessage(buffer, connection, 0);
}

void broadcast(MessageBuffer* buffer) {
  if (!buffer) return;
  sendToAll(buffer);
  freeBuffer(buffer);
}

std::string cut(const std::string& text, size_t length) {
  return text.size() <= length ? text : text.substr(0, length);
}

// ---- Fields by the table ---------------------------------------------------------------------

// Reads field `index` of a message as a long, walking the fields before it by their kinds.
int32_t longField(MessageBuffer* message, const MessageSpec& spec, int index) {
  message->cursor = message->data;
  getLong(message);
  for (int i = 0; i < index && spec.fields[i]; ++i) {
    switch (spec.fields[i]) {
      case 'l': getLong(message); break;
      case 'w': getWord(message); break;
      case 'f': getFloat(message); break;
      case 's': getString(message); break;
      default: break;
    }
  }
  int32_t value = getLong(message);
  message->cursor = message->data;
  return value;
}

// ---- The host's server -----------------------------------------------------------------------

void answerJoinRequest(uint32_t connection, MessageBuffer* message) {
  int32_t id = idOf(connection);
  if (FindPlayer(id)) {
    logDropped(kMsgJoinRequest, connection, "joined already");
    return;
  }
  // Only the connect is checked against a running round; a request that comes later must not
  // add a player in the middle of one either.
  if (world.match.running) {
    SendRoundRunningMessage(connection);
    flushConnections();
    rt::closeConnection(connection);
    forgetConnection(connection);
    return;
  }
  std::string name = getString(message);
  Player* player = createPlayer();
  player->id = id;
  if (!name.empty()) SetPlayerName(*player, name);
  ++session.lobbyRevision;
  rt::logLine("JOIN", "player %d \"%s\" joined, %zu players", id, PlayerName(*player).c_str(),
              world.players.count());
  BroadcastPlayerList();
  if (session.settings.mapSelected) SendServerDataMessage(connection);
}

// The echo: only from a player, only speaking for himself, never a message meant for clients.
void echoFromPlayer(uint32_t connection, const MessageSpec& spec, MessageBuffer* message) {
  if (!FindPlayer(idOf(connection))) {
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
    SendRoundRunningMessage(connection);
    flushConnections();
    rt::closeConnection(connection);
    forgetConnection(connection);
    return;
  }
  SendIdentifyMessage(connection);
}

void answerInformation(uint32_t connection) {
  std::string text = ServerInformationText();
  rt::sendBytes(connection, text.data(), static_cast<int>(text.size()));
  rt::closeConnection(connection);
  forgetConnection(connection);
  if (mayLog()) rt::logLine("MSG", "information sent to %u", connection);
}

void readGameConnection(uint32_t connection) {
  for (int i = 0; i < kMaxReadsPerEvent; ++i) {
    MessageBuffer* message = receiveMessage(connection, 0);
    if (message) {
      DispatchServerMessage(connection, message);
      freeBuffer(message);
    }
    if (!rt::connectionExists(connection) || sticks(connectionFault(connection))) {
      DropClient(connection);
      return;
    }
    if (!message && rt::pollConnection(connection) != rt::kNetData) return;
  }
}

void readPositionPeer(uint32_t peer) {
  for (int i = 0; i < kMaxReadsPerEvent; ++i) {
    MessageBuffer* message = receiveMessage(peer, 0);
    if (message) {
      RelayPositionMessage(peer, message);
      freeBuffer(message);
    }
    // A datagram stream has no connection to lose: start over with the next datagram.
    if (sticks(connectionFault(peer))) forgetConnection(peer);
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
    DropClient(event.connection);
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
    if (!rt::connectionExists(connection) || sticks(connectionFault(connection))) {
      doomed.push_back(connection);
    }
  }
  for (uint32_t connection : doomed) DropClient(connection);
}

// ---- Clients ---------------------------------------------------------------------------------

float sanePosition(float value) {
  return std::isfinite(value) && std::fabs(value) <= kFarPosition ? value : 0.0f;
}

// A wire block from the host, made safe to draw and to play with.
void sanitiseWire(PlayerWire& wire) {
  wire.dead = wire.dead ? 1 : 0;
  wire.udpLink = 0;  // the host's own bookkeeping
  size_t length = strnlen(wire.name, sizeof wire.name);
  memset(wire.name + length, 0, sizeof wire.name - length);
  wire.x = sanePosition(wire.x);
  wire.y = sanePosition(wire.y);
  wire.netX = sanePosition(wire.netX);
  wire.netY = sanePosition(wire.netY);
  wire.speed = std::isfinite(wire.speed) ? std::clamp(wire.speed, 0.0f, kMaxSpeed) : 0.0f;
  wire.bodyDirection = std::isfinite(wire.bodyDirection)
                           ? std::clamp(wire.bodyDirection, -360.0f, 360.0f) : 0.0f;
  wire.direction = std::clamp(wire.direction, -360, 360);
  wire.barrelCapacity = std::clamp(wire.barrelCapacity, 1, 10);
  wire.strength = std::clamp(wire.strength, kMinStrength, kMaxStrength);
  wire.fuseTime = std::clamp(wire.fuseTime, kMinFuseTime, kMaxFuseTime);
}

void onIdentify(MessageBuffer* message) {
  int32_t id = getLong(message);
  if (session.myId != 0) {
    logDropped(kMsgIdentify, 0, "identified already");
    return;
  }
  session.myId = id;
  rt::logLine("SESSION", "identified as %d", id);
  // A watching host has no player: it never asks to join.
  if (session.isHost && session.observer) return;
  SendJoinRequestMessage(session.playerName);
}

void onPlayerList(MessageBuffer* message) {
  if (!session.isHost) {
    int32_t count = getLong(message);
    int64_t left = message->length - (message->cursor - message->data);
    int64_t present = left / kWirePlayerSize;
    int64_t records = std::clamp<int64_t>(count, 0, present);
    removeAllPlayers();
    for (int64_t i = 0; i < records; ++i) {
      PlayerWire wire;
      getData(message, &wire, kWirePlayerSize);
      sanitiseWire(wire);
      Player* player = createPlayer();
      static_cast<PlayerWire&>(*player) = wire;
    }
  }
  world.localPlayer = FindPlayer(session.myId);
  ++session.lobbyRevision;
}

void onKill(MessageBuffer* message) {
  int32_t victimId = getLong(message);
  ApplyKill(victimId, getLong(message));
}

void onPlayerGone(MessageBuffer* message) {
  int32_t id = getLong(message);
  // On the host the server has removed the record already; its client only reads them.
  if (!session.isHost) {
    Player* player = FindPlayer(id);
    if (player) rt::logLine("LEAVE", "player %d \"%s\" left", id, PlayerName(*player).c_str());
    removePlayer(player);
  }
  ++session.lobbyRevision;
}

void onServerData(MessageBuffer* message) {
  session.settings.mapName = cut(getString(message), kLobbyTextLimit);
  session.settings.rounds = getLong(message);
  session.settings.roundTime = getLong(message);
  session.settings.mapSelected = !session.settings.mapName.empty();
}

void onGameCanceled() {
  rt::logLine("SESSION", "the host closed the game");
  if (world.match.running) ReturnToLobby();
  session.notice = "Game Canceled";
}

void addLobbyRow(const std::string& row) {
  session.lobbyChat.push_back(row);
  if (session.lobbyChat.size() > kLobbyChatRows) session.lobbyChat.erase(session.lobbyChat.begin());
}

void onTextLine(MessageBuffer* message) {
  int32_t subtype = getLong(message);
  if (subtype == kChatSubtype) {
    int32_t senderId = getLong(message);
    std::string text = cut(getString(message), kLobbyTextLimit);
    Player* sender = FindPlayer(senderId);
    if (!sender) return;
    rt::logLine("CHAT", "%s: %.128s", PlayerName(*sender).c_str(), text.c_str());
    if (world.match.running) {
      WorldEvent event{WorldEventType::kChatLine};
      event.player = sender;
      event.text = text;
      NotifyWorld(event);
    } else {
      addLobbyRow(cut(PlayerName(*sender), 32) + ": " + text);
    }
    return;
  }
  if (subtype == kPlayerLeftSubtype) {
    WorldEvent event{WorldEventType::kLeaveLine};
    event.colour = static_cast<uint32_t>(getLong(message));
    std::string name = cut(getString(message), 32);
    event.text = name;
    NotifyWorld(event);
  }
}

void onBarrel(MessageBuffer* message) {
  int32_t owner = getLong(message);
  int32_t strength = getLong(message);
  float x = getFloat(message);
  float y = getFloat(message);
  int32_t fuseTime = getLong(message);
  PlaceBarrel(owner, strength, x, y, fuseTime);
}

void onItemDropped(MessageBuffer* message) {
  int32_t row = getWord(message);
  int32_t id = getLong(message);
  int32_t x = getLong(message);
  int32_t y = getLong(message);
  CreateItem(row, static_cast<float>(x), static_cast<float>(y), id);
}

// The box grid travels row by row, one byte a cell, in the order the host's map has them.
void writeBoxGrid(MessageBuffer* buffer) {
  for (int32_t row = 0; row < mapRows(); ++row) {
    for (int32_t column = 0; column < mapColumns(); ++column) {
      putByte(buffer, world.round.box.get(column, row) != 0 ? 1 : 0);
    }
  }
}

// Reads as many cells as this machine's map has and the message holds; a different map on the
// host (the user's business) at worst misplaces boxes, never reads or writes outside the grid.
void readBoxGrid(MessageBuffer* message) {
  for (int32_t row = 0; row < mapRows(); ++row) {
    for (int32_t column = 0; column < mapColumns(); ++column) {
      uint8_t cell = 0;
      if (getData(message, &cell, 1) != 1) return;
      world.round.box.set(column, row, cell != 0 ? 1 : 0);
    }
  }
}

// Loads the map, takes the round settings, fills the box grid from the bytes present and puts
// the players of this machine's list on the positions given, in list order. Refused, with
// nothing changed, when the map name is not a plain map name.
bool readRoundStart(MessageBuffer* message) {
  std::string mapName = getString(message);
  if (!isSafeMapName(mapName)) {
    rt::logLine("ROUND", "round start refused: \"%.64s\" is not a map name", mapName.c_str());
    return false;
  }
  BeginRound(mapName);
  world.match.rounds = getLong(message);
  world.match.roundTime = getLong(message);
  generateBoxes(false);
  readBoxGrid(message);
  int32_t count = getLong(message);
  if (count != static_cast<int32_t>(world.players.count())) {
    rt::logLine("ROUND", "host names %d players, this machine knows %zu", count,
                world.players.count());
  }
  // Both lists come from the same player-list message, so list order matches the host's.
  for (Player& player : world.players) {
    float x = getFloat(message);
    PlacePlayerForRound(player, x, getFloat(message));
  }
  RoundStarted();
  return true;
}

void onRoundStart(MessageBuffer* message) {
  if (!readRoundStart(message)) return;
  session.nextPositionAt = 0;
}

// The messages whose effect the host has applied already as host; 14 it sends as it leaves.
bool hostSkips(int32_t type) {
  return type == kMsgRoundStart || type == kMsgGameOver || type == kMsgServerData ||
         type == kMsgItemDropped || type == kMsgGameCanceled;
}

void readGameMessages() {
  for (int i = 0; i < kMaxClientReads; ++i) {
    if (rt::pollConnection(session.gameConnection) != rt::kNetData) break;
    MessageBuffer* message = receiveMessage(session.gameConnection, 0);
    if (message) {
      DispatchClientMessage(message);
      freeBuffer(message);
      if (!session.isConnected) return;
    }
    if (sticks(connectionFault(session.gameConnection))) break;
  }
  if (!rt::connectionExists(session.gameConnection) ||
      sticks(connectionFault(session.gameConnection))) {
    LoseConnection();
  }
}

void readPositions() {
  for (int i = 0; i < kMaxClientReads; ++i) {
    if (rt::pollConnection(session.positionLink) != rt::kNetData) return;
    MessageBuffer* message = receiveMessage(session.positionLink, 0);
    if (message) {
      ApplyPositionMessage(message);
      freeBuffer(message);
    }
    if (sticks(connectionFault(session.positionLink))) forgetConnection(session.positionLink);
  }
}

}  // namespace

// ---- The table -------------------------------------------------------------------------------

const MessageSpec* FindMessageSpec(int32_t type) {
  for (const MessageSpec& spec : kMessageTable) {
    if (spec.type == type) return &spec;
  }
  return nullptr;
}

int32_t MinimumMessageLength(const MessageSpec& spec) {
  int32_t length = 4;
  for (const char* field = spec.fields; *field; ++field) {
    switch (*field) {
      case 'l': case 'f': length += 4; break;
      case 'w': length += 2; break;
      case 's': length += 1; break;
      default: break;
    }
  }
  return length;
}

// ---- Senders ---------------------------------------------------------------------------------

void SendJoinRequestMessage(const std::string& name) {
  MessageBuffer* buffer = newMessage(kMsgJoinRequest);
  putString(buffer, cut(name, 32));
  sendToHost(buffer);
}

void SendAbilityMessage(int32_t type, int32_t id, int32_t value) {
  if (type != kAbilityStrength && type != kAbilityFuseTime && type != kAbilityCapacity) return;
  MessageBuffer* buffer = newMessage(type);
  putLong(buffer, id);
  putWord(buffer, value);
  sendToHost(buffer);
}

void SendKillMessage(int32_t victim, int32_t killer) {
  MessageBuffer* buffer = newMessage(kMsgKill);
  putLong(buffer, victim);
  putLong(buffer, killer);
  sendToHost(buffer);
}

void SendBarrelMessage(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime) {
  MessageBuffer* buffer = newMessage(kMsgBarrel);
  putLong(buffer, owner);
  putLong(buffer, strength);
  putFloat(buffer, x);
  putFloat(buffer, y);
  putLong(buffer, fuseTime);
  sendToHost(buffer);
}

void SendItemTakenMessage(int32_t id) {
  MessageBuffer* buffer = newMessage(kMsgItemTaken);
  putLong(buffer, id);
  sendToHost(buffer);
}

void SendChatMessage(const std::string& text) {
  if (text.empty() || !session.isConnected) return;
  MessageBuffer* buffer = newMessage(kMsgTextLine);
  putLong(buffer, kChatSubtype);
  putLong(buffer, session.myId);
  putString(buffer, text);
  sendToHost(buffer);
}

void SendIdentifyMessage(uint32_t connection) {
  MessageBuffer* buffer = newMessage(kMsgIdentify);
  putLong(buffer, idOf(connection));
  sendToOne(buffer, connection);
}

void SendRoundRunningMessage(uint32_t connection) {
  sendToOne(newMessage(kMsgRoundRunning), connection);
}

void SendServerDataMessage(uint32_t connection) {
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

void BroadcastPlayerList() {
  MessageBuffer* buffer = newMessage(kMsgPlayerList);
  putLong(buffer, static_cast<int32_t>(world.players.count()));
  for (const Player& player : world.players) putData(buffer, &WireOf(player), kWirePlayerSize);
  broadcast(buffer);
}

void BroadcastPlayerGone(int32_t id) {
  MessageBuffer* buffer = newMessage(kMsgPlayerGone);
  putLong(buffer, id);
  broadcast(buffer);
}

void BroadcastPlayerLeft(uint32_t colour, const std::string& name) {
  MessageBuffer* buffer = newMessage(kMsgTextLine);
  putLong(buffer, kPlayerLeftSubtype);
  putLong(buffer, static_cast<int32_t>(colour));
  putString(buffer, name);
  broadcast(buffer);
}

void BroadcastRoundStart() { broadcast(NewRoundStartMessage()); }

MessageBuffer* NewRoundStartMessage() {
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

void BroadcastGameOver() { broadcast(newMessage(kMsgGameOver)); }
void BroadcastGameCanceled() { broadcast(newMessage(kMsgGameCanceled)); }

void BroadcastItemDropped(int32_t row, int32_t id, int32_t x, int32_t y) {
  MessageBuffer* buffer = newMessage(kMsgItemDropped);
  putWord(buffer, row);
  putLong(buffer, id);
  putLong(buffer, x);
  putLong(buffer, y);
  broadcast(buffer);
}

RuleMessages NetworkRuleMessages() {
  RuleMessages messages;
  messages.requestBarrel = SendBarrelMessage;
  messages.reportDeath = SendKillMessage;
  messages.itemDropped = [](int32_t row, int32_t id, int32_t x, int32_t y) {
    if (session.isHost) BroadcastItemDropped(row, id, x, y);
  };
  messages.abilityChanged = SendAbilityMessage;
  messages.itemTaken = SendItemTakenMessage;
  return messages;
}

// ---- Dispatch --------------------------------------------------------------------------------

void DispatchServerMessage(uint32_t connection, MessageBuffer* message) {
  message->cursor = message->data;
  int32_t type = getLong(message);
  const MessageSpec* spec = FindMessageSpec(type);
  logReceived(type, connection, message->length);
  if (!spec) {
    logDropped(type, connection, "unknown type");
    return;
  }
  if (spec->from != kFromClient) {
    logDropped(type, connection, "only the host sends it");
    return;
  }
  if (message->length < MinimumMessageLength(*spec)) {
    logDropped(type, connection, "too short");
    return;
  }
  if (type == kMsgJoinRequest) {
    answerJoinRequest(connection, message);
    return;
  }
  if (spec->echoed) echoFromPlayer(connection, *spec, message);
}

void DispatchClientMessage(MessageBuffer* message) {
  message->cursor = message->data;
  int32_t type = getLong(message);
  logReceived(type, 0, message->length);
  if (session.isHost && hostSkips(type)) return;
  switch (type) {
    case kMsgIdentify: onIdentify(message); break;
    case kMsgPlayerList: onPlayerList(message); break;
    case kMsgStrength:
    case kMsgFuseTime:
    case kMsgCapacity: {
      int32_t id = getLong(message);
      SetAbility(type, id, getWord(message));
      break;
    }
    case kMsgKill: onKill(message); break;
    case kMsgPlayerGone: onPlayerGone(message); break;
    case kMsgRoundStart: onRoundStart(message); break;
    case kMsgGameOver: ReturnToLobby(); break;
    case kMsgServerData: onServerData(message); break;
    case kMsgGameCanceled: onGameCanceled(); break;
    case kMsgRoundRunning: rt::logLine("SESSION", "a round runs: the host turned us away"); break;
    case kMsgTextLine: onTextLine(message); break;
    case kMsgBarrel: onBarrel(message); break;
    case kMsgItemDropped: onItemDropped(message); break;
    case kMsgItemTaken: RemoveItemById(getLong(message)); break;
    default: break;  // unknown, or meant for the host
  }
}

void RelayPositionMessage(uint32_t peer, MessageBuffer* message) {
  Player* sender = nullptr;
  if (message->length >= kPositionMessageLength) {
    message->cursor = message->data;
    sender = FindPlayer(getLong(message));
    message->cursor = message->data;
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

void ApplyPositionMessage(MessageBuffer* message) {
  if (message->length < kPositionMessageLength) return;
  message->cursor = message->data;
  int32_t id = getLong(message);
  uint32_t clock = static_cast<uint32_t>(getLong(message));
  float fromX = getFloat(message), fromY = getFloat(message);
  float toX = getFloat(message), toY = getFloat(message);
  int32_t direction = getWord(message);
  Player* player = FindPlayer(id);
  if (!player || player == world.localPlayer) return;
  if (player->hasUdpTime && !rt::timeAfter(clock, player->lastUdpTime)) return;
  for (float value : {fromX, fromY, toX, toY}) {
    if (!std::isfinite(value) || std::fabs(value) > kFarPosition) return;
  }
  player->lastUdpTime = clock;
  player->hasUdpTime = true;
  player->x = fromX;
  player->y = fromY;
  player->netX = toX;
  player->netY = toY;
  player->direction = direction;
  ++positionCounts.applied;
}

// ---- The polls -------------------------------------------------------------------------------

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

void pollClient() {
  if (!session.isConnected) return;
  readGameMessages();
  if (!session.isConnected) return;
  readPositions();
  logPositionCounts();
}

void PollNetwork() {
  pollServer();
  pollClient();
  flushConnections();
}

void SendPositionWhenDue() {
  Player* player = world.localPlayer;
  if (!player || !session.isConnected || !session.positionLink) return;
  if (session.nextPositionAt != 0 && !rt::timeAfter(rt::frame.now, session.nextPositionAt)) return;
  session.nextPositionAt = rt::frame.now + kPositionInterval;
  if (session.nextPositionAt == 0) session.nextPositionAt = 1;
  MessageBuffer* buffer = createBuffer(rt::kAnyNumber, kMessageCapacity, 0);
  if (!buffer) return;
  putLong(buffer, player->id);
  putLong(buffer, static_cast<int32_t>(rt::frame.now));
  putFloat(buffer, player->netX);
  putFloat(buffer, player->netY);
  putFloat(buffer, player->x);
  putFloat(buffer, player->y);
  putWord(buffer, player->direction);
  sendMessage(buffer, session.positionLink, 1);
  player->netX = player->x;
  player->netY = player->y;
  ++positionCounts.sent;
}

// ---- The host's bookkeeping ------------------------------------------------------------------

std::string ServerInformationText() {
  std::string name = ConfigText(config.serverName);
  // The answer is split at TABs; a TAB or line break in the name would shift every field.
  auto breaksFields = [](char c) { return c == '\t' || c == '\r' || c == '\n'; };
  std::replace_if(name.begin(), name.end(), breaksFields, ' ');
  const RoundSettings& s = session.settings;
  return name + "\t" + s.mapName + "\t" + std::to_string(world.players.count()) + "/" +
         std::to_string(s.playerLimit) + "\t" + std::to_string(s.rounds) + "\t" +
         std::to_string(s.roundTime) + "\t" + std::to_string(s.mapCrc);
}

void DropClient(uint32_t connection) {
  rt::closeConnection(connection);
  forgetConnection(connection);
  Player* player = FindPlayer(idOf(connection));
  if (!player) return;
  int32_t id = player->id;
  uint32_t colour = static_cast<uint32_t>(player->colour);
  std::string name = PlayerName(*player);
  if (player->udpLink != 0) {
    rt::closeConnection(connectionOf(player->udpLink));
    forgetConnection(connectionOf(player->udpLink));
  }
  removePlayer(player);
  ++session.lobbyRevision;
  rt::logLine("LEAVE", "player %d \"%s\" left, %zu players", id, name.c_str(),
              world.players.count());
  BroadcastPlayerGone(id);
  BroadcastPlayerLeft(colour, name);
}
