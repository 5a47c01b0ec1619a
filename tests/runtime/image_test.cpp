// Picture decoding (PNG, JPEG, BMP), PNG encoding, resizing and image objects. Every test
// picture is made here: PNG through libpng, JPEG through libjpeg, BMP byte by byte.
#include <gtest/gtest.h>
#include <png.h>
#include <setjmp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "runtime/files.h"
#include "runtime/screen.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

rt::Pixels makePixels(int width, int height, uint32_t seed) {
  rt::Pixels p;
  p.width = width;
  p.height = height;
  std::mt19937 random(seed);
  for (int i = 0; i < width * height * 4; ++i) p.rgba.push_back(static_cast<uint8_t>(random()));
  return p;
}

rt::Pixels flat(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  rt::Pixels p;
  p.width = width;
  p.height = height;
  for (int i = 0; i < width * height; ++i) p.rgba.insert(p.rgba.end(), {r, g, b, a});
  return p;
}

// RGBA of one pixel as a number, for readable failures.
uint32_t pixelAt(const rt::Pixels& p, int x, int y) {
  const uint8_t* q = &p.rgba[(static_cast<size_t>(y) * p.width + x) * 4];
  return uint32_t(q[0]) << 24 | uint32_t(q[1]) << 16 | uint32_t(q[2]) << 8 | q[3];
}

bool decode(const Bytes& bytes, rt::Pixels* out) {
  return rt::decodePicture(bytes.data(), bytes.size(), out);
}

// ---- Making test pictures --------------------------------------------------------------------

struct PngSpec {
  int width = 0, height = 0;
  int colourType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;
  std::vector<uint8_t> paletteAlpha;  // tRNS for palette pictures
  Bytes rows;                         // packed rows as the file stores them, big-endian samples
};

void appendToVector(png_structp png, png_bytep data, size_t count) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}

Bytes writePng(const PngSpec& spec) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  size_t stride = spec.rows.size() / spec.height;
  for (int y = 0; y < spec.height; ++y) {
    rows.push_back(const_cast<png_bytep>(&spec.rows[y * stride]));
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, appendToVector, nullptr);
  png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colourType,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty()) {
    png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
  }
  if (!spec.paletteAlpha.empty()) {
    png_set_tRNS(png, info, spec.paletteAlpha.data(), static_cast<int>(spec.paletteAlpha.size()),
                 nullptr);
  }
  png_write_info(png, info);
  if (spec.interlaced) png_set_interlace_handling(png);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes writeJpeg(const rt::Pixels& pixels, bool grey, bool progressive,
               const std::vector<jpeg_scan_info>* scans = nullptr) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = pixels.width;
  info.image_height = pixels.height;
  info.input_components = grey ? 1 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  if (scans) {
    info.scan_info = scans->data();
    info.num_scans = static_cast<int>(scans->size());
  }
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(pixels.width * 3);
  while (info.next_scanline < info.image_height) {
    for (int x = 0; x < pixels.width; ++x) {
      const uint8_t* p = &pixels.rgba[(size_t(info.next_scanline) * pixels.width + x) * 4];
      if (grey) {
        row[x] = p[0];
      } else {
        std::copy(p, p + 3, &row[x * 3]);
      }
    }
    JSAMPROW rowPointer = row.data();
    jpeg_write_scanlines(&info, &rowPointer, 1);
  }
  jpeg_finish_compress(&info);
  Bytes out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  free(buffer);
  return out;
}

void put16(Bytes* b, uint16_t v) { b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32(Bytes* b, uint32_t v) {
  b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

struct BmpSpec {
  uint32_t headerSize = 40;
  int32_t width = 0, height = 0;  // negative height: top-down
  uint16_t bits = 24;
  uint32_t compression = 0;
  std::vector<uint32_t> masks;     // written after the 40 header fields
  std::vector<uint32_t> palette;   // 0x00RRGGBB, stored as B, G, R, 0
  std::vector<Bytes> rows;         // as stored, without padding
};

Bytes writeBmp(const BmpSpec& spec) {
  Bytes header;
  put32(&header, spec.headerSize);
  put32(&header, uint32_t(spec.width));
  put32(&header, uint32_t(spec.height));
  put16(&header, 1);
  put16(&header, spec.bits);
  put32(&header, spec.compression);
  put32(&header, 0);  // image size
  put32(&header, 2835);
  put32(&header, 2835);
  put32(&header, static_cast<uint32_t>(spec.palette.size()));
  put32(&header, 0);
  for (uint32_t mask : spec.masks) put32(&header, mask);
  while (header.size() < spec.headerSize) header.push_back(0);
  for (uint32_t colour : spec.palette) put32(&header, colour);

  Bytes pixels;
  for (const Bytes& row : spec.rows) {
    pixels.insert(pixels.end(), row.begin(), row.end());
    while (pixels.size() % 4) pixels.push_back(0);
  }
  Bytes file = {'B', 'M'};
  put32(&file, static_cast<uint32_t>(14 + header.size() + pixels.size()));
  put32(&file, 0);
  put32(&file, static_cast<uint32_t>(14 + header.size()));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// ---- PNG -----------------------------------------------------------------------------------

TEST(Png, EncodeDecodeRoundTrip) {
  rt::Pixels original = makePixels(37, 23, 1);
  Bytes encoded;
  ASSERT_TRUE(rt::encodePng(original, &encoded));
  rt::Pixels decoded;
  ASSERT_TRUE(decode(encoded, &decoded));
  EXPECT_EQ(decoded.width, 37);
  EXPECT_EQ(decoded.height, 23);
  EXPECT_EQ(decoded.rgba, original.rgba);
}

TEST(Png, EncodeRefusesInconsistentPixels) {
  rt::Pixels bad = makePixels(4, 4, 2);
  bad.rgba.pop_back();
  Bytes out;
  EXPECT_FALSE(rt::encodePng(bad, &out));
  EXPECT_FALSE(rt::encodePng(rt::Pixels{}, &out));
}

TEST(Png, RgbAndGreyGetOpaqueAlpha) {
  PngSpec rgb;
  rgb.width = 2, rgb.height = 1;
  rgb.rows = {10, 20, 30, 40, 50, 60};
  rt::Pixels p;
  ASSERT_TRUE(decode(writePng(rgb), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0x0A141EFFu);
  EXPECT_EQ(pixelAt(p, 1, 0), 0x28323CFFu);

  PngSpec grey;
  grey.width = 3, grey.height = 1, grey.colourType = PNG_COLOR_TYPE_GRAY;
  grey.rows = {0, 128, 255};
  ASSERT_TRUE(decode(writePng(grey), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0x000000FFu);
  EXPECT_EQ(pixelAt(p, 1, 0), 0x808080FFu);
  EXPECT_EQ(pixelAt(p, 2, 0), 0xFFFFFFFFu);

  PngSpec greyAlpha;
  greyAlpha.width = 1, greyAlpha.height = 1, greyAlpha.colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
  greyAlpha.rows = {200, 100};
  ASSERT_TRUE(decode(writePng(greyAlpha), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0xC8C8C864u);

  PngSpec twoBitGrey;  // 0, 1, 2, 3 -> 0, 85, 170, 255
  twoBitGrey.width = 4, twoBitGrey.height = 1, twoBitGrey.colourType = PNG_COLOR_TYPE_GRAY;
  twoBitGrey.bitDepth = 2;
  twoBitGrey.rows = {0x1B};
  ASSERT_TRUE(decode(writePng(twoBitGrey), &p));
  EXPECT_EQ(pixelAt(p, 1, 0), 0x555555FFu);
  EXPECT_EQ(pixelAt(p, 3, 0), 0xFFFFFFFFu);
}

TEST(Png, PaletteWithTransparency) {
  PngSpec spec;
  spec.width = 4, spec.height = 2, spec.colourType = PNG_COLOR_TYPE_PALETTE;
  spec.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  spec.paletteAlpha = {0, 128};  // the third entry stays opaque
  spec.rows = {0, 1, 2, 2, 2, 1, 0, 0};
  rt::Pixels p;
  ASSERT_TRUE(decode(writePng(spec), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0xFF000000u);
  EXPECT_EQ(pixelAt(p, 1, 0), 0x00FF0080u);
  EXPECT_EQ(pixelAt(p, 2, 0), 0x0000FFFFu);
  EXPECT_EQ(pixelAt(p, 1, 1), 0x00FF0080u);

  spec.bitDepth = 4;  // two pixels a byte
  spec.rows = {0x01, 0x22, 0x21, 0x00};
  ASSERT_TRUE(decode(writePng(spec), &p));
  EXPECT_EQ(pixelAt(p, 1, 0), 0x00FF0080u);
  EXPECT_EQ(pixelAt(p, 3, 0), 0x0000FFFFu);
  EXPECT_EQ(pixelAt(p, 0, 1), 0x0000FFFFu);
}

TEST(Png, SixteenBitKeepsTheHighByte) {
  PngSpec spec;
  spec.width = 1, spec.height = 2, spec.colourType = PNG_COLOR_TYPE_RGB_ALPHA, spec.bitDepth = 16;
  spec.rows = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF,
               0x00, 0x01, 0xFF, 0x00, 0x80, 0x00, 0x40, 0x00};
  rt::Pixels p;
  ASSERT_TRUE(decode(writePng(spec), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0x12569AFFu);
  EXPECT_EQ(pixelAt(p, 0, 1), 0x00FF8040u);
}

TEST(Png, InterlacedMatchesPlain) {
  rt::Pixels original = makePixels(13, 11, 3);
  PngSpec spec;
  spec.width = 13, spec.height = 11, spec.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  spec.rows = original.rgba;
  spec.interlaced = true;
  rt::Pixels p;
  ASSERT_TRUE(decode(writePng(spec), &p));
  EXPECT_EQ(p.rgba, original.rgba);
}

// ---- JPEG ----------------------------------------------------------------------------------

// Blocks of flat colour survive JPEG at full quality within a few levels.
rt::Pixels colourBlocks() {
  rt::Pixels p = flat(32, 16, 0, 0, 0, 255);
  const uint8_t colours[2][3] = {{200, 30, 40}, {20, 180, 220}};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      std::copy(colours[x / 16], colours[x / 16] + 3, &p.rgba[(y * 32 + x) * 4]);
    }
  }
  return p;
}

void expectNear(const rt::Pixels& p, int x, int y, int r, int g, int b) {
  const uint8_t* q = &p.rgba[(size_t(y) * p.width + x) * 4];
  EXPECT_NEAR(q[0], r, 6) << x << "," << y;
  EXPECT_NEAR(q[1], g, 6) << x << "," << y;
  EXPECT_NEAR(q[2], b, 6) << x << "," << y;
  EXPECT_EQ(q[3], 255);
}

TEST(Jpeg, ColourGreyAndProgressive) {
  rt::Pixels blocks = colourBlocks();
  for (bool progressive : {false, true}) {
    rt::Pixels p;
    ASSERT_TRUE(decode(writeJpeg(blocks, false, progressive), &p)) << progressive;
    ASSERT_EQ(p.width, 32);
    ASSERT_EQ(p.height, 16);
    expectNear(p, 4, 4, 200, 30, 40);
    expectNear(p, 27, 11, 20, 180, 220);
  }
  rt::Pixels grey;
  ASSERT_TRUE(decode(writeJpeg(flat(8, 8, 90, 90, 90, 255), true, false), &grey));
  expectNear(grey, 3, 3, 90, 90, 90);
}

TEST(Jpeg, EndlessProgressiveScansAreRefused) {
  // A valid grey file of 320 scans: every coefficient alone, refined bit by bit.
  std::vector<jpeg_scan_info> scans;
  for (int bit = 4; bit >= 0; --bit) {
    scans.push_back({1, {0}, 0, 0, bit == 4 ? 0 : bit + 1, bit});
  }
  for (int k = 1; k < 64; ++k) {
    for (int bit = 4; bit >= 0; --bit) {
      scans.push_back({1, {0}, k, k, bit == 4 ? 0 : bit + 1, bit});
    }
  }
  Bytes many = writeJpeg(flat(16, 16, 90, 90, 90, 255), true, true, &scans);
  ASSERT_FALSE(many.empty());
  rt::Pixels p;
  EXPECT_FALSE(decode(many, &p));
  scans.resize(5 + 5 * 20);  // the first twenty coefficients are a believable file
  EXPECT_TRUE(decode(writeJpeg(flat(16, 16, 90, 90, 90, 255), true, true, &scans), &p));
}

// ---- BMP -----------------------------------------------------------------------------------

TEST(Bmp, TwentyFourBitBottomUpWithPadding) {
  BmpSpec spec;
  spec.width = 3, spec.height = 2;
  // Stored bottom row first, B G R.
  spec.rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}};
  rt::Pixels p;
  ASSERT_TRUE(decode(writeBmp(spec), &p));
  ASSERT_EQ(p.width, 3);
  ASSERT_EQ(p.height, 2);
  EXPECT_EQ(pixelAt(p, 0, 0), 0x0C0B0AFFu);
  EXPECT_EQ(pixelAt(p, 2, 0), 0x121110FFu);
  EXPECT_EQ(pixelAt(p, 0, 1), 0x030201FFu);
  EXPECT_EQ(pixelAt(p, 2, 1), 0x090807FFu);
}

TEST(Bmp, ThirtyTwoBitWithAndWithoutAlphaMask) {
  BmpSpec plain;
  plain.width = 2, plain.height = 1, plain.bits = 32;
  plain.rows = {{1, 2, 3, 77, 4, 5, 6, 0}};
  rt::Pixels p;
  ASSERT_TRUE(decode(writeBmp(plain), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0x030201FFu) << "the fourth byte is padding without a mask";
  EXPECT_EQ(pixelAt(p, 1, 0), 0x060504FFu);

  for (uint32_t headerSize : {108u, 124u}) {
    BmpSpec v5 = plain;
    v5.headerSize = headerSize;
    v5.compression = 3;
    v5.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    ASSERT_TRUE(decode(writeBmp(v5), &p)) << headerSize;
    EXPECT_EQ(pixelAt(p, 0, 0), 0x0302014Du);
    EXPECT_EQ(pixelAt(p, 1, 0), 0x06050400u);

    v5.rows = {{1, 2, 3, 0, 4, 5, 6, 0}};  // a mask but every alpha 0: meant as opaque
    ASSERT_TRUE(decode(writeBmp(v5), &p));
    EXPECT_EQ(pixelAt(p, 0, 0), 0x030201FFu);
  }

  BmpSpec swapped;  // unusual masks after a 40-byte header
  swapped.width = 1, swapped.height = 1, swapped.bits = 32, swapped.compression = 3;
  swapped.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  swapped.rows = {{1, 2, 3, 4}};
  ASSERT_TRUE(decode(writeBmp(swapped), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0x010203FFu);
}

TEST(Bmp, SixteenBitMasksScaleToFullRange) {
  BmpSpec spec;
  spec.width = 2, spec.height = 1, spec.bits = 16, spec.compression = 3;
  spec.masks = {0xF800, 0x07E0, 0x001F};
  spec.rows = {{0xFF, 0xFF, 0x00, 0xF8}};  // white, then pure red
  rt::Pixels p;
  ASSERT_TRUE(decode(writeBmp(spec), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(pixelAt(p, 1, 0), 0xFF0000FFu);
}

TEST(Bmp, PaletteTopDownAndSmallDepths) {
  BmpSpec spec;
  spec.width = 3, spec.height = -2, spec.bits = 8;
  spec.palette = {0x00FF0000, 0x0000FF00, 0x000000FF};
  spec.rows = {{0, 1, 2}, {2, 1, 200}};  // 200 lies beyond the palette
  rt::Pixels p;
  ASSERT_TRUE(decode(writeBmp(spec), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0xFF0000FFu) << "top-down: the first stored row is the top";
  EXPECT_EQ(pixelAt(p, 2, 0), 0x0000FFFFu);
  EXPECT_EQ(pixelAt(p, 0, 1), 0x0000FFFFu);
  EXPECT_EQ(pixelAt(p, 2, 1), 0x000000FFu);

  BmpSpec four = spec;
  four.bits = 4;
  four.rows = {{0x01, 0x20}, {0x21, 0x00}};
  ASSERT_TRUE(decode(writeBmp(four), &p));
  EXPECT_EQ(pixelAt(p, 1, 0), 0x00FF00FFu);
  EXPECT_EQ(pixelAt(p, 2, 0), 0x0000FFFFu);
  EXPECT_EQ(pixelAt(p, 0, 1), 0x0000FFFFu);

  BmpSpec one;
  one.width = 10, one.height = 1, one.bits = 1;
  one.palette = {0x00000000, 0x00FFFFFF};
  one.rows = {{0xA0, 0x40}};  // 1 0 1 0 0 0 0 0 | 0 1
  ASSERT_TRUE(decode(writeBmp(one), &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(pixelAt(p, 1, 0), 0x000000FFu);
  EXPECT_EQ(pixelAt(p, 2, 0), 0xFFFFFFFFu);
  EXPECT_EQ(pixelAt(p, 9, 0), 0xFFFFFFFFu);
}

TEST(Bmp, LastRowMayLackItsPadding) {
  BmpSpec spec;
  spec.width = 1, spec.height = 2;
  spec.rows = {{1, 2, 3}, {4, 5, 6}};
  Bytes file = writeBmp(spec);
  file.resize(file.size() - 1);
  rt::Pixels p;
  ASSERT_TRUE(decode(file, &p));
  EXPECT_EQ(pixelAt(p, 0, 0), 0x060504FFu);
  file.resize(file.size() - 1);
  EXPECT_FALSE(decode(file, &p));
}

TEST(Bmp, UnsupportedKindsAreRefused) {
  BmpSpec rle;
  rle.width = 2, rle.height = 1, rle.bits = 8, rle.compression = 1;
  rle.palette = {0, 0};
  rle.rows = {{2, 0, 0, 1}};
  rt::Pixels p;
  EXPECT_FALSE(decode(writeBmp(rle), &p));

  BmpSpec core;  // the old 12-byte header
  core.headerSize = 12;
  core.width = 1, core.height = 1;
  core.rows = {{1, 2, 3}};
  EXPECT_FALSE(decode(writeBmp(core), &p));

  BmpSpec maskedPalette;
  maskedPalette.width = 1, maskedPalette.height = 1, maskedPalette.bits = 8;
  maskedPalette.compression = 3;
  maskedPalette.masks = {0xE0, 0x1C, 0x03};
  maskedPalette.rows = {{1}};
  EXPECT_FALSE(decode(writeBmp(maskedPalette), &p));
}

// ---- Hostile pictures ----------------------------------------------------------------------

std::vector<Bytes> smallPictures() {
  rt::Pixels pixels = makePixels(9, 7, 4);
  Bytes png;
  rt::encodePng(pixels, &png);
  BmpSpec bmp;  // rows without padding, so that every cut loses pixels
  bmp.width = 4, bmp.height = 3, bmp.bits = 8;
  bmp.palette = {0x00102030, 0x00405060};
  bmp.rows = {{0, 1, 0, 1}, {1, 1, 1, 1}, {0, 0, 0, 0}};
  return {png, writeBmp(bmp), writeJpeg(colourBlocks(), false, false),
          writeJpeg(colourBlocks(), false, true)};
}

TEST(HostilePictures, EveryTruncationFailsQuietly) {
  for (const Bytes& whole : smallPictures()) {
    rt::Pixels p;
    ASSERT_TRUE(decode(whole, &p));
    for (size_t length = 0; length < whole.size(); ++length) {
      // A copy of exactly this length, so that ASan sees any read past its end.
      Bytes cut(whole.begin(), whole.begin() + length);
      rt::Pixels out;
      EXPECT_FALSE(rt::decodePicture(cut.data(), cut.size(), &out))
          << "format " << int(whole[0]) << " cut at " << length;
      EXPECT_TRUE(out.rgba.empty());
    }
  }
}

void setBigEndian32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(v >> (24 - 8 * i));
}

// Rewrites the PNG's size fields and the header chunk's CRC.
Bytes pngClaiming(uint32_t width, uint32_t height) {
  Bytes png;
  rt::encodePng(makePixels(4, 4, 5), &png);
  setBigEndian32(&png, 16, width);
  setBigEndian32(&png, 20, height);
  setBigEndian32(&png, 29, static_cast<uint32_t>(crc32(0, &png[12], 17)));
  return png;
}

TEST(HostilePictures, HugeClaimedSizesAreRefused) {
  rt::Pixels p;
  EXPECT_FALSE(decode(pngClaiming(100000, 100000), &p));
  EXPECT_FALSE(decode(pngClaiming(16384, 16384), &p)) << "each side allowed, the area is not";
  EXPECT_FALSE(decode(pngClaiming(16385, 1), &p));
  EXPECT_FALSE(decode(pngClaiming(16000, 4000), &p)) << "far too little data for that size";

  BmpSpec bmp;
  bmp.width = 100000, bmp.height = 100000;
  bmp.rows = {{1, 2, 3}};
  EXPECT_FALSE(decode(writeBmp(bmp), &p));
  bmp.width = 16000, bmp.height = -4000;  // allowed, but the data is not there
  EXPECT_FALSE(decode(writeBmp(bmp), &p));
  bmp.width = 1, bmp.height = INT32_MIN;
  EXPECT_FALSE(decode(writeBmp(bmp), &p));

  Bytes jpeg = writeJpeg(colourBlocks(), false, false);
  for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // start of frame: height, width at +5
      jpeg[i + 5] = jpeg[i + 6] = jpeg[i + 7] = jpeg[i + 8] = 0xFF;
      break;
    }
  }
  EXPECT_FALSE(decode(jpeg, &p));
}

// A kilobyte that claims a picture of 64 million pixels must not cost their memory: the child
// decoding it may not grow by more than a small part of those 256 MB.
TEST(HostilePictures, ASmallJpegClaimingAHugePictureIsRefusedBeforeItsPixels) {
  Bytes jpeg = writeJpeg(colourBlocks(), false, false);
  for (size_t i = 0; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 3900 >> 8, jpeg[i + 6] = 3900 & 0xFF;  // height
      jpeg[i + 7] = 16384 >> 8, jpeg[i + 8] = 0;           // width
      break;
    }
  }
  long residentBefore = 0;
  std::ifstream("/proc/self/statm") >> residentBefore >> residentBefore;
  residentBefore *= sysconf(_SC_PAGESIZE) / 1024;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rt::Pixels p;
    _exit(decode(jpeg, &p) ? 1 : 0);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_LT(usage.ru_maxrss - residentBefore, 64 * 1024) << "kilobytes grown";
}

TEST(HostilePictures, RandomBytesAndDamagedFilesFailQuietly) {
  std::mt19937 random(7);
  const Bytes magics[] = {
      {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, {0xFF, 0xD8, 0xFF}, {'B', 'M'}, {}};
  for (const Bytes& magic : magics) {
    for (int round = 0; round < 200; ++round) {
      Bytes noise = magic;
      size_t extra = random() % 300;
      for (size_t i = 0; i < extra; ++i) noise.push_back(static_cast<uint8_t>(random()));
      rt::Pixels p;
      rt::decodePicture(noise.data(), noise.size(), &p);  // must return, whatever it says
    }
  }
  // Damage a few bytes of real pictures: headers, tables and data all get hit.
  for (const Bytes& whole : smallPictures()) {
    for (int round = 0; round < 300; ++round) {
      Bytes damaged = whole;
      for (int hits = 1 + random() % 4; hits > 0; --hits) {
        damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
      }
      rt::Pixels p;
      if (rt::decodePicture(damaged.data(), damaged.size(), &p)) {
        EXPECT_EQ(p.rgba.size(), size_t(p.width) * p.height * 4);
      }
    }
  }
  rt::Pixels p;
  EXPECT_FALSE(rt::decodePicture(nullptr, 10, &p));
  EXPECT_FALSE(rt::decodePicture("GIF89a", 6, &p));
}

// ---- Resizing ------------------------------------------------------------------------------

rt::Pixels resizedCopy(const rt::Pixels& source, int width, int height) {
  rt::Handle image = rt::createImage(-1, source.width, source.height, source.rgba.data());
  EXPECT_NE(image, 0u);
  EXPECT_TRUE(rt::resizeImage(image, width, height));
  rt::Pixels out;
  out.width = rt::imageWidth(image);
  out.height = rt::imageHeight(image);
  const uint8_t* p = rt::imagePixels(image);
  out.rgba.assign(p, p + size_t(out.width) * out.height * 4);
  rt::freeImage(image);
  return out;
}

TEST(Resize, FlatColourStaysFlatShrinkingAndGrowing) {
  for (auto [w, h] : {std::pair{200, 150}, std::pair{10, 7}, std::pair{64, 3}}) {
    rt::Pixels result = resizedCopy(flat(w, h, 12, 200, 99, 180), 64, 64);
    ASSERT_EQ(result.width, 64);
    ASSERT_EQ(result.height, 64);
    EXPECT_EQ(result.rgba, flat(64, 64, 12, 200, 99, 180).rgba) << w << "x" << h;
  }
}

TEST(Resize, ShrinkingAveragesAreas) {
  rt::Pixels checks = flat(4, 4, 0, 0, 0, 255);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      if ((x + y) % 2) std::fill_n(&checks.rgba[(y * 4 + x) * 4], 3, 255);
    }
  }
  rt::Pixels half = resizedCopy(checks, 2, 2);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(half.rgba[i * 4], 128, 1);

  // Transparent pixels lend no colour to their neighbours.
  rt::Pixels edge = flat(2, 1, 255, 0, 0, 255);
  const uint8_t clearGreen[] = {0, 255, 0, 0};
  std::copy_n(clearGreen, 4, &edge.rgba[4]);
  rt::Pixels one = resizedCopy(edge, 1, 1);
  EXPECT_EQ(one.rgba[0], 255);
  EXPECT_EQ(one.rgba[1], 0);
  EXPECT_NEAR(one.rgba[3], 128, 1);
}

TEST(Resize, GrowingInterpolates) {
  rt::Pixels ramp = flat(2, 1, 0, 0, 0, 255);
  std::fill_n(&ramp.rgba[4], 3, 200);
  rt::Pixels wide = resizedCopy(ramp, 8, 1);
  EXPECT_EQ(wide.rgba[0], 0);           // ends keep the source colours
  EXPECT_EQ(wide.rgba[7 * 4], 200);
  for (int x = 1; x < 8; ++x) EXPECT_GE(wide.rgba[x * 4], wide.rgba[(x - 1) * 4]);
  EXPECT_NEAR(wide.rgba[4 * 4], 125, 1);
}

// ---- Image objects -------------------------------------------------------------------------

TEST(Images, CreateFreeAndRefusals) {
  rt::Handle image = rt::createImage(3, 5, 4);
  ASSERT_NE(image, 0u);
  EXPECT_TRUE(rt::imageExists(3));
  EXPECT_EQ(rt::imageWidth(image), 5);
  EXPECT_EQ(rt::imageHeight(3), 4);
  EXPECT_EQ(rt::imagePixels(3)[0], 0);
  rt::Handle replaced = rt::createImage(3, 2, 2);
  EXPECT_FALSE(rt::imageExists(image));
  rt::freeImage(replaced);
  EXPECT_FALSE(rt::imageExists(3));
  EXPECT_EQ(rt::imagePixels(3), nullptr);
  EXPECT_EQ(rt::imageWidth(3), 0);
  EXPECT_FALSE(rt::resizeImage(3, 8, 8));

  EXPECT_EQ(rt::createImage(-1, 0, 5), 0u);
  EXPECT_EQ(rt::createImage(-1, 16385, 1), 0u);
  EXPECT_EQ(rt::createImage(-1, 10000, 10000), 0u);
  EXPECT_EQ(rt::createImage(70000, 1, 1), 0u);
  EXPECT_EQ(rt::decodeImage(4, "nonsense", 8), 0u);
  EXPECT_FALSE(rt::imageExists(4));

  rt::Handle small = rt::createImage(-1, 4, 4);
  EXPECT_FALSE(rt::resizeImage(small, 0, 4));
  EXPECT_FALSE(rt::resizeImage(small, 20000, 4));
  EXPECT_EQ(rt::imageWidth(small), 4);
  rt::freeImage(small);
}

TEST(Images, SavedPngReadsBack) {
  test::TempDir dir;
  rt::Pixels pixels = makePixels(6, 5, 8);
  rt::Handle image = rt::decodeImage(-1, nullptr, 0);
  EXPECT_EQ(image, 0u);
  Bytes encoded;
  ASSERT_TRUE(rt::encodePng(pixels, &encoded));
  image = rt::decodeImage(-1, encoded.data(), encoded.size());
  ASSERT_NE(image, 0u);
  ASSERT_TRUE(rt::saveImagePng(image, dir.file("shot.png")));
  std::string saved = test::readFile(dir.file("shot.png"));
  rt::Pixels back;
  ASSERT_TRUE(rt::decodePicture(saved.data(), saved.size(), &back));
  EXPECT_EQ(back.rgba, pixels.rgba);
  EXPECT_FALSE(rt::saveImagePng(image, dir.file("missing-folder/shot.png")));
  rt::freeImage(image);
}

}  // namespace
