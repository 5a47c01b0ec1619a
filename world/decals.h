// Deaths on the ground: the decals that stay behind, and the world side of a kill.
#pragma once

#include <cstdint>

#include "world/world.h"

// A decal with a random rotation at full alpha, fading once now passes fadeAt.
Decal* addDecal(int32_t sprite, float x, float y, int32_t halfWidth, int32_t halfHeight,
                uint32_t fadeAt);

// On the echoed death report: the victim's dead flag and the scores, the kill reported (blood and
// the kill line follow it), then the body's decals unless "DeadBodyTime" is 0. An unknown victim
// or killer, or a victim already dead, changes nothing and gives false.
bool applyKill(int32_t victimId, int32_t killerId);
