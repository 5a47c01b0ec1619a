// The .tf typeface file: a header, glyph records, kerning records and the glyph picture.
//
//   0   8 bytes  identification (kTypefaceIdentification)
//   8   u32      number of bytes covered by the CRC, counted from offset 24
//   12  u32      CRC-32 of those bytes
//   16  u32      G, glyph records (18 bytes each)
//   20  u32      K, kerning records (6 bytes each)
//   24           glyph records, kerning records, then a complete picture file (PNG, JPEG, BMP)
//
// Typeface files arrive inside archives that players may download, so the parser checks every
// count against the bytes that are really there before it reads or allocates anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr uint8_t kTypefaceIdentification[8] = {0x54, 0x83, 0x7C, 0x31,
                                                       0x2E, 0x33, 0x30, 0x7C};
inline constexpr size_t kTypefaceHeaderSize = 24;
inline constexpr size_t kTypefaceGlyphRecordSize = 18;
inline constexpr size_t kTypefaceKerningRecordSize = 6;

struct TypefaceGlyphRecord {
  uint16_t code = 0;  // above 255: ignored by the reader
  int16_t xOffset = 0;   // pen to the quad's left edge
  int16_t yOffset = 0;   // pen (top of the line) to the quad's top edge
  int16_t advance = 0;
  int16_t baseline = 0;  // quad's top edge to the baseline
  int16_t sourceX = 0, sourceY = 0;
  int16_t width = 0, height = 0;
};

struct TypefaceKerningRecord {
  uint16_t first = 0;   // 0: before the first character of a text
  uint16_t second = 0;  // 0: after the last character
  int16_t amount = 0;
};

// What a .tf file holds. After parsing, picture points into the parsed bytes.
struct TypefaceFile {
  std::vector<TypefaceGlyphRecord> glyphs;
  std::vector<TypefaceKerningRecord> kerning;
  std::span<const uint8_t> picture;
};

// Parse results, numbered like the typeface error codes.
enum TypefaceParseResult : int32_t {
  kTypefaceParsed = 0,
  kTypefaceBadIdentification = 2,
  kTypefaceBadChecksum = 3,  // also: counts that point past the end of the file
};

// Checks the identification before anything else, then the CRC over the counted bytes, then
// that the records fit in the file.
TypefaceParseResult ParseTypefaceFile(std::span<const uint8_t> bytes, TypefaceFile* out);

// A complete .tf file whose CRC covers everything after the header.
std::vector<uint8_t> WriteTypefaceFile(const TypefaceFile& file);
