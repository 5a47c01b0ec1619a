// Fuzzes the map file reader: whatever the bytes, it must stay inside them, keep to its limits
// and give back a map the writer can put out again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "world/map_file.h"

namespace {

constexpr size_t kRoundTripCells = 1 << 16;

size_t cellCount(const MapFile& map) {
  return static_cast<size_t>(map.lastColumn + 1) * static_cast<size_t>(map.lastRow + 1) *
         (size_t{map.lastLayer} + 1);
}

void check(const uint8_t* data, size_t size) {
  MapFile map;
  if (parseMapFile(data, size, &map) != MapFileStatus::Ok) {
    if (!map.cells.empty() || !map.tileSetNames.empty()) __builtin_trap();
    return;
  }
  if (map.lastColumn < 0 || map.lastColumn >= kMapFileMaxColumns) __builtin_trap();
  if (map.lastRow < 0 || map.lastRow >= kMapFileMaxRows) __builtin_trap();
  size_t total = cellCount(map);
  if (total > static_cast<size_t>(kMapFileMaxCells)) __builtin_trap();
  if (map.cells.size() > total || map.cells.size() > size) __builtin_trap();
  if (map.tileSetNames.size() > static_cast<size_t>(kMapFileMaxTileSets) ||
      map.spawnPoints.size() > static_cast<size_t>(kMapFileMaxSpawnPoints) ||
      map.lights.size() > static_cast<size_t>(kMapFileMaxLights) ||
      map.emitters.size() > static_cast<size_t>(kMapFileMaxEmitters)) {
    __builtin_trap();
  }
  for (const SpawnPoint& point : map.spawnPoints) {
    if (point.name.size() > kMapShortTextBytes) __builtin_trap();
  }
  if (mapCellIndex(map, map.lastLayer, map.lastColumn, map.lastRow) != total - 1) __builtin_trap();

  // A whole map written out reads back the same. Past a large map's size the writer only
  // repeats itself, and a map of millions of cells took a fuzzing run's time for it.
  if (total > kRoundTripCells) return;
  map.cells.resize(total);
  std::vector<uint8_t> bytes;
  if (!writeMapFile(map, &bytes)) return;  // texts with line ends cannot be written
  MapFile again;
  if (parseMapFile(bytes.data(), bytes.size(), &again) != MapFileStatus::Ok) __builtin_trap();
  if (again.cells.size() != total || again.spawnPoints.size() != map.spawnPoints.size() ||
      again.lights.size() != map.lights.size() || again.emitters.size() != map.emitters.size()) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(data, size);
  // Random sizes are nearly always refused; a copy with a small map's header reaches the cells
  // and everything after them.
  if (size < 3) return 0;
  std::vector<uint8_t> small = {'\n', '\n', '\n'};
  for (int32_t value : {data[0] % 9, data[1] % 9}) {
    for (int i = 0; i < 4; ++i) small.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  small.push_back(static_cast<uint8_t>(data[2] % 4));
  small.insert(small.end(), data + 3, data + size);
  check(small.data(), small.size());
  return 0;
}
