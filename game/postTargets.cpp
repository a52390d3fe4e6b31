#include "game/postTargets.h"

#include <algorithm>
#include <string>

#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/contentContract.h"
#include "platform/graphics.h"

namespace demo {

namespace {
constexpr std::uint32_t kTextureCapsPow2 = 0x2;
constexpr std::uint32_t kTextureCapsNonPow2Conditional = 0x100;
}  // namespace

std::vector<TargetSpec> PostTargets(int width, int height, std::uint32_t textureCaps) {
  int w = width, h = height;
  if ((textureCaps & (kTextureCapsPow2 | kTextureCapsNonPow2Conditional)) != 0) {
    w = engine::FindLessEqualPow2(w);
    h = engine::FindLessEqualPow2(h);
  }
  // A window a few pixels high would otherwise ask for empty targets.
  const auto part = [](int size, int divisor) { return std::max(1, size / divisor); };
  std::vector<TargetSpec> targets;
  for (const PostTarget& t : kPostTargets) {
    const std::string name = t.name;
    targets.push_back({std::wstring(name.begin(), name.end()), part(w, t.divisor), part(h, t.divisor),
                       t.viaBackBuffer});
  }
  return targets;
}

void CreatePostTargets() {
  const engine::WindowSettings* settings = engine::GetWindowSettings();
  for (const TargetSpec& t :
       PostTargets(settings->width, settings->height, engine::GetDirect3DCaps().textureCaps))
    engine::CreateRenderTarget(t.name, t.width, t.height, t.viaBackBuffer);
}

}  // namespace demo
