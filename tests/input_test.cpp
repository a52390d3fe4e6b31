// Key and mouse state across frames, and the event pump that feeds it.
#include <SDL.h>

#include <vector>

#include <gtest/gtest.h>

#include "engine/input.h"
#include "engine/kernel.h"
#include "input_support.h"
#include "platform/window.h"
#include "test_support.h"

using engine::core::Input;
using engine::core::InputUpdate;

namespace {

constexpr int kEscape = 27;
constexpr int kF9 = 120;

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override { mUpdate.Start(); }
  void TearDown() override { mUpdate.Stop(); }
  void EndFrame() { mUpdate.Update(); }
  InputUpdate mUpdate;
};

TEST_F(InputTest, HeldKeyIsPressedOnceThenHeldThenReleased) {
  Input::Get()->SetKey(kEscape, true);
  EXPECT_TRUE(engine::isPressed(kEscape));
  EXPECT_FALSE(engine::isHeld(kEscape));
  EndFrame();
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_FALSE(engine::isPressed(kEscape));
    EXPECT_TRUE(engine::isHeld(kEscape));
    EXPECT_FALSE(engine::isReleased(kEscape));
    EndFrame();
  }
  Input::Get()->SetKey(kEscape, false);
  EXPECT_TRUE(engine::isReleased(kEscape));
  EXPECT_FALSE(engine::isHeld(kEscape));
  EndFrame();
  EXPECT_FALSE(engine::isReleased(kEscape));
}

TEST_F(InputTest, PressAndReleaseInOneFrameIsNeverSeen) {
  Input::Get()->SetKey(kF9, true);
  Input::Get()->SetKey(kF9, false);
  EXPECT_FALSE(engine::isPressed(kF9));
  EndFrame();
  EXPECT_FALSE(engine::isReleased(kF9));
  EXPECT_FALSE(engine::isHeld(kF9));
}

TEST_F(InputTest, KeysOutsideTheTableAreIgnored) {
  for (int key : {-1, 256, 1 << 30}) {
    Input::Get()->SetKey(key, true);
    EXPECT_FALSE(engine::isPressed(key));
    EXPECT_FALSE(engine::isHeld(key));
    EXPECT_FALSE(engine::isReleased(key));
  }
  Input::Get()->SetButton(7, true);
  EXPECT_FALSE(Input::Get()->Button(7));
}

TEST_F(InputTest, MouseDeltaIsTheLatestMoveOfTheFrame) {
  Input* input = Input::Get();
  EXPECT_EQ(input->MouseDeltaX(), 0);  // cleared by the module's start
  input->MouseMove(100, 100);          // the first move has no delta
  EXPECT_EQ(input->MouseDeltaX(), 0);
  EXPECT_EQ(input->MouseX(), 100);
  input->MouseMove(110, 95);
  input->MouseMove(113, 99);
  EXPECT_EQ(input->MouseDeltaX(), 3);
  EXPECT_EQ(input->MouseDeltaY(), 4);
  EndFrame();
  EXPECT_EQ(input->MouseDeltaX(), 0);
  EXPECT_EQ(input->MouseX(), 113);

  input->SetButton(0, true);
  EXPECT_TRUE(input->Button(0));
  EXPECT_FALSE(input->PreviousButton(0));
  EndFrame();
  EXPECT_TRUE(input->PreviousButton(0));
}

TEST(InputLifecycleTest, FreshStateAndStopDeletesIt) {
  Input* fresh = Input::Get();
  EXPECT_EQ(fresh->MouseDeltaX(), Input::kNoDelta);
  EXPECT_EQ(fresh->MouseDeltaY(), Input::kNoDelta);
  fresh->SetKey(65, true);
  InputUpdate update;
  EXPECT_EQ(update.Name(), L"Input");
  EXPECT_EQ(update.Priority(), 14000);
  update.Start();  // clears what was written before
  EXPECT_FALSE(engine::isPressed(65));
  Input::Get()->SetKey(65, true);
  update.Stop();
  // A query after the stop works on a new, empty state.
  EXPECT_FALSE(engine::isPressed(65));
  delete Input::Get();
}

// --- The event pump ---------------------------------------------------------

TEST(VirtualKeyTest, ScancodesMapToWindowsCodes) {
  const std::pair<int, int> cases[] = {
      {SDL_SCANCODE_ESCAPE, 27}, {SDL_SCANCODE_F9, 120}, {SDL_SCANCODE_F11, 122},
      {SDL_SCANCODE_F1, 0x70},   {SDL_SCANCODE_A, 'A'},  {SDL_SCANCODE_Z, 'Z'},
      {SDL_SCANCODE_0, '0'},     {SDL_SCANCODE_1, '1'},  {SDL_SCANCODE_9, '9'},
      {SDL_SCANCODE_SPACE, 32},  {SDL_SCANCODE_RETURN, 13}, {SDL_SCANCODE_LEFT, 0x25},
      {SDL_SCANCODE_KP_0, 0x60}, {SDL_SCANCODE_KP_9, 0x69}, {SDL_SCANCODE_RSHIFT, 0x10},
      {SDL_SCANCODE_LCTRL, 0x11}, {SDL_SCANCODE_F24, 0x87}, {SDL_SCANCODE_UNKNOWN, 0},
  };
  for (const auto& [scancode, vk] : cases) {
    EXPECT_EQ(platform::VirtualKeyFromScancode(scancode), vk) << scancode;
  }
}


void PushKey(SDL_Scancode scancode, bool down, bool repeat = false) {
  SDL_Event e{};
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = repeat ? 1 : 0;
  e.key.keysym.scancode = scancode;
  SDL_PushEvent(&e);
}

TEST(PumpTest, DeliversKeysMouseAndCloseWithoutRepeats) {
  platform::WindowDesc desc;
  desc.title = L"pump";
  desc.width = 64;
  desc.height = 48;
  desc.openGL = false;
  auto window = platform::Window::Create(desc);
  ASSERT_NE(window, nullptr) << platform::LastWindowError();
  velox_test::InputFeed recorder;
  platform::PumpEvents(recorder);  // whatever the window's creation queued

  PushKey(SDL_SCANCODE_ESCAPE, true);
  PushKey(SDL_SCANCODE_ESCAPE, true, /*repeat=*/true);
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  motion.motion.x = 10;
  motion.motion.y = 20;
  SDL_PushEvent(&motion);
  SDL_Event button{};
  button.type = SDL_MOUSEBUTTONDOWN;
  button.button.button = SDL_BUTTON_RIGHT;
  SDL_PushEvent(&button);
  button.button.button = SDL_BUTTON_MIDDLE;
  SDL_PushEvent(&button);
  EXPECT_FALSE(platform::PumpEvents(recorder));
  EXPECT_EQ(recorder.keys, std::vector<int>{27});
  EXPECT_TRUE(engine::isPressed(27));
  EXPECT_EQ(Input::Get()->MouseX(), 10);
  EXPECT_TRUE(Input::Get()->Button(2));
  EXPECT_FALSE(Input::Get()->Button(1));

  PushKey(SDL_SCANCODE_ESCAPE, false);
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = SDL_GetWindowID(static_cast<SDL_Window*>(window->NativeHandle()));
  SDL_PushEvent(&close);
  EXPECT_TRUE(platform::PumpEvents(recorder));
  EXPECT_EQ(recorder.keys, (std::vector<int>{27, -27}));
  EXPECT_EQ(recorder.closes, 1);

  window->SetTitle(L"Quiet Port \u00e9");
  EXPECT_EQ(window->Title(), L"Quiet Port \u00e9");
  EXPECT_EQ(window->Width(), 64);
  delete Input::Get();
}

}  // namespace
