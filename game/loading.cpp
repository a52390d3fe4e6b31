#include "game/loading.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/bitmapText.h"
#include "platform/graphics.h"

namespace demo {

namespace {

double WallSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

}  // namespace

LoadingDisplay::LoadingDisplay(bool terminal) : mTerminal(terminal), mStart(WallSeconds()) {}

void LoadingDisplay::Step(int done, int total, const std::string& item) {
  DrawWindow(done, total, item);
  if (!mTerminal) return;
  constexpr int kWidth = 30;
  const int filled = total > 0 ? kWidth * done / total : 0;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kWidth, '-');
  std::fprintf(stderr, "\rLoading [%s] %d/%d %-24s %5.1f s", bar.c_str(), done, total,
               item.c_str(), WallSeconds() - mStart);
  std::fflush(stderr);
  mDrewLine = true;
}

void LoadingDisplay::Finish() {
  if (mDrewLine) std::fprintf(stderr, "\n");
  mDrewLine = false;
}

void LoadingDisplay::DrawWindow(int done, int total, const std::string& item) {
  platform::Device* device = engine::Direct3DDevice();
  if (device == nullptr) return;
  const engine::WindowSettings* settings = engine::GetWindowSettings();
  const int w = settings->width, h = settings->height;
  // A bar across the middle half of the window, its frame one pixel wide.
  const int left = w / 4, right = w - w / 4, top = h / 2 - std::max(h / 60, 3), bottom = h / 2 + std::max(h / 60, 3);
  const int filled = total > 0 ? left + 2 + (right - left - 4) * done / total : left;
  const platform::Rect frame = {left, top, right, bottom};
  const platform::Rect inside = {left + 1, top + 1, right - 1, bottom - 1};
  const platform::Rect bar = {left + 2, top + 2, filled, bottom - 2};
  if (platform::Failed(device->BeginScene())) return;
  device->Clear(0, nullptr, platform::kClearTarget | platform::kClearZBuffer, 0xFF000000u, 1.0f, 0);
  device->Clear(1, &frame, platform::kClearTarget, 0xFF707078u, 1.0f, 0);
  device->Clear(1, &inside, platform::kClearTarget, 0xFF000000u, 1.0f, 0);
  if (filled > left + 2) device->Clear(1, &bar, platform::kClearTarget, 0xFFD8D8E0u, 1.0f, 0);
  const int scale = std::max(1, h / 400);
  std::vector<platform::Rect> text;
  for (const TextRect& r : TextRects(item, left, bottom + 6 * scale, scale))
    text.push_back({r.left, r.top, r.right, r.bottom});
  if (!text.empty())
    device->Clear(static_cast<std::uint32_t>(text.size()), text.data(), platform::kClearTarget,
                  0xFF909098u, 1.0f, 0);
  device->EndScene();
  device->Present(nullptr, nullptr, nullptr, nullptr);
}

}  // namespace demo
