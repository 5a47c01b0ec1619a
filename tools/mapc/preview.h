// An overview picture of a compiled map: its tile layers, boxes where a round might put them,
// the spawn points, and the map's lights, overlay and ambient colour worked out as the game's
// light pass does it (light: dst x (1 + light), ambient: c^2 + dst^2).
#pragma once

#include <cstdint>
#include <string>

namespace mapc {

struct PreviewOptions {
  std::string boxPicture;  // PNG drawn on the generated boxes; none when empty
  double scale = 0.5;
  int maxWidth = 0;  // 0: no limit
  uint64_t seed = 1;
  bool lights = true;
  bool spawnMarks = true;
};

// mapPath: the .map file; tileSetDir: the folder of its tile-set files. False with a message on
// standard error when something cannot be read.
bool writeMapPreview(const std::string& mapPath, const std::string& tileSetDir,
                     const std::string& outPath, const PreviewOptions& options);

}  // namespace mapc
