#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fx/frontEnd.h"

// From the front end's description to what a backend draws with: GLSL of
// each pass's stages (glslang in its DX9-compatible HLSL mode, then
// SPIRV-Cross), the layout that carries parameter values into each stage's
// uniform block, sampler units, and the pass's render states.
namespace platform::fx {

// One 4-byte component from a parameter's value into a uniform block.
struct CopyOp {
  enum Convert : std::uint8_t { Copy, IntToFloat, FloatToInt, ToBool, FloatToBool };
  std::uint32_t source;
  std::uint32_t destination;
  Convert convert;
};

struct UniformSlot {
  int parameter;  // index into EffectSource::parameters
  std::vector<CopyOp> ops;
};

// A sampler uniform of the generated GLSL and the unit it reads.
struct SamplerBinding {
  std::string name;
  int unit;
};

struct StageProgram {
  bool present = false;
  std::uint32_t version = 0;  // shader version token
  std::string profile, entry;
  std::string glsl;
  std::uint32_t blockSize = 0;          // 0: the stage reads no uniforms
  bool flattened = false;               // the block is a uniform vec4 array, not a block
  std::vector<std::uint8_t> constants;  // the block's initial bytes (compile arguments)
  std::vector<UniformSlot> uniforms;
  std::vector<int> samplers;  // parameter indices of the samplers the stage reads
  // Their GLSL names; GLSL ES 3.00 has no binding layouts, so the backend
  // sets the units after linking.
  std::vector<SamplerBinding> samplerBindings;
};

// Render states with Direct3D's codes; `set` marks those the pass writes.
enum RenderStateId : int {
  kRsZEnable,
  kRsZWriteEnable,
  kRsZFunc,
  kRsAlphaBlendEnable,
  kRsSrcBlend,
  kRsDestBlend,
  kRsBlendOp,
  kRsSeparateAlphaBlendEnable,
  kRsSrcBlendAlpha,
  kRsDestBlendAlpha,
  kRsBlendOpAlpha,
  kRsCullMode,
  kRsFillMode,
  kRsColorWriteEnable,
  kRsAlphaTestEnable,
  kRsAlphaRef,
  kRsAlphaFunc,
  kRsMultiSampleAntialias,
  kRenderStateCount
};

struct RenderStates {
  std::array<std::uint32_t, kRenderStateCount> value{};
  std::uint32_t set = 0;  // bit per RenderStateId
  static RenderStates Defaults();
  void Apply(const RenderStates& over);  // takes over the states `over` sets
};

enum SamplerStateId : int {
  kSsAddressU,
  kSsAddressV,
  kSsAddressW,
  kSsMagFilter,
  kSsMinFilter,
  kSsMipFilter,
  kSsMaxAnisotropy,
  kSsBorderColor,
  kSsMipMapLodBias,
  kSsMaxMipLevel,
  kSamplerStateCount
};

struct SamplerStates {
  std::array<std::uint32_t, kSamplerStateCount> value{};
  static SamplerStates Defaults();
};

struct CompiledPass {
  StageProgram vertex, pixel;
  RenderStates states;           // as written in the pass
  std::string stateText;         // "Name = value" lines
  bool valid = true;             // false: ValidateTechnique fails
};

// A sampler parameter's states and the texture parameter it names.
struct SamplerInfo {
  SamplerStates states = SamplerStates::Defaults();
  int textureParameter = -1;
  int unit = 0;
};

struct CompiledEffect {
  EffectSource source;
  std::vector<std::vector<CompiledPass>> passes;  // by technique
  std::vector<SamplerInfo> samplers;              // by parameter (unit -1: not a sampler)
};

// The GLSL a backend's context takes: desktop GLSL 4.50, or GLSL ES 3.00
// (OpenGL ES 3.0 and WebGL 2), whose clip space runs -1..1 in depth.
enum class Glsl { k450, kEs300 };

// The name of what GLSL is written for ("glsl450", "gles300"): baked stages
// carry it.
std::string CompileTarget(Glsl glsl);

// Compiles every pass; false after an error (all in `messages`). Where a
// store of baked stages is in use, the passes' stages come from it instead.
bool CompileEffect(EffectSource source, CompiledEffect* out, Messages* messages,
                   Glsl glsl = Glsl::k450);

// The version token of a profile such as "ps_2_0"; 0 when unknown.
std::uint32_t ProfileVersion(const std::string& profile, bool* vertex);

// Writes the slots' parameters into a stage block.
void WriteSlot(const UniformSlot& slot, const std::uint8_t* value, std::uint8_t* block);

}  // namespace platform::fx
