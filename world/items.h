// Items: what a destroyed box may leave behind. The host alone rolls the drops and names the
// items; the machine of the player who walks over one alone applies it and tells everybody.
#pragma once

#include <cstdint>

#include "world/world.h"

// A row of the kinds table (rows 1..6 are filled; the others stay empty).
struct ItemKind {
  int32_t kind = 0;            // 0..5, the effect
  const char* name = "";       // a language key
  int32_t chance = 0;          // a drop survives the second roll when it is at most this
  uint32_t colour = 0;         // 0x00BBGGRR
  int32_t animation = 0;
  int32_t iconSprite = 0;
};
inline constexpr int kItemKindRows = 11;
// The row, or null for an empty row or one outside the table.
const ItemKind* itemKindRow(int32_t row);

inline constexpr float kItemSize = 64.0f;
inline constexpr float kItemRadius = 32.0f;

// Creates an item of a row at the centre (x, y) of its cell. id 0 asks for a new identifier
// unique among the live items. Returns null for an empty row, a position off the map or an id
// already in use (all possible in a message); an older item in the same cell gives way.
Item* createItem(int32_t row, float x, float y, int32_t id);
// Clears its cell and deletes it.
void removeItem(Item* item);
// On the echoed item-taken message; an id that names no item does nothing.
void removeItemById(int32_t id);
Item* findItem(int32_t id);
// A 32-bit identifier that no live item has, never 0.
int32_t newItemId();

// Host only: the rolls for a destroyed box at the centre of its cell; a dropped item is created
// and announced. Returns the item or null.
Item* dropItem(float x, float y);

// Applies a kind's effect to a player when its limit allows. On success *type and *value are
// the ability message to send.
bool applyItemEffect(Player& player, int32_t kind, int32_t* type, int32_t* value);
// On the echoed ability message (type 4, 5 or 6): that player's value, brought into its range.
void setAbility(int32_t type, int32_t id, int32_t value);

// Once per game frame: the living local player takes every item it touches.
void pickUpItems();
