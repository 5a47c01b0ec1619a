// fontbuild: renders a TrueType font into a .tf typeface (glyph atlas, metrics, kerning pairs)
// for the content build.
//
//   fontbuild [--fallback OTHER.ttf] FONT.ttf PIXELS OUT.tf [PREVIEW.png]
//
// PIXELS is the size of an em. Every printable Windows-1252 character is included; those FONT
// lacks come from OTHER, at the same size, and are listed. A character in neither is an error.
// The preview shows the atlas and a few sample lines laid out with the written records.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/containers.h"
#include "runtime/files.h"
#include "tools/fontbuild/fontbuild.h"

namespace {

constexpr int kPadding = 2;

// UTF-8, turned into Windows-1252 before they are laid out.
const char* const kSamples[] = {
    "Spiel erstellen  Optionen  Beenden",
    "Größe Änderung Übernehmen Straße Münze été",
    "AVATAR Tw Ty Wo Yo LT P. F, \"Fuse\" 0123456789 -> [x]",
    "€ „Zitat“ © ± ½ • ™ |",
};

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (rt::writeFileAtomically(path, bytes.data(), bytes.size())) return true;
  fprintf(stderr, "fontbuild: cannot write %s\n", path.c_str());
  return false;
}

bool writePng(const std::string& path, const rt::Pixels& pixels, std::vector<uint8_t>* png) {
  if (!rt::encodePng(pixels, png)) {
    fprintf(stderr, "fontbuild: cannot encode %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string fallback;
  if (argc > 2 && std::string(argv[1]) == "--fallback") {
    fallback = argv[2];
    argc -= 2;
    argv += 2;
  }
  if (argc != 4 && argc != 5) {
    fprintf(stderr,
            "usage: fontbuild [--fallback OTHER.ttf] FONT.ttf PIXELS OUT.tf [PREVIEW.png]\n");
    return 2;
  }
  const int pixels = atoi(argv[2]);
  if (pixels < 4 || pixels > 200) {
    fprintf(stderr, "fontbuild: bad size %s\n", argv[2]);
    return 2;
  }
  RenderedFont font;
  std::string error;
  if (!RenderFont(argv[1], fallback, pixels, &font, &error)) {
    fprintf(stderr, "fontbuild: %s\n", error.c_str());
    return 1;
  }
  const rt::Pixels atlas = PackAtlas(&font, kPadding);
  TypefaceFile records = TypefaceRecords(font);
  std::vector<uint8_t> png;
  if (!writePng(argv[3], atlas, &png)) return 1;
  records.picture = png;
  const std::vector<uint8_t> tf = WriteTypefaceFile(records);
  TypefaceFile check;
  if (ParseTypefaceFile(tf, &check) != kTypefaceParsed) {
    fprintf(stderr, "fontbuild: the written typeface does not read back\n");
    return 1;
  }
  if (!writeFile(argv[3], tf)) return 1;
  printf("fontbuild: %s: %zu glyphs, %zu kerning pairs, atlas %dx%d\n", argv[3],
         records.glyphs.size(), records.kerning.size(), atlas.width, atlas.height);
  if (!font.fromFallback.empty()) {
    std::string codes;
    for (uint8_t code : font.fromFallback) {
      char hex[8];
      snprintf(hex, sizeof hex, " 0x%02X ", code);
      codes += hex + rt::cp1252ToUtf8(std::string(1, static_cast<char>(code)));
    }
    printf("fontbuild: %s: from %s:%s\n", argv[3], fallback.c_str(), codes.c_str());
  }
  if (argc < 5) return 0;

  std::vector<std::string> samples;
  for (const char* s : kSamples) samples.push_back(rt::utf8ToCp1252(s));
  std::vector<uint8_t> preview;
  if (!writePng(argv[4], PreviewPicture(font, atlas, samples), &preview)) return 1;
  return writeFile(argv[4], preview) ? 0 : 1;
}
