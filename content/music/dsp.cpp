#include "content/music/dsp.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace music {

namespace {

constexpr double kLog2e = 1.4426950408889634;

// sin(x) for |x| <= π/2, Taylor to x^13 (error below 1e-9).
double SinQuarter(double x) {
  const double x2 = x * x;
  double p = 1.0 / 6227020800.0;
  p = p * x2 - 1.0 / 39916800.0;
  p = p * x2 + 1.0 / 362880.0;
  p = p * x2 - 1.0 / 5040.0;
  p = p * x2 + 1.0 / 120.0;
  p = p * x2 - 1.0 / 6.0;
  p = p * x2 + 1.0;
  return p * x;
}

float PolyBlep(double t, double dt) {
  if (t < dt) {
    const double u = t / dt;
    return static_cast<float>(u + u - u * u - 1.0);
  }
  if (t > 1.0 - dt) {
    const double u = (t - 1.0) / dt;
    return static_cast<float>(u * u + u + u + 1.0);
  }
  return 0.0f;
}

}  // namespace

double SinTurns(double turns) {
  // Truncation instead of floor(): exact, and no library call per sample.
  double r = turns - static_cast<double>(static_cast<int64_t>(turns));
  if (r < 0.0) r += 1.0;
  if (r >= 0.5) r -= 1.0;
  if (r > 0.25) {
    r = 0.5 - r;
  } else if (r < -0.25) {
    r = -0.5 - r;
  }
  return SinQuarter(2.0 * kPi * r);
}

double CosTurns(double turns) { return SinTurns(turns + 0.25); }

double TanPi(double x) { return SinTurns(0.5 * x) / CosTurns(0.5 * x); }

double Exp2(double x) {
  x = std::clamp(x, -1000.0, 1000.0);
  const double n = std::floor(x);
  // 2^f = √2 · e^(g·ln2) with g in [-0.5, 0.5): the series converges fast.
  const double y = (x - n - 0.5) * 0.6931471805599453;
  double p = 1.0 / 39916800.0;
  p = p * y + 1.0 / 3628800.0;
  p = p * y + 1.0 / 362880.0;
  p = p * y + 1.0 / 40320.0;
  p = p * y + 1.0 / 5040.0;
  p = p * y + 1.0 / 720.0;
  p = p * y + 1.0 / 120.0;
  p = p * y + 1.0 / 24.0;
  p = p * y + 1.0 / 6.0;
  p = p * y + 0.5;
  p = p * y + 1.0;
  p = p * y + 1.0;
  return std::ldexp(p * 1.4142135623730951, static_cast<int>(n));
}

double Log2(double x) {
  int e = 0;
  double m = std::frexp(x, &e);
  if (m < 0.7071067811865476) {
    m *= 2.0;
    --e;
  }
  // ln m = 2·atanh(z), |z| <= 0.172.
  const double z = (m - 1.0) / (m + 1.0);
  const double z2 = z * z;
  double p = 1.0 / 17.0;
  for (int k = 15; k >= 1; k -= 2) p = p * z2 + 1.0 / k;
  return e + 2.0 * z * p * kLog2e;
}

float Saturate(float x) {
  if (x >= 3.0f) return 1.0f;
  if (x <= -3.0f) return -1.0f;
  const float x2 = x * x;
  return x * (27.0f + x2) / (27.0f + 9.0f * x2);
}

double MidiToHz(double note) { return 440.0 * Exp2((note - 69.0) / 12.0); }

float DbToGain(double db) { return static_cast<float>(Exp2(db * 0.16609640474436813)); }

double DecayCoefficient(double seconds) {
  if (seconds <= 0.0) return 0.0;
  return Exp2(-9.965784284662087 / (seconds * kSampleRate));
}

// --- Oscillator -----------------------------------------------------------

float Oscillator::Saw() {
  const float v = static_cast<float>(2.0 * phase_ - 1.0) - PolyBlep(phase_, increment_);
  Advance();
  return v;
}

float Oscillator::Square(float width) {
  double t2 = phase_ + 1.0 - width;
  if (t2 >= 1.0) t2 -= 1.0;
  float v = phase_ < width ? 1.0f : -1.0f;
  v += PolyBlep(phase_, increment_) - PolyBlep(t2, increment_);
  Advance();
  return v;
}

float Oscillator::Triangle() {
  const float v = static_cast<float>(4.0 * std::fabs(phase_ - 0.5) - 1.0);
  Advance();
  return v;
}

float Oscillator::SawTriangle(float softness) {
  const float saw = static_cast<float>(2.0 * phase_ - 1.0) - PolyBlep(phase_, increment_);
  const float triangle = static_cast<float>(4.0 * std::fabs(phase_ - 0.5) - 1.0);
  Advance();
  return saw + (triangle - saw) * softness;
}

float Oscillator::Sine() {
  const float v = static_cast<float>(SinTurns(phase_));
  Advance();
  return v;
}

// --- Envelope -------------------------------------------------------------

Envelope::Envelope(double attack, double decay, float sustain, double release, int64_t gateSamples)
    : stage_(Stage::Attack),
      sustain_(sustain),
      decayCoef_(static_cast<float>(DecayCoefficient(decay))),
      releaseCoef_(static_cast<float>(DecayCoefficient(release))),
      gate_(gateSamples) {
  const double attackSamples = std::floor(attack * kSampleRate + 0.5);
  attackStep_ = attackSamples >= 1.0 ? static_cast<float>(1.0 / attackSamples) : 1.0f;
}

float Envelope::Next() {
  if (position_ == gate_ && stage_ != Stage::Done) stage_ = Stage::Release;
  ++position_;
  switch (stage_) {
    case Stage::Attack:
      level_ += attackStep_;
      if (level_ >= 1.0f) {
        level_ = 1.0f;
        stage_ = Stage::Decay;
      }
      break;
    case Stage::Decay:
      level_ = sustain_ + (level_ - sustain_) * decayCoef_;
      break;
    case Stage::Release:
      level_ *= releaseCoef_;
      if (level_ < 1e-4f) {
        level_ = 0.0f;
        stage_ = Stage::Done;
      }
      break;
    case Stage::Done:
      break;
  }
  return level_;
}

// --- Filters --------------------------------------------------------------

void Svf::Set(double cutoffHz, double q) {
  const double fc = std::clamp(cutoffHz, 10.0, 0.45 * kSampleRate);
  const double g = TanPi(fc / kSampleRate);
  const double k = 1.0 / q;
  const double a1 = 1.0 / (1.0 + g * (g + k));
  a1_ = static_cast<float>(a1);
  a2_ = static_cast<float>(g * a1);
  a3_ = static_cast<float>(g * g * a1);
  k_ = static_cast<float>(k);
}

void Ladder::Set(double cutoffHz, float resonance) {
  const double fc = std::clamp(cutoffHz, 10.0, 0.45 * kSampleRate);
  const double g = TanPi(fc / kSampleRate);
  G_ = static_cast<float>(g / (1.0 + g));
  beta_ = static_cast<float>(1.0 / (1.0 + g));
  k_ = 3.9f * std::clamp(resonance, 0.0f, 1.0f);
}

float Ladder::Process(float x) {
  // Zero-delay feedback: solve for the first stage's input from the states.
  const float G = G_;
  const float S = ((beta_ * s_[0] * G + beta_ * s_[1]) * G + beta_ * s_[2]) * G + beta_ * s_[3];
  const float G4 = G * G * G * G;
  float u = (x * (1.0f + 0.5f * k_) - k_ * S) / (1.0f + k_ * G4) + kAntiDenormal;
  u = Saturate(u);
  for (float& s : s_) {
    const float v = (u - s) * G;
    const float y = v + s;
    s = y + v;
    u = y;
  }
  return u;
}

// --- Reverb ---------------------------------------------------------------

float Reverb::Allpass::Process(float x, float g) {
  const float delayed = buffer[position];
  const float w = x + g * delayed;
  buffer[position] = w;
  if (++position == static_cast<int>(buffer.size())) position = 0;
  return delayed - g * w;
}

Reverb::Reverb() {
  // Mutually prime lengths of 44-87 ms: no common echoes.
  static const int kLengths[kLines] = {1931, 2213, 2473, 2749, 3011, 3271, 3557, 3833};
  for (int i = 0; i < kLines; ++i) lines_[i].assign(kLengths[i], 0.0f);
  static const int kDiffusers[4] = {225, 556, 341, 441};
  for (int i = 0; i < 4; ++i) diffusers_[i].buffer.assign(kDiffusers[i], 0.0f);
  Set(2.5, 6000.0, 0.02);
}

void Reverb::Set(double rt60Seconds, double dampingHz, double preDelaySeconds) {
  for (int i = 0; i < kLines; ++i) {
    const double length = static_cast<double>(lines_[i].size());
    gains_[i] = static_cast<float>(Exp2(-9.965784284662087 * length / (rt60Seconds * kSampleRate)));
  }
  dampCoef_ = static_cast<float>(1.0 - Exp2(-2.0 * kPi * dampingHz / kSampleRate * kLog2e));
  preDelayLength_ = std::max(1, static_cast<int>(preDelaySeconds * kSampleRate));
  preDelay_.assign(2 * static_cast<size_t>(preDelayLength_), 0.0f);
  preDelayPosition_ = 0;
}

void Reverb::Process(const float* inL, const float* inR, float* outL, float* outR, int n) {
  constexpr float kScale = 0.35355339f;  // 1/√8 keeps the mixing matrix orthogonal
  for (int s = 0; s < n; ++s) {
    float* slot = &preDelay_[2 * static_cast<size_t>(preDelayPosition_)];
    const float dl = slot[0], dr = slot[1];
    slot[0] = inL[s] + kAntiDenormal;
    slot[1] = inR[s] + kAntiDenormal;
    if (++preDelayPosition_ == preDelayLength_) preDelayPosition_ = 0;
    const float xl = diffusers_[1].Process(diffusers_[0].Process(dl, 0.6f), 0.6f);
    const float xr = diffusers_[3].Process(diffusers_[2].Process(dr, 0.6f), 0.6f);

    float y[kLines];
    for (int i = 0; i < kLines; ++i) {
      const float out = lines_[i][positions_[i]];
      damp_[i] += (out - damp_[i]) * dampCoef_;
      y[i] = damp_[i] * gains_[i];
    }
    outL[s] += 0.4f * (y[0] - y[2] + y[4] - y[6]);
    outR[s] += 0.4f * (y[1] - y[3] + y[5] - y[7]);
    // Fast Walsh-Hadamard transform.
    for (int h = 1; h < kLines; h *= 2) {
      for (int i = 0; i < kLines; i += 2 * h) {
        for (int j = i; j < i + h; ++j) {
          const float a = y[j], b = y[j + h];
          y[j] = a + b;
          y[j + h] = a - b;
        }
      }
    }
    for (int i = 0; i < kLines; ++i) {
      lines_[i][positions_[i]] = y[i] * kScale + ((i & 1) ? xr : xl);
      if (++positions_[i] == static_cast<int>(lines_[i].size())) positions_[i] = 0;
    }
  }
}

// --- Delay ----------------------------------------------------------------

PingPongDelay::PingPongDelay(int samples, float feedback, double toneHz)
    : left_(static_cast<size_t>(std::max(1, samples)), 0.0f),
      right_(static_cast<size_t>(std::max(1, samples)), 0.0f),
      feedback_(feedback),
      toneCoef_(static_cast<float>(1.0 - Exp2(-2.0 * kPi * toneHz / kSampleRate * kLog2e))) {}

void PingPongDelay::Process(const float* inL, const float* inR, float* outL, float* outR, int n) {
  const int size = static_cast<int>(left_.size());
  for (int s = 0; s < n; ++s) {
    const float dl = left_[position_], dr = right_[position_];
    lowL_ += (dl - lowL_) * toneCoef_;
    lowR_ += (dr - lowR_) * toneCoef_;
    // The first echo comes from the left, the next from the right, and so on.
    left_[position_] = 0.5f * (inL[s] + inR[s]) + feedback_ * lowR_ + kAntiDenormal;
    right_[position_] = feedback_ * lowL_ + kAntiDenormal;
    if (++position_ == size) position_ = 0;
    outL[s] += dl;
    outR[s] += dr;
  }
}

// --- Peaks and limiter ----------------------------------------------------

PeakInterpolator::PeakInterpolator(int halfTaps) : halfTaps_(halfTaps) {
  for (int p = 0; p < 3; ++p) {
    const double f = (p + 1) * 0.25;
    std::vector<float>& taps = phases_[p];
    double sum = 0.0;
    std::vector<double> h;
    for (int j = -halfTaps + 1; j <= halfTaps; ++j) {
      const double z = f - j;
      const double sinc = SinTurns(0.5 * z) / (kPi * z);
      const double u = z / halfTaps;
      const double window = 0.42 + 0.5 * CosTurns(0.5 * u) + 0.08 * CosTurns(u);
      h.push_back(sinc * window);
      sum += sinc * window;
    }
    for (double v : h) taps.push_back(static_cast<float>(v / sum));
  }
}

float PeakInterpolator::BetweenPeak(const float* x, int64_t n, int64_t i) const {
  float peak = 0.0f;
  const int64_t first = i - halfTaps_ + 1;
  for (const std::vector<float>& taps : phases_) {
    float acc = 0.0f;
    if (first >= 0 && first + 2 * halfTaps_ <= n) {
      for (int j = 0; j < 2 * halfTaps_; ++j) acc += x[first + j] * taps[j];
    } else {
      for (int j = 0; j < 2 * halfTaps_; ++j) {
        const int64_t k = first + j;
        if (k >= 0 && k < n) acc += x[k] * taps[j];
      }
    }
    peak = std::max(peak, std::fabs(acc));
  }
  return peak;
}

void Limit(std::vector<float>& left, std::vector<float>& right, const LimiterSettings& settings) {
  const int64_t n = static_cast<int64_t>(std::min(left.size(), right.size()));
  if (n == 0) return;
  const float ceiling = DbToGain(settings.ceilingDb);
  const int64_t look = std::max<int64_t>(1, static_cast<int64_t>(settings.lookAheadSeconds * kSampleRate));
  const double release = 1.0 - Exp2(-kLog2e / (settings.releaseSeconds * kSampleRate));

  // Gain each sample needs, counting the inter-sample peaks on both sides.
  const PeakInterpolator interpolator(8);
  std::vector<float> need(static_cast<size_t>(n));
  float previousBetween = 0.0f;
  for (int64_t i = 0; i < n; ++i) {
    const float between = std::max(interpolator.BetweenPeak(left.data(), n, i),
                                   interpolator.BetweenPeak(right.data(), n, i));
    const float peak = std::max({std::fabs(left[i]), std::fabs(right[i]), between, previousBetween});
    previousBetween = between;
    need[i] = peak > ceiling ? ceiling / peak : 1.0f;
  }

  // hold = minimum of need over the last `look` samples; env releases slowly
  // from it; the gain at i is the mean of env over [i, i + look), which never
  // exceeds need[i] and ramps in smoothly.
  std::deque<int64_t> window;
  std::vector<double> ring(static_cast<size_t>(look), 1.0);
  double env = 1.0, sum = static_cast<double>(look);
  for (int64_t k = 0; k < n + look - 1; ++k) {
    if (k < n) {
      while (!window.empty() && need[window.back()] >= need[k]) window.pop_back();
      window.push_back(k);
    }
    while (!window.empty() && window.front() <= k - look) window.pop_front();
    const double hold = window.empty() ? 1.0 : static_cast<double>(need[window.front()]);
    env = hold < env ? hold : env + (hold - env) * release;
    const size_t slot = static_cast<size_t>(k % look);
    sum += env - ring[slot];
    ring[slot] = env;
    const int64_t i = k - look + 1;
    if (i >= 0) {
      const float gain = static_cast<float>(std::min(sum / static_cast<double>(look), 1.0));
      left[i] *= gain;
      right[i] *= gain;
    }
  }
}

}  // namespace music
