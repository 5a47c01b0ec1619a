// The backend-independent half of the screen: window, sprite and 3D-sprite tables, quad geometry,
// the draw recorder, frame pacing and the window-event queue.
#include <cmath>
#include <cstdio>
#include <deque>
#include <mutex>
#include <numbers>

#include "runtime/clock.h"
#include "runtime/containers.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen_local.h"

namespace rt {
namespace {

constexpr int kMaxSurfaceSide = 16384;
constexpr size_t kMaxQueuedEvents = 1024;  // nobody reading events must not grow memory
constexpr uint64_t kRateWindow = 2000000;  // microseconds averaged by measuredFrameRate

const ScreenBackend* activeBackend();

struct Window {
  NativeWindow native = nullptr;
  ~Window() {
    if (native) activeBackend()->destroyWindow(native);
  }
};

struct Sprite {
  int width = 0, height = 0;
  NativeTexture texture = nullptr;
  ~Sprite() {
    if (texture) activeBackend()->destroyTexture(texture);
  }
};

struct Sprite3D {
  Handle sprite = 0;
  float width = 0, height = 0;
  float rotation = 0;  // degrees, clockwise on screen
  bool explicitCorners = false;
  Vec2 corners[4];
  Vec2 uv[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  uint32_t colours[4] = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
};

struct ScreenState {
  bool open = false;
  Handle window = 0;
  int width = 0, height = 0;
};

struct Pacing {
  uint64_t period = 12500;  // microseconds; 80 frames per second until told otherwise
  uint64_t deadline = 0;
  uint64_t presented = 0;
  std::deque<uint64_t> recent;  // present times inside the last kRateWindow
};

// One record for the whole screen system. The tables come after the backend so that, at exit,
// their objects are destroyed while the backend that made them is still known.
struct ScreenSystem {
  const ScreenBackend* backend = &nullScreenBackend();
  bool initialised = false;
  ScreenState screen;
  Pacing pacing;
  int sourceBlend = 5, destinationBlend = 6;
  std::vector<DrawnQuad>* recorder = nullptr;
  bool textInput = false;  // backends start with the platform's text entry off
  std::mutex eventMutex;
  std::deque<WindowEvent> events;
  ObjectTable<Window> windows;
  ObjectTable<Sprite> sprites;
  ObjectTable<Sprite3D> sprites3D;
};

ScreenSystem& screenSystem() {
  static ScreenSystem s;
  return s;
}

const ScreenBackend* activeBackend() { return screenSystem().backend; }
ObjectTable<Window>& windows() { return screenSystem().windows; }
ObjectTable<Sprite>& sprites() { return screenSystem().sprites; }
ObjectTable<Sprite3D>& sprites3D() { return screenSystem().sprites3D; }

bool sensibleSize(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxSurfaceSide && height <= kMaxSurfaceSide;
}

void gatherEvents() {
  screenSystem().backend->pumpEvents();
  pumpInputScript();
}

// The texture handles die with the drawing surface; sprites stay but draw nothing.
void dropAllTextures() {
  const ScreenBackend* backend = screenSystem().backend;
  sprites().forEach([backend](Handle, Sprite& sprite) {
    if (sprite.texture) backend->destroyTexture(sprite.texture);
    sprite.texture = nullptr;
  });
}

void computeCorners(const Sprite3D& quad, float x, float y, Vec2 out[4]) {
  if (quad.explicitCorners) {
    for (int i = 0; i < 4; ++i) out[i] = {x + quad.corners[i].x, y + quad.corners[i].y};
    return;
  }
  float halfW = quad.width / 2, halfH = quad.height / 2;
  const Vec2 local[4] = {{-halfW, -halfH}, {halfW, -halfH}, {halfW, halfH}, {-halfW, halfH}};
  double radians = quad.rotation * std::numbers::pi / 180.0;
  float c = static_cast<float>(std::cos(radians)), s = static_cast<float>(std::sin(radians));
  float centreX = x + halfW, centreY = y + halfH;
  // With y growing downward this matrix turns clockwise on screen for positive angles.
  for (int i = 0; i < 4; ++i) {
    out[i] = {centreX + local[i].x * c - local[i].y * s, centreY + local[i].x * s + local[i].y * c};
  }
}

void recordPresent(Pacing& pacing, uint64_t now) {
  ++pacing.presented;
  pacing.recent.push_back(now);
  while (!pacing.recent.empty() && now - pacing.recent.front() > kRateWindow) {
    pacing.recent.pop_front();
  }
}

// Absolute deadlines: a late frame is caught up on the next one, but a stall of more than a
// frame starts the schedule again rather than racing to make up the lost time.
void waitForDeadline(Pacing& pacing) {
  if (pacing.period == 0) return;
  uint64_t now = microseconds();
  if (pacing.deadline == 0) pacing.deadline = now;
  pacing.deadline += pacing.period;
  if (now > pacing.deadline + pacing.period) {
    pacing.deadline = now;
    return;
  }
  delayUntil(pacing.deadline);
}

}  // namespace

// ---- System ------------------------------------------------------------------------------

bool initScreenSystem(Backend backend) {
  ScreenSystem& s = screenSystem();
  // Objects made before (by the default null backend) cannot move to another backend.
  shutdownScreenSystem();
  const ScreenBackend* chosen =
      backend == Backend::Sdl ? &sdlScreenBackend() : &nullScreenBackend();
  if (!chosen->init()) {
    logLine("SCREEN", "no display for the %s backend", backend == Backend::Sdl ? "SDL" : "null");
    return false;
  }
  s.backend = chosen;
  s.initialised = true;
  s.pacing = Pacing{};
  s.sourceBlend = 5;
  s.destinationBlend = 6;
  s.textInput = false;
  return true;
}

void shutdownScreenSystem() {
  ScreenSystem& s = screenSystem();
  sprites3D().clear();
  closeScreen();
  sprites().clear();
  windows().clear();
  {
    std::lock_guard lock(s.eventMutex);
    s.events.clear();
  }
  if (s.initialised) s.backend->shutdown();
  s.initialised = false;
  s.backend = &nullScreenBackend();
}

Backend screenBackend() { return screenSystem().backend->kind; }

// ---- Windows -----------------------------------------------------------------------------

Handle openWindow(int32_t number, int x, int y, int width, int height, const std::string& title,
                  uint32_t flags) {
  if (!sensibleSize(width, height)) return 0;
  return windows().create(number, [&]() -> std::unique_ptr<Window> {
    NativeWindow native = screenSystem().backend->createWindow(x, y, width, height, title, flags);
    if (!native) return nullptr;
    auto window = std::make_unique<Window>();
    window->native = native;
    return window;
  });
}

void closeWindow(uint32_t window) {
  Handle handle = windows().handleOf(window);
  if (!handle) return;
  if (screenSystem().screen.open && screenSystem().screen.window == handle) closeScreen();
  windows().free(handle);
}

namespace {

template <class F>
void withWindow(uint32_t window, F f) {
  Window* w = windows().find(window);
  if (w) f(w->native);
}

}  // namespace

void showWindow(uint32_t window) { withWindow(window, screenSystem().backend->showWindow); }
void hideWindow(uint32_t window) { withWindow(window, screenSystem().backend->hideWindow); }
void raiseWindow(uint32_t window) { withWindow(window, screenSystem().backend->raiseWindow); }
void minimizeWindow(uint32_t window) { withWindow(window, screenSystem().backend->minimizeWindow); }

void setWindowTitle(uint32_t window, const std::string& title) {
  withWindow(window,
             [&](NativeWindow native) { screenSystem().backend->setWindowTitle(native, title); });
}

bool windowVisible(uint32_t window) {
  Window* w = windows().find(window);
  return w && screenSystem().backend->windowVisible(w->native);
}

// ---- Text entry --------------------------------------------------------------------------

void setTextInput(bool on) {
  ScreenSystem& s = screenSystem();
  if (on == s.textInput) return;
  s.textInput = on;
  s.backend->setTextInput(on);
}

bool textInputOn() { return screenSystem().textInput; }

std::string clipboardText() {
  return typedText(screenSystem().backend->clipboardText());
}

void setClipboardText(const std::string& cp1252) {
  screenSystem().backend->setClipboardText(cp1252ToUtf8(cp1252));
}

// ---- Events ------------------------------------------------------------------------------

void pushWindowEvent(const WindowEvent& event) {
  ScreenSystem& s = screenSystem();
  std::lock_guard lock(s.eventMutex);
  if (s.events.size() >= kMaxQueuedEvents) s.events.pop_front();
  s.events.push_back(event);
}

int windowEvent(WindowEvent* out) {
  ScreenSystem& s = screenSystem();
  bool empty;
  {
    std::lock_guard lock(s.eventMutex);
    empty = s.events.empty();
  }
  if (empty) gatherEvents();
  std::lock_guard lock(s.eventMutex);
  if (s.events.empty()) {
    if (out) *out = WindowEvent{};
    return kEventNone;
  }
  WindowEvent event = s.events.front();
  s.events.pop_front();
  if (out) *out = event;
  return event.code;
}

void messageToStderr(const std::string& caption, const std::string& text) {
  fprintf(stderr, "%s: %s\n", cp1252ToUtf8(caption).c_str(), cp1252ToUtf8(text).c_str());
}

void messageBox(const std::string& caption, const std::string& text) {
  screenSystem().backend->messageBox(caption, text);
}

// ---- Screen ------------------------------------------------------------------------------

bool openWindowedScreen(uint32_t window, int x, int y, int width, int height) {
  ScreenSystem& s = screenSystem();
  Handle handle = windows().handleOf(window);
  Window* w = handle ? windows().find(handle) : nullptr;
  if (!w || !sensibleSize(width, height)) return false;
  if (s.screen.open) closeScreen();
  if (!s.backend->openScreen(w->native, x, y, width, height)) return false;
  s.screen = ScreenState{true, handle, width, height};
  return true;
}

void closeScreen() {
  ScreenSystem& s = screenSystem();
  if (!s.screen.open) return;
  dropAllTextures();
  s.backend->closeScreen();
  s.screen = ScreenState{};
}

int screenWidth() { return screenSystem().screen.width; }
int screenHeight() { return screenSystem().screen.height; }

void setFrameRate(int framesPerSecond) {
  Pacing& pacing = screenSystem().pacing;
  pacing.period = framesPerSecond > 0 ? 1000000u / static_cast<uint64_t>(framesPerSecond) : 0;
  pacing.deadline = 0;
}

void flipScreen() {
  ScreenSystem& s = screenSystem();
  if (s.screen.open) s.backend->present();
  recordPresent(s.pacing, microseconds());
  waitForDeadline(s.pacing);
  gatherEvents();
}

void clearScreen(uint32_t colourBGR) {
  if (!screenSystem().screen.open) return;
  screenSystem().backend->clear(colourBGR & 0xFF, (colourBGR >> 8) & 0xFF,
                                (colourBGR >> 16) & 0xFF);
}

bool beginDrawing() { return screenSystem().backend->canDraw(); }

void endDrawing() {}

uint64_t framesPresented() { return screenSystem().pacing.presented; }

double measuredFrameRate() {
  const std::deque<uint64_t>& recent = screenSystem().pacing.recent;
  if (recent.size() < 2) return 0;
  uint64_t span = recent.back() - recent.front();
  if (span == 0) return 0;
  return static_cast<double>(recent.size() - 1) * 1e6 / static_cast<double>(span);
}

Handle grabScreen(int32_t number, int x, int y, int width, int height) {
  ScreenSystem& s = screenSystem();
  if (!s.screen.open || !sensibleSize(width, height)) return 0;
  if (x < 0 || y < 0 || x + width > s.screen.width || y + height > s.screen.height) return 0;
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  if (!s.backend->readPixels(x, y, width, height, rgba.data())) return 0;
  return createImage(number, width, height, rgba.data());
}

// ---- Sprites -----------------------------------------------------------------------------

namespace {

Handle makeSprite(int32_t number, int width, int height, const uint8_t* rgba) {
  if (!sensibleSize(width, height) || !rgba) return 0;
  return sprites().create(number, [&]() -> std::unique_ptr<Sprite> {
    NativeTexture texture = screenSystem().backend->createTexture(width, height, rgba);
    if (!texture) {
      logLine("SCREEN", "cannot make a %dx%d texture", width, height);
      return nullptr;
    }
    auto sprite = std::make_unique<Sprite>();
    sprite->width = width;
    sprite->height = height;
    sprite->texture = texture;
    return sprite;
  });
}

}  // namespace

Handle createSpriteFromMemory(int32_t number, const void* data, size_t length) {
  Pixels pixels;
  if (!data || !decodePicture(data, length, &pixels)) return 0;
  return makeSprite(number, pixels.width, pixels.height, pixels.rgba.data());
}

Handle createSpriteFromImage(int32_t number, uint32_t image) {
  if (!imageExists(image)) return 0;
  return makeSprite(number, imageWidth(image), imageHeight(image), imagePixels(image));
}

int spriteWidth(uint32_t sprite) {
  Sprite* s = sprites().find(sprite);
  return s ? s->width : 0;
}

int spriteHeight(uint32_t sprite) {
  Sprite* s = sprites().find(sprite);
  return s ? s->height : 0;
}

void freeSprite(uint32_t sprite) { sprites().free(sprite); }
bool spriteExists(uint32_t sprite) { return sprites().exists(sprite); }

// ---- 3D sprites --------------------------------------------------------------------------

Handle createSprite3D(int32_t number, uint32_t sprite) {
  Handle texture = sprites().handleOf(sprite);
  if (!texture) return 0;
  return sprites3D().create(number, [&]() -> std::unique_ptr<Sprite3D> {
    auto quad = std::make_unique<Sprite3D>();
    quad->sprite = texture;
    quad->width = static_cast<float>(spriteWidth(texture));
    quad->height = static_cast<float>(spriteHeight(texture));
    return quad;
  });
}

void freeSprite3D(uint32_t sprite3D) { sprites3D().free(sprite3D); }
bool sprite3DExists(uint32_t sprite3D) { return sprites3D().exists(sprite3D); }

void sizeSprite3D(uint32_t sprite3D, float width, float height) {
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q) return;
  q->width = width;
  q->height = height;
  q->explicitCorners = false;
}

void rotateSprite3D(uint32_t sprite3D, float angle, int mode) {
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q) return;
  q->rotation = mode == 1 ? q->rotation + angle : angle;
  // Kept within one turn so that endless spinning does not lose float precision.
  q->rotation = std::fmod(q->rotation, 360.0f);
}

float sprite3DRotation(uint32_t sprite3D) {
  Sprite3D* q = sprites3D().find(sprite3D);
  return q ? q->rotation : 0;
}

void transformSprite3D(uint32_t sprite3D, const Vec2 corners[4]) {
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q || !corners) return;
  for (int i = 0; i < 4; ++i) q->corners[i] = corners[i];
  q->explicitCorners = true;
}

void setSprite3DTexCoords(uint32_t sprite3D, const Vec2 uv[4]) {
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q || !uv) return;
  for (int i = 0; i < 4; ++i) q->uv[i] = uv[i];
}

void clipSprite3D(uint32_t sprite3D, float x, float y, float w, float h) {
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q) return;
  Sprite* s = sprites().find(q->sprite);
  if (!s) return;
  float u0 = x / static_cast<float>(s->width), v0 = y / static_cast<float>(s->height);
  float u1 = (x + w) / static_cast<float>(s->width), v1 = (y + h) / static_cast<float>(s->height);
  const Vec2 uv[4] = {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}};
  for (int i = 0; i < 4; ++i) q->uv[i] = uv[i];
}

void setSprite3DColours(uint32_t sprite3D, const uint32_t colours[4]) {
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q || !colours) return;
  for (int i = 0; i < 4; ++i) q->colours[i] = colours[i] & 0xFFFFFF;
}

void setSprite3DColour(uint32_t sprite3D, uint32_t colourRGB) {
  const uint32_t all[4] = {colourRGB, colourRGB, colourRGB, colourRGB};
  setSprite3DColours(sprite3D, all);
}

float sprite3DWidth(uint32_t sprite3D) {
  Sprite3D* q = sprites3D().find(sprite3D);
  return q ? q->width : 0;
}

float sprite3DHeight(uint32_t sprite3D) {
  Sprite3D* q = sprites3D().find(sprite3D);
  return q ? q->height : 0;
}

uint32_t sprite3DTexture(uint32_t sprite3D) {
  Sprite3D* q = sprites3D().find(sprite3D);
  return q ? q->sprite : 0;
}

void displaySprite3D(uint32_t sprite3D, float x, float y, int alpha) {
  ScreenSystem& s = screenSystem();
  Sprite3D* q = sprites3D().find(sprite3D);
  if (!q) return;
  Sprite* texture = sprites().find(q->sprite);
  if (!texture) return;
  DrawnQuad drawn;
  drawn.sprite3D = sprites3D().handleOf(sprite3D);
  drawn.texture = q->sprite;
  computeCorners(*q, x, y, drawn.corners);
  for (int i = 0; i < 4; ++i) {
    drawn.uv[i] = q->uv[i];
    drawn.colours[i] = q->colours[i];
  }
  drawn.alpha = alpha < 0 ? 0 : alpha > 255 ? 255 : alpha;
  drawn.sourceBlend = s.sourceBlend;
  drawn.destinationBlend = s.destinationBlend;
  if (s.recorder) s.recorder->push_back(drawn);
  if (texture->texture) s.backend->drawQuad(texture->texture, drawn);
}

void setBlendMode(int sourceFactor, int destinationFactor) {
  if (sourceFactor < 1 || sourceFactor > 10 || destinationFactor < 1 || destinationFactor > 10) {
    return;
  }
  screenSystem().sourceBlend = sourceFactor;
  screenSystem().destinationBlend = destinationFactor;
}

void setDrawRecorder(std::vector<DrawnQuad>* recorder) { screenSystem().recorder = recorder; }

}  // namespace rt
