// Scenes: a picture put together from other pictures by a small layout file, for the menu
// background and for the contact sheets the artists look at.
//
// A layout is read line by line; '#' starts a comment and ${NAME} is replaced by a definition
// given on the command line. Paths are relative to the layout file.
//
//   canvas WIDTH HEIGHT [RRGGBB]     first line: the picture's size and background (transparent)
//   rect X Y W H RRGGBB [alpha=A]    a filled rectangle
//   draw PATH X Y W H [options]      a PNG, or an SVG rendered at W x H; a path with spaces
//                                    goes in double quotes
//
// Options of draw, all as the game draws its sprites:
//   angle=DEG      clockwise turn about the rectangle's centre
//   tint=RRGGBB    colour multiplied into every pixel
//   alpha=A        0..255
//   add            additive blending (source alpha, one)
//   nine=B         nine-slice box with B-pixel borders, corners kept unscaled
//   src=X,Y,W,H    only this rectangle of the picture (PNG only)
//   frame=I/N      an SVG template expanded for frame I of N
#pragma once

#include <map>
#include <string>

namespace art {

bool composeScene(const std::string& layoutPath, const std::string& outputPath,
                  const std::map<std::string, std::string>& definitions);

}  // namespace art
