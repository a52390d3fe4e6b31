#include "platform/web/glContext.h"

#include <emscripten/html5.h>

namespace platform::web {
namespace {
EMSCRIPTEN_WEBGL_CONTEXT_HANDLE gContext = 0;
}

bool CreateGlContext(const char* canvas, std::string* error) {
  if (gContext != 0) return emscripten_webgl_make_context_current(gContext) == EMSCRIPTEN_RESULT_SUCCESS;
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.majorVersion = 2;
  attributes.minorVersion = 0;
  // The engine multisamples its own targets where edges show; the canvas
  // only receives the finished picture.
  attributes.antialias = EM_FALSE;
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_TRUE;
  attributes.stencil = EM_TRUE;
  attributes.premultipliedAlpha = EM_FALSE;
  // Pictures are read back from the engine's own targets, never the canvas.
  attributes.preserveDrawingBuffer = EM_FALSE;
  attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
  gContext = emscripten_webgl_create_context(canvas, &attributes);
  if (gContext <= 0) {
    gContext = 0;
    *error = "this browser gives no WebGL 2 context";
    return false;
  }
  if (emscripten_webgl_make_context_current(gContext) != EMSCRIPTEN_RESULT_SUCCESS) {
    emscripten_webgl_destroy_context(gContext);
    gContext = 0;
    *error = "the WebGL 2 context cannot be made current";
    return false;
  }
  return true;
}

void DestroyGlContext() {
  if (gContext == 0) return;
  emscripten_webgl_make_context_current(0);
  emscripten_webgl_destroy_context(gContext);
  gContext = 0;
}

bool GlContextCurrent() { return gContext != 0 && emscripten_webgl_get_current_context() == gContext; }

bool GlContextLost() { return gContext != 0 && emscripten_is_webgl_context_lost(gContext); }

}  // namespace platform::web
