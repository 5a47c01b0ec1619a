// The screen without a display, for headless hosts, bots and tests: windows and textures are only
// records, drawing does nothing, and events come from the input script and stop signals alone.
// Frame pacing and the draw recorder still work, since they live in screen.cpp.
#include "runtime/clock.h"
#include "runtime/screen_local.h"

namespace rt {
namespace {
namespace headless {

struct NullWindow {
  bool visible = false;
};

struct NullTexture {
  int width = 0, height = 0;
};

bool init() {
  catchStopSignals();
  return true;
}
void shutdown() {}

NativeWindow createWindow(int, int, int, int, const std::string&, uint32_t flags) {
  auto* window = new NullWindow;
  window->visible = (flags & kWindowHidden) == 0;
  return window;
}

void destroyWindow(NativeWindow window) { delete static_cast<NullWindow*>(window); }
void showWindow(NativeWindow window) { static_cast<NullWindow*>(window)->visible = true; }
void hideWindow(NativeWindow window) { static_cast<NullWindow*>(window)->visible = false; }
void raiseWindow(NativeWindow) {}
void minimizeWindow(NativeWindow) {}
void setWindowTitle(NativeWindow, const std::string&) {}
bool windowVisible(NativeWindow window) { return static_cast<NullWindow*>(window)->visible; }

bool openScreen(NativeWindow, int, int, int, int) { return true; }
void closeScreen() {}

NativeTexture createTexture(int width, int height, const uint8_t*) {
  return new NullTexture{width, height};
}

void destroyTexture(NativeTexture texture) { delete static_cast<NullTexture*>(texture); }
void drawQuad(NativeTexture, const DrawnQuad&) {}
void clear(uint8_t, uint8_t, uint8_t) {}
bool canDraw() { return true; }
void present() {}
bool readPixels(int, int, int, int, uint8_t*) { return false; }
void waitForEvent(int timeoutMs) { delay(timeoutMs); }
bool contentLost() { return false; }

void pumpEvents() {
  if (!takeStopSignal()) return;
  WindowEvent close;
  close.code = kEventClose;
  pushWindowEvent(close);
}
void setTextInput(bool) {}

// Without a display the clipboard is this process's own.
std::string& clipboard() {
  static std::string text;
  return text;
}
std::string clipboardText() { return clipboard(); }
void setClipboardText(const std::string& utf8) { clipboard() = utf8; }

}  // namespace headless
}  // namespace

const ScreenBackend& nullScreenBackend() {
  static const ScreenBackend backend = {
      .kind = Backend::Null,
      .init = headless::init,
      .shutdown = headless::shutdown,
      .createWindow = headless::createWindow,
      .destroyWindow = headless::destroyWindow,
      .showWindow = headless::showWindow,
      .hideWindow = headless::hideWindow,
      .raiseWindow = headless::raiseWindow,
      .minimizeWindow = headless::minimizeWindow,
      .setWindowTitle = headless::setWindowTitle,
      .windowVisible = headless::windowVisible,
      .openScreen = headless::openScreen,
      .closeScreen = headless::closeScreen,
      .createTexture = headless::createTexture,
      .destroyTexture = headless::destroyTexture,
      .drawQuad = headless::drawQuad,
      .clear = headless::clear,
      .canDraw = headless::canDraw,
      .present = headless::present,
      .readPixels = headless::readPixels,
      .pumpEvents = headless::pumpEvents,
      .waitForEvent = headless::waitForEvent,
      .contentLost = headless::contentLost,
      .setTextInput = headless::setTextInput,
      .clipboardText = headless::clipboardText,
      .setClipboardText = headless::setClipboardText,
      .messageBox = messageToStderr,
      // Its window never changes.
      .setFullscreen = nullptr,
      .fullscreen = nullptr,
      .windowedSize = nullptr,
      .setWindowedSize = nullptr,
  };
  return backend;
}

}  // namespace rt
