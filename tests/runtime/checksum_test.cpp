#include "runtime/checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<uint8_t> randomBytes(size_t length, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

// The archive key: 32 ASCII characters used as the raw AES-256 key.
const uint8_t* gameKey() {
  static const std::string key = rt::md5Hex(std::string("secret"));
  return reinterpret_cast<const uint8_t*>(key.data());
}

}  // namespace

TEST(Checksum, Crc32KnownValues) {
  EXPECT_EQ(rt::crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(rt::crc32("", 0), 0u);
  EXPECT_EQ(rt::crc32(nullptr, 0, 0x1234u), 0x1234u);
}

TEST(Checksum, Crc32ContinuesFromPreviousValue) {
  uint32_t first = rt::crc32("12345", 5);
  EXPECT_EQ(rt::crc32("6789", 4, first), 0xCBF43926u);
}

TEST(Checksum, Md5KnownValues) {
  EXPECT_EQ(rt::md5Hex(std::string()), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(rt::md5Hex(std::string("JK")), "5c3116796f5ff62adaf85580801f3fa4");
  EXPECT_EQ(rt::md5Hex(std::string("The quick brown fox jumps over the lazy dog")),
            "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Checksum, AesKnownAnswerForOneBlock) {
  // FIPS-197, AES-256 example vector.
  auto key = fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  auto plain = fromHex("00112233445566778899aabbccddeeff");
  auto cipher = fromHex("8ea2b7ca516745bfeafc49904b496089");
  std::vector<uint8_t> out(16);
  ASSERT_TRUE(rt::aesEncipherCts(plain.data(), out.data(), 16, key.data()));
  EXPECT_EQ(out, cipher);
  ASSERT_TRUE(rt::aesDecipherCts(cipher.data(), out.data(), 16, key.data()));
  EXPECT_EQ(out, plain);
}

TEST(Checksum, AesShortInputFails) {
  uint8_t in[16] = {};
  uint8_t out[16] = {};
  for (size_t length = 0; length < 16; ++length) {
    EXPECT_FALSE(rt::aesDecipherCts(in, out, length, gameKey()));
    EXPECT_FALSE(rt::aesEncipherCts(in, out, length, gameKey()));
  }
}

TEST(Checksum, AesCiphertextStealingRoundTripsEveryLength) {
  for (size_t length = 16; length <= 100; ++length) {
    auto plain = randomBytes(length, static_cast<uint32_t>(length));
    std::vector<uint8_t> cipher(length), back(length);
    ASSERT_TRUE(rt::aesEncipherCts(plain.data(), cipher.data(), length, gameKey()));
    ASSERT_TRUE(rt::aesDecipherCts(cipher.data(), back.data(), length, gameKey()));
    EXPECT_EQ(back, plain) << "length " << length;
    EXPECT_NE(cipher, plain);
  }
}

TEST(Checksum, AesRoundTripsLargeBlocks) {
  for (size_t length : {4096u, 5000u, 12345u}) {
    auto plain = randomBytes(length, 7);
    std::vector<uint8_t> cipher(length), back(length);
    ASSERT_TRUE(rt::aesEncipherCts(plain.data(), cipher.data(), length, gameKey()));
    ASSERT_TRUE(rt::aesDecipherCts(cipher.data(), back.data(), length, gameKey()));
    EXPECT_EQ(back, plain);
  }
}

// Builds the stolen layout by hand from single-block ECB, following the deciphering rule, so a
// mistake shared by both directions cannot hide.
TEST(Checksum, AesStealingMatchesTheBlockRule) {
  const size_t length = 37;  // two full blocks and 5 bytes
  auto cipher = randomBytes(length, 99);
  std::vector<uint8_t> expected(length);
  uint8_t d[16];
  ASSERT_TRUE(rt::aesDecipherCts(cipher.data(), expected.data(), 16, gameKey()));
  ASSERT_TRUE(rt::aesDecipherCts(cipher.data() + 16, d, 16, gameKey()));
  memcpy(expected.data() + 32, d, 5);
  uint8_t joined[16];
  memcpy(joined, cipher.data() + 32, 5);
  memcpy(joined + 5, d + 5, 11);
  ASSERT_TRUE(rt::aesDecipherCts(joined, expected.data() + 16, 16, gameKey()));

  std::vector<uint8_t> out(length);
  ASSERT_TRUE(rt::aesDecipherCts(cipher.data(), out.data(), length, gameKey()));
  EXPECT_EQ(out, expected);
}
