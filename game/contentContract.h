#pragma once

// Values that the program and the content build must agree on, kept once:
// the demo, the music generator and the content generator's checks all
// include this header. It needs nothing but the standard library, so the
// content tools use it without linking the program.
#include <array>

namespace demo {

// Seconds of the music's run of high bell notes; the underwater flashes
// (HighPitch) fire at these times.
inline constexpr std::array<double, 14> kHighPitchTimes = {9.3,   9.78, 10.45, 10.5,  10.55, 10.9,  11.0,
                                                           11.65, 11.9, 12.2,  12.47, 12.69, 12.83, 12.88};

// The post-processing render targets that the program creates, in creation
// order: each side is the window's divided by divisor. Material scripts may
// name no other target.
struct PostTarget {
  const char* name;
  int divisor;
  bool viaBackBuffer;  // drawn in the back buffer, then copied into the texture
};
inline constexpr PostTarget kPostTargets[] = {
    {"gaussGlow", 2, true},         {"gaussTemp4", 4, false},  {"gaussGlow4", 4, false},
    {"gaussTemp8", 8, false},       {"gaussGlow8", 8, false},  {"gaussTemp16", 16, false},
    {"gaussGlow16", 16, false},     {"backbuffer", 1, true},   {"backbuffer_blurx", 2, true},
    {"godRays", 4, false},
};

}  // namespace demo
