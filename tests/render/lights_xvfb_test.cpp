// The light pass on the SDL screen of a private X server, read back pixel by pixel: lights
// brighten what lies under them, black in a shape changes nothing, and the ambient tint squares
// the picture and adds its own colour squared.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "render/lights.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

constexpr int kSize = 128;
constexpr uint32_t kGrey = 0x404040;  // 64 in every channel

uint32_t now = 1000;

struct Rgb {
  int r, g, b;
};

// What the pass makes of a channel: under a light of strength l (0..1) the picture is
// multiplied by 1 + l, then the ambient a adds a^2 to the picture squared.
int expected(int below, double light, int ambient) {
  double lit = std::min(1.0, below / 255.0 * (1 + light));
  double a = ambient / 255.0;
  return static_cast<int>(std::lround(std::min(1.0, lit * lit + a * a) * 255));
}

class LightPixelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::startXvfb()) return;
    if (!rt::initScreenSystem(rt::Backend::Sdl)) return;
    rt::Handle window = rt::openWindow(0, 0, 0, kSize, kSize, "Test",
                                       rt::kWindowCentred | rt::kWindowBorderless);
    ready = window && rt::openWindowedScreen(window, 0, 0, kSize, kSize);
    // Shapes of plain white, so that every pixel under a light gets its full colour.
    shapes = std::make_unique<test::TempDir>();
    rt::Pixels white;
    white.width = white.height = 8;
    white.rgba.assign(8 * 8 * 4, 255);
    std::vector<uint8_t> png;
    rt::encodePng(white, &png);
    for (const char* name : {"Point.png", "Cone.png", "Plane.png"}) {
      test::writeFile(shapes->file(name), std::string(png.begin(), png.end()));
    }
  }
  static void TearDownTestSuite() {
    rt::shutdownScreenSystem();
    shapes.reset();
  }

  void SetUp() override {
    if (!ready) GTEST_SKIP() << "no X server or no SDL display";
    InitLights(shapes->path() + "/", kSize, kSize, &now, nullptr, nullptr);
    ClearLights();
  }

  // Clears to grey, runs the light pass and reads the picture back.
  static std::vector<uint8_t> pass() {
    rt::clearScreen(kGrey);
    EXPECT_TRUE(rt::beginDrawing());
    DrawLights();
    rt::endDrawing();
    rt::Handle grab = rt::grabScreen(-1, 0, 0, kSize, kSize);
    EXPECT_NE(grab, 0u);
    std::vector<uint8_t> pixels;
    if (grab) pixels.assign(rt::imagePixels(grab), rt::imagePixels(grab) + kSize * kSize * 4);
    rt::freeImage(grab);
    return pixels;
  }

  static Rgb at(const std::vector<uint8_t>& pixels, int x, int y) {
    if (pixels.empty()) return {-1, -1, -1};
    const uint8_t* p = &pixels[(y * kSize + x) * 4];
    return {p[0], p[1], p[2]};
  }

  static void expectNear(Rgb got, Rgb want) {
    EXPECT_NEAR(got.r, want.r, 3);
    EXPECT_NEAR(got.g, want.g, 3);
    EXPECT_NEAR(got.b, want.b, 3);
  }

  static inline bool ready = false;
  static inline std::unique_ptr<test::TempDir> shapes;
};

TEST_F(LightPixelTest, ALightBrightensWhatIsUnderItByItsColour) {
  AddLight(kLightPoint, 64, 64, 32, 32, 0x0000FF, 1.0f, 0);    // red, full
  AddLight(kLightPlane, 64, 64, 96, 96, 0x808080, 1.0f, 0);    // grey, half
  std::vector<uint8_t> pixels = pass();
  int dark = expected(64, 0, 0);
  expectNear(at(pixels, 32, 32), {expected(64, 1, 0), dark, dark});
  int half = expected(64, 128 / 255.0, 0);
  expectNear(at(pixels, 96, 96), {half, half, half});
  expectNear(at(pixels, 96, 32), {dark, dark, dark});  // under no light
  EXPECT_GT(half, dark);
}

TEST_F(LightPixelTest, TheAmbientAddsItsColourSquaredToThePictureSquared) {
  SetAmbientColour(0x000080);  // red 128
  std::vector<uint8_t> pixels = pass();
  expectNear(at(pixels, 10, 100), {expected(64, 0, 128), expected(64, 0, 0), expected(64, 0, 0)});
  SetAmbientColour(0x808080);
  AddLight(kLightPoint, 64, 64, 32, 32, 0xFFFFFF, 0.5f, 0);
  pixels = pass();
  int lit = expected(64, 128 / 255.0, 128);
  expectNear(at(pixels, 32, 32), {lit, lit, lit});
  int plain = expected(64, 0, 128);
  expectNear(at(pixels, 100, 100), {plain, plain, plain});
}

TEST_F(LightPixelTest, TheShippedPointShapeFallsOffToNoChange) {
  InitLights(test::binaryDir() + "/Data/Lights.qzd", kSize, kSize, &now, nullptr, nullptr);
  ASSERT_NE(LightShapeSprite(kLightPoint), 0u) << "Data/Lights.qzd is not built";
  AddLight(kLightPoint, 128, 128, 64, 64, 0xFFFFFF, 1.0f, 0);
  std::vector<uint8_t> pixels = pass();
  int dark = expected(64, 0, 0);
  Rgb middle = at(pixels, 64, 64), halfway = at(pixels, 96, 64), corner = at(pixels, 2, 2);
  EXPECT_NEAR(middle.g, expected(64, 1, 0), 4);  // white in the middle: doubled
  EXPECT_GT(halfway.g, dark + 2);                // still brighter halfway out
  EXPECT_LT(halfway.g, middle.g);
  expectNear(corner, {dark, dark, dark});       // black at the rim: unchanged
  // A flash of the same shape does the same, centred on its position.
  ClearLights();
  AddFlash(kLightPoint, 128, 128, 64, 64, 800, 0xFFFFFF, 1.0f, 0.02f, 0);
  pixels = pass();
  EXPECT_NEAR(at(pixels, 64, 64).g, middle.g, 3);
}

}  // namespace
