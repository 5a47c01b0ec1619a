#include "world/decals.h"

#include "data/config.h"
#include "data/resources.h"
#include "render/particles.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "world/rules_local.h"

namespace {

constexpr int kBloodClouds = 4;
constexpr int kBloodDrops = 11;
constexpr int32_t kPoolHalfSize = 48;
constexpr int32_t kPartHalfSize = 32;
constexpr int kPartScatter = 64;  // body parts land within +-32 pixels of the body

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

void leaveBody(float x, float y) {
  uint32_t fadeAt = rt::frame.now + static_cast<uint32_t>(config.deadBodyTime) * 1000u;
  AddDecal(kSpriteBlood, x, y, kPoolHalfSize, kPoolHalfSize, fadeAt);
  for (int32_t sprite : {kSpriteBloodArm, kSpriteBloodTorso}) {
    float partX = x + static_cast<float>(rt::random(kPartScatter) - kPartScatter / 2);
    float partY = y + static_cast<float>(rt::random(kPartScatter) - kPartScatter / 2);
    AddDecal(sprite, partX, partY, kPartHalfSize, kPartHalfSize, fadeAt);
  }
}

int32_t pointsOf(const Player& player) {
  return SaturatingAdd(player.kills, -static_cast<int64_t>(player.selfKills));
}

}  // namespace

Decal* AddDecal(int32_t sprite, float x, float y, int32_t halfWidth, int32_t halfHeight,
                uint32_t fadeAt) {
  Decal* decal = world.decals.append();
  decal->sprite = sprite;
  decal->rotation = rt::random(359);
  decal->x = x;
  decal->y = y;
  decal->halfWidth = halfWidth;
  decal->halfHeight = halfHeight;
  decal->fadeAt = fadeAt;
  decal->alpha = 255;
  return decal;
}

bool ApplyKill(int32_t victimId, int32_t killerId) {
  Player* victim = FindPlayer(victimId);
  Player* killer = FindPlayer(killerId);
  if (!victim || !killer || victim->dead) return false;

  if (config.blood) spillBlood(WholePixel(victim->x), WholePixel(victim->y));
  if (config.deadBodyTime != 0 && std::isfinite(victim->x) && std::isfinite(victim->y)) {
    leaveBody(victim->x, victim->y);
  }
  victim->dead = 1;

  if (victim == killer) {
    victim->selfKills = SaturatingAdd(victim->selfKills, 1);
    victim->deaths = SaturatingAdd(victim->deaths, 1);
    victim->points = pointsOf(*victim);
  } else {
    victim->deaths = SaturatingAdd(victim->deaths, 1);
    killer->kills = SaturatingAdd(killer->kills, 1);
    killer->points = pointsOf(*killer);
  }
  rt::logLine("KILL", "player %d killed by player %d", victimId, killerId);
  // The kill line for the message list is added by the caller (the chat box owns that list).
  return true;
}
