#include "world/barrels.h"

#include <algorithm>
#include <cmath>

#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "world/events.h"
#include "world/items.h"
#include "world/messages.h"
#include "world/rules_local.h"

namespace {

CellBurntHook burntHook = nullptr;

void notifyBarrel(WorldEventType type, Barrel& barrel) {
  WorldEvent event{type};
  event.barrel = &barrel;
  event.x = wholePixel(barrel.x);
  event.y = wholePixel(barrel.y);
  event.owner = barrel.owner;
  notifyWorld(event);
}

WorldEvent cellEvent(WorldEventType type, int32_t column, int32_t row) {
  WorldEvent event{type};
  event.column = column;
  event.row = row;
  event.x = static_cast<int32_t>(cellCentreX(column));
  event.y = static_cast<int32_t>(cellCentreY(row));
  return event;
}

// One cell of an arm; false when the arm ends here.
bool burnCell(int32_t column, int32_t row, int32_t owner) {
  if (!onMap(column, row)) return false;
  if (world.round.box.get(column, row) != 0) {
    // A box takes the blast: it breaks, and nothing behind it burns.
    world.round.box.set(column, row, 0);
    rt::logLine("BOX", "destroyed at cell %d,%d", column, row);
    WorldEvent event = cellEvent(WorldEventType::kBoxDestroyed, column, row);
    notifyWorld(event);
    if (world.isHost) dropItem(static_cast<float>(event.x), static_cast<float>(event.y));
    return false;
  }
  // Only a wall stops a blast; other terrain that stops players lets it through.
  if (world.map.solid.get(column, row) == 1) return false;

  WorldEvent event = cellEvent(WorldEventType::kCellBurnt, column, row);
  event.owner = owner;
  notifyWorld(event);
  if (Barrel* other = world.round.barrelAt.get(column, row)) {
    other->explodeAt = rt::frame.now + kChainDelay;
    other->owner = owner;
  }
  if (Item* item = world.round.itemAt.get(column, row)) removeItem(item);
  Player* local = world.localPlayer;
  if (local && cellX(local->x) == column && cellY(local->y) == row) {
    sendDeathReport(local->id, owner);
  }
  if (burntHook) burntHook(column, row, owner);
  return true;
}

// The arms run down (from the barrel's own cell), up, right and left, each up to strength cells
// and stopped by the first box, wall or the map's edge.
void explode(Barrel& barrel) {
  int32_t column = cellX(barrel.x), row = cellY(barrel.y);
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
  notifyBarrel(WorldEventType::kBarrelExploded, barrel);
}

// Reports the barrel's end and frees its cell; the caller deletes the record.
void detach(Barrel& barrel) {
  notifyBarrel(WorldEventType::kBarrelRemoved, barrel);
  // Two echoes may put two barrels into one cell; the cell keeps whichever it points at.
  int32_t column = cellX(barrel.x), row = cellY(barrel.y);
  if (world.round.barrelAt.get(column, row) == &barrel) {
    world.round.barrelAt.set(column, row, nullptr);
  }
}

}  // namespace

Barrel* placeBarrel(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime) {
  Player* placer = findPlayer(owner);
  if (!placer) {
    rt::logLine("BARREL", "placement for unknown player %d dropped", owner);
    return nullptr;
  }
  int32_t column = cellX(x), row = cellY(y);
  if (!std::isfinite(x) || !std::isfinite(y) || !onMap(column, row)) {
    rt::logLine("BARREL", "placement off the map dropped");
    return nullptr;
  }
  Barrel* barrel = world.round.barrels.append();
  barrel->owner = owner;
  barrel->ownerPlayer = placer;
  barrel->strength = std::clamp(strength, kMinStrength, kMaxStrength);
  barrel->x = x;
  barrel->y = y;
  barrel->fuseTime = std::clamp(fuseTime, kMinFuseTime, kMaxFuseTime);
  barrel->explodeAt = rt::frame.now + static_cast<uint32_t>(barrel->fuseTime);
  world.round.barrelAt.set(column, row, barrel);
  // The monotonic clock lets a measurement line up the placing and the receiving machines.
  rt::logLine("BARREL", "player %d placed a barrel at cell %d,%d (clock %llu us)", owner, column,
              row, static_cast<unsigned long long>(rt::microseconds()));
  notifyBarrel(WorldEventType::kBarrelPlaced, *barrel);
  return barrel;
}

void removeBarrel(Barrel* barrel) {
  if (!barrel) return;
  detach(*barrel);
  world.round.barrels.remove(barrel);
}

void forgetBarrelOwner(Player& player) {
  for (Barrel& barrel : world.round.barrels) {
    if (barrel.ownerPlayer == &player) barrel.ownerPlayer = nullptr;
  }
}

void barrelStep() {
  for (auto it = world.round.barrels.begin(); it != world.round.barrels.end();) {
    Barrel& barrel = *it;
    if (!rt::timeAfter(rt::frame.now, barrel.explodeAt)) {
      ++it;
      continue;
    }
    explode(barrel);
    detach(barrel);
    it = world.round.barrels.erase(it);
  }
}

void requestBarrel(bool actionReleased) {
  Player* player = world.localPlayer;
  if (!actionReleased || !player || player->dead) return;
  if (burningBarrels(*player) >= player->barrelCapacity) return;
  player->cellX = cellX(player->x);
  player->cellY = cellY(player->y);
  if (!onMap(player->cellX, player->cellY)) return;
  if (world.round.barrelAt.get(player->cellX, player->cellY)) return;
  sendBarrelRequest(player->id, player->strength, player->x, player->y, player->fuseTime);
}

void setCellBurntHook(CellBurntHook hook) { burntHook = hook; }
