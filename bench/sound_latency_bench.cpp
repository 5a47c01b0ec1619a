// How soon a played sound is mixed, and what the music volume update every menu frame costs.
//
// PlayToMix measures from playSound until the mixer has taken the first samples of the source
// (its sample offset moves). What is heard comes later by the device's own buffering, reported as
// the counter output_ms; start latency is about PlayToMix + output_ms. Run it against a real
// device, or with ALSOFT_DRIVERS=null (or wave) for the mixing part alone.

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "runtime/sound.h"
#include "runtime/sound_local.h"

namespace {

std::vector<uint8_t> toneWav(int rate, int frames) {
  std::vector<uint8_t> b;
  auto u16 = [&](uint32_t v) {
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  auto tag = [&](const char* t) { b.insert(b.end(), t, t + 4); };
  tag("RIFF");
  u32(36 + frames * 2);
  tag("WAVE");
  tag("fmt ");
  u32(16);
  u16(1);
  u16(1);
  u32(rate);
  u32(rate * 2);
  u16(2);
  u16(16);
  tag("data");
  u32(frames * 2);
  for (int i = 0; i < frames; ++i) {
    u16(static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.0627))));
  }
  return b;
}

double outputLatencyMs() {
  ALCdevice* device = alcGetContextsDevice(alcGetCurrentContext());
  auto getInteger64 =
      reinterpret_cast<LPALCGETINTEGER64VSOFT>(alcGetProcAddress(device, "alcGetInteger64vSOFT"));
  if (!device || !getInteger64) return -1;
  ALCint64SOFT nanoseconds = 0;
  getInteger64(device, ALC_DEVICE_LATENCY_SOFT, 1, &nanoseconds);
  return nanoseconds / 1e6;
}

void PlayToMix(benchmark::State& state) {
  if (!rt::initSoundSystem(rt::Backend::Sdl)) {
    state.SkipWithError("no audio device");
    return;
  }
  std::vector<uint8_t> wav = toneWav(44100, 44100);
  rt::createSound(1, wav.data(), wav.size(), 0);
  int iteration = 0;
  for (auto _ : state) {
    // Played at varied points of the mixing period, as a game frame would.
    std::this_thread::sleep_for(std::chrono::microseconds(iteration++ * 3700 % 25000));
    auto start = std::chrono::steady_clock::now();
    int channel = rt::playSound(1, 0, 100);
    ALuint source = rt::soundChannelSource(1, channel);
    ALint offset = 0;
    while (offset == 0) {
      std::this_thread::yield();
      alGetSourcei(source, AL_SAMPLE_OFFSET, &offset);
    }
    std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(waited.count());
    rt::stopSound(1);
  }
  ALCint refresh = 0;
  alcGetIntegerv(alcGetContextsDevice(alcGetCurrentContext()), ALC_REFRESH, 1, &refresh);
  state.counters["output_ms"] = outputLatencyMs();
  state.counters["updates_per_s"] = refresh;
  rt::shutdownSoundSystem();
}
BENCHMARK(PlayToMix)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

void MusicVolumeEveryFrame(benchmark::State& state) {
  if (!rt::initSoundSystem(rt::Backend::Sdl)) {
    state.SkipWithError("no audio device");
    return;
  }
  std::vector<uint8_t> wav = toneWav(44100, 441000);
  rt::createSound(4, wav.data(), wav.size(), rt::kSoundStreamed);
  int channel = rt::playSound(4, rt::kPlayLoop, 25);
  int volume = 0;
  for (auto _ : state) {
    rt::setSoundVolume(4, volume, channel);
    volume = (volume + 1) % 100;
  }
  rt::shutdownSoundSystem();
}
BENCHMARK(MusicVolumeEveryFrame);

}  // namespace
