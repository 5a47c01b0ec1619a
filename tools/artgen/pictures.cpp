#include "pictures.h"

#include <librsvg/rsvg.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "picture_io.h"

namespace art {

bool readText(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream buffer;
  buffer << file.rdbuf();
  *text = buffer.str();
  return true;
}

cairo_surface_t* renderSvg(const std::string& path, int width, int height, const Variables* variables) {
  if (width < 1 || height < 1 || width > 16384 || height > 16384) {
    fprintf(stderr, "artgen: bad size %dx%d for %s\n", width, height, path.c_str());
    return nullptr;
  }
  std::string text;
  if (!readText(path, &text)) {
    fprintf(stderr, "artgen: cannot read %s\n", path.c_str());
    return nullptr;
  }
  if (variables) {
    std::string expanded, why;
    if (!expandTemplate(text, *variables, &expanded, &why)) {
      fprintf(stderr, "artgen: %s: %s\n", path.c_str(), why.c_str());
      return nullptr;
    }
    text.swap(expanded);
  }
  GError* error = nullptr;
  // The base file lets the picture refer to files next to it.
  GFile* base = g_file_new_for_path(path.c_str());
  GInputStream* stream = g_memory_input_stream_new_from_data(text.data(), static_cast<gssize>(text.size()), nullptr);
  RsvgHandle* svg = rsvg_handle_new_from_stream_sync(stream, base, RSVG_HANDLE_FLAGS_NONE, nullptr, &error);
  g_object_unref(stream);
  g_object_unref(base);
  if (!svg) {
    fprintf(stderr, "artgen: %s: %s\n", path.c_str(), error ? error->message : "not an SVG picture");
    if (error) g_error_free(error);
    return nullptr;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  RsvgRectangle viewport = {0, 0, static_cast<double>(width), static_cast<double>(height)};
  bool drawn = rsvg_handle_render_document(svg, cr, &viewport, &error);
  cairo_destroy(cr);
  g_object_unref(svg);
  if (!drawn) {
    fprintf(stderr, "artgen: %s: %s\n", path.c_str(), error ? error->message : "cannot render");
    if (error) g_error_free(error);
    cairo_surface_destroy(surface);
    return nullptr;
  }
  return surface;
}

cairo_surface_t* loadPicture(const std::string& path, int width, int height, const Variables* variables) {
  bool svg = path.size() > 4 && path.compare(path.size() - 4, 4, ".svg") == 0;
  if (svg) return renderSvg(path, width, height, variables);
  if (isJpegName(path)) return readJpeg(path);
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    fprintf(stderr, "artgen: cannot read %s\n", path.c_str());
    cairo_surface_destroy(surface);
    return nullptr;
  }
  if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32) return surface;
  // Opaque pictures come in as RGB24; tinting wants one layout.
  int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(argb);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return argb;
}

void tintSurface(cairo_surface_t* surface, unsigned rgb) {
  cairo_surface_flush(surface);
  int width = cairo_image_surface_get_width(surface);
  int height = cairo_image_surface_get_height(surface);
  int stride = cairo_image_surface_get_stride(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  uint32_t factor[3] = {(rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF};
  for (int y = 0; y < height; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      uint32_t p = row[x];
      uint32_t out = p & 0xFF000000u;
      for (int c = 0; c < 3; ++c) {
        int shift = 16 - 8 * c;
        uint32_t v = (p >> shift) & 0xFF;
        out |= ((v * factor[c] + 127) / 255) << shift;
      }
      row[x] = out;
    }
  }
  cairo_surface_mark_dirty(surface);
}

}  // namespace art
