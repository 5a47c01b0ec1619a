// The bots' decisions on hand-built grids: where a bot places a barrel, where it runs, what it
// walks to, and that it never places a barrel it cannot get away from unless it means to die.
#include "world/bot_brain.h"

#include <gtest/gtest.h>

#include "runtime/clock.h"
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
  void TearDown() override { clearWorld(); }

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
  // A burning barrel as the echo leaves it, without its light, spark and sound.
  void barrelAt(int c, int r, int strength) {
    Barrel* barrel = world.round.barrels.append();
    barrel->x = centre(c);
    barrel->y = centre(r);
    barrel->strength = strength;
    world.round.barrelAt.set(c, r, barrel);
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
