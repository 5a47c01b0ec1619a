#include "world/items.h"

#include <algorithm>
#include <cmath>

#include "data/config.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "world/barrels.h"
#include "world/events.h"
#include "world/messages.h"
#include "world/rules_local.h"

namespace {

constexpr ItemKind kKinds[kItemKindRows] = {
    {},
    {0, "Explosion Strength Increase", 100, 0x80FF80, kAnimationFire, kSpriteIconFire},
    {1, "Explosion Strength Decrease", 50, 0x4040E0, kAnimationFire, kSpriteIconFire},
    {2, "Bomb Time Increase", 100, 0x4040E0, kAnimationTime, kSpriteIconFuse},
    {3, "Bomb Time Decrease", 100, 0xFFC080, kAnimationTime, kSpriteIconFuse},
    {4, "Bomb Increase", 100, 0x40C0C0, kAnimationAmount, kSpriteIconBarrel},
    {5, "Bomb Decrease", 100, 0x4040E0, kAnimationAmount, kSpriteIconBarrel},
};

constexpr int kDropRoll = 75;  // a box drops something when the first roll is at most this
constexpr int32_t kMinCapacity = 1, kMaxCapacity = 10;
constexpr int32_t kFuseStep = 500;  // ms

void notifyItem(WorldEventType type, Item& item) {
  WorldEvent event{type};
  event.item = &item;
  event.x = wholePixel(item.x);
  event.y = wholePixel(item.y);
  event.colour = item.colour;
  notifyWorld(event);
}

void addNotice(const Item& item) {
  ItemNotice* notice = world.round.notices.append();
  notice->colour = item.colour;
  notice->iconSprite = item.iconSprite;
  notice->name = item.name;
  notice->expiry = rt::frame.now + static_cast<uint32_t>(std::max(config.iconTime, 0)) * 1000u;
  notice->alpha = 255;
}

}  // namespace

const ItemKind* itemKindRow(int32_t row) {
  if (row < 0 || row >= kItemKindRows || !kKinds[row].name[0]) return nullptr;
  return &kKinds[row];
}

Item* findItem(int32_t id) {
  for (Item& item : world.round.items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

int32_t newItemId() {
  // A counter, skipping what is still alive; there are never 2^31 items, so this ends.
  for (;;) {
    int32_t id = world.nextItemId;
    world.nextItemId = id == INT32_MAX ? 1 : id + 1;
    if (!findItem(id)) return id;
  }
}

Item* createItem(int32_t row, float x, float y, int32_t id) {
  const ItemKind* kind = itemKindRow(row);
  int32_t column = cellX(x), cellRow = cellY(y);
  if (!kind || !std::isfinite(x) || !std::isfinite(y) || !onMap(column, cellRow)) {
    rt::logLine("ITEM", "item of row %d off the map or of no kind dropped", row);
    return nullptr;
  }
  if (id != 0 && findItem(id)) {
    rt::logLine("ITEM", "item id %d already in use", id);
    return nullptr;
  }
  if (Item* older = world.round.itemAt.get(column, cellRow)) removeItem(older);

  Item* item = world.round.items.append();
  item->id = id != 0 ? id : newItemId();
  item->kind = kind->kind;
  item->name = kind->name;
  item->size = kItemSize;
  item->radius = kItemRadius;
  item->blendSource = 5;
  item->blendDestination = 2;
  item->colour = kind->colour;
  item->iconSprite = kind->iconSprite;
  item->x = x;
  item->y = y;
  item->cellX = column;
  item->cellY = cellRow;
  item->animation = kind->animation;
  world.round.itemAt.set(column, cellRow, item);
  rt::logLine("ITEM", "item %d \"%s\" at cell %d,%d", item->id, kind->name, column, cellRow);
  notifyItem(WorldEventType::kItemCreated, *item);
  return item;
}

void removeItem(Item* item) {
  if (!item) return;
  notifyItem(WorldEventType::kItemRemoved, *item);
  if (world.round.itemAt.get(item->cellX, item->cellY) == item) {
    world.round.itemAt.set(item->cellX, item->cellY, nullptr);
  }
  world.round.items.remove(item);
}

void removeItemById(int32_t id) { removeItem(findItem(id)); }

Item* dropItem(float x, float y) {
  if (rt::random(100) > kDropRoll) return nullptr;
  int32_t row = rt::random(5) + 1;
  if (rt::random(100) > itemKindRow(row)->chance) return nullptr;
  Item* item = createItem(row, x, y, 0);
  if (item) sendItemDropped(row, item->id, wholePixel(x), wholePixel(y));
  return item;
}

bool applyItemEffect(Player& player, int32_t kind, int32_t* type, int32_t* value) {
  switch (kind) {
    case 0:
      if (player.strength >= kMaxStrength) return false;
      *type = kAbilityStrength;
      *value = ++player.strength;
      return true;
    case 1:
      if (player.strength <= kMinStrength) return false;
      *type = kAbilityStrength;
      *value = --player.strength;
      return true;
    case 2:
      if (player.fuseTime >= kMaxFuseTime) return false;
      *type = kAbilityFuseTime;
      *value = player.fuseTime = std::min(player.fuseTime + kFuseStep, kMaxFuseTime);
      return true;
    case 3:
      if (player.fuseTime <= kMinFuseTime) return false;
      *type = kAbilityFuseTime;
      *value = player.fuseTime = std::max(player.fuseTime - kFuseStep, kMinFuseTime);
      return true;
    case 4:
      if (player.barrelCapacity >= kMaxCapacity) return false;
      *type = kAbilityCapacity;
      *value = ++player.barrelCapacity;
      return true;
    case 5:
      if (player.barrelCapacity <= kMinCapacity) return false;
      *type = kAbilityCapacity;
      *value = --player.barrelCapacity;
      return true;
    default:
      return false;
  }
}

void setAbility(int32_t type, int32_t id, int32_t value) {
  Player* player = findPlayer(id);
  if (!player) return;
  switch (type) {
    case kAbilityStrength:
      player->strength = std::clamp(value, kMinStrength, kMaxStrength);
      break;
    case kAbilityFuseTime:
      player->fuseTime = std::clamp(value, kMinFuseTime, kMaxFuseTime);
      break;
    case kAbilityCapacity:
      player->barrelCapacity = std::clamp(value, kMinCapacity, kMaxCapacity);
      break;
    default:
      break;
  }
}

void pickUpItems() {
  Player* player = world.localPlayer;
  // A dead player's body lies still; it takes nothing from the living.
  if (!player || player->dead) return;
  for (auto it = world.round.items.begin(); it != world.round.items.end();) {
    Item& item = *it++;
    float reach = item.radius;
    if (!(squaredDistance(player->x, player->y, item.x, item.y) < reach * reach)) continue;
    notifyItem(WorldEventType::kItemTaken, item);
    int32_t type = 0, value = 0;
    if (applyItemEffect(*player, item.kind, &type, &value)) {
      sendAbility(type, player->id, value);
      addNotice(item);
    }
    // Gone here first: the message may come straight back and must then find nothing.
    int32_t id = item.id;
    removeItem(&item);
    sendItemTaken(id);
  }
}
