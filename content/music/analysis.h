#pragma once

// Measurements of rendered or decoded audio, and the music curve made from
// the beat.

#include <cstdint>
#include <vector>

namespace music {

// Integrated loudness in LUFS (ITU-R BS.1770: K-weighting, 400 ms blocks
// overlapping by 75 %, absolute gate at -70 LUFS, relative gate 10 LU down).
double IntegratedLoudness(const std::vector<float>& left, const std::vector<float>& right, int sampleRate);

// Largest magnitude of the 4x oversampled signal, in dBFS.
double TruePeakDb(const std::vector<float>& left, const std::vector<float>& right);

// Mean of the samples (both channels).
double DcOffset(const std::vector<float>& left, const std::vector<float>& right);

// Onset of a bright note near `expected` seconds: the steepest rise of the
// energy above 4 kHz within ±`search` seconds. Returns the onset in seconds
// and writes the size of the rise in dB to *riseDb when given.
double FindOnset(const std::vector<float>& left, const std::vector<float>& right, int sampleRate,
                 double expected, double search, double* riseDb = nullptr);

struct Knot {
  int frame;  // 1/25 s
  double y;
};
// Beat envelope per animation frame (25 per second), scaled so that a strong
// beat reaches `peak` and nothing exceeds it, then thinned to the knots a
// straight-line interpolation needs within `tolerance`.
std::vector<Knot> BeatCurve(const std::vector<float>& beat, int sampleRate, double peak, double tolerance);

}  // namespace music
