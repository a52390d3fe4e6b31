#include "content/music/song.h"

#include <algorithm>
#include <cmath>

namespace music {

int64_t ToSamples(double seconds) { return static_cast<int64_t>(std::floor(seconds * kSampleRate + 0.5)); }

Automation& Automation::At(double seconds, float value) {
  if (constant_) {
    points_.clear();
    constant_ = false;
  }
  points_.emplace_back(seconds, value);
  return *this;
}

float Automation::operator()(double seconds) const {
  if (points_.size() == 1 || seconds <= points_.front().first) return points_.front().second;
  if (seconds >= points_.back().first) return points_.back().second;
  const auto next = std::upper_bound(points_.begin(), points_.end(), seconds,
                                     [](double t, const std::pair<double, float>& p) { return t < p.first; });
  const auto previous = next - 1;
  const double span = next->first - previous->first;
  if (span <= 0.0) return next->second;
  const double f = (seconds - previous->first) / span;
  return static_cast<float>(previous->second + (next->second - previous->second) * f);
}

namespace {

constexpr int kBlock = 64;

struct TrackState {
  const Track* track = nullptr;
  std::vector<size_t> order;  // notes by start time
  size_t next = 0;
  std::vector<std::unique_ptr<Voice>> voices;
  Svf filterL, filterR;
  float panL = 1.0f, panR = 1.0f;
  std::uint32_t seedBase = 1;
};

// Kick ducking: a quick dip and a smooth recovery over 0.3 s.
float DuckShape(int64_t elapsed) {
  constexpr int64_t kAttack = kSampleRate / 200;
  constexpr double kRecover = 0.3 * kSampleRate;
  if (elapsed < kAttack) return static_cast<float>(elapsed) / kAttack;
  const double x = static_cast<double>(elapsed - kAttack) / kRecover;
  if (x >= 1.0) return 0.0f;
  return static_cast<float>((1.0 - x) * (1.0 - x));
}

}  // namespace

Rendering RenderSong(const Song& song, double seconds) {
  const double length = seconds > 0.0 ? std::min(seconds, song.seconds) : song.seconds;
  const int64_t total = ToSamples(length);
  Rendering out;
  out.left.assign(static_cast<size_t>(total), 0.0f);
  out.right.assign(static_cast<size_t>(total), 0.0f);
  out.beat.assign(static_cast<size_t>(total), 0.0f);

  std::vector<TrackState> states(song.tracks.size());
  std::vector<int64_t> kicks;
  for (size_t t = 0; t < song.tracks.size(); ++t) {
    const Track& track = song.tracks[t];
    TrackState& state = states[t];
    state.track = &track;
    state.order.resize(track.notes.size());
    for (size_t i = 0; i < state.order.size(); ++i) state.order[i] = i;
    std::stable_sort(state.order.begin(), state.order.end(),
                     [&](size_t a, size_t b) { return track.notes[a].time < track.notes[b].time; });
    state.panL = std::min(1.0f, 1.0f - track.pan);
    state.panR = std::min(1.0f, 1.0f + track.pan);
    state.seedBase = static_cast<std::uint32_t>(t + 1) * 0x9E3779B1u;
    if (track.duckSource) {
      for (const Note& note : track.notes) kicks.push_back(ToSamples(note.time));
    }
  }
  std::sort(kicks.begin(), kicks.end());

  Reverb reverb;
  reverb.Set(song.reverbSeconds, song.reverbDampingHz, song.reverbPreDelay);
  PingPongDelay delay(static_cast<int>(ToSamples(song.delaySeconds)), song.delayFeedback, 3500.0);
  DcBlocker dcL, dcR;

  float trackL[kBlock], trackR[kBlock], mixL[kBlock], mixR[kBlock];
  float reverbL[kBlock], reverbR[kBlock], delayL[kBlock], delayR[kBlock], echoL[kBlock], echoR[kBlock];
  float duck[kBlock];
  size_t nextKick = 0;
  int64_t lastKick = -(int64_t{1} << 40);

  for (int64_t start = 0; start < total; start += kBlock) {
    const int n = static_cast<int>(std::min<int64_t>(kBlock, total - start));
    const double t0 = static_cast<double>(start) / kSampleRate;
    const double t1 = static_cast<double>(start + n) / kSampleRate;
    std::fill_n(mixL, n, 0.0f), std::fill_n(mixR, n, 0.0f);
    std::fill_n(reverbL, n, 0.0f), std::fill_n(reverbR, n, 0.0f);
    std::fill_n(delayL, n, 0.0f), std::fill_n(delayR, n, 0.0f);
    std::fill_n(echoL, n, 0.0f), std::fill_n(echoR, n, 0.0f);
    for (int i = 0; i < n; ++i) {
      while (nextKick < kicks.size() && kicks[nextKick] <= start + i) lastKick = kicks[nextKick++];
      duck[i] = DuckShape(start + i - lastKick);
    }

    for (TrackState& state : states) {
      const Track& track = *state.track;
      std::fill_n(trackL, n, 0.0f), std::fill_n(trackR, n, 0.0f);
      bool sounding = false;
      for (auto& voice : state.voices) {
        if (!voice->Render(trackL, trackR, n)) voice.reset();
        sounding = true;
      }
      state.voices.erase(std::remove(state.voices.begin(), state.voices.end(), nullptr), state.voices.end());
      while (state.next < state.order.size()) {
        const size_t index = state.order[state.next];
        const Note& note = track.notes[index];
        const int64_t at = std::max<int64_t>(ToSamples(note.time), start);
        if (at >= start + n) break;
        ++state.next;
        NoteOn on;
        on.pitch = note.pitch;
        on.velocity = note.velocity;
        on.gateSamples = ToSamples(note.length);
        on.seed = state.seedBase ^ (static_cast<std::uint32_t>(index + 1) * 0x85EBCA77u);
        std::unique_ptr<Voice> voice = track.instrument->Start(on);
        const int offset = static_cast<int>(at - start);
        if (voice->Render(trackL + offset, trackR + offset, n - offset)) state.voices.push_back(std::move(voice));
        sounding = true;
      }
      if (!sounding) continue;

      if (track.filter != FilterMode::None) {
        const double hz = track.cutoffHz(0.5 * (t0 + t1));
        state.filterL.Set(hz, track.filterQ);
        state.filterR.Set(hz, track.filterQ);
        const bool low = track.filter == FilterMode::LowPass;
        for (int i = 0; i < n; ++i) {
          const Svf::Out l = state.filterL.Process(trackL[i] + kAntiDenormal);
          const Svf::Out r = state.filterR.Process(trackR[i] + kAntiDenormal);
          trackL[i] = low ? l.low : l.high;
          trackR[i] = low ? r.low : r.high;
        }
      }
      const float g0 = DbToGain(track.gainDb(t0)), g1 = DbToGain(track.gainDb(t1));
      const float toReverb = track.reverb(t0), toDelay = track.delay(t0);
      for (int i = 0; i < n; ++i) {
        const float g = (g0 + (g1 - g0) * (static_cast<float>(i) / kBlock)) * (1.0f - track.duck * duck[i]);
        const float l = trackL[i] * g * state.panL;
        const float r = trackR[i] * g * state.panR;
        mixL[i] += l, mixR[i] += r;
        reverbL[i] += l * toReverb, reverbR[i] += r * toReverb;
        delayL[i] += l * toDelay, delayR[i] += r * toDelay;
        if (track.beatSource) out.beat[static_cast<size_t>(start + i)] += 0.5f * (l + r);
      }
    }

    delay.Process(delayL, delayR, echoL, echoR, n);
    for (int i = 0; i < n; ++i) {
      mixL[i] += echoL[i], mixR[i] += echoR[i];
      reverbL[i] += echoL[i] * song.delayToReverb, reverbR[i] += echoR[i] * song.delayToReverb;
    }
    reverb.Process(reverbL, reverbR, mixL, mixR, n);
    const float m0 = DbToGain(song.masterDb(t0)), m1 = DbToGain(song.masterDb(t1));
    for (int i = 0; i < n; ++i) {
      const float g = m0 + (m1 - m0) * (static_cast<float>(i) / kBlock);
      out.left[static_cast<size_t>(start + i)] = dcL.Process(mixL[i]) * g;
      out.right[static_cast<size_t>(start + i)] = dcR.Process(mixR[i]) * g;
    }
  }
  Limit(out.left, out.right, song.limiter);
  return out;
}

}  // namespace music
