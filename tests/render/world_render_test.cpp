// The camera and the drawing of the world, checked through the null screen's draw recorder: the
// visible range, tile layers from a real map file, decals and their fade, items, players and
// name tags; and a headless run of --try-map.
#include "render/world_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "data/config.h"
#include "data/resources.h"
#include "render/animation.h"
#include "render/animation_file.h"
#include "render/lights.h"
#include "render/typeface.h"
#include "render/typeface_file.h"
#include "render/world_effects.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "world/items.h"
#include "world/map.h"
#include "world/map_file.h"
#include "world/rounds.h"
#include "world/world.h"

namespace {

std::vector<uint8_t> png(int width, int height) {
  rt::Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.rgba.assign(static_cast<size_t>(width * height * 4), 200);
  std::vector<uint8_t> out;
  EXPECT_TRUE(rt::encodePng(pixels, &out));
  return out;
}

void makeSprite(int32_t number, int width, int height) {
  std::vector<uint8_t> bytes = png(width, height);
  ASSERT_NE(rt::createSpriteFromMemory(number, bytes.data(), bytes.size()), 0u);
  ASSERT_NE(rt::createSprite3D(number, static_cast<uint32_t>(number)), 0u);
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  test::writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// A map of columns x rows cells of tileSize pixels: layer 0 covered with tile 1, and on layer 1
// a single tile 2 at (2, 1). One spawn point at the centre of (1, 1).
void writeMap(const std::string& dataFolder, const std::string& name, int columns, int rows,
              int tileSize) {
  TileSetFile tiles;
  tiles.header = "test tiles";
  tiles.tileWidth = tiles.tileHeight = tileSize;
  tiles.pictures = {{"Floor", png(tileSize, tileSize)}, {"Rug", png(tileSize, tileSize)}};
  tiles.tiles = {{1, "Floor", "", 0, 0}, {2, "Rug", "", 0, 0}};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(writeTileSetFile(tiles, &bytes));
  writeBytes(dataFolder + "/Data/TileSets/Test.set", bytes);

  MapFile map;
  map.text1 = name;
  map.lastColumn = columns - 1;
  map.lastRow = rows - 1;
  map.lastLayer = 1;
  map.tileSetNames = {"Test.set"};
  map.cells.resize(static_cast<size_t>(2 * columns * rows));
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      map.cells[mapCellIndex(map, 0, column, row)] = {true, 0, 1, 0};
    }
  }
  map.cells[mapCellIndex(map, 1, 2, 1)] = {true, 0, 2, 90};
  map.spawnPoints = {SpawnPoint{0, "One", tileSize * 3 / 2, tileSize * 3 / 2}};
  ASSERT_TRUE(writeMapFile(map, &bytes));
  writeBytes(dataFolder + "/Data/Maps/" + name + ".map", bytes);
}

class WorldRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDrawRecorder(&drawn);
    config = Config{};
    rt::frame.now = 10000;
    world = World{};
    rt::setDataRoot(folder.path());
    writeMap(folder.path(), "Plain", 40, 30, 96);
    addWorldListener(ShowWorldEvent);
    ASSERT_TRUE(loadMapNamed("Plain"));
    generateBoxes(false);
  }
  void TearDown() override {
    for (Player& p : world.players) {
      WorldEvent gone{WorldEventType::kPlayerRemoved};
      gone.player = &p;
      notifyWorld(gone);
    }
    endMatchWorld();
    removeWorldListener(ShowWorldEvent);
    world = World{};
    rt::setDrawRecorder(nullptr);
    rt::shutdownScreenSystem();
  }

  Player* addPlayer(int32_t id, const std::string& name, float x, float y) {
    Player* p = world.players.append();
    p->id = id;
    setPlayerName(*p, name);
    p->x = x;
    p->y = y;
    p->colour = static_cast<int32_t>(playerColour(world.players.count() - 1));
    return p;
  }
  test::TempDir folder;
  std::vector<rt::DrawnQuad> drawn;
};

// ---- Visible range and tiles -------------------------------------------------------------

TEST_F(WorldRenderTest, TheVisibleRangeCoversTheScreenAndStaysOnTheMap) {
  world.camera.x = 100;
  world.camera.y = 200;
  ComputeVisibleRange();
  EXPECT_EQ(world.camera.firstColumn, 1);
  EXPECT_EQ(world.camera.lastColumn, 12);  // twelve columns of 96 pixels
  EXPECT_EQ(world.camera.firstRow, 2);
  EXPECT_EQ(world.camera.lastRow, 10);     // and nine rows
  drawn.clear();
  DrawTileLayer(0);
  EXPECT_EQ(drawn.size(), 12u * 9u);
  EXPECT_EQ(drawn[0].alpha, 255);

  world.camera.x = -10;  // the map's left edge 10 pixels right of the screen's
  world.camera.y = -300;
  ComputeVisibleRange();
  EXPECT_EQ(world.camera.firstColumn, 0);
  EXPECT_EQ(world.camera.firstRow, 0);
  drawn.clear();
  DrawTileLayer(0);
  EXPECT_FLOAT_EQ(drawn[0].corners[0].x, 10.0f);
  EXPECT_FLOAT_EQ(drawn[0].corners[0].y, 300.0f);

  world.camera.x = 40 * 96 - 200;
  world.camera.y = 30 * 96 - 100;
  ComputeVisibleRange();
  EXPECT_EQ(world.camera.lastColumn, 39);
  EXPECT_EQ(world.camera.lastRow, 29);

  // Cells that do not divide the screen: a partly shown bottom row is drawn too.
  clearMap();
  writeMap(folder.path(), "Wide", 20, 20, 100);
  ASSERT_TRUE(loadMapNamed("Wide"));
  world.camera.y = 50;  // 8 * 100 - 50 = 750 < 768
  ComputeVisibleRange();
  EXPECT_EQ(world.camera.lastRow, 8);
}

// ---- Decals and items --------------------------------------------------------------------

TEST_F(WorldRenderTest, ADecalPastItsTimeFadesAStepAFrameAndGoesAfterFive) {
  makeSprite(3, 96, 96);
  world.camera.x = 100;
  Decal* waiting = world.round.decals.append();
  *waiting = Decal{3, 0, 500.4f, 300.0f, 48, 48, rt::frame.now + 1000, 255};
  Decal* fading = world.round.decals.append();
  *fading = Decal{3, 45, 700.0f, 300.0f, 32, 32, rt::frame.now - 1, 5};
  for (int frame = 1; frame <= 4; ++frame) {
    drawn.clear();
    DrawDecals();
    EXPECT_EQ(fading->alpha, 5 - frame);
  }
  EXPECT_EQ(drawn[1].alpha, 2);  // drawn, then aged
  EXPECT_EQ(waiting->alpha, 255);
  EXPECT_NEAR(drawn[0].corners[0].x, std::round(500.4f - 100 - 48), 1e-3);
  EXPECT_NEAR(drawn[0].corners[2].x - drawn[0].corners[0].x, 96, 1e-3);
  DrawDecals();
  ASSERT_EQ(world.round.decals.count(), 1u);
  EXPECT_EQ(&world.round.decals.front(), waiting);
  rt::frame.now = 0xFFFFFFF0u;  // a fade time across the clock's wrap is not due early
  waiting->fadeAt = 0xFFFFFFF8u;
  DrawDecals();
  EXPECT_EQ(waiting->alpha, 255);
}

TEST_F(WorldRenderTest, AnItemGlowsUnderItsTintedAnimationAndBlendingIsRestored) {
  makeSprite(kSpriteGlow, 64, 64);
  makeSprite(kSpriteBox, 96, 96);
  AnimationFile file;
  file.width = file.height = 64;
  file.frames = {{100, png(8, 8)}};
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(WriteAnimationFile(file, &bytes));
  ASSERT_NE(CreateAnimationFromMemory(kAnimationTime, bytes), 0u);
  ASSERT_NE(createItem(4, 5 * 96 + 48, 3 * 96 + 48, 0), nullptr);  // "Bomb Time Decrease"
  world.camera.x = 100;
  world.camera.y = 40;
  ComputeVisibleRange();
  world.round.box.set(1, 1, 1);
  world.round.box.set(30, 25, 1);  // out of sight
  drawn.clear();
  DrawItems();
  DrawBoxes();
  ASSERT_EQ(drawn.size(), 3u);
  const rt::DrawnQuad &glow = drawn[0], &figure = drawn[1], &box = drawn[2];
  EXPECT_FLOAT_EQ(glow.corners[0].x, 5 * 96 + 48 - 100 - 48);
  EXPECT_FLOAT_EQ(glow.corners[2].x - glow.corners[0].x, 96);
  EXPECT_EQ(glow.alpha, 64);
  EXPECT_EQ(glow.destinationBlend, 6);
  EXPECT_FLOAT_EQ(figure.corners[0].x, 5 * 96 + 48 - 32 - 100);
  EXPECT_FLOAT_EQ(figure.corners[0].y, 3 * 96 + 48 - 32 - 40);
  EXPECT_EQ(figure.sourceBlend, 5);
  EXPECT_EQ(figure.destinationBlend, 2);
  EXPECT_EQ(figure.colours[0], 0x80C0FFu);  // 0xFFC080 with red in the low byte
  EXPECT_FLOAT_EQ(box.corners[0].x, 96 - 100);
  EXPECT_EQ(box.destinationBlend, 6);
  clearRound();
  FreeAnimation(kAnimationTime);
}

// ---- Players and name tags ---------------------------------------------------------------

TEST_F(WorldRenderTest, OnlyLivingPlayersAreDrawnTurningTowardTheirFacing) {
  makeSprite(kHairSprite, 32, 32);
  Player* alive = addPlayer(1, "Ann", 400, 300);
  addPlayer(2, "Ben", 600, 300)->dead = 1;
  addPlayer(3, "Cy", NAN, 300);
  alive->direction = 90;
  drawn.clear();
  DrawPlayers();
  ASSERT_EQ(drawn.size(), 1u);  // the hair; the body animations are not loaded here
  EXPECT_FLOAT_EQ(alive->bodyDirection, 10.0f);
  EXPECT_FLOAT_EQ(PlayerFigure(*alive).displayedAngle, 10.0f);
}

TEST_F(WorldRenderTest, NameTagsFloatOverTheOtherPlayersBracketedWhenDead) {
  TypefaceFile font;
  std::vector<uint8_t> picture = png(64, 16);
  font.picture = picture;
  int16_t x = 0;
  for (char c : std::string("[]ABCabc")) {
    font.glyphs.push_back({static_cast<uint8_t>(c), 0, 0, 8, 12, x, 0, 8, 16});
    x += 8;
  }
  ASSERT_NE(LoadTypefaceFromMemory(kFontNormal, WriteTypefaceFile(font)), 0u);
  world.localPlayer = addPlayer(1, "Abc", 100, 100);
  addPlayer(2, "Cab", 400, 300);
  addPlayer(3, "ab", 600, 300)->dead = 1;
  drawn.clear();
  DrawNameTags();
  ASSERT_EQ(drawn.size(), 3u + 4u);
  // Text sits half a pixel up and left, on the pixel grid of its picture.
  EXPECT_NEAR(drawn[0].corners[0].x, 400 - 12 - 0.5, 1e-3);  // 24 pixels wide, centred
  EXPECT_NEAR(drawn[0].corners[0].y, 300 - 64 - 0.5, 1e-3);
  EXPECT_EQ(drawn[0].alpha, 150);
  EXPECT_EQ(drawn[0].colours[0], 0x8080F0u);  // the second colour, 0xF08080, turned around
  EXPECT_EQ(drawn[3].alpha, 100);
  EXPECT_NEAR(drawn[3].corners[0].x, 600 - 16 - 0.5, 1e-3);
  world.localPlayer = nullptr;  // then everybody gets a tag
  drawn.clear();
  DrawNameTags();
  EXPECT_EQ(drawn.size(), 3u + 3u + 4u);
  FreeTypeface(kFontNormal);
}

// ---- Camera ------------------------------------------------------------------------------

TEST_F(WorldRenderTest, TheCameraFollowsTheLivingAndRoamsFreelyForTheDead) {
  Player* me = addPlayer(1, "Me", 1000.4f, 700.6f);
  world.localPlayer = me;
  world.camera.spectated = 2;
  UpdateCamera({.up = true});
  EXPECT_EQ(world.camera.x, 1000 - 512);
  EXPECT_EQ(world.camera.y, 701 - 384);
  EXPECT_EQ(world.camera.spectated, 0);
  me->dead = 1;
  config.freeCamera = 1;
  world.camera.x = 50;
  world.camera.y = 60;
  UpdateCamera({.up = true, .down = true});
  EXPECT_EQ(world.camera.y, 58);
  EXPECT_EQ(world.camera.x, 50);
  UpdateCamera({.left = true, .right = true});
  EXPECT_EQ(world.camera.x, 48);
  UpdateCamera({.down = true, .right = true, .fast = true});
  EXPECT_EQ(world.camera.x, 53);
  EXPECT_EQ(world.camera.y, 63);
  // "B" released: back to the local player.
  UpdateCamera({.recentre = true});
  EXPECT_EQ(world.camera.x, 1000 - 512);
  me->x = NAN;  // a position that is not a number leaves a usable camera
  UpdateCamera({.recentre = true});
  EXPECT_EQ(world.camera.x, 0);
}

TEST_F(WorldRenderTest, SpectatingStepsThroughEveryPlayerAndWraps) {
  Player* me = addPlayer(1, "Me", 500, 500);
  addPlayer(2, "Two", 1500, 900);
  Player* three = addPlayer(3, "Three", 2500, 1300);
  three->dead = 1;  // the dead are shown too
  me->dead = 1;
  world.localPlayer = me;
  config.freeCamera = 0;
  UpdateCamera({});
  EXPECT_EQ(world.camera.x, 500 - 512);
  const int expected[] = {1500, 2500, 500, 1500};
  for (int x : expected) {
    UpdateCamera({.next = true});
    EXPECT_EQ(world.camera.x, x - 512);
  }
  // A player who left: the index starts over.
  world.camera.spectated = 7;
  UpdateCamera({});
  EXPECT_EQ(world.camera.spectated, 0);
}

// ---- The whole program -------------------------------------------------------------------

TEST(TryMap, WalksPlacesABarrelAndSeesItExplodeHeadless) {
  std::string game = test::binaryDir() + "/powderbox";
  if (!std::filesystem::exists(game)) GTEST_SKIP() << "powderbox not built";
  test::TempDir folder;
  writeMap(folder.path(), "Walk", 12, 10, 96);
  std::string script = folder.file("input.txt");
  test::writeFile(script,
                  "300 key down 205\n"   // right, for a while
                  "700 key up 205\n"
                  "800 key down 44\n"    // a barrel with Z
                  "1000 key up 44\n"
                  "1100 key down 208\n"  // then away down
                  "1800 key up 208\n"
                  "4600 close\n");
  std::string log = folder.file("game.log");
  std::string command = "cd " + folder.path() + " && APPDATA=" + folder.path() +
                        " ALSOFT_DRIVERS=null POWDERBOX_SEED=1 " + game +
                        " --headless --data " + folder.path() + " --try-map Walk --log " + log +
                        " --input-script " + script + " 2>&1";
  std::string output;
  EXPECT_EQ(test::runCommand(command, &output), 0) << output;
  std::string lines = test::readFile(log);
  EXPECT_NE(lines.find("TRYMAP round 1 on Walk: 12x10 cells of 96x96"), std::string::npos) << lines;
  EXPECT_NE(lines.find("BARREL player 1 placed a barrel"), std::string::npos) << lines;
  EXPECT_NE(lines.find("BARREL exploded"), std::string::npos) << lines;

  EXPECT_NE(test::runCommand("APPDATA=" + folder.path() + " " + game + " --headless --data " +
                                 folder.path() + " --try-map ../Walk 2>&1",
                             &output),
            0);
}

}  // namespace
