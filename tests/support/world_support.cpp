#include "support/world_support.h"

#include <algorithm>

#include "world/world.h"

namespace test {

namespace {

EventLog* current = nullptr;

}  // namespace

void openFloor(int columns, int rows) {
  world.map.solid.reset(columns, rows);
  world.round.box.reset(columns, rows);
  world.round.barrelAt.reset(columns, rows);
  world.round.itemAt.reset(columns, rows);
}

EventLog::EventLog() {
  current = this;
  addWorldListener(record);
}

EventLog::~EventLog() {
  removeWorldListener(record);
  current = nullptr;
}

void EventLog::record(const WorldEvent& event) {
  if (!current) return;
  LoggedEvent logged{event.type};
  if (event.barrel) logged.record = event.barrel;
  if (event.item) logged.record = event.item;
  if (event.player) logged.record = event.player;
  logged.column = event.column;
  logged.row = event.row;
  logged.x = event.x;
  logged.y = event.y;
  logged.owner = event.owner;
  logged.text = std::string(event.text);
  current->events_.push_back(logged);
}

size_t EventLog::count(WorldEventType type) const {
  return static_cast<size_t>(std::count_if(
      events_.begin(), events_.end(), [type](const LoggedEvent& e) { return e.type == type; }));
}

}  // namespace test
