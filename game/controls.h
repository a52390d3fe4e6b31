#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/kernel.h"

namespace platform {
class Device;
}

namespace demo {

// Windows virtual-key codes of the making-of keys.
enum ControlKey : int {
  kKeySpace = 0x20,
  kKeyPageUp = 0x21,
  kKeyPageDown = 0x22,
  kKeyHome = 0x24,
  kKeyLeft = 0x25,
  kKeyRight = 0x27,
};

// Making-of controls, on only when asked for: Space pauses and resumes
// (music too), Left/Right seek 1 s, Page Up/Down 10 s, Home goes to the
// start, 1..9 to the start of each scene; a loop range repeats. Every seek
// moves the music to the same sample. Runs after the clock and before the
// demo, so the frame that sees a key already shows the new time.
class Controls : public engine::core::Module {
 public:
  struct Config {
    std::vector<double> sceneStarts;
    double start = 0.0;  // where the first frame is
    double end = 0.0;    // the demo's end: seeks go no further
    double stopAt = -1.0;  // quit there (negative: play to the end)
    bool loop = false;
    double loopFrom = 0.0;
    double loopTo = 0.0;
  };

  static constexpr int kPriority = 100;

  // showAt(time) makes the demo show the scene of a time it jumped to.
  Controls(Config config, std::function<void(double)> showAt);

  bool Start() override { return true; }
  void Update() override;
  void Stop() override {}

  // Where the keys pressed this frame send a clock at `time`, or a negative
  // value for nowhere.
  double Target(double time) const;
  // The scenes' starts and the demo's end after a scene changed length.
  void SetTimeline(std::vector<double> sceneStarts, double end) {
    mConfig.sceneStarts = std::move(sceneStarts);
    mConfig.end = end;
  }

 private:
  void SeekTo(double seconds);

  Config mConfig;
  std::function<void(double)> mShowAt;
  bool mFirst = true;
};

// The corner overlay: time, scene, frame rate and frame time, the pause and
// loop state, and why an effect reload failed. Drawn by the renderer.
class Overlay {
 public:
  Overlay(std::function<std::string()> scene, const Controls::Config& config);
  // The lines for the state now; frameSeconds and fps as measured; long
  // messages are cut into lines of at most `columns` characters.
  std::vector<std::string> Lines(double time, double fps, double frameSeconds, bool paused,
                                 std::size_t columns = 90) const;
  void Draw(platform::Device* device);
  // More reasons why a change did not load (beside the effects' own), shown
  // as the effects' are.
  void SetFailures(std::function<std::vector<std::string>()> failures) { mFailures = std::move(failures); }

 private:
  std::function<std::string()> mScene;
  std::function<std::vector<std::string>()> mFailures;
  Controls::Config mConfig;
  double mLastWall = -1.0;
  double mFrameSeconds = 0.0;
  double mFpsWindowStart = -1.0;
  int mFpsFrames = 0;
  double mFps = 0.0;
  // The costliest passes over the last window, from the frame profiler.
  void CollectPasses(double now);
  std::map<std::string, double> mPassMs;
  int mPassFrames = 0;
  long long mPassLastFrame = -1;
  double mPassWindowStart = -1.0;
  std::vector<std::string> mPassLines;
};

}  // namespace demo
