#include "world/bot_brain.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

#include "runtime/clock.h"
#include "runtime/frame.h"
#include "world/barrels.h"
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

// When each cell burns, in ms from now; kBotNoBlast for cells no blast reaches.
struct BlastTimes {
  int columns = 0, rows = 0;
  std::vector<int32_t> at;

  BlastTimes()
      : columns(world.map.solid.columns()), rows(world.map.solid.rows()),
        at(static_cast<size_t>(columns) * static_cast<size_t>(rows), kBotNoBlast) {}
  int32_t get(int column, int row) const {
    if (column < 0 || row < 0 || column >= columns || row >= rows) return kBotNoBlast;
    return at[static_cast<size_t>(row) * columns + column];
  }
  bool burns(int column, int row) const { return get(column, row) != kBotNoBlast; }
  void lower(int column, int row, int32_t time) {
    if (column < 0 || row < 0 || column >= columns || row >= rows) return;
    int32_t& cell = at[static_cast<size_t>(row) * columns + column];
    cell = std::min(cell, time);
  }
};

struct Fuse {
  int column, row, strength;
  int32_t in;  // ms until it goes off
};

// The cells a blast from the fuse's cell burns, as the explosion walks them: a wall or a box
// ends an arm (the box breaks, but nobody stands in it).
template <class Visit>
void forBlastCells(int column, int row, int strength, Visit visit) {
  visit(column, row);
  for (int arm = 0; arm < 4; ++arm) {
    for (int i = 1; i <= strength; ++i) {
      int c = column + kDx[arm] * i, r = row + kDy[arm] * i;
      if (!world.map.solid.inside(c, r) || world.map.solid.get(c, r) == 1 ||
          world.round.box.get(c, r)) {
        break;
      }
      visit(c, r);
    }
  }
}

// Every burning barrel, and one more when asked (the barrel a bot thinks of placing). A barrel
// in another's blast goes off a moment after it, so chains are followed until nothing is earlier.
BlastTimes blastTimes(const Fuse* extra = nullptr) {
  std::vector<Fuse> fuses;
  for (const Barrel& barrel : world.round.barrels) {
    int32_t in = static_cast<int32_t>(barrel.explodeAt - rt::frame.now);
    fuses.push_back({cellX(barrel.x), cellY(barrel.y), barrel.strength, std::max(in, 0)});
  }
  if (extra) fuses.push_back(*extra);
  for (size_t pass = 0; pass < fuses.size(); ++pass) {
    bool changed = false;
    for (const Fuse& from : fuses) {
      forBlastCells(from.column, from.row, from.strength, [&](int c, int r) {
        for (Fuse& to : fuses) {
          int32_t chained = from.in + static_cast<int32_t>(kChainDelay);
          if (to.column == c && to.row == r && chained < to.in) {
            to.in = chained;
            changed = true;
          }
        }
      });
    }
    if (!changed) break;
  }
  BlastTimes times;
  for (const Fuse& fuse : fuses) {
    forBlastCells(fuse.column, fuse.row, fuse.strength,
                  [&](int c, int r) { times.lower(c, r, fuse.in); });
  }
  return times;
}

// Breadth first from (column, row), through cells that pass (asked with how many steps away
// they are), to the nearest cell that is a goal (the start included): its first step, or false
// when none is in reach.
template <class Goal, class Pass>
bool firstStepTo(int column, int row, Goal goal, Pass passes, int* nextColumn, int* nextRow) {
  struct Visit {
    int column, row, firstColumn, firstRow, steps;
  };
  CellMarks seen(world.map.solid.columns(), world.map.solid.rows());
  std::deque<Visit> queue{{column, row, column, row, 0}};
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
      if (seen.get(c, r) || !passes(c, r, at.steps + 1)) continue;
      seen.set(c, r);
      bool first = at.column == column && at.row == row;
      queue.push_back({c, r, first ? c : at.firstColumn, first ? r : at.firstRow, at.steps + 1});
    }
  }
  return false;
}

bool walkable(int c, int r, int) { return botWalkable(c, r); }

// ms a bot takes from the centre of one cell to the next.
int32_t stepTime(const Player& bot) {
  float speed = std::max(bot.speed, 0.5f);  // pixels per 10 ms
  int32_t cell = std::max(world.map.tileWidth, world.map.tileHeight);
  return static_cast<int32_t>(static_cast<float>(cell) * 10.0f / speed);
}

// What a bot keeps between itself and a blast it walks past: the walk is not exact, and a chained
// barrel's moment depends on when the blast reached it on this machine.
constexpr int32_t kBlastMargin = 150;

bool isRival(const Player& bot, const Player& other) {
  return &other != &bot && other.id != bot.id && !other.dead;
}

// A rival in the cell or beside it: it may put a barrel in the way any moment.
bool rivalNear(const Player& bot, int column, int row) {
  for (const Player& other : world.players) {
    if (isRival(bot, other) &&
        std::abs(cellX(other.x) - column) + std::abs(cellY(other.y) - row) <= 1) {
      return true;
    }
  }
  return false;
}

enum class Way {
  kAwayFromRivals,  // timed, and never past a rival
  kTimed,           // no cell burns while the bot is in it
  kAny,             // any way to a cell no blast reaches: a blast may yet fail to come as seen
};

// The first step toward the nearest cell no blast reaches, on a way of the kind asked for. A
// timed way holds a cell from half a step before its centre to half a step after. A barrel
// still to be placed (at `barrier`) bars its cell like one that burns.
bool stepToShelter(const Player& bot, const BlastTimes& blasts, Way way, int* nextColumn,
                   int* nextRow, const Fuse* barrier = nullptr) {
  int column = cellX(bot.x), row = cellY(bot.y);
  int32_t step = stepTime(bot);
  auto safe = [&](int c, int r) { return !blasts.burns(c, r); };
  auto clear = [&](int c, int r, int steps) {
    if (!botWalkable(c, r) || (barrier && barrier->column == c && barrier->row == r)) {
      return false;
    }
    if (way == Way::kAwayFromRivals && rivalNear(bot, c, r)) return false;
    int32_t at = blasts.get(c, r);
    return at == kBotNoBlast || at > step * steps + step / 2 + kBlastMargin ||
           at < step * steps - step / 2 - kBlastMargin;
  };
  if (way == Way::kAny) return firstStepTo(column, row, safe, walkable, nextColumn, nextRow);
  return firstStepTo(column, row, safe, clear, nextColumn, nextRow);
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

// A barrel where the bot stands and its first step away, when a way out lies before every blast
// (its own and whatever it sets off) and the bot can leave its cell in time.
bool placeAndRun(const Player& bot, BotDecision* decision) {
  int column = cellX(bot.x), row = cellY(bot.y);
  Fuse own{column, row, bot.strength, std::max(bot.fuseTime, 0)};
  BlastTimes after = blastTimes(&own);
  if (after.get(column, row) <= stepTime(bot) / 2 + kBlastMargin) return false;
  int nextColumn = column, nextRow = row;
  if (!stepToShelter(bot, after, Way::kAwayFromRivals, &nextColumn, &nextRow)) return false;
  *decision = walkTo(nextColumn, nextRow);
  decision->placeBarrel = true;
  return true;
}

bool rivalAt(const Player& bot, int column, int row) {
  for (const Player& other : world.players) {
    if (isRival(bot, other) && cellX(other.x) == column && cellY(other.y) == row) return true;
  }
  return false;
}

// A rival that a barrel where the bot stands would reach: 2 when the rival would find no way out
// in time (it is caught), 1 when it could still run, 0 when none is in reach.
int rivalInReach(const Player& bot) {
  int column = cellX(bot.x), row = cellY(bot.y);
  bool inReach = false;
  forBlastCells(column, row, bot.strength,
                [&](int c, int r) { inReach = inReach || rivalAt(bot, c, r); });
  if (!inReach) return 0;
  Fuse own{column, row, bot.strength, std::max(bot.fuseTime, 0)};
  BlastTimes after = blastTimes(&own);
  for (const Player& other : world.players) {
    if (!isRival(bot, other) || !after.burns(cellX(other.x), cellY(other.y))) continue;
    int c = 0, r = 0;
    if (!stepToShelter(other, after, Way::kTimed, &c, &r, &own)) return 2;
  }
  return 1;
}

// The neighbour that brings the bot nearer the nearest rival, counted over the floor and
// through boxes (a box costs the time of a barrel): the way a hunter digs. False when no
// neighbour it may enter is nearer; beside the box in the way, the box's barrel comes first.
bool stepTowardRivals(const Player& bot, const BlastTimes& blasts, int* nextColumn,
                      int* nextRow) {
  constexpr int kBoxCost = 8;
  int columns = world.map.solid.columns(), rows = world.map.solid.rows();
  auto index = [&](int c, int r) { return static_cast<size_t>(r) * columns + c; };
  std::vector<int> distance(static_cast<size_t>(columns) * static_cast<size_t>(rows), INT_MAX);
  using Entry = std::pair<int, size_t>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> queue;
  for (const Player& other : world.players) {
    int c = cellX(other.x), r = cellY(other.y);
    if (!isRival(bot, other) || !world.map.solid.inside(c, r)) continue;
    distance[index(c, r)] = 0;
    queue.push({0, index(c, r)});
  }
  while (!queue.empty()) {
    auto [d, at] = queue.top();
    queue.pop();
    if (d > distance[at]) continue;
    int c0 = static_cast<int>(at % columns), r0 = static_cast<int>(at / columns);
    for (int i = 0; i < 4; ++i) {
      int c = c0 + kDx[i], r = r0 + kDy[i];
      if (!world.map.solid.inside(c, r) || world.map.solid.get(c, r) != 0) continue;
      int next = d + (world.round.box.get(c, r) ? kBoxCost : 1);
      if (next >= distance[index(c, r)]) continue;
      distance[index(c, r)] = next;
      queue.push({next, index(c, r)});
    }
  }
  int column = cellX(bot.x), row = cellY(bot.y);
  if (!world.map.solid.inside(column, row)) return false;
  int best = distance[index(column, row)];
  bool found = false;
  for (int i = 0; i < 4; ++i) {
    int c = column + kDx[i], r = row + kDy[i];
    if (!botWalkable(c, r) || blasts.burns(c, r) || distance[index(c, r)] >= best) continue;
    best = distance[index(c, r)];
    *nextColumn = c;
    *nextRow = r;
    found = true;
  }
  return found;
}

// Items that make a bot more dangerous; the others it neither seeks nor shuns.
bool worthTaking(const Item* item) {
  return item && (item->kind == 0 || item->kind == 3 || item->kind == 4);
}

BotDecision wander(const Player& bot, const BotStyle& style) {
  int column = cellX(bot.x), row = cellY(bot.y);
  BlastTimes blasts = blastTimes();
  int nextColumn = column, nextRow = row;

  if (blasts.burns(column, row)) {
    for (Way way : {Way::kAwayFromRivals, Way::kTimed, Way::kAny}) {
      if (stepToShelter(bot, blasts, way, &nextColumn, &nextRow)) {
        return walkTo(nextColumn, nextRow);
      }
    }
    return {};
  }
  BotDecision decision;
  bool mayPlace = freePlace(bot) && !world.round.barrelAt.get(column, row);
  // A caught rival always gets the barrel; one that could still run, now and then, to drive it.
  if (mayPlace && style.hunts) {
    int reach = rivalInReach(bot);
    if ((reach == 2 || (reach == 1 && rt::random(2) == 0)) && placeAndRun(bot, &decision)) {
      return decision;
    }
  }
  if (mayPlace && boxNextTo(column, row) && (style.eager || rt::random(2) == 0) &&
      placeAndRun(bot, &decision)) {
    return decision;
  }
  auto safeFloor = [&](int c, int r, int) { return botWalkable(c, r) && !blasts.burns(c, r); };
  auto stepToward = [&](auto goal) {
    return firstStepTo(column, row, goal, safeFloor, &nextColumn, &nextRow) &&
           (nextColumn != column || nextRow != row);
  };
  if (style.seeksItems) {
    auto item = [](int c, int r) { return worthTaking(world.round.itemAt.get(c, r)); };
    if (stepToward(item)) return walkTo(nextColumn, nextRow);
  }
  if (style.hunts && stepTowardRivals(bot, blasts, &nextColumn, &nextRow)) {
    return walkTo(nextColumn, nextRow);
  }
  // A random open neighbour that no fuse threatens, or stay.
  int start = rt::random(3);
  for (int i = 0; i < 4; ++i) {
    int k = (start + i) % 4;
    int c = column + kDx[k], r = row + kDy[k];
    if (!botWalkable(c, r) || blasts.burns(c, r)) continue;
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
  if (firstStepTo(column, row, besideBox, walkable, &nextColumn, &nextRow)) {
    return walkTo(nextColumn, nextRow);
  }
  decision.placeBarrel = true;
  return decision;
}

// A barrel where it stands whenever it may; it never moves.
BotDecision barrels(const Player& bot) {
  BotDecision decision;
  decision.placeBarrel =
      freePlace(bot) && !world.round.barrelAt.get(cellX(bot.x), cellY(bot.y));
  return decision;
}

}  // namespace

bool botWalkable(int32_t column, int32_t row) {
  return world.map.solid.inside(column, row) && world.map.solid.get(column, row) == 0 &&
         world.round.box.get(column, row) == 0 && !world.round.barrelAt.get(column, row);
}

bool cellInDanger(int32_t column, int32_t row) { return blastTimes().burns(column, row); }

int32_t cellBlastIn(int32_t column, int32_t row) { return blastTimes().get(column, row); }

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
    case BotPlay::kBarrels: return barrels(bot);
    case BotPlay::kStill: return {};
  }
  return {};
}
