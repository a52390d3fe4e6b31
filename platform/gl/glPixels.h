#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/formats.h"

// Pixels between the graphics library's layouts and what OpenGL ES takes
// and gives: ES uploads and reads no BGRA order, has no swizzles and knows
// S3TC only as an extension, so those formats go through RGBA bytes here.
namespace platform::gl::pixels {

// A level of `format` (as the library lays it out) as RGBA8, or as RGB8 when
// `rgb`: opaque formats read alpha 255, DXT blocks decompressed. Empty when
// `size` is not the level's size or the format has no such conversion.
std::vector<std::uint8_t> ToRgba8(Format format, std::uint32_t width, std::uint32_t height,
                                  const std::uint8_t* bytes, std::size_t size, bool rgb);

// `count` pixels read back as RGBA8 (RGBA32F for kFormatR32F) written in the
// library's layout of `format`; false for a format it cannot write.
bool FromRgba(Format format, std::size_t count, const void* rgba, std::uint8_t* out);

// Bytes per pixel FromRgba reads for `format`.
inline std::size_t ReadBytesPerPixel(Format format) { return format == kFormatR32F ? 16 : 4; }

}  // namespace platform::gl::pixels
