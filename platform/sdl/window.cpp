#include <SDL.h>

#include <algorithm>
#include <mutex>

#include "platform/display.h"

namespace platform {
namespace {

std::vector<DisplayMode>& TestModes() {
  static std::vector<DisplayMode> modes;
  return modes;
}

// Video is needed for mode queries before any window exists (the settings
// dialog runs first); initialised once, on demand.
bool EnsureVideo() {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
  return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

int FormatOf(Uint32 sdlFormat) {
  return SDL_BITSPERPIXEL(sdlFormat) <= 16 ? kFormatR5G6B5 : kFormatX8R8G8B8;
}

}  // namespace

std::vector<DisplayMode> EnumerateDisplayModes(int format) {
  std::vector<DisplayMode> modes;
  if (!TestModes().empty()) {
    for (const DisplayMode& m : TestModes()) {
      if (m.format == format) modes.push_back(m);
    }
    return modes;
  }
  if (!EnsureVideo()) return modes;
  const int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) != 0 || FormatOf(mode.format) != format) continue;
    modes.push_back({mode.w, mode.h, mode.refresh_rate, format});
  }
  return modes;
}

DisplayMode DesktopDisplayMode() {
  if (!TestModes().empty()) return TestModes().front();
  SDL_DisplayMode mode;
  if (!EnsureVideo() || SDL_GetDesktopDisplayMode(0, &mode) != 0) {
    return {1024, 768, 60, kFormatX8R8G8B8};
  }
  return {mode.w, mode.h, mode.refresh_rate, FormatOf(mode.format)};
}

void SetDisplayModesForTesting(const std::vector<DisplayMode>& modes) { TestModes() = modes; }

}  // namespace platform
