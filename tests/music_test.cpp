// The music: the synthesizer's building blocks, and the track the build
// renders, decoded from its MP3 the way the demo plays it.
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "content/music/analysis.h"
#include "content/music/dsp.h"
#include "content/music/score.h"
#include "content/music/song.h"

namespace {

using namespace music;

// Rising zero crossings per second of a signal with its mean removed.
double ZeroCrossingHz(const std::vector<float>& x) {
  double mean = 0.0;
  for (float v : x) mean += v;
  mean /= static_cast<double>(x.size());
  int crossings = 0;
  for (size_t i = 1; i < x.size(); ++i) crossings += (x[i - 1] - mean < 0.0) && (x[i] - mean >= 0.0);
  return crossings * static_cast<double>(kSampleRate) / static_cast<double>(x.size());
}

TEST(MusicSynth, OscillatorsSoundAtTheirPitch) {
  for (double hz : {55.0, 440.0, 3520.0}) {
    std::vector<float> saw, square, triangle, sine;
    Oscillator a, b, c, d;
    for (Oscillator* o : {&a, &b, &c, &d}) o->SetFrequency(hz);
    for (int i = 0; i < kSampleRate; ++i) {
      saw.push_back(a.Saw()), square.push_back(b.Square(0.3f));
      triangle.push_back(c.Triangle()), sine.push_back(d.Sine());
    }
    for (const auto* wave : {&saw, &square, &triangle, &sine}) EXPECT_NEAR(ZeroCrossingHz(*wave), hz, 1.0) << hz;
  }
  EXPECT_NEAR(MidiToHz(69.0), 440.0, 1e-9);
  EXPECT_NEAR(MidiToHz(Pitch("D5")), 587.3295, 1e-3);
  EXPECT_NEAR(MidiToHz(Pitch("Bb1")), 58.2705, 1e-3);
}

TEST(MusicSynth, EnvelopeKeepsItsTimes) {
  // 10 ms attack, decay to 0.5, key held 0.2 s, 0.3 s release to -60 dB.
  const int64_t gate = kSampleRate / 5;
  Envelope env(0.010, 0.05, 0.5f, 0.3, gate);
  std::vector<float> level;
  while (!env.Done() && level.size() < 2u * kSampleRate) level.push_back(env.Next());
  const auto peak = std::find(level.begin(), level.end(), 1.0f) - level.begin();
  EXPECT_EQ(peak, 440);  // the 441st sample
  EXPECT_NEAR(level[gate - 1], 0.5f, 1e-3f);
  const int64_t release = static_cast<int64_t>(0.3 * kSampleRate);
  EXPECT_NEAR(level[gate - 1 + release] / level[gate - 1], 1e-3, 1e-4);
  // It ends at -80 dBFS, 74 dB under the sustain: 0.37 s after the key is let go.
  EXPECT_NEAR(static_cast<double>(level.size() - gate) / kSampleRate, 0.37, 0.005);
}

TEST(MusicSynth, LimiterHoldsItsCeilingAndLetsGo) {
  // A +6 dBFS tone, then a quarter-rate tone whose samples miss its peaks,
  // then a quiet tone the limiter must leave alone once it has released.
  std::vector<float> left, right;
  for (int i = 0; i < 3 * kSampleRate; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    double v = 0.1 * SinTurns(330.0 * t);
    if (t < 0.5) v = 2.0 * SinTurns(1000.0 * t);
    else if (t < 1.0) v = 1.2 * SinTurns(0.25 * i + 0.125);
    left.push_back(static_cast<float>(v));
    right.push_back(static_cast<float>(-0.5 * v));
  }
  const std::vector<float> input = left;
  LimiterSettings settings;
  settings.ceilingDb = -2.0;
  Limit(left, right, settings);
  EXPECT_LE(TruePeakDb(left, right), -2.0 + 0.05);
  for (int i = 2 * kSampleRate; i < 3 * kSampleRate; ++i) ASSERT_NEAR(left[i], input[i], 1e-3 * 0.1) << i;
  EXPECT_GT(TruePeakDb(std::vector<float>(left.begin(), left.begin() + kSampleRate / 2), {}), -2.3);
}

// One note of every instrument through the mixer, the effects and the limiter.
Song Patch() {
  Song song;
  song.seconds = 1.5;
  const auto add = [&](auto instrument, double pitch, float reverb, float delay) {
    Track track;
    track.instrument = std::make_shared<decltype(instrument)>(instrument);
    track.notes.push_back({0.05 * static_cast<double>(song.tracks.size()), 0.4, pitch, 0.9f});
    track.reverb = reverb;
    track.delay = delay;
    track.duck = 0.5f;
    song.tracks.push_back(track);
  };
  add(Kick{}, 60, 0.0f, 0.0f);
  song.tracks.back().duckSource = song.tracks.back().beatSource = true;
  add(Snare{}, 60, 0.2f, 0.0f), add(Clap{}, 60, 0.2f, 0.0f), add(Hat{}, 60, 0.0f, 0.3f);
  add(Bubble{}, 80, 0.5f, 0.0f), add(Bass{}, 38, 0.0f, 0.0f), add(Pad{}, 62, 0.5f, 0.0f);
  add(Lead{}, 74, 0.3f, 0.3f), add(Pluck{}, 69, 0.2f, 0.4f), add(Bell{}, 86, 0.5f, 0.0f);
  add(EPiano{}, 57, 0.3f, 0.0f), add(Sweep{}, 60, 0.3f, 0.0f), add(Sub{}, 38, 0.0f, 0.0f);
  song.tracks[6].filter = FilterMode::LowPass;
  song.tracks[6].cutoffHz.At(0.0, 300.0f).At(1.0, 5000.0f);
  song.masterDb = 6.0f;  // into the limiter
  return song;
}

std::uint64_t Hash(const Rendering& r) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the sample bits
  for (const std::vector<float>* channel : {&r.left, &r.right, &r.beat}) {
    for (float v : *channel) {
      std::uint32_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      for (int k = 0; k < 4; ++k) h = (h ^ ((bits >> (8 * k)) & 0xffu)) * 1099511628211ull;
    }
  }
  return h;
}

TEST(MusicSynth, RenderingIsTheSameEverywhere) {
  const Rendering a = RenderSong(Patch());
  const Rendering b = RenderSong(Patch());
  ASSERT_EQ(a.left.size(), static_cast<size_t>(1.5 * kSampleRate));
  EXPECT_EQ(Hash(a), Hash(b));
  // The samples depend on nothing but IEEE arithmetic. If the synthesis is
  // changed on purpose, put the new value here.
  EXPECT_EQ(Hash(a), 0x74b86f6ba32017eeull) << std::hex << Hash(a);
}

TEST(MusicScore, HighPitchNotesStartOnTheirTimes) {
  const Rendering r = RenderSong(DemoSong(), 13.5);
  for (double t : kHighPitchTimes) {
    double rise = 0.0;
    EXPECT_NEAR(FindOnset(r.left, r.right, kSampleRate, t, 0.02, &rise), t, 0.001);
    EXPECT_GT(rise, 6.0) << t;
  }
}

// --- The track as the build made it ------------------------------------------

struct Decoded {
  std::vector<float> left, right;
  long rate = 0;
  int channels = 0;
};

Decoded DecodeMp3(const std::string& path) {
  Decoded out;
  mpg123_init();
  int error = MPG123_OK;
  mpg123_handle* mh = mpg123_new(nullptr, &error);
  if (mh == nullptr) return out;
  // Gapless: the LAME tag's encoder delay and padding are dropped, as the
  // demo's player does.
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
  mpg123_format_none(mh);
  mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_FLOAT_32);
  int encoding = 0;
  if (mpg123_open(mh, path.c_str()) == MPG123_OK && mpg123_getformat(mh, &out.rate, &out.channels, &encoding) == MPG123_OK) {
    std::vector<unsigned char> buffer(1 << 16);
    size_t bytes = 0;
    int rc = MPG123_OK;
    while ((rc = mpg123_read(mh, buffer.data(), buffer.size(), &bytes)) == MPG123_OK || bytes > 0) {
      std::vector<float> f(bytes / sizeof(float));
      std::memcpy(f.data(), buffer.data(), f.size() * sizeof(float));
      for (size_t i = 0; i + 1 < f.size(); i += 2) out.left.push_back(f[i]), out.right.push_back(f[i + 1]);
      if (rc != MPG123_OK) break;
    }
    mpg123_close(mh);
  }
  mpg123_delete(mh);
  return out;
}

class MusicTrack : public testing::Test {
 protected:
  static void SetUpTestSuite() { track_ = new Decoded(DecodeMp3(VELOX_MUSIC_MP3)); }
  static void TearDownTestSuite() { delete track_; }
  static Decoded* track_;
};
Decoded* MusicTrack::track_ = nullptr;

TEST_F(MusicTrack, IsTheDemosLengthAndLevel) {
  const Decoded& t = *track_;
  ASSERT_EQ(t.rate, 44100);
  ASSERT_EQ(t.channels, 2);
  // Exactly 154 s: the encoder's delay and padding are compensated.
  EXPECT_EQ(t.left.size(), 154u * 44100u);
  EXPECT_LE(TruePeakDb(t.left, t.right), -1.0);
  EXPECT_NEAR(IntegratedLoudness(t.left, t.right, 44100), -14.0, 1.0);
  EXPECT_LT(std::fabs(DcOffset(t.left, t.right)), 1e-3);
  // No gaps: every half second until the fade holds sound.
  for (size_t from = 0; from + 22050 <= 150u * 44100u && from + 22050 <= t.left.size(); from += 22050) {
    double power = 0.0;
    for (size_t i = from; i < from + 22050; ++i) power += double(t.left[i]) * t.left[i] + double(t.right[i]) * t.right[i];
    EXPECT_GT(10.0 * std::log10(power / 44100.0 + 1e-30), -50.0) << "silent at " << from / 44100.0 << " s";
  }
}

TEST_F(MusicTrack, HighPitchOnsetsSurviveTheEncoding) {
  for (double t : kHighPitchTimes) {
    double rise = 0.0;
    EXPECT_NEAR(FindOnset(track_->left, track_->right, 44100, t, 0.02, &rise), t, 0.005);
    EXPECT_GT(rise, 6.0) << t;
  }
}

TEST(MusicCurve, FollowsEveryBeatWithinTheFieldOfViewLimit) {
  std::ifstream in(VELOX_MUSIC_CURVE);
  ASSERT_TRUE(in) << VELOX_MUSIC_CURVE;
  std::vector<std::pair<int, double>> knots;
  int x = 0;
  double y = 0.0;
  while (in >> x >> y) knots.emplace_back(x, y);
  ASSERT_GT(knots.size(), 200u);
  EXPECT_EQ(knots.front().first, 0);
  EXPECT_EQ(knots.back().first, 154 * 25);
  double top = 0.0;
  for (size_t k = 0; k < knots.size(); ++k) {
    if (k > 0) {
      EXPECT_GT(knots[k].first, knots[k - 1].first);
    }
    EXPECT_GE(knots[k].second, 0.0);
    top = std::max(top, knots[k].second);
  }
  EXPECT_GE(0.7853982 - top * 0.009, 0.45);
  EXPECT_LE(0.7853982 - top * 0.009, 0.55);  // and it does pulse
  // The fall (56-96 s) has a kick on every beat: 80 peaks.
  int peaks = 0;
  for (size_t k = 1; k + 1 < knots.size(); ++k) {
    const bool inFall = knots[k].first >= 56 * 25 && knots[k].first < 96 * 25;
    peaks += inFall && knots[k].second > knots[k - 1].second && knots[k].second >= knots[k + 1].second &&
             knots[k].second > 0.5 * top;
  }
  EXPECT_EQ(peaks, 80);
}

}  // namespace
