// A map's own lights, emitters, colours and drift, put up when the map has loaded. Maps are
// files players share: every value is brought into a sensible range before an engine takes it.
#pragma once

#include <cstdint>

#include "world/map.h"

// Replaces every light, emitter and particle with the map's; scroll is the map's view origin.
void PutUpMapEffects(const MapEffects& effects, int32_t scrollX, int32_t scrollY);
