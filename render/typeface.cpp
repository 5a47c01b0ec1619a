#include "render/typeface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "data/archive.h"
#include "render/typeface_file.h"
#include "runtime/log.h"
#include "runtime/screen.h"

static_assert(static_cast<int32_t>(kTypefaceBadIdentification) == kTypefaceWrongIdentification);
static_assert(static_cast<int32_t>(kTypefaceBadChecksum) == kTypefaceWrongChecksum);

namespace {

// A prime, so that pairs of neighbouring codes spread over the buckets.
constexpr uint64_t kKerningBuckets = 701;
constexpr float kKeepFloat = static_cast<float>(kTypefaceKeep);

struct Glyph {
  bool present = false;
  int xOffset = 0, yOffset = 0, advance = 0, baseline = 0, width = 0, height = 0;
  int sourceX = 0, sourceY = 0;
  float left = 0, top = 0, right = 0, bottom = 0;  // texture rectangle, 0..1
};

struct KerningPair {
  uint64_t key = 0;
  int amount = 0;
};

struct Typeface {
  uint32_t flags = 0;
  float scale = 1.0f;
  int32_t alpha = 255;
  uint32_t colour = 0xFFFFFF;
  float shear = 0;
  float rotation = 0;
  float spacing = 0;
  bool clipping = false;
  int32_t clipX = 0, clipY = 0, clipWidth = 65535, clipHeight = 65535;
  rt::Handle picture = 0;
  rt::Handle quad = 0;
  std::array<Glyph, 256> glyphs;
  std::vector<std::vector<KerningPair>> kerning;  // empty, or kKerningBuckets chains

  Typeface() = default;
  Typeface(const Typeface&) = delete;
  Typeface& operator=(const Typeface&) = delete;
  ~Typeface() {
    if (quad) rt::freeSprite3D(quad);
    if (picture) rt::freeSprite(picture);
  }
};

int32_t lastError = kTypefaceNoError;

rt::ObjectTable<Typeface>& typefaces() {
  // Typefaces free sprites when they go, so the screen's tables must outlive this one: touching
  // them first makes them be destroyed after it at exit.
  [[maybe_unused]] static const bool screenFirst = rt::spriteExists(0);
  static rt::ObjectTable<Typeface> table;
  return table;
}

// Texts are zero-terminated byte strings; a NUL inside ends them.
std::string_view untilNul(std::string_view text) {
  size_t end = text.find('\0');
  return end == std::string_view::npos ? text : text.substr(0, end);
}

uint8_t byteAt(std::string_view text, size_t i) {
  return i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

bool kerningOn(const Typeface& tf) { return (tf.flags & kTypefaceKerning) != 0; }

uint64_t kerningKey(uint32_t first, uint32_t second) {
  return static_cast<uint64_t>(first) + static_cast<uint64_t>(second) * 65536;
}

// The first pair stored under the key wins; pairs are appended in file order.
int kerning(const Typeface& tf, uint32_t first, uint32_t second) {
  if (!kerningOn(tf) || tf.kerning.empty()) return 0;
  uint64_t key = kerningKey(first, second);
  for (const KerningPair& pair : tf.kerning[key % kKerningBuckets]) {
    if (pair.key == key) return pair.amount;
  }
  return 0;
}

void storeGlyphs(Typeface* tf, const std::vector<TypefaceGlyphRecord>& records) {
  for (const TypefaceGlyphRecord& r : records) {
    if (r.code > 255) continue;
    Glyph& g = tf->glyphs[r.code];
    g = Glyph{};
    g.present = true;
    g.xOffset = r.xOffset;
    g.yOffset = r.yOffset;
    g.advance = r.advance;
    g.baseline = r.baseline;
    g.width = r.width;
    g.height = r.height;
    g.sourceX = r.sourceX;
    g.sourceY = r.sourceY;
  }
}

void storeKerning(Typeface* tf, const std::vector<TypefaceKerningRecord>& records) {
  if (records.empty()) {
    tf->flags &= ~kTypefaceKerning;
    return;
  }
  tf->kerning.assign(kKerningBuckets, {});
  for (const TypefaceKerningRecord& r : records) {
    if (r.first > 255 || r.second > 255) continue;
    uint64_t key = kerningKey(r.first, r.second);
    tf->kerning[key % kKerningBuckets].push_back(KerningPair{key, r.amount});
  }
}

void computeTextureRectangles(Typeface* tf) {
  const float width = static_cast<float>(rt::spriteWidth(tf->picture));
  const float height = static_cast<float>(rt::spriteHeight(tf->picture));
  for (Glyph& g : tf->glyphs) {
    if (!g.present) continue;
    g.left = static_cast<float>(g.sourceX) / width;
    g.top = static_cast<float>(g.sourceY) / height;
    g.right = static_cast<float>(g.sourceX + g.width) / width;
    g.bottom = static_cast<float>(g.sourceY + g.height) / height;
  }
}

std::unique_ptr<Typeface> buildTypeface(std::span<const uint8_t> bytes, uint32_t flags) {
  auto tf = std::make_unique<Typeface>();
  tf->flags = flags;
  TypefaceFile file;
  TypefaceParseResult parsed = ParseTypefaceFile(bytes, &file);
  if (parsed != kTypefaceParsed) {
    lastError = parsed;
    return nullptr;
  }
  storeGlyphs(tf.get(), file.glyphs);
  storeKerning(tf.get(), file.kerning);
  tf->picture = rt::createSpriteFromMemory(rt::kAnyNumber, file.picture.data(),
                                           file.picture.size());
  if (!tf->picture) {
    lastError = kTypefaceSpriteFailed;
    return nullptr;
  }
  tf->quad = rt::createSprite3D(rt::kAnyNumber, tf->picture);
  if (!tf->quad) {
    lastError = kTypefaceSprite3DFailed;
    return nullptr;
  }
  computeTextureRectangles(tf.get());
  return tf;
}

// ---- Drawing ------------------------------------------------------------------------------

// What one DrawText call draws with, after the stored values have filled in the defaults.
struct TextStyle {
  int32_t alpha = 255;
  float scale = 1;
  float shearTangent = 0;
};

// Corner offsets from the pen, in the screen's order: top-left, top-right, bottom-right,
// bottom-left. Shear leans the glyph about its baseline row.
void glyphCorners(const Glyph& g, float scale, float t, rt::Vec2 out[4]) {
  const float w = static_cast<float>(g.width) * scale;
  const float h = static_cast<float>(g.height) * scale;
  const float lean = static_cast<float>(g.baseline) * t;
  const rt::Vec2 topLeft{(static_cast<float>(g.xOffset) + lean) * scale,
                         static_cast<float>(g.yOffset) * scale};
  const rt::Vec2 bottomLeft{topLeft.x - h * t, topLeft.y + h};
  out[0] = topLeft;
  out[1] = {topLeft.x + w, topLeft.y};
  out[2] = {bottomLeft.x + w, bottomLeft.y};
  out[3] = bottomLeft;
}

void glyphUv(const Glyph& g, rt::Vec2 out[4]) {
  out[0] = {g.left, g.top};
  out[1] = {g.right, g.top};
  out[2] = {g.right, g.bottom};
  out[3] = {g.left, g.bottom};
}

// The point at fractions (u across, v down) of a parallelogram given by its corners.
rt::Vec2 pointAt(const rt::Vec2 q[4], float u, float v) {
  return {q[0].x + (q[1].x - q[0].x) * u + (q[3].x - q[0].x) * v,
          q[0].y + (q[1].y - q[0].y) * u + (q[3].y - q[0].y) * v};
}

float clamp01(float f) { return f < 0 ? 0 : f > 1 ? 1 : f; }

// Cuts the glyph at the clip rectangle. The cut is measured on the glyph's upright box; corners
// and texture coordinates move by the same fractions, so the visible part keeps its proportions.
// Corners are relative to the pen. False when nothing of the glyph is left to draw.
bool clipGlyph(const Typeface& tf, const Glyph& g, rt::Vec2 pen, float scale, rt::Vec2 corners[4],
               rt::Vec2 uv[4]) {
  const float left = static_cast<float>(g.xOffset) * scale;
  const float top = static_cast<float>(g.yOffset) * scale;
  const float right = left + static_cast<float>(g.width) * scale;
  const float bottom = top + static_cast<float>(g.height) * scale;
  if (!(right > left && bottom > top)) return false;  // a zero or mirrored scale
  const float clipLeft = static_cast<float>(tf.clipX) - pen.x;
  const float clipTop = static_cast<float>(tf.clipY) - pen.y;
  const float clipRight = clipLeft + static_cast<float>(tf.clipWidth);
  const float clipBottom = clipTop + static_cast<float>(tf.clipHeight);
  if (right < clipLeft || bottom < clipTop || left > clipRight || top > clipBottom) return false;

  const float u0 = clamp01((clipLeft - left) / (right - left));
  const float u1 = 1 - clamp01((right - clipRight) / (right - left));
  const float v0 = clamp01((clipTop - top) / (bottom - top));
  const float v1 = 1 - clamp01((bottom - clipBottom) / (bottom - top));
  if (u1 <= u0 || v1 <= v0) return false;

  const rt::Vec2 q[4] = {corners[0], corners[1], corners[2], corners[3]};
  corners[0] = pointAt(q, u0, v0);
  corners[1] = pointAt(q, u1, v0);
  corners[2] = pointAt(q, u1, v1);
  corners[3] = pointAt(q, u0, v1);
  const rt::Vec2 t[4] = {uv[0], uv[1], uv[2], uv[3]};
  uv[0] = pointAt(t, u0, v0);
  uv[1] = pointAt(t, u1, v0);
  uv[2] = pointAt(t, u1, v1);
  uv[3] = pointAt(t, u0, v1);
  return true;
}

void rotateCorners(rt::Vec2 corners[4], float c, float s) {
  for (int i = 0; i < 4; ++i) {
    const rt::Vec2 p = corners[i];
    corners[i] = {p.x * c - p.y * s, p.x * s + p.y * c};
  }
}

// Corners relative to the pen, so the pen is the display point.
void drawGlyph(const Typeface& tf, rt::Vec2 pen, const rt::Vec2 corners[4], const rt::Vec2 uv[4],
               int32_t alpha) {
  rt::transformSprite3D(tf.quad, corners);
  rt::setSprite3DTexCoords(tf.quad, uv);
  rt::displaySprite3D(tf.quad, pen.x, pen.y, alpha);
}

// Draws one glyph whose pen lies at distance d along the text from the start point.
void placeGlyph(const Typeface& tf, const Glyph& g, rt::Vec2 start, float d, const TextStyle& style,
                float c, float s) {
  if (g.width <= 0 || g.height <= 0) return;  // blanks have nothing to show
  rt::Vec2 corners[4], uv[4];
  glyphCorners(g, style.scale, style.shearTangent, corners);
  glyphUv(g, uv);
  if (tf.rotation != 0) {
    rotateCorners(corners, c, s);
    drawGlyph(tf, {start.x + d * c, start.y + d * s}, corners, uv, style.alpha);
    return;
  }
  const rt::Vec2 pen{start.x + d, start.y};
  if (tf.clipping && !clipGlyph(tf, g, pen, style.scale, corners, uv)) return;
  drawGlyph(tf, pen, corners, uv, style.alpha);
}

}  // namespace

// ---- Loading --------------------------------------------------------------------------------

rt::Handle LoadTypefaceFromMemory(int32_t number, std::span<const uint8_t> bytes, uint32_t flags) {
  if (number < rt::kAnyNumber || number > rt::kMaxNumber) {
    lastError = kTypefaceBadNumber;
    return 0;
  }
  rt::Handle handle = typefaces().create(number, [&] { return buildTypeface(bytes, flags); });
  if (!handle) rt::logLine("FONT", "typeface %d not loaded (error %d)", number, lastError);
  return handle;
}

rt::Handle LoadTypeface(uint32_t archive, int32_t number, const std::string& entry,
                        uint32_t flags) {
  std::vector<uint8_t> bytes = ReadArchiveEntry(archive, entry);
  // The reader adds 8 zero bytes after the content; they are not part of the file.
  if (bytes.size() < 8) {
    rt::logLine("FONT", "no entry %s for typeface %d", entry.c_str(), number);
    return 0;
  }
  return LoadTypefaceFromMemory(number, std::span(bytes.data(), bytes.size() - 8), flags);
}

void FreeTypeface(uint32_t typeface) { typefaces().free(typeface); }
bool TypefaceExists(uint32_t typeface) { return typefaces().exists(typeface); }

// ---- Drawing and measuring ------------------------------------------------------------------

void DrawText(uint32_t typeface, float x, float y, std::string_view text, int32_t alpha,
              uint32_t colour, float scale, float shear) {
  const Typeface* tf = typefaces().find(typeface);
  text = untilNul(text);
  if (!tf || text.empty()) return;
  TextStyle style;
  style.alpha = alpha == kTypefaceKeep ? tf->alpha : alpha;
  style.scale = scale == kKeepFloat ? tf->scale : scale;
  const float degrees = shear == kKeepFloat ? tf->shear : shear;
  style.shearTangent = static_cast<float>(std::tan(degrees * std::numbers::pi / 180.0));
  TintSprite3D(tf->quad, colour == kTypefaceKeepColour ? tf->colour : colour);

  const double radians = tf->rotation * std::numbers::pi / 180.0;
  const float c = static_cast<float>(std::cos(radians)), s = static_cast<float>(std::sin(radians));
  const rt::Vec2 start{x - 0.5f, y - 0.5f};
  float d = static_cast<float>(kerning(*tf, 0, byteAt(text, 0))) * style.scale;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t code = byteAt(text, i);
    const Glyph& g = tf->glyphs[code];
    if (!g.present) continue;
    placeGlyph(*tf, g, start, d, style, c, s);
    d += (static_cast<float>(g.advance) + tf->spacing) * style.scale;
    d += static_cast<float>(kerning(*tf, code, byteAt(text, i + 1))) * style.scale;
  }
}

float TextWidth(uint32_t typeface, std::string_view text, float scale) {
  const Typeface* tf = typefaces().find(typeface);
  text = untilNul(text);
  if (!tf || text.empty()) return 0;
  if (scale == kKeepFloat) scale = tf->scale;
  int width = kerning(*tf, 0, byteAt(text, 0));
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t code = byteAt(text, i);
    if (!tf->glyphs[code].present) continue;
    width += tf->glyphs[code].advance + kerning(*tf, code, byteAt(text, i + 1));
  }
  return static_cast<float>(width) * scale;
}

float TextHeight(uint32_t typeface, std::string_view text, float scale) {
  const Typeface* tf = typefaces().find(typeface);
  text = untilNul(text);
  if (!tf) return 0;
  if (scale == kKeepFloat) scale = tf->scale;
  bool any = false;
  int tallest = 0;
  for (char ch : text) {
    const Glyph& g = tf->glyphs[static_cast<uint8_t>(ch)];
    if (!g.present) continue;
    tallest = any ? std::max(tallest, g.baseline) : g.baseline;
    any = true;
  }
  return static_cast<float>(tallest) * scale;
}

// ---- Settings -------------------------------------------------------------------------------

void SetTypefaceClip(uint32_t typeface, bool clipping, int32_t x, int32_t y, int32_t width,
                     int32_t height) {
  Typeface* tf = typefaces().find(typeface);
  if (!tf) return;
  tf->clipping = clipping;
  if (x != kTypefaceKeep) tf->clipX = x;
  if (y != kTypefaceKeep) tf->clipY = y;
  if (width != kTypefaceKeep) tf->clipWidth = width;
  if (height != kTypefaceKeep) tf->clipHeight = height;
}

void SetTypefaceRotation(uint32_t typeface, float angle, int mode) {
  Typeface* tf = typefaces().find(typeface);
  if (!tf) return;
  tf->rotation = mode == 1 ? tf->rotation + angle : angle;
  // Kept within one turn so that text spun for a long time keeps its precision.
  tf->rotation = std::fmod(tf->rotation, 360.0f);
}

void SetTypefaceSpacing(uint32_t typeface, float spacing) {
  Typeface* tf = typefaces().find(typeface);
  if (tf) tf->spacing = spacing;
}

void TintSprite3D(uint32_t sprite3D, uint32_t colour) {
  const uint32_t swapped = (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
  rt::setSprite3DColour(sprite3D, swapped);
}

// ---- Errors ---------------------------------------------------------------------------------

int32_t LastTypefaceError() { return lastError; }

std::string TypefaceErrorText(int32_t code) {
  // Windows-1252, like every text of the game.
  static const char* const kTexts[] = {
      "Kein Fehler",
      "Unzul\xE4ssige Typeface-Nummer",
      "Falsche Dateiidentifizierungsnummer",
      "Falsche Pr\xFC" "fsumme (Datei besch\xE4" "digt)",
      "Zeichensatz (Image) konnte nicht geladen werden",
      "Zeichensatz (Sprite) konnte nicht geladen werden",
      "Zeichensatz (Sprite3D) konnte nicht geladen werden",
  };
  if (code < 0 || code > 6) return "";
  return kTexts[code];
}
