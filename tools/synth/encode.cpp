#include "tools/synth/encode.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace synth {
namespace {

constexpr int kSerial = 0x506F7764;
constexpr size_t kChunkFrames = 4096;
constexpr size_t kLoopOverrun = 4096;  // two long Vorbis blocks

void appendPage(const ogg_page& page, std::vector<uint8_t>* out) {
  out->insert(out->end(), page.header, page.header + page.header_len);
  out->insert(out->end(), page.body, page.body + page.body_len);
}

// Everything one Vorbis stream needs, released together.
struct Encoder {
  vorbis_info info;
  vorbis_comment comment;
  vorbis_dsp_state dsp;
  vorbis_block block;
  ogg_stream_state stream;
  bool analysing = false;

  Encoder() {
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
    ogg_stream_init(&stream, kSerial);
  }
  ~Encoder() {
    ogg_stream_clear(&stream);
    if (analysing) {
      vorbis_block_clear(&block);
      vorbis_dsp_clear(&dsp);
    }
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  bool start(int channels, int rate, double quality, std::vector<uint8_t>* out) {
    if (vorbis_encode_init_vbr(&info, channels, rate, static_cast<float>(quality)) != 0) return false;
    if (vorbis_analysis_init(&dsp, &info) != 0) return false;
    vorbis_block_init(&dsp, &block);
    analysing = true;
    ogg_packet id, comments, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &id, &comments, &codebooks);
    ogg_stream_packetin(&stream, &id);
    ogg_stream_packetin(&stream, &comments);
    ogg_stream_packetin(&stream, &codebooks);
    // The headers stand on pages of their own, as decoders expect.
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) appendPage(page, out);
    return true;
  }

  void drain(std::vector<uint8_t>* out) {
    ogg_packet packet;
    ogg_page page;
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
        if (ended) continue;
        // The packet that reaches the cut ends the stream; its granule position tells the
        // decoder to drop what lies beyond.
        if (cutAt >= 0 && packet.granulepos >= cutAt) {
          packet.granulepos = cutAt;
          packet.e_o_s = 1;
          ended = true;
        }
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page) != 0) appendPage(page, out);
      }
    }
  }

  void finish(std::vector<uint8_t>* out) {
    vorbis_analysis_wrote(&dsp, 0);
    drain(out);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) appendPage(page, out);
  }

  ogg_int64_t cutAt = -1;  // the sample the stream ends at, when less than was fed in
  bool ended = false;
};

void putU16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void putU32(std::vector<uint8_t>& b, uint32_t v) {
  putU16(b, v & 0xFFFF);
  putU16(b, v >> 16);
}
void putTag(std::vector<uint8_t>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(tag[i]));
}

}  // namespace

bool encodeOgg(const Rendered& sound, double quality, std::vector<uint8_t>* out) {
  out->clear();
  Encoder encoder;
  if (!encoder.start(sound.channels, sound.sampleRate, quality, out)) return false;
  const int channels = sound.channels;
  const size_t frames = sound.samples.size() / channels;
  // Cut off after its last sample, a loop would end in a jump to silence, which the encoder
  // smears into a tick at the seam. Fed on round the loop and cut by granule position, the last
  // block sees the music go on, as it will when played.
  size_t fed = frames;
  if (sound.loop && frames > 0) {
    fed += kLoopOverrun;
    encoder.cutAt = static_cast<ogg_int64_t>(frames);
  }
  for (size_t first = 0; first < fed; first += kChunkFrames) {
    size_t count = std::min(kChunkFrames, fed - first);
    float** buffer = vorbis_analysis_buffer(&encoder.dsp, static_cast<int>(count));
    for (size_t i = 0; i < count; ++i) {
      size_t frame = (first + i) % frames;
      for (int c = 0; c < channels; ++c) buffer[c][i] = sound.samples[frame * channels + c];
    }
    vorbis_analysis_wrote(&encoder.dsp, static_cast<int>(count));
    encoder.drain(out);
  }
  encoder.finish(out);
  return true;
}

std::vector<uint8_t> encodeWav(const Rendered& sound) {
  uint32_t dataBytes = static_cast<uint32_t>(sound.samples.size() * 2);
  std::vector<uint8_t> b;
  b.reserve(44 + dataBytes);
  putTag(b, "RIFF");
  putU32(b, 36 + dataBytes);
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  putU32(b, 16);
  putU16(b, 1);
  putU16(b, sound.channels);
  putU32(b, sound.sampleRate);
  putU32(b, sound.sampleRate * sound.channels * 2);
  putU16(b, sound.channels * 2);
  putU16(b, 16);
  putTag(b, "data");
  putU32(b, dataBytes);
  for (float s : sound.samples) {
    long value = std::lround(std::clamp(s, -1.0f, 1.0f) * 32767.0f);
    putU16(b, static_cast<uint16_t>(static_cast<int16_t>(value)));
  }
  return b;
}

bool writeFileSafely(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::path target(path);
  std::error_code error;
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  std::string temporary = path + ".part";
  FILE* file = fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = (fclose(file) == 0) && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace synth
