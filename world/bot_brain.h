// The bots' decisions, shared by the wandering players of --try-map and by powderbox-bot. A bot
// decides while it stands on the centre of a cell: whether to place a barrel where it stands,
// and which neighbouring cell to walk to next. Walking there is its driver's business (try-map
// moves its bots like remote players, powderbox-bot with the local player's collisions).
//
// Decisions read the world as this machine holds it: the grids, the burning barrels and the
// items. Barrels that were requested but not yet echoed are unknown here; the driver must not
// ask again before the echo.
#pragma once

#include <climits>
#include <cstdint>

#include "world/world.h"

enum class BotPlay {
  kWander,   // walks about, blows up boxes from a safe place and runs from every blast
  kStill,    // stands where the round put it
  kSuicide,  // walks to a box, places a barrel beside it and stays in the blast
  kBarrels,  // stands, and places a barrel where it stands whenever it may
};

struct BotStyle {
  bool eager = false;       // a barrel by every box it stands beside (else one time in two)
  bool seeksItems = false;  // walks to the items it can reach without crossing a blast
  bool hunts = false;       // goes after the other players and places barrels in their way
};

struct BotDecision {
  bool placeBarrel = false;  // where it stands, before it walks on
  bool walk = false;
  int32_t column = 0, row = 0;  // the neighbouring cell to walk to
};

// How far a bot looks (cells visited) for shelter, a box or an item.
inline constexpr int kBotSearchCells = 400;

BotDecision decideBot(const Player& bot, BotPlay play, const BotStyle& style);

// The facing of a walk from one cell toward another (0 down, 90 left, -90 right, -180 up); the
// current facing when both are the same cell.
int32_t botFacing(int32_t fromColumn, int32_t fromRow, int32_t toColumn, int32_t toRow,
                  int32_t current);

// Whether a burning barrel's blast will reach the cell.
bool cellInDanger(int32_t column, int32_t row);
// Milliseconds from now until the first blast reaches the cell, chains of barrels counted;
// kBotNoBlast when none will.
inline constexpr int32_t kBotNoBlast = INT32_MAX;
int32_t cellBlastIn(int32_t column, int32_t row);
// A cell a bot may walk into: on the map, not solid, no box, no barrel.
bool botWalkable(int32_t column, int32_t row);
