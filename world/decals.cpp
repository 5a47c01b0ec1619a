#include "world/decals.h"

#include "data/config.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "world/events.h"
#include "world/rules_local.h"

namespace {

constexpr int32_t kPoolHalfSize = 48;
constexpr int32_t kPartHalfSize = 32;
constexpr int kPartScatter = 64;  // body parts land within +-32 pixels of the body

void leaveBody(float x, float y) {
  uint32_t fadeAt = rt::frame.now + static_cast<uint32_t>(config.deadBodyTime) * 1000u;
  addDecal(kSpriteBlood, x, y, kPoolHalfSize, kPoolHalfSize, fadeAt);
  for (int32_t sprite : {kSpriteBloodArm, kSpriteBloodTorso}) {
    float partX = x + static_cast<float>(rt::random(kPartScatter) - kPartScatter / 2);
    float partY = y + static_cast<float>(rt::random(kPartScatter) - kPartScatter / 2);
    addDecal(sprite, partX, partY, kPartHalfSize, kPartHalfSize, fadeAt);
  }
}

int32_t pointsOf(const Player& player) {
  return saturatingAdd(player.kills, -static_cast<int64_t>(player.selfKills));
}

}  // namespace

Decal* addDecal(int32_t sprite, float x, float y, int32_t halfWidth, int32_t halfHeight,
                uint32_t fadeAt) {
  Decal* decal = world.round.decals.append();
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

bool applyKill(int32_t victimId, int32_t killerId) {
  Player* victim = findPlayer(victimId);
  Player* killer = findPlayer(killerId);
  if (!victim || !killer || victim->dead) return false;

  victim->dead = 1;
  if (victim == killer) {
    victim->selfKills = saturatingAdd(victim->selfKills, 1);
    victim->deaths = saturatingAdd(victim->deaths, 1);
    victim->points = pointsOf(*victim);
  } else {
    victim->deaths = saturatingAdd(victim->deaths, 1);
    killer->kills = saturatingAdd(killer->kills, 1);
    killer->points = pointsOf(*killer);
  }
  rt::logLine("KILL", "player %d killed by player %d", victimId, killerId);
  WorldEvent event{WorldEventType::kPlayerKilled};
  event.player = victim;
  event.other = killer;
  event.x = wholePixel(victim->x);
  event.y = wholePixel(victim->y);
  notifyWorld(event);
  // The body stays behind, under the blood the event has spilt.
  if (config.deadBodyTime != 0 && std::isfinite(victim->x) && std::isfinite(victim->y)) {
    leaveBody(victim->x, victim->y);
  }
  return true;
}
