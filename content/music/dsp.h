#pragma once

// Building blocks of the synthesizer. Everything that shapes a sample uses
// only IEEE arithmetic (+ - * / sqrt floor), never libm's transcendental
// functions, whose last bits differ between C libraries: the same score gives
// the same samples everywhere.

#include <cstdint>
#include <vector>

namespace music {

constexpr int kSampleRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// Keeps long-running feedback states out of the denormal range; far below
// anything audible.
constexpr float kAntiDenormal = 1e-20f;

double SinTurns(double turns);  // sin(2π·turns), |turns| < 2^62
double CosTurns(double turns);
double TanPi(double x);         // tan(π·x), x in [0, 0.5)
double Exp2(double x);
double Log2(double x);          // x > 0
float Saturate(float x);        // smooth tanh-like curve, ±1 for |x| >= 3
double MidiToHz(double note);
float DbToGain(double db);
// Per-sample multiplier that falls by 60 dB in the given time.
double DecayCoefficient(double seconds);

// xorshift32: white noise from a fixed seed.
class Noise {
 public:
  explicit Noise(std::uint32_t seed = 0x9e3779b9u) : state_(seed ? seed : 1u) {}
  float Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<float>(static_cast<std::int32_t>(state_)) * (1.0f / 2147483648.0f);
  }
  // Uniform in [0, 1).
  double Unit() { return (static_cast<double>(Next()) + 1.0) * 0.5; }

 private:
  std::uint32_t state_;
};

// Band-limited oscillator: PolyBLEP corrections at the discontinuities.
class Oscillator {
 public:
  void SetFrequency(double hz) { increment_ = hz / kSampleRate; }
  void SetPhase(double phase) { phase_ = phase - static_cast<double>(static_cast<int64_t>(phase)); }
  double Phase() const { return phase_; }
  float Saw();
  float Square(float width = 0.5f);
  float Triangle();
  float Sine();
  // Blend of saw (softness 0) and triangle (softness 1) from one phase.
  float SawTriangle(float softness);

 private:
  void Advance() {
    phase_ += increment_;
    if (phase_ >= 1.0) phase_ -= 1.0;
  }
  double phase_ = 0.0;
  double increment_ = 0.0;
  float integrator_ = 0.0f;
};

// Linear attack, exponential decay and release (times are to -60 dB). The
// gate length is known when the note starts.
class Envelope {
 public:
  Envelope() = default;
  Envelope(double attack, double decay, float sustain, double release, int64_t gateSamples);
  float Next();
  bool Done() const { return stage_ == Stage::Done; }
  float Level() const { return level_; }

 private:
  enum class Stage { Attack, Decay, Release, Done };
  Stage stage_ = Stage::Done;
  float level_ = 0.0f;
  float attackStep_ = 1.0f;
  float sustain_ = 0.0f;
  float decayCoef_ = 0.0f;
  float releaseCoef_ = 0.0f;
  int64_t gate_ = 0;
  int64_t position_ = 0;
};

// State-variable filter (trapezoidal integration, stable under modulation).
class Svf {
 public:
  void Set(double cutoffHz, double q);
  struct Out {
    float low, band, high;
  };
  Out Process(float x) {
    const float v3 = x - ic2_;
    const float v1 = a1_ * ic1_ + a2_ * v3;
    const float v2 = ic2_ + a2_ * ic1_ + a3_ * v3;
    ic1_ = 2.0f * v1 - ic1_;
    ic2_ = 2.0f * v2 - ic2_;
    return {v2, v1, x - k_ * v1 - v2};
  }
  float Low(float x) { return Process(x).low; }
  float Band(float x) { return Process(x).band; }
  float High(float x) { return Process(x).high; }

 private:
  float a1_ = 0, a2_ = 0, a3_ = 0, k_ = 1.414f;
  float ic1_ = 0, ic2_ = 0;
};

// Four-pole ladder low-pass with resonance and a saturating input.
class Ladder {
 public:
  void Set(double cutoffHz, float resonance);  // resonance 0..1 (self-oscillation near 1)
  float Process(float x);

 private:
  float G_ = 0, beta_ = 1, k_ = 0;
  float s_[4] = {0, 0, 0, 0};
};

// One-pole DC blocker.
class DcBlocker {
 public:
  float Process(float x) {
    const float y = x - x1_ + 0.9993f * y1_ + kAntiDenormal;
    x1_ = x;
    y1_ = y;
    return y;
  }

 private:
  float x1_ = 0, y1_ = 0;
};

// Stereo feedback delay network reverb with input diffusion and damping.
class Reverb {
 public:
  Reverb();
  void Set(double rt60Seconds, double dampingHz, double preDelaySeconds);
  // Reads the send buffers and adds the wet signal to out.
  void Process(const float* inL, const float* inR, float* outL, float* outR, int n);

 private:
  static constexpr int kLines = 8;
  struct Allpass {
    std::vector<float> buffer;
    int position = 0;
    float Process(float x, float g);
  };
  std::vector<float> lines_[kLines];
  int positions_[kLines] = {};
  float gains_[kLines] = {};
  float damp_[kLines] = {};
  float dampCoef_ = 0.5f;
  Allpass diffusers_[4];
  std::vector<float> preDelay_;
  int preDelayLength_ = 1;
  int preDelayPosition_ = 0;
};

// Tempo-synced ping-pong delay with a darkening feedback path.
class PingPongDelay {
 public:
  PingPongDelay(int samples, float feedback, double toneHz);
  void Process(const float* inL, const float* inR, float* outL, float* outR, int n);

 private:
  std::vector<float> left_, right_;
  int position_ = 0;
  float feedback_;
  float toneCoef_;
  float lowL_ = 0, lowR_ = 0;
};

// 4x oversampling interpolator for inter-sample peaks (windowed sinc).
class PeakInterpolator {
 public:
  explicit PeakInterpolator(int halfTaps);
  // Largest magnitude of the signal at i + 1/4, 2/4, 3/4 (x has n samples;
  // outside that range it is zero).
  float BetweenPeak(const float* x, int64_t n, int64_t i) const;

 private:
  int halfTaps_;
  std::vector<float> phases_[3];
};

// Look-ahead limiter over whole buffers: the gain reaches what a peak needs
// before the peak arrives, so the true peak stays below the ceiling.
struct LimiterSettings {
  double ceilingDb = -1.5;
  double lookAheadSeconds = 0.003;
  double releaseSeconds = 0.12;
};
void Limit(std::vector<float>& left, std::vector<float>& right, const LimiterSettings& settings);

}  // namespace music
