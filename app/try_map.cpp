// --try-map NAME: a map walked alone, or with a few wandering bots, so that a map designer can
// look at it, blow it up and watch the lights and particles. This machine is host and every
// player's machine at once: each message the rules send is applied to the world at once.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "data/config.h"
#include "net/session.h"
#include "render/world_render.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "world/barrels.h"
#include "world/bot_brain.h"
#include "world/items.h"
#include "world/map.h"
#include "world/messages.h"
#include "world/movement.h"
#include "world/rounds.h"
#include "world/world.h"

namespace {

constexpr int32_t kLocalPlayerId = 1;
constexpr int kMaxBots = 4;
constexpr float kArrived = 2.0f;           // pixels from its target at which a bot decides again

struct TryMap {
  bool active = false;
  std::string name;
  std::vector<int32_t> botIds;
  uint32_t lastBotStep = 0;
};

TryMap trying;

Player* addPlayer(int32_t id, const std::string& name) {
  size_t position = world.players.count();
  Player* player = world.players.append();
  player->id = id;
  setPlayerName(*player, name);
  player->colour = static_cast<int32_t>(playerColour(position));
  return player;
}

// Round start as the host does it: nothing of the last round stays, the map comes fresh from
// its file with new boxes, and everybody stands on a spawn point. No number of rounds: a tried
// map goes on until the window closes.
bool startRound() {
  if (!startHostRound(trying.name, 0, 0)) return false;
  if (world.localPlayer) CentreCamera(world.localPlayer->x, world.localPlayer->y);
  rt::logLine("TRYMAP", "round %d on %s: %dx%d cells of %dx%d, %d layers, %zu spawn points",
              world.match.roundNumber, trying.name.c_str(), mapColumns(), mapRows(),
              world.map.tileWidth, world.map.tileHeight, mapLayers(),
              mapHeader().spawnPoints.size());
  return true;
}

// ---- Bots ------------------------------------------------------------------------------------

bool isBot(const Player& player) {
  return std::find(trying.botIds.begin(), trying.botIds.end(), player.id) != trying.botIds.end();
}

// A bot's machine reports its own death, like every other machine.
void botInBlast(int32_t column, int32_t row, int32_t owner) {
  for (Player& player : world.players) {
    if (player.dead || !isBot(player)) continue;
    if (cellX(player.x) == column && cellY(player.y) == row) sendDeathReport(player.id, owner);
  }
}

void headFor(Player& bot, int column, int row) {
  bot.direction = botFacing(cellX(bot.x), cellY(bot.y), column, row, bot.direction);
  bot.netX = cellCentreX(column);
  bot.netY = cellCentreY(row);
}

// A bot decides again once it is within a step of its target: the walk toward a reported
// position stands still inside one step, wherever that leaves it. Its barrels are placed at
// once here, so it never asks twice for one.
void thinkBot(Player& bot, float factor) {
  float arrived = std::max(kArrived, bot.speed * factor);
  if (std::fabs(bot.netX - bot.x) > arrived || std::fabs(bot.netY - bot.y) > arrived) return;
  bot.x = bot.netX;
  bot.y = bot.netY;
  BotDecision decision = decideBot(bot, BotPlay::kWander, BotStyle{});
  if (decision.placeBarrel) {
    sendBarrelRequest(bot.id, bot.strength, bot.x, bot.y, bot.fuseTime);
  }
  if (decision.walk) headFor(bot, decision.column, decision.row);
}

void thinkBots() {
  float factor = frameFactor(rt::frame.now, &trying.lastBotStep);
  for (Player& player : world.players) {
    if (!player.dead && isBot(player)) thinkBot(player, factor);
  }
}

}  // namespace

bool StartTryMap(const Options& options) {
  trying.name = options.tryMap;
  if (!isSafeMapName(trying.name)) {
    fprintf(stderr, "powderbox: '%s' is not a map name\n", trying.name.c_str());
    return false;
  }
  world.isHost = true;
  setRuleMessages(directRuleMessages());
  setCellBurntHook(botInBlast);
  world.localPlayer = addPlayer(kLocalPlayerId, config.playerName);
  int bots = std::clamp(options.bots, 0, kMaxBots);
  for (int i = 0; i < bots; ++i) {
    int32_t id = kLocalPlayerId + 1 + i;
    addPlayer(id, "Bot " + std::to_string(i + 1));
    trying.botIds.push_back(id);
  }
  if (!startRound()) {
    fprintf(stderr, "powderbox: cannot load the map %s\n", mapFilePath(trying.name).c_str());
    return false;
  }
  trying.active = true;
  return true;
}

void EndTryMap() {
  if (!trying.active) return;
  trying = TryMap{};
  setRuleMessages({});
  setCellBurntHook(nullptr);
  removeAllPlayers();
  world.isHost = false;
}

void TryMapStep() {
  if (!trying.active) return;
  // A map file broken while it is tried ends the try rather than failing every five seconds.
  if (roundEndDue(rt::frame.now) && !startRound()) {
    fprintf(stderr, "powderbox: the map %s cannot be loaded any more\n",
            mapFilePath(trying.name).c_str());
    QuitGame();
  }
  thinkBots();
}
