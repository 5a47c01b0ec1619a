// The menu pages by their keys. Building a page puts up what it shows; a page that draws more
// than its widgets draws that every frame.
#pragma once

#include <string_view>

struct ScreenPage {
  const char* key;   // the page's language key, as in menu.currentMenu
  void (*build)();
  void (*draw)();    // null when the widgets are all there is
};

// The page of a key, or null.
const ScreenPage* FindScreenPage(std::string_view key);
