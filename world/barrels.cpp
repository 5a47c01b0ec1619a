#include "world/barrels.h"

#include <algorithm>
#include <cmath>

#include "audio/audio.h"
#include "data/config.h"
#include "data/resources.h"
#include "render/lights.h"
#include "render/particles.h"
#include "render/world_render.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/sound.h"
#include "world/items.h"
#include "world/messages.h"
#include "world/rules_local.h"

namespace {

constexpr int kFuseLightSize = 240;
constexpr int kFlashSize = 320;
constexpr uint32_t kFlashDelay = 800;  // ms at full brightness before the flash fades
constexpr float kFlashFade = 0.02f;    // intensity lost per frame
constexpr int kExplosionParticles = 5;
constexpr int kWoodParticles = 3;

CellBurntHook burntHook = nullptr;

// Five flames, five puffs of smoke scattered over the middle half of the cell, and a flash.
void explosionEffect(int centreX, int centreY) {
  int w = world.tileWidth, h = world.tileHeight;
  const ParticleType& fire = *ParticleTypeByName("Explosion");
  for (int i = 0; i < kExplosionParticles; ++i) {
    SpawnParticle(fire, centreX + rt::random(w / 2) - w / 4, centreY + rt::random(h / 2) - h / 4);
  }
  const ParticleType& smoke = *ParticleTypeByName("Explosion Smoke");
  for (int i = 0; i < kExplosionParticles; ++i) {
    SpawnParticle(smoke, centreX + rt::random(w / 2) - w / 4,
                  centreY + rt::random(h / 2) - h / 4);
  }
  AddFlash(kLightPoint, kFlashSize, kFlashSize, centreX, centreY, kFlashDelay, kFuseLightColour,
           1.0f, kFlashFade, 0);
}

// The fuse loops: it must stop even when effects are muted, or its channel lives on.
void stopFuse(Barrel& barrel) {
  if (barrel.fuseSound) rt::stopSound(kSoundFuse, barrel.fuseSound);
  barrel.fuseSound = 0;
}

// One cell of an arm; false when the arm ends here.
bool burnCell(int32_t column, int32_t row, int32_t owner) {
  if (!OnMap(column, row)) return false;
  int centreX = static_cast<int>(CellCentreX(column));
  int centreY = static_cast<int>(CellCentreY(row));
  if (world.box.get(column, row) != 0) {
    // A box takes the blast: it breaks, and nothing behind it burns.
    world.box.set(column, row, 0);
    rt::logLine("BOX", "destroyed at cell %d,%d", column, row);
    const ParticleType& wood = *ParticleTypeByName("Wood 001");
    for (int i = 0; i < kWoodParticles; ++i) SpawnParticle(wood, centreX, centreY);
    explosionEffect(centreX, centreY);
    if (world.isHost) DropItem(static_cast<float>(centreX), static_cast<float>(centreY));
    return false;
  }
  // Only a wall stops a blast; other terrain that stops players lets it through.
  if (world.solid.get(column, row) == 1) return false;

  explosionEffect(centreX, centreY);
  if (Barrel* other = world.barrelAt.get(column, row)) {
    other->explodeAt = rt::frame.now + kChainDelay;
    other->owner = owner;
  }
  if (Item* item = world.itemAt.get(column, row)) RemoveItem(item);
  Player* local = world.localPlayer;
  if (local && CellX(local->x) == column && CellY(local->y) == row) {
    SendDeathReport(local->id, owner);
  }
  if (burntHook) burntHook(column, row, owner);
  return true;
}

// The arms run down (from the barrel's own cell), up, right and left, each up to strength cells
// and stopped by the first box, wall or the map's edge.
void explode(Barrel& barrel) {
  int32_t column = CellX(barrel.x), row = CellY(barrel.y);
  if (std::isfinite(barrel.x) && std::isfinite(barrel.y)) {
    int32_t reach = std::max(barrel.strength, 0);
    int32_t owner = barrel.owner;
    for (int32_t i = 0; i <= reach && burnCell(column, row + i, owner); ++i) {}
    for (int32_t i = 1; i <= reach && burnCell(column, row - i, owner); ++i) {}
    for (int32_t i = 1; i <= reach && burnCell(column + i, row, owner); ++i) {}
    for (int32_t i = 1; i <= reach && burnCell(column - i, row, owner); ++i) {}
  }
  rt::logLine("BARREL", "exploded at cell %d,%d reach %d for player %d", column, row,
              barrel.strength, barrel.owner);
  stopFuse(barrel);
  PlayExplosionSound(0, barrel.x, barrel.y);
}

// Everything a barrel holds besides its list element: fuse sound, light, spark, its owner's
// place and its cell.
void detach(Barrel& barrel) {
  stopFuse(barrel);
  if (barrel.light) RemoveLight(barrel.light);
  barrel.light = nullptr;
  if (barrel.sparkEmitter) RemoveEmitter(barrel.sparkEmitter);
  barrel.sparkEmitter = nullptr;
  if (barrel.ownerPlayer && barrel.ownerEntry) {
    barrel.ownerPlayer->ownBarrels.remove(barrel.ownerEntry);
  }
  barrel.ownerPlayer = nullptr;
  barrel.ownerEntry = nullptr;
  // Two echoes may put two barrels into one cell; the cell keeps whichever it points at.
  int32_t column = CellX(barrel.x), row = CellY(barrel.y);
  if (world.barrelAt.get(column, row) == &barrel) world.barrelAt.set(column, row, nullptr);
}

}  // namespace

Barrel* PlaceBarrel(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime) {
  Player* placer = FindPlayer(owner);
  if (!placer) {
    rt::logLine("BARREL", "placement for unknown player %d dropped", owner);
    return nullptr;
  }
  int32_t column = CellX(x), row = CellY(y);
  if (!std::isfinite(x) || !std::isfinite(y) || !OnMap(column, row)) {
    rt::logLine("BARREL", "placement off the map dropped");
    return nullptr;
  }
  Barrel* barrel = world.barrels.append();
  barrel->owner = owner;
  barrel->ownerPlayer = placer;
  barrel->ownerEntry = placer->ownBarrels.append();
  *barrel->ownerEntry = barrel;
  barrel->strength = std::clamp(strength, kMinStrength, kMaxStrength);
  barrel->x = x;
  barrel->y = y;
  world.barrelAt.set(column, row, barrel);
  barrel->fuseSound = StartFuseSound();
  barrel->sparkEmitter = AddEmitter(*ParticleTypeByName("Spark"), WholePixel(x), WholePixel(y));
  barrel->light = AddLight(kLightPoint, kFuseLightSize, kFuseLightSize, WholePixel(x),
                           WholePixel(y), kFuseLightColour, 1.0f, 0);
  barrel->fuseTime = std::clamp(fuseTime, kMinFuseTime, kMaxFuseTime);
  barrel->explodeAt = rt::frame.now + static_cast<uint32_t>(barrel->fuseTime);
  rt::logLine("BARREL", "player %d placed a barrel at cell %d,%d", owner, column, row);
  return barrel;
}

void RemoveBarrel(Barrel* barrel) {
  if (!barrel) return;
  detach(*barrel);
  world.barrels.remove(barrel);
}

void ClearBarrels() {
  for (Barrel& barrel : world.barrels) detach(barrel);
  world.barrels.clear();
}

void ForgetBarrelOwner(Player& player) {
  for (Barrel& barrel : world.barrels) {
    if (barrel.ownerPlayer != &player) continue;
    barrel.ownerPlayer = nullptr;
    barrel.ownerEntry = nullptr;
  }
  player.ownBarrels.clear();
}

void BarrelStep() {
  for (auto it = world.barrels.begin(); it != world.barrels.end();) {
    Barrel& barrel = *it;
    DrawBarrel(barrel);
    if (barrel.light) barrel.light->intensity = 0.25f + static_cast<float>(rt::random(75)) / 100.0f;
    UpdateFuseSound(barrel.fuseSound, barrel.x, barrel.y);
    if (!rt::timeAfter(rt::frame.now, barrel.explodeAt)) {
      ++it;
      continue;
    }
    explode(barrel);
    detach(barrel);
    it = world.barrels.erase(it);
  }
}

void RequestBarrel() {
  Player* player = world.localPlayer;
  if (!player || player->dead) return;
  // Asked every frame while alive, so that a release seen while all barrels burn is used up
  // then and does not place a barrel later.
  if (!rt::keyReleased(config.controlA)) return;
  if (static_cast<int64_t>(player->ownBarrels.count()) >= player->barrelCapacity) return;
  player->cellX = CellX(player->x);
  player->cellY = CellY(player->y);
  if (!OnMap(player->cellX, player->cellY)) return;
  if (world.barrelAt.get(player->cellX, player->cellY)) return;
  SendBarrelRequest(player->id, player->strength, player->x, player->y, player->fuseTime);
}

void SetCellBurntHook(CellBurntHook hook) { burntHook = hook; }
