#include "world/events.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<WorldListener>& listeners() {
  static std::vector<WorldListener> list;
  return list;
}

}  // namespace

void addWorldListener(WorldListener listener) {
  std::vector<WorldListener>& list = listeners();
  if (listener && std::find(list.begin(), list.end(), listener) == list.end()) {
    list.push_back(listener);
  }
}

void removeWorldListener(WorldListener listener) { std::erase(listeners(), listener); }

void removeAllWorldListeners() { listeners().clear(); }

void notifyWorld(const WorldEvent& event) {
  // By index: a listener that adds another must not invalidate the walk.
  const std::vector<WorldListener>& list = listeners();
  for (size_t i = 0; i < list.size(); ++i) list[i](event);
}
