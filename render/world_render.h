// The camera and the drawing of the arena, bottom to top: tile layers, decals, items, boxes,
// barrels, players, particles, lights and name tags. Everything is drawn from world.camera,
// which the update phase moves after the drawing, so a frame shows the previous pass's camera.
// The pictures of the records (lights, animations, figures) are render/world_effects.h's.
#pragma once

#include "world/world.h"

inline constexpr int kFreeCameraStep = 2;      // pixels per frame
inline constexpr int kFreeCameraFastStep = 5;  // while "A" is held too
inline constexpr int kNameTagRise = 64;        // the tag's top above the player's centre

// The keys the camera answers to in this frame.
struct CameraKeys {
  bool up = false, down = false, left = false, right = false;  // the free camera's moves
  bool fast = false;      // "A" held: the free camera moves faster
  bool recentre = false;  // "B" released: the free camera back on the local (or first) player
  bool next = false;      // "A" released: spectate the next player
};

// Once per game frame, after the local movement: follow the living local player; else move the
// free camera with the keys, or spectate the players in turn.
void UpdateCamera(const CameraKeys& keys);
// The camera with the world point (x, y) in the middle of the screen.
void CentreCamera(float x, float y);

// The cells in sight (world.camera's first and last column and row), clamped to the map.
void ComputeVisibleRange();
// One map layer over the visible cells, each tile turned by its cell's rotation, at the layer's
// opacity.
void DrawTileLayer(int layer);
// Draws the decals and ages them: past its fade time a decal loses one alpha step per frame and
// goes when none is left.
void DrawDecals();
// Each item's glow, then its animation in its colour under its own blend.
void DrawItems();
void DrawBoxes();
// Each barrel's sprite centred on it, its fuse light flickering.
void DrawBarrels();
// Every living player's figure, turned toward its facing.
void DrawPlayers();
// The names over the other players (all of them when there is no local player), in brackets
// for the dead.
void DrawNameTags();

// The world in two parts, with the barrel step (fuses and explosions, world/barrels.h) between
// them, so that a blast's fire is drawn in the frame it starts: from the ground up to the barrels,
// then the players, particles, lights and name tags. The HUD and the chat follow.
void DrawWorldBelowPlayers();
void DrawWorldFromPlayers();
