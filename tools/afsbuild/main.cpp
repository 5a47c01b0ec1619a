// afsbuild: packages picture files into a frame-animation file, or lists one, for the content
// build.
//
//   afsbuild [--duration MS] OUT.afs WIDTH HEIGHT FRAME[:MS] ...
//   afsbuild --list IN.afs
//
// WIDTH and HEIGHT are the size every frame is displayed at. Each frame is a PNG, JPEG or BMP
// file shown for MS milliseconds (the --duration value, 80 unless given). Every picture must
// decode, so that a broken frame is found here and not in the game.
// Exit status: 0 done, 1 failure, 2 wrong usage.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "render/animation_file.h"
#include "runtime/files.h"
#include "runtime/screen.h"

namespace {

constexpr int64_t kMaxFrameFileSize = 64 << 20;
constexpr int64_t kMaxAnimationFileSize = int64_t{0xFFFFFFFF};

struct FrameArgument {
  std::string path;
  uint32_t duration = 0;
};

struct Options {
  bool list = false;
  uint32_t duration = 80;
  std::vector<std::string> positional;
};

int usage() {
  fprintf(stderr,
          "usage: afsbuild [--duration MS] OUT.afs WIDTH HEIGHT FRAME[:MS] ...\n"
          "       afsbuild --list IN.afs\n");
  return 2;
}

// A whole decimal number that fits 32 bits; nothing else.
bool parseNumber(const std::string& text, uint32_t* out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// "walk:120" is walk for 120 ms; a colon not followed by digits belongs to the file name.
FrameArgument parseFrameArgument(const std::string& text, uint32_t defaultDuration) {
  FrameArgument frame{text, defaultDuration};
  size_t colon = text.rfind(':');
  uint32_t duration = 0;
  if (colon != std::string::npos && colon > 0 && parseNumber(text.substr(colon + 1), &duration)) {
    frame.path = text.substr(0, colon);
    frame.duration = duration;
  }
  return frame;
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--list") {
      options->list = true;
    } else if (arg == "--duration") {
      if (i + 1 >= argc || !parseNumber(argv[i + 1], &options->duration)) return false;
      ++i;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;  // no option of ours, and no size or file name starts with one
    } else {
      options->positional.push_back(arg);
    }
  }
  if (options->list) return options->positional.size() == 1;
  return options->positional.size() >= 4;
}

// The file services take game paths; an absolute native path passes through them unchanged.
std::string absolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.string();
}

bool readFile(const std::string& path, int64_t maxBytes, std::vector<uint8_t>* out) {
  if (rt::readWholeFile(absolutePath(path), out, maxBytes)) return true;
  fprintf(stderr, "afsbuild: cannot read %s\n", path.c_str());
  return false;
}

const char* pictureKind(const uint8_t* image, size_t length) {
  if (length >= 2 && image[0] == 0x89 && image[1] == 'P') return "PNG";
  if (length >= 2 && image[0] == 0xFF && image[1] == 0xD8) return "JPEG";
  if (length >= 2 && image[0] == 'B' && image[1] == 'M') return "BMP";
  return "unknown";
}

int build(const Options& options) {
  AnimationFile file;
  if (!parseNumber(options.positional[1], &file.width) ||
      !parseNumber(options.positional[2], &file.height) || file.width == 0 || file.height == 0) {
    fprintf(stderr, "afsbuild: WIDTH and HEIGHT must be positive whole numbers\n");
    return 2;
  }
  for (size_t i = 3; i < options.positional.size(); ++i) {
    FrameArgument argument = parseFrameArgument(options.positional[i], options.duration);
    AnimationFileFrame frame;
    frame.duration = argument.duration;
    if (!readFile(argument.path, kMaxFrameFileSize, &frame.image)) return 1;
    rt::Pixels pixels;
    if (!rt::decodePicture(frame.image.data(), frame.image.size(), &pixels)) {
      fprintf(stderr, "afsbuild: %s is not a picture the game can decode\n", argument.path.c_str());
      return 1;
    }
    file.frames.push_back(std::move(frame));
  }
  std::vector<uint8_t> bytes;
  if (!WriteAnimationFile(file, &bytes)) {
    fprintf(stderr, "afsbuild: the frames do not fit one animation file\n");
    return 1;
  }
  const std::string& out = options.positional[0];
  if (!rt::writeFileAtomically(absolutePath(out), bytes.data(), bytes.size())) {
    fprintf(stderr, "afsbuild: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

int list(const Options& options) {
  const std::string& path = options.positional[0];
  std::vector<uint8_t> bytes;
  if (!readFile(path, kMaxAnimationFileSize, &bytes)) return 1;
  AnimationFileView view;
  AnimationFileError error = ParseAnimationFile(bytes.data(), bytes.size(), -1, &view);
  if (error != kAnimationFileOk) {
    fprintf(stderr, "afsbuild: %s: %s\n", path.c_str(), AnimationFileErrorText(error));
    return 1;
  }
  uint64_t loop = 0;
  for (const AnimationFrameView& frame : view.frames) loop += frame.duration;
  printf("%s: %u x %u, %zu frames, loop %llu ms\n", path.c_str(), view.width, view.height,
         view.frames.size(), static_cast<unsigned long long>(loop));
  bool allDecode = true;
  for (size_t i = 0; i < view.frames.size(); ++i) {
    const AnimationFrameView& frame = view.frames[i];
    rt::Pixels pixels;
    bool decodes = rt::decodePicture(frame.image, frame.imageLength, &pixels);
    allDecode = allDecode && decodes;
    printf("frame %zu: %u ms, %zu bytes, %s", i, frame.duration, frame.imageLength,
           pictureKind(frame.image, frame.imageLength));
    if (decodes) {
      printf(" %d x %d\n", pixels.width, pixels.height);
    } else {
      printf(", does not decode\n");
    }
  }
  return allDecode ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) return usage();
  return options.list ? list(options) : build(options);
}
