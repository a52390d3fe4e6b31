// The score. 120 BPM, 4/4: a beat is 0.5 s, a bar 2 s; bars count from 0.
//
//   bars  0-7    0-16 s  Under water: deep pad, surf and bubbles; the bell
//                        run (the motif, freely timed) at 9.3-12.9 s
//   bars  8-15  16-32 s  Soft groove: soft kick, shaker, deep bass, dark arpeggio
//   bars 16-23  32-48 s  The motif on a soft lead
//   bars 24-25  48-52 s  A breath
//   bars 26-27  52-56 s  The rise: riser, snare roll, reverse cymbal
//   bars 28-35  56-72 s  The fall: full drums, driving bass, bright arpeggio
//   bars 36-43  72-88 s  The motif on the bright lead
//   bars 44-47  88-96 s  Climax: the motif an octave up, doubled by bells
//   bars 48-49  96-100 s Fill and fall into the city
//   bars 50-57 100-116 s The city: half-time groove, electric piano, warm bass
//   bars 58-65 116-132 s The motif on a warm lead
//   bars 66-71 132-144 s Closing: drums leave, the bells remember the motif,
//                        the lead walks down to the cadence
//   bar  72    144 s     Final chord, D major, decaying; fade by 154 s
//
// The motif: D A (G A Bb) A G | F G A D C A, answered by Bb A G F E | E F G A.

#include "content/music/score.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace music {

int Pitch(std::string_view name) {
  static const int kSteps[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (name.empty() || name[0] < 'A' || name[0] > 'G') throw std::invalid_argument("bad pitch: " + std::string(name));
  int semitone = kSteps[name[0] - 'A'];
  size_t i = 1;
  for (; i < name.size() && (name[i] == '#' || name[i] == 'b'); ++i) semitone += name[i] == '#' ? 1 : -1;
  const std::string octave(name.substr(i));
  char* end = nullptr;
  const long value = std::strtol(octave.c_str(), &end, 10);
  if (octave.empty() || *end != '\0' || value < -1 || value > 9) {
    throw std::invalid_argument("bad pitch: " + std::string(name));
  }
  return 12 * (static_cast<int>(value) + 1) + semitone;
}

namespace {

constexpr double kBeat = 0.5;
double At(double bar, double beat = 0.0) { return (4.0 * bar + beat) * kBeat; }

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    size_t j = i;
    while (j < text.size() && text[j] != ' ') ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

// A track with notation helpers. Lengths are in beats, times in seconds.
class Part {
 public:
  Part(Song& song, size_t index) : song_(&song), index_(index) {}
  Track& track() { return song_->tracks[index_]; }

  void Note(double time, double beats, double pitch, float velocity) {
    track().notes.push_back({time, beats * kBeat, pitch, velocity});
  }
  void Hit(double time, float velocity = 1.0f, double pitch = 60.0) { Note(time, 0.25, pitch, velocity); }
  void Chord(double time, double beats, std::string_view voicing, float velocity) {
    for (std::string_view name : Words(voicing)) Note(time, beats, Pitch(name), velocity);
  }
  // "D5:1 A5:.5 r:.5 >Bb5:1 |": pitch:beats, r for a rest, > for an accent,
  // | as a bar line for the reader. A missing length repeats the last one.
  // Returns the time after the last note.
  double Melody(double time, std::string_view phrase, float velocity, double legato = 0.92) {
    double beats = 1.0;
    for (std::string_view word : Words(phrase)) {
      if (word == "|") continue;
      float v = velocity;
      if (word[0] == '>') v = std::min(1.0f, velocity * 1.2f), word.remove_prefix(1);
      const size_t colon = word.find(':');
      if (colon != std::string_view::npos) {
        const std::string length(word.substr(colon + 1));
        char* end = nullptr;
        beats = std::strtod(length.c_str(), &end);
        if (length.empty() || *end != '\0' || beats <= 0.0) {
          throw std::invalid_argument("bad length: " + std::string(word));
        }
        word = word.substr(0, colon);
      }
      if (word != "r") Note(time, beats * legato, Pitch(word), v);
      time += beats * kBeat;
    }
    return time;
  }
  // One character per sixteenth: X accent, x normal, o soft, . rest; spaces
  // group for the reader.
  void Steps(double time, std::string_view steps, float velocity = 1.0f, double pitch = 60.0) {
    for (char c : steps) {
      if (c == ' ') continue;
      const float v = c == 'X' ? 1.0f : c == 'x' ? 0.75f : c == 'o' ? 0.45f : 0.0f;
      if (v > 0.0f) Hit(time, v * velocity, pitch);
      time += 0.25 * kBeat;
    }
  }
  // Arpeggio over the notes of a voicing: the pattern's digits index them,
  // one per step of `stepBeats`.
  void Arpeggio(double time, std::string_view voicing, std::string_view pattern, double stepBeats,
                float velocity, double legato = 0.6) {
    const std::vector<std::string_view> notes = Words(voicing);
    for (char c : pattern) {
      if (c == ' ') continue;
      if (c != '.') {
        const size_t k = static_cast<size_t>(c - '0');
        if (k >= notes.size()) throw std::invalid_argument("arpeggio index out of range");
        Note(time, stepBeats * legato, Pitch(notes[k]), velocity);
      }
      time += stepBeats * kBeat;
    }
  }

 private:
  Song* song_;
  size_t index_;
};

template <class I>
Part Add(Song& song, const char* name, const I& instrument, float gainDb, float pan = 0.0f) {
  Track track;
  track.name = name;
  track.instrument = std::make_shared<I>(instrument);
  track.gainDb = gainDb;
  track.pan = pan;
  song.tracks.push_back(std::move(track));
  return Part(song, song.tracks.size() - 1);
}

// --- Harmony ---------------------------------------------------------------

struct Harmony {
  const char* voicing;  // pad and piano notes
  const char* bass;     // root, low
  const char* upper;    // arpeggio notes, an octave or two up
};
// Under water and the rise.
const Harmony kDm9 = {"D3 A3 C4 E4 F4", "D2", "D5 F5 A5 C6 E6"};
const Harmony kBbMaj9 = {"D3 A3 C4 F4", "Bb1", "D5 F5 A5 Bb5 C6"};
const Harmony kGm9 = {"Bb2 F3 A3 D4", "G1", "D5 G5 A5 Bb5 D6"};
const Harmony kA7sus = {"G3 A3 D4 E4", "A1", "D5 E5 G5 A5 D6"};
const Harmony kA7 = {"G3 A3 C#4 E4", "A1", "C#5 E5 G5 A5 C#6"};
// The fall: plain triads, bright and wide.
const Harmony kDm = {"A3 D4 F4 A4", "D2", "D5 F5 A5 D6 F6"};
const Harmony kBb = {"Bb3 D4 F4 Bb4", "Bb1", "D5 F5 Bb5 D6 F6"};
const Harmony kF = {"A3 C4 F4 A4", "F1", "C5 F5 A5 C6 F6"};
const Harmony kC = {"G3 C4 E4 G4", "C2", "C5 E5 G5 C6 E6"};
const Harmony kGm = {"Bb3 D4 G4 Bb4", "G1", "D5 G5 Bb5 D6 G6"};
const Harmony kA = {"A3 C#4 E4 A4", "A1", "C#5 E5 A5 C#6 E6"};
// The city: rootless piano voicings.
const Harmony kBbMaj9City = {"D3 F3 A3 C4", "Bb1", "D5 F5 A5 C6 D6"};
const Harmony kC69 = {"E3 G3 A3 D4", "C2", "E5 G5 A5 D6 E6"};
const Harmony kAm7 = {"E3 G3 A3 C4", "A1", "C5 E5 G5 A5 C6"};
const Harmony kDm9City = {"F3 A3 C4 E4", "D2", "D5 F5 A5 C6 E6"};
const Harmony kGm9City = {"F3 A3 Bb3 D4", "G1", "D5 F5 A5 Bb5 D6"};
const Harmony kDadd9 = {"D3 F#3 A3 E4", "D2", "D5 F#5 A5 D6 E6"};

// --- The parts ---------------------------------------------------------------

struct Band {
  Part kickSoft, kick, rim, snare, clap, hats, openHat, shaker, crash, reverse, toms;
  Part sub, bassDeep, bassDrive, bassWarm;
  Part padDeep, padBright, padWarm, arpDark, arpBright;
  Part leadSoft, lead, leadWarm, highPitch, bells, piano;
  Part surf, riser, downlifter, bubbles;
};

Band MakeBand(Song& song) {
  Kick softKick;
  softKick.startHz = 110.0, softKick.endHz = 44.0, softKick.pitchDecay = 0.15;
  softKick.decay = 0.7, softKick.click = 0.05f, softKick.drive = 1.2f;
  Kick kick;
  kick.startHz = 170.0, kick.endHz = 47.0, kick.pitchDecay = 0.11, kick.decay = 0.5;
  kick.click = 0.3f, kick.drive = 2.0f;
  Snare rim;
  rim.toneHz = 420.0, rim.toneDecay = 0.05, rim.noiseHz = 5200.0, rim.noiseDecay = 0.07;
  rim.tone = 0.7f, rim.noise = 0.4f;
  Snare snare;
  Clap clap;
  Hat hat;
  Hat openHat;
  openHat.decay = 0.35, openHat.metal = 0.45f;
  Hat shaker;
  shaker.attack = 0.012, shaker.decay = 0.09, shaker.metal = 0.05f, shaker.highPassHz = 6000.0;
  Hat crash;
  crash.decay = 1.8, crash.metal = 0.35f, crash.highPassHz = 4200.0;
  Hat reverse;
  reverse.attack = 1.9, reverse.decay = 0.12, reverse.metal = 0.25f, reverse.highPassHz = 5000.0;
  Kick tom;
  tom.startHz = 260.0, tom.endHz = 120.0, tom.pitchDecay = 0.2, tom.decay = 0.45;
  tom.click = 0.15f, tom.drive = 1.3f;

  Sub sub;
  sub.attack = 1.5, sub.release = 2.0, sub.harmonic = 0.2f;
  Bass deep;
  deep.saw = 0.35f, deep.sub = 0.9f, deep.cutoffHz = 160.0, deep.envOctaves = 1.8, deep.filterDecay = 0.5;
  deep.resonance = 0.15f, deep.attack = 0.01, deep.decay = 1.2, deep.sustain = 0.6f, deep.release = 0.12;
  Bass drive;
  drive.saw = 0.9f, drive.sub = 0.5f, drive.cutoffHz = 200.0, drive.envOctaves = 3.4, drive.filterDecay = 0.22;
  drive.resonance = 0.45f, drive.decay = 0.4, drive.sustain = 0.5f, drive.release = 0.03;
  Bass warm;
  warm.saw = 0.55f, warm.sub = 0.8f, warm.cutoffHz = 260.0, warm.envOctaves = 1.6, warm.filterDecay = 0.5;
  warm.resonance = 0.2f, warm.decay = 1.0, warm.sustain = 0.65f, warm.release = 0.08;

  Pad padDeep;
  padDeep.softness = 0.6f, padDeep.cutoffHz = 900.0, padDeep.attack = 2.2, padDeep.decay = 4.0;
  padDeep.sustain = 0.85f, padDeep.release = 3.0, padDeep.detuneCents = 9.0;
  Pad padBright;
  padBright.cutoffHz = 3200.0, padBright.q = 1.1, padBright.attack = 0.03, padBright.decay = 1.5;
  padBright.sustain = 0.7f, padBright.release = 0.4, padBright.detuneCents = 14.0, padBright.width = 1.0f;
  Pad padWarm;
  padWarm.softness = 0.3f, padWarm.cutoffHz = 1700.0, padWarm.attack = 0.8, padWarm.decay = 3.0;
  padWarm.sustain = 0.8f, padWarm.release = 2.0, padWarm.detuneCents = 12.0, padWarm.width = 1.0f;
  Pluck arpDark;
  arpDark.cutoffHz = 260.0, arpDark.envOctaves = 3.0, arpDark.filterDecay = 0.3, arpDark.decay = 0.8;
  Pluck arpBright;
  arpBright.cutoffHz = 700.0, arpBright.envOctaves = 4.0, arpBright.filterDecay = 0.2, arpBright.decay = 0.45;
  arpBright.q = 1.6;

  Lead leadSoft;
  leadSoft.subOctave = 0.0f, leadSoft.cutoffHz = 700.0, leadSoft.envOctaves = 1.2, leadSoft.attack = 0.04;
  leadSoft.release = 0.4, leadSoft.vibratoCents = 10.0;
  Lead lead;
  lead.cutoffHz = 1800.0, lead.envOctaves = 2.2, lead.resonance = 0.3f, lead.detuneCents = 12.0;
  Lead leadWarm;
  leadWarm.subOctave = 0.15f, leadWarm.cutoffHz = 1100.0, leadWarm.envOctaves = 1.4, leadWarm.attack = 0.03;
  leadWarm.release = 0.5, leadWarm.vibratoCents = 18.0, leadWarm.vibratoHz = 4.8;
  Bell highPitch;
  Bell bells;
  bells.modIndex = 1.6, bells.ting = 0.2f, bells.decay = 2.0;
  EPiano piano;

  Sweep surf;
  surf.fromHz = 220.0, surf.toHz = 700.0, surf.q = 1.5, surf.attackFraction = 0.5, surf.release = 3.0;
  Sweep riser;
  riser.fromHz = 250.0, riser.toHz = 9000.0, riser.q = 3.0, riser.attackFraction = 0.97, riser.release = 0.05;
  Sweep downlifter;
  downlifter.fromHz = 7000.0, downlifter.toHz = 150.0, downlifter.q = 2.0;
  downlifter.attackFraction = 0.05, downlifter.release = 0.6;
  Bubble bubble;

  Band b{
      Add(song, "kick soft", softKick, -7.0f),
      Add(song, "kick", kick, -6.5f),
      Add(song, "rim", rim, -4.0f, 0.15f),
      Add(song, "snare", snare, -6.5f),
      Add(song, "clap", clap, -2.5f, -0.05f),
      Add(song, "hats", hat, -3.0f, 0.25f),
      Add(song, "open hat", openHat, -7.0f, -0.25f),
      Add(song, "shaker", shaker, -13.0f, -0.3f),
      Add(song, "crash", crash, -16.0f, 0.1f),
      Add(song, "reverse", reverse, -22.0f),
      Add(song, "toms", tom, -21.0f),
      Add(song, "sub", sub, -19.0f),
      Add(song, "bass deep", deep, -11.5f),
      Add(song, "bass drive", drive, -6.0f),
      Add(song, "bass warm", warm, -10.0f),
      Add(song, "pad deep", padDeep, -7.5f),
      Add(song, "pad bright", padBright, -13.0f),
      Add(song, "pad warm", padWarm, -8.5f),
      Add(song, "arp dark", arpDark, -11.0f, -0.2f),
      Add(song, "arp bright", arpBright, -12.5f, 0.2f),
      Add(song, "lead soft", leadSoft, -1.0f, 0.05f),
      Add(song, "lead", lead, -8.0f),
      Add(song, "lead warm", leadWarm, -5.5f, -0.05f),
      Add(song, "high pitch", highPitch, -19.0f, 0.1f),
      Add(song, "bells", bells, -19.5f, 0.2f),
      Add(song, "piano", piano, -15.5f),
      Add(song, "surf", surf, -10.0f),
      Add(song, "riser", riser, -12.0f),
      Add(song, "downlifter", downlifter, -14.0f),
      Add(song, "bubbles", bubble, -14.0f),
  };

  // Mixer strips: kicks duck the sustained parts and drive the music curve.
  for (Part* kicks : {&b.kickSoft, &b.kick}) kicks->track().duckSource = kicks->track().beatSource = true;
  b.padBright.track().duck = 0.6f;
  b.padWarm.track().duck = 0.25f;
  b.bassDrive.track().duck = 0.3f;
  b.arpBright.track().duck = 0.3f;
  b.padDeep.track().duck = 0.15f;
  b.rim.track().reverb = 0.25f;
  b.snare.track().reverb = 0.2f;
  b.clap.track().reverb = 0.2f;
  b.crash.track().reverb = 0.2f;
  b.reverse.track().reverb = 0.3f;
  b.toms.track().reverb = 0.15f;
  b.padDeep.track().reverb = 0.5f;
  b.padBright.track().reverb = 0.2f;
  b.padWarm.track().reverb = 0.35f;
  b.arpDark.track().reverb = 0.4f, b.arpDark.track().delay = 0.45f;
  b.arpBright.track().reverb = 0.15f, b.arpBright.track().delay = 0.3f;
  b.leadSoft.track().reverb = 0.45f, b.leadSoft.track().delay = 0.25f;
  b.lead.track().reverb = 0.2f, b.lead.track().delay = 0.2f;
  b.leadWarm.track().reverb = 0.35f, b.leadWarm.track().delay = 0.25f;
  b.highPitch.track().reverb = 0.55f;
  b.bells.track().reverb = 0.45f, b.bells.track().delay = 0.15f;
  b.piano.track().reverb = 0.3f;
  b.surf.track().reverb = 0.4f;
  b.riser.track().reverb = 0.3f;
  b.downlifter.track().reverb = 0.4f;
  b.bubbles.track().reverb = 0.6f;
  // Under water the highs are muffled; they open at the cut.
  b.hats.track().filter = b.shaker.track().filter = b.rim.track().filter = FilterMode::LowPass;
  b.rim.track().cutoffHz = 5000.0f;
  b.hats.track().cutoffHz.At(0.0, 6500.0f).At(55.9, 6500.0f).At(56.0, 19000.0f);
  b.shaker.track().cutoffHz.At(0.0, 7000.0f).At(99.9, 7000.0f).At(100.0, 12000.0f);
  // The deep pad opens up through the rise into the fall.
  b.padDeep.track().filter = FilterMode::LowPass;
  b.padDeep.track().cutoffHz.At(0.0, 2500.0f).At(48.0, 2500.0f).At(56.0, 12000.0f);
  return b;
}

// --- Under water: 0-56 s -------------------------------------------------------

void UnderWater(Band& b) {
  // Deep pad and sub, two bars a chord, from the first second.
  const Harmony* intro[4] = {&kDm9, &kBbMaj9, &kGm9, &kA7sus};
  for (int i = 0; i < 4; ++i) {
    const double t = At(2 * i);
    if (i < 3) {
      b.padDeep.Chord(t, 8.0, intro[i]->voicing, 0.75f);
      b.sub.Note(t, 8.0, Pitch(intro[i]->bass), 0.8f);
    } else {
      b.padDeep.Chord(t, 4.0, kA7sus.voicing, 0.75f);
      b.padDeep.Chord(At(7), 4.0, kA7.voicing, 0.75f);
      b.sub.Note(t, 8.0, Pitch(kA7.bass), 0.8f);
    }
  }

  // The bell run: the motif, freely timed. Each note is a flash in the
  // picture, so these times are fixed.
  const char* run[14] = {"D6", "A6", "G6", "A6", "Bb6", "A6", "G6", "F6", "G6", "A6", "D7", "E7", "D7", "E7"};
  const float weight[14] = {0.85f, 0.95f, 0.6f, 0.65f, 0.9f, 0.8f, 0.7f, 0.85f, 0.75f, 0.85f, 1.0f, 0.9f, 0.7f, 0.95f};
  for (size_t k = 0; k < kHighPitchTimes.size(); ++k) {
    const double next = k + 1 < kHighPitchTimes.size() ? kHighPitchTimes[k + 1] : kHighPitchTimes[k] + 2.0;
    const double held = std::max(0.1, next - kHighPitchTimes[k]) / kBeat;
    b.highPitch.Note(kHighPitchTimes[k], held, Pitch(run[k]), weight[k]);
  }

  // Surf: slow swells of filtered noise, then bubbles here and there (never
  // over the bell run, whose onsets must stay clean).
  for (int i = 0; i < 7; ++i) b.surf.Note(At(4 * i), 14.0, 0.0, 0.55f + 0.1f * (i % 2));
  Noise random(20240611u);
  for (double t = 0.7; t < 54.0; t += 0.35 + 1.6 * random.Unit()) {
    const double pitch = 74.0 + std::floor(12.0 * random.Unit());
    const float velocity = static_cast<float>(0.25 + 0.5 * random.Unit());
    if (t > 8.6 && t < 13.6) continue;
    b.bubbles.Note(t, 0.12, pitch, velocity);
  }

  // Soft groove from bar 8: the chords turn every bar.
  const Harmony* groove[4] = {&kDm9, &kBbMaj9, &kGm9, &kA7sus};
  for (int bar = 8; bar < 26; ++bar) {
    const Harmony& h = *groove[bar % 4];
    const bool breath = bar >= 24;
    const double t = At(bar);
    if (bar % 4 == 3) {
      b.padDeep.Chord(t, 2.0, kA7sus.voicing, 0.7f);
      b.padDeep.Chord(At(bar, 2), 2.0, kA7.voicing, 0.7f);
    } else {
      b.padDeep.Chord(t, 4.0, h.voicing, breath ? 0.85f : 0.7f);
    }
    const int root = Pitch(h.bass);
    if (!breath) {
      b.bassDeep.Note(t, 1.4, root, 0.9f);
      b.bassDeep.Note(At(bar, 1.5), 0.4, root, 0.6f);
      b.bassDeep.Note(At(bar, 2.5), 0.4, root + 7, 0.7f);
      b.bassDeep.Note(At(bar, 3.0), 0.9, root + 12, 0.75f);
      b.kickSoft.Steps(t, "x... .... x... ..o.", 0.9f);
      b.shaker.Steps(t, "oxox oxox oxox oxox", bar < 12 ? 0.6f : 0.85f);
      if (bar >= 12) b.rim.Steps(t, ".... x... .... x..o", 0.8f);
      if (bar >= 16) b.hats.Steps(t, "..x. ..x. ..x. ..x.", 0.6f);
      b.arpDark.Arpeggio(t, h.upper, "0123 4321 0123 4321", 0.5, bar < 16 ? 0.55f : 0.7f);
    } else {
      b.bassDeep.Note(t, 3.8, root, 0.8f);
      b.sub.Note(t, 4.0, root + 12, 0.6f);
      b.arpDark.Arpeggio(t, h.upper, "0... 2... 4... 3...", 0.5, 0.5f);
    }
  }

  // The motif, then its answer, on the soft lead (bars 16-23).
  for (int pass = 0; pass < 2; ++pass) {
    const double t = At(16 + 4 * pass);
    b.leadSoft.Melody(t, "D5:1 A5:1 G5:.25 A5:.25 Bb5:.5 A5:.5 G5:.5 | F5:1 G5:.5 A5:.5 D6:1 C6:.5 A5:.5", 0.8f);
    if (pass == 0) {
      b.leadSoft.Melody(At(18), "Bb5:1 A5:.5 G5:.5 F5:1 E5:1 | E5:.5 F5:.5 G5:1 A5:2", 0.75f);
    } else {
      b.leadSoft.Melody(At(22), "Bb5:1 A5:.5 G5:.5 F5:1 E5:1 | E5:.5 F5:.5 G5:.5 C6:.5 A5:2", 0.75f);
    }
  }
  // A breath: the lead lingers on the fifth.
  b.leadSoft.Melody(At(24), "r:2 D6:1 C6:1 | A5:4", 0.6f, 0.98);

  // The rise, bars 26-27: A7sus4 then A7; everything pushes towards 56 s.
  b.padDeep.Chord(At(26), 4.0, kA7sus.voicing, 0.9f);
  b.padDeep.Chord(At(27), 4.0, kA7.voicing, 0.95f);
  b.padBright.Chord(At(26), 7.4, kA7sus.voicing, 0.5f);
  b.padBright.track().gainDb.At(52.0, -25.0f).At(55.8, -11.0f).At(56.0, -13.0f);
  b.sub.Note(At(26), 7.5, Pitch("A1"), 0.8f);
  for (int i = 0; i < 16; ++i) b.bassDeep.Note(At(26, 0.5 * i), 0.4, Pitch("A1"), 0.55f + 0.025f * i);
  b.riser.Note(At(26), 7.5, 0.0, 1.0f);
  b.reverse.Hit(At(27, 0.1), 1.0f);
  for (int i = 0; i < 8; ++i) b.snare.Hit(At(26, 0.5 * i), 0.25f + 0.03f * i);
  for (int i = 0; i < 8; ++i) b.snare.Hit(At(27, 0.25 * i), 0.5f + 0.03f * i);
  for (int i = 0; i < 12; ++i) b.snare.Hit(At(27, 2.0 + 0.125 * i), 0.75f + 0.02f * i);
  for (int i = 0; i < 4; ++i) b.kickSoft.Hit(At(27, i), 0.9f);
  b.arpDark.Arpeggio(At(26), kA7sus.upper, "0123 4321 0123 4321", 0.5, 0.6f);
  b.arpDark.Arpeggio(At(27), kA7.upper, "0123 4321 0123 4...", 0.25, 0.7f);
}

// --- The fall: 56-100 s --------------------------------------------------------

void Fall(Band& b) {
  const Harmony* verse[8] = {&kDm, &kBb, &kF, &kC, &kDm, &kBb, &kF, &kC};
  const Harmony* chorus[8] = {&kDm, &kBb, &kF, &kC, &kDm, &kBb, &kGm, &kA};
  for (int bar = 28; bar < 48; ++bar) {
    const int k = bar - 28;
    const Harmony& h = k < 8 ? *verse[k] : k < 16 ? *chorus[k - 8] : *verse[k - 16];
    const double t = At(bar);
    const bool lifted = k >= 8;
    b.kick.Steps(t, "x... x... x... x...", 1.0f);
    b.clap.Steps(t, ".... x... .... x...", 1.0f);
    b.snare.Steps(t, ".... x... .... x...", 0.6f);
    b.hats.Steps(t, lifted ? "xoXo xo.o xoXo xo.o" : "xoXo xoXo xoXo xoXo", 0.9f);
    if (lifted) b.openHat.Steps(t, "..x. ..x. ..x. ..x.", 0.7f);
    if (k % 8 == 7) b.snare.Steps(t, ".... .... .... .oox", 0.7f);
    // Driving bass: root and octave in eighths.
    const int root = Pitch(h.bass);
    const int line[8] = {0, 0, 12, 0, 0, 12, 0, 12};
    for (int i = 0; i < 8; ++i) b.bassDrive.Note(At(bar, 0.5 * i), 0.42, root + line[i], i % 2 ? 0.7f : 0.95f);
    b.padBright.Chord(t, 3.8, h.voicing, 0.8f);
    b.arpBright.Arpeggio(t, h.upper, "0124 2142 0124 3142", 0.25, 0.75f);
  }
  for (double t : {At(28), At(36), At(44)}) b.crash.Hit(t, 1.0f);

  // The motif on the bright lead, then an octave up with the bells.
  const char* motif = "D5:1 A5:1 G5:.25 A5:.25 Bb5:.5 A5:.5 G5:.5 | F5:1 G5:.5 A5:.5 D6:1 C6:.5 A5:.5";
  b.lead.Melody(At(36), motif, 0.85f);
  b.lead.Melody(At(38), "Bb5:1 A5:.5 G5:.5 F5:1 E5:1 | E5:.5 F5:.5 G5:1 A5:2", 0.8f);
  b.lead.Melody(At(40), motif, 0.9f);
  b.lead.Melody(At(42), "Bb5:1 A5:.5 G5:.5 F5:1 E5:1 | C#5:.5 D5:.5 E5:1 A5:2", 0.85f);
  const char* high = "D6:1 A6:1 G6:.25 A6:.25 Bb6:.5 A6:.5 G6:.5 | F6:1 G6:.5 A6:.5 D7:1 C7:.5 A6:.5";
  b.lead.Melody(At(44), high, 0.9f);
  b.lead.Melody(At(46), "Bb6:1 A6:.5 G6:.5 F6:1 E6:1 | E6:.5 F6:.5 G6:1 A6:2", 0.9f);
  b.bells.Melody(At(44), high, 0.7f, 0.5);
  b.bells.Melody(At(46), "Bb6:1 A6:.5 G6:.5 F6:1 E6:1 | E6:.5 F6:.5 G6:1 A6:2", 0.7f, 0.5);

  // Bars 48-49: Bb, then A with a fill, and the drop into the city.
  b.padBright.Chord(At(48), 3.8, kBb.voicing, 0.8f);
  b.padBright.Chord(At(49), 3.5, kA.voicing, 0.85f);
  for (int i = 0; i < 8; ++i) b.bassDrive.Note(At(48, 0.5 * i), 0.42, Pitch("Bb2") + (i % 3 == 2 ? 12 : 0), 0.9f);
  b.bassDrive.Note(At(49), 3.5, Pitch("A2"), 0.9f);
  b.kick.Steps(At(48), "x... .... x... ....", 1.0f);
  b.kick.Hit(At(49), 1.0f);
  b.clap.Steps(At(48), ".... x... .... x...", 1.0f);
  b.hats.Steps(At(48), "xoxo xoxo xoxo xoxo", 0.8f);
  const char* toms = "G4 G4 E4 E4 C4 C4 A3 A3 G3 G3 E3 E3";
  const std::vector<std::string_view> tomNotes = Words(toms);
  for (size_t i = 0; i < tomNotes.size(); ++i) {
    b.toms.Hit(At(49, 1.0 + 0.25 * static_cast<double>(i)), 0.6f + 0.03f * static_cast<float>(i),
               Pitch(tomNotes[i]) - 12);
  }
  b.snare.Steps(At(49), ".... .... .... oxxX", 1.0f);
  b.downlifter.Note(At(48), 8.0, 0.0, 0.9f);
  b.arpBright.Arpeggio(At(48), kBb.upper, "0124 2142 0124 3142", 0.25, 0.7f);
  b.arpBright.Arpeggio(At(49), kA.upper, "0124 2142 0...", 0.25, 0.6f);
}

// --- The city: 100-154 s -------------------------------------------------------

void City(Band& b) {
  const Harmony* verse[8] = {&kBbMaj9City, &kC69, &kAm7, &kDm9City, &kBbMaj9City, &kC69, &kAm7, &kDm9City};
  const Harmony* theme[8] = {&kBbMaj9City, &kC69, &kGm9City, &kA7, &kBbMaj9City, &kC69, &kDm9City, &kDm9City};
  const Harmony* close[6] = {&kBbMaj9City, &kGm9City, &kBbMaj9City, &kGm9City, &kA7sus, &kA7};
  b.crash.Hit(At(50), 0.7f);
  for (int bar = 50; bar < 72; ++bar) {
    const int k = bar - 50;
    const Harmony& h = k < 8 ? *verse[k] : k < 16 ? *theme[k - 8] : *close[k - 16];
    const double t = At(bar);
    const int root = Pitch(h.bass);
    // Half-time groove until the close thins it out.
    if (k < 16) {
      b.kick.Steps(t, k % 2 ? "x... ...x ..x. ...." : "x... .... ..x. ....", 0.85f);
      b.clap.Steps(t, ".... .... x... ....", 0.7f);
      b.snare.Steps(t, ".... .... x... ...o", 0.4f);
      b.hats.Steps(t, "x.o. x.o. x.o. x.oo", 0.7f);
      b.shaker.Steps(t, "oxox oxox oxox oxox", 0.6f);
    } else if (k < 18) {
      b.kick.Steps(t, "x... .... .... ....", 0.7f);
      b.hats.Steps(t, "x.o. x.o. x.o. x.o.", 0.5f);
      b.shaker.Steps(t, "oxox oxox oxox oxox", 0.45f);
    } else if (k < 20) {
      b.shaker.Steps(t, "o.o. o.o. o.o. o.o.", 0.35f);
    }
    // Piano comping: on the one, the and of two, and four.
    b.piano.Chord(t, 1.4, h.voicing, 0.7f);
    b.piano.Chord(At(bar, 1.5), 0.9, h.voicing, 0.55f);
    b.piano.Chord(At(bar, 3.0), 0.9, h.voicing, 0.6f);
    b.padWarm.Chord(t, 4.0, h.voicing, 0.65f);
    if (k < 18) {
      b.bassWarm.Note(t, 1.4, root, 0.9f);
      b.bassWarm.Note(At(bar, 1.5), 0.9, root, 0.65f);
      b.bassWarm.Note(At(bar, 3.0), 0.4, root + 7, 0.7f);
      b.bassWarm.Note(At(bar, 3.5), 0.4, root + 12, 0.6f);
    } else {
      b.bassWarm.Note(t, 3.9, root, 0.8f);
    }
  }

  // The motif on the warm lead, then it grows and settles on the fifth.
  b.leadWarm.Melody(At(58), "D5:1 A5:1 G5:.25 A5:.25 Bb5:.5 A5:.5 G5:.5 | F5:1 G5:.5 A5:.5 D6:1 C6:.5 A5:.5",
                    0.85f);
  b.leadWarm.Melody(At(60), "Bb5:1 A5:.5 G5:.5 F5:1 E5:1 | E5:.5 F5:.5 G5:1 A5:2", 0.8f);
  b.leadWarm.Melody(At(62), "D6:1 C6:.5 A5:.5 Bb5:1 A5:1 | G5:.5 A5:.5 F5:1 E5:1 C5:1 | D5:3 E5:.5 F5:.5 | A5:4",
                    0.85f);
  // Closing: the bells remember the run, the lead walks down to the cadence.
  b.bells.Melody(At(66), "D6:1 A6:1 G6:.25 A6:.25 Bb6:.5 A6:.5 G6:.5 | F6:1 G6:.5 A6:.5 D7:2", 0.6f, 0.5);
  b.leadWarm.Melody(At(68), "Bb5:2 A5:2 | G5:2 F5:2 | E5:2 D5:2 | E5:2 C#5:2", 0.7f, 0.97);
  b.reverse.Hit(At(71, 0.1), 0.6f);

  // Final chord at 144 s, left to ring.
  const double end = At(72);
  b.padWarm.Chord(end, 12.0, "D3 A3 F#4 A4 E5", 0.6f);
  b.piano.Chord(end, 8.0, kDadd9.voicing, 0.55f);
  b.bassWarm.Note(end, 10.0, Pitch("D2"), 0.65f);
  b.sub.Note(end, 12.0, Pitch("D2"), 0.55f);
  b.leadWarm.Note(end, 6.0, Pitch("D5"), 0.6f);
  b.bells.Note(end, 4.0, Pitch("D6"), 0.7f);
  b.bells.Note(end + 0.75, 4.0, Pitch("A6"), 0.45f);
  b.crash.Hit(end, 0.35f);
}

}  // namespace

Song DemoSong() {
  Song song;
  song.seconds = 154.0;
  Band band = MakeBand(song);
  UnderWater(band);
  Fall(band);
  City(band);
  // Section dynamics: quiet under water, growing through the rise, full in
  // the fall, a little less in the city, and the fade after the last chord.
  constexpr float kTrim = 2.2f;
  song.masterDb.At(0.0, kTrim - 2.5f)
      .At(52.0, kTrim - 2.5f)
      .At(56.0, kTrim + 0.5f)
      .At(99.9, kTrim + 0.5f)
      .At(100.0, kTrim - 1.0f)
      .At(150.0, kTrim - 1.0f)
      .At(154.0, kTrim - 40.0f);
  song.reverbSeconds = 2.6;
  song.reverbDampingHz = 5500.0;
  song.limiter.ceilingDb = -2.0;
  return song;
}

}  // namespace music
