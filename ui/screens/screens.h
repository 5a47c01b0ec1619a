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
