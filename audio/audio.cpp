#include "audio/audio.h"

#include <cmath>
#include <unordered_map>

#include "data/config.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/sound.h"
#include "world/world.h"

namespace {

constexpr int kExplosionBaseHz = 25000;
constexpr int kExplosionSpreadHz = 20000;

struct WorldSounds {
  std::unordered_map<const Barrel*, int> fuses;  // the channel of every burning barrel
  bool gameMusic = false;  // the music changes once per match, not with every round
};

WorldSounds sounds;

// The volume of a world effect at the screen centre, truncated like every other volume.
int effectsVolume() { return config.effects * config.volume / 100; }

// A burning barrel's fuse loops on a new channel at volume 0 until the next frame places it.
void startFuse(const Barrel* barrel) {
  sounds.fuses[barrel] = rt::playSound(kSoundFuse, rt::kPlayLoop | rt::kPlayNewChannel, 0);
}

// The fuse loops: it must stop even when effects are muted, or its channel lives on.
void stopFuse(const Barrel* barrel) {
  auto it = sounds.fuses.find(barrel);
  if (it == sounds.fuses.end()) return;
  if (it->second) rt::stopSound(kSoundFuse, it->second);
  sounds.fuses.erase(it);
}

void stopAllFuses() {
  for (auto& [barrel, channel] : sounds.fuses) {
    if (channel) rt::stopSound(kSoundFuse, channel);
  }
  sounds.fuses.clear();
}

}  // namespace

int MusicVolume() { return config.music * config.volume / 100; }
int ChatVolume() { return config.navigation * config.volume / 100; }

int PositionalVolume(float x, float y) {
  float dx = x - static_cast<float>(world.camera.x) - rt::frame.width / 2.0f;
  float dy = y - static_cast<float>(world.camera.y) - rt::frame.height / 2.0f;
  double d = std::sqrt(dx * dx + 2.0 * dy * dy);
  return static_cast<int>(std::lround(std::pow(3.0, -d / rt::frame.width) * effectsVolume()));
}

int PositionalPan(float x) {
  double half = rt::frame.width / 2.0;
  double fromCentre = x - static_cast<double>(world.camera.x) - half;
  return static_cast<int>(std::lround(fromCentre * 100.0 / half));
}

void PlayMenuMusic() {
  sounds.gameMusic = false;
  rt::stopSound(kSoundGameMusic);
  if (!rt::soundPlaying(kSoundMenuMusic, -1)) {
    rt::playSound(kSoundMenuMusic, rt::kPlayLoop, MusicVolume());
  }
}

void UpdateMenuMusicVolume() { rt::setSoundVolume(kSoundMenuMusic, MusicVolume()); }

void PlayGameMusic() {
  sounds.gameMusic = true;
  rt::stopSound(kSoundMenuMusic);
  rt::playSound(kSoundGameMusic, rt::kPlayLoop, MusicVolume());
}

void PlayWorldEvent(const WorldEvent& event) {
  switch (event.type) {
    case WorldEventType::kBarrelPlaced: startFuse(event.barrel); break;
    case WorldEventType::kBarrelExploded:
      stopFuse(event.barrel);
      PlayExplosionSound(event.barrel->x, event.barrel->y);
      break;
    case WorldEventType::kBarrelRemoved: stopFuse(event.barrel); break;
    case WorldEventType::kItemTaken: PlayItemSound(event.item->x, event.item->y); break;
    case WorldEventType::kRoundCleared: stopAllFuses(); break;
    case WorldEventType::kRoundStarted:
      if (!sounds.gameMusic) PlayGameMusic();
      break;
    case WorldEventType::kMatchEnded: stopAllFuses(); break;
    default: break;
  }
}

void UpdateWorldSounds() {
  if (config.effects == 0) return;
  for (auto& [barrel, channel] : sounds.fuses) {
    if (!channel) continue;
    rt::setSoundPan(kSoundFuse, PositionalPan(barrel->x), channel);
    rt::setSoundVolume(kSoundFuse, PositionalVolume(barrel->x, barrel->y), channel);
  }
}

void PlayExplosionSound(float x, float y) {
  if (config.effects == 0) return;
  int channel = rt::playSound(kSoundExplosion, rt::kPlayNewChannel, PositionalVolume(x, y));
  if (!channel) return;
  rt::setSoundPan(kSoundExplosion, PositionalPan(x), channel);
  rt::setSoundFrequency(kSoundExplosion, kExplosionBaseHz + rt::random(kExplosionSpreadHz),
                        channel);
}

void PlayItemSound(float x, float y) {
  if (config.effects == 0) return;
  int channel = rt::playSound(kSoundItem, rt::kPlayNewChannel, PositionalVolume(x, y));
  if (channel) rt::setSoundPan(kSoundItem, PositionalPan(x), channel);
}

void PlayChatSound() {
  if (config.navigation == 0) return;
  rt::playSound(kSoundChat, rt::kPlayNewChannel, ChatVolume());
}

void PlayEffectsTestSound() {
  rt::playSound(kSoundExplosion, rt::kPlayNewChannel, effectsVolume());
}

void PlayNavigationTestSound() { rt::playSound(kSoundChat, rt::kPlayNewChannel, ChatVolume()); }
