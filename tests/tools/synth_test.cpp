// The sound synthesiser: its score reader, its loops and its encoder, run as the build runs it,
// with what it writes read back through the game's own decoders.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/sound.h"
#include "support/test_support.h"

namespace {

std::string synthTool() { return test::binaryDir() + "/tools/synth/synth"; }
std::string stagedSound(const std::string& entry) {
  return test::binaryDir() + "/content-stage/Sounds/" + entry;
}

// Runs the tool on a score written into dir; returns its exit status and what it printed.
int runSynth(const test::TempDir& dir, const std::string& score, const std::string& arguments,
             std::string* output) {
  test::writeFile(dir.file("test.score"), score);
  std::string command = "ASAN_OPTIONS=detect_leaks=0 " + synthTool() + " " + arguments + " " +
                        dir.file("test.score") + " 2>&1";
  return test::runCommand(command, output);
}

bool decodeFile(const std::string& path, rt::Pcm* pcm) {
  std::string bytes = test::readFile(path);
  if (bytes.rfind("RIFF", 0) == 0) return rt::decodeWav(bytes.data(), bytes.size(), pcm);
  return rt::decodeOgg(bytes.data(), bytes.size(), pcm);
}

std::vector<int> channelOf(const rt::Pcm& pcm, int channel) {
  std::vector<int> samples;
  for (size_t i = channel; i < pcm.samples.size(); i += pcm.channels) samples.push_back(pcm.samples[i]);
  return samples;
}

// The step from the last sample round to the first, against the largest step among the
// samples on either side: a click is a step the music around it never makes.
double seamStepRatio(const std::vector<int>& s, size_t around = 64) {
  size_t n = s.size();
  int largest = 1;
  for (size_t i = 0; i + 1 < around; ++i) {
    largest = std::max(largest, std::abs(s[i + 1] - s[i]));
    largest = std::max(largest, std::abs(s[n - 1 - i] - s[n - 2 - i]));
  }
  return static_cast<double>(std::abs(s[0] - s[n - 1])) / largest;
}

int peakOf(const rt::Pcm& pcm) {
  int peak = 0;
  for (int16_t s : pcm.samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak;
}

double dbfs(int level) { return 20 * std::log10(level / 32768.0); }

// ---- The score reader ----------------------------------------------------------------------

const char kInstrument[] =
    "channels 1\n"                 // 1
    "length 2 seconds\n"           // 2
    "instrument tone\n"            // 3
    "  layer sine\n"               // 4
    "end\n";                       // 5

struct BadScore {
  const char* text;  // follows kInstrument
  int line;
  const char* says;
};

TEST(SynthScore, RejectsMistakesWithTheirLine) {
  const BadScore cases[] = {
      {"pattern p\n  C4 H4:1\nend\n", 7, "'H4' is not a note"},
      {"pattern p\n  C4:0\nend\n", 7, "duration"},
      {"volume 3\n", 6, "unknown setting 'volume'"},
      {"instrument other\n  layer sine\n    resonance 2\nend\n", 8, "resonance 2 is outside"},
      {"instrument other\n  layer sine\n    amp 0 0.1\nend\n", 8, "VALUE [TIME VALUE]"},
      {"instrument other\n  layer sine\n", 6, "no 'end'"},
      {"instrument other\n  layer sine\ninstrument third\n", 8, "close that one"},
      {"pattern g steps 4 beats 4\n  tone x.x\nend\n", 7, "3 steps, the grid 4"},
      {"pattern g steps 4 beats 4\n  drum x.x.\nend\n", 7, "unknown instrument 'drum'"},
      {"song\n  tone: missing\nend\n", 7, "unknown pattern 'missing'"},
      {"pattern p\n  C4:1\nend\nsong\n  tone: p*100000\nend\n", 10, "repeat"},
      {"pattern p\n  C4:1\nend\nsong\n  tone: p*5\nend\n", 10, "past the length"},
      {"pattern p\n  C4:1\nend\nsong\n  melody: p\nend\n", 10, "names no instrument"},
      {"hit tone at 2.5\n", 6, "at or after the end"},
      {"hit tone at 0 vel\n", 6, "wants a value"},
  };
  test::TempDir dir;
  for (const BadScore& bad : cases) {
    std::string output;
    int status = runSynth(dir, std::string(kInstrument) + bad.text, "--check", &output);
    std::string where = dir.file("test.score") + ":" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(status, 1) << bad.text;
    EXPECT_EQ(output.rfind(where, 0), 0u) << bad.text << "\n" << output;
    EXPECT_NE(output.find(bad.says), std::string::npos) << bad.text << "\n" << output;
  }
}

TEST(SynthScore, ReadsSharpsCommentsAndCarriageReturns) {
  test::TempDir dir;
  std::string output;
  std::string score = std::string(kInstrument) +
                      "# a comment line\r\n"
                      "pattern p   # after a pattern\r\n"
                      "  C#4:1/2 Bb3+F4:1/2@0.5 r:1\r\n"
                      "end\r\n"
                      "song\r\n"
                      "  tone: p\r\n"
                      "end\r\n";
  EXPECT_EQ(runSynth(dir, score, "--check", &output), 0) << output;
}

TEST(SynthScore, ShrugsOffGarbage) {
  test::TempDir dir;
  std::string garbage;
  srand(7);
  for (int i = 0; i < 4000; ++i) garbage += static_cast<char>(rand() % 256);
  std::string output;
  EXPECT_EQ(runSynth(dir, garbage, "--check", &output), 1) << output;
  EXPECT_EQ(runSynth(dir, "", "--check", &output), 1) << output;
  EXPECT_NE(output.find("no 'length'"), std::string::npos) << output;
  std::string fractions = "tempo 1";
  for (int i = 0; i < 100000; ++i) fractions += "/1";
  EXPECT_EQ(runSynth(dir, fractions, "--check", &output), 1);
  EXPECT_EQ(output.rfind(dir.file("test.score") + ":1: tempo", 0), 0u);
}

// ---- The sequencer -------------------------------------------------------------------------

double rmsBetween(const std::vector<int>& s, double from, double to) {
  size_t a = static_cast<size_t>(from * 44100), b = static_cast<size_t>(to * 44100);
  double sum = 0;
  for (size_t i = a; i < b; ++i) sum += double(s[i]) * s[i];
  return std::sqrt(sum / (b - a));
}

// Rising zero crossings a second: the pitch of a plain sine.
double hertzBetween(const std::vector<int>& s, double from, double to) {
  size_t a = static_cast<size_t>(from * 44100), b = static_cast<size_t>(to * 44100);
  int rises = 0;
  for (size_t i = a + 1; i < b; ++i) rises += s[i - 1] < 0 && s[i] >= 0;
  return rises / (to - from);
}

TEST(SynthSequence, PlacesNotesWhereTheSongSays) {
  // At 60 beats a minute a beat is a second.
  std::string score =
      "channels 1\n"
      "tempo 60\n"
      "length 8 beats\n"
      "instrument tone\n"
      "  layer sine\n"
      "    adsr 0.005 0 1 0.01\n"
      "end\n"
      "instrument tick\n"
      "  layer noise\n"
      "    amp 0 0.001 1 0.05 0\n"
      "end\n"
      "pattern p\n"
      "  A4:1/2 r:1/2\n"
      "end\n"
      "pattern g steps 4 beats 2\n"
      "  tick .x.x\n"
      "end\n"
      "song\n"
      "  tone: p r:1 p+12 @6 p*2\n"
      "  ticks: @3 g\n"
      "end\n";
  test::TempDir dir;
  std::string output;
  ASSERT_EQ(runSynth(dir, score, "--wav " + dir.file("s.wav"), &output), 0) << output;
  rt::Pcm pcm;
  ASSERT_TRUE(decodeFile(dir.file("s.wav"), &pcm));
  std::vector<int> s = channelOf(pcm, 0);
  ASSERT_EQ(s.size(), 8u * 44100);
  struct Span {
    double from, to;
    bool sounds;
  };
  const Span spans[] = {{0.05, 0.45, true},  {0.6, 1.95, false}, {2.05, 2.45, true},
                        {2.6, 3.45, false},  {3.5, 3.56, true},  {3.6, 3.95, false},
                        {4.5, 4.56, true},   {4.6, 5.95, false}, {6.05, 6.45, true},
                        {6.6, 6.95, false},  {7.05, 7.45, true}, {7.6, 8.0, false}};
  for (const Span& span : spans) {
    double level = rmsBetween(s, span.from, span.to);
    if (span.sounds) EXPECT_GT(level, 1000) << span.from;
    else EXPECT_LT(level, 30) << span.from;
  }
  EXPECT_NEAR(hertzBetween(s, 0.05, 0.45), 440, 10);
  EXPECT_NEAR(hertzBetween(s, 2.05, 2.45), 880, 10);  // transposed an octave up
  EXPECT_NEAR(hertzBetween(s, 7.05, 7.45), 440, 10);
}

TEST(SynthLevel, HoldsPeaksUnderTheCeilingAtAnyLoudness) {
  // Hard clicks asked to be loud: only the limiter stands between them and clipping.
  std::string score =
      "channels 2\n"
      "tempo 120\n"
      "length 8 beats\n"
      "loop wrap\n"
      "peak -3\n"
      "loudness -9\n"
      "instrument knock\n"
      "  layer sine\n"
      "    pitch 120 0.2 50\n"
      "    amp 0 0.0005 1 ~0.3 0\n"
      "end\n"
      "pattern beat steps 8 beats 4\n"
      "  knock X.x.X.xx\n"
      "end\n"
      "song\n"
      "  drums: beat*2\n"
      "end\n";
  test::TempDir dir;
  std::string output;
  ASSERT_EQ(runSynth(dir, score, "--wav " + dir.file("l.wav"), &output), 0) << output;
  rt::Pcm pcm;
  ASSERT_TRUE(decodeFile(dir.file("l.wav"), &pcm));
  EXPECT_LE(dbfs(peakOf(pcm)), -2.99);
  double sum = 0;
  for (int16_t v : pcm.samples) sum += double(v) * v;
  double rms = 20 * std::log10(std::sqrt(sum / pcm.samples.size()) / 32768);
  EXPECT_GT(rms, -15) << "the limiter took the loudness away";
}

// ---- Loops ---------------------------------------------------------------------------------

// A tone whose last note rings on past the end: folded back, its tail carries the start.
const char kWrappedLoop[] =
    "channels 2\n"
    "tempo 120\n"
    "length 8 beats\n"
    "loop wrap\n"
    "peak -3\n"
    "reverb 0.8 0.3\n"
    "instrument tone\n"
    "  reverb 0.5\n"
    "  layer sine\n"
    "    adsr 0.01 0.1 0.8 1.5\n"
    "end\n"
    "pattern p\n"
    "  r:6 A3:2\n"
    "end\n"
    "song\n"
    "  tone: p\n"
    "end\n";

TEST(SynthLoop, WrapsTheTailOntoTheStart) {
  test::TempDir dir;
  std::string output;
  ASSERT_EQ(runSynth(dir, kWrappedLoop, "--wav " + dir.file("loop.wav"), &output), 0) << output;
  rt::Pcm pcm;
  ASSERT_TRUE(decodeFile(dir.file("loop.wav"), &pcm));
  ASSERT_EQ(pcm.samples.size(), 4u * 44100 * 2);
  for (int channel = 0; channel < 2; ++channel) {
    std::vector<int> s = channelOf(pcm, channel);
    // The note is released right at the end; unwrapped, the start would be silent.
    EXPECT_GT(std::abs(s[0]) + std::abs(s[1]) + std::abs(s[2]), 1000);
    EXPECT_LT(seamStepRatio(s), 1.5);
  }
}

TEST(SynthLoop, CrossfadesTheOverhangIntoTheStart) {
  // A steady tone whose period does not divide the loop: cut plainly, the seam would jump.
  std::string score =
      "channels 1\n"
      "length 0.5 seconds\n"
      "loop crossfade 0.1\n"
      "instrument tone\n"
      "  layer sine\n"
      "end\n"
      "hit tone B4 at 0\n";
  test::TempDir dir;
  std::string output;
  ASSERT_EQ(runSynth(dir, score, "--wav " + dir.file("loop.wav"), &output), 0) << output;
  rt::Pcm pcm;
  ASSERT_TRUE(decodeFile(dir.file("loop.wav"), &pcm));
  ASSERT_EQ(pcm.samples.size(), 22050u);
  EXPECT_LT(seamStepRatio(channelOf(pcm, 0)), 1.2);
}

TEST(SynthLoop, ShippedLoopsHaveNoClick) {
  for (const char* entry : {"Fuze.ogg", "Music/Menu.ogg", "Music/Game.ogg"}) {
    rt::Pcm pcm;
    ASSERT_TRUE(decodeFile(stagedSound(entry), &pcm)) << entry;
    for (int channel = 0; channel < pcm.channels; ++channel) {
      EXPECT_LT(seamStepRatio(channelOf(pcm, channel)), 1.5) << entry << " channel " << channel;
    }
  }
}

// ---- Encoding ------------------------------------------------------------------------------

TEST(SynthEncode, OggMatchesTheRenderingSampleForSample) {
  test::TempDir dir;
  std::string output;
  ASSERT_EQ(runSynth(dir, kWrappedLoop, "--wav " + dir.file("a.wav") + " --report", &output), 0)
      << output;
  ASSERT_EQ(runSynth(dir, kWrappedLoop, "", nullptr), 2);  // nothing to write is a usage error
  test::writeFile(dir.file("test.score"), kWrappedLoop);
  std::string command = "ASAN_OPTIONS=detect_leaks=0 " + synthTool() + " " +
                        dir.file("test.score") + " " + dir.file("a.ogg") + " 2>&1";
  ASSERT_EQ(test::runCommand(command, &output), 0) << output;
  rt::Pcm wav, ogg;
  ASSERT_TRUE(decodeFile(dir.file("a.wav"), &wav));
  ASSERT_TRUE(decodeFile(dir.file("a.ogg"), &ogg));
  EXPECT_EQ(ogg.channels, 2);
  EXPECT_EQ(ogg.sampleRate, 44100);
  // A loop must come back exactly as long as it went in, or it would gain a gap or lose a tick.
  ASSERT_EQ(ogg.samples.size(), wav.samples.size());
  double error = 0, signal = 0;
  for (size_t i = 0; i < wav.samples.size(); ++i) {
    double d = wav.samples[i] - ogg.samples[i];
    error += d * d;
    signal += double(wav.samples[i]) * wav.samples[i];
  }
  EXPECT_LT(10 * std::log10(error / signal), -20) << "the coded sound strays from the rendering";

  // The same score always encodes to the same bytes.
  ASSERT_EQ(test::runCommand(command, &output), 0) << output;
  std::string first = test::readFile(dir.file("a.ogg"));
  ASSERT_EQ(test::runCommand(command, &output), 0) << output;
  EXPECT_EQ(test::readFile(dir.file("a.ogg")), first);
}

struct Shipped {
  const char* entry;
  int channels;
  double shortest, longest;  // seconds
  double quietestPeak;       // dBFS
};

TEST(SynthEncode, ShippedSoundsDecodeWithoutClipping) {
  const Shipped sounds[] = {
      {"Fuze.ogg", 1, 1, 2, -12},         {"Explosion.ogg", 1, 1.5, 3, -2},
      {"Item.ogg", 1, 0.2, 1.5, -6},      {"Step.ogg", 1, 0.1, 0.6, -12},
      {"Chat.ogg", 1, 0.2, 1.5, -10},     {"Music/Menu.ogg", 2, 50, 70, -4},
      {"Music/Game.ogg", 2, 60, 120, -4},
  };
  for (const Shipped& sound : sounds) {
    rt::Pcm pcm;
    ASSERT_TRUE(decodeFile(stagedSound(sound.entry), &pcm)) << sound.entry;
    EXPECT_EQ(pcm.channels, sound.channels) << sound.entry;
    EXPECT_EQ(pcm.sampleRate, 44100) << sound.entry;
    double seconds = static_cast<double>(pcm.samples.size()) / pcm.channels / pcm.sampleRate;
    EXPECT_GE(seconds, sound.shortest) << sound.entry;
    EXPECT_LE(seconds, sound.longest) << sound.entry;
    int peak = peakOf(pcm);
    EXPECT_LT(peak, 32767) << sound.entry << " clips";
    EXPECT_GT(dbfs(peak), sound.quietestPeak) << sound.entry;
  }
}

}  // namespace
