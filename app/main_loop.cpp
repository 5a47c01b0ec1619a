// The main loop: the menu loop while no match runs, otherwise one game frame per pass in a
// fixed order.

#include "app/app.h"
#include "app/gallery.h"
#include "data/config.h"
#include "net/protocol.h"
#include "net/session.h"
#include "render/hud.h"
#include "render/world_render.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "ui/chat_box.h"
#include "ui/menu.h"
#include "ui/screenshot.h"
#include "world/barrels.h"
#include "world/items.h"
#include "world/movement.h"
#include "world/world.h"

namespace {

constexpr int kTitleBarHeight = 28;
constexpr int kTitleBarButtons = 256;  // the right end of the title strip holds its buttons

bool isMouseButton(int code) {
  return code == rt::kEventLeftDown || code == rt::kEventLeftUp || code == rt::kEventRightDown ||
         code == rt::kEventRightUp;
}

// A press in the title strip drags the window; the GUI must not see it as a click.
bool inTitleStrip(const rt::WindowEvent& e) {
  return e.x >= 0 && e.x < rt::frame.width - kTitleBarButtons && e.y >= 0 && e.y < kTitleBarHeight;
}

uint32_t lastRateLog = 0;

}  // namespace

void LogFrameRate(bool now) {
  if (!now && rt::frame.now - lastRateLog < 5000) return;
  lastRateLog = rt::frame.now;
  rt::logLine("FRAME", "fps=%.1f frames=%llu", rt::measuredFrameRate(),
              static_cast<unsigned long long>(rt::framesPresented()));
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
  rt::delay(app.frameDelay);
  rt::frame.now = rt::milliseconds();
  LogFrameRate(false);
}

void GameFrame() {
  // 2. Network: the host's server first, then this process's client connection. A message may
  //    end the match (game over, the host gone); the menus take the next pass then.
  PollNetwork();
  if (!menu.inGame) return;

  // 3.-4. Window events and the mouse for the GUI.
  CollectWindowEvents();

  // 5. Keyboard, clear, begin drawing.
  rt::examineKeyboard();
  rt::clearScreen(0);
  if (rt::beginDrawing()) {
    // 6. The world, bottom to top: visible range, ground layer, decals, upper layers, items,
    //    boxes, the barrel step (fuses and explosions), players, particles, lights, name tags.
    DrawWorld();
    //    Then the HUD and, while the score key is held, the score table; then the chat box.
    DrawHud();
    UpdateChatBox();
    // 7. The quit question, while it is open.
    rt::endDrawing();  // 8.
  }
  // 9. Round control on the host; a tried map has its own.
  HostRoundControl();
  if (!menu.inGame) return;
  TryMapStep();
  // 10. Local movement (unless the chat input is active), then the camera.
  if (!ChatInputActive()) LocalMovementStep();
  UpdateCamera();
  // 11. With a local player: the position message when due, the remote players, a barrel on
  //     request (not while the chat input is active) and the items it touches.
  if (world.localPlayer) {
    SendPositionWhenDue();
    RemoteMovementStep();
    RequestBarrel();
    PickUpItems();
  }
  // 12. The title bar in match mode.
  // 13. Screenshot on a release of F12.
  CheckScreenshotKey();
  // 14. Flip, paced to 80 frames per second.
  rt::flipScreen();
  // 15. A close request ends the program after this pass.
  if (rt::frame.closeRequested) QuitGame();
}

void QuitGame() {
  SaveConfig();
  // Whoever hosts says goodbye, so that the others return to their menus at once.
  LeaveSession();
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
    if (!menu.inGame) RunMenu();
    if (menu.inGame) GameFrame();
  }
}
