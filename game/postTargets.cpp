#include "game/postTargets.h"

#include <algorithm>

#include "engine/windowStuff.h"
#include "engine/wrapper.h"
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
  return {
      {L"gaussGlow", part(w, 2), part(h, 2), true},
      {L"gaussTemp4", part(w, 4), part(h, 4), false},
      {L"gaussGlow4", part(w, 4), part(h, 4), false},
      {L"gaussTemp8", part(w, 8), part(h, 8), false},
      {L"gaussGlow8", part(w, 8), part(h, 8), false},
      {L"gaussTemp16", part(w, 16), part(h, 16), false},
      {L"gaussGlow16", part(w, 16), part(h, 16), false},
      {L"backbuffer", part(w, 1), part(h, 1), true},
      {L"backbuffer_blurx", part(w, 2), part(h, 2), true},
      {L"godRays", part(w, 4), part(h, 4), false},
  };
}

void CreatePostTargets() {
  const engine::WindowSettings* settings = engine::GetWindowSettings();
  for (const TargetSpec& t :
       PostTargets(settings->width, settings->height, engine::GetDirect3DCaps().textureCaps))
    engine::CreateRenderTarget(t.name, t.width, t.height, t.viaBackBuffer);
}

}  // namespace demo
