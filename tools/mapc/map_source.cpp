#include "map_source.h"

#include <map>
#include <set>
#include <vector>

#include "tileset_source.h"

namespace mapc {
namespace {

constexpr int kAnyRotation = -1;

struct Statement {
  int line = 0;
  std::string keyword;
  Arguments args;
};

struct Choice {
  size_t tileSet = 0;
  int32_t number = 0;   // the tile, or variant 0 of a group
  std::string group;    // "alias:group" when chosen by the neighbours
  int32_t groupCount = 0;
};

struct LegendEntry {
  int line = 0;
  bool empty = false;
  std::vector<Choice> choices;
  int rotation = 0;  // degrees or kAnyRotation
};

struct Grid {
  int line = 0;
  std::vector<std::string> rows;
};

// A spread of bits from a cell, so that alternatives and rotations look scattered but every
// build of the map comes out the same.
uint32_t cellHash(int layer, int column, int row, uint32_t salt) {
  uint64_t h = (uint64_t(uint32_t(layer)) << 48) ^ (uint64_t(uint32_t(column)) << 24) ^
               uint64_t(uint32_t(row)) ^ (uint64_t(salt) << 56);
  h += 0x9E3779B97F4A7C15ull;
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>(h ^ (h >> 31));
}

class MapCompiler {
 public:
  MapCompiler(const std::string& path, const std::string& tileSetDir, Diagnostics& diagnostics)
      : path_(path), tileSetDir_(tileSetDir), diagnostics_(diagnostics) {}

  bool compile(MapFile* out) {
    int before = diagnostics_.errors();
    if (!readStatements()) return false;
    if (diagnostics_.errors() != before || !checkHeader()) return false;
    // Grids of the wrong size must not be read below.
    if (diagnostics_.errors() != before) return false;
    resolveLegend();
    if (diagnostics_.errors() != before) return false;
    buildCells();
    for (const Statement& s : rules_) applyRule(s);
    computeSolid();
    for (const Statement& s : placed_) place(s);
    if (diagnostics_.errors() != before) return false;
    *out = std::move(map_);
    return true;
  }

 private:
  void fail(int line, const std::string& message) { diagnostics_.error(path_, line, message); }

  // ---- Reading -------------------------------------------------------------------------------

  bool readStatements() {
    std::vector<SourceLine> lines;
    if (!readSourceLines(path_, &lines)) {
      fail(0, "cannot read");
      return false;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
      SourceLine& line = lines[i];
      std::string problem;
      if (!splitWords(line.raw, &line.words, &problem)) {
        fail(line.number, problem);
        continue;
      }
      if (line.words.empty()) continue;
      const std::string& keyword = line.words[0].text;
      if (keyword == "legend") {
        i = readLegend(lines, i);
      } else if (keyword == "layer") {
        i = readGrid(lines, i);
      } else {
        statement(line);
      }
    }
    return true;
  }

  // The lines up to "end"; returns the index of the "end" line.
  size_t blockEnd(std::vector<SourceLine>& lines, size_t start) {
    for (size_t i = start + 1; i < lines.size(); ++i) {
      std::string trimmed = lines[i].raw;
      size_t first = trimmed.find_first_not_of(" \t");
      size_t last = trimmed.find_last_not_of(" \t");
      if (first != std::string::npos && trimmed.substr(first, last - first + 1) == "end") return i;
    }
    fail(lines[start].number, "no \"end\" for this block");
    return lines.size();
  }

  size_t readLegend(std::vector<SourceLine>& lines, size_t start) {
    size_t end = blockEnd(lines, start);
    for (size_t i = start + 1; i < end; ++i) {
      SourceLine& line = lines[i];
      std::string problem;
      if (!splitWords(line.raw, &line.words, &problem)) {
        fail(line.number, problem);
        continue;
      }
      if (line.words.empty()) continue;
      const std::string& key = line.words[0].text;
      if (key.size() != 1 || key[0] < '!' || key[0] > '~') {
        fail(line.number, "a legend entry starts with one visible character");
        continue;
      }
      if (legendLines_.count(key[0])) {
        fail(line.number, std::string("character ") + key + " defined twice");
        continue;
      }
      Statement s;
      s.line = line.number;
      if (!splitArguments(line, 1, &s.args, &problem)) {
        fail(line.number, problem);
        continue;
      }
      legendLines_[key[0]] = s;
    }
    return end;
  }

  size_t readGrid(std::vector<SourceLine>& lines, size_t start) {
    const SourceLine& head = lines[start];
    size_t end = blockEnd(lines, start);
    int32_t layer = 0;
    if (head.words.size() != 2 || !parseInt(head.words[1].text, 0, kMapFileMaxLayers - 1, &layer)) {
      fail(head.number, "layer takes a number from 0 to 255");
      return end;
    }
    if (grids_.count(layer)) {
      fail(head.number, "layer " + std::to_string(layer) + " given twice");
      return end;
    }
    Grid grid;
    grid.line = head.number;
    for (size_t i = start + 1; i < end; ++i) {
      std::string row = lines[i].raw;
      size_t first = row.find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      size_t last = row.find_last_not_of(" \t");
      grid.rows.push_back(row.substr(first, last - first + 1));
    }
    grids_[layer] = grid;
    return end;
  }

  void statement(const SourceLine& line) {
    Statement s;
    s.line = line.number;
    s.keyword = line.words[0].text;
    std::string problem;
    if (!splitArguments(line, 1, &s.args, &problem)) return fail(line.number, problem);
    static const std::set<std::string> kHeader = {"title", "text2", "text3", "players", "size",
                                                  "layers", "tileset", "ambient", "overlay",
                                                  "drift"};
    if (kHeader.count(s.keyword)) return headerStatement(s);
    if (s.keyword == "spawn" || s.keyword == "light" || s.keyword == "emitter") {
      placed_.push_back(s);
      return;
    }
    if (s.keyword == "shadows" || s.keyword == "fringe") {
      rules_.push_back(s);
      return;
    }
    fail(line.number, "unknown keyword \"" + s.keyword + "\"");
  }

  bool oneText(const Statement& s, std::string* out) {
    if (s.args.plain.size() != 1 || !s.args.options.empty()) {
      fail(s.line, s.keyword + " takes one text");
      return false;
    }
    if (!toGameText(s.args.plain[0], out)) {
      fail(s.line, "a character the game cannot show");
      return false;
    }
    return true;
  }

  void headerStatement(const Statement& s) {
    const std::vector<std::string>& a = s.args.plain;
    if (!seen_.insert(s.keyword).second && s.keyword != "tileset") {
      return fail(s.line, s.keyword + " given twice");
    }
    if (s.keyword == "title") {
      oneText(s, &map_.text1);
    } else if (s.keyword == "text2") {
      oneText(s, &map_.text2);
    } else if (s.keyword == "text3") {
      oneText(s, &map_.text3);
    } else if (s.keyword == "players") {
      if (a.size() != 1 || !parseInt(a[0], 1, 64, &map_.headerValue)) {
        fail(s.line, "players takes a number from 1 to 64");
      }
    } else if (s.keyword == "size") {
      if (a.size() != 2 || !parseInt(a[0], 1, kMapFileMaxColumns, &columns_) ||
          !parseInt(a[1], 1, kMapFileMaxRows, &rows_)) {
        fail(s.line, "size takes columns and rows, 1 to 1024 each");
      }
    } else if (s.keyword == "layers") {
      if (a.size() != 1 || !parseInt(a[0], 1, kMapFileMaxLayers, &layers_)) {
        fail(s.line, "layers takes a number from 1 to 256");
      }
    } else if (s.keyword == "tileset") {
      tileSetStatement(s);
    } else if (s.keyword == "ambient") {
      if (a.size() != 1 || !parseColour(a[0], &map_.ambientColour)) {
        fail(s.line, "ambient takes a colour #RRGGBB");
      }
    } else if (s.keyword == "overlay") {
      overlayStatement(s);
    } else if (s.keyword == "drift") {
      driftStatement(s);
    }
  }

  void tileSetStatement(const Statement& s) {
    const std::vector<std::string>& a = s.args.plain;
    if (a.size() != 2 || !s.args.options.empty()) {
      return fail(s.line, "tileset takes an alias and a tile-set name");
    }
    if (aliases_.count(a[0])) return fail(s.line, "alias " + a[0] + " used twice");
    if (a[1].find_first_of("/\\:") != std::string::npos || a[1].find("..") != std::string::npos) {
      return fail(s.line, "a tile-set name is a plain file name");
    }
    TileSetSource source;
    if (!parseTileSetSource(tileSetDir_ + "/" + a[1] + ".tiles", diagnostics_, &source)) {
      return fail(s.line, "tile set " + a[1] + " has errors");
    }
    if (tileSets_.empty()) {
      tileWidth_ = source.width;
      tileHeight_ = source.height;
    }
    aliases_[a[0]] = tileSets_.size();
    tileSets_.push_back(std::move(source));
    map_.tileSetNames.push_back(a[1] + ".tileset");
  }

  void overlayStatement(const Statement& s) {
    const std::vector<std::string>& a = s.args.plain;
    uint32_t colour = 0;
    if (a.size() == 1 && a[0] == "none") {
      map_.overlayColour = 0;
    } else if (a.size() == 1 && parseColour(a[0], &colour) && colour > 0) {
      map_.overlayColour = static_cast<int32_t>(colour);
    } else {
      fail(s.line, "overlay takes a colour #RRGGBB (not black) or none");
    }
  }

  void driftStatement(const Statement& s) {
    const std::vector<std::string>& a = s.args.plain;
    if (a.size() == 1 && a[0] == "off") {
      map_.driftEnabled = 0;
      return;
    }
    if (a.size() != 2 || !parseFloat(a[0], &map_.driftX) || !parseFloat(a[1], &map_.driftY)) {
      return fail(s.line, "drift takes x and y, or off");
    }
    map_.driftEnabled = 1;
  }

  bool checkHeader() {
    bool ok = true;
    for (const char* needed : {"title", "players", "size", "layers"}) {
      if (!seen_.count(needed)) {
        fail(0, std::string("no ") + needed + " statement");
        ok = false;
      }
    }
    if (tileSets_.empty()) {
      fail(0, "no tileset statement");
      ok = false;
    }
    if (!ok) return false;
    int64_t cells = int64_t{columns_} * rows_ * layers_;
    if (cells > kMapFileMaxCells) {
      fail(0, "more cells than a map may have");
      return false;
    }
    map_.lastColumn = columns_ - 1;
    map_.lastRow = rows_ - 1;
    map_.lastLayer = static_cast<uint8_t>(layers_ - 1);
    if (!grids_.count(0)) fail(0, "no grid for layer 0");
    for (const auto& [layer, grid] : grids_) checkGrid(layer, grid);
    return true;
  }

  void checkGrid(int layer, const Grid& grid) {
    if (layer >= layers_) return fail(grid.line, "layer " + std::to_string(layer) + " beyond layers");
    if (static_cast<int>(grid.rows.size()) != rows_) {
      return fail(grid.line, "layer " + std::to_string(layer) + " has " +
                                 std::to_string(grid.rows.size()) + " rows, not " +
                                 std::to_string(rows_));
    }
    for (size_t r = 0; r < grid.rows.size(); ++r) {
      if (static_cast<int>(grid.rows[r].size()) != columns_) {
        fail(grid.line, "row " + std::to_string(r) + " of layer " + std::to_string(layer) +
                            " is " + std::to_string(grid.rows[r].size()) +
                            " characters wide, not " + std::to_string(columns_));
      }
    }
  }

  // ---- The legend ----------------------------------------------------------------------------

  bool tileReference(int line, const std::string& text, Choice* choice) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) {
      fail(line, "\"" + text + "\" is not alias:tile");
      return false;
    }
    auto alias = aliases_.find(text.substr(0, colon));
    if (alias == aliases_.end()) {
      fail(line, "unknown tile-set alias in \"" + text + "\"");
      return false;
    }
    const TileSetSource& set = tileSets_[alias->second];
    std::string name = text.substr(colon + 1);
    choice->tileSet = alias->second;
    size_t hash = name.find('#');
    if (hash != std::string::npos) return groupVariant(line, set, name, hash, choice);
    if (auto tile = set.tileByName.find(name); tile != set.tileByName.end()) {
      choice->number = set.tiles[tile->second].number;
      return true;
    }
    if (auto group = set.groups.find(name); group != set.groups.end()) {
      if (group->second.count < 16) {
        fail(line, "group " + name + " has fewer than 16 variants to follow its neighbours");
        return false;
      }
      choice->number = group->second.first;
      choice->group = text;
      choice->groupCount = group->second.count;
      return true;
    }
    fail(line, "no tile or group \"" + name + "\" in " + set.path);
    return false;
  }

  bool groupVariant(int line, const TileSetSource& set, const std::string& name, size_t hash,
                    Choice* choice) {
    auto group = set.groups.find(name.substr(0, hash));
    int32_t index = 0;
    if (group == set.groups.end() ||
        !parseInt(name.substr(hash + 1), 0, group->second.count - 1, &index)) {
      fail(line, "no group variant \"" + name + "\"");
      return false;
    }
    choice->number = group->second.first + index;
    return true;
  }

  void resolveLegend() {
    for (const auto& [character, s] : legendLines_) {
      LegendEntry entry;
      entry.line = s.line;
      if (s.args.plain.size() == 1 && s.args.plain[0] == "empty") {
        entry.empty = true;
        legend_[character] = entry;
        continue;
      }
      if (s.args.plain.empty()) fail(s.line, "a legend entry names tiles or \"empty\"");
      for (const std::string& text : s.args.plain) {
        Choice choice;
        if (tileReference(s.line, text, &choice)) entry.choices.push_back(choice);
      }
      for (const auto& [key, value] : s.args.options) {
        if (key != "rotate") {
          fail(s.line, "unknown option " + key);
        } else if (value == "any") {
          entry.rotation = kAnyRotation;
        } else if (!parseInt(value, 0, 359, &entry.rotation) || entry.rotation % 90 != 0) {
          fail(s.line, "rotate takes 0, 90, 180, 270 or any");
        }
      }
      legend_[character] = entry;
    }
  }

  // ---- Cells ---------------------------------------------------------------------------------

  char gridChar(int layer, int column, int row) const {
    auto grid = grids_.find(layer);
    if (grid == grids_.end() || column < 0 || row < 0 || column >= columns_ || row >= rows_) {
      return 0;
    }
    return grid->second.rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
  }

  bool belongsTo(int layer, int column, int row, const std::string& group) const {
    if (column < 0 || row < 0 || column >= columns_ || row >= rows_) return true;
    auto entry = legend_.find(gridChar(layer, column, row));
    if (entry == legend_.end()) return false;
    for (const Choice& c : entry->second.choices) {
      if (c.group == group) return true;
    }
    return false;
  }

  int32_t chosenNumber(const Choice& choice, int layer, int column, int row) const {
    if (choice.group.empty()) return choice.number;
    int mask = (belongsTo(layer, column, row - 1, choice.group) ? 1 : 0) |
               (belongsTo(layer, column + 1, row, choice.group) ? 2 : 0) |
               (belongsTo(layer, column, row + 1, choice.group) ? 4 : 0) |
               (belongsTo(layer, column - 1, row, choice.group) ? 8 : 0);
    return choice.number + mask;
  }

  MapFileCell& cellAt(int layer, int column, int row) {
    return map_.cells[mapCellIndex(map_, layer, column, row)];
  }

  void buildCells() {
    map_.cells.assign(static_cast<size_t>(columns_) * rows_ * layers_, MapFileCell{});
    std::set<char> reported;
    for (const auto& [layer, grid] : grids_) {
      for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
          char c = gridChar(layer, column, row);
          auto entry = legend_.find(c);
          if (entry == legend_.end()) {
            if (reported.insert(c).second) {
              fail(grid.line + 1 + row, std::string("character ") + c + " is not in the legend");
            }
            continue;
          }
          fillCell(entry->second, layer, column, row);
        }
      }
    }
  }

  void fillCell(const LegendEntry& entry, int layer, int column, int row) {
    if (entry.empty || entry.choices.empty()) return;
    uint32_t hash = cellHash(layer, column, row, 1);
    const Choice& choice = entry.choices[hash % entry.choices.size()];
    MapFileCell& cell = cellAt(layer, column, row);
    cell.present = true;
    cell.tileSet = static_cast<int32_t>(choice.tileSet);
    cell.tile = chosenNumber(choice, layer, column, row);
    int rotation = entry.rotation;
    if (rotation == kAnyRotation) rotation = static_cast<int>(cellHash(layer, column, row, 2) % 4) * 90;
    cell.rotation = static_cast<int16_t>(rotation);
  }

  // ---- Shadows and fringes ---------------------------------------------------------------------

  bool fromSet(int layer, int column, int row, const std::string& from) const {
    char c = gridChar(layer, column, row);
    return c != 0 && from.find(c) != std::string::npos;
  }

  void applyRule(const Statement& s) {
    int32_t layer = 0;
    auto layerText = s.args.options.find("layer");
    auto from = s.args.options.find("from");
    auto tiles = s.args.options.find("tiles");
    if (layerText == s.args.options.end() || from == s.args.options.end() ||
        tiles == s.args.options.end() || s.args.options.size() != 3 || !s.args.plain.empty() ||
        !parseInt(layerText->second, 1, layers_ - 1, &layer) || from->second.empty()) {
      return fail(s.line, s.keyword + " takes layer= (above 0), from= (characters) and tiles=");
    }
    Choice group;
    std::string name = tiles->second;
    size_t colon = name.find(':');
    auto alias = colon == std::string::npos ? aliases_.end() : aliases_.find(name.substr(0, colon));
    if (alias == aliases_.end()) return fail(s.line, "tiles= needs alias:group");
    const TileSetSource& set = tileSets_[alias->second];
    auto found = set.groups.find(name.substr(colon + 1));
    int needed = s.keyword == "shadows" ? 8 : 16;
    if (found == set.groups.end() || found->second.count < needed) {
      return fail(s.line, "tiles= must name a group of at least " + std::to_string(needed) +
                              " variants");
    }
    for (int row = 0; row < rows_; ++row) {
      for (int column = 0; column < columns_; ++column) {
        if (fromSet(0, column, row, from->second) || cellAt(layer, column, row).present) continue;
        int mask = s.keyword == "shadows" ? shadowMask(column, row, from->second)
                                          : fringeMask(column, row, from->second);
        if (mask == 0 || groundSolid(column, row)) continue;
        MapFileCell& cell = cellAt(layer, column, row);
        cell.present = true;
        cell.tileSet = static_cast<int32_t>(alias->second);
        cell.tile = found->second.first + mask;
      }
    }
  }

  int shadowMask(int column, int row, const std::string& from) const {
    return (fromSet(0, column - 1, row, from) ? 1 : 0) | (fromSet(0, column, row - 1, from) ? 2 : 0) |
           (fromSet(0, column - 1, row - 1, from) ? 4 : 0);
  }

  int fringeMask(int column, int row, const std::string& from) const {
    return (fromSet(0, column, row - 1, from) ? 1 : 0) | (fromSet(0, column + 1, row, from) ? 2 : 0) |
           (fromSet(0, column, row + 1, from) ? 4 : 0) | (fromSet(0, column - 1, row, from) ? 8 : 0);
  }

  const TileEntry* tileOf(const MapFileCell& cell) const {
    if (!cell.present) return nullptr;
    const TileSetSource& set = tileSets_[static_cast<size_t>(cell.tileSet)];
    auto it = set.tileByNumber.find(cell.tile);
    return it == set.tileByNumber.end() ? nullptr : &set.tiles[it->second];
  }

  bool groundSolid(int column, int row) {
    const TileEntry* tile = tileOf(cellAt(0, column, row));
    return tile && tile->terrain > 0;
  }

  void computeSolid() {
    solid_.assign(static_cast<size_t>(columns_) * rows_, 0);
    for (int layer = 0; layer < layers_; ++layer) {
      for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
          const TileEntry* tile = tileOf(cellAt(layer, column, row));
          if (tile && tile->terrain > 0) solid_[static_cast<size_t>(row) * columns_ + column] = 1;
        }
      }
    }
  }

  bool solidAt(int column, int row) const {
    return solid_[static_cast<size_t>(row) * columns_ + column] != 0;
  }

  // ---- Spawn points, lights, emitters ----------------------------------------------------------

  // Centres named by at=, pixel= or on= (with layer=), moved by offset=.
  bool positions(const Statement& s, std::vector<std::pair<int32_t, int32_t>>* out) {
    const auto& o = s.args.options;
    int32_t x = 0, y = 0, dx = 0, dy = 0;
    int given = int(o.count("at")) + int(o.count("pixel")) + int(o.count("on"));
    if (given != 1) {
      fail(s.line, "give the place with one of at=C,R, pixel=X,Y or on=CHARACTER");
      return false;
    }
    if (o.count("offset") && !parseIntPair(o.at("offset"), ',', &dx, &dy)) {
      fail(s.line, "offset takes x,y");
      return false;
    }
    if (o.count("at")) {
      if (!parseIntPair(o.at("at"), ',', &x, &y) || x < 0 || y < 0 || x >= columns_ || y >= rows_) {
        fail(s.line, "at= takes a column and row inside the map");
        return false;
      }
      out->push_back({x * tileWidth_ + tileWidth_ / 2 + dx, y * tileHeight_ + tileHeight_ / 2 + dy});
      return true;
    }
    if (o.count("pixel")) {
      if (!parseIntPair(o.at("pixel"), ',', &x, &y)) {
        fail(s.line, "pixel= takes x,y");
        return false;
      }
      out->push_back({x + dx, y + dy});
      return true;
    }
    return cellsShowing(s, dx, dy, out);
  }

  bool cellsShowing(const Statement& s, int32_t dx, int32_t dy,
                    std::vector<std::pair<int32_t, int32_t>>* out) {
    const std::string& on = s.args.options.at("on");
    int32_t only = -1;
    if (s.args.options.count("layer") &&
        !parseInt(s.args.options.at("layer"), 0, layers_ - 1, &only)) {
      fail(s.line, "layer= names a layer of the map");
      return false;
    }
    if (on.size() != 1) {
      fail(s.line, "on= takes one legend character");
      return false;
    }
    for (int row = 0; row < rows_; ++row) {
      for (int column = 0; column < columns_; ++column) {
        bool shows = false;
        for (int layer = 0; layer < layers_; ++layer) {
          if ((only < 0 || layer == only) && gridChar(layer, column, row) == on[0]) shows = true;
        }
        if (shows) {
          out->push_back({column * tileWidth_ + tileWidth_ / 2 + dx,
                          row * tileHeight_ + tileHeight_ / 2 + dy});
        }
      }
    }
    if (out->empty()) fail(s.line, "no cell shows " + on);
    return !out->empty();
  }

  // Reads the options a statement allows; complains about any other.
  bool onlyOptions(const Statement& s, const std::set<std::string>& allowed) {
    static const std::set<std::string> kPlace = {"at", "pixel", "on", "layer", "offset"};
    for (const auto& [key, value] : s.args.options) {
      if (!allowed.count(key) && !kPlace.count(key)) {
        fail(s.line, "unknown option " + key + " for " + s.keyword);
        return false;
      }
    }
    return true;
  }

  bool intOption(const Statement& s, const char* key, int64_t low, int64_t high, int32_t* value) {
    auto it = s.args.options.find(key);
    if (it == s.args.options.end()) return true;
    if (parseInt(it->second, low, high, value)) return true;
    fail(s.line, std::string(key) + " must be a whole number from " + std::to_string(low) +
                     " to " + std::to_string(high));
    return false;
  }

  bool floatOption(const Statement& s, const char* key, float low, float high, float* value) {
    auto it = s.args.options.find(key);
    if (it == s.args.options.end()) return true;
    if (parseFloat(it->second, value) && *value >= low && *value <= high) return true;
    fail(s.line, std::string(key) + " must be a number from " + std::to_string(low) + " to " +
                     std::to_string(high));
    return false;
  }

  void place(const Statement& s) {
    if (s.keyword == "spawn") return spawn(s);
    if (s.keyword == "light") return light(s);
    emitter(s);
  }

  void spawn(const Statement& s) {
    std::vector<std::pair<int32_t, int32_t>> at;
    if (!onlyOptions(s, {"name", "value"}) || !s.args.plain.empty() || !positions(s, &at)) {
      if (!s.args.plain.empty()) fail(s.line, "spawn takes only options");
      return;
    }
    SpawnPoint point;
    if (!intOption(s, "value", INT32_MIN, INT32_MAX, &point.value)) return;
    if (s.args.options.count("name") && !toGameText(s.args.options.at("name"), &point.name)) {
      return fail(s.line, "a character the game cannot show");
    }
    if (point.name.size() > kMapShortTextBytes) return fail(s.line, "name longer than 64 bytes");
    for (auto [x, y] : at) {
      int column = x / tileWidth_, row = y / tileHeight_;
      if (x < 0 || y < 0 || column >= columns_ || row >= rows_ || solidAt(column, row)) {
        return fail(s.line, "spawn point not on open ground");
      }
      point.x = x;
      point.y = y;
      map_.spawnPoints.push_back(point);
    }
  }

  void light(const Statement& s) {
    static const std::map<std::string, int16_t> kShapes = {{"point", 0}, {"cone", 1}, {"plane", 2}};
    std::vector<std::pair<int32_t, int32_t>> at;
    if (s.args.plain.size() != 1 || !kShapes.count(s.args.plain[0])) {
      return fail(s.line, "light takes a shape: point, cone or plane");
    }
    if (!onlyOptions(s, {"size", "colour", "intensity", "flicker", "interval", "rotation",
                         "active", "id"}) ||
        !positions(s, &at)) {
      return;
    }
    MapLight light;
    light.shape = kShapes.at(s.args.plain[0]);
    if (!lightOptions(s, &light)) return;
    for (auto [x, y] : at) {
      light.x = x - light.width / 2;
      light.y = y - light.height / 2;
      map_.lights.push_back(light);
    }
  }

  bool lightOptions(const Statement& s, MapLight* light) {
    const auto& o = s.args.options;
    if (!o.count("size") || !o.count("colour")) {
      fail(s.line, "a light needs size= and colour=");
      return false;
    }
    const std::string& size = o.at("size");
    bool sized = size.find('x') != std::string::npos
                     ? parseIntPair(size, 'x', &light->width, &light->height)
                     : parseInt(size, 1, 4096, &light->width);
    if (size.find('x') == std::string::npos) light->height = light->width;
    if (!sized || light->width < 1 || light->height < 1 || light->width > 4096 ||
        light->height > 4096) {
      fail(s.line, "size takes N or WxH, 1 to 4096 pixels");
      return false;
    }
    if (!parseColour(o.at("colour"), &light->colour)) {
      fail(s.line, "colour takes #RRGGBB");
      return false;
    }
    light->intensity = 1.0f;
    int32_t rotation = 0, active = 1;
    bool ok = floatOption(s, "intensity", 0, 4, &light->intensity) &&
              floatOption(s, "flicker", 0, 1, &light->flickerAmount) &&
              intOption(s, "interval", 1, 60000, &light->flickerInterval) &&
              intOption(s, "rotation", -360, 360, &rotation) &&
              intOption(s, "active", 0, 1, &active) &&
              intOption(s, "id", INT32_MIN, INT32_MAX, &light->identifier);
    light->rotation = static_cast<int16_t>(rotation);
    light->active = static_cast<int16_t>(active);
    light->flicker = o.count("flicker") ? 1 : 0;
    if (light->flicker && !o.count("interval")) light->flickerInterval = 100;
    return ok;
  }

  void emitter(const Statement& s) {
    std::vector<std::pair<int32_t, int32_t>> at;
    if (!s.args.plain.empty()) return fail(s.line, "emitter takes only options");
    if (!onlyOptions(s, {"texture", "area", "interval", "life", "extra", "size", "grow", "speed",
                         "angle", "drift", "blend", "alpha", "fade", "active"}) ||
        !positions(s, &at)) {
      return;
    }
    MapEmitter e;
    if (!emitterOptions(s, &e)) return;
    for (auto [x, y] : at) {
      e.x = x;
      e.y = y;
      map_.emitters.push_back(e);
    }
  }

  bool emitterOptions(const Statement& s, MapEmitter* e) {
    const auto& o = s.args.options;
    e->active = 1;
    e->interval = 100;
    e->lifetime = 500;
    e->startSize = 8;
    e->startAlpha = 255;
    e->maxAngle = 359;
    if (o.count("texture") && !toGameText(o.at("texture"), &e->textureKey)) {
      fail(s.line, "a character the game cannot show");
      return false;
    }
    if (o.count("area") && !parseIntPair(o.at("area"), 'x', &e->areaWidth, &e->areaHeight)) {
      fail(s.line, "area takes WxH");
      return false;
    }
    if (o.count("angle") && !angles(o.at("angle"), e)) {
      fail(s.line, "angle takes A or A..B in degrees");
      return false;
    }
    if (o.count("blend") && !parseIntPair(o.at("blend"), ',', &e->sourceBlend, &e->destinationBlend)) {
      fail(s.line, "blend takes source,destination");
      return false;
    }
    return intOption(s, "interval", 1, 60000, &e->interval) &&
           intOption(s, "life", 0, 10000, &e->lifetime) &&
           intOption(s, "extra", 0, 10000, &e->extraLifetime) &&
           intOption(s, "active", 0, 1, &e->active) &&
           floatOption(s, "size", 0, 1024, &e->startSize) &&
           floatOption(s, "grow", -16, 16, &e->sizeChange) &&
           floatOption(s, "speed", -1000, 1000, &e->speed) &&
           floatOption(s, "drift", -100, 100, &e->driftFactor) &&
           floatOption(s, "alpha", 0, 255, &e->startAlpha) &&
           floatOption(s, "fade", 0, 255, &e->alphaLoss) && blendsValid(s, *e);
  }

  bool angles(const std::string& text, MapEmitter* e) {
    size_t dots = text.find("..");
    if (dots == std::string::npos) {
      if (!parseInt(text, -3600, 3600, &e->minAngle)) return false;
      e->maxAngle = e->minAngle;
      return true;
    }
    return parseInt(text.substr(0, dots), -3600, 3600, &e->minAngle) &&
           parseInt(text.substr(dots + 2), -3600, 3600, &e->maxAngle) && e->maxAngle >= e->minAngle;
  }

  bool blendsValid(const Statement& s, const MapEmitter& e) {
    if (e.sourceBlend >= 1 && e.sourceBlend <= 10 && e.destinationBlend >= 1 &&
        e.destinationBlend <= 10 && e.areaWidth >= 0 && e.areaHeight >= 0) {
      return true;
    }
    fail(s.line, "blend factors are 1 to 10 and areas not negative");
    return false;
  }

  std::string path_, tileSetDir_;
  Diagnostics& diagnostics_;
  MapFile map_;
  std::set<std::string> seen_;
  int32_t columns_ = 0, rows_ = 0, layers_ = 0;
  int32_t tileWidth_ = 96, tileHeight_ = 96;
  std::map<std::string, size_t> aliases_;
  std::vector<TileSetSource> tileSets_;
  std::map<char, Statement> legendLines_;
  std::map<char, LegendEntry> legend_;
  std::map<int32_t, Grid> grids_;
  std::vector<Statement> placed_, rules_;
  std::vector<uint8_t> solid_;
};

}  // namespace

bool compileMapSource(const std::string& path, const std::string& tileSetDir,
                      Diagnostics& diagnostics, MapFile* out) {
  MapCompiler compiler(path, tileSetDir, diagnostics);
  return compiler.compile(out);
}

}  // namespace mapc
