// The map compiler: tile-set and map sources into the binary files, the choices it makes per cell
// (neighbour-following groups, shadows, grass edges), and the file:line complaints that stop a
// broken source from becoming a map.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/screen.h"
#include "support/test_support.h"
#include "world/map_file.h"

namespace {

std::string mapc() {
  return "ASAN_OPTIONS=detect_leaks=0 " + test::binaryDir() + "/tools/mapc/mapc";
}

void writePng(const std::string& path, int size) {
  rt::Pixels pixels;
  pixels.width = pixels.height = size;
  pixels.rgba.assign(static_cast<size_t>(size) * size * 4, 200);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(rt::encodePng(pixels, &bytes));
  test::writeFile(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

const char* kTiles = R"(// a small set
header "Test set"
size 32 32
kind Ground 0 "Open"
kind Wall 1 "Solid"
tile 1 floor "Floor" kind=Ground
tile 2 post "Floor" kind=Wall terrain=1
group wall 100 16 "Wall ##" kind=Wall terrain=1
group shade 200 8 "Wall ##"
group edge 300 16 "Wall ##"
)";

// Walls round a 4 x 3 room; the post stands inside.
const char* kMap = R"(title "Room"
players 4
size 6 5
layers 3
tileset T Test
ambient #808080
legend
  # T:wall
  . T:floor
  o T:post
  - empty
end
layer 0
######
#....#
#.o..#
#....#
######
end
shadows layer=2 from=# tiles=T:shade
fringe layer=1 from=o tiles=T:edge
spawn at=1,1 name="Corner"
spawn pixel=150,100 value=3
light point on=o size=200 colour=#ff8000 flicker=0.5
emitter at=4,3 texture=Spark angle=250..290 blend=5,2
)";

class Mapc : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 16; ++i) {
      char name[32];
      snprintf(name, sizeof name, "Wall %02d.png", i);
      writePng(dir.file(name), 32);
    }
    writePng(dir.file("Floor.png"), 32);
    test::writeFile(dir.file("Test.tiles"), std::string(kTiles));
  }

  // Runs mapc with the arguments; returns its status and what it said.
  int run(const std::string& arguments, std::string* said = nullptr) {
    return test::runCommand(mapc() + " " + arguments + " 2>&1", said);
  }

  MapFile compiled(const std::string& source) {
    std::string said;
    EXPECT_EQ(run("map " + sourceArgs(source), &said), 0) << said;
    std::string bytes = test::readFile(dir.file("Map.map"));
    MapFile map;
    EXPECT_EQ(parseMapFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &map),
              MapFileStatus::Ok);
    return map;
  }

  std::string sourceArgs(const std::string& source) {
    test::writeFile(dir.file("Map.txt"), source);
    return dir.file("Map.txt") + " " + dir.path() + " " + dir.file("Map.map");
  }

  // Compiling fails with a complaint that names the source and the line.
  void refused(const std::string& source, const std::string& where) {
    std::string said;
    EXPECT_NE(run("map " + sourceArgs(source), &said), 0);
    EXPECT_NE(said.find(where), std::string::npos) << said;
  }

  test::TempDir dir;
};

TEST_F(Mapc, TileSetCarriesItsPicturesOnce) {
  std::string said;
  ASSERT_EQ(run("tileset " + dir.file("Test.tiles") + " " + dir.path() + " " + dir.file("Test.tileset"), &said), 0) << said;
  std::string bytes = test::readFile(dir.file("Test.tileset"));
  TileSetFile set;
  ASSERT_TRUE(parseTileSetFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &set));
  EXPECT_EQ(set.header, "Test set");
  EXPECT_EQ(set.tileWidth, 32);
  EXPECT_EQ(set.tiles.size(), 2u + 16 + 8 + 16);
  EXPECT_EQ(set.pictures.size(), 17u);  // Floor and the sixteen walls, shared by the groups
  EXPECT_EQ(set.tiles[1].terrain, 1);
  EXPECT_EQ(set.tiles[2].pictureName, "Wall 00");
  EXPECT_EQ(set.kinds.size(), 2u);

  writePng(dir.file("Floor.png"), 48);
  EXPECT_NE(run("tileset " + dir.file("Test.tiles") + " " + dir.path() + " " + dir.file("Bad.tileset"), &said), 0);
  EXPECT_NE(said.find("not of the tile size"), std::string::npos) << said;
}

TEST_F(Mapc, MapCellsFollowTheirNeighbours) {
  MapFile map = compiled(kMap);
  ASSERT_EQ(map.cells.size(), 6u * 5 * 3);
  EXPECT_EQ(map.text1, "Room");
  EXPECT_EQ(map.headerValue, 4);
  EXPECT_EQ(map.lastColumn, 5);
  EXPECT_EQ(map.lastLayer, 2);
  EXPECT_EQ(map.tileSetNames, std::vector<std::string>{"Test.tileset"});
  EXPECT_EQ(map.ambientColour, 0x808080u);
  auto cell = [&](int layer, int column, int row) { return map.cells[mapCellIndex(map, layer, column, row)]; };
  // Corners and edges of the ring: outside the map counts as wall.
  EXPECT_EQ(cell(0, 0, 0).tile, 100 + 15);
  EXPECT_EQ(cell(0, 2, 0).tile, 100 + 1 + 2 + 8);  // open to the south
  EXPECT_EQ(cell(0, 0, 2).tile, 100 + 1 + 4 + 8);  // open to the east
  EXPECT_EQ(cell(0, 2, 2).tile, 2);
  // Shadows fall on open cells east and south of the walls, not on walls.
  EXPECT_EQ(cell(2, 1, 1).tile, 200 + 1 + 2 + 4);
  EXPECT_EQ(cell(2, 2, 1).tile, 200 + 2 + 4);
  EXPECT_EQ(cell(2, 1, 2).tile, 200 + 1 + 4);
  EXPECT_FALSE(cell(2, 2, 2).present);
  EXPECT_FALSE(cell(2, 0, 0).present);
  EXPECT_FALSE(cell(2, 3, 2).present);
  // Edges spill from the post onto its four neighbours, not onto the post itself.
  EXPECT_EQ(cell(1, 3, 2).tile, 300 + 8);
  EXPECT_EQ(cell(1, 2, 1).tile, 300 + 4);
  EXPECT_FALSE(cell(1, 2, 2).present);
  ASSERT_EQ(map.spawnPoints.size(), 2u);
  EXPECT_EQ(map.spawnPoints[0].x, 48);
  EXPECT_EQ(map.spawnPoints[0].name, "Corner");
  EXPECT_EQ(map.spawnPoints[1].value, 3);
  ASSERT_EQ(map.lights.size(), 1u);
  EXPECT_EQ(map.lights[0].x, 2 * 32 + 16 - 100);  // top-left of a light centred on the post
  EXPECT_EQ(map.lights[0].colour, 0x0080FFu);
  EXPECT_EQ(map.lights[0].flicker, 1);
  EXPECT_EQ(map.lights[0].flickerInterval, 100);
  ASSERT_EQ(map.emitters.size(), 1u);
  EXPECT_EQ(map.emitters[0].x, 4 * 32 + 16);
  EXPECT_EQ(map.emitters[0].minAngle, 250);
  EXPECT_EQ(map.emitters[0].destinationBlend, 2);
}

TEST_F(Mapc, BrokenSourcesAreRefusedWithTheirLine) {
  std::string map = kMap;
  auto with = [&](const std::string& from, const std::string& to) {
    std::string changed = map;
    changed.replace(changed.find(from), from.size(), to);
    return changed;
  };
  refused(with("#....#\n######", "#....#\n#####"), "Map.txt:13: row 4 of layer 0 is 5 characters wide");
  refused(with("#.o..#", "#.q..#"), "Map.txt:16: character q is not in the legend");
  refused(with("spawn at=1,1", "spawn at=0,0"), "Map.txt:22: spawn point not on open ground");
  refused(with("T:post", "T:nothing"), "Map.txt:10: no tile or group \"nothing\"");
  refused(with("ambient #808080", "ambient red"), "Map.txt:6: ambient takes a colour");
  refused(with("tiles=T:shade", "tiles=T:floor"), "Map.txt:20: tiles= must name a group");
  refused(with("size 6 5", "size 6 4"), "layer 0 has 5 rows, not 4");
  refused(with("players 4\n", ""), "no players statement");
  refused(with("flicker=0.5", "flicker=2"), "Map.txt:24: flicker must be a number");
  refused(with("end\nshadows", "shadows"), "Map.txt:13: no \"end\" for this block");
  refused(with("title \"Room\"", "title \"Room"), "Map.txt:1: unclosed quote");
}

}  // namespace
