// The menus' pages and actions by their keys. A page key doubles as the action of the buttons that
// lead to it: handling it empties the widget list and builds the page. Other actions work on the
// page that is up (a question, a chat line, the lobby's settings). An action may name the next
// one by putting it into the action string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct ScreenAction {
  const char* key;
  void (*handle)();
  void (*frame)() = nullptr;  // a page's own work every menu frame (a lobby follows its session)
  bool page = true;           // false: it works on the page that is up
};

// The action of a key, or null.
const ScreenAction* FindScreenAction(std::string_view key);

// What the command line chose for this run instead of the settings: the quick start drives the
// same pages with it.
struct QuickChoices {
  std::string playerName;  // "" = the "Name" setting
  int32_t portBase = 0;    // 0 = the "Network" settings
  bool observer = false;   // a host that only watches and has no player
  std::string address;     // "" = the "IP" setting
  std::string mapName;     // chosen in the server lobby as soon as it opens
};

extern QuickChoices quickChoices;

// Practice bots of the host's session (each a bot program on loopback). Add and remove return
// false when nothing changed; removing 0 takes the newest bot.
bool AddPracticeBot();
bool RemovePracticeBot(int32_t playerId);
bool IsPracticeBot(int32_t playerId);
int PracticeBotCount();
// Some bot has started but is not among the players yet.
bool PracticeBotsJoining();
uint32_t PracticeBotsRevision();
// True once after a bot went without ever joining (its program is missing or failed).
bool PracticeBotFailed();
// Every frame: which player each bot is, and the bots that have gone.
void FollowPracticeBots();
// At the end of the program.
void StopPracticeBots();
