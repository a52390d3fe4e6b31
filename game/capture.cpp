#include "game/capture.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "engine/kernel.h"
#include "engine/profiler.h"
#include "engine/renderer.h"
#include "engine/timer.h"
#include "game/video.h"
#include "engine/wrapper.h"
#include "platform/graphics.h"

namespace demo {

volatile std::sig_atomic_t gInterrupted = 0;

namespace {

double WallSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

std::string FrameName(const std::string& dir, long long number) {
  char name[32];
  std::snprintf(name, sizeof name, "/%06lld.png", number);
  return dir + name;
}

}  // namespace

long long FrameCount(double from, double to, int fps) {
  if (!(to > from) || fps <= 0) return 0;
  // A range that is a whole number of frames long gets exactly that many.
  return static_cast<long long>(std::ceil((to - from) * fps - 1e-6));
}

std::string ClockText(double seconds) {
  const long long hundredths = std::llround(std::max(seconds, 0.0) * 100.0);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", hundredths / 6000, hundredths / 100 % 60,
                hundredths % 100);
  return text;
}

Picture Shrink(const Picture& source, int width, int height) {
  Picture out(width, height);
  for (int y = 0; y < height; ++y) {
    const int y0 = static_cast<int>(static_cast<long long>(y) * source.height / height);
    const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * source.height / height));
    for (int x = 0; x < width; ++x) {
      const int x0 = static_cast<int>(static_cast<long long>(x) * source.width / width);
      const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<long long>(x + 1) * source.width / width));
      unsigned sum[3] = {0, 0, 0};
      for (int sy = y0; sy < y1; ++sy) {
        const std::uint8_t* p = &source.rgb[(static_cast<std::size_t>(sy) * source.width + x0) * 3];
        for (int sx = x0; sx < x1; ++sx, p += 3) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
        }
      }
      const unsigned n = static_cast<unsigned>((y1 - y0) * (x1 - x0));
      std::uint8_t* o = &out.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) o[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
    }
  }
  return out;
}

void ContactSheet::Add(const Picture& frame, const std::string& label) {
  const int height = std::max(1, static_cast<int>(std::lround(
                                     static_cast<double>(frame.height) * mThumbWidth / frame.width)));
  mThumbs.emplace_back(Shrink(frame, mThumbWidth, height), label);
}

Picture ContactSheet::Compose() const {
  constexpr int kGap = 8, kScale = 2;
  const int labelHeight = TextHeight("0", kScale) + 6;
  int thumbHeight = 1;
  for (const auto& t : mThumbs) thumbHeight = std::max(thumbHeight, t.first.height);
  const int count = static_cast<int>(mThumbs.size());
  const int columns = std::max(1, std::min(mColumns, count));
  const int rows = (count + columns - 1) / columns;
  const int cellW = mThumbWidth + kGap, cellH = thumbHeight + labelHeight + kGap;
  Picture sheet(kGap + columns * cellW, kGap + rows * cellH);
  sheet.Fill({0, 0, sheet.width, sheet.height}, 24, 24, 28);
  for (int i = 0; i < count; ++i) {
    const Picture& thumb = mThumbs[i].first;
    const int left = kGap + (i % columns) * cellW, top = kGap + (i / columns) * cellH;
    for (int y = 0; y < thumb.height; ++y)
      std::copy_n(&thumb.rgb[static_cast<std::size_t>(y) * thumb.width * 3], thumb.width * 3,
                  &sheet.rgb[(static_cast<std::size_t>(top + y) * sheet.width + left) * 3]);
    for (const TextRect& r : TextRects(mThumbs[i].second, left, top + thumbHeight + 4, kScale))
      sheet.Fill(r, 230, 230, 230);
  }
  return sheet;
}

Capture::Capture(Plan plan, std::function<std::string(double)> label)
    : mPlan(std::move(plan)), mLabel(std::move(label)) {
  mName = L"Capture";
  mPriority = kPriority;
}

Capture::~Capture() {
  mQueue.reset();
  ReleaseSlots();
}

void Capture::ReleaseSlots() {
  for (Slot& slot : mSlots) {
    if (slot.surface != nullptr) slot.surface->Release();
    slot.surface = nullptr;
  }
}

bool Capture::Start() {
  std::error_code ec;
  if (!mPlan.framesDir.empty()) std::filesystem::create_directories(mPlan.framesDir, ec);
  mTotal = FrameCount(mPlan.from, mPlan.to, mPlan.fps);
  mNextSheetTime = mPlan.from;
  mTerminal = isatty(STDERR_FILENO) != 0;
  mStartWall = WallSeconds();
  mQueue = std::make_unique<WorkQueue<Frame>>(
      kQueued, [this](Frame& frame, std::string* error) { return Encode(frame, error); });
  return true;
}

platform::Result Capture::StartReadback(double time) {
  platform::Device* device = engine::Direct3DDevice();
  platform::Surface* back = nullptr;
  if (device == nullptr || platform::Failed(device->GetBackBuffer(0, 0, 0, &back)) || back == nullptr)
    return platform::kFail;
  platform::SurfaceDesc desc;
  back->GetDesc(&desc);
  Slot& slot = mSlots[static_cast<std::size_t>(mFrames % static_cast<long long>(mSlots.size()))];
  if (slot.surface == nullptr &&
      platform::Failed(device->CreateOffscreenPlainSurface(desc.width, desc.height, desc.format,
                                                           platform::kPoolSystemMem, &slot.surface))) {
    slot.surface = nullptr;
  }
  const platform::Result started =
      slot.surface != nullptr ? device->GetRenderTargetDataAsync(back, slot.surface) : platform::kFail;
  back->Release();
  if (platform::Failed(started)) return started;
  slot.frame = Frame();
  slot.sheetBefore = mNextSheetTime;
  slot.frame.width = static_cast<int>(desc.width);
  slot.frame.height = static_cast<int>(desc.height);
  slot.frame.time = time;
  // What plays is decided now, not when the writer gets to the frame.
  // Half a step early: a sheet time between two frames takes the nearer.
  if (!mPlan.sheet.empty() && time >= mNextSheetTime - 0.5 / mPlan.fps) {
    slot.frame.sheet = true;
    slot.frame.label = ClockText(time) + (mLabel ? "  " + mLabel(time) : std::string());
    while (mNextSheetTime - 0.5 / mPlan.fps <= time) mNextSheetTime += mPlan.sheetEvery;
  }
  return platform::kOk;
}

platform::Result Capture::CollectReadback(Slot& slot, Frame* frame) {
  platform::LockedRect locked;
  if (slot.surface == nullptr) return platform::kFail;
  const platform::Result read = slot.surface->LockRect(&locked, nullptr, 0);
  if (platform::Failed(read)) return read;
  *frame = std::move(slot.frame);
  const std::size_t row = static_cast<std::size_t>(frame->width) * 4;
  frame->bgrx.resize(row * static_cast<std::size_t>(frame->height));
  for (int y = 0; y < frame->height; ++y) {
    std::memcpy(&frame->bgrx[static_cast<std::size_t>(y) * row],
                static_cast<const std::uint8_t*>(locked.bits) + static_cast<std::size_t>(y) * locked.pitch, row);
  }
  slot.surface->UnlockRect();
  return platform::kOk;
}

void Capture::Rewind() {
  if (mCollected == mFrames) {
    // Only this frame: shown again as if it came once (animations that
    // step with the clock take the same steps).
    engine::core::Timer::Get()->RepeatFrame();
    return;
  }
  // Frames already drawn go back with the clock: the pictures are the same
  // where the show depends on the time alone.
  const Slot& oldest = mSlots[static_cast<std::size_t>(mCollected % static_cast<long long>(mSlots.size()))];
  const double time = oldest.frame.time;
  mNextSheetTime = oldest.sheetBefore;
  mFrames = mCollected;
  engine::core::Timer::Get()->Seek(time);
  if (mPlan.showAt) mPlan.showAt(time);
}

bool Capture::HandOver() {
  Slot& slot = mSlots[static_cast<std::size_t>(mCollected % static_cast<long long>(mSlots.size()))];
  Frame frame;
  {
    engine::core::StageScope stage(engine::core::Stage::Readback);
    const platform::Result read = CollectReadback(slot, &frame);
    if (read == platform::kDeviceLost) {
      Rewind();
      return false;
    }
    ++mCollected;
    if (platform::Failed(read)) {
      Fail("cannot read the back buffer");
      return false;
    }
  }
  // Waits here while the writer is a full queue behind.
  engine::core::StageScope stage(engine::core::Stage::Encode);
  if (!mQueue->Push(std::move(frame))) {
    Fail(mQueue->Error());
    return false;
  }
  return true;
}

bool Capture::Encode(Frame& frame, std::string* error) {
  // X8R8G8B8: bytes B, G, R, unused.
  Picture picture(frame.width, frame.height);
  const std::uint8_t* in = frame.bgrx.data();
  std::uint8_t* out = picture.rgb.data();
  for (std::size_t i = 0, n = static_cast<std::size_t>(frame.width) * frame.height; i < n; ++i, in += 4, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
  if (!mPlan.video.empty() && !mVideo) {
    // Opened with the first frame, whose size the device decided.
    mVideo = VideoWriter::Open(mPlan.video, picture.width, picture.height, mPlan.fps, mPlan.music,
                               mPlan.from, mPlan.segment, error);
    if (!mVideo) return false;
  }
  if (mVideo && !mVideo->AddFrame(picture, error)) return false;
  if (!mPlan.framesDir.empty() &&
      !WritePng(picture, FrameName(mPlan.framesDir, std::llround(frame.time * mPlan.fps)), error)) {
    return false;
  }
  if (frame.sheet) mSheet.Add(picture, frame.label);
  return true;
}

void Capture::Fail(const std::string& error) {
  if (mError.empty()) mError = error.empty() ? "cannot write the recording" : error;
  mFinished = true;
  engine::QuitApplication();
}

void Capture::Update() {
  if (mFinished) return;
  if (gInterrupted != 0) {
    mInterrupted = true;
    Fail("interrupted");
    return;
  }
  // The writer failed on an earlier frame.
  if (mQueue->Failed()) return Fail(mQueue->Error());
  // A lost device drew nothing this frame.
  auto* renderer = dynamic_cast<engine::gfx::Renderer*>(engine::core::Kernel::Get()->FindModule(10));
  if (renderer != nullptr && renderer->DeviceLost()) return Rewind();
  {
    engine::core::StageScope stage(engine::core::Stage::Readback);
    const platform::Result started = StartReadback(engine::GetTime());
    if (started == platform::kDeviceLost) return Rewind();
    if (platform::Failed(started)) return Fail("cannot read the back buffer");
  }
  ++mFrames;
  const bool last = mFrames >= mTotal;
  // Reads started kInFlight frames ago are done by now; after the last
  // frame every one is collected, and the writer finishes.
  while (mCollected < mFrames && (last || mFrames - mCollected > kInFlight)) {
    if (!HandOver()) return;
  }
  if (last) {
    engine::core::StageScope stage(engine::core::Stage::Encode);
    if (!mQueue->Finish()) return Fail(mQueue->Error());
  }
  mSeconds = WallSeconds() - mStartWall;
  ShowProgress(last);
  if (last) {
    mFinished = true;
    engine::QuitApplication();
  }
}

void Capture::ShowProgress(bool last) {
  if (!mPlan.progress) return;
  // A terminal gets a bar redrawn in place a few times a second; a log
  // gets a line every tenth.
  const double now = mSeconds;
  if (mTerminal ? !last && now - mLastPrint < 0.2
                : !last && mFrames * 10 / std::max(mTotal, 1LL) == (mFrames - 1) * 10 / std::max(mTotal, 1LL)) {
    return;
  }
  mLastPrint = now;
  const double rate = now > 0 ? static_cast<double>(mFrames) / now : 0.0;
  const double left = rate > 0 ? static_cast<double>(mTotal - mFrames) / rate : 0.0;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(kWidth * mFrames / std::max(mTotal, 1LL));
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kWidth, '-');
  std::fprintf(stderr, "%s[%s] %lld/%lld frames  %.1f fps  %s left%s", mTerminal ? "\r" : "",
               bar.c_str(), mFrames, mTotal, rate, ClockText(left).c_str(),
               mTerminal && !last ? "  " : "\n");
  std::fflush(stderr);
}

void Capture::Stop() {
  // After the last frame the writer is done already; otherwise what it has
  // not got to is dropped.
  if (mQueue) mQueue->Cancel();
  ReleaseSlots();
  if (mPlan.progress && mTerminal && !mFinished) std::fprintf(stderr, "\n");
  // The main loop ended before the range did (the window was closed,
  // Escape): that is not the recording asked for, so it counts as an
  // interrupt.
  if (!mFinished) mInterrupted = true;
  std::string error;
  if (mVideo) {
    // A video cut short by an error or an interrupt is not kept.
    if (!mError.empty() || mInterrupted || !mVideo->Finish(&error)) mVideo->Abandon();
    if (!error.empty()) mError = error;
    mVideo.reset();
  }
  if (mInterrupted) return;
  if (!mPlan.sheet.empty() && !mSheet.Empty() && !WritePng(mSheet.Compose(), mPlan.sheet, &error))
    mError = error;
}

}  // namespace demo
