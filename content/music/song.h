#pragma once

// A song is a set of tracks (an instrument, its notes and its mixer strip)
// rendered together through shared reverb and delay, a master gain and the
// limiter.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "content/music/dsp.h"
#include "content/music/instruments.h"

namespace music {

// A value over time: straight lines between points, held before the first
// and after the last.
class Automation {
 public:
  Automation(float constant = 0.0f) { points_.emplace_back(0.0, constant); }  // NOLINT: implicit on purpose
  // Points are added in time order; the first call replaces the constant.
  Automation& At(double seconds, float value);
  float operator()(double seconds) const;

 private:
  std::vector<std::pair<double, float>> points_;
  bool constant_ = true;
};

struct Note {
  double time = 0.0;    // seconds
  double length = 0.0;  // seconds the key is held
  double pitch = 60.0;  // MIDI note number
  float velocity = 1.0f;
};

enum class FilterMode { None, LowPass, HighPass };

struct Track {
  std::string name;
  std::shared_ptr<const Instrument> instrument;
  std::vector<Note> notes;
  Automation gainDb = 0.0f;
  float pan = 0.0f;  // -1 left .. 1 right
  Automation reverb = 0.0f;
  Automation delay = 0.0f;
  FilterMode filter = FilterMode::None;
  Automation cutoffHz = 1000.0f;
  double filterQ = 0.707;
  float duck = 0.0f;         // how far the kicks push this track down, 0..1
  bool duckSource = false;   // its notes are the kicks that duck the others
  bool beatSource = false;   // its output drives the music curve
};

struct Song {
  double seconds = 0.0;
  std::vector<Track> tracks;
  Automation masterDb = 0.0f;
  double reverbSeconds = 2.5, reverbDampingHz = 6000.0, reverbPreDelay = 0.02;
  double delaySeconds = 0.375;
  float delayFeedback = 0.4f;
  float delayToReverb = 0.3f;
  LimiterSettings limiter;
};

struct Rendering {
  std::vector<float> left, right;
  std::vector<float> beat;  // mono output of the beat-source tracks
};

// Renders the first `seconds` of the song (all of it when seconds <= 0).
// Nothing depends on what comes later, so a prefix equals the start of the
// full rendering except for the limiter's last few milliseconds.
Rendering RenderSong(const Song& song, double seconds = 0.0);

int64_t ToSamples(double seconds);

}  // namespace music
