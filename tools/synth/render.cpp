#include "tools/synth/render.h"

#include <algorithm>
#include <cmath>

#include "tools/synth/dsp.h"

namespace synth {
namespace {

// Pitch, filter and envelope shapes move once per block; levels glide sample by sample.
constexpr size_t kBlock = 32;
// How long the room and the echo ring on after the last note.
constexpr double kTailSeconds = 7;
// A one-shot sound ends with a short fade, so a cut-off tail never clicks.
constexpr double kEndFadeSeconds = 0.01;
constexpr double kGateAttack = 0.002;
constexpr double kGateRelease = 0.005;
constexpr double kMinRelease = 0.002;
// Before the limiter, peaks are rounded off from 3 dB under the ceiling to at most 3 dB over it.
constexpr double kClipKneeDb = 3;
constexpr double kClipLimitDb = 3;

double midiHertz(double midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12); }

// Falls from 1 to 0 fast and then slowly, as a struck or released sound does.
double curvedFall(double p) {
  constexpr double kBend = 5.0;
  return 1 - (1 - std::exp(-kBend * p)) / (1 - std::exp(-kBend));
}

struct Bus {
  std::vector<float> left, right, room, echo;
};

// ---- Envelopes -------------------------------------------------------------------------------

bool oneShot(const Layer& layer) {
  return curveGiven(layer.amp) && curveLastValue(layer.amp) <= 0;
}

double layerSeconds(const Layer& layer, double noteSeconds) {
  double release = layer.hasAdsr ? std::max(layer.adsr.release, kMinRelease) : kGateRelease;
  double gated = noteSeconds + release;
  if (!oneShot(layer)) return gated;
  return layer.hasAdsr ? std::min(curveEnd(layer.amp), gated) : curveEnd(layer.amp);
}

double adsrHeld(const Adsr& a, double t) {
  if (t < a.attack) return t / a.attack;
  t -= a.attack;
  if (t < a.decay) return a.sustain + (1 - a.sustain) * curvedFall(t / a.decay);
  return a.sustain;
}

double gateLevel(const Layer& layer, double t, double noteSeconds) {
  if (!layer.hasAdsr && oneShot(layer)) return 1;
  Adsr a = layer.adsr;
  if (!layer.hasAdsr) a = Adsr{kGateAttack, 0, 1, kGateRelease};
  a.release = std::max(a.release, kMinRelease);
  if (t < noteSeconds) return adsrHeld(a, t);
  double p = (t - noteSeconds) / a.release;
  return p >= 1 ? 0 : adsrHeld(a, noteSeconds) * curvedFall(p);
}

// A slow random wobble between 1 - depth and 1, smooth from one random value to the next.
class Flutter {
 public:
  Flutter(double rate, double depth, Random& random) : rate_(rate), depth_(depth), random_(random) {
    from_ = random_.uniform();
    to_ = random_.uniform();
  }
  double at(double t) {
    if (depth_ <= 0) return 1;
    double position = t * rate_;
    while (position >= step_ + 1) {
      ++step_;
      from_ = to_;
      to_ = random_.uniform();
    }
    double p = position - step_;
    double smooth = (1 - std::cos(kPi * p)) / 2;
    return 1 - depth_ * (from_ + (to_ - from_) * smooth);
  }

 private:
  double rate_, depth_;
  Random& random_;
  double from_ = 0, to_ = 0;
  double step_ = 0;
};

// ---- Oscillators ----------------------------------------------------------------------------

struct Oscillator {
  double phase = 0;
  double modPhase = 0;
  double step = 0;  // phase per sample
  double panLeft = 1, panRight = 1;
  double detune = 1;  // this unison voice's pitch ratio
  double crackleLevel = 0, crackleFade = 0;
};

void panGains(double pan, double* left, double* right) {
  double angle = (std::clamp(pan, -1.0, 1.0) + 1) * kPi / 4;
  *left = std::cos(angle) * std::sqrt(2.0);
  *right = std::sin(angle) * std::sqrt(2.0);
}

// A sine from a table with straight lines between its entries: the error stays some 130 dB
// down, at a fraction of the library sine's cost in the inner loops.
class SineTable {
 public:
  SineTable() {
    for (size_t i = 0; i <= kSize; ++i) values_[i] = std::sin(2 * kPi * i / kSize);
  }
  double at(double turns) const {
    double position = (turns - std::floor(turns)) * kSize;
    // A hair under a whole turn may still round up to one.
    size_t i = std::min(static_cast<size_t>(position), kSize - 1);
    double f = position - i;
    return values_[i] + (values_[i + 1] - values_[i]) * f;
  }

 private:
  static constexpr size_t kSize = 4096;
  double values_[kSize + 1];
};

const SineTable& sineTable() {
  static const SineTable table;
  return table;
}

void advance(double& phase, double step) {
  phase += step;
  if (phase >= 1) phase -= std::floor(phase);
}

struct BlockControls {
  double fmIndex = 0;        // radians
  double crackleChance = 0;  // per sample
  double sampleRate = 44100;
};

// Sparks: rare bursts of noise of random strength, mostly faint, a few loud.
void crackle(Oscillator& o, const BlockControls& k, Random& random, double* out, size_t count) {
  for (size_t j = 0; j < count; ++j) {
    if (random.uniform() < k.crackleChance) {
      double u = random.uniform();
      o.crackleLevel = std::max(o.crackleLevel, 0.1 + 0.9 * u * u * u);
      double seconds = 0.0002 + 0.0016 * random.uniform();
      o.crackleFade = std::exp(-1 / (seconds * k.sampleRate));
    }
    out[j] = o.crackleLevel * random.bipolar();
    o.crackleLevel *= o.crackleFade;
  }
}

void sine(const Layer& layer, Oscillator& o, const BlockControls& k, double* out, size_t count) {
  const SineTable& table = sineTable();
  if (k.fmIndex <= 0) {
    for (size_t j = 0; j < count; ++j) {
      out[j] = table.at(o.phase);
      advance(o.phase, o.step);
    }
    return;
  }
  const double depth = k.fmIndex / (2 * kPi);
  const double modStep = o.step * layer.fmRatio;
  for (size_t j = 0; j < count; ++j) {
    out[j] = table.at(o.phase + depth * table.at(o.modPhase));
    advance(o.phase, o.step);
    advance(o.modPhase, modStep);
  }
}

// One block of one voice's raw wave.
void oscillate(const Layer& layer, Oscillator& o, const BlockControls& k, Random& random,
               double* out, size_t count) {
  const double dt = o.step;
  switch (layer.wave) {
    case Wave::Sine:
      sine(layer, o, k, out, count);
      return;
    case Wave::Triangle:
      for (size_t j = 0; j < count; ++j) {
        double p = o.phase + 0.25;
        if (p >= 1) p -= 1;
        out[j] = 1 - 4 * std::fabs(p - 0.5);
        advance(o.phase, dt);
      }
      return;
    case Wave::Saw:
      for (size_t j = 0; j < count; ++j) {
        out[j] = 2 * o.phase - 1 - polyBlep(o.phase, dt);
        advance(o.phase, dt);
      }
      return;
    case Wave::Square:
    case Wave::Pulse: {
      double w = layer.wave == Wave::Square ? 0.5 : layer.pulseWidth;
      for (size_t j = 0; j < count; ++j) {
        double fall = o.phase + 1 - w;
        if (fall >= 1) fall -= 1;
        // Minus the mean, so a narrow pulse carries no DC.
        out[j] = (o.phase < w ? 1 : -1) + polyBlep(o.phase, dt) - polyBlep(fall, dt) - (2 * w - 1);
        advance(o.phase, dt);
      }
      return;
    }
    case Wave::Noise:
      for (size_t j = 0; j < count; ++j) out[j] = random.bipolar();
      return;
    case Wave::Crackle:
      crackle(o, k, random, out, count);
      return;
  }
}

// ---- One layer of one hit -------------------------------------------------------------------

struct LayerJob {
  const Layer* layer;
  const Instrument* instrument;
  const Hit* hit;
  int sampleRate;
  uint64_t seed;
};

double layerHertz(const Layer& layer, const Hit& hit, double t) {
  double base = curveGiven(layer.pitch) ? curveValue(layer.pitch, t) : midiHertz(hit.midi);
  double cents = layer.transpose * 100 + layer.detuneCents;
  if (curveGiven(layer.bend)) cents += curveValue(layer.bend, t) * 100;
  if (layer.vibratoRate > 0 && t > layer.vibratoDelay) {
    double fadeIn = std::min(1.0, (t - layer.vibratoDelay) / 0.3);
    cents += layer.vibratoCents * fadeIn * std::sin(2 * kPi * layer.vibratoRate * t);
  }
  return base * std::pow(2.0, cents / 1200);
}

double filterHertz(const Layer& layer, const Hit& hit, double t) {
  double cutoff = curveValue(layer.cutoff, t);
  if (layer.keytrack != 0) cutoff *= std::pow(midiHertz(hit.midi) / midiHertz(60), layer.keytrack);
  return cutoff;
}

double pick(FilterKind kind, const Svf::Out& out) {
  return kind == FilterKind::Lowpass ? out.low : kind == FilterKind::Highpass ? out.high : out.band;
}

void filterBlock(FilterKind kind, Svf& svf, double* samples, size_t count) {
  for (size_t j = 0; j < count; ++j) samples[j] = pick(kind, svf.process(samples[j]));
}

// Both sides in one pass: two independent chains keep the processor busy.
void filterBlocks(FilterKind kind, Svf& svfLeft, Svf& svfRight, double* left, double* right,
                  size_t count) {
  for (size_t j = 0; j < count; ++j) {
    left[j] = pick(kind, svfLeft.process(left[j]));
    right[j] = pick(kind, svfRight.process(right[j]));
  }
}

double shaped(double drive, double x) {
  if (drive <= 0) return x;
  return std::tanh(drive * x) / std::tanh(drive);
}

// One layer of one hit: its voices (several when in unison), filter, envelope and drive.
class LayerVoice {
 public:
  explicit LayerVoice(const LayerJob& job)
      : layer_(*job.layer),
        instrument_(*job.instrument),
        hit_(*job.hit),
        rate_(job.sampleRate),
        random_(job.seed),
        flutter_(layer_.flutterRate, layer_.flutterDepth, random_) {
    int voices = (layer_.wave == Wave::Noise || layer_.wave == Wave::Crackle) ? 1 : layer_.unison;
    oscillators_.resize(voices);
    spread_ = voices > 1 && instrument_.width > 0;
    for (int v = 0; v < voices; ++v) {
      Oscillator& o = oscillators_[v];
      // Unison voices start at random phases, so their sum does not open with a spike.
      if (voices > 1) o.phase = random_.uniform();
      double side = voices > 1 ? -1 + 2.0 * v / (voices - 1) : 0;
      panGains(instrument_.pan + instrument_.width * side, &o.panLeft, &o.panRight);
      o.detune = std::pow(2.0, side / 2 * layer_.unisonCents / 1200);
    }
    panGains(instrument_.pan, &panLeft_, &panRight_);
    // Detuned voices add up by power, not by amplitude. The velocity goes in before the drive,
    // so harder notes bite more; the levels come after it.
    strength_ = hit_.velocity / std::sqrt(static_cast<double>(voices));
    level_ = fromDb(layer_.levelDb + instrument_.volumeDb);
  }

  void render(Bus& bus) {
    size_t total = bus.left.size();
    size_t first = static_cast<size_t>(std::lround(hit_.start * rate_));
    if (first >= total) return;
    size_t frames = static_cast<size_t>(std::ceil(layerSeconds(layer_, hit_.duration) * rate_));
    frames = std::min(frames, total - first);
    double ampFrom = ampAt(0);
    for (size_t start = 0; start < frames; start += kBlock) {
      size_t count = std::min(kBlock, frames - start);
      double ampTo = ampAt((start + count) / rate_);
      double left[kBlock], right[kBlock];
      waves(start / rate_, count, left, right);
      for (size_t j = 0; j < count; ++j) {
        double amp = ampFrom + (ampTo - ampFrom) * j / count;
        left[j] = shaped(layer_.drive, left[j] * amp);
        right[j] = spread_ ? shaped(layer_.drive, right[j] * amp) : left[j];
      }
      mixInto(bus, first + start, count, left, right);
      ampFrom = ampTo;
    }
  }

 private:
  double ampAt(double t) {
    double level = curveGiven(layer_.amp) ? curveValue(layer_.amp, t) : 1;
    return level * gateLevel(layer_, t, hit_.duration) * flutter_.at(t) * strength_;
  }

  // The voices of one block, filtered: left only unless the voices spread across the field.
  void waves(double t, size_t count, double* left, double* right) {
    BlockControls k;
    k.sampleRate = rate_;
    k.fmIndex = curveGiven(layer_.fmIndex) ? curveValue(layer_.fmIndex, t) : 0;
    k.crackleChance = curveGiven(layer_.density) ? curveValue(layer_.density, t) / rate_ : 0;
    double hertz = layerHertz(layer_, hit_, t);
    std::fill(left, left + count, 0.0);
    std::fill(right, right + count, 0.0);
    double wave[kBlock];
    for (Oscillator& o : oscillators_) {
      // Past half the sample rate a tone can only fold back down; hold it just under.
      o.step = std::min(hertz * o.detune / rate_, 0.49);
      oscillate(layer_, o, k, random_, wave, count);
      if (!spread_) {
        for (size_t j = 0; j < count; ++j) left[j] += wave[j];
        continue;
      }
      for (size_t j = 0; j < count; ++j) {
        left[j] += wave[j] * o.panLeft;
        right[j] += wave[j] * o.panRight;
      }
    }
    if (layer_.filter == FilterKind::None) return;
    double cutoff = filterHertz(layer_, hit_, t);
    svfLeft_.tune(cutoff, layer_.resonance, rate_);
    if (!spread_) {
      filterBlock(layer_.filter, svfLeft_, left, count);
      return;
    }
    svfRight_.tune(cutoff, layer_.resonance, rate_);
    filterBlocks(layer_.filter, svfLeft_, svfRight_, left, right, count);
  }

  void mixInto(Bus& bus, size_t at, size_t count, const double* left, const double* right) {
    double toLeft = level_ * (spread_ ? 1 : panLeft_), toRight = level_ * (spread_ ? 1 : panRight_);
    float room = static_cast<float>(instrument_.reverbSend);
    float echo = static_cast<float>(instrument_.echoSend);
    for (size_t j = 0; j < count; ++j) {
      float l = static_cast<float>(left[j] * toLeft), r = static_cast<float>(right[j] * toRight);
      bus.left[at + j] += l;
      bus.right[at + j] += r;
      bus.room[at + j] += (l + r) * 0.5f * room;
      bus.echo[at + j] += (l + r) * 0.5f * echo;
    }
  }

  const Layer& layer_;
  const Instrument& instrument_;
  const Hit& hit_;
  const double rate_;
  Random random_;
  Flutter flutter_;
  std::vector<Oscillator> oscillators_;
  bool spread_ = false;
  double panLeft_ = 1, panRight_ = 1;
  double strength_ = 1, level_ = 1;
  Svf svfLeft_, svfRight_;
};

void renderLayer(const LayerJob& job, Bus& bus) {
  LayerVoice voice(job);
  voice.render(bus);
}

// ---- The whole piece ------------------------------------------------------------------------

size_t framesOf(double seconds, int sampleRate) {
  return static_cast<size_t>(std::lround(seconds * sampleRate));
}

// How long the rendering runs: the sound itself, plus what must fold back onto a loop's start.
size_t renderFrames(const Score& score, size_t loopFrames) {
  switch (score.loop) {
    case LoopMode::None: return loopFrames;
    case LoopMode::Crossfade: return loopFrames + framesOf(score.crossfadeSeconds, score.sampleRate);
    case LoopMode::Wrap: break;
  }
  double last = 0;
  for (const Hit& hit : score.hits) {
    for (const Layer& layer : score.instruments[hit.instrument].layers) {
      last = std::max(last, hit.start + layerSeconds(layer, hit.duration));
    }
  }
  return std::max(loopFrames, framesOf(last, score.sampleRate)) +
         framesOf(kTailSeconds, score.sampleRate);
}

void playHits(const Score& score, Bus& bus) {
  for (size_t h = 0; h < score.hits.size(); ++h) {
    const Hit& hit = score.hits[h];
    const Instrument& instrument = score.instruments[hit.instrument];
    for (size_t l = 0; l < instrument.layers.size(); ++l) {
      uint64_t seed = (uint64_t{score.seed} << 32) ^ (h * 64 + l);
      renderLayer({&instrument.layers[l], &instrument, &hit, score.sampleRate, seed}, bus);
    }
  }
}

void addEffects(const Score& score, Bus& bus) {
  size_t frames = bus.left.size();
  bool room = false, echo = false;
  for (const Instrument& instrument : score.instruments) {
    room = room || instrument.reverbSend > 0;
    echo = echo || instrument.echoSend > 0;
  }
  if (echo) {
    // The echo's repeats go into the room as well, or they would sound pasted on.
    std::vector<float> wetLeft(frames), wetRight(frames);
    Echo delay(score.sampleRate, score.echoBeats * 60 / score.tempo, score.echoFeedback);
    delay.process(bus.echo.data(), wetLeft.data(), wetRight.data(), frames);
    for (size_t i = 0; i < frames; ++i) {
      bus.left[i] += wetLeft[i];
      bus.right[i] += wetRight[i];
      bus.room[i] += (wetLeft[i] + wetRight[i]) * 0.25f;
    }
  }
  if (room) {
    Reverb reverb(score.sampleRate, score.reverbRoom, score.reverbDamp);
    reverb.process(bus.room.data(), bus.left.data(), bus.right.data(), frames);
  }
}

// Brings the rendered frames to the loop's length: wrapped tails fold onto the start, a
// crossfaded loop blends its overhang into its opening, a one-shot fades its last moment.
std::vector<float> closeLoop(const Score& score, const std::vector<float>& stereo, size_t loopFrames) {
  std::vector<float> out(stereo.begin(), stereo.begin() + loopFrames * 2);
  size_t total = stereo.size() / 2;
  if (score.loop == LoopMode::Wrap) {
    for (size_t i = loopFrames; i < total; ++i) {
      size_t to = i % loopFrames;
      out[to * 2] += stereo[i * 2];
      out[to * 2 + 1] += stereo[i * 2 + 1];
    }
  } else if (score.loop == LoopMode::Crossfade) {
    // Equal power: the two ends are unrelated noise, so their powers add.
    size_t fade = total - loopFrames;
    for (size_t i = 0; i < fade; ++i) {
      double p = static_cast<double>(i) / fade;
      double in = std::sin(p * kPi / 2), away = std::cos(p * kPi / 2);
      for (int c = 0; c < 2; ++c) {
        out[i * 2 + c] = static_cast<float>(stereo[i * 2 + c] * in + stereo[(loopFrames + i) * 2 + c] * away);
      }
    }
  } else {
    size_t fade = std::min(loopFrames, framesOf(kEndFadeSeconds, score.sampleRate));
    for (size_t i = 0; i < fade; ++i) {
      double gain = static_cast<double>(i) / fade;
      size_t frame = loopFrames - 1 - i;
      out[frame * 2] *= static_cast<float>(gain);
      out[frame * 2 + 1] *= static_cast<float>(gain);
    }
  }
  return out;
}

void scale(std::vector<float>& samples, double gain) {
  for (float& s : samples) s = static_cast<float>(s * gain);
}

// A piece is brought to its loudness, then its peaks are rounded off and held under the ceiling,
// which takes a little of the loudness back. Effects are only brought to their peak.
void setLevel(const Score& score, Rendered* sound) {
  std::vector<float>& samples = sound->samples;
  double peak = peakOf(samples);
  if (peak <= 0) return;
  double ceiling = fromDb(score.peakDb);
  double gain = score.hasLoudness ? fromDb(score.loudnessDb) / rmsOf(samples) : ceiling / peak;
  sound->gainDb = toDb(gain);
  scale(samples, gain);
  if (!score.hasLoudness) return;
  softClip(samples, ceiling * fromDb(-kClipKneeDb), ceiling * fromDb(kClipLimitDb));
  bool loop = score.loop != LoopMode::None;
  sound->limitedDb = limitPeaks(samples, sound->channels, score.sampleRate, ceiling, loop);
}

}  // namespace

void renderScore(const Score& score, Rendered* out, bool levelled) {
  const int rate = score.sampleRate;
  size_t loopFrames = std::max<size_t>(1, framesOf(score.lengthSeconds, rate));
  size_t total = renderFrames(score, loopFrames);
  Bus bus;
  bus.left.resize(total);
  bus.right.resize(total);
  bus.room.resize(total);
  bus.echo.resize(total);
  playHits(score, bus);
  addEffects(score, bus);

  std::vector<float> stereo(total * 2);
  for (size_t i = 0; i < total; ++i) {
    stereo[i * 2] = bus.left[i];
    stereo[i * 2 + 1] = bus.right[i];
  }
  bus = Bus();
  removeDc(stereo.data(), total, 2, rate);
  std::vector<float> shaped = closeLoop(score, stereo, loopFrames);
  stereo.clear();

  out->channels = score.channels;
  out->sampleRate = rate;
  out->loop = score.loop != LoopMode::None;
  if (score.channels == 1) {
    out->samples.resize(loopFrames);
    for (size_t i = 0; i < loopFrames; ++i) out->samples[i] = (shaped[i * 2] + shaped[i * 2 + 1]) / 2;
  } else {
    out->samples = std::move(shaped);
  }
  if (levelled) setLevel(score, out);
}

}  // namespace synth
