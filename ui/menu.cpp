#include "ui/menu.h"

#include <mutex>

#include "audio/audio.h"
#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "ui/screens/screens.h"
#include "ui/title_bar.h"
#include "ui/widgets.h"

MenuState menu;

namespace {

constexpr uint32_t kMenuBackground = 0x201810;
constexpr int kBackgroundAlpha = 64;
constexpr const char* kFirstPage = "Main Menu";

void drawBackground() {
  if (!rt::sprite3DExists(kSpriteBackground)) return;
  float width = rt::sprite3DWidth(kSpriteBackground);
  float height = rt::sprite3DHeight(kSpriteBackground);
  rt::displaySprite3D(kSpriteBackground, (rt::frame.width - width) / 2,
                      (rt::frame.height - height) / 2, kBackgroundAlpha);
}

// Each new page's title swings its own way: one of +-0.6, +-0.7 ... +-1.0.
void startPageTitle() {
  gui.pageEnteredAt = rt::frame.now;
  gui.swing = static_cast<float>((2 * rt::random(1) - 1) * (rt::random(4) + 6)) / 10.0f;
}

void removeMessageBox() {
  if (Widget* box = gui.modal) {
    RemoveWidget(box);
    return;
  }
  for (auto it = gui.widgets.begin(); it != gui.widgets.end(); ++it) {
    if (it->kind == WidgetKind::kMessageBox) {
      RemoveWidget(&*it);
      return;
    }
  }
}

// A page key builds its page; a key without a page (yet) opens the first page.
void buildPage(const std::string& key) {
  const ScreenPage* page = FindScreenPage(key);
  if (!page) page = FindScreenPage(kFirstPage);
  ClearWidgets();
  menu.currentMenu = page->key;
  page->build();
}

MenuResult handleAction(const std::string& action) {
  rt::logLine("MENU", "action \"%s\"", action.c_str());
  if (action == "Quit ?") {
    AddMessageBox(Lang("Quit Question"), "Quit\tMain Menu");
  } else if (action == "Quit") {
    SaveConfig();
    return MenuResult::kQuit;
  } else if (action == "No") {
    removeMessageBox();
  } else {
    buildPage(action);
  }
  return MenuResult::kStay;
}

}  // namespace

void EnterMenu() {
  PlayMenuMusic();
  ClearWidgets();
  gui.action = menu.currentMenu;
}

MenuResult MenuFrame(uint32_t window, std::string_view title) {
  UpdateMouse();
  MenuResult result = MenuResult::kStay;
  rt::clearScreen(kMenuBackground);
  bool drawing = rt::beginDrawing();
  {
    std::lock_guard<std::recursive_mutex> lock(lobbyLock());
    if (drawing) {
      drawBackground();
      if (const ScreenPage* page = FindScreenPage(menu.currentMenu); page && page->draw) {
        page->draw();
      }
      UpdateWidgets();
    }
    if (!gui.action.empty()) {
      startPageTitle();
      std::string action = gui.action;
      gui.action.clear();
      result = handleAction(action);
    }
  }
  gui.action.clear();
  if (drawing) {
    TitleBarFrame(window, title, false);
    rt::endDrawing();
  }
  UpdateMenuMusicVolume();
  return result;
}
