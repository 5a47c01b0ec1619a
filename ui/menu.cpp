#include "ui/menu.h"

#include "audio/audio.h"
#include "runtime/screen.h"
#include "ui/screens/screens.h"

MenuState menu;

namespace {

constexpr uint32_t kMenuBackground = 0x201810;

}  // namespace

void EnterMenu() {
  PlayMenuMusic();
  if (const ScreenPage* page = FindScreenPage(menu.currentMenu)) page->build();
}

void MenuFrame() {
  rt::clearScreen(kMenuBackground);
  if (rt::beginDrawing()) {
    if (const ScreenPage* page = FindScreenPage(menu.currentMenu); page && page->draw) {
      page->draw();
    }
    rt::endDrawing();
  }
  UpdateMenuMusicVolume();
}
