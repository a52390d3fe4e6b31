#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

// One off-screen target of the post-processing materials.
struct TargetSpec {
  std::wstring name;
  int width;
  int height;
  bool viaBackBuffer;  // drawn in the back buffer, then copied into the texture
};

// The targets of kPostTargets (game/contentContract.h) in creation order for
// a window of width x height. Devices
// that want power-of-two textures get the largest power of two below each
// side first. No side is smaller than one pixel.
std::vector<TargetSpec> PostTargets(int width, int height, std::uint32_t textureCaps);

// Creates them through the engine (before any material refers to them).
void CreatePostTargets();

}  // namespace demo
