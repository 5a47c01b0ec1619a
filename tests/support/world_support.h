// Helpers for tests of the world and of what follows it: an open floor to play on, and the
// world's events as a test sees them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "world/events.h"

namespace test {

// The map's solid grid and the round's grids at this size, all empty: a floor without walls.
void openFloor(int columns, int rows);

// The events of the world, recorded while the log lives (one log at a time).
struct LoggedEvent {
  WorldEventType type;
  const void* record = nullptr;  // the barrel, item or player the event names
  int32_t column = 0, row = 0, x = 0, y = 0, owner = 0;
  std::string text = {};
};

class EventLog {
 public:
  EventLog();
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  size_t count(WorldEventType type) const;
  const std::vector<LoggedEvent>& events() const { return events_; }
  void clear() { events_.clear(); }

 private:
  static void record(const WorldEvent& event);
  std::vector<LoggedEvent> events_;
};

}  // namespace test
