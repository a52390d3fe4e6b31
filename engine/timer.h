#pragma once

#include <cstdint>
#include <string>

#include "engine/api.h"
#include "engine/kernel.h"
#include "engine/singleton.h"

namespace engine::core {

// The demo's clock and its sound track. Time runs from the moment the music
// starts; the music follows the clock: after a frame longer than a second it
// is moved to the clock's time.
class ENGINE_API Timer : public Module, public pattern::Singleton<Timer> {
 public:
  Timer();
  ~Timer() override;

  // Opens the audio output, starts the music and takes the start instant.
  bool Start() override;
  void Update() override;
  void Pause() override;
  bool Paused() const override;
  void Resume() override;
  void Stop() override;

  // Moves the clock; the next Update reports the jump.
  void AdvanceTime(double seconds);

  // Recordings and measurements: the n-th Update after this (from 0)
  // reports exactly start + n / framesPerSecond whatever the real time, and
  // the music is opened but never played. Set before Start.
  void StepExactly(double start, int framesPerSecond);
  bool SteppingExactly() const { return mStepsPerSecond > 0; }

  // Moves the clock to seconds (0 at the least) and the music to the same
  // sample; the next Update reports no jump. Paused stays paused. Past the
  // music's end the music stops and the clock goes on.
  void Seek(double seconds);
  // A stepping clock shows this frame's time again at the next frame, with
  // no time passed: a frame that could not be drawn comes again as if once.
  void RepeatFrame();
  // Opens the music file again (a new version of it) and goes on playing it
  // from the clock's sample; the clock does not move. When the new file
  // does not open, the playing one stays and `error` says why.
  bool ReloadMusic(std::string* error);
  static const wchar_t* MusicFile();
  double Time() const { return mTime; }
  double SinceLast() const { return mSinceLast; }
  std::uint32_t Stream() const { return mStream; }

 private:
  double Now() const;
  void SeekMusic(double seconds);

  std::uint32_t mStream = 0;
  bool mPaused = false;
  double mSecondsPerCount = 0.0;
  double mStartTime = 0.0;
  std::uint32_t mStartTick = 0;
  double mLastTime = 0.0;
  std::int32_t mLastElapsedMs = 0;
  double mSinceLast = 0.0;
  double mTime = 0.0;
  std::uint32_t mElapsedMs = 0;
  int mStepsPerSecond = 0;
  double mStepStart = 0.0;
  std::int64_t mSteps = 0;
};

// No behaviour of its own; kept for the programs that name it.
class ENGINE_API FPSCounter : public pattern::Singleton<FPSCounter> {};

}  // namespace engine::core

namespace engine::pattern {
extern template class Singleton<core::Timer>;
extern template class Singleton<core::FPSCounter>;
}

namespace engine {

// Seconds since the music started, and the length of the latest frame.
ENGINE_API double GetTime();
ENGINE_API double GetSinceLast();
ENGINE_API void AdvanceTime(double seconds);

}  // namespace engine
