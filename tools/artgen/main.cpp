// artgen: the picture generator of the content build.
//
//   artgen frames TEMPLATE.svg OUTPREFIX COUNT WIDTH HEIGHT
//       renders frame i of COUNT to OUTPREFIX + two-digit i + ".png", filling the template's
//       {{expression}} holes with i, n = COUNT, p = i / COUNT and pi
//   artgen compose LAYOUT OUT.png|OUT.jpg [NAME=VALUE ...]
//       puts a picture together from a layout file (see compose.h)

#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "compose.h"
#include "expand.h"
#include "picture_io.h"
#include "pictures.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: artgen frames TEMPLATE.svg OUTPREFIX COUNT WIDTH HEIGHT\n"
          "       artgen compose LAYOUT OUT.png|OUT.jpg [NAME=VALUE ...]\n");
  return 2;
}

bool parseCount(const char* text, int low, int high, int* value) {
  char* end = nullptr;
  long parsed = strtol(text, &end, 10);
  if (*end != '\0' || parsed < low || parsed > high) return false;
  *value = static_cast<int>(parsed);
  return true;
}

int renderFrames(int argc, char** argv) {
  int count, width, height;
  if (argc != 7 || !parseCount(argv[4], 1, 99, &count) || !parseCount(argv[5], 1, 4096, &width) ||
      !parseCount(argv[6], 1, 4096, &height)) {
    return usage();
  }
  for (int i = 0; i < count; ++i) {
    art::Variables variables = art::frameVariables(i, count);
    cairo_surface_t* frame = art::renderSvg(argv[2], width, height, &variables);
    if (!frame) return 1;
    char name[16];
    snprintf(name, sizeof name, "%02d.png", i);
    bool written = art::writePicture(frame, std::string(argv[3]) + name);
    cairo_surface_destroy(frame);
    if (!written) return 1;
  }
  return 0;
}

int composePicture(int argc, char** argv) {
  if (argc < 4) return usage();
  std::map<std::string, std::string> definitions;
  for (int i = 4; i < argc; ++i) {
    std::string pair = argv[i];
    size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) return usage();
    definitions[pair.substr(0, equals)] = pair.substr(equals + 1);
  }
  return art::composeScene(argv[2], argv[3], definitions) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string command = argv[1];
  if (command == "frames") return renderFrames(argc, argv);
  if (command == "compose") return composePicture(argc, argv);
  return usage();
}
