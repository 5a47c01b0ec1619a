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
  event.x = WholePixel(item.x);
  event.y = WholePixel(item.y);
  event.colour = item.colour;
  NotifyWorld(event);
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

const ItemKind* ItemKindRow(int32_t row) {
  if (row < 0 || row >= kItemKindRows || !kKinds[row].name[0]) return nullptr;
  return &kKinds[row];
}

Item* FindItem(int32_t id) {
  for (Item& item : world.round.items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

int32_t NewItemId() {
  // A counter, skipping what is still alive; there are never 2^31 items, so this ends.
  for (;;) {
    int32_t id = world.nextItemId;
    world.nextItemId = id == INT32_MAX ? 1 : id + 1;
    if (!FindItem(id)) return id;
  }
}

Item* CreateItem(int32_t row, float x, float y, int32_t id) {
  const ItemKind* kind = ItemKindRow(row);
  int32_t column = CellX(x), cellRow = CellY(y);
  if (!kind || !std::isfinite(x) || !std::isfinite(y) || !OnMap(column, cellRow)) {
    rt::logLine("ITEM", "item of row %d off the map or of no kind dropped", row);
    return nullptr;
  }
  if (id != 0 && FindItem(id)) {
    rt::logLine("ITEM", "item id %d already in use", id);
    return nullptr;
  }
  if (Item* older = world.round.itemAt.get(column, cellRow)) RemoveItem(older);

  Item* item = world.round.items.append();
  item->id = id != 0 ? id : NewItemId();
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

void RemoveItem(Item* item) {
  if (!item) return;
  notifyItem(WorldEventType::kItemRemoved, *item);
  if (world.round.itemAt.get(item->cellX, item->cellY) == item) {
    world.round.itemAt.set(item->cellX, item->cellY, nullptr);
  }
  world.round.items.remove(item);
}

void RemoveItemById(int32_t id) { RemoveItem(FindItem(id)); }

Item* DropItem(float x, float y) {
  if (rt::random(100) > kDropRoll) return nullptr;
  int32_t row = rt::random(5) + 1;
  if (rt::random(100) > ItemKindRow(row)->chance) return nullptr;
  Item* item = CreateItem(row, x, y, 0);
  if (item) SendItemDropped(row, item->id, WholePixel(x), WholePixel(y));
  return item;
}

bool ApplyItemEffect(Player& player, int32_t kind, int32_t* type, int32_t* value) {
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

void SetAbility(int32_t type, int32_t id, int32_t value) {
  Player* player = FindPlayer(id);
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

void PickUpItems() {
  Player* player = world.localPlayer;
  // A dead player's body lies still; it takes nothing from the living.
  if (!player || player->dead) return;
  for (auto it = world.round.items.begin(); it != world.round.items.end();) {
    Item& item = *it++;
    float reach = item.radius;
    if (!(SquaredDistance(player->x, player->y, item.x, item.y) < reach * reach)) continue;
    notifyItem(WorldEventType::kItemTaken, item);
    int32_t type = 0, value = 0;
    if (ApplyItemEffect(*player, item.kind, &type, &value)) {
      SendAbility(type, player->id, value);
      addNotice(item);
    }
    // Gone here first: the message may come straight back and must then find nothing.
    int32_t id = item.id;
    RemoveItem(&item);
    SendItemTaken(id);
  }
}
