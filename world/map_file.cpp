#include "world/map_file.h"

#include <cstring>

namespace {

// Reads little-endian fields from bytes in memory. A field that does not fit in what is left
// reads as 0 and uses the rest up, as the game's file reads do at the end of a file.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t length) : data_(data), length_(data ? length : 0) {}

  bool atEnd() const { return position_ >= length_; }
  size_t left() const { return length_ - position_; }
  // Sticky: some read wanted more than was left.
  bool ranShort() const { return ranShort_; }

  uint32_t u32() { return static_cast<uint32_t>(bits(4)); }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  int16_t i16() { return static_cast<int16_t>(bits(2)); }
  int8_t i8() { return static_cast<int8_t>(bits(1)); }
  uint8_t u8() { return static_cast<uint8_t>(bits(1)); }
  float f32() {
    uint32_t word = u32();
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
  }

  // Text up to NUL, CR or LF; CR LF counts as one terminator, after a lone CR the next byte
  // stays unread.
  std::string line() {
    if (atEnd()) ranShort_ = true;  // the end ends a line, but a line cannot start there
    size_t start = position_;
    while (position_ < length_ && data_[position_] != 0 && data_[position_] != '\r' &&
           data_[position_] != '\n') {
      ++position_;
    }
    std::string text(reinterpret_cast<const char*>(data_) + start, position_ - start);
    if (position_ >= length_) return text;
    bool carriageReturn = data_[position_] == '\r';
    ++position_;
    if (carriageReturn && position_ < length_ && data_[position_] == '\n') ++position_;
    return text;
  }

  // Up to count bytes (fewer at the end).
  std::vector<uint8_t> bytes(size_t count) {
    size_t take = count < left() ? count : left();
    if (take < count) ranShort_ = true;
    std::vector<uint8_t> out(data_ + position_, data_ + position_ + take);
    position_ += take;
    return out;
  }

 private:
  uint64_t bits(size_t width) {
    if (left() < width) {
      position_ = length_;
      ranShort_ = true;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{data_[position_ + i]} << (8 * i);
    position_ += width;
    return value;
  }

  const uint8_t* data_;
  size_t length_;
  size_t position_ = 0;
  bool ranShort_ = false;
};

// Appends little-endian fields and lines (ended by CR LF).
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>* out) : out_(out) {}
  void u32(uint32_t value) { put(value, 4); }
  void i32(int32_t value) { put(static_cast<uint32_t>(value), 4); }
  void i16(int16_t value) { put(static_cast<uint16_t>(value), 2); }
  void i8(int8_t value) { put(static_cast<uint8_t>(value), 1); }
  void u8(uint8_t value) { put(value, 1); }
  void f32(float value) {
    uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    put(word, 4);
  }
  void line(const std::string& text) {
    out_->insert(out_->end(), text.begin(), text.end());
    out_->push_back('\r');
    out_->push_back('\n');
  }
  void bytes(const std::vector<uint8_t>& data) { out_->insert(out_->end(), data.begin(), data.end()); }

 private:
  void put(uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out_->push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  std::vector<uint8_t>* out_;
};

// A line written by the writer must read back as the same text.
bool writableLine(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string shortText(std::string text) {
  if (text.size() > kMapShortTextBytes) text.resize(kMapShortTextBytes);
  return text;
}

// A count from the file: negative means none; over the limit refuses the file.
bool countWithin(int32_t count, int32_t limit) { return count <= limit; }
size_t countOf(int32_t count) { return count < 0 ? 0 : static_cast<size_t>(count); }

MapFileStatus checkSize(const MapFile& map) {
  if (map.lastColumn < 0 || map.lastRow < 0) return MapFileStatus::BadSize;
  int64_t columns = int64_t{map.lastColumn} + 1;
  int64_t rows = int64_t{map.lastRow} + 1;
  int64_t layers = int64_t{map.lastLayer} + 1;
  if (columns > kMapFileMaxColumns || rows > kMapFileMaxRows ||
      columns * rows * layers > kMapFileMaxCells) {
    return MapFileStatus::TooLarge;
  }
  return MapFileStatus::Ok;
}

// Only as many cells as the data holds: every cell takes at least its flag byte.
void readCells(ByteReader& in, size_t total, MapFile* map) {
  size_t room = total < in.left() ? total : in.left();
  map->cells.reserve(room);
  for (size_t i = 0; i < total && !in.atEnd(); ++i) {
    MapFileCell cell;
    if (in.i8() == 1) {
      cell.present = true;
      cell.tileSet = in.i32();
      cell.tile = in.i32();
      cell.rotation = in.i16();
    }
    map->cells.push_back(cell);
  }
}

void readSpawnPoints(ByteReader& in, size_t count, MapFile* map) {
  for (size_t i = 0; i < count && !in.atEnd(); ++i) {
    SpawnPoint point;
    point.value = in.i32();
    point.name = shortText(in.line());
    point.x = in.i32();
    point.y = in.i32();
    map->spawnPoints.push_back(std::move(point));
  }
}

MapLight readLight(ByteReader& in) {
  MapLight light;
  light.identifier = in.i32();
  light.active = in.i16();
  light.shape = in.i16();
  light.colour = in.u32();
  light.width = in.i32();
  light.height = in.i32();
  light.x = in.i32();
  light.y = in.i32();
  light.intensity = in.f32();
  light.rotation = in.i16();
  light.flicker = in.i8();
  if (light.flicker != 0) {
    light.flickerAmount = in.f32();
    light.flickerInterval = in.i32();
  }
  return light;
}

MapEmitter readEmitter(ByteReader& in) {
  MapEmitter e;
  e.first = in.i32();
  e.active = in.i32();
  e.x = in.i32();
  e.y = in.i32();
  e.areaWidth = in.i32();
  e.areaHeight = in.i32();
  e.interval = in.i32();
  e.textureKey = in.line();
  e.lifetime = in.i32();
  e.extraLifetime = in.i32();
  e.startSize = in.f32();
  e.sizeChange = in.f32();
  e.speed = in.f32();
  e.minAngle = in.i32();
  e.maxAngle = in.i32();
  e.driftFactor = in.f32();
  e.sourceBlend = in.i32();
  e.destinationBlend = in.i32();
  e.startAlpha = in.f32();
  e.alphaLoss = in.f32();
  return e;
}

void writeLight(ByteWriter& out, const MapLight& light) {
  out.i32(light.identifier);
  out.i16(light.active);
  out.i16(light.shape);
  out.u32(light.colour);
  out.i32(light.width);
  out.i32(light.height);
  out.i32(light.x);
  out.i32(light.y);
  out.f32(light.intensity);
  out.i16(light.rotation);
  out.i8(light.flicker);
  if (light.flicker == 0) return;
  out.f32(light.flickerAmount);
  out.i32(light.flickerInterval);
}

void writeEmitter(ByteWriter& out, const MapEmitter& e) {
  out.i32(e.first);
  out.i32(e.active);
  out.i32(e.x);
  out.i32(e.y);
  out.i32(e.areaWidth);
  out.i32(e.areaHeight);
  out.i32(e.interval);
  out.line(e.textureKey);
  out.i32(e.lifetime);
  out.i32(e.extraLifetime);
  out.f32(e.startSize);
  out.f32(e.sizeChange);
  out.f32(e.speed);
  out.i32(e.minAngle);
  out.i32(e.maxAngle);
  out.f32(e.driftFactor);
  out.i32(e.sourceBlend);
  out.i32(e.destinationBlend);
  out.f32(e.startAlpha);
  out.f32(e.alphaLoss);
}

void writeCell(ByteWriter& out, const MapFileCell& cell) {
  if (!cell.present) {
    out.i8(0);
    return;
  }
  out.i8(1);
  out.i32(cell.tileSet);
  out.i32(cell.tile);
  out.i16(cell.rotation);
}

// Everything after the cells. Each count is checked before its records are read.
MapFileStatus readMapTail(ByteReader& in, MapFile* map) {
  int32_t spawnCount = in.i32();
  if (!countWithin(spawnCount, kMapFileMaxSpawnPoints)) return MapFileStatus::TooMany;
  readSpawnPoints(in, countOf(spawnCount), map);
  if (in.ranShort() || map->spawnPoints.size() < countOf(spawnCount)) {
    map->end = MapFileEnd::kCut;
    return MapFileStatus::Ok;
  }
  map->ambientColour = in.u32();
  map->overlayColour = in.i32();
  int32_t lightCount = in.i32();
  if (!countWithin(lightCount, kMapFileMaxLights)) return MapFileStatus::TooMany;
  for (size_t i = 0; i < countOf(lightCount) && !in.atEnd(); ++i) {
    map->lights.push_back(readLight(in));
  }
  map->driftEnabled = in.i32();
  map->driftX = in.f32();
  map->driftY = in.f32();
  int32_t emitterCount = in.i32();
  if (!countWithin(emitterCount, kMapFileMaxEmitters)) return MapFileStatus::TooMany;
  for (size_t i = 0; i < countOf(emitterCount) && !in.atEnd(); ++i) {
    map->emitters.push_back(readEmitter(in));
  }
  if (in.ranShort() || map->lights.size() < countOf(lightCount) ||
      map->emitters.size() < countOf(emitterCount)) {
    map->end = MapFileEnd::kCutInEffects;
  }
  return MapFileStatus::Ok;
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t bigEndian16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t littleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool pngDimensions(const uint8_t* data, size_t length, int64_t* width, int64_t* height) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (length < 24 || std::memcmp(data, kSignature, 8) != 0) return false;
  if (std::memcmp(data + 12, "IHDR", 4) != 0) return false;
  *width = bigEndian32(data + 16);
  *height = bigEndian32(data + 20);
  return true;
}

bool jpegFrameMarker(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool jpegDimensions(const uint8_t* data, size_t length, int64_t* width, int64_t* height) {
  if (length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= length) {
    if (data[at] != 0xFF) return false;
    uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;  // no frame header before the data
    size_t segment = bigEndian16(data + at + 2);
    if (jpegFrameMarker(marker)) {
      if (segment < 7 || at + 9 > length) return false;
      *height = bigEndian16(data + at + 5);
      *width = bigEndian16(data + at + 7);
      return true;
    }
    if (segment < 2) return false;
    at += 2 + segment;
  }
  return false;
}

bool bmpDimensions(const uint8_t* data, size_t length, int64_t* width, int64_t* height) {
  if (length < 26 || data[0] != 'B' || data[1] != 'M') return false;
  uint32_t headerSize = littleEndian32(data + 14);
  if (headerSize == 12) {
    *width = data[18] | data[19] << 8;
    *height = data[20] | data[21] << 8;
    return true;
  }
  *width = static_cast<int32_t>(littleEndian32(data + 18));
  int64_t h = static_cast<int32_t>(littleEndian32(data + 22));
  *height = h < 0 ? -h : h;
  return true;
}

}  // namespace

const char* mapFileStatusText(MapFileStatus status) {
  switch (status) {
    case MapFileStatus::Ok: return "no error";
    case MapFileStatus::BadSize: return "negative map size";
    case MapFileStatus::TooLarge: return "map larger than allowed";
    case MapFileStatus::TooMany: return "too many tile sets, spawn points, lights or emitters";
  }
  return "unknown";
}

size_t mapCellIndex(const MapFile& map, int layer, int column, int row) {
  size_t columns = static_cast<size_t>(map.lastColumn) + 1;
  size_t rows = static_cast<size_t>(map.lastRow) + 1;
  return (static_cast<size_t>(layer) * rows + static_cast<size_t>(row)) * columns +
         static_cast<size_t>(column);
}

MapFileStatus parseMapFile(const uint8_t* data, size_t length, MapFile* out) {
  *out = MapFile{};
  ByteReader in(data, length);
  MapFile map;
  map.text1 = in.line();
  map.text2 = in.line();
  map.text3 = in.line();
  map.lastColumn = in.i32();
  map.lastRow = in.i32();
  map.lastLayer = in.u8();
  map.headerValue = in.i32();
  MapFileStatus status = checkSize(map);
  if (status != MapFileStatus::Ok) return status;

  int32_t tileSetCount = in.i32();
  if (!countWithin(tileSetCount, kMapFileMaxTileSets)) return MapFileStatus::TooMany;
  for (size_t i = 0; i < countOf(tileSetCount) && !in.atEnd(); ++i) {
    map.tileSetNames.push_back(in.line());
  }
  size_t total = static_cast<size_t>(map.lastColumn + 1) * static_cast<size_t>(map.lastRow + 1) *
                 (size_t{map.lastLayer} + 1);
  readCells(in, total, &map);
  status = readMapTail(in, &map);
  if (status != MapFileStatus::Ok) return status;
  *out = std::move(map);
  return MapFileStatus::Ok;
}

bool writeMapFile(const MapFile& map, std::vector<uint8_t>* out) {
  if (checkSize(map) != MapFileStatus::Ok) return false;
  size_t total = static_cast<size_t>(map.lastColumn + 1) * static_cast<size_t>(map.lastRow + 1) *
                 (size_t{map.lastLayer} + 1);
  if (map.cells.size() != total) return false;
  for (const std::string& text : {map.text1, map.text2, map.text3}) {
    if (!writableLine(text)) return false;
  }
  std::vector<uint8_t> bytes;
  ByteWriter w(&bytes);
  w.line(map.text1);
  w.line(map.text2);
  w.line(map.text3);
  w.i32(map.lastColumn);
  w.i32(map.lastRow);
  w.u8(map.lastLayer);
  w.i32(map.headerValue);
  w.i32(static_cast<int32_t>(map.tileSetNames.size()));
  for (const std::string& name : map.tileSetNames) {
    if (!writableLine(name)) return false;
    w.line(name);
  }
  for (const MapFileCell& cell : map.cells) writeCell(w, cell);
  w.i32(static_cast<int32_t>(map.spawnPoints.size()));
  for (const SpawnPoint& point : map.spawnPoints) {
    if (!writableLine(point.name)) return false;
    w.i32(point.value);
    w.line(point.name);
    w.i32(point.x);
    w.i32(point.y);
  }
  w.u32(map.ambientColour);
  w.i32(map.overlayColour);
  w.i32(static_cast<int32_t>(map.lights.size()));
  for (const MapLight& light : map.lights) writeLight(w, light);
  w.i32(map.driftEnabled);
  w.f32(map.driftX);
  w.f32(map.driftY);
  w.i32(static_cast<int32_t>(map.emitters.size()));
  for (const MapEmitter& emitter : map.emitters) {
    if (!writableLine(emitter.textureKey)) return false;
    writeEmitter(w, emitter);
  }
  *out = std::move(bytes);
  return true;
}

bool parseTileSetFile(const uint8_t* data, size_t length, TileSetFile* out) {
  *out = TileSetFile{};
  ByteReader in(data, length);
  TileSetFile set;
  set.header = in.line();
  set.tileWidth = in.i32();
  set.tileHeight = in.i32();
  int32_t kindCount = in.i32();
  if (!countWithin(kindCount, kTileSetFileMaxKinds)) return false;
  for (size_t i = 0; i < countOf(kindCount) && !in.atEnd(); ++i) {
    TileSetFileKind kind;
    kind.name = in.line();
    kind.value = in.i32();
    kind.text = shortText(in.line());
    set.kinds.push_back(std::move(kind));
  }
  int32_t pictureCount = in.i32();
  if (!countWithin(pictureCount, kTileSetFileMaxPictures)) return false;
  for (size_t i = 0; i < countOf(pictureCount) && !in.atEnd(); ++i) {
    TileSetFilePicture picture;
    picture.name = in.line();
    int32_t byteLength = in.i32();
    // A length past the end takes what is there; the decoder then refuses the cut picture.
    picture.bytes = in.bytes(countOf(byteLength));
    set.pictures.push_back(std::move(picture));
  }
  int32_t tileCount = in.i32();
  if (!countWithin(tileCount, kTileSetFileMaxTiles)) return false;
  for (size_t i = 0; i < countOf(tileCount) && !in.atEnd(); ++i) {
    TileSetFileTile tile;
    tile.number = in.i32();
    tile.pictureName = in.line();
    tile.kindName = in.line();
    tile.displayValue = in.i16();
    tile.terrain = in.i16();
    set.tiles.push_back(std::move(tile));
  }
  set.cut = in.ranShort() || set.kinds.size() < countOf(kindCount) ||
            set.pictures.size() < countOf(pictureCount) || set.tiles.size() < countOf(tileCount);
  *out = std::move(set);
  return true;
}

bool writeTileSetFile(const TileSetFile& set, std::vector<uint8_t>* out) {
  if (!writableLine(set.header)) return false;
  std::vector<uint8_t> bytes;
  ByteWriter w(&bytes);
  w.line(set.header);
  w.i32(set.tileWidth);
  w.i32(set.tileHeight);
  w.i32(static_cast<int32_t>(set.kinds.size()));
  for (const TileSetFileKind& kind : set.kinds) {
    if (!writableLine(kind.name) || !writableLine(kind.text)) return false;
    w.line(kind.name);
    w.i32(kind.value);
    w.line(kind.text);
  }
  w.i32(static_cast<int32_t>(set.pictures.size()));
  for (const TileSetFilePicture& picture : set.pictures) {
    if (!writableLine(picture.name) || picture.bytes.size() > INT32_MAX) return false;
    w.line(picture.name);
    w.i32(static_cast<int32_t>(picture.bytes.size()));
    w.bytes(picture.bytes);
  }
  w.i32(static_cast<int32_t>(set.tiles.size()));
  for (const TileSetFileTile& tile : set.tiles) {
    if (!writableLine(tile.pictureName) || !writableLine(tile.kindName)) return false;
    w.i32(tile.number);
    w.line(tile.pictureName);
    w.line(tile.kindName);
    w.i16(tile.displayValue);
    w.i16(tile.terrain);
  }
  *out = std::move(bytes);
  return true;
}

bool pictureDimensions(const uint8_t* data, size_t length, int64_t* width, int64_t* height) {
  if (!data || !width || !height) return false;
  return pngDimensions(data, length, width, height) ||
         jpegDimensions(data, length, width, height) ||
         bmpDimensions(data, length, width, height);
}
