// svgrender: renders an SVG picture to a PNG (or JPEG) file of a given size, for the content build.
//
//   svgrender IN.svg OUT.png [WIDTH HEIGHT]
//
// Without a size the picture's own size is used. Transparency is kept in PNG files; an output
// name ending in ".jpg" gives a JPEG of the picture over black.

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <cstdio>
#include <cstdlib>

#include "picture_io.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    fprintf(stderr, "usage: svgrender IN.svg OUT.png|OUT.jpg [WIDTH HEIGHT]\n");
    return 2;
  }
  GError* error = nullptr;
  RsvgHandle* svg = rsvg_handle_new_from_file(argv[1], &error);
  if (!svg) {
    fprintf(stderr, "svgrender: %s: %s\n", argv[1], error ? error->message : "cannot read");
    return 1;
  }
  double width = 0, height = 0;
  if (argc == 5) {
    width = atof(argv[3]);
    height = atof(argv[4]);
  } else if (!rsvg_handle_get_intrinsic_size_in_pixels(svg, &width, &height)) {
    fprintf(stderr, "svgrender: %s has no size of its own; give one\n", argv[1]);
    return 1;
  }
  if (width < 1 || height < 1 || width > 16384 || height > 16384) {
    fprintf(stderr, "svgrender: bad size %gx%g\n", width, height);
    return 2;
  }
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
  cairo_t* cr = cairo_create(surface);
  RsvgRectangle viewport = {0, 0, width, height};
  if (!rsvg_handle_render_document(svg, cr, &viewport, &error)) {
    fprintf(stderr, "svgrender: %s: %s\n", argv[1], error ? error->message : "cannot render");
    return 1;
  }
  cairo_destroy(cr);
  bool written = art::writePicture(surface, argv[2]);
  cairo_surface_destroy(surface);
  g_object_unref(svg);
  if (!written) {
    fprintf(stderr, "svgrender: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
