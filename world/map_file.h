// The map file and the tile-set file in memory: readers that take whatever bytes they are given
// and writers for the map compiler and the tests. Neither format has a magic number or a
// version. All numbers are little-endian; a "line" is text ended by CR LF, a lone CR, LF, NUL
// or the end of the data.
//
// The readers follow the game's rule for a file that ends early: every read past the end gives
// 0 or empty text, and records that would start past the end are not made, so a cut-off file
// yields what it holds, and the result says where it was cut (the loader decides what it can
// use). What they refuse outright is a file whose sizes or counts break the limits below; then
// the result is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Map size limits (see world/map.h for the loaded map). A side of 1024 cells keeps pixel
// positions well inside int32 at any tile size; layers take the whole range of their byte.
inline constexpr int32_t kMapFileMaxColumns = 1024;
inline constexpr int32_t kMapFileMaxRows = 1024;
inline constexpr int32_t kMapFileMaxLayers = 256;
// One budget for what a loaded map occupies: its cells (as read and as kept, whether the file
// holds them or not) and its decoded tile pictures (each pixel in memory and as a texture).
// 256 MiB is far beyond any map meant to be played: our largest shipped map needs under 1 MiB,
// and 256 x 256 cells on 16 layers with a thousand 96 x 96 tile pictures about 110 MiB. A file
// that claims 1024 x 1024 cells on 256 layers would want 10 GiB and is refused from its header.
inline constexpr int64_t kMapBudgetBytes = int64_t{256} << 20;
inline constexpr int64_t kMapCellBytes = 40;
inline constexpr int64_t kMapPixelBytes = 8;
inline constexpr int64_t kMapFileMaxCells = kMapBudgetBytes / kMapCellBytes;
// Counts of one map file.
inline constexpr int32_t kMapFileMaxTileSets = 64;
inline constexpr int32_t kMapFileMaxSpawnPoints = 256;
inline constexpr int32_t kMapFileMaxLights = 1024;
inline constexpr int32_t kMapFileMaxEmitters = 64;
// Counts of one tile-set file.
inline constexpr int32_t kTileSetFileMaxKinds = 4096;
inline constexpr int32_t kTileSetFileMaxPictures = 4096;
inline constexpr int32_t kTileSetFileMaxTiles = 4096;
// Spawn point names and kind texts are cut to this many bytes.
inline constexpr size_t kMapShortTextBytes = 64;

enum class MapFileStatus {
  Ok = 0,
  BadSize,      // a negative column or row count
  TooLarge,     // more columns, rows, layers or cells than we take
  TooMany,      // a count of tile sets, spawn points, lights or emitters over its limit
};
const char* mapFileStatusText(MapFileStatus status);

// How much of its fields a map file held.
enum class MapFileEnd {
  kWhole,
  kCutInEffects,  // cells and spawn points whole; cut in the colours, lights, drift or emitters
  kCut,           // cut in the header, the tile-set names, the cells or the spawn points
};

struct SpawnPoint {
  int32_t value = 0;
  std::string name;  // at most 64 bytes
  int32_t x = 0, y = 0;  // world pixels
};

// A cell as stored: present means a tile stands here (presence flag exactly 1).
struct MapFileCell {
  bool present = false;
  int32_t tileSet = 0;
  int32_t tile = 0;
  int16_t rotation = 0;
};

struct MapLight {
  int32_t identifier = 0;
  int16_t active = 1;
  int16_t shape = 0;      // 0 Point, 1 Cone, 2 Plane
  uint32_t colour = 0;    // 0x00BBGGRR
  int32_t width = 0, height = 0;
  int32_t x = 0, y = 0;   // top-left, world pixels
  float intensity = 0;
  int16_t rotation = 0;
  int8_t flicker = 0;
  float flickerAmount = 0;     // stored only when flicker is non-zero
  int32_t flickerInterval = 0;
};

struct MapEmitter {
  int32_t first = 0;
  int32_t active = 0;
  int32_t x = 0, y = 0;   // centre of the spawn area
  int32_t areaWidth = 0, areaHeight = 0;
  int32_t interval = 0;
  std::string textureKey;
  int32_t lifetime = 0, extraLifetime = 0;
  float startSize = 0, sizeChange = 0, speed = 0;
  int32_t minAngle = 0, maxAngle = 0;
  float driftFactor = 0;
  int32_t sourceBlend = 5, destinationBlend = 6;
  float startAlpha = 0, alphaLoss = 0;
};

struct MapFile {
  std::string text1, text2, text3;
  int32_t lastColumn = 0, lastRow = 0;
  uint8_t lastLayer = 0;
  int32_t headerValue = 0;  // the player limit
  std::vector<std::string> tileSetNames;
  // Layer by layer, row by row, column by column. The reader returns only the cells the data
  // holds; the writer needs all (lastLayer + 1) x (lastRow + 1) x (lastColumn + 1).
  std::vector<MapFileCell> cells;
  std::vector<SpawnPoint> spawnPoints;
  uint32_t ambientColour = 0;
  int32_t overlayColour = 0;  // below 1: no overlay
  std::vector<MapLight> lights;
  int32_t driftEnabled = 0;
  float driftX = 0, driftY = 0;
  std::vector<MapEmitter> emitters;
  MapFileEnd end = MapFileEnd::kWhole;  // the reader's finding; the writer ignores it
};

// Index of cell (layer, column, row) in MapFile::cells.
size_t mapCellIndex(const MapFile& map, int layer, int column, int row);

MapFileStatus parseMapFile(const uint8_t* data, size_t length, MapFile* out);
bool writeMapFile(const MapFile& map, std::vector<uint8_t>* out);

// ---- Tile sets -----------------------------------------------------------------------------

struct TileSetFileKind {
  std::string name;
  int32_t value = 0;
  std::string text;  // at most 64 bytes
};

struct TileSetFilePicture {
  std::string name;
  std::vector<uint8_t> bytes;  // a whole PNG, JPEG or BMP file
};

struct TileSetFileTile {
  int32_t number = 0;
  std::string pictureName;
  std::string kindName;
  int16_t displayValue = 0;
  int16_t terrain = 0;
};

struct TileSetFile {
  std::string header;
  int32_t tileWidth = 96, tileHeight = 96;
  std::vector<TileSetFileKind> kinds;
  std::vector<TileSetFilePicture> pictures;
  std::vector<TileSetFileTile> tiles;
  bool cut = false;  // the data ended before the last field; the writer ignores it
};

// False (and *out empty) when a count breaks its limit.
bool parseTileSetFile(const uint8_t* data, size_t length, TileSetFile* out);
bool writeTileSetFile(const TileSetFile& tileSet, std::vector<uint8_t>* out);

// Width and height from a PNG, JPEG or BMP file's header, without decoding it. False when the
// header is not one of those or is cut off.
bool pictureDimensions(const uint8_t* data, size_t length, int64_t* width, int64_t* height);
