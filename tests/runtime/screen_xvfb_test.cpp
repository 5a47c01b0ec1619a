// The SDL screen on a private X server: windows, real pixels read back after blending, the
// window's events and the logo window.
#include "runtime/screen.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "runtime/clock.h"
#include "runtime/input.h"
#include "support/test_support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kSize = 64;

struct Rgb {
  int r, g, b;
};

class SdlScreenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::startXvfb()) return;
    if (!rt::initScreenSystem(rt::Backend::Sdl)) return;
    window =
        rt::openWindow(0, 0, 0, kSize, kSize, "Test", rt::kWindowCentred | rt::kWindowBorderless);
    ready = window && rt::openWindowedScreen(window, 0, 0, kSize, kSize);
  }
  static void TearDownTestSuite() { rt::shutdownScreenSystem(); }

  void SetUp() override {
    if (!ready) GTEST_SKIP() << "no X server or no SDL display";
    rt::setBlendMode(5, 6);
  }

  // A quad of one colour and alpha over the whole screen.
  static rt::Handle solidQuad(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 4 * 4; ++i) pixels.insert(pixels.end(), {r, g, b, a});
    rt::Handle image = rt::createImage(-1, 4, 4, pixels.data());
    rt::Handle sprite = rt::createSpriteFromImage(-1, image);
    rt::freeImage(image);
    rt::Handle quad = rt::createSprite3D(-1, sprite);
    rt::sizeSprite3D(quad, kSize, kSize);
    return quad;
  }

  static Rgb pixelAt(int x, int y) {
    rt::Handle grab = rt::grabScreen(-1, 0, 0, kSize, kSize);
    EXPECT_NE(grab, 0u);
    if (!grab) return {-1, -1, -1};
    const uint8_t* p = rt::imagePixels(grab) + (y * kSize + x) * 4;
    Rgb rgb{p[0], p[1], p[2]};
    rt::freeImage(grab);
    return rgb;
  }

  static void expectNear(Rgb got, Rgb want) {
    EXPECT_NEAR(got.r, want.r, 3);
    EXPECT_NEAR(got.g, want.g, 3);
    EXPECT_NEAR(got.b, want.b, 3);
  }

  static void drainEvents() {
    while (rt::windowEvent() != rt::kEventNone) {
    }
  }

  static inline rt::Handle window = 0;
  static inline bool ready = false;
};

TEST_F(SdlScreenTest, WindowOpensHiddenAndShows) {
  rt::Handle w =
      rt::openWindow(5, 0, 0, 200, 100, "Hidden", rt::kWindowHidden | rt::kWindowBorderless);
  ASSERT_NE(w, 0u);
  EXPECT_FALSE(rt::windowVisible(w));
  rt::showWindow(5);
  EXPECT_TRUE(rt::windowVisible(w));
  rt::hideWindow(w);
  EXPECT_FALSE(rt::windowVisible(w));
  rt::closeWindow(w);
  EXPECT_FALSE(rt::windowVisible(w));
  EXPECT_TRUE(rt::windowVisible(window));
}

TEST_F(SdlScreenTest, ClearColourHasRedInTheLowByte) {
  rt::clearScreen(0x00332211);
  expectNear(pixelAt(10, 10), {0x11, 0x22, 0x33});
}

TEST_F(SdlScreenTest, NormalBlendMixesByAlpha) {
  rt::clearScreen(0x0000C8);  // red 200
  ASSERT_TRUE(rt::beginDrawing());
  rt::Handle quad = solidQuad(255, 255, 255, 255);
  rt::displaySprite3D(quad, 0, 0, 128);
  rt::endDrawing();
  // 255 * 128/255 + 200 * 127/255 and 255 * 128/255 + 0
  expectNear(pixelAt(32, 32), {228, 128, 128});

  rt::clearScreen(0);
  rt::Handle halfTexture = solidQuad(0, 255, 0, 128);
  rt::displaySprite3D(halfTexture, 0, 0);
  expectNear(pixelAt(5, 60), {0, 128, 0});
}

TEST_F(SdlScreenTest, LightBlendDoublesWhatIsBelow) {
  rt::clearScreen(0x646464);  // grey 100
  rt::Handle light = solidQuad(255, 255, 255, 255);
  rt::setBlendMode(9, 7);  // source * destination + destination * destination alpha (1)
  rt::displaySprite3D(light, 0, 0);
  expectNear(pixelAt(32, 32), {200, 200, 200});

  // A tinted light brightens by its colour; even a half-transparent light texture counts fully.
  rt::clearScreen(0x646464);
  rt::Handle tinted = solidQuad(255, 255, 255, 100);
  rt::setSprite3DColour(tinted, 0xFF0000);
  rt::displaySprite3D(tinted, 0, 0);
  expectNear(pixelAt(32, 32), {200, 100, 100});

  // Copying a fully transparent picture (one, zero) must not make the screen transparent.
  rt::clearScreen(0);
  rt::Handle clearGrey = solidQuad(100, 100, 100, 0);
  rt::setBlendMode(2, 1);
  rt::displaySprite3D(clearGrey, 0, 0);
  rt::setBlendMode(9, 7);
  rt::displaySprite3D(light, 0, 0);
  expectNear(pixelAt(32, 32), {200, 200, 200});
}

TEST_F(SdlScreenTest, AmbientBlendSquaresBoth) {
  rt::clearScreen(0xC8C8C8);  // grey 200
  rt::Handle ambient = solidQuad(255, 255, 255, 255);
  rt::setSprite3DColour(ambient, 0x808080);
  rt::setBlendMode(3, 9);  // source * source + destination * destination
  rt::displaySprite3D(ambient, 0, 0);
  // (128/255)^2 + (200/255)^2 = 0.252 + 0.615
  expectNear(pixelAt(32, 32), {221, 221, 221});
  // The same as a plain rectangle, red first.
  rt::clearScreen(0xC8C8C8);
  rt::fillRect(0, 0, kSize, kSize, 0x800000);
  expectNear(pixelAt(32, 32), {221, 157, 157});
}

TEST_F(SdlScreenTest, UnscaledQuadsHitTexelsExactly) {
  // How text is placed: corners at whole pixels minus one half map each texel onto one pixel.
  const uint8_t checker[2 * 2 * 4] = {
      255, 0, 0, 255,  0, 0, 255, 255,  // red, blue
      0, 0, 255, 255,  255, 0, 0, 255,  // blue, red
  };
  rt::Handle image = rt::createImage(-1, 2, 2, checker);
  rt::Handle sprite = rt::createSpriteFromImage(-1, image);
  rt::freeImage(image);
  rt::Handle quad = rt::createSprite3D(-1, sprite);
  // Placed on whole pixels, an unscaled quad keeps the pixels it covers and its texels stay
  // sharp rather than mixing with their neighbours.
  for (float x : {20 - 0.5f, 20.0f, 20.3f - 0.5f}) {
    rt::clearScreen(0);
    rt::displaySprite3D(quad, x, 30 - 0.5f);
    rt::Handle grab = rt::grabScreen(-1, 20, 30, 2, 2);
    ASSERT_NE(grab, 0u);
    const uint8_t* p = rt::imagePixels(grab);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(p[i * 4 + 0], checker[i * 4 + 0]) << "pixel " << i << " at " << x;
      EXPECT_EQ(p[i * 4 + 2], checker[i * 4 + 2]) << "pixel " << i << " at " << x;
    }
    rt::freeImage(grab);
  }
  EXPECT_EQ(rt::grabScreen(-1, 60, 60, 8, 8), 0u);  // reaches past the screen
}

// The system's clipboard may hold any character; the game takes those Windows-1252 has.
TEST_F(SdlScreenTest, ClipboardTextKeepsOnlyCharactersWithACode) {
  ASSERT_EQ(SDL_SetClipboardText("A\u2713B\u00E4"), 0);
  EXPECT_EQ(rt::clipboardText(), "AB\xE4");
  rt::setClipboardText("\xE4\x80");
  EXPECT_EQ(rt::clipboardText(), "\xE4\x80");
}

TEST_F(SdlScreenTest, FreedSpriteLeavesItsQuadHarmless) {
  rt::Handle quad = solidQuad(255, 255, 255, 255);
  rt::freeSprite(rt::sprite3DTexture(quad));
  rt::clearScreen(0);
  rt::displaySprite3D(quad, 0, 0);
  expectNear(pixelAt(32, 32), {0, 0, 0});
}

// Events that SDL would deliver for a real keyboard and mouse.
TEST_F(SdlScreenTest, WindowEventsFeedEventsAndInputState) {
  drainEvents();
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.scancode = SDL_SCANCODE_BACKSPACE;
  SDL_PushEvent(&e);
  e.key.repeat = 1;
  SDL_PushEvent(&e);
  e = SDL_Event{};
  e.type = SDL_TEXTINPUT;
  SDL_strlcpy(e.text.text, "a\xC3\xA9", sizeof e.text.text);  // "aé"
  SDL_PushEvent(&e);
  e = SDL_Event{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_RIGHT;
  e.button.x = 12;
  e.button.y = 34;
  SDL_PushEvent(&e);
  e = SDL_Event{};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.y = -2;
  SDL_PushEvent(&e);

  std::vector<rt::WindowEvent> got;
  rt::WindowEvent event;
  while (rt::windowEvent(&event) != rt::kEventNone) got.push_back(event);
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[0].code, rt::kEventKeyDown);
  EXPECT_EQ(got[0].param, 14);
  EXPECT_EQ(got[1].code, rt::kEventChar);
  EXPECT_EQ(got[1].param, 8);
  EXPECT_EQ(got[2].code, rt::kEventKeyDown);  // the repeat, for text fields
  EXPECT_EQ(got[3].param, 8);
  EXPECT_EQ(got[4].param, 'a');
  EXPECT_EQ(got[5].param, 0xE9);
  EXPECT_EQ(got[6].code, rt::kEventRightDown);
  EXPECT_EQ(got[6].x, 12);
  EXPECT_EQ(got[6].y, 34);
  EXPECT_EQ(got[7].code, rt::kEventWheel);
  EXPECT_EQ(got[7].param, -240);

  rt::examineKeyboard();
  EXPECT_TRUE(rt::keyPushed(14));
  EXPECT_TRUE(rt::mouseRight());
  EXPECT_EQ(rt::mouseX(), 12);
  EXPECT_EQ(rt::mouseWheel(), -2);

  // Losing the focus lets go of everything; quitting is one close event.
  e = SDL_Event{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  SDL_PushEvent(&e);
  e = SDL_Event{};
  e.type = SDL_QUIT;
  SDL_PushEvent(&e);
  rt::flipScreen();
  rt::examineKeyboard();
  EXPECT_FALSE(rt::keyPushed(14));
  EXPECT_FALSE(rt::mouseRight());
  EXPECT_EQ(rt::windowEvent(), rt::kEventClose);
  EXPECT_EQ(rt::windowEvent(), rt::kEventNone);
}

// ---- The game's screen in windows of other sizes ------------------------------------------

class ScaledScreenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::startXvfb() || !rt::initScreenSystem(rt::Backend::Sdl)) return;
    window = rt::openWindow(0, 0, 0, 1024, 768, "Scaled",
                            rt::kWindowCentred | rt::kWindowBorderless | rt::kWindowResizable);
    ready = window && rt::openWindowedScreen(window, 0, 0, 1024, 768);
  }
  static void TearDownTestSuite() { rt::shutdownScreenSystem(); }
  void SetUp() override {
    if (!ready) GTEST_SKIP() << "no X server or no SDL display";
  }

  // The test's window among SDL's.
  static SDL_Window* first() {
    for (Uint32 id = 1; id < 64; ++id) {
      SDL_Window* w = SDL_GetWindowFromID(id);
      if (w && SDL_strcmp(SDL_GetWindowTitle(w), "Scaled") == 0) return w;
    }
    return nullptr;
  }

  // Until the window has the size (the X server answers in its own time) and its events are in.
  static bool waitForSize(int width, int height) {
    for (int i = 0; i < 100; ++i) {
      drain();
      int w = 0, h = 0;
      SDL_GetWindowSize(first(), &w, &h);
      if (w == width && h == height) return true;
      rt::delay(10);
    }
    return false;
  }

  static void drain() {
    while (rt::windowEvent() != rt::kEventNone) {
    }
  }

  // Where a left press at a window position lands on the screen.
  static rt::WindowEvent pressAt(int x, int y) {
    drain();
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.windowID = SDL_GetWindowID(first());
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
    e.type = SDL_MOUSEBUTTONUP;
    SDL_PushEvent(&e);
    rt::WindowEvent got;
    while (rt::windowEvent(&got) != rt::kEventNone && got.code != rt::kEventLeftDown) {
    }
    drain();
    return got;
  }

  static void pushKey(SDL_Scancode scancode, bool down, Uint16 mod = KMOD_NONE) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = SDL_GetWindowID(first());
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
  }

  static inline rt::Handle window = 0;
  static inline bool ready = false;
};

TEST_F(ScaledScreenTest, MouseFindsTheSameWidgetAtEveryWindowSize) {
  struct Rect {
    int x, y, width, height;
  };
  // The title bar's close box, a menu button and the last pixels in the corner.
  const Rect widgets[] = {{992, 0, 32, 28}, {400, 300, 224, 40}, {1016, 760, 8, 8}};
  struct Size {
    int width, height;
    double left, top, scale;  // where the screen shows, worked out by hand
  };
  const Size sizes[] = {{1024, 768, 0, 0, 1}, {1280, 720, 160, 0, 0.9375}, {640, 600, 0, 60, 0.625}};
  for (const Size& size : sizes) {
    SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
    rt::setWindowedSize(size.width, size.height);
    ASSERT_TRUE(waitForSize(size.width, size.height));
    int width = 0, height = 0;
    ASSERT_TRUE(rt::windowedSize(&width, &height));
    EXPECT_EQ(width, size.width);
    for (const Rect& r : widgets) {
      double middleX = r.x + r.width / 2.0, middleY = r.y + r.height / 2.0;
      rt::WindowEvent e = pressAt(static_cast<int>(size.left + middleX * size.scale),
                                  static_cast<int>(size.top + middleY * size.scale));
      EXPECT_EQ(e.code, rt::kEventLeftDown);
      EXPECT_GE(e.x, r.x);
      EXPECT_LT(e.x, r.x + r.width);
      EXPECT_GE(e.y, r.y);
      EXPECT_LT(e.y, r.y + r.height);
    }
    rt::examineKeyboard();
    EXPECT_GE(rt::mouseX(), 1016);
    EXPECT_GE(rt::mouseY(), 760);
    // A press on a bar lies off the screen.
    if (size.left > 0) {
      EXPECT_LT(pressAt(10, 10).x, 0);
    }
    if (size.top > 0) {
      EXPECT_LT(pressAt(10, 10).y, 0);
    }
  }
}

TEST_F(ScaledScreenTest, TheWindowShowsTheScreenBetweenBarsAndScreenshotsKeepItsSize) {
  auto drawFrame = [] {
    rt::clearScreen(0x0000FF);  // red
    rt::fillRect(1000, 0, 24, 24, 0x00FF00);
  };
  rt::setWindowedSize(1024, 768);
  ASSERT_TRUE(waitForSize(1024, 768));
  drawFrame();
  rt::flipScreen();
  // The same frame in a window of another size is drawn again, and only once.
  rt::setWindowedSize(1280, 720);
  ASSERT_TRUE(waitForSize(1280, 720));
  drawFrame();
  rt::flipScreen();
  EXPECT_FALSE(rt::lastFrameStats().repeated);
  drawFrame();
  rt::flipScreen();
  EXPECT_TRUE(rt::lastFrameStats().repeated);

  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  int left = 0, top = 0;
  SDL_GetWindowPosition(first(), &left, &top);
  XImage* shot = XGetImage(display, DefaultRootWindow(display), left, top, 1280, 720, AllPlanes,
                           ZPixmap);
  ASSERT_NE(shot, nullptr);
  auto red = [&](int x, int y) { return (XGetPixel(shot, x, y) >> 16) & 0xFF; };
  auto green = [&](int x, int y) { return (XGetPixel(shot, x, y) >> 8) & 0xFF; };
  EXPECT_EQ(red(100, 360), 0u);    // the left bar
  EXPECT_EQ(red(1200, 360), 0u);   // the right bar
  EXPECT_EQ(red(640, 360), 255u);  // the screen
  EXPECT_EQ(green(1100, 10), 255u);  // its top-right square, scaled
  XDestroyImage(shot);
  XCloseDisplay(display);

  // The read-back is the screen's own pixels, not the window's.
  drawFrame();
  rt::Handle grab = rt::grabScreen(-1, 0, 0, 1024, 768);
  ASSERT_NE(grab, 0u);
  EXPECT_EQ(rt::imageWidth(grab), 1024);
  const uint8_t* corner = rt::imagePixels(grab) + 1023 * 4;
  EXPECT_EQ(corner[0], 0);
  EXPECT_EQ(corner[1], 255);
  const uint8_t* middle = rt::imagePixels(grab) + (400 * 1024 + 500) * 4;
  EXPECT_EQ(middle[0], 255);
  rt::freeImage(grab);
  rt::flipScreen();
}

TEST_F(ScaledScreenTest, FullscreenKeysBelongToTheWindow) {
  rt::setWindowedSize(1024, 768);
  ASSERT_TRUE(waitForSize(1024, 768));
  drain();
  pushKey(SDL_SCANCODE_F11, true);
  pushKey(SDL_SCANCODE_F11, false);
  EXPECT_EQ(rt::windowEvent(), rt::kEventNone);
  EXPECT_TRUE(rt::fullscreen());
  EXPECT_TRUE(waitForSize(1280, 1024));  // the test's X server, which has no window manager
  int width = 0, height = 0;
  rt::windowedSize(&width, &height);
  EXPECT_EQ(width, 1024);  // what it goes back to

  // Alt+Enter back: neither the key nor its character reaches the game, the Alt key does.
  pushKey(SDL_SCANCODE_LALT, true, KMOD_LALT);
  pushKey(SDL_SCANCODE_RETURN, true, KMOD_LALT);
  pushKey(SDL_SCANCODE_RETURN, false, KMOD_LALT);
  pushKey(SDL_SCANCODE_LALT, false);
  std::vector<rt::WindowEvent> got;
  rt::WindowEvent e;
  while (rt::windowEvent(&e) != rt::kEventNone) got.push_back(e);
  for (const rt::WindowEvent& event : got) {
    EXPECT_NE(event.param, 28) << "Enter reached the game as event " << event.code;
    EXPECT_NE(event.code, rt::kEventChar);
  }
  EXPECT_EQ(got.size(), 2u);  // Alt down and up
  EXPECT_FALSE(rt::fullscreen());
  ASSERT_TRUE(waitForSize(1024, 768));

  // Enter alone is the game's.
  pushKey(SDL_SCANCODE_RETURN, true);
  ASSERT_EQ(rt::windowEvent(&e), rt::kEventKeyDown);
  EXPECT_EQ(e.param, 28);
  EXPECT_EQ(rt::windowEvent(&e), rt::kEventChar);
  drain();
}

// ---- The logo window ---------------------------------------------------------------------

// The override-redirect window of the given size among the root's children, or 0.
::Window findLogo(Display* display, int width, int height) {
  ::Window root, parent, *children = nullptr, found = 0;
  unsigned count = 0;
  XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display, children[i], &a)) continue;
    if (a.override_redirect && a.width == width && a.height == height) found = children[i];
  }
  if (children) XFree(children);
  return found;
}

TEST(LogoWindow, ShowsPremultipliedPixelsCentred) {
  if (!test::startXvfb()) GTEST_SKIP() << "no X server";
  std::vector<uint8_t> rgba;
  for (int i = 0; i < 40 * 30; ++i) rgba.insert(rgba.end(), {255, 100, 0, 128});
  rt::Handle image = rt::createImage(-1, 40, 30, rgba.data());
  if (!rt::initScreenSystem(rt::Backend::Sdl)) GTEST_SKIP() << "no SDL display";
  // Opened from a thread of its own, as at start-up, and painted before the first pump.
  rt::Handle logo = 0;
  rt::Handle thread = rt::startThread([&] { logo = rt::openLogoWindow(2, image, "Powderbox"); });
  rt::waitThread(thread);
  ASSERT_NE(logo, 0u);

  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  ::Window w = findLogo(display, 40, 30);
  ASSERT_NE(w, 0u);
  XWindowAttributes a;
  XGetWindowAttributes(display, w, &a);
  EXPECT_EQ(a.map_state, IsViewable);
  EXPECT_EQ(a.x, (1280 - 40) / 2);
  EXPECT_EQ(a.y, (1024 - 30) / 2);
  XImage* shot = XGetImage(display, w, 0, 0, 40, 30, AllPlanes, ZPixmap);
  ASSERT_NE(shot, nullptr);
  unsigned long pixel = XGetPixel(shot, 20, 15);
  auto channel = [pixel](unsigned long mask) {
    return static_cast<int>((pixel & mask) >> __builtin_ctzl(mask));
  };
  EXPECT_NEAR(channel(a.visual->red_mask), 128, 1);
  EXPECT_NEAR(channel(a.visual->green_mask), 50, 1);
  EXPECT_EQ(channel(a.visual->blue_mask), 0);
  if (a.depth == 32) {
    EXPECT_NEAR(static_cast<int>(pixel >> 24), 128, 1);
  }
  XDestroyImage(shot);

  rt::pumpLogoWindow(logo);
  rt::closeLogoWindow(logo);
  XSync(display, False);
  EXPECT_EQ(findLogo(display, 40, 30), 0u);
  XCloseDisplay(display);
  rt::freeImage(image);
  rt::shutdownScreenSystem();
}

}  // namespace
