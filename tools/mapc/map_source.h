// Map sources (content/maps/<Name>.txt): a readable description that compiles into the binary
// map file. One statement per line; "//" starts a comment; texts with spaces are quoted.
//
//   title "Arena"                      the map file's three header lines: title, text2, text3
//   text2 "Open ground, stone pillars"
//   players 8                          the player limit
//   size 15 11                         columns and rows
//   layers 4                           1 to 256
//   tileset M Meadow                   alias and tile set: "Meadow.tileset", source Meadow.tiles
//   ambient #a0a0a0                    colours as #RRGGBB; "overlay none" for no overlay
//   overlay #201000
//   drift 0.2 -0.1                     or "drift off"
//
//   legend                             one character per line: alternatives chosen per cell
//     . M:grass1 M:grass2 rotate=any   (rotate=0, 90, 180, 270 or any)
//     # M:wall                         a group: its variant follows the same-group neighbours
//     - empty                          (north 1, east 2, south 4, west 8; outside counts)
//   end
//   layer 0                            a grid of rows x columns legend characters
//   ...
//   end
//
//   spawn at=1,1 name="North west"     at a cell's centre (or pixel=X,Y), value=N
//   light point at=3,4 size=320 colour=#ffc070 intensity=0.8 flicker=0.2 interval=90
//   light point on=t layer=3 ...       one light on every cell that shows "t" (on that layer)
//   emitter on=t texture=Spark area=16x8 interval=60 life=400 extra=200 size=12 grow=-0.1
//           speed=0.8 angle=240..300 drift=1 blend=5,2 alpha=255 fade=8 offset=0,-10
//   shadows layer=3 from=# tiles=M:shadow    walls cast shadows down and right: variant is
//                                            west 1 + north 2 + north-west 4
//   fringe layer=1 from=. tiles=M:fringe     spills over the edges of other ground: variant
//                                            is north 1 + east 2 + south 4 + west 8
//
// The compiler checks everything it can: grid sizes, unknown characters and tiles, spawn points
// on open ground, values in range.
#pragma once

#include <string>

#include "source_text.h"
#include "world/map_file.h"

namespace mapc {

// tileSetDir holds the tile-set sources (<Name>.tiles). False with complaints on any error.
bool compileMapSource(const std::string& path, const std::string& tileSetDir,
                      Diagnostics& diagnostics, MapFile* out);

}  // namespace mapc
