#include <benchmark/benchmark.h>

#include <vector>

#include "engine/kernel.h"

namespace {

class Idle : public engine::core::Module {
 public:
  explicit Idle(int priority) { mPriority = priority; }
  bool Start() override { return true; }
  void Update() override { benchmark::ClobberMemory(); }
  void Stop() override {}
};

// Stops the loop after a set number of frames.
class FrameLimit : public engine::core::Module {
 public:
  explicit FrameLimit(long frames) : mLeft(frames) { mPriority = 1 << 30; }
  bool Start() override { return true; }
  void Update() override {
    if (--mLeft == 0) engine::core::Kernel::Get()->Quit();
  }
  void Stop() override {}

 private:
  long mLeft;
};

// The kernel's own cost per frame with the system's six modules; it must
// stay negligible next to rendering.
void BM_KernelFrame(benchmark::State& state) {
  constexpr long kFrames = 1000;
  for (auto _ : state) {
    state.PauseTiming();
    auto* kernel = engine::core::Kernel::Get();
    std::vector<Idle> modules;
    for (int p : {1, 10, 200, 12000, 12500}) modules.emplace_back(p);
    FrameLimit limit(kFrames);
    for (std::size_t i = 0; i < modules.size(); ++i)
      kernel->AddModule(&modules[i], static_cast<int>(i));
    kernel->AddModule(&limit, 99);
    state.ResumeTiming();
    kernel->Run();
    state.PauseTiming();
    delete kernel;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_KernelFrame);

}  // namespace
