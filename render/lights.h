// Lights: after the world and the particles, a light pass brightens the picture with textured
// light shapes blended against what is already on screen (destination colour x source colour
// plus destination: the back buffer has no alpha, so destination alpha reads as 1), and an
// ambient overlay tints the whole screen. Lasting lights come from the map, from burning fuses
// and from items and may flicker; flashes come from explosions and fade away by themselves.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/containers.h"
#include "runtime/objects.h"

enum LightShape : int16_t { kLightPoint = 0, kLightCone = 1, kLightPlane = 2 };

struct Light {
  rt::Handle sprite3D = 0;  // of its shape
  uint8_t red = 0, green = 0, blue = 0;
  int32_t x = 0, y = 0;     // world top-left
  int32_t screenX = 0, screenY = 0;
  int32_t width = 0, height = 0, halfWidth = 0, halfHeight = 0;
  float intensity = 0;
  int16_t rotation = 0;     // degrees
  int16_t active = 1;       // 1 = drawn
  int16_t shape = kLightPoint;
  uint8_t flicker = 0;
  float flickerAmount = 0;
  int32_t flickerInterval = 0;  // ms
  uint32_t nextFlicker = 0;
  float widthReduction = 0, heightReduction = 0, intensityReduction = 0;
};

struct Flash {
  rt::Handle sprite3D = 0;
  uint8_t red = 0, green = 0, blue = 0;
  int32_t x = 0, y = 0;     // world centre
  int32_t screenX = 0, screenY = 0;
  int32_t width = 0, height = 0, halfWidth = 0, halfHeight = 0;
  float intensity = 0;
  int16_t rotation = 0;
  float fadePerFrame = 0;
  uint32_t fadeAt = 0;      // when fading starts
};

// Loads the three shape textures from a data archive (a path ending in "qzd": "Point.png",
// "Cone.png", "Plane.png" from its root) or from a folder prefix, remembers the screen size,
// clock and camera, and sets the ambient colour to black. Missing shapes draw nothing.
void InitLights(const std::string& source, int screenWidth, int screenHeight,
                const uint32_t* clock, const int32_t* cameraX, const int32_t* cameraY);
void SetLightCamera(const int32_t* cameraX, const int32_t* cameraY);
void SetLightsEnabled(bool enabled);
rt::Handle LightShapeSprite(int shape);

// Colours are 0x00BBGGRR. The ambient colour fills the screen; an overlay colour below 1
// removes the overlay.
void SetAmbientColour(uint32_t colour);
void SetOverlayColour(int32_t colour);
uint32_t AmbientColour();

// An active, steady light centred on (centreX, centreY).
Light* AddLight(int shape, int width, int height, int centreX, int centreY, uint32_t colour,
                float intensity, int rotation);
void RemoveLight(Light* light);
// A flash that starts fading delayMs from now and removes itself once dark.
Flash* AddFlash(int shape, int width, int height, int centreX, int centreY, uint32_t delayMs,
                uint32_t colour, float intensity, float fadePerFrame, int rotation);
void ClearLights();  // lights and flashes
rt::List<Light>& Lights();
rt::List<Flash>& Flashes();

// The light pass (once per frame, after the particles). Restores the normal blend at the end.
void DrawLights();
