// Start-up, in a fixed order: runtime services, screen behind the logo window, data, world.

#include <atomic>
#include <cstdio>

#include "app/app.h"
#include "app/resources.h"
#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "net/server_list.h"
#include "net/server_search.h"
#include "render/lights.h"
#include "render/particles.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "runtime/screen.h"
#include "runtime/sound.h"
#include "ui/chat_box.h"
#include "ui/screens/screens.h"
#include "world/world.h"

AppState app;

namespace {

constexpr int kMainWindow = 0;
constexpr int kLogoWindow = 2;
constexpr int kLogoImage = 0;
constexpr uint32_t kMinimumLogoTime = 2000;  // ms the logo stays up, however fast loading was

// The logo thread and the main thread share one flag: 0 at start, -1 once the logo window is
// shown, 1 when the main window is up and the logo may go.
std::atomic<int> logoState{0};
rt::Handle logoThread = 0;

void runLogoWindow() {
  // The window is mapped and painted when this returns: loading may start at once.
  rt::Handle window = rt::openLogoWindow(kLogoWindow, kLogoImage, app.title);
  logoState = -1;
  logoState.notify_all();
  while (logoState != 1) {
    if (window) rt::pumpLogoWindow(window);
    rt::delay(5);
  }
  if (window) rt::closeLogoWindow(window);
}

bool openScreen(const Options& options) {
  app.screenOpenedAt = rt::milliseconds();
  bool ok = rt::initScreenSystem(options.headless ? rt::Backend::Null : rt::Backend::Sdl);
  if (ok) {
    app.window = rt::openWindow(kMainWindow, 0, 0, rt::frame.width, rt::frame.height, app.title,
                                rt::kWindowCentred | rt::kWindowBorderless | rt::kWindowHidden |
                                    rt::kWindowResizable);
    ok = app.window && rt::openWindowedScreen(app.window, 0, 0, rt::frame.width, rt::frame.height);
  }
  // The window as the player left it; it is shown only when loading is done.
  if (ok && !options.headless) {
    if (config.windowWidth != rt::frame.width || config.windowHeight != rt::frame.height) {
      rt::setWindowedSize(config.windowWidth, config.windowHeight);
    }
    if (options.fullscreen >= 0) config.fullscreen = options.fullscreen;
    if (config.fullscreen) rt::setFullscreen(true);
  }
  if (!ok) {
    rt::closeWindow(kMainWindow);
    rt::logLine("START", "screen could not be opened");
    rt::messageBox("ERROR!!", "Initialisation of DirectX 9 screen are failed!");
    return false;
  }
  rt::logLine("START", "screen opened %dx%d%s", rt::frame.width, rt::frame.height,
              options.headless ? " (headless)" : "");
  return true;
}

}  // namespace

bool StartUp(const Options& options) {
  // Runtime services. Nothing is checked here: a missing service fails later where it is used.
  if (!options.dataRoot.empty()) rt::setDataRoot(options.dataRoot);
  rt::logLine("START", "data root %s", rt::dataRoot().c_str());
  rt::initNetwork();
  if (!rt::initSoundSystem(options.headless ? rt::Backend::Null : rt::Backend::Sdl)) {
    rt::logLine("START", "no sound device: running silent");
    // The one line a player sees about it; the sound library itself is kept quiet.
    fputs("Sound: no audio device, playing without sound\n", stderr);
  }

  // Particle types with their "Default" type.
  CreateDefaultParticleType();
  // The user folder and Config.ini.
  SetConfigFolder(UserFolder());
  LoadConfig();
  runOverrides.serverListUrl = options.serverList;
  runOverrides.bindAddress = options.bind;
  // The language file of the configured language. Without it every label would be blank and
  // the menus unusable, so English stands in.
  if (!LoadLanguage(LanguagePath(config.language))) LoadLanguage(LanguagePath("English"));

  rt::frame.now = rt::milliseconds();
  rt::frame.closeRequested = false;
  app.inGame = false;

  // The logo picture, then the screen; without a screen the program ends here.
  std::vector<uint8_t> logo;
  if (rt::readWholeFile("Data\\WindowLogo.png", &logo, 16 << 20)) {
    rt::decodeImage(kLogoImage, logo.data(), logo.size());
  }
  if (!openScreen(options)) return false;

  // The logo thread; wait until its window is shown. A headless host has nobody to show it to.
  if (!options.headless) {
    logoThread = rt::startThread(runLogoWindow);
    logoState.wait(0);
  }

  // Built-in pictures and the data archives; "Default" draws the built-in picture.
  LoadResources();
  ParticleTypeByName("Default")->texture = DefaultParticleTexture();
  // Key names, now that the screen is up and the keyboard layout is known; the chat input at the
  // foot of the screen.
  FillKeyNames();
  chatBox.input = ChatInputField(rt::frame.height);
  rt::setFrameRate(80);
  // Lights and particles, both seeing the frame clock and the camera; then everything that
  // follows the world's events.
  SetLightCamera(&world.camera.x, &world.camera.y);
  InitLights("Data\\Lights.qzd", rt::frame.width, rt::frame.height, &rt::frame.now,
             &world.camera.x, &world.camera.y);
  InitParticles(rt::frame.width, rt::frame.height, 10, &rt::frame.now, &world.camera.x,
                &world.camera.y, false);
  ListenToWorld();

  if (options.headless) {
    rt::logLine("START", "ready %u ms after the screen opened, without a logo",
                rt::milliseconds() - app.screenOpenedAt);
  } else {
    // Loading takes a fraction of the logo's two seconds; the rest pays for what the renderer
    // does on first use, which would otherwise stall the first frames of the menus and a match.
    WarmUpRenderer();
    uint32_t shown = rt::milliseconds() - app.screenOpenedAt;
    if (shown < kMinimumLogoTime) rt::delay(static_cast<int>(kMinimumLogoTime - shown));
    rt::showWindow(app.window);
    logoState = 1;
    rt::waitThread(logoThread);
    rt::raiseWindow(app.window);
    rt::logLine("START", "main window shown %u ms after the screen opened",
                rt::milliseconds() - app.screenOpenedAt);
  }

  if (!options.inputScript.empty()) rt::startInputScript();
  return true;
}

void EndProgram(int exitCode) {
  LogFrameRate(true);
  rt::logLine("END", "peak memory %lld KiB", static_cast<long long>(rt::peakResidentKb()));
  rt::logLine("END", "exit %d", exitCode);
  // Reverse order of start-up: windows and screen last, so that nothing draws into a dead device.
  rt::shutdownSoundSystem();
  StopPracticeBots();
  // Searches end before the network they use; a deregistration still waiting goes out.
  endServerSearches();
  finishServerList();
  rt::shutdownNetwork();
  rt::shutdownScreenSystem();
  rt::closeLog();
  std::exit(exitCode);
}
