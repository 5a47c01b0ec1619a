// mapc: the map compiler of the content build.
//
//   mapc tileset SOURCE.tiles PICTURE_DIR OUT_FILE
//       a tile-set source and its rendered pictures (PICTURE_DIR/<picture>.png) -> tile-set file
//   mapc map SOURCE.txt TILESET_SOURCE_DIR OUT.map
//       a map source -> map file; its tile sets are checked against their sources
//   mapc preview MAP.map TILESET_DIR OUT.png [--box BOX.png] [--scale S] [--width W] [--seed N]
//                [--flat]
//       an overview picture of a compiled map, scaled by S but at most W pixels wide (--flat:
//       without lights and spawn marks)
//
// Complaints go to standard error as file:line: message; nothing is written after one.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "map_source.h"
#include "preview.h"
#include "runtime/files.h"
#include "tileset_source.h"
#include "world/map_file.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: mapc tileset SOURCE.tiles PICTURE_DIR OUT_FILE\n"
          "       mapc map SOURCE.txt TILESET_SOURCE_DIR OUT.map\n"
          "       mapc preview MAP.map TILESET_DIR OUT.png [--box BOX.png] [--scale S] [--width W]"
          " [--seed N] [--flat]\n");
  return 2;
}

bool save(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (rt::writeFileAtomically(path, bytes.data(), bytes.size())) return true;
  fprintf(stderr, "mapc: cannot write %s\n", path.c_str());
  return false;
}

int tileSet(char** argv) {
  mapc::Diagnostics diagnostics;
  mapc::TileSetSource source;
  TileSetFile file;
  std::vector<uint8_t> bytes;
  if (!mapc::parseTileSetSource(argv[2], diagnostics, &source) ||
      !mapc::buildTileSetFile(source, argv[3], diagnostics, &file)) {
    return 1;
  }
  if (!writeTileSetFile(file, &bytes)) {
    fprintf(stderr, "%s: the tile set cannot be written\n", argv[2]);
    return 1;
  }
  return save(argv[4], bytes) ? 0 : 1;
}

int map(char** argv) {
  mapc::Diagnostics diagnostics;
  MapFile file;
  std::vector<uint8_t> bytes;
  if (!mapc::compileMapSource(argv[2], argv[3], diagnostics, &file)) return 1;
  if (!writeMapFile(file, &bytes)) {
    fprintf(stderr, "%s: the map cannot be written\n", argv[2]);
    return 1;
  }
  return save(argv[4], bytes) ? 0 : 1;
}

int preview(int argc, char** argv) {
  mapc::PreviewOptions options;
  for (int i = 5; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--flat") {
      options.lights = false;
      options.spawnMarks = false;
    } else if (option == "--box" && i + 1 < argc) {
      options.boxPicture = argv[++i];
    } else if (option == "--scale" && i + 1 < argc) {
      options.scale = atof(argv[++i]);
    } else if (option == "--width" && i + 1 < argc) {
      options.maxWidth = atoi(argv[++i]);
    } else if (option == "--seed" && i + 1 < argc) {
      options.seed = strtoull(argv[++i], nullptr, 10);
    } else {
      return usage();
    }
  }
  if (options.scale <= 0 || options.scale > 1) return usage();
  return mapc::writeMapPreview(argv[2], argv[3], argv[4], options) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return usage();
  std::string command = argv[1];
  if (command == "tileset" && argc == 5) return tileSet(argv);
  if (command == "map" && argc == 5) return map(argv);
  if (command == "preview") return preview(argc, argv);
  return usage();
}
