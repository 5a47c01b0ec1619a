// Images: RGBA pictures in memory, their PNG, JPEG and BMP decoders, the PNG encoder and smooth
// resizing. Pictures arrive inside maps that players download, so every decoder checks sizes
// before it allocates and every read against the data it was given.
#include <png.h>
#include <setjmp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/objects.h"
#include "runtime/screen.h"

namespace rt {
namespace {

constexpr int64_t kMaxSide = 16384;
constexpr int64_t kMaxPixels = 64000000;
constexpr size_t kMaxPngChunk = 8u << 20;  // text and colour-profile chunks, after inflating
constexpr int kMaxJpegScans = 256;         // real progressive files have about ten
// Huffman coding spends at least one bit on every 8 x 8 block of the first scan: a file is
// refused when it is too short for the picture it claims, before that is allocated.
constexpr uint64_t kMaxJpegPixelsPerByte = 8 * 64;
constexpr uint64_t kMaxDeflateRatio = 1032;

bool sizeAllowed(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
         width * height <= kMaxPixels;
}

bool startsWith(const uint8_t* data, size_t length, const char* magic, size_t magicLength) {
  return length >= magicLength && memcmp(data, magic, magicLength) == 0;
}

// ---- PNG -------------------------------------------------------------------------------------

struct PngSource {
  const uint8_t* data;
  size_t length;
  size_t position;
};

void pngRead(png_structp png, png_bytep out, size_t count) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (count > source->length - source->position) png_error(png, "truncated");
  memcpy(out, source->data + source->position, count);
  source->position += count;
}

void pngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarn(png_structp, png_const_charp) {}

// libpng may jump out of here: nothing in this frame has a destructor to skip.
bool readPngBody(png_structp png, png_infop info, Pixels* out, std::vector<png_bytep>* rows) {
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(png, kMaxPngChunk);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  if (!sizeAllowed(width, height)) return false;
  // Deflate packs at most about 1032 bytes into one: a file too short for the size it claims is
  // refused before the picture is allocated.
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  uint64_t packed = (uint64_t{png_get_rowbytes(png, info)} + 1) * height;
  if (uint64_t{source->length - source->position} * kMaxDeflateRatio < packed) return false;
  int colourType = png_get_color_type(png, info);
  bool hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  png_set_expand(png);  // palette, grey below 8 bits and tRNS become 8-bit channels and alpha
  png_set_strip_16(png);
  if (!(colourType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  if (!hasAlpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * 4) return false;
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->rgba.assign(size_t{width} * height * 4, 0);
  rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y) (*rows)[y] = &out->rgba[size_t{y} * width * 4];
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
  return true;
}

bool guardedPngRead(png_structp png, png_infop info, Pixels* out, std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  return readPngBody(png, info, out, rows);
}

bool decodePng(const uint8_t* data, size_t length, Pixels* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFail, pngWarn);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  PngSource source{data, length, 0};
  png_set_read_fn(png, &source, pngRead);
  std::vector<png_bytep> rows;
  bool ok = info && guardedPngRead(png, info, out, &rows);
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  return ok;
}

// ---- PNG writing ---------------------------------------------------------------------------

void pngWrite(png_structp png, png_bytep data, size_t count) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + count);
}

void pngFlush(png_structp) {}

bool writePngBody(png_structp png, png_infop info, const Pixels& pixels,
                  std::vector<png_bytep>* rows) {
  png_set_IHDR(png, info, pixels.width, pixels.height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  rows->resize(pixels.height);
  for (int y = 0; y < pixels.height; ++y) {
    (*rows)[y] = const_cast<png_bytep>(&pixels.rgba[size_t(y) * pixels.width * 4]);
  }
  png_write_image(png, rows->data());
  png_write_end(png, nullptr);
  return true;
}

bool guardedPngWrite(png_structp png, png_infop info, const Pixels& pixels,
                     std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  return writePngBody(png, info, pixels, rows);
}

// ---- JPEG ----------------------------------------------------------------------------------

struct JpegGuard {
  jpeg_error_mgr errors;  // first, so the library's pointer to it is a pointer to us
  jpeg_progress_mgr progress;
  jmp_buf jump;
  bool truncated;
};

void jpegFail(j_common_ptr info) { longjmp(reinterpret_cast<JpegGuard*>(info->err)->jump, 1); }

void jpegMessage(j_common_ptr info, int level) {
  auto* guard = reinterpret_cast<JpegGuard*>(info->err);
  if (level < 0 && guard->errors.msg_code == JWRN_JPEG_EOF) guard->truncated = true;
}

// A progressive file can hold any number of scans, each one a pass over the whole picture.
void jpegProgress(j_common_ptr info) {
  auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->progressive_mode && decompress->input_scan_number > kMaxJpegScans) {
    jpegFail(info);
  }
}

// Adobe writes CMYK inverted, which is what the library hands back.
void cmykToRgba(Pixels* pixels) {
  for (size_t i = 0; i < pixels->rgba.size(); i += 4) {
    uint8_t* p = &pixels->rgba[i];
    int k = p[3];
    p[0] = static_cast<uint8_t>(p[0] * k / 255);
    p[1] = static_cast<uint8_t>(p[1] * k / 255);
    p[2] = static_cast<uint8_t>(p[2] * k / 255);
    p[3] = 255;
  }
}

bool readJpegBody(jpeg_decompress_struct* info, JpegGuard* guard, const uint8_t* data,
                  size_t length, Pixels* out) {
  jpeg_create_decompress(info);  // clears everything but the error manager
  info->progress = &guard->progress;
  jpeg_mem_src(info, data, static_cast<unsigned long>(length));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
  if (!sizeAllowed(info->image_width, info->image_height)) return false;
  if (uint64_t{info->image_width} * info->image_height > length * kMaxJpegPixelsPerByte) {
    return false;
  }
  bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  jpeg_start_decompress(info);
  if (info->output_components != 4 ||
      !sizeAllowed(info->output_width, info->output_height)) {
    return false;
  }
  size_t stride = size_t{info->output_width} * 4;
  out->width = static_cast<int>(info->output_width);
  out->height = static_cast<int>(info->output_height);
  out->rgba.assign(stride * info->output_height, 0);
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = &out->rgba[size_t{info->output_scanline} * stride];
    if (jpeg_read_scanlines(info, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(info);
  if (cmyk) cmykToRgba(out);
  return true;
}

bool guardedJpegRead(jpeg_decompress_struct* info, JpegGuard* guard, const uint8_t* data,
                     size_t length, Pixels* out) {
  if (setjmp(guard->jump)) return false;
  return readJpegBody(info, guard, data, length, out);
}

bool decodeJpeg(const uint8_t* data, size_t length, Pixels* out) {
  jpeg_decompress_struct info;
  memset(&info, 0, sizeof info);
  JpegGuard guard;
  memset(&guard, 0, sizeof guard);
  info.err = jpeg_std_error(&guard.errors);
  guard.errors.error_exit = jpegFail;
  guard.errors.emit_message = jpegMessage;
  guard.progress.progress_monitor = jpegProgress;
  bool ok = guardedJpegRead(&info, &guard, data, length, out);
  jpeg_destroy_decompress(&info);
  // A file cut short still decodes, the missing part grey; a picture from a broken download
  // is better refused.
  return ok && !guard.truncated;
}

// ---- BMP -----------------------------------------------------------------------------------

// Little-endian reads with a sticky failure: a read outside the data yields 0 and marks the
// reader bad, so the header can be read in one go and checked once.
struct ByteReader {
  const uint8_t* data;
  size_t length;
  bool bad = false;

  bool has(size_t at, size_t count) {
    if (at <= length && count <= length - at) return true;
    bad = true;
    return false;
  }
  uint16_t u16(size_t at) { return has(at, 2) ? uint16_t(data[at] | data[at + 1] << 8) : 0; }
  uint32_t u32(size_t at) {
    if (!has(at, 4)) return 0;
    return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
           uint32_t(data[at + 3]) << 24;
  }
};

enum BmpCompression : uint32_t { kBmpRgb = 0, kBmpBitfields = 3, kBmpAlphaBitfields = 6 };

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t maximum = 0;
};

struct BmpLayout {
  int64_t width = 0, height = 0;
  bool topDown = false;
  int bits = 0;
  size_t pixelOffset = 0;
  size_t paletteOffset = 0;
  uint32_t paletteCount = 0;
  bool masked = false;  // 16 and 32 bits: channels by mask
  Channel channels[4];  // R, G, B, A
  size_t stride = 0;
};

Channel channelOf(uint32_t mask) {
  Channel c;
  if (mask == 0) return c;
  c.mask = mask;
  c.shift = std::countr_zero(mask);
  c.maximum = mask >> c.shift;
  return c;
}

uint8_t channelValue(uint32_t value, const Channel& c) {
  if (c.mask == 0) return 0;
  uint64_t v = (value & c.mask) >> c.shift;
  return static_cast<uint8_t>((v * 255 + c.maximum / 2) / c.maximum);
}

bool bmpMasks(ByteReader& in, uint32_t headerSize, uint32_t compression, BmpLayout* layout) {
  uint32_t masks[4] = {0, 0, 0, 0};
  if (compression == kBmpRgb) {
    if (layout->bits == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else {
      masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;  // the fourth byte is padding
    }
  } else {
    // Masks follow the 40-byte fields, inside a longer header or right after a short one.
    for (int i = 0; i < 3; ++i) masks[i] = in.u32(54 + 4 * i);
    if (headerSize >= 56 || compression == kBmpAlphaBitfields) masks[3] = in.u32(66);
  }
  for (int i = 0; i < 4; ++i) layout->channels[i] = channelOf(masks[i]);
  layout->masked = true;
  return !in.bad;
}

bool readBmpLayout(ByteReader& in, BmpLayout* layout) {
  uint32_t headerSize = in.u32(14);
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124) {
    logLine("IMAGE", "BMP header of %u bytes not supported", headerSize);
    return false;
  }
  layout->pixelOffset = in.u32(10);
  layout->width = static_cast<int32_t>(in.u32(18));
  int64_t height = static_cast<int32_t>(in.u32(22));
  uint16_t planes = in.u16(26);
  layout->bits = in.u16(28);
  uint32_t compression = in.u32(30);
  uint32_t colours = in.u32(46);
  if (in.bad || planes != 1) return false;
  layout->topDown = height < 0;
  layout->height = height < 0 ? -height : height;
  if (!sizeAllowed(layout->width, layout->height)) return false;

  int bits = layout->bits;
  bool paletted = bits == 1 || bits == 4 || bits == 8;
  bool maskable = bits == 16 || bits == 32;
  bool byMask = compression == kBmpBitfields || compression == kBmpAlphaBitfields;
  if (compression != kBmpRgb && !byMask) {
    logLine("IMAGE", "BMP compression %u not supported", compression);
    return false;
  }
  if (!paletted && !maskable && bits != 24) return false;
  if (byMask && !maskable) return false;
  if (maskable && !bmpMasks(in, headerSize, compression, layout)) return false;

  if (paletted) {
    uint32_t most = 1u << bits;
    layout->paletteCount = colours == 0 || colours > most ? most : colours;
    layout->paletteOffset = 14 + headerSize;
    if (!in.has(layout->paletteOffset, size_t{layout->paletteCount} * 4)) return false;
  }
  uint64_t rowBits = uint64_t(layout->width) * bits;
  layout->stride = static_cast<size_t>((rowBits + 31) / 32 * 4);
  // The last row may lack its padding; some writers leave it out.
  size_t lastRow = static_cast<size_t>((rowBits + 7) / 8);
  return in.has(layout->pixelOffset, layout->stride * size_t(layout->height - 1) + lastRow);
}

void bmpRow(const BmpLayout& layout, const uint8_t* row, const uint8_t* palette, uint8_t* out) {
  for (int64_t x = 0; x < layout.width; ++x, out += 4) {
    if (layout.bits <= 8) {
      uint64_t bit = uint64_t(x) * layout.bits;
      unsigned index = (row[bit / 8] >> (8 - layout.bits - bit % 8)) & ((1u << layout.bits) - 1);
      const uint8_t* entry = index < layout.paletteCount ? palette + index * 4 : nullptr;
      out[0] = entry ? entry[2] : 0;
      out[1] = entry ? entry[1] : 0;
      out[2] = entry ? entry[0] : 0;
      out[3] = 255;
    } else if (layout.bits == 24) {
      const uint8_t* p = row + x * 3;
      out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 255;
    } else {
      const uint8_t* p = row + x * (layout.bits / 8);
      uint32_t v = layout.bits == 16 ? uint32_t(p[0] | p[1] << 8)
                                     : uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                           uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
      for (int c = 0; c < 3; ++c) out[c] = channelValue(v, layout.channels[c]);
      out[3] = layout.channels[3].mask ? channelValue(v, layout.channels[3]) : 255;
    }
  }
}

bool decodeBmp(const uint8_t* data, size_t length, Pixels* out) {
  ByteReader in{data, length};
  BmpLayout layout;
  if (!readBmpLayout(in, &layout)) return false;
  out->width = static_cast<int>(layout.width);
  out->height = static_cast<int>(layout.height);
  out->rgba.assign(size_t(layout.width) * size_t(layout.height) * 4, 0);
  const uint8_t* palette = data + layout.paletteOffset;
  for (int64_t y = 0; y < layout.height; ++y) {
    int64_t stored = layout.topDown ? y : layout.height - 1 - y;
    const uint8_t* row = data + layout.pixelOffset + size_t(stored) * layout.stride;
    bmpRow(layout, row, palette, &out->rgba[size_t(y) * layout.width * 4]);
  }
  // Many writers declare an alpha mask and leave every alpha at 0; such a picture is opaque.
  if (layout.channels[3].mask) {
    bool allClear = true;
    for (size_t i = 3; i < out->rgba.size() && allClear; i += 4) allClear = out->rgba[i] == 0;
    if (allClear) {
      for (size_t i = 3; i < out->rgba.size(); i += 4) out->rgba[i] = 255;
    }
  }
  return true;
}

// ---- Resizing --------------------------------------------------------------------------------

struct Tap {
  int index;
  float weight;
};

// For each destination position along one axis, the source positions it draws from.
struct Axis {
  std::vector<size_t> first;  // size + 1 entries into taps
  std::vector<Tap> taps;
  int size() const { return static_cast<int>(first.size()) - 1; }
};

// Shrinking averages the source area each target pixel covers; growing interpolates between
// the two nearest source pixels, centres aligned.
Axis axisWeights(int from, int to) {
  Axis axis;
  axis.first.push_back(0);
  double scale = double(from) / to;
  for (int i = 0; i < to; ++i) {
    if (to < from) {
      double low = i * scale, high = (i + 1) * scale;
      int end = std::min(from, static_cast<int>(std::ceil(high)));
      for (int s = static_cast<int>(low); s < end; ++s) {
        double overlap = std::min(high, s + 1.0) - std::max(low, double(s));
        if (overlap > 0) axis.taps.push_back({s, static_cast<float>(overlap / scale)});
      }
    } else {
      double x = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(from - 1));
      int s = static_cast<int>(x);
      float f = static_cast<float>(x - s);
      axis.taps.push_back({s, 1 - f});
      if (f > 0) axis.taps.push_back({std::min(s + 1, from - 1), f});
    }
    axis.first.push_back(axis.taps.size());
  }
  return axis;
}

// Colours are averaged with alpha premultiplied, so transparent pixels lend no colour.
struct FloatImage {
  int width = 0, height = 0;
  std::vector<float> values;  // premultiplied RGBA
};

void load(const Pixels& image, size_t index, float weight, float* sum) {
  const uint8_t* p = &image.rgba[index * 4];
  float alpha = p[3] * weight;
  sum[0] += p[0] * alpha / 255.0f;
  sum[1] += p[1] * alpha / 255.0f;
  sum[2] += p[2] * alpha / 255.0f;
  sum[3] += alpha;
}

void load(const FloatImage& image, size_t index, float weight, float* sum) {
  const float* p = &image.values[index * 4];
  for (int c = 0; c < 4; ++c) sum[c] += p[c] * weight;
}

void store(FloatImage* image, size_t index, const float* sum) {
  std::copy(sum, sum + 4, &image->values[index * 4]);
}

uint8_t toByte(float value) { return static_cast<uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f)); }

void store(Pixels* image, size_t index, const float* sum) {
  uint8_t* p = &image->rgba[index * 4];
  float alpha = sum[3];
  for (int c = 0; c < 3; ++c) p[c] = alpha > 0 ? toByte(sum[c] * 255.0f / alpha) : 0;
  p[3] = toByte(alpha);
}

void prepare(FloatImage* image, int width, int height) {
  image->width = width;
  image->height = height;
  image->values.assign(size_t(width) * height * 4, 0.0f);
}

void prepare(Pixels* image, int width, int height) {
  image->width = width;
  image->height = height;
  image->rgba.assign(size_t(width) * height * 4, 0);
}

// Resamples along x (alongX) or y with the axis weights.
template <class From, class To>
void resampleAxis(const From& from, const Axis& axis, bool alongX, To* to) {
  int width = alongX ? axis.size() : from.width;
  int height = alongX ? from.height : axis.size();
  prepare(to, width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int i = alongX ? x : y;
      float sum[4] = {0, 0, 0, 0};
      for (size_t t = axis.first[i]; t < axis.first[i + 1]; ++t) {
        const Tap& tap = axis.taps[t];
        size_t source = alongX ? size_t(y) * from.width + tap.index
                               : size_t(tap.index) * from.width + x;
        load(from, source, tap.weight, sum);
      }
      store(to, size_t(y) * width + x, sum);
    }
  }
}

Pixels resized(const Pixels& source, int width, int height) {
  Axis across = axisWeights(source.width, width);
  Axis down = axisWeights(source.height, height);
  FloatImage between;
  Pixels result;
  // The pass that leaves the smaller picture in between goes first.
  if (int64_t(width) * source.height <= int64_t(source.width) * height) {
    resampleAxis(source, across, true, &between);
    resampleAxis(between, down, false, &result);
  } else {
    resampleAxis(source, down, false, &between);
    resampleAxis(between, across, true, &result);
  }
  return result;
}

// ---- Image objects -------------------------------------------------------------------------

ObjectTable<Pixels>& images() {
  static ObjectTable<Pixels> table;
  return table;
}

bool validPixels(const Pixels& pixels) {
  return sizeAllowed(pixels.width, pixels.height) &&
         pixels.rgba.size() == size_t(pixels.width) * pixels.height * 4;
}

}  // namespace

bool decodePicture(const void* data, size_t length, Pixels* out) {
  if (!data || !out) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  Pixels pixels;
  bool ok = false;
  if (startsWith(bytes, length, "\x89PNG\r\n\x1a\n", 8)) {
    ok = decodePng(bytes, length, &pixels);
  } else if (startsWith(bytes, length, "\xFF\xD8\xFF", 3)) {
    ok = decodeJpeg(bytes, length, &pixels);
  } else if (startsWith(bytes, length, "BM", 2)) {
    ok = decodeBmp(bytes, length, &pixels);
  } else {
    logLine("IMAGE", "not a PNG, JPEG or BMP picture (%zu bytes)", length);
    return false;
  }
  if (!ok || !validPixels(pixels)) {
    logLine("IMAGE", "broken or oversized picture (%zu bytes)", length);
    return false;
  }
  *out = std::move(pixels);
  return true;
}

bool encodePng(const Pixels& pixels, std::vector<uint8_t>* out) {
  if (!out || !validPixels(pixels)) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFail, pngWarn);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> encoded;
  std::vector<png_bytep> rows;
  png_set_write_fn(png, &encoded, pngWrite, pngFlush);
  bool ok = info && guardedPngWrite(png, info, pixels, &rows);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (ok) *out = std::move(encoded);
  return ok;
}

Handle decodeImage(int32_t number, const void* data, size_t length) {
  return images().create(number, [&]() -> std::unique_ptr<Pixels> {
    auto pixels = std::make_unique<Pixels>();
    if (!decodePicture(data, length, pixels.get())) return nullptr;
    return pixels;
  });
}

Handle createImage(int32_t number, int width, int height, const uint8_t* rgba) {
  if (!sizeAllowed(width, height)) return 0;
  return images().create(number, [&] {
    auto pixels = std::make_unique<Pixels>();
    size_t bytes = size_t(width) * height * 4;
    pixels->width = width;
    pixels->height = height;
    if (rgba) {
      pixels->rgba.assign(rgba, rgba + bytes);
    } else {
      pixels->rgba.assign(bytes, 0);
    }
    return pixels;
  });
}

bool resizeImage(uint32_t image, int width, int height) {
  Pixels* pixels = images().find(image);
  if (!pixels || !sizeAllowed(width, height)) return false;
  if (pixels->width == width && pixels->height == height) return true;
  *pixels = resized(*pixels, width, height);
  return true;
}

bool saveImagePng(uint32_t image, const std::string& path) {
  Pixels* pixels = images().find(image);
  std::vector<uint8_t> encoded;
  if (!pixels || !encodePng(*pixels, &encoded)) return false;
  if (!writeFileAtomically(path, encoded.data(), encoded.size())) {
    logLine("IMAGE", "cannot write %s", path.c_str());
    return false;
  }
  return true;
}

void freeImage(uint32_t image) { images().free(image); }

bool imageExists(uint32_t image) { return images().exists(image); }

int imageWidth(uint32_t image) {
  Pixels* pixels = images().find(image);
  return pixels ? pixels->width : 0;
}

int imageHeight(uint32_t image) {
  Pixels* pixels = images().find(image);
  return pixels ? pixels->height : 0;
}

uint8_t* imagePixels(uint32_t image) {
  Pixels* pixels = images().find(image);
  return pixels ? pixels->rgba.data() : nullptr;
}

}  // namespace rt
