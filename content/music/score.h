#pragma once

#include <array>
#include <string_view>

#include "content/music/song.h"
#include "game/contentContract.h"

namespace music {

// The demo's sound track: 154 s at 120 BPM in D minor. Under water (0-56 s),
// the fall (56-100 s) and the city (100-152 s, then the tail).
Song DemoSong();

// The run of high bell notes; the underwater flashes fire at these times,
// so the program's table is the one source.
using demo::kHighPitchTimes;

// "D5", "Bb3", "F#2": MIDI note number (C4 = 60). Throws std::invalid_argument.
int Pitch(std::string_view name);

}  // namespace music
