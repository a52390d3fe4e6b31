#pragma once

// Pictures: DDS textures (A8R8G8B8), 24-bit BMP file images, PNG.
#include <cstdint>
#include <string>
#include <vector>

namespace content {

// 8-bit B, G, R, A per pixel, row 0 at the top.
struct Image {
  Image() = default;
  Image(int w, int h) : width(w), height(h), bgra(static_cast<std::size_t>(w) * h * 4, 0) {}

  // Components 0..1, clamped and rounded.
  void Set(int x, int y, float r, float g, float b, float a = 1.0f);
  std::uint8_t* At(int x, int y) { return &bgra[(static_cast<std::size_t>(y) * width + x) * 4]; }
  const std::uint8_t* At(int x, int y) const {
    return &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
  }

  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;
};

// One level, A8R8G8B8 (the texture loader builds the mip chain).
std::string DdsBytes(const Image& image);
// A mip chain, level 0 first, each level half the one before (rounded down,
// at least 1) as the texture loader expects.
std::string DdsBytes(const std::vector<Image>& levels);

// Uncompressed 24-bit BMP file image (alpha dropped), rows bottom-up and
// padded to four bytes as the format wants.
std::string BmpBytes(const Image& image);

// RGBA PNG.
std::string PngBytes(const Image& image);

}  // namespace content
