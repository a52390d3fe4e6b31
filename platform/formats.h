#pragma once

#include <cstdint>

namespace platform {

// Pixel formats. Same numbers as platform::image::Format for the texture
// formats; the depth and index formats exist only here.
enum Format : std::uint32_t {
  kFormatUnknown = 0,
  kFormatR8G8B8 = 20,
  kFormatA8R8G8B8 = 21,
  kFormatX8R8G8B8 = 22,
  kFormatR5G6B5 = 23,
  kFormatX1R5G5B5 = 24,
  kFormatA1R5G5B5 = 25,
  kFormatA4R4G4B4 = 26,
  kFormatL8 = 50,
  kFormatA8L8 = 51,
  kFormatD32 = 71,
  kFormatD24S8 = 75,
  kFormatD24X8 = 77,
  kFormatD16 = 80,
  kFormatIndex16 = 101,
  kFormatIndex32 = 102,
  kFormatR32F = 114,
  kFormatDXT1 = 0x31545844,
  kFormatDXT3 = 0x33545844,
  kFormatDXT5 = 0x35545844,
};

}  // namespace platform
