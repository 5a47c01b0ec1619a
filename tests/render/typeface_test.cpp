// Typefaces on the null screen: loading .tf files, what DrawText places where (through the draw
// recorder), measuring, and the typefaces the content build makes.
#include "render/typeface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "data/archive.h"
#include "data/archive_writer.h"
#include "render/typeface_file.h"
#include "runtime/containers.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

constexpr int kPictureWidth = 100, kPictureHeight = 50;
constexpr int32_t kFont = 7;

std::vector<uint8_t> picturePng(int width = kPictureWidth, int height = kPictureHeight) {
  rt::Pixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.rgba.assign(static_cast<size_t>(width * height * 4), 255);
  std::vector<uint8_t> png;
  EXPECT_TRUE(rt::encodePng(pixels, &png));
  return png;
}

TypefaceGlyphRecord glyph(char code, int16_t xOffset, int16_t yOffset, int16_t advance,
                          int16_t baseline, int16_t sourceX, int16_t sourceY, int16_t width,
                          int16_t height) {
  return TypefaceGlyphRecord{static_cast<uint8_t>(code), xOffset, yOffset, advance, baseline,
                             sourceX, sourceY, width, height};
}

// 'A' and 'B' with ink, '|' tall and thin, ' ' blank; lead-in (0, A), lead-out (A, 0) and
// the pair (A, B).
struct TestFont {
  std::vector<uint8_t> png = picturePng();
  TypefaceFile file;
  TestFont() {
    file.glyphs = {glyph('A', 1, 2, 10, 12, 0, 0, 8, 16), glyph('B', 0, 4, 9, 10, 10, 0, 8, 12),
                   glyph('|', 2, 0, 4, 14, 20, 0, 2, 18), glyph(' ', 0, 0, 5, 13, 0, 0, 0, 0)};
    file.kerning = {{0, 'A', 3}, {'A', 0, 2}, {'A', 'B', -2}};
    file.picture = png;
  }
  std::vector<uint8_t> bytes() const { return WriteTypefaceFile(file); }
};

struct Box {
  float left, top, right, bottom;
};

void expectBox(const rt::DrawnQuad& q, Box corners, Box uv) {
  const float x[4] = {corners.left, corners.right, corners.right, corners.left};
  const float y[4] = {corners.top, corners.top, corners.bottom, corners.bottom};
  const float u[4] = {uv.left, uv.right, uv.right, uv.left};
  const float v[4] = {uv.top, uv.top, uv.bottom, uv.bottom};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(q.corners[i].x, x[i], 1e-3) << "corner " << i;
    EXPECT_NEAR(q.corners[i].y, y[i], 1e-3) << "corner " << i;
    EXPECT_NEAR(q.uv[i].x, u[i], 1e-5) << "uv " << i;
    EXPECT_NEAR(q.uv[i].y, v[i], 1e-5) << "uv " << i;
  }
}

// Screen pixels per picture pixel along both axes of an upright quad.
void expectUndistorted(const rt::DrawnQuad& q, float scale) {
  const float across =
      (q.corners[1].x - q.corners[0].x) / ((q.uv[1].x - q.uv[0].x) * kPictureWidth);
  const float down =
      (q.corners[3].y - q.corners[0].y) / ((q.uv[3].y - q.uv[0].y) * kPictureHeight);
  EXPECT_NEAR(across, scale, 1e-3);
  EXPECT_NEAR(down, scale, 1e-3);
}

class TypefaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rt::initScreenSystem(rt::Backend::Null));
    rt::setDrawRecorder(&drawn);
  }
  void TearDown() override {
    FreeTypeface(kFont);
    rt::setDrawRecorder(nullptr);
    rt::shutdownScreenSystem();
  }

  rt::Handle load(const std::vector<uint8_t>& bytes, uint32_t flags = kTypefaceKerning) {
    return LoadTypefaceFromMemory(kFont, bytes, flags);
  }
  rt::Handle loadTestFont() { return load(TestFont().bytes()); }

  std::vector<rt::DrawnQuad> drawn;
};

// ---- Loading ------------------------------------------------------------------------------

TEST_F(TypefaceTest, WrongIdentificationFailsBeforeTheChecksumIsRead) {
  std::vector<uint8_t> good = TestFont().bytes();
  for (size_t i = 0; i < 8; ++i) {
    std::vector<uint8_t> bad = good;
    bad[i] ^= 0x01;
    bad[12] ^= 0xFF;  // a broken checksum must not be what is reported
    EXPECT_EQ(load(bad), 0u) << "byte " << i;
    EXPECT_EQ(LastTypefaceError(), kTypefaceWrongIdentification) << "byte " << i;
  }
  EXPECT_EQ(load(std::vector<uint8_t>(good.begin(), good.begin() + 5)), 0u);
  EXPECT_EQ(LastTypefaceError(), kTypefaceWrongIdentification);
}

TEST_F(TypefaceTest, OneChangedByteAfterTheHeaderFailsTheChecksum) {
  std::vector<uint8_t> good = TestFont().bytes();
  for (size_t at : {size_t{24}, size_t{24 + 18 * 2 + 5}, good.size() / 2, good.size() - 1}) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x40;
    EXPECT_EQ(load(bad), 0u) << "offset " << at;
    EXPECT_EQ(LastTypefaceError(), kTypefaceWrongChecksum) << "offset " << at;
    EXPECT_FALSE(TypefaceExists(kFont));
  }
}

TEST_F(TypefaceTest, CountsThatPointPastTheEndAreRefusedQuietly) {
  std::vector<uint8_t> good = TestFont().bytes();
  // A checksum count larger than the file.
  std::vector<uint8_t> longCount = good;
  longCount[11] = 0x7F;
  EXPECT_EQ(load(longCount), 0u);
  EXPECT_EQ(LastTypefaceError(), kTypefaceWrongChecksum);
  // A checksummed but truncated header.
  EXPECT_EQ(load(std::vector<uint8_t>(good.begin(), good.begin() + 20)), 0u);
  EXPECT_EQ(LastTypefaceError(), kTypefaceWrongChecksum);

  // Record counts far beyond the bytes, with a checksum that covers nothing (and so matches).
  for (int field : {16, 20}) {
    std::vector<uint8_t> bad = good;
    for (int i = 8; i < 16; ++i) bad[i] = 0;
    for (int i = 0; i < 4; ++i) bad[field + i] = 0xFF;
    EXPECT_EQ(load(bad), 0u);
    EXPECT_EQ(LastTypefaceError(), kTypefaceWrongChecksum);
  }
}

TEST_F(TypefaceTest, APictureThatDoesNotDecodeFailsWithCode5AndLeavesNothing) {
  ASSERT_NE(loadTestFont(), 0u);
  TestFont font;
  const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
  font.file.picture = junk;
  EXPECT_EQ(load(font.bytes()), 0u);
  EXPECT_EQ(LastTypefaceError(), kTypefaceSpriteFailed);
  // The old typeface under the number was released before the new one was tried.
  EXPECT_FALSE(TypefaceExists(kFont));
  DrawText(kFont, 0, 0, "AB");
  EXPECT_TRUE(drawn.empty());
}

TEST_F(TypefaceTest, NumbersAboveTheTableFailWithCode1AndAnyNumberGivesAHandle) {
  EXPECT_EQ(LoadTypefaceFromMemory(65536, TestFont().bytes()), 0u);
  EXPECT_EQ(LastTypefaceError(), kTypefaceBadNumber);
  EXPECT_EQ(LoadTypefaceFromMemory(-2, TestFont().bytes()), 0u);

  rt::Handle anonymous = LoadTypefaceFromMemory(rt::kAnyNumber, TestFont().bytes());
  ASSERT_TRUE(rt::isHandle(anonymous));
  EXPECT_FLOAT_EQ(TextWidth(anonymous, "B"), 9);
  DrawText(anonymous, 0, 0, "B");
  EXPECT_EQ(drawn.size(), 1u);
  FreeTypeface(anonymous);
  EXPECT_FALSE(TypefaceExists(anonymous));
}

TEST_F(TypefaceTest, ErrorTextsAreTheGermanTableInWindows1252) {
  EXPECT_EQ(TypefaceErrorText(0), "Kein Fehler");
  EXPECT_EQ(rt::cp1252ToUtf8(TypefaceErrorText(1)), "Unzulässige Typeface-Nummer");
  EXPECT_EQ(TypefaceErrorText(2), "Falsche Dateiidentifizierungsnummer");
  EXPECT_EQ(rt::cp1252ToUtf8(TypefaceErrorText(3)), "Falsche Prüfsumme (Datei beschädigt)");
  EXPECT_EQ(TypefaceErrorText(4), "Zeichensatz (Image) konnte nicht geladen werden");
  EXPECT_EQ(TypefaceErrorText(5), "Zeichensatz (Sprite) konnte nicht geladen werden");
  EXPECT_EQ(TypefaceErrorText(6), "Zeichensatz (Sprite3D) konnte nicht geladen werden");
  EXPECT_EQ(TypefaceErrorText(7), "");
  EXPECT_EQ(TypefaceErrorText(-1), "");
}

TEST_F(TypefaceTest, LaterGlyphRecordsWinEarlierKerningPairsWinAndHighCodesAreSkipped) {
  TestFont font;
  font.file.glyphs.push_back(glyph('B', 0, 0, 20, 10, 10, 0, 8, 12));
  font.file.glyphs.push_back(TypefaceGlyphRecord{0x141, 0, 0, 50, 40, 0, 0, 8, 8});
  font.file.kerning.push_back({'A', 'B', 7});
  font.file.kerning.push_back({'B', 0x141, 11});
  font.file.kerning.push_back({0x100 + 'B', 0, 13});  // must not alias ('B', 0)
  ASSERT_NE(load(font.bytes()), 0u);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "B"), 20);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "AB"), 3 + 10 - 2 + 20);
  EXPECT_FLOAT_EQ(TextHeight(kFont, "A"), 12);
}

TEST_F(TypefaceTest, LoadsFromAnArchiveEntry) {
  ArchiveWriter writer;
  BeginArchive(writer, ArchiveWriteOptions{});
  std::vector<uint8_t> tf = TestFont().bytes();
  ASSERT_TRUE(AddArchiveFile(writer, "Normal.tf", tf.data(), tf.size()));
  ASSERT_TRUE(FinishArchive(writer));
  rt::Handle archive =
      OpenArchiveMemory(rt::kAnyNumber, writer.bytes.data(), writer.bytes.size(), kArchivePassword);
  ASSERT_NE(archive, 0u);
  EXPECT_NE(LoadTypeface(archive, kFont, "Normal.tf"), 0u);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "A"), 3 + 10 + 2);
  EXPECT_EQ(LoadTypeface(archive, 8, "Missing.tf"), 0u);
  EXPECT_FALSE(TypefaceExists(8));
  CloseArchive(archive);
}

// ---- Drawing ------------------------------------------------------------------------------

TEST_F(TypefaceTest, DrawsEachGlyphAsOneQuadWithKerningTintAndAlpha) {
  ASSERT_NE(loadTestFont(), 0u);
  DrawText(kFont, 100, 50, "AB", 200, 0x112233);
  ASSERT_EQ(drawn.size(), 2u);
  // Pen at (99.5, 49.5) plus the lead-in 3; 'A' moves it by 10 and the pair (A, B) by -2.
  expectBox(drawn[0], {103.5f, 51.5f, 111.5f, 67.5f}, {0, 0, 0.08f, 0.32f});
  expectBox(drawn[1], {110.5f, 53.5f, 118.5f, 65.5f}, {0.1f, 0, 0.18f, 0.24f});
  for (const rt::DrawnQuad& q : drawn) {
    EXPECT_EQ(q.alpha, 200);
    for (uint32_t colour : q.colours) EXPECT_EQ(colour, 0x332211u);
  }
}

TEST_F(TypefaceTest, KeepArgumentsTakeTheStoredValues) {
  ASSERT_NE(loadTestFont(), 0u);
  DrawText(kFont, 100, 50, "B", kTypefaceKeep, kTypefaceKeepColour, kTypefaceKeep, kTypefaceKeep);
  DrawText(kFont, 100, 50, "B");
  ASSERT_EQ(drawn.size(), 2u);
  for (const rt::DrawnQuad& q : drawn) {
    expectBox(q, {99.5f, 53.5f, 107.5f, 65.5f}, {0.1f, 0, 0.18f, 0.24f});
    EXPECT_EQ(q.alpha, 255);
    EXPECT_EQ(q.colours[0], 0xFFFFFFu);
  }
}

TEST_F(TypefaceTest, ScaleMultipliesOffsetsSizesAdvancesAndKerning) {
  ASSERT_NE(loadTestFont(), 0u);
  DrawText(kFont, 0.5f, 0.5f, "AB", 255, 0xFFFFFF, 2.0f);
  ASSERT_EQ(drawn.size(), 2u);
  expectBox(drawn[0], {8, 4, 24, 36}, {0, 0, 0.08f, 0.32f});
  expectBox(drawn[1], {22, 8, 38, 32}, {0.1f, 0, 0.18f, 0.24f});
  EXPECT_FLOAT_EQ(TextWidth(kFont, "AB", 2.0f), 2 * (3 + 10 - 2 + 9));
  EXPECT_FLOAT_EQ(TextHeight(kFont, "AB", 2.0f), 24);
}

TEST_F(TypefaceTest, ShearLeansGlyphsAboutTheirBaselineRow) {
  ASSERT_NE(loadTestFont(), 0u);
  const float t = static_cast<float>(std::tan(20 * std::numbers::pi / 180));
  DrawText(kFont, 0.5f, 0.5f, "A", 255, 0xFFFFFF, 2.0f, 20.0f);
  ASSERT_EQ(drawn.size(), 1u);
  const rt::DrawnQuad& q = drawn[0];
  // Pen at 6 after the lead-in; the top edge leans right by baseline * t, the bottom left.
  EXPECT_NEAR(q.corners[0].x, 6 + (1 + 12 * t) * 2, 1e-3);
  EXPECT_NEAR(q.corners[3].x, q.corners[0].x - 16 * t * 2, 1e-3);
  EXPECT_NEAR(q.corners[1].x - q.corners[0].x, 16, 1e-3);
  EXPECT_NEAR(q.corners[2].x - q.corners[3].x, 16, 1e-3);
  // The left edge crosses the baseline row where the upright glyph's left edge is.
  const float f = 12.0f / 16.0f;
  EXPECT_NEAR(q.corners[0].x + (q.corners[3].x - q.corners[0].x) * f, 6 + 1 * 2, 1e-3);
  EXPECT_NEAR(q.corners[0].y + (q.corners[3].y - q.corners[0].y) * f, 4 + 12 * 2, 1e-3);
}

TEST_F(TypefaceTest, RotationTurnsTheWholeTextRigidlyAboutItsStartPoint) {
  ASSERT_NE(loadTestFont(), 0u);
  DrawText(kFont, 40, 30, "AB|A", 255, 0xFFFFFF, 1.5f, 10.0f);
  const std::vector<rt::DrawnQuad> upright = drawn;
  drawn.clear();
  SetTypefaceRotation(kFont, 20);
  SetTypefaceRotation(kFont, 10, 1);
  SetTypefaceClip(kFont, true, 0, 0, 1, 1);  // rotated text is never clipped
  DrawText(kFont, 40, 30, "AB|A", 255, 0xFFFFFF, 1.5f, 10.0f);
  ASSERT_EQ(drawn.size(), upright.size());
  const double a = 30 * std::numbers::pi / 180;
  const float c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
  for (size_t i = 0; i < drawn.size(); ++i) {
    for (int k = 0; k < 4; ++k) {
      const float dx = upright[i].corners[k].x - 39.5f, dy = upright[i].corners[k].y - 29.5f;
      EXPECT_NEAR(drawn[i].corners[k].x, 39.5f + dx * c - dy * s, 1e-3) << i << "/" << k;
      EXPECT_NEAR(drawn[i].corners[k].y, 29.5f + dx * s + dy * c, 1e-3) << i << "/" << k;
      EXPECT_FLOAT_EQ(drawn[i].uv[k].x, upright[i].uv[k].x);
    }
  }
  SetTypefaceRotation(kFont, 0);
  drawn.clear();
  DrawText(kFont, 40, 30, "A");
  EXPECT_TRUE(drawn.empty());  // upright again, so the 1 x 1 clip rectangle applies
}

TEST_F(TypefaceTest, LetterSpacingWidensDrawingButNotMeasuring) {
  ASSERT_NE(loadTestFont(), 0u);
  SetTypefaceSpacing(kFont, 1.5f);
  DrawText(kFont, 0.5f, 0.5f, "AB", 255, 0xFFFFFF, 2.0f);
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_NEAR(drawn[1].corners[0].x, 22 + 1.5f * 2, 1e-3);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "AB", 2.0f), 2 * (3 + 10 - 2 + 9));
}

TEST_F(TypefaceTest, LeadInAndLeadOutPairsShiftAndWidenTexts) {
  ASSERT_NE(loadTestFont(), 0u);
  // (0, A) moves every text that starts with A; (A, 0) widens every text that ends in A.
  EXPECT_FLOAT_EQ(TextWidth(kFont, "A"), 3 + 10 + 2);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "BA"), 9 + 10 + 2);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "AB"), 3 + 10 - 2 + 9);
  DrawText(kFont, 0.5f, 0.5f, "BA");
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_NEAR(drawn[0].corners[0].x, 0, 1e-4);
  EXPECT_NEAR(drawn[1].corners[0].x, 9 + 1, 1e-4);
}

TEST_F(TypefaceTest, AFileWithoutKerningRecordsIgnoresTheKerningFlag) {
  TestFont font;
  font.file.kerning.clear();
  ASSERT_NE(load(font.bytes(), kTypefaceKerning), 0u);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "AB"), 10 + 9);
  DrawText(kFont, 0.5f, 0.5f, "AB");
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_NEAR(drawn[0].corners[0].x, 1, 1e-4);
  EXPECT_NEAR(drawn[1].corners[0].x, 10, 1e-4);
  // And kerning records are ignored when the flags leave kerning off.
  ASSERT_NE(load(TestFont().bytes(), 0), 0u);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "AB"), 10 + 9);
}

TEST_F(TypefaceTest, CharactersWithoutGlyphsNeitherDrawNorAdvanceNorMeasure) {
  ASSERT_NE(loadTestFont(), 0u);
  DrawText(kFont, 0.5f, 0.5f, "B\xE9Z B");
  ASSERT_EQ(drawn.size(), 2u);  // the blank glyph advances but has nothing to show
  EXPECT_NEAR(drawn[1].corners[0].x, 9 + 5, 1e-4);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "B\xE9Z B"), 9 + 5 + 9);
  EXPECT_FLOAT_EQ(TextWidth(kFont, "\xE9"), 0);
  EXPECT_FLOAT_EQ(TextHeight(kFont, "\xE9Z"), 0);
}

TEST_F(TypefaceTest, TextsEndAtTheFirstNulByte) {
  ASSERT_NE(loadTestFont(), 0u);
  const std::string text("BA\0AB", 5);
  EXPECT_FLOAT_EQ(TextWidth(kFont, text), 9 + 10 + 2);
  DrawText(kFont, 0, 0, text);
  EXPECT_EQ(drawn.size(), 2u);
}

TEST_F(TypefaceTest, TextHeightIsTheLargestBaselineTimesScale) {
  ASSERT_NE(loadTestFont(), 0u);
  EXPECT_FLOAT_EQ(TextHeight(kFont, "|"), 14);
  EXPECT_FLOAT_EQ(TextHeight(kFont, "|", 0.75f), 14 * 0.75f);
  EXPECT_FLOAT_EQ(TextHeight(kFont, "BA B"), 13);
  EXPECT_FLOAT_EQ(TextHeight(kFont, ""), 0);
  EXPECT_FLOAT_EQ(TextWidth(kFont, ""), 0);
}

TEST_F(TypefaceTest, ClippingCutsGlyphsWithoutStretchingThem) {
  ASSERT_NE(loadTestFont(), 0u);
  SetTypefaceClip(kFont, true, 105, 40, 100, 20);
  DrawText(kFont, 100, 50, "AB");
  ASSERT_EQ(drawn.size(), 2u);
  // 'A' spans 103.5..111.5 x 51.5..67.5: cut 1.5 px on the left and 7.5 px at the bottom.
  expectBox(drawn[0], {105, 51.5f, 111.5f, 60}, {0.015f, 0, 0.08f, 0.17f});
  expectUndistorted(drawn[0], 1);
  // 'B' spans 53.5..65.5: cut at the bottom only.
  expectBox(drawn[1], {110.5f, 53.5f, 118.5f, 60}, {0.1f, 0, 0.18f, 0.13f});
  expectUndistorted(drawn[1], 1);

  drawn.clear();
  SetTypefaceClip(kFont, true, 0, 0, kTypefaceKeep, 100);  // keeps the width 100
  DrawText(kFont, 90, 50, "AB", 255, 0xFFFFFF, 2.0f);
  ASSERT_EQ(drawn.size(), 1u);  // 'A' crosses x = 100, 'B' starts beyond it
  EXPECT_NEAR(drawn[0].corners[1].x, 100, 1e-3);
  expectUndistorted(drawn[0], 2);
}

TEST_F(TypefaceTest, GlyphsWhollyOutsideTheClipAreSkippedButStillAdvance) {
  ASSERT_NE(loadTestFont(), 0u);
  SetTypefaceClip(kFont, true, 112, 0, 100, 100);
  DrawText(kFont, 100, 50, "AB");
  ASSERT_EQ(drawn.size(), 1u);
  // 'B' is where it would be without clipping (110.5), cut at 112.
  expectBox(drawn[0], {112, 53.5f, 118.5f, 65.5f}, {0.115f, 0, 0.18f, 0.24f});

  drawn.clear();
  SetTypefaceClip(kFont, true, 0, 80, 500, 100);  // the whole text lies above the rectangle
  DrawText(kFont, 100, 50, "AB");
  EXPECT_TRUE(drawn.empty());
  SetTypefaceClip(kFont, false);
  DrawText(kFont, 100, 50, "AB");
  EXPECT_EQ(drawn.size(), 2u);
}

TEST_F(TypefaceTest, ATypefaceThatWasNeverLoadedDrawsNothingAndMeasuresZero) {
  SetTypefaceClip(99, true, 0, 0, 10, 10);
  SetTypefaceRotation(99, 45);
  SetTypefaceSpacing(99, 3);
  DrawText(99, 10, 10, "AB");
  EXPECT_TRUE(drawn.empty());
  EXPECT_EQ(TextWidth(99, "AB"), 0);
  EXPECT_EQ(TextHeight(99, "|"), 0);
}

TEST_F(TypefaceTest, TintSprite3DSwapsRedAndBlueIntoAllFourCorners) {
  std::vector<uint8_t> png = picturePng(4, 4);
  rt::Handle sprite = rt::createSpriteFromMemory(rt::kAnyNumber, png.data(), png.size());
  rt::Handle quad = rt::createSprite3D(rt::kAnyNumber, sprite);
  ASSERT_NE(quad, 0u);
  TintSprite3D(quad, 0x909090);
  TintSprite3D(quad, 0x0000FF);
  rt::displaySprite3D(quad, 0, 0);
  ASSERT_EQ(drawn.size(), 1u);
  for (uint32_t colour : drawn[0].colours) EXPECT_EQ(colour, 0xFF0000u);
}

// ---- The typefaces the content build makes --------------------------------------------------

// Read from the archive the game ships, not the stage it is packed from.
class BuiltTypefaceTest : public TypefaceTest {
 protected:
  void TearDown() override {
    if (archive) CloseArchive(archive);
    TypefaceTest::TearDown();
  }
  rt::Handle loadBuilt(const std::string& name) {
    if (!archive) archive = OpenArchive(0, test::binaryDir() + "/Data/Fonts.qzd", kArchivePassword);
    return archive ? LoadTypeface(archive, kFont, name) : 0;
  }

  rt::Handle archive = 0;
};

TEST_F(BuiltTypefaceTest, EveryPrintableWindows1252CharacterHasAGlyph) {
  for (const char* name : {"Normal.tf", "Light.tf", "Big.tf"}) {
    ASSERT_NE(loadBuilt(name), 0u) << name << ": " << LastTypefaceError();
    for (int code = 32; code < 256; ++code) {
      if (code == 127 || code == 0x81 || code == 0x8D || code == 0x8F || code == 0x90 ||
          code == 0x9D) {
        continue;
      }
      EXPECT_GT(TextWidth(kFont, std::string(1, static_cast<char>(code))), 0)
          << name << " code " << code;
    }
  }
}

TEST_F(BuiltTypefaceTest, NormalHasRealKerningAndLineHeights) {
  ASSERT_NE(loadBuilt("Normal.tf"), 0u);
  EXPECT_LT(TextWidth(kFont, "AV"), TextWidth(kFont, "A") + TextWidth(kFont, "V"));
  const float line = TextHeight(kFont, "|");
  EXPECT_GE(line, 15);
  EXPECT_LE(line, 22);
  // The bar and the blank both reach the top of the line, so both measure the same.
  EXPECT_FLOAT_EQ(TextHeight(kFont, " "), line);
  EXPECT_LE(TextHeight(kFont, rt::utf8ToCp1252("Größe Änderung")), line);

  DrawText(kFont, 10, 10, rt::utf8ToCp1252("Prüfsumme"), 255, 0x909090);
  EXPECT_EQ(drawn.size(), 9u);
  for (const rt::DrawnQuad& q : drawn) {
    EXPECT_GE(q.corners[0].y, 9.5f);  // nothing above the line's top
    // Whole pixels from the pen, so glyphs land on the pixel grid.
    EXPECT_FLOAT_EQ(q.corners[2].y - q.corners[0].y, std::round(q.corners[2].y - q.corners[0].y));
  }
}

}  // namespace
