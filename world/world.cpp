#include "world/world.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "world/events.h"

World world;

namespace {

// Player colours by list position, 0x00BBGGRR.
constexpr uint32_t kPlayerColours[] = {0x2020E0, 0xF08080, 0x10D010, 0x10D0D0, 0x780287};

// Float positions come from the network too: a position that is not a number or lies far
// outside any map must not turn into an undefined integer conversion.
int32_t cellOf(float position, int32_t size) {
  if (!std::isfinite(position) || size <= 0) return -1;
  float cell = std::trunc(position / static_cast<float>(size));
  if (cell < -1e6f || cell > 1e6f) return -1;
  return static_cast<int32_t>(cell);
}

}  // namespace

std::string playerName(const PlayerWire& player) {
  return std::string(player.name, strnlen(player.name, sizeof player.name));
}

void setPlayerName(PlayerWire& player, const std::string& name) {
  memset(player.name, 0, sizeof player.name);
  memcpy(player.name, name.data(), std::min(name.size(), sizeof player.name));
}

int32_t cellX(float x) { return cellOf(x, world.map.tileWidth); }
int32_t cellY(float y) { return cellOf(y, world.map.tileHeight); }
float cellCentreX(int32_t column) {
  return static_cast<float>(column * world.map.tileWidth + world.map.tileWidth / 2);
}
float cellCentreY(int32_t row) {
  return static_cast<float>(row * world.map.tileHeight + world.map.tileHeight / 2);
}

Player* findPlayer(int32_t id) {
  for (Player& p : world.players) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

void resetPlayerForRound(Player& player) {
  player.dead = 0;
  player.walking = false;
  player.direction = 0;
  player.bodyDirection = 0;
  player.barrelCapacity = 1;
  player.fuseTime = 3000;
  player.strength = 2;
}

int32_t burningBarrels(const Player& player) {
  int32_t burning = 0;
  for (const Barrel& barrel : world.round.barrels) burning += barrel.ownerPlayer == &player;
  return burning;
}

void clearRound() {
  world.round = RoundState{};
  notifyWorld({WorldEventType::kRoundCleared});
}

uint32_t playerColour(size_t position) {
  return kPlayerColours[position % (sizeof kPlayerColours / sizeof kPlayerColours[0])];
}
