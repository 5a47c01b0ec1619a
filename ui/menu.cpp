#include "ui/menu.h"

#include <mutex>

#include "audio/audio.h"
#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "ui/screens/screens.h"
#include "ui/title_bar.h"
#include "ui/widgets.h"
#include "ui/widgets_local.h"

MenuState menu;

namespace {

constexpr uint32_t kMenuBackground = 0x201810;
constexpr int kBackgroundAlpha = 64;
constexpr int kKeyEscape = 1;

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

MenuResult handleAction(const std::string& action) {
  rt::logLine("MENU", "action \"%s\"", action.c_str());
  if (action == "Quit ?") {
    // "No" keeps the page: from a lobby the session must not be left behind a main menu.
    AddMessageBox(Lang("Quit Question"), "Quit\tNo");
  } else if (action == "Quit") {
    SaveConfig();
    return MenuResult::kQuit;
  } else if (action == "No") {
    removeMessageBox();
  } else if (const ScreenAction* found = FindScreenAction(action)) {
    if (found->page) {
      ClearWidgets();
      menu.currentMenu = found->key;
    }
    found->handle();
  }
  return MenuResult::kStay;
}

// Actions that lead on to another (a language change rebuilds its page) are handled in the same
// frame, a few at most.
MenuResult handleActions(std::string action) {
  for (int i = 0; i < 4 && !action.empty(); ++i) {
    gui.action.clear();
    if (handleAction(action) == MenuResult::kQuit) return MenuResult::kQuit;
    action = gui.action;
  }
  return MenuResult::kStay;
}

// Escape, or the pad's east button, answers a question with its last button and otherwise
// presses the page's "Back".
void escapeToBack() {
  bool escape = FrameHasEvent(rt::kEventKeyDown, kKeyEscape) ||
                FrameHasEvent(rt::kEventPadDown, rt::kPadEast);
  if (!escape || !gui.action.empty()) return;
  if (Widget* box = gui.modal) {
    size_t tab = box->action.rfind('\t');
    gui.action = tab == std::string::npos ? box->action : box->action.substr(tab + 1);
    gui.modal = nullptr;
    return;
  }
  std::string back = Lang("Back");
  for (const Widget& w : gui.widgets) {
    if (w.kind == WidgetKind::kButton && w.text == back) gui.action = w.action;
  }
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
    if (const ScreenAction* page = FindScreenAction(menu.currentMenu); page && page->frame) {
      page->frame();
    }
    if (drawing) {
      drawBackground();
      UpdateWidgets();
    }
    escapeToBack();
    if (!gui.action.empty()) {
      startPageTitle();
      result = handleActions(gui.action);
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
