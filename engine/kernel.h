#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/singleton.h"

namespace engine::core {

// Everything that runs once per frame. The kernel does not own modules.
class ENGINE_API Module {
 public:
  Module() = default;
  Module(const Module&) = default;
  Module& operator=(const Module&) = default;
  virtual ~Module();

  virtual bool Load();
  // Called once, right after registration; the result is not examined.
  virtual bool Start() = 0;
  virtual void Update() = 0;
  virtual void Pause();
  virtual bool Paused() const;
  virtual void Resume();
  virtual void Stop() = 0;

  std::wstring Name() const { return mName; }
  void Name(const std::wstring& name) { mName = name; }
  int Priority() const { return mPriority; }
  void Priority(int priority) { mPriority = priority; }
  bool Alive() const { return mAlive; }
  void SetAlive(bool alive) { mAlive = alive; }

 protected:
  std::wstring mName = L"untitled";
  int mPriority = 5000;
  bool mAlive = true;
};

// Runs the registered modules once per frame in ascending priority until a
// quit is requested, then stops them all.
class ENGINE_API Kernel : public pattern::Singleton<Kernel> {
 public:
  Kernel();
  ~Kernel() override;

  // Registers the module under key and starts it at once. A key already in
  // use keeps its first module; the new one still runs. Always true.
  bool AddModule(Module* module, int key);

  // The main loop; returns once every module has been stopped. Always true.
  bool Run();

  // The current frame finishes; the next one stops everything.
  void Quit();

  // Stops every module (live ones first, in run order, then dead ones) and
  // ends the loop. The key map is kept for the teardown.
  void KillAll();

  // The first module registered under key, or null for an unknown key.
  Module* FindModule(int key) const;

 private:
  void Sweep();

  std::vector<Module*> mRunList;
  std::vector<Module*> mDeadList;
  std::map<int, Module*> mKeyMap;
  bool mRunning = false;
  bool mQuitRequested = false;
};

}  // namespace engine::core

namespace engine::pattern {
extern template class Singleton<core::Kernel>;
}
