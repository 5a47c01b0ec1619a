// The main menu. Until its buttons come it shows the logo of the start-up window.
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "ui/screens/pages.h"

namespace {

constexpr int kLogoImage = 0;

struct MainMenu {
  rt::Handle logoSprite = 0;
  rt::Handle logoQuad = 0;
};

MainMenu mainMenu;

}  // namespace

void BuildMainMenu() {
  if (mainMenu.logoQuad || !rt::imageExists(kLogoImage)) return;
  mainMenu.logoSprite = rt::createSpriteFromImage(rt::kAnyNumber, kLogoImage);
  if (mainMenu.logoSprite) {
    mainMenu.logoQuad = rt::createSprite3D(rt::kAnyNumber, mainMenu.logoSprite);
  }
}

void DrawMainMenu() {
  rt::Handle quad = mainMenu.logoQuad;
  if (!quad) return;
  float w = rt::sprite3DWidth(quad);
  float h = rt::sprite3DHeight(quad);
  rt::displaySprite3D(quad, (rt::frame.width - w) / 2, (rt::frame.height - h) / 2, 255);
}
