#include "preview.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "runtime/screen.h"
#include "world/map_file.h"

namespace mapc {
namespace {

struct Canvas {
  int width = 0, height = 0;
  std::vector<float> rgb;  // 0..1

  float* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

bool readBytes(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Pixel (u, v) of a square tile turned clockwise by a multiple of 90 degrees.
void sourcePixel(int rotation, int size, int u, int v, int* sx, int* sy) {
  switch (((rotation % 360) + 360) % 360 / 90) {
    case 1: *sx = v; *sy = size - 1 - u; return;
    case 2: *sx = size - 1 - u; *sy = size - 1 - v; return;
    case 3: *sx = size - 1 - v; *sy = u; return;
    default: *sx = u; *sy = v; return;
  }
}

void blit(Canvas& canvas, const rt::Pixels& picture, int left, int top, int rotation) {
  bool square = picture.width == picture.height;
  for (int v = 0; v < picture.height; ++v) {
    for (int u = 0; u < picture.width; ++u) {
      int x = left + u, y = top + v;
      if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) continue;
      int sx = u, sy = v;
      if (square) sourcePixel(rotation, picture.width, u, v, &sx, &sy);
      const uint8_t* p = &picture.rgba[(static_cast<size_t>(sy) * picture.width + sx) * 4];
      float alpha = p[3] / 255.0f;
      float* d = canvas.at(x, y);
      for (int c = 0; c < 3; ++c) d[c] = d[c] * (1 - alpha) + p[c] / 255.0f * alpha;
    }
  }
}

// The falloff of the game's round light picture, by distance from the centre (0..1).
float falloff(float distance) {
  static const float kStops[][2] = {{0, 1}, {0.25f, 0.6f}, {0.6f, 0.18f}, {1, 0}};
  if (distance >= 1) return 0;
  for (int i = 1; i < 4; ++i) {
    if (distance <= kStops[i][0]) {
      float t = (distance - kStops[i - 1][0]) / (kStops[i][0] - kStops[i - 1][0]);
      return kStops[i - 1][1] + t * (kStops[i][1] - kStops[i - 1][1]);
    }
  }
  return 0;
}

float channel(uint32_t colour, int index) { return static_cast<float>(colour >> (8 * index) & 0xFF) / 255.0f; }

void applyLight(Canvas& canvas, const MapLight& light) {
  if (light.active != 1 || light.width <= 0 || light.height <= 0) return;
  float cx = light.x + light.width / 2.0f, cy = light.y + light.height / 2.0f;
  float rx = light.width / 2.0f, ry = light.height / 2.0f;
  int x0 = std::max(0, static_cast<int>(light.x)), x1 = std::min(canvas.width, light.x + light.width);
  int y0 = std::max(0, static_cast<int>(light.y)), y1 = std::min(canvas.height, light.y + light.height);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      float dx = (x + 0.5f - cx) / rx, dy = (y + 0.5f - cy) / ry;
      float f = falloff(std::sqrt(dx * dx + dy * dy)) * light.intensity;
      float* d = canvas.at(x, y);
      for (int c = 0; c < 3; ++c) d[c] = std::min(1.0f, d[c] * (1 + channel(light.colour, c) * f));
    }
  }
}

void applyScene(Canvas& canvas, const MapFile& map) {
  for (const MapLight& light : map.lights) applyLight(canvas, light);
  for (size_t i = 0; i < canvas.rgb.size(); i += 3) {
    for (int c = 0; c < 3; ++c) {
      float& d = canvas.rgb[i + c];
      if (map.overlayColour >= 1) {
        d = std::min(1.0f, d * (1 + channel(static_cast<uint32_t>(map.overlayColour), c)));
      }
      float a = channel(map.ambientColour, c);
      d = std::min(1.0f, a * a + d * d);
    }
  }
}

void ring(Canvas& canvas, int cx, int cy, float radius, const float colour[3]) {
  int r = static_cast<int>(radius) + 4;
  for (int y = cy - r; y <= cy + r; ++y) {
    for (int x = cx - r; x <= cx + r; ++x) {
      if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) continue;
      float d = std::hypot(static_cast<float>(x - cx), static_cast<float>(y - cy));
      float* p = canvas.at(x, y);
      if (std::fabs(d - radius) < 3) {
        for (int c = 0; c < 3; ++c) p[c] = colour[c];
      } else if (std::fabs(d - radius) < 5) {
        for (int c = 0; c < 3; ++c) p[c] *= 0.3f;
      }
    }
  }
}

struct TileLookup {
  std::map<std::string, rt::Pixels> pictures;          // by name; the first set wins
  std::vector<std::map<int32_t, std::string>> tiles;   // per loaded set: number -> picture
  std::vector<std::map<int32_t, int16_t>> terrain;
  int tileWidth = 96, tileHeight = 96;
};

bool loadTileSets(const MapFile& map, const std::string& dir, TileLookup* out) {
  for (const std::string& name : map.tileSetNames) {
    std::vector<uint8_t> bytes;
    TileSetFile set;
    if (!readBytes(dir + "/" + name, &bytes) || !parseTileSetFile(bytes.data(), bytes.size(), &set)) {
      fprintf(stderr, "mapc: cannot read the tile set %s\n", name.c_str());
      return false;
    }
    if (out->tiles.empty()) {
      out->tileWidth = set.tileWidth;
      out->tileHeight = set.tileHeight;
    }
    for (const TileSetFilePicture& picture : set.pictures) {
      if (out->pictures.count(picture.name)) continue;
      rt::decodePicture(picture.bytes.data(), picture.bytes.size(), &out->pictures[picture.name]);
    }
    out->tiles.emplace_back();
    out->terrain.emplace_back();
    for (const TileSetFileTile& tile : set.tiles) {
      out->tiles.back().emplace(tile.number, tile.pictureName);
      out->terrain.back().emplace(tile.number, tile.terrain);
    }
  }
  return true;
}

const rt::Pixels* cellPicture(const TileLookup& lookup, const MapFileCell& cell, int16_t* terrain) {
  if (!cell.present || cell.tileSet < 0 || static_cast<size_t>(cell.tileSet) >= lookup.tiles.size()) {
    return nullptr;
  }
  const auto& tiles = lookup.tiles[static_cast<size_t>(cell.tileSet)];
  auto tile = tiles.find(cell.tile);
  if (tile == tiles.end()) return nullptr;
  *terrain = lookup.terrain[static_cast<size_t>(cell.tileSet)].at(cell.tile);
  auto picture = lookup.pictures.find(tile->second);
  return picture == lookup.pictures.end() || picture->second.rgba.empty() ? nullptr : &picture->second;
}

// Boxes as a round start would place them, from a fixed seed so the pictures stay put.
void drawBoxes(Canvas& canvas, const MapFile& map, const TileLookup& lookup,
               const std::vector<uint8_t>& solid, const rt::Pixels& box, uint64_t seed) {
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  auto draw = [&]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<int>(state % 101);
  };
  int columns = map.lastColumn + 1, w = lookup.tileWidth, h = lookup.tileHeight;
  for (int row = 0; row <= map.lastRow; ++row) {
    for (int column = 0; column <= map.lastColumn; ++column) {
      int16_t terrain = 0;
      const MapFileCell& ground = map.cells[mapCellIndex(map, 0, column, row)];
      if (solid[static_cast<size_t>(row) * columns + column] || !cellPicture(lookup, ground, &terrain)) {
        continue;
      }
      if (draw() <= 20) continue;
      int cx = column * w + w / 2, cy = row * h + h / 2;
      bool near = std::any_of(map.spawnPoints.begin(), map.spawnPoints.end(), [&](const SpawnPoint& p) {
        double dx = p.x - cx, dy = p.y - cy;
        return dx * dx + dy * dy < 128.0 * 128.0;
      });
      if (!near) blit(canvas, box, column * w, row * h, 0);
    }
  }
}

bool savePng(const Canvas& canvas, double scale, int maxWidth, const std::string& path) {
  if (maxWidth > 0) scale = std::min(scale, static_cast<double>(maxWidth) / canvas.width);
  rt::Pixels pixels;
  pixels.width = canvas.width;
  pixels.height = canvas.height;
  pixels.rgba.resize(static_cast<size_t>(canvas.width) * canvas.height * 4);
  for (size_t i = 0, j = 0; i < canvas.rgb.size(); i += 3, j += 4) {
    for (int c = 0; c < 3; ++c) {
      pixels.rgba[j + c] = static_cast<uint8_t>(std::clamp(canvas.rgb[i + c], 0.0f, 1.0f) * 255 + 0.5f);
    }
    pixels.rgba[j + 3] = 255;
  }
  rt::Handle image = rt::createImage(rt::kAnyNumber, pixels.width, pixels.height, pixels.rgba.data());
  int width = std::max(1, static_cast<int>(canvas.width * scale));
  int height = std::max(1, static_cast<int>(canvas.height * scale));
  bool ok = image && rt::resizeImage(image, width, height);
  std::vector<uint8_t> png;
  if (ok) {
    rt::Pixels small;
    small.width = width;
    small.height = height;
    small.rgba.assign(rt::imagePixels(image), rt::imagePixels(image) + static_cast<size_t>(width) * height * 4);
    ok = rt::encodePng(small, &png);
  }
  if (image) rt::freeImage(image);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return ok && out.good();
}

}  // namespace

bool writeMapPreview(const std::string& mapPath, const std::string& tileSetDir,
                     const std::string& outPath, const PreviewOptions& options) {
  std::vector<uint8_t> bytes;
  MapFile map;
  if (!readBytes(mapPath, &bytes) || parseMapFile(bytes.data(), bytes.size(), &map) != MapFileStatus::Ok) {
    fprintf(stderr, "mapc: cannot read the map %s\n", mapPath.c_str());
    return false;
  }
  TileLookup lookup;
  if (!loadTileSets(map, tileSetDir, &lookup)) return false;
  Canvas canvas;
  canvas.width = (map.lastColumn + 1) * lookup.tileWidth;
  canvas.height = (map.lastRow + 1) * lookup.tileHeight;
  canvas.rgb.assign(static_cast<size_t>(canvas.width) * canvas.height * 3, 0.0f);
  std::vector<uint8_t> solid(static_cast<size_t>(map.lastColumn + 1) * (map.lastRow + 1), 0);
  for (int layer = 0; layer <= map.lastLayer; ++layer) {
    for (int row = 0; row <= map.lastRow; ++row) {
      for (int column = 0; column <= map.lastColumn; ++column) {
        size_t index = mapCellIndex(map, layer, column, row);
        if (index >= map.cells.size()) continue;
        int16_t terrain = 0;
        const rt::Pixels* picture = cellPicture(lookup, map.cells[index], &terrain);
        if (!picture) continue;
        if (terrain > 0) solid[static_cast<size_t>(row) * (map.lastColumn + 1) + column] = 1;
        blit(canvas, *picture, column * lookup.tileWidth, row * lookup.tileHeight, map.cells[index].rotation);
      }
    }
  }
  if (!options.boxPicture.empty()) {
    rt::Pixels box;
    if (!readBytes(options.boxPicture, &bytes) || !rt::decodePicture(bytes.data(), bytes.size(), &box)) {
      fprintf(stderr, "mapc: cannot read %s\n", options.boxPicture.c_str());
      return false;
    }
    drawBoxes(canvas, map, lookup, solid, box, options.seed);
  }
  if (options.lights) applyScene(canvas, map);
  if (options.spawnMarks) {
    const float white[3] = {1, 1, 1};
    for (const SpawnPoint& p : map.spawnPoints) ring(canvas, p.x, p.y, 30, white);
  }
  if (!savePng(canvas, options.scale, options.maxWidth, outPath)) {
    fprintf(stderr, "mapc: cannot write %s\n", outPath.c_str());
    return false;
  }
  return true;
}

}  // namespace mapc
