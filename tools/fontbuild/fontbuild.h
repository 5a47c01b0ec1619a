// What the font builder's steps hand each other: rendered glyphs, kerning pairs and the atlas.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/screen.h"
#include "render/typeface_file.h"

struct RenderedGlyph {
  uint8_t code = 0;  // Windows-1252
  int left = 0;      // pen to the bitmap's left edge
  int top = 0;       // baseline up to the bitmap's top edge
  int advance = 0;
  int width = 0, height = 0;
  std::vector<uint8_t> coverage;  // width * height, 0..255
  int atlasX = 0, atlasY = 0;     // filled by the packer
};

struct RenderedFont {
  int ascender = 0;  // top of the line to the baseline
  int lineHeight = 0;
  std::vector<RenderedGlyph> glyphs;
  std::vector<TypefaceKerningRecord> kerning;
  std::vector<uint8_t> fromFallback;  // codes the font lacks, taken from the fallback face
};

// Renders every printable Windows-1252 character at pixelSize pixels per em, grey anti-aliased,
// from the font or, where it has no glyph, from the fallback (none when the path is empty), and
// reads the font's kerning pairs among its own. False (with a message) on failure, and when a
// character is in neither face: the game has no way to draw it.
bool RenderFont(const std::string& fontPath, const std::string& fallbackPath, int pixelSize,
                RenderedFont* out, std::string* error);

// Places the glyphs in one picture, padding pixels apart, and returns it: white, with the
// coverage in alpha, so the game can tint it.
rt::Pixels PackAtlas(RenderedFont* font, int padding);

// The glyph and kerning records for a packed font.
TypefaceFile TypefaceRecords(const RenderedFont& font);

// A picture for people: the atlas on a dark ground and sample lines laid out with the records.
rt::Pixels PreviewPicture(const RenderedFont& font, const rt::Pixels& atlas,
                          const std::vector<std::string>& samples);
