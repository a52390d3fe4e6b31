#include "tools/gltfimport/textures.h"

#include <stb/stb_image.h>
#include <stb/stb_image_resize.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "content/formats/image.h"

namespace gltfimport {
namespace {

bool StartsWith(const std::string& bytes, const char* magic, std::size_t n) {
  return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

}  // namespace

std::string TextureFile(const std::string& encoded, const std::string& mimeType, bool colour,
                        std::string* why) {
  const bool png = StartsWith(encoded, "\x89PNG\r\n\x1a\n", 8);
  const bool jpeg = StartsWith(encoded, "\xFF\xD8\xFF", 3);
  if (!mimeType.empty() && mimeType != "image/png" && mimeType != "image/jpeg") {
    *why = "its type " + mimeType + " is neither PNG nor JPEG";
    return "";
  }
  if (encoded.empty()) {
    *why = "it cannot be read";
    return "";
  }
  if ((!png && !jpeg) || (mimeType == "image/png" && !png) || (mimeType == "image/jpeg" && !jpeg)) {
    *why = std::string("it is not a ") +
           (mimeType == "image/png" ? "PNG" : mimeType == "image/jpeg" ? "JPEG" : "PNG or JPEG") +
           " file";
    return "";
  }
  if (encoded.size() > 0x7FFFFFFFu) {
    *why = "it is too large";
    return "";
  }
  const auto* bytes = reinterpret_cast<const stbi_uc*>(encoded.data());
  const int size = static_cast<int>(encoded.size());
  int width = 0, height = 0, channels = 0;
  if (stbi_info_from_memory(bytes, size, &width, &height, &channels) == 0) {
    *why = "it cannot be decoded (" + std::string(stbi_failure_reason()) + ")";
    return "";
  }
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
      static_cast<long long>(width) * height > kMaxImagePixels) {
    *why = "its size " + std::to_string(width) + " x " + std::to_string(height) +
           " is beyond the importer's limit";
    return "";
  }
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(bytes, size, &width, &height, &channels, 4), stbi_image_free);
  if (pixels == nullptr) {
    *why = "it cannot be decoded (" + std::string(stbi_failure_reason()) + ")";
    return "";
  }

  // Level 0 as decoded, each further level resized from it.
  const stbi_uc* full = pixels.get();
  std::vector<content::Image> levels;
  for (int w = width, h = height;; w = std::max(1, w / 2), h = std::max(1, h / 2)) {
    std::vector<stbi_uc> level(static_cast<std::size_t>(w) * h * 4);
    if (levels.empty()) {
      level.assign(full, full + level.size());
    } else if (colour) {
      stbir_resize_uint8_srgb(full, width, height, 0, level.data(), w, h, 0, 4, 3, 0);
    } else {
      stbir_resize_uint8(full, width, height, 0, level.data(), w, h, 0, 4);
    }
    content::Image image(w, h);
    for (std::size_t i = 0; i < level.size(); i += 4) {
      image.bgra[i] = level[i + 2], image.bgra[i + 1] = level[i + 1];
      image.bgra[i + 2] = level[i], image.bgra[i + 3] = level[i + 3];
    }
    levels.push_back(std::move(image));
    if (w == 1 && h == 1) break;
  }
  return content::DdsBytes(levels);
}

std::string WhiteTextureFile() {
  content::Image white(1, 1);
  white.Set(0, 0, 1, 1, 1, 1);
  return content::DdsBytes(white);
}

}  // namespace gltfimport
