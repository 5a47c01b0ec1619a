#include "render/map_effects.h"

#include <algorithm>
#include <cmath>

#include "data/resources.h"
#include "render/lights.h"
#include "render/particles.h"
#include "runtime/containers.h"

namespace {

// Far beyond any map (1024 cells of 1024 pixels), near enough to zero that the engines' sums
// of positions and sizes stay inside an int.
constexpr int32_t kMaxWorldCoordinate = 1 << 24;
constexpr int32_t kMaxLightSide = 4096;
constexpr int32_t kMaxEmitterArea = 4096;
constexpr int32_t kMaxTimeMs = 60000;
// Emitted particles must die: lifetimes are bounded and a fading particle loses at least this
// much alpha per step (255 alpha in about ten seconds of steps).
constexpr int32_t kMaxParticleLifetime = 10000;
constexpr float kMinAlphaLoss = 0.25f;

float finiteWithin(float value, float limit) {
  if (!std::isfinite(value)) return 0;
  return std::clamp(value, -limit, limit);
}

int32_t coordinate(int32_t value) {
  return std::clamp(value, -kMaxWorldCoordinate, kMaxWorldCoordinate);
}

void addMapLight(const MapLight& stored, int32_t scrollX, int32_t scrollY) {
  if (stored.shape < kLightPoint || stored.shape > kLightPlane) return;
  Light* light = Lights().append();
  light->sprite3D = LightShapeSprite(stored.shape);
  light->red = static_cast<uint8_t>(stored.colour & 0xFF);
  light->green = static_cast<uint8_t>(stored.colour >> 8 & 0xFF);
  light->blue = static_cast<uint8_t>(stored.colour >> 16 & 0xFF);
  light->x = coordinate(stored.x);
  light->y = coordinate(stored.y);
  light->width = std::clamp(stored.width, 0, kMaxLightSide);
  light->height = std::clamp(stored.height, 0, kMaxLightSide);
  light->halfWidth = light->width / 2;
  light->halfHeight = light->height / 2;
  light->screenX = light->x - scrollX;
  light->screenY = light->y - scrollY;
  light->intensity = std::max(0.0f, finiteWithin(stored.intensity, 16.0f));
  light->rotation = stored.rotation;
  light->active = stored.active;
  light->shape = stored.shape;
  light->flicker = stored.flicker != 0 ? 1 : 0;
  light->flickerAmount = std::max(0.0f, finiteWithin(stored.flickerAmount, 1.0f));
  light->flickerInterval = std::clamp(stored.flickerInterval, 0, kMaxTimeMs);
}

// The texture an emitter's key names in the particle texture map; a blank or unknown key gives
// none, so such an emitter's particles are not drawn.
rt::Handle particleTexture(const std::string& key) {
  if (key.empty()) return 0;
  const ParticleTexture* texture = ParticleTextures().find(key);
  return texture ? texture->sprite3D : 0;
}

void addMapEmitter(const MapEmitter& stored, int32_t scrollX, int32_t scrollY) {
  ParticleType type;
  type.unused = stored.first;
  type.active = stored.active;
  type.areaWidth = std::clamp(stored.areaWidth, 0, kMaxEmitterArea);
  type.areaHeight = std::clamp(stored.areaHeight, 0, kMaxEmitterArea);
  type.halfAreaWidth = type.areaWidth / 2;
  type.halfAreaHeight = type.areaHeight / 2;
  type.interval = std::clamp(stored.interval, 0, kMaxTimeMs);
  type.textureKey = rt::trim(stored.textureKey);
  type.texture = particleTexture(type.textureKey);
  type.lifetime = std::clamp(stored.lifetime, 0, kMaxParticleLifetime);
  type.extraLifetime = std::clamp(stored.extraLifetime, 0, kMaxParticleLifetime);
  type.startSize = std::max(0.0f, finiteWithin(stored.startSize, 1024.0f));
  type.sizeChange = finiteWithin(stored.sizeChange, 16.0f);
  type.speed = finiteWithin(stored.speed, 1000.0f);
  type.minAngle = std::clamp(stored.minAngle, -3600, 3600);
  type.maxAngle = std::clamp(stored.maxAngle, type.minAngle, type.minAngle + 3600);
  type.driftFactor = finiteWithin(stored.driftFactor, 100.0f);
  type.sourceBlend = std::clamp(stored.sourceBlend, 1, 10);
  type.destinationBlend = std::clamp(stored.destinationBlend, 1, 10);
  type.startAlpha = std::clamp(finiteWithin(stored.startAlpha, 255.0f), 0.0f, 255.0f);
  float loss = finiteWithin(stored.alphaLoss, 255.0f);
  type.alphaLoss = loss <= 0 ? 0 : std::max(loss, kMinAlphaLoss);
  int32_t x = coordinate(stored.x), y = coordinate(stored.y);
  type.x = x;
  type.y = y;
  type.screenX = x - scrollX;
  type.screenY = y - scrollY;
  AddEmitter(type, x, y);
}

}  // namespace

void PutUpMapEffects(const MapEffects& effects, int32_t scrollX, int32_t scrollY) {
  SetAmbientColour(effects.ambientColour);
  SetOverlayColour(effects.overlayColour);
  ClearLights();
  for (const MapLight& light : effects.lights) addMapLight(light, scrollX, scrollY);
  SetParticleDrift(effects.driftEnabled, finiteWithin(effects.driftX, 100.0f),
                   finiteWithin(effects.driftY, 100.0f));
  ClearEmitters();
  ClearParticles();
  for (const MapEmitter& emitter : effects.emitters) addMapEmitter(emitter, scrollX, scrollY);
}
