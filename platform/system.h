#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/api.h"

namespace platform {

class Window;  // a native window, defined by the window backend

// --- Message boxes --------------------------------------------------------

// A modal box with a single OK button. Never blocks a run that has no display
// or is marked non-interactive: the caption and text then go to standard
// error instead.
PLATFORM_API void ShowMessageBox(const Window* owner, const std::wstring& text,
                                 const std::wstring& caption);

// Replaces how boxes are shown (tests record them; the window backend shows
// real ones). An empty hook restores the default. Returns the previous hook.
using MessageBoxHook = std::function<void(const Window* owner, const std::wstring& text,
                                          const std::wstring& caption)>;
PLATFORM_API MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// False when there is no display or the environment marks the run as
// unattended (VELOX_NONINTERACTIVE, CI, or SDL's offscreen/dummy drivers).
PLATFORM_API bool IsInteractive();

// The window that owns message boxes raised by the engine; null until the
// main window exists.
PLATFORM_API const Window* MainWindow();
PLATFORM_API void SetMainWindow(const Window* window);

// --- Clock ----------------------------------------------------------------

// Monotonic high-resolution counter and its ticks per second.
PLATFORM_API std::int64_t PerformanceCounter();
PLATFORM_API std::int64_t PerformanceFrequency();

// Milliseconds since an arbitrary start; wraps after about 49 days.
PLATFORM_API std::uint32_t TickCount();

// Gives the thread up for a while; in a browser back to the page, whose
// events (a context given back, a key) arrive meanwhile.
PLATFORM_API void Sleep(std::uint32_t milliseconds);

// Tests stop the clock: while enabled, the counter and the tick count stand
// still except for AdvanceTestClock, so that frame times are exact.
PLATFORM_API void EnableTestClock(bool enabled);
PLATFORM_API void AdvanceTestClock(double seconds);

}  // namespace platform
