#pragma once

#include "engine/api.h"
#include "engine/kernel.h"
#include "engine/windowStuff.h"

namespace engine::core {

// The first module of every frame: creates the window and the device, and
// pumps the window's events each frame.
class ENGINE_API CScreen : public Module {
 public:
  CScreen();

  // Window and device; errors are logged and thrown.
  void Create(const WindowSettings& settings);

  bool Start() override;
  // A quit read in one frame's pump requests the kernel's quit at the start
  // of the next frame; the rest of the frame still runs.
  void Update() override;
  void Stop() override;

 private:
  bool mQuitRead = false;
};

}  // namespace engine::core
