#include "world/map.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "world/events.h"
#include "world/world.h"

namespace {

const MapCell kEmptyCell{};

constexpr float kBoxSpawnDistance = 128.0f;

// A file name that stays inside its folder.
bool plainFileName(const std::string& name, size_t maxLength) {
  if (name.empty() || name.size() > maxLength) return false;
  if (name.find("..") != std::string::npos) return false;
  for (unsigned char c : name) {
    if (c < 32 || c == '/' || c == '\\' || c == ':') return false;
  }
  return name.front() != ' ' && name.back() != ' ';
}

void freePicture(TilePicture& picture) {
  for (rt::Handle h : {picture.sprite3D, picture.preview3D}) {
    if (h) rt::freeSprite3D(h);
  }
  for (rt::Handle h : {picture.sprite, picture.previewSprite}) {
    if (h) rt::freeSprite(h);
  }
  for (rt::Handle h : {picture.image, picture.previewImage}) {
    if (h) rt::freeImage(h);
  }
  picture.sprite3D = picture.preview3D = picture.sprite = picture.previewSprite = 0;
  picture.image = picture.previewImage = 0;
}

void discardTileSets() {
  LoadedMap& s = world.map;
  for (auto& [name, picture] : s.pictures) freePicture(picture);
  s.pictures.clear();
  s.kinds.clear();
  s.tileSets.clear();
  s.tileSetCounter = 0;
  s.picturePixels = 0;
}

// Tile pictures come from downloaded files: a picture too large, or past the map's budget,
// stays undecoded and its tiles draw nothing.
bool pictureAllowed(const std::vector<uint8_t>& bytes, int64_t* pixels) {
  int64_t width = 0, height = 0;
  if (!pictureDimensions(bytes.data(), bytes.size(), &width, &height)) return false;
  if (width <= 0 || height <= 0 || width > kMaxTilePictureSide || height > kMaxTilePictureSide) {
    return false;
  }
  *pixels = width * height;
  return world.map.picturePixels + *pixels <= kMaxTilePicturePixels;
}

void makePreview(TilePicture& picture) {
  picture.previewImage = rt::decodeImage(rt::kAnyNumber, picture.bytes.data(), picture.bytes.size());
  if (!picture.previewImage) return;
  rt::resizeImage(picture.previewImage, kTilePreviewSize, kTilePreviewSize);
  picture.previewSprite = rt::createSpriteFromImage(rt::kAnyNumber, picture.previewImage);
  if (picture.previewSprite) {
    picture.preview3D = rt::createSprite3D(rt::kAnyNumber, picture.previewSprite);
  }
}

void decodePicture(TilePicture& picture, bool makePreviews) {
  int64_t pixels = 0;
  if (!pictureAllowed(picture.bytes, &pixels)) {
    rt::logLine("MAP", "tile picture %s refused", picture.name.c_str());
    return;
  }
  picture.image = rt::decodeImage(rt::kAnyNumber, picture.bytes.data(), picture.bytes.size());
  if (!picture.image) return;
  world.map.picturePixels += pixels;
  picture.sprite = rt::createSpriteFromImage(rt::kAnyNumber, picture.image);
  if (picture.sprite) picture.sprite3D = rt::createSprite3D(rt::kAnyNumber, picture.sprite);
  if (makePreviews) makePreview(picture);
}

void addKinds(const TileSetFile& file) {
  for (const TileSetFileKind& kind : file.kinds) {
    if (world.map.kinds.find(kind.name)) continue;
    TileKind* k = world.map.kinds.add(kind.name);
    k->name = kind.name;
    k->value = kind.value;
    k->text = kind.text;
  }
}

void addPictures(TileSetFile& file, bool makePreviews) {
  for (TileSetFilePicture& picture : file.pictures) {
    if (world.map.pictures.find(picture.name)) continue;
    TilePicture* p = world.map.pictures.add(picture.name);
    p->name = picture.name;
    p->byteLength = static_cast<int32_t>(picture.bytes.size());
    p->bytes = std::move(picture.bytes);
    decodePicture(*p, makePreviews);
  }
}

void addTiles(TileSet& set, const TileSetFile& file, bool makePreviews) {
  for (const TileSetFileTile& entry : file.tiles) {
    if (set.byNumber.count(entry.number)) continue;
    Tile* tile = set.tiles.append();
    tile->number = entry.number;
    tile->pictureName = entry.pictureName;
    tile->kindName = entry.kindName;
    tile->displayValue = entry.displayValue;
    tile->terrain = entry.terrain;
    if (const TilePicture* picture = world.map.pictures.find(entry.pictureName)) {
      tile->picture = picture->sprite3D;
      if (makePreviews) tile->preview = picture->preview3D;
    }
    set.byNumber[entry.number] = tile;
  }
}

// The first tile set of a map sets the cell size; nonsense sizes would divide by zero later.
void takeTileSize(int32_t width, int32_t height) {
  bool sensible = width >= kMinTileSize && width <= kMaxTileSize && height >= kMinTileSize &&
                  height <= kMaxTileSize;
  world.map.tileWidth = sensible ? width : 96;
  world.map.tileHeight = sensible ? height : 96;
}

void resolveCells(const MapFile& file) {
  LoadedMap& s = world.map;
  s.cells.assign(file.cells.size(), MapCell{});
  size_t columns = static_cast<size_t>(file.lastColumn) + 1;
  size_t rows = static_cast<size_t>(file.lastRow) + 1;
  for (size_t i = 0; i < file.cells.size(); ++i) {
    const MapFileCell& stored = file.cells[i];
    if (!stored.present) continue;
    MapCell& cell = s.cells[i];
    cell.tileSetNumber = stored.tileSet;
    cell.tileNumber = stored.tile;
    cell.rotation = stored.rotation;
    cell.tile = findTile(stored.tileSet, stored.tile);
    if (!cell.tile || cell.tile->terrain <= 0) continue;
    size_t inLayer = i % (columns * rows);
    world.map.solid.set(static_cast<int>(inLayer % columns), static_cast<int>(inLayer / columns),
                    static_cast<uint8_t>(cell.tile->terrain & 0xFF));
  }
}

// Kept as read; the presentation checks what it takes.
void takeEffects(MapFile& file) {
  MapEffects& e = world.map.effects;
  e.ambientColour = file.ambientColour;
  e.overlayColour = file.overlayColour;
  e.lights = std::move(file.lights);
  e.driftEnabled = file.driftEnabled != 0;
  e.driftX = file.driftX;
  e.driftY = file.driftY;
  e.emitters = std::move(file.emitters);
}

void startHeader(const MapFile& file) {
  MapHeader& h = world.map.header;
  h = MapHeader{};
  h.text1 = file.text1;
  h.text2 = file.text2;
  h.text3 = file.text3;
  h.lastColumn = file.lastColumn;
  h.lastRow = file.lastRow;
  h.lastLayer = file.lastLayer;
  h.headerValue = file.headerValue;
  h.layerOpacity.assign(size_t{file.lastLayer} + 1, 255);
  world.map.solid.reset(file.lastColumn + 1, file.lastRow + 1);
  world.map.cells.clear();
}

}  // namespace

// ---- Loading -------------------------------------------------------------------------------

bool loadTileSet(const std::string& folder, const std::string& fileName, bool makePreviews) {
  if (!plainFileName(fileName, 255)) {
    rt::logLine("MAP", "tile set name refused: %s", fileName.c_str());
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!rt::readWholeFile(folder + fileName, &bytes, kMaxTileSetFileBytes)) return false;
  TileSetFile file;
  if (!parseTileSetFile(bytes.data(), bytes.size(), &file)) {
    rt::logLine("MAP", "tile set %s refused: too many entries", fileName.c_str());
    return false;
  }
  LoadedMap& s = world.map;
  if (s.pictures.count() == 0) takeTileSize(file.tileWidth, file.tileHeight);
  addKinds(file);
  addPictures(file, makePreviews);
  auto [entry, added] = s.tileSets.try_emplace(s.tileSetCounter);
  if (added) {
    entry->second.number = s.tileSetCounter;
    entry->second.fileName = fileName;
  }
  addTiles(entry->second, file, makePreviews);
  ++s.tileSetCounter;
  return true;
}

bool loadMap(const std::string& mapPath, const std::string& tileSetFolder, bool makePreviews) {
  std::vector<uint8_t> bytes;
  if (!rt::readWholeFile(mapPath + ".map", &bytes, kMaxMapFileBytes)) return false;
  MapFile file;
  MapFileStatus status = parseMapFile(bytes.data(), bytes.size(), &file);
  if (status != MapFileStatus::Ok) {
    rt::logLine("MAP", "%s.map refused: %s", mapPath.c_str(), mapFileStatusText(status));
    return false;
  }
  startHeader(file);
  discardTileSets();
  MapHeader& h = world.map.header;
  for (const std::string& name : file.tileSetNames) {
    h.tileSetNames.push_back(name);
    loadTileSet(tileSetFolder, name, makePreviews);
  }
  h.pixelWidth = (h.lastColumn + 1) * world.map.tileWidth;
  h.pixelHeight = (h.lastRow + 1) * world.map.tileHeight;
  resolveCells(file);
  h.spawnPoints = file.spawnPoints;
  takeEffects(file);
  rt::logLine("MAP", "%s.map loaded: %dx%d cells, %d layers, %zu tile sets, %zu spawn points",
              mapPath.c_str(), h.lastColumn + 1, h.lastRow + 1, h.lastLayer + 1,
              world.map.tileSets.size(), h.spawnPoints.size());
  notifyWorld({WorldEventType::kMapLoaded});
  return true;
}

bool loadMapNamed(const std::string& name) {
  if (!isSafeMapName(name)) return false;
  return loadMap("Data\\Maps\\" + name, "Data\\TileSets\\", false);
}

void generateBoxes(bool enabled) {
  const MapHeader& h = world.map.header;
  int columns = h.lastColumn + 1, rows = h.lastRow + 1;
  world.round.box.reset(columns, rows);
  world.round.barrelAt.reset(columns, rows);
  world.round.itemAt.reset(columns, rows);
  if (!enabled) return;
  const float limit = kBoxSpawnDistance * kBoxSpawnDistance;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const MapCell& ground = mapCell(0, column, row);
      if (world.map.solid.get(column, row) != 0 || !ground.tile || !ground.tile->picture) continue;
      if (rt::random(100) <= 20) continue;
      double centreX = static_cast<double>(column * world.map.tileWidth + world.map.tileWidth / 2);
      double centreY = static_cast<double>(row * world.map.tileHeight + world.map.tileHeight / 2);
      bool nearSpawn = std::any_of(h.spawnPoints.begin(), h.spawnPoints.end(),
                                   [&](const SpawnPoint& p) {
                                     double dx = p.x - centreX, dy = p.y - centreY;
                                     return dx * dx + dy * dy < limit;
                                   });
      if (!nearSpawn) world.round.box.set(column, row, 1);
    }
  }
}

void clearMap() {
  discardTileSets();
  world.map = LoadedMap{};
  world.round.box.reset(1, 1);
  world.round.barrelAt.reset(1, 1);
  world.round.itemAt.reset(1, 1);
}

// ---- Reading the loaded map ------------------------------------------------------------------

const MapHeader& mapHeader() { return world.map.header; }
int32_t mapColumns() { return world.map.header.lastColumn + 1; }
int32_t mapRows() { return world.map.header.lastRow + 1; }
int32_t mapLayers() { return int32_t{world.map.header.lastLayer} + 1; }

const MapCell& mapCell(int layer, int column, int row) {
  const MapHeader& h = world.map.header;
  if (layer < 0 || column < 0 || row < 0 || layer > h.lastLayer || column > h.lastColumn ||
      row > h.lastRow) {
    return kEmptyCell;
  }
  size_t columns = static_cast<size_t>(h.lastColumn) + 1;
  size_t rows = static_cast<size_t>(h.lastRow) + 1;
  size_t index = (static_cast<size_t>(layer) * rows + static_cast<size_t>(row)) * columns +
                 static_cast<size_t>(column);
  return index < world.map.cells.size() ? world.map.cells[index] : kEmptyCell;
}

const TileSet* findTileSet(int32_t number) {
  auto it = world.map.tileSets.find(number);
  return it == world.map.tileSets.end() ? nullptr : &it->second;
}

const Tile* findTile(int32_t tileSetNumber, int32_t tileNumber) {
  const TileSet* set = findTileSet(tileSetNumber);
  if (!set) return nullptr;
  auto it = set->byNumber.find(tileNumber);
  return it == set->byNumber.end() ? nullptr : it->second;
}

const TilePicture* findTilePicture(const std::string& name) { return world.map.pictures.find(name); }
const TileKind* findTileKind(const std::string& name) { return world.map.kinds.find(name); }
size_t tileSetCount() { return world.map.tileSets.size(); }
size_t tilePictureCount() { return world.map.pictures.count(); }

const SpawnPoint* spawnPointFor(size_t playerIndex) {
  const std::vector<SpawnPoint>& points = world.map.header.spawnPoints;
  if (points.empty()) return nullptr;
  return &points[playerIndex % points.size()];
}

// ---- Mouse handling ----------------------------------------------------------------------

void setTileSize(int32_t width, int32_t height) {
  world.map.mouseTileWidth = width;
  world.map.mouseTileHeight = height;
}
int32_t mouseTileWidth() { return world.map.mouseTileWidth; }
int32_t mouseTileHeight() { return world.map.mouseTileHeight; }

// ---- Map names and the map list ----------------------------------------------------------

bool isSafeMapName(const std::string& name) { return plainFileName(name, 64); }

std::string mapFilePath(const std::string& name) { return "Data\\Maps\\" + name + ".map"; }

bool readMapSummary(const std::string& path, MapSummary* out) {
  if (!out) return false;
  rt::Handle file = rt::openFile(rt::kAnyNumber, path);
  if (!file) return false;
  MapSummary summary;
  summary.text1 = rt::readLine(file);
  summary.text2 = rt::readLine(file);
  summary.text3 = rt::readLine(file);
  summary.lastColumn = rt::readLong(file);
  summary.lastRow = rt::readLong(file);
  summary.lastLayer = rt::readUByte(file);
  summary.headerValue = rt::readLong(file);
  rt::closeFile(file);
  *out = std::move(summary);
  return true;
}
