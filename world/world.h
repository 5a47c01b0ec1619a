// The world of a match: players, barrels, items, decals, pickup notices, the per-cell grids, the
// round record and the camera. Every participant keeps its own full copy and applies the same
// relayed messages to it, so these records are alike on every machine.
//
// Lists own their records and keep their addresses until an element is deleted, so records may
// point at each other. Times are milliseconds of the frame time (rt::frame.now), positions float pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "render/animation.h"
#include "runtime/containers.h"
#include "runtime/frame.h"
#include "runtime/objects.h"

struct Barrel;
struct Item;
struct Light;
struct ParticleType;

// ---- Players -------------------------------------------------------------------------------

// The first 160 bytes of a player record. They travel in the player-list message exactly as
// stored, so their order and widths are part of the protocol; bytes not named here carry
// nothing the rules read and stay zero.
struct PlayerWire {
  int32_t dead = 0;           // 0 alive, 1 dead
  int32_t id = 0;             // the host's handle of the player's game connection
  int32_t udpLink = 0;        // host only: the UDP peer the player's positions come from
  int32_t spare12 = 0;
  char name[32] = {};         // not necessarily NUL-terminated: use PlayerName()
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
  PlayerBody body;            // torso, legs and shoulder animation instances and the hair
  int32_t cellX = 0, cellY = 0;
  uint32_t lastUdpTime = 0;   // send time of the last position message taken for this player
  bool hasUdpTime = false;
  rt::List<Barrel*> ownBarrels;  // one element per burning barrel of this player
  ParticleType* hudEmitter = nullptr;  // local player only
};

inline const PlayerWire& WireOf(const Player& p) { return p; }
inline PlayerWire& WireOf(Player& p) { return p; }

// The name as text: at most 32 bytes, up to the first NUL.
std::string PlayerName(const PlayerWire& player);
void SetPlayerName(PlayerWire& player, const std::string& name);

// ---- Barrels, items, decals, notices -------------------------------------------------------

struct Barrel {
  int32_t owner = 0;  // id of the player credited with the blast (the igniter in a chain)
  float x = 0, y = 0;
  int32_t drawOffsetX = 48, drawOffsetY = 48;
  int32_t strength = 0;
  int32_t fuseTime = 0;
  uint32_t explodeAt = 0;       // now + fuseTime at placement; now + 50 when a blast reaches it
  int fuseSound = 0;            // channel of the looping fuse sound
  Player* ownerPlayer = nullptr;
  Barrel** ownerEntry = nullptr;  // the element of ownerPlayer->ownBarrels pointing here
  Light* light = nullptr;
  ParticleType* sparkEmitter = nullptr;
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
  rt::Handle animation = 0;  // instance
  ParticleType* emitter = nullptr;
  int32_t iconSprite = 0;
  Light* light = nullptr;
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

// ---- Grids ---------------------------------------------------------------------------------

// A per-cell grid indexed [column][row]. Reads outside the grid give the fallback and writes
// there do nothing: positions come from the network and movement probes step past the edges.
template <class T>
class Grid {
 public:
  void reset(int columns, int rows, T fill = T{}) {
    columns_ = columns < 1 ? 1 : columns;
    rows_ = rows < 1 ? 1 : rows;
    cells_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_), fill);
  }
  bool inside(int column, int row) const {
    return column >= 0 && row >= 0 && column < columns_ && row < rows_;
  }
  T get(int column, int row, T fallback = T{}) const {
    return inside(column, row) ? cells_[index(column, row)] : fallback;
  }
  void set(int column, int row, T value) {
    if (inside(column, row)) cells_[index(column, row)] = value;
  }
  int columns() const { return columns_; }
  int rows() const { return rows_; }

 private:
  size_t index(int column, int row) const {
    return static_cast<size_t>(column) * static_cast<size_t>(rows_) + static_cast<size_t>(row);
  }
  int columns_ = 1, rows_ = 1;
  std::vector<T> cells_ = std::vector<T>(1);
};

// ---- Round, camera, the world --------------------------------------------------------------

struct RoundState {
  bool running = false;
  std::string mapName;
  uint32_t endAt = 0;  // 0 while no end is pending
  int32_t roundNumber = 0;
  int32_t rounds = 0;
  int32_t roundTime = 0;  // ms
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

  // Lives for a round.
  RoundState round;
  rt::List<Barrel> barrels;
  rt::List<Item> items;
  rt::List<Decal> decals;
  rt::List<ItemNotice> notices;
  Grid<uint8_t> solid;       // from the map: non-zero stops players, 1 (a wall) stops blasts
  Grid<int32_t> box;         // 1 = a wooden box stands here
  Grid<Barrel*> barrelAt;
  Grid<Item*> itemAt;

  Camera camera;
  int32_t tileWidth = 96, tileHeight = 96;  // the map's cell size
};

extern World world;

// Cell of a position (truncated toward zero) and centre of a cell (integer halves).
int32_t CellX(float x);
int32_t CellY(float y);
float CellCentreX(int32_t column);
float CellCentreY(int32_t row);

Player* FindPlayer(int32_t id);
// The per-round values of a player at round start: alive, facing down, one barrel of reach 2
// with a 3000 ms fuse, none burning. Barrels still on the map stop pointing at the player.
void ResetPlayerForRound(Player& player);
// The colour of the player-colour table for a list position; positions past the table wrap.
uint32_t PlayerColour(size_t position);
