// The sound backend over OpenAL Soft. A channel is a source; pan places the source on an arc
// around the listener so that loudness stays the same from left to right.

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>
#include <alsa/asoundlib.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

#include <unistd.h>

#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/sound_local.h"

namespace rt {
namespace {

// Mixing updates per second asked of the device: 10 ms periods start a sound within about 25 ms,
// where OpenAL Soft's default of 43 makes it 50 to 70 ms. OpenAL Soft ignores this request and
// takes its period from its configuration ("period_size" in alsoft.conf, which it also reads
// beside the executable); the log line shows what the device really runs at.
constexpr int kRefreshRate = 100;

double deviceLatencyMs(ALCdevice* device) {
  if (!alcIsExtensionPresent(device, "ALC_SOFT_device_clock")) return -1;
  auto getInteger64 =
      reinterpret_cast<LPALCGETINTEGER64VSOFT>(alcGetProcAddress(device, "alcGetInteger64vSOFT"));
  if (!getInteger64) return -1;
  ALCint64SOFT nanoseconds = 0;
  getInteger64(device, ALC_DEVICE_LATENCY_SOFT, 1, &nanoseconds);
  return nanoseconds / 1e6;
}

// ALSA reports every device it fails to open straight to the terminal, eight lines a probe on a
// machine without a sound card; the sound library probes it for us. Its messages go to our log.
void alsaMessage(const char* /*file*/, int /*line*/, const char* function, int /*err*/,
                 const char* format, ...) {
  if (!logEnabled()) return;
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  logLine("SOUND", "ALSA %s: %s", function ? function : "?", text);
}

class OpenAlBackend : public SoundBackend {
 public:
  ~OpenAlBackend() override { close(); }

  bool open(const char* deviceName) override {
    // A machine without sound is normal for us: our own log says so, the libraries need not
    // print errors to the terminal. Set before the first call into the library, which reads it
    // once; no other thread runs yet at start-up.
    setenv("ALSOFT_LOGLEVEL", "0", 0);
    snd_lib_error_set_handler(alsaMessage);
    // Our mixing settings travel with the data, so that an installed game finds them too; the
    // library reads this file after the system's and the user's, so ours win.
    std::string settings = dataRoot() + "/alsoft.conf";
    if (access(settings.c_str(), R_OK) == 0) setenv("ALSOFT_CONF", settings.c_str(), 0);
    device_ = alcOpenDevice(deviceName);
    if (!device_) {
      logLine("SOUND", "no audio device, the game runs silent");
      return false;
    }
    const ALCint attributes[] = {ALC_REFRESH, kRefreshRate, 0};
    context_ = alcCreateContext(device_, attributes);
    if (!context_ || !alcMakeContextCurrent(context_)) {
      logLine("SOUND", "audio device '%s' has no usable context, the game runs silent",
              alcGetString(device_, ALC_DEVICE_SPECIFIER));
      close();
      return false;
    }
    // Sources stand at distance 1 around the listener; distance must not change their volume.
    alDistanceModel(AL_NONE);
    logOpened();
    return true;
  }

  void close() override {
    if (context_) {
      alcMakeContextCurrent(nullptr);
      alcDestroyContext(context_);
      context_ = nullptr;
    }
    if (device_) alcCloseDevice(device_);
    device_ = nullptr;
  }

  bool silent() const override { return false; }

  uint32_t createBuffer() override {
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    return alGetError() == AL_NO_ERROR ? buffer : 0;
  }

  bool setBufferData(uint32_t buffer, const int16_t* samples, size_t frames, int channels,
                     int sampleRate) override {
    ALenum format = channels == 2 ? AL_FORMAT_STEREO16 : AL_FORMAT_MONO16;
    size_t bytes = frames * channels * sizeof(int16_t);
    if (bytes > 0x7FFFFFFF) return false;
    alGetError();
    alBufferData(buffer, format, samples, static_cast<ALsizei>(bytes), sampleRate);
    return alGetError() == AL_NO_ERROR;
  }

  void freeBuffer(uint32_t buffer) override {
    ALuint id = buffer;
    alDeleteBuffers(1, &id);
  }

  uint32_t createSource() override {
    alGetError();
    ALuint source = 0;
    alGenSources(1, &source);
    if (alGetError() != AL_NO_ERROR) return 0;
    alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
    setPan(source, 0);
    return source;
  }

  void freeSource(uint32_t source) override {
    ALuint id = source;
    alSourceStop(id);
    alDeleteSources(1, &id);
  }

  void attachBuffer(uint32_t source, uint32_t buffer) override {
    alSourceStop(source);
    alSourcei(source, AL_BUFFER, static_cast<ALint>(buffer));
  }

  void setGain(uint32_t source, float gain) override { alSourcef(source, AL_GAIN, gain); }

  void setPan(uint32_t source, float pan) override {
    float angle = pan * std::numbers::pi_v<float> / 2;
    alSource3f(source, AL_POSITION, std::sin(angle), 0, -std::cos(angle));
  }

  void setPitch(uint32_t source, float pitch) override { alSourcef(source, AL_PITCH, pitch); }

  void setLooping(uint32_t source, bool loop) override {
    alSourcei(source, AL_LOOPING, loop ? AL_TRUE : AL_FALSE);
  }

  void play(uint32_t source) override { alSourcePlay(source); }
  void stop(uint32_t source) override { alSourceStop(source); }

  bool playing(uint32_t source) override {
    ALint state = AL_STOPPED;
    alGetSourcei(source, AL_SOURCE_STATE, &state);
    return state == AL_PLAYING;
  }

  bool queueBuffer(uint32_t source, uint32_t buffer) override {
    ALuint id = buffer;
    alSourceQueueBuffers(source, 1, &id);
    return true;
  }

  uint32_t unqueueProcessed(uint32_t source) override {
    ALint processed = 0;
    alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
    if (processed <= 0) return 0;
    ALuint buffer = 0;
    alSourceUnqueueBuffers(source, 1, &buffer);
    return buffer;
  }

  int queuedBuffers(uint32_t source) override {
    ALint queued = 0;
    alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
    return queued;
  }

 private:
  void logOpened() {
    ALCint frequency = 0;
    ALCint refresh = 0;
    alcGetIntegerv(device_, ALC_FREQUENCY, 1, &frequency);
    alcGetIntegerv(device_, ALC_REFRESH, 1, &refresh);
    logLine("SOUND", "audio device '%s', %d Hz, %d updates/s, %.1f ms output latency",
            alcGetString(device_, ALC_DEVICE_SPECIFIER), frequency, refresh,
            deviceLatencyMs(device_));
  }

  ALCdevice* device_ = nullptr;
  ALCcontext* context_ = nullptr;
};

}  // namespace

std::unique_ptr<SoundBackend> makeOpenAlBackend() { return std::make_unique<OpenAlBackend>(); }

}  // namespace rt
