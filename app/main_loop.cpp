// The main loop: a menu frame per pass while no match runs, otherwise a game frame per pass in a
// fixed order.

#include "app/app.h"
#include "app/controls.h"
#include "app/gallery.h"
#include "audio/audio.h"
#include "data/config.h"
#include "net/protocol.h"
#include "net/session.h"
#include "render/hud.h"
#include "render/world_effects.h"
#include "render/world_render.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "ui/chat_box.h"
#include "ui/menu.h"
#include "ui/screens/screens.h"
#include "ui/screenshot.h"
#include "ui/title_bar.h"
#include "ui/widgets.h"
#include "world/barrels.h"
#include "world/events.h"
#include "world/items.h"
#include "world/movement.h"
#include "world/world.h"

namespace {

bool isMouseButton(int code) {
  return code == rt::kEventLeftDown || code == rt::kEventLeftUp || code == rt::kEventRightDown ||
         code == rt::kEventRightUp;
}

// A press in the title strip drags the window; the GUI must not see it as a click.
bool inTitleStrip(const rt::WindowEvent& e) {
  return e.x >= 0 && e.x < rt::frame.width - kTitleBarButtons && e.y >= 0 &&
         e.y < kTitleBarHeight;
}

uint32_t lastRateLog = 0;

// The main loop's state follows the world: a round start enters the game, the match's end
// leaves it (and with it a tried map).
void followMatch(const WorldEvent& event) {
  if (event.type == WorldEventType::kRoundStarted) {
    app.inGame = true;
    IgnoreHeldAction();
  }
  if (event.type != WorldEventType::kMatchEnded) return;
  app.inGame = false;
  CloseQuitQuestion();
  EndTryMap();
}

// The window's place on the desktop and its size, for the next start.
void noteDisplay() {
  int width = 0, height = 0;
  if (!rt::windowedSize(&width, &height)) return;
  config.fullscreen = rt::fullscreen() ? 1 : 0;
  config.windowWidth = width;
  config.windowHeight = height;
}

}  // namespace

void ListenToWorld() {
  // Pictures before sounds: the random numbers of a blast are drawn in the same order every run.
  addWorldListener(ShowWorldEvent);
  addWorldListener(PlayWorldEvent);
  addWorldListener(AddWorldEventLine);
  addWorldListener(followMatch);
}

void LogFrameRate(bool now) {
  if (!now && rt::frame.now - lastRateLog < 5000) return;
  lastRateLog = rt::frame.now;
  rt::logLine("FRAME", "fps=%.1f frames=%llu period p50 %.1f ms p99 %.1f ms",
              rt::measuredFrameRate(), static_cast<unsigned long long>(rt::framesPresented()),
              rt::framePeriodPercentile(0.5), rt::framePeriodPercentile(0.99));
}

void CollectWindowEvents() {
  rt::frame.events.clear();
  rt::WindowEvent e;
  while (rt::windowEvent(&e) != rt::kEventNone) {
    if (e.code == rt::kEventClose) rt::frame.closeRequested = true;
    if (e.code == rt::kEventLeftDown && inTitleStrip(e)) continue;
    rt::frame.events.push_back(e);
    // One mouse button per frame: the GUI's mouse step reads the frame's last event.
    if (isMouseButton(e.code)) break;
  }
  noteDisplay();
  rt::frame.now = rt::milliseconds();
  LogFrameRate(false);
}

void MenuPass() {
  // The network first: a lobby keeps its connections served, and a round-start message from
  // the host ends the menus after this frame. Until the lobby screens exist the quick start runs
  // the lobby.
  pollNetwork();
  FollowPracticeBots();
  QuickStartStep();
  CollectWindowEvents();
  // Once more right before the menus are built: what came in meanwhile shows in this frame.
  pollNetwork();
  rt::examineKeyboard();
  MenuResult result = MenuFrame(app.window, app.title);
  rt::setTextInput(gui.textFocus);
  CheckScreenshotKey();
  rt::flipScreen();
  if (result == MenuResult::kQuit || rt::frame.closeRequested) QuitGame();
}

void GamePass() {
  // The network: the host's server first, then this process's client connection. A message may
  // end the match (game over, the host gone); the menus take the next pass then. It is served
  // once more after the window events, right before the world moves, so that what came in
  // meanwhile is relayed and drawn in this frame rather than the next.
  pollNetwork();
  FollowPracticeBots();
  if (!app.inGame) return;
  CollectWindowEvents();
  pollNetwork();
  if (!app.inGame) return;
  rt::examineKeyboard();
  UpdateMouse();

  rt::clearScreen(0);
  TitleBarChoice choice = TitleBarChoice::kNothing;
  const bool asking = QuitQuestionOpen();
  if (rt::beginDrawing()) {
    // The world from the ground up, the barrels' fuses and blasts in their place, then the HUD
    // (with the score table while its key is held), the chat box and the title bar on top.
    DrawWorldBelowPlayers();
    barrelStep();
    DrawWorldFromPlayers();
    DrawHud(ScoreKeyHeld());
    UpdateChatBox();
    choice = TitleBarFrame(app.window, app.title, true);
    rt::endDrawing();
  }
  rt::setTextInput(gui.textFocus);
  if (choice == TitleBarChoice::kQuit) QuitGame();
  if (!app.inGame) return;
  // The pad's south button that answered a question is no barrel when it is let go.
  if (asking || QuitQuestionOpen()) IgnoreHeldAction();
  UpdateWorldSounds();
  // Round control on the host; a tried map has its own.
  hostRoundControl();
  if (!app.inGame) return;
  TryMapStep();
  // The local player moves, then the camera follows. The chat input and an open question have
  // the keys and the pad's buttons meanwhile: the player stands and places nothing.
  const bool keysTaken = ChatInputActive() || asking || QuitQuestionOpen();
  bool actionReleased = ReadActionReleased() && !keysTaken;
  localMovementStep(keysTaken ? MoveKeys{} : ReadMoveKeys());
  UpdateCamera(keysTaken ? CameraKeys{} : ReadCameraKeys(actionReleased));
  // With a local player: the position message when due, the remote players, a barrel on
  // request and the items it touches.
  if (world.localPlayer) {
    sendPositionWhenDue();
    remoteMovementStep();
    requestBarrel(actionReleased);
    pickUpItems();
  }
  CheckScreenshotKey();
  rt::flipScreen();
  // A close request ends the program after this pass.
  if (rt::frame.closeRequested) QuitGame();
}

void QuitGame() {
  SaveConfig();
  // Whoever hosts says goodbye, so that the others return to their menus at once.
  leaveSession();
  EndProgram(0);
}

int RunGame(const Options& options) {
  if (!StartUp(options)) EndProgram(1);
  if (options.galleryPage >= 0) RunGallery(options.galleryPage);
  if (!options.tryMap.empty() && !StartTryMap(options)) EndProgram(2);
  bool quickStart = options.host || !options.connect.empty();
  if (quickStart && !StartQuickSession(options)) EndProgram(2);
  rt::logLine("START", "main loop");
  for (;;) {
    if (!app.inGame) {
      EnterMenu();
      while (!app.inGame) MenuPass();
    }
    GamePass();
  }
}
