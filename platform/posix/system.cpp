#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <chrono>
#include <thread>
#include <utility>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

#include "platform/sdl/native.h"
#include "platform/utf8.h"

namespace platform {
namespace {

MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}

const Window* gMainWindow = nullptr;

bool gTestClock = false;
std::int64_t gTestCounter = 0;

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

bool EnvIs(const char* name, const char* expected) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, expected) == 0;
}

void WriteToStderr(const std::wstring& text, const std::wstring& caption) {
  std::fprintf(stderr, "[%s] %s\n", utf8::Encode(caption).c_str(), utf8::Encode(text).c_str());
  std::fflush(stderr);
}

}  // namespace

bool IsInteractive() {
  if (EnvSet("VELOX_NONINTERACTIVE") || EnvSet("CI")) return false;
  if (EnvIs("SDL_VIDEODRIVER", "offscreen") || EnvIs("SDL_VIDEODRIVER", "dummy")) return false;
  return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

void ShowMessageBox(const Window* owner, const std::wstring& text, const std::wstring& caption) {
  if (Hook()) {
    Hook()(owner, text, caption);
    return;
  }
  if (IsInteractive() && ShowNativeMessageBox(owner, utf8::Encode(text), utf8::Encode(caption))) {
    return;
  }
  WriteToStderr(text, caption);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(Hook(), std::move(hook));
}

const Window* MainWindow() { return gMainWindow; }
void SetMainWindow(const Window* window) { gMainWindow = window; }

std::int64_t PerformanceCounter() { return gTestClock ? gTestCounter : MonotonicNanoseconds(); }

void EnableTestClock(bool enabled) {
  if (enabled && !gTestClock) gTestCounter = MonotonicNanoseconds();
  gTestClock = enabled;
}

void AdvanceTestClock(double seconds) {
  gTestCounter += static_cast<std::int64_t>(seconds * 1e9);
}

std::int64_t PerformanceFrequency() { return 1000000000LL; }

std::uint32_t TickCount() {
  return static_cast<std::uint32_t>(PerformanceCounter() / 1000000LL);
}

void Sleep(std::uint32_t milliseconds) {
#ifdef __EMSCRIPTEN__
  emscripten_sleep(milliseconds);
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

}  // namespace platform
