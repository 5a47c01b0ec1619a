// The bots' decisions on hand-built grids: where a bot places a barrel, where it runs, what it
// walks to, and that it never places a barrel it cannot get away from unless it means to die.
#include "world/bot_brain.h"

#include <gtest/gtest.h>

#include "runtime/clock.h"
#include "runtime/frame.h"
#include "support/world_support.h"

namespace {

float centre(int cell) { return static_cast<float>(cell * 96 + 48); }

class BotBrainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::randomSeed(7);
    clearWorld();
    // A closed room: walls around 7 x 5 cells of floor.
    int columns = 9, rows = 7;
    test::openFloor(columns, rows);
    for (int c = 0; c < columns; ++c) {
      for (int r = 0; r < rows; ++r) {
        if (c == 0 || r == 0 || c == columns - 1 || r == rows - 1) wall(c, r);
      }
    }
    bot = world.players.append();
    bot->id = 1;
    standAt(1, 1);
  }
  void TearDown() override {
    clearWorld();
    rt::frame.now = 0;
  }

  static void clearWorld() {
    world.players.clear();
    world.round.barrels.clear();
    world.localPlayer = nullptr;
  }

  void wall(int c, int r) { world.map.solid.set(c, r, 1); }
  void box(int c, int r) { world.round.box.set(c, r, 1); }
  void standAt(int c, int r) {
    bot->x = centre(c);
    bot->y = centre(r);
  }
  // A burning barrel as the echo leaves it, without its light, spark and sound; it goes off in
  // the given ms (at once when 0).
  Barrel* barrelAt(int c, int r, int strength, uint32_t in = 0) {
    Barrel* barrel = world.round.barrels.append();
    barrel->x = centre(c);
    barrel->y = centre(r);
    barrel->strength = strength;
    barrel->explodeAt = rt::frame.now + in;
    world.round.barrelAt.set(c, r, barrel);
    return barrel;
  }
  Player* rivalAt(int c, int r) {
    Player* rival = world.players.append();
    rival->id = 2;
    rival->x = centre(c);
    rival->y = centre(r);
    return rival;
  }

  Player* bot = nullptr;
  BotStyle eager{true, false};
};

TEST_F(BotBrainTest, SuicideGoesToTheNearestBoxThenStaysInItsOwnBlast) {
  box(4, 1);
  BotDecision d = decideBot(*bot, BotPlay::kSuicide, eager);
  EXPECT_FALSE(d.placeBarrel);
  ASSERT_TRUE(d.walk);
  EXPECT_EQ(d.column, 2);
  EXPECT_EQ(d.row, 1);

  standAt(3, 1);
  d = decideBot(*bot, BotPlay::kSuicide, eager);
  EXPECT_TRUE(d.placeBarrel);
  EXPECT_FALSE(d.walk);

  // Its barrel burns under it: it waits, and asks for nothing more.
  barrelAt(3, 1, 2);
  world.round.barrels.back().ownerPlayer = bot;
  d = decideBot(*bot, BotPlay::kSuicide, eager);
  EXPECT_FALSE(d.placeBarrel);
  EXPECT_FALSE(d.walk);
}

TEST_F(BotBrainTest, SuicideWithoutABoxInReachBlowsUpWhereItStands) {
  BotDecision d = decideBot(*bot, BotPlay::kSuicide, eager);
  EXPECT_TRUE(d.placeBarrel);
  EXPECT_FALSE(d.walk);
}

TEST_F(BotBrainTest, WanderPlacesOnlyWithAWayOutAndRunsThatWay) {
  // A corridor one cell wide, closed at the bot's end: its own barrel of reach 2 would cover
  // every cell it can reach before the box.
  for (int c = 1; c <= 7; ++c) wall(c, 2);
  box(3, 1);
  standAt(2, 1);
  BotDecision d = decideBot(*bot, BotPlay::kWander, eager);
  EXPECT_FALSE(d.placeBarrel);

  // Open the floor below: now it places and steps out of the blast's line.
  world.map.solid.set(1, 2, 0);
  d = decideBot(*bot, BotPlay::kWander, eager);
  EXPECT_TRUE(d.placeBarrel);
  ASSERT_TRUE(d.walk);
  EXPECT_EQ(d.column, 1);
  EXPECT_EQ(d.row, 1);

  // A rival beside that way could close it with a barrel of its own: not while it stands there.
  rivalAt(1, 3);
  EXPECT_FALSE(decideBot(*bot, BotPlay::kWander, eager).placeBarrel);
}

TEST_F(BotBrainTest, WanderRunsFromABlastAndNeverIntoOne) {
  standAt(3, 3);
  barrelAt(3, 3, 1);
  for (int i = 0; i < 20; ++i) {
    BotDecision d = decideBot(*bot, BotPlay::kWander, eager);
    EXPECT_FALSE(d.placeBarrel);
    ASSERT_TRUE(d.walk);
    // One step from the barrel the arm still burns; every way out is a neighbour cell.
    EXPECT_EQ(std::abs(d.column - 3) + std::abs(d.row - 3), 1);
  }
  // Standing safe beside the blast's reach, it never steps into a burning cell.
  standAt(5, 1);
  for (int i = 0; i < 50; ++i) {
    BotDecision d = decideBot(*bot, BotPlay::kWander, eager);
    if (d.walk) {
      EXPECT_FALSE(cellInDanger(d.column, d.row)) << d.column << "," << d.row;
    }
  }
}

TEST_F(BotBrainTest, ItemsDrawABotThatSeeksThemButNotAcrossABlast) {
  Item item;
  world.round.itemAt.set(4, 1, &item);
  BotStyle seeking{true, true};
  for (int i = 0; i < 10; ++i) {
    BotDecision d = decideBot(*bot, BotPlay::kWander, seeking);
    ASSERT_TRUE(d.walk);
    EXPECT_EQ(d.column, 2);
    EXPECT_EQ(d.row, 1);
  }
  // Behind a burning cell the item is not worth it.
  barrelAt(3, 3, 2);
  BotDecision d = decideBot(*bot, BotPlay::kWander, seeking);
  if (d.walk) {
    EXPECT_FALSE(cellInDanger(d.column, d.row));
  }
  world.round.itemAt.set(4, 1, nullptr);
}

TEST_F(BotBrainTest, ABarrelInAnotherBlastGoesOffRightAfterIt) {
  rt::frame.now = 50000;
  barrelAt(5, 3, 2, 100);
  barrelAt(3, 3, 2, 3000);
  EXPECT_EQ(cellBlastIn(5, 1), 100);
  // The far barrel's reach burns when the near one sets it off, not when its own fuse ends.
  EXPECT_EQ(cellBlastIn(1, 3), 150);
  EXPECT_EQ(cellBlastIn(3, 1), 150);
  EXPECT_EQ(cellBlastIn(1, 1), kBotNoBlast);
  // A box ends an arm, and its cell holds nobody.
  box(2, 3);
  EXPECT_EQ(cellBlastIn(1, 3), kBotNoBlast);
  EXPECT_EQ(cellBlastIn(2, 3), kBotNoBlast);
}

TEST_F(BotBrainTest, FleesAroundACellThatBurnsWhileItWouldPassIt) {
  // Two ways out of (1,3), down past (1,4) or up past (1,2); the wall at (2,3) closes the third.
  rt::frame.now = 50000;
  wall(2, 3);
  standAt(1, 3);
  barrelAt(1, 1, 2, 2000);
  Barrel* below = barrelAt(3, 4, 2, 3000);
  BotDecision d = decideBot(*bot, BotPlay::kWander, eager);
  ASSERT_TRUE(d.walk);
  EXPECT_EQ(d.row, 4) << "with time for both, the first way found";
  // The barrel below goes off while the bot would stand in (1,4): it runs up instead.
  below->explodeAt = rt::frame.now + 200;
  d = decideBot(*bot, BotPlay::kWander, eager);
  ASSERT_TRUE(d.walk);
  EXPECT_EQ(d.column, 1);
  EXPECT_EQ(d.row, 2);
}

// Steps the bot along its decisions, a cell per step time, until no blast will reach it; true
// when it got there before the first blast, its own included.
bool runsToShelter(Player& bot, BotPlay play, const BotStyle& style) {
  uint32_t stepTime = 240;  // a cell at the start speed of 4 pixels per 10 ms
  for (int step = 0; step < 30; ++step) {
    int32_t blastIn = cellBlastIn(cellX(bot.x), cellY(bot.y));
    if (blastIn == kBotNoBlast) return true;
    if (blastIn < static_cast<int32_t>(stepTime)) return false;
    BotDecision d = decideBot(bot, play, style);
    if (!d.walk) return false;
    bot.x = centre(d.column);
    bot.y = centre(d.row);
    rt::frame.now += stepTime;
  }
  return false;
}

TEST_F(BotBrainTest, EscapesItsOwnBarrelThroughABoxMaze) {
  // Boxes all round but for one way out of the blast, round a corner three cells off.
  rt::frame.now = 50000;
  for (int c = 2; c <= 7; ++c) box(c, 2);
  for (int r = 3; r <= 5; ++r) box(2, r);
  box(4, 1);
  standAt(3, 1);
  BotDecision d = decideBot(*bot, BotPlay::kWander, eager);
  ASSERT_TRUE(d.placeBarrel);
  Barrel* own = barrelAt(3, 1, bot->strength, static_cast<uint32_t>(bot->fuseTime));
  own->ownerPlayer = bot;
  bot->x = centre(d.column);
  bot->y = centre(d.row);
  EXPECT_TRUE(runsToShelter(*bot, BotPlay::kWander, eager));
  // With its next barrel it waits until the first has gone: it has only one.
  EXPECT_FALSE(decideBot(*bot, BotPlay::kWander, eager).placeBarrel);
}

TEST_F(BotBrainTest, HuntersGoForARivalAndAlwaysPlaceWhenItIsCaught) {
  BotStyle hunter{true, true, true};
  Player* rival = rivalAt(6, 1);
  BotDecision d = decideBot(*bot, BotPlay::kWander, hunter);
  EXPECT_FALSE(d.placeBarrel);
  ASSERT_TRUE(d.walk);
  EXPECT_EQ(d.column, 2);
  EXPECT_EQ(d.row, 1);
  // In reach of a rival that could still run: now and then, to drive it.
  standAt(4, 1);
  int placed = 0;
  for (int i = 0; i < 20; ++i) placed += decideBot(*bot, BotPlay::kWander, hunter).placeBarrel;
  EXPECT_GT(placed, 0);
  EXPECT_LT(placed, 20);
  // Caught in a dead end that the bot's barrel closes: every time, and the bot steps aside.
  rival->x = centre(7);
  box(6, 2);
  box(7, 2);
  standAt(5, 1);
  for (int i = 0; i < 5; ++i) {
    d = decideBot(*bot, BotPlay::kWander, hunter);
    EXPECT_TRUE(d.placeBarrel);
    ASSERT_TRUE(d.walk);
    EXPECT_EQ(d.row, 2);
  }
  // Dead rivals are nobody's prey; a bot without the style never hunts.
  rival->dead = 1;
  EXPECT_FALSE(decideBot(*bot, BotPlay::kWander, hunter).placeBarrel);
  rival->dead = 0;
  EXPECT_FALSE(decideBot(*bot, BotPlay::kWander, BotStyle{}).placeBarrel);
  // A rival behind a wall of boxes: it digs the shortest way, to the box in line with it.
  for (int r = 1; r <= 5; ++r) box(5, r);
  standAt(1, 3);
  for (int step = 0; step < 5; ++step) {
    d = decideBot(*bot, BotPlay::kWander, hunter);
    EXPECT_FALSE(d.placeBarrel);
    ASSERT_TRUE(d.walk);
    standAt(d.column, d.row);
  }
  EXPECT_EQ(cellX(bot->x), 4);
  EXPECT_EQ(cellY(bot->y), 1);
  EXPECT_TRUE(decideBot(*bot, BotPlay::kWander, hunter).placeBarrel);
}

TEST_F(BotBrainTest, BarrelPlayersPlaceWhereTheyStandAndNeverWalk) {
  BotDecision d = decideBot(*bot, BotPlay::kBarrels, eager);
  EXPECT_TRUE(d.placeBarrel);
  EXPECT_FALSE(d.walk);
  barrelAt(1, 1, 2, 3000)->ownerPlayer = bot;
  d = decideBot(*bot, BotPlay::kBarrels, eager);
  EXPECT_FALSE(d.placeBarrel || d.walk);
}

TEST_F(BotBrainTest, StillAndDeadBotsDoNothing) {
  box(2, 1);
  BotDecision d = decideBot(*bot, BotPlay::kStill, eager);
  EXPECT_FALSE(d.placeBarrel || d.walk);
  bot->dead = 1;
  d = decideBot(*bot, BotPlay::kSuicide, eager);
  EXPECT_FALSE(d.placeBarrel || d.walk);
  EXPECT_EQ(botFacing(1, 1, 2, 1, 45), -90);
  EXPECT_EQ(botFacing(1, 1, 1, 0, 45), -180);
  EXPECT_EQ(botFacing(1, 1, 1, 1, 45), 45);
}

}  // namespace
