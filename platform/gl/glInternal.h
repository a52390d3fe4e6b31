#pragma once

#include <cstdint>

#include "platform/graphics.h"

// What the gl backend's effect code needs from its device and textures.
namespace platform::gl::internal {

// True for a device of the gl backend whose context is current.
bool IsLiveGlDevice(Device* device);

// The GL texture behind a texture of the gl backend; false for others.
bool TextureName(BaseTexture* texture, unsigned* name, unsigned* target);

// While non-zero, draws use this program and leave uniforms, textures and
// samplers to it; 0 gives the device its own program back.
void SetEffectProgram(Device* device, unsigned program);

// World * view * projection of the device's transforms.
Matrix WorldViewProjection(Device* device);

// Which context is live (0: none); GL objects are deleted only while the
// context that made them lives.
std::uint64_t ContextSerial();

}  // namespace platform::gl::internal
