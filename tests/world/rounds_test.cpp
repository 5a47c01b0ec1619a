// Rounds and scoring on the host's side: when a round ends, when the match ends, and what a round
// start resets and what it keeps.
#include "world/rounds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "data/config.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "support/world_support.h"
#include "support/test_support.h"
#include "world/barrels.h"
#include "world/items.h"
#include "world/map.h"
#include "world/messages.h"
#include "world/world.h"

namespace {

float centre(int cell) { return cell * 96.0f + 48.0f; }

// Every machine reports its own player's death; here one hook stands for all of them.
void everybodyInTheBlastReports(int32_t column, int32_t row, int32_t owner) {
  for (Player& player : world.players) {
    if (!player.dead && cellX(player.x) == column && cellY(player.y) == row) {
      sendDeathReport(player.id, owner);
    }
  }
}

class RoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Maps bring tile pictures, which the null screen takes.
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDataRoot(test::binaryDir());
    config = Config{};
    rt::frame.now = 100000;
    world = World{};
    setRuleMessages(directRuleMessages());
    setCellBurntHook(everybodyInTheBlastReports);
  }
  void TearDown() override {
    endMatchWorld();
    setCellBurntHook(nullptr);
    setRuleMessages({});
    world = World{};
    rt::shutdownScreenSystem();
  }

  Player* addPlayer(int32_t id) {
    Player* player = world.players.append();
    player->id = id;
    setPlayerName(*player, "P" + std::to_string(id));
    return player;
  }
  // An open floor of 15 x 15 cells, round 1 of rounds running.
  void openFloor(int32_t rounds) {
    test::openFloor(15, 15);
    world.match.running = true;
    world.match.roundNumber = 1;
    world.match.rounds = rounds;
  }
  void standAt(Player* player, int column, int row) {
    player->x = player->netX = centre(column);
    player->y = player->netY = centre(row);
  }
  // Lets every fuse burn down and every chained barrel go off.
  void burnAll() {
    for (int i = 0; i < 20 && !world.round.barrels.empty(); ++i) {
      rt::frame.now += 4000;
      barrelStep();
    }
  }
  // The frames of the host's round control until it asks for something, at most `ms` long.
  RoundEvent controlFor(uint32_t ms, uint32_t* when = nullptr) {
    for (uint32_t t = 0; t <= ms; ++t) {
      RoundEvent event = roundControl(rt::frame.now);
      if (event != RoundEvent::kNone) {
        if (when) *when = rt::frame.now;
        return event;
      }
      ++rt::frame.now;
    }
    return RoundEvent::kNone;
  }

  test::EventLog events;
};

TEST_F(RoundsTest, LastTwoDyingInOneBlastEndTheRoundFiveSecondsLater) {
  openFloor(3);
  Player* owner = addPlayer(1);
  Player* other = addPlayer(2);
  standAt(owner, 5, 5);
  standAt(other, 6, 5);
  ASSERT_TRUE(placeBarrel(owner->id, 2, centre(5), centre(5), 3000));
  EXPECT_EQ(roundControl(rt::frame.now), RoundEvent::kNone);
  EXPECT_EQ(world.round.endAt, 0u);

  burnAll();
  ASSERT_TRUE(owner->dead && other->dead);
  EXPECT_EQ(owner->kills, 1);
  EXPECT_EQ(owner->selfKills, 1);
  EXPECT_EQ(owner->deaths, 1);
  EXPECT_EQ(owner->points, 0);
  EXPECT_EQ(other->kills, 0);
  EXPECT_EQ(other->deaths, 1);
  EXPECT_EQ(other->points, 0);

  uint32_t deathSeen = rt::frame.now;
  uint32_t when = 0;
  EXPECT_EQ(controlFor(6000, &when), RoundEvent::kNextRound);
  EXPECT_EQ(when, deathSeen + kRoundEndDelay + 1);
  EXPECT_EQ(world.round.endAt, 0u);
}

TEST_F(RoundsTest, OwnBarrelCostsAPointAndGivesADeath) {
  openFloor(3);
  Player* careless = addPlayer(1);
  Player* bystander = addPlayer(2);
  Player* third = addPlayer(3);
  standAt(careless, 2, 2);
  standAt(bystander, 10, 10);
  standAt(third, 12, 10);
  careless->kills = 2;
  careless->points = 2;
  ASSERT_TRUE(placeBarrel(careless->id, 3, centre(2), centre(2), 2000));
  burnAll();
  EXPECT_TRUE(careless->dead);
  EXPECT_EQ(careless->selfKills, 1);
  EXPECT_EQ(careless->deaths, 1);
  EXPECT_EQ(careless->points, 1);
  EXPECT_EQ(careless->kills, 2);
  // Two are still alive: the round goes on.
  EXPECT_EQ(controlFor(10000), RoundEvent::kNone);
  EXPECT_EQ(world.round.endAt, 0u);
}

TEST_F(RoundsTest, AlonePlayerPlaysOnUntilHeDies) {
  openFloor(3);
  Player* alone = addPlayer(1);
  standAt(alone, 3, 3);
  EXPECT_EQ(controlFor(20000), RoundEvent::kNone);
  EXPECT_EQ(world.round.endAt, 0u);
  ASSERT_TRUE(placeBarrel(alone->id, 2, centre(3), centre(3), 2000));
  burnAll();
  ASSERT_TRUE(alone->dead);
  uint32_t deathSeen = rt::frame.now;
  uint32_t when = 0;
  EXPECT_EQ(controlFor(6000, &when), RoundEvent::kNextRound);
  EXPECT_EQ(when, deathSeen + kRoundEndDelay + 1);
}

TEST_F(RoundsTest, AnEmptyServerEndsItsRoundsByItself) {
  openFloor(1);
  EXPECT_EQ(controlFor(6000), RoundEvent::kNextRound);
}

TEST_F(RoundsTest, TheRoundTimeEndsARoundWithPlayersAliveUnlessAnEndIsPending) {
  addPlayer(1);
  addPlayer(2);
  ASSERT_TRUE(startHostRound("Arena", 3, 60000));
  const uint32_t start = rt::frame.now;
  EXPECT_EQ(roundTimeLeft(start + 1000), 59000);
  uint32_t when = 0;
  EXPECT_EQ(controlFor(61000, &when), RoundEvent::kNextRound);
  EXPECT_EQ(when, start + 60000);

  // Fewer than two alive just before the time is up: the usual delay runs its course.
  ASSERT_TRUE(startHostRound("Arena", 3, 60000));
  rt::frame.now += 59000;
  world.players.front().dead = 1;
  const uint32_t deathSeen = rt::frame.now;
  EXPECT_EQ(controlFor(6000, &when), RoundEvent::kNextRound);
  EXPECT_EQ(when, deathSeen + kRoundEndDelay + 1);

  world.match.roundTime = 0;  // no limit
  EXPECT_EQ(roundTimeLeft(rt::frame.now + 1000000), -1);
}

TEST_F(RoundsTest, RoundStartResetsTheRoundAndKeepsTheScores) {
  Player* a = addPlayer(1);
  Player* b = addPlayer(2);
  world.localPlayer = a;
  a->kills = 3;
  a->points = 3;
  b->deaths = 2;
  ASSERT_TRUE(startHostRound("Arena", 3, 180000));
  EXPECT_EQ(world.match.roundNumber, 1);
  EXPECT_TRUE(world.match.running);
  EXPECT_EQ(world.match.rounds, 3);
  EXPECT_EQ(world.match.roundTime, 180000);
  EXPECT_EQ(world.match.mapName, "Arena");
  ASSERT_EQ(world.round.box.columns(), mapColumns());
  ASSERT_EQ(world.round.box.rows(), mapRows());
  EXPECT_EQ(events.count(WorldEventType::kMapLoaded), 1u);
  EXPECT_EQ(events.count(WorldEventType::kRoundStarted), 1u);

  // Mid-round: things happen.
  a->dead = 1;
  a->strength = 7;
  b->fuseTime = 6000;
  b->barrelCapacity = 4;
  standAt(b, 1, 1);
  ASSERT_TRUE(createItem(1, cellCentreX(2), cellCentreY(2), 0));
  ASSERT_TRUE(placeBarrel(b->id, 2, b->x, b->y, 3000));
  world.round.notices.append();
  world.round.decals.append();
  world.round.endAt = 5;
  ASSERT_TRUE(startHostRound("Arena", 3, 180000));

  EXPECT_EQ(world.match.roundNumber, 2);
  EXPECT_TRUE(world.round.items.empty());
  EXPECT_TRUE(world.round.barrels.empty());
  EXPECT_TRUE(world.round.notices.empty());
  EXPECT_TRUE(world.round.decals.empty());
  EXPECT_EQ(world.round.endAt, 0u);
  EXPECT_EQ(burningBarrels(*b), 0);
  const std::vector<SpawnPoint>& spawns = mapHeader().spawnPoints;
  ASSERT_GE(spawns.size(), 2u);
  size_t index = 0;
  for (Player& p : world.players) {
    SCOPED_TRACE(index);
    EXPECT_EQ(p.dead, 0);
    EXPECT_EQ(p.x, static_cast<float>(spawns[index].x));
    EXPECT_EQ(p.y, static_cast<float>(spawns[index].y));
    EXPECT_EQ(p.netX, p.x);
    EXPECT_EQ(p.netY, p.y);
    EXPECT_EQ(p.strength, 2);
    EXPECT_EQ(p.fuseTime, 3000);
    EXPECT_EQ(p.barrelCapacity, 1);
    ++index;
  }
  EXPECT_EQ(a->kills, 3);
  EXPECT_EQ(a->points, 3);
  EXPECT_EQ(b->deaths, 2);
}

TEST_F(RoundsTest, MorePlayersThanSpawnPointsShareThemInTurn) {
  for (int32_t id = 1; id <= 10; ++id) addPlayer(id);
  ASSERT_TRUE(startHostRound("Arena", 3, 180000));
  const std::vector<SpawnPoint>& spawns = mapHeader().spawnPoints;
  ASSERT_LT(spawns.size(), 10u);
  size_t index = 0;
  for (const Player& p : world.players) {
    const SpawnPoint& spawn = spawns[index % spawns.size()];
    EXPECT_EQ(p.x, static_cast<float>(spawn.x)) << index;
    EXPECT_EQ(p.y, static_cast<float>(spawn.y)) << index;
    ++index;
  }
}

TEST_F(RoundsTest, GameOverFollowsTheSetUpAfterTheLastRound) {
  Player* a = addPlayer(1);
  addPlayer(2);
  const int32_t rounds = 2;
  ASSERT_TRUE(startHostRound("Arena", rounds, 60000));
  for (int32_t round = 1; round <= rounds; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(roundControl(rt::frame.now), RoundEvent::kNone);
    ASSERT_TRUE(placeBarrel(a->id, 1, a->x, a->y, 2000));
    burnAll();
    ASSERT_TRUE(a->dead);
    ASSERT_EQ(controlFor(6000), RoundEvent::kNextRound);
    ASSERT_TRUE(startHostRound("Arena", rounds, 60000));
  }
  // The set-up after the last round happened; the next frame ends the match.
  EXPECT_EQ(world.match.roundNumber, rounds + 1);
  EXPECT_EQ(roundControl(rt::frame.now), RoundEvent::kGameOver);
  EXPECT_EQ(a->selfKills, rounds);
  EXPECT_EQ(a->points, -rounds);
}

TEST_F(RoundsTest, EndOfTheMatchEmptiesTheWorldButKeepsThePlayers) {
  Player* a = addPlayer(1);
  a->kills = 4;
  ASSERT_TRUE(startHostRound("Arena", 1, 60000));
  ASSERT_TRUE(placeBarrel(a->id, 2, a->x, a->y, 3000));
  ASSERT_TRUE(createItem(3, cellCentreX(1), cellCentreY(1), 0));
  world.round.notices.append();
  a->strength = 9;
  endMatchWorld();
  EXPECT_EQ(mapColumns(), 1);
  EXPECT_EQ(world.round.box.columns(), 1);
  EXPECT_TRUE(world.round.barrels.empty());
  EXPECT_TRUE(world.round.items.empty());
  EXPECT_TRUE(world.round.notices.empty());
  EXPECT_EQ(events.count(WorldEventType::kMatchEnded), 1u);
  EXPECT_TRUE(mapHeader().spawnPoints.empty());
  EXPECT_EQ(world.match.roundNumber, 0);
  EXPECT_FALSE(world.match.running);
  ASSERT_EQ(world.players.count(), 1u);
  EXPECT_EQ(a->x, 0.0f);
  EXPECT_EQ(a->strength, 2);
  EXPECT_EQ(a->kills, 4);
}

}  // namespace
