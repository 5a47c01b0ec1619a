// Sounds and their channels over whichever backend was started. Sounds decoded in full live in
// one backend buffer; streamed sounds decode on a thread per playing channel, through a few
// buffers queued on the channel's source.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "runtime/log.h"
#include "runtime/sound_local.h"

namespace rt {
namespace {

// OpenAL Soft mixes a few hundred sources at most; the game rarely has more than a few dozen
// sounds at once (fuses and explosions), so stopped channels give their sources back long before.
constexpr size_t kMaxSources = 128;
constexpr int kStreamBufferCount = 4;
// A stream buffer lasts a third of a second of CD-quality stereo; looking every 20 ms keeps the
// queue full with a wide margin.
constexpr auto kStreamPoll = std::chrono::milliseconds(20);

struct Stream {
  SoundBackend* backend = nullptr;
  uint32_t source = 0;
  bool loop = false;
  std::unique_ptr<StreamDecoder> decoder;
  StreamCursor cursor;
  std::vector<uint32_t> buffers;
  std::vector<int16_t> pcm;  // one buffer's worth, used by the stream thread only

  std::mutex mutex;
  std::condition_variable wake;
  bool stopRequested = false;  // guarded by mutex
  std::atomic<bool> finished{false};
  std::thread thread;
};

struct Channel {
  int number = 0;
  uint32_t source = 0;
  bool own = false;  // the sound's own channel, restarted by a play without a new channel
  std::unique_ptr<Stream> stream;
};

struct Sound {
  Sound() = default;
  Sound(const Sound&) = delete;
  Sound& operator=(const Sound&) = delete;
  ~Sound();

  int pcmChannels = 0;
  int sampleRate = 0;
  uint32_t buffer = 0;  // sounds decoded in full
  bool streamed = false;
  const void* data = nullptr;  // streamed sounds read the caller's memory while playing
  size_t length = 0;
  std::vector<Channel> channels;
};

struct SoundSystem {
  std::unique_ptr<SoundBackend> backend;
  std::vector<uint32_t> idleSources;
  size_t sourceCount = 0;
  int lastChannel = 0;
};

const char* testDevice = nullptr;
SoundSystem sys;
// Declared after sys so that sounds left at exit are freed while the backend still exists.
ObjectTable<Sound> sounds;

// ---- Streams -----------------------------------------------------------------------------

bool refillBuffer(Stream& stream, uint32_t buffer) {
  size_t got = fillStreamPcm(*stream.decoder, stream.loop, &stream.cursor, stream.pcm.data(),
                             stream.pcm.size());
  if (got == 0) return false;
  int channels = stream.decoder->channels();
  if (!stream.backend->setBufferData(buffer, stream.pcm.data(), got / channels, channels,
                                     stream.decoder->sampleRate())) {
    return false;
  }
  return stream.backend->queueBuffer(stream.source, buffer);
}

// Refills what has been played; false once the stream has played out.
bool serviceStream(Stream& stream) {
  SoundBackend& backend = *stream.backend;
  // A stopped source counts every buffer as played, even one queued a moment ago: refilling
  // until none is left would never end. One round over the buffers is all there can be.
  for (size_t i = 0; i < stream.buffers.size(); ++i) {
    uint32_t buffer = backend.unqueueProcessed(stream.source);
    if (!buffer || !refillBuffer(stream, buffer)) break;
  }
  if (backend.playing(stream.source)) return true;
  // The queue ran dry under load: carry on from where it stopped.
  if (backend.queuedBuffers(stream.source) > 0) {
    backend.play(stream.source);
    return true;
  }
  return false;
}

void runStream(Stream* stream) {
  for (uint32_t buffer : stream->buffers) {
    if (!refillBuffer(*stream, buffer)) break;
  }
  if (stream->backend->queuedBuffers(stream->source) > 0) {
    stream->backend->play(stream->source);
    std::unique_lock lock(stream->mutex);
    while (!stream->wake.wait_for(lock, kStreamPoll, [&] { return stream->stopRequested; })) {
      lock.unlock();
      bool more = serviceStream(*stream);
      lock.lock();
      if (!more) break;
    }
  }
  stream->finished = true;
}

void freeStreamBuffers(Stream& stream) {
  for (uint32_t buffer : stream.buffers) stream.backend->freeBuffer(buffer);
  stream.buffers.clear();
}

std::unique_ptr<Stream> startStream(const Sound& sound, uint32_t source, bool loop) {
  auto stream = std::make_unique<Stream>();
  stream->backend = sys.backend.get();
  stream->source = source;
  stream->loop = loop;
  stream->decoder = openStreamDecoder(sound.data, sound.length);
  if (!stream->decoder) return nullptr;
  for (int i = 0; i < kStreamBufferCount; ++i) {
    uint32_t buffer = sys.backend->createBuffer();
    if (!buffer) {
      freeStreamBuffers(*stream);
      return nullptr;
    }
    stream->buffers.push_back(buffer);
  }
  int channels = stream->decoder->channels();
  stream->pcm.resize(kStreamBufferBytes / sizeof(int16_t) / channels * channels);
  stream->thread = std::thread(runStream, stream.get());
  return stream;
}

void stopStream(Stream& stream) {
  {
    std::lock_guard lock(stream.mutex);
    stream.stopRequested = true;
  }
  stream.wake.notify_all();
  if (stream.thread.joinable()) stream.thread.join();
  // Stopping and detaching empties the queue, so the buffers can go.
  stream.backend->attachBuffer(stream.source, 0);
  freeStreamBuffers(stream);
}

// ---- Channels ----------------------------------------------------------------------------

int newChannelNumber() {
  // Numbers are never reused while the process runs, so a stale one addresses nothing.
  sys.lastChannel = sys.lastChannel == INT32_MAX ? 1 : sys.lastChannel + 1;
  return sys.lastChannel;
}

bool channelActive(Channel& channel) {
  if (channel.stream) return !channel.stream->finished;
  return sys.backend->playing(channel.source);
}

void stopChannel(Channel& channel) {
  if (channel.stream) {
    stopStream(*channel.stream);
    channel.stream.reset();
    return;
  }
  sys.backend->stop(channel.source);
}

void releaseChannel(Channel& channel) {
  stopChannel(channel);
  sys.backend->attachBuffer(channel.source, 0);
  sys.idleSources.push_back(channel.source);
  channel.source = 0;
}

// Gives back the sources of channels that have played out; new channels first, then own ones.
void releaseFinished(Sound& sound, bool includeOwn) {
  auto& channels = sound.channels;
  auto finished = [&](Channel& c) { return (includeOwn || !c.own) && !channelActive(c); };
  for (Channel& c : channels) {
    if (finished(c)) releaseChannel(c);
  }
  channels.erase(std::remove_if(channels.begin(), channels.end(),
                                [](const Channel& c) { return c.source == 0; }),
                 channels.end());
}

void releaseAllFinished() {
  sounds.forEach([](Handle, Sound& sound) { releaseFinished(sound, false); });
  if (!sys.idleSources.empty()) return;
  sounds.forEach([](Handle, Sound& sound) { releaseFinished(sound, true); });
}

uint32_t acquireSource() {
  if (sys.idleSources.empty() && sys.sourceCount < kMaxSources) {
    if (uint32_t source = sys.backend->createSource()) {
      ++sys.sourceCount;
      return source;
    }
  }
  if (sys.idleSources.empty()) releaseAllFinished();
  if (sys.idleSources.empty()) return 0;
  uint32_t source = sys.idleSources.back();
  sys.idleSources.pop_back();
  return source;
}

Channel* findOwnChannel(Sound& sound) {
  for (Channel& c : sound.channels) {
    if (c.own) return &c;
  }
  return nullptr;
}

Channel* addChannel(Sound& sound, bool own) {
  uint32_t source = acquireSource();
  if (!source) return nullptr;
  sys.backend->setPan(source, 0);
  sys.backend->setPitch(source, 1);
  Channel channel;
  channel.number = newChannelNumber();
  channel.source = source;
  channel.own = own;
  sound.channels.push_back(std::move(channel));
  return &sound.channels.back();
}

bool startChannel(const Sound& sound, Channel& channel, bool loop) {
  SoundBackend& backend = *sys.backend;
  if (!sound.streamed) {
    backend.attachBuffer(channel.source, sound.buffer);
    backend.setLooping(channel.source, loop);
    backend.play(channel.source);
    return true;
  }
  // Streams loop by decoding on from the start, never by looping the source's queue.
  backend.attachBuffer(channel.source, 0);
  backend.setLooping(channel.source, false);
  if (backend.silent()) return true;
  channel.stream = startStream(sound, channel.source, loop);
  return channel.stream != nullptr;
}

template <class F>
void forChannels(uint32_t soundId, int channel, F f) {
  if (!sys.backend) return;
  Sound* sound = sounds.find(soundId);
  if (!sound) return;
  for (Channel& c : sound->channels) {
    if (channel == -1 || c.number == channel) f(*sound, c);
  }
}

// ---- Sounds ------------------------------------------------------------------------------

Sound::~Sound() {
  if (!sys.backend) return;
  for (Channel& c : channels) releaseChannel(c);
  if (buffer) sys.backend->freeBuffer(buffer);
}

std::unique_ptr<Sound> makeSound(const void* data, size_t length, int flags) {
  std::unique_ptr<StreamDecoder> decoder = openStreamDecoder(data, length);
  if (!decoder) return nullptr;
  auto sound = std::make_unique<Sound>();
  sound->pcmChannels = decoder->channels();
  sound->sampleRate = decoder->sampleRate();
  if (flags & kSoundStreamed) {
    sound->streamed = true;
    sound->data = data;
    sound->length = length;
    return sound;
  }
  Pcm pcm;
  if (!decodeAll(*decoder, &pcm, kMaxSoundPcmBytes) || pcm.samples.empty()) return nullptr;
  sound->buffer = sys.backend->createBuffer();
  if (!sound->buffer) return nullptr;
  size_t frames = pcm.samples.size() / pcm.channels;
  if (!sys.backend->setBufferData(sound->buffer, pcm.samples.data(), frames, pcm.channels,
                                  pcm.sampleRate)) {
    return nullptr;
  }
  return sound;
}

}  // namespace

bool initSoundSystem(Backend backend) {
  shutdownSoundSystem();
  std::unique_ptr<SoundBackend> chosen =
      backend == Backend::Null ? makeNullBackend() : makeOpenAlBackend();
  if (!chosen->open(backend == Backend::Null ? nullptr : testDevice)) return false;
  sys.backend = std::move(chosen);
  return true;
}

void shutdownSoundSystem() {
  if (!sys.backend) return;
  sounds.clear();
  for (uint32_t source : sys.idleSources) sys.backend->freeSource(source);
  sys.idleSources.clear();
  sys.sourceCount = 0;
  sys.backend->close();
  sys.backend.reset();
}

bool soundAvailable() { return sys.backend != nullptr; }

Handle createSound(int32_t number, const void* data, size_t length, int flags) {
  if (!sys.backend || !data) return 0;
  return sounds.create(number, [&] { return makeSound(data, length, flags); });
}

void freeSound(uint32_t sound) { sounds.free(sound); }

bool soundExists(uint32_t sound) { return sounds.exists(sound); }

int soundSampleRate(uint32_t sound) {
  Sound* s = sounds.find(sound);
  return s ? s->sampleRate : 0;
}

int playSound(uint32_t soundId, int flags, int volume) {
  if (!sys.backend) return 0;
  Sound* sound = sounds.find(soundId);
  if (!sound) return 0;
  bool fresh = flags & kPlayNewChannel;
  Channel* channel = fresh ? nullptr : findOwnChannel(*sound);
  if (channel) {
    stopChannel(*channel);
  } else {
    releaseFinished(*sound, false);
    channel = addChannel(*sound, !fresh);
    if (!channel) return 0;
  }
  sys.backend->setGain(channel->source, std::clamp(volume, 0, 100) / 100.0f);
  int number = channel->number;
  if (!startChannel(*sound, *channel, flags & kPlayLoop)) {
    releaseFinished(*sound, true);
    return 0;
  }
  return number;
}

void stopSound(uint32_t soundId, int channel) {
  forChannels(soundId, channel, [](Sound&, Channel& c) { stopChannel(c); });
  // A stopped new channel can never play again; only the sound's own channel is kept.
  Sound* sound = sys.backend ? sounds.find(soundId) : nullptr;
  if (sound) releaseFinished(*sound, false);
}

void setSoundVolume(uint32_t soundId, int volume, int channel) {
  float gain = std::clamp(volume, 0, 100) / 100.0f;
  forChannels(soundId, channel, [&](Sound&, Channel& c) { sys.backend->setGain(c.source, gain); });
}

void setSoundPan(uint32_t soundId, int pan, int channel) {
  float position = std::clamp(pan, -100, 100) / 100.0f;
  forChannels(soundId, channel,
              [&](Sound&, Channel& c) { sys.backend->setPan(c.source, position); });
}

void setSoundFrequency(uint32_t soundId, int hertz, int channel) {
  int clamped = std::clamp(hertz, 100, 200000);
  forChannels(soundId, channel, [&](Sound& sound, Channel& c) {
    sys.backend->setPitch(c.source, static_cast<float>(clamped) / sound.sampleRate);
  });
}

bool soundPlaying(uint32_t soundId, int channel) {
  bool playing = false;
  forChannels(soundId, channel, [&](Sound&, Channel& c) { playing = playing || channelActive(c); });
  return playing;
}

void setSoundDeviceForTesting(const char* deviceName) { testDevice = deviceName; }

uint32_t soundChannelSource(uint32_t soundId, int channel) {
  uint32_t source = 0;
  if (channel == -1) return 0;
  forChannels(soundId, channel, [&](Sound&, Channel& c) { source = c.source; });
  return source;
}

size_t soundSourceLimit() { return kMaxSources; }

}  // namespace rt
