#include "content/formats/image.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>

#include "content/formats/bytes.h"

namespace content {
namespace {

std::uint8_t Byte(float v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

}  // namespace

void Image::Set(int x, int y, float r, float g, float b, float a) {
  std::uint8_t* p = At(x, y);
  p[0] = Byte(b), p[1] = Byte(g), p[2] = Byte(r), p[3] = Byte(a);
}

std::string DdsBytes(const Image& image) { return DdsBytes(std::vector<Image>{image}); }

std::string DdsBytes(const std::vector<Image>& levels) {
  const Image& image = levels.at(0);
  constexpr std::uint32_t kCaps = 0x1, kHeight = 0x2, kWidth = 0x4, kPitch = 0x8,
                          kPixelFormat = 0x1000, kMipMapCount = 0x20000;
  constexpr std::uint32_t kAlphaPixels = 0x1, kRgb = 0x40, kTexture = 0x1000, kComplex = 0x8,
                          kMipMap = 0x400000;
  const bool chain = levels.size() > 1;
  ByteWriter w;
  w.Raw("DDS ", 4);
  w.U32(124).U32(kCaps | kHeight | kWidth | kPitch | kPixelFormat | (chain ? kMipMapCount : 0));
  w.U32(static_cast<std::uint32_t>(image.height)).U32(static_cast<std::uint32_t>(image.width));
  w.U32(static_cast<std::uint32_t>(image.width) * 4);  // pitch
  w.U32(0).U32(static_cast<std::uint32_t>(levels.size()));  // depth, mip levels
  for (int i = 0; i < 11; ++i) w.U32(0);               // reserved
  w.U32(32).U32(kAlphaPixels | kRgb).U32(0).U32(32);   // pixel format: size, flags, FourCC, bits
  w.U32(0x00FF0000).U32(0x0000FF00).U32(0x000000FF).U32(0xFF000000);
  w.U32(kTexture | (chain ? kComplex | kMipMap : 0)).U32(0).U32(0).U32(0).U32(0);  // caps 1..4, reserved
  for (const Image& level : levels) w.Raw(level.bgra.data(), level.bgra.size());
  return w.Bytes();
}

std::string BmpBytes(const Image& image) {
  const std::uint32_t rowBytes = (static_cast<std::uint32_t>(image.width) * 3 + 3) & ~3u;
  const std::uint32_t pixelBytes = rowBytes * static_cast<std::uint32_t>(image.height);
  ByteWriter w;
  w.Raw("BM", 2).U32(54 + pixelBytes).U32(0).U32(54);
  w.U32(40).Int(image.width).Int(image.height).U16(1).U16(24);
  w.U32(0).U32(pixelBytes).Int(2835).Int(2835).U32(0).U32(0);  // BI_RGB, 72 dpi
  const char pad[3] = {0, 0, 0};
  for (int y = image.height - 1; y >= 0; --y) {
    for (int x = 0; x < image.width; ++x) w.Raw(image.At(x, y), 3);
    w.Raw(pad, rowBytes - static_cast<std::uint32_t>(image.width) * 3);
  }
  return w.Bytes();
}

std::string PngBytes(const Image& image) {
  std::vector<std::uint8_t> rgba(image.bgra.size());
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
    rgba[i] = image.bgra[i + 2], rgba[i + 1] = image.bgra[i + 1];
    rgba[i + 2] = image.bgra[i], rgba[i + 3] = image.bgra[i + 3];
  }
  std::string out;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                                   static_cast<std::size_t>(size));
      },
      &out, image.width, image.height, 4, rgba.data(), image.width * 4);
  return out;
}

}  // namespace content
