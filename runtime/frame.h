// The frame record: what one pass of the main loop knows about time, the screen and the user.
// The main loop fills it once per frame; everything above the runtime reads it and none of it
// keeps a clock or an event queue of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/screen.h"

namespace rt {

struct Frame {
  uint32_t now = 0;      // the frame time in ms, sampled once per frame; all timers compare to it
  int32_t width = 1024;  // the screen the frame is drawn on
  int32_t height = 768;
  std::vector<WindowEvent> events;  // this frame's key, character, mouse and window events
  bool closeRequested = false;      // the window received its close event
};

extern Frame frame;

}  // namespace rt
