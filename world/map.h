// The loaded map: its header, tile sets with their pictures, the tile layers, spawn points, the
// solid grid and the cell size, and what the file gives the presentation (lights, emitters,
// colours, drift); and the loaders that fill it from "Data\Maps\<name>.map" and the tile-set
// files in "Data\TileSets\". It lives in world.map.
//
// Maps are files players download and share. Every count and size in them is checked against
// the bytes there are and the limits below before anything is allocated. A map is refused, with
// one log line and the current map left untouched, when it breaks a limit, is cut short before
// its spawn points end, or names a tile set that is missing, cut short or refused; a map cut in
// its lights or emitters loads without them, and a cell that names a missing tile stays empty.
//
// The drawing side reads mapHeader() and mapCell(); both stay valid until the next loadMap or
// clearMap. A successful load is reported as a world event, after which render/ puts up the
// map's lights and emitters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/containers.h"
#include "runtime/objects.h"
#include "world/grid.h"
#include "world/map_file.h"

// Largest files we read at all; the size and count limits are in world/map_file.h.
inline constexpr int64_t kMaxMapFileBytes = int64_t{16} << 20;
inline constexpr int64_t kMaxTileSetFileBytes = int64_t{64} << 20;
// Largest side of a tile picture; all of them together share the map's budget with its cells.
inline constexpr int64_t kMaxTilePictureSide = 1024;
// Tile sizes the first tile set of a map may declare; a tile set declaring another is refused.
inline constexpr int32_t kMinTileSize = 8;
inline constexpr int32_t kMaxTileSize = 1024;
// Side of the small pictures made for a map list or an editor.
inline constexpr int kTilePreviewSize = 64;

struct MapHeader {
  std::string text1, text2, text3;  // the file's first three lines, kept as read
  int32_t lastColumn = 0, lastRow = 0;
  uint8_t lastLayer = 0;
  int32_t headerValue = 0;  // the player limit
  std::vector<SpawnPoint> spawnPoints;
  std::vector<std::string> tileSetNames;
  std::vector<uint8_t> layerOpacity = std::vector<uint8_t>(1, 255);  // one per layer
  int32_t pixelWidth = 0, pixelHeight = 0;
  int32_t scrollX = 0, scrollY = 0;
};

// A picture of a tile set, shared by name between the tile sets of a map.
struct TilePicture {
  std::string name;
  int32_t byteLength = 0;
  std::vector<uint8_t> bytes;    // the picture file as stored
  rt::Handle image = 0;          // decoded
  rt::Handle sprite = 0;         // its texture
  rt::Handle sprite3D = 0;       // what the tiles draw
  rt::Handle previewImage = 0, previewSprite = 0, preview3D = 0;  // 64 x 64, when asked for
};

struct TileKind {
  std::string name;
  int32_t value = 0;
  std::string text;  // at most 64 bytes
};

struct Tile {
  int32_t number = 0;
  std::string pictureName;
  rt::Handle picture = 0;  // 3D sprite of its picture (0 when the picture is missing)
  rt::Handle preview = 0;  // 3D sprite of the 64 x 64 preview, when asked for
  std::string kindName;
  int16_t displayValue = 0;
  int16_t terrain = 0;     // > 0: written into the solid grid
};

struct TileSet {
  int32_t number = 0;  // load order within the map, from 0
  std::string fileName;
  rt::List<Tile> tiles;  // file order
  std::unordered_map<int32_t, Tile*> byNumber;
};

// One cell of a tile layer. A cell drawn on screen has a tile; the numbers are kept even when
// they name nothing loaded.
struct MapCell {
  int32_t tileSetNumber = 0;
  int32_t tileNumber = 0;
  const Tile* tile = nullptr;
  int32_t rotation = 0;  // degrees, clockwise on screen
};

// What a map file gives the presentation, kept as read (render/ checks the values).
struct MapEffects {
  uint32_t ambientColour = 0;
  int32_t overlayColour = 0;  // below 1: no overlay
  std::vector<MapLight> lights;
  bool driftEnabled = false;
  float driftX = 0, driftY = 0;
  std::vector<MapEmitter> emitters;
};

// The map of the round. Tiles point into their tile sets, so the record is never copied; a load
// replaces it in place.
struct LoadedMap {
  LoadedMap() = default;
  LoadedMap(const LoadedMap&) = delete;
  LoadedMap& operator=(const LoadedMap&) = delete;
  LoadedMap(LoadedMap&&) = default;
  LoadedMap& operator=(LoadedMap&&) = default;

  MapHeader header;
  std::vector<MapCell> cells;  // as many as the file held; the rest of the layers is empty
  std::map<int32_t, TileSet> tileSets;
  rt::Map<TilePicture> pictures;
  rt::Map<TileKind> kinds;
  int32_t tileSetCounter = 0;
  int64_t picturePixels = 0;  // decoded so far for this map
  int64_t pixelBudget = kMapBudgetBytes / kMapPixelBytes;  // what the cells leave of the budget
  int32_t mouseTileWidth = 96, mouseTileHeight = 96;
  int32_t tileWidth = 96, tileHeight = 96;  // the cell size, from the first tile set
  Grid<uint8_t> solid;  // non-zero stops players, 1 (a wall) stops blasts too
  MapEffects effects;
};

// ---- Loading -------------------------------------------------------------------------------

// Reads mapPath + ".map" and its tile sets from tileSetFolder (both game paths, e.g.
// "Data\Maps\Arena" and "Data\TileSets\") into world.map, replacing the previous map, and
// reports it. False (one log line saying why, nothing changed) when the map is refused.
bool loadMap(const std::string& mapPath, const std::string& tileSetFolder, bool makePreviews);
// The round start's form: "Data\Maps\" + name, "Data\TileSets\", no previews. Refuses names
// that are not isSafeMapName.
bool loadMapNamed(const std::string& name);
// Reads one tile-set file folder + fileName into the current map's tile sets. False (and
// nothing changed) when the name is not a plain file name, the file cannot be read, is cut short
// or breaks a limit, or it is the map's first and declares a tile size out of range.
bool loadTileSet(const std::string& folder, const std::string& fileName, bool makePreviews);

// Re-creates the round's box, barrel and item grids at the map's size, all empty; when enabled
// (the host) puts boxes on free floor: never on a non-zero solid cell, never where layer 0 has no
// drawable tile, never within 128 pixels of a spawn point, and else with 80 chances in 101.
void generateBoxes(bool enabled);

// Forgets the map: header, tile sets with their pictures, kinds, layers and effects; the grids
// go back to one cell.
void clearMap();

// ---- Reading the loaded map ------------------------------------------------------------------

const MapHeader& mapHeader();
int32_t mapColumns();  // lastColumn + 1
int32_t mapRows();
int32_t mapLayers();
// The cell at (layer, column, row); an empty cell outside the map.
const MapCell& mapCell(int layer, int column, int row);
// Tile sets by load number, pictures by name (null when absent).
const TileSet* findTileSet(int32_t number);
const Tile* findTile(int32_t tileSetNumber, int32_t tileNumber);
const TilePicture* findTilePicture(const std::string& name);
const TileKind* findTileKind(const std::string& name);
size_t tileSetCount();
size_t tilePictureCount();

// The spawn point for the player at this list position. With more players than spawn points
// the positions wrap around, so nobody is left where the previous round put him. Null when the
// map has none.
const SpawnPoint* spawnPointFor(size_t playerIndex);

// ---- Mouse handling ----------------------------------------------------------------------

// The tile size the mouse uses to turn its world position into a cell; handed over at every
// round start.
void setTileSize(int32_t width, int32_t height);
int32_t mouseTileWidth();
int32_t mouseTileHeight();

// ---- Map names and the map list ----------------------------------------------------------

// A map name that may become a path: not empty, at most 64 bytes, no path separator, no "..",
// no drive colon, no control characters.
bool isSafeMapName(const std::string& name);
// "Data\Maps\" + name + ".map".
std::string mapFilePath(const std::string& name);

// What the host's map list shows of a map file, read from its first lines and fields only.
struct MapSummary {
  std::string text1, text2, text3;
  int32_t lastColumn = 0, lastRow = 0;
  uint8_t lastLayer = 0;
  int32_t headerValue = 0;  // the player limit
};
// path is the map file's game path ("Data\Maps\Arena.map"). False when it cannot be opened.
bool readMapSummary(const std::string& path, MapSummary* out);
