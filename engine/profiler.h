#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/api.h"

namespace platform {
class Device;
class Query;
}  // namespace platform

namespace engine::core {

// The parts of a frame whose CPU time is measured. Each moment of a frame
// belongs to exactly one stage (the innermost open one), so a frame's stages
// add up to its time; what no stage claims is Other.
enum class Stage : int {
  Update,    // modules: clock, animation, the demo's own update
  Scene,     // scene walk, queueing and sorting the draws
  State,     // effect parameters, constants and device state
  Draw,      // draw calls
  Targets,   // render-target switches, clears and copies
  Present,   // end of frame and showing it
  Readback,  // reading the frame back for a recording
  Encode,    // encoding and writing a recording
  Other,
  Count
};
constexpr int kStageCount = static_cast<int>(Stage::Count);
ENGINE_API const char* StageName(Stage stage);

// What one draw of one pass was: enough to find it in the content.
struct ENGINE_API PassKey {
  std::string mesh, effect, technique, target;
  int pass = 0;
  bool operator<(const PassKey& o) const;
  bool operator==(const PassKey& o) const;
  std::string Label() const;
};

struct ENGINE_API PassTime {
  PassKey key;
  double ms = 0;
};

// One frame's measurements, handed out once its GPU times are in.
struct ENGINE_API FrameProfile {
  long long frame = 0;
  int tag = 0;  // what the program marked the frame with (its scene)
  double totalMs = 0;
  double stageMs[kStageCount] = {};
  bool gpu = false;             // whether passes hold GPU times
  std::vector<PassTime> passes;  // summed per key, in draw order of first use
};

// Frame profiler: CPU time per stage of every frame and, where the device
// has timestamp queries, GPU time per pass, read back a few frames later so
// nothing waits. Off by default; while off every call returns at once and
// no query is issued.
class ENGINE_API FrameProfiler {
 public:
  static FrameProfiler& Get();

  void Enable(bool on);
  bool Enabled() const { return mEnabled; }
  void SetTag(int tag) { mTag = tag; }

  // The kernel's frame boundaries.
  void BeginFrame();
  void EndFrame();

  void Push(Stage stage);
  void Pop();

  // Around one draw of one pass (the renderer). The key is built only when
  // the profiler is on.
  void BeginDraw(platform::Device* device);
  void EndDraw(platform::Device* device, PassKey key);

  // Frames measured completely since the last call, oldest first: for the
  // one consumer that keeps every frame (the benchmark).
  std::vector<FrameProfile> TakeFinished();
  // The last kRecentFrames finished frames, oldest first, whatever was
  // taken: for displays that only look (the overlay).
  const std::deque<FrameProfile>& Recent() const { return mRecent; }
  static constexpr std::size_t kRecentFrames = 64;
  // Frames not taken beyond this many are dropped, oldest first.
  static constexpr std::size_t kMaxFinished = 1024;

  // Drops queries and pending frames: before the device goes or is reset.
  void ReleaseQueries();

  // Frames whose GPU times were still outstanding after this many later
  // frames are handed out without them.
  static constexpr int kMaxPending = 4;

 private:
  struct Pending {
    FrameProfile profile;
    std::vector<platform::Query*> queries;  // begin/end pairs, one per draw
    std::vector<PassKey> keys;
  };
  double Now() const;
  void Charge(double now);
  platform::Query* NewQuery(platform::Device* device);
  bool Resolve(Pending& pending, bool force);
  void Recycle(Pending& pending);
  void Finish(FrameProfile profile);

  bool mEnabled = false;
  bool mInFrame = false;
  bool mGpu = true;  // until the device says it has no clock
  bool mToldNoGpu = false;
  int mTag = 0;
  long long mFrame = 0;
  double mFrameStart = 0, mMark = 0;
  std::vector<Stage> mStack;
  Pending mCurrent;
  platform::Query* mOpen = nullptr;  // the begin query of the draw in progress
  std::deque<Pending> mPending;
  std::vector<platform::Query*> mFree;
  std::vector<FrameProfile> mFinished;
  std::deque<FrameProfile> mRecent;
};

// Charges the time of a scope to a stage.
class StageScope {
 public:
  explicit StageScope(Stage stage) : mOn(FrameProfiler::Get().Enabled()) {
    if (mOn) FrameProfiler::Get().Push(stage);
  }
  ~StageScope() {
    if (mOn) FrameProfiler::Get().Pop();
  }
  StageScope(const StageScope&) = delete;
  StageScope& operator=(const StageScope&) = delete;

 private:
  bool mOn;
};

}  // namespace engine::core
