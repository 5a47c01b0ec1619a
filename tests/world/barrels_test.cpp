// Barrels: placement, the fuse, the blast's arms, boxes, chain reactions, items in the blast,
// the death report and the kill it leads to, and the events they make, on hand-built grids
// without a window or network.
#include "world/barrels.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "data/config.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "support/world_support.h"
#include "world/decals.h"
#include "world/items.h"
#include "world/messages.h"

namespace {

using Cell = std::pair<int, int>;
std::vector<Cell> burnt;
void recordBurnt(int32_t column, int32_t row, int32_t) { burnt.emplace_back(column, row); }
float centre(int cell) { return cell * 96.0f + 48.0f; }

class BarrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config = Config{};
    rt::frame.now = 100000;
    world = World{};
    test::openFloor(15, 15);
    burnt.clear();
    setCellBurntHook(recordBurnt);
    // Every message is recorded and, like the host's echo, applied at once.
    RuleMessages direct = directRuleMessages(), messages = direct;
    messages.reportDeath = [this, direct](int32_t victim, int32_t killer) {
      deaths.emplace_back(victim, killer);
      if (applyDeaths) direct.reportDeath(victim, killer);
    };
    messages.requestBarrel = [this](int32_t, int32_t, float x, float, int32_t) {
      ++requests;
      requestX = x;
    };
    messages.itemDropped = [this](int32_t, int32_t, int32_t, int32_t) { ++itemsDropped; };
    setRuleMessages(messages);
    for (int32_t id = 1; id <= 3; ++id) addPlayer(id, 0, id - 1);
    world.localPlayer = findPlayer(1);
  }
  void TearDown() override {
    setCellBurntHook(nullptr);
    setRuleMessages({});
    world = World{};
  }

  void addPlayer(int32_t id, int column, int row) {
    world.players.append()->id = id;
    moveTo(findPlayer(id), column, row);
  }
  void moveTo(Player* p, int column, int row) {
    p->x = centre(column);
    p->y = centre(row);
  }
  Barrel* place(int32_t owner, int column, int row, int32_t strength, int32_t fuse = 3000) {
    return placeBarrel(owner, strength, centre(column), centre(row), fuse);
  }
  void stepAt(uint32_t t) {
    rt::frame.now = t;
    barrelStep();
  }
  void explodeAll() {
    for (int i = 0; i < 100 && !world.round.barrels.empty(); ++i) stepAt(rt::frame.now + 10000);
  }

  test::EventLog events;
  std::vector<std::pair<int32_t, int32_t>> deaths;
  bool applyDeaths = true;
  int requests = 0, itemsDropped = 0;
  float requestX = 0;
};

TEST_F(BarrelTest, APlacedBarrelBurnsItsFuseThenExplodesAndLeavesNothingBehind) {
  Player* owner = findPlayer(2);
  rt::frame.now = 0xFFFFF000u;  // the fuse runs across the clock's wrap
  Barrel* barrel = place(2, 5, 6, 1, 4000);
  ASSERT_NE(barrel, nullptr);
  EXPECT_EQ(world.round.barrelAt.get(5, 6), barrel);
  EXPECT_EQ(burningBarrels(*owner), 1);
  ASSERT_EQ(events.count(WorldEventType::kBarrelPlaced), 1u);
  EXPECT_EQ(events.events()[0].record, barrel);
  EXPECT_EQ(events.events()[0].x, 528);
  stepAt(0xFFFFF000u + 4000);
  ASSERT_EQ(world.round.barrels.count(), 1u);
  stepAt(0xFFFFF000u + 4001);
  EXPECT_TRUE(world.round.barrels.empty());
  EXPECT_EQ(world.round.barrelAt.get(5, 6), nullptr);
  EXPECT_EQ(burningBarrels(*owner), 0);
  // Five cells burn, in arm order (down from its own cell, up, right, left); then the barrel
  // reports its blast and its end.
  EXPECT_EQ(burnt, (std::vector<Cell>{{5, 6}, {5, 7}, {5, 5}, {6, 6}, {4, 6}}));
  std::vector<WorldEventType> types;
  for (const test::LoggedEvent& e : events.events()) types.push_back(e.type);
  using T = WorldEventType;
  EXPECT_EQ(types, (std::vector<T>{T::kBarrelPlaced, T::kCellBurnt, T::kCellBurnt, T::kCellBurnt,
                                   T::kCellBurnt, T::kCellBurnt, T::kBarrelExploded,
                                   T::kBarrelRemoved}));
  EXPECT_EQ(events.events()[1].x, 528);
  EXPECT_EQ(events.events()[1].y, 624);
  EXPECT_EQ(events.events()[1].owner, 2);
}

TEST_F(BarrelTest, PlacementsFromTheWireAreCheckedAndBroughtIntoRange) {
  EXPECT_EQ(placeBarrel(99, 2, centre(3), centre(3), 3000), nullptr);  // nobody
  EXPECT_EQ(placeBarrel(2, 2, NAN, centre(3), 3000), nullptr);
  EXPECT_EQ(placeBarrel(2, 2, -500, centre(3), 3000), nullptr);
  EXPECT_EQ(placeBarrel(2, 2, 3e9f, centre(3), 3000), nullptr);
  EXPECT_TRUE(world.round.barrels.empty());
  Barrel* strong = place(2, 3, 3, 1000000, -50);
  Barrel* weak = place(2, 4, 4, -7, 2000000000);
  ASSERT_TRUE(strong && weak);
  EXPECT_EQ(strong->strength, kMaxStrength);
  EXPECT_EQ(strong->fuseTime, kMinFuseTime);
  EXPECT_EQ(weak->strength, kMinStrength);
  EXPECT_EQ(weak->fuseTime, kMaxFuseTime);
}

TEST_F(BarrelTest, StrengthTwelveReachesTwelveCellsUntilAWallOrTheEdge) {
  test::openFloor(30, 30);
  world.map.solid.set(18, 15, 1);  // a wall three cells to the right
  world.map.solid.set(15, 10, 2);  // terrain that stops players but not blasts
  place(2, 15, 15, 12);
  explodeAll();
  EXPECT_EQ(burnt.size(), 1u + 12 + 12 + 2 + 12);
  burnt.clear();
  place(2, 0, 29, 12);
  explodeAll();
  EXPECT_EQ(burnt.size(), 1u + 12 + 12);  // down and left end at the edge
}

TEST_F(BarrelTest, ABoxTakesTheBlastAndShieldsTheCellsBehindIt) {
  world.round.box.set(6, 5, 1);
  place(2, 5, 5, 12);
  explodeAll();
  EXPECT_EQ(world.round.box.get(6, 5), 0);
  EXPECT_EQ(events.count(WorldEventType::kBoxDestroyed), 1u);
  for (auto [c, r] : burnt) EXPECT_FALSE(r == 5 && c >= 6) << c;
  EXPECT_TRUE(world.round.items.empty());  // not the host: no item rolls
}

TEST_F(BarrelTest, OnlyTheHostRollsItemsForBrokenBoxes) {
  rt::randomSeed(7);
  world.isHost = true;
  test::openFloor(3, 200);
  for (int row = 0; row < 200; row += 2) {
    world.round.box.set(1, row, 1);
    place(2, 0, row, 1);
    explodeAll();
  }
  EXPECT_GT(world.round.items.count(), 20u);
  EXPECT_EQ(static_cast<int>(world.round.items.count()), itemsDropped);
}

TEST_F(BarrelTest, AChainGoesOffFiftyMillisecondsLaterInTheFirstOwnersName) {
  Player *first = findPlayer(1), *second = findPlayer(2), *victim = findPlayer(3);
  moveTo(first, 0, 14);
  moveTo(victim, 9, 5);  // only the second barrel reaches it
  world.localPlayer = victim;
  Barrel* a = place(1, 5, 5, 3, 2000);
  Barrel* b = place(2, 7, 5, 2, 7000);
  Barrel* c = place(2, 5, 7, 1, 2000);
  c->explodeAt = a->explodeAt + 10;  // due sooner than the chain delay: it waits longer
  uint32_t t = a->explodeAt + 1;
  stepAt(t);
  ASSERT_EQ(world.round.barrels.count(), 2u);
  EXPECT_EQ(b->explodeAt, t + kChainDelay);
  EXPECT_EQ(c->explodeAt, t + kChainDelay);
  EXPECT_EQ(b->owner, 1);
  EXPECT_EQ(b->ownerPlayer, second);  // the place stays the placer's
  stepAt(t + kChainDelay);
  EXPECT_EQ(world.round.barrels.count(), 2u);
  stepAt(t + kChainDelay + 1);
  EXPECT_TRUE(world.round.barrels.empty());
  EXPECT_EQ(burningBarrels(*second), 0);
  ASSERT_EQ(deaths.size(), 1u);
  EXPECT_EQ(deaths[0], std::make_pair(3, 1));
  EXPECT_EQ(first->kills, 1);
  EXPECT_EQ(second->kills, 0);
  EXPECT_EQ(victim->deaths, 1);
}

TEST_F(BarrelTest, AnItemInABurningCellIsDestroyedNotTaken) {
  ASSERT_NE(createItem(1, centre(5), centre(7), 0), nullptr);
  place(2, 5, 5, 2);
  explodeAll();
  EXPECT_TRUE(world.round.items.empty());
  EXPECT_EQ(world.round.itemAt.get(5, 7), nullptr);
  EXPECT_EQ(world.localPlayer->strength, 2);
  EXPECT_TRUE(world.round.notices.empty());
}

TEST_F(BarrelTest, OnlyTheLocalPlayerIsReportedAndAlsoWhenAlreadyDead) {
  applyDeaths = false;
  moveTo(world.localPlayer, 5, 5);
  moveTo(findPlayer(3), 5, 6);
  place(2, 5, 5, 2);
  explodeAll();
  EXPECT_EQ(deaths, (std::vector<std::pair<int32_t, int32_t>>{{1, 2}}));
  world.localPlayer->dead = 1;  // the receivers ignore a report about the dead
  place(2, 5, 6, 2);
  explodeAll();
  EXPECT_EQ(deaths.size(), 2u);
}

TEST_F(BarrelTest, TwoBarrelsInOneCellAndALeavingOwnerLeaveNoStaleReference) {
  Barrel* first = place(2, 5, 5, 2);
  Barrel* second = place(3, 5, 5, 2);
  removeBarrel(first);
  EXPECT_EQ(world.round.barrelAt.get(5, 5), second);
  Player* leaving = findPlayer(3);
  forgetBarrelOwner(*leaving);
  world.players.remove(leaving);
  explodeAll();  // must not touch the freed record
  EXPECT_EQ(world.round.barrelAt.get(5, 5), nullptr);
  EXPECT_EQ(burnt.size(), 9u);
}

TEST_F(BarrelTest, AReleaseOfAAsksOnlyWhenAliveWithAPlaceOnAFreeCell) {
  Player* local = world.localPlayer;
  moveTo(local, 4, 6);
  local->x += 10;
  requestBarrel(false);
  EXPECT_EQ(requests, 0);
  requestBarrel(true);
  EXPECT_EQ(requests, 1);
  EXPECT_FLOAT_EQ(requestX, local->x);
  EXPECT_EQ(local->cellX, 4);
  EXPECT_TRUE(world.round.barrels.empty());  // nothing stands there before the echo

  Barrel* there = place(2, 4, 6, 2);
  requestBarrel(true);
  removeBarrel(there);
  place(1, 9, 9, 2);  // capacity 1 is taken
  requestBarrel(true);
  local->barrelCapacity = 2;
  local->dead = 1;
  requestBarrel(true);
  EXPECT_EQ(requests, 1);
}

TEST_F(BarrelTest, KillsScoreOnceAndOnlyForKnownLivingPlayers) {
  Player *owner = findPlayer(1), *other = findPlayer(2);
  EXPECT_FALSE(applyKill(99, 1));
  EXPECT_FALSE(applyKill(2, 99));
  EXPECT_TRUE(world.round.decals.empty());
  // The last two die in one blast of the owner's barrel.
  ASSERT_TRUE(applyKill(2, 1));
  ASSERT_TRUE(applyKill(1, 1));
  EXPECT_FALSE(applyKill(1, 1));
  EXPECT_EQ(owner->kills, 1);
  EXPECT_EQ(owner->selfKills, 1);
  EXPECT_EQ(owner->deaths, 1);
  EXPECT_EQ(owner->points, 0);
  EXPECT_EQ(other->deaths, 1);
  EXPECT_EQ(other->dead, 1);
  // Counters from the wire stop at their ends.
  Player* third = findPlayer(3);
  third->selfKills = INT_MAX;
  third->points = INT_MIN + 1;
  other->dead = 0;
  other->kills = INT_MAX;
  ASSERT_TRUE(applyKill(3, 3));
  EXPECT_EQ(third->points, INT_MIN + 1);
}

TEST_F(BarrelTest, ADeathIsReportedAndLeavesThreeDecalsAsConfigured) {
  Player* victim = findPlayer(2);
  moveTo(victim, 6, 6);
  ASSERT_TRUE(applyKill(2, 1));
  ASSERT_EQ(events.count(WorldEventType::kPlayerKilled), 1u);
  EXPECT_EQ(events.events()[0].record, victim);
  EXPECT_EQ(events.events()[0].x, 624);
  ASSERT_EQ(world.round.decals.count(), 3u);
  EXPECT_EQ(world.round.decals.front().halfWidth, 48);
  EXPECT_EQ(world.round.decals.front().fadeAt, rt::frame.now + 600u * 1000u);
  for (const Decal& d : world.round.decals) EXPECT_LE(std::fabs(d.x - victim->x), 32.0f);
  config.deadBodyTime = 0;
  ASSERT_TRUE(applyKill(3, 1));
  EXPECT_EQ(world.round.decals.count(), 3u);
}

}  // namespace
