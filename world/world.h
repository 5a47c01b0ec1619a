// The world of a match: players, barrels, items, decals, pickup notices, the per-cell grids, the
// map, the match and round records and the camera. Every participant keeps its own full copy and
// applies the same relayed messages to it, so these records are alike on every machine. They
// hold the rules' state only: what a record looks or sounds like is kept by render/ and audio/,
// which follow the world's events (world/events.h).
//
// Lists own their records and keep their addresses until an element is deleted, so records may
// point at each other. Times are milliseconds of the frame time (rt::frame.now), positions float
// pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/containers.h"
#include "world/grid.h"
#include "world/map.h"

struct Barrel;
struct Item;

// ---- Players -------------------------------------------------------------------------------

// The first 160 bytes of a player record. They travel in the player-list message exactly as
// stored, so their order and widths are part of the protocol; bytes not named here carry
// nothing the rules read and stay zero.
struct PlayerWire {
  int32_t dead = 0;           // 0 alive, 1 dead
  int32_t id = 0;             // the host's handle of the player's game connection
  int32_t udpLink = 0;        // host only: the UDP peer the player's positions come from
  int32_t spare12 = 0;
  char name[32] = {};         // not necessarily NUL-terminated: use playerName()
  int32_t colour = 0;         // 0x00BBGGRR, from the player colour table
  int32_t spare52 = 0;
  float x = 0, y = 0;         // centre of the player
  float netX = 0, netY = 0;   // local: position last sent; remote: last received (the target)
  int32_t radius = 28;
  float speed = 4.0f;         // pixels per 10 ms
  int32_t direction = 0;      // integer degrees: 0 faces down, 90 left, -90 right, -180 up
  float bodyDirection = 0;    // the turned (smoothed) facing of the upper body
  int32_t barrelCapacity = 1; // 1..10
  int32_t spare92[3] = {};
  int32_t drawOffsetX = 48;
  int32_t drawOffsetY = 48;
  int32_t strength = 2;       // explosion reach in cells, 1..12
  int32_t fuseTime = 3000;    // ms, 2000..7500
  int32_t spare120[6] = {};
  int32_t kills = 0;
  int32_t selfKills = 0;
  int32_t deaths = 0;
  int32_t points = 0;         // always kills - selfKills
};

static_assert(std::is_standard_layout_v<PlayerWire>);
static_assert(sizeof(PlayerWire) == 160);
static_assert(offsetof(PlayerWire, dead) == 0 && offsetof(PlayerWire, id) == 4);
static_assert(offsetof(PlayerWire, udpLink) == 8 && offsetof(PlayerWire, name) == 16);
static_assert(offsetof(PlayerWire, colour) == 48 && offsetof(PlayerWire, x) == 56);
static_assert(offsetof(PlayerWire, y) == 60 && offsetof(PlayerWire, netX) == 64);
static_assert(offsetof(PlayerWire, netY) == 68 && offsetof(PlayerWire, radius) == 72);
static_assert(offsetof(PlayerWire, speed) == 76 && offsetof(PlayerWire, direction) == 80);
static_assert(offsetof(PlayerWire, bodyDirection) == 84);
static_assert(offsetof(PlayerWire, barrelCapacity) == 88);
static_assert(offsetof(PlayerWire, drawOffsetX) == 104 && offsetof(PlayerWire, drawOffsetY) == 108);
static_assert(offsetof(PlayerWire, strength) == 112 && offsetof(PlayerWire, fuseTime) == 116);
static_assert(offsetof(PlayerWire, kills) == 144 && offsetof(PlayerWire, selfKills) == 148);
static_assert(offsetof(PlayerWire, deaths) == 152 && offsetof(PlayerWire, points) == 156);

// A player: the wire block first (the record's first 160 bytes), then what each machine keeps
// for itself.
struct Player : PlayerWire {
  int32_t hairSprite = 15;
  bool walking = false;       // moved in its last movement step: its figure walks
  int32_t cellX = 0, cellY = 0;
  uint32_t lastUdpTime = 0;   // send time of the last position message taken for this player
  bool hasUdpTime = false;
};

inline const PlayerWire& wireOf(const Player& p) { return p; }
inline PlayerWire& wireOf(Player& p) { return p; }

// The name as text: at most 32 bytes, up to the first NUL.
std::string playerName(const PlayerWire& player);
void setPlayerName(PlayerWire& player, const std::string& name);

// ---- Barrels, items, decals, notices -------------------------------------------------------

struct Barrel {
  int32_t owner = 0;  // id of the player credited with the blast (the igniter in a chain)
  float x = 0, y = 0;
  int32_t drawOffsetX = 48, drawOffsetY = 48;
  int32_t strength = 0;
  int32_t fuseTime = 0;
  uint32_t explodeAt = 0;       // now + fuseTime at placement; now + 50 when a blast reaches it
  Player* ownerPlayer = nullptr;  // the placer, counted against its capacity; null once it left
};

struct Item {
  int32_t id = 0;  // chosen by the host, unique among live items; travels on the wire
  int32_t kind = 0;  // 0..5
  std::string name;
  float size = 64.0f;
  float radius = 32.0f;
  float x = 0, y = 0;  // centre of its cell
  int32_t cellX = 0, cellY = 0;
  int32_t blendSource = 5, blendDestination = 2;
  uint32_t colour = 0;  // 0x00BBGGRR
  int32_t animation = 0;  // the number of its kind's animation
  int32_t iconSprite = 0;
  int32_t alpha = 255;
};

struct Decal {
  int32_t sprite = 0;
  int32_t rotation = 0;  // 0..359
  float x = 0, y = 0;
  int32_t halfWidth = 0, halfHeight = 0;
  uint32_t fadeAt = 0;
  int32_t alpha = 255;
};

struct ItemNotice {
  uint32_t colour = 0;  // 0x00BBGGRR
  int32_t iconSprite = 0;
  std::string name;     // a language key
  uint32_t expiry = 0;
  int32_t alpha = 255;
};

// ---- Round, camera, the world --------------------------------------------------------------

// The match: which round of how many, on which map.
struct MatchState {
  bool running = false;
  std::string mapName;
  int32_t roundNumber = 0;
  int32_t rounds = 0;
  int32_t roundTime = 0;  // ms
};

// Everything that lives for one round, so that starting or ending a round is one assignment.
struct RoundState {
  uint32_t endAt = 0;      // 0 while no end is pending
  uint32_t startedAt = 0;  // when this machine started or was told of the round
  rt::List<Barrel> barrels;
  rt::List<Item> items;
  rt::List<Decal> decals;
  rt::List<ItemNotice> notices;
  Grid<int32_t> box;  // 1 = a wooden box stands here
  Grid<Barrel*> barrelAt;
  Grid<Item*> itemAt;
};

struct Camera {
  int32_t x = 0, y = 0;  // the map pixel at the screen's top-left corner
  int32_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;  // visible, inclusive
  int32_t spectated = 0;  // index into the player list
};

struct World {
  // Lives as long as the session: who plays, and which of them is this machine's.
  rt::List<Player> players;
  Player* localPlayer = nullptr;
  bool isHost = false;
  int32_t nextItemId = 1;  // goes on across rounds, so a late pickup never names a newer item
  uint32_t lastLocalStep = 0, lastRemoteStep = 0;  // the movement steps' clocks
  Camera camera;

  MatchState match;
  RoundState round;
  LoadedMap map;  // replaced by every map that loads
};

extern World world;

// Cell of a position (truncated toward zero) and centre of a cell (integer halves).
int32_t cellX(float x);
int32_t cellY(float y);
float cellCentreX(int32_t column);
float cellCentreY(int32_t row);

Player* findPlayer(int32_t id);
// The per-round values of a player at round start: alive, standing, facing down, one barrel of
// reach 2 with a 3000 ms fuse.
void resetPlayerForRound(Player& player);
// The player's barrels still burning.
int32_t burningBarrels(const Player& player);
// Starts an empty round record (every barrel, item and decal gone at once) and reports it.
void clearRound();
// The colour of the player-colour table for a list position; positions past the table wrap.
uint32_t playerColour(size_t position);
