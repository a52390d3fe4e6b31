#pragma once

#include <string>

// Where the gl backend's context lives: an SDL window natively, the page's
// canvas in a web browser (platform/sdl/glSurface.cpp, platform/web/
// glSurface.cpp). The backend draws the same either way; only making,
// switching and showing the context differ.
namespace platform::gl::surface {

struct Window;          // an SDL_Window, or the page's canvas
using Context = void*;  // an SDL_GLContext, or the WebGL context

// The surface of a platform::Window (its NativeHandle()).
Window* FromNative(void* nativeHandle);
// A window nobody sees, for a context without one; null when none can be
// made (Error() says why).
Window* CreateHiddenWindow();
void DestroyWindow(Window* window);
// The context of the kind `es` says (OpenGL ES 3.0, else OpenGL 4.5 core),
// current on return; null with Error() when it cannot be made.
Context CreateContext(Window* window, bool es);
// False when it cannot be made current. A null context: none current.
bool MakeCurrent(Window* window, Context context);
void DeleteContext(Context context);
// True once the context was lost since it was made or renewed: a browser
// takes WebGL contexts back (low memory, a GPU reset) with every object in
// them. Native contexts are not lost.
bool Lost(Context context);
// False while the browser still holds a lost context back.
bool Returned(Context context);
// A context of the same kind for one whose objects were lost, current on
// return: natively a new one (the old deleted), in a browser the same one
// made ready again once it is given back. Null with Error() on failure.
Context Renew(Window* window, Context lost, bool es);
Context CurrentContext();
void DrawableSize(Window* window, int* width, int* height);
// Shows the frame drawn into the window's framebuffer.
void Swap(Window* window);
void SetSwapInterval(int interval);
std::string Error();
// The context's kind, asked before any window is made (SDL may choose its
// GL library when a GL window is created).
void PrepareContextKind(bool es);
// The video subsystem the surfaces need; false with Error() when it fails.
bool StartVideo();

}  // namespace platform::gl::surface
