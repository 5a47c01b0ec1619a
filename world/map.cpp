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

void freePictures(LoadedMap& s) {
  for (auto& [name, picture] : s.pictures) freePicture(picture);
}

void discardTileSets() {
  LoadedMap& s = world.map;
  freePictures(s);
  s.pictures.clear();
  s.kinds.clear();
  s.tileSets.clear();
  s.tileSetCounter = 0;
  s.picturePixels = 0;
}

// Tile pictures come from downloaded files: a picture too large, or past the map's budget,
// stays undecoded and its tiles draw nothing.
bool pictureAllowed(const LoadedMap& s, const std::vector<uint8_t>& bytes, int64_t* pixels) {
  int64_t width = 0, height = 0;
  if (!pictureDimensions(bytes.data(), bytes.size(), &width, &height)) return false;
  if (width <= 0 || height <= 0 || width > kMaxTilePictureSide || height > kMaxTilePictureSide) {
    return false;
  }
  *pixels = width * height;
  return s.picturePixels + *pixels <= s.pixelBudget;
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

void decodePicture(LoadedMap& s, TilePicture& picture, bool makePreviews) {
  int64_t pixels = 0;
  if (!pictureAllowed(s, picture.bytes, &pixels)) {
    rt::logLine("MAP", "tile picture %s refused: too large", picture.name.c_str());
    return;
  }
  picture.image = rt::decodeImage(rt::kAnyNumber, picture.bytes.data(), picture.bytes.size());
  if (!picture.image) {
    rt::logLine("MAP", "tile picture %s does not decode", picture.name.c_str());
    return;
  }
  s.picturePixels += pixels;
  picture.sprite = rt::createSpriteFromImage(rt::kAnyNumber, picture.image);
  if (picture.sprite) picture.sprite3D = rt::createSprite3D(rt::kAnyNumber, picture.sprite);
  if (makePreviews) makePreview(picture);
}

void addKinds(LoadedMap& s, const TileSetFile& file) {
  for (const TileSetFileKind& kind : file.kinds) {
    if (s.kinds.find(kind.name)) continue;
    TileKind* k = s.kinds.add(kind.name);
    k->name = kind.name;
    k->value = kind.value;
    k->text = kind.text;
  }
}

void addPictures(LoadedMap& s, TileSetFile& file, bool makePreviews) {
  for (TileSetFilePicture& picture : file.pictures) {
    if (s.pictures.find(picture.name)) continue;
    TilePicture* p = s.pictures.add(picture.name);
    p->name = picture.name;
    p->byteLength = static_cast<int32_t>(picture.bytes.size());
    p->bytes = std::move(picture.bytes);
    decodePicture(s, *p, makePreviews);
  }
}

void addTiles(LoadedMap& s, TileSet& set, const TileSetFile& file, bool makePreviews) {
  for (const TileSetFileTile& entry : file.tiles) {
    if (set.byNumber.count(entry.number)) continue;
    Tile* tile = set.tiles.append();
    tile->number = entry.number;
    tile->pictureName = entry.pictureName;
    tile->kindName = entry.kindName;
    tile->displayValue = entry.displayValue;
    tile->terrain = entry.terrain;
    if (const TilePicture* picture = s.pictures.find(entry.pictureName)) {
      tile->picture = picture->sprite3D;
      if (makePreviews) tile->preview = picture->preview3D;
    }
    set.byNumber[entry.number] = tile;
  }
}

// The first tile set of a map sets the cell size; nonsense would divide by zero later.
bool sensibleTileSize(int32_t width, int32_t height) {
  return width >= kMinTileSize && width <= kMaxTileSize && height >= kMinTileSize &&
         height <= kMaxTileSize;
}

// Reads a tile set into s; false with the reason for the log.
bool readTileSet(LoadedMap& s, const std::string& folder, const std::string& fileName,
                 bool makePreviews, std::string* why) {
  if (!plainFileName(fileName, 255)) {
    *why = "tile set name refused: " + fileName.substr(0, 64);
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!rt::fileExists(folder + fileName)) {
    *why = "tile set " + fileName + " is missing";
    return false;
  }
  if (!rt::readWholeFile(folder + fileName, &bytes, kMaxTileSetFileBytes)) {
    *why = "tile set " + fileName + " cannot be read or is too large";
    return false;
  }
  TileSetFile file;
  if (!parseTileSetFile(bytes.data(), bytes.size(), &file)) {
    *why = "tile set " + fileName + " has too many entries";
    return false;
  }
  if (file.cut) {
    *why = "tile set " + fileName + " is cut short";
    return false;
  }
  bool first = s.pictures.count() == 0;
  if (first && !sensibleTileSize(file.tileWidth, file.tileHeight)) {
    *why = "tile set " + fileName + " declares tiles of " + std::to_string(file.tileWidth) + "x" +
           std::to_string(file.tileHeight) + " pixels";
    return false;
  }
  if (first) {
    s.tileWidth = file.tileWidth;
    s.tileHeight = file.tileHeight;
  }
  addKinds(s, file);
  addPictures(s, file, makePreviews);
  auto [entry, added] = s.tileSets.try_emplace(s.tileSetCounter);
  if (added) {
    entry->second.number = s.tileSetCounter;
    entry->second.fileName = fileName;
  }
  addTiles(s, entry->second, file, makePreviews);
  ++s.tileSetCounter;
  return true;
}

const Tile* findTileIn(const LoadedMap& s, int32_t tileSetNumber, int32_t tileNumber) {
  auto set = s.tileSets.find(tileSetNumber);
  if (set == s.tileSets.end()) return nullptr;
  auto it = set->second.byNumber.find(tileNumber);
  return it == set->second.byNumber.end() ? nullptr : it->second;
}

void resolveCells(LoadedMap& s, const MapFile& file) {
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
    cell.tile = findTileIn(s, stored.tileSet, stored.tile);
    if (!cell.tile || cell.tile->terrain <= 0) continue;
    size_t inLayer = i % (columns * rows);
    s.solid.set(static_cast<int>(inLayer % columns), static_cast<int>(inLayer / columns),
                static_cast<uint8_t>(cell.tile->terrain & 0xFF));
  }
}

// Kept as read; the presentation checks what it takes.
void takeEffects(LoadedMap& s, MapFile& file) {
  MapEffects& e = s.effects;
  e.ambientColour = file.ambientColour;
  e.overlayColour = file.overlayColour;
  e.lights = std::move(file.lights);
  e.driftEnabled = file.driftEnabled != 0;
  e.driftX = file.driftX;
  e.driftY = file.driftY;
  e.emitters = std::move(file.emitters);
}

void startHeader(LoadedMap& s, const MapFile& file) {
  MapHeader& h = s.header;
  h.text1 = file.text1;
  h.text2 = file.text2;
  h.text3 = file.text3;
  h.lastColumn = file.lastColumn;
  h.lastRow = file.lastRow;
  h.lastLayer = file.lastLayer;
  h.headerValue = file.headerValue;
  h.layerOpacity.assign(size_t{file.lastLayer} + 1, 255);
  s.solid.reset(file.lastColumn + 1, file.lastRow + 1);
  int64_t cells = int64_t{file.lastColumn + 1} * (file.lastRow + 1) * (int64_t{file.lastLayer} + 1);
  s.pixelBudget = (kMapBudgetBytes - cells * kMapCellBytes) / kMapPixelBytes;
}

bool refuseMap(const std::string& path, const std::string& why) {
  rt::logLine("MAP", "%s refused: %s", path.c_str(), why.c_str());
  return false;
}

// What a map of this file would be, built beside the current one; false with the reason.
bool buildMap(LoadedMap& next, MapFile& file, const std::string& tileSetFolder, bool makePreviews,
              std::string* why) {
  startHeader(next, file);
  MapHeader& h = next.header;
  for (const std::string& name : file.tileSetNames) {
    h.tileSetNames.push_back(name);
    if (!readTileSet(next, tileSetFolder, name, makePreviews, why)) return false;
  }
  h.pixelWidth = (h.lastColumn + 1) * next.tileWidth;
  h.pixelHeight = (h.lastRow + 1) * next.tileHeight;
  resolveCells(next, file);
  h.spawnPoints = file.spawnPoints;
  takeEffects(next, file);
  return true;
}

}  // namespace

static_assert(sizeof(MapCell) + sizeof(MapFileCell) <= kMapCellBytes,
              "a cell costs more than the map's budget counts");

// ---- Loading -------------------------------------------------------------------------------

bool loadTileSet(const std::string& folder, const std::string& fileName, bool makePreviews) {
  std::string why;
  if (readTileSet(world.map, folder, fileName, makePreviews, &why)) return true;
  rt::logLine("MAP", "%s", why.c_str());
  return false;
}

bool loadMap(const std::string& mapPath, const std::string& tileSetFolder, bool makePreviews) {
  std::string path = mapPath + ".map";
  if (!rt::fileExists(path)) return refuseMap(path, "missing");
  std::vector<uint8_t> bytes;
  if (!rt::readWholeFile(path, &bytes, kMaxMapFileBytes)) {
    return refuseMap(path, "cannot be read or is too large");
  }
  MapFile file;
  MapFileStatus status = parseMapFile(bytes.data(), bytes.size(), &file);
  if (status != MapFileStatus::Ok) return refuseMap(path, mapFileStatusText(status));
  // Without its cells and spawn points a map would be an empty floor with everybody in a corner.
  if (file.end == MapFileEnd::kCut) return refuseMap(path, "cut short before its spawn points end");
  LoadedMap next;
  std::string why;
  if (!buildMap(next, file, tileSetFolder, makePreviews, &why)) {
    freePictures(next);
    return refuseMap(path, why);
  }
  if (file.end == MapFileEnd::kCutInEffects) {
    rt::logLine("MAP", "%s is cut short in its lights and emitters; loaded without the rest",
                path.c_str());
  }
  next.mouseTileWidth = world.map.mouseTileWidth;
  next.mouseTileHeight = world.map.mouseTileHeight;
  discardTileSets();
  world.map = std::move(next);
  const MapHeader& h = world.map.header;
  rt::logLine("MAP", "%s loaded: %dx%d cells, %d layers, %zu tile sets, %zu spawn points",
              path.c_str(), h.lastColumn + 1, h.lastRow + 1, h.lastLayer + 1,
              world.map.tileSets.size(), h.spawnPoints.size());
  notifyWorld({WorldEventType::kMapLoaded});
  return true;
}

bool loadMapNamed(const std::string& name) {
  if (!isSafeMapName(name)) {
    rt::logLine("MAP", "map name refused: \"%.64s\"", name.c_str());
    return false;
  }
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
