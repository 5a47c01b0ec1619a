// Barrels, fuses and explosions. A barrel is requested by its owner's machine, placed on every
// machine when the echo comes back, and burns and explodes on every machine alike; only the
// item drops (the host) and the death of one's own player (each machine) are decided locally.
#pragma once

#include <cstdint>

#include "world/world.h"

inline constexpr uint32_t kChainDelay = 50;  // ms from a blast reaching a barrel to its explosion
inline constexpr int32_t kMinStrength = 1, kMaxStrength = 12;     // cells
inline constexpr int32_t kMinFuseTime = 2000, kMaxFuseTime = 7500;  // ms

// On the echoed barrel message: a barrel of the player with that id at (x, y), exploding
// fuseTime ms from now. Values come from the network, so strength and fuse time are brought
// into their ranges; an unknown owner, a position that is not a number or a cell off the map
// places nothing (null).
Barrel* placeBarrel(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime);
// Takes a barrel away without a blast (a player leaves, tests), freeing its cell.
void removeBarrel(Barrel* barrel);
// A player leaves: its burning barrels stay but no longer count against it.
void forgetBarrelOwner(Player& player);

// Once per game frame, in the drawing between the barrels and the players: explodes every barrel
// whose time has come. The blast runs along the four arms, destroys boxes (the host rolls their
// items), sets off other barrels 50 ms later in the name of this barrel's owner, destroys items
// and reports the local player's death; then the barrel goes.
void barrelStep();

// Once per game frame: the action key was released, so the living local player asks for a
// barrel when it has a free place and stands on a cell without one.
void requestBarrel(bool actionReleased);

// Called for every cell a blast burns, after its effects (try-map's bots die this way; every
// other player reports its own death).
using CellBurntHook = void (*)(int32_t column, int32_t row, int32_t owner);
void setCellBurntHook(CellBurntHook hook);
