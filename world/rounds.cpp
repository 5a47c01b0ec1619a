#include "world/rounds.h"

#include <cmath>

#include "render/animation.h"
#include "render/lights.h"
#include "render/particles.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "world/barrels.h"
#include "world/items.h"
#include "world/map.h"
#include "world/rules_local.h"
#include "world/world.h"

namespace {

constexpr int32_t kRoundStartType = 11;

float finiteOrZero(float value) { return std::isfinite(value) ? value : 0.0f; }

void putAt(Player& player, float x, float y) {
  player.x = player.netX = finiteOrZero(x);
  player.y = player.netY = finiteOrZero(y);
}

void resetForRound(Player& player) {
  ResetPlayerForRound(player);
  AnimatePlayerBody(player.body, false, true);
}

int countBoxes() {
  int boxes = 0;
  for (int column = 0; column < world.box.columns(); ++column) {
    for (int row = 0; row < world.box.rows(); ++row) boxes += world.box.get(column, row) != 0;
  }
  return boxes;
}

void logRoundStart() {
  rt::logLine("ROUND", "start %d map %s (%d of %d, %zu players, %d boxes)",
              world.round.roundNumber, world.round.mapName.c_str(), world.round.roundNumber,
              world.round.rounds, world.players.count(), countBoxes());
}

// The box grid travels row by row, one byte a cell, in the order the host's map has them.
void writeBoxGrid(MessageBuffer* buffer) {
  for (int32_t row = 0; row < mapRows(); ++row) {
    for (int32_t column = 0; column < mapColumns(); ++column) {
      putByte(buffer, world.box.get(column, row) != 0 ? 1 : 0);
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
      world.box.set(column, row, cell != 0 ? 1 : 0);
    }
  }
}

}  // namespace

bool BeginRound(const std::string& mapName) {
  ClearItems();
  ClearBarrels();
  bool loaded = loadMapNamed(mapName);
  if (!loaded) rt::logLine("ROUND", "map %s could not be loaded", mapName.c_str());
  if (Player* local = world.localPlayer) {
    // A map that did not load cleared no emitters: the old spark must not stay behind.
    RemoveEmitter(local->hudEmitter);
    local->hudEmitter = AddEmitter(*ParticleTypeByName("Spark HUD"), 0, 0);
  }
  world.decals.clear();
  world.round.mapName = mapName;
  world.round.roundNumber = SaturatingAdd(world.round.roundNumber, 1);
  world.round.running = true;
  setTileSize(world.tileWidth, world.tileHeight);
  return loaded;
}

void PlacePlayersOnSpawnPoints() {
  size_t index = 0;
  for (Player& player : world.players) {
    if (const SpawnPoint* spawn = spawnPointFor(index)) {
      putAt(player, static_cast<float>(spawn->x), static_cast<float>(spawn->y));
    } else {
      putAt(player, CellCentreX(0), CellCentreY(0));
    }
    resetForRound(player);
    ++index;
  }
}

bool StartHostRound(const std::string& mapName, int32_t rounds, int32_t roundTimeMs) {
  bool loaded = BeginRound(mapName);
  world.round.rounds = rounds;
  world.round.roundTime = roundTimeMs;
  generateBoxes(true);
  PlacePlayersOnSpawnPoints();
  logRoundStart();
  return loaded;
}

void WriteRoundStart(MessageBuffer* buffer) {
  putLong(buffer, kRoundStartType);
  putString(buffer, world.round.mapName);
  putLong(buffer, world.round.rounds);
  putLong(buffer, world.round.roundTime);
  writeBoxGrid(buffer);
  putLong(buffer, static_cast<int32_t>(world.players.count()));
  for (const Player& player : world.players) {
    putFloat(buffer, player.x);
    putFloat(buffer, player.y);
  }
}

bool ApplyRoundStart(MessageBuffer* message) {
  std::string mapName = getString(message);
  if (!isSafeMapName(mapName)) {
    rt::logLine("ROUND", "round start refused: \"%.64s\" is not a map name", mapName.c_str());
    return false;
  }
  BeginRound(mapName);
  world.round.rounds = getLong(message);
  world.round.roundTime = getLong(message);
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
    float y = getFloat(message);
    putAt(player, x, y);
    resetForRound(player);
  }
  logRoundStart();
  return true;
}

RoundEvent RoundControl(uint32_t now) {
  if (world.round.roundNumber > world.round.rounds) return RoundEvent::kGameOver;
  int count = world.players.count() <= 1 ? 1 : 0;
  for (const Player& player : world.players) count += player.dead ? 0 : 1;
  if (count >= 2) return RoundEvent::kNone;
  if (world.round.endAt == 0) {
    world.round.endAt = now + kRoundEndDelay;
    // 0 means "no end pending"; the clock may land there once in 49 days.
    if (world.round.endAt == 0) world.round.endAt = 1;
    return RoundEvent::kNone;
  }
  if (!rt::timeAfter(now, world.round.endAt)) return RoundEvent::kNone;
  world.round.endAt = 0;
  return RoundEvent::kNextRound;
}

void EndMatchWorld() {
  ClearItems();
  ClearBarrels();
  clearMap();
  ClearLights();
  ClearEmitters();
  ClearParticles();
  world.round.roundNumber = 0;
  world.round.running = false;
  world.round.endAt = 0;
  for (Player& player : world.players) {
    putAt(player, 0, 0);
    ResetPlayerForRound(player);
    player.hudEmitter = nullptr;
  }
}
