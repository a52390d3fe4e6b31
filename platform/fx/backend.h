#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/fx/compiler.h"
#include "platform/graphics.h"

// What an effect needs from a graphics backend to draw its passes.
namespace platform::fx {

class PassProgram {
 public:
  virtual ~PassProgram() = default;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // The pass as the device runs it; null (with the driver's words in `log`)
  // when it refuses.
  virtual std::unique_ptr<PassProgram> Link(const CompiledPass& pass, std::string* log) = 0;
  // The GLSL the passes are compiled to for this backend.
  virtual Glsl Language() const = 0;
  // Makes the pass current: its program and the render states (the
  // defaults with every earlier pass of this Begin applied).
  virtual void Apply(PassProgram& program, const RenderStates& states) = 0;
  // A stage's uniform block (0 vertex, 1 pixel) changed.
  virtual void Upload(PassProgram& program, int stage, const std::uint8_t* data,
                      std::uint32_t size) = 0;
  virtual void BindSampler(int unit, BaseTexture* texture, const SamplerStates& states) = 0;
  // The effect ended: the device draws without it again.
  virtual void Finish() = 0;
  // True once after the device's context was made again (a lost WebGL
  // context): every program linked before is gone and the passes must be
  // linked anew.
  virtual bool Renewed() { return false; }
  // For the call record of the null backend.
  virtual void Note(const std::string& /*what*/) {}
};

// The backend of a device: gl for the OpenGL device, null otherwise.
std::unique_ptr<Backend> BackendFor(Device* device);

}  // namespace platform::fx
