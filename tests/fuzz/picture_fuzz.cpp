// The picture decoders (PNG and JPEG through their libraries, BMP by hand) on pictures as maps
// and archives bring them, then the resizer and the PNG writer on what they accept.
//
// The input is a picture. Random changes to a PNG nearly always break a chunk's CRC, so a second
// copy with every CRC set right reaches the pixels as well.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/checksum.h"
#include "runtime/screen.h"

namespace {

uint32_t load32be(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

std::vector<uint8_t> withPngCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> fixed(data, data + size);
  size_t at = 8;
  while (at + 12 <= fixed.size()) {
    uint32_t length = load32be(&fixed[at]);
    if (length > fixed.size() - at - 12) break;
    uint32_t crc = rt::crc32(&fixed[at + 4], length + 4);
    for (int i = 0; i < 4; ++i) fixed[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
    at += 12 + length;
  }
  return fixed;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void decode(const uint8_t* data, size_t size, uint8_t shape) {
  rt::Pixels pixels;
  if (!rt::decodePicture(data, size, &pixels)) return;
  check(pixels.width > 0 && pixels.height > 0);
  check(pixels.rgba.size() == size_t(pixels.width) * size_t(pixels.height) * 4);
  // Big pictures cost the writer and the resizer much and teach them nothing new.
  if (size_t(pixels.width) * size_t(pixels.height) > 4096) return;

  std::vector<uint8_t> png;
  check(rt::encodePng(pixels, &png));
  rt::Pixels again;
  check(rt::decodePicture(png.data(), png.size(), &again));
  check(again.width == pixels.width && again.height == pixels.height && again.rgba == pixels.rgba);

  rt::Handle image = rt::createImage(rt::kAnyNumber, pixels.width, pixels.height,
                                     pixels.rgba.data());
  check(image != 0);
  int width = 1 + (shape & 15) * 5, height = 1 + (shape >> 4) * 5;
  check(rt::resizeImage(image, width, height));
  check(rt::imageWidth(image) == width && rt::imageHeight(image) == height);
  rt::freeImage(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t shape = size > 0 ? data[size - 1] : 0;
  decode(data, size, shape);
  if (size > 8 && memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) {
    std::vector<uint8_t> fixed = withPngCrcs(data, size);
    if (fixed != std::vector<uint8_t>(data, data + size)) decode(fixed.data(), fixed.size(), shape);
  }
  return 0;
}
