// The JC packer: the writing side of rt::jcUnpack, used by our content tools (the game itself only
// unpacks).
//
// JcPack is an LZ77 packer with an optimal parse over the format's fixed bit costs. The token
// writer below is what it emits through; tests use it to build streams token by token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A whole JC block: "JC", plain size, checksum, bit stream. Empty for an empty input (an empty
// JC block counts as a failure when unpacked, so empty content must be stored unpacked) and for
// inputs of 4 GiB or more, which the header cannot describe.
std::vector<uint8_t> JcPack(const uint8_t* data, size_t length);

// ---- Token writer ----------------------------------------------------------------------------

struct JcStream {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(10);  // header room, then whole words
  uint64_t pending = 0;  // bits not yet in a word, the latest in the low bits
  int pendingCount = 0;
  int literalWidth = 8;  // as the stream has set them; literals before the first JcSetLiterals
  int literalBase = 0;   // are written with width 8, base 0
  int indexWidth = 8;
};

void JcBegin(JcStream& s);  // starts afresh; JcFinish does the same after its block
void JcPutBits(JcStream& s, uint32_t value, int count);  // count 0..32, most significant first
void JcPutGamma(JcStream& s, uint64_t value);            // value >= 2

// value must lie in the literal window: (value - base) mod 256 < 2^width.
void JcLiteral(JcStream& s, uint8_t value);
void JcZeroByte(JcStream& s);
void JcOneByteMatch(JcStream& s, uint32_t distance);                 // 1..14
void JcShortMatch(JcStream& s, uint32_t distance, uint32_t length);  // 1..127, 2..5
// A match at a new distance; length - the distance's bonus must be at least 2.
void JcLongMatch(JcStream& s, uint64_t distance, uint64_t length);
void JcRepeatMatch(JcStream& s, uint64_t length);  // at the last distance, length >= 2
// runs * 256 bytes copied as they are.
void JcRawRuns(JcStream& s, const uint8_t* bytes, size_t runs);
void JcSetLiterals(JcStream& s, int width, int base);  // width 7 (with base) or 8
void JcSetIndexWidth(JcStream& s, int width);          // 0..63
// Writes the end code and the header for the given plain content; checksum as the packer sets
// it unless told otherwise (0 means "not checked").
std::vector<uint8_t> JcFinish(JcStream& s, const uint8_t* plain, size_t length);
std::vector<uint8_t> JcFinish(JcStream& s, uint32_t plainSize, uint32_t checksum);

// The length bonus of a long match at this distance (4, 0, 1, 2 or 3).
int JcLengthBonus(uint64_t distance);
