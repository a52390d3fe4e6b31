#pragma once

#include <string>

// The WebGL 2 context of a web page's canvas, for the gl backend in place of
// SDL's GL contexts. One context per page; the canvas selector comes from
// the window's NativeHandle().
namespace platform::web {

// Makes the context on the canvas and makes it current; false with the
// browser's reason (no WebGL 2) in `error`.
bool CreateGlContext(const char* canvas, std::string* error);
void DestroyGlContext();
bool GlContextCurrent();
// True while the browser has taken the context away (it may give it back:
// then every GL object must be made again, as after a lost device).
bool GlContextLost();

}  // namespace platform::web
