#include "render/world_effects.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "data/config.h"
#include "render/lights.h"
#include "render/map_effects.h"
#include "render/particles.h"
#include "runtime/clock.h"

namespace {

constexpr int kFuseLightSize = 240;
constexpr int kFlashSize = 320;
constexpr uint32_t kFlashDelay = 800;  // ms at full brightness before the flash fades
constexpr float kFlashFade = 0.02f;    // intensity lost per frame
constexpr int kExplosionParticles = 5;
constexpr int kWoodParticles = 3;
constexpr int kItemLightSize = 128;
constexpr float kItemLightIntensity = 0.25f;
constexpr int kBloodClouds = 4;
constexpr int kBloodDrops = 11;

struct BarrelLook {
  Light* light = nullptr;
  ParticleType* spark = nullptr;
};

struct ItemLook {
  rt::Handle animation = 0;  // instance
  Light* light = nullptr;
};

// Keyed by the world's records, whose addresses hold until the events say they go.
struct Looks {
  std::unordered_map<const Barrel*, BarrelLook> barrels;
  std::unordered_map<const Item*, ItemLook> items;
  std::unordered_map<const Player*, PlayerBody> figures;
  ParticleType* hudSpark = nullptr;
};

Looks looks;

// Five flames, five puffs of smoke scattered over the middle half of the cell, and a flash.
void explosionEffect(int centreX, int centreY) {
  int w = world.map.tileWidth, h = world.map.tileHeight;
  const ParticleType& fire = *ParticleTypeByName("Explosion");
  for (int i = 0; i < kExplosionParticles; ++i) {
    SpawnParticle(fire, centreX + rt::random(w / 2) - w / 4, centreY + rt::random(h / 2) - h / 4);
  }
  const ParticleType& smoke = *ParticleTypeByName("Explosion Smoke");
  for (int i = 0; i < kExplosionParticles; ++i) {
    SpawnParticle(smoke, centreX + rt::random(w / 2) - w / 4,
                  centreY + rt::random(h / 2) - h / 4);
  }
  AddFlash(kLightPoint, kFlashSize, kFlashSize, centreX, centreY, kFlashDelay, kFuseLightColour,
           1.0f, kFlashFade, 0);
}

void breakBox(int centreX, int centreY) {
  const ParticleType& wood = *ParticleTypeByName("Wood 001");
  for (int i = 0; i < kWoodParticles; ++i) SpawnParticle(wood, centreX, centreY);
  explosionEffect(centreX, centreY);
}

void spillBlood(int x, int y) {
  const ParticleType& cloud = *ParticleTypeByName("Blood Cloud 001");
  for (int i = 0; i < kBloodClouds; ++i) SpawnParticle(cloud, x, y);
  const ParticleType& drop = *ParticleTypeByName("Blood 001");
  for (int i = 0; i < kBloodDrops; ++i) {
    Particle* particle = SpawnParticle(drop, x, y);
    if (!particle) continue;
    // Each drop flies a little slower than the last, so the splash has depth.
    float factor = 1.0f - static_cast<float>(rt::random(50)) / 100.0f;
    particle->velocityX *= factor;
    particle->velocityY *= factor;
  }
}

void showBarrel(const Barrel& barrel, int x, int y) {
  BarrelLook& look = looks.barrels[&barrel];
  look.spark = AddEmitter(*ParticleTypeByName("Spark"), x, y);
  look.light = AddLight(kLightPoint, kFuseLightSize, kFuseLightSize, x, y, kFuseLightColour,
                        1.0f, 0);
}

void forgetBarrel(const Barrel* barrel) {
  auto it = looks.barrels.find(barrel);
  if (it == looks.barrels.end()) return;
  if (it->second.light) RemoveLight(it->second.light);
  if (it->second.spark) RemoveEmitter(it->second.spark);
  looks.barrels.erase(it);
}

void showItem(const Item& item, int x, int y) {
  ItemLook& look = looks.items[&item];
  if (item.animation) {
    look.animation =
        CreateAnimationInstance(rt::kAnyNumber, static_cast<uint32_t>(item.animation), false);
    PlayAnimation(look.animation);
  }
  look.light = AddLight(kLightPoint, kItemLightSize, kItemLightSize, x, y, item.colour,
                        kItemLightIntensity, 0);
}

void forgetItem(const Item* item) {
  auto it = looks.items.find(item);
  if (it == looks.items.end()) return;
  if (it->second.animation) FreeAnimationInstance(it->second.animation);
  if (it->second.light) RemoveLight(it->second.light);
  looks.items.erase(it);
}

void forgetRoundLooks() {
  while (!looks.barrels.empty()) forgetBarrel(looks.barrels.begin()->first);
  while (!looks.items.empty()) forgetItem(looks.items.begin()->first);
}

int wholePixel(float value) {
  return std::isfinite(value) ? static_cast<int>(std::lround(std::clamp(value, -1e9f, 1e9f))) : 0;
}

// A new map empties the engines' lists: what the round still holds is shown again on top of it.
void putUpMap() {
  forgetRoundLooks();
  PutUpMapEffects(world.map.effects, world.map.header.scrollX, world.map.header.scrollY);
  looks.hudSpark = nullptr;
  for (const Barrel& barrel : world.round.barrels) {
    showBarrel(barrel, wholePixel(barrel.x), wholePixel(barrel.y));
  }
  for (const Item& item : world.round.items) showItem(item, wholePixel(item.x), wholePixel(item.y));
}

void forgetFigure(const Player* player) {
  auto it = looks.figures.find(player);
  if (it == looks.figures.end()) return;
  FreePlayerBody(it->second);
  looks.figures.erase(it);
}

}  // namespace

void ShowWorldEvent(const WorldEvent& event) {
  switch (event.type) {
    case WorldEventType::kBarrelPlaced: showBarrel(*event.barrel, event.x, event.y); break;
    case WorldEventType::kBarrelRemoved: forgetBarrel(event.barrel); break;
    case WorldEventType::kCellBurnt: explosionEffect(event.x, event.y); break;
    case WorldEventType::kBoxDestroyed: breakBox(event.x, event.y); break;
    case WorldEventType::kItemCreated: showItem(*event.item, event.x, event.y); break;
    case WorldEventType::kItemRemoved: forgetItem(event.item); break;
    case WorldEventType::kPlayerKilled:
      if (config.blood) spillBlood(event.x, event.y);
      break;
    case WorldEventType::kPlayerRemoved: forgetFigure(event.player); break;
    case WorldEventType::kMapLoaded: putUpMap(); break;
    case WorldEventType::kRoundCleared: forgetRoundLooks(); break;
    case WorldEventType::kMatchEnded:
      forgetRoundLooks();
      ClearLights();
      ClearEmitters();
      ClearParticles();
      looks.hudSpark = nullptr;
      break;
    default: break;
  }
}

Light* BarrelLight(const Barrel& barrel) {
  auto it = looks.barrels.find(&barrel);
  return it == looks.barrels.end() ? nullptr : it->second.light;
}

rt::Handle ItemAnimation(const Item& item) {
  auto it = looks.items.find(&item);
  return it == looks.items.end() ? 0 : it->second.animation;
}

PlayerBody& PlayerFigure(const Player& player) {
  auto [it, added] = looks.figures.try_emplace(&player);
  if (added) it->second = CreatePlayerBody();
  return it->second;
}

void PlaceHudSpark(int32_t x, int32_t y) {
  if (!looks.hudSpark) {
    looks.hudSpark = AddEmitter(*ParticleTypeByName("Spark HUD"), x, y);
    return;
  }
  looks.hudSpark->x = x;
  looks.hudSpark->y = y;
}

ParticleType* HudSpark() { return looks.hudSpark; }
