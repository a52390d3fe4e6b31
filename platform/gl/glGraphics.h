#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/graphics.h"

// The OpenGL backend of the graphics interface (OpenGL 4.5 core, or
// OpenGL ES 3.0 with VELOX_GL=es in the environment: the subset WebGL 2
// offers), and its controls for tests. No GL header is included here so
// engine code may use the attribute table.
//
// Conventions kept by the backend:
// - Every image keeps Direct3D row order: GL row 0 (t = 0, window y = 0 of an
//   FBO) holds the picture's top row. Uploads go top row first, every draw
//   negates clip-space y, and only Present flips back to the window.
// - The back buffer is an FBO of the chosen size (a multisampled colour
//   renderbuffer plus a single-sample resolve texture when multisampling is
//   asked for); Present blits it, scaled and flipped, to the window.
namespace platform::gl {

// Vertex attribute locations by declaration usage and usage index; shaders
// of the effect framework bind their inputs to the same numbers.
//   POSITION0 0, BLENDWEIGHT0 1, BLENDINDICES0 2, NORMAL0 3, COLOR0 4,
//   COLOR1 5, TEXCOORD0..7 6..13, TANGENT0 14, BINORMAL0 15, PSIZE0 16.
// Every other usage/index pair has no location (-1) and is not fed.
constexpr int kAttributeCount = 17;
PLATFORM_API int AttributeLocation(std::uint8_t usage, std::uint8_t usageIndex);

// Why the last adapter or device creation failed (SDL's or GL's words).
PLATFORM_API std::string LastError();

// The live device acts out a device loss: TestCooperativeLevel answers
// kDeviceLost for `checksBeforeReset` calls, then kDeviceNotReset until a
// Reset succeeds; Present fails with kDeviceLost meanwhile.
PLATFORM_API void LoseDeviceForTesting(int checksBeforeReset);

// The live device loses its context the way a browser takes a WebGL
// context back: every GL object is gone and calls into the context do
// nothing. TestCooperativeLevel answers kDeviceLost for `checksBeforeBack`
// calls, then kDeviceNotReset; Reset makes a new context and every texture,
// buffer and effect pass again.
PLATFORM_API void LoseContextForTesting(int checksBeforeBack);

// Default-pool resources alive on the live device (Reset needs 0).
PLATFORM_API int LiveDefaultPoolResources();

// The GL errors raised since the last call (0 when none), for tests.
PLATFORM_API std::uint32_t TakeGlError();

// While on, each Present also reads back what it drew into the window
// (before the swap): A8R8G8B8, rows top first. For tests of the final copy.
PLATFORM_API void CapturePresentsForTesting(bool on);
PLATFORM_API std::vector<std::uint32_t> LastPresentedForTesting(int* width, int* height);

// The named extensions count as absent from the next context on (an empty
// list shows them all again), so that tests reach the paths of drivers
// without them.
PLATFORM_API void HideExtensionsForTesting(std::vector<std::string> names);

// Used by Direct3DCreate; null when SDL's video cannot start.
Direct3D* CreateDirect3D();

// The context SDL is to make (the kind VELOX_GL asks for); set before an
// OpenGL window is created, since SDL may pick its GL library then.
void SetContextAttributes();

}  // namespace platform::gl
