// The HUD on the null screen, through the draw recorder: the fuse row and its spark, the
// gunpowder barrel, the free barrels, the pickup notices, the round clock and the score table.
#include "render/hud.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "render/particles.h"
#include "render/typeface.h"
#include "render/world_effects.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "world/world.h"

namespace {

constexpr int W = 1024, H = 768;

uint32_t swapRedBlue(uint32_t bgr) {
  return (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF);
}

class HudTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    config = Config{};
    rt::frame.width = W;
    rt::frame.height = H;
    rt::frame.now = 50000;
    world = World{};
    world.camera.x = 100;
    world.camera.y = 200;
    InitParticles(W, H, 10, &rt::frame.now, &world.camera.x, &world.camera.y, false);
    ClearEmitters();
    ParticleTypeByName("Spark HUD")->textureKey = "Spark";
    makeSprite(kSpriteBarrelSmall, 48);
    for (int32_t n : {kSpriteBarrelFront, kSpriteBarrelGunpowder, kSpriteBarrelBack}) {
      makeSprite(n, 128);
    }
    makeSprite(kSpriteFuse, 32);
    makeSprite(kSpriteKillsList, 512);
    for (int32_t n : {kSpriteIconFire, kSpriteIconFuse, kSpriteIconBarrel}) makeSprite(n, 48);
    std::vector<unsigned char> font = test::tenPixelTypeface("AB0123456789.:/- ");
    ASSERT_TRUE(LoadTypefaceFromMemory(kFontNormal, font));
    test::writeFile(dir.file("Test.ini"),
                    "Round = A\nName = AB\nKills = B\nSelfKills = BA\nDeath = AA\nPoints = BB\n"
                    "Bomb Increase = AB\nBomb Time Decrease = B\n");
    ASSERT_TRUE(LoadLanguage(dir.file("Test.ini")));
    player = addPlayer(7, "AB", 0x2020E0);
    world.localPlayer = player;
    rt::setDrawRecorder(&drawn);
  }
  void TearDown() override {
    rt::setDrawRecorder(nullptr);
    ShowWorldEvent({WorldEventType::kMatchEnded});
    world = World{};
    FreeTypeface(kFontNormal);
    rt::shutdownScreenSystem();
  }

  // The recorder names 3D sprites by handle; the HUD draws them by number.
  void makeSprite(int32_t number, int size) {
    rt::Handle image = rt::createImage(rt::kAnyNumber, size, size);
    ASSERT_TRUE(rt::createSpriteFromImage(number, image));
    rt::freeImage(image);
    numbers[rt::createSprite3D(number, number)] = number;
  }
  int32_t numberOf(const rt::DrawnQuad& q) const {
    auto it = numbers.find(q.sprite3D);
    return it == numbers.end() ? 0 : it->second;
  }

  Player* addPlayer(int32_t id, const std::string& name, uint32_t colour) {
    Player* p = world.players.append();
    p->id = id;
    setPlayerName(*p, name);
    p->colour = static_cast<int32_t>(colour);
    return p;
  }

  ItemNotice* addNotice(int32_t icon, const std::string& name, uint32_t colour) {
    return &(*world.round.notices.append() = {colour, icon, name, rt::frame.now + 10000, 255});
  }

  void drawHud(bool scoreKeyHeld = false) {
    drawn.clear();
    DrawHud(scoreKeyHeld);
  }
  void burning(int count) {
    for (int i = 0; i < count; ++i) world.round.barrels.append()->ownerPlayer = player;
  }

  std::vector<rt::DrawnQuad> quadsOf(int32_t sprite) const {
    std::vector<rt::DrawnQuad> out;
    for (const rt::DrawnQuad& q : drawn) {
      if (numberOf(q) == sprite) out.push_back(q);
    }
    return out;
  }

  // The glyphs of the text whose pen starts at (x, y); glyphs are drawn half a pixel up and
  // left of their pen, on the texel centres. Null colour and alpha when there is none.
  int glyphsAt(float x, float y, uint32_t* colour = nullptr, int* alpha = nullptr) const {
    int glyphs = 0;
    for (const rt::DrawnQuad& q : drawn) {
      if (numberOf(q) || q.corners[0].y + 0.5f != y) continue;
      if (q.corners[0].x + 0.5f != x + 10.0f * static_cast<float>(glyphs)) continue;
      if (glyphs++ > 0) continue;
      if (colour) *colour = q.colours[0];
      if (alpha) *alpha = q.alpha;
    }
    return glyphs;
  }

  test::TempDir dir;
  std::map<uint32_t, int32_t> numbers;
  Player* player = nullptr;
  std::vector<rt::DrawnQuad> drawn;
};

TEST_F(HudTest, NothingWithoutALocalPlayerEvenWithTheScoreKeyHeld) {
  world.localPlayer = nullptr;
  addNotice(kSpriteIconFire, "Bomb Increase", 0x80FF80);
  drawHud(true);
  EXPECT_TRUE(drawn.empty());
  EXPECT_TRUE(Emitters().empty());
  EXPECT_EQ(world.round.notices.front().alpha, 255);
}

TEST_F(HudTest, OnePiecePerSecondWithTheSparkBeyondTheLast) {
  drawHud();  // 3000 ms
  std::vector<rt::DrawnQuad> pieces = quadsOf(kSpriteFuse);
  ASSERT_EQ(pieces.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pieces[i].corners[0].x, W / 2 + 28 * i + 32);
    EXPECT_EQ(pieces[i].corners[0].y, H - 38);
  }
  ParticleType* spark = HudSpark();
  ASSERT_NE(spark, nullptr);
  EXPECT_EQ(spark->textureKey, "Spark");
  EXPECT_EQ(spark->x, W / 2 + 2 * 28 + 64 + 100);  // the camera added: the spark is in the world
  EXPECT_EQ(spark->y, H - 12 + 200);
  EXPECT_EQ(glyphsAt(W / 2 - 15 + 74, H - 48), 3);  // "3.0"

  player->fuseTime = 999;
  world.camera.x = -50;
  drawHud();
  EXPECT_TRUE(quadsOf(kSpriteFuse).empty());
  EXPECT_EQ(HudSpark(), spark);
  EXPECT_EQ(spark->x, W / 2 - 28 + 64 - 50);

  // Fuse times come from the network: only the pieces on screen are drawn.
  player->fuseTime = INT32_MAX;
  drawHud();
  EXPECT_EQ(quadsOf(kSpriteFuse).size(), 18u);
  EXPECT_EQ(Emitters().count(), 1u);
}

TEST_F(HudTest, ASparkClearedByAMapLoadIsMadeAgain) {
  drawHud();
  ShowWorldEvent({WorldEventType::kMapLoaded});
  AddEmitter(*ParticleTypeByName("Default"), 5, 5);  // the map's own, maybe where the spark was
  drawHud();
  ASSERT_EQ(Emitters().count(), 2u);
  EXPECT_EQ(HudSpark(), &Emitters().back());
  EXPECT_EQ(Emitters().front().x, 5);
}

TEST_F(HudTest, TheGunpowderRisesWithTheStrength) {
  for (auto [strength, fill] : {std::pair{6, 64}, {12, 128}, {13, 138}, {INT32_MAX, H}}) {
    player->strength = strength;
    drawHud();
    std::vector<rt::DrawnQuad> powder = quadsOf(kSpriteBarrelGunpowder);
    ASSERT_EQ(powder.size(), 1u) << strength;
    EXPECT_EQ(powder[0].corners[0].x, W / 2 - 64) << strength;
    EXPECT_EQ(powder[0].corners[0].y, H - fill) << strength;
    EXPECT_EQ(powder[0].corners[2].y, H) << strength;
    // Cut from the bottom of the picture, never stretched.
    EXPECT_FLOAT_EQ(powder[0].uv[0].y, (128.0f - fill) / 128) << strength;
    EXPECT_FLOAT_EQ(powder[0].uv[2].y, 1.0f) << strength;
  }
  player->strength = 6;
  drawHud();
  EXPECT_EQ(glyphsAt(W / 2 - 5, H - 80), 1);
  // Back, powder, front: the barrel's front covers the powder.
  std::vector<int32_t> parts;
  for (const rt::DrawnQuad& q : drawn) {
    const int32_t n = numberOf(q);
    if (n >= kSpriteBarrelFront && n <= kSpriteBarrelBack) parts.push_back(n);
  }
  EXPECT_EQ(parts, (std::vector<int32_t>{kSpriteBarrelBack, kSpriteBarrelGunpowder,
                                         kSpriteBarrelFront}));
  player->strength = -3;
  drawHud();
  EXPECT_TRUE(quadsOf(kSpriteBarrelGunpowder).empty());
}

TEST_F(HudTest, OneSmallBarrelForEachBarrelStillFree) {
  player->barrelCapacity = 3;
  burning(1);
  drawHud();
  std::vector<rt::DrawnQuad> small = quadsOf(kSpriteBarrelSmall);
  ASSERT_EQ(small.size(), 2u);
  EXPECT_EQ(small[0].corners[0].x, W - 16 - 64);
  EXPECT_EQ(small[1].corners[0].x, W - 32 - 64);
  EXPECT_EQ(small[1].corners[0].y, 32);

  burning(2);
  drawHud();
  EXPECT_TRUE(quadsOf(kSpriteBarrelSmall).empty());

  player->barrelCapacity = INT32_MAX;  // drawn up to the left edge and no further
  drawHud();
  EXPECT_EQ(quadsOf(kSpriteBarrelSmall).size(), 62u);
}

TEST_F(HudTest, NoticesStackUpwardFromTheNewestAndFadeAfterTheirTime) {
  ItemNotice* spent = addNotice(kSpriteIconFire, "Bomb Increase", 0x80FF80);
  spent->expiry = rt::frame.now - 1;
  spent->alpha = 0;
  addNotice(kSpriteIconFuse, "Bomb Time Decrease", 0xFFC080)->expiry = rt::frame.now - 1;
  addNotice(kSpriteIconBarrel, "Bomb Increase", 0x40C0C0)->expiry = rt::frame.now;
  drawHud();
  const int32_t icons[] = {kSpriteIconFire, kSpriteIconFuse, kSpriteIconBarrel};
  const uint32_t colours[] = {0x80FF80, 0xFFC080, 0x40C0C0};
  const float textWidths[] = {20, 10, 20};
  const int alphas[] = {0, 255, 255};
  for (int i = 0; i < 3; ++i) {
    std::vector<rt::DrawnQuad> icon = quadsOf(icons[i]);
    ASSERT_EQ(icon.size(), 1u) << i;
    EXPECT_EQ(icon[0].corners[0].x, W - 64) << i;
    EXPECT_EQ(icon[0].corners[0].y, H - 168 + 48 * i) << i;
    EXPECT_EQ(icon[0].colours[0], swapRedBlue(colours[i])) << i;
    EXPECT_EQ(icon[0].alpha, alphas[i]) << i;
    uint32_t colour = 0;
    int alpha = -1;
    EXPECT_GT(glyphsAt(W - 68 - textWidths[i], H - 156 + 48 * i, &colour, &alpha), 0) << i;
    EXPECT_EQ(colour, swapRedBlue(colours[i])) << i;
    EXPECT_EQ(alpha, alphas[i]) << i;
  }
  // The spent one went below 0 and is gone; the expired one lost a step; the last expires now.
  ASSERT_EQ(world.round.notices.count(), 2u);
  EXPECT_EQ(world.round.notices.front().alpha, 254);
  EXPECT_EQ(world.round.notices.back().alpha, 255);
  drawHud();
  EXPECT_EQ(quadsOf(kSpriteIconBarrel)[0].corners[0].y, H - 72);
}

TEST_F(HudTest, TheRoundClockCountsDownAndTurnsRedForTheLastTenSeconds) {
  drawHud();
  EXPECT_EQ(glyphsAt(W / 2 - 20, 36), 0);  // no round time, no clock

  world.match.roundTime = 180000;
  world.round.startedAt = rt::frame.now - 54500;
  drawHud();
  uint32_t colour = 0;
  EXPECT_EQ(glyphsAt(W / 2 - 20, 36, &colour), 4);  // "2:06", rounded up
  const uint32_t normal = colour;
  rt::frame.now += 115500;
  drawHud();
  EXPECT_EQ(glyphsAt(W / 2 - 20, 36, &colour), 4);  // "0:10"
  EXPECT_EQ(colour, swapRedBlue(0x4040FF));
  EXPECT_NE(colour, normal);
  rt::frame.now += 60000;  // long past: it stays at 0:00
  drawHud();
  EXPECT_EQ(glyphsAt(W / 2 - 20, 36), 4);
}

TEST_F(HudTest, TheScoreTableWhileItsKeyIsHeld) {
  player->kills = 3;
  player->points = 3;
  Player* other = addPlayer(9, std::string(40, 'B'), 0xF08080);
  other->kills = 12;
  other->points = -5;
  world.match.roundNumber = 2;
  world.match.rounds = 3;
  drawHud();
  EXPECT_TRUE(quadsOf(kSpriteKillsList).empty());

  drawHud(true);
  EXPECT_EQ(glyphsAt(32, 32), 8);  // "A: 2 / 3"
  for (float x : {256, 480, 544, 608, 704}) EXPECT_GT(glyphsAt(x, 140), 0) << x;
  std::vector<rt::DrawnQuad> bars = quadsOf(kSpriteKillsList);
  ASSERT_EQ(bars.size(), 2u);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(bars[r].corners[0].x, 256);
    EXPECT_EQ(bars[r].corners[0].y, 158 + 30 * r);
    EXPECT_EQ(bars[r].alpha, 200);
  }
  EXPECT_EQ(bars[1].colours[0], swapRedBlue(0xF08080));
  EXPECT_EQ(glyphsAt(266, 160), 2);
  EXPECT_EQ(glyphsAt(490, 160), 1);
  for (float x : {554, 618, 714}) EXPECT_EQ(glyphsAt(x, 160), 1) << x;
  EXPECT_EQ(glyphsAt(266, 190), 32);  // the name stops at 32 characters
  EXPECT_EQ(glyphsAt(490, 190), 2);
  EXPECT_EQ(glyphsAt(714, 190), 2);   // "-5"
}

}  // namespace
