// The screen over SDL2: borderless windows, one SDL_Renderer (OpenGL preferred) for the screen,
// textured quads through SDL_RenderGeometry with custom blend modes, and the window's events.
// A window of the screen's size is drawn into directly; any other size (resized, fullscreen) gets
// the frame drawn at the screen's size onto a canvas texture, which is then copied to the window
// scaled, between black bars. That one copy costs less than drawing every layer at the larger size,
// and keeps the screen's pixels, its read-back and the texel-exact quads as they are.
#include <SDL.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/containers.h"
#include "runtime/gamepad_local.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen_local.h"

// After our own headers: Xlib defines macros such as None, Bool and Status.
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

namespace rt {
namespace {
namespace sdl {

constexpr int kTitleStripHeight = 28;    // the top strip drags the borderless window
constexpr int kTitleButtonsWidth = 256;  // except on the title-bar buttons at its right end
constexpr int kResizeBorder = 6;         // window pixels at the edges that resize the window
constexpr int kSmallestWindow = 320;     // wide, and three quarters of it high

struct SdlTexture {
  SDL_Texture* texture = nullptr;
  SDL_BlendMode mode = SDL_BLENDMODE_INVALID;
  SDL_ScaleMode scale = SDL_ScaleModeLinear;
};

// Plain values only, so nothing here needs destroying at exit.
struct SdlState {
  bool initialised = false;
  SDL_Window* screenWindow = nullptr;
  SDL_Renderer* renderer = nullptr;
  int offsetX = 0, offsetY = 0;  // the screen's place in its window's client area
  int mouseX = 0, mouseY = 0;
  bool leftDown = false, rightDown = false;
  bool blendFailureLogged = false;
  bool contentLost = false;  // the window showed nothing of ours since this was last read
  int screenWidth = 0, screenHeight = 0;
  SDL_Texture* canvas = nullptr;  // the screen while its window is of another size
  bool onCanvas = false;          // the frame being drawn goes to the canvas
  bool frameBegun = false;        // the target of the frame being drawn is chosen
  bool canvasFailed = false;       // no canvas: the screen stays unscaled in the corner
  int windowedWidth = 0, windowedHeight = 0;  // the screen's window when not fullscreen
  bool coveringDisplay = false;  // fullscreen without a window manager
  std::array<bool, SDL_NUM_SCANCODES> keysTaken{};  // pressed for the window, not for the game
  std::array<SDL_BlendMode, 11 * 11> blendModes{};  // by source * 11 + destination
};

SdlState state;

SDL_Window* asWindow(NativeWindow window) { return static_cast<SDL_Window*>(window); }

#if defined(__SANITIZE_ADDRESS__)
// The leak checker names the library of an allocation only while it is still loaded, and the GL
// driver unloads when SDL closes its display; sanitized builds keep every library loaded so that
// the driver's own leaks can be suppressed by name.
void keepLibrariesLoaded() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* list) {
        if (info->dlpi_name && info->dlpi_name[0]) {
          static_cast<std::vector<std::string>*>(list)->push_back(info->dlpi_name);
        }
        return 0;
      },
      &names);
  for (const std::string& name : names) {
    dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  }
}
#else
void keepLibrariesLoaded() {}
#endif

// ---- Start and stop ----------------------------------------------------------------------

bool init() {
  if (state.initialised) return true;
  // The logo window talks to X from its own thread; Xlib must know before anyone uses it.
  XInitThreads();
  // SDL would catch the stop signals only where they are not ignored; ours catch them always.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    logLine("SCREEN", "SDL video unavailable: %s", SDL_GetError());
    return false;
  }
  // Without an alpha channel in the back buffer, destination alpha reads as 1, which the light
  // pass (destination colour + destination alpha) depends on.
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
  SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  // The platform's text entry (an input method, an on-screen keyboard) only while a field wants it.
  SDL_StopTextInput();
  state = SdlState{};
  state.blendModes.fill(SDL_BLENDMODE_INVALID);
  state.initialised = true;
  startGamepads();
  catchStopSignals();
  return true;
}

void closeScreen();

void shutdown() {
  if (!state.initialised) return;
  closeScreen();
  stopGamepads();
  SDL_StopTextInput();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  SDL_Quit();
  state = SdlState{};
}

// ---- Windows -----------------------------------------------------------------------------

// The screen's place in its window, and whether it is shown scaled.
bool screenScaled(SDL_Window* window, ScreenFit* fit) {
  if (state.canvasFailed) return false;
  int width = 0, height = 0;
  SDL_GetWindowSize(window, &width, &height);
  if (width == state.offsetX + state.screenWidth && height == state.offsetY + state.screenHeight) {
    return false;
  }
  *fit = fitScreen(state.screenWidth, state.screenHeight, width, height);
  return true;
}

// A window position in screen pixels.
void toScreen(SDL_Window* window, int* x, int* y) {
  if (window != state.screenWindow) return;
  ScreenFit fit;
  if (screenScaled(window, &fit)) {
    windowToScreen(fit, state.screenWidth, state.screenHeight, x, y);
  } else {
    *x -= state.offsetX;
    *y -= state.offsetY;
  }
}

SDL_HitTestResult resizeEdge(SDL_Window* window, const SDL_Point* area) {
  if (!(SDL_GetWindowFlags(window) & SDL_WINDOW_RESIZABLE)) return SDL_HITTEST_NORMAL;
  int width = 0, height = 0;
  SDL_GetWindowSize(window, &width, &height);
  bool left = area->x < kResizeBorder, right = area->x >= width - kResizeBorder;
  bool top = area->y < kResizeBorder, bottom = area->y >= height - kResizeBorder;
  if (top) return left ? SDL_HITTEST_RESIZE_TOPLEFT
                       : right ? SDL_HITTEST_RESIZE_TOPRIGHT : SDL_HITTEST_RESIZE_TOP;
  if (bottom) return left ? SDL_HITTEST_RESIZE_BOTTOMLEFT
                          : right ? SDL_HITTEST_RESIZE_BOTTOMRIGHT : SDL_HITTEST_RESIZE_BOTTOM;
  if (left) return SDL_HITTEST_RESIZE_LEFT;
  if (right) return SDL_HITTEST_RESIZE_RIGHT;
  return SDL_HITTEST_NORMAL;
}

// The title strip drags the window and its edges resize it; on the desktop the window stays put
// and the title bar's buttons still take their clicks.
SDL_HitTestResult hitTest(SDL_Window* window, const SDL_Point* area, void*) {
  bool covering = window == state.screenWindow && state.coveringDisplay;
  if (covering || (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN)) return SDL_HITTEST_NORMAL;
  SDL_HitTestResult edge = resizeEdge(window, area);
  if (edge != SDL_HITTEST_NORMAL) return edge;
  int x = area->x, y = area->y, width = 0, height = 0;
  SDL_GetWindowSize(window, &width, &height);
  if (window == state.screenWindow) {
    toScreen(window, &x, &y);
    width = state.screenWidth;
  }
  if (y >= 0 && y < kTitleStripHeight && x >= 0 && x < width - kTitleButtonsWidth) {
    return SDL_HITTEST_DRAGGABLE;
  }
  return SDL_HITTEST_NORMAL;
}

NativeWindow createWindow(int x, int y, int width, int height, const std::string& title,
                          uint32_t flags) {
  Uint32 sdlFlags = flags & kWindowHidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
  if (flags & kWindowBorderless) sdlFlags |= SDL_WINDOW_BORDERLESS;
  if (flags & kWindowResizable) sdlFlags |= SDL_WINDOW_RESIZABLE;
  if (flags & kWindowCentred) x = y = SDL_WINDOWPOS_CENTERED;
  std::string name = cp1252ToUtf8(title);
  // Made for OpenGL from the start so the renderer need not recreate it.
  SDL_Window* window =
      SDL_CreateWindow(name.c_str(), x, y, width, height, sdlFlags | SDL_WINDOW_OPENGL);
  if (!window) window = SDL_CreateWindow(name.c_str(), x, y, width, height, sdlFlags);
  if (!window) {
    logLine("SCREEN", "cannot open a %dx%d window: %s", width, height, SDL_GetError());
    return nullptr;
  }
  if (flags & kWindowBorderless) SDL_SetWindowHitTest(window, hitTest, nullptr);
  if (flags & kWindowResizable) {
    SDL_SetWindowMinimumSize(window, kSmallestWindow, kSmallestWindow * 3 / 4);
  }
  return window;
}

void destroyWindow(NativeWindow window) {
  if (asWindow(window) == state.screenWindow) closeScreen();
  SDL_DestroyWindow(asWindow(window));
}

void showWindow(NativeWindow window) { SDL_ShowWindow(asWindow(window)); }
void hideWindow(NativeWindow window) { SDL_HideWindow(asWindow(window)); }
void raiseWindow(NativeWindow window) { SDL_RaiseWindow(asWindow(window)); }
void minimizeWindow(NativeWindow window) { SDL_MinimizeWindow(asWindow(window)); }

void setWindowTitle(NativeWindow window, const std::string& title) {
  SDL_SetWindowTitle(asWindow(window), cp1252ToUtf8(title).c_str());
}

bool windowVisible(NativeWindow window) {
  Uint32 flags = SDL_GetWindowFlags(asWindow(window));
  return (flags & SDL_WINDOW_SHOWN) && !(flags & SDL_WINDOW_HIDDEN);
}

// ---- Screen ------------------------------------------------------------------------------

SDL_Renderer* makeRenderer(SDL_Window* window) {
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengl");
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
  SDL_ResetHint(SDL_HINT_RENDER_DRIVER);
  if (!renderer) renderer = SDL_CreateRenderer(window, -1, 0);
  return renderer;
}

bool openScreen(NativeWindow window, int x, int y, int width, int height) {
  closeScreen();
  SDL_Renderer* renderer = makeRenderer(asWindow(window));
  if (!renderer) {
    logLine("SCREEN", "no renderer: %s", SDL_GetError());
    return false;
  }
  SDL_Rect viewport = {x, y, width, height};
  SDL_RenderSetViewport(renderer, &viewport);
  state.screenWindow = asWindow(window);
  state.renderer = renderer;
  state.offsetX = x;
  state.offsetY = y;
  state.screenWidth = width;
  state.screenHeight = height;
  state.onCanvas = state.frameBegun = state.canvasFailed = false;
  SDL_GetWindowSize(state.screenWindow, &state.windowedWidth, &state.windowedHeight);
  state.blendModes.fill(SDL_BLENDMODE_INVALID);
  keepLibrariesLoaded();
  SDL_RendererInfo info{};
  SDL_GetRendererInfo(renderer, &info);
  logLine("SCREEN", "renderer %s %dx%d", info.name ? info.name : "?", width, height);
  return true;
}

void closeScreen() {
  if (!state.renderer) return;
  SDL_DestroyRenderer(state.renderer);  // its textures go with it
  state.renderer = nullptr;
  state.canvas = nullptr;
  state.onCanvas = state.frameBegun = state.coveringDisplay = false;
  state.screenWindow = nullptr;
}

// ---- Scaling -----------------------------------------------------------------------------

bool useCanvas() {
  if (!state.canvas) {
    state.canvas = SDL_CreateTexture(state.renderer, SDL_PIXELFORMAT_ARGB8888,
                                     SDL_TEXTUREACCESS_TARGET, state.screenWidth,
                                     state.screenHeight);
  }
  if (state.canvas && SDL_SetRenderTarget(state.renderer, state.canvas) == 0) return true;
  logLine("SCREEN", "no canvas for scaling, the screen stays unscaled: %s", SDL_GetError());
  state.canvasFailed = true;
  return false;
}

void useWindow() {
  SDL_SetRenderTarget(state.renderer, nullptr);
  SDL_Rect viewport = {state.offsetX, state.offsetY, state.screenWidth, state.screenHeight};
  SDL_RenderSetViewport(state.renderer, &viewport);
}

// Once per frame, before its first drawing: onto the canvas when the window is not the screen's
// size. A frame never changes target halfway.
void beginFrame() {
  if (state.frameBegun) return;
  state.frameBegun = true;
  ScreenFit fit;
  bool scaled = screenScaled(state.screenWindow, &fit) && useCanvas();
  if (!scaled && state.onCanvas) useWindow();
  state.onCanvas = scaled;
}

// The canvas into the window, scaled to fit, with black bars around it.
void showCanvas() {
  int width = 0, height = 0;
  SDL_GetWindowSize(state.screenWindow, &width, &height);
  ScreenFit fit = fitScreen(state.screenWidth, state.screenHeight, width, height);
  SDL_SetRenderTarget(state.renderer, nullptr);
  SDL_RenderSetViewport(state.renderer, nullptr);
  const SDL_Rect bars[4] = {
      {0, 0, width, fit.y},
      {0, fit.y + fit.height, width, height - fit.y - fit.height},
      {0, fit.y, fit.x, fit.height},
      {fit.x + fit.width, fit.y, width - fit.x - fit.width, fit.height},
  };
  SDL_SetRenderDrawBlendMode(state.renderer, SDL_BLENDMODE_NONE);
  SDL_SetRenderDrawColor(state.renderer, 0, 0, 0, 255);
  for (const SDL_Rect& bar : bars) {
    if (bar.w > 0 && bar.h > 0) SDL_RenderFillRect(state.renderer, &bar);
  }
  SDL_SetTextureBlendMode(state.canvas, SDL_BLENDMODE_NONE);
  SDL_SetTextureScaleMode(state.canvas, fit.smooth ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
  SDL_Rect place = {fit.x, fit.y, fit.width, fit.height};
  SDL_RenderCopy(state.renderer, state.canvas, nullptr, &place);
}

// ---- Textures and quads ------------------------------------------------------------------

NativeTexture createTexture(int width, int height, const uint8_t* rgba) {
  if (!state.renderer) return nullptr;
  SDL_Texture* texture = SDL_CreateTexture(state.renderer, SDL_PIXELFORMAT_RGBA32,
                                           SDL_TEXTUREACCESS_STATIC, width, height);
  if (!texture) return nullptr;
  if (SDL_UpdateTexture(texture, nullptr, rgba, width * 4) != 0) {
    SDL_DestroyTexture(texture);
    return nullptr;
  }
  SDL_SetTextureScaleMode(texture, SDL_ScaleModeLinear);
  return new SdlTexture{texture, SDL_BLENDMODE_INVALID, SDL_ScaleModeLinear};
}

void destroyTexture(NativeTexture texture) {
  auto* t = static_cast<SdlTexture*>(texture);
  if (state.renderer) SDL_DestroyTexture(t->texture);
  delete t;
}

SDL_BlendFactor blendFactor(int direct3D) {
  static const SDL_BlendFactor factors[11] = {
      SDL_BLENDFACTOR_ZERO,
      SDL_BLENDFACTOR_ZERO,
      SDL_BLENDFACTOR_ONE,
      SDL_BLENDFACTOR_SRC_COLOR,
      SDL_BLENDFACTOR_ONE_MINUS_SRC_COLOR,
      SDL_BLENDFACTOR_SRC_ALPHA,
      SDL_BLENDFACTOR_ONE_MINUS_SRC_ALPHA,
      SDL_BLENDFACTOR_DST_ALPHA,
      SDL_BLENDFACTOR_ONE_MINUS_DST_ALPHA,
      SDL_BLENDFACTOR_DST_COLOR,
      SDL_BLENDFACTOR_ONE_MINUS_DST_COLOR,
  };
  return factors[direct3D];
}

SDL_BlendMode blendMode(int source, int destination) {
  SDL_BlendMode& mode = state.blendModes[static_cast<size_t>(source * 11 + destination)];
  if (mode != SDL_BLENDMODE_INVALID) return mode;
  // The back buffer's alpha is left alone (zero, one), so it stays opaque whatever is drawn.
  mode = SDL_ComposeCustomBlendMode(blendFactor(source), blendFactor(destination),
                                    SDL_BLENDOPERATION_ADD, SDL_BLENDFACTOR_ZERO,
                                    SDL_BLENDFACTOR_ONE, SDL_BLENDOPERATION_ADD);
  return mode;
}

SDL_BlendMode quadBlend(const DrawnQuad& quad) {
  // The canvas has an alpha channel, which a plain copy of a picture with alpha would change;
  // the copy as a blend leaves it opaque.
  bool copy = quad.sourceBlend == 2 && quad.destinationBlend == 1;
  if (quad.blend || (copy && state.onCanvas)) {
    return blendMode(quad.sourceBlend, quad.destinationBlend);
  }
  return SDL_BLENDMODE_NONE;
}

void logBlendFailure(const DrawnQuad& quad) {
  if (state.blendFailureLogged) return;
  logLine("SCREEN", "blend %d/%d unsupported: %s", quad.sourceBlend, quad.destinationBlend,
          SDL_GetError());
  state.blendFailureLogged = true;
}

void applyBlend(SdlTexture* texture, const DrawnQuad& quad) {
  SDL_BlendMode mode = quadBlend(quad);
  if (texture->mode == mode) return;
  if (SDL_SetTextureBlendMode(texture->texture, mode) == 0) {
    texture->mode = mode;
    return;
  }
  // A renderer without custom modes still gets plain alpha blending.
  logBlendFailure(quad);
  SDL_SetTextureBlendMode(texture->texture, SDL_BLENDMODE_BLEND);
  texture->mode = SDL_BLENDMODE_BLEND;
}

// Filtering of a texel-for-pixel quad would only cost time. The renderer sets a texture's filter
// at once rather than in its queue, so the quads queued before are drawn first.
void applyScale(SdlTexture* texture, bool exact) {
  SDL_ScaleMode scale = exact ? SDL_ScaleModeNearest : SDL_ScaleModeLinear;
  if (texture->scale == scale) return;
  SDL_RenderFlush(state.renderer);
  SDL_SetTextureScaleMode(texture->texture, scale);
  texture->scale = scale;
}

SDL_Color vertexColour(uint32_t rgb, int alpha) {
  return SDL_Color{static_cast<Uint8>(rgb >> 16), static_cast<Uint8>(rgb >> 8),
                   static_cast<Uint8>(rgb), static_cast<Uint8>(alpha)};
}

void drawQuad(NativeTexture texture, const DrawnQuad& quad) {
  if (!state.renderer) return;
  beginFrame();
  auto* t = static_cast<SdlTexture*>(texture);
  if (t) {
    applyBlend(t, quad);
    applyScale(t, quad.exact);
  } else if (SDL_SetRenderDrawBlendMode(state.renderer, quadBlend(quad)) != 0) {
    logBlendFailure(quad);
    SDL_SetRenderDrawBlendMode(state.renderer, SDL_BLENDMODE_BLEND);
  }
  // The game places quads with pixel centres on whole numbers (it subtracts half a pixel to hit
  // texels exactly); OpenGL's centres lie on halves. A texel-for-pixel quad moves to whole
  // pixels, onto the pixels it covers already, so that every pixel samples the middle of a texel.
  SDL_FPoint shift{0.5f, 0.5f};
  if (quad.exact) {
    SDL_FPoint at{quad.corners[0].x + 0.5f, quad.corners[0].y + 0.5f};
    shift.x += std::ceil(at.x - 0.5f) - at.x;
    shift.y += std::ceil(at.y - 0.5f) - at.y;
  }
  // The quad as two triangles, or its outline as a fan.
  constexpr int kMost = static_cast<int>(std::size(DrawnQuad{}.outline));
  SDL_Vertex vertices[kMost];
  int indices[(kMost - 2) * 3];
  bool outlined = quad.outlineCount > 0;
  int count = outlined ? quad.outlineCount : 4;
  const Vec2* corners = outlined ? quad.outline : quad.corners;
  const Vec2* uv = outlined ? quad.outlineUv : quad.uv;
  for (int i = 0; i < count; ++i) {
    vertices[i].position = SDL_FPoint{corners[i].x + shift.x, corners[i].y + shift.y};
    vertices[i].color = vertexColour(quad.colours[outlined ? 0 : i], quad.alpha);
    vertices[i].tex_coord = SDL_FPoint{uv[i].x, uv[i].y};
  }
  for (int i = 0; i + 2 < count; ++i) {
    indices[i * 3] = 0;
    indices[i * 3 + 1] = i + 1;
    indices[i * 3 + 2] = i + 2;
  }
  SDL_RenderGeometry(state.renderer, t ? t->texture : nullptr, vertices, count, indices,
                     (count - 2) * 3);
}

void clear(uint8_t red, uint8_t green, uint8_t blue) {
  if (!state.renderer) return;
  beginFrame();
  SDL_SetRenderDrawColor(state.renderer, red, green, blue, 255);
  SDL_RenderClear(state.renderer);
}

bool canDraw() { return state.renderer != nullptr; }

void present() {
  if (!state.renderer) return;
  if (state.onCanvas) showCanvas();
  SDL_RenderPresent(state.renderer);
  if (state.onCanvas) SDL_SetRenderTarget(state.renderer, state.canvas);
  state.frameBegun = false;
}

bool readPixels(int x, int y, int width, int height, uint8_t* rgba) {
  if (!state.renderer) return false;
  beginFrame();
  SDL_Rect area = {x, y, width, height};  // canvas pixels
  if (!state.onCanvas) {
    area.x += state.offsetX;
    area.y += state.offsetY;
  }
  if (SDL_RenderReadPixels(state.renderer, &area, SDL_PIXELFORMAT_RGBA32, rgba, width * 4) != 0) {
    logLine("SCREEN", "cannot read the screen: %s", SDL_GetError());
    return false;
  }
  size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t i = 0; i < count; ++i) rgba[i * 4 + 3] = 255;
  return true;
}

// ---- Events ------------------------------------------------------------------------------

void push(int code, int param = 0) {
  pushWindowEvent(WindowEvent{code, param, state.mouseX, state.mouseY});
}

void moveMouse(SDL_Window* window, int x, int y) {
  if (window) toScreen(window, &x, &y);
  state.mouseX = x;
  state.mouseY = y;
}

// Whether a window manager runs that can put the window on the desktop (X only; other systems
// always have one).
bool windowManagerRunning() {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(state.screenWindow, &info) || info.subsystem != SDL_SYSWM_X11) {
    return true;
  }
  ::Display* display = info.info.x11.display;
  Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return false;
  Atom type;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  int got = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW,
                               &type, &format, &count, &after, &data);
  if (data) XFree(data);
  return got == Success && count == 1;
}

// With nobody to ask, the borderless window itself covers the display it is on.
void coverDisplay(bool on) {
  state.coveringDisplay = on;
  SDL_Rect bounds;
  int display = SDL_GetWindowDisplayIndex(state.screenWindow);
  if (on && display >= 0 && SDL_GetDisplayBounds(display, &bounds) == 0) {
    SDL_SetWindowPosition(state.screenWindow, bounds.x, bounds.y);
    SDL_SetWindowSize(state.screenWindow, bounds.w, bounds.h);
  } else {
    SDL_SetWindowSize(state.screenWindow, state.windowedWidth, state.windowedHeight);
    SDL_SetWindowPosition(state.screenWindow, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  }
}

bool fullscreen() {
  if (!state.screenWindow) return false;
  return state.coveringDisplay || (SDL_GetWindowFlags(state.screenWindow) & SDL_WINDOW_FULLSCREEN);
}

void setFullscreen(bool on) {
  if (!state.screenWindow || on == fullscreen()) return;
  state.contentLost = true;
  logLine("SCREEN", "%s", on ? "fullscreen" : "windowed");
  if (state.coveringDisplay || (on && !windowManagerRunning())) {
    coverDisplay(on);
    return;
  }
  Uint32 mode = on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0;
  if (SDL_SetWindowFullscreen(state.screenWindow, mode) != 0) {
    logLine("SCREEN", "cannot %s the desktop: %s", on ? "fill" : "leave", SDL_GetError());
  }
}

void windowedSize(int* width, int* height) {
  *width = state.windowedWidth;
  *height = state.windowedHeight;
}

// On the desktop the window takes the size when it leaves.
void setWindowedSize(int width, int height) {
  if (!state.screenWindow) return;
  // Within the desktop it will show on: a size saved on a larger monitor must not hide the
  // title bar.
  SDL_Rect usable;
  int display = SDL_GetWindowDisplayIndex(state.screenWindow);
  if (display >= 0 && SDL_GetDisplayUsableBounds(display, &usable) == 0) {
    width = std::min(width, usable.w);
    height = std::min(height, usable.h);
  }
  width = std::max(width, kSmallestWindow);
  height = std::max(height, kSmallestWindow * 3 / 4);
  state.windowedWidth = width;
  state.windowedHeight = height;
  if (state.coveringDisplay) return;
  bool desktop = fullscreen();
  if (desktop) SDL_SetWindowFullscreen(state.screenWindow, 0);
  SDL_SetWindowSize(state.screenWindow, width, height);
  SDL_SetWindowPosition(state.screenWindow, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
  if (desktop) SDL_SetWindowFullscreen(state.screenWindow, SDL_WINDOW_FULLSCREEN_DESKTOP);
  state.contentLost = true;
}

// Alt+Enter and F11 belong to the window. Their presses and releases never reach the game: not
// as keys, not as the Enter character, not to the bindings.
bool windowKey(const SDL_KeyboardEvent& key, bool down) {
  SDL_Scancode scancode = key.keysym.scancode;
  bool& taken = state.keysTaken[static_cast<size_t>(scancode)];
  if (!down) {
    bool was = taken;
    taken = false;
    return was;
  }
  bool enter = scancode == SDL_SCANCODE_RETURN || scancode == SDL_SCANCODE_KP_ENTER;
  bool toggle = scancode == SDL_SCANCODE_F11 || (enter && (key.keysym.mod & KMOD_ALT));
  if (!toggle) return false;
  taken = true;
  if (!key.repeat) setFullscreen(!fullscreen());
  return true;
}

void keyEvent(const SDL_KeyboardEvent& key, bool down) {
  if (static_cast<size_t>(key.keysym.scancode) < state.keysTaken.size() && windowKey(key, down)) {
    return;
  }
  int code = keyCodeFromScancode(key.keysym.scancode);
  if (code != 0) {
    // Repeats change nothing in the key state but reach text fields as further presses.
    if (!key.repeat) setKeyState(code, down);
    push(down ? kEventKeyDown : kEventKeyUp, code);
  }
  if (!down) return;
  // The editing keys also arrive as characters, as they always did on the game's first platform.
  switch (key.keysym.scancode) {
    case SDL_SCANCODE_BACKSPACE: push(kEventChar, 8); break;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER: push(kEventChar, 13); break;
    default: break;
  }
}

void textEvent(const SDL_TextInputEvent& text) {
  for (unsigned char c : typedText(text.text)) push(kEventChar, c);
}

void setTextInput(bool on) {
  if (on) {
    SDL_StartTextInput();
  } else {
    SDL_StopTextInput();
  }
}

std::string clipboardText() {
  char* text = SDL_GetClipboardText();
  std::string utf8 = text ? text : "";
  SDL_free(text);
  return utf8;
}

void setClipboardText(const std::string& utf8) { SDL_SetClipboardText(utf8.c_str()); }

void buttonEvent(const SDL_MouseButtonEvent& button, bool down) {
  moveMouse(SDL_GetWindowFromID(button.windowID), button.x, button.y);
  if (button.button == SDL_BUTTON_LEFT) {
    state.leftDown = down;
    push(down ? kEventLeftDown : kEventLeftUp);
  } else if (button.button == SDL_BUTTON_RIGHT) {
    state.rightDown = down;
    push(down ? kEventRightDown : kEventRightUp);
  } else {
    return;
  }
  setMouseState(state.mouseX, state.mouseY, state.leftDown, state.rightDown);
}

void wheelEvent(const SDL_MouseWheelEvent& wheel) {
  int notches = wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -wheel.y : wheel.y;
  if (notches == 0) return;
  push(kEventWheel, notches * 120);
  addMouseWheel(notches * 120);
}

void windowChange(const SDL_WindowEvent& window, bool* closed) {
  if (window.event == SDL_WINDOWEVENT_CLOSE && !*closed) {
    push(kEventClose);
    *closed = true;
  } else if (window.event == SDL_WINDOWEVENT_EXPOSED || window.event == SDL_WINDOWEVENT_SHOWN ||
             window.event == SDL_WINDOWEVENT_RESTORED ||
             window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
    state.contentLost = true;
    SDL_Window* changed = SDL_GetWindowFromID(window.windowID);
    if (window.event == SDL_WINDOWEVENT_SIZE_CHANGED && changed && changed == state.screenWindow &&
        !fullscreen()) {
      state.windowedWidth = window.data1;
      state.windowedHeight = window.data2;
    }
  } else if (window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
    state.leftDown = state.rightDown = false;
    releaseAllInput();
  }
}

void pumpEvents() {
  if (!state.initialised) return;
  bool closed = false;  // the last window's close also comes as a quit; report it once
  if (takeStopSignal()) {
    push(kEventClose);
    closed = true;
  }
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_QUIT:
        if (!closed) push(kEventClose);
        closed = true;
        break;
      case SDL_WINDOWEVENT: windowChange(e.window, &closed); break;
      case SDL_KEYDOWN: keyEvent(e.key, true); break;
      case SDL_KEYUP: keyEvent(e.key, false); break;
      case SDL_TEXTINPUT: textEvent(e.text); break;
      case SDL_MOUSEBUTTONDOWN: buttonEvent(e.button, true); break;
      case SDL_MOUSEBUTTONUP: buttonEvent(e.button, false); break;
      case SDL_MOUSEWHEEL: wheelEvent(e.wheel); break;
      case SDL_MOUSEMOTION:
        moveMouse(SDL_GetWindowFromID(e.motion.windowID), e.motion.x, e.motion.y);
        push(kEventMouseMove);
        setMouseState(state.mouseX, state.mouseY, state.leftDown, state.rightDown);
        break;
      default: gamepadEvent(e); break;
    }
  }
}

bool contentLost() {
  bool lost = state.contentLost;
  state.contentLost = false;
  return lost;
}

void waitForEvent(int timeoutMs) {
  if (state.initialised) {
    SDL_WaitEventTimeout(nullptr, timeoutMs);
  } else {
    delay(timeoutMs);
  }
}

// Also written to standard error: a modal box nobody can see (a test display) still leaves a trace.
void messageBox(const std::string& caption, const std::string& text) {
  messageToStderr(caption, text);
  std::string title = cp1252ToUtf8(caption), body = cp1252ToUtf8(text);
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), body.c_str(), nullptr);
}

}  // namespace sdl
}  // namespace

const ScreenBackend& sdlScreenBackend() {
  static const ScreenBackend backend = {
      .kind = Backend::Sdl,
      .init = sdl::init,
      .shutdown = sdl::shutdown,
      .createWindow = sdl::createWindow,
      .destroyWindow = sdl::destroyWindow,
      .showWindow = sdl::showWindow,
      .hideWindow = sdl::hideWindow,
      .raiseWindow = sdl::raiseWindow,
      .minimizeWindow = sdl::minimizeWindow,
      .setWindowTitle = sdl::setWindowTitle,
      .windowVisible = sdl::windowVisible,
      .openScreen = sdl::openScreen,
      .closeScreen = sdl::closeScreen,
      .createTexture = sdl::createTexture,
      .destroyTexture = sdl::destroyTexture,
      .drawQuad = sdl::drawQuad,
      .clear = sdl::clear,
      .canDraw = sdl::canDraw,
      .present = sdl::present,
      .readPixels = sdl::readPixels,
      .pumpEvents = sdl::pumpEvents,
      .waitForEvent = sdl::waitForEvent,
      .contentLost = sdl::contentLost,
      .setTextInput = sdl::setTextInput,
      .clipboardText = sdl::clipboardText,
      .setClipboardText = sdl::setClipboardText,
      .messageBox = sdl::messageBox,
      .setFullscreen = sdl::setFullscreen,
      .fullscreen = sdl::fullscreen,
      .windowedSize = sdl::windowedSize,
      .setWindowedSize = sdl::setWindowedSize,
  };
  return backend;
}

}  // namespace rt
