// Players: the local player's controls and movement with its collisions, and the remote players
// walking toward the positions their machines last reported.
#pragma once

#include <cstdint>

#include "world/world.h"

inline constexpr int32_t kPlayerRadius = 28;  // collision half-size in pixels
// A long frame (a stall, the first frame of a match) moves as if it had lasted this many 10 ms
// steps at most, so that nobody jumps across the map.
inline constexpr float kMaxFrameFactor = 10.0f;

struct MoveKeys {
  bool up = false, down = false, left = false, right = false;
};

// The facing of the keys held (Up over Down, Left over Right): 0 down, 90 left, -90 right,
// -180 up, diagonals between. False when no movement key counts.
bool keyDirection(MoveKeys keys, int32_t* direction);
// Elapsed ms since *previous, in 10 ms steps (0..kMaxFrameFactor); *previous becomes now.
float frameFactor(uint32_t now, uint32_t* previous);

// One frame of the local player with the keys held: whether it walks, its facing, the turn of the
// upper body and the move with its collisions. Nothing happens to a dead player.
void movePlayer(Player& player, MoveKeys keys, float factor);
// The move itself: step pixels (rounded) in a direction, each axis stopped by a wall, a box or
// a barrel the probe would come closer to, the other axis sliding on.
void moveWithCollision(Player& player, int32_t direction, float step);

// Once per game frame: the local player with the movement keys held.
void localMovementStep(MoveKeys keys);
// Once per game frame: every other player walks at its own speed toward its reported position.
void moveRemotePlayers(float factor);
void remoteMovementStep();
