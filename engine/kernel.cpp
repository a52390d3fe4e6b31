#include "engine/kernel.h"

#include <algorithm>

#include "engine/logging.h"
#include "engine/profiler.h"
#include "engine/strings.h"
#include "platform/system.h"

namespace engine::pattern {
template class Singleton<core::Kernel>;
}

namespace engine::core {
namespace {

// An exception that escaped a frame (or a module's Stop): logged and shown,
// then the loop goes on.
void ReportFrameException(const Exception& e) {
  ENGINE_WARNING("Caught exception in main game loop: \"" + ToNarrow(e.GetText()) + "\" in " +
                 ToNarrow(e.GetFunction()));
  platform::ShowMessageBox(nullptr, e.GetText(), e.GetFunction());
}

}  // namespace

Module::~Module() = default;
bool Module::Load() { return true; }
void Module::Pause() {}
bool Module::Paused() const { return false; }
void Module::Resume() {}

Kernel::Kernel() = default;
Kernel::~Kernel() = default;

bool Kernel::AddModule(Module* module, int key) {
  const std::string name = ToNarrow(module->Name());
  ENGINE_MESSAGE("Adding new module " + name);
  mKeyMap.emplace(key, module);
  mRunList.push_back(module);
  std::stable_sort(mRunList.begin(), mRunList.end(),
                   [](const Module* a, const Module* b) { return a->Priority() < b->Priority(); });
  try {
    module->Start();
    ENGINE_MESSAGE("Module " + name + " sucessfully started");
  } catch (const Exception& e) {
    ENGINE_WARNING("Failed to start module" + name);
    platform::ShowMessageBox(platform::MainWindow(), e.GetText(), e.GetFunction());
  }
  return true;
}

void Kernel::Sweep() {
  std::size_t i = 0;
  while (i < mRunList.size()) {
    Module* module = mRunList[i];
    if (module->Alive()) {
      StageScope stage(Stage::Update);
      module->Update();
      ++i;
      continue;
    }
    mDeadList.push_back(module);
    // The same module may be registered more than once; occurrences already
    // visited this frame shift the position of the one that follows.
    const auto visited =
        std::count(mRunList.begin(), mRunList.begin() + static_cast<std::ptrdiff_t>(i), module);
    mRunList.erase(std::remove(mRunList.begin(), mRunList.end(), module), mRunList.end());
    i -= static_cast<std::size_t>(visited);
  }
}

bool Kernel::Run() {
  ENGINE_MESSAGE("Starting main loop");
  mRunning = true;
  while (mRunning) {
    try {
      if (mQuitRequested) {
        KillAll();
      } else {
        FrameProfiler& profiler = FrameProfiler::Get();
        profiler.BeginFrame();
        try {
          Sweep();
        } catch (...) {
          profiler.EndFrame();
          throw;
        }
        profiler.EndFrame();
      }
    } catch (const Exception& e) {
      ReportFrameException(e);
    }
  }
  return true;
}

void Kernel::Quit() {
  ENGINE_MESSAGE("Quit called");
  mQuitRequested = true;
}

void Kernel::KillAll() {
  ENGINE_MESSAGE("Killing all modules");
  // The lists are taken over before any Stop runs, so a Stop that throws
  // cannot leave modules to be stopped twice or keep the loop alive.
  std::vector<Module*> live;
  std::vector<Module*> dead;
  live.swap(mRunList);
  dead.swap(mDeadList);
  mRunning = false;
  for (const auto* list : {&live, &dead}) {
    for (Module* module : *list) {
      try {
        module->Stop();
      } catch (const Exception& e) {
        ReportFrameException(e);
      }
    }
  }
}

Module* Kernel::FindModule(int key) const {
  const auto it = mKeyMap.find(key);
  return it == mKeyMap.end() ? nullptr : it->second;
}

}  // namespace engine::core
