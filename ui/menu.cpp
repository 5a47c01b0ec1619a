#include "ui/menu.h"

#include "app/app.h"
#include "audio/audio.h"
#include "data/config.h"
#include "net/protocol.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "ui/screenshot.h"

namespace {

constexpr int kLogoImage = 0;
rt::Handle logoSprite = 0;
rt::Handle logoQuad = 0;

// Until the menu pages exist the menu shows the logo on a dark background.
void drawPlaceholder() {
  if (!logoQuad && rt::imageExists(kLogoImage)) {
    logoSprite = rt::createSpriteFromImage(rt::kAnyNumber, kLogoImage);
    if (logoSprite) logoQuad = rt::createSprite3D(rt::kAnyNumber, logoSprite);
  }
  if (!logoQuad) return;
  float w = rt::sprite3DWidth(logoQuad);
  float h = rt::sprite3DHeight(logoQuad);
  rt::displaySprite3D(logoQuad, (rt::frame.width - w) / 2, (rt::frame.height - h) / 2, 255);
}

}  // namespace

void RunMenu() {
  PlayMenuMusic();
  while (!menu.inGame) {
    // 1. The network: a lobby keeps its connections served, and a round-start message from the
    //    host ends the menu loop after this frame. Until the lobby screens exist the quick start
    //    runs the lobby.
    PollNetwork();
    QuickStartStep();
    CollectWindowEvents();
    rt::examineKeyboard();
    rt::clearScreen(0x201810);
    if (rt::beginDrawing()) {
      drawPlaceholder();
      rt::endDrawing();
    }
    UpdateMenuMusicVolume();
    CheckScreenshotKey();
    rt::flipScreen();
    if (rt::frame.closeRequested) QuitGame();
  }
}
