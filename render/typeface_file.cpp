#include "render/typeface_file.h"

#include <cstring>

#include "runtime/checksum.h"

namespace {

uint16_t readU16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
int16_t readI16(const uint8_t* at) { return static_cast<int16_t>(readU16(at)); }

uint32_t readU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void putU16(std::vector<uint8_t>* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void putI16(std::vector<uint8_t>* out, int16_t value) { putU16(out, static_cast<uint16_t>(value)); }

void putU32(std::vector<uint8_t>* out, uint32_t value) {
  putU16(out, static_cast<uint16_t>(value));
  putU16(out, static_cast<uint16_t>(value >> 16));
}

void setU32(std::vector<uint8_t>* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TypefaceGlyphRecord readGlyph(const uint8_t* at) {
  TypefaceGlyphRecord g;
  g.code = readU16(at);
  g.xOffset = readI16(at + 2);
  g.yOffset = readI16(at + 4);
  g.advance = readI16(at + 6);
  g.baseline = readI16(at + 8);
  g.sourceX = readI16(at + 10);
  g.sourceY = readI16(at + 12);
  g.width = readI16(at + 14);
  g.height = readI16(at + 16);
  return g;
}

TypefaceKerningRecord readKerning(const uint8_t* at) {
  return TypefaceKerningRecord{readU16(at), readU16(at + 2), readI16(at + 4)};
}

}  // namespace

TypefaceParseResult ParseTypefaceFile(std::span<const uint8_t> bytes, TypefaceFile* out) {
  *out = TypefaceFile{};
  const size_t length = bytes.size();
  const uint8_t* data = bytes.data();
  if (length < sizeof kTypefaceIdentification ||
      std::memcmp(data, kTypefaceIdentification, sizeof kTypefaceIdentification) != 0) {
    return kTypefaceBadIdentification;
  }
  if (length < kTypefaceHeaderSize) return kTypefaceBadChecksum;
  const uint64_t covered = readU32(data + 8);
  if (covered > length - kTypefaceHeaderSize) return kTypefaceBadChecksum;
  if (rt::crc32(data + kTypefaceHeaderSize, covered) != readU32(data + 12)) {
    return kTypefaceBadChecksum;
  }

  // 64-bit sums: the counts are the file's word and may be anything.
  const uint64_t glyphCount = readU32(data + 16);
  const uint64_t kerningCount = readU32(data + 20);
  const uint64_t glyphsAt = kTypefaceHeaderSize;
  const uint64_t kerningAt = glyphsAt + glyphCount * kTypefaceGlyphRecordSize;
  const uint64_t pictureAt = kerningAt + kerningCount * kTypefaceKerningRecordSize;
  if (pictureAt > length) return kTypefaceBadChecksum;

  out->glyphs.reserve(glyphCount);
  for (uint64_t i = 0; i < glyphCount; ++i) {
    out->glyphs.push_back(readGlyph(data + glyphsAt + i * kTypefaceGlyphRecordSize));
  }
  out->kerning.reserve(kerningCount);
  for (uint64_t i = 0; i < kerningCount; ++i) {
    out->kerning.push_back(readKerning(data + kerningAt + i * kTypefaceKerningRecordSize));
  }
  out->picture = bytes.subspan(pictureAt);
  return kTypefaceParsed;
}

std::vector<uint8_t> WriteTypefaceFile(const TypefaceFile& file) {
  std::vector<uint8_t> out(kTypefaceIdentification, kTypefaceIdentification + 8);
  putU32(&out, 0);  // CRC length and CRC, filled in below
  putU32(&out, 0);
  putU32(&out, static_cast<uint32_t>(file.glyphs.size()));
  putU32(&out, static_cast<uint32_t>(file.kerning.size()));
  for (const TypefaceGlyphRecord& g : file.glyphs) {
    putU16(&out, g.code);
    for (int16_t v : {g.xOffset, g.yOffset, g.advance, g.baseline, g.sourceX, g.sourceY, g.width,
                      g.height}) {
      putI16(&out, v);
    }
  }
  for (const TypefaceKerningRecord& k : file.kerning) {
    putU16(&out, k.first);
    putU16(&out, k.second);
    putI16(&out, k.amount);
  }
  out.insert(out.end(), file.picture.begin(), file.picture.end());
  const size_t covered = out.size() - kTypefaceHeaderSize;
  setU32(&out, 8, static_cast<uint32_t>(covered));
  setU32(&out, 12, rt::crc32(out.data() + kTypefaceHeaderSize, covered));
  return out;
}
