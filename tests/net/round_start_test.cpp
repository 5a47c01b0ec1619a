// The round-start message from the host's map to a client's grids and players, also when it
// comes damaged or names no plain map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "net/message_buffer.h"
#include "net/protocol.h"
#include "net/session.h"
#include "runtime/files.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "world/map.h"
#include "world/rounds.h"
#include "world/world.h"

namespace {

class RoundStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Maps bring tile pictures, which the null screen takes.
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDataRoot(test::binaryDir());
    world = World{};
    session = Session{};
  }
  void TearDown() override {
    endMatchWorld();
    world = World{};
    rt::shutdownScreenSystem();
  }
  Player* addPlayer(int32_t id) {
    Player* player = world.players.append();
    player->id = id;
    return player;
  }
  // The host's message for a round on Arena with three players, its type already read.
  MessageBuffer* hostMessage() {
    for (int32_t id = 1; id <= 3; ++id) addPlayer(id);
    EXPECT_TRUE(startHostRound("Arena", 4, 120000));
    MessageBuffer* message = newRoundStartMessage();
    hostBoxes.clear();
    for (int row = 0; row < mapRows(); ++row) {
      for (int column = 0; column < mapColumns(); ++column) {
        hostBoxes.push_back(world.round.box.get(column, row));
      }
    }
    for (const Player& p : world.players) hostPositions.push_back({p.x, p.y});
    return message;
  }
  // The client's world before the message: another round, players elsewhere.
  void clientBefore() {
    endMatchWorld();
    world.match.roundNumber = 6;
    for (Player& p : world.players) {
      p.x = p.y = 144;
      p.dead = 1;
      p.strength = 9;
    }
  }

  std::vector<int32_t> hostBoxes;
  std::vector<std::pair<float, float>> hostPositions;
};

TEST_F(RoundStartTest, ClientGetsTheHostsBoxesAndPositions) {
  MessageBuffer* message = hostMessage();
  int32_t cells = mapColumns() * mapRows();
  EXPECT_EQ(message->length, 4 + 6 + 4 + 4 + cells + 4 + 3 * 8);
  clientBefore();
  dispatchClientMessage(message);
  freeBuffer(message);

  EXPECT_EQ(world.match.roundNumber, 7);
  EXPECT_EQ(world.match.rounds, 4);
  EXPECT_EQ(world.match.roundTime, 120000);
  ASSERT_EQ(world.round.box.columns() * world.round.box.rows(), cells);
  size_t i = 0;
  for (int row = 0; row < mapRows(); ++row) {
    for (int column = 0; column < mapColumns(); ++column) {
      ASSERT_EQ(world.round.box.get(column, row), hostBoxes[i++]) << column << "," << row;
    }
  }
  i = 0;
  for (const Player& p : world.players) {
    EXPECT_EQ(p.x, hostPositions[i].first);
    EXPECT_EQ(p.y, hostPositions[i].second);
    EXPECT_EQ(p.netX, p.x);
    EXPECT_EQ(p.netY, p.y);
    EXPECT_EQ(p.dead, 0);
    EXPECT_EQ(p.strength, 2);
    ++i;
  }
}

TEST_F(RoundStartTest, MapNamesThatAreNoPlainNamesAreRefused) {
  for (const char* name : {"../Maps/Arena", "..", "Maps\\Arena", "/etc/passwd", ""}) {
    SCOPED_TRACE(name);
    world.match.roundNumber = 2;
    MessageBuffer* message = createBuffer(rt::kAnyNumber, 64, 0);
    putLong(message, kMsgRoundStart);
    putString(message, name);
    putLong(message, 3);
    putLong(message, 1000);
    dispatchClientMessage(message);
    freeBuffer(message);
    EXPECT_EQ(world.match.roundNumber, 2);
    EXPECT_FALSE(world.match.running);
  }
}

TEST_F(RoundStartTest, EveryCutOfTheMessageStaysInsideTheGrids) {
  MessageBuffer* whole = hostMessage();
  for (int32_t length = 4; length < whole->length; length += 13) {
    SCOPED_TRACE(length);
    clientBefore();
    MessageBuffer* cut = createBuffer(rt::kAnyNumber, length, 0);
    putData(cut, whole->data, length);
    dispatchClientMessage(cut);
    freeBuffer(cut);
    for (const Player& p : world.players) {
      EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    }
  }
  freeBuffer(whole);
}

TEST_F(RoundStartTest, PositionsThatAreNoNumbersBecomeZero) {
  MessageBuffer* message = hostMessage();
  // The last player's x is the message's last float but one.
  float nan = std::numeric_limits<float>::quiet_NaN();
  float inf = std::numeric_limits<float>::infinity();
  memcpy(message->data + message->length - 8, &nan, 4);
  memcpy(message->data + message->length - 4, &inf, 4);
  clientBefore();
  dispatchClientMessage(message);
  freeBuffer(message);
  EXPECT_EQ(world.match.roundNumber, 7);
  EXPECT_EQ(world.players.back().x, 0.0f);
  EXPECT_EQ(world.players.back().y, 0.0f);
}

TEST_F(RoundStartTest, AClientWithFewerPlayersReadsOnlyItsOwn) {
  MessageBuffer* message = hostMessage();
  clientBefore();
  world.players.remove(&world.players.back());
  dispatchClientMessage(message);
  freeBuffer(message);
  EXPECT_EQ(world.players.count(), 2u);
  EXPECT_EQ(world.players.front().x, hostPositions[0].first);
}

}  // namespace
