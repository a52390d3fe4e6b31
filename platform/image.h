#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/api.h"

// Texture images as the graphics layer uploads them: the pixel format by the
// graphics interface's numbers, every face and mip level, row 0 at the top
// of the picture, rows tightly packed (compressed formats: rows of 4x4
// blocks).
namespace platform::image {

enum Format : std::uint32_t {
  kR8G8B8 = 20,    // bytes B, G, R
  kA8R8G8B8 = 21,  // bytes B, G, R, A
  kX8R8G8B8 = 22,  // bytes B, G, R, unused
  kR5G6B5 = 23,
  kX1R5G5B5 = 24,
  kA1R5G5B5 = 25,
  kA4R4G4B4 = 26,
  kL8 = 50,
  kA8L8 = 51,
  kR32F = 114,
  kDXT1 = 0x31545844,  // 'DXT1'
  kDXT3 = 0x33545844,
  kDXT5 = 0x35545844,
};

struct Level {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bytes;
};

struct Image {
  Format format = kA8R8G8B8;
  int width = 0;
  int height = 0;
  bool cube = false;
  // faces[f][level]: one face for 2D images, six for cube maps in the order
  // +X, -X, +Y, -Y, +Z, -Z.
  std::vector<std::vector<Level>> faces;
};

// Bytes of one level of the format at that size (block formats round up to
// whole 4x4 blocks); 0 for an unknown format.
PLATFORM_API std::size_t LevelSize(Format format, int width, int height);

// Decodes a file image: DDS keeps its stored format, faces and mip levels;
// PNG, JPG, TGA and BMP become one A8R8G8B8 level. False with a reason in
// `error` for data it cannot read; never reads out of bounds.
PLATFORM_API bool Decode(const void* data, std::size_t size, Image& out, std::string& error);
PLATFORM_API bool LoadFile(const std::wstring& path, Image& out, std::string& error);

// Adds the missing levels of a full mip chain down to 1x1 (box filter) to
// every face; block-compressed images are decompressed first.
PLATFORM_API bool GenerateMipChain(Image& image, std::string& error);

// Converts every level to A8R8G8B8 (DXT decompression, 16-bit and luminance
// expansion); R32F is left alone.
PLATFORM_API bool ConvertToA8R8G8B8(Image& image, std::string& error);

// One level as A8R8G8B8 bytes, the way ConvertToA8R8G8B8 converts it (for
// graphics libraries without the format); empty for R32F or when `size` is
// not the level's size. Internal to the platform layer.
std::vector<std::uint8_t> LevelToA8R8G8B8(Format format, int width, int height,
                                          const std::uint8_t* bytes, std::size_t size);

// Writes rows of A8R8G8B8 pixels (top row first) as a PNG file.
PLATFORM_API bool SavePng(const std::wstring& path, int width, int height, const void* pixels,
                          std::size_t pitch, std::string& error);

}  // namespace platform::image
