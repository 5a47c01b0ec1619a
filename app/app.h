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
  int fullscreen = -1;     // --fullscreen 1, --window 0; -1 as the settings say
  std::string logPath;     // --log FILE, or POWDERBOX_LOG
  std::string inputScript; // --input-script FILE
  std::string dataRoot;    // --data DIR, or POWDERBOX_DATA
  int galleryPage = -1;    // --gallery [PAGE]: show the content instead of the menus
  std::string tryMap;      // --try-map NAME: walk a map alone, messages applied at once
  int bots = 0;            // --bots N: wandering players for --try-map, practice bots for --host
  // The quick start: a session without the menus.
  bool host = false;       // --host: create a session and start matches by itself
  std::string connect;     // --connect ADDRESS: join one
  std::string map;         // --map NAME (host; default: the first map in name order)
  int rounds = 0;          // --rounds N (host; 0: the "Rounds" setting)
  int startWith = 2;       // --start-with K: players (the host's own included) to start with
  bool once = false;       // --once: the host ends after its first match
  std::string name;        // --name NAME instead of the configured player name
  int portBase = 0;        // --port-base N: information N, game N + 1, positions N + 2
  // This run only, never saved; the caller hands them on as the run's overrides.
  std::string serverList;  // --server-list URL: the server list's web service
  std::string bind;        // --bind ADDRESS: the local address a host binds its ports to
};

// The application record: one instance for the process. The frame's time, screen size and
// events are in the frame record (runtime/frame.h).
struct AppState {
  std::string title = "Powderbox 0.5";
  uint32_t screenOpenedAt = 0;
  uint32_t window = 0;          // the main window
  // Which of the two states the main loop is in: set when a round starts, cleared when the match
  // ends, both as the world reports them.
  bool inGame = false;
};

extern AppState app;

// Parses the command line. Returns -1 to go on, or an exit code (help, version, bad option).
int ParseOptions(int argc, char** argv, Options* options);

// Runs the whole program; returns the process's exit code.
int RunGame(const Options& options);

// Start-up: runtime services, screen behind the logo window, data, the world's listeners.
// False when the screen could not be opened (the fatal error has been shown).
bool StartUp(const Options& options);
// The world's listeners of the presentation, the chat box and the main loop's state.
void ListenToWorld();

// Shuts the runtime services down and ends the process.
[[noreturn]] void EndProgram(int exitCode = 0);
// The window was closed or the player quit: the settings are saved, a session is left properly.
[[noreturn]] void QuitGame();

// The window-event step of every frame: collects this frame's events and samples the frame time.
// The wait for the next frame comes after presenting, and events are gathered through it.
void CollectWindowEvents();

// Logs the measured frame rate every few seconds, or at once.
void LogFrameRate(bool now);

// One pass of the main loop while no match runs: the menus' frame.
void MenuPass();
// One pass of the main loop while a match runs: the game frame in its fixed order.
void GamePass();

// --try-map: loads the map with boxes, puts the local player (and the bots) on it and enters
// the game; the rules' messages are applied at once. False (with a message) when the map name
// is not one or the map cannot be loaded.
bool StartTryMap(const Options& options);
// --host or --connect: creates or joins a session with the options' name, ports, map and rounds.
// False (with a message) when that fails.
bool StartQuickSession(const Options& options);
// Once per menu frame: the quick start's lobby. The host starts a match once enough players
// are there (after a short pause between matches) and, with --once, ends after the first; a
// client ends when its host is gone.
void QuickStartStep();

// Once per game frame while trying a map, in the place of the host's round control: a new round
// five seconds after fewer than two players are left alive, and the bots' decisions.
void TryMapStep();
// The tried map's match has ended (the player went back to the menus): its players go.
void EndTryMap();
