// The tile-set loader: a downloaded tile set read, its pictures decoded (with previews when the
// editor asks for them) and its tiles put under the cells of a map that names it twice, then
// boxes placed on the result. The input is the tile-set file; the map is always the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/screen.h"
#include "tests/fuzz/scratch_files.h"
#include "world/map.h"
#include "world/map_file.h"
#include "world/world.h"

namespace {

constexpr int kSide = 4;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Two layers of 4 x 4 cells over both loadings of the set, tiles 0..15 and one missing cell.
void writeMap() {
  MapFile map;
  map.lastColumn = map.lastRow = kSide - 1;
  map.lastLayer = 1;
  map.tileSetNames = {"Fuzz.set", "Fuzz.set"};
  map.spawnPoints.push_back({0, "Spawn", 48, 48});
  for (int layer = 0; layer < 2; ++layer) {
    for (int i = 0; i < kSide * kSide; ++i) {
      MapFileCell cell;
      cell.present = i != 5;
      cell.tileSet = layer;
      cell.tile = i;
      cell.rotation = static_cast<int16_t>(90 * (i % 4));
      map.cells.push_back(cell);
    }
  }
  std::vector<uint8_t> bytes;
  if (!writeMapFile(map, &bytes)) __builtin_trap();
  fuzz::scratchFile("Fuzz.map", bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = [] {
    writeMap();
    return rt::initScreenSystem(rt::Backend::Null);
  }();
  if (!started) return 0;
  fuzz::scratchFile("Fuzz.set", data, size);
  bool previews = size > 0 && (data[0] & 1);
  // A tile set that is cut short, broken or over its limits refuses the whole map.
  if (!loadMap(fuzz::scratchFolder() + "Fuzz", fuzz::scratchFolder(), previews)) {
    check(mapColumns() <= 1 && tileSetCount() == 0);
    return 0;
  }

  check(mapColumns() == kSide && mapRows() == kSide && mapLayers() == 2);
  check(tileSetCount() <= 2);
  int32_t width = world.map.tileWidth, height = world.map.tileHeight;
  check(width >= kMinTileSize && width <= kMaxTileSize && height >= kMinTileSize &&
        height <= kMaxTileSize);
  check(mapHeader().pixelWidth == kSide * width && mapHeader().pixelHeight == kSide * height);
  check(world.map.picturePixels <= world.map.pixelBudget);
  for (int layer = 0; layer < 2; ++layer) {
    for (int row = 0; row < kSide; ++row) {
      for (int column = 0; column < kSide; ++column) {
        const MapCell& cell = mapCell(layer, column, row);
        check(!cell.tile || cell.tile == findTile(cell.tileSetNumber, cell.tileNumber));
      }
    }
  }
  generateBoxes(true);
  clearMap();
  return 0;
}
