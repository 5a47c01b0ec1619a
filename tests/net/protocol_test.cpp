// The game protocol over real loopback sockets. This process is one machine of a session, a
// client or the host, and the test speaks raw frames as the other machines would, so both sides
// are checked against the message layout rather than against themselves.
#include "net/protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <list>
#include <string>
#include <vector>

#include "data/config.h"
#include "data/language.h"
#include "net/session.h"
#include "net/transport.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/network.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "ui/chat_box.h"
#include "world/barrels.h"
#include "world/items.h"
#include "world/map.h"
#include "world/messages.h"
#include "world/rounds.h"

namespace {

// A message as another machine writes it.
class Out {
 public:
  explicit Out(int32_t type) { putLong(buffer_, type); }
  Out() = default;  // a position message has no type
  ~Out() { freeBuffer(buffer_); }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;
  Out& l(int32_t v) { putLong(buffer_, v); return *this; }
  Out& w(int32_t v) { putWord(buffer_, v); return *this; }
  Out& f(float v) { putFloat(buffer_, v); return *this; }
  Out& s(const std::string& v) { putString(buffer_, v); return *this; }
  Out& raw(const void* data, int32_t n) { putData(buffer_, data, n); return *this; }
  MessageBuffer* buffer() const { return buffer_; }

 private:
  MessageBuffer* buffer_ = createBuffer(rt::kAnyNumber, 2048, 0);
};

// A message as it arrived.
struct In {
  std::vector<uint8_t> bytes;
  int32_t type() const { return l(0); }
  int32_t l(size_t at) const {
    int32_t v = 0;
    if (at + 4 <= bytes.size()) memcpy(&v, bytes.data() + at, 4);
    return v;
  }
  int16_t w(size_t at) const {
    int16_t v = 0;
    if (at + 2 <= bytes.size()) memcpy(&v, bytes.data() + at, 2);
    return v;
  }
  float f(size_t at) const {
    float v = 0;
    if (at + 4 <= bytes.size()) memcpy(&v, bytes.data() + at, 4);
    return v;
  }
  std::string s(size_t at) const {
    if (at >= bytes.size()) return "";
    const char* text = reinterpret_cast<const char*>(bytes.data() + at);
    return std::string(text, strnlen(text, bytes.size() - at));
  }
};

// One end of a connection held by the test, and what arrived on it.
struct Peer {
  rt::Handle connection = 0;
  std::vector<In> inbox;

  void drain() {
    for (int i = 0; i < 1000 && rt::connectionExists(connection); ++i) {
      MessageBuffer* m = receiveMessage(connection, 0);
      if (m) {
        inbox.push_back({std::vector<uint8_t>(m->data, m->data + m->length)});
        freeBuffer(m);
      } else if (rt::pollConnection(connection) != rt::kNetData) {
        return;
      }
    }
  }
  void send(const Out& out) { ASSERT_GT(sendMessage(out.buffer(), connection, 0), 0); }
  const In* find(int32_t type) const {
    for (const In& in : inbox) {
      if (in.type() == type) return &in;
    }
    return nullptr;
  }
  size_t count(int32_t type) const {
    size_t n = 0;
    for (const In& in : inbox) n += in.type() == type;
    return n;
  }
  bool closed() const {
    LinkFault fault = connectionFault(connection);
    return !rt::connectionExists(connection) || fault == LinkFault::kClosed;
  }
};

// The 160-byte block of a player as the host sends it.
PlayerWire wireOf(int32_t id, const std::string& name, float x, float y) {
  PlayerWire wire;
  wire.id = id;
  setPlayerName(wire, name);
  wire.x = wire.netX = x;
  wire.y = wire.netY = y;
  wire.colour = 0x10D010;
  return wire;
}

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initNetwork());
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDataRoot(test::binaryDir());
    SetConfigFolder(dir.path() + "/");
    config = Config{};
    config.blood = 0;
    LoadLanguage(LanguagePath("English"));
    world = World{};
    session = Session{};
    chatBox = ChatBox{};
    rt::frame.now = rt::milliseconds();
    addWorldListener(AddWorldEventLine);
    buffersBefore = bufferCount();
  }
  void TearDown() override {
    leaveSession();
    rt::shutdownNetwork();
    flushConnections();
    endMatchWorld();
    world = World{};
    session = Session{};
    chatBox = ChatBox{};
    EXPECT_EQ(bufferCount(), buffersBefore);
    removeWorldListener(AddWorldEventLine);
    rt::shutdownScreenSystem();
  }

  // Runs frames of this machine's network and reads the test's peers until done() or time is up.
  bool pumpUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
    uint32_t until = rt::milliseconds() + ms;
    for (;;) {
      rt::frame.now = rt::milliseconds();
      pollNetwork();
      serveTestHost();
      for (Peer* peer : peers) peer->drain();
      if (done()) return true;
      if (rt::timeAfter(rt::milliseconds(), until)) return false;
      rt::delay(1);
    }
  }
  void pumpFor(uint32_t ms) { pumpUntil([] { return false; }, ms); }

  // When the test plays the host: accepts connections and collects datagrams on its servers.
  virtual void serveTestHost() {}

  test::TempDir dir;
  std::vector<Peer*> peers;
  size_t buffersBefore = 0;
};

// ---- This machine as a client; the test is the host -------------------------------------------

class ClientSide : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    gameServer = rt::createServer(rt::kAnyNumber, 0, rt::kTcp, "127.0.0.1");
    positionServer = rt::createServer(rt::kAnyNumber, 0, rt::kUdp, "127.0.0.1");
    ASSERT_TRUE(gameServer && positionServer);
    NetPorts ports;
    ports.tcp = rt::serverPort(gameServer);
    ports.udp = rt::serverPort(positionServer);
    ASSERT_TRUE(joinSession("127.0.0.1", ports, "Tester"));
    peers = {&host, &hostUdp};
    ASSERT_TRUE(pumpUntil([this] { return host.connection != 0; }));
    myId = static_cast<int32_t>(host.connection);
  }

  void serveTestHost() override {
    rt::ServerEvent event;
    for (int i = 0; i < 100; ++i) {
      int type = rt::pollServers(&event);
      if (type == rt::kNetNone) return;
      if (type == rt::kNetConnected && event.server == gameServer) {
        host.connection = event.connection;
      }
      if (type == rt::kNetData && event.server == positionServer) {
        hostUdp.connection = event.connection;
      }
      if (type == rt::kNetData) return;  // the peers' drain reads it
    }
  }

  // Identified, the join request, and a player list of this machine and one other player.
  void identifyAndList() {
    host.send(Out(1).l(myId));
    ASSERT_TRUE(pumpUntil([this] { return host.find(2) != nullptr; }));
    EXPECT_EQ(host.find(2)->s(4), "Tester");
    sendPlayers({wireOf(otherId, "Other", centre(3), centre(3)),
                 wireOf(myId, "Tester", centre(1), centre(1))});
    ASSERT_TRUE(pumpUntil([this] { return world.players.count() == 2; }));
    ASSERT_NE(world.localPlayer, nullptr);
    ASSERT_EQ(world.localPlayer->id, myId);
  }
  void sendPlayers(const std::vector<PlayerWire>& wires, int32_t count = -1) {
    Out out(3);
    out.l(count < 0 ? static_cast<int32_t>(wires.size()) : count);
    for (const PlayerWire& wire : wires) out.raw(&wire, 160);
    host.send(out);
  }
  // A round on Arena without boxes, this machine's player at cell 1,1, the other at 3,3.
  void startRound() {
    identifyAndList();
    MapSummary summary;
    ASSERT_TRUE(readMapSummary(mapFilePath("Arena"), &summary));
    int32_t cells = (summary.lastColumn + 1) * (summary.lastRow + 1);
    Out out(11);
    out.s("Arena").l(3).l(180000);
    std::vector<uint8_t> boxes(static_cast<size_t>(cells), 0);
    boxes[5] = 1;
    out.raw(boxes.data(), cells);
    out.l(2).f(centre(3)).f(centre(3)).f(centre(1)).f(centre(1));
    host.send(out);
    ASSERT_TRUE(pumpUntil([] { return world.match.running; }));
    EXPECT_EQ(world.round.box.get(5, 0), 1);
    EXPECT_EQ(world.localPlayer->x, centre(1));
  }
  static float centre(int cell) { return cell * 96.0f + 48.0f; }
  Player* other() { return findPlayer(otherId); }

  rt::Handle gameServer = 0, positionServer = 0;
  Peer host, hostUdp;
  int32_t myId = 0;
  const int32_t otherId = 0x00770001;
};

TEST_F(ClientSide, JoinsWithItsNameAndFindsItselfInTheList) {
  identifyAndList();
  EXPECT_EQ(session.myId, myId);
  EXPECT_EQ(playerName(world.players.front()), "Other");
  // A second identifier would make this machine somebody else halfway through.
  host.send(Out(1).l(12345));
  pumpFor(100);
  EXPECT_EQ(session.myId, myId);
  EXPECT_EQ(host.count(2), 1u);
}

TEST_F(ClientSide, PlayerListCountIsBoundedByTheBytesAndRecordsAreMadeSafe) {
  identifyAndList();
  PlayerWire hostile = wireOf(otherId, "", std::numeric_limits<float>::quiet_NaN(), 1e30f);
  memset(hostile.name, 'A', sizeof hostile.name);
  hostile.speed = std::numeric_limits<float>::infinity();
  hostile.strength = 1000;
  hostile.fuseTime = -5;
  hostile.dead = 77;
  sendPlayers({hostile, wireOf(myId, "Tester", 0, 0)}, 100000);
  uint32_t before = session.lobbyRevision;
  ASSERT_TRUE(pumpUntil([&] { return session.lobbyRevision != before; }));
  ASSERT_EQ(world.players.count(), 2u);
  const Player& p = world.players.front();
  EXPECT_EQ(p.x, 0.0f);
  EXPECT_EQ(p.y, 0.0f);
  EXPECT_EQ(p.speed, 0.0f);
  EXPECT_EQ(playerName(p), std::string(32, 'A'));
  EXPECT_EQ(p.strength, kMaxStrength);
  EXPECT_EQ(p.fuseTime, kMinFuseTime);
  EXPECT_EQ(p.dead, 1);
  EXPECT_EQ(world.localPlayer, &world.players.back());

  // A count beyond the records, or a negative one, never makes records from nothing.
  sendPlayers({}, -3);
  sendPlayers({wireOf(myId, "Tester", 0, 0)}, 2);
  before = session.lobbyRevision;
  ASSERT_TRUE(pumpUntil([&] { return session.lobbyRevision == before + 2; }));
  EXPECT_EQ(world.players.count(), 1u);
}

TEST_F(ClientSide, RoundStartEntersTheGameAndBadNamesAreRefused) {
  identifyAndList();
  host.send(Out(11).s("..\\Maps\\Arena").l(3).l(180000));
  pumpFor(100);
  EXPECT_FALSE(world.match.running);
  EXPECT_EQ(world.match.roundNumber, 0);
  startRound();
  EXPECT_EQ(world.match.roundNumber, 1);
  EXPECT_EQ(world.match.mapName, "Arena");
  EXPECT_EQ(other()->x, centre(3));
  EXPECT_EQ(other()->netX, centre(3));
}

TEST_F(ClientSide, BarrelAppearsOnlyWithTheHostsEcho) {
  startRound();
  Player* me = world.localPlayer;
  sendBarrelRequest(me->id, me->strength, me->x, me->y, me->fuseTime);
  ASSERT_TRUE(pumpUntil([this] { return host.find(17) != nullptr; }));
  const In& request = *host.find(17);
  EXPECT_EQ(request.bytes.size(), 24u);
  EXPECT_EQ(request.l(4), myId);
  EXPECT_EQ(request.l(8), 2);
  EXPECT_EQ(request.f(12), centre(1));
  EXPECT_EQ(request.f(16), centre(1));
  EXPECT_EQ(request.l(20), 3000);
  pumpFor(100);
  EXPECT_TRUE(world.round.barrels.empty());

  Out echo(17);
  echo.raw(request.bytes.data() + 4, 20);
  host.send(echo);
  ASSERT_TRUE(pumpUntil([] { return !world.round.barrels.empty(); }));
  EXPECT_EQ(world.round.barrels.front().owner, myId);
  EXPECT_EQ(world.round.barrelAt.get(1, 1), &world.round.barrels.front());
  EXPECT_EQ(burningBarrels(*me), 1);
  // An echo naming nobody places nothing.
  host.send(Out(17).l(424242).l(2).f(centre(2)).f(centre(2)).l(3000));
  pumpFor(100);
  EXPECT_EQ(world.round.barrels.count(), 1u);
}

TEST_F(ClientSide, SecondPickupOfOneItemFindsNothing) {
  startRound();
  const int32_t x = static_cast<int32_t>(centre(6)), y = static_cast<int32_t>(centre(2));
  host.send(Out(18).w(1).l(42).l(x).l(y));
  ASSERT_TRUE(pumpUntil([] { return findItem(42) != nullptr; }));
  EXPECT_EQ(world.round.itemAt.get(6, 2), findItem(42));
  host.send(Out(19).l(42));
  host.send(Out(19).l(42));
  host.send(Out(19).l(9999));
  pumpFor(100);
  EXPECT_TRUE(world.round.items.empty());
  EXPECT_EQ(world.round.itemAt.get(6, 2), nullptr);
  // A drop with a row outside the table makes nothing.
  host.send(Out(18).w(11).l(43).l(x).l(y));
  pumpFor(100);
  EXPECT_TRUE(world.round.items.empty());
}

TEST_F(ClientSide, SelfKillCountsADeathAndCostsAPoint) {
  startRound();
  Player* me = world.localPlayer;
  me->kills = 1;
  me->points = 1;
  size_t lines = chatBox.lines.count();
  host.send(Out(7).l(myId).l(myId));
  host.send(Out(7).l(myId).l(myId));  // another burning cell of the same blast
  pumpFor(150);
  EXPECT_EQ(me->dead, 1);
  EXPECT_EQ(me->selfKills, 1);
  EXPECT_EQ(me->deaths, 1);
  EXPECT_EQ(me->points, 0);
  EXPECT_EQ(chatBox.lines.count(), lines + 1);

  host.send(Out(7).l(otherId).l(myId));
  host.send(Out(7).l(otherId).l(5555));  // an unknown killer changes nothing
  pumpFor(150);
  EXPECT_EQ(other()->deaths, 1);
  EXPECT_EQ(me->kills, 2);
  EXPECT_EQ(me->points, 1);
  EXPECT_EQ(chatBox.lines.count(), lines + 2);
}

// A map this machine cannot load: it stays in its lobby and the player reads why; the host's
// notices show in the lobby too, but only those the game knows.
TEST_F(ClientSide, AMapThatDoesNotLoadHereKeepsTheLobbyAndSaysWhy) {
  identifyAndList();
  host.send(Out(11).s("Nowhere").l(3).l(180000).l(0));
  host.send(Out(16).l(kNoticeSubtype).s("Map Unplayable").s("Cellar"));
  host.send(Out(16).l(kNoticeSubtype).s("Quit Question").s("Cellar"));
  pumpFor(150);
  EXPECT_FALSE(world.match.running);
  EXPECT_EQ(world.match.roundNumber, 0);
  EXPECT_EQ(session.lobbyChat,
            (std::vector<std::string>{
                "The map Nowhere cannot be loaded on this computer: the match goes on without you.",
                "The map Cellar cannot be loaded: the match does not start."}));
  // During a match, a round on a map missing here ends the match on this machine.
  startRound();
  host.send(Out(11).s("Nowhere").l(3).l(180000).l(0));
  ASSERT_TRUE(pumpUntil([] { return !world.match.running; }));
  EXPECT_EQ(session.lobbyChat.size(), 3u);
}

TEST_F(ClientSide, AbilitiesAndChatLines) {
  startRound();
  host.send(Out(4).l(otherId).w(7));
  host.send(Out(5).l(otherId).w(6500));
  host.send(Out(6).l(otherId).w(30000));
  host.send(Out(16).l(kChatSubtype).l(otherId).s("hello"));
  host.send(Out(16).l(kChatSubtype).l(31337).s("from nobody"));
  host.send(Out(16).l(kPlayerLeftSubtype).l(0xF08080).s("Gone"));
  size_t lines = chatBox.lines.count();
  pumpFor(150);
  EXPECT_EQ(other()->strength, 7);
  EXPECT_EQ(other()->fuseTime, 6500);
  EXPECT_EQ(other()->barrelCapacity, 10);
  ASSERT_EQ(chatBox.lines.count(), lines + 2);
  EXPECT_EQ(chatBox.lines.back().segments.front().text, "Gone");
}

TEST_F(ClientSide, OlderPositionsAreIgnored) {
  startRound();
  // The host learns this machine's link from its first position.
  sendPositionWhenDue();
  ASSERT_TRUE(pumpUntil([this] { return !hostUdp.inbox.empty(); }));
  const In& mine = hostUdp.inbox.front();
  EXPECT_EQ(mine.bytes.size(), static_cast<size_t>(kPositionMessageLength));
  EXPECT_EQ(mine.l(0), myId);
  EXPECT_EQ(mine.f(16), centre(1));

  auto position = [this](int32_t clock, float x) {
    Out out;
    out.l(otherId).l(clock).f(x).f(100).f(x + 10).f(110).w(-90);
    hostUdp.send(out);
    pumpFor(60);
  };
  position(5000, 500);
  EXPECT_EQ(other()->x, 500);
  EXPECT_EQ(other()->netX, 510);
  EXPECT_EQ(other()->netY, 110);
  EXPECT_EQ(other()->direction, -90);
  position(4000, 400);
  EXPECT_EQ(other()->x, 500);
  position(5000, 450);
  EXPECT_EQ(other()->x, 500);
  position(5001, 600);
  EXPECT_EQ(other()->x, 600);
  // Nobody moves this machine's own player but this machine.
  Out forged;
  forged.l(myId).l(9000).f(1).f(1).f(1).f(1).w(0);
  hostUdp.send(forged);
  pumpFor(60);
  EXPECT_EQ(world.localPlayer->x, centre(1));
}

TEST_F(ClientSide, GameOverAndTheHostLeavingReturnToTheLobby) {
  startRound();
  world.localPlayer->kills = 3;
  host.send(Out(12));
  ASSERT_TRUE(pumpUntil([] { return !world.match.running; }));
  EXPECT_EQ(world.match.roundNumber, 0);
  EXPECT_EQ(world.players.count(), 2u);
  EXPECT_EQ(world.localPlayer->kills, 3);
  EXPECT_EQ(session.lobbyScreen, "Client Lobby");

  host.send(Out(16).l(kChatSubtype).l(otherId).s("gg"));
  host.send(Out(13).s("Market").l(5).l(120));
  host.send(Out(8).l(otherId));
  ASSERT_TRUE(pumpUntil([this] { return !other(); }));
  ASSERT_EQ(session.lobbyChat.size(), 1u);
  EXPECT_EQ(session.lobbyChat.back(), "Other: gg");
  EXPECT_EQ(session.settings.mapName, "Market");
  EXPECT_EQ(session.settings.rounds, 5);
  EXPECT_EQ(session.settings.roundTime, 120);

  host.send(Out(14));
  ASSERT_TRUE(pumpUntil([] { return !session.notice.empty(); }));
  EXPECT_EQ(session.notice, "Game Canceled");
  rt::closeConnection(host.connection);
  ASSERT_TRUE(pumpUntil([] { return !session.isConnected; }));
  EXPECT_TRUE(world.players.empty());
}

TEST_F(ClientSide, ATurnedAwayClientKeepsItsLobbyWithoutPlayers) {
  identifyAndList();
  host.send(Out(15));
  ASSERT_TRUE(pumpUntil([] { return session.turnedAway; }));
  rt::closeConnection(host.connection);
  ASSERT_TRUE(pumpUntil([] { return !session.isConnected; }));
  EXPECT_TRUE(world.players.empty());
  EXPECT_EQ(session.lobbyScreen, "Client Lobby");
  EXPECT_EQ(session.notice, "");
}

// ---- This machine as the host; the test's peers are clients ----------------------------------

class HostSide : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    NetPorts ports;
    ports.icp = ports.tcp = ports.udp = 0;
    ports.bindAddress = "127.0.0.1";
    ASSERT_TRUE(createSession(ports, "Host", false));
    ASSERT_TRUE(pumpUntil([] { return world.localPlayer != nullptr; }));
    hostId = world.localPlayer->id;
  }
  void TearDown() override {
    for (Peer& peer : clients) rt::closeConnection(peer.connection);
    ProtocolTest::TearDown();
  }

  // A client that connects, is identified and, when asked, joins with a name.
  Peer& connect() {
    clients.emplace_back();
    Peer& peer = clients.back();
    peer.connection = rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.tcp, rt::kTcp);
    EXPECT_NE(peer.connection, 0u);
    refreshPeers();
    return peer;
  }
  int32_t join(Peer& peer, const std::string& name) {
    EXPECT_TRUE(pumpUntil([&] { return peer.find(1) != nullptr; }));
    int32_t id = peer.find(1)->l(4);
    peer.send(Out(2).s(name));
    EXPECT_TRUE(pumpUntil([&] { return peer.find(3) != nullptr; }));
    return id;
  }
  void refreshPeers() {
    peers.clear();
    for (Peer& peer : clients) peers.push_back(&peer);
  }
  void clearInboxes() {
    for (Peer& peer : clients) peer.inbox.clear();
  }

  std::list<Peer> clients;
  int32_t hostId = 0;
};

TEST_F(HostSide, HostsOwnClientIsAnOrdinaryPlayer) {
  ASSERT_EQ(world.players.count(), 1u);
  EXPECT_EQ(playerName(*world.localPlayer), "Host");
  EXPECT_EQ(world.localPlayer->colour, static_cast<int32_t>(playerColour(0)));
  EXPECT_EQ(session.myId, hostId);
}

TEST_F(HostSide, LateJoinerGetsThePlayerListAndTheRoundSettings) {
  selectMap("Arena", 2, 120);
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  ASSERT_TRUE(pumpUntil([&] { return a.find(13) != nullptr; }));
  const In& list = *a.find(3);
  ASSERT_EQ(list.l(4), 2);
  ASSERT_EQ(list.bytes.size(), 8u + 2 * 160);
  EXPECT_EQ(list.l(8 + 4), hostId);
  EXPECT_EQ(list.l(168 + 4), aId);
  EXPECT_EQ(list.s(168 + 16), "Alice");
  EXPECT_EQ(list.l(168 + 48), static_cast<int32_t>(playerColour(1)));
  EXPECT_EQ(list.l(168 + 88), 1);
  EXPECT_EQ(list.l(168 + 112), 2);
  EXPECT_EQ(list.l(168 + 116), 3000);
  const In& settings = *a.find(13);
  EXPECT_EQ(settings.s(4), "Arena");
  EXPECT_EQ(settings.l(10), 2);
  EXPECT_EQ(settings.l(14), 120);

  Peer& b = connect();
  join(b, "Bob");
  ASSERT_TRUE(pumpUntil([&] { return a.count(3) == 2; }));
  EXPECT_EQ(world.players.count(), 3u);
  EXPECT_EQ(a.count(13), 1u);  // the settings go to the newcomer only
}

TEST_F(HostSide, EchoesOnlyWhatASenderSaysOfHimself) {
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  Peer& b = connect();
  int32_t bId = join(b, "Bob");
  Peer& stranger = connect();  // identified, never joined
  ASSERT_TRUE(pumpUntil([&] { return stranger.find(1) != nullptr; }));
  pumpFor(50);
  clearInboxes();

  a.send(Out(17).l(bId).l(2).f(48).f(48).l(3000));
  a.send(Out(7).l(bId).l(aId));
  a.send(Out(4).l(bId).w(12));
  a.send(Out(16).l(kChatSubtype).l(bId).s("I am Bob"));
  a.send(Out(16).l(kPlayerLeftSubtype).l(0).s("Bob"));
  a.send(Out(17).l(aId).l(2));  // too short to be a barrel
  a.send(Out(11).s("Arena").l(1).l(1));
  stranger.send(Out(19).l(5));
  pumpFor(200);
  for (Peer& peer : clients) EXPECT_TRUE(peer.inbox.empty());
  EXPECT_TRUE(world.round.barrels.empty());
  EXPECT_EQ(findPlayer(bId)->strength, 2);
  EXPECT_FALSE(world.match.running);

  Out barrel(17);
  barrel.l(aId).l(2).f(48).f(48).l(3000);
  a.send(barrel);
  a.send(Out(16).l(kChatSubtype).l(aId).s("hello"));
  ASSERT_TRUE(pumpUntil([&] { return b.count(16) == 1 && a.count(16) == 1; }));
  for (Peer* peer : {&a, &b}) {
    const In* echo = peer->find(17);
    ASSERT_NE(echo, nullptr);
    ASSERT_EQ(echo->bytes.size(), static_cast<size_t>(barrel.buffer()->length));
    EXPECT_EQ(memcmp(echo->bytes.data(), barrel.buffer()->data, echo->bytes.size()), 0);
  }
  // The host's world got the echo through its own client, once.
  ASSERT_TRUE(pumpUntil([] { return !world.round.barrels.empty(); }));
  pumpFor(50);
  EXPECT_EQ(world.round.barrels.count(), 1u);
  EXPECT_TRUE(stranger.inbox.empty());
}

TEST_F(HostSide, HostsOwnClientKeepsTheRoundItStarted) {
  Peer& a = connect();
  join(a, "Alice");
  selectMap("Arena", 3, 180);
  ASSERT_TRUE(startMatch());
  EXPECT_TRUE(world.match.running);
  EXPECT_EQ(world.match.roundNumber, 1);
  std::vector<int32_t> boxes;
  for (int row = 0; row < mapRows(); ++row) {
    for (int column = 0; column < mapColumns(); ++column) {
      boxes.push_back(world.round.box.get(column, row));
    }
  }
  ASSERT_TRUE(pumpUntil([&] { return a.find(11) != nullptr; }));
  pumpFor(100);
  EXPECT_EQ(world.match.roundNumber, 1);
  size_t i = 0;
  for (int row = 0; row < mapRows(); ++row) {
    for (int column = 0; column < mapColumns(); ++column) {
      ASSERT_EQ(world.round.box.get(column, row), boxes[i++]);
    }
  }
  const In& start = *a.find(11);
  EXPECT_EQ(start.s(4), "Arena");
  EXPECT_EQ(start.l(10), 3);
  EXPECT_EQ(start.l(14), 180000);
  size_t players = 18 + boxes.size();
  EXPECT_EQ(start.l(players), 2);
  EXPECT_EQ(start.f(players + 4), world.players.front().x);
  EXPECT_EQ(start.f(players + 12), world.players.back().x);
  EXPECT_EQ(start.bytes.size(), players + 4 + 16);
}

TEST_F(HostSide, NobodyJoinsWhileARoundRuns) {
  Peer& early = connect();  // identified before the round, asks to join during it
  ASSERT_TRUE(pumpUntil([&] { return early.find(1) != nullptr; }));
  selectMap("Arena", 3, 180);
  ASSERT_TRUE(startMatch());
  early.send(Out(2).s("Late"));
  Peer& late = connect();
  ASSERT_TRUE(pumpUntil([&] { return late.find(15) && early.find(15); }));
  ASSERT_TRUE(pumpUntil([&] { return late.closed() && early.closed(); }));
  EXPECT_EQ(late.find(1), nullptr);
  EXPECT_EQ(world.players.count(), 1u);
}

TEST_F(HostSide, LeavingPlayerIsAnnouncedToTheOthers) {
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  Peer& b = connect();
  join(b, "Bob");
  uint32_t aColour = static_cast<uint32_t>(findPlayer(aId)->colour);
  rt::closeConnection(a.connection);
  ASSERT_TRUE(pumpUntil([&] { return b.find(8) && b.find(16); }));
  EXPECT_EQ(b.find(8)->l(4), aId);
  const In& left = *b.find(16);
  EXPECT_EQ(left.l(4), kPlayerLeftSubtype);
  EXPECT_EQ(static_cast<uint32_t>(left.l(8)), aColour);
  EXPECT_EQ(left.s(12), "Alice");
  EXPECT_EQ(findPlayer(aId), nullptr);
  EXPECT_EQ(world.players.count(), 2u);
}

TEST_F(HostSide, InformationPortAnswersWithSixFields) {
  config.serverName = "Cellar\tParty";
  selectMap("Arena", 4, 150);
  Peer& a = connect();
  join(a, "Alice");
  rt::Handle query = rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.icp, rt::kTcp);
  ASSERT_NE(query, 0u);
  std::string text;
  pumpUntil([&] {
    char bytes[256];
    int n = rt::receiveBytes(query, bytes, sizeof bytes);
    if (n > 0) text.append(bytes, static_cast<size_t>(n));
    return n < 0;
  });
  rt::closeConnection(query);
  std::string crc = std::to_string(rt::fileCrc32(mapFilePath("Arena")));
  std::string limit = std::to_string(session.settings.playerLimit);
  EXPECT_EQ(text, "Cellar Party\tArena\t2/" + limit + "\t4\t150\t" + crc);
}

TEST_F(HostSide, FirstPositionMustComeFromThePlayersAddress) {
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  Peer& b = connect();
  int32_t bId = join(b, "Bob");
  Peer aUdp, bUdp;
  aUdp.connection = rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.udp, rt::kUdp);
  bUdp.connection = rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.udp, rt::kUdp);
  peers.push_back(&aUdp);
  peers.push_back(&bUdp);
  auto position = [](int32_t id, int32_t clock) {
    MessageBuffer* m = createBuffer(rt::kAnyNumber, 64, 0);
    putLong(m, id);
    putLong(m, clock);
    for (int i = 0; i < 4; ++i) putFloat(m, 10.0f * static_cast<float>(i));
    putWord(m, 0);
    return m;
  };

  // From another address of this machine, naming Alice: the player is not tied to it.
  int raw = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(raw, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x7F000002);
  to.sin_addr.s_addr = htonl(0x7F000001);
  to.sin_port = htons(static_cast<uint16_t>(session.ports.udp));
  ASSERT_EQ(bind(raw, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
  MessageBuffer* spoof = position(aId, 100);
  uint8_t header[kFrameHeaderSize];
  buildFrameHeader(spoof->data, static_cast<uint32_t>(spoof->length), header);
  sendto(raw, header, sizeof header, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  sendto(raw, spoof->data, static_cast<size_t>(spoof->length), 0,
         reinterpret_cast<sockaddr*>(&to), sizeof to);
  freeBuffer(spoof);
  close(raw);
  sendMessage(position(bId, 1), bUdp.connection, 1);  // Bob's link is known from here on
  pumpFor(150);
  EXPECT_EQ(findPlayer(aId)->udpLink, 0);
  EXPECT_NE(findPlayer(bId)->udpLink, 0);
  EXPECT_TRUE(bUdp.inbox.empty());

  sendMessage(position(aId, 200), aUdp.connection, 1);
  ASSERT_TRUE(pumpUntil([&] { return !bUdp.inbox.empty(); }));
  EXPECT_EQ(bUdp.inbox.front().l(0), aId);
  EXPECT_EQ(bUdp.inbox.front().l(4), 200);
  EXPECT_NE(findPlayer(aId)->udpLink, 0);
  // Bob's own position went to Alice only once she had a link; never back to Bob.
  EXPECT_EQ(bUdp.inbox.size(), 1u);
  rt::closeConnection(aUdp.connection);
  rt::closeConnection(bUdp.connection);
}

// Connections that never join are closed in time, and one address cannot take every place.
TEST_F(HostSide, GameConnectionsThatDoNotJoinAreClosedAndCapped) {
  std::vector<rt::Handle> idle;
  for (int i = 0; i < 10; ++i) {
    idle.push_back(rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.tcp, rt::kTcp,
                                      rt::kConnectTimeoutMs, "127.0.0.9"));
  }
  auto closedCount = [&] {
    int closed = 0;
    for (rt::Handle h : idle) {
      char bytes[256];
      while (rt::receiveBytes(h, bytes, sizeof bytes) > 0) {}
      closed += rt::receiveBytes(h, bytes, sizeof bytes) < 0;
    }
    return closed;
  };
  EXPECT_TRUE(pumpUntil([&] { return closedCount() == 2; }));
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  EXPECT_NE(findPlayer(aId), nullptr);

  rt::setSteppedClock(true);
  rt::stepClock(6'000'000);
  for (int i = 0; i < 5; ++i) {
    pollNetwork();
    rt::delay(2);
  }
  rt::setSteppedClock(false);
  EXPECT_TRUE(pumpUntil([&] { return closedCount() == 10; }));
  EXPECT_NE(findPlayer(aId), nullptr);
  EXPECT_FALSE(a.closed());
  for (rt::Handle h : idle) rt::closeConnection(h);
}

// A flood of datagrams from many ports makes no peers; older senders' split frames still pass,
// and a player whose port changes is found again by its id and address.
TEST_F(HostSide, PositionFloodsDoNotLockPlayersOut) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(0x7F000001);
  to.sin_port = htons(static_cast<uint16_t>(session.ports.udp));
  std::string garbage(2000, 'g');
  for (int i = 0; i < 1100; ++i) {
    int raw = socket(AF_INET, SOCK_DGRAM, 0);
    sendto(raw, garbage.data(), i % 2 ? 1 : garbage.size(), 0,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(raw);
    if (i % 100 == 99) pollNetwork();
  }
  pumpFor(50);

  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  Peer& b = connect();
  int32_t bId = join(b, "Bob");
  auto position = [](int32_t id, int32_t clock) {
    Out out;
    out.l(id).l(clock).f(1).f(2).f(3).f(4).w(0);
    std::vector<uint8_t> bytes(kFrameHeaderSize + out.buffer()->length);
    buildFrameHeader(out.buffer()->data, static_cast<uint32_t>(out.buffer()->length),
                     bytes.data());
    memcpy(bytes.data() + kFrameHeaderSize, out.buffer()->data, out.buffer()->length);
    return bytes;
  };
  auto sendFrom = [&](int fd, const std::vector<uint8_t>& bytes, bool split) {
    if (split) {
      sendto(fd, bytes.data(), kFrameHeaderSize, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      sendto(fd, bytes.data() + kFrameHeaderSize, bytes.size() - kFrameHeaderSize, 0,
             reinterpret_cast<sockaddr*>(&to), sizeof to);
    } else {
      sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  };
  Peer bUdp;
  bUdp.connection = rt::openConnection(rt::kAnyNumber, "127.0.0.1", session.ports.udp, rt::kUdp);
  peers.push_back(&bUdp);
  sendMessage(Out().l(bId).l(1).f(0).f(0).f(0).f(0).w(0).buffer(), bUdp.connection, 0);
  ASSERT_TRUE(pumpUntil([&] { return findPlayer(bId)->udpLink != 0; }));

  int alice = socket(AF_INET, SOCK_DGRAM, 0);
  sendFrom(alice, position(aId, 100), true);  // as an older sender splits it
  ASSERT_TRUE(pumpUntil([&] { return !bUdp.inbox.empty(); }));
  EXPECT_EQ(bUdp.inbox.back().l(4), 100);
  int32_t firstLink = findPlayer(aId)->udpLink;

  // Another port of Alice's address is taken only once the first has been silent a while.
  int moved = socket(AF_INET, SOCK_DGRAM, 0);
  sendFrom(moved, position(aId, 200), false);
  pumpFor(100);
  EXPECT_EQ(bUdp.inbox.back().l(4), 100);
  rt::setSteppedClock(true);
  rt::stepClock(3'000'000);
  sendFrom(moved, position(aId, 300), false);
  for (int i = 0; i < 20 && bUdp.inbox.back().l(4) != 300; ++i) {
    pollNetwork();
    bUdp.drain();
    rt::delay(2);
  }
  rt::setSteppedClock(false);
  EXPECT_EQ(bUdp.inbox.back().l(4), 300);
  EXPECT_NE(findPlayer(aId)->udpLink, firstLink);
  close(alice);
  close(moved);
  rt::closeConnection(bUdp.connection);
}

TEST_F(HostSide, TheLastRoundEndsTheMatchForEverybody) {
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  selectMap("Arena", 1, 60);
  ASSERT_TRUE(startMatch());
  ASSERT_TRUE(pumpUntil([&] { return a.find(11) != nullptr; }));
  a.send(Out(7).l(aId).l(aId));
  ASSERT_TRUE(pumpUntil([&] { return findPlayer(aId)->dead == 1; }));
  // Frames of the game until the round control has run its course.
  uint32_t start = rt::frame.now;
  for (int frame = 0; frame < 1000 && world.match.running; ++frame) {
    pollNetwork();
    hostRoundControl();
    rt::frame.now += 10;
  }
  EXPECT_FALSE(world.match.running);
  EXPECT_GE(rt::frame.now - start, kRoundEndDelay);
  ASSERT_TRUE(pumpUntil([&] { return a.find(12) != nullptr; }));
  EXPECT_EQ(a.count(11), 2u);  // round 1, then the set-up after it
  EXPECT_EQ(world.match.roundNumber, 0);
  EXPECT_EQ(findPlayer(aId)->selfKills, 1);
  EXPECT_EQ(session.matchesPlayed, 1);
}

// The data root of a test: the built maps and tile sets, which the test may break.
struct CopiedData {
  test::TempDir dir;
  CopiedData() {
    std::filesystem::create_directories(dir.file("Data"));
    for (const char* folder : {"Data/Maps", "Data/TileSets"}) {
      std::filesystem::copy(test::binaryDir() + "/" + folder, dir.file(folder),
                            std::filesystem::copy_options::recursive);
    }
    rt::setDataRoot(dir.path());
  }
  ~CopiedData() { rt::setDataRoot(test::binaryDir()); }
};

TEST_F(HostSide, AMapThatDoesNotLoadStartsNothingAndEveryLobbyIsTold) {
  CopiedData data;
  Peer& a = connect();
  int32_t aId = join(a, "Alice");
  test::writeFile(data.dir.file("Data/Maps/Empty.map"), std::string());
  selectMap("Empty", 3, 180);
  ASSERT_TRUE(session.settings.mapSelected);
  EXPECT_FALSE(startMatch());
  EXPECT_FALSE(world.match.running);
  ASSERT_TRUE(pumpUntil([&] { return a.find(16) && !session.lobbyChat.empty(); }));
  const In& notice = *a.find(16);
  EXPECT_EQ(notice.l(4), kNoticeSubtype);
  EXPECT_EQ(notice.s(8), "Map Unplayable");
  EXPECT_EQ(notice.s(8 + 15), "Empty");
  EXPECT_EQ(session.lobbyChat.back(), "The map Empty cannot be loaded: the match does not start.");

  // Broken between two rounds: the match ends there, for everybody.
  selectMap("Arena", 3, 60);
  ASSERT_TRUE(startMatch());
  ASSERT_TRUE(pumpUntil([&] { return a.find(11) != nullptr; }));
  std::string arena = test::readFile(data.dir.file("Data/Maps/Arena.map"));
  test::writeFile(data.dir.file("Data/Maps/Arena.map"), arena.substr(0, arena.size() / 2));
  a.send(Out(7).l(aId).l(aId));
  ASSERT_TRUE(pumpUntil([&] { return findPlayer(aId)->dead == 1; }));
  for (int frame = 0; frame < 1000 && world.match.running; ++frame) {
    pollNetwork();
    hostRoundControl();
    rt::frame.now += 10;
  }
  EXPECT_FALSE(world.match.running);
  ASSERT_TRUE(pumpUntil([&] { return a.find(12) && a.count(16) == 2; }));
  EXPECT_EQ(a.count(11), 1u);
  EXPECT_EQ(session.startsRefused, 2);
}

TEST_F(HostSide, LeavingTheSessionSaysGoodbye) {
  Peer& a = connect();
  join(a, "Alice");
  leaveSession();
  EXPECT_FALSE(session.isHost);
  EXPECT_TRUE(world.players.empty());
  ASSERT_TRUE(pumpUntil([&] { return a.find(14) && a.closed(); }));
}

}  // namespace
