// Map and tile-set files: their readers and writers, the loader with its discard rules, hostile
// files, box generation, and the maps we ship. Files are written into a fresh data root.
#include "world/map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/screen.h"
#include "support/world_support.h"
#include "support/test_support.h"
#include "world/map_file.h"
#include "world/world.h"

namespace {

std::vector<uint8_t> png(int width, int height, uint8_t red) {
  rt::Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.rgba.assign(static_cast<size_t>(width) * height * 4, 255);
  for (size_t i = 0; i < pixels.rgba.size(); i += 4) pixels.rgba[i] = red;
  std::vector<uint8_t> out;
  rt::encodePng(pixels, &out);
  return out;
}

TileSetFileTile tile(int32_t number, const std::string& picture, int16_t terrain = 0) {
  return {number, picture, "", 0, terrain};
}

MapFile emptyMap(int columns, int rows, int layers) {
  MapFile map;
  map.text1 = "Test";
  map.lastColumn = columns - 1;
  map.lastRow = rows - 1;
  map.lastLayer = static_cast<uint8_t>(layers - 1);
  map.headerValue = 4;
  map.cells.assign(static_cast<size_t>(columns) * rows * layers, MapFileCell{});
  return map;
}

void put(MapFile& map, int layer, int column, int row, int32_t set, int32_t number,
         int16_t rotation = 0) {
  map.cells[mapCellIndex(map, layer, column, row)] = {true, set, number, rotation};
}

std::vector<uint8_t> bytesOf(const MapFile& map) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(writeMapFile(map, &bytes));
  return bytes;
}

class MapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::setDataRoot(dir.path());
    std::filesystem::create_directories(dir.file("Data/Maps"));
    std::filesystem::create_directories(dir.file("Data/TileSets"));
    clearMap();
    world = World{};
  }
  void TearDown() override { clearMap(); }

  void saveTileSet(const std::string& name, const TileSetFile& set) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(writeTileSetFile(set, &bytes));
    test::writeFile(dir.file("Data/TileSets/" + name), bytes);
  }
  void saveMap(const std::string& name, const std::vector<uint8_t>& bytes) {
    test::writeFile(dir.file("Data/Maps/" + name + ".map"), bytes);
  }
  bool load(const std::string& name) { return loadMapNamed(name); }

  // One tile set "Ground.tileset": tile 1 open floor, tile 2 a wall, tile 3 a picture that
  // does not decode.
  void saveGround(int size = 96) {
    TileSetFile set;
    set.tileWidth = set.tileHeight = size;
    set.pictures = {{"Floor", png(size, size, 10)}, {"Wall", png(size, size, 200)},
                    {"Broken", {1, 2, 3}}};
    set.tiles = {tile(1, "Floor"), tile(2, "Wall", 1), tile(3, "Broken")};
    saveTileSet("Ground.tileset", set);
  }

  test::TempDir dir;
};

// ---- The file formats ----------------------------------------------------------------------

TEST(MapFile, RoundTripKeepsEveryField) {
  MapFile map = emptyMap(3, 2, 2);
  map.text2 = "second";
  map.text3 = "third";
  map.headerValue = 6;
  map.tileSetNames = {"A.tileset", "B.tileset"};
  put(map, 0, 2, 1, 1, 7, 270);
  put(map, 1, 0, 0, 0, -3, 90);
  map.spawnPoints = {{5, "North", 48, 48}, {0, "", 240, 144}};
  map.ambientColour = 0x382018;
  map.overlayColour = 0x102030;
  MapLight steady;
  steady.identifier = 9;
  steady.colour = 0x4080FF;
  steady.width = 320;
  steady.height = 200;
  steady.x = -10;
  steady.y = 20;
  steady.intensity = 0.75f;
  steady.rotation = 45;
  MapLight flickering = steady;
  flickering.flicker = 1;
  flickering.flickerAmount = 0.2f;
  flickering.flickerInterval = 90;
  map.lights = {steady, flickering};
  map.driftEnabled = 1;
  map.driftX = 0.5f;
  map.driftY = -0.25f;
  MapEmitter emitter;
  emitter.active = 1;
  emitter.x = 100;
  emitter.textureKey = "Spark";
  emitter.minAngle = 240;
  emitter.maxAngle = 300;
  emitter.alphaLoss = 8;
  map.emitters = {emitter};

  MapFile back;
  std::vector<uint8_t> bytes = bytesOf(map);
  ASSERT_EQ(parseMapFile(bytes.data(), bytes.size(), &back), MapFileStatus::Ok);
  EXPECT_EQ(back.text2, "second");
  EXPECT_EQ(back.text3, "third");
  EXPECT_EQ(back.headerValue, 6);
  EXPECT_EQ(back.tileSetNames, map.tileSetNames);
  ASSERT_EQ(back.cells.size(), map.cells.size());
  const MapFileCell& cell = back.cells[mapCellIndex(back, 0, 2, 1)];
  EXPECT_TRUE(cell.present);
  EXPECT_EQ(cell.tileSet, 1);
  EXPECT_EQ(cell.tile, 7);
  EXPECT_EQ(cell.rotation, 270);
  EXPECT_EQ(back.cells[mapCellIndex(back, 1, 0, 0)].tile, -3);
  EXPECT_FALSE(back.cells[mapCellIndex(back, 1, 1, 0)].present);
  ASSERT_EQ(back.spawnPoints.size(), 2u);
  EXPECT_EQ(back.spawnPoints[0].name, "North");
  EXPECT_EQ(back.spawnPoints[1].x, 240);
  EXPECT_EQ(back.ambientColour, 0x382018u);
  EXPECT_EQ(back.overlayColour, 0x102030);
  ASSERT_EQ(back.lights.size(), 2u);
  EXPECT_EQ(back.lights[0].flicker, 0);
  EXPECT_EQ(back.lights[0].flickerInterval, 0);  // not stored without flicker
  EXPECT_EQ(back.lights[1].flickerInterval, 90);
  EXPECT_FLOAT_EQ(back.lights[1].flickerAmount, 0.2f);
  EXPECT_EQ(back.lights[1].rotation, 45);
  EXPECT_EQ(back.driftEnabled, 1);
  EXPECT_FLOAT_EQ(back.driftY, -0.25f);
  ASSERT_EQ(back.emitters.size(), 1u);
  EXPECT_EQ(back.emitters[0].textureKey, "Spark");
  EXPECT_EQ(back.emitters[0].maxAngle, 300);
  EXPECT_FLOAT_EQ(back.emitters[0].alphaLoss, 8);
}

TEST(MapFile, TileSetRoundTrip) {
  TileSetFile set;
  set.header = "header";
  set.tileWidth = 64;
  set.tileHeight = 32;
  set.kinds = {{"Wall", 1, "Stops blasts"}};
  set.pictures = {{"A", {1, 2, 3, 0, 13, 10}}};
  set.tiles = {{5, "A", "Wall", -2, 1}};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(writeTileSetFile(set, &bytes));
  TileSetFile back;
  ASSERT_TRUE(parseTileSetFile(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(back.header, "header");
  EXPECT_EQ(back.tileWidth, 64);
  EXPECT_EQ(back.tileHeight, 32);
  ASSERT_EQ(back.kinds.size(), 1u);
  EXPECT_EQ(back.kinds[0].text, "Stops blasts");
  ASSERT_EQ(back.pictures.size(), 1u);
  EXPECT_EQ(back.pictures[0].bytes, set.pictures[0].bytes);  // bytes that look like line ends
  ASSERT_EQ(back.tiles.size(), 1u);
  EXPECT_EQ(back.tiles[0].displayValue, -2);
  EXPECT_EQ(back.tiles[0].terrain, 1);
}

TEST(MapFile, WriterRefusesWhatWouldNotReadBack) {
  MapFile map = emptyMap(2, 2, 1);
  std::vector<uint8_t> bytes;
  map.text1 = "two\nlines";
  EXPECT_FALSE(writeMapFile(map, &bytes));
  map.text1 = "ok";
  map.cells.pop_back();
  EXPECT_FALSE(writeMapFile(map, &bytes));
}

// The header as bytes: three lines (terminators included), then a 1 x 1 x 1 map, player
// limit 3 and no tile sets.
std::vector<uint8_t> headOf(const std::string& lines) {
  std::vector<uint8_t> bytes(lines.begin(), lines.end());
  for (uint8_t b : {0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}) bytes.push_back(b);
  return bytes;
}

// Lines end at CR LF, a lone CR (the byte after it stays), LF or NUL.
TEST(MapFile, LineEndings) {
  MapFile map;
  std::vector<uint8_t> bytes = headOf(std::string("one\ntwo\rthree\0", 14));
  ASSERT_EQ(parseMapFile(bytes.data(), bytes.size(), &map), MapFileStatus::Ok);
  EXPECT_EQ(map.text1, "one");
  EXPECT_EQ(map.text2, "two");
  EXPECT_EQ(map.text3, "three");
  EXPECT_EQ(map.headerValue, 3);
  bytes = headOf("a\r\r\nb\r\n");
  ASSERT_EQ(parseMapFile(bytes.data(), bytes.size(), &map), MapFileStatus::Ok);
  EXPECT_EQ(map.text1, "a");
  EXPECT_EQ(map.text2, "");
  EXPECT_EQ(map.text3, "b");
  EXPECT_EQ(map.headerValue, 3);
}

// The flag byte alone makes a cell: 1 is a tile, anything else (0, 2, -1) an empty cell of one
// byte.
TEST(MapFile, CellFlagsOtherThanOneTakeOneByte) {
  std::vector<uint8_t> written = bytesOf(emptyMap(4, 1, 1));
  const size_t cellsAt = std::string("Test\r\n\r\n\r\n").size() + 13 + 4;
  std::vector<uint8_t> bytes(written.begin(), written.begin() + cellsAt);
  for (uint8_t b : {2, 0, 1, 0, 0, 0, 0, 9, 0, 0, 0, 180, 0, 255}) bytes.push_back(b);
  bytes.insert(bytes.end(), written.begin() + cellsAt + 4, written.end());
  MapFile back;
  ASSERT_EQ(parseMapFile(bytes.data(), bytes.size(), &back), MapFileStatus::Ok);
  ASSERT_EQ(back.cells.size(), 4u);
  EXPECT_FALSE(back.cells[0].present);
  EXPECT_FALSE(back.cells[1].present);
  EXPECT_TRUE(back.cells[2].present);
  EXPECT_EQ(back.cells[2].tile, 9);
  EXPECT_EQ(back.cells[2].rotation, 180);
  EXPECT_FALSE(back.cells[3].present);
  EXPECT_TRUE(back.spawnPoints.empty());
  EXPECT_EQ(back.emitters.size(), 0u);
}

TEST(MapFile, SizesAndCountsOverTheLimitsAreRefused) {
  MapFile out;
  auto withHeader = [](int32_t columns, int32_t rows, uint8_t layers) {
    MapFile map = emptyMap(1, 1, 1);
    std::vector<uint8_t> bytes = bytesOf(map);
    size_t at = std::string("Test\r\n\r\n\r\n").size();
    std::memcpy(&bytes[at], &columns, 4);
    std::memcpy(&bytes[at + 4], &rows, 4);
    bytes[at + 8] = layers;
    return bytes;
  };
  for (auto [c, r, l, status] :
       std::vector<std::tuple<int32_t, int32_t, uint8_t, MapFileStatus>>{
           {std::numeric_limits<int32_t>::max(), 0, 0, MapFileStatus::TooLarge},
           {1024, 0, 0, MapFileStatus::TooLarge},
           {0, 1024, 0, MapFileStatus::TooLarge},
           {0, 0, 16, MapFileStatus::Ok},
           {63, 63, 255, MapFileStatus::Ok},  // every layer the byte can name
           {1023, 1023, 5, MapFileStatus::Ok},
           {1023, 1023, 6, MapFileStatus::TooLarge},  // past the budget's cells
           {1023, 1023, 255, MapFileStatus::TooLarge},
           {1023, 1023, 1, MapFileStatus::Ok},
           {-1, 0, 0, MapFileStatus::BadSize},
           {0, std::numeric_limits<int32_t>::min(), 0, MapFileStatus::BadSize},
           {1023, 1023, 0, MapFileStatus::Ok},
       }) {
    std::vector<uint8_t> bytes = withHeader(c, r, l);
    EXPECT_EQ(parseMapFile(bytes.data(), bytes.size(), &out), status) << c << " " << r << " " << int(l);
  }
  MapFile many = emptyMap(1, 1, 1);
  many.lights.resize(kMapFileMaxLights + 1);
  std::vector<uint8_t> bytes = bytesOf(many);
  EXPECT_EQ(parseMapFile(bytes.data(), bytes.size(), &out), MapFileStatus::TooMany);
  EXPECT_TRUE(out.cells.empty());
}

// Every cut of a file parses: what lies before the cut is kept, nothing is made up after it, and
// the result says whether the cut took cells or spawn points, only effects, or nothing.
TEST(MapFile, EveryCutLoadsWhatItHoldsAndSaysWhereItEnds) {
  MapFile map = emptyMap(3, 3, 2);
  map.tileSetNames = {"A.tileset"};
  put(map, 0, 1, 1, 0, 1);
  map.spawnPoints = {{0, "a", 1, 2}, {0, "b", 3, 4}};
  MapFile plain = map;
  map.lights.resize(2);
  map.emitters.resize(1);
  std::vector<uint8_t> bytes = bytesOf(map);
  // Colours, light count, drift and emitter count follow the spawn points.
  size_t spawnsEnd = bytesOf(plain).size() - 4 * 7;
  for (size_t length = 0; length <= bytes.size(); ++length) {
    MapFile back;
    ASSERT_EQ(parseMapFile(bytes.data(), length, &back), MapFileStatus::Ok) << length;
    EXPECT_LE(back.cells.size(), map.cells.size());
    EXPECT_LE(back.spawnPoints.size(), 2u);
    EXPECT_LE(back.lights.size(), 2u);
    MapFileEnd want = length == bytes.size() ? MapFileEnd::kWhole
                      : length < spawnsEnd   ? MapFileEnd::kCut
                                             : MapFileEnd::kCutInEffects;
    ASSERT_EQ(back.end, want) << length;
  }
  TileSetFile set;
  set.kinds = {{"k", 1, "t"}};
  set.pictures = {{"p", png(4, 4, 1)}};
  set.tiles = {tile(1, "p"), tile(2, "p")};
  std::vector<uint8_t> setBytes;
  ASSERT_TRUE(writeTileSetFile(set, &setBytes));
  for (size_t length = 0; length <= setBytes.size(); ++length) {
    TileSetFile back;
    ASSERT_TRUE(parseTileSetFile(setBytes.data(), length, &back));
    EXPECT_LE(back.tiles.size(), 2u);
    EXPECT_EQ(back.cut, length < setBytes.size()) << length;
  }
}

TEST(MapFile, PictureDimensionsFromHeaders) {
  int64_t w = 0, h = 0;
  std::vector<uint8_t> picture = png(37, 5, 0);
  ASSERT_TRUE(pictureDimensions(picture.data(), picture.size(), &w, &h));
  EXPECT_EQ(w, 37);
  EXPECT_EQ(h, 5);
  std::vector<uint8_t> bmp(54, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  bmp[14] = 40;
  bmp[18] = 3;
  int32_t negative = -9;
  std::memcpy(&bmp[22], &negative, 4);
  ASSERT_TRUE(pictureDimensions(bmp.data(), bmp.size(), &w, &h));
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 9);
  std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF, 0xC0, 0, 11, 8, 0, 20, 1, 44, 3};
  ASSERT_TRUE(pictureDimensions(jpeg.data(), jpeg.size(), &w, &h));
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 20);
  EXPECT_FALSE(pictureDimensions(jpeg.data(), 9, &w, &h));
  std::vector<uint8_t> junk = {1, 2, 3};
  EXPECT_FALSE(pictureDimensions(junk.data(), junk.size(), &w, &h));
}

// ---- Loading -------------------------------------------------------------------------------

TEST_F(MapTest, ZeroSizesGiveOneCellOfOneLayer) {
  saveGround();
  MapFile map = emptyMap(1, 1, 1);
  map.tileSetNames = {"Ground.tileset"};
  put(map, 0, 0, 0, 0, 1);
  saveMap("One", bytesOf(map));
  ASSERT_TRUE(load("One"));
  EXPECT_EQ(mapColumns(), 1);
  EXPECT_EQ(mapRows(), 1);
  EXPECT_EQ(mapLayers(), 1);
  EXPECT_EQ(mapHeader().layerOpacity, std::vector<uint8_t>{255});
  EXPECT_EQ(mapHeader().pixelWidth, 96);
  ASSERT_NE(mapCell(0, 0, 0).tile, nullptr);
  EXPECT_EQ(mapCell(0, 1, 0).tile, nullptr);   // outside
  EXPECT_EQ(mapCell(-1, 0, 0).tile, nullptr);
  EXPECT_EQ(world.map.solid.columns(), 1);
}

TEST_F(MapTest, CellsResolveTilesRotationsAndTheSolidGrid) {
  saveGround();
  MapFile map = emptyMap(4, 3, 4);
  map.tileSetNames = {"Ground.tileset"};
  put(map, 0, 3, 2, 0, 1, 90);
  put(map, 2, 1, 1, 0, 2);  // terrain 1 on layer 2 ...
  put(map, 3, 1, 1, 0, 1);  // ... and terrain 0 on layer 3 at the same place
  put(map, 1, 2, 0, 0, 42);  // no such tile
  put(map, 1, 0, 0, 5, 1);   // no such tile set
  saveMap("Cells", bytesOf(map));
  ASSERT_TRUE(load("Cells"));
  EXPECT_EQ(world.map.solid.get(1, 1), 1);
  EXPECT_EQ(world.map.solid.get(3, 2), 0);
  EXPECT_EQ(mapCell(0, 3, 2).rotation, 90);
  EXPECT_EQ(mapCell(0, 3, 2).tile->pictureName, "Floor");
  EXPECT_NE(mapCell(0, 3, 2).tile->picture, 0u);
  const MapCell& missing = mapCell(1, 2, 0);
  EXPECT_EQ(missing.tile, nullptr);
  EXPECT_EQ(missing.tileNumber, 42);
  EXPECT_EQ(mapCell(1, 0, 0).tile, nullptr);
  EXPECT_EQ(mapCell(1, 0, 0).tileSetNumber, 5);
  EXPECT_EQ(mapHeader().layerOpacity.size(), 4u);
  EXPECT_EQ(mapHeader().pixelHeight, 3 * 96);
}

TEST_F(MapTest, LaterPositiveTerrainOverwritesAndOthersLeaveIt) {
  TileSetFile set;
  set.pictures = {{"P", png(96, 96, 1)}};
  set.tiles = {tile(1, "P", 3), tile(2, "P", 1), tile(3, "P", -4), tile(4, "P", 0x102)};
  saveTileSet("T.tileset", set);
  MapFile map = emptyMap(3, 1, 3);
  map.tileSetNames = {"T.tileset"};
  put(map, 0, 0, 0, 0, 1);
  put(map, 1, 0, 0, 0, 2);
  put(map, 2, 0, 0, 0, 3);
  put(map, 0, 1, 0, 0, 4);  // the low byte of the value
  saveMap("Terrain", bytesOf(map));
  ASSERT_TRUE(load("Terrain"));
  EXPECT_EQ(world.map.solid.get(0, 0), 1);
  EXPECT_EQ(world.map.solid.get(1, 0), 2);
  EXPECT_EQ(world.map.solid.get(2, 0), 0);
}

TEST_F(MapTest, TileSetsSharePicturesByNameAndOnlyTheFirstSetsTheSize) {
  TileSetFile first;
  first.tileWidth = 64;
  first.tileHeight = 48;
  first.kinds = {{"Shared", 1, "first"}};
  first.pictures = {{"Shared", png(64, 48, 10)}};
  first.tiles = {tile(1, "Shared")};
  saveTileSet("First.tileset", first);
  TileSetFile second;
  second.tileWidth = 32;
  second.tileHeight = 32;
  second.kinds = {{"Shared", 2, "second"}};
  second.pictures = {{"Shared", png(32, 32, 250)}};
  second.tiles = {tile(1, "Shared"), tile(1, "Other"), tile(2, "Shared")};
  saveTileSet("Second.tileset", second);
  MapFile map = emptyMap(5, 2, 1);
  map.tileSetNames = {"First.tileset", "Second.tileset"};
  put(map, 0, 0, 0, 0, 1);
  put(map, 0, 1, 0, 1, 1);
  saveMap("Shared", bytesOf(map));
  ASSERT_TRUE(load("Shared"));

  EXPECT_EQ(world.map.tileWidth, 64);
  EXPECT_EQ(world.map.tileHeight, 48);
  EXPECT_EQ(mapHeader().pixelWidth, 5 * 64);
  EXPECT_EQ(tilePictureCount(), 1u);
  EXPECT_EQ(findTilePicture("Shared")->bytes, first.pictures[0].bytes);
  EXPECT_EQ(findTileKind("Shared")->text, "first");
  const Tile* a = findTile(0, 1);
  const Tile* b = findTile(1, 1);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->picture, b->picture);
  EXPECT_EQ(rt::sprite3DWidth(b->picture), 64);
  EXPECT_EQ(b->pictureName, "Shared");  // the first tile 1 of the set wins
  EXPECT_EQ(findTileSet(1)->tiles.count(), 2u);
}

// What cannot be played is refused, and the map loaded before stays as it was.
class RefusedMapTest : public MapTest {
 protected:
  void SetUp() override {
    MapTest::SetUp();
    saveGround();
    MapFile map = emptyMap(3, 2, 1);
    map.tileSetNames = {"Ground.tileset"};
    put(map, 0, 1, 1, 0, 2);
    map.spawnPoints = {{0, "", 10, 10}};
    saveMap("Good", bytesOf(map));
    ASSERT_TRUE(load("Good"));
  }
  void expectGoodMapStays() {
    EXPECT_EQ(mapColumns(), 3);
    EXPECT_EQ(tileSetCount(), 1u);
    EXPECT_EQ(mapHeader().spawnPoints.size(), 1u);
    EXPECT_EQ(world.map.solid.get(1, 1), 1);
    EXPECT_NE(mapCell(0, 1, 1).tile, nullptr);
    EXPECT_NE(findTilePicture("Floor")->sprite3D, 0u);
  }
  // A 3 x 3 map of walls on the tile sets given, with a spawn point and a light.
  std::vector<uint8_t> wallsOn(const std::vector<std::string>& tileSets) {
    MapFile map = emptyMap(3, 3, 1);
    map.tileSetNames = tileSets;
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) put(map, 0, column, row, 0, 2);
    }
    map.spawnPoints = {{0, "", 10, 10}};
    map.lights.resize(1);
    return bytesOf(map);
  }
};

TEST_F(RefusedMapTest, MissingCutOrTooLargeMaps) {
  std::vector<uint8_t> huge = bytesOf(emptyMap(1, 1, 1));
  int32_t columns = std::numeric_limits<int32_t>::max();
  std::memcpy(&huge[std::string("Test\r\n\r\n\r\n").size()], &columns, 4);
  saveMap("Huge", huge);
  saveMap("Empty", {});
  std::vector<uint8_t> walls = wallsOn({"Ground.tileset"});
  size_t header = std::string("Test\r\n\r\n\r\n").size() + 13 + 4 +
                  std::string("Ground.tileset\r\n").size();
  saveMap("CutInCells", std::vector<uint8_t>(walls.begin(), walls.begin() + header + 11 * 4 + 5));
  // The spawn point's value, name and x are there, its y is not.
  size_t spawnsEnd = header + 11 * 9 + 4 + 4 + 2 + 8;
  saveMap("CutInSpawns", std::vector<uint8_t>(walls.begin(), walls.begin() + spawnsEnd - 2));
  for (const char* name : {"Huge", "Empty", "CutInCells", "CutInSpawns", "Absent", "",
                           "../Maps/Good"}) {
    EXPECT_FALSE(load(name)) << name;
    expectGoodMapStays();
  }
  // Cut in its effects: the floor and the spawn points are whole, so it is played without them.
  saveMap("CutInEffects", std::vector<uint8_t>(walls.begin(), walls.end() - 10));
  ASSERT_TRUE(load("CutInEffects"));
  EXPECT_EQ(mapHeader().spawnPoints.size(), 1u);
  EXPECT_EQ(world.map.solid.get(2, 2), 1);
}

TEST_F(RefusedMapTest, TileSetsMissingCutOrAbsurd) {
  std::string ground = test::readFile(dir.file("Data/TileSets/Ground.tileset"));
  test::writeFile(dir.file("Data/TileSets/Cut.tileset"), ground.substr(0, ground.size() - 3));
  test::writeFile(dir.file("Data/TileSets/Garbage.tileset"), std::string(3000, '\x9c'));
  test::writeFile(dir.file("Data/TileSets/Empty.tileset"), std::string());
  for (int size : {0, 4, 5000}) {
    TileSetFile set;
    set.tileWidth = set.tileHeight = size;
    set.pictures = {{"Odd", png(8, 8, 1)}};
    set.tiles = {tile(2, "Odd", 1)};
    saveTileSet("Size" + std::to_string(size) + ".tileset", set);
  }
  test::writeFile(dir.file("Data/Maps/Evil.map"), std::string("x"));
  std::vector<std::vector<std::string>> broken;
  for (const char* tileSet : {"Missing.tileset", "Cut.tileset", "Garbage.tileset",
                              "Empty.tileset", "../Maps/Evil.map", "Sub/Ground.tileset"}) {
    broken.push_back({tileSet});
    broken.push_back({"Ground.tileset", tileSet});  // any one of them refuses the map
  }
  // Only the first tile set gives the cell size.
  for (const char* tileSet : {"Size0.tileset", "Size4.tileset", "Size5000.tileset"}) {
    broken.push_back({tileSet, "Ground.tileset"});
  }
  for (const std::vector<std::string>& sets : broken) {
    saveMap("Broken", wallsOn(sets));
    EXPECT_FALSE(load("Broken")) << sets.back();
    expectGoodMapStays();
  }
  saveMap("SecondSize", wallsOn({"Ground.tileset", "Size0.tileset"}));
  ASSERT_TRUE(load("SecondSize"));
  EXPECT_EQ(world.map.tileWidth, 96);
  EXPECT_FALSE(loadTileSet("Data\\TileSets\\", "..\\Maps\\Evil.map", false));
  EXPECT_FALSE(loadTileSet("Data\\TileSets\\", "", false));
}

TEST_F(MapTest, EveryLayerTheFormatAllows) {
  saveGround();
  MapFile map = emptyMap(2, 2, 256);
  map.tileSetNames = {"Ground.tileset"};
  put(map, 200, 1, 0, 0, 2);
  put(map, 255, 1, 1, 0, 1);
  map.spawnPoints = {{0, "", 10, 10}};
  saveMap("Deep", bytesOf(map));
  ASSERT_TRUE(load("Deep"));
  EXPECT_EQ(mapLayers(), 256);
  EXPECT_EQ(mapHeader().layerOpacity.size(), 256u);
  EXPECT_EQ(world.map.solid.get(1, 0), 1);
  EXPECT_NE(mapCell(255, 1, 1).tile, nullptr);
}

TEST_F(MapTest, ShortTextsAreCutAndPicturesTooLargeStayUndecoded) {
  TileSetFile set;
  set.kinds = {{"Long", 1, std::string(100, 'k')}};
  set.pictures = {{"Wide", png(1025, 2, 5)}, {"Fine", png(96, 96, 5)}};
  set.tiles = {tile(1, "Wide"), tile(2, "Fine"), tile(3, "Nowhere")};
  saveTileSet("Set.tileset", set);
  MapFile map = emptyMap(1, 1, 1);
  map.tileSetNames = {"Set.tileset"};
  map.spawnPoints = {{0, std::string(100, 'n'), 0, 0}};
  saveMap("Texts", bytesOf(map));
  ASSERT_TRUE(load("Texts"));
  EXPECT_EQ(mapHeader().spawnPoints[0].name.size(), 64u);
  EXPECT_EQ(findTileKind("Long")->text.size(), 64u);
  ASSERT_NE(findTilePicture("Wide"), nullptr);
  EXPECT_EQ(findTilePicture("Wide")->sprite3D, 0u);
  EXPECT_EQ(findTile(0, 1)->picture, 0u);
  EXPECT_NE(findTile(0, 2)->picture, 0u);
  EXPECT_EQ(findTile(0, 3)->picture, 0u);
}

TEST_F(MapTest, PreviewsAreSmallPictures) {
  saveGround();
  MapFile map = emptyMap(1, 1, 1);
  map.tileSetNames = {"Ground.tileset"};
  saveMap("Preview", bytesOf(map));
  ASSERT_TRUE(loadMap("Data\\Maps\\Preview", "Data\\TileSets\\", true));
  const Tile* floor = findTile(0, 1);
  ASSERT_NE(floor->preview, 0u);
  EXPECT_EQ(rt::sprite3DWidth(floor->preview), kTilePreviewSize);
  EXPECT_EQ(rt::sprite3DWidth(floor->picture), 96);
}

TEST_F(MapTest, LoadingKeepsTheMapsLightsAndEmittersAsReadAndReportsIt) {
  test::EventLog events;
  MapFile map = emptyMap(2, 2, 1);
  map.ambientColour = 0x382018;
  map.overlayColour = 5;
  MapLight torch;
  torch.colour = 0x60B0FF;
  torch.intensity = std::numeric_limits<float>::quiet_NaN();
  MapLight odd = torch;
  odd.shape = 7;
  map.lights = {torch, odd};
  MapEmitter emitter;
  emitter.textureKey = " Spark ";
  map.emitters = {emitter};
  map.driftEnabled = 1;
  map.driftX = std::numeric_limits<float>::infinity();
  saveMap("Lit", bytesOf(map));
  ASSERT_TRUE(load("Lit"));
  // The presentation judges the values; the map keeps them as the file has them.
  const MapEffects& e = world.map.effects;
  EXPECT_EQ(e.ambientColour, 0x382018u);
  EXPECT_EQ(e.overlayColour, 5);
  ASSERT_EQ(e.lights.size(), 2u);
  EXPECT_EQ(e.lights[1].shape, 7);
  ASSERT_EQ(e.emitters.size(), 1u);
  EXPECT_EQ(e.emitters[0].textureKey, " Spark ");
  EXPECT_TRUE(e.driftEnabled);
  EXPECT_TRUE(std::isinf(e.driftX));
  EXPECT_EQ(events.count(WorldEventType::kMapLoaded), 1u);
  EXPECT_FALSE(load("Missing"));
  EXPECT_EQ(events.count(WorldEventType::kMapLoaded), 1u);
  EXPECT_EQ(world.map.effects.lights.size(), 2u);
}

// ---- Boxes ---------------------------------------------------------------------------------

TEST_F(MapTest, BoxesKeepAwayFromSpawnsWallsAndBareCells) {
  saveGround();
  MapFile map = emptyMap(12, 10, 2);
  map.tileSetNames = {"Ground.tileset"};
  for (int row = 0; row < 10; ++row) {
    for (int column = 0; column < 12; ++column) {
      int32_t number = (column + row) % 7 == 0 ? 2 : 1;
      if (column == 5) number = 3;          // a picture that does not decode
      if (row == 8 && column > 6) continue;  // no ground tile
      put(map, 0, column, row, 0, number);
    }
  }
  put(map, 1, 9, 3, 0, 2);  // a wall on an upper layer
  map.spawnPoints = {{0, "", 48, 48}, {0, "", 700, 500}, {0, "", 1100, 140}};
  saveMap("Boxes", bytesOf(map));
  ASSERT_TRUE(load("Boxes"));
  ASSERT_EQ(world.map.solid.get(9, 3), 1);

  int boxes = 0;
  for (uint64_t seed = 1; seed <= 200; ++seed) {
    rt::randomSeed(seed);
    generateBoxes(true);
    ASSERT_EQ(world.round.box.columns(), 12);
    ASSERT_EQ(world.round.itemAt.rows(), 10);
    for (int row = 0; row < 10; ++row) {
      for (int column = 0; column < 12; ++column) {
        if (!world.round.box.get(column, row)) continue;
        ++boxes;
        ASSERT_EQ(world.map.solid.get(column, row), 0) << column << "," << row;
        const MapCell& ground = mapCell(0, column, row);
        ASSERT_TRUE(ground.tile && ground.tile->picture) << column << "," << row;
        for (const SpawnPoint& p : mapHeader().spawnPoints) {
          double dx = p.x - (column * 96 + 48), dy = p.y - (row * 96 + 48);
          ASSERT_GE(dx * dx + dy * dy, 128.0 * 128.0) << column << "," << row;
        }
      }
    }
  }
  EXPECT_GT(boxes, 200 * 40);  // most free cells get one
  generateBoxes(false);
  for (int row = 0; row < 10; ++row) {
    for (int column = 0; column < 12; ++column) EXPECT_EQ(world.round.box.get(column, row), 0);
  }
}

TEST_F(MapTest, SpawnPointsWrapForMorePlayers) {
  EXPECT_EQ(spawnPointFor(0), nullptr);
  MapFile map = emptyMap(1, 1, 1);
  map.spawnPoints = {{0, "a", 1, 1}, {0, "b", 2, 2}};
  saveMap("Two", bytesOf(map));
  ASSERT_TRUE(load("Two"));
  EXPECT_EQ(spawnPointFor(1)->name, "b");
  EXPECT_EQ(spawnPointFor(2)->name, "a");
}

TEST_F(MapTest, ClearMapForgetsEverything) {
  saveGround();
  MapFile map = emptyMap(4, 4, 2);
  map.tileSetNames = {"Ground.tileset"};
  put(map, 0, 0, 0, 0, 2);
  saveMap("Clear", bytesOf(map));
  ASSERT_TRUE(load("Clear"));
  generateBoxes(true);
  clearMap();
  EXPECT_EQ(mapColumns(), 1);
  EXPECT_EQ(mapLayers(), 1);
  EXPECT_EQ(tileSetCount(), 0u);
  EXPECT_EQ(tilePictureCount(), 0u);
  EXPECT_EQ(mapCell(0, 0, 0).tile, nullptr);
  EXPECT_EQ(world.map.solid.columns(), 1);
  EXPECT_EQ(world.round.box.columns(), 1);
}

// ---- Names and the map list ----------------------------------------------------------------

TEST(MapNames, OnlyPlainNamesAreSafe) {
  for (const char* good : {"Arena", "Night Keep", "a.b", "x-1"}) EXPECT_TRUE(isSafeMapName(good)) << good;
  for (const char* bad : {"", "a/b", "a\\b", "..", "..x", "C:x", " lead", "trail ", "tab\tx"}) {
    EXPECT_FALSE(isSafeMapName(bad)) << bad;
  }
  EXPECT_TRUE(isSafeMapName(std::string(64, 'm')));
  EXPECT_FALSE(isSafeMapName(std::string(65, 'm')));
  EXPECT_EQ(mapFilePath("Arena"), "Data\\Maps\\Arena.map");
}

TEST_F(MapTest, SummaryReadsOnlyTheHead) {
  MapFile map = emptyMap(20, 15, 3);
  map.text1 = "Title";
  map.text3 = "third";
  map.headerValue = 6;
  std::vector<uint8_t> bytes = bytesOf(map);
  bytes.erase(bytes.end() - 200, bytes.end());  // the rest is not needed
  saveMap("Listed", bytes);
  MapSummary summary;
  ASSERT_TRUE(readMapSummary(mapFilePath("Listed"), &summary));
  EXPECT_EQ(summary.text1, "Title");
  EXPECT_EQ(summary.text3, "third");
  EXPECT_EQ(summary.lastColumn, 19);
  EXPECT_EQ(summary.lastRow, 14);
  EXPECT_EQ(summary.lastLayer, 2);
  EXPECT_EQ(summary.headerValue, 6);
  EXPECT_FALSE(readMapSummary(mapFilePath("Absent"), &summary));
}

// ---- The maps we ship ----------------------------------------------------------------------

bool dark(uint32_t colour) {
  return (colour & 0xFF) < 0x40 && (colour >> 8 & 0xFF) < 0x40 && (colour >> 16 & 0xFF) < 0x60;
}

TEST_F(MapTest, ShippedMapsLoadAndOfferRoomToPlay) {
  rt::setDataRoot(test::binaryDir());
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(test::binaryDir() + "/Data/Maps")) {
    if (entry.path().extension() == ".map") names.insert(entry.path().stem().string());
  }
  ASSERT_GE(names.size(), 4u);
  bool scrolls = false, night = false;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(loadMapNamed(name));
    const MapHeader& h = mapHeader();
    EXPECT_GE(h.headerValue, 4);
    EXPECT_LE(h.headerValue, 8);
    EXPECT_GE(h.spawnPoints.size(), 5u);
    EXPECT_GE(h.spawnPoints.size(), static_cast<size_t>(h.headerValue));
    EXPECT_EQ(tileSetCount(), h.tileSetNames.size());
    std::vector<uint8_t> bytes;
    MapFile file;
    ASSERT_TRUE(rt::readWholeFile(mapFilePath(name), &bytes, kMaxMapFileBytes));
    ASSERT_EQ(parseMapFile(bytes.data(), bytes.size(), &file), MapFileStatus::Ok);
    for (int layer = 0; layer < mapLayers(); ++layer) {
      for (int row = 0; row < mapRows(); ++row) {
        for (int column = 0; column < mapColumns(); ++column) {
          const MapCell& cell = mapCell(layer, column, row);
          bool present = file.cells[mapCellIndex(file, layer, column, row)].present;
          ASSERT_TRUE(layer > 0 || present) << "bare ground at " << column << "," << row;
          if (!present) continue;
          ASSERT_TRUE(cell.tile && cell.tile->picture) << column << "," << row;
        }
      }
    }
    for (const SpawnPoint& p : h.spawnPoints) {
      int32_t column = cellX(static_cast<float>(p.x)), row = cellY(static_cast<float>(p.y));
      EXPECT_EQ(world.map.solid.get(column, row), 0);
    }
    generateBoxes(true);
    int boxes = 0;
    for (int row = 0; row < mapRows(); ++row) {
      for (int column = 0; column < mapColumns(); ++column) boxes += world.round.box.get(column, row);
    }
    EXPECT_GT(boxes, 10);
    scrolls = scrolls || (h.pixelWidth > 2 * 1024 && h.pixelHeight > 2 * 768);
    night = night || (dark(world.map.effects.ambientColour) && world.map.effects.lights.size() >= 4);
  }
  EXPECT_TRUE(scrolls) << "no map large enough to scroll";
  EXPECT_TRUE(night) << "no night map";
}

}  // namespace
