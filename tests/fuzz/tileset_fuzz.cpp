// Fuzzes the tile-set file reader and the picture-size sniffer that guards the decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "world/map_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t width = 0, height = 0;
  pictureDimensions(data, size, &width, &height);

  TileSetFile set;
  if (!parseTileSetFile(data, size, &set)) {
    if (!set.tiles.empty() || !set.pictures.empty()) __builtin_trap();
    return 0;
  }
  if (set.kinds.size() > static_cast<size_t>(kTileSetFileMaxKinds) ||
      set.pictures.size() > static_cast<size_t>(kTileSetFileMaxPictures) ||
      set.tiles.size() > static_cast<size_t>(kTileSetFileMaxTiles)) {
    __builtin_trap();
  }
  size_t pictureBytes = 0;
  for (const TileSetFilePicture& picture : set.pictures) {
    pictureBytes += picture.bytes.size();
    pictureDimensions(picture.bytes.data(), picture.bytes.size(), &width, &height);
  }
  if (pictureBytes > size) __builtin_trap();
  for (const TileSetFileKind& kind : set.kinds) {
    if (kind.text.size() > kMapShortTextBytes) __builtin_trap();
  }

  std::vector<uint8_t> bytes;
  if (!writeTileSetFile(set, &bytes)) return 0;
  TileSetFile again;
  if (!parseTileSetFile(bytes.data(), bytes.size(), &again)) __builtin_trap();
  if (again.tiles.size() != set.tiles.size() || again.pictures.size() != set.pictures.size() ||
      again.kinds.size() != set.kinds.size()) {
    __builtin_trap();
  }
  for (size_t i = 0; i < set.pictures.size(); ++i) {
    if (again.pictures[i].bytes != set.pictures[i].bytes) __builtin_trap();
  }
  return 0;
}
