// Tile-set sources (content/tilesets/<Name>.tiles):
//
//   header "Powderbox tile set: Meadow"      the file's first line
//   size 96 96                               tile size; every picture must have it
//   kind Floor 0 "Open ground"               kind name, value, text
//   tile 1 grass1 "Grass 1" kind=Floor       number, name, picture [kind= display= terrain=]
//   group wall 100 16 "Wall ##" terrain=1    COUNT tiles numbered from 100, pictures "Wall 00"..
//
// Names are the source's own: maps refer to tiles as <alias>:<name>, to a group's variant as
// <alias>:<group>#<index>, and to a whole group (chosen per cell by its neighbours) as
// <alias>:<group>. Pictures are read from <picture dir>/<picture>.png.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "source_text.h"
#include "world/map_file.h"

namespace mapc {

struct TileEntry {
  int32_t number = 0;
  std::string name;
  std::string picture;
  std::string kind;
  int16_t display = 0;
  int16_t terrain = 0;
};

struct TileGroup {
  int32_t first = 0;  // tile number of variant 0
  int32_t count = 0;
};

struct TileSetSource {
  std::string path;
  std::string header;
  int32_t width = 96, height = 96;
  std::vector<TileSetFileKind> kinds;
  std::vector<TileEntry> tiles;
  std::map<std::string, size_t> tileByName;
  std::map<int32_t, size_t> tileByNumber;
  std::map<std::string, TileGroup> groups;
};

bool parseTileSetSource(const std::string& path, Diagnostics& diagnostics, TileSetSource* out);
// Reads every picture and puts the file together; false (with complaints) when a picture is
// missing, cannot be decoded or is not of the tile size.
bool buildTileSetFile(const TileSetSource& source, const std::string& pictureDir,
                      Diagnostics& diagnostics, TileSetFile* out);

}  // namespace mapc
