// synth: renders a sound or a piece of music from its score and encodes it as Ogg Vorbis, for
// the content build.
//
//   synth [--check] [--report] [--raw] [--solo INSTRUMENT] [--wav FILE.wav] SCORE [OUT.ogg]
//
// --check only reads the score; --report prints length, peak and loudness; --wav also writes
// 16-bit PCM for inspection; --raw leaves the mix at the gains the score gives it and
// --solo plays one instrument alone, so instruments can be weighed against each other.
// Exit status: 0 done, 1 the score is wrong, 2 usage or files.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/synth/dsp.h"
#include "tools/synth/encode.h"
#include "tools/synth/render.h"
#include "tools/synth/score.h"

namespace {

constexpr long kMaxScoreBytes = 1 << 20;

struct Options {
  bool check = false;
  bool report = false;
  bool raw = false;
  std::string wav;
  std::string solo;
  std::string score;
  std::string ogg;
};

bool readOptions(int argc, char** argv, Options* options) {
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--check") == 0) {
      options->check = true;
    } else if (strcmp(argv[i], "--report") == 0) {
      options->report = true;
    } else if (strcmp(argv[i], "--raw") == 0) {
      options->raw = true;
    } else if (strcmp(argv[i], "--wav") == 0 && i + 1 < argc) {
      options->wav = argv[++i];
    } else if (strcmp(argv[i], "--solo") == 0 && i + 1 < argc) {
      options->solo = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return false;
    } else {
      names.push_back(argv[i]);
    }
  }
  if (names.empty() || names.size() > 2) return false;
  options->score = names[0];
  if (names.size() == 2) options->ogg = names[1];
  return options->check || options->report || !options->ogg.empty() || !options->wav.empty();
}

bool readText(const std::string& path, std::string* text) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got;
  bool fits = true;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text->append(buffer, got);
    if (text->size() > kMaxScoreBytes) {
      fits = false;
      break;
    }
  }
  bool failed = ferror(file) != 0;
  fclose(file);
  if (!fits) fprintf(stderr, "synth: %s: larger than %ld bytes\n", path.c_str(), kMaxScoreBytes);
  return fits && !failed;
}

void report(const std::string& name, const synth::Rendered& sound) {
  size_t frames = sound.samples.size() / sound.channels;
  printf("%s: %.3f s (%zu frames), %d channel(s), peak %.2f dBFS, RMS %.2f dBFS, gain %.2f dB, "
         "limited %.2f dB\n",
         name.c_str(), static_cast<double>(frames) / sound.sampleRate, frames, sound.channels,
         synth::toDb(synth::peakOf(sound.samples)), synth::toDb(synth::rmsOf(sound.samples)),
         sound.gainDb, sound.limitedDb);
}

bool keepOnly(const std::string& instrument, synth::Score* score) {
  int index = -1;
  for (size_t i = 0; i < score->instruments.size(); ++i) {
    if (score->instruments[i].name == instrument) index = static_cast<int>(i);
  }
  if (index < 0) return false;
  std::erase_if(score->hits, [index](const synth::Hit& hit) { return hit.instrument != index; });
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!readOptions(argc, argv, &options)) {
    fprintf(stderr,
            "usage: synth [--check] [--report] [--raw] [--solo INSTRUMENT] [--wav FILE.wav] "
            "SCORE [OUT.ogg]\n");
    return 2;
  }
  std::string text;
  if (!readText(options.score, &text)) {
    fprintf(stderr, "synth: cannot read %s\n", options.score.c_str());
    return 2;
  }
  synth::Score score;
  std::string error;
  if (!synth::parseScore(text, options.score, &score, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (options.check) return 0;
  if (!options.solo.empty() && !keepOnly(options.solo, &score)) {
    fprintf(stderr, "synth: %s has no instrument '%s'\n", options.score.c_str(), options.solo.c_str());
    return 2;
  }

  synth::Rendered sound;
  synth::renderScore(score, &sound, !options.raw);
  if (options.report) report(options.score, sound);
  if (!options.wav.empty() && !synth::writeFileSafely(options.wav, synth::encodeWav(sound))) {
    fprintf(stderr, "synth: cannot write %s\n", options.wav.c_str());
    return 2;
  }
  if (options.ogg.empty()) return 0;
  std::vector<uint8_t> ogg;
  if (!synth::encodeOgg(sound, score.quality, &ogg)) {
    fprintf(stderr, "synth: the encoder refused %d channel(s) at %d Hz, quality %g\n",
            sound.channels, sound.sampleRate, score.quality);
    return 2;
  }
  if (!synth::writeFileSafely(options.ogg, ogg)) {
    fprintf(stderr, "synth: cannot write %s\n", options.ogg.c_str());
    return 2;
  }
  return 0;
}
