// The screen over SDL2: borderless windows, one SDL_Renderer (OpenGL preferred) for the screen,
// textured quads through SDL_RenderGeometry with custom blend modes, and the window's events.
#include <SDL.h>

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

SDL_HitTestResult hitTest(SDL_Window* window, const SDL_Point* area, void*) {
  int width = 0, height = 0;
  SDL_GetWindowSize(window, &width, &height);
  if (area->y < kTitleStripHeight && area->x < width - kTitleButtonsWidth) {
    return SDL_HITTEST_DRAGGABLE;
  }
  return SDL_HITTEST_NORMAL;
}

NativeWindow createWindow(int x, int y, int width, int height, const std::string& title,
                          uint32_t flags) {
  Uint32 sdlFlags = flags & kWindowHidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
  if (flags & kWindowBorderless) sdlFlags |= SDL_WINDOW_BORDERLESS;
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
  state.screenWindow = nullptr;
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
  return quad.blend ? blendMode(quad.sourceBlend, quad.destinationBlend) : SDL_BLENDMODE_NONE;
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
  SDL_SetRenderDrawColor(state.renderer, red, green, blue, 255);
  SDL_RenderClear(state.renderer);
}

bool canDraw() { return state.renderer != nullptr; }

void present() {
  if (state.renderer) SDL_RenderPresent(state.renderer);
}

bool readPixels(int x, int y, int width, int height, uint8_t* rgba) {
  if (!state.renderer) return false;
  SDL_Rect area = {x + state.offsetX, y + state.offsetY, width, height};  // window pixels
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
  if (window && window == state.screenWindow) {
    x -= state.offsetX;
    y -= state.offsetY;
  }
  state.mouseX = x;
  state.mouseY = y;
}

void keyEvent(const SDL_KeyboardEvent& key, bool down) {
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
  };
  return backend;
}

}  // namespace rt
