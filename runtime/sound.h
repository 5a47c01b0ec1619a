// Sound: effects decoded into memory and music streamed, played on channels with volume, pan
// and frequency.
//
// A backend supplies: a device that may be missing, PCM buffers, and channels (sources) with
// gain, pan and pitch, plus buffer queueing for streams. Two backends: OpenAL Soft
// (sound_openal.cpp) and null (sound_null.cpp). With no audio device the OpenAL backend fails
// quietly and every operation becomes a no-op: the game runs silent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/objects.h"
#include "runtime/screen.h"  // Backend

namespace rt {

bool initSoundSystem(Backend backend);
void shutdownSoundSystem();
bool soundAvailable();  // a device is open

enum SoundFlags : int {
  kSoundStreamed = 1,  // create: decode while playing; the memory must stay valid meanwhile
};
enum PlayFlags : int {
  kPlayLoop = 1,
  kPlayNewChannel = 2,  // play on a fresh channel, so several instances sound at once
};

constexpr size_t kMaxSoundPcmBytes = 64000000;  // a sound decoded in full is capped here
constexpr size_t kStreamBufferBytes = 65536;

// Data starting with "RIFF" is a WAV file, anything else Ogg Vorbis. Returns the handle or 0.
Handle createSound(int32_t number, const void* data, size_t length, int flags);
void freeSound(uint32_t sound);
bool soundExists(uint32_t sound);
int soundSampleRate(uint32_t sound);

// volume 0..100. Returns the channel (non-zero) or 0. Without kPlayNewChannel the sound's own
// channel restarts.
int playSound(uint32_t sound, int flags, int volume);
// channel -1: every channel of the sound.
void stopSound(uint32_t sound, int channel = -1);
// Clamped to 0..100, -100..100 and 100..200000 Hz.
void setSoundVolume(uint32_t sound, int volume, int channel = -1);
void setSoundPan(uint32_t sound, int pan, int channel = -1);
void setSoundFrequency(uint32_t sound, int hertz, int channel = -1);
bool soundPlaying(uint32_t sound, int channel);

// Decoding alone (tools and tests): 16-bit interleaved PCM.
struct Pcm {
  int channels = 0;
  int sampleRate = 0;
  std::vector<int16_t> samples;  // interleaved
};
bool decodeWav(const void* data, size_t length, Pcm* out);
bool decodeOgg(const void* data, size_t length, Pcm* out, size_t maxBytes = kMaxSoundPcmBytes);

}  // namespace rt
