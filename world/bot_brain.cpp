#include "world/bot_brain.h"

#include <deque>
#include <vector>

#include "runtime/clock.h"
#include "world/movement.h"

namespace {

constexpr int kDx[4] = {0, 0, 1, -1};
constexpr int kDy[4] = {1, -1, 0, 0};

// One flag per cell of the map, for the bots' planning.
struct CellMarks {
  int columns = 0, rows = 0;
  std::vector<uint8_t> cells;

  CellMarks(int columnCount, int rowCount)
      : columns(columnCount), rows(rowCount),
        cells(static_cast<size_t>(columnCount) * static_cast<size_t>(rowCount), 0) {}
  bool get(int column, int row) const {
    return column >= 0 && row >= 0 && column < columns && row < rows &&
           cells[static_cast<size_t>(row) * columns + column];
  }
  void set(int column, int row) {
    if (column >= 0 && row >= 0 && column < columns && row < rows) {
      cells[static_cast<size_t>(row) * columns + column] = 1;
    }
  }
};

// The cells a blast from (column, row) will burn: boxes and walls stop an arm, the box cell
// itself breaks but nobody stands there.
void markBlast(CellMarks& danger, int column, int row, int strength) {
  danger.set(column, row);
  for (int arm = 0; arm < 4; ++arm) {
    for (int i = 1; i <= strength; ++i) {
      int c = column + kDx[arm] * i, r = row + kDy[arm] * i;
      if (!world.map.solid.inside(c, r) || world.map.solid.get(c, r) == 1 ||
          world.round.box.get(c, r)) {
        break;
      }
      danger.set(c, r);
    }
  }
}

// Every cell a burning barrel will reach, and the reach of one more barrel when asked.
CellMarks dangerMap(int extraColumn = -1, int extraRow = -1, int extraStrength = 0) {
  CellMarks danger(world.map.solid.columns(), world.map.solid.rows());
  for (const Barrel& barrel : world.round.barrels) {
    markBlast(danger, cellX(barrel.x), cellY(barrel.y), barrel.strength);
  }
  if (extraColumn >= 0) markBlast(danger, extraColumn, extraRow, extraStrength);
  return danger;
}

// Breadth first from (column, row), through cells that pass, to the nearest cell that is a
// goal (the start included): its first step, or false when none is in reach.
template <class Goal, class Pass>
bool firstStepTo(int column, int row, Goal goal, Pass passes, int* nextColumn, int* nextRow) {
  struct Visit {
    int column, row, firstColumn, firstRow;
  };
  CellMarks seen(world.map.solid.columns(), world.map.solid.rows());
  std::deque<Visit> queue{{column, row, column, row}};
  seen.set(column, row);
  for (int visited = 0; !queue.empty() && visited < kBotSearchCells; ++visited) {
    Visit at = queue.front();
    queue.pop_front();
    if (goal(at.column, at.row)) {
      *nextColumn = at.firstColumn;
      *nextRow = at.firstRow;
      return true;
    }
    for (int i = 0; i < 4; ++i) {
      int c = at.column + kDx[i], r = at.row + kDy[i];
      if (seen.get(c, r) || !passes(c, r)) continue;
      seen.set(c, r);
      bool first = at.column == column && at.row == row;
      queue.push_back({c, r, first ? c : at.firstColumn, first ? r : at.firstRow});
    }
  }
  return false;
}

// The first step toward the nearest cell out of danger.
bool stepToShelter(int column, int row, const CellMarks& danger, int* nextColumn, int* nextRow) {
  auto safe = [&](int c, int r) { return !danger.get(c, r); };
  return firstStepTo(column, row, safe, botWalkable, nextColumn, nextRow);
}

bool boxNextTo(int column, int row) {
  return world.round.box.get(column + 1, row) || world.round.box.get(column - 1, row) ||
         world.round.box.get(column, row + 1) || world.round.box.get(column, row - 1);
}

bool freePlace(const Player& bot) {
  return burningBarrels(bot) < bot.barrelCapacity;
}

BotDecision walkTo(int column, int row) {
  BotDecision decision;
  decision.walk = true;
  decision.column = column;
  decision.row = row;
  return decision;
}

BotDecision wander(const Player& bot, const BotStyle& style) {
  int column = cellX(bot.x), row = cellY(bot.y);
  CellMarks danger = dangerMap();
  int nextColumn = column, nextRow = row;

  if (!danger.get(column, row) && freePlace(bot) && boxNextTo(column, row) &&
      (style.eager || rt::random(2) == 0) && !world.round.barrelAt.get(column, row)) {
    CellMarks after = dangerMap(column, row, bot.strength);
    if (stepToShelter(column, row, after, &nextColumn, &nextRow)) {
      BotDecision decision = walkTo(nextColumn, nextRow);
      decision.placeBarrel = true;
      return decision;
    }
  }
  if (danger.get(column, row)) {
    if (stepToShelter(column, row, danger, &nextColumn, &nextRow)) {
      return walkTo(nextColumn, nextRow);
    }
    return {};
  }
  if (style.seeksItems) {
    auto item = [](int c, int r) { return world.round.itemAt.get(c, r) != nullptr; };
    auto safeFloor = [&](int c, int r) { return botWalkable(c, r) && !danger.get(c, r); };
    if (firstStepTo(column, row, item, safeFloor, &nextColumn, &nextRow) &&
        (nextColumn != column || nextRow != row)) {
      return walkTo(nextColumn, nextRow);
    }
  }
  // A random open neighbour that no fuse threatens, or stay.
  int start = rt::random(3);
  for (int i = 0; i < 4; ++i) {
    int k = (start + i) % 4;
    int c = column + kDx[k], r = row + kDy[k];
    if (!botWalkable(c, r) || danger.get(c, r)) continue;
    return walkTo(c, r);
  }
  return {};
}

// Once its barrel burns under it, it waits; a bot with no box in reach blows up where it stands.
BotDecision suicide(const Player& bot) {
  int column = cellX(bot.x), row = cellY(bot.y);
  if (cellInDanger(column, row) || !freePlace(bot) || world.round.barrelAt.get(column, row)) return {};
  BotDecision decision;
  if (boxNextTo(column, row)) {
    decision.placeBarrel = true;
    return decision;
  }
  int nextColumn = column, nextRow = row;
  auto besideBox = [](int c, int r) { return boxNextTo(c, r); };
  if (firstStepTo(column, row, besideBox, botWalkable, &nextColumn, &nextRow)) {
    return walkTo(nextColumn, nextRow);
  }
  decision.placeBarrel = true;
  return decision;
}

}  // namespace

bool botWalkable(int32_t column, int32_t row) {
  return world.map.solid.inside(column, row) && world.map.solid.get(column, row) == 0 &&
         world.round.box.get(column, row) == 0 && !world.round.barrelAt.get(column, row);
}

bool cellInDanger(int32_t column, int32_t row) { return dangerMap().get(column, row); }

int32_t botFacing(int32_t fromColumn, int32_t fromRow, int32_t toColumn, int32_t toRow,
                  int32_t current) {
  MoveKeys keys;
  keys.up = toRow < fromRow;
  keys.down = toRow > fromRow;
  keys.left = toColumn < fromColumn;
  keys.right = toColumn > fromColumn;
  int32_t direction = current;
  keyDirection(keys, &direction);
  return direction;
}

BotDecision decideBot(const Player& bot, BotPlay play, const BotStyle& style) {
  if (bot.dead) return {};
  switch (play) {
    case BotPlay::kWander: return wander(bot, style);
    case BotPlay::kSuicide: return suicide(bot);
    case BotPlay::kStill: return {};
  }
  return {};
}
