#pragma once

#include <vector>

#include "platform/api.h"
#include "platform/formats.h"

namespace platform {

struct DisplayMode {
  int width = 0;
  int height = 0;
  int refreshRate = 0;  // Hz; 0 when the display does not say
  int format = kFormatX8R8G8B8;
};

// The modes of the primary display in the given pixel format, as the
// display reports them (duplicates included).
PLATFORM_API std::vector<DisplayMode> EnumerateDisplayModes(int format);

// The primary display's current mode.
PLATFORM_API DisplayMode DesktopDisplayMode();

// Replaces what the two functions above report (tests feed a mode list in;
// a virtual display has only one mode). An empty list restores the display.
PLATFORM_API void SetDisplayModesForTesting(const std::vector<DisplayMode>& modes);

}  // namespace platform
