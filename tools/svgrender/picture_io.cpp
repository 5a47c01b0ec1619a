#include "picture_io.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace art {
namespace {

struct Rgba {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // straight (not premultiplied) RGBA, row by row
};

Rgba unpremultiply(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  Rgba out;
  out.width = cairo_image_surface_get_width(surface);
  out.height = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
  for (int y = 0; y < out.height; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < out.width; ++x) {
      uint32_t p = row[x];
      uint32_t a = p >> 24;
      uint8_t* o = &out.pixels[(static_cast<size_t>(y) * out.width + x) * 4];
      o[3] = static_cast<uint8_t>(a);
      if (a == 0) continue;
      for (int c = 0; c < 3; ++c) {
        uint32_t v = (p >> (16 - 8 * c)) & 0xFF;
        o[c] = static_cast<uint8_t>((v * 255 + a / 2) / a);
      }
    }
  }
  return out;
}

// Spreads colour into transparent pixels, one ring per pass; alpha stays 0.
void bleedEdges(Rgba& picture, int passes) {
  std::vector<uint8_t> filled(picture.pixels.size() / 4);
  for (size_t i = 0; i < filled.size(); ++i) filled[i] = picture.pixels[i * 4 + 3] != 0;
  for (int pass = 0; pass < passes; ++pass) {
    std::vector<uint8_t> next = filled;
    for (int y = 0; y < picture.height; ++y) {
      for (int x = 0; x < picture.width; ++x) {
        size_t index = static_cast<size_t>(y) * picture.width + x;
        if (filled[index]) continue;
        int sum[3] = {0, 0, 0};
        int count = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= picture.width || ny >= picture.height) continue;
            size_t n = static_cast<size_t>(ny) * picture.width + nx;
            if (!filled[n]) continue;
            for (int c = 0; c < 3; ++c) sum[c] += picture.pixels[n * 4 + c];
            ++count;
          }
        }
        if (count == 0) continue;
        for (int c = 0; c < 3; ++c) picture.pixels[index * 4 + c] = static_cast<uint8_t>(sum[c] / count);
        next[index] = 1;
      }
    }
    filled.swap(next);
  }
}

bool writePng(const Rgba& picture, const std::string& path) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(file);
    fprintf(stderr, "cannot encode %s\n", path.c_str());
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < picture.height; ++y) {
    png_write_row(png, &picture.pixels[static_cast<size_t>(y) * picture.width * 4]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return fclose(file) == 0;
}

bool writeJpeg(cairo_surface_t* surface, const std::string& path) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  cairo_surface_flush(surface);
  int width = cairo_image_surface_get_width(surface);
  int height = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);

  jpeg_compress_struct jpeg;
  jpeg_error_mgr errors;
  jpeg.err = jpeg_std_error(&errors);
  jpeg_create_compress(&jpeg);
  jpeg_stdio_dest(&jpeg, file);
  jpeg.image_width = width;
  jpeg.image_height = height;
  jpeg.input_components = 3;
  jpeg.in_color_space = JCS_RGB;
  jpeg_set_defaults(&jpeg);
  jpeg_set_quality(&jpeg, 90, TRUE);
  jpeg_start_compress(&jpeg, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  while (jpeg.next_scanline < jpeg.image_height) {
    // Premultiplied colour is the picture over black.
    const uint32_t* in = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(jpeg.next_scanline) * stride);
    for (int x = 0; x < width; ++x) {
      row[x * 3 + 0] = static_cast<uint8_t>(in[x] >> 16);
      row[x * 3 + 1] = static_cast<uint8_t>(in[x] >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(in[x]);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&jpeg, rows, 1);
  }
  jpeg_finish_compress(&jpeg);
  jpeg_destroy_compress(&jpeg);
  return fclose(file) == 0;
}

// libjpeg reports fatal errors through a callback that must not return.
struct JpegErrors {
  jpeg_error_mgr manager;
  jmp_buf escape;
};

void onJpegError(j_common_ptr jpeg) {
  longjmp(reinterpret_cast<JpegErrors*>(jpeg->err)->escape, 1);
}

bool endsWith(const std::string& text, const char* tail) {
  std::string t(tail);
  if (text.size() < t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    char c = text[text.size() - t.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != t[i]) return false;
  }
  return true;
}

}  // namespace

cairo_surface_t* readJpeg(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    return nullptr;
  }
  jpeg_decompress_struct jpeg;
  JpegErrors errors;
  jpeg.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = onJpegError;
  cairo_surface_t* volatile surface = nullptr;  // read after a longjmp
  if (setjmp(errors.escape)) {
    jpeg_destroy_decompress(&jpeg);
    fclose(file);
    if (surface) cairo_surface_destroy(surface);
    fprintf(stderr, "cannot decode %s\n", path.c_str());
    return nullptr;
  }
  jpeg_create_decompress(&jpeg);
  jpeg_stdio_src(&jpeg, file);
  jpeg_read_header(&jpeg, TRUE);
  jpeg.out_color_space = JCS_RGB;
  jpeg_start_decompress(&jpeg);
  int width = static_cast<int>(jpeg.output_width), height = static_cast<int>(jpeg.output_height);
  surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  unsigned char* data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  while (jpeg.output_scanline < jpeg.output_height) {
    uint32_t* out = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(jpeg.output_scanline) * stride);
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&jpeg, rows, 1);
    for (int x = 0; x < width; ++x) {
      out[x] = 0xFF000000u | (uint32_t{row[x * 3]} << 16) | (uint32_t{row[x * 3 + 1]} << 8) | row[x * 3 + 2];
    }
  }
  jpeg_finish_decompress(&jpeg);
  jpeg_destroy_decompress(&jpeg);
  fclose(file);
  cairo_surface_mark_dirty(surface);
  return surface;
}

bool isJpegName(const std::string& path) { return endsWith(path, ".jpg") || endsWith(path, ".jpeg"); }

bool writePicture(cairo_surface_t* surface, const std::string& path) {
  if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
    fprintf(stderr, "cannot write %s: not an ARGB picture\n", path.c_str());
    return false;
  }
  if (isJpegName(path)) return writeJpeg(surface, path);
  Rgba picture = unpremultiply(surface);
  bleedEdges(picture, 4);
  return writePng(picture, path);
}

}  // namespace art
