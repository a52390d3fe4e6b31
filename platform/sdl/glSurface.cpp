#include "platform/gl/glSurface.h"

#include <SDL.h>

namespace platform::gl::surface {

Window* FromNative(void* nativeHandle) { return static_cast<Window*>(nativeHandle); }

Window* CreateHiddenWindow() {
  return reinterpret_cast<Window*>(SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN));
}

void DestroyWindow(Window* window) { SDL_DestroyWindow(reinterpret_cast<SDL_Window*>(window)); }

void PrepareContextKind(bool es) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, es ? 3 : 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, es ? 0 : 5);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, es ? SDL_GL_CONTEXT_PROFILE_ES : SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

Context CreateContext(Window* window, bool es) {
  PrepareContextKind(es);
  SDL_Window* w = reinterpret_cast<SDL_Window*>(window);
  SDL_GLContext context = SDL_GL_CreateContext(w);
  if (context != nullptr && SDL_GL_MakeCurrent(w, context) != 0) {
    SDL_GL_DeleteContext(context);
    return nullptr;
  }
  return context;
}

bool MakeCurrent(Window* window, Context context) {
  return SDL_GL_MakeCurrent(reinterpret_cast<SDL_Window*>(window), context) == 0;
}

void DeleteContext(Context context) { SDL_GL_DeleteContext(context); }

bool Lost(Context) { return false; }
bool Returned(Context) { return true; }

Context Renew(Window* window, Context lost, bool es) {
  Context fresh = CreateContext(window, es);
  if (fresh == nullptr) return nullptr;
  SDL_GL_DeleteContext(lost);
  return fresh;
}
Context CurrentContext() { return SDL_GL_GetCurrentContext(); }

void DrawableSize(Window* window, int* width, int* height) {
  SDL_GL_GetDrawableSize(reinterpret_cast<SDL_Window*>(window), width, height);
}

void Swap(Window* window) { SDL_GL_SwapWindow(reinterpret_cast<SDL_Window*>(window)); }
void SetSwapInterval(int interval) { SDL_GL_SetSwapInterval(interval); }
std::string Error() { return SDL_GetError(); }

bool StartVideo() { return SDL_WasInit(SDL_INIT_VIDEO) != 0 || SDL_InitSubSystem(SDL_INIT_VIDEO) == 0; }

}  // namespace platform::gl::surface
