// World sounds are placed by their position on screen; the triggers respect the volumes.

#include "audio/audio.h"

#include <AL/al.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "data/config.h"
#include "data/resources.h"
#include "runtime/frame.h"
#include "runtime/sound.h"
#include "runtime/sound_local.h"
#include "world/world.h"

namespace {

// A short mono 16-bit WAV, enough to play.
std::vector<uint8_t> makeWav() {
  const int samples = 4410;
  std::vector<uint8_t> wav(44 + samples * 2);
  auto put32 = [&](size_t at, uint32_t v) { memcpy(&wav[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { memcpy(&wav[at], &v, 2); };
  memcpy(&wav[0], "RIFF", 4);
  put32(4, static_cast<uint32_t>(wav.size() - 8));
  memcpy(&wav[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 1);
  put32(24, 44100);
  put32(28, 88200);
  put16(32, 2);
  put16(34, 16);
  memcpy(&wav[36], "data", 4);
  put32(40, samples * 2);
  for (int i = 0; i < samples; ++i) put16(44 + i * 2, static_cast<uint16_t>((i % 100) * 300));
  return wav;
}

class Audio : public ::testing::Test {
 protected:
  void SetUp() override {
    config = Config{};
    world.camera = Camera{};
    rt::frame.width = 1024;
    rt::frame.height = 768;
  }
};

}  // namespace

TEST_F(Audio, PositionalVolumeFallsOffFromTheScreenCentre) {
  // Defaults: Effects 100, Volume 50.
  EXPECT_EQ(PositionalVolume(512, 384), 50);
  // A screen width to the side: a third.
  EXPECT_EQ(PositionalVolume(512 + 1024, 384), 17);
  // Half a screen height above counts like 0.707 screen heights to the side.
  int above = PositionalVolume(512, 384 - 384);
  EXPECT_EQ(above, PositionalVolume(512 + 543, 384));
  EXPECT_EQ(above, 28);
  // The camera moves the centre.
  world.camera.x = 1000;
  EXPECT_EQ(PositionalVolume(1512, 384), 50);
  config.effects = 0;
  EXPECT_EQ(PositionalVolume(1512, 384), 0);
}

TEST_F(Audio, PanFollowsTheHorizontalScreenPosition) {
  EXPECT_EQ(PositionalPan(512), 0);
  EXPECT_EQ(PositionalPan(0), -100);
  EXPECT_EQ(PositionalPan(1024), 100);
  EXPECT_GT(PositionalPan(1500), 100);  // the sound service clamps it to +100
}

TEST_F(Audio, EffectiveVolumesTruncate) {
  config.music = 25;
  config.volume = 50;
  config.navigation = 75;
  EXPECT_EQ(MusicVolume(), 12);
  EXPECT_EQ(ChatVolume(), 37);
  // 33 x 50 / 100 is 16 before the distance counts, not 16.5.
  config.effects = 33;
  EXPECT_EQ(PositionalVolume(512, 384), 16);
  EXPECT_EQ(PositionalVolume(512 + 1024, 384), 5);
}

TEST_F(Audio, TwoExplosionsInOneFramePlayOnTwoChannelsAtTheirOwnPitch) {
  ASSERT_TRUE(rt::initSoundSystem(rt::Backend::Sdl)) << "OpenAL's null output is expected";
  std::vector<uint8_t> wav = makeWav();
  ASSERT_TRUE(rt::createSound(kSoundExplosion, wav.data(), wav.size(), 0));
  std::vector<float> pitches;
  for (int attempt = 0; attempt < 8; ++attempt) {
    PlayExplosionSound(512, 384);
  }
  // Every explosion got a channel of its own, each with a pitch of 25000..45000 Hz.
  int distinct = 0;
  for (int channel = 1; channel < 1000; ++channel) {
    uint32_t source = rt::soundChannelSource(kSoundExplosion, channel);
    if (!source) continue;
    float pitch = 0;
    alGetSourcef(source, AL_PITCH, &pitch);
    pitches.push_back(pitch);
    ++distinct;
  }
  EXPECT_EQ(distinct, 8);
  float lowest = *std::min_element(pitches.begin(), pitches.end());
  float highest = *std::max_element(pitches.begin(), pitches.end());
  EXPECT_GE(lowest, 25000.0f / 44100 - 0.001f);
  EXPECT_LE(highest, 45000.0f / 44100 + 0.001f);
  EXPECT_GT(highest - lowest, 0.01f) << "the pitches should differ";
  rt::freeSound(kSoundExplosion);
  rt::shutdownSoundSystem();
}

TEST_F(Audio, EffectsAtZeroPlayNothing) {
  ASSERT_TRUE(rt::initSoundSystem(rt::Backend::Sdl));
  std::vector<uint8_t> wav = makeWav();
  ASSERT_TRUE(rt::createSound(kSoundExplosion, wav.data(), wav.size(), 0));
  ASSERT_TRUE(rt::createSound(kSoundItem, wav.data(), wav.size(), 0));
  config.effects = 0;
  PlayExplosionSound(512, 384);
  PlayItemSound(512, 384);
  EXPECT_FALSE(rt::soundPlaying(kSoundExplosion, -1));
  EXPECT_FALSE(rt::soundPlaying(kSoundItem, -1));
  config.effects = 100;
  PlayItemSound(512, 384);
  EXPECT_TRUE(rt::soundPlaying(kSoundItem, -1));
  rt::shutdownSoundSystem();
}
