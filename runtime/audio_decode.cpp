// WAV by hand and Ogg Vorbis through vorbisfile, both from memory, both as 16-bit interleaved PCM.

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/log.h"
#include "runtime/sound_local.h"

namespace rt {
namespace {

constexpr int kMinSampleRate = 1;
constexpr int kMaxSampleRate = 1000000;

bool supportedFormat(int channels, long sampleRate) {
  return (channels == 1 || channels == 2) && sampleRate >= kMinSampleRate &&
         sampleRate <= kMaxSampleRate;
}

uint32_t readU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// ---- WAV -----------------------------------------------------------------------------------

struct WavLayout {
  int channels = 0;
  int sampleRate = 0;
  int bits = 0;
  const uint8_t* samples = nullptr;
  size_t frames = 0;
};

constexpr uint16_t kWavePcm = 1;
constexpr uint16_t kWaveExtensible = 0xFFFE;
// The rest of the PCM subformat identifier after its leading format tag.
constexpr uint8_t kPcmSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool parseFormat(const uint8_t* p, size_t size, WavLayout* out) {
  if (size < 16) return false;
  uint16_t tag = readU16(p);
  if (tag == kWaveExtensible) {
    if (size < 40 || readU16(p + 16) < 22) return false;
    const uint8_t* subformat = p + 24;
    if (readU16(subformat) != kWavePcm) return false;
    if (memcmp(subformat + 2, kPcmSubformatTail, sizeof kPcmSubformatTail) != 0) return false;
  } else if (tag != kWavePcm) {
    return false;
  }
  out->channels = readU16(p + 2);
  uint32_t rate = readU32(p + 4);
  uint16_t blockAlign = readU16(p + 12);
  out->bits = readU16(p + 14);
  if (!supportedFormat(out->channels, rate)) return false;
  if (out->bits != 8 && out->bits != 16) return false;
  if (blockAlign != out->channels * out->bits / 8) return false;
  out->sampleRate = static_cast<int>(rate);
  return true;
}

// Walks the chunks of a RIFF WAVE image; every length is checked against the bytes really there.
// Bytes after the RIFF chunk (the loader appends zeros) are ignored.
bool parseWav(const uint8_t* data, size_t length, WavLayout* out) {
  if (length < 12 || memcmp(data, "RIFF", 4) != 0 || memcmp(data + 8, "WAVE", 4) != 0) {
    return false;
  }
  // The RIFF length may count a final pad byte that the file leaves out.
  size_t riffSize = readU32(data + 4);
  if (riffSize < 4 || riffSize > length - 7) return false;
  size_t end = std::min(8 + riffSize, length);
  bool haveFormat = false;
  const uint8_t* samples = nullptr;
  size_t sampleBytes = 0;
  size_t pos = 12;
  while (end - pos >= 8) {
    const uint8_t* chunk = data + pos;
    size_t size = readU32(chunk + 4);
    size_t body = pos + 8;
    if (size > end - body) return false;
    if (memcmp(chunk, "fmt ", 4) == 0) {
      if (!parseFormat(data + body, size, out)) return false;
      haveFormat = true;
    } else if (memcmp(chunk, "data", 4) == 0 && !samples) {
      samples = data + body;
      sampleBytes = size;
    }
    pos = body + size + (size & 1);  // chunks are padded to even lengths
    if (pos >= end) break;
  }
  if (!haveFormat || !samples) return false;
  out->samples = samples;
  out->frames = sampleBytes / (out->channels * out->bits / 8);
  return true;
}

class WavDecoder : public StreamDecoder {
 public:
  explicit WavDecoder(const WavLayout& layout) : layout_(layout) {}

  int channels() const override { return layout_.channels; }
  int sampleRate() const override { return layout_.sampleRate; }

  size_t read(int16_t* out, size_t maxSamples) override {
    size_t frames = std::min(maxSamples / layout_.channels, layout_.frames - frame_);
    size_t count = frames * layout_.channels;
    size_t first = frame_ * layout_.channels;
    if (layout_.bits == 8) {
      const uint8_t* in = layout_.samples + first;
      for (size_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>((in[i] - 128) * 256);
    } else {
      const uint8_t* in = layout_.samples + first * 2;
      for (size_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(readU16(in + i * 2));
    }
    frame_ += frames;
    return count;
  }

  bool rewind() override {
    frame_ = 0;
    return true;
  }

 private:
  WavLayout layout_;
  size_t frame_ = 0;
};

std::unique_ptr<StreamDecoder> openWav(const void* data, size_t length) {
  WavLayout layout;
  if (!data || !parseWav(static_cast<const uint8_t*>(data), length, &layout)) return nullptr;
  return std::make_unique<WavDecoder>(layout);
}

// ---- Ogg Vorbis ------------------------------------------------------------------------------

struct MemoryReader {
  const uint8_t* data = nullptr;
  size_t length = 0;
  size_t pos = 0;
};

size_t memoryRead(void* out, size_t size, size_t count, void* source) {
  auto* reader = static_cast<MemoryReader*>(source);
  if (size == 0) return 0;
  size_t items = std::min(count, (reader->length - reader->pos) / size);
  memcpy(out, reader->data + reader->pos, items * size);
  reader->pos += items * size;
  return items;
}

int memorySeek(void* source, ogg_int64_t offset, int whence) {
  auto* reader = static_cast<MemoryReader*>(source);
  ogg_int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<ogg_int64_t>(reader->pos);
  else if (whence == SEEK_END) base = static_cast<ogg_int64_t>(reader->length);
  else if (whence != SEEK_SET) return -1;
  if (offset < -base || offset > static_cast<ogg_int64_t>(reader->length) - base) return -1;
  reader->pos = static_cast<size_t>(base + offset);
  return 0;
}

long memoryTell(void* source) { return static_cast<long>(static_cast<MemoryReader*>(source)->pos); }

constexpr ov_callbacks kMemoryCallbacks = {memoryRead, memorySeek, nullptr, memoryTell};

// vorbisfile reports a gap in the data as a hole and goes on; a file made of nothing but holes
// must still come to an end.
constexpr int kMaxHolesInARow = 64;

class OggDecoder : public StreamDecoder {
 public:
  OggDecoder() = default;
  OggDecoder(const OggDecoder&) = delete;
  OggDecoder& operator=(const OggDecoder&) = delete;
  ~OggDecoder() override {
    if (opened_) ov_clear(&file_);
  }

  bool open(const void* data, size_t length) {
    reader_ = MemoryReader{static_cast<const uint8_t*>(data), length, 0};
    if (ov_open_callbacks(&reader_, &file_, nullptr, 0, kMemoryCallbacks) != 0) return false;
    opened_ = true;
    vorbis_info* info = ov_info(&file_, -1);
    if (!info || !supportedFormat(info->channels, info->rate)) return false;
    channels_ = info->channels;
    sampleRate_ = static_cast<int>(info->rate);
    return true;
  }

  int channels() const override { return channels_; }
  int sampleRate() const override { return sampleRate_; }

  size_t read(int16_t* out, size_t maxSamples) override {
    maxSamples -= maxSamples % channels_;
    size_t done = 0;
    int holes = 0;
    while (done < maxSamples && !ended_) {
      int bytes = static_cast<int>(std::min<size_t>((maxSamples - done) * 2, 1 << 20));
      int link = 0;
      long got = ov_read(&file_, reinterpret_cast<char*>(out + done), bytes, 0, 2, 1, &link);
      if (got == OV_HOLE) {
        ended_ = ++holes > kMaxHolesInARow;
        continue;
      }
      // A chained stream may switch format; playing on would garble it, so it ends there.
      if (got <= 0 || !sameFormat(link)) {
        ended_ = true;
        break;
      }
      holes = 0;
      done += static_cast<size_t>(got) / 2;
    }
    return done;
  }

  bool rewind() override {
    if (ov_pcm_seek(&file_, 0) != 0) return false;
    ended_ = false;
    return true;
  }

 private:
  bool sameFormat(int link) {
    vorbis_info* info = ov_info(&file_, link);
    return info && info->channels == channels_ && info->rate == sampleRate_;
  }

  MemoryReader reader_;
  OggVorbis_File file_{};
  bool opened_ = false;
  bool ended_ = false;
  int channels_ = 0;
  int sampleRate_ = 0;
};

std::unique_ptr<StreamDecoder> openOgg(const void* data, size_t length) {
  if (!data || length == 0) return nullptr;
  auto decoder = std::make_unique<OggDecoder>();
  if (!decoder->open(data, length)) return nullptr;
  return decoder;
}

}  // namespace

std::unique_ptr<StreamDecoder> openStreamDecoder(const void* data, size_t length) {
  if (data && length >= 4 && memcmp(data, "RIFF", 4) == 0) return openWav(data, length);
  return openOgg(data, length);
}

bool decodeAll(StreamDecoder& decoder, Pcm* out, size_t maxBytes) {
  const size_t chunk = 16384;
  size_t channels = static_cast<size_t>(decoder.channels());
  size_t cap = maxBytes / 2 / channels * channels;
  out->channels = decoder.channels();
  out->sampleRate = decoder.sampleRate();
  std::vector<int16_t>& samples = out->samples;
  samples.clear();
  while (samples.size() < cap) {
    size_t want = std::min(chunk, cap - samples.size());
    size_t size = samples.size();
    // Grown by hand so that the capacity never overshoots the cap.
    if (size + want > samples.capacity()) {
      samples.reserve(std::min(std::max(samples.capacity() * 2, size + want), cap));
    }
    samples.resize(size + want);
    size_t got = decoder.read(samples.data() + size, want);
    samples.resize(size + got);
    if (got == 0) return true;
  }
  int16_t probe[64];
  if (decoder.read(probe, 64 - 64 % channels) > 0) {
    logLine("SOUND", "sound cut at %zu bytes of PCM", cap * 2);
  }
  return true;
}

bool decodeWavCapped(const void* data, size_t length, Pcm* out, size_t maxBytes) {
  std::unique_ptr<StreamDecoder> decoder = openWav(data, length);
  return decoder && decodeAll(*decoder, out, maxBytes);
}

bool decodeWav(const void* data, size_t length, Pcm* out) {
  return decodeWavCapped(data, length, out, kMaxSoundPcmBytes);
}

bool decodeOgg(const void* data, size_t length, Pcm* out, size_t maxBytes) {
  std::unique_ptr<StreamDecoder> decoder = openOgg(data, length);
  return decoder && decodeAll(*decoder, out, maxBytes);
}

size_t fillStreamPcm(StreamDecoder& decoder, bool loop, StreamCursor* cursor, int16_t* out,
                     size_t maxSamples) {
  size_t done = 0;
  while (done < maxSamples && !cursor->ended) {
    size_t got = decoder.read(out + done, maxSamples - done);
    done += got;
    cursor->samplesSinceRewind += got;
    if (got > 0) continue;
    // At the end: a looping stream carries on from the start in the same buffer. A pass that
    // yielded nothing would spin forever, so it ends the stream instead.
    if (!loop || cursor->samplesSinceRewind == 0 || !decoder.rewind()) {
      cursor->ended = true;
      break;
    }
    cursor->samplesSinceRewind = 0;
  }
  return done;
}

}  // namespace rt
