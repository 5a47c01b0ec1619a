// Inside the runtime only: what the screen backends, the input services and the input script
// share. Nothing outside runtime/ includes this.
//
// screen.cpp keeps every table (windows, sprites, 3D sprites), the quad geometry, the draw
// recorder, frame pacing and the event queue. A backend only turns calls into windows, textures
// and pixels. A new backend fills a ScreenBackend with:
//   init / shutdown            start and stop the platform (init false: no display)
//   window*                    create (hidden or shown, centred, borderless), destroy, show,
//                              hide, raise, minimize, title, visible
//   openScreen / closeScreen   a drawing surface in a window's client area
//   createTexture              from RGBA bytes (null on failure); destroyTexture
//   drawQuad                   one textured quad: screen corners, uv, 0x00RRGGBB corner colours,
//                              alpha and the Direct3D blend pair; destination alpha must read 1
//   clear, canDraw, present, readPixels (RGBA, back buffer before present)
//   pumpEvents                 feeds pushWindowEvent and the key and mouse states, and one
//                              close event when takeStopSignal says a stop signal came
//   waitForEvent               sleeps until an event is pending or the time is up
//   contentLost                the window needs the last frame again (uncovered, restored)
//   setTextInput               the platform's text entry (input method) on or off
//   clipboardText / setClipboardText   the clipboard as UTF-8
//   messageBox
//   setFullscreen, fullscreen, windowedSize, setWindowedSize   optional: the screen's window
// and returns it from a function declared below; initScreenSystem picks it.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/screen.h"

namespace rt {

// Queues an event for windowEvent() (used by the backends' event pumps and the input script).
void pushWindowEvent(const WindowEvent& event);

// Native objects are opaque to screen.cpp; each backend knows what its pointers hold.
using NativeWindow = void*;
using NativeTexture = void*;

struct ScreenBackend {
  Backend kind;
  bool (*init)();
  void (*shutdown)();

  NativeWindow (*createWindow)(int x, int y, int width, int height, const std::string& title,
                               uint32_t flags);
  void (*destroyWindow)(NativeWindow window);
  void (*showWindow)(NativeWindow window);
  void (*hideWindow)(NativeWindow window);
  void (*raiseWindow)(NativeWindow window);
  void (*minimizeWindow)(NativeWindow window);
  void (*setWindowTitle)(NativeWindow window, const std::string& title);
  bool (*windowVisible)(NativeWindow window);

  bool (*openScreen)(NativeWindow window, int x, int y, int width, int height);
  void (*closeScreen)();

  NativeTexture (*createTexture)(int width, int height, const uint8_t* rgba);
  void (*destroyTexture)(NativeTexture texture);
  // Corners are in the game's pixel convention (pixel centres on whole numbers). A null texture
  // draws the corner colours alone.
  void (*drawQuad)(NativeTexture texture, const DrawnQuad& quad);

  void (*clear)(uint8_t red, uint8_t green, uint8_t blue);
  bool (*canDraw)();
  void (*present)();
  bool (*readPixels)(int x, int y, int width, int height, uint8_t* rgba);
  void (*pumpEvents)();
  // Returns once an event is pending or the time is up, without taking the event.
  void (*waitForEvent)(int timeoutMs);
  // Whether the window lost what was presented last (uncovered, restored) since the last call.
  bool (*contentLost)();
  void (*setTextInput)(bool on);
  std::string (*clipboardText)();
  void (*setClipboardText)(const std::string& utf8);
  void (*messageBox)(const std::string& caption, const std::string& text);
  // The screen's window on the desktop or not, and its size when not. A backend without them
  // (null) has a window that never changes.
  void (*setFullscreen)(bool on);
  bool (*fullscreen)();
  void (*windowedSize)(int* width, int* height);
  void (*setWindowedSize)(int width, int height);
};

const ScreenBackend& sdlScreenBackend();
const ScreenBackend& nullScreenBackend();

// Writes a message box's texts to standard error (no display, or the display refused).
void messageToStderr(const std::string& caption, const std::string& text);

// SIGTERM (a service manager, a session ending) and SIGINT (a terminal) end the game as a click
// on the main window's close box does: settings saved, the session left. Every backend's init
// calls catchStopSignals; its handler only sets a flag, which takeStopSignal reads and clears.
// Also a signal the parent told us to ignore: a game started in the background is still stopped
// by a kill.
void catchStopSignals();
bool takeStopSignal();

}  // namespace rt
