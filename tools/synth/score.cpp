#include "tools/synth/score.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace synth {

// ---- Curves --------------------------------------------------------------------------------

bool curveGiven(const Curve& curve) { return !curve.points.empty(); }

double curveEnd(const Curve& curve) {
  return curve.points.empty() ? 0 : curve.points.back().time;
}

double curveLastValue(const Curve& curve) {
  return curve.points.empty() ? 0 : curve.points.back().value;
}

namespace {

// How sharply a curved segment bends: it covers about 80% of its way in the first third.
constexpr double kBend = 5.0;

double shapeProgress(double p, bool curved) {
  if (!curved) return p;
  return (1 - std::exp(-kBend * p)) / (1 - std::exp(-kBend));
}

double mix(double a, double b, double p, bool logScale) {
  if (logScale && a > 0 && b > 0) return a * std::pow(b / a, p);
  return a + (b - a) * p;
}

}  // namespace

double curveValue(const Curve& curve, double time) {
  const std::vector<CurvePoint>& points = curve.points;
  if (points.empty()) return 0;
  if (time <= points.front().time) return points.front().value;
  for (size_t i = 1; i < points.size(); ++i) {
    const CurvePoint& b = points[i];
    if (time >= b.time) continue;
    const CurvePoint& a = points[i - 1];
    double p = (time - a.time) / (b.time - a.time);
    return mix(a.value, b.value, shapeProgress(p, b.curved), curve.logScale);
  }
  return points.back().value;
}

// ---- Note names ----------------------------------------------------------------------------

int noteNumber(const std::string& name) {
  static const int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (name.size() < 2 || name[0] < 'A' || name[0] > 'G') return -1;
  int pitch = kSteps[name[0] - 'A'];
  size_t pos = 1;
  if (name[pos] == '#') {
    ++pitch;
    ++pos;
  } else if (name[pos] == 'b') {
    --pitch;
    ++pos;
  }
  std::string octaveText = name.substr(pos);
  if (octaveText.empty() || octaveText.size() > 2) return -1;
  char* end = nullptr;
  long octave = strtol(octaveText.c_str(), &end, 10);
  if (*end != '\0' || octave < -1 || octave > 9) return -1;
  int number = static_cast<int>((octave + 1) * 12) + pitch;
  return number >= 0 && number <= 127 ? number : -1;
}

namespace {

// ---- Limits that keep a mistaken source from asking for the moon ----------------------------

constexpr double kMaxSeconds = 300;
constexpr size_t kMaxHits = 200000;
constexpr size_t kMaxCurvePoints = 64;
constexpr size_t kMaxPatternNotes = 10000;
constexpr long kMaxRepeat = 256;
constexpr int kMaxUnison = 16;
constexpr int kMaxGridSteps = 256;
constexpr double kMaxHertz = 22000;

struct PatternNote {
  double beat = 0;
  double beats = 0;
  int midi = 60;
  double velocity = 1;
  int instrument = -1;  // grids name their own; -1: the track's instrument
};

struct Pattern {
  bool grid = false;
  double lengthBeats = 0;
  bool lengthGiven = false;
  int steps = 0;
  double defaultBeats = 1;
  std::vector<PatternNote> notes;
};

enum class Block { None, Instrument, Pattern, Song };

struct Track {
  double beat = 0;
  int line = 0;
};

struct PendingHit {
  Hit hit;
  int line = 0;
  bool toEnd = false;  // lasts until the end of the sound
};

// A "#" that starts a word begins a comment; inside a word it is a sharp (C#4).
std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    size_t start = pos;
    while (pos < text.size() && !isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos == start) break;
    if (text[start] == '#') break;
    words.push_back(text.substr(start, pos - start));
  }
  return words;
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  if (!isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
  });
}

bool readPlainNumber(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  double value = strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

// A plain number or a fraction such as "3/4".
bool readNumber(const std::string& text, double* out) {
  size_t slash = text.find('/');
  if (slash == std::string::npos) return readPlainNumber(text, out);
  double top = 0, bottom = 0;
  if (!readPlainNumber(text.substr(0, slash), &top)) return false;
  if (!readPlainNumber(text.substr(slash + 1), &bottom) || bottom == 0) return false;
  *out = top / bottom;
  return std::isfinite(*out);
}

class Parser {
 public:
  Parser(const std::string& name, Score* score, std::string* error)
      : name_(name), score_(score), error_(error) {}

  bool parse(const std::string& text) {
    size_t pos = 0;
    while (pos <= text.size() && ok_) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      ++line_;
      std::vector<std::string> words = splitWords(text.substr(pos, end - pos));
      if (!words.empty()) statement(words);
      pos = end + 1;
    }
    if (ok_ && block_ != Block::None) {
      line_ = blockLine_;
      return fail("this block has no 'end'");
    }
    return ok_ && finish();
  }

 private:
  bool fail(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!ok_) return false;
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    *error_ = name_ + ":" + std::to_string(line_) + ": " + text;
    ok_ = false;
    return false;
  }

  bool number(const std::string& text, double low, double high, double* out, const char* what) {
    double value = 0;
    if (!readNumber(text, &value)) return fail("%s: '%s' is not a number", what, text.c_str());
    if (value < low || value > high) {
      return fail("%s %s is outside %g..%g", what, text.c_str(), low, high);
    }
    *out = value;
    return true;
  }

  bool wantCount(const std::vector<std::string>& w, size_t low, size_t high) {
    if (w.size() - 1 >= low && w.size() - 1 <= high) return true;
    if (low == high) return fail("'%s' takes %zu value(s)", w[0].c_str(), low);
    return fail("'%s' takes %zu to %zu values", w[0].c_str(), low, high);
  }

  bool one(const std::vector<std::string>& w, double low, double high, double* out) {
    return wantCount(w, 1, 1) && number(w[1], low, high, out, w[0].c_str());
  }

  // "START [TIME VALUE]...": times are the lengths of the segments, "~" bends a segment.
  bool curve(const std::vector<std::string>& w, size_t first, double low, double high,
             bool logScale, Curve* out) {
    size_t count = w.size() - first;
    if (count == 0 || count % 2 == 0) return fail("'%s' wants VALUE [TIME VALUE]...", w[0].c_str());
    if (count / 2 + 1 > kMaxCurvePoints) return fail("'%s' has too many points", w[0].c_str());
    Curve curve;
    curve.logScale = logScale;
    CurvePoint start;
    if (!number(w[first], low, high, &start.value, w[0].c_str())) return false;
    curve.points.push_back(start);
    for (size_t i = first + 1; i + 1 < w.size(); i += 2) {
      CurvePoint point;
      std::string time = w[i];
      point.curved = !time.empty() && time[0] == '~';
      if (point.curved) time.erase(0, 1);
      double span = 0;
      if (!number(time, 0, kMaxSeconds, &span, "segment time")) return false;
      if (!number(w[i + 1], low, high, &point.value, w[0].c_str())) return false;
      point.time = curve.points.back().time + span;
      curve.points.push_back(point);
    }
    *out = curve;
    return true;
  }

  void statement(const std::vector<std::string>& w) {
    bool opensBlock = w[0] == "instrument" || w[0] == "pattern" || w[0] == "song";
    if (block_ != Block::None && opensBlock) {
      fail("'%s' inside another block: close that one with 'end' first", w[0].c_str());
      return;
    }
    switch (block_) {
      case Block::None: topLevel(w); break;
      case Block::Instrument: instrumentLine(w); break;
      case Block::Pattern: patternLine(w); break;
      case Block::Song: songLine(w); break;
    }
  }

  // ---- Settings ------------------------------------------------------------------------------

  bool topLevel(const std::vector<std::string>& w) {
    const std::string& key = w[0];
    double value = 0;
    if (key == "channels") {
      if (!one(w, 1, 2, &value)) return false;
      if (value != 1 && value != 2) return fail("channels is 1 or 2");
      score_->channels = static_cast<int>(value);
      return true;
    }
    if (key == "tempo") {
      if (song_) return fail("set the tempo before the song");
      return one(w, 20, 400, &score_->tempo);
    }
    if (key == "length") return length(w);
    if (key == "loop") return loop(w);
    if (key == "peak") return one(w, -30, 0, &score_->peakDb);
    if (key == "loudness") {
      score_->hasLoudness = true;
      return one(w, -40, -3, &score_->loudnessDb);
    }
    if (key == "quality") return one(w, -0.1, 1, &score_->quality);
    if (key == "seed") {
      if (!one(w, 0, 4294967295.0, &value)) return false;
      score_->seed = static_cast<unsigned>(value);
      return true;
    }
    if (key == "reverb") {
      return wantCount(w, 2, 2) && number(w[1], 0, 1, &score_->reverbRoom, "room") &&
             number(w[2], 0, 1, &score_->reverbDamp, "damping");
    }
    if (key == "echo") {
      return wantCount(w, 2, 2) && number(w[1], 0.01, 16, &score_->echoBeats, "echo time") &&
             number(w[2], 0, 0.9, &score_->echoFeedback, "feedback");
    }
    if (key == "instrument") return beginInstrument(w);
    if (key == "pattern") return beginPattern(w);
    if (key == "song") return beginSong(w);
    if (key == "hit") return hitLine(w);
    if (key == "end") return fail("'end' without a block");
    return fail("unknown setting '%s'", key.c_str());
  }

  bool length(const std::vector<std::string>& w) {
    if (!wantCount(w, 2, 2)) return false;
    if (w[2] == "seconds") {
      if (!number(w[1], 0.01, kMaxSeconds, &lengthSeconds_, "length")) return false;
      lengthBeats_ = 0;
    } else if (w[2] == "beats") {
      if (!number(w[1], 0.25, 4096, &lengthBeats_, "length")) return false;
      lengthSeconds_ = 0;
    } else {
      return fail("length is counted in 'beats' or 'seconds'");
    }
    lengthLine_ = line_;
    return true;
  }

  bool loop(const std::vector<std::string>& w) {
    if (w.size() == 2 && w[1] == "wrap") {
      score_->loop = LoopMode::Wrap;
      return true;
    }
    if (w.size() == 2 && w[1] == "none") {
      score_->loop = LoopMode::None;
      return true;
    }
    if (w.size() == 3 && w[1] == "crossfade") {
      score_->loop = LoopMode::Crossfade;
      return number(w[2], 0.001, 10, &score_->crossfadeSeconds, "crossfade");
    }
    return fail("loop is 'wrap', 'crossfade SECONDS' or 'none'");
  }

  // ---- Instruments ---------------------------------------------------------------------------

  int instrumentIndex(const std::string& name) const {
    for (size_t i = 0; i < score_->instruments.size(); ++i) {
      if (score_->instruments[i].name == name) return static_cast<int>(i);
    }
    return -1;
  }

  bool beginInstrument(const std::vector<std::string>& w) {
    if (!wantCount(w, 1, 1)) return false;
    if (!validName(w[1])) return fail("'%s' is not a usable name", w[1].c_str());
    if (instrumentIndex(w[1]) >= 0) return fail("instrument '%s' is defined twice", w[1].c_str());
    Instrument instrument;
    instrument.name = w[1];
    score_->instruments.push_back(instrument);
    block_ = Block::Instrument;
    blockLine_ = line_;
    return true;
  }

  bool instrumentLine(const std::vector<std::string>& w) {
    Instrument& instrument = score_->instruments.back();
    const std::string& key = w[0];
    if (key == "end") return endInstrument(instrument);
    if (key == "volume") return one(w, -60, 24, &instrument.volumeDb);
    if (key == "pan") return one(w, -1, 1, &instrument.pan);
    if (key == "width") return one(w, 0, 1, &instrument.width);
    if (key == "reverb") return one(w, 0, 2, &instrument.reverbSend);
    if (key == "echo") return one(w, 0, 2, &instrument.echoSend);
    if (key == "layer") return beginLayer(w, &instrument);
    if (instrument.layers.empty()) return fail("'%s' belongs to a layer; start one first", key.c_str());
    return layerLine(w, &instrument.layers.back());
  }

  bool endInstrument(const Instrument& instrument) {
    if (instrument.layers.empty()) return fail("instrument '%s' has no layer", instrument.name.c_str());
    block_ = Block::None;
    return true;
  }

  bool beginLayer(const std::vector<std::string>& w, Instrument* instrument) {
    static const std::map<std::string, Wave> kWaves = {
        {"sine", Wave::Sine},     {"triangle", Wave::Triangle}, {"saw", Wave::Saw},
        {"square", Wave::Square}, {"pulse", Wave::Pulse},       {"noise", Wave::Noise},
        {"crackle", Wave::Crackle}};
    if (!wantCount(w, 1, 1)) return false;
    auto wave = kWaves.find(w[1]);
    if (wave == kWaves.end()) return fail("unknown wave '%s'", w[1].c_str());
    if (instrument->layers.size() >= 16) return fail("an instrument has at most 16 layers");
    Layer layer;
    layer.wave = wave->second;
    instrument->layers.push_back(layer);
    return true;
  }

  bool layerLine(const std::vector<std::string>& w, Layer* layer) {
    const std::string& key = w[0];
    if (key == "level") return one(w, -80, 24, &layer->levelDb);
    if (key == "transpose") return one(w, -48, 48, &layer->transpose);
    if (key == "detune") return one(w, -1200, 1200, &layer->detuneCents);
    if (key == "unison") return unison(w, layer);
    if (key == "pitch") return curve(w, 1, 1, kMaxHertz, true, &layer->pitch);
    if (key == "bend") return curve(w, 1, -48, 48, false, &layer->bend);
    if (key == "vibrato") return vibrato(w, layer);
    if (key == "adsr") return adsr(w, layer);
    if (key == "amp") return curve(w, 1, 0, 4, false, &layer->amp);
    if (key == "lowpass" || key == "highpass" || key == "bandpass") return filter(w, layer);
    if (key == "resonance") return one(w, 0, 1, &layer->resonance);
    if (key == "keytrack") return one(w, -2, 2, &layer->keytrack);
    if (key == "drive") return one(w, 0, 50, &layer->drive);
    if (key == "fm") {
      return w.size() >= 3 && number(w[1], 0.01, 32, &layer->fmRatio, "fm ratio")
                 ? curve(w, 2, 0, 50, false, &layer->fmIndex)
                 : fail("'fm' wants RATIO INDEX [TIME INDEX]...");
    }
    if (key == "pulse") return one(w, 0.02, 0.98, &layer->pulseWidth);
    if (key == "density") return curve(w, 1, 0, 20000, false, &layer->density);
    if (key == "flutter") {
      return wantCount(w, 2, 2) && number(w[1], 0.1, 200, &layer->flutterRate, "flutter rate") &&
             number(w[2], 0, 1, &layer->flutterDepth, "flutter depth");
    }
    return fail("unknown layer setting '%s'", key.c_str());
  }

  bool unison(const std::vector<std::string>& w, Layer* layer) {
    double count = 0;
    if (!wantCount(w, 2, 2) || !number(w[1], 1, kMaxUnison, &count, "unison")) return false;
    layer->unison = static_cast<int>(count);
    return number(w[2], 0, 200, &layer->unisonCents, "unison spread");
  }

  bool vibrato(const std::vector<std::string>& w, Layer* layer) {
    if (!wantCount(w, 2, 3)) return false;
    if (!number(w[1], 0, 40, &layer->vibratoRate, "vibrato rate")) return false;
    if (!number(w[2], 0, 200, &layer->vibratoCents, "vibrato depth")) return false;
    return w.size() < 4 || number(w[3], 0, 10, &layer->vibratoDelay, "vibrato delay");
  }

  bool adsr(const std::vector<std::string>& w, Layer* layer) {
    if (!wantCount(w, 4, 4)) return false;
    Adsr& a = layer->adsr;
    layer->hasAdsr = true;
    return number(w[1], 0, 30, &a.attack, "attack") && number(w[2], 0, 30, &a.decay, "decay") &&
           number(w[3], 0, 1, &a.sustain, "sustain") && number(w[4], 0, 30, &a.release, "release");
  }

  bool filter(const std::vector<std::string>& w, Layer* layer) {
    if (layer->filter != FilterKind::None) return fail("a layer has one filter");
    if (w[0] == "lowpass") layer->filter = FilterKind::Lowpass;
    if (w[0] == "highpass") layer->filter = FilterKind::Highpass;
    if (w[0] == "bandpass") layer->filter = FilterKind::Bandpass;
    return curve(w, 1, 10, kMaxHertz, true, &layer->cutoff);
  }

  // ---- Patterns ------------------------------------------------------------------------------

  // "pattern NAME", "pattern NAME beats B" or "pattern NAME steps N beats B".
  bool beginPattern(const std::vector<std::string>& w) {
    if (w.size() < 2 || !validName(w[1])) return fail("'pattern' wants a name");
    if (patterns_.count(w[1])) return fail("pattern '%s' is defined twice", w[1].c_str());
    Pattern pattern;
    for (size_t i = 2; i < w.size(); i += 2) {
      if (i + 1 >= w.size()) return fail("'%s' wants a value", w[i].c_str());
      double value = 0;
      if (w[i] == "beats") {
        if (!number(w[i + 1], 0.25, 1024, &value, "beats")) return false;
        pattern.lengthBeats = value;
        pattern.lengthGiven = true;
      } else if (w[i] == "steps") {
        if (!number(w[i + 1], 1, kMaxGridSteps, &value, "steps")) return false;
        pattern.grid = true;
        pattern.steps = static_cast<int>(value);
      } else {
        return fail("unknown pattern setting '%s'", w[i].c_str());
      }
    }
    if (pattern.grid && !pattern.lengthGiven) return fail("a grid wants 'steps N beats B'");
    patterns_[w[1]] = pattern;
    pattern_ = &patterns_[w[1]];
    patternName_ = w[1];
    block_ = Block::Pattern;
    blockLine_ = line_;
    return true;
  }

  bool patternLine(const std::vector<std::string>& w) {
    if (w[0] == "end") return endPattern();
    if (pattern_->grid) return gridRow(w);
    if (w[0] == "len") return one(w, 1.0 / 64, 64, &pattern_->defaultBeats);
    for (const std::string& word : w) {
      if (!noteWord(word)) return false;
    }
    return true;
  }

  bool endPattern() {
    if (pattern_->notes.empty() && !pattern_->lengthGiven) {
      return fail("pattern '%s' is empty", patternName_.c_str());
    }
    if (!pattern_->grid) {
      if (pattern_->lengthGiven && cursor_ > pattern_->lengthBeats + 1e-9) {
        return fail("pattern '%s' holds %g beats, more than its %g", patternName_.c_str(), cursor_,
                    pattern_->lengthBeats);
      }
      if (!pattern_->lengthGiven) pattern_->lengthBeats = cursor_;
    }
    cursor_ = 0;
    block_ = Block::None;
    return true;
  }

  // "C4", "C4:1/2", "C4+E4+G4:2@0.7", "r:1".
  bool noteWord(const std::string& word) {
    std::string rest = word;
    double velocity = 1, beats = pattern_->defaultBeats;
    size_t at = rest.find('@');
    if (at != std::string::npos) {
      if (!number(rest.substr(at + 1), 0, 2, &velocity, "velocity")) return false;
      rest.erase(at);
    }
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
      if (!number(rest.substr(colon + 1), 1.0 / 64, 256, &beats, "duration")) return false;
      rest.erase(colon);
    }
    if (rest != "r") {
      size_t start = 0;
      while (start <= rest.size()) {
        size_t plus = rest.find('+', start);
        if (plus == std::string::npos) plus = rest.size();
        std::string note = rest.substr(start, plus - start);
        int midi = noteNumber(note);
        if (midi < 0) return fail("'%s' is not a note (C4, F#3, Bb2, r for a rest)", note.c_str());
        if (pattern_->notes.size() >= kMaxPatternNotes) return fail("the pattern is too long");
        pattern_->notes.push_back({cursor_, beats, midi, velocity, -1});
        start = plus + 1;
      }
    }
    cursor_ += beats;
    return true;
  }

  // "kick x...x...", "tom:G2 ..x.": one cell per step, x a hit, X an accent, o a ghost.
  bool gridRow(const std::vector<std::string>& w) {
    std::string target = w[0];
    int midi = 60;
    size_t colon = target.find(':');
    if (colon != std::string::npos) {
      midi = noteNumber(target.substr(colon + 1));
      if (midi < 0) return fail("'%s' is not a note", target.substr(colon + 1).c_str());
      target.erase(colon);
    }
    int instrument = instrumentIndex(target);
    if (instrument < 0) return fail("unknown instrument '%s'", target.c_str());
    std::string cells;
    for (size_t i = 1; i < w.size(); ++i) cells += w[i];
    if (static_cast<int>(cells.size()) != pattern_->steps) {
      return fail("the row has %zu steps, the grid %d", cells.size(), pattern_->steps);
    }
    double step = pattern_->lengthBeats / pattern_->steps;
    for (int i = 0; i < pattern_->steps; ++i) {
      double velocity = 0;
      switch (cells[i]) {
        case 'X': velocity = 1.0; break;
        case 'x': velocity = 0.8; break;
        case 'o': velocity = 0.45; break;
        case '.': case '-': continue;
        default: return fail("'%c' is no grid cell (x X o . -)", cells[i]);
      }
      if (pattern_->notes.size() >= kMaxPatternNotes) return fail("the pattern is too long");
      pattern_->notes.push_back({i * step, step, midi, velocity, instrument});
    }
    return true;
  }

  // ---- Song ----------------------------------------------------------------------------------

  bool beginSong(const std::vector<std::string>& w) {
    if (!wantCount(w, 0, 0)) return false;
    if (song_) return fail("there is one song");
    song_ = true;
    block_ = Block::Song;
    blockLine_ = line_;
    return true;
  }

  // "LABEL: item item ...": items are PATTERN, PATTERN+N (transposed), PATTERN*N (repeated),
  // r:BEATS (a rest) and @BEAT (a jump). A label that names an instrument plays the note
  // patterns; drum grids name their own instruments.
  bool songLine(const std::vector<std::string>& w) {
    if (w[0] == "end") {
      block_ = Block::None;
      return true;
    }
    std::vector<std::string> items = w;
    std::string label = items[0];
    items.erase(items.begin());
    if (label.size() > 1 && label.back() == ':') {
      label.pop_back();
    } else if (!items.empty() && items[0] == ":") {
      items.erase(items.begin());
    } else {
      return fail("a song line reads 'LABEL: pattern pattern ...'");
    }
    if (!validName(label)) return fail("'%s' is not a usable label", label.c_str());
    Track& track = tracks_[label];
    track.line = line_;
    for (const std::string& item : items) {
      if (!songItem(item, label, &track)) return false;
    }
    return true;
  }

  bool songItem(const std::string& item, const std::string& label, Track* track) {
    if (item[0] == '@') return number(item.substr(1), 0, 4096, &track->beat, "position");
    if (item.rfind("r:", 0) == 0) {
      double beats = 0;
      if (!number(item.substr(2), 1.0 / 64, 4096, &beats, "rest")) return false;
      track->beat += beats;
      return true;
    }
    std::string name = item;
    double repeat = 1, transpose = 0;
    size_t star = name.find('*');
    if (star != std::string::npos) {
      if (!number(name.substr(star + 1), 1, kMaxRepeat, &repeat, "repeat")) return false;
      if (repeat != std::floor(repeat)) return fail("repeat a whole number of times");
      name.erase(star);
    }
    // Names may hold "-" themselves; only a trailing signed number transposes.
    size_t sign = name.find_last_of("+-");
    double shift = 0;
    if (sign != std::string::npos && sign > 0 && patterns_.count(name) == 0 &&
        readNumber(name.substr(sign), &shift)) {
      if (!number(name.substr(sign), -48, 48, &transpose, "transpose")) return false;
      if (transpose != std::floor(transpose)) return fail("transpose by whole semitones");
      name.erase(sign);
    }
    auto found = patterns_.find(name);
    if (found == patterns_.end()) return fail("unknown pattern '%s'", name.c_str());
    int instrument = instrumentIndex(label);
    for (int i = 0; i < static_cast<int>(repeat); ++i) {
      if (!place(found->second, instrument, static_cast<int>(transpose), track->beat, label)) {
        return false;
      }
      track->beat += found->second.lengthBeats;
    }
    return true;
  }

  bool place(const Pattern& pattern, int trackInstrument, int transpose, double beat,
             const std::string& label) {
    double secondsPerBeat = 60 / score_->tempo;
    for (const PatternNote& note : pattern.notes) {
      int instrument = note.instrument >= 0 ? note.instrument : trackInstrument;
      if (instrument < 0) return fail("'%s' plays notes but names no instrument", label.c_str());
      int midi = note.midi + transpose;
      if (midi < 0 || midi > 127) return fail("transposed out of the note range");
      Hit hit;
      hit.instrument = instrument;
      hit.start = (beat + note.beat) * secondsPerBeat;
      hit.duration = note.beats * secondsPerBeat;
      hit.midi = midi;
      hit.velocity = note.velocity;
      if (!addHit(hit, false)) return false;
    }
    return true;
  }

  bool addHit(const Hit& hit, bool toEnd) {
    if (pending_.size() >= kMaxHits) return fail("more than %zu notes", kMaxHits);
    pending_.push_back({hit, line_, toEnd});
    return true;
  }

  // ---- Single hits, placed in seconds ------------------------------------------------------

  // "hit INSTRUMENT [NOTE] at SECONDS [for SECONDS] [vel V]".
  bool hitLine(const std::vector<std::string>& w) {
    if (w.size() < 2) return fail("'hit' wants an instrument");
    Hit hit;
    hit.instrument = instrumentIndex(w[1]);
    if (hit.instrument < 0) return fail("unknown instrument '%s'", w[1].c_str());
    size_t i = 2;
    if (i < w.size() && noteNumber(w[i]) >= 0) hit.midi = noteNumber(w[i++]);
    bool haveStart = false, toEnd = true;
    for (; i < w.size(); i += 2) {
      if (i + 1 >= w.size()) return fail("'%s' wants a value", w[i].c_str());
      if (w[i] == "at") {
        if (!number(w[i + 1], 0, kMaxSeconds, &hit.start, "start")) return false;
        haveStart = true;
      } else if (w[i] == "for") {
        if (!number(w[i + 1], 0.001, kMaxSeconds, &hit.duration, "duration")) return false;
        toEnd = false;
      } else if (w[i] == "vel") {
        if (!number(w[i + 1], 0, 2, &hit.velocity, "velocity")) return false;
      } else {
        return fail("unknown hit setting '%s' (at, for, vel)", w[i].c_str());
      }
    }
    if (!haveStart) return fail("'hit' wants 'at SECONDS'");
    return addHit(hit, toEnd);
  }

  // ---- The whole -----------------------------------------------------------------------------

  bool finish() {
    if (lengthBeats_ > 0) lengthSeconds_ = lengthBeats_ * 60 / score_->tempo;
    if (lengthSeconds_ <= 0) {
      double end = 0;
      for (const auto& [label, track] : tracks_) end = std::max(end, track.beat);
      lengthSeconds_ = end * 60 / score_->tempo;
      lengthLine_ = line_;
    }
    if (lengthSeconds_ <= 0) return fail("no 'length' and no song to take it from");
    if (lengthSeconds_ > kMaxSeconds) {
      line_ = lengthLine_;
      return fail("a piece is at most %g seconds", kMaxSeconds);
    }
    if (pending_.empty()) return fail("nothing is played");
    if (score_->loop == LoopMode::Crossfade && score_->crossfadeSeconds >= lengthSeconds_) {
      line_ = lengthLine_;
      return fail("the crossfade is longer than the sound");
    }
    // A note that starts at or after the end would sound at the start of a loop, or not at all.
    for (const auto& [label, track] : tracks_) {
      if (track.beat * 60 / score_->tempo > lengthSeconds_ + 1e-6) {
        line_ = track.line;
        return fail("'%s' runs to beat %g, past the length", label.c_str(), track.beat);
      }
    }
    double renderEnd = lengthSeconds_;
    if (score_->loop == LoopMode::Crossfade) renderEnd += score_->crossfadeSeconds;
    for (PendingHit& pending : pending_) {
      if (pending.hit.start >= lengthSeconds_ - 1e-9) {
        line_ = pending.line;
        return fail("a note starts at %.3f s, at or after the end (%.3f s)", pending.hit.start,
                    lengthSeconds_);
      }
      // A crossfaded loop renders past its end to blend the overhang into its start.
      if (pending.toEnd) pending.hit.duration = renderEnd - pending.hit.start;
      score_->hits.push_back(pending.hit);
    }
    score_->lengthSeconds = lengthSeconds_;
    return true;
  }

  std::string name_;
  Score* score_;
  std::string* error_;
  bool ok_ = true;
  int line_ = 0;
  Block block_ = Block::None;
  int blockLine_ = 0;
  std::map<std::string, Pattern> patterns_;
  Pattern* pattern_ = nullptr;
  std::string patternName_;
  double cursor_ = 0;
  bool song_ = false;
  std::map<std::string, Track> tracks_;
  std::vector<PendingHit> pending_;
  double lengthSeconds_ = 0;
  double lengthBeats_ = 0;
  int lengthLine_ = 0;
};

}  // namespace

bool parseScore(const std::string& text, const std::string& name, Score* out, std::string* error) {
  Score score;
  Parser parser(name, &score, error);
  if (!parser.parse(text)) return false;
  *out = std::move(score);
  return true;
}

}  // namespace synth
