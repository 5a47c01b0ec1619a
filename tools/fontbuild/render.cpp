// FreeType side of the font builder: glyph bitmaps, metrics and the font's kerning table.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>

#include "runtime/containers.h"
#include "tools/fontbuild/fontbuild.h"

namespace {

// The Unicode code point of a Windows-1252 byte, or 0 for bytes that are no printable
// character (controls and the five unassigned codes, which the code page table maps to C1
// controls).
uint32_t printableCodePoint(uint8_t code) {
  std::string utf8 = rt::cp1252ToUtf8(std::string(1, static_cast<char>(code)));
  const auto* b = reinterpret_cast<const uint8_t*>(utf8.data());
  uint32_t cp = 0;
  if (utf8.size() == 1) cp = b[0];
  if (utf8.size() == 2) cp = (b[0] & 0x1Fu) << 6 | (b[1] & 0x3Fu);
  if (utf8.size() == 3) cp = (b[0] & 0x0Fu) << 12 | (b[1] & 0x3Fu) << 6 | (b[2] & 0x3Fu);
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return 0;
  return cp;
}

int roundedPixels(FT_Pos value) { return static_cast<int>(std::lround(value / 64.0)); }

bool renderGlyph(FT_Face face, uint8_t code, FT_UInt index, RenderedGlyph* out) {
  if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_RENDER) != 0) return false;
  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.rows > 0) return false;
  out->code = code;
  out->left = slot->bitmap_left;
  out->top = slot->bitmap_top;
  out->advance = roundedPixels(slot->advance.x);
  out->width = static_cast<int>(bitmap.width);
  out->height = static_cast<int>(bitmap.rows);
  out->coverage.assign(static_cast<size_t>(out->width * out->height), 0);
  for (int y = 0; y < out->height; ++y) {
    const uint8_t* row = bitmap.buffer + static_cast<ptrdiff_t>(y) * bitmap.pitch;
    uint8_t* to = out->coverage.data() + static_cast<ptrdiff_t>(y) * out->width;
    for (int x = 0; x < out->width; ++x) to[x] = row[x];
  }
  return true;
}

// Pairs among the rendered characters whose grid-fitted amount is at least a pixel.
void readKerning(FT_Face face, const std::vector<FT_UInt>& indices, RenderedFont* font) {
  if (!FT_HAS_KERNING(face)) return;
  const size_t n = font->glyphs.size();
  for (size_t a = 0; a < n; ++a) {
    for (size_t b = 0; b < n; ++b) {
      if (!indices[a] || !indices[b]) continue;
      FT_Vector delta{};
      if (FT_Get_Kerning(face, indices[a], indices[b], FT_KERNING_DEFAULT, &delta) != 0) continue;
      const int amount = roundedPixels(delta.x);
      if (amount == 0) continue;
      font->kerning.push_back(TypefaceKerningRecord{font->glyphs[a].code, font->glyphs[b].code,
                                                    static_cast<int16_t>(amount)});
    }
  }
}

// The game measures its line height with "|", so the bar's quad reaches up to the top of the
// line: empty rows above the ink, which nobody sees.
void reachLineTop(RenderedGlyph* g, int ascender) {
  const int extra = ascender - g->top;
  if (extra <= 0 || g->width == 0) return;
  g->coverage.insert(g->coverage.begin(), static_cast<size_t>(extra * g->width), 0);
  g->height += extra;
  g->top = ascender;
}

// The face at pixelSize pixels per em, or null with a message.
FT_Face openFace(FT_Library library, const std::string& path, int pixelSize, std::string* error) {
  FT_Face face = nullptr;
  if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
    *error = "cannot open " + path;
    return nullptr;
  }
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize)) != 0) {
    *error = "cannot size " + path;
    FT_Done_Face(face);
    return nullptr;
  }
  return face;
}

}  // namespace

bool RenderFont(const std::string& fontPath, const std::string& fallbackPath, int pixelSize,
                RenderedFont* out, std::string* error) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    *error = "cannot start FreeType";
    return false;
  }
  FT_Face face = openFace(library, fontPath, pixelSize, error);
  FT_Face fallback = nullptr;
  bool ok = face != nullptr;
  if (ok && !fallbackPath.empty()) {
    fallback = openFace(library, fallbackPath, pixelSize, error);
    ok = fallback != nullptr;
  }
  // Index 0 marks a glyph from the fallback, which has no kerning with the font's own.
  std::vector<FT_UInt> indices;
  if (ok) {
    *out = RenderedFont{};
    out->ascender = roundedPixels(face->size->metrics.ascender);
    out->lineHeight = roundedPixels(face->size->metrics.height);
    for (int code = 32; code < 256; ++code) {
      const uint32_t cp = printableCodePoint(static_cast<uint8_t>(code));
      if (!cp) continue;
      RenderedGlyph glyph;
      FT_UInt index = FT_Get_Char_Index(face, cp);
      if (!index || !renderGlyph(face, static_cast<uint8_t>(code), index, &glyph)) {
        index = 0;
        const FT_UInt other = fallback ? FT_Get_Char_Index(fallback, cp) : 0;
        ok = other && renderGlyph(fallback, static_cast<uint8_t>(code), other, &glyph);
        if (!ok) {
          char what[64];
          snprintf(what, sizeof what, "no glyph for 0x%02X (U+%04X) in ", code,
                   static_cast<unsigned>(cp));
          *error = what + fontPath + (fallback ? " nor in " + fallbackPath : "");
          break;
        }
        out->fromFallback.push_back(static_cast<uint8_t>(code));
      }
      if (code == '|') reachLineTop(&glyph, out->ascender);
      out->glyphs.push_back(std::move(glyph));
      indices.push_back(index);
    }
  }
  if (ok) readKerning(face, indices, out);
  if (fallback) FT_Done_Face(fallback);
  if (face) FT_Done_Face(face);
  FT_Done_FreeType(library);
  return ok;
}
