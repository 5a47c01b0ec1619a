// Atlas packing, the .tf records and the preview picture of the font builder.
#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "tools/fontbuild/fontbuild.h"

namespace {

constexpr uint8_t kGround[3] = {0x20, 0x22, 0x2A};
constexpr int kMargin = 8;

bool blank(const RenderedGlyph& g) { return g.width == 0 || g.height == 0; }

int atlasWidthFor(const RenderedFont& font, int padding) {
  int64_t area = 0;
  int widest = 0;
  for (const RenderedGlyph& g : font.glyphs) {
    if (!blank(g)) area += int64_t{g.width + padding} * (g.height + padding);
    widest = std::max(widest, g.width + 2 * padding);
  }
  // Shelves waste some room; a power of two keeps old drivers happy.
  const double side = std::sqrt(static_cast<double>(area) * 1.2);
  int width = 64;
  while (width < side || width < widest) width *= 2;
  return width;
}

// Blends white at the given coverage over the pixel.
void blendWhite(rt::Pixels* p, int x, int y, uint8_t coverage) {
  if (x < 0 || y < 0 || x >= p->width || y >= p->height || coverage == 0) return;
  uint8_t* px = &p->rgba[static_cast<size_t>((y * p->width + x) * 4)];
  for (int c = 0; c < 3; ++c) px[c] = static_cast<uint8_t>(px[c] + (255 - px[c]) * coverage / 255);
}

void fillGround(rt::Pixels* p) {
  for (size_t i = 0; i < p->rgba.size(); i += 4) {
    p->rgba[i] = kGround[0];
    p->rgba[i + 1] = kGround[1];
    p->rgba[i + 2] = kGround[2];
    p->rgba[i + 3] = 255;
  }
}

void drawCoverage(rt::Pixels* p, const RenderedGlyph& g, int x, int y) {
  for (int row = 0; row < g.height; ++row) {
    for (int col = 0; col < g.width; ++col) {
      blendWhite(p, x + col, y + row, g.coverage[static_cast<size_t>(row * g.width + col)]);
    }
  }
}

struct Layout {
  std::map<uint8_t, const RenderedGlyph*> glyphs;
  std::map<std::pair<uint8_t, uint8_t>, int> kerning;
};

Layout layoutTables(const RenderedFont& font) {
  Layout layout;
  for (const RenderedGlyph& g : font.glyphs) layout.glyphs[g.code] = &g;
  for (const TypefaceKerningRecord& k : font.kerning) {
    layout.kerning.emplace(std::pair<uint8_t, uint8_t>(k.first, k.second), k.amount);
  }
  return layout;
}

int kerningOf(const Layout& layout, uint8_t a, uint8_t b) {
  auto it = layout.kerning.find({a, b});
  return it == layout.kerning.end() ? 0 : it->second;
}

// Lays a line out the way the game does (lead-in pair, advances, pairs with the next byte) and
// draws it when a picture is given. Returns the width.
int layOutLine(const Layout& layout, const RenderedFont& font, const std::string& text,
               rt::Pixels* p, int x, int y) {
  int pen = text.empty() ? 0 : kerningOf(layout, 0, static_cast<uint8_t>(text[0]));
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t code = static_cast<uint8_t>(text[i]);
    auto it = layout.glyphs.find(code);
    if (it == layout.glyphs.end()) continue;
    const RenderedGlyph& g = *it->second;
    if (p) drawCoverage(p, g, x + pen + g.left, y + font.ascender - g.top);
    const uint8_t next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    pen += g.advance + kerningOf(layout, code, next);
  }
  return pen;
}

}  // namespace

rt::Pixels PackAtlas(RenderedFont* font, int padding) {
  rt::Pixels atlas;
  atlas.width = atlasWidthFor(*font, padding);
  std::vector<size_t> order(font->glyphs.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return font->glyphs[a].height > font->glyphs[b].height;
  });
  int x = padding, y = padding, shelf = 0;
  for (size_t i : order) {
    RenderedGlyph& g = font->glyphs[i];
    if (blank(g)) continue;
    if (x + g.width + padding > atlas.width) {
      x = padding;
      y += shelf + padding;
      shelf = 0;
    }
    g.atlasX = x;
    g.atlasY = y;
    x += g.width + padding;
    shelf = std::max(shelf, g.height);
  }
  atlas.height = y + shelf + padding;
  atlas.rgba.assign(static_cast<size_t>(atlas.width * atlas.height * 4), 255);
  for (size_t i = 3; i < atlas.rgba.size(); i += 4) atlas.rgba[i] = 0;
  for (const RenderedGlyph& g : font->glyphs) {
    for (int row = 0; row < g.height; ++row) {
      for (int col = 0; col < g.width; ++col) {
        const auto at = static_cast<size_t>(((g.atlasY + row) * atlas.width + g.atlasX + col) * 4);
        atlas.rgba[at + 3] = g.coverage[static_cast<size_t>(row * g.width + col)];
      }
    }
  }
  return atlas;
}

TypefaceFile TypefaceRecords(const RenderedFont& font) {
  TypefaceFile file;
  for (const RenderedGlyph& g : font.glyphs) {
    TypefaceGlyphRecord r;
    r.code = g.code;
    r.advance = static_cast<int16_t>(g.advance);
    if (blank(g)) {
      // Blank quads sit at the top of the line, so that measuring a space gives the line's
      // height above the baseline.
      r.baseline = static_cast<int16_t>(font.ascender);
    } else {
      r.xOffset = static_cast<int16_t>(g.left);
      r.yOffset = static_cast<int16_t>(font.ascender - g.top);
      r.baseline = static_cast<int16_t>(g.top);
      r.sourceX = static_cast<int16_t>(g.atlasX);
      r.sourceY = static_cast<int16_t>(g.atlasY);
      r.width = static_cast<int16_t>(g.width);
      r.height = static_cast<int16_t>(g.height);
    }
    file.glyphs.push_back(r);
  }
  file.kerning = font.kerning;
  return file;
}

rt::Pixels PreviewPicture(const RenderedFont& font, const rt::Pixels& atlas,
                          const std::vector<std::string>& samples) {
  const Layout layout = layoutTables(font);
  int width = atlas.width + 2 * kMargin;
  for (const std::string& s : samples) {
    width = std::max(width, layOutLine(layout, font, s, nullptr, 0, 0) + 2 * kMargin);
  }
  rt::Pixels p;
  p.width = width;
  p.height = atlas.height + 3 * kMargin + static_cast<int>(samples.size()) * font.lineHeight;
  p.rgba.resize(static_cast<size_t>(p.width * p.height * 4));
  fillGround(&p);
  for (int y = 0; y < atlas.height; ++y) {
    for (int x = 0; x < atlas.width; ++x) {
      const uint8_t coverage = atlas.rgba[static_cast<size_t>((y * atlas.width + x) * 4 + 3)];
      blendWhite(&p, kMargin + x, kMargin + y, coverage);
    }
  }
  int y = atlas.height + 2 * kMargin;
  for (const std::string& s : samples) {
    layOutLine(layout, font, s, &p, kMargin, y);
    y += font.lineHeight;
  }
  return p;
}
