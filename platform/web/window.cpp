#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <deque>
#include <string>

#include "platform/display.h"
#include "platform/sdl/native.h"
#include "platform/utf8.h"
#include "platform/window.h"

// The window of a web page: the page's canvas (#canvas), its back buffer
// the size the program asks for, scaled to the page by the page's style.
// Keys and the mouse arrive as DOM events, queued until the program pumps;
// each pump also hands the thread back to the browser (the build runs with
// Asyncify), which is when the browser shows the frame just drawn and runs
// its own events.
namespace platform {
namespace {

constexpr char kCanvas[] = "#canvas";

struct Event {
  enum Kind { Key, Move, Button } kind;
  int a, b;
};

std::deque<Event> gEvents;
bool gListening = false;
std::string gLastError;

EM_BOOL OnKeyEvent(int type, const EmscriptenKeyboardEvent* e, void*) {
  if (e->repeat) return EM_TRUE;
  // The DOM's key codes are the Windows virtual-key codes for the keys the
  // program uses (letters, digits, F-keys, Escape, Space, the arrows).
  const int key = static_cast<int>(e->keyCode);
  if (key > 0 && key < 256) gEvents.push_back({Event::Key, key, type == EMSCRIPTEN_EVENT_KEYDOWN ? 1 : 0});
  // F5 and friends stay the browser's; what the demo reads is kept from it.
  return key == 0x1B || key == 0x20 || (key >= 0x25 && key <= 0x28) || (key >= 0x70 && key <= 0x7B);
}

EM_BOOL OnMouseEvent(int type, const EmscriptenMouseEvent* e, void*) {
  if (type == EMSCRIPTEN_EVENT_MOUSEMOVE) {
    gEvents.push_back({Event::Move, static_cast<int>(e->targetX), static_cast<int>(e->targetY)});
  } else if (e->button == 0 || e->button == 2) {
    gEvents.push_back({Event::Button, e->button, type == EMSCRIPTEN_EVENT_MOUSEDOWN ? 1 : 0});
  }
  return EM_FALSE;
}

void Listen() {
  if (gListening) return;
  gListening = true;
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKeyEvent);
  emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKeyEvent);
  emscripten_set_mousemove_callback(kCanvas, nullptr, EM_TRUE, OnMouseEvent);
  emscripten_set_mousedown_callback(kCanvas, nullptr, EM_TRUE, OnMouseEvent);
  emscripten_set_mouseup_callback(kCanvas, nullptr, EM_TRUE, OnMouseEvent);
}

// clang-format off
EM_JS(void, velox_page_message, (const char* text, const char* caption), {
  if (Module.veloxMessage) Module.veloxMessage(UTF8ToString(caption), UTF8ToString(text));
});

EM_JS(void, velox_set_title, (const char* text), { document.title = UTF8ToString(text); });

EM_JS(void, velox_show_cursor, (int show), {
  var canvas = Module.canvas || document.getElementById('canvas');
  if (canvas) canvas.style.cursor = show ? 'auto' : 'none';
});
// clang-format on

}  // namespace

namespace {

// clang-format off
EM_JS(int, velox_page_width, (), { return Math.round(window.innerWidth * (window.devicePixelRatio || 1)); });
EM_JS(int, velox_page_height, (), { return Math.round(window.innerHeight * (window.devicePixelRatio || 1)); });
// clang-format on

// The page is the display: one mode, the page's size in device pixels, no
// wider than 1920 (the software renderers some browsers fall back to are
// slow enough at that), the page's shape kept.
DisplayMode PageMode(int format) {
  int width = velox_page_width(), height = velox_page_height();
  if (width <= 0 || height <= 0) return {1024, 768, 60, format};
  if (width > 1920) {
    height = height * 1920 / width;
    width = 1920;
  }
  return {width, std::max(height, 1), 60, format};
}

}  // namespace

std::vector<DisplayMode> EnumerateDisplayModes(int format) { return {PageMode(format)}; }

DisplayMode DesktopDisplayMode() { return PageMode(kFormatX8R8G8B8); }

void SetDisplayModesForTesting(const std::vector<DisplayMode>&) {}

struct Window::Impl {
  std::wstring title;
  int width = 0, height = 0;
  bool fullscreen = false;
};

Window::Window(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}

Window::~Window() = default;

std::unique_ptr<Window> Window::Create(const WindowDesc& desc) {
  if (desc.width <= 0 || desc.height <= 0 ||
      emscripten_set_canvas_element_size(kCanvas, desc.width, desc.height) != EMSCRIPTEN_RESULT_SUCCESS) {
    gLastError = "the page has no canvas #canvas";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->title = desc.title;
  impl->width = desc.width;
  impl->height = desc.height;
  impl->fullscreen = desc.fullscreen;
  velox_set_title(utf8::Encode(desc.title).c_str());
  Listen();
  return std::unique_ptr<Window>(new Window(std::move(impl)));
}

void Window::Show() {}

void Window::SetTitle(const std::wstring& title) {
  mImpl->title = title;
  velox_set_title(utf8::Encode(title).c_str());
}

std::wstring Window::Title() const { return mImpl->title; }
int Window::Width() const { return mImpl->width; }
int Window::Height() const { return mImpl->height; }
bool Window::Fullscreen() const { return mImpl->fullscreen; }

// What the graphics backend makes its WebGL context on: the canvas's selector.
void* Window::NativeHandle() const { return const_cast<char*>(kCanvas); }

std::string LastWindowError() { return gLastError; }

bool ShowNativeMessageBox(const Window*, const std::string& text, const std::string& caption) {
  velox_page_message(text.c_str(), caption.c_str());
  return true;
}

void ShowCursor(bool show) { velox_show_cursor(show ? 1 : 0); }

int VirtualKeyFromScancode(int scancode) { return scancode > 0 && scancode < 256 ? scancode : 0; }

bool PumpEvents(EventHandler& handler) {
  // The browser's turn: it shows the frame and delivers its events.
  emscripten_sleep(0);
  while (!gEvents.empty()) {
    const Event e = gEvents.front();
    gEvents.pop_front();
    switch (e.kind) {
      case Event::Key: handler.OnKey(e.a, e.b != 0); break;
      case Event::Move: handler.OnMouseMove(e.a, e.b); break;
      case Event::Button: handler.OnMouseButton(e.a, e.b != 0); break;
    }
  }
  return false;
}

}  // namespace platform
