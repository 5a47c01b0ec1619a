#include "tools/synth/dsp.h"

#include <algorithm>
#include <cmath>

namespace synth {

double toDb(double gain) { return gain > 0 ? 20 * std::log10(gain) : -200; }
double fromDb(double db) { return std::pow(10.0, db / 20); }

// ---- Filter --------------------------------------------------------------------------------

void Svf::tune(double cutoff, double resonance, double sampleRate) {
  // Close to Nyquist the warped cutoff runs off to infinity.
  cutoff = std::clamp(cutoff, 10.0, 0.45 * sampleRate);
  g_ = std::tan(kPi * cutoff / sampleRate);
  k_ = 1.4142 - 1.35 * std::clamp(resonance, 0.0, 1.0);
  a1_ = 1 / (1 + g_ * (g_ + k_));
  a2_ = g_ * a1_;
  a3_ = g_ * a2_;
}

// ---- Room ----------------------------------------------------------------------------------

namespace {

const int kCombLengths[] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
const int kAllpassLengths[] = {556, 441, 341, 225};
constexpr int kStereoSpread = 23;
constexpr float kRoomInput = 0.06f;
constexpr double kPreDelaySeconds = 0.012;
constexpr double kRoomLowCut = 160;  // keeps the bass out of the room, where it only muddies

size_t scaled(int length, int sampleRate) {
  return std::max<size_t>(1, static_cast<size_t>(std::lround(length * sampleRate / 44100.0)));
}

double onePoleCoef(double hertz, int sampleRate) {
  return 1 - std::exp(-2 * kPi * hertz / sampleRate);
}

}  // namespace

Reverb::Reverb(int sampleRate, double room, double damp)
    : feedback_(static_cast<float>(0.7 + 0.28 * room)),
      damp_(static_cast<float>(0.4 * damp)),
      lowCutCoef_(static_cast<float>(onePoleCoef(kRoomLowCut, sampleRate))) {
  for (int length : kCombLengths) {
    combsLeft_.push_back({std::vector<float>(scaled(length, sampleRate)), 0, 0});
    combsRight_.push_back({std::vector<float>(scaled(length + kStereoSpread, sampleRate)), 0, 0});
  }
  for (int length : kAllpassLengths) {
    passesLeft_.push_back({std::vector<float>(scaled(length, sampleRate)), 0});
    passesRight_.push_back({std::vector<float>(scaled(length + kStereoSpread, sampleRate)), 0});
  }
  preDelay_.assign(static_cast<size_t>(kPreDelaySeconds * sampleRate) + 1, 0);
}

float Reverb::side(float in, std::vector<Comb>& combs, std::vector<Allpass>& passes) {
  float sum = 0;
  for (Comb& comb : combs) {
    float out = comb.line[comb.pos];
    comb.store = out * (1 - damp_) + comb.store * damp_;
    comb.line[comb.pos] = in + comb.store * feedback_;
    if (++comb.pos == comb.line.size()) comb.pos = 0;
    sum += out;
  }
  for (Allpass& pass : passes) {
    float delayed = pass.line[pass.pos];
    pass.line[pass.pos] = sum + delayed * 0.5f;
    if (++pass.pos == pass.line.size()) pass.pos = 0;
    sum = delayed - sum;
  }
  return sum;
}

void Reverb::process(const float* in, float* left, float* right, size_t frames) {
  for (size_t i = 0; i < frames; ++i) {
    float delayed = preDelay_[preDelayPos_];
    preDelay_[preDelayPos_] = in[i];
    if (++preDelayPos_ == preDelay_.size()) preDelayPos_ = 0;
    lowCut_ += lowCutCoef_ * (delayed - lowCut_);
    float x = (delayed - lowCut_) * kRoomInput;
    left[i] += side(x, combsLeft_, passesLeft_);
    right[i] += side(x, combsRight_, passesRight_);
  }
}

// ---- Echo ----------------------------------------------------------------------------------

namespace {
constexpr double kEchoTone = 3500;  // each repeat loses some top, as a tape echo would
}

Echo::Echo(int sampleRate, double seconds, double feedback)
    : feedback_(static_cast<float>(feedback)),
      toneCoef_(static_cast<float>(onePoleCoef(kEchoTone, sampleRate))) {
  size_t length = std::max<size_t>(1, static_cast<size_t>(std::lround(seconds * sampleRate)));
  left_.assign(length, 0);
  right_.assign(length, 0);
}

void Echo::process(const float* in, float* left, float* right, size_t frames) {
  for (size_t i = 0; i < frames; ++i) {
    float outLeft = left_[pos_];
    float outRight = right_[pos_];
    toneLeft_ += toneCoef_ * (outLeft - toneLeft_);
    toneRight_ += toneCoef_ * (outRight - toneRight_);
    left_[pos_] = in[i] + feedback_ * toneRight_;
    right_[pos_] = feedback_ * toneLeft_;
    if (++pos_ == left_.size()) pos_ = 0;
    left[i] += outLeft;
    right[i] += outRight;
  }
}

// ---- Mastering -----------------------------------------------------------------------------

void removeDc(float* samples, size_t frames, int channels, int sampleRate) {
  const double pole = 1 - 2 * kPi * 15 / sampleRate;
  for (int c = 0; c < channels; ++c) {
    double previousIn = 0, previousOut = 0;
    for (size_t i = 0; i < frames; ++i) {
      double in = samples[i * channels + c];
      double out = in - previousIn + pole * previousOut;
      previousIn = in;
      previousOut = out;
      samples[i * channels + c] = static_cast<float>(out);
    }
  }
}

void softClip(std::vector<float>& samples, double knee, double limit) {
  double room = limit - knee;
  for (float& s : samples) {
    double size = std::fabs(s);
    if (size <= knee) continue;
    // Slope 1 at the knee, flattening towards the limit.
    double rounded = knee + room * std::tanh((size - knee) / room);
    s = static_cast<float>(s < 0 ? -rounded : rounded);
  }
}

namespace {

constexpr double kLookaheadSeconds = 0.0015;
constexpr double kReleaseSeconds = 0.12;

// The gains the limiter may use, one per frame, with the look-ahead before the first frame in
// front: entry e stands for frame e - (look - 1). Before a loop's start lies its end.
struct GainPlan {
  std::vector<float> allowed;
  size_t look = 1;
  size_t frames = 0;
  bool loop = false;
};

// Every gain in the look-ahead before a peak must already be down to what that peak needs.
double markPeaks(const std::vector<float>& samples, int channels, double ceiling, GainPlan& plan) {
  double deepest = 1;
  const long look = static_cast<long>(plan.look), frames = static_cast<long>(plan.frames);
  for (long i = 0; i < frames; ++i) {
    float peak = 0;
    for (int c = 0; c < channels; ++c) peak = std::max(peak, std::fabs(samples[i * channels + c]));
    if (peak <= ceiling) continue;
    float gain = static_cast<float>(ceiling / peak);
    deepest = std::min(deepest, double(gain));
    for (long frame = i - look + 1; frame <= i; ++frame) {
      long wrapped = plan.loop && frame < 0 ? frame + frames : frame;
      float& value = plan.allowed[static_cast<size_t>(wrapped + look - 1)];
      value = std::min(value, gain);
    }
  }
  return deepest;
}

// The gain comes back up slowly; once around a loop first, so its start knows its end.
void releaseSlowly(GainPlan& plan, int sampleRate) {
  const float release = static_cast<float>(1 - std::exp(-1.0 / (kReleaseSeconds * sampleRate)));
  size_t first = plan.loop ? plan.look - 1 : 0;
  float held = 1;
  for (int pass = plan.loop ? 2 : 1; pass > 0; --pass) {
    for (size_t e = first; e < plan.allowed.size(); ++e) {
      held = std::min(plan.allowed[e], held + (1 - held) * release);
      if (pass == 1) plan.allowed[e] = held;
    }
  }
  if (!plan.loop) return;
  for (size_t e = 0; e < plan.look - 1; ++e) plan.allowed[e] = plan.allowed[e + plan.frames];
}

// Averaged over the look-ahead the gain glides; it still meets every peak, since all the values
// averaged for a frame are at most what that frame allows.
void applyGains(std::vector<float>& samples, int channels, double ceiling, const GainPlan& plan) {
  const std::vector<float>& allowed = plan.allowed;
  double sum = 0;
  for (size_t e = 0; e < plan.look; ++e) sum += allowed[e];
  const float limit = static_cast<float>(ceiling);
  for (size_t i = 0; i < plan.frames; ++i) {
    if (i > 0) sum += allowed[i + plan.look - 1] - allowed[i - 1];
    float gain = static_cast<float>(sum / static_cast<double>(plan.look));
    for (int c = 0; c < channels; ++c) {
      float& s = samples[i * channels + c];
      s = std::clamp(s * gain, -limit, limit);
    }
  }
}

}  // namespace

double limitPeaks(std::vector<float>& samples, int channels, int sampleRate, double ceiling,
                  bool loop) {
  GainPlan plan;
  plan.frames = samples.size() / channels;
  if (plan.frames == 0) return 0;
  plan.look = std::min(plan.frames, static_cast<size_t>(kLookaheadSeconds * sampleRate) + 1);
  plan.loop = loop;
  plan.allowed.assign(plan.frames + plan.look - 1, 1.0f);
  double deepest = markPeaks(samples, channels, ceiling, plan);
  if (deepest >= 1) return 0;
  releaseSlowly(plan, sampleRate);
  applyGains(samples, channels, ceiling, plan);
  return toDb(deepest);
}

double peakOf(const std::vector<float>& samples) {
  double peak = 0;
  for (float s : samples) peak = std::max(peak, double(std::fabs(s)));
  return peak;
}

double rmsOf(const std::vector<float>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (float s : samples) sum += double(s) * s;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace synth
