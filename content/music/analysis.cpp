#include "content/music/analysis.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "content/music/dsp.h"

namespace music {

namespace {

struct Biquad {
  double b0, b1, b2, a1, a2;
  double z1 = 0.0, z2 = 0.0;
  double Process(double x) {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
};

// The two K-weighting stages (high shelf, then high pass), derived from
// their analog prototypes for any sample rate.
void KWeighting(int rate, Biquad& shelf, Biquad& highPass) {
  double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
  double k = std::tan(kPi * f0 / rate);
  const double vh = std::pow(10.0, gainDb / 20.0);
  const double vb = std::pow(vh, 0.4996667741545416);
  double a0 = 1.0 + k / q + k * k;
  shelf = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
           2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
  f0 = 38.13547087602444, q = 0.5003270373238773;
  k = std::tan(kPi * f0 / rate);
  a0 = 1.0 + k / q + k * k;
  highPass = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

}  // namespace

double IntegratedLoudness(const std::vector<float>& left, const std::vector<float>& right, int sampleRate) {
  const size_t n = std::min(left.size(), right.size());
  const size_t step = static_cast<size_t>(sampleRate / 10);
  if (step == 0 || n < 4 * step) return -HUGE_VAL;
  Biquad shelfL{}, passL{}, shelfR{}, passR{};
  KWeighting(sampleRate, shelfL, passL);
  KWeighting(sampleRate, shelfR, passR);
  // Energy per 100 ms; a 400 ms block is four of them.
  std::vector<double> segments(n / step, 0.0);
  for (size_t i = 0; i < segments.size() * step; ++i) {
    const double l = passL.Process(shelfL.Process(left[i]));
    const double r = passR.Process(shelfR.Process(right[i]));
    segments[i / step] += l * l + r * r;
  }
  std::vector<double> blocks;
  for (size_t j = 0; j + 3 < segments.size(); ++j) {
    blocks.push_back((segments[j] + segments[j + 1] + segments[j + 2] + segments[j + 3]) / (4.0 * step));
  }
  const auto loudness = [](double power) { return -0.691 + 10.0 * std::log10(power); };
  const auto gatedMean = [&](double threshold) {
    double sum = 0.0;
    size_t count = 0;
    for (double z : blocks) {
      if (z > 0.0 && loudness(z) > threshold) sum += z, ++count;
    }
    return count ? sum / count : 0.0;
  };
  const double absolute = gatedMean(-70.0);
  if (absolute <= 0.0) return -HUGE_VAL;
  const double relative = gatedMean(std::max(-70.0, loudness(absolute) - 10.0));
  return loudness(relative);
}

double TruePeakDb(const std::vector<float>& left, const std::vector<float>& right) {
  const PeakInterpolator interpolator(16);
  float peak = 0.0f;
  for (const std::vector<float>* channel : {&left, &right}) {
    const std::vector<float>& x = *channel;
    const int64_t n = static_cast<int64_t>(x.size());
    for (int64_t i = 0; i < n; ++i) {
      const float here = std::fabs(x[i]);
      const float next = i + 1 < n ? std::fabs(x[i + 1]) : 0.0f;
      peak = std::max(peak, here);
      // Between two samples the band-limited signal does not reach twice
      // their larger magnitude in any real programme: skip the quiet ones.
      if (2.0f * std::max(here, next) > peak) peak = std::max(peak, interpolator.BetweenPeak(x.data(), n, i));
    }
  }
  return peak > 0.0f ? 20.0 * std::log10(peak) : -HUGE_VAL;
}

double DcOffset(const std::vector<float>& left, const std::vector<float>& right) {
  double sum = 0.0;
  for (float v : left) sum += v;
  for (float v : right) sum += v;
  const size_t count = left.size() + right.size();
  return count ? sum / static_cast<double>(count) : 0.0;
}

double FindOnset(const std::vector<float>& left, const std::vector<float>& right, int sampleRate,
                 double expected, double search, double* riseDb) {
  const int64_t n = static_cast<int64_t>(std::min(left.size(), right.size()));
  const int64_t window = sampleRate / 500;  // 2 ms
  const int64_t from = std::max<int64_t>(0, static_cast<int64_t>((expected - search - 0.05) * sampleRate));
  const int64_t to = std::min<int64_t>(n, static_cast<int64_t>((expected + search) * sampleRate) + window + 1);
  if (to - from < 4 * window) return -1.0;

  // Energy above 4 kHz (two cascaded high passes) and its running sum.
  Svf a, b;
  a.Set(4000.0 * kSampleRate / sampleRate, 0.707);
  b.Set(4000.0 * kSampleRate / sampleRate, 0.707);
  std::vector<double> cumulative(static_cast<size_t>(to - from + 1), 0.0);
  for (int64_t i = from; i < to; ++i) {
    const float h = b.High(a.High(0.5f * (left[i] + right[i])));
    cumulative[static_cast<size_t>(i - from + 1)] = cumulative[static_cast<size_t>(i - from)] + double(h) * h;
  }
  const auto energy = [&](int64_t begin) {  // over [begin, begin + window)
    return cumulative[static_cast<size_t>(begin + window - from)] - cumulative[static_cast<size_t>(begin - from)];
  };
  const int64_t first = std::max(from + window, static_cast<int64_t>((expected - search) * sampleRate));
  const int64_t last = std::min(to - window, static_cast<int64_t>((expected + search) * sampleRate));
  double floor = 0.0;
  for (int64_t k = first; k <= last; ++k) floor = std::max(floor, energy(k));
  floor = floor * 1e-4 + 1e-12;
  double best = 0.0;
  int64_t at = first;
  for (int64_t k = first; k <= last; ++k) {
    const double ratio = (energy(k) + floor) / (energy(k - window) + floor);
    if (ratio > best) best = ratio, at = k;
  }
  if (riseDb != nullptr) *riseDb = 10.0 * std::log10(best);
  return static_cast<double>(at) / sampleRate;
}

std::vector<Knot> BeatCurve(const std::vector<float>& beat, int sampleRate, double peak, double tolerance) {
  const int64_t n = static_cast<int64_t>(beat.size());
  const int64_t perFrame = sampleRate / 25;
  const int64_t frames = n > 0 ? (n - 1 + perFrame / 2) / perFrame + 1 : 1;
  // Peak follower with a 0.12 s release, then the largest value around each
  // frame's instant.
  const double release = Exp2(-1.4426950408889634 / (0.12 * sampleRate));
  std::vector<double> values(static_cast<size_t>(frames), 0.0);
  double env = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    env = std::max(static_cast<double>(std::fabs(beat[i])), env * release);
    if (env < 1e-12) env = 0.0;
    const int64_t frame = (i + perFrame / 2) / perFrame;
    values[static_cast<size_t>(frame)] = std::max(values[static_cast<size_t>(frame)], env);
  }
  // A strong beat (the 90th percentile of the envelope's peaks) reaches
  // `peak`; a rare louder hit is clipped there rather than shrinking all
  // the others.
  std::vector<double> peaks;
  for (size_t k = 1; k + 1 < values.size(); ++k) {
    if (values[k] > values[k - 1] && values[k] >= values[k + 1]) peaks.push_back(values[k]);
  }
  double reference = 0.0;
  if (!peaks.empty()) {
    const size_t at = peaks.size() * 9 / 10;
    std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(at), peaks.end());
    reference = peaks[at];
  }
  const double scale = reference > 0.0 ? peak / reference : 0.0;
  for (double& v : values) v = std::min(peak, v * scale);

  // Ramer-Douglas-Peucker on (frame, value), without recursion.
  std::vector<bool> keep(values.size(), false);
  keep.front() = keep.back() = true;
  std::vector<std::pair<size_t, size_t>> spans{{0, values.size() - 1}};
  while (!spans.empty()) {
    const auto [a, b] = spans.back();
    spans.pop_back();
    double worst = tolerance;
    size_t at = 0;
    for (size_t k = a + 1; k < b; ++k) {
      const double line = values[a] + (values[b] - values[a]) * double(k - a) / double(b - a);
      const double error = std::fabs(values[k] - line);
      if (error > worst) worst = error, at = k;
    }
    if (at != 0) {
      keep[at] = true;
      spans.emplace_back(a, at);
      spans.emplace_back(at, b);
    }
  }
  std::vector<Knot> knots;
  for (size_t k = 0; k < values.size(); ++k) {
    if (keep[k]) knots.push_back({static_cast<int>(k), values[k]});
  }
  return knots;
}

}  // namespace music
