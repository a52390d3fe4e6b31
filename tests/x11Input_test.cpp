// Real key presses on a real window: an X server (xvfb-run) and xdotool,
// through SDL's X11 driver, the pump and the input state. And where the
// window lands on a bare X server, with no window manager to place it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

// After gtest: Xlib's macros (None, Bool) would break its templates.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include "engine/input.h"
#include "input_support.h"
#include "platform/window.h"

using engine::core::Input;

namespace {


std::string WindowId(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info)) return "";
  return std::to_string(static_cast<unsigned long>(info.info.x11.window));
}

struct Placement {
  int x, y, width, height;
  bool operator==(const Placement& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};

// The window's place on the root window, as the X server has it.
Placement PlacedAt(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info)) return {-1, -1, 0, 0};
  Display* display = info.info.x11.display;
  XSync(display, False);
  XWindowAttributes attributes;
  Window child;
  Placement p{};
  XGetWindowAttributes(display, info.info.x11.window, &attributes);
  XTranslateCoordinates(display, info.info.x11.window, attributes.root, 0, 0, &p.x, &p.y, &child);
  p.width = attributes.width;
  p.height = attributes.height;
  return p;
}

// Pumps for up to two seconds until `done` holds.
template <class Done>
bool PumpUntil(velox_test::InputFeed& feed, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < deadline) {
    platform::PumpEvents(feed);
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(X11InputTest, KeysFromTheXServerArriveAsVirtualKeys) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server";
  setenv("SDL_VIDEODRIVER", "x11", 1);
  platform::WindowDesc desc;
  desc.title = L"x11 input";
  desc.width = 200;
  desc.height = 150;
  desc.openGL = false;
  auto window = platform::Window::Create(desc);
  ASSERT_NE(window, nullptr) << platform::LastWindowError();
  window->Show();
  const std::string id = WindowId(static_cast<SDL_Window*>(window->NativeHandle()));
  ASSERT_FALSE(id.empty());
  velox_test::InputFeed feed;
  PumpUntil(feed, [] { return false; });  // let the window map

  const std::string keys = "xdotool windowfocus --sync " + id +
                           " key Escape F9 a 1 && xdotool keydown F11 && sleep 0.3 && "
                           "xdotool keyup F11";
  ASSERT_EQ(std::system(keys.c_str()), 0);
  const std::vector<int> expected = {27, -27, 120, -120, 'A', -'A', '1', -'1', 122, -122};
  EXPECT_TRUE(PumpUntil(feed, [&] { return feed.keys.size() >= expected.size(); }));
  // Holding F11 auto-repeats in the X server; repeats are not delivered.
  EXPECT_EQ(feed.keys, expected);

  const std::string move = "xdotool mousemove --window " + id + " 50 60";
  ASSERT_EQ(std::system(move.c_str()), 0);
  EXPECT_TRUE(PumpUntil(feed, [] { return Input::Get()->MouseX() == 50; }));
  EXPECT_EQ(Input::Get()->MouseY(), 60);
  delete Input::Get();
}

TEST(X11WindowTest, FullScreenCoversTheDisplayWithoutAWindowManager) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X server";
  setenv("SDL_VIDEODRIVER", "x11", 1);
  velox_test::InputFeed feed;
  for (const bool fullscreen : {true, false}) {
    SCOPED_TRACE(fullscreen ? "full screen" : "windowed");
    platform::WindowDesc desc;  // at (100, 100), as the engine creates it
    desc.width = 640;
    desc.height = 480;
    desc.fullscreen = fullscreen;
    desc.openGL = false;
    auto window = platform::Window::Create(desc);
    ASSERT_NE(window, nullptr) << platform::LastWindowError();
    window->Show();
    auto* sdl = static_cast<SDL_Window*>(window->NativeHandle());
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(sdl, &info));
    Display* display = info.info.x11.display;
    const Placement expected =
        fullscreen ? Placement{0, 0, DisplayWidth(display, DefaultScreen(display)),
                               DisplayHeight(display, DefaultScreen(display))}
                   : Placement{100, 100, 640, 480};
    EXPECT_TRUE(PumpUntil(feed, [&] { return PlacedAt(sdl) == expected; }));
    const Placement p = PlacedAt(sdl);
    EXPECT_EQ(p.x, expected.x);
    EXPECT_EQ(p.y, expected.y);
    EXPECT_EQ(p.width, expected.width);
    EXPECT_EQ(p.height, expected.height);
  }
}

}  // namespace
