// Items: identifiers, the grid kept in step, pickups with their limits, notices and messages,
// and the drop rolls.
#include "world/items.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "data/config.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "support/world_support.h"
#include "world/barrels.h"
#include "world/messages.h"

namespace {

float centre(int cell) { return cell * 96.0f + 48.0f; }

class ItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config = Config{};
    rt::frame.now = 5000;
    world = World{};
    test::openFloor(10, 10);
    RuleMessages direct = directRuleMessages(), messages = direct;
    messages.abilityChanged = [this, direct](int32_t type, int32_t id, int32_t value) {
      abilities.push_back({type, id, value});
      direct.abilityChanged(type, id, value);
    };
    messages.itemTaken = [this, direct](int32_t id) {
      taken.push_back(id);
      direct.itemTaken(id);
    };
    messages.itemDropped = [this](int32_t row, int32_t, int32_t, int32_t) { ++dropped[row]; };
    setRuleMessages(messages);
    local = world.players.append();
    local->id = 7;
    local->x = local->y = centre(1);
    world.localPlayer = local;
  }
  void TearDown() override {
    setRuleMessages({});
    world = World{};
  }
  Item* itemAt(int row, int column, int cellRow, int32_t id = 0) {
    return createItem(row, centre(column), centre(cellRow), id);
  }

  test::EventLog events;
  Player* local = nullptr;
  std::vector<std::array<int32_t, 3>> abilities;
  std::vector<int32_t> taken;
  std::array<int, 11> dropped{};
};

TEST_F(ItemTest, IdentifiersAreUniqueAmongLiveItemsAndTheGridStaysInStep) {
  Item* a = itemAt(3, 2, 2);
  Item* b = itemAt(1, 3, 2);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->id, 0);
  EXPECT_NE(a->id, b->id);
  EXPECT_EQ(a->name, "Bomb Time Increase");
  EXPECT_EQ(world.round.itemAt.get(2, 2), a);
  EXPECT_EQ(a->animation, kAnimationTime);
  EXPECT_EQ(events.count(WorldEventType::kItemCreated), 2u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(findItem(newItemId()), nullptr);
  // The host's id is kept; one already alive is refused.
  Item* given = itemAt(2, 4, 2, 5000);
  ASSERT_NE(given, nullptr);
  EXPECT_EQ(given->id, 5000);
  EXPECT_EQ(itemAt(2, 5, 2, 5000), nullptr);
  removeItem(a);
  EXPECT_EQ(world.round.itemAt.get(2, 2), nullptr);
  EXPECT_EQ(events.count(WorldEventType::kItemRemoved), 1u);
  EXPECT_EQ(events.events().back().record, a);
}

TEST_F(ItemTest, ItemsFromTheWireAreChecked) {
  EXPECT_EQ(createItem(0, centre(2), centre(2), 9), nullptr);  // an empty row
  EXPECT_EQ(createItem(9, centre(2), centre(2), 9), nullptr);
  EXPECT_EQ(createItem(1, NAN, centre(2), 9), nullptr);
  EXPECT_EQ(createItem(1, centre(20), centre(2), 9), nullptr);  // off the map
  EXPECT_TRUE(world.round.items.empty());
  // A newer item in an occupied cell takes its place; nothing points at the old one.
  itemAt(1, 2, 2, 1);
  Item* newer = itemAt(3, 2, 2, 2);
  EXPECT_EQ(world.round.items.count(), 1u);
  EXPECT_EQ(world.round.itemAt.get(2, 2), newer);
}

TEST_F(ItemTest, APickupAppliesSendsNotifiesAndRemovesOnce) {
  itemAt(1, 1, 1, 42);
  itemAt(3, 3, 3, 43);  // out of reach
  local->x += 31;       // just inside the radius of 32
  pickUpItems();
  EXPECT_EQ(local->strength, 3);
  ASSERT_EQ(abilities.size(), 1u);
  EXPECT_EQ(abilities[0], (std::array<int32_t, 3>{kAbilityStrength, 7, 3}));
  EXPECT_EQ(taken, std::vector<int32_t>{42});
  EXPECT_EQ(events.count(WorldEventType::kItemTaken), 1u);
  EXPECT_EQ(world.round.items.count(), 1u);
  EXPECT_EQ(world.round.itemAt.get(1, 1), nullptr);
  ASSERT_EQ(world.round.notices.count(), 1u);
  EXPECT_EQ(world.round.notices.front().name, "Explosion Strength Increase");
  EXPECT_EQ(world.round.notices.front().iconSprite, 12);
  EXPECT_EQ(world.round.notices.front().expiry, 5000u + 10u * 1000u);
  // Another machine's taken message for the same item finds nothing.
  removeItemById(42);
  EXPECT_EQ(world.round.items.count(), 1u);
}

TEST_F(ItemTest, AtStrengthTwelveAnIncreaseIsLostWithoutNoticeButTakenForEverybody) {
  local->strength = 12;
  itemAt(1, 1, 1, 3);
  pickUpItems();
  EXPECT_EQ(local->strength, 12);
  EXPECT_TRUE(abilities.empty());
  EXPECT_TRUE(world.round.notices.empty());
  EXPECT_EQ(taken, std::vector<int32_t>{3});
  EXPECT_TRUE(world.round.items.empty());
}

TEST_F(ItemTest, TheDeadTakeNothing) {
  itemAt(1, 1, 1);
  local->dead = 1;
  pickUpItems();
  EXPECT_EQ(world.round.items.count(), 1u);
}

TEST_F(ItemTest, EveryEffectStopsAtItsLimit) {
  struct Case {
    int32_t Player::*field;
    int32_t start, after, type;
  };
  const Case cases[] = {{&Player::strength, 11, 12, 4},       {&Player::strength, 2, 1, 4},
                        {&Player::fuseTime, 7000, 7500, 5},   {&Player::fuseTime, 2500, 2000, 5},
                        {&Player::barrelCapacity, 9, 10, 6}, {&Player::barrelCapacity, 2, 1, 6}};
  for (int32_t kind = 0; kind < 6; ++kind) {
    const Case& c = cases[kind];
    Player p;
    p.*c.field = c.start;
    int32_t type = 0, value = 0;
    ASSERT_TRUE(applyItemEffect(p, kind, &type, &value)) << kind;
    EXPECT_EQ(p.*c.field, c.after);
    EXPECT_EQ(value, c.after);
    EXPECT_EQ(type, c.type);
    EXPECT_FALSE(applyItemEffect(p, kind, &type, &value)) << kind;
    EXPECT_EQ(p.*c.field, c.after);
  }
  Player p;
  int32_t type = 0, value = 0;
  EXPECT_FALSE(applyItemEffect(p, 6, &type, &value));
}

TEST_F(ItemTest, AbilityMessagesAreBroughtIntoRange) {
  setAbility(kAbilityStrength, 7, 99);
  setAbility(kAbilityFuseTime, 7, -5);
  setAbility(kAbilityCapacity, 7, 4);
  setAbility(kAbilityCapacity, 8, 9);  // nobody
  setAbility(3, 7, 9);                 // no such ability
  EXPECT_EQ(local->strength, 12);
  EXPECT_EQ(local->fuseTime, 2000);
  EXPECT_EQ(local->barrelCapacity, 4);
}

TEST_F(ItemTest, AboutThreeInFourBoxesRollAnItemAndStrengthLossesAreRarer) {
  rt::randomSeed(12345);
  test::openFloor(100, 100);
  const int boxes = 20000;
  int made = 0;
  for (int i = 0; i < boxes; ++i) {
    if (dropItem(centre(i % 100), centre((i / 100) % 100))) ++made;
    while (world.round.items.count() > 100) removeItem(&world.round.items.front());
  }
  int sent = 0;
  for (int row = 1; row <= 6; ++row) sent += dropped[row];
  EXPECT_EQ(sent, made);
  // 76 of 101 first rolls go on; five kinds then always drop, the strength loss 51 times in 101.
  double expected = boxes * (76.0 / 101.0) * ((5.0 + 51.0 / 101.0) / 6.0);
  EXPECT_NEAR(made, expected, expected * 0.03);
  double perKind = boxes * (76.0 / 101.0) / 6.0;
  for (int row : {1, 3, 4, 5, 6}) EXPECT_NEAR(dropped[row], perKind, perKind * 0.08) << row;
  EXPECT_NEAR(dropped[2], perKind * 51.0 / 101.0, perKind * 0.08);
}

}  // namespace
