// Writing rendered pictures for the content build: PNG with alpha, or JPEG for opaque pictures.
#pragma once

#include <cairo.h>

#include <string>

namespace art {

// Writes an ARGB32 surface to path; a name ending in ".jpg" or ".jpeg" gives a JPEG of the
// picture over black, anything else a PNG with alpha. Fully transparent PNG pixels take the
// colour of their nearest visible neighbours, so that the game's smooth texture scaling does not
// pull dark fringes into light edges. Reports failures on stderr and returns false.
bool writePicture(cairo_surface_t* surface, const std::string& path);

bool isJpegName(const std::string& path);

// Reads a JPEG file into a new opaque ARGB32 surface; null with a message on stderr on failure.
cairo_surface_t* readJpeg(const std::string& path);

}  // namespace art
