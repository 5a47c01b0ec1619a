// Inside the runtime only: the sound backends, the decoders and the hooks the sound tests use.
//
// A backend supplies:
// - open and close of the output device (open may fail: no device means no sound at all);
// - PCM buffers made from 16-bit interleaved mono or stereo samples at any rate;
// - sources (channels) with gain 0..1, pan -1..1, pitch, looping, play, stop and a playing state;
// - buffer queueing on a source for streams: queue, take back a processed buffer, count queued.
// Everything is called from the main thread, except that a stream thread may fill, queue and
// take back its own buffers and play or query its own source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/sound.h"

namespace rt {

class SoundBackend {
 public:
  virtual ~SoundBackend() = default;

  virtual bool open(const char* deviceName) = 0;  // null: the default device
  virtual void close() = 0;
  // True when nothing is ever heard, so streams need no decoding thread.
  virtual bool silent() const = 0;

  virtual uint32_t createBuffer() = 0;  // 0 on failure
  virtual bool setBufferData(uint32_t buffer, const int16_t* samples, size_t frames, int channels,
                             int sampleRate) = 0;
  virtual void freeBuffer(uint32_t buffer) = 0;

  virtual uint32_t createSource() = 0;  // 0 on failure
  virtual void freeSource(uint32_t source) = 0;
  // Stops the source and gives it a buffer to play (0: none, which also empties its queue).
  virtual void attachBuffer(uint32_t source, uint32_t buffer) = 0;
  virtual void setGain(uint32_t source, float gain) = 0;
  virtual void setPan(uint32_t source, float pan) = 0;
  virtual void setPitch(uint32_t source, float pitch) = 0;
  virtual void setLooping(uint32_t source, bool loop) = 0;
  virtual void play(uint32_t source) = 0;  // restarts a playing source
  virtual void stop(uint32_t source) = 0;
  virtual bool playing(uint32_t source) = 0;

  virtual bool queueBuffer(uint32_t source, uint32_t buffer) = 0;
  virtual uint32_t unqueueProcessed(uint32_t source) = 0;  // one finished buffer, or 0
  virtual int queuedBuffers(uint32_t source) = 0;
};

std::unique_ptr<SoundBackend> makeOpenAlBackend();
std::unique_ptr<SoundBackend> makeNullBackend();

// Decodes a WAV or Ogg Vorbis image piece by piece, for streams and for full decoding alike.
class StreamDecoder {
 public:
  virtual ~StreamDecoder() = default;
  virtual int channels() const = 0;
  virtual int sampleRate() const = 0;
  // Up to maxSamples interleaved samples (whole frames); 0 at the end or on an error.
  virtual size_t read(int16_t* out, size_t maxSamples) = 0;
  virtual bool rewind() = 0;
};

// Data starting with "RIFF" is WAV, anything else Ogg Vorbis. Null when the data does not decode
// (only mono and stereo are accepted). The data must outlive the decoder.
std::unique_ptr<StreamDecoder> openStreamDecoder(const void* data, size_t length);

// Decodes everything up to maxBytes of PCM; a longer sound is cut there. False when not even the
// header decodes.
bool decodeAll(StreamDecoder& decoder, Pcm* out, size_t maxBytes);
bool decodeWavCapped(const void* data, size_t length, Pcm* out, size_t maxBytes);

// Fills out with samples from the decoder, going on from the start again at the end when loop is
// set, so that a loop has no gap. Sets *ended when the data is used up (or, looping, when a pass
// through the data yields nothing). Returns the number of samples written.
struct StreamCursor {
  bool ended = false;
  size_t samplesSinceRewind = 0;
};
size_t fillStreamPcm(StreamDecoder& decoder, bool loop, StreamCursor* cursor, int16_t* out,
                     size_t maxSamples);

// Test hooks: the device the OpenAL backend opens (null: the default one), the source behind a
// channel (0 when the channel does not exist) and the most channels playing at once.
void setSoundDeviceForTesting(const char* deviceName);
uint32_t soundChannelSource(uint32_t sound, int channel);
size_t soundSourceLimit();

}  // namespace rt
