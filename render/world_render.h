// The camera and the drawing of the arena, bottom to top: tile layers, decals, items, boxes,
// barrels, players, particles, lights and name tags. Everything is drawn from world.camera,
// which the update phase moves after the drawing, so a frame shows the previous pass's camera.
#pragma once

#include "world/world.h"

inline constexpr int kFreeCameraStep = 2;      // pixels per frame
inline constexpr int kFreeCameraFastStep = 5;  // while "A" is held too
inline constexpr int kNameTagRise = 64;        // the tag's top above the player's centre

// Main loop step 10, after the local movement: follow the living local player; else move the
// free camera with the keys, or spectate the players in turn ("A" for the next one).
void UpdateCamera();
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
// A barrel's sprite centred on it (the barrel step calls this for each barrel).
void DrawBarrel(const Barrel& barrel);
// Every living player's figure, turned toward its facing.
void DrawPlayers();
// The names over the other players (all of them when there is no local player), in brackets
// for the dead.
void DrawNameTags();

// Pipeline step 6, items 1 to 11: the world from the ground up to the name tags, with the barrel
// step (fuses and explosions) in its place. The HUD and the chat follow it.
void DrawWorld();
