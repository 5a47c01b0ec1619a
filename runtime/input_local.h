// Inside the runtime only: what the input services share with their tests.
#pragma once

#include <cstdint>

namespace rt {

// Replaces the clock the input script reads (null: rt::milliseconds), so that its timing can be
// checked without sleeping.
void setInputScriptClock(uint32_t (*clock)());

}  // namespace rt
