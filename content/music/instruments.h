#pragma once

// The instruments of the piece. Each one is a set of parameters that starts a
// voice per note; a voice adds itself to a stereo block until it falls silent.

#include <cstdint>
#include <memory>

#include "content/music/dsp.h"

namespace music {

struct NoteOn {
  double pitch = 60.0;  // MIDI note number, fractions allowed
  float velocity = 1.0f;
  int64_t gateSamples = 0;  // how long the key is held
  std::uint32_t seed = 1;   // per note: random phases, noise
};

class Voice {
 public:
  virtual ~Voice() = default;
  // Adds n samples to left and right; false once the voice is silent for good.
  virtual bool Render(float* left, float* right, int n) = 0;
};

class Instrument {
 public:
  virtual ~Instrument() = default;
  virtual std::unique_ptr<Voice> Start(const NoteOn& note) const = 0;
};

// Sine with a falling pitch, a click and some drive.
struct Kick : Instrument {
  double startHz = 150.0, endHz = 46.0;
  double pitchDecay = 0.12;  // time for the sweep to settle (-60 dB)
  double decay = 0.55;
  float click = 0.25f;
  float drive = 1.6f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Two detuned body partials and band-passed noise.
struct Snare : Instrument {
  double toneHz = 185.0;
  double toneDecay = 0.16;
  double noiseHz = 3800.0;
  double noiseDecay = 0.28;
  float tone = 0.55f, noise = 0.7f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Three quick noise bursts and a tail.
struct Clap : Instrument {
  double centerHz = 1200.0;
  double decay = 0.25;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Metallic square cluster plus noise, high-passed (hats, shakers, cymbals).
struct Hat : Instrument {
  double decay = 0.06;
  double attack = 0.0;
  double highPassHz = 7000.0;
  float metal = 0.5f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// A sine whose pitch rises quickly: a bubble.
struct Bubble : Instrument {
  double rise = 1.2;  // octaves over the note
  double decay = 0.09;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Two saws and a sub sine through a ladder filter with its own envelope.
struct Bass : Instrument {
  float saw = 0.7f, sub = 0.6f;
  double detuneCents = 7.0;
  double cutoffHz = 220.0;
  double envOctaves = 3.0;  // filter envelope depth
  double filterDecay = 0.35;
  float resonance = 0.3f;
  double attack = 0.004, decay = 0.6, release = 0.05;
  float sustain = 0.7f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Detuned saws (or softer triangles) spread across the stereo field.
struct Pad : Instrument {
  double detuneCents = 11.0;
  float softness = 0.0f;  // 0: saws, 1: triangles
  double cutoffHz = 1800.0;
  double q = 0.8;
  double lfoHz = 0.13;
  double attack = 1.2, decay = 2.0, release = 1.6;
  float sustain = 0.8f;
  float width = 0.8f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Saw lead with a sub-octave square, ladder filter and delayed vibrato.
struct Lead : Instrument {
  double detuneCents = 9.0;
  float subOctave = 0.3f;
  double cutoffHz = 1500.0;
  double envOctaves = 2.0;
  double filterDecay = 0.4;
  float resonance = 0.25f;
  double vibratoHz = 5.2, vibratoCents = 14.0, vibratoDelay = 0.35;
  double attack = 0.01, decay = 0.8, release = 0.18;
  float sustain = 0.75f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Short filtered saw/pulse: arpeggios.
struct Pluck : Instrument {
  float pulse = 0.4f;
  double cutoffHz = 500.0;
  double envOctaves = 4.0;
  double filterDecay = 0.25;
  double q = 1.2;
  double decay = 0.6, release = 0.08;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// FM bell: a bright, fast-fading attack over a ringing body.
struct Bell : Instrument {
  double modRatio = 2.0;
  double modIndex = 2.2;
  double indexDecay = 0.15;
  float ting = 0.35f;  // harmonic at 4x, very short
  double decay = 2.4, release = 0.6;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// FM electric piano with a stereo tremolo.
struct EPiano : Instrument {
  double modIndex = 1.4;
  double indexDecay = 1.2;
  double decay = 3.5, release = 0.35;
  double tremoloHz = 4.5;
  float tremolo = 0.25f;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Band-passed noise whose centre glides over the note (risers, surf).
struct Sweep : Instrument {
  double fromHz = 300.0, toHz = 6000.0;
  double q = 2.0;
  double attackFraction = 0.9;  // share of the note spent fading in
  double release = 0.4;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

// Plain sine with a soft second harmonic: drones and sub layers.
struct Sub : Instrument {
  float harmonic = 0.15f;
  double attack = 0.5, release = 1.0;
  std::unique_ptr<Voice> Start(const NoteOn& note) const override;
};

}  // namespace music
