#pragma once

// glTF images (PNG, JPEG) to the engine's texture files: A8R8G8B8 DDS with
// the whole mip chain.
#include <string>

namespace gltfimport {

// Images larger than this per side, or with more pixels than
// kMaxImagePixels, are refused before they are decoded.
constexpr int kMaxImageSide = 16384;
constexpr long long kMaxImagePixels = 64ll << 20;

// `encoded` is a PNG or JPEG file (by its first bytes; `mimeType`, when
// not empty, must name the same kind). `colour`: the image holds sRGB
// colours, which the smaller levels average as light does; otherwise its
// values are averaged as they are (normals, roughness). The DDS file's
// bytes, or an empty string and the reason in `why`.
std::string TextureFile(const std::string& encoded, const std::string& mimeType, bool colour,
                        std::string* why);

// A 1 x 1 white texture, bound where a material has no map.
std::string WhiteTextureFile();

}  // namespace gltfimport
