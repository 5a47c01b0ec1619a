#include "tileset_source.h"

#include <fstream>
#include <iterator>
#include <set>

#include "runtime/containers.h"
#include "runtime/screen.h"

namespace mapc {
namespace {

class TileSetParser {
 public:
  TileSetParser(const std::string& path, Diagnostics& diagnostics, TileSetSource* out)
      : path_(path), diagnostics_(diagnostics), out_(out) {}

  void line(const SourceLine& line) {
    line_ = line.number;
    const std::string& keyword = line.words[0].text;
    Arguments args;
    std::string problem;
    if (!splitArguments(line, 1, &args, &problem)) return fail(problem);
    if (keyword == "header") return header(args);
    if (keyword == "size") return size(args);
    if (keyword == "kind") return kind(args);
    if (keyword == "tile") return tile(args);
    if (keyword == "group") return group(args);
    fail("unknown keyword \"" + keyword + "\"");
  }

  void finish() {
    if (out_->tiles.empty()) diagnostics_.error(path_, 0, "no tiles");
  }

 private:
  void fail(const std::string& message) { diagnostics_.error(path_, line_, message); }

  bool text(const std::string& utf8, std::string* out) {
    if (toGameText(utf8, out)) return true;
    fail("\"" + utf8 + "\" has a character the game cannot show");
    return false;
  }

  void header(const Arguments& args) {
    if (args.plain.size() != 1 || !args.options.empty()) return fail("header takes one text");
    text(args.plain[0], &out_->header);
  }

  void size(const Arguments& args) {
    if (args.plain.size() != 2 || !parseInt(args.plain[0], 8, 1024, &out_->width) ||
        !parseInt(args.plain[1], 8, 1024, &out_->height)) {
      fail("size takes a width and a height of 8 to 1024 pixels");
    }
  }

  void kind(const Arguments& args) {
    TileSetFileKind kind;
    if (args.plain.size() != 3 || !parseInt(args.plain[1], INT32_MIN, INT32_MAX, &kind.value)) {
      return fail("kind takes a name, a number and a text");
    }
    if (!text(args.plain[0], &kind.name) || !text(args.plain[2], &kind.text)) return;
    if (kind.text.size() > kMapShortTextBytes) return fail("kind text longer than 64 bytes");
    for (const TileSetFileKind& k : out_->kinds) {
      if (k.name == kind.name) return fail("kind " + kind.name + " defined twice");
    }
    out_->kinds.push_back(kind);
  }

  // kind=, display= and terrain= of a tile or group.
  bool tileOptions(const Arguments& args, TileEntry* entry) {
    for (const auto& [key, value] : args.options) {
      int32_t number = 0;
      if (key == "kind") {
        if (!knownKind(value)) {
          fail("unknown kind " + value);
          return false;
        }
        entry->kind = value;
      } else if (key == "display" || key == "terrain") {
        if (!parseInt(value, INT16_MIN, INT16_MAX, &number)) {
          fail(key + " must be a number from -32768 to 32767");
          return false;
        }
        (key == "display" ? entry->display : entry->terrain) = static_cast<int16_t>(number);
      } else {
        fail("unknown option " + key);
        return false;
      }
    }
    return true;
  }

  bool knownKind(const std::string& name) const {
    for (const TileSetFileKind& k : out_->kinds) {
      if (k.name == name) return true;
    }
    return false;
  }

  bool freeName(const std::string& name) {
    if (name.empty() || name.find_first_of(":#|@ ") != std::string::npos) {
      fail("tile names may not be empty or hold \":\", \"#\", \"|\", \"@\" or spaces");
      return false;
    }
    if (out_->tileByName.count(name) || out_->groups.count(name)) {
      fail("name " + name + " used twice");
      return false;
    }
    return true;
  }

  bool addTile(TileEntry entry) {
    if (out_->tileByNumber.count(entry.number)) {
      fail("tile number " + std::to_string(entry.number) + " used twice");
      return false;
    }
    if (entry.picture.empty()) {
      fail("a tile needs a picture");
      return false;
    }
    out_->tileByNumber[entry.number] = out_->tiles.size();
    if (!entry.name.empty()) out_->tileByName[entry.name] = out_->tiles.size();
    out_->tiles.push_back(std::move(entry));
    return true;
  }

  void tile(const Arguments& args) {
    TileEntry entry;
    if (args.plain.size() != 3 || !parseInt(args.plain[0], INT32_MIN, INT32_MAX, &entry.number)) {
      return fail("tile takes a number, a name and a picture");
    }
    if (!freeName(args.plain[1]) || !text(args.plain[2], &entry.picture)) return;
    entry.name = args.plain[1];
    if (!tileOptions(args, &entry)) return;
    addTile(std::move(entry));
  }

  void group(const Arguments& args) {
    TileGroup group;
    if (args.plain.size() != 4 || !parseInt(args.plain[1], INT32_MIN, INT32_MAX - 256, &group.first) ||
        !parseInt(args.plain[2], 1, 256, &group.count)) {
      return fail("group takes a name, a first number, a count of 1 to 256 and a picture pattern");
    }
    const std::string& name = args.plain[0];
    std::string pattern;
    if (!freeName(name) || !text(args.plain[3], &pattern)) return;
    size_t hole = pattern.find("##");
    if (hole == std::string::npos) return fail("the picture pattern needs \"##\" for the index");
    TileEntry common;
    if (!tileOptions(args, &common)) return;
    for (int32_t i = 0; i < group.count; ++i) {
      TileEntry entry = common;
      entry.number = group.first + i;
      char index[16];
      snprintf(index, sizeof index, "%02d", static_cast<int>(i));
      entry.picture = pattern.substr(0, hole) + index + pattern.substr(hole + 2);
      if (!addTile(std::move(entry))) return;
    }
    out_->groups[name] = group;
  }

  std::string path_;
  Diagnostics& diagnostics_;
  TileSetSource* out_;
  int line_ = 0;
};

bool readPicture(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

bool parseTileSetSource(const std::string& path, Diagnostics& diagnostics, TileSetSource* out) {
  *out = TileSetSource{};
  out->path = path;
  std::vector<SourceLine> lines;
  if (!readSourceLines(path, &lines)) {
    diagnostics.error(path, 0, "cannot read");
    return false;
  }
  int before = diagnostics.errors();
  TileSetParser parser(path, diagnostics, out);
  for (SourceLine& line : lines) {
    std::string problem;
    if (!splitWords(line.raw, &line.words, &problem)) {
      diagnostics.error(path, line.number, problem);
      continue;
    }
    if (!line.words.empty()) parser.line(line);
  }
  parser.finish();
  return diagnostics.errors() == before;
}

bool buildTileSetFile(const TileSetSource& source, const std::string& pictureDir,
                      Diagnostics& diagnostics, TileSetFile* out) {
  *out = TileSetFile{};
  out->header = source.header;
  out->tileWidth = source.width;
  out->tileHeight = source.height;
  out->kinds = source.kinds;
  int before = diagnostics.errors();
  std::set<std::string> done;
  for (const TileEntry& tile : source.tiles) {
    out->tiles.push_back({tile.number, tile.picture, tile.kind, tile.display, tile.terrain});
    if (!done.insert(tile.picture).second) continue;
    TileSetFilePicture picture;
    picture.name = tile.picture;
    std::string file = pictureDir + "/" + rt::cp1252ToUtf8(tile.picture) + ".png";
    rt::Pixels pixels;
    if (!readPicture(file, &picture.bytes) ||
        !rt::decodePicture(picture.bytes.data(), picture.bytes.size(), &pixels)) {
      diagnostics.error(source.path, 0, "picture " + file + " is missing or unreadable");
      continue;
    }
    if (pixels.width != source.width || pixels.height != source.height) {
      diagnostics.error(source.path, 0, "picture " + file + " is not of the tile size");
      continue;
    }
    out->pictures.push_back(std::move(picture));
  }
  return diagnostics.errors() == before;
}

}  // namespace mapc
