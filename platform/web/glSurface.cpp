#include "platform/gl/glSurface.h"

#include <emscripten/em_js.h>
#include <emscripten/html5.h>

// The page's canvas and its WebGL 2 context. There is one canvas: the
// "window" is its selector; a context nobody sees is made on it as well.
namespace platform::gl::surface {
namespace {

constexpr char kCanvas[] = "#canvas";
std::string gError;
// Losses the page reported, and how many of them the context made or
// renewed last has seen: a context lost and given back while the program
// was not looking has lost its objects all the same.
int gLosses = 0;
int gLossesSeen = 0;

EM_BOOL OnContextLost(int, const void*, void*) {
  ++gLosses;
  return EM_TRUE;  // the page lets the browser give it back
}

EMSCRIPTEN_WEBGL_CONTEXT_HANDLE Handle(Context context) {
  return static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<std::intptr_t>(context));
}

// What emscripten's GL layer sets up when it registers a context.
EM_JS(void, VeloxRenewContext, (int handle), {
  var context = GL.contexts[handle];
  if (!context) return;
  context.initExtensionsDone = false;
  GL.initExtensions(context);
  if (GL.generateTempBuffers) GL.generateTempBuffers(false, context);
});

}  // namespace

Window* FromNative(void* nativeHandle) { return static_cast<Window*>(nativeHandle); }

Window* CreateHiddenWindow() { return reinterpret_cast<Window*>(const_cast<char*>(kCanvas)); }
void DestroyWindow(Window*) {}
void PrepareContextKind(bool) {}

Context CreateContext(Window* window, bool) {
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.majorVersion = 2;
  attributes.minorVersion = 0;
  // The engine multisamples its own targets where edges show; the canvas
  // only receives the finished picture, and pictures are read back from
  // the engine's targets, never from the canvas.
  attributes.antialias = EM_FALSE;
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_TRUE;
  attributes.stencil = EM_TRUE;
  attributes.premultipliedAlpha = EM_FALSE;
  attributes.preserveDrawingBuffer = EM_FALSE;
  attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
  const char* canvas = window != nullptr ? reinterpret_cast<const char*>(window) : kCanvas;
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(canvas, &attributes);
  if (context <= 0) {
    gError = "this browser gives no WebGL 2 context";
    return nullptr;
  }
  if (emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS) {
    emscripten_webgl_destroy_context(context);
    gError = "the WebGL 2 context cannot be made current";
    return nullptr;
  }
  static const bool watching =
      emscripten_set_webglcontextlost_callback(canvas, nullptr, EM_FALSE, OnContextLost) ==
      EMSCRIPTEN_RESULT_SUCCESS;
  (void)watching;
  gLossesSeen = gLosses;
  return reinterpret_cast<Context>(static_cast<std::intptr_t>(context));
}

bool MakeCurrent(Window*, Context context) {
  return emscripten_webgl_make_context_current(Handle(context)) == EMSCRIPTEN_RESULT_SUCCESS;
}

// The canvas keeps its one WebGL context for the page's life, and emscripten
// its record of it: dropping the record would also drop every event handler
// on the canvas (the window's mouse), as the helper context that reads the
// adapter's facts before the device is made would.
void DeleteContext(Context context) {
  if (CurrentContext() == context) emscripten_webgl_make_context_current(0);
}

bool Lost(Context context) {
  return emscripten_is_webgl_context_lost(Handle(context)) != 0 || gLosses != gLossesSeen;
}

bool Returned(Context context) { return emscripten_is_webgl_context_lost(Handle(context)) == 0; }

// The browser gives the same context back, empty. Deleting it and making
// another would also drop the canvas's event handlers, so the GL layer's
// own set-up (extensions, helper buffers) is done again on it instead.
Context Renew(Window*, Context lost, bool) {
  if (!Returned(lost)) {
    gError = "the WebGL context is still lost";
    return nullptr;
  }
  gLossesSeen = gLosses;
  VeloxRenewContext(Handle(lost));
  if (emscripten_webgl_make_context_current(Handle(lost)) != EMSCRIPTEN_RESULT_SUCCESS) {
    gError = "the WebGL 2 context cannot be made current";
    return nullptr;
  }
  return lost;
}

Context CurrentContext() {
  return reinterpret_cast<Context>(static_cast<std::intptr_t>(emscripten_webgl_get_current_context()));
}

void DrawableSize(Window* window, int* width, int* height) {
  const char* canvas = window != nullptr ? reinterpret_cast<const char*>(window) : kCanvas;
  if (emscripten_get_canvas_element_size(canvas, width, height) != EMSCRIPTEN_RESULT_SUCCESS) *width = *height = 0;
}

// The browser shows the canvas when the program hands it the thread.
void Swap(Window*) {}
void SetSwapInterval(int) {}
std::string Error() { return gError; }
bool StartVideo() { return true; }

}  // namespace platform::gl::surface
