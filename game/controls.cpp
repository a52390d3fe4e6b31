#include "game/controls.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/input.h"
#include "engine/profiler.h"
#include "engine/resourceTypes.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/bitmapText.h"
#include "game/capture.h"
#include "platform/graphics.h"

namespace demo {

Controls::Controls(Config config, std::function<void(double)> showAt)
    : mConfig(std::move(config)), mShowAt(std::move(showAt)) {
  mName = L"Controls";
  mPriority = kPriority;
}

double Controls::Target(double time) const {
  double target = -1.0;
  if (engine::isPressed(kKeyLeft)) target = std::max(time - 1.0, 0.0);
  if (engine::isPressed(kKeyRight)) target = time + 1.0;
  if (engine::isPressed(kKeyPageUp)) target = std::max(time - 10.0, 0.0);
  if (engine::isPressed(kKeyPageDown)) target = time + 10.0;
  if (engine::isPressed(kKeyHome)) target = 0.0;
  for (std::size_t i = 0; i < mConfig.sceneStarts.size() && i < 9; ++i)
    if (engine::isPressed('1' + static_cast<int>(i))) target = mConfig.sceneStarts[i];
  if (target < 0.0 && mConfig.loop && time >= mConfig.loopTo)
    target = mConfig.loopFrom;
  return target;
}

void Controls::SeekTo(double seconds) {
  // Past the end the demo ends, as it would by playing there.
  seconds = std::clamp(seconds, 0.0, std::max(mConfig.end, 0.0));
  engine::core::Timer::Get()->Seek(seconds);
  if (mShowAt) mShowAt(seconds);
}

void Controls::Update() {
  engine::core::Timer* timer = engine::core::Timer::Get();
  if (mFirst) {
    mFirst = false;
    const double start = mConfig.loop ? mConfig.loopFrom : mConfig.start;
    if (start > 0.0) SeekTo(start);
  }
  if (engine::isPressed(kKeySpace)) {
    if (timer->Paused()) {
      timer->Resume();
    } else {
      timer->Pause();
    }
  }
  const double time = timer->Time();
  const double target = Target(time);
  if (target >= 0.0) {
    SeekTo(target);
  } else if (!mConfig.loop && mConfig.stopAt >= 0.0 && time >= mConfig.stopAt) {
    engine::QuitApplication();
  }
}

Overlay::Overlay(std::function<std::string()> scene, const Controls::Config& config)
    : mScene(std::move(scene)), mConfig(config) {}

std::vector<std::string> Overlay::Lines(double time, double fps, double frameSeconds,
                                        bool paused, std::size_t columns) const {
  char text[160];
  std::vector<std::string> lines;
  std::snprintf(text, sizeof text, "%s  %s%s", ClockText(time).c_str(),
                mScene ? mScene().c_str() : "", paused ? "  PAUSED" : "");
  lines.emplace_back(text);
  std::snprintf(text, sizeof text, "%.1f fps  %.1f ms", fps, frameSeconds * 1000.0);
  lines.emplace_back(text);
  if (mConfig.loop) {
    lines.push_back("loop " + ClockText(mConfig.loopFrom) + " - " + ClockText(mConfig.loopTo));
  }
  for (const std::string& pass : mPassLines) lines.push_back(pass.substr(0, std::max<std::size_t>(columns, 20)));
  std::vector<std::string> failures = engine::core::resources::FXEffect::ReloadFailures();
  if (mFailures) {
    const std::vector<std::string> more = mFailures();
    failures.insert(failures.end(), more.begin(), more.end());
  }
  for (const std::string& failure : failures) {
    const std::size_t kWidth = std::max<std::size_t>(columns, 20) - 2;
    std::size_t at = 0;
    while (at < failure.size() && lines.size() < 16) {
      std::size_t end = failure.find('\n', at);
      if (end == std::string::npos || end - at > kWidth) end = std::min(at + kWidth, failure.size());
      lines.push_back("! " + failure.substr(at, end - at));
      at = end < failure.size() && failure[end] == '\n' ? end + 1 : end;
    }
  }
  return lines;
}

void Overlay::CollectPasses(double now) {
  // Only looks: a benchmark in the same run keeps every frame.
  for (const engine::core::FrameProfile& f : engine::core::FrameProfiler::Get().Recent()) {
    if (f.frame <= mPassLastFrame) continue;
    mPassLastFrame = f.frame;
    if (!f.gpu) continue;
    ++mPassFrames;
    for (const engine::core::PassTime& p : f.passes) {
      // Short enough for the corner: the mesh's file name and the technique.
      const std::string& mesh = p.key.mesh;
      const std::size_t slash = mesh.find_last_of('/');
      mPassMs[(slash == std::string::npos ? mesh : mesh.substr(slash + 1)) + " " + p.key.technique + "/" +
              std::to_string(p.key.pass) + " > " + p.key.target] += p.ms;
    }
  }
  if (mPassWindowStart < 0.0) mPassWindowStart = now;
  if (now - mPassWindowStart < 0.5 || mPassFrames == 0) return;
  std::vector<std::pair<double, std::string>> costs;
  for (const auto& [label, ms] : mPassMs) costs.emplace_back(ms / mPassFrames, label);
  std::sort(costs.begin(), costs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  mPassLines.clear();
  for (std::size_t i = 0; i < costs.size() && i < 5; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%6.2f ms ", costs[i].first);
    mPassLines.push_back(text + costs[i].second);
  }
  mPassMs.clear();
  mPassFrames = 0;
  mPassWindowStart = now;
}

void Overlay::Draw(platform::Device* device) {
  using Clock = std::chrono::steady_clock;
  const double now = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  if (mLastWall >= 0.0) mFrameSeconds = now - mLastWall;
  mLastWall = now;
  // The rate over half-second windows: steady enough to read.
  if (mFpsWindowStart < 0.0) mFpsWindowStart = now;
  ++mFpsFrames;
  if (now - mFpsWindowStart >= 0.5) {
    mFps = mFpsFrames / (now - mFpsWindowStart);
    mFpsWindowStart = now;
    mFpsFrames = 0;
  }

  CollectPasses(now);

  engine::core::Timer* timer = engine::core::Timer::Get();
  constexpr int kScale = 2, kMargin = 8, kPad = 6;
  const int room = engine::GetWindowSettings()->width - 2 * (kMargin + kPad);
  const auto columns = static_cast<std::size_t>(std::max(room / TextWidth("m", kScale), 1));
  const std::vector<std::string> lines =
      Lines(timer->Time(), mFps, mFrameSeconds, timer->Paused(), columns);
  const int lineHeight = TextHeight("0", kScale) + 4;
  int width = 0;
  for (const std::string& line : lines) width = std::max(width, TextWidth(line, kScale));
  const platform::Rect box = {kMargin, kMargin, kMargin + width + 2 * kPad,
                              kMargin + static_cast<int>(lines.size()) * lineHeight + 2 * kPad};
  device->Clear(1, &box, platform::kClearTarget, 0xFF101018u, 1.0f, 0);
  std::vector<platform::Rect> white, red;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool failure = lines[i].rfind("! ", 0) == 0;
    for (const TextRect& r : TextRects(lines[i], kMargin + kPad,
                                       kMargin + kPad + static_cast<int>(i) * lineHeight, kScale))
      (failure ? red : white).push_back({r.left, r.top, r.right, r.bottom});
  }
  if (!white.empty())
    device->Clear(static_cast<std::uint32_t>(white.size()), white.data(), platform::kClearTarget,
                  0xFFF0F0F0u, 1.0f, 0);
  if (!red.empty())
    device->Clear(static_cast<std::uint32_t>(red.size()), red.data(), platform::kClearTarget,
                  0xFFFF6050u, 1.0f, 0);
}

}  // namespace demo
