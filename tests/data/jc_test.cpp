// The JC unpacker against streams built token by token, and the packer in round trips.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "data/jc_pack.h"
#include "runtime/checksum.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Unpacks into a buffer with guard bytes behind the capacity, which must stay untouched.
// Empty on failure.
Bytes unpack(const Bytes& block, size_t capacity) {
  Bytes out(capacity + 64, 0xCC);
  size_t n = rt::jcUnpack(block.data(), block.size(), out.data(), capacity);
  EXPECT_EQ(Bytes(out.begin() + long(capacity), out.end()), Bytes(64, 0xCC)) << "wrote past";
  out.resize(n);
  return out;
}

// Finishes the stream as a block for plain, checksum set, and unpacks it.
Bytes roundTrip(JcStream& s, const Bytes& plain) {
  return unpack(JcFinish(s, plain.data(), plain.size()), plain.size());
}

bool refused(JcStream& s, size_t plainSize) {
  return unpack(JcFinish(s, uint32_t(plainSize), 0), plainSize).empty();
}

void writeLiterals(JcStream& s, const Bytes& bytes) {
  JcSetLiterals(s, 8, 0);
  for (uint8_t b : bytes) JcLiteral(s, b);
}

Bytes randomBytes(size_t n, uint32_t seed, int lowest = 0, int highest = 255) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(lowest, highest);
  Bytes out(n);
  for (auto& b : out) b = uint8_t(byte(rng));
  return out;
}

Bytes textLike(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"barrel ", "fuse ", "blast ", "player ",   "the ",
                                       "box ",    "item ", "range ", "round\r\n", "score, "};
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < n) text += kWords[rng() % 10];
  text.resize(n);
  return Bytes(text.begin(), text.end());
}

void expectRoundTrip(const Bytes& plain, const std::string& what) {
  Bytes packed = JcPack(plain.data(), plain.size());
  ASSERT_FALSE(packed.empty()) << what;
  ASSERT_TRUE(unpack(packed, plain.size()) == plain) << what;
}

// ---- Checksum --------------------------------------------------------------------------------

TEST(JcChecksum, WordsAndOverlappingTail) {
  auto step = [](uint32_t h, uint32_t w) { return (h + w) ^ (((w << 1) | (w >> 31)) + 1); };
  const uint8_t bytes[] = {0x01, 0x00, 0x00, 0x80, 0x10, 0x20};
  EXPECT_EQ(rt::jcChecksum(bytes, 3), 0u);
  EXPECT_EQ(rt::jcChecksum(bytes, 4), step(0, 0x80000001u));
  // A length that is not a multiple of 4 takes the last four bytes as its final word.
  EXPECT_EQ(rt::jcChecksum(bytes, 6), step(step(0, 0x80000001u), 0x20108000u));
}

// ---- Unpacker --------------------------------------------------------------------------------

TEST(JcUnpack, LiteralWidthAndBaseSetBeforeTheFirstLiteral) {
  JcStream s;
  JcSetLiterals(s, 7, 200);  // a base near the top: values wrap around 256
  Bytes plain = {200, 255, 0, 1, 71};
  for (uint8_t b : plain) JcLiteral(s, b);
  JcSetLiterals(s, 8, 0);
  JcLiteral(s, 199);
  plain.push_back(199);
  EXPECT_EQ(roundTrip(s, plain), plain);
  // Matches alone never need a literal width; the last distance starts at 1.
  JcZeroByte(s);
  JcRepeatMatch(s, 99);
  EXPECT_EQ(roundTrip(s, Bytes(100, 0)), Bytes(100, 0));
}

TEST(JcUnpack, ShortCodesAndIndexWidths) {
  JcStream s;
  Bytes plain = randomBytes(5000, 7);
  writeLiterals(s, plain);
  auto copy = [&](size_t distance, size_t length) {
    for (size_t i = 0; i < length; ++i) plain.push_back(plain[plain.size() - distance]);
  };
  JcOneByteMatch(s, 3);
  copy(3, 1);
  JcShortMatch(s, 127, 5);
  copy(127, 5);
  JcZeroByte(s);
  plain.push_back(0);
  JcRepeatMatch(s, 3);
  copy(127, 3);
  JcSetIndexWidth(s, 12);
  JcLongMatch(s, 4321, 40);
  copy(4321, 40);
  JcSetIndexWidth(s, 0);
  JcLongMatch(s, 777, 9);
  copy(777, 9);
  EXPECT_EQ(roundTrip(s, plain), plain);
}

TEST(JcUnpack, LongMatchLengthBonusAtDistanceBoundaries) {
  // Distance -> bonus, written out here rather than taken from the packer.
  const std::pair<uint32_t, int> cases[] = {{0x7F, 4},   {0x80, 0},    {0x27E, 0},
                                            {0x27F, 1},  {0x37FE, 1},  {0x37FF, 2},
                                            {0xFFFF, 2}, {0x10000, 3}, {0x10001, 3}};
  for (auto [distance, bonus] : cases) {
    Bytes plain = randomBytes(distance + 3, distance);
    JcStream s;
    writeLiterals(s, plain);
    // 01, gamma((distance >> 8) + 3), the low 8 bits, gamma(2): length 2 + bonus.
    JcPutBits(s, 0b01, 2);
    JcPutGamma(s, (distance >> 8) + 3);
    JcPutBits(s, distance & 0xFF, 8);
    JcPutGamma(s, 2);
    for (int i = 0; i < 2 + bonus; ++i) plain.push_back(plain[plain.size() - distance]);
    EXPECT_EQ(roundTrip(s, plain), plain) << "distance " << distance;
  }
}

TEST(JcUnpack, RawRunsAtEveryBitAlignment) {
  // Each leading literal shifts the runs by 9 bits, so 32 cases meet every alignment.
  Bytes runs = randomBytes(3 * 256, 11);
  for (int lead = 0; lead < 32; ++lead) {
    Bytes plain = randomBytes(size_t(lead), 100 + lead);
    JcStream s;
    writeLiterals(s, plain);
    JcRawRuns(s, runs.data(), 3);
    JcLiteral(s, 42);
    plain.insert(plain.end(), runs.begin(), runs.end());
    plain.push_back(42);
    EXPECT_EQ(roundTrip(s, plain), plain) << "lead " << lead;
  }
}

TEST(JcUnpack, Headers) {
  Bytes plain = {9, 8, 7, 6, 5, 4};
  uint32_t sum = rt::jcChecksum(plain.data(), plain.size());
  auto block = [&](uint32_t plainSize, uint32_t checksum) {
    JcStream s;
    writeLiterals(s, plain);
    return JcFinish(s, plainSize, checksum);
  };
  EXPECT_EQ(unpack(block(6, 0), 6), plain) << "checksum 0 is not checked";
  Bytes signature = block(6, sum);
  signature[1] = 'D';
  EXPECT_TRUE(unpack(signature, 6).empty());
  EXPECT_TRUE(unpack(block(6, sum + 1), 6).empty()) << "checksum";
  EXPECT_TRUE(unpack(block(6, sum), 5).empty()) << "plain size above the capacity";
  EXPECT_TRUE(unpack(block(7, 0), 7).empty()) << "stream shorter than its plain size";
  EXPECT_TRUE(unpack(block(5, 0), 6).empty()) << "stream longer than its plain size";
  EXPECT_TRUE(unpack(block(0, 0), 6).empty()) << "an empty result is a failure";
  EXPECT_TRUE(unpack(Bytes(signature.begin(), signature.begin() + 9), 6).empty());
}

TEST(JcUnpack, RefusesStreamsThatReachOutside) {
  JcStream s;
  writeLiterals(s, {1, 2});
  JcShortMatch(s, 3, 2);
  EXPECT_TRUE(refused(s, 4)) << "distance beyond the start";
  JcOneByteMatch(s, 1);
  EXPECT_TRUE(refused(s, 1)) << "one-byte match before the start";
  JcRepeatMatch(s, 2);
  EXPECT_TRUE(refused(s, 2)) << "repeat before anything";
  JcZeroByte(s);
  JcRepeatMatch(s, 50);
  EXPECT_TRUE(refused(s, 10)) << "match past the plain size";
  writeLiterals(s, {1, 2, 3});
  EXPECT_TRUE(refused(s, 2)) << "literal past the plain size";
  Bytes run(256, 1);
  JcRawRuns(s, run.data(), 1);
  EXPECT_TRUE(refused(s, 255)) << "raw run past the plain size";
  writeLiterals(s, {1, 2});
  JcSetIndexWidth(s, 63);
  JcLongMatch(s, uint64_t(1) << 63, 5);
  EXPECT_TRUE(refused(s, 9)) << "distance that overflows";
  JcZeroByte(s);
  JcPutBits(s, 0b01, 2);
  for (int i = 0; i < 64; ++i) JcPutBits(s, 0b11, 2);
  EXPECT_TRUE(refused(s, 100)) << "gamma code that never ends";
  Bytes text = textLike(5000, 3), block = JcPack(text.data(), text.size());
  for (size_t cut = 10; cut < block.size(); cut += block.size() / 50) {
    EXPECT_TRUE(unpack(Bytes(block.begin(), block.begin() + long(cut)), 5000).empty()) << cut;
  }
}

TEST(JcUnpack, DamagedStreamsNeverEscapeTheirBuffers) {
  std::mt19937 rng(5);
  for (const Bytes& plain : {textLike(3000, 1), randomBytes(700, 2), Bytes(2000, 0)}) {
    Bytes block = JcPack(plain.data(), plain.size());
    for (int round = 0; round < 300; ++round) {
      Bytes damaged = block;
      for (int f = 1 + int(rng() % 4); f > 0; --f) {
        damaged[10 + rng() % (damaged.size() - 10)] ^= uint8_t(1u << (rng() % 8));
      }
      // Without the checksum only the unpacker's own checks stand between it and the buffers.
      memset(damaged.data() + 6, 0, 4);
      unpack(damaged, plain.size());
    }
  }
}

// ---- Packer ----------------------------------------------------------------------------------

TEST(JcPack, RoundTripsSmallSizes) {
  EXPECT_TRUE(JcPack(nullptr, 0).empty());
  for (size_t n : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 255, 256, 257, 511, 1000}) {
    expectRoundTrip(randomBytes(n, uint32_t(n)), "random " + std::to_string(n));
    expectRoundTrip(Bytes(n, 0), "zeros " + std::to_string(n));
    expectRoundTrip(Bytes(n, 0xFF), "ones " + std::to_string(n));
    expectRoundTrip(textLike(n, uint32_t(n)), "text " + std::to_string(n));
  }
}

TEST(JcPack, RoundTripsStructuredData) {
  Bytes allValues(70000);
  for (size_t i = 0; i < allValues.size(); ++i) allValues[i] = uint8_t(i * 7 + i / 256);
  expectRoundTrip(allValues, "all byte values");
  for (size_t period = 1; period <= 9; ++period) {
    Bytes pattern(50000);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t((i % period) * 37 + 1);
    expectRoundTrip(pattern, "period " + std::to_string(period));
  }
  // Runs of every length between noise, and pixel rows that repeat with small changes.
  Bytes runs;
  std::mt19937 rng(9);
  while (runs.size() < 200000) {
    runs.insert(runs.end(), 1 + rng() % 300, uint8_t(rng() % 3 == 0 ? 0 : rng()));
    runs.push_back(uint8_t(rng()));
  }
  expectRoundTrip(runs, "runs");
  Bytes pixels(256 * 256 * 4);
  for (size_t i = 0; i < pixels.size(); ++i) {
    size_t x = (i / 4) % 256, y = i / 1024;
    pixels[i] = uint8_t((i % 4 == 3) ? 255 : (x * (i % 4 + 1) + y / 8 + (rng() % 4 == 0)));
  }
  expectRoundTrip(pixels, "pixels");
  // Repeats at the distances where the length bonus changes.
  Bytes repeated = randomBytes(0x11000, 21);
  for (size_t d : {0x7Fu, 0x80u, 0x27Eu, 0x27Fu, 0x37FEu, 0x37FFu, 0xFFFFu, 0x10000u}) {
    for (size_t i = 0; i < 20; ++i) repeated.push_back(repeated[repeated.size() - d]);
    repeated.push_back(uint8_t(d));
  }
  expectRoundTrip(repeated, "bonus distances");
}

TEST(JcPack, RoundTripsMegabytes) {
  Bytes text = textLike(3 << 20, 4);
  for (size_t i = 0; i < text.size(); i += 4093) text[i] = uint8_t(i >> 3);
  expectRoundTrip(text, "3 MB text");
  expectRoundTrip(randomBytes(1 << 20, 5), "1 MB noise");
  Bytes mixed = randomBytes(600000, 6);
  std::fill(mixed.begin() + 100000, mixed.begin() + 400000, 0);
  expectRoundTrip(mixed, "noise and zeros");
}

TEST(JcPack, SizesFollowTheContent) {
  Bytes text = textLike(100000, 8), zeros(1 << 20, 0), noise = randomBytes(100000, 14);
  EXPECT_LT(JcPack(text.data(), text.size()).size(), text.size() / 4);
  EXPECT_LT(JcPack(zeros.data(), zeros.size()).size(), 200u);
  EXPECT_LT(JcPack(noise.data(), noise.size()).size(), noise.size() * 201 / 200 + 32);
  // Hardly any repeats, so the size is what the literals cost: 8 bits each at width 7.
  Bytes ascii = randomBytes(50000, 12, 32, 126);
  EXPECT_LT(JcPack(ascii.data(), ascii.size()).size(), ascii.size());
  Bytes wrapped = randomBytes(50000, 13, 0, 120);
  for (auto& b : wrapped) b = uint8_t(b + 200);  // 200..255 and 0..64
  expectRoundTrip(wrapped, "wrapped window");
  EXPECT_LT(JcPack(wrapped.data(), wrapped.size()).size(), wrapped.size());
}

}  // namespace
