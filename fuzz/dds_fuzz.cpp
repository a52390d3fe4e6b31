// Texture files from memory (DDS mostly; other data goes to stb_image). An
// image that decodes is then converted and given a full mip chain, and every
// level must have the size its format and dimensions call for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image.h"

namespace img = platform::image;

namespace {

void CheckLevels(const img::Image& image) {
  for (const auto& face : image.faces) {
    for (const auto& level : face) {
      if (level.bytes.size() != img::LevelSize(image.format, level.width, level.height)) {
        __builtin_trap();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  img::Image image;
  std::string error;
  if (!img::Decode(data, size, image, error)) return 0;
  CheckLevels(image);
  // Large images only cost time; the small ones reach the same code.
  if (image.width > 1024 || image.height > 1024) return 0;
  img::Image converted = image;
  if (!img::ConvertToA8R8G8B8(converted, error)) __builtin_trap();
  CheckLevels(converted);
  if (!img::GenerateMipChain(image, error)) __builtin_trap();
  CheckLevels(image);
  return 0;
}
