#include "world/map.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "data/resources.h"
#include "render/lights.h"
#include "render/particles.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "world/world.h"

namespace {

// The map exists once; loadMap replaces it and clearMap empties it.
struct MapState {
  MapHeader header;
  std::vector<MapCell> cells;  // as many as the file held; the rest of the layers is empty
  std::map<int32_t, TileSet> tileSets;
  rt::Map<TilePicture> pictures;
  rt::Map<TileKind> kinds;
  int32_t tileSetCounter = 0;
  int64_t picturePixels = 0;  // decoded so far for this map, against kMaxTilePicturePixels
  int32_t mouseTileWidth = 96, mouseTileHeight = 96;
};

MapState& state() {
  static MapState s;
  return s;
}

const MapCell kEmptyCell{};

// Far beyond any map (1024 cells of 1024 pixels), near enough to zero that the engines' sums
// of positions and sizes stay inside an int.
constexpr int32_t kMaxWorldCoordinate = 1 << 24;
constexpr int32_t kMaxLightSide = 4096;
constexpr int32_t kMaxEmitterArea = 4096;
constexpr int32_t kMaxTimeMs = 60000;
// Emitted particles must die: lifetimes are bounded and a fading particle loses at least this
// much alpha per step (255 alpha in about ten seconds of steps).
constexpr int32_t kMaxParticleLifetime = 10000;
constexpr float kMinAlphaLoss = 0.25f;
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

float finiteWithin(float value, float limit) {
  if (!std::isfinite(value)) return 0;
  return std::clamp(value, -limit, limit);
}

int32_t coordinate(int32_t value) {
  return std::clamp(value, -kMaxWorldCoordinate, kMaxWorldCoordinate);
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
  MapState& s = state();
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
  return state().picturePixels + *pixels <= kMaxTilePicturePixels;
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
  state().picturePixels += pixels;
  picture.sprite = rt::createSpriteFromImage(rt::kAnyNumber, picture.image);
  if (picture.sprite) picture.sprite3D = rt::createSprite3D(rt::kAnyNumber, picture.sprite);
  if (makePreviews) makePreview(picture);
}

void addKinds(const TileSetFile& file) {
  for (const TileSetFileKind& kind : file.kinds) {
    if (state().kinds.find(kind.name)) continue;
    TileKind* k = state().kinds.add(kind.name);
    k->name = kind.name;
    k->value = kind.value;
    k->text = kind.text;
  }
}

void addPictures(TileSetFile& file, bool makePreviews) {
  for (TileSetFilePicture& picture : file.pictures) {
    if (state().pictures.find(picture.name)) continue;
    TilePicture* p = state().pictures.add(picture.name);
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
    if (const TilePicture* picture = state().pictures.find(entry.pictureName)) {
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
  world.tileWidth = sensible ? width : 96;
  world.tileHeight = sensible ? height : 96;
}

void resolveCells(const MapFile& file) {
  MapState& s = state();
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
    world.solid.set(static_cast<int>(inLayer % columns), static_cast<int>(inLayer / columns),
                    static_cast<uint8_t>(cell.tile->terrain & 0xFF));
  }
}

void addMapLight(const MapLight& stored) {
  if (stored.shape < kLightPoint || stored.shape > kLightPlane) return;
  Light* light = Lights().append();
  light->sprite3D = LightShapeSprite(stored.shape);
  light->red = static_cast<uint8_t>(stored.colour & 0xFF);
  light->green = static_cast<uint8_t>(stored.colour >> 8 & 0xFF);
  light->blue = static_cast<uint8_t>(stored.colour >> 16 & 0xFF);
  light->x = coordinate(stored.x);
  light->y = coordinate(stored.y);
  light->width = std::clamp(stored.width, 0, kMaxLightSide);
  light->height = std::clamp(stored.height, 0, kMaxLightSide);
  light->halfWidth = light->width / 2;
  light->halfHeight = light->height / 2;
  light->screenX = light->x - state().header.scrollX;
  light->screenY = light->y - state().header.scrollY;
  light->intensity = std::max(0.0f, finiteWithin(stored.intensity, 16.0f));
  light->rotation = stored.rotation;
  light->active = stored.active;
  light->shape = stored.shape;
  light->flicker = stored.flicker != 0 ? 1 : 0;
  light->flickerAmount = std::max(0.0f, finiteWithin(stored.flickerAmount, 1.0f));
  light->flickerInterval = std::clamp(stored.flickerInterval, 0, kMaxTimeMs);
}

// The texture an emitter's key names in the particle texture map; a blank or unknown key gives
// none, so such an emitter's particles are not drawn.
rt::Handle particleTexture(const std::string& key) {
  if (key.empty()) return 0;
  const ParticleTexture* texture = ParticleTextures().find(key);
  return texture ? texture->sprite3D : 0;
}

void addMapEmitter(const MapEmitter& stored) {
  ParticleType type;
  type.unused = stored.first;
  type.active = stored.active;
  type.areaWidth = std::clamp(stored.areaWidth, 0, kMaxEmitterArea);
  type.areaHeight = std::clamp(stored.areaHeight, 0, kMaxEmitterArea);
  type.halfAreaWidth = type.areaWidth / 2;
  type.halfAreaHeight = type.areaHeight / 2;
  type.interval = std::clamp(stored.interval, 0, kMaxTimeMs);
  type.textureKey = rt::trim(stored.textureKey);
  type.texture = particleTexture(type.textureKey);
  type.lifetime = std::clamp(stored.lifetime, 0, kMaxParticleLifetime);
  type.extraLifetime = std::clamp(stored.extraLifetime, 0, kMaxParticleLifetime);
  type.startSize = std::max(0.0f, finiteWithin(stored.startSize, 1024.0f));
  type.sizeChange = finiteWithin(stored.sizeChange, 16.0f);
  type.speed = finiteWithin(stored.speed, 1000.0f);
  type.minAngle = std::clamp(stored.minAngle, -3600, 3600);
  type.maxAngle = std::clamp(stored.maxAngle, type.minAngle, type.minAngle + 3600);
  type.driftFactor = finiteWithin(stored.driftFactor, 100.0f);
  type.sourceBlend = std::clamp(stored.sourceBlend, 1, 10);
  type.destinationBlend = std::clamp(stored.destinationBlend, 1, 10);
  type.startAlpha = std::clamp(finiteWithin(stored.startAlpha, 255.0f), 0.0f, 255.0f);
  float loss = finiteWithin(stored.alphaLoss, 255.0f);
  type.alphaLoss = loss <= 0 ? 0 : std::max(loss, kMinAlphaLoss);
  int32_t x = coordinate(stored.x), y = coordinate(stored.y);
  type.x = x;
  type.y = y;
  type.screenX = x - state().header.scrollX;
  type.screenY = y - state().header.scrollY;
  AddEmitter(type, x, y);
}

void applyEffects(const MapFile& file) {
  SetAmbientColour(file.ambientColour);
  SetOverlayColour(file.overlayColour);
  ClearLights();
  for (const MapLight& light : file.lights) addMapLight(light);
  SetParticleDrift(file.driftEnabled != 0, finiteWithin(file.driftX, 100.0f),
                   finiteWithin(file.driftY, 100.0f));
  ClearEmitters();
  ClearParticles();
  for (const MapEmitter& emitter : file.emitters) addMapEmitter(emitter);
}

void startHeader(const MapFile& file) {
  MapHeader& h = state().header;
  h = MapHeader{};
  h.text1 = file.text1;
  h.text2 = file.text2;
  h.text3 = file.text3;
  h.lastColumn = file.lastColumn;
  h.lastRow = file.lastRow;
  h.lastLayer = file.lastLayer;
  h.headerValue = file.headerValue;
  h.layerOpacity.assign(size_t{file.lastLayer} + 1, 255);
  world.solid.reset(file.lastColumn + 1, file.lastRow + 1);
  state().cells.clear();
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
  MapState& s = state();
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
  MapHeader& h = state().header;
  for (const std::string& name : file.tileSetNames) {
    h.tileSetNames.push_back(name);
    loadTileSet(tileSetFolder, name, makePreviews);
  }
  h.pixelWidth = (h.lastColumn + 1) * world.tileWidth;
  h.pixelHeight = (h.lastRow + 1) * world.tileHeight;
  resolveCells(file);
  h.spawnPoints = file.spawnPoints;
  applyEffects(file);
  rt::logLine("MAP", "%s.map loaded: %dx%d cells, %d layers, %zu tile sets, %zu spawn points",
              mapPath.c_str(), h.lastColumn + 1, h.lastRow + 1, h.lastLayer + 1,
              state().tileSets.size(), h.spawnPoints.size());
  return true;
}

bool loadMapNamed(const std::string& name) {
  if (!isSafeMapName(name)) return false;
  return loadMap("Data\\Maps\\" + name, "Data\\TileSets\\", false);
}

void generateBoxes(bool enabled) {
  const MapHeader& h = state().header;
  int columns = h.lastColumn + 1, rows = h.lastRow + 1;
  world.box.reset(columns, rows);
  world.barrelAt.reset(columns, rows);
  world.itemAt.reset(columns, rows);
  if (!enabled) return;
  const float limit = kBoxSpawnDistance * kBoxSpawnDistance;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const MapCell& ground = mapCell(0, column, row);
      if (world.solid.get(column, row) != 0 || !ground.tile || ground.tile->picture == 0) continue;
      if (rt::random(100) <= 20) continue;
      double centreX = static_cast<double>(column * world.tileWidth + world.tileWidth / 2);
      double centreY = static_cast<double>(row * world.tileHeight + world.tileHeight / 2);
      bool nearSpawn = std::any_of(h.spawnPoints.begin(), h.spawnPoints.end(),
                                   [&](const SpawnPoint& p) {
                                     double dx = p.x - centreX, dy = p.y - centreY;
                                     return dx * dx + dy * dy < limit;
                                   });
      if (!nearSpawn) world.box.set(column, row, 1);
    }
  }
}

void clearMap() {
  discardTileSets();
  state().header = MapHeader{};
  state().cells.clear();
  world.solid.reset(1, 1);
  world.box.reset(1, 1);
  world.barrelAt.reset(1, 1);
  world.itemAt.reset(1, 1);
}

// ---- Reading the loaded map ------------------------------------------------------------------

const MapHeader& mapHeader() { return state().header; }
int32_t mapColumns() { return state().header.lastColumn + 1; }
int32_t mapRows() { return state().header.lastRow + 1; }
int32_t mapLayers() { return int32_t{state().header.lastLayer} + 1; }

const MapCell& mapCell(int layer, int column, int row) {
  const MapHeader& h = state().header;
  if (layer < 0 || column < 0 || row < 0 || layer > h.lastLayer || column > h.lastColumn ||
      row > h.lastRow) {
    return kEmptyCell;
  }
  size_t columns = static_cast<size_t>(h.lastColumn) + 1;
  size_t rows = static_cast<size_t>(h.lastRow) + 1;
  size_t index = (static_cast<size_t>(layer) * rows + static_cast<size_t>(row)) * columns +
                 static_cast<size_t>(column);
  return index < state().cells.size() ? state().cells[index] : kEmptyCell;
}

const TileSet* findTileSet(int32_t number) {
  auto it = state().tileSets.find(number);
  return it == state().tileSets.end() ? nullptr : &it->second;
}

const Tile* findTile(int32_t tileSetNumber, int32_t tileNumber) {
  const TileSet* set = findTileSet(tileSetNumber);
  if (!set) return nullptr;
  auto it = set->byNumber.find(tileNumber);
  return it == set->byNumber.end() ? nullptr : it->second;
}

const TilePicture* findTilePicture(const std::string& name) { return state().pictures.find(name); }
const TileKind* findTileKind(const std::string& name) { return state().kinds.find(name); }
size_t tileSetCount() { return state().tileSets.size(); }
size_t tilePictureCount() { return state().pictures.count(); }

const SpawnPoint* spawnPointFor(size_t playerIndex) {
  const std::vector<SpawnPoint>& points = state().header.spawnPoints;
  if (points.empty()) return nullptr;
  return &points[playerIndex % points.size()];
}

// ---- Mouse handling ----------------------------------------------------------------------

void setTileSize(int32_t width, int32_t height) {
  state().mouseTileWidth = width;
  state().mouseTileHeight = height;
}
int32_t mouseTileWidth() { return state().mouseTileWidth; }
int32_t mouseTileHeight() { return state().mouseTileHeight; }

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
