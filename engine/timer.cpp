#include "engine/timer.h"

#include <string>

#include "engine/logging.h"
#include "platform/audio.h"
#include "platform/system.h"

namespace engine::pattern {
template class Singleton<core::Timer>;
template class Singleton<core::FPSCounter>;
}

namespace engine::core {
namespace {

constexpr const wchar_t* kMusicFile = L"data/xt_tunefordemo.mp3";

}  // namespace

Timer::Timer() {
  mName = L"Timer";
  mPriority = 10;
}

Timer::~Timer() = default;

double Timer::Now() const {
  return static_cast<double>(platform::PerformanceCounter()) * mSecondsPerCount;
}

bool Timer::Start() {
  mSecondsPerCount = 1.0 / static_cast<double>(platform::PerformanceFrequency());
  platform::audio::Init(-1, 44100, 0);
  if (platform::audio::IsSilent()) {
    ENGINE_MESSAGE("No audio device available, playing without sound");
  }
  mStream = platform::audio::StreamCreateFile(kMusicFile, 0, 0, platform::audio::kStreamAutoFree);
  // The clock runs with or without music: without a start instant every
  // later time would be measured from the counter's origin.
  mStartTime = Now();
  mStartTick = platform::TickCount();
  if (mStream == 0) ENGINE_ERROR("Failed to load music file. Sorry.");
  platform::audio::ChannelPlay(mStream, false);
  mStartTime = Now();
  mStartTick = platform::TickCount();
  return true;
}

void Timer::Update() {
  if (mPaused) return;
  mTime = Now() - mStartTime;
  mElapsedMs = platform::TickCount() - mStartTick;
  mSinceLast = mTime - mLastTime;
  if (mSinceLast > 1.0 && mStream != 0) {
    const std::uint64_t position =
        platform::audio::ChannelSeconds2Bytes(mStream, static_cast<float>(mTime));
    platform::audio::ChannelSetPosition(mStream, position);
    if (platform::audio::ErrorGetCode() == platform::audio::kErrorPosition) {
      // Counted as a frame of its own: otherwise every later frame would
      // measure a longer gap and report the same failure again.
      mLastTime = mTime;
      mLastElapsedMs = static_cast<std::int32_t>(mElapsedMs);
      ENGINE_ERROR(std::wstring(L"illegal position"));
    }
  }
  mLastTime = mTime;
  mLastElapsedMs = static_cast<std::int32_t>(mElapsedMs);
}

void Timer::Pause() {
  mSinceLast = 0.0;
  mPaused = true;
  platform::audio::ChannelPause(mStream);
}

bool Timer::Paused() const { return mPaused; }

void Timer::Resume() {
  if (!mPaused) return;
  mPaused = false;
  // The paused span is taken out of the clock before any frame sees it, so
  // a long pause neither jumps the clock nor moves the music.
  const double pausedSpan = (Now() - mStartTime) - mLastTime;
  mStartTime += pausedSpan;
  Update();
  platform::audio::ChannelPlay(mStream, false);
}

void Timer::Stop() { platform::audio::ChannelStop(mStream); }

void Timer::AdvanceTime(double seconds) {
  mStartTime -= seconds;
  mStartTick += static_cast<std::uint32_t>(static_cast<std::int64_t>(seconds * -1000.0));
}

}  // namespace engine::core

namespace engine {

double GetTime() { return core::Timer::Get()->Time(); }
double GetSinceLast() { return core::Timer::Get()->SinceLast(); }
void AdvanceTime(double seconds) { core::Timer::Get()->AdvanceTime(seconds); }

}  // namespace engine
