// The menus' side of the main loop: which page is up, and one menu frame of it. The main loop
// runs menu frames while no match runs; a page's actions reach the session through net/.
#pragma once

#include <string>

struct MenuState {
  std::string currentMenu = "Main Menu";  // the key of the page on screen
};

extern MenuState menu;

// Into the menus: the menu music, and the current page built afresh.
void EnterMenu();
// One menu frame, after the window events: the page drawn and the music's volume followed.
void MenuFrame();
