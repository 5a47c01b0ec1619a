// The program's spine: start-up, the main loop with its two states, the game frame's fixed
// order, and the orderly end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/screen.h"

// How the program was started.
struct Options {
  bool headless = false;   // null screen and sound backends: no window, no audio device
  std::string logPath;     // --log FILE, or POWDERBOX_LOG
  std::string inputScript; // --input-script FILE
  std::string dataRoot;    // --data DIR, or POWDERBOX_DATA
  int galleryPage = -1;    // --gallery [PAGE]: show the content instead of the menus
};

// The application record: one instance for the process.
struct AppState {
  std::string title = "Powderbox 0.5";
  int32_t width = 1024;
  int32_t height = 768;
  uint32_t now = 0;             // the frame time in ms, sampled once per frame
  uint32_t screenOpenedAt = 0;
  int32_t frameDelay = 10;      // ms slept by the window-event step of every frame
  bool quitRequested = false;   // the window received its close event
  std::vector<rt::WindowEvent> events;  // the window events of the current frame
  uint32_t window = 0;          // the main window
};

// The menu's side of the two states.
struct MenuState {
  std::string currentMenu = "Main Menu";
  bool inGame = false;  // set when a match starts, cleared when it ends
};

extern AppState app;
extern MenuState menu;

// Parses the command line. Returns -1 to go on, or an exit code (help, version, bad option).
int ParseOptions(int argc, char** argv, Options* options);

// Runs the whole program; returns the process's exit code.
int RunGame(const Options& options);

// Start-up: runtime services, screen behind the logo window, data, world tables. False when
// the screen could not be opened (the fatal error has been shown).
bool StartUp(const Options& options);

// Shuts the runtime services down and ends the process.
[[noreturn]] void EndProgram(int exitCode = 0);

// The window-event step of every frame: collects this frame's events, sleeps frameDelay and
// samples the frame time.
void CollectWindowEvents();

// Logs the measured frame rate every few seconds, or at once.
void LogFrameRate(bool now);

// One pass of the main loop while a match runs.
void GameFrame();
