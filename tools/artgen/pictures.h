// Loading and drawing the pictures that artgen works with.
#pragma once

#include <cairo.h>

#include <string>

#include "expand.h"

namespace art {

// Renders an SVG file into a new width x height ARGB surface. With variables, the file is a
// template and its {{expression}} holes are filled first. Returns null (after a message on
// stderr) when the file cannot be read, expanded or rendered.
cairo_surface_t* renderSvg(const std::string& path, int width, int height, const Variables* variables);

// Loads a PNG or JPEG file, or renders an SVG at the given size; null with a message on failure.
cairo_surface_t* loadPicture(const std::string& path, int width, int height, const Variables* variables);

// Multiplies the colour of every pixel by rgb (0xRRGGBB), as the game's corner colours do.
void tintSurface(cairo_surface_t* surface, unsigned rgb);

bool readText(const std::string& path, std::string* text);

}  // namespace art
