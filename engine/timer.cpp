#include "engine/timer.h"

#include <algorithm>
#include <cmath>
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

// A stream of the music file as it is now; 0 when it does not open.
std::uint32_t OpenMusic() {
  return platform::audio::StreamCreateFile(kMusicFile, 0, 0, platform::audio::kStreamAutoFree);
}

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
  mStream = OpenMusic();
  // The clock runs with or without music: without a start instant every
  // later time would be measured from the counter's origin.
  mStartTime = Now();
  mStartTick = platform::TickCount();
  if (mStream == 0) ENGINE_ERROR("Failed to load music file. Sorry.");
  if (!SteppingExactly()) platform::audio::ChannelPlay(mStream, false);
  mStartTime = Now();
  mStartTick = platform::TickCount();
  return true;
}

void Timer::Update() {
  if (mPaused) return;
  if (SteppingExactly()) {
    // From the step count, not a running sum: no rounding builds up.
    mTime = mStepStart + static_cast<double>(mSteps++) / mStepsPerSecond;
    mElapsedMs = static_cast<std::uint32_t>(std::llround(mTime * 1000.0));
    mSinceLast = mTime - mLastTime;
    mLastTime = mTime;
    mLastElapsedMs = static_cast<std::int32_t>(mElapsedMs);
    return;
  }
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
  if (!SteppingExactly()) platform::audio::ChannelPlay(mStream, false);
}

void Timer::Stop() { platform::audio::ChannelStop(mStream); }

void Timer::AdvanceTime(double seconds) {
  mStartTime -= seconds;
  mStartTick += static_cast<std::uint32_t>(static_cast<std::int64_t>(seconds * -1000.0));
}

void Timer::StepExactly(double start, int framesPerSecond) {
  mStepsPerSecond = std::max(framesPerSecond, 1);
  mStepStart = start;
  mSteps = 0;
  // The first frame is one step long, like every other.
  mLastTime = start - 1.0 / mStepsPerSecond;
}

void Timer::RepeatFrame() {
  if (SteppingExactly() && mSteps > 0) --mSteps;
}

void Timer::Seek(double seconds) {
  seconds = std::max(seconds, 0.0);
  if (SteppingExactly()) {
    mStepStart = seconds;
    mSteps = 0;
    mLastTime = seconds - 1.0 / mStepsPerSecond;
    return;
  }
  mStartTime = Now() - seconds;
  mStartTick = platform::TickCount() - static_cast<std::uint32_t>(std::llround(seconds * 1000.0));
  // No jump for the next frame to report, and none for it to repair.
  mTime = mLastTime = seconds;
  mSinceLast = 0.0;
  SeekMusic(seconds);
}

const wchar_t* Timer::MusicFile() { return kMusicFile; }

bool Timer::ReloadMusic(std::string* error) {
  const std::uint32_t fresh = OpenMusic();
  if (fresh == 0) {
    *error = "the music does not open (audio error " + std::to_string(platform::audio::ErrorGetCode()) + ")";
    return false;
  }
  if (mStream != 0) platform::audio::StreamFree(mStream);  // gone already when it had ended
  mStream = fresh;
  SeekMusic(mTime);
  return true;
}

void Timer::SeekMusic(double seconds) {
  if (mStream == 0) return;
  // The rate from the library, the sample in double: a float time is a
  // few samples off after two minutes.
  std::uint64_t bytesPerSecond = platform::audio::ChannelSeconds2Bytes(mStream, 1.0f);
  if (bytesPerSecond == ~std::uint64_t{0} &&
      platform::audio::ErrorGetCode() == platform::audio::kErrorHandle) {
    // The stream frees itself at its end: a clock that comes back (a seek,
    // a demo that starts again) opens the music afresh.
    mStream = OpenMusic();
    if (mStream == 0) return;
    bytesPerSecond = platform::audio::ChannelSeconds2Bytes(mStream, 1.0f);
  }
  if (bytesPerSecond == ~std::uint64_t{0}) return;
  const std::uint64_t frameBytes = 4;
  const auto frame = static_cast<std::uint64_t>(
      std::llround(seconds * static_cast<double>(bytesPerSecond / frameBytes)));
  if (platform::audio::ChannelSetPosition(mStream, frame * frameBytes)) {
    if (!mPaused && !SteppingExactly()) platform::audio::ChannelPlay(mStream, false);
    return;
  }
  // Past the end: silence until a seek brings the clock back.
  platform::audio::ChannelPause(mStream);
  ENGINE_WARNING("Music has no sound at " + std::to_string(seconds) + " s");
}

}  // namespace engine::core

namespace engine {

double GetTime() { return core::Timer::Get()->Time(); }
double GetSinceLast() { return core::Timer::Get()->SinceLast(); }
void AdvanceTime(double seconds) { core::Timer::Get()->AdvanceTime(seconds); }

}  // namespace engine
