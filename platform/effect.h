#pragma once

#include <cstdint>
#include <string>

#include "platform/api.h"
#include "platform/graphics.h"

// Effects: Direct3D 9 HLSL effect files (.fx) with the operations, codes and
// results of the graphics library's effect interface. An effect holds
// parameters (with semantics, annotations and values), techniques and their
// passes; a pass carries a vertex and a pixel shader and render states.
//
// The HLSL is compiled to SPIR-V by glslang and turned into GLSL by
// SPIRV-Cross; the gl backend links and draws it, the null backend compiles
// and validates without drawing. Errors and warnings come back as text in the
// form "file(line,column): error X3000: message".
namespace platform {

// A parameter, annotation, technique or pass. Functions that take a handle
// also accept the name as a C string (of a top-level parameter, a technique,
// a pass of the given technique or an annotation), as the library does.
using Handle = const char*;

enum ParameterClass : std::uint32_t {
  kClassScalar = 0,
  kClassVector = 1,
  kClassMatrixRows = 2,
  kClassMatrixColumns = 3,
  kClassObject = 4,
  kClassStruct = 5,
};

enum ParameterType : std::uint32_t {
  kTypeVoid = 0,
  kTypeBool = 1,
  kTypeInt = 2,
  kTypeFloat = 3,
  kTypeString = 4,
  kTypeTexture = 5,
  kTypeTexture1D = 6,
  kTypeTexture2D = 7,
  kTypeTexture3D = 8,
  kTypeTextureCube = 9,
  kTypeSampler = 10,
  kTypeSampler1D = 11,
  kTypeSampler2D = 12,
  kTypeSampler3D = 13,
  kTypeSamplerCube = 14,
  kTypePixelShader = 15,
  kTypeVertexShader = 16,
};

constexpr std::uint32_t kParameterShared = 1;
constexpr std::uint32_t kParameterLiteral = 2;
constexpr std::uint32_t kParameterAnnotation = 4;

// Compile flags the engine passes; accepted and otherwise ignored.
constexpr std::uint32_t kShaderOptimizationLevel3 = 0x8000;

// Begin flags.
constexpr std::uint32_t kEffectDoNotSaveState = 1;

struct EffectDesc {
  const char* creator = nullptr;
  std::uint32_t parameters = 0;
  std::uint32_t techniques = 0;
  std::uint32_t functions = 0;
};

struct ParameterDesc {
  const char* name = nullptr;
  const char* semantic = nullptr;  // null without one
  ParameterClass parameterClass = kClassScalar;
  ParameterType type = kTypeVoid;
  std::uint32_t rows = 0;
  std::uint32_t columns = 0;
  std::uint32_t elements = 0;  // 0 for a non-array
  std::uint32_t annotations = 0;
  std::uint32_t structMembers = 0;
  std::uint32_t flags = 0;
  std::uint32_t bytes = 0;
};

struct TechniqueDesc {
  const char* name = nullptr;
  std::uint32_t passes = 0;
  std::uint32_t annotations = 0;
};

struct PassDesc {
  const char* name = nullptr;
  std::uint32_t annotations = 0;
  // Shader byte code: its first token is the version token (0xFFFE0200 for
  // vs_2_0, 0xFFFF0300 for ps_3_0); null when the pass has no such shader.
  const std::uint32_t* vertexShaderFunction = nullptr;
  const std::uint32_t* pixelShaderFunction = nullptr;
};

// A #define handed to the compiler; an array ends with a null name.
struct Macro {
  const char* name;
  const char* definition;
};

// Text returned by the compiler.
class PLATFORM_API Buffer : public Unknown {
 public:
  virtual const void* GetBufferPointer() = 0;
  virtual std::uint32_t GetBufferSize() = 0;
};

// Holds the values of parameters declared `shared` for every effect created
// with it.
class PLATFORM_API EffectPool : public Unknown {};

class PLATFORM_API Effect : public Unknown {
 public:
  virtual Result GetDesc(EffectDesc* desc) = 0;

  // Parameters. A null parent means the top level; for a struct parameter
  // the members, for an array the elements are its children.
  virtual Handle GetParameter(Handle parent, std::uint32_t index) = 0;
  virtual Handle GetParameterByName(Handle parent, const char* name) = 0;
  // Semantics compare without regard to case.
  virtual Handle GetParameterBySemantic(Handle parent, const char* semantic) = 0;
  virtual Handle GetParameterElement(Handle parameter, std::uint32_t index) = 0;
  virtual Result GetParameterDesc(Handle parameter, ParameterDesc* desc) = 0;

  // Annotations of a parameter, technique or pass.
  virtual Handle GetAnnotation(Handle object, std::uint32_t index) = 0;
  virtual Handle GetAnnotationByName(Handle object, const char* name) = 0;

  // Techniques and passes.
  virtual Handle GetTechnique(std::uint32_t index) = 0;
  virtual Handle GetTechniqueByName(const char* name) = 0;
  virtual Result GetTechniqueDesc(Handle technique, TechniqueDesc* desc) = 0;
  virtual Handle GetPass(Handle technique, std::uint32_t index) = 0;
  virtual Handle GetPassByName(Handle technique, const char* name) = 0;
  virtual Result GetPassDesc(Handle pass, PassDesc* desc) = 0;

  // Values. Typed setters and getters convert between bool, int and float;
  // SetValue and GetValue copy the value's bytes (at most `bytes`): scalars
  // are 4 bytes, vectors and matrices consecutive floats with matrices row
  // by row, arrays element after element, structs member after member.
  virtual Result SetValue(Handle parameter, const void* data, std::uint32_t bytes) = 0;
  virtual Result GetValue(Handle parameter, void* data, std::uint32_t bytes) = 0;
  // Bytes at an offset into the value, for partial updates (bone palettes).
  virtual Result SetRawValue(Handle parameter, const void* data, std::uint32_t offset,
                             std::uint32_t bytes) = 0;
  virtual Result SetBool(Handle parameter, bool value) = 0;
  virtual Result GetBool(Handle parameter, bool* value) = 0;
  virtual Result SetInt(Handle parameter, std::int32_t value) = 0;
  virtual Result GetInt(Handle parameter, std::int32_t* value) = 0;
  virtual Result SetFloat(Handle parameter, float value) = 0;
  virtual Result GetFloat(Handle parameter, float* value) = 0;
  // Up to four components; a shorter parameter takes the first ones.
  virtual Result SetVector(Handle parameter, const Vector4* value) = 0;
  virtual Result GetVector(Handle parameter, Vector4* value) = 0;
  // The parameter's rows and columns of the matrix (its top-left block).
  virtual Result SetMatrix(Handle parameter, const Matrix* value) = 0;
  virtual Result GetMatrix(Handle parameter, Matrix* value) = 0;
  virtual Result SetFloatArray(Handle parameter, const float* values, std::uint32_t count) = 0;
  virtual Result GetString(Handle parameter, const char** value) = 0;
  // Texture and sampler parameters; the effect holds a reference.
  virtual Result SetTexture(Handle parameter, BaseTexture* texture) = 0;
  virtual Result GetTexture(Handle parameter, BaseTexture** texture) = 0;

  // Drawing.
  virtual Result ValidateTechnique(Handle technique) = 0;
  virtual Result SetTechnique(Handle technique) = 0;
  virtual Handle GetCurrentTechnique() = 0;
  virtual Result Begin(std::uint32_t* passes, std::uint32_t flags) = 0;
  virtual Result BeginPass(std::uint32_t pass) = 0;
  // Hands values changed inside a pass to the device before the next draw.
  virtual Result CommitChanges() = 0;
  virtual Result EndPass() = 0;
  virtual Result End() = 0;

  virtual Result OnLostDevice() = 0;
  virtual Result OnResetDevice() = 0;
  virtual Result GetDevice(Device** device) = 0;
  virtual Result GetPool(EffectPool** pool) = 0;

  // The generated GLSL of a pass, vertex stage then fragment stage, for
  // people who write effects (fxcheck --glsl); empty when it has none.
  virtual std::string GeneratedGlsl(Handle pass) = 0;
  // The pass's render states as "Name = value" lines, in file order.
  virtual std::string PassStates(Handle pass) = 0;
};

PLATFORM_API Result CreateEffectPool(EffectPool** pool);

// Compiles an effect file for the device (gl or null backend). On failure
// the result is negative and `errors` (when given) receives the compiler's
// messages; warnings are returned the same way on success. `flags` and
// `include` handling follow the library: #include is resolved relative to
// the including file.
PLATFORM_API Result CreateEffectFromFile(Device* device, const std::wstring& path,
                                         const Macro* defines, void* include,
                                         std::uint32_t flags, EffectPool* pool,
                                         Effect** effect, Buffer** errors);

// The same from source text; `name` is used in messages and to resolve
// #include.
PLATFORM_API Result CreateEffect(Device* device, const std::string& source,
                                 const std::string& name, const Macro* defines,
                                 std::uint32_t flags, EffectPool* pool, Effect** effect,
                                 Buffer** errors);

// Shader stages baked ahead of time, for a player without the shader
// compiler (the one in a web browser): from BeginBakingStages on, every
// effect created records its passes' stages; EndBakingStages stops and
// returns the record, to be written as "data/fx/baked.stages" into the
// player's data. Where a data tree carries that file, effects compile
// nothing: each pass takes its stages from it, or fails saying it is not
// there.
PLATFORM_API void BeginBakingStages();
PLATFORM_API std::string EndBakingStages();
// Draws with a record of EndBakingStages, as a player does with
// "data/fx/baked.stages"; false, with the reason, for a damaged record
// (passes then fail rather than compile). An empty record goes back to
// compiling.
PLATFORM_API bool UseBakedStages(const std::string& record, std::string* error);

// The version token of shader byte code (its first token); 0 for null.
PLATFORM_API std::uint32_t GetShaderVersion(const std::uint32_t* function);

}  // namespace platform
