#include "platform/gl/glPixels.h"

#include <cstring>

#include "platform/image.h"

namespace platform::gl::pixels {

std::vector<std::uint8_t> ToRgba8(Format format, std::uint32_t width, std::uint32_t height,
                                  const std::uint8_t* bytes, std::size_t size, bool rgb) {
  std::vector<std::uint8_t> bgra =
      image::LevelToA8R8G8B8(static_cast<image::Format>(format), static_cast<int>(width),
                             static_cast<int>(height), bytes, size);
  const std::size_t count = bgra.size() / 4;
  if (rgb) {
    std::vector<std::uint8_t> out(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
      out[i * 3] = bgra[i * 4 + 2];
      out[i * 3 + 1] = bgra[i * 4 + 1];
      out[i * 3 + 2] = bgra[i * 4];
    }
    return out;
  }
  for (std::size_t i = 0; i < count; ++i) std::swap(bgra[i * 4], bgra[i * 4 + 2]);
  return bgra;
}

bool FromRgba(Format format, std::size_t count, const void* rgba, std::uint8_t* out) {
  if (format == kFormatR32F) {
    const auto* in = static_cast<const std::uint8_t*>(rgba);
    for (std::size_t i = 0; i < count; ++i) std::memcpy(out + i * 4, in + i * 16, 4);
    return true;
  }
  const auto* in = static_cast<const std::uint8_t*>(rgba);
  auto put16 = [&](std::size_t i, unsigned v) {
    out[i * 2] = static_cast<std::uint8_t>(v);
    out[i * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned r = in[i * 4], g = in[i * 4 + 1], b = in[i * 4 + 2], a = in[i * 4 + 3];
    switch (format) {
      case kFormatA8R8G8B8:
      case kFormatX8R8G8B8:
        out[i * 4] = static_cast<std::uint8_t>(b);
        out[i * 4 + 1] = static_cast<std::uint8_t>(g);
        out[i * 4 + 2] = static_cast<std::uint8_t>(r);
        out[i * 4 + 3] = static_cast<std::uint8_t>(a);
        break;
      case kFormatR8G8B8:
        out[i * 3] = static_cast<std::uint8_t>(b);
        out[i * 3 + 1] = static_cast<std::uint8_t>(g);
        out[i * 3 + 2] = static_cast<std::uint8_t>(r);
        break;
      case kFormatR5G6B5: put16(i, (r >> 3) << 11 | (g >> 2) << 5 | b >> 3); break;
      case kFormatX1R5G5B5:
      case kFormatA1R5G5B5: put16(i, (a >> 7) << 15 | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3); break;
      case kFormatA4R4G4B4: put16(i, (a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | b >> 4); break;
      case kFormatL8: out[i] = static_cast<std::uint8_t>(r); break;
      case kFormatA8L8:
        out[i * 2] = static_cast<std::uint8_t>(r);
        out[i * 2 + 1] = static_cast<std::uint8_t>(a);
        break;
      default: return false;
    }
  }
  return true;
}

}  // namespace platform::gl::pixels
