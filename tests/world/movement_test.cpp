// The local player's controls and collisions and the remote players' walk, on hand-built grids
// without a window or a network.
#include "world/movement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/world_support.h"
#include "world/world.h"

namespace {

constexpr float kCell = 96;
float centre(int cell) { return cell * kCell + kCell / 2; }

MoveKeys keys(bool up, bool down, bool left, bool right) { return MoveKeys{up, down, left, right}; }
const MoveKeys kUp = keys(1, 0, 0, 0), kDown = keys(0, 1, 0, 0), kLeft = keys(0, 0, 1, 0),
               kRight = keys(0, 0, 0, 1);

class MovementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world = World{};
    test::openFloor(12, 12);
    player = world.players.append();
    world.localPlayer = player;
    placeAt(5, 5);
  }
  void TearDown() override { world = World{}; }

  void placeAt(int column, int row) {
    player->x = centre(column);
    player->y = centre(row);
  }
  void walk(MoveKeys k, int frames = 1, float factor = 1.0f) {
    for (int i = 0; i < frames; ++i) movePlayer(*player, k, factor);
  }

  Player* player = nullptr;
};

TEST(MoveKeysTest, UpBeatsDownAndLeftBeatsRight) {
  int32_t d = 0;
  EXPECT_FALSE(keyDirection(keys(0, 0, 0, 0), &d));
  const std::pair<MoveKeys, int32_t> cases[] = {
      {kDown, 0}, {kLeft, 90}, {kRight, -90}, {kUp, -180}, {keys(1, 1, 0, 0), -180},
      {keys(0, 0, 1, 1), 90}, {keys(1, 0, 1, 0), -225}, {keys(0, 1, 0, 1), -45}};
  for (auto [k, expected] : cases) {
    ASSERT_TRUE(keyDirection(k, &d));
    EXPECT_EQ(d, expected);
  }
}

TEST(FrameFactorTest, TenMillisecondStepsWithinBounds) {
  uint32_t previous = 1000;
  EXPECT_FLOAT_EQ(frameFactor(1012, &previous), 1.2f);
  previous = 0;  // the first frame of a match
  EXPECT_FLOAT_EQ(frameFactor(5000000, &previous), kMaxFrameFactor);
  previous = 0xFFFFFFFBu;  // across the clock's wrap
  EXPECT_FLOAT_EQ(frameFactor(5, &previous), 1.0f);
  previous = 5000;
  EXPECT_FLOAT_EQ(frameFactor(4000, &previous), 0.0f);
}

TEST_F(MovementTest, UpAndDownTogetherMovesUpAndDiagonalsAreAsLongAsStraightSteps) {
  float x = player->x, y = player->y;
  walk(keys(1, 1, 0, 0));
  EXPECT_FLOAT_EQ(player->x, x);  // no sideways drift from cos(90) not being 0
  EXPECT_FLOAT_EQ(player->y, y - 4);
  placeAt(5, 5);
  walk(keys(0, 1, 0, 1), 1, 5.0f);
  EXPECT_NEAR(std::hypot(player->x - x, player->y - y), 20.0f, 0.01f);
  EXPECT_NEAR(player->x - x, player->y - y, 0.01f);
}

TEST_F(MovementTest, WallsBoxesOtherTerrainAndTheMapEdgeStopAMove) {
  world.map.solid.set(6, 5, 1);
  world.round.box.set(5, 4, 1);
  world.map.solid.set(4, 5, 2);
  for (MoveKeys k : {kRight, kUp, kLeft}) {
    placeAt(5, 5);
    walk(k, 20);
    EXPECT_GE(player->x - 28, 5 * kCell - 4);
    EXPECT_LE(player->x + 28, 6 * kCell + 4);
    EXPECT_GE(player->y - 28, 5 * kCell - 4);
  }
  placeAt(0, 11);
  walk(keys(0, 1, 1, 0), 40);  // into the map's corner
  EXPECT_GT(player->x - 28, -4.0f);
  EXPECT_LT(player->y + 28, 12 * kCell + 4);
}

TEST_F(MovementTest, SlidesUpAlongAWallOnTheRight) {
  for (int row = 0; row < 12; ++row) world.map.solid.set(6, row, 1);
  player->x = 6 * kCell - 30;
  float x = player->x, y = player->y;
  walk(keys(1, 0, 0, 1), 5);
  EXPECT_FLOAT_EQ(player->x, x);
  EXPECT_LT(player->y, y - 10);
}

TEST_F(MovementTest, LeavesAFreshBarrelInEveryDirectionButNeverComesBack) {
  const MoveKeys away[8] = {kUp, kDown, kLeft, kRight, keys(1, 0, 1, 0), keys(1, 0, 0, 1),
                            keys(0, 1, 1, 0), keys(0, 1, 0, 1)};
  const MoveKeys back[8] = {kDown, kUp, kRight, kLeft, keys(0, 1, 0, 1), keys(0, 1, 1, 0),
                            keys(1, 0, 0, 1), keys(1, 0, 1, 0)};
  Barrel* barrel = world.round.barrels.append();
  barrel->x = barrel->y = centre(5);
  world.round.barrelAt.set(5, 5, barrel);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    placeAt(5, 5);
    walk(away[i], 30);
    ASSERT_GT(std::hypot(player->x - barrel->x, player->y - barrel->y), 100.0f);
    // Both axes are tested from where the player stood, so a diagonal step may shave the
    // cell's corner by up to one step; the body never gets further in.
    for (int frame = 0; frame < 60; ++frame) {
      walk(back[i]);
      ASSERT_FALSE(std::fabs(player->x - barrel->x) < 72 && std::fabs(player->y - barrel->y) < 72);
    }
  }
}

TEST_F(MovementTest, DeadPlayersBrokenSpeedsAndLongFramesGoNowhereTheyShouldNot) {
  for (int row = 0; row < 12; ++row) world.map.solid.set(8, row, 1);
  float x = player->x;
  player->dead = 1;
  walk(kRight, 5);
  EXPECT_FLOAT_EQ(player->x, x);
  player->dead = 0;
  player->speed = NAN;
  walk(kRight, 5);
  EXPECT_FLOAT_EQ(player->x, x);
  player->speed = 1e30f;  // a damaged player record: still stopped by the wall
  walk(kRight);
  EXPECT_LE(player->x + 28, 8 * kCell);
  placeAt(5, 5);
  moveWithCollision(*player, -90, 300.0f);  // three cells in one frame
  EXPECT_LE(player->x + 28, 8 * kCell);
  EXPECT_EQ(player->cellX, cellX(player->x));
}

TEST_F(MovementTest, UpperBodyTurnsSevenDegreesAStepAndSnapsWithinTen) {
  walk(kRight);
  EXPECT_FLOAT_EQ(player->bodyDirection, -7.0f);
  player->bodyDirection = -85;
  walk(kRight);
  EXPECT_FLOAT_EQ(player->bodyDirection, -90.0f);
  player->bodyDirection = -70;
  walk(kRight, 1, 10.0f);  // never past the facing
  EXPECT_FLOAT_EQ(player->bodyDirection, -90.0f);
}

TEST_F(MovementTest, RemotePlayersWalkTowardTheirTargetAndStandWithinAStep) {
  Player* remote = world.players.append();
  remote->x = remote->y = 100;
  remote->netX = 140;
  remote->netY = 62;
  moveRemotePlayers(1.0f);
  EXPECT_FLOAT_EQ(remote->x, 104);
  EXPECT_FLOAT_EQ(remote->y, 96);
  for (int i = 0; i < 20; ++i) moveRemotePlayers(1.0f);
  EXPECT_FLOAT_EQ(remote->x, 140);
  EXPECT_NEAR(remote->y, 62, 4.0f);
  float localX = player->x;
  player->netX = player->x + 500;  // the local player is not moved here
  remote->netX = NAN;
  remote->speed = INFINITY;
  moveRemotePlayers(1.0f);
  EXPECT_FLOAT_EQ(player->x, localX);
  EXPECT_FLOAT_EQ(remote->x, 140);
}

}  // namespace
