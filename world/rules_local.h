// Small helpers shared by the rules (movement, barrels, items, kills).
#pragma once

#include <cmath>
#include <cstdint>

#include "world/world.h"

// Positions come from the network: a value that is not a number or lies absurdly far away
// becomes a harmless whole pixel instead of an undefined conversion.
inline int32_t wholePixel(float value) {
  if (!std::isfinite(value)) return 0;
  constexpr float kFar = 1e9f;
  if (value > kFar) return static_cast<int32_t>(kFar);
  if (value < -kFar) return static_cast<int32_t>(-kFar);
  return static_cast<int32_t>(std::lround(value));
}

inline float squaredDistance(float ax, float ay, float bx, float by) {
  float dx = ax - bx, dy = ay - by;
  return dx * dx + dy * dy;
}

// Score counters come from the wire too; they stop at the ends instead of overflowing.
inline int32_t saturatingAdd(int32_t value, int64_t delta) {
  int64_t sum = static_cast<int64_t>(value) + delta;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

// A cell of the current map. Everything off the map counts as a wall for the rules.
inline bool onMap(int32_t column, int32_t row) {
  return world.map.solid.inside(column, row) && world.round.box.inside(column, row) &&
         world.round.barrelAt.inside(column, row) && world.round.itemAt.inside(column, row);
}
