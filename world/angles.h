// Angles in degrees, shared by the rules' turning and the figures' drawing.
#pragma once

#include <cmath>

// The signed turn from a to b in degrees, within -180..180.
inline float shortestAngleDifference(float a, float b) {
  float d = std::fmod(b - a, 360.0f);
  if (d > 180) {
    d -= 360;
  } else if (d < -180) {
    d += 360;
  }
  return d;
}
