#include "audio/audio.h"

#include <cmath>

#include "data/config.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/sound.h"
#include "world/world.h"

namespace {

constexpr int kExplosionBaseHz = 25000;
constexpr int kExplosionSpreadHz = 20000;

}  // namespace

int MusicVolume() { return config.music * config.volume / 100; }
int ChatVolume() { return config.navigation * config.volume / 100; }

int PositionalVolume(float x, float y) {
  float dx = x - static_cast<float>(world.camera.x) - rt::frame.width / 2.0f;
  float dy = y - static_cast<float>(world.camera.y) - rt::frame.height / 2.0f;
  double d = std::sqrt(dx * dx + 2.0 * dy * dy);
  double full = config.effects * config.volume / 100.0;
  return static_cast<int>(std::lround(std::pow(3.0, -d / rt::frame.width) * full));
}

int PositionalPan(float x) {
  double half = rt::frame.width / 2.0;
  double fromCentre = x - static_cast<double>(world.camera.x) - half;
  return static_cast<int>(std::lround(fromCentre * 100.0 / half));
}

void PlayMenuMusic() {
  rt::stopSound(kSoundGameMusic);
  if (!rt::soundPlaying(kSoundMenuMusic, -1)) {
    rt::playSound(kSoundMenuMusic, rt::kPlayLoop, MusicVolume());
  }
}

void UpdateMenuMusicVolume() { rt::setSoundVolume(kSoundMenuMusic, MusicVolume()); }

void PlayGameMusic() {
  rt::stopSound(kSoundMenuMusic);
  rt::playSound(kSoundGameMusic, rt::kPlayLoop, MusicVolume());
}

int StartFuseSound() {
  return rt::playSound(kSoundFuse, rt::kPlayLoop | rt::kPlayNewChannel, 0);
}

void UpdateFuseSound(int channel, float x, float y) {
  if (config.effects == 0 || !channel) return;
  rt::setSoundPan(kSoundFuse, PositionalPan(x), channel);
  rt::setSoundVolume(kSoundFuse, PositionalVolume(x, y), channel);
}

void StopFuseSound(int channel) {
  if (config.effects == 0 || !channel) return;
  rt::stopSound(kSoundFuse, channel);
}

void PlayExplosionSound(int fuseChannel, float x, float y) {
  if (config.effects == 0) return;
  if (fuseChannel) rt::stopSound(kSoundFuse, fuseChannel);
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
  rt::playSound(kSoundExplosion, rt::kPlayNewChannel, config.effects * config.volume / 100);
}

void PlayNavigationTestSound() { rt::playSound(kSoundChat, rt::kPlayNewChannel, ChatVolume()); }
