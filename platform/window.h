#pragma once

#include <memory>
#include <string>

#include "platform/api.h"
#include "platform/resources.h"

namespace platform {

struct WindowDesc {
  std::wstring title;
  int x = 100;
  int y = 100;
  // Client size when windowed; the back-buffer size in full screen.
  int width = 1024;
  int height = 768;
  // Full screen is the desktop's full screen; the back buffer keeps the
  // chosen size and is scaled to the display.
  bool fullscreen = false;
  bool alwaysOnTop = false;
  // The window is created for OpenGL rendering (the graphics backend needs
  // it); a plain window otherwise.
  bool openGL = true;
  ProgramResource icon;  // BMP file image; none: the default icon
};

// A top-level window. Without a display (SDL's offscreen driver) it is an
// offscreen window that can still be rendered to.
class PLATFORM_API Window {
 public:
  // Null on failure; LastWindowError() says why.
  static std::unique_ptr<Window> Create(const WindowDesc& desc);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  void Show();
  void SetTitle(const std::wstring& title);
  std::wstring Title() const;
  // Client area in pixels.
  int Width() const;
  int Height() const;
  bool Fullscreen() const;
  // The SDL window, for the graphics backend inside the platform layer.
  void* NativeHandle() const;

 private:
  struct Impl;
  explicit Window(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> mImpl;
};

PLATFORM_API std::string LastWindowError();

// Receives the window events of one pump. Keys come as Windows virtual-key
// codes; key repeats are not delivered.
class EventHandler {
 public:
  virtual ~EventHandler() = default;
  virtual void OnKey(int virtualKey, bool down) = 0;
  // Client coordinates of the cursor (the whole display in full screen).
  virtual void OnMouseMove(int x, int y) = 0;
  // 0 left, 2 right; the middle button is not reported.
  virtual void OnMouseButton(int button, bool down) = 0;
  // The user closed the window (or the session asked the program to end).
  virtual void OnClose() = 0;
};

// Delivers every pending event without waiting and returns true when a
// quit was among them.
PLATFORM_API bool PumpEvents(EventHandler& handler);

// The virtual-key code of an SDL scancode; 0 for keys that have none.
PLATFORM_API int VirtualKeyFromScancode(int scancode);

PLATFORM_API void ShowCursor(bool show);

}  // namespace platform
