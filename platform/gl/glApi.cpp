#include "platform/gl/glApi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

namespace platform::gl::api {
namespace {

Context gContext;
std::vector<std::string> gExtensions;  // sorted
std::vector<std::string> gHidden;

bool Any(std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (HasExtension(n)) return true;
  }
  return false;
}

}  // namespace

void ReadContext() {
  Context c;
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  c.desktop = VELOX_GL_DESKTOP && !(version != nullptr && std::strncmp(version, "OpenGL ES", 9) == 0);
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  c.version = major * 10 + minor;
  gExtensions.clear();
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  for (GLint i = 0; i < count; ++i) {
    const auto* name = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
    if (name == nullptr) continue;
    if (std::find(gHidden.begin(), gHidden.end(), name) == gHidden.end()) gExtensions.emplace_back(name);
  }
  std::sort(gExtensions.begin(), gExtensions.end());
  gContext = c;  // HasExtension reads the new list from here on
  // Extension names as native drivers and as a browser's WebGL 2 (through
  // emscripten) spell them.
  c.s3tc = c.desktop ? true
                     : Any({"GL_EXT_texture_compression_s3tc", "GL_WEBGL_compressed_texture_s3tc"});
  c.floatTargets = c.desktop || Any({"GL_EXT_color_buffer_float"});
  c.halfFloatTargets = c.floatTargets || Any({"GL_EXT_color_buffer_half_float"});
  c.floatLinear = c.desktop || Any({"GL_OES_texture_float_linear"});
#ifdef __EMSCRIPTEN__
  // Emscripten's GL layer reaches WebGL 2's timer queries through the WebGL 1
  // extension's functions, which WebGL 2 does not have: no GPU times there.
  c.timestamps = false;
#else
  c.timestamps =
      c.desktop || Any({"GL_EXT_disjoint_timer_query", "GL_EXT_disjoint_timer_query_webgl2"});
#endif
  c.anisotropy = (c.desktop && c.version >= 46) ||
                 Any({"GL_EXT_texture_filter_anisotropic", "GL_ARB_texture_filter_anisotropic"});
  // Effects bind units from 0 up; the last unit is left to edits.
  GLint units = 0;
  glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &units);
  c.editUnit = static_cast<GLuint>(std::max(units, 1) - 1);
  GLint attributes = 0;
  glGetIntegerv(GL_MAX_VERTEX_ATTRIBS, &attributes);
  c.attributes = static_cast<GLuint>(std::max(attributes, 0));
  gContext = c;
}

const Context& Current() { return gContext; }

bool HasExtension(const char* name) {
  return std::binary_search(gExtensions.begin(), gExtensions.end(), std::string(name));
}

bool WantEs() {
#if VELOX_GL_DESKTOP
  const char* v = std::getenv("VELOX_GL");
  return v != nullptr && strcasecmp(v, "es") == 0;
#else
  return true;
#endif
}

void HideExtensions(std::vector<std::string> names) { gHidden = std::move(names); }

}  // namespace platform::gl::api
