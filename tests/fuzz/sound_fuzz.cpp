// The sound decoders (WAV by hand, Ogg Vorbis through vorbisfile reading from memory) on sounds
// as archives bring them: decoded whole under a cap, and streamed in a loop as music is.
//
// The input is a sound. Random changes to an Ogg file nearly always break a page's CRC, so a
// second copy with every page CRC set right reaches the Vorbis packets as well.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/sound.h"
#include "runtime/sound_local.h"

namespace {

// Small enough to keep runs fast; long sounds are cut here as they are at the real cap.
constexpr size_t kCap = 256 << 10;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Ogg's CRC (polynomial 0x04C11DB7, most significant bit first), by table: bit by bit it took
// a sixth of the target's time.
uint32_t oggCrc(const uint8_t* data, size_t size) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t crc = i << 24;
      for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? crc << 1 ^ 0x04C11DB7u : crc << 1;
      t[i] = crc;
    }
    return t;
  }();
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) crc = crc << 8 ^ table[(crc >> 24) ^ data[i]];
  return crc;
}

std::vector<uint8_t> withOggCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> fixed(data, data + size);
  size_t at = 0;
  while (at + 27 <= fixed.size() && memcmp(&fixed[at], "OggS", 4) == 0) {
    size_t segments = fixed[at + 26];
    if (at + 27 + segments > fixed.size()) break;
    size_t body = 0;
    for (size_t i = 0; i < segments; ++i) body += fixed[at + 27 + i];
    size_t end = at + 27 + segments + body;
    if (end > fixed.size()) break;
    memset(&fixed[at + 22], 0, 4);
    uint32_t crc = oggCrc(&fixed[at], end - at);
    for (int i = 0; i < 4; ++i) fixed[at + 22 + i] = uint8_t(crc >> (8 * i));
    at = end;
  }
  return fixed;
}

void checkPcm(const rt::Pcm& pcm) {
  check(pcm.channels == 1 || pcm.channels == 2);
  check(pcm.sampleRate > 0);
  check(pcm.samples.size() <= kCap / 2 && pcm.samples.size() % pcm.channels == 0);
}

void decode(const uint8_t* data, size_t size) {
  rt::Pcm pcm;
  if (rt::decodeWavCapped(data, size, &pcm, kCap)) checkPcm(pcm);
  if (rt::decodeOgg(data, size, &pcm, kCap)) checkPcm(pcm);

  // Music: streamed in buffers, carrying on from the start at the end.
  std::unique_ptr<rt::StreamDecoder> stream = rt::openStreamDecoder(data, size);
  if (!stream) return;
  int channels = stream->channels();
  check(channels == 1 || channels == 2);
  rt::StreamCursor cursor;
  int16_t buffer[4096];
  size_t total = 0;
  for (int i = 0; i < 8 && !cursor.ended && total < kCap; ++i) {
    size_t want = sizeof buffer / sizeof buffer[0] - 2 * (i % 2);  // whole stereo frames
    size_t got = rt::fillStreamPcm(*stream, true, &cursor, buffer, want);
    check(got <= want);
    total += got;
  }
}

}  // namespace

// libvorbisfile 1.3.7 loses the list of serial numbers it gathered when it refuses a stream's
// headers (the error path of its open); nothing its caller can free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  decode(data, size);
  std::vector<uint8_t> fixed = withOggCrcs(data, size);
  if (fixed != std::vector<uint8_t>(data, data + size)) decode(fixed.data(), fixed.size());
  return 0;
}
