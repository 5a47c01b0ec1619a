// The menus' side of the main loop: which page is up, and one menu frame of it. The main loop runs
// menu frames while no match runs; a page's actions reach the session through net/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct MenuState {
  std::string currentMenu = "Main Menu";  // the page the menus open on
};

extern MenuState menu;

enum class MenuResult { kStay, kQuit };

// Into the menus: the menu music, and the current page built at the first frame.
void EnterMenu();
// One menu frame after the window events: the mouse, the background, the page's widgets and its
// actions under the lobby lock, and the title bar on top. kQuit when the player chose to quit
// (the settings are saved).
MenuResult MenuFrame(uint32_t window, std::string_view title);
