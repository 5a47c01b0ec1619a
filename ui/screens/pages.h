// Inside ui/screens only: the builders and drawers of the pages, one file per page or group of
// pages, gathered in the table of screens.cpp.
#pragma once

// main_menu.cpp
void BuildMainMenu();
void DrawMainMenu();
