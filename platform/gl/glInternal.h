#pragma once

#include <cstdint>

#include "platform/graphics.h"

// What the gl backend's effect code needs from its device and textures.
namespace platform::gl::internal {

// True for a device of the gl backend whose context is current.
bool IsLiveGlDevice(Device* device);

// The GL texture behind a texture of the gl backend and whether its format
// filters linearly; false for others.
bool TextureName(BaseTexture* texture, unsigned* name, unsigned* target, bool* filterable);

// What the device keeps up to date in a program before each draw.
struct ProgramState {
  int bgraLocation = -1;  // ES: the uniform saying which COLOR inputs come as B, G, R, A bytes
  int bgra = 0;           // its value now
};

// While non-zero, draws use this program and leave uniforms, textures and
// samplers to it; 0 gives the device its own program back. `state` lives
// as long as the program.
void SetEffectProgram(Device* device, unsigned program, ProgramState* state);

// Makes the program current, keeping the device's note of it right.
void UseProgram(Device* device, unsigned program);

// The pass's fill mode (the library's codes: 1 point, 2 wireframe, 3
// solid), for contexts without glPolygonMode.
void SetFillMode(Device* device, std::uint32_t mode);

// World * view * projection of the device's transforms.
Matrix WorldViewProjection(Device* device);

// Which context is live (0: none); GL objects are deleted only while the
// context that made them lives.
std::uint64_t ContextSerial();

}  // namespace platform::gl::internal
