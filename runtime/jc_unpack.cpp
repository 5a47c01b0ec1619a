// The JC unpacker. A JC block is "JC", the u32 plain size, the u32 checksum of the plain bytes
// and a bit stream read MSB first out of 32-bit little-endian words. Every length and distance
// the stream names is checked against what has been written and what may still be written, so
// a hostile block can only make the unpacker fail, never read or write out of bounds.
#include <array>
#include <cstring>

#include "runtime/checksum.h"

namespace rt {
namespace {

constexpr size_t kJcHeaderSize = 10;
// Gamma values beyond this are nonsense for any block we could hold in memory.
constexpr uint64_t kMaxGamma = uint64_t(1) << 40;

inline uint32_t loadLe32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

// Two stream words as one value, the first in the upper half.
inline uint64_t loadStream64(const uint8_t* p) {
  return uint64_t(loadLe32(p)) << 32 | loadLe32(p + 4);
}

inline uint32_t rotateLeft1(uint32_t v) { return (v << 1) | (v >> 31); }

// Unread bits sit at the top of a 64-bit buffer. Reading past the last word yields zero bits and
// sets overrun, which the main loop checks once per token.
struct BitReader {
  const uint8_t* begin;
  const uint8_t* next;
  const uint8_t* end;
  uint64_t bits = 0;
  int count = 0;
  bool overrun = false;
};

[[gnu::always_inline]] inline void refill(BitReader& r) {
  if (r.count > 32) return;
  if (r.end - r.next < 4) return;
  r.bits |= uint64_t(loadLe32(r.next)) << (32 - r.count);
  r.count += 32;
  r.next += 4;
}

// 1..32 bits, first bit most significant.
[[gnu::always_inline]] inline uint32_t takeBits(BitReader& r, int n) {
  if (r.count < n) {
    refill(r);
    if (r.count < n) {
      r.overrun = true;
      r.count = n;
    }
  }
  uint32_t v = uint32_t(r.bits >> (64 - n));
  r.bits <<= n;
  r.count -= n;
  return v;
}

[[gnu::always_inline]] inline uint32_t takeBit(BitReader& r) { return takeBits(r, 1); }

// 0..63 bits (the index width can be set that high by the stream).
[[gnu::always_inline]] inline uint64_t takeWide(BitReader& r, int n) {
  if (n == 0) return 0;
  if (n <= 32) return takeBits(r, n);
  uint64_t high = takeBits(r, n - 32);
  return (high << 32) | takeBits(r, 32);
}

// Gamma codes come as (value bit, more bit) pairs. One table look-up decodes up to four pairs
// from the top byte of the buffer: how many pairs it takes, their value bits, and whether the
// code ended among them.
struct GammaStep {
  uint8_t pairs;
  uint8_t value;
  bool ended;
};

constexpr std::array<GammaStep, 256> makeGammaSteps() {
  std::array<GammaStep, 256> steps{};
  for (int top = 0; top < 256; ++top) {
    GammaStep step{0, 0, false};
    for (int pair = 0; pair < 4 && !step.ended; ++pair) {
      int bits = (top >> (6 - 2 * pair)) & 3;
      step.value = uint8_t((step.value << 1) | (bits >> 1));
      step.pairs++;
      step.ended = (bits & 1) == 0;
    }
    steps[top] = step;
  }
  return steps;
}

constexpr std::array<GammaStep, 256> kGammaSteps = makeGammaSteps();

// v = 1; repeat v = 2v + bit while the following bit is 1. Returns 0 for absurd values.
[[gnu::always_inline]] inline uint64_t takeGamma(BitReader& r) {
  uint64_t v = 1;
  for (;;) {
    if (r.count < 8) {
      refill(r);
      if (r.count < 8) break;
    }
    const GammaStep& step = kGammaSteps[r.bits >> 56];
    r.bits <<= 2 * step.pairs;
    r.count -= 2 * step.pairs;
    v = (v << step.pairs) | step.value;
    if (step.ended) return v;
    if (v >= kMaxGamma) return 0;
  }
  // Near the end of the stream: bit by bit, so that missing bits count as an overrun.
  do {
    if (v >= kMaxGamma) return 0;
    v = (v << 1) | takeBit(r);
  } while (takeBit(r));
  return v;
}

// Copies length bytes from distance bytes back; the caller has checked both. Copying in chunks
// of 8 (or 4) reads only bytes already written as long as the distance is at least the chunk,
// and may run up to 7 bytes past the match, so it is only done where the block has room.
[[gnu::always_inline]] inline void copyMatch(uint8_t* out, size_t pos, size_t distance,
                                             size_t length, size_t limit) {
  uint8_t* dst = out + pos;
  bool room = pos + length + 8 <= limit;
  if (distance >= 8 && room) {
    for (size_t done = 0; done < length; done += 8) memcpy(dst + done, dst + done - distance, 8);
  } else if (distance >= 4 && room) {
    for (size_t done = 0; done < length; done += 4) memcpy(dst + done, dst + done - distance, 4);
  } else if (distance == 1) {
    memset(dst, dst[-1], length);
  } else {
    for (size_t done = 0; done < length; ++done) dst[done] = *(dst + done - distance);
  }
}

[[gnu::always_inline]] inline int lengthBonus(uint64_t distance) {
  if (distance < 0x80) return 4;
  if (distance < 0x27F) return 0;
  if (distance < 0x37FF) return 1;
  if (distance < 0x10000) return 2;
  return 3;
}

struct Unpacker {
  BitReader in;
  uint8_t* out;
  size_t pos;
  size_t limit;  // the plain size; nothing is written at or beyond it
  uint64_t lastOffset = 1;
  int literalWidth = 8;  // the stream sets both before its first literal; these are safe
  int literalBase = 0;
  int indexWidth = 8;
};

[[gnu::always_inline]] inline bool copy(Unpacker& u, uint64_t distance, uint64_t length) {
  if (distance == 0 || distance > u.pos || length > u.limit - u.pos) return false;
  copyMatch(u.out, u.pos, size_t(distance), size_t(length), u.limit);
  u.pos += size_t(length);
  return true;
}

[[gnu::always_inline]] inline bool putByte(Unpacker& u, uint8_t value) {
  if (u.pos >= u.limit) return false;
  u.out[u.pos++] = value;
  return true;
}

[[gnu::always_inline]] inline bool longMatch(Unpacker& u) {
  uint64_t gamma = takeGamma(u.in);
  if (gamma < 2) return false;
  uint64_t g = gamma - 2;
  if (g == 0) {
    uint64_t length = takeGamma(u.in);
    return length >= 2 && copy(u, u.lastOffset, length);
  }
  uint64_t high = g - 1;
  // A distance can never exceed what has been written; refuse before the shift can overflow.
  if (high > (u.pos >> u.indexWidth)) return false;
  uint64_t distance = (high << u.indexWidth) | takeWide(u.in, u.indexWidth);
  u.lastOffset = distance;
  uint64_t length = takeGamma(u.in);
  if (length < 2) return false;
  return copy(u, distance, length + lengthBonus(distance));
}

// Distance 0 is not a match: length 2 ends the stream, longer ones set the index width.
// Returns -1 on failure, 0 to go on, 1 at the end of the stream.
[[gnu::always_inline]] inline int shortMatch(Unpacker& u) {
  uint32_t fields = takeBits(u.in, 9);
  uint32_t distance = fields >> 2;
  uint32_t length = (fields & 3) + 2;
  if (distance > 0) {
    u.lastOffset = distance;
    return copy(u, distance, length) ? 0 : -1;
  }
  if (length == 2) return 1;
  u.indexWidth = int(takeBits(u.in, int(length) + 1));
  return 0;
}

// 256 bytes from the stream as they are, 8 at a time: two stream words read as one 64-bit value
// (first word on top) and shifted by the bit position give the next 64 bits at any alignment.
void rawRunFast(BitReader& r, uint8_t* dst) {
  size_t bit = size_t(r.next - r.begin) * 8 - size_t(r.count);
  const uint8_t* words = r.begin + (bit >> 5) * 4;
  int shift = int(bit & 31);
  uint64_t current = loadStream64(words);
  for (int i = 0; i < 256; i += 8) {
    uint64_t next = loadStream64(words + i + 8);
    uint64_t value = shift == 0 ? current : (current << shift) | (next >> (64 - shift));
    value = __builtin_bswap64(value);
    memcpy(dst + i, &value, 8);
    current = next;
  }
  bit += 2048;
  r.next = r.begin + (bit >> 5) * 4;
  r.bits = 0;
  r.count = 0;
  shift = int(bit & 31);
  if (shift != 0) {
    refill(r);
    r.bits <<= shift;
    r.count -= shift;
  }
}

void rawRunSlow(BitReader& r, uint8_t* dst) {
  for (int i = 0; i < 256; i += 4) {
    uint32_t word = takeBits(r, 32);
    dst[i] = uint8_t(word >> 24);
    dst[i + 1] = uint8_t(word >> 16);
    dst[i + 2] = uint8_t(word >> 8);
    dst[i + 3] = uint8_t(word);
  }
}

// Rare, so kept out of line; it works on copies so that the unpacker's own state can stay in
// registers.
[[gnu::noinline]] bool rawRuns(BitReader& in, uint8_t* out, size_t& pos, size_t limit) {
  do {
    if (limit - pos < 256) return false;
    // The fast way reads up to two words past the run's last bit.
    if (in.end - in.next >= 256 + 8) {
      rawRunFast(in, out + pos);
    } else {
      rawRunSlow(in, out + pos);
    }
    pos += 256;
    if (in.overrun) return false;
  } while (takeBit(in));
  return true;
}

[[gnu::always_inline]] inline bool shortCode(Unpacker& u) {
  uint32_t v = takeBits(u.in, 4);
  if (v == 1) return putByte(u, 0);
  if (v > 1) {
    if (v - 1 > u.pos || u.pos >= u.limit) return false;
    u.out[u.pos] = u.out[u.pos - (v - 1)];
    ++u.pos;
    return true;
  }
  if (takeBit(u.in)) {
    BitReader in = u.in;
    size_t pos = u.pos;
    bool ok = rawRuns(in, u.out, pos, u.limit);
    u.in = in;
    u.pos = pos;
    return ok;
  }
  u.literalWidth = int(takeBit(u.in)) + 7;
  u.literalBase = u.literalWidth == 7 ? int(takeBits(u.in, 8)) : 0;
  return true;
}

// Token prefixes: 1 literal, 01 long match, 001 short codes, 000 short match.
enum class Prefix { Literal, Long, ShortCode, ShortMatch };

[[gnu::always_inline]] inline Prefix takePrefix(BitReader& r) {
  if (r.count >= 3) {
    uint32_t top = uint32_t(r.bits >> 61);
    int used = top >= 4 ? 1 : top >= 2 ? 2 : 3;
    r.bits <<= used;
    r.count -= used;
    if (top >= 4) return Prefix::Literal;
    if (top >= 2) return Prefix::Long;
    return top == 1 ? Prefix::ShortCode : Prefix::ShortMatch;
  }
  if (takeBit(r)) return Prefix::Literal;
  if (takeBit(r)) return Prefix::Long;
  return takeBit(r) ? Prefix::ShortCode : Prefix::ShortMatch;
}

// Returns the number of bytes written when the stream ended cleanly, else 0.
size_t runStream(const uint8_t* words, size_t wordBytes, uint8_t* out, size_t limit) {
  Unpacker u{{words, words, words + wordBytes}, out, 0, limit};
  for (;;) {
    if (u.in.overrun) return 0;
    refill(u.in);
    // Literals come in runs; take them straight from the buffer while it holds them.
    int literalBits = 1 + u.literalWidth;
    while (u.in.count >= literalBits && int64_t(u.in.bits) < 0) {
      uint32_t value = uint32_t((u.in.bits << 1) >> (64 - u.literalWidth));
      u.in.bits <<= literalBits;
      u.in.count -= literalBits;
      if (!putByte(u, uint8_t(value + uint32_t(u.literalBase)))) return 0;
    }
    switch (takePrefix(u.in)) {
      case Prefix::Literal:
        if (!putByte(u, uint8_t(takeBits(u.in, u.literalWidth) + u.literalBase))) return 0;
        continue;
      case Prefix::Long:
        if (!longMatch(u)) return 0;
        continue;
      case Prefix::ShortCode:
        if (!shortCode(u)) return 0;
        continue;
      case Prefix::ShortMatch:
        break;
    }
    int state = shortMatch(u);
    if (state < 0) return 0;
    if (state > 0) return u.in.overrun ? 0 : u.pos;
  }
}

}  // namespace

size_t jcUnpack(const uint8_t* in, size_t inLength, uint8_t* out, size_t outCapacity) {
  if (!in || !out || inLength < kJcHeaderSize) return 0;
  if (in[0] != 'J' || in[1] != 'C') return 0;
  uint32_t plainSize = loadLe32(in + 2);
  uint32_t checksum = loadLe32(in + 6);
  // An empty result counts as failure; a plain size that does not fit is refused up front.
  if (plainSize == 0 || plainSize > outCapacity) return 0;
  size_t written =
      runStream(in + kJcHeaderSize, (inLength - kJcHeaderSize) / 4 * 4, out, plainSize);
  if (written != plainSize) return 0;
  if (checksum != 0 && jcChecksum(out, plainSize) != checksum) return 0;
  return written;
}

uint32_t jcChecksum(const uint8_t* data, size_t length) {
  if (!data || length < 4) return 0;
  uint32_t h = 0;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    uint32_t w = loadLe32(data + i);
    h = (h + w) ^ (rotateLeft1(w) + 1);
  }
  if (i < length) {
    uint32_t w = loadLe32(data + length - 4);
    h = (h + w) ^ (rotateLeft1(w) + 1);
  }
  return h;
}

}  // namespace rt
