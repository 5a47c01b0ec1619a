// The light pass on the null screen backend: what it draws where, with which colour and blend,
// flicker and fading flashes, with a clock and a camera the tests move by hand.
#include "render/lights.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

uint32_t now = 5000;
int32_t cameraX = 0, cameraY = 0;

std::string png(int size) {
  rt::Pixels pixels;
  pixels.width = pixels.height = size;
  pixels.rgba.assign(static_cast<size_t>(size * size * 4), 255);
  std::vector<uint8_t> out;
  rt::encodePng(pixels, &out);
  return std::string(out.begin(), out.end());
}

rt::Vec2 centre(const rt::DrawnQuad& q) {
  return {(q.corners[0].x + q.corners[2].x) / 2, (q.corners[0].y + q.corners[2].y) / 2};
}

float side(const rt::DrawnQuad& q, int from, int to) {
  return std::hypot(q.corners[to].x - q.corners[from].x, q.corners[to].y - q.corners[from].y);
}

class LightTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rt::initScreenSystem(rt::Backend::Null);
    shapes = std::make_unique<test::TempDir>();
    for (const char* name : {"Point.png", "Cone.png", "Plane.png"}) {
      test::writeFile(shapes->file(name), png(8));
    }
  }
  static void TearDownTestSuite() { shapes.reset(); }

  void SetUp() override {
    rt::randomSeed(3);
    now = 5000;
    cameraX = cameraY = 0;
    InitLights(shapes->path() + "/", 1024, 768, &now, &cameraX, &cameraY);
    ClearLights();
    SetOverlayColour(0);
    rt::setDrawRecorder(&drawn);
  }
  void TearDown() override { rt::setDrawRecorder(nullptr); }

  void frame() {
    drawn.clear();
    DrawLights();
  }

  // The quads of lights and flashes: everything but the full-screen ambient and overlay.
  std::vector<rt::DrawnQuad> lightQuads() const {
    std::vector<rt::DrawnQuad> out;
    for (const rt::DrawnQuad& q : drawn) {
      for (int shape : {kLightPoint, kLightCone, kLightPlane}) {
        if (q.texture != 0 && q.sprite3D == LightShapeSprite(shape)) out.push_back(q);
      }
    }
    return out;
  }

  static inline std::unique_ptr<test::TempDir> shapes;
  std::vector<rt::DrawnQuad> drawn;
};

TEST_F(LightTest, ShapesComeFromAFolderOrNothing) {
  for (int shape : {kLightPoint, kLightCone, kLightPlane}) EXPECT_NE(LightShapeSprite(shape), 0u);
  EXPECT_EQ(LightShapeSprite(3), 0u);
  EXPECT_EQ(LightShapeSprite(-1), 0u);
  InitLights(shapes->path() + "/missing.qzd", 1024, 768, &now, &cameraX, &cameraY);
  EXPECT_EQ(LightShapeSprite(kLightPoint), 0u);
  AddLight(kLightPoint, 100, 100, 50, 50, 0xFFFFFF, 1, 0);
  frame();
  EXPECT_TRUE(lightQuads().empty());
  ASSERT_EQ(drawn.size(), 1u);  // the ambient only
}

TEST_F(LightTest, ALightIsItsShapeSizedColouredAndPlacedByItsTopLeft) {
  Light* light = AddLight(kLightCone, 240, 120, 400, 300, 0xA0F0FF, 0.5f, 0);
  EXPECT_EQ(light->x, 280);
  EXPECT_EQ(light->y, 240);
  EXPECT_EQ(light->halfWidth, 120);
  EXPECT_EQ(light->red, 0xFF);
  EXPECT_EQ(light->blue, 0xA0);
  cameraX = 30;
  cameraY = -20;
  frame();
  std::vector<rt::DrawnQuad> quads = lightQuads();
  ASSERT_EQ(quads.size(), 1u);
  const rt::DrawnQuad& q = quads[0];
  EXPECT_EQ(q.sprite3D, LightShapeSprite(kLightCone));
  EXPECT_EQ(q.corners[0].x, 250);
  EXPECT_EQ(q.corners[0].y, 260);
  EXPECT_EQ(q.corners[2].x, 250 + 240);
  EXPECT_EQ(q.corners[2].y, 260 + 120);
  EXPECT_EQ(q.colours[0], 0x807850u);  // each byte at half: red 0x80, green 0x78, blue 0x50
  EXPECT_EQ(q.alpha, 255);
  EXPECT_EQ(q.sourceBlend, 9);
  EXPECT_EQ(q.destinationBlend, 7);
  EXPECT_EQ(light->screenX, 250);
  EXPECT_EQ(light->screenY, 260);

  light->intensity = 3;  // colours saturate rather than wrap
  frame();
  EXPECT_EQ(lightQuads()[0].colours[0], 0xFFFFFFu);
}

TEST_F(LightTest, LightsPartlyOnScreenAreDrawnAndOthersSkipped) {
  struct Case {
    int screenX, screenY;
    bool drawn;
  } cases[] = {
      {-100, 100, true}, {-240, 100, false}, {1023, 100, true}, {1024, 100, false},
      {100, -239, true}, {100, -240, false}, {100, 767, true},  {100, 768, false},
  };
  cameraX = 500;
  cameraY = 400;
  for (const Case& c : cases) {
    ClearLights();
    AddLight(kLightPoint, 240, 240, c.screenX + 500 + 120, c.screenY + 400 + 120, 0xFFFFFF, 1, 0);
    frame();
    EXPECT_EQ(lightQuads().size(), c.drawn ? 1u : 0u) << c.screenX << ", " << c.screenY;
  }
  ClearLights();
  Light* off = AddLight(kLightPoint, 240, 240, 600, 500, 0xFFFFFF, 1, 0);
  off->active = 0;
  frame();
  EXPECT_TRUE(lightQuads().empty());
}

TEST_F(LightTest, TurnedLightsAndTheLongLightCorrection) {
  // A square turned by 45 degrees stays centred on its plain position.
  AddLight(kLightPoint, 100, 100, 300, 300, 0xFFFFFF, 1, 45);
  frame();
  ASSERT_EQ(lightQuads().size(), 1u);
  EXPECT_NEAR(centre(lightQuads()[0]).x, 300, 1e-3);
  EXPECT_NEAR(centre(lightQuads()[0]).y, 300, 1e-3);
  // 200 x 100 turned by 90 degrees is drawn 50 pixels higher: top-left (200, 200) becomes
  // (200, 150), so its centre is at (300, 200) and it stands 200 high.
  ClearLights();
  AddLight(kLightPlane, 200, 100, 300, 250, 0xFFFFFF, 1, 90);
  frame();
  ASSERT_EQ(lightQuads().size(), 1u);
  rt::DrawnQuad q = lightQuads()[0];
  EXPECT_NEAR(centre(q).x, 300, 1e-3);
  EXPECT_NEAR(centre(q).y, 200, 1e-3);
  EXPECT_NEAR(std::abs(q.corners[0].y - q.corners[1].y), 200, 1e-3);
  // Unturned, the same light keeps its place.
  Lights().front().rotation = 0;
  frame();
  EXPECT_NEAR(centre(lightQuads()[0]).y, 250, 1e-3);
}

TEST_F(LightTest, FlickerOfAmountZeroChangesNothing) {
  Light* light = AddLight(kLightPoint, 240, 160, 400, 400, 0x808080, 1, 0);
  light->flicker = 1;
  light->flickerAmount = 0;
  light->flickerInterval = 10;
  for (int i = 0; i < 20; ++i) {
    now += 7;
    frame();
    std::vector<rt::DrawnQuad> quads = lightQuads();
    ASSERT_EQ(quads.size(), 1u);
    const rt::DrawnQuad& q = quads[0];
    EXPECT_EQ(q.corners[0].x, 280);
    EXPECT_EQ(q.corners[0].y, 320);
    EXPECT_NEAR(side(q, 0, 1), 240, 1e-3);
    EXPECT_NEAR(side(q, 1, 2), 160, 1e-3);
    EXPECT_EQ(q.colours[0], 0x808080u);
  }
}

TEST_F(LightTest, FlickerShrinksAndDimsWithinItsAmountOncePerInterval) {
  Light* light = AddLight(kLightPoint, 200, 100, 400, 400, 0xC8C8C8, 1, 0);
  light->flicker = 1;
  light->flickerAmount = 0.5f;
  light->flickerInterval = 100;
  bool changed = false;
  for (int i = 0; i < 40; ++i) {
    now += 30;
    float widthBefore = light->widthReduction;
    uint32_t due = light->nextFlicker;
    frame();
    std::vector<rt::DrawnQuad> quads = lightQuads();
    ASSERT_EQ(quads.size(), 1u);
    const rt::DrawnQuad& q = quads[0];
    // Reductions up to half of each half size, intensity down to 1 - 0.25.
    EXPECT_GE(light->widthReduction, 0);
    EXPECT_LE(light->widthReduction, 50);
    EXPECT_LE(light->heightReduction, 25);
    EXPECT_LE(light->intensityReduction, 0.25f);
    EXPECT_NEAR(side(q, 0, 1), 200 - light->widthReduction, 1e-3);
    EXPECT_NEAR(side(q, 1, 2), 100 - light->heightReduction, 1e-3);
    EXPECT_EQ(q.corners[0].x, std::round(300 + light->widthReduction / 2));
    EXPECT_EQ(q.colours[0] & 0xFF,
              static_cast<uint32_t>(std::lround(0xC8 * (1 - light->intensityReduction))));
    if (static_cast<int32_t>(due - now) >= 0) {
      EXPECT_EQ(light->widthReduction, widthBefore);
    }
    changed = changed || light->widthReduction != widthBefore;
  }
  EXPECT_TRUE(changed);
}

TEST_F(LightTest, AFlashHoldsForItsDelayThenFadesAndGoes) {
  Flash* flash = AddFlash(kLightPoint, 320, 320, 500, 400, 800, 0xA0F0FF, 1.0f, 0.02f, 0);
  EXPECT_EQ(flash->fadeAt, 5800u);
  // A second one far off screen fades all the same.
  AddFlash(kLightPoint, 320, 320, -5000, 400, 800, 0xA0F0FF, 1.0f, 0.02f, 0);
  for (now = 5000; now <= 5800; now += 16) {
    frame();
    ASSERT_EQ(lightQuads().size(), 1u);
    EXPECT_EQ(lightQuads()[0].colours[0], 0xFFF0A0u);
    EXPECT_EQ(lightQuads()[0].corners[0].x, 340);
    EXPECT_EQ(lightQuads()[0].corners[0].y, 240);
  }
  // The first frame after the delay starts the fade: the flash is drawn, then dimmed by 0.02.
  float expected = 1.0f;
  int frames = 0;
  while (!Flashes().empty()) {
    frame();
    ++frames;
    expected -= 0.02f;
    if (expected >= 0) {
      ASSERT_EQ(Flashes().count(), 2u);
      EXPECT_FLOAT_EQ(Flashes().front().intensity, expected);
      EXPECT_FLOAT_EQ(Flashes().back().intensity, expected);
    }
    now += 16;
    ASSERT_LT(frames, 60);
  }
  EXPECT_GE(frames, 50);
  EXPECT_LE(frames, 51);
  EXPECT_LT(expected, 0);
}

TEST_F(LightTest, AFlashCentredJustPastTheEdgeStillShows) {
  AddFlash(kLightPoint, 320, 320, 1024 + 100, 400, 800, 0xFFFFFF, 1.0f, 0.02f, 0);
  AddFlash(kLightPoint, 320, 320, 1024 + 160, 400, 800, 0xFFFFFF, 1.0f, 0.02f, 0);
  frame();
  ASSERT_EQ(lightQuads().size(), 1u);
  EXPECT_EQ(lightQuads()[0].corners[0].x, 1024 + 100 - 160);
}

TEST_F(LightTest, AmbientAndOverlayCoverTheScreenAndTheNormalBlendReturns) {
  SetAmbientColour(0x102030);
  EXPECT_EQ(AmbientColour(), 0x102030u);
  SetOverlayColour(0x405060);
  AddLight(kLightPoint, 100, 100, 50, 50, 0xFFFFFF, 1, 0);
  frame();
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[0].sprite3D, LightShapeSprite(kLightPoint));
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(drawn[i].corners[0].x, 0);
    EXPECT_EQ(drawn[i].corners[0].y, 0);
    EXPECT_EQ(drawn[i].corners[2].x, 1024);
    EXPECT_EQ(drawn[i].corners[2].y, 768);
  }
  EXPECT_EQ(drawn[1].sourceBlend, 9);  // the overlay brightens like a light
  EXPECT_EQ(drawn[1].destinationBlend, 7);
  EXPECT_EQ(drawn[2].sourceBlend, 3);  // the ambient tints last
  EXPECT_EQ(drawn[2].destinationBlend, 9);
  // Plain colours without a picture, red first.
  EXPECT_EQ(drawn[1].texture, 0u);
  EXPECT_EQ(drawn[1].colours[3], 0x605040u);
  EXPECT_EQ(drawn[2].colours[0], 0x302010u);
  rt::displaySprite3D(LightShapeSprite(kLightPoint), 0, 0);
  EXPECT_EQ(drawn.back().sourceBlend, 5);
  EXPECT_EQ(drawn.back().destinationBlend, 6);

  SetOverlayColour(0);
  frame();
  EXPECT_EQ(drawn.size(), 2u);
  SetLightsEnabled(false);
  frame();
  EXPECT_TRUE(drawn.empty());
  SetLightsEnabled(true);
}

}  // namespace
