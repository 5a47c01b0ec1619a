#include "runtime/sound.h"

#include <AL/al.h>
#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "runtime/log.h"
#include "runtime/sound_local.h"
#include "support/test_support.h"

namespace {

// OpenAL reads its driver list once; without a sound card the tests use its silent output.
const bool driverChosen = setenv("ALSOFT_DRIVERS", "null", 0) == 0;

using Bytes = std::vector<uint8_t>;

void putU16(Bytes& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void putU32(Bytes& b, uint32_t v) {
  putU16(b, v & 0xFFFF);
  putU16(b, v >> 16);
}
void putTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

Bytes makeWav(int channels, int bits, int rate, const Bytes& samples) {
  Bytes b;
  putTag(b, "RIFF");
  putU32(b, static_cast<uint32_t>(4 + 8 + 16 + 8 + samples.size()));
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  putU32(b, 16);
  putU16(b, 1);
  putU16(b, channels);
  putU32(b, rate);
  putU32(b, rate * channels * bits / 8);
  putU16(b, channels * bits / 8);
  putU16(b, bits);
  putTag(b, "data");
  putU32(b, static_cast<uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

Bytes pcm16(const std::vector<int16_t>& samples) {
  Bytes b;
  for (int16_t s : samples) putU16(b, static_cast<uint16_t>(s));
  return b;
}

// As the loader hands sounds over: the content followed by eight zero bytes.
Bytes withTrailingZeros(Bytes b) {
  b.insert(b.end(), 8, 0);
  return b;
}

std::vector<int16_t> ramp(size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(i * 997 % 65536 - 32768);
  return samples;
}

// A short Ogg Vorbis stream of a sine tone, encoded here.
Bytes makeOgg(int channels, int rate, size_t frames) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, channels, rate, 0.4f) != 0) return {};
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 1);

  Bytes out;
  ogg_page page;
  auto append = [&] {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
  };
  ogg_packet header, commentHeader, codeHeader;
  vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codeHeader);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &commentHeader);
  ogg_stream_packetin(&stream, &codeHeader);
  while (ogg_stream_flush(&stream, &page)) append();

  auto drain = [&] {
    ogg_packet packet;
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page)) append();
      }
    }
  };
  for (size_t done = 0; done < frames;) {
    int n = static_cast<int>(std::min<size_t>(1024, frames - done));
    float** buffer = vorbis_analysis_buffer(&dsp, n);
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < channels; ++c) {
        buffer[c][i] = 0.5f * std::sin((done + i) * 440.0f * (c + 1) * 6.2831853f / rate);
      }
    }
    vorbis_analysis_wrote(&dsp, n);
    drain();
    done += n;
  }
  vorbis_analysis_wrote(&dsp, 0);
  drain();
  while (ogg_stream_flush(&stream, &page)) append();

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

// ---- Decoding --------------------------------------------------------------------------------

TEST(SoundDecode, WavFormats) {
  std::vector<int16_t> samples = ramp(600);
  for (int channels : {1, 2}) {
    Bytes wav16 = withTrailingZeros(makeWav(channels, 16, 11025, pcm16(samples)));
    rt::Pcm pcm;
    ASSERT_TRUE(rt::decodeWav(wav16.data(), wav16.size(), &pcm));
    EXPECT_EQ(pcm.channels, channels);
    EXPECT_EQ(pcm.sampleRate, 11025);
    EXPECT_EQ(pcm.samples, samples);

    Bytes eightBit = {0, 128, 255, 1, 64, 200};
    Bytes wav = makeWav(channels, 8, 8000, eightBit);
    ASSERT_TRUE(rt::decodeWav(wav.data(), wav.size(), &pcm));
    EXPECT_EQ(pcm.channels, channels);
    EXPECT_EQ(pcm.sampleRate, 8000);
    EXPECT_EQ(pcm.samples, (std::vector<int16_t>{-32768, 0, 32512, -32512, -16384, 18432}));
  }
}

TEST(SoundDecode, WavOddSizes) {
  Bytes wav = makeWav(2, 16, 22050, pcm16(ramp(7)));  // three frames and a half
  rt::Pcm pcm;
  ASSERT_TRUE(rt::decodeWav(wav.data(), wav.size(), &pcm));
  EXPECT_EQ(pcm.samples.size(), 6u);

  // An odd data chunk at the end whose pad byte the RIFF length counts but the file lacks.
  Bytes odd = makeWav(1, 8, 8000, Bytes(5, 200));
  odd[4] += 1;
  ASSERT_TRUE(rt::decodeWav(odd.data(), odd.size(), &pcm));
  EXPECT_EQ(pcm.samples.size(), 5u);
}

TEST(SoundDecode, WavExtensiblePcm) {
  Bytes samples = pcm16(ramp(40));
  Bytes b;
  putTag(b, "RIFF");
  putU32(b, static_cast<uint32_t>(4 + 8 + 40 + 8 + samples.size()));
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  putU32(b, 40);
  putU16(b, 0xFFFE);
  putU16(b, 2);
  putU32(b, 44100);
  putU32(b, 44100 * 4);
  putU16(b, 4);
  putU16(b, 16);
  putU16(b, 22);
  putU16(b, 16);
  putU32(b, 3);
  const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  b.insert(b.end(), pcmGuid, pcmGuid + 16);
  putTag(b, "data");
  putU32(b, static_cast<uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  rt::Pcm pcm;
  ASSERT_TRUE(rt::decodeWav(b.data(), b.size(), &pcm));
  EXPECT_EQ(pcm.channels, 2);
  EXPECT_EQ(pcm.samples, ramp(40));

  b[44] = 3;  // floating-point subformat
  EXPECT_FALSE(rt::decodeWav(b.data(), b.size(), &pcm));
}

TEST(SoundDecode, HostileWavsFailQuietly) {
  const Bytes good = makeWav(2, 16, 22050, pcm16(ramp(64)));
  rt::Pcm pcm;
  ASSERT_TRUE(rt::decodeWav(good.data(), good.size(), &pcm));

  for (size_t length = 0; length < good.size(); ++length) {
    Bytes cut(good.begin(), good.begin() + length);
    EXPECT_FALSE(rt::decodeWav(cut.data(), cut.size(), &pcm)) << "length " << length;
  }

  auto broken = [&](size_t offset, uint32_t value, int width) {
    Bytes b = good;
    for (int i = 0; i < width; ++i) b[offset + i] = (value >> (8 * i)) & 0xFF;
    return b;
  };
  const std::vector<Bytes> hostile = {
      broken(40, 0xFFFFFFF0, 4),      // data chunk longer than the file
      broken(16, 0x7FFFFFFF, 4),      // fmt chunk longer than the file
      broken(4, 0xFFFFFFFF, 4),       // RIFF chunk longer than the file
      broken(22, 0, 2),               // no channels
      broken(22, 6, 2),               // six channels
      broken(24, 0, 4),               // no sample rate
      broken(34, 24, 2),              // 24-bit samples
      broken(32, 3, 2),               // block size that does not match
      broken(20, 2, 2),               // compressed
  };
  for (size_t i = 0; i < hostile.size(); ++i) {
    EXPECT_FALSE(rt::decodeWav(hostile[i].data(), hostile[i].size(), &pcm)) << "case " << i;
  }
  Bytes noFormat = broken(12, 0x4B4E554A, 4);  // the fmt chunk renamed "JUNK"
  EXPECT_FALSE(rt::decodeWav(noFormat.data(), noFormat.size(), &pcm));
}

TEST(SoundDecode, OggMonoAndStereo) {
  for (int channels : {1, 2}) {
    Bytes ogg = makeOgg(channels, 22050, 11025);
    ASSERT_FALSE(ogg.empty());
    rt::Pcm pcm;
    ASSERT_TRUE(rt::decodeOgg(ogg.data(), ogg.size(), &pcm));
    EXPECT_EQ(pcm.channels, channels);
    EXPECT_EQ(pcm.sampleRate, 22050);
    EXPECT_EQ(pcm.samples.size(), 11025u * channels);
    double energy = 0;
    for (int16_t s : pcm.samples) energy += double(s) * s;
    double rms = std::sqrt(energy / pcm.samples.size());
    EXPECT_NEAR(rms, 0.5 * 32767 / std::sqrt(2.0), 1500);  // the sine came through

    Bytes padded = withTrailingZeros(ogg);
    rt::Pcm fromPadded;
    ASSERT_TRUE(rt::decodeOgg(padded.data(), padded.size(), &fromPadded));
    EXPECT_EQ(fromPadded.samples, pcm.samples);
  }
}

TEST(SoundDecode, BrokenOggFailsQuietly) {
  rt::Pcm pcm;
  Bytes zeros(4096, 0);
  EXPECT_FALSE(rt::decodeOgg(zeros.data(), zeros.size(), &pcm));
  EXPECT_FALSE(rt::decodeOgg(zeros.data(), 0, &pcm));
  Bytes wav = makeWav(1, 16, 8000, pcm16(ramp(10)));
  EXPECT_FALSE(rt::decodeOgg(wav.data(), wav.size(), &pcm));

  // Cut anywhere: never a crash; what decodes is at most the whole sound.
  Bytes ogg = makeOgg(1, 22050, 4000);
  for (size_t length = 0; length < ogg.size(); length += 37) {
    Bytes cut(ogg.begin(), ogg.begin() + length);
    if (rt::decodeOgg(cut.data(), cut.size(), &pcm)) {
      EXPECT_LE(pcm.samples.size(), 4000u);
    }
  }
  // Damage in the middle of the audio packets.
  Bytes damaged = ogg;
  for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 200; ++i) damaged[i] ^= 0x5A;
  rt::decodeOgg(damaged.data(), damaged.size(), &pcm);
}

TEST(SoundDecode, PcmCapCutsTheSound) {
  Bytes ogg = makeOgg(2, 22050, 8000);
  rt::Pcm pcm;
  ASSERT_TRUE(rt::decodeOgg(ogg.data(), ogg.size(), &pcm, 1002));
  EXPECT_EQ(pcm.samples.size(), 500u);  // whole frames under the cap

  Bytes wav = makeWav(1, 8, 8000, Bytes(5000, 128));
  ASSERT_TRUE(rt::decodeWavCapped(wav.data(), wav.size(), &pcm, 3000));
  EXPECT_EQ(pcm.samples.size(), 1500u);
  EXPECT_LE(pcm.samples.capacity(), 1500u);  // growing never overshoots the cap
}

TEST(SoundDecode, LoopedStreamHasNoSeam) {
  const std::vector<int16_t> samples = ramp(300);
  Bytes wav = makeWav(1, 16, 8000, pcm16(samples));
  std::unique_ptr<rt::StreamDecoder> decoder = rt::openStreamDecoder(wav.data(), wav.size());
  ASSERT_TRUE(decoder);
  rt::StreamCursor cursor;
  std::vector<int16_t> out(1000);
  ASSERT_EQ(rt::fillStreamPcm(*decoder, true, &cursor, out.data(), out.size()), 1000u);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], samples[i % 300]) << i;
  EXPECT_FALSE(cursor.ended);

  rt::StreamCursor once;
  decoder->rewind();
  EXPECT_EQ(rt::fillStreamPcm(*decoder, false, &once, out.data(), out.size()), 300u);
  EXPECT_TRUE(once.ended);

  // Ogg decodes the same samples again after going back to the start.
  Bytes ogg = makeOgg(2, 22050, 3000);
  rt::Pcm whole;
  ASSERT_TRUE(rt::decodeOgg(ogg.data(), ogg.size(), &whole));
  decoder = rt::openStreamDecoder(ogg.data(), ogg.size());
  ASSERT_TRUE(decoder);
  rt::StreamCursor oggCursor;
  std::vector<int16_t> looped(whole.samples.size() * 2 + 100);
  ASSERT_EQ(rt::fillStreamPcm(*decoder, true, &oggCursor, looped.data(), looped.size()),
            looped.size());
  for (size_t i = 0; i < looped.size(); ++i) {
    ASSERT_EQ(looped[i], whole.samples[i % whole.samples.size()]) << i;
  }
}

TEST(SoundDecode, EmptyLoopEnds) {
  Bytes wav = makeWav(1, 16, 8000, {});
  std::unique_ptr<rt::StreamDecoder> decoder = rt::openStreamDecoder(wav.data(), wav.size());
  ASSERT_TRUE(decoder);
  rt::StreamCursor cursor;
  int16_t out[64];
  EXPECT_EQ(rt::fillStreamPcm(*decoder, true, &cursor, out, 64), 0u);
  EXPECT_TRUE(cursor.ended);
}

// ---- Playing over OpenAL -----------------------------------------------------------------

class SoundOpenAl : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(driverChosen);
    ASSERT_TRUE(rt::initSoundSystem(rt::Backend::Sdl));
    beep_ = withTrailingZeros(makeWav(1, 16, 22050, pcm16(ramp(22050))));
    sound_ = rt::createSound(1, beep_.data(), beep_.size(), 0);
    ASSERT_NE(sound_, 0u);
  }
  void TearDown() override { rt::shutdownSoundSystem(); }

  float sourceFloat(int channel, ALenum what) {
    float value = -1;
    alGetSourcef(rt::soundChannelSource(sound_, channel), what, &value);
    return value;
  }

  Bytes beep_;
  rt::Handle sound_ = 0;
};

TEST_F(SoundOpenAl, ChannelsNewAndOwn) {
  EXPECT_TRUE(rt::soundAvailable());
  EXPECT_EQ(rt::soundSampleRate(1), 22050);
  int own = rt::playSound(1, 0, 100);
  ASSERT_NE(own, 0);
  EXPECT_EQ(rt::playSound(1, 0, 100), own);
  EXPECT_EQ(rt::playSound(sound_, rt::kPlayLoop, 50), own);
  int a = rt::playSound(1, rt::kPlayNewChannel, 100);
  int b = rt::playSound(1, rt::kPlayNewChannel, 100);
  EXPECT_NE(a, 0);
  EXPECT_NE(b, 0);
  EXPECT_NE(a, b);
  EXPECT_NE(a, own);
  EXPECT_TRUE(rt::soundPlaying(1, a));

  // Numbers are never handed out again, even to a new sound in the same slot.
  rt::createSound(1, beep_.data(), beep_.size(), 0);
  int later = rt::playSound(1, 0, 100);
  EXPECT_NE(later, own);
  EXPECT_NE(later, a);
  EXPECT_NE(later, b);
  EXPECT_FALSE(rt::soundPlaying(1, a));
}

TEST_F(SoundOpenAl, SettingsAreClamped) {
  int channel = rt::playSound(1, rt::kPlayLoop, 150);
  ASSERT_NE(channel, 0);
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_GAIN), 1.0f);
  rt::setSoundVolume(1, -20, channel);
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_GAIN), 0.0f);
  rt::setSoundVolume(1, 40, channel);
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_GAIN), 0.4f);

  ALuint source = rt::soundChannelSource(1, channel);
  float x, y, z;
  rt::setSoundPan(1, 500, channel);
  alGetSource3f(source, AL_POSITION, &x, &y, &z);
  EXPECT_NEAR(x, 1.0f, 1e-5);
  EXPECT_NEAR(z, 0.0f, 1e-5);
  rt::setSoundPan(1, -100, channel);
  alGetSource3f(source, AL_POSITION, &x, &y, &z);
  EXPECT_NEAR(x, -1.0f, 1e-5);
  rt::setSoundPan(1, 0, channel);
  alGetSource3f(source, AL_POSITION, &x, &y, &z);
  EXPECT_NEAR(x, 0.0f, 1e-5);
  EXPECT_NEAR(z, -1.0f, 1e-5);
  rt::setSoundPan(1, 50, channel);  // on the arc: as loud as straight ahead
  alGetSource3f(source, AL_POSITION, &x, &y, &z);
  EXPECT_NEAR(x * x + z * z, 1.0f, 1e-5);

  rt::setSoundFrequency(1, 1000000, channel);
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_PITCH), 200000.0f / 22050);
  rt::setSoundFrequency(1, 10, channel);
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_PITCH), 100.0f / 22050);
  rt::setSoundFrequency(1, 44100, channel);
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_PITCH), 2.0f);

  // A new channel starts centred at the sound's own rate.
  int fresh = rt::playSound(1, rt::kPlayNewChannel, 30);
  EXPECT_FLOAT_EQ(sourceFloat(fresh, AL_PITCH), 1.0f);
  EXPECT_FLOAT_EQ(sourceFloat(fresh, AL_GAIN), 0.3f);
}

TEST_F(SoundOpenAl, MinusOneActsOnEveryChannel) {
  int channels[3];
  for (int& c : channels) c = rt::playSound(1, rt::kPlayLoop | rt::kPlayNewChannel, 80);
  rt::setSoundVolume(1, 10);
  for (int c : channels) {
    EXPECT_TRUE(rt::soundPlaying(1, c));
    EXPECT_FLOAT_EQ(sourceFloat(c, AL_GAIN), 0.1f);
  }
  rt::stopSound(1, channels[1]);
  EXPECT_FALSE(rt::soundPlaying(1, channels[1]));
  EXPECT_TRUE(rt::soundPlaying(1, channels[0]));
  rt::stopSound(1);
  for (int c : channels) EXPECT_FALSE(rt::soundPlaying(1, c));
  EXPECT_FALSE(rt::soundPlaying(1, -1));
}

TEST_F(SoundOpenAl, FreeingStopsItsChannels) {
  int channel = rt::playSound(1, rt::kPlayLoop, 100);
  ALuint source = rt::soundChannelSource(1, channel);
  rt::freeSound(1);
  EXPECT_FALSE(rt::soundExists(1));
  ALint state = 0;
  alGetSourcei(source, AL_SOURCE_STATE, &state);
  EXPECT_NE(state, AL_PLAYING);
  EXPECT_EQ(rt::playSound(1, 0, 100), 0);
}

TEST_F(SoundOpenAl, SourcesAreBoundedAndRecycled) {
  std::vector<int> channels;
  for (size_t i = 0; i < rt::soundSourceLimit(); ++i) {
    channels.push_back(rt::playSound(1, rt::kPlayLoop | rt::kPlayNewChannel, 10));
    ASSERT_NE(channels.back(), 0) << i;
  }
  EXPECT_EQ(rt::playSound(1, rt::kPlayNewChannel, 10), 0);  // every source is busy
  rt::stopSound(1, channels[5]);
  int reused = rt::playSound(1, rt::kPlayNewChannel, 10);
  EXPECT_NE(reused, 0);
  EXPECT_NE(reused, channels[5]);
  rt::stopSound(1);
  EXPECT_NE(rt::playSound(1, rt::kPlayNewChannel, 10), 0);
}

TEST_F(SoundOpenAl, MissingSoundsAndChannelsDoNothing) {
  for (uint32_t missing : {0u, 2u, 65535u, 0x7FFF0000u}) {
    EXPECT_EQ(rt::playSound(missing, 0, 100), 0);
    rt::stopSound(missing);
    rt::setSoundVolume(missing, 50);
    rt::setSoundPan(missing, 50);
    rt::setSoundFrequency(missing, 8000);
    EXPECT_FALSE(rt::soundPlaying(missing, -1));
    EXPECT_EQ(rt::soundSampleRate(missing), 0);
    rt::freeSound(missing);
  }
  int channel = rt::playSound(1, rt::kPlayLoop, 100);
  rt::createSound(2, beep_.data(), beep_.size(), 0);
  // Another sound's channel, an unknown channel and channel 0 address nothing.
  for (int other : {0, 99999, -7}) {
    rt::stopSound(2, channel);
    rt::stopSound(1, other);
    rt::setSoundVolume(1, 0, other);
  }
  EXPECT_TRUE(rt::soundPlaying(1, channel));
  EXPECT_FLOAT_EQ(sourceFloat(channel, AL_GAIN), 1.0f);
  EXPECT_FALSE(rt::soundPlaying(1, 99999));
}

TEST_F(SoundOpenAl, BadDataMakesNoSound) {
  Bytes junk(100, 7);
  EXPECT_EQ(rt::createSound(3, junk.data(), junk.size(), 0), 0u);
  EXPECT_EQ(rt::createSound(3, junk.data(), junk.size(), rt::kSoundStreamed), 0u);
  EXPECT_EQ(rt::createSound(3, nullptr, 10, 0), 0u);
  EXPECT_EQ(rt::createSound(70000, beep_.data(), beep_.size(), 0), 0u);
  EXPECT_FALSE(rt::soundExists(3));
  Bytes silence = makeWav(1, 16, 8000, {});
  EXPECT_EQ(rt::createSound(3, silence.data(), silence.size(), 0), 0u);
}

bool waitUntilSilent(uint32_t sound, int channel) {
  for (int i = 0; i < 500 && rt::soundPlaying(sound, channel); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !rt::soundPlaying(sound, channel);
}

TEST_F(SoundOpenAl, StreamedSoundLoopsAndStops) {
  // A tenth of a second of music: playing well past it means the stream looped.
  Bytes ogg = withTrailingZeros(makeOgg(2, 22050, 2205));
  rt::Handle music = rt::createSound(4, ogg.data(), ogg.size(), rt::kSoundStreamed);
  ASSERT_NE(music, 0u);
  int channel = rt::playSound(4, rt::kPlayLoop, 25);
  ASSERT_NE(channel, 0);
  for (int i = 0; i < 30; ++i) {
    rt::setSoundVolume(4, i % 100, channel);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(rt::soundPlaying(4, channel));
  EXPECT_EQ(rt::playSound(4, rt::kPlayLoop, 25), channel);  // restart on its own channel
  rt::stopSound(4);
  EXPECT_FALSE(rt::soundPlaying(4, channel));

  int once = rt::playSound(4, 0, 25);
  EXPECT_TRUE(waitUntilSilent(4, once));

  // Freeing a sound in the middle of its stream stops the thread.
  int again = rt::playSound(4, rt::kPlayLoop | rt::kPlayNewChannel, 25);
  int wav = rt::playSound(1, rt::kPlayNewChannel, 25);
  EXPECT_NE(again, 0);
  EXPECT_NE(wav, 0);
  rt::freeSound(music);
  EXPECT_FALSE(rt::soundExists(4));
}

TEST_F(SoundOpenAl, StreamedWavPlaysOut) {
  Bytes wav = makeWav(1, 8, 8000, Bytes(800, 100));
  ASSERT_NE(rt::createSound(5, wav.data(), wav.size(), rt::kSoundStreamed), 0u);
  int channel = rt::playSound(5, 0, 100);
  ASSERT_NE(channel, 0);
  EXPECT_TRUE(waitUntilSilent(5, channel));
  rt::freeSound(5);
}

TEST(SoundNoDevice, EverythingIsANoOp) {
  test::TempDir dir;
  ASSERT_TRUE(rt::openLog(dir.file("log")));
  rt::setSoundDeviceForTesting("no such device");
  EXPECT_FALSE(rt::initSoundSystem(rt::Backend::Sdl));
  rt::setSoundDeviceForTesting(nullptr);
  rt::closeLog();
  std::string log = test::readFile(dir.file("log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find(" SOUND "), std::string::npos) << log;
  EXPECT_FALSE(rt::soundAvailable());
  Bytes wav = makeWav(1, 16, 8000, pcm16(ramp(100)));
  EXPECT_EQ(rt::createSound(1, wav.data(), wav.size(), 0), 0u);
  EXPECT_EQ(rt::playSound(1, rt::kPlayNewChannel, 100), 0);
  rt::setSoundVolume(1, 50);
  rt::setSoundPan(1, 50);
  rt::setSoundFrequency(1, 8000);
  rt::stopSound(1);
  EXPECT_FALSE(rt::soundPlaying(1, -1));
  rt::freeSound(1);
  rt::shutdownSoundSystem();
}

TEST(SoundNullBackend, ChannelsWithoutSound) {
  ASSERT_TRUE(rt::initSoundSystem(rt::Backend::Null));
  EXPECT_TRUE(rt::soundAvailable());
  Bytes wav = makeWav(1, 16, 8000, pcm16(ramp(100)));
  Bytes ogg = makeOgg(2, 22050, 2000);
  ASSERT_NE(rt::createSound(1, wav.data(), wav.size(), 0), 0u);
  ASSERT_NE(rt::createSound(4, ogg.data(), ogg.size(), rt::kSoundStreamed), 0u);
  EXPECT_EQ(rt::soundSampleRate(4), 22050);

  int own = rt::playSound(1, 0, 100);
  EXPECT_NE(own, 0);
  EXPECT_EQ(rt::playSound(1, 0, 100), own);
  std::vector<int> seen;
  for (size_t i = 0; i < rt::soundSourceLimit() + 20; ++i) {
    int c = rt::playSound(1, rt::kPlayNewChannel, 100);
    ASSERT_NE(c, 0);
    rt::setSoundFrequency(1, 30000, c);
    seen.push_back(c);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
  EXPECT_FALSE(rt::soundPlaying(1, -1));
  EXPECT_NE(rt::playSound(4, rt::kPlayLoop, 25), 0);
  EXPECT_FALSE(rt::soundPlaying(4, -1));
  rt::stopSound(4);
  rt::shutdownSoundSystem();
  EXPECT_FALSE(rt::soundAvailable());
}

}  // namespace
