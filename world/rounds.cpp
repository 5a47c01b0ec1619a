#include "world/rounds.h"

#include <cmath>

#include "runtime/clock.h"
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

bool BeginRound(const std::string& mapName) {
  ClearRound();
  bool loaded = loadMapNamed(mapName);
  if (!loaded) rt::logLine("ROUND", "map %s could not be loaded", mapName.c_str());
  world.match.mapName = mapName;
  world.match.roundNumber = SaturatingAdd(world.match.roundNumber, 1);
  world.match.running = true;
  setTileSize(world.map.tileWidth, world.map.tileHeight);
  return loaded;
}

void RoundStarted() {
  rt::logLine("ROUND", "start %d map %s (%d of %d, %zu players, %d boxes)",
              world.match.roundNumber, world.match.mapName.c_str(), world.match.roundNumber,
              world.match.rounds, world.players.count(), countBoxes());
  NotifyWorld({WorldEventType::kRoundStarted});
}

void PlacePlayerForRound(Player& player, float x, float y) {
  putAt(player, x, y);
  ResetPlayerForRound(player);
}

void PlacePlayersOnSpawnPoints() {
  size_t index = 0;
  for (Player& player : world.players) {
    if (const SpawnPoint* spawn = spawnPointFor(index)) {
      PlacePlayerForRound(player, static_cast<float>(spawn->x), static_cast<float>(spawn->y));
    } else {
      PlacePlayerForRound(player, CellCentreX(0), CellCentreY(0));
    }
    ++index;
  }
}

bool StartHostRound(const std::string& mapName, int32_t rounds, int32_t roundTimeMs) {
  bool loaded = BeginRound(mapName);
  world.match.rounds = rounds;
  world.match.roundTime = roundTimeMs;
  generateBoxes(true);
  PlacePlayersOnSpawnPoints();
  RoundStarted();
  return loaded;
}

bool RoundEndDue(uint32_t now) {
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

RoundEvent RoundControl(uint32_t now) {
  if (world.match.roundNumber > world.match.rounds) return RoundEvent::kGameOver;
  return RoundEndDue(now) ? RoundEvent::kNextRound : RoundEvent::kNone;
}

void EndMatchWorld() {
  ClearRound();
  clearMap();
  world.match = MatchState{};
  for (Player& player : world.players) PlacePlayerForRound(player, 0, 0);
  NotifyWorld({WorldEventType::kMatchEnded});
}
