#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/kernel.h"
#include "engine/profiler.h"

namespace demo {

// One pass's mean GPU time over the frames of a scene that had GPU times.
struct PassStats {
  engine::core::PassKey key;
  double ms = 0;
};

// Frame times of one scene, in seconds; the profile's means in ms.
struct FrameStats {
  std::string scene;
  long long frames = 0;
  double wallMean = 0, wallP95 = 0, wallWorst = 0;
  double cpuMean = 0, cpuP95 = 0, cpuWorst = 0;
  long long profiledFrames = 0, gpuFrames = 0;
  double stageMs[engine::core::kStageCount] = {};
  double gpuMs = 0;                // all passes of a frame together
  std::vector<PassStats> passes;  // costliest first
};

// Mean, 95th percentile (nearest rank) and worst of some frame times.
void Summarise(std::vector<double> times, double* mean, double* p95, double* worst);

// Times every frame of a fixed-step run: the wall time and the CPU time of
// the whole process (the software rasterizer's threads included) from one
// frame to the next, filed under the scene that frame showed. Ends the
// program after the range.
class Benchmark : public engine::core::Module {
 public:
  static constexpr int kPriority = 12100;

  Benchmark(long long frames, std::function<int()> scene, std::vector<std::string> sceneNames);

  bool Start() override { return true; }
  void Update() override;
  void Stop() override {}

  // Per scene in play order, then all frames together.
  std::vector<FrameStats> Results() const;
  long long Frames() const { return mFrames; }
  long long Total() const { return mTotal; }
  // False when the program ended before the range did (window closed,
  // Escape): the figures would not be comparable.
  bool Complete() const { return mFrames >= mTotal; }

 private:
  long long mTotal;
  long long mFrames = 0;
  std::function<int()> mScene;
  std::vector<std::string> mNames;
  std::vector<std::vector<double>> mWall, mCpu;
  double mLastWall = 0, mLastCpu = 0;

  // The profiler's frames, summed per scene.
  struct Profile {
    long long frames = 0, gpuFrames = 0;
    double stageMs[engine::core::kStageCount] = {};
    std::vector<engine::core::PassTime> passes;
  };
  void Collect();
  std::vector<Profile> mProfiles;
};

// The costliest passes of a frame, with their share of the frame's time:
// "  12.3 ms  41%  mesh effect:technique/pass -> target".
std::vector<std::string> PassLines(const FrameStats& stats, std::size_t count);

struct BenchReport {
  int width = 0, height = 0, fps = 0;
  double from = 0, to = 0;
  double coldLoad = -1, warmLoad = -1;  // seconds; negative: not measured
  std::vector<FrameStats> stats;
};

std::string BenchTable(const BenchReport& report);
std::string BenchJson(const BenchReport& report);

}  // namespace demo
