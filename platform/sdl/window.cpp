#include <SDL.h>

#include <algorithm>

#include "platform/display.h"
#include "platform/gl/glGraphics.h"
#include "platform/sdl/native.h"
#include "platform/utf8.h"
#include "platform/window.h"

namespace platform {
namespace {

std::vector<DisplayMode>& TestModes() {
  static std::vector<DisplayMode> modes;
  return modes;
}

// Video is needed for mode queries before any window exists (the settings
// dialog runs first); initialised once, on demand.
bool EnsureVideo() {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return true;
  return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

int FormatOf(Uint32 sdlFormat) {
  return SDL_BITSPERPIXEL(sdlFormat) <= 16 ? kFormatR5G6B5 : kFormatX8R8G8B8;
}

// The display that holds a point; the first one when none does.
int DisplayAt(int x, int y) {
  const SDL_Point point{x, y};
  for (int i = 0; i < SDL_GetNumVideoDisplays(); ++i) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(i, &bounds) == 0 && SDL_PointInRect(&point, &bounds)) return i;
  }
  return 0;
}

}  // namespace

std::vector<DisplayMode> EnumerateDisplayModes(int format) {
  std::vector<DisplayMode> modes;
  if (!TestModes().empty()) {
    for (const DisplayMode& m : TestModes()) {
      if (m.format == format) modes.push_back(m);
    }
    return modes;
  }
  if (!EnsureVideo()) return modes;
  const int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) != 0 || FormatOf(mode.format) != format) continue;
    modes.push_back({mode.w, mode.h, mode.refresh_rate, format});
  }
  return modes;
}

DisplayMode DesktopDisplayMode() {
  if (!TestModes().empty()) return TestModes().front();
  SDL_DisplayMode mode;
  if (!EnsureVideo() || SDL_GetDesktopDisplayMode(0, &mode) != 0) {
    return {1024, 768, 60, kFormatX8R8G8B8};
  }
  return {mode.w, mode.h, mode.refresh_rate, FormatOf(mode.format)};
}

void SetDisplayModesForTesting(const std::vector<DisplayMode>& modes) { TestModes() = modes; }

// --- Windows ---------------------------------------------------------------

namespace {
std::string gLastError;
}

struct Window::Impl {
  SDL_Window* window = nullptr;
  bool fullscreen = false;
};

Window::Window(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}

Window::~Window() {
  if (mImpl->window != nullptr) SDL_DestroyWindow(mImpl->window);
}

std::unique_ptr<Window> Window::Create(const WindowDesc& desc) {
  if (!EnsureVideo()) {
    gLastError = SDL_GetError();
    return nullptr;
  }
  Uint32 flags = SDL_WINDOW_HIDDEN;
  if (desc.openGL) {
    flags |= SDL_WINDOW_OPENGL;
    gl::SetContextAttributes();
  }
  if (desc.fullscreen) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  if (desc.alwaysOnTop) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
  int x = desc.x, y = desc.y, width = desc.width, height = desc.height;
  SDL_Rect display;
  if (desc.fullscreen && SDL_GetDisplayBounds(DisplayAt(x, y), &display) == 0) {
    // A window manager moves a full-screen window over its display; without
    // one (a bare X server) it would stay where it was created, partly off
    // screen. So it starts out covering the display.
    x = display.x;
    y = display.y;
    width = display.w;
    height = display.h;
  }
  SDL_Window* window =
      SDL_CreateWindow(utf8::Encode(desc.title).c_str(), x, y, width, height, flags);
  if (window == nullptr) {
    gLastError = SDL_GetError();
    return nullptr;
  }
  if (desc.icon) {
    SDL_RWops* rw = SDL_RWFromConstMem(desc.icon.data, static_cast<int>(desc.icon.size));
    if (SDL_Surface* icon = rw != nullptr ? SDL_LoadBMP_RW(rw, 1) : nullptr) {
      SDL_SetWindowIcon(window, icon);
      SDL_FreeSurface(icon);
    }
  }
  auto impl = std::make_unique<Impl>();
  impl->window = window;
  impl->fullscreen = desc.fullscreen;
  return std::unique_ptr<Window>(new Window(std::move(impl)));
}

void Window::Show() { SDL_ShowWindow(mImpl->window); }

void Window::SetTitle(const std::wstring& title) {
  SDL_SetWindowTitle(mImpl->window, utf8::Encode(title).c_str());
}

std::wstring Window::Title() const { return utf8::Decode(SDL_GetWindowTitle(mImpl->window)); }

int Window::Width() const {
  int w = 0;
  SDL_GetWindowSize(mImpl->window, &w, nullptr);
  return w;
}

int Window::Height() const {
  int h = 0;
  SDL_GetWindowSize(mImpl->window, nullptr, &h);
  return h;
}

bool Window::Fullscreen() const { return mImpl->fullscreen; }

void* Window::NativeHandle() const { return mImpl->window; }

std::string LastWindowError() { return gLastError; }

bool ShowNativeMessageBox(const Window* owner, const std::string& text,
                          const std::string& caption) {
  auto* parent = owner != nullptr ? static_cast<SDL_Window*>(owner->NativeHandle()) : nullptr;
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption.c_str(), text.c_str(),
                                  parent) == 0;
}

void ShowCursor(bool show) {
  if (EnsureVideo()) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

// --- Events ----------------------------------------------------------------

int VirtualKeyFromScancode(int scancode) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) {
    return 'A' + (scancode - SDL_SCANCODE_A);
  }
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) {
    return '1' + (scancode - SDL_SCANCODE_1);
  }
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) {
    return 0x70 + (scancode - SDL_SCANCODE_F1);
  }
  if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) {
    return 0x7C + (scancode - SDL_SCANCODE_F13);
  }
  if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9) {
    return 0x61 + (scancode - SDL_SCANCODE_KP_1);
  }
  switch (scancode) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_RETURN: return 0x0D;
    case SDL_SCANCODE_KP_ENTER: return 0x0D;
    case SDL_SCANCODE_ESCAPE: return 0x1B;
    case SDL_SCANCODE_BACKSPACE: return 0x08;
    case SDL_SCANCODE_TAB: return 0x09;
    case SDL_SCANCODE_SPACE: return 0x20;
    case SDL_SCANCODE_MINUS: return 0xBD;
    case SDL_SCANCODE_EQUALS: return 0xBB;
    case SDL_SCANCODE_LEFTBRACKET: return 0xDB;
    case SDL_SCANCODE_RIGHTBRACKET: return 0xDD;
    case SDL_SCANCODE_BACKSLASH: return 0xDC;
    case SDL_SCANCODE_SEMICOLON: return 0xBA;
    case SDL_SCANCODE_APOSTROPHE: return 0xDE;
    case SDL_SCANCODE_GRAVE: return 0xC0;
    case SDL_SCANCODE_COMMA: return 0xBC;
    case SDL_SCANCODE_PERIOD: return 0xBE;
    case SDL_SCANCODE_SLASH: return 0xBF;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0xE2;
    case SDL_SCANCODE_CAPSLOCK: return 0x14;
    case SDL_SCANCODE_PRINTSCREEN: return 0x2C;
    case SDL_SCANCODE_SCROLLLOCK: return 0x91;
    case SDL_SCANCODE_PAUSE: return 0x13;
    case SDL_SCANCODE_INSERT: return 0x2D;
    case SDL_SCANCODE_HOME: return 0x24;
    case SDL_SCANCODE_PAGEUP: return 0x21;
    case SDL_SCANCODE_DELETE: return 0x2E;
    case SDL_SCANCODE_END: return 0x23;
    case SDL_SCANCODE_PAGEDOWN: return 0x22;
    case SDL_SCANCODE_RIGHT: return 0x27;
    case SDL_SCANCODE_LEFT: return 0x25;
    case SDL_SCANCODE_DOWN: return 0x28;
    case SDL_SCANCODE_UP: return 0x26;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 0x90;
    case SDL_SCANCODE_KP_DIVIDE: return 0x6F;
    case SDL_SCANCODE_KP_MULTIPLY: return 0x6A;
    case SDL_SCANCODE_KP_MINUS: return 0x6D;
    case SDL_SCANCODE_KP_PLUS: return 0x6B;
    case SDL_SCANCODE_KP_0: return 0x60;
    case SDL_SCANCODE_KP_PERIOD: return 0x6E;
    case SDL_SCANCODE_APPLICATION: return 0x5D;
    // Windows reports either side of a modifier under one code.
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT: return 0x10;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL: return 0x11;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT: return 0x12;
    case SDL_SCANCODE_LGUI: return 0x5B;
    case SDL_SCANCODE_RGUI: return 0x5C;
    default: return 0;
  }
}

bool PumpEvents(EventHandler& handler) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  bool quit = false;
  SDL_Event event;
  while (SDL_PollEvent(&event) != 0) {
    switch (event.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        if (event.key.repeat != 0) break;
        const int key = VirtualKeyFromScancode(event.key.keysym.scancode);
        if (key != 0) handler.OnKey(key, event.type == SDL_KEYDOWN);
        break;
      }
      case SDL_MOUSEMOTION:
        handler.OnMouseMove(event.motion.x, event.motion.y);
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (event.button.button == SDL_BUTTON_LEFT || event.button.button == SDL_BUTTON_RIGHT) {
          handler.OnMouseButton(event.button.button == SDL_BUTTON_LEFT ? 0 : 2,
                                event.type == SDL_MOUSEBUTTONDOWN);
        }
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
          handler.OnClose();
          quit = true;
        }
        break;
      case SDL_QUIT:
        quit = true;
        break;
      default:
        break;
    }
  }
  return quit;
}

}  // namespace platform
