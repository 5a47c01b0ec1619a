// The score: what one sound or piece is made of, as read from its text source.
//
// A source holds settings (channels, tempo, length, loop, levels, room), instruments made of
// layers, note patterns and drum grids, and either a song that arranges the patterns or single
// hits placed in seconds. The parser resolves all of it into a flat list of hits.
#pragma once

#include <string>
#include <vector>

namespace synth {

enum class Wave { Sine, Triangle, Saw, Square, Pulse, Noise, Crackle };
enum class FilterKind { None, Lowpass, Highpass, Bandpass };
enum class LoopMode { None, Wrap, Crossfade };

// Breakpoints over the seconds since a note began. A curved point is reached along a fast-then-
// slow bend instead of a straight line; log curves (frequencies) move in octaves, not hertz.
struct CurvePoint {
  double time = 0;
  double value = 0;
  bool curved = false;
};
struct Curve {
  std::vector<CurvePoint> points;  // empty: not given
  bool logScale = false;
};
bool curveGiven(const Curve& curve);
double curveValue(const Curve& curve, double time);
double curveEnd(const Curve& curve);
double curveLastValue(const Curve& curve);

struct Adsr {
  double attack = 0.002;
  double decay = 0;
  double sustain = 1;
  double release = 0.005;
};

struct Layer {
  Wave wave = Wave::Sine;
  double levelDb = 0;
  double transpose = 0;    // semitones
  double detuneCents = 0;
  int unison = 1;
  double unisonCents = 0;  // spread of the unison voices, end to end
  Curve pitch;             // hertz; given, the note's own pitch is ignored (drums, effects)
  Curve bend;              // semitones added to the pitch
  double vibratoRate = 0;
  double vibratoCents = 0;
  double vibratoDelay = 0;
  bool hasAdsr = false;
  Adsr adsr;
  Curve amp;               // ending at 0 it makes the layer one-shot: the note length is ignored
  FilterKind filter = FilterKind::None;
  Curve cutoff;            // hertz
  double resonance = 0;    // 0..1
  double keytrack = 0;     // the cutoff follows the note by this power of its pitch ratio to C4
  double drive = 0;
  double fmRatio = 0;
  Curve fmIndex;
  double pulseWidth = 0.5;
  Curve density;           // crackle events per second
  double flutterRate = 0;  // slow random wobble of the level
  double flutterDepth = 0;
};

struct Instrument {
  std::string name;
  std::vector<Layer> layers;
  double volumeDb = 0;
  double pan = 0;          // -1 left .. 1 right
  double width = 0;        // how far the unison voices spread across the stereo field
  double reverbSend = 0;
  double echoSend = 0;
};

// One note of one instrument, in seconds.
struct Hit {
  int instrument = 0;
  double start = 0;
  double duration = 0;
  double midi = 60;
  double velocity = 1;
};

struct Score {
  int channels = 1;
  int sampleRate = 44100;
  double tempo = 120;
  double lengthSeconds = 0;
  LoopMode loop = LoopMode::None;
  double crossfadeSeconds = 0;
  double peakDb = -1;
  bool hasLoudness = false;
  double loudnessDb = -16;  // RMS the mix is brought to; the limiter then takes a little back
  double quality = 0.5;     // Vorbis quality -0.1..1
  unsigned seed = 1;
  double reverbRoom = 0.8;
  double reverbDamp = 0.4;
  double echoBeats = 0.75;
  double echoFeedback = 0.35;
  std::vector<Instrument> instruments;
  std::vector<Hit> hits;
};

// Parses a source; on failure fills *error with "NAME:LINE: what is wrong" and returns false.
bool parseScore(const std::string& text, const std::string& name, Score* out, std::string* error);

// The MIDI number of a note name such as "C4", "F#3" or "Bb2" (A4 = 69); -1 if it is none.
int noteNumber(const std::string& name);

}  // namespace synth
