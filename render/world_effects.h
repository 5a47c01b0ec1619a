// What the world's events look like. Beside the world's records render keeps the pictures that
// belong to them: the light and spark of a burning barrel, an item's animation and light, every
// player's figure and the HUD's fuse spark. Blasts, broken boxes and deaths become fire, smoke,
// splinters and blood; a freshly loaded map puts up its own lights and emitters.
#pragma once

#include <cstdint>

#include "render/animation.h"
#include "world/events.h"
#include "world/world.h"

struct Light;
struct ParticleType;

inline constexpr uint32_t kFuseLightColour = 0xA0F0FF;

// The listener of the pictures; start-up adds it to the world's listeners.
void ShowWorldEvent(const WorldEvent& event);

// The pictures of the world's records, for the drawing.
Light* BarrelLight(const Barrel& barrel);      // null when it has none
rt::Handle ItemAnimation(const Item& item);    // 0 when it has none
PlayerBody& PlayerFigure(const Player& player);  // made on first use

// The HUD's fuse spark at a world position, made on first use and again after every map load
// (a map empties the emitter list).
void PlaceHudSpark(int32_t x, int32_t y);
ParticleType* HudSpark();  // null until placed
