#pragma once

#include "engine/api.h"
#include "engine/kernel.h"
#include "engine/singleton.h"

namespace engine::core {

// Polled keyboard and mouse state: the message pump writes the current
// state as events arrive, InputUpdate rolls it into the previous-frame state
// at the end of every frame, and the edge queries compare the two.
class ENGINE_API Input : public pattern::Singleton<Input> {
 public:
  static constexpr int kNoDelta = 0x7FFFFFFF;

  Input();
  ~Input() override;

  // Writers, fed by the message pump. Codes outside 0..255 are ignored.
  void SetKey(int key, bool down);
  // 0 left, 1 middle, 2 right.
  void SetButton(int button, bool down);
  // Stores the position and, except for the first move since the state was
  // cleared, the difference to the previous one as this frame's delta.
  void MouseMove(int x, int y);

  void Clear();
  // End of frame: current state becomes the previous state.
  void Roll();

  bool Key(int key) const;
  bool PreviousKey(int key) const;
  bool Button(int button) const;
  bool PreviousButton(int button) const;
  int MouseX() const { return mMouseX; }
  int MouseY() const { return mMouseY; }
  int MouseDeltaX() const { return mMouseDeltaX; }
  int MouseDeltaY() const { return mMouseDeltaY; }

 private:
  int mMouseX = 0;
  int mMouseY = 0;
  int mMouseDeltaX = kNoDelta;
  int mMouseDeltaY = kNoDelta;
  unsigned char mKeys[256] = {};
  unsigned char mPreviousKeys[256] = {};
  unsigned char mPreviousButtons[3] = {};
  unsigned char mButtons[3] = {};
  bool mFirstMove = true;
};

// Runs last in every frame and rolls the input state over.
class ENGINE_API InputUpdate : public Module {
 public:
  InputUpdate();
  bool Start() override;
  void Update() override;
  void Stop() override;
};

}  // namespace engine::core

namespace engine::pattern {
extern template class Singleton<core::Input>;
}

namespace engine {

// Edge queries on Windows virtual-key codes; false for codes outside 0..255.
ENGINE_API bool isPressed(int key);
ENGINE_API bool isHeld(int key);
ENGINE_API bool isReleased(int key);

}  // namespace engine
