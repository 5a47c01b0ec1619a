#include "world/rounds.h"

#include <algorithm>
#include <cmath>

#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "world/events.h"
#include "world/map.h"
#include "world/rules_local.h"

namespace {

float finiteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

void putAt(Player& player, float x, float y) {
  player.x = player.netX = finiteOrZero(x);
  player.y = player.netY = finiteOrZero(y);
}

int countBoxes() {
  int boxes = 0;
  const Grid<int32_t>& box = world.round.box;
  for (int column = 0; column < box.columns(); ++column) {
    for (int row = 0; row < box.rows(); ++row) boxes += box.get(column, row) != 0;
  }
  return boxes;
}

}  // namespace

bool beginRound(const std::string& mapName) {
  clearRound();
  if (!loadMapNamed(mapName)) {
    rt::logLine("ROUND", "no round: map %.64s cannot be loaded", mapName.c_str());
    return false;
  }
  world.match.mapName = mapName;
  world.match.roundNumber = saturatingAdd(world.match.roundNumber, 1);
  world.match.running = true;
  setTileSize(world.map.tileWidth, world.map.tileHeight);
  return true;
}

void roundStarted() {
  world.round.startedAt = rt::frame.now;
  rt::logLine("ROUND", "start %d map %s (%d of %d, %zu players, %d boxes)",
              world.match.roundNumber, world.match.mapName.c_str(), world.match.roundNumber,
              world.match.rounds, world.players.count(), countBoxes());
  notifyWorld({WorldEventType::kRoundStarted});
}

void placePlayerForRound(Player& player, float x, float y) {
  putAt(player, x, y);
  resetPlayerForRound(player);
}

void placePlayersOnSpawnPoints() {
  size_t index = 0;
  for (Player& player : world.players) {
    if (const SpawnPoint* spawn = spawnPointFor(index)) {
      placePlayerForRound(player, static_cast<float>(spawn->x), static_cast<float>(spawn->y));
    } else {
      placePlayerForRound(player, cellCentreX(0), cellCentreY(0));
    }
    ++index;
  }
}

bool startHostRound(const std::string& mapName, int32_t rounds, int32_t roundTimeMs) {
  if (!beginRound(mapName)) return false;
  world.match.rounds = rounds;
  world.match.roundTime = roundTimeMs;
  generateBoxes(true);
  placePlayersOnSpawnPoints();
  roundStarted();
  return true;
}

int32_t roundTimeLeft(uint32_t now) {
  if (world.match.roundTime <= 0) return -1;
  // A clock before the start (never on one machine's clock, but cheap to rule out) counts as 0.
  const int64_t played = std::max(int32_t{0}, static_cast<int32_t>(now - world.round.startedAt));
  return static_cast<int32_t>(std::max<int64_t>(0, world.match.roundTime - played));
}

bool roundEndDue(uint32_t now) {
  // A pending end runs its course; otherwise the clock may end the round with players alive.
  if (world.round.endAt == 0 && roundTimeLeft(now) == 0) {
    rt::logLine("ROUND", "time is up after %d s", world.match.roundTime / 1000);
    return true;
  }
  int count = world.players.count() <= 1 ? 1 : 0;
  for (const Player& player : world.players) count += player.dead ? 0 : 1;
  if (count >= 2) return false;
  if (world.round.endAt == 0) {
    world.round.endAt = now + kRoundEndDelay;
    // 0 means "no end pending"; the clock may land there once in 49 days.
    if (world.round.endAt == 0) world.round.endAt = 1;
    return false;
  }
  if (!rt::timeAfter(now, world.round.endAt)) return false;
  world.round.endAt = 0;
  return true;
}

RoundEvent roundControl(uint32_t now) {
  if (world.match.roundNumber > world.match.rounds) return RoundEvent::kGameOver;
  return roundEndDue(now) ? RoundEvent::kNextRound : RoundEvent::kNone;
}

void endMatchWorld() {
  clearRound();
  clearMap();
  world.match = MatchState{};
  for (Player& player : world.players) placePlayerForRound(player, 0, 0);
  notifyWorld({WorldEventType::kMatchEnded});
}
