// The menu loop: owns every frame while no match runs.
#pragma once

// Runs menu frames until a match starts (menu.inGame set); quitting from the menus ends the
// program from inside.
void RunMenu();
