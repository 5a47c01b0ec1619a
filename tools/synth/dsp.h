// The building blocks of the synthesiser: noise, band-limited edges, a filter, the room and the
// echo, and the mastering steps (DC removal, limiter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace synth {

constexpr double kPi = 3.14159265358979323846;

// Small, fast and the same on every machine, so a build renders the same sound every time.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL) {}
  uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  double bipolar() { return uniform() * 2 - 1; }

 private:
  uint64_t state_;
};

// The correction that takes the corner off a jump of size 2 at phase 0 (t in 0..1, dt the phase
// step), so saws and squares do not fold their upper harmonics back down.
inline double polyBlep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1;
  }
  if (t > 1 - dt) {
    t = (t - 1) / dt;
    return t * t + t + t + 1;
  }
  return 0;
}

// A state-variable filter in trapezoidal form: stable while its cutoff sweeps.
class Svf {
 public:
  void tune(double cutoff, double resonance, double sampleRate);
  struct Out {
    double low, band, high;
  };
  Out process(double in) {
    double v3 = in - s2_;
    double v1 = a1_ * s1_ + a2_ * v3;
    double v2 = s2_ + a2_ * s1_ + a3_ * v3;
    s1_ = 2 * v1 - s1_;
    s2_ = 2 * v2 - s2_;
    // The band output is scaled to unity at its centre, whatever the resonance.
    return {v2, k_ * v1, in - k_ * v1 - v2};
  }

 private:
  double g_ = 0, k_ = 2, a1_ = 0, a2_ = 0, a3_ = 0;
  double s1_ = 0, s2_ = 0;
};

// A room: parallel damped combs into allpasses, one set per side, fed from a mono send.
class Reverb {
 public:
  Reverb(int sampleRate, double room, double damp);
  // Adds the room's answer to in into left and right.
  void process(const float* in, float* left, float* right, size_t frames);

 private:
  struct Comb {
    std::vector<float> line;
    size_t pos = 0;
    float store = 0;
  };
  struct Allpass {
    std::vector<float> line;
    size_t pos = 0;
  };
  float side(float in, std::vector<Comb>& combs, std::vector<Allpass>& passes);

  std::vector<Comb> combsLeft_, combsRight_;
  std::vector<Allpass> passesLeft_, passesRight_;
  std::vector<float> preDelay_;
  size_t preDelayPos_ = 0;
  float feedback_, damp_;
  float lowCut_ = 0, lowCutCoef_;
};

// A ping-pong echo: the first repeat on the left, the next on the right, each one darker.
class Echo {
 public:
  Echo(int sampleRate, double seconds, double feedback);
  void process(const float* in, float* left, float* right, size_t frames);

 private:
  std::vector<float> left_, right_;
  size_t pos_ = 0;
  float feedback_;
  float toneLeft_ = 0, toneRight_ = 0, toneCoef_;
};

// Takes out DC and the inaudible rumble below about 15 Hz.
void removeDc(float* samples, size_t frames, int channels, int sampleRate);

// Rounds off what rises above knee so that nothing exceeds limit: the sharpest drum peaks lose a
// few dB in a millisecond or two, where the limiter would have pumped the whole beat down.
void softClip(std::vector<float>& samples, double knee, double limit);

// Holds the peaks of interleaved samples at ceiling with smooth gain changes that start just
// before a peak. A loop is treated as a circle, so its seam sees the same gain on both sides.
// Returns the deepest gain reduction in dB (0 when nothing was over).
double limitPeaks(std::vector<float>& samples, int channels, int sampleRate, double ceiling,
                  bool loop);

double peakOf(const std::vector<float>& samples);
double rmsOf(const std::vector<float>& samples);
double toDb(double gain);
double fromDb(double db);

}  // namespace synth
