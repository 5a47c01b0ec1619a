// The backend-independent half of the screen: window, sprite and 3D-sprite tables, quad geometry,
// the draw recorder, frame pacing and the window-event queue.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>
#include <numbers>
#include <vector>

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
constexpr uint64_t kFingerprintStart = 14695981039346656037ull;  // FNV-1a

const ScreenBackend* activeBackend();

struct Window {
  NativeWindow native = nullptr;
  ~Window() {
    if (native) activeBackend()->destroyWindow(native);
  }
};

void submitPendingFrame();
void forgetShownFrame();

constexpr int kOpacityBlock = 8;  // texels on a side of the blocks whose opacity is kept

struct Sprite {
  int width = 0, height = 0;
  NativeTexture texture = nullptr;
  // Whether every texel is opaque, and which blocks of kOpacityBlock x kOpacityBlock texels are
  // (row by row), so that quads over opaque texels may skip blending.
  bool opaque = false;
  int blockColumns = 0;
  std::vector<bool> opaqueBlocks;
  // The texels that can change a pixel lie inside this octagon: bounds of x, y, x + y and
  // x - y in texels, one for texels with alpha and one for texels with colour.
  struct Octagon {
    float low[4] = {1e9f, 1e9f, 1e9f, 1e9f};
    float high[4] = {-1e9f, -1e9f, -1e9f, -1e9f};
    bool empty() const { return low[0] > high[0]; }
    void add(float x, float y) {
      const float value[4] = {x, y, x + y, x - y};
      for (int i = 0; i < 4; ++i) {
        low[i] = std::min(low[i], value[i]);
        high[i] = std::max(high[i], value[i]);
      }
    }
  };
  Octagon withAlpha, withColour;
  ~Sprite() {
    if (!texture) return;
    submitPendingFrame();  // quads of this frame may still use the texture
    forgetShownFrame();    // and a new texture may come under the same handle
    activeBackend()->destroyTexture(texture);
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
// What the frame has drawn so far, handed to the backend only when it is presented (or read
// back), so that a frame just like the one on screen costs no drawing at all. The fingerprint
// sums up everything drawn, in order.
struct PendingFrame {
  struct Command {
    NativeTexture texture = nullptr;  // null: the quad's colours alone
    DrawnQuad quad;
    bool clear = false;
    uint8_t red = 0, green = 0, blue = 0;
  };
  std::vector<Command> commands;
  uint64_t fingerprint = kFingerprintStart;
  uint64_t shown = 0;      // the fingerprint of the frame on screen; 0 for none
  bool submitted = false;  // this frame went to the backend early: the rest follows directly
};

// The frame being drawn and the last one presented, with what the last quad used.
struct FrameStats {
  DrawStats drawing, presented;
  uint32_t lastTexture = 0;
  int lastBlend = -1;
};

struct ScreenSystem {
  const ScreenBackend* backend = &nullScreenBackend();
  bool initialised = false;
  ScreenState screen;
  Pacing pacing;
  int sourceBlend = 5, destinationBlend = 6;
  std::vector<DrawnQuad>* recorder = nullptr;
  FrameStats stats;
  PendingFrame pending;
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

void forgetShownFrame() { screenSystem().pending.shown = 0; }

// The texture handles die with the drawing surface; sprites stay but draw nothing.
void dropAllTextures() {
  screenSystem().pending = PendingFrame{};
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

// A convex polygon on the stack: every quad is clipped a dozen times a frame. Each cut by a
// half-plane adds at most one corner to the four a quad starts with.
struct Polygon {
  Vec2 points[20];
  size_t size = 0;

  Polygon(const Vec2* from, size_t count) : size(count) {
    std::copy(from, from + count, points);
  }
};

// Cuts a convex polygon down to where a * x + b * y <= c.
void clipPolygon(Polygon& polygon, float a, float b, float c) {
  Polygon kept(nullptr, 0);
  auto side = [&](Vec2 p) { return a * p.x + b * p.y - c; };
  for (size_t i = 0; i < polygon.size; ++i) {
    Vec2 p = polygon.points[i], q = polygon.points[(i + 1) % polygon.size];
    float sp = side(p), sq = side(q);
    if (sp <= 0) kept.points[kept.size++] = p;
    if ((sp <= 0) != (sq <= 0)) {
      float f = sp / (sp - sq);
      kept.points[kept.size++] = {p.x + (q.x - p.x) * f, p.y + (q.y - p.y) * f};
    }
  }
  polygon = kept;
}

double polygonArea(const Polygon& polygon) {
  double twice = 0;
  for (size_t i = 0; i < polygon.size; ++i) {
    Vec2 a = polygon.points[i], b = polygon.points[(i + 1) % polygon.size];
    twice += double{a.x} * b.y - double{b.x} * a.y;
  }
  return std::abs(twice) / 2;
}

// The area of the quad's shape inside the screen.
double areaOnScreen(const DrawnQuad& quad, float width, float height) {
  Polygon polygon = quad.outlineCount > 0 ? Polygon(quad.outline, quad.outlineCount)
                                          : Polygon(quad.corners, 4);
  clipPolygon(polygon, -1, 0, 0);
  clipPolygon(polygon, 1, 0, width);
  clipPolygon(polygon, 0, -1, 0);
  clipPolygon(polygon, 0, 1, height);
  return polygonArea(polygon);
}

void countQuad(ScreenSystem& s, const DrawnQuad& quad) {
  FrameStats& stats = s.stats;
  DrawStats& frame = stats.drawing;
  int blend = quad.blend ? quad.sourceBlend * 11 + quad.destinationBlend : 0;
  if (frame.quads > 0 && quad.texture != stats.lastTexture) ++frame.textureSwitches;
  if (frame.quads > 0 && blend != stats.lastBlend) ++frame.blendSwitches;
  ++frame.quads;
  stats.lastTexture = quad.texture;
  stats.lastBlend = blend;
  if (quad.blend) {
    frame.blendedPixels += areaOnScreen(quad, static_cast<float>(s.screen.width),
                                        static_cast<float>(s.screen.height));
  }
}

void addToFingerprint(uint64_t& fingerprint, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) fingerprint = (fingerprint ^ bytes[i]) * 1099511628211ull;
}

void addToFingerprint(uint64_t& fingerprint, const DrawnQuad& q) {
  addToFingerprint(fingerprint, &q.texture, sizeof q.texture);
  addToFingerprint(fingerprint, q.corners, sizeof q.corners);
  addToFingerprint(fingerprint, q.uv, sizeof q.uv);
  addToFingerprint(fingerprint, q.colours, sizeof q.colours);
  const int rest[4] = {q.alpha, q.sourceBlend, q.destinationBlend, q.blend * 2 + q.exact};
  addToFingerprint(fingerprint, rest, sizeof rest);
}

void runCommand(const PendingFrame::Command& c) {
  const ScreenBackend* backend = screenSystem().backend;
  if (c.clear) {
    backend->clear(c.red, c.green, c.blue);
  } else {
    backend->drawQuad(c.texture, c.quad);
  }
}

void queueCommand(const PendingFrame::Command& command) {
  PendingFrame& pending = screenSystem().pending;
  if (command.clear) {
    const uint8_t colour[4] = {1, command.red, command.green, command.blue};
    addToFingerprint(pending.fingerprint, colour, sizeof colour);
  } else {
    addToFingerprint(pending.fingerprint, command.quad);
  }
  if (pending.submitted) {
    runCommand(command);
  } else {
    pending.commands.push_back(command);
  }
}

void submitPendingFrame() {
  PendingFrame& pending = screenSystem().pending;
  if (pending.submitted) return;
  pending.submitted = true;
  for (const PendingFrame::Command& c : pending.commands) runCommand(c);
  pending.commands.clear();
}

// Presents the frame unless it is the one on screen already and the window kept it.
void presentPendingFrame(ScreenSystem& s) {
  PendingFrame& pending = s.pending;
  bool same = pending.fingerprint == pending.shown && !pending.submitted &&
              !s.backend->contentLost();
  s.stats.drawing.repeated = same;
  if (!same) {
    submitPendingFrame();
    s.backend->present();
    pending.shown = pending.fingerprint;
  }
  pending.commands.clear();
  pending.fingerprint = kFingerprintStart;
  pending.submitted = false;
}

void recordPresent(Pacing& pacing, uint64_t now) {
  ++pacing.presented;
  pacing.recent.push_back(now);
  while (!pacing.recent.empty() && now - pacing.recent.front() > kRateWindow) {
    pacing.recent.pop_front();
  }
}

// Absolute deadlines: a late frame is caught up on the next one, but a stall of more than a
// frame starts the schedule again rather than racing to make up the lost time. The events that
// come in meanwhile are gathered as they come, so the wait is the frame's only sleep.
void waitForDeadline(Pacing& pacing) {
  if (pacing.period == 0) return;
  uint64_t now = microseconds();
  if (pacing.deadline == 0) pacing.deadline = now;
  pacing.deadline += pacing.period;
  if (now > pacing.deadline + pacing.period) {
    pacing.deadline = now;
    return;
  }
  for (; now + 1000 <= pacing.deadline; now = microseconds()) {
    screenSystem().backend->waitForEvent(static_cast<int>((pacing.deadline - now) / 1000));
    gatherEvents();
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
  s.stats = FrameStats{};
  s.pending = PendingFrame{};
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

namespace {

volatile sig_atomic_t stopSignalled = 0;

void onStopSignal(int) { stopSignalled = 1; }

}  // namespace

void catchStopSignals() {
  struct sigaction action{};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool takeStopSignal() {
  if (!stopSignalled) return false;
  stopSignalled = 0;
  return true;
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
  if (s.screen.open) presentPendingFrame(s);
  s.stats.presented = s.stats.drawing;
  s.stats.drawing = DrawStats{};
  recordPresent(s.pacing, microseconds());
  waitForDeadline(s.pacing);
  gatherEvents();
}

void clearScreen(uint32_t colourBGR) {
  if (!screenSystem().screen.open) return;
  PendingFrame::Command clear;
  clear.clear = true;
  clear.red = colourBGR & 0xFF;
  clear.green = (colourBGR >> 8) & 0xFF;
  clear.blue = (colourBGR >> 16) & 0xFF;
  queueCommand(clear);
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

double framePeriodPercentile(double fraction) {
  const std::deque<uint64_t>& recent = screenSystem().pacing.recent;
  if (recent.size() < 2) return 0;
  std::vector<uint64_t> periods;
  for (size_t i = 1; i < recent.size(); ++i) periods.push_back(recent[i] - recent[i - 1]);
  size_t at = std::min(periods.size() - 1, static_cast<size_t>(fraction * periods.size()));
  std::nth_element(periods.begin(), periods.begin() + static_cast<ptrdiff_t>(at), periods.end());
  return static_cast<double>(periods[at]) / 1000;
}

Handle grabScreen(int32_t number, int x, int y, int width, int height) {
  ScreenSystem& s = screenSystem();
  if (!s.screen.open || !sensibleSize(width, height)) return 0;
  if (x < 0 || y < 0 || x + width > s.screen.width || y + height > s.screen.height) return 0;
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  submitPendingFrame();
  if (!s.backend->readPixels(x, y, width, height, rgba.data())) return 0;
  return createImage(number, width, height, rgba.data());
}

// ---- Fullscreen and scaling -------------------------------------------------------------

ScreenFit fitScreen(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
  ScreenFit fit;
  if (screenWidth <= 0 || screenHeight <= 0 || windowWidth <= 0 || windowHeight <= 0) return fit;
  double scale = std::min(static_cast<double>(windowWidth) / screenWidth,
                          static_cast<double>(windowHeight) / screenHeight);
  double whole = std::floor(scale);
  if (whole >= 1 && whole >= scale * 0.9) {
    fit.width = screenWidth * static_cast<int>(whole);
    fit.height = screenHeight * static_cast<int>(whole);
  } else {
    fit.smooth = true;
    fit.width = std::min(windowWidth, static_cast<int>(std::lround(screenWidth * scale)));
    fit.height = std::min(windowHeight, static_cast<int>(std::lround(screenHeight * scale)));
  }
  fit.x = (windowWidth - fit.width) / 2;
  fit.y = (windowHeight - fit.height) / 2;
  return fit;
}

void windowToScreen(const ScreenFit& fit, int screenWidth, int screenHeight, int* x, int* y) {
  if (fit.width <= 0 || fit.height <= 0) return;
  // The screen pixel under the middle of the window pixel.
  *x = static_cast<int>(std::floor((*x + 0.5 - fit.x) * screenWidth / fit.width));
  *y = static_cast<int>(std::floor((*y + 0.5 - fit.y) * screenHeight / fit.height));
}

void setFullscreen(bool on) {
  ScreenSystem& s = screenSystem();
  if (s.backend->setFullscreen) s.backend->setFullscreen(on);
}

bool fullscreen() {
  ScreenSystem& s = screenSystem();
  return s.backend->fullscreen && s.backend->fullscreen();
}

bool windowedSize(int* width, int* height) {
  ScreenSystem& s = screenSystem();
  if (!s.backend->windowedSize) return false;
  s.backend->windowedSize(width, height);
  return true;
}

void setWindowedSize(int width, int height) {
  ScreenSystem& s = screenSystem();
  if (s.backend->setWindowedSize && sensibleSize(width, height)) {
    s.backend->setWindowedSize(width, height);
  }
}

// ---- Sprites -----------------------------------------------------------------------------

namespace {

void findOpaqueBlocks(Sprite& sprite, const uint8_t* rgba) {
  sprite.blockColumns = (sprite.width + kOpacityBlock - 1) / kOpacityBlock;
  int blockRows = (sprite.height + kOpacityBlock - 1) / kOpacityBlock;
  sprite.opaqueBlocks.assign(static_cast<size_t>(sprite.blockColumns) * blockRows, true);
  sprite.opaque = true;
  for (int y = 0; y < sprite.height; ++y) {
    const uint8_t* row = rgba + static_cast<size_t>(y) * sprite.width * 4;
    for (int x = 0; x < sprite.width; ++x) {
      const uint8_t* texel = row + x * 4;
      // Its middle: filtering spreads it by a texel, which the outline adds later.
      float cx = static_cast<float>(x) + 0.5f, cy = static_cast<float>(y) + 0.5f;
      if (texel[3] != 0) sprite.withAlpha.add(cx, cy);
      if (texel[0] != 0 || texel[1] != 0 || texel[2] != 0) sprite.withColour.add(cx, cy);
      if (texel[3] == 255) continue;
      sprite.opaqueBlocks[static_cast<size_t>(y / kOpacityBlock) * sprite.blockColumns +
                          x / kOpacityBlock] = false;
      sprite.opaque = false;
    }
  }
}

// Whether the texels under a quad's texture rectangle are all opaque.
bool opaqueUnder(const Sprite& sprite, const Vec2 uv[4]) {
  if (sprite.opaque) return true;
  float u0 = std::min(uv[0].x, uv[2].x), u1 = std::max(uv[0].x, uv[2].x);
  float v0 = std::min(uv[0].y, uv[2].y), v1 = std::max(uv[0].y, uv[2].y);
  if (u0 < 0 || v0 < 0 || u1 > 1 || v1 > 1) return false;
  int x0 = static_cast<int>(u0 * sprite.width) / kOpacityBlock;
  int y0 = static_cast<int>(v0 * sprite.height) / kOpacityBlock;
  int x1 = (static_cast<int>(std::ceil(u1 * sprite.width)) - 1) / kOpacityBlock;
  int y1 = (static_cast<int>(std::ceil(v1 * sprite.height)) - 1) / kOpacityBlock;
  for (int by = y0; by <= y1; ++by) {
    for (int bx = x0; bx <= x1; ++bx) {
      if (!sprite.opaqueBlocks[static_cast<size_t>(by) * sprite.blockColumns + bx]) return false;
    }
  }
  return true;
}

// Unturned and unscaled: each texel covers one pixel, so the texture needs no filtering.
bool texelForPixel(const DrawnQuad& q, const Sprite& sprite) {
  const Vec2* c = q.corners;
  const Vec2* uv = q.uv;
  constexpr float kSlack = 0.01f;
  bool upright = c[0].y == c[1].y && c[2].y == c[3].y && c[0].x == c[3].x && c[1].x == c[2].x &&
                 uv[0].y == uv[1].y && uv[2].y == uv[3].y && uv[0].x == uv[3].x &&
                 uv[1].x == uv[2].x;
  return upright &&
         std::fabs((c[1].x - c[0].x) - (uv[1].x - uv[0].x) * sprite.width) < kSlack &&
         std::fabs((c[3].y - c[0].y) - (uv[3].y - uv[0].y) * sprite.height) < kSlack;
}

// For quads over a whole texture in one colour, drawn as a parallelogram, under a blend where
// some texels change nothing (no alpha with the normal and the adding pairs, no colour with the
// light pairs): the outline of the texels that do, so that the rest is never touched. False
// when nothing at all would change.
bool outlineQuad(DrawnQuad& q, const Sprite& sprite) {
  const Sprite::Octagon* octagon = nullptr;
  int pair = q.sourceBlend * 11 + q.destinationBlend;
  if (pair == 5 * 11 + 6 || pair == 5 * 11 + 2) octagon = &sprite.withAlpha;
  if (pair == 9 * 11 + 7 || pair == 2 * 11 + 2) octagon = &sprite.withColour;
  if (!octagon || !q.blend) return true;
  if (octagon->empty()) return false;
  const Vec2* c = q.corners;
  const Vec2* uv = q.uv;
  bool wholeTexture = uv[0].x == 0 && uv[0].y == 0 && uv[1].x == 1 && uv[1].y == 0 &&
                      uv[2].x == 1 && uv[2].y == 1 && uv[3].x == 0 && uv[3].y == 1;
  bool oneColour = q.colours[1] == q.colours[0] && q.colours[2] == q.colours[0] &&
                   q.colours[3] == q.colours[0];
  bool parallelogram = std::fabs(c[0].x + c[2].x - c[1].x - c[3].x) < 0.01f &&
                       std::fabs(c[0].y + c[2].y - c[1].y - c[3].y) < 0.01f;
  if (!wholeTexture || !oneColour || !parallelogram) return true;
  // In texels, widened by the reach of filtering.
  constexpr float kReach = 1.5f;
  float w = static_cast<float>(sprite.width), h = static_cast<float>(sprite.height);
  const Vec2 square[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  Polygon shape(square, 4);
  const float axis[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
  for (int i = 0; i < 4; ++i) {
    float reach = i < 2 ? kReach : 2 * kReach;
    clipPolygon(shape, axis[i][0], axis[i][1], octagon->high[i] + reach);
    clipPolygon(shape, -axis[i][0], -axis[i][1], -(octagon->low[i] - reach));
  }
  if (shape.size < 3) return false;
  if (polygonArea(shape) > 0.97 * w * h || shape.size > std::size(q.outline)) return true;
  q.outlineCount = static_cast<int>(shape.size);
  for (size_t i = 0; i < shape.size; ++i) {
    float u = shape.points[i].x / w, v = shape.points[i].y / h;
    q.outlineUv[i] = {u, v};
    q.outline[i] = {c[0].x + (c[1].x - c[0].x) * u + (c[3].x - c[0].x) * v,
                    c[0].y + (c[1].y - c[0].y) * u + (c[3].y - c[0].y) * v};
  }
  return true;
}

// Normal blending of opaque texels at full alpha writes the texels as they are, and so does the
// one-zero pair always.
bool needsBlend(const DrawnQuad& q, const Sprite& sprite) {
  if (q.sourceBlend == 2 && q.destinationBlend == 1) return false;
  if (q.sourceBlend != 5 || q.destinationBlend != 6 || q.alpha != 255) return true;
  // Filtering reads neighbours across the rectangle's edge, so a part of a texture counts only
  // when it is drawn texel for pixel.
  return !(sprite.opaque || (q.exact && opaqueUnder(sprite, q.uv)));
}

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
    findOpaqueBlocks(*sprite, rgba);
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
  drawn.exact = texelForPixel(drawn, *texture);
  drawn.blend = needsBlend(drawn, *texture);
  bool changesSomething = outlineQuad(drawn, *texture);
  if (s.recorder) s.recorder->push_back(drawn);
  if (!texture->texture || !s.screen.open || !changesSomething) return;
  countQuad(s, drawn);
  queueCommand({texture->texture, drawn});
}

void fillRect(float x, float y, float width, float height, uint32_t colourRGB) {
  ScreenSystem& s = screenSystem();
  DrawnQuad drawn;
  const Vec2 corners[4] = {{x, y}, {x + width, y}, {x + width, y + height}, {x, y + height}};
  for (int i = 0; i < 4; ++i) {
    drawn.corners[i] = corners[i];
    drawn.colours[i] = colourRGB & 0xFFFFFF;
  }
  drawn.sourceBlend = s.sourceBlend;
  drawn.destinationBlend = s.destinationBlend;
  drawn.blend = !(s.sourceBlend == 2 && s.destinationBlend == 1);
  if (s.recorder) s.recorder->push_back(drawn);
  if (!s.screen.open) return;
  countQuad(s, drawn);
  queueCommand({nullptr, drawn});
}

void setBlendMode(int sourceFactor, int destinationFactor) {
  if (sourceFactor < 1 || sourceFactor > 10 || destinationFactor < 1 || destinationFactor > 10) {
    return;
  }
  screenSystem().sourceBlend = sourceFactor;
  screenSystem().destinationBlend = destinationFactor;
}

void setDrawRecorder(std::vector<DrawnQuad>* recorder) { screenSystem().recorder = recorder; }

DrawStats lastFrameStats() { return screenSystem().stats.presented; }

}  // namespace rt
