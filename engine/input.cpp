#include "engine/input.h"

#include <cstring>

namespace engine::pattern {
template class Singleton<core::Input>;
}

namespace engine::core {
namespace {

bool ValidKey(int key) { return key >= 0 && key < 256; }
bool ValidButton(int button) { return button >= 0 && button < 3; }

}  // namespace

Input::Input() = default;
Input::~Input() = default;

void Input::SetKey(int key, bool down) {
  if (ValidKey(key)) mKeys[key] = down ? 1 : 0;
}

void Input::SetButton(int button, bool down) {
  if (ValidButton(button)) mButtons[button] = down ? 1 : 0;
}

void Input::MouseMove(int x, int y) {
  if (!mFirstMove) {
    mMouseDeltaX = x - mMouseX;
    mMouseDeltaY = y - mMouseY;
  }
  mMouseX = x;
  mMouseY = y;
  mFirstMove = false;
}

void Input::Clear() {
  std::memset(mKeys, 0, sizeof mKeys);
  std::memset(mPreviousKeys, 0, sizeof mPreviousKeys);
  std::memset(mButtons, 0, sizeof mButtons);
  std::memset(mPreviousButtons, 0, sizeof mPreviousButtons);
  mMouseX = mMouseY = mMouseDeltaX = mMouseDeltaY = 0;
  mFirstMove = true;
}

void Input::Roll() {
  std::memcpy(mPreviousKeys, mKeys, sizeof mKeys);
  std::memcpy(mPreviousButtons, mButtons, sizeof mButtons);
  mMouseDeltaX = mMouseDeltaY = 0;
}

bool Input::Key(int key) const { return ValidKey(key) && mKeys[key] != 0; }
bool Input::PreviousKey(int key) const { return ValidKey(key) && mPreviousKeys[key] != 0; }
bool Input::Button(int button) const { return ValidButton(button) && mButtons[button] != 0; }
bool Input::PreviousButton(int button) const {
  return ValidButton(button) && mPreviousButtons[button] != 0;
}

InputUpdate::InputUpdate() {
  mName = L"Input";
  mPriority = 14000;
}

bool InputUpdate::Start() {
  Input::Get()->Clear();
  return true;
}

void InputUpdate::Update() { Input::Get()->Roll(); }

void InputUpdate::Stop() { delete Input::Get(); }

}  // namespace engine::core

namespace engine {

bool isPressed(int key) {
  const auto* input = core::Input::Get();
  return input->Key(key) && !input->PreviousKey(key);
}

bool isHeld(int key) {
  const auto* input = core::Input::Get();
  return input->Key(key) && input->PreviousKey(key);
}

bool isReleased(int key) {
  const auto* input = core::Input::Get();
  return !input->Key(key) && input->PreviousKey(key);
}

}  // namespace engine
