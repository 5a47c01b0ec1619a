// The session: player records, hosting and joining that fail without leaving anything open, the
// map list and the round settings, and a whole match played by three game processes (a headless
// host and two clients, one of them placing barrels from a script) as the quick start runs it.
#include "net/session.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data/config.h"
#include "net/protocol.h"
#include "net/transport.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/network.h"
#include "runtime/screen.h"
#include "support/world_support.h"
#include "support/test_support.h"
#include "world/barrels.h"
#include "world/map.h"
#include "world/rounds.h"

namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initNetwork());
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDataRoot(test::binaryDir());
    SetConfigFolder(dir.path() + "/");
    config = Config{};
    world = World{};
    session = Session{};
    rt::frame.now = 1000;
  }
  void TearDown() override {
    leaveSession();
    rt::shutdownNetwork();
    flushConnections();
    endMatchWorld();
    world = World{};
    rt::shutdownScreenSystem();
  }
  // A port nobody listens on at the moment.
  static int freePort(int mode) {
    rt::Handle probe = rt::createServer(rt::kAnyNumber, 0, mode, "127.0.0.1");
    int port = rt::serverPort(probe);
    rt::closeServer(probe);
    return port;
  }

  test::TempDir dir;
  test::EventLog events;
};

TEST_F(SessionTest, NewPlayersTakeTheirListPositionsNameAndColour) {
  for (int i = 0; i < 7; ++i) createPlayer()->id = 100 + i;
  int position = 0;
  for (const Player& p : world.players) {
    SCOPED_TRACE(position);
    EXPECT_EQ(playerName(p), "Player " + std::to_string(position));
    EXPECT_EQ(p.colour, static_cast<int32_t>(playerColour(static_cast<size_t>(position))));
    EXPECT_EQ(p.barrelCapacity, 1);
    EXPECT_EQ(p.strength, 2);
    EXPECT_EQ(p.fuseTime, 3000);
    EXPECT_EQ(p.dead, 0);
    EXPECT_EQ(p.kills + p.selfKills + p.deaths + p.points, 0);
    ++position;
  }
  // Past the five colours of the table they start over.
  EXPECT_EQ(findPlayer(105)->colour, findPlayer(100)->colour);
  EXPECT_EQ(findPlayer(106)->colour, findPlayer(101)->colour);
  EXPECT_EQ(findPlayer(103)->id, 103);
  EXPECT_EQ(findPlayer(99), nullptr);
}

TEST_F(SessionTest, RemovedPlayerTakesHisBarrelsAlong) {
  test::openFloor(10, 10);
  Player* stays = createPlayer();
  stays->id = 1;
  Player* goes = createPlayer();
  goes->id = 2;
  goes->barrelCapacity = 3;
  world.localPlayer = goes;
  ASSERT_TRUE(placeBarrel(1, 2, 48, 48, 3000));
  ASSERT_TRUE(placeBarrel(2, 2, 144, 48, 3000));
  ASSERT_TRUE(placeBarrel(2, 2, 240, 48, 3000));
  events.clear();
  removePlayer(goes);
  EXPECT_EQ(world.players.count(), 1u);
  EXPECT_EQ(world.localPlayer, nullptr);
  ASSERT_EQ(world.round.barrels.count(), 1u);
  EXPECT_EQ(world.round.barrels.front().owner, 1);
  EXPECT_EQ(world.round.barrelAt.get(1, 0), nullptr);
  EXPECT_EQ(world.round.barrelAt.get(2, 0), nullptr);
  EXPECT_EQ(events.count(WorldEventType::kBarrelRemoved), 2u);
  EXPECT_EQ(events.count(WorldEventType::kPlayerRemoved), 1u);
  removePlayer(nullptr);
  removeAllPlayers();
  EXPECT_TRUE(world.players.empty());
  EXPECT_TRUE(world.round.barrels.empty());
}

TEST_F(SessionTest, HostingOnATakenPortLeavesNothingOpen) {
  rt::Handle squatter = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
  NetPorts ports;
  ports.bindAddress = "127.0.0.1";
  ports.icp = freePort(rt::kTcp);
  ports.tcp = rt::serverPort(squatter);
  ports.udp = freePort(rt::kUdp);
  EXPECT_FALSE(createSession(ports, "Host", false));
  EXPECT_FALSE(session.isHost);
  EXPECT_FALSE(session.isConnected);
  EXPECT_FALSE(world.isHost);
  // The two ports that did open are free again.
  rt::Handle info = rt::createServer(rt::kAnyNumber, ports.icp, rt::kTcp, "127.0.0.1");
  rt::Handle udp = rt::createServer(rt::kAnyNumber, ports.udp, rt::kUdp, "127.0.0.1");
  EXPECT_NE(info, 0u);
  EXPECT_NE(udp, 0u);
}

TEST_F(SessionTest, JoiningNobodyFailsAndASecondSessionIsRefused) {
  NetPorts ports;
  ports.tcp = freePort(rt::kTcp);
  ports.udp = freePort(rt::kUdp);
  EXPECT_FALSE(joinSession("127.0.0.1", ports, "Lonely"));
  EXPECT_FALSE(session.isConnected);
  EXPECT_EQ(session.gameConnection, 0u);
  EXPECT_EQ(session.positionLink, 0u);

  NetPorts any;
  any.icp = any.tcp = any.udp = 0;
  any.bindAddress = "127.0.0.1";
  ASSERT_TRUE(createSession(any, "Host", true));
  EXPECT_TRUE(session.isHost && session.isConnected);
  EXPECT_FALSE(createSession(any, "Again", true));
  EXPECT_FALSE(joinSession("127.0.0.1", session.ports, "Again"));
  leaveSession();
  EXPECT_FALSE(session.isHost || session.isConnected);
}

TEST_F(SessionTest, MapListHoldsTheShippedMapsInNameOrder) {
  std::vector<MapRow> maps = listMaps();
  ASSERT_EQ(maps.size(), 4u);
  EXPECT_EQ(maps[0].name, "Arena");
  EXPECT_EQ(maps[1].name, "Market");
  EXPECT_EQ(maps[2].name, "Nightfall");
  EXPECT_EQ(maps[3].name, "Plains");
  for (const MapRow& row : maps) {
    SCOPED_TRACE(row.name);
    MapSummary summary;
    ASSERT_TRUE(readMapSummary(mapFilePath(row.name), &summary));
    EXPECT_EQ(row.playerLimit, summary.headerValue);
    EXPECT_EQ(row.columns, summary.lastColumn + 1);
    EXPECT_EQ(row.crc, rt::fileCrc32(mapFilePath(row.name)));
    EXPECT_NE(row.crc, 0u);
  }
}

TEST_F(SessionTest, RoundSettingsComeFromAListedMapOnly) {
  selectMap("Market", 0, 1000);
  EXPECT_TRUE(session.settings.mapSelected);
  EXPECT_EQ(session.settings.mapName, "Market");
  EXPECT_EQ(session.settings.rounds, 1);
  EXPECT_EQ(session.settings.roundTime, 300);
  EXPECT_EQ(session.settings.mapCrc, rt::fileCrc32(mapFilePath("Market")));
  for (const char* name : {"", "Nowhere", "../Maps/Arena"}) {
    selectMap(name, 3, 180);
    EXPECT_FALSE(session.settings.mapSelected) << name;
    EXPECT_EQ(session.settings.mapName, "") << name;
  }
  // Only a host with a chosen map starts a match.
  EXPECT_FALSE(startMatch());
  selectMap("Arena", 3, 180);
  EXPECT_FALSE(startMatch());
  EXPECT_FALSE(world.match.running);
}

// ---- The quick start, three processes ----------------------------------------------------------

std::string logOf(const test::TempDir& dir, const std::string& name) {
  return test::readFile(dir.file(name + ".log"));
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(QuickStart, HeadlessHostAndTwoClientsPlayAMatch) {
  test::TempDir dir;
  std::string tap;
  for (int ms = 500; ms <= 20000; ms += 400) tap += std::to_string(ms) + " key tap 44\n";
  test::writeFile(dir.file("alice.txt"), tap);
  int base = 20000 + static_cast<int>(getpid() % 20000) * 2;
  std::string game = "timeout 90 " + test::binaryDir() + "/powderbox --headless --data " +
                     test::binaryDir() + " --port-base " + std::to_string(base) + " ";
  std::string client = game + "--connect 127.0.0.1 ";
  std::string script =
      "cd " + dir.path() + " && export APPDATA=" + dir.path() +
      " ALSOFT_DRIVERS=null POWDERBOX_SEED=1; " + game +
      "--host --rounds 1 --start-with 2 --once --log host.log & h=$!; sleep 0.3; " + client +
      "--name Alice --input-script alice.txt --log alice.log & a=$!; " + client +
      "--name Bob --log bob.log & b=$!; "
      "wait $h; hs=$?; wait $a; as=$?; wait $b; bs=$?; echo $hs $as $bs";
  std::string output;
  test::runCommand(script, &output);
  EXPECT_EQ(output, "0 0 0\n");

  std::string host = logOf(dir, "host"), alice = logOf(dir, "alice"), bob = logOf(dir, "bob");
  EXPECT_NE(host.find("watching without a player"), std::string::npos);
  EXPECT_EQ(countOf(host, " JOIN player "), 2u) << host;
  EXPECT_NE(host.find("ROUND start 1 map Arena"), std::string::npos) << host;
  EXPECT_NE(host.find("KILL player"), std::string::npos) << host;
  EXPECT_NE(host.find("GAME over after 1 rounds"), std::string::npos) << host;
  EXPECT_EQ(host.find("drop "), std::string::npos) << host;
  for (const std::string* log : {&alice, &bob}) {
    EXPECT_NE(log->find("ROUND start 1 map Arena"), std::string::npos) << *log;
    EXPECT_NE(log->find("KILL player"), std::string::npos) << *log;
    EXPECT_NE(log->find("recv GameOver(12)"), std::string::npos) << *log;
    EXPECT_NE(log->find("QUICK the session has ended"), std::string::npos) << *log;
  }
  EXPECT_NE(alice.find("send Barrel(17) to host"), std::string::npos) << alice;
}

// A host whose map cannot be played says so once and waits in its lobby, rather than asking
// again every frame.
TEST(QuickStart, AMapThatCannotBePlayedIsRefusedOnce) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.file("Data/Maps"));
  std::filesystem::path data = dir.file("Data");
  for (const auto& entry : std::filesystem::directory_iterator(test::binaryDir() + "/Data")) {
    if (entry.path().filename() == "Maps") continue;
    std::filesystem::create_symlink(entry.path(), data / entry.path().filename());
  }
  test::writeFile(dir.file("Data/Maps/Broken.map"), std::string());
  int base = 21000 + static_cast<int>(getpid() % 5000) * 3;
  test::runCommand("APPDATA=" + dir.path() + " ALSOFT_DRIVERS=null timeout -s TERM 2 " +
                   test::binaryDir() + "/powderbox --headless --data " + dir.path() +
                   " --host --map Broken --start-with 0 --port-base " + std::to_string(base) +
                   " --log " + dir.file("host.log"));
  std::string host = logOf(dir, "host");
  EXPECT_EQ(countOf(host, "SESSION no match on map Broken"), 1u) << host;
  EXPECT_EQ(countOf(host, "NOTICE Map Unplayable: Broken"), 1u) << host;
  EXPECT_NE(host.find("SESSION left"), std::string::npos) << host;
}

TEST(QuickStart, UnknownMapEndsWithAMessage) {
  test::TempDir dir;
  std::string output;
  int status = test::runCommand("APPDATA=" + dir.path() + " ALSOFT_DRIVERS=null " +
                                    test::binaryDir() + "/powderbox --headless --data " +
                                    test::binaryDir() +
                                    " --host --port-base 21000 --map Nowhere 2>&1",
                                &output);
  EXPECT_EQ(status, 2);
  EXPECT_NE(output.find("no map 'Nowhere'"), std::string::npos) << output;
  EXPECT_EQ(test::runCommand(test::binaryDir() + "/powderbox --host --connect x 2>/dev/null"), 2);
}

}  // namespace
