// The screen's tables, quad geometry, events and pacing, on the null backend (no display).
#include "runtime/screen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "runtime/clock.h"
#include "runtime/screen_local.h"

namespace {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDrawRecorder(&drawn);
  }
  void TearDown() override {
    rt::setDrawRecorder(nullptr);
    rt::setBlendMode(5, 6);
    rt::shutdownScreenSystem();
  }

  // A sprite of the given size from a fresh image.
  rt::Handle makeSprite(int32_t number, int width, int height) {
    std::vector<uint8_t> white(static_cast<size_t>(width * height * 4), 255);
    rt::Handle image = rt::createImage(-1, width, height, white.data());
    rt::Handle sprite = rt::createSpriteFromImage(number, image);
    rt::freeImage(image);
    return sprite;
  }

  std::vector<rt::DrawnQuad> drawn;
};

void expectCorner(const rt::Vec2& corner, float x, float y) {
  EXPECT_NEAR(corner.x, x, 1e-3) << "expected (" << x << ", " << y << ")";
  EXPECT_NEAR(corner.y, y, 1e-3) << "expected (" << x << ", " << y << ")";
}

TEST_F(ScreenTest, CreatingUnderAUsedNumberFreesTheOldObject) {
  rt::Handle first = makeSprite(5, 8, 8);
  ASSERT_NE(first, 0u);
  rt::Handle second = makeSprite(5, 16, 4);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_FALSE(rt::spriteExists(first));
  EXPECT_TRUE(rt::spriteExists(5));
  EXPECT_EQ(rt::spriteWidth(5), 16);
  EXPECT_EQ(rt::spriteHeight(second), 4);

  rt::Handle quadA = rt::createSprite3D(7, 5);
  rt::Handle quadB = rt::createSprite3D(7, second);
  ASSERT_NE(quadA, 0u);
  ASSERT_NE(quadB, 0u);
  EXPECT_FALSE(rt::sprite3DExists(quadA));
  EXPECT_TRUE(rt::sprite3DExists(7));
  EXPECT_EQ(rt::sprite3DTexture(7), second);
}

TEST_F(ScreenTest, HandlesAreFreshAndNeverSlotNumbers) {
  std::vector<rt::Handle> seen;
  for (int i = 0; i < 20; ++i) {
    rt::Handle sprite = makeSprite(i % 2 == 0 ? 3 : rt::kAnyNumber, 2, 2);
    rt::Handle quad = rt::createSprite3D(rt::kAnyNumber, sprite);
    for (rt::Handle h : {sprite, quad}) {
      ASSERT_NE(h, 0u);
      EXPECT_NE(h >> 16, 0u);
      for (rt::Handle old : seen) EXPECT_NE(h, old);
      seen.push_back(h);
    }
    rt::freeSprite3D(quad);
    if (i % 2 == 1) rt::freeSprite(sprite);
  }
  EXPECT_EQ(makeSprite(65536, 2, 2), 0u);
  EXPECT_EQ(makeSprite(-2, 2, 2), 0u);
}

TEST_F(ScreenTest, MissingObjectsAreIgnored) {
  EXPECT_EQ(rt::createSprite3D(1, 999), 0u);
  EXPECT_FALSE(rt::sprite3DExists(1));
  EXPECT_EQ(rt::createSpriteFromImage(1, 12345), 0u);
  EXPECT_EQ(rt::createSpriteFromMemory(1, "not a picture", 13), 0u);
  EXPECT_EQ(rt::createSpriteFromMemory(1, nullptr, 0), 0u);
  EXPECT_EQ(rt::spriteWidth(42), 0);
  EXPECT_EQ(rt::sprite3DWidth(42), 0.0f);
  EXPECT_EQ(rt::sprite3DTexture(0x7FFF0000), 0u);
  const rt::Vec2 corners[4] = {};
  const uint32_t colours[4] = {};
  rt::sizeSprite3D(42, 1, 1);
  rt::rotateSprite3D(42, 10, 1);
  rt::transformSprite3D(42, corners);
  rt::setSprite3DTexCoords(42, corners);
  rt::clipSprite3D(42, 0, 0, 1, 1);
  rt::setSprite3DColours(42, colours);
  rt::displaySprite3D(42, 0, 0);
  rt::freeSprite(42);
  rt::freeSprite3D(42);
  rt::closeWindow(42);
  rt::showWindow(42);
  EXPECT_FALSE(rt::windowVisible(42));
  EXPECT_TRUE(drawn.empty());
}

TEST_F(ScreenTest, QuadOfAFreedSpriteDrawsNothing) {
  rt::Handle sprite = makeSprite(1, 4, 4);
  rt::Handle quad = rt::createSprite3D(2, sprite);
  rt::freeSprite(sprite);
  rt::displaySprite3D(quad, 10, 10);
  EXPECT_TRUE(drawn.empty());
  // A new sprite under the same number is another object; the quad still names the old one.
  makeSprite(1, 4, 4);
  rt::displaySprite3D(quad, 10, 10);
  EXPECT_TRUE(drawn.empty());
}

TEST_F(ScreenTest, NewQuadCoversTheWholeSpriteInWhite) {
  rt::Handle sprite = makeSprite(1, 32, 16);
  rt::Handle quad = rt::createSprite3D(1, sprite);
  rt::displaySprite3D(quad, 100, 50, 300);
  ASSERT_EQ(drawn.size(), 1u);
  const rt::DrawnQuad& q = drawn[0];
  EXPECT_EQ(q.sprite3D, quad);
  EXPECT_EQ(q.texture, sprite);
  expectCorner(q.corners[0], 100, 50);
  expectCorner(q.corners[1], 132, 50);
  expectCorner(q.corners[2], 132, 66);
  expectCorner(q.corners[3], 100, 66);
  expectCorner(q.uv[0], 0, 0);
  expectCorner(q.uv[2], 1, 1);
  for (uint32_t c : q.colours) EXPECT_EQ(c, 0xFFFFFFu);
  EXPECT_EQ(q.alpha, 255);  // clamped
  EXPECT_EQ(q.sourceBlend, 5);
  EXPECT_EQ(q.destinationBlend, 6);
}

TEST_F(ScreenTest, RotationTurnsClockwiseAboutTheCentre) {
  rt::Handle quad = rt::createSprite3D(1, makeSprite(1, 8, 8));
  rt::sizeSprite3D(quad, 200, 100);
  rt::rotateSprite3D(quad, 90, 0);
  rt::displaySprite3D(quad, 0, 0);
  ASSERT_EQ(drawn.size(), 1u);
  // Centre (100, 50); the top-left corner swings round to the top right.
  expectCorner(drawn[0].corners[0], 150, -50);
  expectCorner(drawn[0].corners[1], 150, 150);
  expectCorner(drawn[0].corners[2], 50, 150);
  expectCorner(drawn[0].corners[3], 50, -50);

  rt::sizeSprite3D(quad, 100, 100);
  rt::rotateSprite3D(quad, -135, 1);  // 90 - 135 = -45
  EXPECT_FLOAT_EQ(rt::sprite3DRotation(quad), -45);
  rt::rotateSprite3D(quad, 90, 1);
  rt::displaySprite3D(quad, 0, 0);
  ASSERT_EQ(drawn.size(), 2u);
  float r = 50 * std::sqrt(2.0f);
  expectCorner(drawn[1].corners[0], 50, 50 - r);  // top-left now at the top
  expectCorner(drawn[1].corners[1], 50 + r, 50);
  expectCorner(drawn[1].corners[2], 50, 50 + r);
  expectCorner(drawn[1].corners[3], 50 - r, 50);
}

TEST_F(ScreenTest, ExplicitCornersUntilSizedAgain) {
  rt::Handle quad = rt::createSprite3D(1, makeSprite(1, 10, 10));
  rt::rotateSprite3D(quad, 30, 0);
  const rt::Vec2 corners[4] = {{2, 0}, {12, 1}, {10, 11}, {0, 10}};
  rt::transformSprite3D(quad, corners);
  rt::displaySprite3D(quad, 5, 6);
  rt::sizeSprite3D(quad, 20, 4);
  rt::rotateSprite3D(quad, 0, 0);
  rt::displaySprite3D(quad, 5, 6);
  ASSERT_EQ(drawn.size(), 2u);
  expectCorner(drawn[0].corners[0], 7, 6);
  expectCorner(drawn[0].corners[1], 17, 7);
  expectCorner(drawn[0].corners[2], 15, 17);
  expectCorner(drawn[0].corners[3], 5, 16);
  expectCorner(drawn[1].corners[2], 25, 10);
  EXPECT_FLOAT_EQ(rt::sprite3DWidth(quad), 20);
  EXPECT_FLOAT_EQ(rt::sprite3DHeight(quad), 4);
}

TEST_F(ScreenTest, TextureCoordinatesColoursAndBlend) {
  rt::Handle quad = rt::createSprite3D(1, makeSprite(1, 64, 32));
  rt::clipSprite3D(quad, 16, 8, 32, 16);
  const uint32_t colours[4] = {0x112233, 0x445566, 0xFF778899, 0xAABBCC};
  rt::setSprite3DColours(quad, colours);
  rt::setBlendMode(9, 7);
  rt::setBlendMode(0, 11);  // not a factor: ignored
  rt::displaySprite3D(quad, 0, 0, -5);
  const rt::Vec2 uv[4] = {{1, 0}, {0, 0}, {0, 1}, {1, 1}};
  rt::setSprite3DTexCoords(quad, uv);
  rt::setSprite3DColour(quad, 0x00FF00);
  rt::setBlendMode(5, 6);
  rt::displaySprite3D(quad, 0, 0);
  ASSERT_EQ(drawn.size(), 2u);
  expectCorner(drawn[0].uv[0], 0.25f, 0.25f);
  expectCorner(drawn[0].uv[1], 0.75f, 0.25f);
  expectCorner(drawn[0].uv[2], 0.75f, 0.75f);
  expectCorner(drawn[0].uv[3], 0.25f, 0.75f);
  EXPECT_EQ(drawn[0].colours[2], 0x778899u);
  EXPECT_EQ(drawn[0].alpha, 0);
  EXPECT_EQ(drawn[0].sourceBlend, 9);
  EXPECT_EQ(drawn[0].destinationBlend, 7);
  expectCorner(drawn[1].uv[0], 1, 0);
  for (uint32_t c : drawn[1].colours) EXPECT_EQ(c, 0x00FF00u);
  EXPECT_EQ(drawn[1].sourceBlend, 5);
}

TEST_F(ScreenTest, HeadlessWindowsAndScreen) {
  rt::Handle window =
      rt::openWindow(0, 0, 0, 1024, 768, "Powderbox",
                     rt::kWindowCentred | rt::kWindowBorderless | rt::kWindowHidden);
  ASSERT_NE(window, 0u);
  EXPECT_FALSE(rt::windowVisible(0));
  rt::showWindow(0);
  EXPECT_TRUE(rt::windowVisible(window));
  rt::hideWindow(window);
  EXPECT_FALSE(rt::windowVisible(window));
  EXPECT_EQ(rt::openWindow(1, 0, 0, 0, 768, "", 0), 0u);
  EXPECT_EQ(rt::openWindow(1, 0, 0, 100000, 768, "", 0), 0u);

  EXPECT_FALSE(rt::openWindowedScreen(99, 0, 0, 1024, 768));
  ASSERT_TRUE(rt::openWindowedScreen(window, 0, 0, 1024, 768));
  EXPECT_EQ(rt::screenWidth(), 1024);
  EXPECT_EQ(rt::screenHeight(), 768);
  EXPECT_TRUE(rt::beginDrawing());
  rt::clearScreen(0x123456);
  rt::endDrawing();
  EXPECT_EQ(rt::grabScreen(-1, 0, 0, 1024, 768), 0u);  // nothing to read back
  // The headless window never leaves its size nor goes to the desktop.
  int width = 0, height = 0;
  EXPECT_FALSE(rt::windowedSize(&width, &height));
  rt::setFullscreen(true);
  rt::setWindowedSize(1920, 1080);
  EXPECT_FALSE(rt::fullscreen());
  rt::closeWindow(window);
  EXPECT_EQ(rt::screenWidth(), 0);
  EXPECT_FALSE(rt::windowVisible(window));

  std::vector<uint8_t> logo(16 * 16 * 4, 255);
  rt::Handle image = rt::createImage(-1, 16, 16, logo.data());
  EXPECT_EQ(rt::openLogoWindow(2, image, "Powderbox"), 0u);
  rt::pumpLogoWindow(2);
  rt::closeLogoWindow(2);
  rt::freeImage(image);
}

// Whole multiples where they come close to filling the window, else a smooth fit; centred.
TEST(ScreenFit, SharpWhenAWholeMultipleNearlyFillsElseSmooth) {
  struct Case {
    int windowWidth, windowHeight;
    rt::ScreenFit want;
  };
  const Case cases[] = {
      {1024, 768, {0, 0, 1024, 768, false}},
      {2048, 1536, {0, 0, 2048, 1536, false}},
      {2560, 1600, {256, 32, 2048, 1536, false}},  // 2x loses 4 %
      {1920, 1080, {240, 0, 1440, 1080, true}},    // 1x would lose 29 %
      {1280, 1024, {0, 32, 1280, 960, true}},
      {3840, 2160, {480, 0, 2880, 2160, true}},    // 2x would lose 29 %
      {800, 600, {0, 0, 800, 600, true}},          // smaller than the screen
      {1100, 768, {38, 0, 1024, 768, false}},      // a little wider: bars, sharp
  };
  for (const Case& c : cases) {
    rt::ScreenFit fit = rt::fitScreen(1024, 768, c.windowWidth, c.windowHeight);
    SCOPED_TRACE(testing::Message() << c.windowWidth << "x" << c.windowHeight);
    EXPECT_EQ(fit.x, c.want.x);
    EXPECT_EQ(fit.y, c.want.y);
    EXPECT_EQ(fit.width, c.want.width);
    EXPECT_EQ(fit.height, c.want.height);
    EXPECT_EQ(fit.smooth, c.want.smooth);
  }
  // Positions come back in screen pixels, beyond the screen in the bars.
  rt::ScreenFit fit = rt::fitScreen(1024, 768, 2560, 1600);
  int x = 256 + 2 * 1023 + 1, y = 32;
  rt::windowToScreen(fit, 1024, 768, &x, &y);
  EXPECT_EQ(x, 1023);
  EXPECT_EQ(y, 0);
  x = 255;
  y = 31;
  rt::windowToScreen(fit, 1024, 768, &x, &y);
  EXPECT_EQ(x, -1);
  EXPECT_EQ(y, -1);
}

TEST_F(ScreenTest, EventsComeOutInOrder) {
  while (rt::windowEvent() != rt::kEventNone) {
  }
  rt::pushWindowEvent({rt::kEventLeftDown, 0, 10, 20});
  rt::pushWindowEvent({rt::kEventChar, 0xE9, 0, 0});
  rt::WindowEvent e;
  EXPECT_EQ(rt::windowEvent(&e), rt::kEventLeftDown);
  EXPECT_EQ(e.x, 10);
  EXPECT_EQ(e.y, 20);
  EXPECT_EQ(rt::windowEvent(&e), rt::kEventChar);
  EXPECT_EQ(e.param, 0xE9);
  EXPECT_EQ(rt::windowEvent(&e), rt::kEventNone);
  EXPECT_EQ(e.code, rt::kEventNone);

  // A program that never reads its events keeps a bounded queue of the newest ones.
  for (int i = 0; i < 100000; ++i) rt::pushWindowEvent({rt::kEventMouseMove, i, 0, 0});
  int count = 0, last = 0;
  while (rt::windowEvent(&e) != rt::kEventNone) {
    ++count;
    last = e.param;
  }
  EXPECT_LE(count, 4096);
  EXPECT_EQ(last, 99999);
}

TEST_F(ScreenTest, FlipIsPacedWithoutBursts) {
  constexpr int kRate = 200;  // 5 ms frames keep the test short
  constexpr uint64_t kPeriod = 1000000 / kRate;
  rt::setFrameRate(kRate);
  uint64_t before = rt::framesPresented();
  uint64_t start = rt::microseconds();
  for (int i = 0; i < 10; ++i) rt::flipScreen();
  EXPECT_GE(rt::microseconds() - start, 10 * kPeriod - 1000);
  EXPECT_EQ(rt::framesPresented() - before, 10u);
  // Frames are never closer than the period, so the measured rate cannot exceed it.
  EXPECT_GT(rt::measuredFrameRate(), 0.0);
  EXPECT_LE(rt::measuredFrameRate(), kRate * 1.01);

  // After a long stall the schedule starts again instead of racing through missed frames.
  rt::delay(60);
  rt::flipScreen();
  start = rt::microseconds();
  rt::flipScreen();
  rt::flipScreen();
  EXPECT_GE(rt::microseconds() - start, 3 * kPeriod / 2);
}

// A 32 x 32 sprite, opaque but for the texel at its top-left corner.
rt::Handle spriteWithAHole(int32_t number) {
  std::vector<uint8_t> pixels(32 * 32 * 4, 255);
  pixels[3] = 0;
  rt::Handle image = rt::createImage(-1, 32, 32, pixels.data());
  rt::Handle sprite = rt::createSpriteFromImage(number, image);
  rt::freeImage(image);
  return sprite;
}

TEST_F(ScreenTest, BlendingIsLeftOutOnlyWhereItCannotChangeAPixel) {
  rt::Handle opaque = rt::createSprite3D(1, makeSprite(1, 64, 32));
  rt::Handle holed = rt::createSprite3D(2, spriteWithAHole(2));
  auto show = [&](rt::Handle quad, int alpha = 255) {
    rt::displaySprite3D(quad, 10, 20, alpha);
    return drawn.back();
  };
  EXPECT_TRUE(show(opaque).exact);
  EXPECT_FALSE(show(opaque).blend);
  EXPECT_TRUE(show(opaque, 200).blend);
  rt::rotateSprite3D(opaque, 30, 0);
  EXPECT_FALSE(show(opaque).exact);
  EXPECT_FALSE(show(opaque).blend) << "every texel is opaque";
  rt::setBlendMode(9, 7);
  EXPECT_TRUE(show(opaque).blend);
  rt::setBlendMode(2, 1);
  EXPECT_FALSE(show(holed).blend) << "one, zero copies";
  rt::fillRect(0, 0, 5, 5, 0x102030);
  EXPECT_FALSE(drawn.back().blend);
  EXPECT_EQ(drawn.back().texture, 0u);
  rt::setBlendMode(5, 6);

  // Part of a texture: opaque blocks count only drawn texel for pixel, since filtering would
  // reach across the edge.
  EXPECT_TRUE(show(holed).blend);
  rt::clipSprite3D(holed, 8, 0, 24, 32);
  rt::sizeSprite3D(holed, 24, 32);
  EXPECT_TRUE(show(holed).exact);
  EXPECT_FALSE(show(holed).blend);
  rt::sizeSprite3D(holed, 48, 64);
  EXPECT_FALSE(show(holed).exact);
  EXPECT_TRUE(show(holed).blend);
  rt::sizeSprite3D(holed, 16, 16);
  rt::clipSprite3D(holed, 0, 16, 16, 16);
  EXPECT_FALSE(show(holed).blend);
  rt::clipSprite3D(holed, 4, 0, 16, 16);
  EXPECT_TRUE(show(holed).blend) << "its block holds the hole";
}

TEST_F(ScreenTest, FramesCountWhatTheyBlendAndSkipWhatIsOnScreen) {
  rt::Handle window = rt::openWindow(0, 0, 0, 1024, 768, "Powderbox", rt::kWindowHidden);
  ASSERT_TRUE(rt::openWindowedScreen(window, 0, 0, 1024, 768));
  rt::setFrameRate(0);
  rt::Handle veil = rt::createSprite3D(1, makeSprite(1, 4, 4));
  rt::sizeSprite3D(veil, 1024, 768);
  rt::Handle tile = rt::createSprite3D(2, makeSprite(2, 32, 32));
  auto frame = [&](float veilX) {
    rt::clearScreen(0);
    rt::displaySprite3D(veil, veilX, 0, 128);  // half of it off the screen
    rt::displaySprite3D(tile, 0, 0);
    rt::displaySprite3D(tile, 32, 0);
    rt::flipScreen();
    return rt::lastFrameStats();
  };
  rt::DrawStats stats = frame(512);
  EXPECT_EQ(stats.quads, 3u);
  EXPECT_DOUBLE_EQ(stats.blendedPixels, 512.0 * 768);
  EXPECT_EQ(stats.textureSwitches, 1u);
  EXPECT_EQ(stats.blendSwitches, 1u);
  EXPECT_FALSE(stats.repeated);
  EXPECT_TRUE(frame(512).repeated);
  EXPECT_FALSE(frame(500).repeated);

  // Reading the screen draws the frame at once; a texture gone may come back under its handle.
  rt::grabScreen(-1, 0, 0, 8, 8);
  EXPECT_FALSE(frame(500).repeated);
  EXPECT_TRUE(frame(500).repeated);
  rt::freeSprite(rt::createSpriteFromImage(-1, rt::createImage(-1, 2, 2)));
  EXPECT_FALSE(frame(500).repeated);
  rt::closeWindow(window);
}

// Whether a point lies inside a convex polygon (either winding).
bool inside(const rt::Vec2* polygon, int count, rt::Vec2 p) {
  int sign = 0;
  for (int i = 0; i < count; ++i) {
    rt::Vec2 a = polygon[i], b = polygon[(i + 1) % count];
    float cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    int s = cross > 1e-3f ? 1 : cross < -1e-3f ? -1 : 0;
    if (s != 0 && sign != 0 && s != sign) return false;
    if (s != 0) sign = s;
  }
  return true;
}

TEST_F(ScreenTest, QuadsLeaveOutTexelsThatCannotChangeAPixel) {
  // A 32 x 32 picture: a transparent rim, a visible disc inside, colour only in its middle.
  constexpr int kSide = 32;
  std::vector<uint8_t> pixels(kSide * kSide * 4, 0);
  auto texel = [&](int x, int y) { return &pixels[(y * kSide + x) * 4]; };
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      float dx = x + 0.5f - kSide / 2, dy = y + 0.5f - kSide / 2, r = std::hypot(dx, dy);
      if (r < 12) texel(x, y)[3] = 255;
      if (r < 6) texel(x, y)[0] = 200;
    }
  }
  rt::Handle image = rt::createImage(-1, kSide, kSide, pixels.data());
  rt::Handle quad = rt::createSprite3D(1, rt::createSpriteFromImage(1, image));
  rt::freeImage(image);
  rt::sizeSprite3D(quad, 64, 64);
  rt::rotateSprite3D(quad, 30, 0);
  auto check = [&](int source, int destination, float radius) {
    rt::setBlendMode(source, destination);
    rt::displaySprite3D(quad, 100, 100);
    const rt::DrawnQuad& q = drawn.back();
    ASSERT_GT(q.outlineCount, 2) << source << "/" << destination;
    // Every texel that matters, as the screen shows it, lies inside the outline.
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        if (std::hypot(x + 0.5f - kSide / 2, y + 0.5f - kSide / 2) >= radius) continue;
        float u = (x + 0.5f) / kSide, v = (y + 0.5f) / kSide;
        rt::Vec2 at{q.corners[0].x + (q.corners[1].x - q.corners[0].x) * u +
                        (q.corners[3].x - q.corners[0].x) * v,
                    q.corners[0].y + (q.corners[1].y - q.corners[0].y) * u +
                        (q.corners[3].y - q.corners[0].y) * v};
        EXPECT_TRUE(inside(q.outline, q.outlineCount, at)) << x << "," << y;
      }
    }
    for (int i = 0; i < q.outlineCount; ++i) {
      EXPECT_TRUE(inside(q.corners, 4, q.outline[i])) << "the outline stays inside the quad";
    }
  };
  check(5, 6, 12);
  check(9, 7, 6);
  rt::setBlendMode(3, 9);
  rt::displaySprite3D(quad, 100, 100);
  EXPECT_EQ(drawn.back().outlineCount, 0) << "every texel counts";
  rt::setBlendMode(5, 6);
  rt::setSprite3DColours(quad, std::vector<uint32_t>{0xFFFFFF, 0xFFFFFF, 0, 0}.data());
  rt::displaySprite3D(quad, 100, 100);
  EXPECT_EQ(drawn.back().outlineCount, 0) << "corner colours spread over the two triangles";
}

TEST_F(ScreenTest, ASteppedClockMovesOnlyWhenToldTo) {
  rt::setSteppedClock(true);
  uint64_t start = rt::microseconds();
  rt::delay(2);
  EXPECT_EQ(rt::microseconds(), start);
  rt::stepClock(12500);
  EXPECT_EQ(rt::microseconds(), start + 12500);
  EXPECT_EQ(rt::milliseconds(), static_cast<uint32_t>((start + 12500) / 1000));
  rt::setSteppedClock(false);
  EXPECT_GE(rt::microseconds(), start);
}

}  // namespace
