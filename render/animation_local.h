// Inside render/ and its tests only.
#pragma once

#include <cstdint>

// The tick the instance clocks read, rt::milliseconds unless replaced. Tests set their own so
// that clock cases need no sleeping; nullptr restores the system tick.
void SetAnimationClock(uint32_t (*now)());
