#pragma once

// How the gl backend reaches OpenGL. One backend serves desktop OpenGL 4.5
// core and OpenGL ES 3.0 (what WebGL 2 offers), picked at run time from the
// context: the code keeps to their common subset, and the few calls only
// desktop GL has sit in `#if VELOX_GL_DESKTOP` blocks behind Desktop().
// Builds with VELOX_GL_ES_ONLY (a browser build has no libepoxy and no
// desktop GL) include the GLES 3 headers and compile those blocks out.
#if defined(VELOX_GL_ES_ONLY)
#include <GLES3/gl3.h>
#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GLES2/gl2ext.h>
#define VELOX_GL_DESKTOP 0
#if defined(__EMSCRIPTEN__)
// WebGL 2's getBufferSubData, which emscripten offers under the desktop name.
extern "C" void glGetBufferSubData(GLenum target, GLintptr offset, GLsizeiptr size, void* data);
#endif
#else
#include <epoxy/gl.h>
#define VELOX_GL_DESKTOP 1
#endif

#include <string>
#include <vector>

namespace platform::gl::api {

// What the current context offers, read once when a context is made.
struct Context {
  bool desktop = true;
  int version = 0;            // major * 10 + minor
  bool s3tc = false;          // DXT1/3/5 uploads as they are
  bool floatTargets = false;  // R32F is colour-renderable
  bool halfFloatTargets = false;
  bool floatLinear = false;   // R32F filters linearly
  bool timestamps = false;    // timer queries (core on desktop, an extension on ES)
  bool anisotropy = false;
  GLuint editUnit = 0;        // the texture unit textures are edited on
  GLuint attributes = 16;     // vertex attributes (locations from 0)
};

// Reads the current context into Current().
void ReadContext();
const Context& Current();

// The switch for desktop-only calls: true while the context is desktop
// OpenGL; false for OpenGL ES and in ES-only builds.
inline bool Desktop() {
#if VELOX_GL_DESKTOP
  return Current().desktop;
#else
  return false;
#endif
}

bool HasExtension(const char* name);

// VELOX_GL=es in the environment (or an ES-only build): contexts are
// OpenGL ES 3.0.
bool WantEs();

// Tests: the named extensions count as absent from the next context on.
void HideExtensions(std::vector<std::string> names);

}  // namespace platform::gl::api
