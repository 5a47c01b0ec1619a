// Message dispatch on arbitrary payloads, as a hostile host or client would send them. The low
// three bits of the first byte choose who reads the rest: a client (0), the host's own client
// (1), the host's server from a joined player (2) or from a connection that never joined (3), the
// position relay (4) or a client's position step (5 and up). With the first byte's top bit set,
// the next byte picks a row of the message table and the payload starts with that row's type, so
// that every message is reached as often as any other. Every run starts from the same small
// world of three players (identifiers 0x10001, 0x10002, 0x10003; this machine is the first) on a
// 12 x 12 floor, without any map files, and must leave no buffer behind and every record
// consistent.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app.h"
#include "data/config.h"
#include "net/protocol.h"
#include "net/session.h"
#include "net/transport.h"
#include "render/lights.h"
#include "render/particles.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/network.h"
#include "runtime/screen.h"
#include "runtime/sound.h"
#include "ui/chat_box.h"
#include "world/barrels.h"
#include "world/items.h"
#include "world/map.h"
#include "world/rounds.h"

namespace {

constexpr int32_t kFirstId = 0x10001;
constexpr int kSide = 12;

void startOnce() {
  static bool started = false;
  if (started) return;
  started = true;
  rt::initNetwork();
  rt::initScreenSystem(rt::Backend::Null);
  rt::initSoundSystem(rt::Backend::Null);
  // No Data folder: a round start finds no map and plays on what is there.
  rt::setDataRoot("/nonexistent-powderbox-data");
  config = Config{};
  rt::frame.now = 100000;
  InitLights("/nonexistent-powderbox-data/", 1024, 768, &rt::frame.now, &world.camera.x,
             &world.camera.y);
  InitParticles(1024, 768, 10, &rt::frame.now, &world.camera.x, &world.camera.y, false);
  // Everything that follows the world's events hears what hostile messages make of it.
  ListenToWorld();
}

void freshWorld(int role) {
  removeAllPlayers();
  endMatchWorld();
  world = World{};
  session = Session{};
  chatBox = ChatBox{};
  world.map.solid.reset(kSide, kSide);
  world.round.box.reset(kSide, kSide);
  world.round.barrelAt.reset(kSide, kSide);
  world.round.itemAt.reset(kSide, kSide);
  world.round.box.set(4, 4, 1);
  for (int32_t i = 0; i < 3; ++i) {
    Player* player = createPlayer();
    player->id = kFirstId + i;
    player->x = player->netX = 48.0f + 96.0f * static_cast<float>(i);
    player->y = player->netY = 48.0f;
  }
  world.localPlayer = findPlayer(kFirstId);
  session.myId = kFirstId;
  session.isConnected = true;
  session.isHost = role >= 1 && role <= 4;
  world.isHost = session.isHost;
  setRuleMessages(networkRuleMessages());
}

void check(bool condition) {
  if (!condition) abort();
}

void checkWorld() {
  bool localListed = world.localPlayer == nullptr;
  for (const Player& player : world.players) localListed |= &player == world.localPlayer;
  check(localListed);
  for (const Barrel& barrel : world.round.barrels) {
    check(!barrel.ownerPlayer || findPlayer(barrel.ownerPlayer->id) != nullptr);
  }
  for (int column = 0; column < world.round.itemAt.columns(); ++column) {
    for (int row = 0; row < world.round.itemAt.rows(); ++row) {
      const Item* item = world.round.itemAt.get(column, row);
      if (!item) continue;
      check(findItem(item->id) == item && item->cellX == column && item->cellY == row);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  startOnce();
  int role = std::min(data[0] & 7, 5);
  bool fromTable = (data[0] & 0x80) != 0 && size >= 2;
  freshWorld(role);
  size_t buffersBefore = bufferCount();
  MessageBuffer* message = createBuffer(rt::kAnyNumber, static_cast<int32_t>(size + 4), 0);
  size_t skip = 1;
  if (fromTable) {
    constexpr size_t kRows = sizeof kMessageTable / sizeof kMessageTable[0];
    putLong(message, kMessageTable[data[1] % kRows].type);
    skip = 2;
  }
  putData(message, data + skip, static_cast<int32_t>(size - skip));
  message->cursor = message->data;
  switch (role) {
    case 0:
    case 1: dispatchClientMessage(message); break;
    case 2: dispatchServerMessage(kFirstId + 1, message); break;
    case 3: dispatchServerMessage(0x20000, message); break;
    case 4: relayPositionMessage(0x30000, message); break;
    default: applyPositionMessage(message); break;
  }
  freeBuffer(message);
  flushConnections();
  check(bufferCount() == buffersBefore);
  check(world.players.count() <= 3 + size / kWirePlayerSize + 1);
  checkWorld();
  return 0;
}
