#include "compose.h"

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "picture_io.h"
#include "pictures.h"

namespace art {
namespace {

struct DrawOptions {
  double angle = 0;
  bool tinted = false;
  unsigned tint = 0xFFFFFF;
  int alpha = 255;
  bool additive = false;
  int border = 0;
  bool clipped = false;
  double source[4] = {0, 0, 0, 0};
  bool templated = false;
  int frame = 0, frames = 1;
};

struct Scene {
  std::string folder;
  cairo_surface_t* canvas = nullptr;
  cairo_t* cr = nullptr;
  int line = 0;
};

bool parseColour(const std::string& text, unsigned* rgb) {
  if (text.size() != 6) return false;
  char* end = nullptr;
  unsigned long value = strtoul(text.c_str(), &end, 16);
  if (*end != '\0') return false;
  *rgb = static_cast<unsigned>(value);
  return true;
}

std::string substitute(const std::string& line, const std::map<std::string, std::string>& definitions, bool* ok) {
  std::string out;
  size_t at = 0;
  while (true) {
    size_t open = line.find("${", at);
    if (open == std::string::npos) break;
    size_t close = line.find('}', open);
    if (close == std::string::npos) {
      *ok = false;
      return line;
    }
    auto found = definitions.find(line.substr(open + 2, close - open - 2));
    if (found == definitions.end()) {
      *ok = false;
      return line;
    }
    out.append(line, at, open - at);
    out.append(found->second);
    at = close + 1;
  }
  out.append(line, at, std::string::npos);
  return out;
}

bool parseOption(const std::string& word, DrawOptions* o) {
  size_t equals = word.find('=');
  std::string key = word.substr(0, equals);
  std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
  if (key == "add") {
    o->additive = true;
    return true;
  }
  if (key == "angle") return sscanf(value.c_str(), "%lf", &o->angle) == 1;
  if (key == "tint") return (o->tinted = parseColour(value, &o->tint));
  if (key == "alpha") return sscanf(value.c_str(), "%d", &o->alpha) == 1 && o->alpha >= 0 && o->alpha <= 255;
  if (key == "nine") return sscanf(value.c_str(), "%d", &o->border) == 1 && o->border > 0;
  if (key == "frame") {
    o->templated = sscanf(value.c_str(), "%d/%d", &o->frame, &o->frames) == 2 && o->frames > 0;
    return o->templated;
  }
  if (key == "src") {
    double* s = o->source;
    o->clipped = sscanf(value.c_str(), "%lf,%lf,%lf,%lf", &s[0], &s[1], &s[2], &s[3]) == 4 && s[2] > 0 && s[3] > 0;
    return o->clipped;
  }
  return false;
}

// One piece of the picture (sx, sy, sw, sh) stretched over (dx, dy, dw, dh) of the current space.
void drawPiece(cairo_t* cr, cairo_surface_t* picture, double sx, double sy, double sw, double sh, double dx,
               double dy, double dw, double dh, const DrawOptions& o) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  cairo_save(cr);
  cairo_rectangle(cr, dx, dy, dw, dh);
  cairo_clip(cr);
  cairo_translate(cr, dx, dy);
  cairo_scale(cr, dw / sw, dh / sh);
  cairo_set_source_surface(cr, picture, -sx, -sy);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint_with_alpha(cr, o.alpha / 255.0);
  cairo_restore(cr);
}

void drawNine(cairo_t* cr, cairo_surface_t* picture, double w, double h, const DrawOptions& o) {
  double pw = cairo_image_surface_get_width(picture), ph = cairo_image_surface_get_height(picture);
  double b = o.border;
  double sx[4] = {0, b, pw - b, pw}, sy[4] = {0, b, ph - b, ph};
  double dx[4] = {0, b, w - b, w}, dy[4] = {0, b, h - b, h};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      drawPiece(cr, picture, sx[column], sy[row], sx[column + 1] - sx[column], sy[row + 1] - sy[row], dx[column],
                dy[row], dx[column + 1] - dx[column], dy[row + 1] - dy[row], o);
    }
  }
}

// A path, in double quotes when it holds spaces.
bool readPath(std::istringstream& words, std::string* path) {
  words >> std::ws;
  if (words.peek() != '"') return static_cast<bool>(words >> *path);
  words.get();
  return static_cast<bool>(std::getline(words, *path, '"')) && !path->empty();
}

bool drawCommand(Scene& scene, std::istringstream& words) {
  std::string path;
  double x, y, w, h;
  if (!readPath(words, &path) || !(words >> x >> y >> w >> h) || w <= 0 || h <= 0) return false;
  DrawOptions o;
  std::string word;
  while (words >> word) {
    if (!parseOption(word, &o)) {
      fprintf(stderr, "artgen: line %d: bad option %s\n", scene.line, word.c_str());
      return false;
    }
  }
  if (path.empty() || path[0] != '/') path = scene.folder + "/" + path;
  Variables variables = frameVariables(o.frame, o.frames);
  cairo_surface_t* picture = loadPicture(path, static_cast<int>(std::lround(w)), static_cast<int>(std::lround(h)),
                                         o.templated ? &variables : nullptr);
  if (!picture) return false;
  if (o.tinted) tintSurface(picture, o.tint);

  cairo_t* cr = scene.cr;
  cairo_save(cr);
  cairo_translate(cr, x + w / 2, y + h / 2);
  cairo_rotate(cr, o.angle * M_PI / 180);
  cairo_translate(cr, -w / 2, -h / 2);
  cairo_set_operator(cr, o.additive ? CAIRO_OPERATOR_ADD : CAIRO_OPERATOR_OVER);
  double pw = cairo_image_surface_get_width(picture), ph = cairo_image_surface_get_height(picture);
  if (o.border > 0) {
    drawNine(cr, picture, w, h, o);
  } else if (o.clipped) {
    drawPiece(cr, picture, o.source[0], o.source[1], o.source[2], o.source[3], 0, 0, w, h, o);
  } else {
    drawPiece(cr, picture, 0, 0, pw, ph, 0, 0, w, h, o);
  }
  cairo_restore(cr);
  cairo_surface_destroy(picture);
  return true;
}

bool rectCommand(Scene& scene, std::istringstream& words) {
  double x, y, w, h;
  std::string colour, word;
  unsigned rgb;
  if (!(words >> x >> y >> w >> h >> colour) || !parseColour(colour, &rgb)) return false;
  DrawOptions o;
  while (words >> word) {
    if (!parseOption(word, &o)) return false;
  }
  cairo_set_source_rgba(scene.cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0,
                        o.alpha / 255.0);
  cairo_rectangle(scene.cr, x, y, w, h);
  cairo_fill(scene.cr);
  return true;
}

bool canvasCommand(Scene& scene, std::istringstream& words) {
  int width, height;
  if (!(words >> width >> height) || width < 1 || height < 1 || width > 8192 || height > 8192) return false;
  scene.canvas = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  scene.cr = cairo_create(scene.canvas);
  std::string colour;
  unsigned rgb;
  if (words >> colour) {
    if (!parseColour(colour, &rgb)) return false;
    cairo_set_source_rgb(scene.cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
    cairo_paint(scene.cr);
  }
  return true;
}

bool runLine(Scene& scene, const std::string& line) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command)) return true;
  if (command == "canvas") {
    if (scene.canvas) return false;
    return canvasCommand(scene, words);
  }
  if (!scene.canvas) {
    fprintf(stderr, "artgen: line %d: the layout must start with canvas\n", scene.line);
    return false;
  }
  if (command == "draw") return drawCommand(scene, words);
  if (command == "rect") return rectCommand(scene, words);
  return false;
}

}  // namespace

bool composeScene(const std::string& layoutPath, const std::string& outputPath,
                  const std::map<std::string, std::string>& definitions) {
  std::string text;
  if (!readText(layoutPath, &text)) {
    fprintf(stderr, "artgen: cannot read %s\n", layoutPath.c_str());
    return false;
  }
  Scene scene;
  size_t slash = layoutPath.rfind('/');
  scene.folder = slash == std::string::npos ? "." : layoutPath.substr(0, slash);
  std::istringstream lines(text);
  std::string line;
  bool ok = true;
  while (ok && std::getline(lines, line)) {
    ++scene.line;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    bool known = true;
    line = substitute(line, definitions, &known);
    if (!known) {
      fprintf(stderr, "artgen: %s:%d: unknown ${...} name\n", layoutPath.c_str(), scene.line);
      ok = false;
    } else if (!runLine(scene, line)) {
      fprintf(stderr, "artgen: %s:%d: cannot do \"%s\"\n", layoutPath.c_str(), scene.line, line.c_str());
      ok = false;
    }
  }
  if (ok && !scene.canvas) {
    fprintf(stderr, "artgen: %s has no canvas\n", layoutPath.c_str());
    ok = false;
  }
  if (ok) ok = writePicture(scene.canvas, outputPath);
  if (scene.cr) cairo_destroy(scene.cr);
  if (scene.canvas) cairo_surface_destroy(scene.canvas);
  return ok;
}

}  // namespace art
