// Inside the runtime only: what the screen backends, the input services and the input script
// share. Nothing outside runtime/ includes this.
#pragma once

#include "runtime/screen.h"

namespace rt {

// Queues an event for windowEvent() (used by the backends' event pumps and the input script).
void pushWindowEvent(const WindowEvent& event);

}  // namespace rt
