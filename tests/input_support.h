#pragma once

#include <vector>

#include "engine/input.h"
#include "platform/window.h"

namespace velox_test {

// Feeds the input state the way the window procedure does, and records the
// keys (negative for a release) and closes it saw.
struct InputFeed : platform::EventHandler {
  void OnKey(int key, bool down) override {
    keys.push_back(down ? key : -key);
    engine::core::Input::Get()->SetKey(key, down);
  }
  void OnMouseMove(int x, int y) override { engine::core::Input::Get()->MouseMove(x, y); }
  void OnMouseButton(int button, bool down) override {
    engine::core::Input::Get()->SetButton(button, down);
  }
  void OnClose() override { ++closes; }
  std::vector<int> keys;
  int closes = 0;
};

}  // namespace velox_test
