// Every participant's client: the messages from the host applied to this machine's world, the
// position link, and what a player's machine sends.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "data/language.h"
#include "net/protocol.h"
#include "net/protocol_local.h"
#include "net/session.h"
#include "net/transport.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "world/barrels.h"
#include "world/decals.h"
#include "world/events.h"
#include "world/items.h"
#include "world/map.h"
#include "world/rounds.h"
#include "world/world.h"

namespace {

// Messages a client reads per frame at most, so that a flood cannot stall the game.
constexpr int kMaxClientReads = 4096;
constexpr float kMaxSpeed = 100.0f;

void sendToHost(MessageBuffer* buffer) {
  if (!buffer) return;
  if (!session.isConnected) {
    freeBuffer(buffer);
    return;
  }
  logSent(messageTypeOf(buffer), "host");
  sendMessage(buffer, session.gameConnection, 1);
}

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
  sendJoinRequestMessage(session.playerName);
}

// The host's own client shares the list its server keeps: it only finds itself in it.
void findOwnPlayer(MessageBuffer*) {
  world.localPlayer = findPlayer(session.myId);
  ++session.lobbyRevision;
}

void onPlayerList(MessageBuffer* message) {
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
  findOwnPlayer(message);
}

void onAbility(MessageBuffer* message) {
  int32_t id = getLong(message);
  setAbility(messageTypeOf(message), id, getWord(message));
}

void onKill(MessageBuffer* message) {
  int32_t victimId = getLong(message);
  applyKill(victimId, getLong(message));
}

void countLobbyChange(MessageBuffer*) { ++session.lobbyRevision; }

void onPlayerGone(MessageBuffer* message) {
  int32_t id = getLong(message);
  Player* player = findPlayer(id);
  if (player) rt::logLine("LEAVE", "player %d \"%s\" left", id, playerName(*player).c_str());
  removePlayer(player);
  countLobbyChange(message);
}

void onServerData(MessageBuffer* message) {
  session.settings.mapName = cutText(getString(message), kLobbyTextLimit);
  session.settings.rounds = getLong(message);
  session.settings.roundTime = getLong(message);
  session.settings.mapSelected = !session.settings.mapName.empty();
}

void onGameOver(MessageBuffer*) { returnToLobby(); }

void onRoundRunning(MessageBuffer*) {
  rt::logLine("SESSION", "a round runs: the host turned us away");
  session.turnedAway = true;
}

void onGameCanceled(MessageBuffer*) {
  rt::logLine("SESSION", "the host closed the game");
  if (world.match.running) returnToLobby();
  session.notice = "Game Canceled";
}

void addLobbyRow(const std::string& row) {
  session.lobbyChat.push_back(row);
  if (session.lobbyChat.size() > kLobbyChatRows) session.lobbyChat.erase(session.lobbyChat.begin());
}

// A notice's text in this machine's language, the map's name in place of its "~".
void addNoticeRow(const std::string& key, const std::string& mapName) {
  std::string text = Lang(key);
  size_t tilde = text.find('~');
  if (tilde != std::string::npos) text.replace(tilde, 1, mapName);
  rt::logLine("NOTICE", "%s: %.64s", key.c_str(), mapName.c_str());
  addLobbyRow(text);
}

void onNotice(MessageBuffer* message) {
  std::string key = cutText(getString(message), 64);
  std::string mapName = cutText(getString(message), 64);
  // The host names the key: only ours, so that no one fills the language table.
  for (const char* known : kNoticeKeys) {
    if (key != known) continue;
    addNoticeRow(key, mapName);
    return;
  }
}

void onTextLine(MessageBuffer* message) {
  int32_t subtype = getLong(message);
  if (subtype == kChatSubtype) {
    int32_t senderId = getLong(message);
    std::string text = cutText(getString(message), kLobbyTextLimit);
    Player* sender = findPlayer(senderId);
    if (!sender) return;
    rt::logLine("CHAT", "%s: %.128s", playerName(*sender).c_str(), text.c_str());
    if (world.match.running) {
      WorldEvent event{WorldEventType::kChatLine};
      event.player = sender;
      event.text = text;
      notifyWorld(event);
    } else {
      addLobbyRow(cutText(playerName(*sender), 32) + ": " + text);
    }
    return;
  }
  if (subtype == kNoticeSubtype) return onNotice(message);
  if (subtype == kPlayerLeftSubtype) {
    WorldEvent event{WorldEventType::kLeaveLine};
    event.colour = static_cast<uint32_t>(getLong(message));
    std::string name = cutText(getString(message), 32);
    event.text = name;
    notifyWorld(event);
  }
}

void onBarrel(MessageBuffer* message) {
  int32_t owner = getLong(message);
  int32_t strength = getLong(message);
  float x = getFloat(message);
  float y = getFloat(message);
  int32_t fuseTime = getLong(message);
  placeBarrel(owner, strength, x, y, fuseTime);
}

void onItemDropped(MessageBuffer* message) {
  int32_t row = getWord(message);
  int32_t id = getLong(message);
  int32_t x = getLong(message);
  int32_t y = getLong(message);
  createItem(row, static_cast<float>(x), static_cast<float>(y), id);
}

void onItemTaken(MessageBuffer* message) { removeItemById(getLong(message)); }

// Reads as many cells as this machine's map has and the message holds; a different map on the
// host (the user's business) at worst misplaces boxes, never reads or writes outside the grid.
void readBoxGrid(MessageBuffer* message) {
  for (int32_t row = 0; row < mapRows(); ++row) {
    for (int32_t column = 0; column < mapColumns(); ++column) {
      uint8_t cell = 0;
      getData(message, &cell, 1);
      if (message->readFailed) return;
      world.round.box.set(column, row, cell != 0 ? 1 : 0);
    }
  }
}

// Loads the map, takes the round settings, fills the box grid from the bytes present and puts
// the players of this machine's list on the positions given, in list order. Refused, with
// nothing changed, when the map name is not a plain map name; when the map does not load here
// this machine stays in (or goes back to) its lobby with a line saying so.
bool readRoundStart(MessageBuffer* message) {
  std::string mapName = getString(message);
  if (!isSafeMapName(mapName)) {
    rt::logLine("ROUND", "round start refused: \"%.64s\" is not a map name", mapName.c_str());
    return false;
  }
  if (!beginRound(mapName)) {
    // This machine cannot take part; the others play on, and the player is told why.
    if (world.match.running) returnToLobby();
    addNoticeRow("Map Not Loaded", cutText(mapName, 64));
    return false;
  }
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
    placePlayerForRound(player, x, getFloat(message));
  }
  roundStarted();
  return true;
}

void onRoundStart(MessageBuffer* message) {
  if (!readRoundStart(message)) return;
  session.nextPositionAt = 0;
}

// What a client does with each message from its host. A client that joined applies everything.
// The host's own client shares the world of the host's server, which has created and removed
// the players and applied round starts, game overs, lobby settings and item drops itself (and
// sends the cancel as it leaves): for those it has nothing left to do.
struct ClientHandler {
  int32_t type;
  void (*joined)(MessageBuffer* message);
  void (*own)(MessageBuffer* message);  // null: nothing to do
};

constexpr ClientHandler kClientHandlers[] = {
    {kMsgIdentify, onIdentify, onIdentify},
    {kMsgPlayerList, onPlayerList, findOwnPlayer},
    {kMsgStrength, onAbility, onAbility},
    {kMsgFuseTime, onAbility, onAbility},
    {kMsgCapacity, onAbility, onAbility},
    {kMsgKill, onKill, onKill},
    {kMsgPlayerGone, onPlayerGone, countLobbyChange},
    {kMsgRoundStart, onRoundStart, nullptr},
    {kMsgGameOver, onGameOver, nullptr},
    {kMsgServerData, onServerData, nullptr},
    {kMsgGameCanceled, onGameCanceled, nullptr},
    {kMsgRoundRunning, onRoundRunning, onRoundRunning},
    {kMsgTextLine, onTextLine, onTextLine},
    {kMsgBarrel, onBarrel, onBarrel},
    {kMsgItemDropped, onItemDropped, nullptr},
    {kMsgItemTaken, onItemTaken, onItemTaken},
};

void readGameMessages() {
  for (int i = 0; i < kMaxClientReads; ++i) {
    if (rt::pollConnection(session.gameConnection) != rt::kNetData) break;
    MessageBuffer* message = receiveMessage(session.gameConnection, 0);
    if (message) {
      dispatchClientMessage(message);
      freeBuffer(message);
      if (!session.isConnected) return;
    }
    if (faultSticks(connectionFault(session.gameConnection))) break;
  }
  if (!rt::connectionExists(session.gameConnection) ||
      faultSticks(connectionFault(session.gameConnection))) {
    loseConnection();
  }
}

void readPositions() {
  for (int i = 0; i < kMaxClientReads; ++i) {
    if (rt::pollConnection(session.positionLink) != rt::kNetData) return;
    MessageBuffer* message = receiveMessage(session.positionLink, 0);
    if (message) {
      applyPositionMessage(message);
      freeBuffer(message);
    }
    if (faultSticks(connectionFault(session.positionLink))) forgetConnection(session.positionLink);
  }
}

}  // namespace

// ---- Senders ---------------------------------------------------------------------------------

void sendJoinRequestMessage(const std::string& name) {
  MessageBuffer* buffer = newMessage(kMsgJoinRequest);
  putString(buffer, cutText(name, 32));
  sendToHost(buffer);
}

void sendAbilityMessage(int32_t type, int32_t id, int32_t value) {
  if (type != kAbilityStrength && type != kAbilityFuseTime && type != kAbilityCapacity) return;
  MessageBuffer* buffer = newMessage(type);
  putLong(buffer, id);
  putWord(buffer, value);
  sendToHost(buffer);
}

void sendKillMessage(int32_t victim, int32_t killer) {
  MessageBuffer* buffer = newMessage(kMsgKill);
  putLong(buffer, victim);
  putLong(buffer, killer);
  sendToHost(buffer);
}

void sendBarrelMessage(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime) {
  MessageBuffer* buffer = newMessage(kMsgBarrel);
  putLong(buffer, owner);
  putLong(buffer, strength);
  putFloat(buffer, x);
  putFloat(buffer, y);
  putLong(buffer, fuseTime);
  sendToHost(buffer);
}

void sendItemTakenMessage(int32_t id) {
  MessageBuffer* buffer = newMessage(kMsgItemTaken);
  putLong(buffer, id);
  sendToHost(buffer);
}

void sendChatMessage(const std::string& text) {
  if (text.empty() || !session.isConnected) return;
  MessageBuffer* buffer = newMessage(kMsgTextLine);
  putLong(buffer, kChatSubtype);
  putLong(buffer, session.myId);
  putString(buffer, text);
  sendToHost(buffer);
}

RuleMessages networkRuleMessages() {
  RuleMessages messages;
  messages.requestBarrel = sendBarrelMessage;
  messages.reportDeath = sendKillMessage;
  messages.itemDropped = [](int32_t row, int32_t id, int32_t x, int32_t y) {
    if (session.isHost) broadcastItemDropped(row, id, x, y);
  };
  messages.abilityChanged = sendAbilityMessage;
  messages.itemTaken = sendItemTakenMessage;
  return messages;
}

// ---- Dispatch --------------------------------------------------------------------------------

void dispatchClientMessage(MessageBuffer* message) {
  rewindBuffer(message);
  int32_t type = getLong(message);
  logReceived(type, 0, message->length);
  for (const ClientHandler& handler : kClientHandlers) {
    if (handler.type != type) continue;
    void (*handle)(MessageBuffer*) = session.isHost ? handler.own : handler.joined;
    if (handle) handle(message);
    // What a short message lacked was read as 0 or empty text, which the handlers take safely.
    if (message->readFailed) logCutShort(type, 0);
    return;
  }
  // Unknown, or meant for the host: nothing to do.
}

void applyPositionMessage(MessageBuffer* message) {
  if (message->length < kPositionMessageLength) return;
  rewindBuffer(message);
  int32_t id = getLong(message);
  uint32_t clock = static_cast<uint32_t>(getLong(message));
  float fromX = getFloat(message), fromY = getFloat(message);
  float toX = getFloat(message), toY = getFloat(message);
  int32_t direction = getWord(message);
  Player* player = findPlayer(id);
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

void pollClient() {
  if (!session.isConnected) return;
  readGameMessages();
  if (!session.isConnected) return;
  readPositions();
  logPositionCounts();
}

void pollNetwork() {
  pollServer();
  pollClient();
  flushConnections();
}

void sendPositionWhenDue() {
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

