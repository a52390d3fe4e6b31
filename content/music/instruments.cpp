#include "content/music/instruments.h"

#include <algorithm>
#include <cmath>

namespace music {

namespace {

// Filter coefficients and modulation move at this rate, not every sample.
constexpr int kControl = 16;
constexpr float kSilent = 1e-4f;  // -80 dB: a voice below this has ended

double Cents(double cents) { return Exp2(cents / 1200.0); }

double RandomPhase(Noise& noise) { return noise.Unit(); }

struct KickVoice : Voice {
  KickVoice(const Kick& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        pitchCoef(DecayCoefficient(p.pitchDecay)),
        ampCoef(static_cast<float>(DecayCoefficient(p.decay))),
        clickCoef(static_cast<float>(DecayCoefficient(0.012))),
        noise(n.seed),
        norm(1.0f / Saturate(p.drive)) {
    click.Set(3500.0, 0.9);
  }
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      const double hz = p.endHz + (p.startHz - p.endHz) * sweep;
      sweep *= pitchCoef;
      phase += hz / kSampleRate;
      if (phase >= 1.0) phase -= 1.0;
      const float body = Saturate(p.drive * amp * static_cast<float>(SinTurns(phase))) * norm;
      const float c = click.Band(noise.Next()) * clickEnv * p.click;
      clickEnv *= clickCoef;
      // A short hold gives the body its weight before it fades.
      if (++age > kSampleRate / 60) amp *= ampCoef;
      const float out = (body + c) * velocity;
      left[i] += out;
      right[i] += out;
    }
    return amp > kSilent;
  }
  Kick p;
  float velocity;
  double pitchCoef, sweep = 1.0, phase = 0.0;
  float ampCoef, clickCoef, amp = 1.0f, clickEnv = 1.0f;
  Noise noise;
  Svf click;
  float norm;
  int age = 0;
};

struct SnareVoice : Voice {
  SnareVoice(const Snare& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        toneCoef(static_cast<float>(DecayCoefficient(p.toneDecay))),
        noiseCoef(static_cast<float>(DecayCoefficient(p.noiseDecay))),
        bendCoef(static_cast<float>(DecayCoefficient(0.03))),
        noise(n.seed) {
    filter.Set(p.noiseHz, 0.8);
  }
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      const double hz = p.toneHz * (1.0 + 0.4 * bend);
      bend *= bendCoef;
      phaseA += hz / kSampleRate;
      phaseB += 1.62 * hz / kSampleRate;
      if (phaseA >= 1.0) phaseA -= 1.0;
      if (phaseB >= 1.0) phaseB -= 1.0;
      const float body = static_cast<float>(SinTurns(phaseA) + 0.6 * SinTurns(phaseB)) * toneEnv;
      const Svf::Out f = filter.Process(noise.Next());
      const float hiss = (f.band + 0.5f * f.high) * noiseEnv;
      toneEnv *= toneCoef;
      noiseEnv *= noiseCoef;
      const float out = (p.tone * body + p.noise * hiss) * velocity;
      left[i] += out;
      right[i] += out;
    }
    return toneEnv > kSilent || noiseEnv > kSilent;
  }
  Snare p;
  float velocity, toneCoef, noiseCoef, bendCoef;
  float toneEnv = 1.0f, noiseEnv = 1.0f, bend = 1.0f;
  double phaseA = 0.0, phaseB = 0.0;
  Noise noise;
  Svf filter;
};

struct ClapVoice : Voice {
  ClapVoice(const Clap& p, const NoteOn& n)
      : velocity(n.velocity),
        burstCoef(static_cast<float>(DecayCoefficient(0.02))),
        tailCoef(static_cast<float>(DecayCoefficient(p.decay))),
        noise(n.seed) {
    filter.Set(p.centerHz, 1.4);
    high.Set(600.0, 0.7);
  }
  bool Render(float* left, float* right, int n) override {
    constexpr int kBurst = kSampleRate / 100;
    for (int i = 0; i < n; ++i) {
      if (age % kBurst == 0 && age <= 3 * kBurst) env = 1.0f;
      env *= age < 3 * kBurst ? burstCoef : tailCoef;
      ++age;
      const float out = high.High(filter.Band(noise.Next())) * env * velocity * 1.6f;
      left[i] += out;
      right[i] += out;
    }
    return age < 3 * kSampleRate / 100 || env > kSilent;
  }
  float velocity, burstCoef, tailCoef, env = 0.0f;
  Noise noise;
  Svf filter, high;
  int age = 0;
};

struct HatVoice : Voice {
  HatVoice(const Hat& p, const NoteOn& n)
      : p(p), velocity(n.velocity), coef(static_cast<float>(DecayCoefficient(p.decay))), noise(n.seed) {
    static const double kMetal[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    for (int k = 0; k < 6; ++k) {
      increments[k] = static_cast<std::uint32_t>(kMetal[k] * 1.5 / kSampleRate * 4294967296.0);
      phases[k] = static_cast<std::uint32_t>(n.seed * (k + 1) * 2654435761u);
    }
    filter.Set(p.highPassHz, 0.75);
    const double attackSamples = p.attack * kSampleRate;
    attackStep = attackSamples >= 1.0 ? static_cast<float>(1.0 / attackSamples) : 1.0f;
  }
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      int sum = 0;
      for (int k = 0; k < 6; ++k) {
        phases[k] += increments[k];
        sum += (phases[k] >> 31) ? 1 : -1;
      }
      const float source = p.metal * static_cast<float>(sum) * (1.0f / 6.0f) + (1.0f - p.metal) * noise.Next();
      if (rising) {
        level += attackStep;
        if (level >= 1.0f) level = 1.0f, rising = false;
      } else {
        level *= coef;
      }
      const float out = filter.High(source) * level * velocity;
      left[i] += out;
      right[i] += out;
    }
    return rising || level > kSilent;
  }
  Hat p;
  float velocity, coef, attackStep, level = 0.0f;
  bool rising = true;
  std::uint32_t increments[6], phases[6];
  Noise noise;
  Svf filter;
};

struct BubbleVoice : Voice {
  BubbleVoice(const Bubble& p, const NoteOn& n)
      : velocity(n.velocity),
        hz(MidiToHz(n.pitch)),
        riseRate(p.rise / std::max<int64_t>(1, n.gateSamples)),
        coef(static_cast<float>(DecayCoefficient(p.decay))) {}
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      if (age % kControl == 0) increment = hz * Exp2(riseRate * static_cast<double>(age)) / kSampleRate;
      ++age;
      phase += increment;
      if (phase >= 1.0) phase -= 1.0;
      level = age < 88 ? static_cast<float>(age) / 88.0f : level * coef;
      const float out = static_cast<float>(SinTurns(phase)) * level * velocity;
      left[i] += out;
      right[i] += out;
    }
    return age < 88 || level > kSilent;
  }
  float velocity;
  double hz, riseRate, phase = 0.0, increment = 0.0;
  float coef, level = 0.0f;
  int64_t age = 0;
};

struct BassVoice : Voice {
  BassVoice(const Bass& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        env(p.attack, p.decay, p.sustain, p.release, n.gateSamples),
        filterCoef(static_cast<float>(DecayCoefficient(p.filterDecay))) {
    const double hz = MidiToHz(n.pitch);
    a.SetFrequency(hz * Cents(-0.5 * p.detuneCents));
    b.SetFrequency(hz * Cents(0.5 * p.detuneCents));
    sub.SetFrequency(hz);
    Noise random(n.seed);
    a.SetPhase(RandomPhase(random));
    b.SetPhase(RandomPhase(random));
  }
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      if (age++ % kControl == 0) ladder.Set(p.cutoffHz * Exp2(p.envOctaves * velocity * filterEnv), p.resonance);
      filterEnv *= filterCoef;
      const float saws = 0.5f * (a.Saw() + b.Saw()) * p.saw;
      const float out = (ladder.Process(saws) + p.sub * sub.Sine()) * env.Next() * velocity;
      left[i] += out;
      right[i] += out;
    }
    return !env.Done();
  }
  Bass p;
  float velocity;
  Envelope env;
  float filterCoef, filterEnv = 1.0f;
  Oscillator a, b, sub;
  Ladder ladder;
  int64_t age = 0;
};

struct PadVoice : Voice {
  PadVoice(const Pad& p, const NoteOn& n)
      : p(p), velocity(n.velocity), env(p.attack, p.decay, p.sustain, p.release, n.gateSamples) {
    const double hz = MidiToHz(n.pitch);
    osc[0].SetFrequency(hz * Cents(-p.detuneCents));
    osc[1].SetFrequency(hz);
    osc[2].SetFrequency(hz * Cents(p.detuneCents));
    Noise random(n.seed);
    for (Oscillator& o : osc) o.SetPhase(RandomPhase(random));
    lfoPhase = RandomPhase(random);
    // Quiet notes are darker.
    cutoff = p.cutoffHz * Exp2(velocity - 1.0);
  }
  bool Render(float* left, float* right, int n) override {
    const float wide = 0.5f + 0.5f * p.width, narrow = 0.5f - 0.5f * p.width;
    for (int i = 0; i < n; ++i) {
      if (age++ % (2 * kControl) == 0) {
        const double hz = cutoff * Exp2(0.4 * SinTurns(lfoPhase));
        filterL.Set(hz, p.q);
        filterR.Set(hz * 1.03, p.q);
        lfoPhase += p.lfoHz * 2 * kControl / kSampleRate;
      }
      const float x = osc[0].SawTriangle(p.softness);
      const float y = osc[1].SawTriangle(p.softness);
      const float z = osc[2].SawTriangle(p.softness);
      const float level = env.Next() * velocity * 0.3f;
      left[i] += filterL.Low(wide * x + narrow * z + 0.7f * y) * level;
      right[i] += filterR.Low(narrow * x + wide * z + 0.7f * y) * level;
    }
    return !env.Done();
  }
  Pad p;
  float velocity;
  Envelope env;
  Oscillator osc[3];
  Svf filterL, filterR;
  double lfoPhase = 0.0, cutoff = 1000.0;
  int64_t age = 0;
};

struct LeadVoice : Voice {
  LeadVoice(const Lead& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        hz(MidiToHz(n.pitch)),
        env(p.attack, p.decay, p.sustain, p.release, n.gateSamples),
        filterCoef(static_cast<float>(DecayCoefficient(p.filterDecay))) {
    Noise random(n.seed);
    a.SetPhase(RandomPhase(random));
    b.SetPhase(RandomPhase(random));
    vibratoPhase = RandomPhase(random);
  }
  bool Render(float* left, float* right, int n) override {
    const int64_t delay = static_cast<int64_t>(p.vibratoDelay * kSampleRate);
    for (int i = 0; i < n; ++i) {
      if (age % kControl == 0) {
        // Vibrato fades in after the delay, over 0.4 s.
        const double depth = std::clamp(static_cast<double>(age - delay) / (0.4 * kSampleRate), 0.0, 1.0);
        const double f = hz * Cents(p.vibratoCents * depth * SinTurns(vibratoPhase));
        vibratoPhase += p.vibratoHz * kControl / kSampleRate;
        a.SetFrequency(f * Cents(-0.5 * p.detuneCents));
        b.SetFrequency(f * Cents(0.5 * p.detuneCents));
        sub.SetFrequency(0.5 * f);
        ladder.Set(p.cutoffHz * Exp2(p.envOctaves * velocity * filterEnv), p.resonance);
      }
      ++age;
      filterEnv *= filterCoef;
      const float source = 0.5f * (a.Saw() + b.Saw()) + p.subOctave * sub.Square();
      const float out = ladder.Process(source * 0.8f) * env.Next() * velocity;
      left[i] += out;
      right[i] += out;
    }
    return !env.Done();
  }
  Lead p;
  float velocity;
  double hz;
  Envelope env;
  float filterCoef, filterEnv = 1.0f;
  Oscillator a, b, sub;
  Ladder ladder;
  double vibratoPhase = 0.0;
  int64_t age = 0;
};

struct PluckVoice : Voice {
  PluckVoice(const Pluck& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        env(0.002, p.decay, 0.0f, p.release, n.gateSamples),
        filterCoef(static_cast<float>(DecayCoefficient(p.filterDecay))) {
    const double hz = MidiToHz(n.pitch);
    saw.SetFrequency(hz);
    pulse.SetFrequency(hz * Cents(4.0));
    Noise random(n.seed);
    saw.SetPhase(RandomPhase(random));
    pulse.SetPhase(RandomPhase(random));
  }
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      if (age++ % kControl == 0) filter.Set(p.cutoffHz * Exp2(p.envOctaves * velocity * filterEnv), p.q);
      filterEnv *= filterCoef;
      const float source = (1.0f - p.pulse) * saw.Saw() + p.pulse * pulse.Square(0.3f);
      const float out = filter.Low(source) * env.Next() * velocity;
      left[i] += out;
      right[i] += out;
    }
    return !env.Done();
  }
  Pluck p;
  float velocity;
  Envelope env;
  float filterCoef, filterEnv = 1.0f;
  Oscillator saw, pulse;
  Svf filter;
  int64_t age = 0;
};

struct BellVoice : Voice {
  BellVoice(const Bell& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        hz(MidiToHz(n.pitch)),
        gate(n.gateSamples),
        decayCoef(static_cast<float>(DecayCoefficient(p.decay))),
        releaseCoef(static_cast<float>(DecayCoefficient(p.release))),
        indexCoef(static_cast<float>(DecayCoefficient(p.indexDecay))),
        tingCoef(static_cast<float>(DecayCoefficient(0.15))) {}
  bool Render(float* left, float* right, int n) override {
    constexpr int kAttack = kSampleRate / 1000;
    const double inc = hz / kSampleRate;
    for (int i = 0; i < n; ++i) {
      const double index = p.modIndex * velocity * (0.2 + 0.8 * indexEnv) * (1.0 / (2.0 * kPi));
      const double body = SinTurns(carrier + index * SinTurns(modulator));
      const double high = SinTurns(tingPhase) * tingEnv * p.ting;
      carrier += inc;
      modulator += inc * p.modRatio;
      tingPhase += inc * 4.0;
      carrier -= std::floor(carrier);
      modulator -= std::floor(modulator);
      tingPhase -= std::floor(tingPhase);
      indexEnv *= indexCoef;
      tingEnv *= tingCoef;
      if (age < kAttack) {
        amp = static_cast<float>(age + 1) / kAttack;
      } else {
        amp *= age < gate ? decayCoef : releaseCoef;
      }
      ++age;
      const float out = static_cast<float>(body + high) * amp * velocity;
      left[i] += out;
      right[i] += out;
    }
    return age < kAttack || amp > kSilent;
  }
  Bell p;
  float velocity;
  double hz;
  int64_t gate, age = 0;
  float decayCoef, releaseCoef, indexCoef, tingCoef;
  float amp = 0.0f, indexEnv = 1.0f, tingEnv = 1.0f;
  double carrier = 0.0, modulator = 0.0, tingPhase = 0.0;
};

struct EPianoVoice : Voice {
  EPianoVoice(const EPiano& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        hz(MidiToHz(n.pitch)),
        gate(n.gateSamples),
        decayCoef(static_cast<float>(DecayCoefficient(p.decay))),
        releaseCoef(static_cast<float>(DecayCoefficient(p.release))),
        indexCoef(static_cast<float>(DecayCoefficient(p.indexDecay))),
        tineCoef(static_cast<float>(DecayCoefficient(0.25))) {
    Noise random(n.seed);
    tremoloPhase = RandomPhase(random);
  }
  bool Render(float* left, float* right, int n) override {
    constexpr int kAttack = kSampleRate / 500;
    const double inc = hz / kSampleRate;
    for (int i = 0; i < n; ++i) {
      if (age % kControl == 0) {
        const float t = static_cast<float>(SinTurns(tremoloPhase));
        panL = 1.0f - p.tremolo * (0.5f + 0.5f * t);
        panR = 1.0f - p.tremolo * (0.5f - 0.5f * t);
        tremoloPhase += p.tremoloHz * kControl / kSampleRate;
      }
      const double index = (p.modIndex * velocity * indexEnv + 0.15) * (1.0 / (2.0 * kPi));
      const double body = SinTurns(carrier + index * SinTurns(carrier));
      const double tine = 0.08 * velocity * tineEnv * SinTurns(tinePhase);
      carrier += inc;
      carrier -= std::floor(carrier);
      tinePhase += 7.0 * inc;
      tinePhase -= std::floor(tinePhase);
      indexEnv *= indexCoef;
      tineEnv *= tineCoef;
      if (age < kAttack) {
        amp = static_cast<float>(age + 1) / kAttack;
      } else {
        amp *= age < gate ? decayCoef : releaseCoef;
      }
      ++age;
      const float out = static_cast<float>(body + tine) * amp * velocity;
      left[i] += out * panL;
      right[i] += out * panR;
    }
    return age < kAttack || amp > kSilent;
  }
  EPiano p;
  float velocity;
  double hz;
  int64_t gate, age = 0;
  float decayCoef, releaseCoef, indexCoef, tineCoef;
  float amp = 0.0f, indexEnv = 1.0f, tineEnv = 1.0f, panL = 1.0f, panR = 1.0f;
  double carrier = 0.0, tinePhase = 0.0, tremoloPhase = 0.0;
};

struct SweepVoice : Voice {
  SweepVoice(const Sweep& p, const NoteOn& n)
      : p(p),
        velocity(n.velocity),
        gate(std::max<int64_t>(1, n.gateSamples)),
        octaves(Log2(p.toHz / p.fromHz)),
        releaseCoef(static_cast<float>(DecayCoefficient(p.release))),
        noiseL(n.seed),
        noiseR(n.seed * 7919u + 13u) {}
  bool Render(float* left, float* right, int n) override {
    const double attack = std::max(1.0, p.attackFraction * static_cast<double>(gate));
    for (int i = 0; i < n; ++i) {
      if (age % (2 * kControl) == 0) {
        const double t = std::min(1.0, static_cast<double>(age) / static_cast<double>(gate));
        const double hz = p.fromHz * Exp2(octaves * t);
        filterL.Set(hz, p.q);
        filterR.Set(hz * 1.05, p.q);
      }
      if (age < gate) {
        const float rise = static_cast<float>(std::min(1.0, static_cast<double>(age) / attack));
        amp = rise * rise;
      } else {
        amp *= releaseCoef;
      }
      ++age;
      const float scale = amp * velocity / static_cast<float>(p.q);
      left[i] += filterL.Band(noiseL.Next()) * scale;
      right[i] += filterR.Band(noiseR.Next()) * scale;
    }
    return age < gate || amp > kSilent;
  }
  Sweep p;
  float velocity;
  int64_t gate, age = 0;
  double octaves;
  float releaseCoef, amp = 0.0f;
  Noise noiseL, noiseR;
  Svf filterL, filterR;
};

struct SubVoice : Voice {
  SubVoice(const Sub& p, const NoteOn& n)
      : p(p), velocity(n.velocity), env(p.attack, 0.0, 1.0f, p.release, n.gateSamples) {
    const double hz = MidiToHz(n.pitch);
    fundamental.SetFrequency(hz);
    octave.SetFrequency(2.0 * hz);
  }
  bool Render(float* left, float* right, int n) override {
    for (int i = 0; i < n; ++i) {
      const float out = (fundamental.Sine() + p.harmonic * octave.Sine()) * env.Next() * velocity;
      left[i] += out;
      right[i] += out;
    }
    return !env.Done();
  }
  Sub p;
  float velocity;
  Envelope env;
  Oscillator fundamental, octave;
};

}  // namespace

std::unique_ptr<Voice> Kick::Start(const NoteOn& n) const { return std::make_unique<KickVoice>(*this, n); }
std::unique_ptr<Voice> Snare::Start(const NoteOn& n) const { return std::make_unique<SnareVoice>(*this, n); }
std::unique_ptr<Voice> Clap::Start(const NoteOn& n) const { return std::make_unique<ClapVoice>(*this, n); }
std::unique_ptr<Voice> Hat::Start(const NoteOn& n) const { return std::make_unique<HatVoice>(*this, n); }
std::unique_ptr<Voice> Bubble::Start(const NoteOn& n) const { return std::make_unique<BubbleVoice>(*this, n); }
std::unique_ptr<Voice> Bass::Start(const NoteOn& n) const { return std::make_unique<BassVoice>(*this, n); }
std::unique_ptr<Voice> Pad::Start(const NoteOn& n) const { return std::make_unique<PadVoice>(*this, n); }
std::unique_ptr<Voice> Lead::Start(const NoteOn& n) const { return std::make_unique<LeadVoice>(*this, n); }
std::unique_ptr<Voice> Pluck::Start(const NoteOn& n) const { return std::make_unique<PluckVoice>(*this, n); }
std::unique_ptr<Voice> Bell::Start(const NoteOn& n) const { return std::make_unique<BellVoice>(*this, n); }
std::unique_ptr<Voice> EPiano::Start(const NoteOn& n) const { return std::make_unique<EPianoVoice>(*this, n); }
std::unique_ptr<Voice> Sweep::Start(const NoteOn& n) const { return std::make_unique<SweepVoice>(*this, n); }
std::unique_ptr<Voice> Sub::Start(const NoteOn& n) const { return std::make_unique<SubVoice>(*this, n); }

}  // namespace music
