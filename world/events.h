// What happens in the world, told to whoever presents it. The rules only change records and
// report each change here; render/ turns the reports into pictures, audio/ into sounds and the
// chat box into lines, each keeping its own state beside the world's records. A dedicated host,
// a bot or a rule's test listens to none of it.
//
// Listeners run at once, inside the rule that reports, so every record an event names is still
// there: a removed barrel or item is reported just before it is deleted.
#pragma once

#include <cstdint>
#include <string_view>

struct Barrel;
struct Item;
struct Player;

enum class WorldEventType : uint8_t {
  // Barrel events carry the barrel, its position in whole pixels (x, y) and its owner.
  kBarrelPlaced,
  kBarrelExploded,  // after the cells of its blast; kBarrelRemoved follows
  kBarrelRemoved,   // by a blast, or taken away without one
  kCellBurnt,       // a blast burns the cell: column, row, x, y (its centre), owner
  kBoxDestroyed,    // a blast breaks the box of the cell: column, row, x, y
  // Item events carry the item, its position in whole pixels (x, y) and its colour.
  kItemCreated,
  kItemTaken,       // touched by the local player; kItemRemoved follows
  kItemRemoved,
  kPlayerKilled,    // player (the victim, now dead) at x, y; other (the killer)
  kPlayerRemoved,   // player, about to leave the list
  kMapLoaded,       // world.map holds a new map
  kRoundCleared,    // every barrel, item and decal of the round went at once
  kRoundStarted,    // the players stand on their places and the round runs
  kMatchEnded,      // back to the lobby: no map, no round
  kChatLine,        // player (the sender) said text during a match
  kLeaveLine,       // a player left: colour and text (the name), told by the host
};

struct WorldEvent {
  WorldEventType type;
  Barrel* barrel = nullptr;
  Item* item = nullptr;
  Player* player = nullptr;
  Player* other = nullptr;
  int32_t column = 0, row = 0;
  int32_t x = 0, y = 0;  // world pixels
  int32_t owner = 0;
  uint32_t colour = 0;   // 0x00BBGGRR
  std::string_view text = {};
};

using WorldListener = void (*)(const WorldEvent& event);

// Listeners are called in the order they were added; adding one twice adds it once.
void addWorldListener(WorldListener listener);
void removeWorldListener(WorldListener listener);
void removeAllWorldListeners();
void notifyWorld(const WorldEvent& event);
