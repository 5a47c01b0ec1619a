// What the world's events look like: a barrel's light and spark, a blast's fire and flashes,
// splinters, blood, an item's animation and light, a map's own lights and emitters, and the HUD's
// spark over a match's rounds.
#include "render/world_effects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "data/config.h"
#include "data/resources.h"
#include "render/hud.h"
#include "render/lights.h"
#include "render/map_effects.h"
#include "render/particles.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "support/test_support.h"
#include "support/world_support.h"
#include "world/barrels.h"
#include "world/decals.h"
#include "world/items.h"
#include "world/rounds.h"

namespace {

float centre(int cell) { return cell * 96.0f + 48.0f; }

class WorldEffectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDataRoot(test::binaryDir());
    config = Config{};
    rt::frame.now = 100000;
    world = World{};
    InitLights(dir.path() + "/no-shapes/", 1024, 768, &rt::frame.now, &world.camera.x,
               &world.camera.y);
    InitParticles(1024, 768, 10, &rt::frame.now, &world.camera.x, &world.camera.y, false);
    addWorldListener(ShowWorldEvent);
    test::openFloor(15, 15);
    player = world.players.append();
    player->id = 2;
    player->x = player->y = centre(9);
  }
  void TearDown() override {
    endMatchWorld();
    removeWorldListener(ShowWorldEvent);
    world = World{};
    rt::shutdownScreenSystem();
  }
  void burnDown() {
    rt::frame.now += 10000;
    barrelStep();
  }

  test::TempDir dir;
  Player* player = nullptr;
};

TEST_F(WorldEffectsTest, ABurningBarrelShinesAndSparksAndItsBlastBurnsEveryCell) {
  Barrel* barrel = placeBarrel(2, 1, centre(5), centre(6), 2000);
  ASSERT_NE(barrel, nullptr);
  EXPECT_EQ(Lights().count(), 1u);
  ASSERT_EQ(Emitters().count(), 1u);
  EXPECT_EQ(Emitters().front().x, 528);
  EXPECT_EQ(BarrelLight(*barrel), &Lights().front());
  burnDown();
  EXPECT_TRUE(Lights().empty());
  EXPECT_TRUE(Emitters().empty());
  // Five cells, each with five flames, five puffs of smoke and a flash.
  EXPECT_EQ(Flashes().count(), 5u);
  EXPECT_EQ(Particles().count(), 50u);
}

TEST_F(WorldEffectsTest, ABoxSplintersAndAnItemGlowsUntilItGoes) {
  world.round.box.set(5, 7, 1);
  placeBarrel(2, 1, centre(5), centre(6), 2000);
  burnDown();
  EXPECT_EQ(Flashes().count(), 5u);
  EXPECT_EQ(Particles().count(), 4u * 10u + 3u + 10u);

  Item* item = createItem(1, centre(3), centre(3), 0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(Lights().count(), 1u);
  EXPECT_NE(ItemAnimation(*item), 0u);  // made even while its animation is not loaded
  removeItem(item);
  EXPECT_TRUE(Lights().empty());
}

TEST_F(WorldEffectsTest, BloodFlowsOnlyWhileBloodIsOn) {
  Player* other = world.players.append();
  other->id = 3;
  ASSERT_TRUE(applyKill(2, 3));
  EXPECT_EQ(Particles().count(), 15u);
  config.blood = 0;
  ASSERT_TRUE(applyKill(3, 3));
  EXPECT_EQ(Particles().count(), 15u);
}

TEST_F(WorldEffectsTest, AMapsLightsAndEmittersAreBroughtIntoRange) {
  rt::Handle image = rt::createImage(rt::kAnyNumber, 8, 8);
  rt::Handle spark =
      rt::createSprite3D(rt::kAnyNumber, rt::createSpriteFromImage(rt::kAnyNumber, image));
  rt::freeImage(image);
  ParticleTextures().add("Spark")->sprite3D = spark;
  AddLight(kLightPoint, 10, 10, 0, 0, 0xFFFFFF, 1, 0);
  ParticleType stray;
  AddEmitter(stray, 1, 1);
  SpawnParticle(stray, 1, 1);

  MapEffects effects;
  effects.ambientColour = 0x382018;
  MapLight torch;
  torch.shape = kLightPoint;
  torch.colour = 0x60B0FF;
  torch.width = 301;
  torch.height = 200;
  torch.x = 50;
  torch.y = 60;
  torch.intensity = std::numeric_limits<float>::quiet_NaN();
  torch.flicker = 1;
  torch.flickerAmount = 0.2f;
  torch.flickerInterval = 90;
  MapLight odd = torch;
  odd.shape = 7;
  effects.lights = {torch, odd};
  MapEmitter emitter;
  emitter.active = 1;
  emitter.x = 100;
  emitter.y = 200;
  emitter.areaWidth = 17;
  emitter.textureKey = " Spark ";
  emitter.lifetime = 1 << 30;
  emitter.alphaLoss = 1e-6f;
  emitter.startAlpha = 1e9f;
  MapEmitter unknown = emitter;
  unknown.textureKey = "Nothing";
  effects.emitters = {emitter, unknown};
  effects.driftEnabled = true;
  effects.driftX = std::numeric_limits<float>::infinity();
  PutUpMapEffects(effects, 0, 0);

  EXPECT_EQ(AmbientColour(), 0x382018u);
  ASSERT_EQ(Lights().count(), 1u);
  const Light& light = Lights().front();
  EXPECT_EQ(light.red, 0xFF);
  EXPECT_EQ(light.green, 0xB0);
  EXPECT_EQ(light.blue, 0x60);
  EXPECT_EQ(light.halfWidth, 150);
  EXPECT_EQ(light.halfHeight, 100);
  EXPECT_EQ(light.x, 50);
  EXPECT_EQ(light.flicker, 1);
  EXPECT_EQ(light.flickerInterval, 90);
  EXPECT_EQ(light.intensity, 0.0f);
  ASSERT_EQ(Emitters().count(), 2u);
  EXPECT_TRUE(Particles().empty());
  const ParticleType& e = Emitters().front();
  EXPECT_EQ(e.x, 100);
  EXPECT_EQ(e.y, 200);
  EXPECT_EQ(e.halfAreaWidth, 8);
  EXPECT_EQ(e.textureKey, "Spark");
  EXPECT_EQ(e.texture, spark);
  EXPECT_LE(e.lifetime, 10000);
  EXPECT_GE(e.alphaLoss, 0.25f);
  EXPECT_LE(e.startAlpha, 255.0f);
  EXPECT_EQ(Emitters().back().texture, 0u);
  ParticleTextures().erase("Spark");
}

// Every round loads the map afresh, which empties the emitter list: the HUD's spark must come
// back as one more emitter and never take the place of one of the map's torches.
TEST_F(WorldEffectsTest, EveryRoundKeepsTheMapsEmittersAndOneHudSpark) {
  world.localPlayer = player;
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(startHostRound("Nightfall", 3, 180000));
    DrawHud(false);
    const std::vector<MapEmitter>& torches = world.map.effects.emitters;
    ASSERT_FALSE(torches.empty());
    ASSERT_EQ(Emitters().count(), torches.size() + 1);
    EXPECT_EQ(Emitters().front().x, torches.front().x);
    EXPECT_EQ(Emitters().front().y, torches.front().y);
    EXPECT_EQ(HudSpark(), &Emitters().back());
  }
}

}  // namespace
