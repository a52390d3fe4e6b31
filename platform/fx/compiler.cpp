#include "platform/fx/compiler.h"

#include "platform/fx/bakedStages.h"

// A player built without the compiler (the web page) only takes stages
// baked on the host (bakedStages.h); glslang and SPIRV-Cross are left out.
#ifndef VELOX_NO_SHADER_COMPILER
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross/spirv_glsl.hpp>
#endif

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/gl/glGraphics.h"

namespace platform::fx {

RenderStates RenderStates::Defaults() {
  RenderStates s;
  s.value[kRsZEnable] = 1;
  s.value[kRsZWriteEnable] = 1;
  s.value[kRsZFunc] = 4;  // less-equal
  s.value[kRsAlphaBlendEnable] = 0;
  s.value[kRsSrcBlend] = 2;   // one
  s.value[kRsDestBlend] = 1;  // zero
  s.value[kRsBlendOp] = 1;    // add
  s.value[kRsSeparateAlphaBlendEnable] = 0;
  s.value[kRsSrcBlendAlpha] = 2;
  s.value[kRsDestBlendAlpha] = 1;
  s.value[kRsBlendOpAlpha] = 1;
  s.value[kRsCullMode] = 3;  // counter-clockwise faces are culled
  s.value[kRsFillMode] = 3;  // solid
  s.value[kRsColorWriteEnable] = 0xF;
  s.value[kRsAlphaTestEnable] = 0;
  s.value[kRsAlphaRef] = 0;
  s.value[kRsAlphaFunc] = 8;  // always
  s.value[kRsMultiSampleAntialias] = 1;
  return s;
}

void RenderStates::Apply(const RenderStates& over) {
  for (int i = 0; i < kRenderStateCount; ++i) {
    if (over.set & (1u << i)) {
      value[static_cast<std::size_t>(i)] = over.value[static_cast<std::size_t>(i)];
      set |= 1u << i;
    }
  }
}

SamplerStates SamplerStates::Defaults() {
  SamplerStates s;
  s.value[kSsAddressU] = 1;  // wrap
  s.value[kSsAddressV] = 1;
  s.value[kSsAddressW] = 1;
  s.value[kSsMagFilter] = 1;  // point
  s.value[kSsMinFilter] = 1;
  s.value[kSsMipFilter] = 0;  // none
  s.value[kSsMaxAnisotropy] = 1;
  s.value[kSsBorderColor] = 0;
  s.value[kSsMipMapLodBias] = 0;
  s.value[kSsMaxMipLevel] = 0;
  return s;
}

std::uint32_t ProfileVersion(const std::string& profile, bool* vertex) {
  if (profile.size() < 6 || profile[2] != '_' || profile[4] != '_') return 0;
  const std::string kind = profile.substr(0, 2);
  if (kind != "vs" && kind != "ps") return 0;
  const char major = profile[3];
  const std::string minor = profile.substr(5);
  std::uint32_t ma = 0, mi = 0;
  if (major == '1' && kind == "vs" && minor == "1") ma = 1, mi = 1;
  else if (major == '1' && kind == "ps" && minor.size() == 1 && minor[0] >= '1' && minor[0] <= '4')
    ma = 1, mi = static_cast<std::uint32_t>(minor[0] - '0');
  else if (major == '2' && minor == "0") ma = 2, mi = 0;
  else if (major == '2' && (minor == "a" || minor == "b" || minor == "sw")) ma = 2, mi = 1;
  else if (major == '3' && (minor == "0" || minor == "sw")) ma = 3, mi = 0;
  else return 0;
  *vertex = kind == "vs";
  return (*vertex ? 0xFFFE0000u : 0xFFFF0000u) | (ma << 8) | mi;
}

void WriteSlot(const UniformSlot& slot, const std::uint8_t* value, std::uint8_t* block) {
  for (const CopyOp& op : slot.ops) {
    std::uint8_t* dst = block + op.destination;
    const std::uint8_t* src = value + op.source;
    switch (op.convert) {
      case CopyOp::Copy: std::memcpy(dst, src, 4); break;
      case CopyOp::IntToFloat: {
        std::int32_t i;
        std::memcpy(&i, src, 4);
        const float f = static_cast<float>(i);
        std::memcpy(dst, &f, 4);
        break;
      }
      case CopyOp::FloatToInt: {
        float f;
        std::memcpy(&f, src, 4);
        const std::int32_t i = std::isfinite(f) && std::fabs(f) < 2.1e9f ? static_cast<std::int32_t>(f) : 0;
        std::memcpy(dst, &i, 4);
        break;
      }
      case CopyOp::ToBool: {
        std::uint32_t u;
        std::memcpy(&u, src, 4);
        u = u != 0 ? 1u : 0u;
        std::memcpy(dst, &u, 4);
        break;
      }
      case CopyOp::FloatToBool: {
        float f;
        std::memcpy(&f, src, 4);
        const std::uint32_t u = f != 0.0f ? 1u : 0u;
        std::memcpy(dst, &u, 4);
        break;
      }
    }
  }
}

namespace {

// --- states ------------------------------------------------------------------

struct Name {
  const char* name;
  std::uint32_t value;
};

const Name kBool[] = {{"TRUE", 1}, {"FALSE", 0}};
const Name kZEnable[] = {{"TRUE", 1}, {"FALSE", 0}, {"USEW", 1}};
const Name kCompare[] = {{"NEVER", 1},   {"LESS", 2},     {"EQUAL", 3},        {"LESSEQUAL", 4},
                         {"GREATER", 5}, {"NOTEQUAL", 6}, {"GREATEREQUAL", 7}, {"ALWAYS", 8}};
const Name kBlend[] = {{"ZERO", 1},         {"ONE", 2},          {"SRCCOLOR", 3},
                       {"INVSRCCOLOR", 4},  {"SRCALPHA", 5},     {"INVSRCALPHA", 6},
                       {"DESTALPHA", 7},    {"INVDESTALPHA", 8}, {"DESTCOLOR", 9},
                       {"INVDESTCOLOR", 10}, {"SRCALPHASAT", 11}, {"BOTHSRCALPHA", 12},
                       {"BOTHINVSRCALPHA", 13}, {"BLENDFACTOR", 14}, {"INVBLENDFACTOR", 15}};
const Name kBlendOp[] = {{"ADD", 1}, {"SUBTRACT", 2}, {"REVSUBTRACT", 3}, {"MIN", 4}, {"MAX", 5}};
const Name kCull[] = {{"NONE", 1}, {"CW", 2}, {"CCW", 3}};
const Name kFill[] = {{"POINT", 1}, {"WIREFRAME", 2}, {"SOLID", 3}};
const Name kMask[] = {{"RED", 1}, {"GREEN", 2}, {"BLUE", 4}, {"ALPHA", 8}};
const Name kAddress[] = {{"WRAP", 1}, {"MIRROR", 2}, {"CLAMP", 3}, {"BORDER", 4}, {"MIRRORONCE", 5}};
const Name kFilter[] = {{"NONE", 0},        {"POINT", 1},         {"LINEAR", 2},
                        {"ANISOTROPIC", 3}, {"PYRAMIDALQUAD", 6}, {"GAUSSIANQUAD", 7}};

struct StateKind {
  const Name* names;
  std::size_t count;
  bool flags;  // '|' combines
  bool floatBits;  // the number is stored as float bits
};

template <std::size_t N>
StateKind Kind(const Name (&names)[N], bool flags = false) {
  return {names, N, flags, false};
}
const StateKind kNumber = {nullptr, 0, false, false};
const StateKind kFloat = {nullptr, 0, false, true};

struct StateEntry {
  const char* name;
  int id;
  StateKind kind;
};

const StateEntry kRenderStateTable[] = {
    {"ZEnable", kRsZEnable, Kind(kZEnable)},
    {"ZWriteEnable", kRsZWriteEnable, Kind(kBool)},
    {"ZFunc", kRsZFunc, Kind(kCompare)},
    {"AlphaBlendEnable", kRsAlphaBlendEnable, Kind(kBool)},
    {"SrcBlend", kRsSrcBlend, Kind(kBlend)},
    {"DestBlend", kRsDestBlend, Kind(kBlend)},
    {"BlendOp", kRsBlendOp, Kind(kBlendOp)},
    {"SeparateAlphaBlendEnable", kRsSeparateAlphaBlendEnable, Kind(kBool)},
    {"SrcBlendAlpha", kRsSrcBlendAlpha, Kind(kBlend)},
    {"DestBlendAlpha", kRsDestBlendAlpha, Kind(kBlend)},
    {"BlendOpAlpha", kRsBlendOpAlpha, Kind(kBlendOp)},
    {"CullMode", kRsCullMode, Kind(kCull)},
    {"FillMode", kRsFillMode, Kind(kFill)},
    {"ColorWriteEnable", kRsColorWriteEnable, Kind(kMask, true)},
    {"AlphaTestEnable", kRsAlphaTestEnable, Kind(kBool)},
    {"AlphaRef", kRsAlphaRef, kNumber},
    {"AlphaFunc", kRsAlphaFunc, Kind(kCompare)},
    {"MultiSampleAntialias", kRsMultiSampleAntialias, Kind(kBool)},
};

const StateEntry kSamplerStateTable[] = {
    {"AddressU", kSsAddressU, Kind(kAddress)},
    {"AddressV", kSsAddressV, Kind(kAddress)},
    {"AddressW", kSsAddressW, Kind(kAddress)},
    {"MagFilter", kSsMagFilter, Kind(kFilter)},
    {"MinFilter", kSsMinFilter, Kind(kFilter)},
    {"MipFilter", kSsMipFilter, Kind(kFilter)},
    {"MaxAnisotropy", kSsMaxAnisotropy, kNumber},
    {"BorderColor", kSsBorderColor, kNumber},
    {"MipMapLodBias", kSsMipMapLodBias, kFloat},
    {"MaxMipLevel", kSsMaxMipLevel, kNumber},
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A state's value as its code; false with a message when it is not one.
bool StateCode(const State& s, const StateKind& kind, std::uint32_t* code, Messages* messages) {
  const StateValue& v = s.value;
  if (v.kind == StateValue::Number && v.numbers.size() == 1) {
    if (kind.floatBits) {
      const float f = static_cast<float>(v.numbers[0]);
      std::memcpy(code, &f, 4);
    } else {
      const double d = v.numbers[0];
      *code = d < 0 ? 0 : d > 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(d);
    }
    return true;
  }
  if (v.kind == StateValue::Number && v.numbers.size() == 4 && s.name == "BorderColor") {
    std::uint32_t argb = 0;
    const int order[4] = {3, 0, 1, 2};  // a r g b from r g b a
    for (int i = 0; i < 4; ++i) {
      const double c = std::clamp(v.numbers[static_cast<std::size_t>(order[i])], 0.0, 1.0);
      argb = (argb << 8) | static_cast<std::uint32_t>(std::lround(c * 255.0));
    }
    *code = argb;
    return true;
  }
  if (v.kind == StateValue::Identifier && kind.names != nullptr) {
    std::uint32_t result = 0;
    std::stringstream words(v.text);
    std::string word;
    int count = 0;
    while (std::getline(words, word, '|')) {
      std::string w = Upper(word);
      // D3DBLEND_SRCALPHA and SRCALPHA name the same thing.
      if (w.rfind("D3D", 0) == 0 && w.find('_') != std::string::npos) w = w.substr(w.rfind('_') + 1);
      bool found = false;
      for (std::size_t i = 0; i < kind.count; ++i) {
        if (w == kind.names[i].name) {
          result |= kind.names[i].value;
          found = true;
        }
      }
      if (!found && !w.empty() && std::isdigit(static_cast<unsigned char>(w[0]))) {
        result |= static_cast<std::uint32_t>(std::strtoul(w.c_str(), nullptr, 0));
        found = true;
      }
      if (!found) {
        messages->Error(s.at, "'" + word + "' is not a value of state '" + s.name + "'");
        return false;
      }
      ++count;
    }
    if (count > 1 && !kind.flags) {
      messages->Error(s.at, "state '" + s.name + "' takes one value");
      return false;
    }
    *code = result;
    return true;
  }
  if (v.kind == StateValue::Reference) {
    messages->Warning(s.at, "state '" + s.name +
                                "' set from a parameter is not supported and is ignored");
    return false;
  }
  messages->Error(s.at, "invalid value for state '" + s.name + "'");
  return false;
}

const StateEntry* FindState(const StateEntry* table, std::size_t n, const std::string& name) {
  for (std::size_t i = 0; i < n; ++i) {
    if (SameText(name, table[i].name)) return &table[i];
  }
  return nullptr;
}

std::string ValueText(const StateValue& v) {
  std::ostringstream out;
  switch (v.kind) {
    case StateValue::Number:
      for (std::size_t i = 0; i < v.numbers.size(); ++i) out << (i ? ", " : "") << v.numbers[i];
      break;
    case StateValue::Identifier: out << v.text; break;
    case StateValue::Reference: out << "<" << v.text << ">"; break;
    case StateValue::String: out << "\"" << v.text << "\""; break;
    case StateValue::Null: out << "NULL"; break;
    case StateValue::Compile:
      out << "compile " << v.compile.profile << " " << v.compile.entry << "(";
      for (std::size_t i = 0; i < v.compile.arguments.size(); ++i) {
        out << (i ? ", " : "");
        for (std::size_t k = 0; k < v.compile.arguments[i].size(); ++k) {
          out << (k ? " " : "") << v.compile.arguments[i][k];
        }
      }
      out << ")";
      break;
  }
  return out.str();
}

int FindParameter(const EffectSource& source, const std::string& name) {
  for (std::size_t i = 0; i < source.parameters.size(); ++i) {
    if (source.parameters[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

#ifndef VELOX_NO_SHADER_COMPILER
// --- glslang -------------------------------------------------------------------

void InitializeGlslang() {
  static std::once_flag once;
  std::call_once(once, [] { glslang::InitializeProcess(); });
}

// glslang's "ERROR: 0:12: 'x' : message" lines with the effect's file and line.
void ReportLog(const std::string& log, const EffectSource& source, const Location& fallback,
               Messages* messages, bool failed) {
  std::istringstream lines(log);
  std::string line;
  bool reported = false;
  while (std::getline(lines, line)) {
    bool error = line.rfind("ERROR: ", 0) == 0;
    const bool warning = line.rfind("WARNING: ", 0) == 0;
    if (!error && !warning) continue;
    std::string rest = line.substr(error ? 7 : 9);
    Location at = fallback;
    int number = 0;
    const std::size_t colon = rest.find(':');
    const std::size_t colon2 = colon == std::string::npos ? colon : rest.find(':', colon + 1);
    if (colon != std::string::npos && colon2 != std::string::npos && colon > 0 &&
        std::all_of(rest.begin(), rest.begin() + static_cast<long>(colon), ::isdigit)) {
      number = std::atoi(rest.substr(colon + 1, colon2 - colon - 1).c_str());
      if (number > 0 && static_cast<std::size_t>(number) <= source.lines.size()) {
        at = source.lines[static_cast<std::size_t>(number - 1)];
        at.column = 0;
      }
      rest = rest.substr(colon2 + 1);
    } else if (std::isdigit(static_cast<unsigned char>(rest[0]))) {
      continue;  // "1 compilation errors.  No code generated."
    }
    while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (error) {
      messages->Error(at, rest);
      reported = true;
    } else {
      messages->Warning(at, rest);
    }
  }
  if (failed && !reported) messages->Error(fallback, "compilation failed: " + log);
}

bool CompileToSpirv(const EffectSource& source, const CompileExpr& c, bool vertex,
                    std::vector<std::uint32_t>* spirv, Messages* messages) {
  InitializeGlslang();
  const EShLanguage stage = vertex ? EShLangVertex : EShLangFragment;
  glslang::TShader shader(stage);
  const char* text = source.hlsl.c_str();
  shader.setStrings(&text, 1);
  shader.setEntryPoint(c.entry.c_str());
  shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientOpenGL, 100);
  shader.setEnvClient(glslang::EShClientOpenGL, glslang::EShTargetOpenGL_450);
  shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
  shader.setHlslIoMapping(true);
  shader.setEnvTargetHlslFunctionality1();
  shader.setAutoMapLocations(true);
  shader.setAutoMapBindings(true);
  const auto rules = static_cast<EShMessages>(EShMsgReadHlsl | EShMsgHlslDX9Compatible |
                                              EShMsgHlslLegalization);
  const bool parsed = shader.parse(GetDefaultResources(), 110, false, rules);
  ReportLog(shader.getInfoLog(), source, c.at, messages, !parsed);
  if (!parsed) return false;
  glslang::TProgram program;
  program.addShader(&shader);
  const bool linked = program.link(rules);
  const std::string log = program.getInfoLog();
  // For HLSL glslang only warns about a missing entry point, and then
  // builds an empty shader.
  if (log.find("Entry point not found") != std::string::npos ||
      (!linked && log.find("entry point") != std::string::npos)) {
    messages->Error(c.at, "entry point '" + c.entry + "' not found");
    return false;
  }
  if (!linked) {
    ReportLog(log, source, c.at, messages, true);
    return false;
  }
  glslang::SpvOptions options;
  spv::SpvBuildLogger logger;
  glslang::GlslangToSpv(*program.getIntermediate(stage), *spirv, &logger, &options);
  // HLSL's fmod keeps the sign of x (a truncated remainder): SPIR-V OpFRem,
  // where glslang emits OpFMod (floored, GLSL's mod).
  for (std::size_t i = 5; i < spirv->size();) {
    const std::uint32_t word = (*spirv)[i];
    const std::uint32_t count = word >> 16;
    if ((word & 0xFFFF) == spv::OpFMod) (*spirv)[i] = (count << 16) | spv::OpFRem;
    if (count == 0) break;
    i += count;
  }
  return !spirv->empty();
}

// --- linking -----------------------------------------------------------------

// "TEXCOORD3" -> ("TEXCOORD", 3).
void SplitSemantic(const std::string& semantic, std::string* name, int* index) {
  std::string s = Upper(semantic);
  std::size_t p = s.size();
  while (p > 0 && std::isdigit(static_cast<unsigned char>(s[p - 1]))) --p;
  *name = s.substr(0, p);
  *index = p < s.size() ? std::atoi(s.substr(p).c_str()) : 0;
  if (*index > 63) *index = 63;
}

int AttributeFor(const std::string& semantic) {
  std::string name;
  int index;
  SplitSemantic(semantic, &name, &index);
  static const std::map<std::string, int> kUsage = {
      {"POSITION", kDeclUsagePosition}, {"BLENDWEIGHT", kDeclUsageBlendWeight},
      {"BLENDINDICES", kDeclUsageBlendIndices}, {"NORMAL", kDeclUsageNormal},
      {"PSIZE", kDeclUsagePSize}, {"TEXCOORD", kDeclUsageTexCoord},
      {"TANGENT", kDeclUsageTangent}, {"BINORMAL", kDeclUsageBinormal},
      {"COLOR", kDeclUsageColor}};
  auto found = kUsage.find(name);
  if (found == kUsage.end()) return -1;
  return gl::AttributeLocation(static_cast<std::uint8_t>(found->second),
                               static_cast<std::uint8_t>(index));
}

// Varyings between the stages, by semantic: TEXCOORD0-15 0-15, COLOR0-1
// 16-17, then the other semantics vertex shaders of version 3 may write.
int VaryingFor(const std::string& semantic) {
  std::string name;
  int index;
  SplitSemantic(semantic, &name, &index);
  if (name == "TEXCOORD" && index < 16) return index;
  if (name == "COLOR" && index < 2) return 16 + index;
  static const char* kOthers[] = {"NORMAL", "TANGENT", "BINORMAL", "FOG", "PSIZE",
                                  "BLENDWEIGHT", "BLENDINDICES", "POSITION", "DEPTH"};
  for (int k = 0; k < 9; ++k) {
    if (name == kOthers[k] && index < 2) return 18 + 2 * k + index;
  }
  return -1;
}

bool IsPosition(const std::string& semantic) {
  const std::string s = Upper(semantic);
  return s == "POSITION" || s == "POSITION0" || s == "SV_POSITION" || s == "POSITIONT";
}

std::string VecType(std::uint32_t n) {
  return n <= 1 ? std::string("float") : "vec" + std::to_string(n);
}

// `expression` of `from` components as `to` components; missing ones are 0
// except w, which is 1.
std::string Widen(const std::string& expression, std::uint32_t from, std::uint32_t to) {
  if (from == to) return expression;
  if (to < from) {
    if (from == 1) return VecType(to) + "(" + expression + ")";
    return expression + "." + std::string("xyzw").substr(0, to);
  }
  std::string r = VecType(to) + "(" + expression;
  for (std::uint32_t k = from; k < to; ++k) r += k == 3 ? ", 1.0" : ", 0.0";
  return r + ")";
}

// Replaces the declaration line "... in|out TYPE NAME;" by "TYPE NAME;".
bool MakeGlobal(std::string* glsl, const std::string& name) {
  const std::string tail = " " + name + ";";
  std::size_t pos = 0;
  while ((pos = glsl->find(tail, pos)) != std::string::npos) {
    const std::size_t lineStart = glsl->rfind('\n', pos) + 1;
    const std::string line = glsl->substr(lineStart, pos + tail.size() - lineStart);
    std::size_t io = line.find(" in ");
    std::size_t len = 4;
    if (io == std::string::npos) {
      io = line.find(" out ");
      len = 5;
    }
    if (io == std::string::npos && (line.rfind("in ", 0) == 0 || line.rfind("out ", 0) == 0)) {
      io = 0;
      len = line[0] == 'i' ? 3 : 4;
      glsl->replace(lineStart, line.size(), line.substr(len));
      return true;
    }
    if (io != std::string::npos) {
      glsl->replace(lineStart, line.size(), line.substr(io + len));
      return true;
    }
    pos += tail.size();
  }
  return false;
}

struct StageInterface {
  struct Var {
    std::string semantic;
    std::uint32_t components;
    bool isFloat;
    spirv_cross::ID id;
  };
  std::vector<Var> inputs, outputs;
};

StageInterface Interface(spirv_cross::CompilerGLSL& c, const spirv_cross::ShaderResources& r) {
  StageInterface result;
  auto read = [&](const spirv_cross::SmallVector<spirv_cross::Resource>& list,
                  std::vector<StageInterface::Var>* out) {
    for (const auto& res : list) {
      const spirv_cross::SPIRType& t = c.get_type(res.type_id);
      out->push_back({c.get_decoration_string(res.id, spv::DecorationUserSemantic),
                      t.vecsize * t.columns,
                      t.basetype == spirv_cross::SPIRType::Float, res.id});
    }
  };
  read(r.stage_inputs, &result.inputs);
  read(r.stage_outputs, &result.outputs);
  return result;
}

// GLSL ES has no clip control: Direct3D's clip depth 0..w goes to GL's
// -w..w, as SPIRV-Cross's clip-space fix-up (vertex.fixup_clipspace) writes
// it.
constexpr const char* kDepthFixup = "gl_Position.z = 2.0 * gl_Position.z - gl_Position.w;\n";

class Linker {
 public:
  Linker(const CompiledEffect& effect, Messages* messages, Glsl glsl)
      : mEffect(effect), mMessages(messages), mEs(glsl == Glsl::kEs300) {}

  // Builds both stages' GLSL of a pass.
  bool Link(const std::vector<std::uint32_t>* vs, const std::vector<std::uint32_t>* ps,
            const CompileExpr* vsExpr, const CompileExpr* psExpr, CompiledPass* pass,
            const Location& at, const RenderStates& states) {
    std::vector<StageInterface::Var> vertexOutputs;
    if (vs != nullptr) {
      if (!Stage(*vs, true, *vsExpr, &pass->vertex, &vertexOutputs, at, states)) return false;
    } else {
      pass->vertex.glsl = FixedFunctionVertex(&vertexOutputs);
      pass->vertex.present = false;
    }
    if (ps != nullptr) {
      if (!Stage(*ps, false, *psExpr, &pass->pixel, &vertexOutputs, at, states)) return false;
    } else {
      pass->pixel.glsl = FixedFunctionPixel(vertexOutputs, states);
      pass->pixel.present = false;
    }
    return true;
  }

 private:
  // Without a vertex shader the device's world, view and projection
  // transforms apply, as in the library's fixed-function pipeline.
  std::string FixedFunctionVertex(std::vector<StageInterface::Var>* outputs) {
    outputs->push_back({"TEXCOORD0", 2, true, spirv_cross::ID(0)});
    outputs->push_back({"COLOR0", 4, true, spirv_cross::ID(0)});
    if (mEs) {
      return "#version 300 es\n"
             "layout(location = 0) in vec4 aPosition;\n"
             "layout(location = 4) in vec4 aColor;\n"
             "layout(location = 6) in vec2 aTexCoord;\n"
             "uniform mat4 uWorldViewProjection;\n"
             "uniform int _vx_bgra;\n"
             "out vec2 _vx_v0;\n"
             "out vec4 _vx_v16;\n"
             "void main() {\n"
             "  gl_Position = uWorldViewProjection * aPosition;\n"
             "  gl_Position.y = -gl_Position.y;\n"
             "  " + std::string(kDepthFixup) +
             "  _vx_v0 = aTexCoord;\n"
             "  _vx_v16 = (_vx_bgra & 1) != 0 ? aColor.zyxw : aColor;\n"
             "}\n";
    }
    return "#version 450\n"
           "layout(location = 0) in vec4 aPosition;\n"
           "layout(location = 4) in vec4 aColor;\n"
           "layout(location = 6) in vec2 aTexCoord;\n"
           "layout(location = 0) uniform mat4 uWorldViewProjection;\n"
           "layout(location = 0) out vec2 _vx_v0;\n"
           "layout(location = 16) out vec4 _vx_v16;\n"
           "void main() {\n"
           "  gl_Position = uWorldViewProjection * aPosition;\n"
           "  gl_Position.y = -gl_Position.y;\n"
           "  _vx_v0 = aTexCoord;\n"
           "  _vx_v16 = aColor;\n"
           "}\n";
  }

  std::string FixedFunctionPixel(const std::vector<StageInterface::Var>& vertexOutputs,
                                 const RenderStates& states) {
    std::string glsl = mEs ? "#version 300 es\nprecision highp float;\nlayout(location = 0) out vec4 _vx_color0;\n"
                           : "#version 450\nlayout(location = 0) out vec4 _vx_color0;\n";
    std::string value = "vec4(1.0)";
    for (const auto& v : vertexOutputs) {
      if (VaryingFor(v.semantic) == 16 && v.isFloat) {
        glsl += VaryingLayout(16) + "in " + VecType(v.components) + " _vx_v16;\n";
        value = Widen("_vx_v16", v.components, 4);
      }
    }
    glsl += "void main() {\n  _vx_color0 = " + value + ";\n" + AlphaTest(states) + "}\n";
    return glsl;
  }

  // GLSL ES 3.00 links varyings by name only (the names carry the location).
  std::string VaryingLayout(int location) const {
    return mEs ? std::string() : "layout(location = " + std::to_string(location) + ") ";
  }

  static std::string AlphaTest(const RenderStates& s) {
    if (!(s.set & (1u << kRsAlphaTestEnable)) || s.value[kRsAlphaTestEnable] == 0) return "";
    const std::uint32_t func = (s.set & (1u << kRsAlphaFunc)) ? s.value[kRsAlphaFunc] : 8;
    const float ref = static_cast<float>(std::min<std::uint32_t>(s.value[kRsAlphaRef], 255)) / 255.0f;
    static const char* kOps[] = {"", "false", "<", "==", "<=", ">", "!=", ">=", "true"};
    if (func < 1 || func > 8) return "";
    std::ostringstream out;
    out.precision(9);
    if (func == 1) {
      out << "  discard;\n";
    } else if (func != 8) {
      out << "  if (!(floor(clamp(_vx_color0.a, 0.0, 1.0) * 255.0 + 0.5) / 255.0 " << kOps[func]
          << " " << ref << ")) discard;\n";
    }
    return out.str();
  }

  // Blocks go to GL as uniform blocks; when the HLSL packing of a struct
  // cannot be expressed so, as a flattened array of vec4.
  bool Stage(const std::vector<std::uint32_t>& spirv, bool vertex, const CompileExpr& expr,
             StageProgram* out, std::vector<StageInterface::Var>* vertexOutputs,
             const Location& at, const RenderStates& states) {
    const std::vector<StageInterface::Var> outputs = *vertexOutputs;
    const StageProgram before = *out;
    const Messages messages = *mMessages;
    bool retry = false;
    if (Stage(spirv, vertex, expr, out, vertexOutputs, at, states, false, &retry)) return true;
    if (!retry) return false;
    *out = before;
    *vertexOutputs = outputs;
    *mMessages = messages;
    return Stage(spirv, vertex, expr, out, vertexOutputs, at, states, true, &retry);
  }

  bool Stage(const std::vector<std::uint32_t>& spirv, bool vertex, const CompileExpr& expr,
             StageProgram* out, std::vector<StageInterface::Var>* vertexOutputs,
             const Location& at, const RenderStates& states, bool flatten, bool* retry) {
    try {
      spirv_cross::CompilerGLSL c(spirv);
      spirv_cross::CompilerGLSL::Options options;
      options.version = 450;
      options.es = false;
      options.enable_420pack_extension = true;
      if (mEs) {
        using Precision = spirv_cross::CompilerGLSL::Options::Precision;
        options.version = 300;
        options.es = true;
        // Desktop precision, so that both draw the same picture.
        options.fragment.default_float_precision = Precision::Highp;
        options.fragment.default_int_precision = Precision::Highp;
        // No clip-space fix-up here: SPIRV-Cross puts it at the end of the
        // entry point, before POSITION becomes gl_Position (below).
      }
      c.set_common_options(options);
      spirv_cross::ShaderResources r = c.get_shader_resources();
      StageInterface io = Interface(c, r);
      if (!r.separate_images.empty() || !r.separate_samplers.empty() ||
          !r.storage_buffers.empty() || !r.storage_images.empty()) {
        mMessages->Error(expr.at, "only Direct3D 9 samplers (sampler2D, samplerCUBE, ...) are supported");
        return false;
      }
      std::string prefix, suffix, declarations;
      std::vector<std::pair<std::string, bool>> globals;  // name, is input
      if (vertex) {
        bool position = false;
        bool bgra = false;
        for (const auto& v : io.inputs) {
          const int location = AttributeFor(v.semantic);
          if (location < 0) {
            mMessages->Warning(expr.at, "vertex input semantic '" + v.semantic +
                                            "' has no vertex stream and reads zero");
          }
          // GLSL ES may count on 16 attributes only: an input the device
          // cannot feed there is the value an unfed attribute reads.
          if (mEs && (location < 0 || location >= 16) && v.isFloat) {
            const std::string name = "_vx_z" + std::to_string(static_cast<std::uint32_t>(v.id));
            c.set_name(v.id, name);
            globals.emplace_back(name, true);
            prefix += "  " + name + " = " + Widen("vec4(0.0, 0.0, 0.0, 1.0)", 4, v.components) + ";\n";
            continue;
          }
          c.set_decoration(v.id, spv::DecorationLocation,
                           static_cast<std::uint32_t>(location < 0 ? 31 : location));
          // ES reads Direct3D's colour bytes B, G, R, A in memory order; the
          // device says which COLOR inputs to swap back.
          if (mEs && (location == 4 || location == 5) && v.isFloat) {
            const std::string name = "_vx_c" + std::to_string(static_cast<std::uint32_t>(v.id));
            const std::string raw = "_vx_a" + std::to_string(location);
            c.set_name(v.id, name);
            globals.emplace_back(name, true);
            declarations += "layout(location = " + std::to_string(location) + ") in vec4 " + raw + ";\n";
            prefix += "  " + name + " = " +
                      Widen("((_vx_bgra & " + std::to_string(location - 3) + ") != 0 ? " + raw +
                                ".zyxw : " + raw + ")",
                            4, v.components) +
                      ";\n";
            bgra = true;
          }
        }
        if (bgra) declarations += "uniform int _vx_bgra;\n";
        for (const auto& v : io.outputs) {
          if (IsPosition(v.semantic) && !position) {
            position = true;
            c.set_name(v.id, "_vx_position");
            globals.emplace_back("_vx_position", false);
            suffix += "  gl_Position = " + Widen("_vx_position", v.components, 4) +
                      ";\n  gl_Position.y = -gl_Position.y;\n";
            if (mEs) suffix += std::string("  ") + kDepthFixup;
            continue;
          }
          const int location = VaryingFor(v.semantic);
          if (location < 0) {
            mMessages->Warning(expr.at, "vertex output semantic '" + v.semantic +
                                            "' is not passed to the pixel shader");
            c.set_name(v.id, "_vx_unused" + std::to_string(static_cast<std::uint32_t>(v.id)));
            globals.emplace_back("_vx_unused" + std::to_string(static_cast<std::uint32_t>(v.id)),
                                 false);
            continue;
          }
          c.set_decoration(v.id, spv::DecorationLocation, static_cast<std::uint32_t>(location));
          c.set_name(v.id, "_vx_v" + std::to_string(location));
          vertexOutputs->push_back(v);
        }
        if (!position) {
          mMessages->Error(expr.at, "vertex shader '" + expr.entry + "' does not write POSITION");
          return false;
        }
      } else {
        bool color0 = false;
        for (const auto& v : io.inputs) {
          const std::string sem = Upper(v.semantic);
          const std::string name = "_vx_p" + std::to_string(static_cast<std::uint32_t>(v.id));
          c.set_name(v.id, name);
          globals.emplace_back(name, true);
          if (sem == "VPOS" || sem == "SV_POSITION") {
            // Pixel coordinates of the pixel's top-left corner, rows from the top.
            prefix += "  " + name + " = " + Widen("(gl_FragCoord.xy - vec2(0.5))", 2, v.components) + ";\n";
            continue;
          }
          if (sem == "VFACE" || sem == "SV_ISFRONTFACE") {
            prefix += "  " + name + " = " + VecType(v.components) + "(gl_FrontFacing ? 1.0 : -1.0);\n";
            continue;
          }
          const int location = VaryingFor(v.semantic);
          const StageInterface::Var* written = nullptr;
          for (const auto& w : *vertexOutputs) {
            if (VaryingFor(w.semantic) == location && location >= 0) written = &w;
          }
          if (written == nullptr || !written->isFloat || !v.isFloat) {
            // D3D9 reads an unwritten input as zero.
            prefix += "  " + name + " = " + VecType(v.components) + "(0.0);\n";
            continue;
          }
          const std::string real = "_vx_v" + std::to_string(location);
          declarations += VaryingLayout(location) + "in " + VecType(written->components) + " " +
                          real + ";\n";
          prefix += "  " + name + " = " + Widen(real, written->components, v.components) + ";\n";
        }
        bool depth = false;
        for (const auto& v : io.outputs) {
          std::string sname;
          int index;
          SplitSemantic(v.semantic, &sname, &index);
          // glslang makes a DEPTH out parameter the fragment depth itself, but
          // leaves a DEPTH member of an output struct an ordinary output.
          if ((sname == "DEPTH" || sname == "SV_DEPTH") && index == 0 && !depth) {
            depth = true;
            c.set_name(v.id, "_vx_depth");
            globals.emplace_back("_vx_depth", false);
            suffix += "  gl_FragDepth = float(" + Widen("_vx_depth", v.components, 1) + ");\n";
            continue;
          }
          if (sname != "COLOR" && sname != "SV_TARGET") {
            mMessages->Warning(expr.at, "pixel output semantic '" + v.semantic + "' is ignored");
            // A global, so that its location cannot take a colour output's.
            const std::string name = "_vx_unused" + std::to_string(static_cast<std::uint32_t>(v.id));
            c.set_name(v.id, name);
            globals.emplace_back(name, false);
            continue;
          }
          c.set_decoration(v.id, spv::DecorationLocation, static_cast<std::uint32_t>(index));
          if (index == 0) {
            color0 = true;
            c.set_name(v.id, "_vx_color0");
          }
        }
        if (color0) suffix += AlphaTest(states);
      }

      // Uniforms: one block per stage, named apart so the stages link.
      std::size_t argument = 0;
      for (const auto& ub : r.uniform_buffers) {
        if (out->blockSize != 0) {
          mMessages->Error(expr.at, "more than one uniform block");
          return false;
        }
        const spirv_cross::SPIRType& block = c.get_type(ub.base_type_id);
        c.set_name(ub.base_type_id, vertex ? "VxVertexGlobals" : "VxPixelGlobals");
        c.set_name(ub.id, vertex ? "_vx_vg" : "_vx_pg");
        c.set_decoration(ub.id, spv::DecorationBinding, vertex ? 0u : 1u);
        if (flatten) c.flatten_buffer_block(ub.id);
        out->flattened = flatten;
        const std::size_t size = c.get_declared_struct_size(block);
        if (size > (1u << 16)) {
          mMessages->Error(expr.at, "uniforms of '" + expr.entry + "' exceed 64 KiB");
          return false;
        }
        out->blockSize = static_cast<std::uint32_t>(std::max<std::size_t>((size + 15) / 16 * 16, 16));
        out->constants.assign(out->blockSize, 0);
        for (std::uint32_t m = 0; m < block.member_types.size(); ++m) {
          const std::string& name = c.get_member_name(ub.base_type_id, m);
          const int index = FindParameter(mEffect.source, name);
          MemberLayout layout = Layout(c, block, m);
          const spirv_cross::SPIRType& mt = c.get_type(block.member_types[m]);
          if (index >= 0) {
            UniformSlot slot{index, {}};
            const Variable& p = mEffect.source.parameters[static_cast<std::size_t>(index)];
            if (!Ops(c, p.type, 0, mt, layout.offset, layout, &slot.ops)) {
              mMessages->Error(p.at, "the layout of '" + name + "' is not understood");
              return false;
            }
            out->uniforms.push_back(std::move(slot));
          } else if (argument < expr.arguments.size()) {
            // A `uniform` parameter of the entry point: its compile argument.
            const std::vector<double>& a = expr.arguments[argument++];
            const std::uint32_t n = mt.vecsize * mt.columns;
            for (std::uint32_t k = 0; k < n && layout.offset + 4 * k + 4 <= out->blockSize; ++k) {
              const double d = a.empty() ? 0.0 : a.size() == 1 ? a[0] : k < a.size() ? a[k] : 0.0;
              std::uint8_t* dst = out->constants.data() + layout.offset + 4 * k;
              if (mt.basetype == spirv_cross::SPIRType::Float) {
                const float f = static_cast<float>(d);
                std::memcpy(dst, &f, 4);
              } else {
                const auto i = static_cast<std::int32_t>(std::clamp(d, -2.1e9, 2.1e9));
                std::memcpy(dst, &i, 4);
              }
            }
          } else {
            mMessages->Warning(expr.at, "uniform '" + name + "' of '" + expr.entry +
                                            "' has no value and reads zero");
          }
        }
      }
      // Also when the stage has no block at all.
      if (argument < expr.arguments.size()) {
        mMessages->Error(expr.at, "'" + expr.entry + "' takes fewer uniform arguments than given");
        return false;
      }
      for (const auto& s : r.sampled_images) {
        const int index = FindParameter(mEffect.source, s.name);
        if (index < 0 || mEffect.samplers[static_cast<std::size_t>(index)].unit < 0) {
          mMessages->Error(expr.at, "sampler '" + s.name + "' is not an effect sampler");
          return false;
        }
        const int unit = mEffect.samplers[static_cast<std::size_t>(index)].unit;
        c.set_decoration(s.id, spv::DecorationBinding, static_cast<std::uint32_t>(unit));
        // A name of ours, which no GLSL keyword or built-in can take.
        if (mEs) c.set_name(s.id, "_vx_s" + std::to_string(unit));
        out->samplers.push_back(index);
        out->samplerBindings.push_back({c.get_name(s.id), unit});
      }

      std::string glsl = c.compile();
      for (const auto& g : globals) {
        if (!MakeGlobal(&glsl, g.first)) {
          mMessages->Error(at, "internal: no declaration of " + g.first + " in the generated GLSL");
          return false;
        }
      }
      const std::string mainLine = "\nvoid main()\n";
      const std::size_t main = glsl.find(mainLine);
      if (main == std::string::npos) {
        mMessages->Error(at, "internal: no main in the generated GLSL");
        return false;
      }
      glsl.replace(main, mainLine.size(), "\nvoid _vx_main()\n");
      if (mEs) {
        // Texture reads at full precision too, as on the desktop.
        declarations = "precision highp sampler2D;\nprecision highp samplerCube;\n"
                       "precision highp sampler3D;\n" + declarations;
      }
      if (!declarations.empty()) {
        std::size_t at = glsl.find('\n') + 1;
        // GLSL ES declarations follow the default precisions they need.
        while (mEs && (glsl.compare(at, 10, "precision ") == 0 || glsl.compare(at, 11, "#extension ") == 0)) {
          at = glsl.find('\n', at) + 1;
        }
        glsl.insert(at, declarations);
      }
      glsl += "void main()\n{\n" + prefix + "  _vx_main();\n" + suffix + "}\n";
      out->glsl = std::move(glsl);
      out->present = true;
      return true;
    } catch (const std::exception& e) {
      if (!flatten && std::string(e.what()).find("flattening") != std::string::npos) {
        *retry = true;
        return false;
      }
      mMessages->Error(expr.at, std::string("cannot translate '") + expr.entry + "': " + e.what() +
                                    (flatten ? " (a struct packed the HLSL way needs all uniforms "
                                               "of the stage to be floats)" : ""));
      return false;
    }
  }

  struct MemberLayout {
    std::uint32_t offset = 0;
    std::uint32_t matrixStride = 0;
    std::uint32_t arrayStride = 0;
    bool rowMajor = false;
  };

  static MemberLayout Layout(spirv_cross::CompilerGLSL& c, const spirv_cross::SPIRType& parent,
                             std::uint32_t m) {
    MemberLayout l;
    l.offset = c.type_struct_member_offset(parent, m);
    const spirv_cross::SPIRType& mt = c.get_type(parent.member_types[m]);
    if (mt.columns > 1) l.matrixStride = c.type_struct_member_matrix_stride(parent, m);
    if (!mt.array.empty()) l.arrayStride = c.type_struct_member_array_stride(parent, m);
    l.rowMajor = c.has_member_decoration(parent.self, m, spv::DecorationRowMajor);
    return l;
  }

  static bool Ops(spirv_cross::CompilerGLSL& c, const Type& t, std::uint32_t source,
                  const spirv_cross::SPIRType& st, std::uint32_t destination,
                  const MemberLayout& layout, std::vector<CopyOp>* ops) {
    if (ops->size() > (1u << 18)) return false;
    if (t.elements > 0) {
      if (st.array.empty() || layout.arrayStride == 0) return false;
      Type element = t;
      element.elements = 0;
      const spirv_cross::SPIRType& et = c.get_type(st.parent_type);
      const std::uint32_t count = std::min<std::uint32_t>(t.elements, st.array.back());
      for (std::uint32_t e = 0; e < count; ++e) {
        MemberLayout inner = layout;
        inner.arrayStride = 0;
        if (!Ops(c, element, source + e * element.ElementBytes(), et,
                 destination + e * layout.arrayStride, inner, ops)) {
          return false;
        }
      }
      return true;
    }
    if (!st.array.empty()) return false;
    if (t.base == Base::Struct) {
      if (st.basetype != spirv_cross::SPIRType::Struct || st.member_types.size() != t.members.size()) {
        return false;
      }
      std::uint32_t memberSource = source;
      for (std::uint32_t m = 0; m < t.members.size(); ++m) {
        const MemberLayout ml = Layout(c, st, m);
        if (!Ops(c, t.members[m].type, memberSource, c.get_type(st.member_types[m]),
                 destination + ml.offset, ml, ops)) {
          return false;
        }
        memberSource += t.members[m].type.Bytes();
      }
      return true;
    }
    if (!t.IsNumeric()) return false;
    CopyOp::Convert convert = CopyOp::Copy;
    const bool toFloat = st.basetype == spirv_cross::SPIRType::Float;
    const bool toBool = st.basetype == spirv_cross::SPIRType::Boolean ||
                        (st.basetype == spirv_cross::SPIRType::UInt && t.base == Base::Bool);
    if (toBool) convert = t.base == Base::Float ? CopyOp::FloatToBool : CopyOp::ToBool;
    else if (toFloat && t.base != Base::Float) convert = CopyOp::IntToFloat;
    else if (!toFloat && t.base == Base::Float) convert = CopyOp::FloatToInt;
    if (t.matrix && t.rows > 1 && st.columns > 1) {
      // glslang keeps an HLSL RxC matrix as its transpose: R columns of C.
      if (st.columns != t.rows || st.vecsize != t.columns) return false;
      for (std::uint32_t r = 0; r < t.rows; ++r) {
        for (std::uint32_t k = 0; k < t.columns; ++k) {
          const std::uint32_t dst = layout.rowMajor ? k * layout.matrixStride + r * 4
                                                    : r * layout.matrixStride + k * 4;
          ops->push_back({source + 4 * (r * t.columns + k), destination + dst, convert});
        }
      }
      return true;
    }
    const std::uint32_t n = t.rows * t.columns;
    if (st.vecsize * st.columns != n) return false;
    for (std::uint32_t k = 0; k < n; ++k) {
      ops->push_back({source + 4 * k, destination + 4 * k, convert});
    }
    return true;
  }

  const CompiledEffect& mEffect;
  Messages* mMessages;
  bool mEs;  // GLSL ES 3.00
};

#endif  // VELOX_NO_SHADER_COMPILER

// The shader a VertexShader or PixelShader state names.
bool ShaderOf(const EffectSource& source, const State& s, const CompileExpr** expr,
              Messages* messages) {
  *expr = nullptr;
  if (s.value.kind == StateValue::Null) return true;
  if (s.value.kind == StateValue::Compile) {
    *expr = &s.value.compile;
    return true;
  }
  if (s.value.kind == StateValue::Reference) {
    const int index = FindParameter(source, s.value.text);
    if (index >= 0 && source.parameters[static_cast<std::size_t>(index)].hasCompile) {
      *expr = &source.parameters[static_cast<std::size_t>(index)].compile;
      return true;
    }
    if (index >= 0) return true;  // a NULL shader variable
  }
  messages->Error(s.at, "'" + s.name + "' needs compile, a shader variable or NULL");
  return false;
}

// What OpenGL ES 3.0 and WebGL 2 samplers lack: border and mirror-once
// addressing (they clamp to the edge and mirror instead), a border colour
// and a level-of-detail bias.
void WarnEsSampler(const State& s, int id, std::uint32_t code, Messages* messages) {
  const bool address = id == kSsAddressU || id == kSsAddressV || id == kSsAddressW;
  std::string instead;
  if (address && code == 4) instead = "clamps to the edge instead";
  if (address && code == 5) instead = "mirrors instead";
  if (id == kSsBorderColor) instead = "is ignored";
  if (id == kSsMipMapLodBias && code != 0) instead = "is ignored";
  if (!instead.empty()) {
    const std::string state = address ? s.name + " = " + ValueText(s.value) : s.name;
    messages->Warning(s.at, "sampler state '" + state + "' is not available on OpenGL ES 3.0 and " +
                                instead);
  }
}

}  // namespace

std::string CompileTarget(Glsl glsl) { return glsl == Glsl::kEs300 ? "gles300" : "glsl450"; }

bool CompileEffect(EffectSource source, CompiledEffect* out, Messages* messages, Glsl glsl) {
  LoadBakedStagesOnce();
  out->source = std::move(source);
  const EffectSource& src = out->source;
  out->samplers.assign(src.parameters.size(), SamplerInfo());
  int units = 0;
  for (std::size_t i = 0; i < src.parameters.size(); ++i) {
    const Variable& p = src.parameters[i];
    SamplerInfo& info = out->samplers[i];
    if (!p.type.IsSampler()) {
      info.unit = -1;
      continue;
    }
    if (p.type.elements > 0) {
      messages->Error(p.at, "sampler arrays are not supported");
      return false;
    }
    info.unit = units++;
    if (units > 32) {
      messages->Error(p.at, "more than 32 samplers");
      return false;
    }
    for (const State& s : p.states) {
      if (SameText(s.name, "Texture")) {
        const int t = s.value.kind == StateValue::Reference ? FindParameter(src, s.value.text) : -1;
        if (t < 0 || !src.parameters[static_cast<std::size_t>(t)].type.IsTexture()) {
          messages->Error(s.at, "'Texture' must name a texture parameter");
          return false;
        }
        info.textureParameter = t;
        continue;
      }
      const StateEntry* e = FindState(kSamplerStateTable, std::size(kSamplerStateTable), s.name);
      if (e == nullptr) {
        messages->Warning(s.at, "sampler state '" + s.name + "' is not supported and is ignored");
        continue;
      }
      std::uint32_t code = 0;
      if (StateCode(s, e->kind, &code, messages)) {
        info.states.value[static_cast<std::size_t>(e->id)] = code;
        if (glsl == Glsl::kEs300) WarnEsSampler(s, e->id, code, messages);
      } else if (messages->HasErrors()) {
        return false;
      }
    }
  }

#ifndef VELOX_NO_SHADER_COMPILER
  std::map<std::string, std::vector<std::uint32_t>> cache;
  Linker linker(*out, messages, glsl);
#endif
  out->passes.resize(src.techniques.size());
  for (std::size_t t = 0; t < src.techniques.size(); ++t) {
    for (const Pass& pass : src.techniques[t].passes) {
      CompiledPass compiled;
      const CompileExpr* stages[2] = {nullptr, nullptr};
      for (const State& s : pass.states) {
        compiled.stateText += s.name + (s.index >= 0 ? "[" + std::to_string(s.index) + "]" : "") +
                              " = " + ValueText(s.value) + "\n";
        const bool vs = SameText(s.name, "VertexShader");
        const bool ps = SameText(s.name, "PixelShader");
        if (vs || ps) {
          if (!ShaderOf(src, s, &stages[vs ? 0 : 1], messages)) return false;
          continue;
        }
        const StateEntry* e = FindState(kRenderStateTable, std::size(kRenderStateTable), s.name);
        if (e == nullptr) {
          messages->Warning(s.at, "state '" + s.name + "' is not supported and is ignored");
          continue;
        }
        std::uint32_t code = 0;
        if (StateCode(s, e->kind, &code, messages)) {
          compiled.states.value[static_cast<std::size_t>(e->id)] = code;
          compiled.states.set |= 1u << e->id;
        } else if (messages->HasErrors()) {
          return false;
        }
      }
      const StageStore* store = ActiveStageStore();
      const bool record = store != nullptr && RecordingStages();
      std::uint64_t key = 0;
      if (store != nullptr) key = StageKey(*out, stages[0], stages[1], compiled.states, CompileTarget(glsl));
#ifdef VELOX_NO_SHADER_COMPILER
      if (store == nullptr || record) {
        messages->Error(pass.at, std::string("this build compiles no shaders: they come baked in ") + kBakedStagesPath);
        return false;
      }
#endif
      if (store != nullptr && !record) {
        // A player without the compiler: the stages come baked, or not at all.
        const BakedPass* baked = store->Find(key);
        std::string why;
        if (!store->Problem().empty()) why = store->Problem();
        else if (store->Target() != CompileTarget(glsl)) why = "they are baked for " + store->Target();
        else if (baked == nullptr) why = "the pass is not among them (bake the data again)";
        if (baked != nullptr && why.empty()) {
          compiled.vertex = baked->vertex;
          compiled.pixel = baked->pixel;
          if (!BakedPassFits(*out, compiled, &why)) why = "damaged: " + why;
        }
        if (!why.empty()) {
          messages->Error(pass.at, std::string("no baked shader stages for this pass in ") + kBakedStagesPath +
                                       ": " + why);
          return false;
        }
        out->passes[t].push_back(std::move(compiled));
        continue;
      }
#ifndef VELOX_NO_SHADER_COMPILER
      const std::vector<std::uint32_t>* spirv[2] = {nullptr, nullptr};
      StageProgram* programs[2] = {&compiled.vertex, &compiled.pixel};
      for (int k = 0; k < 2; ++k) {
        const CompileExpr* c = stages[k];
        if (c == nullptr) continue;
        bool vertex = false;
        const std::uint32_t version = ProfileVersion(c->profile, &vertex);
        if (version == 0) {
          messages->Error(c->at, "profile '" + c->profile + "' is not a Direct3D 9 shader profile");
          return false;
        }
        if (vertex != (k == 0)) {
          messages->Error(c->at, "profile '" + c->profile + "' does not fit " +
                                     (k == 0 ? "VertexShader" : "PixelShader"));
          return false;
        }
        programs[k]->version = version;
        programs[k]->profile = c->profile;
        programs[k]->entry = c->entry;
        const std::string key = std::string(k == 0 ? "v:" : "p:") + c->entry;
        auto found = cache.find(key);
        if (found == cache.end()) {
          std::vector<std::uint32_t> words;
          if (!CompileToSpirv(src, *c, k == 0, &words, messages)) return false;
          found = cache.emplace(key, std::move(words)).first;
        }
        spirv[k] = &found->second;
      }
      if (!linker.Link(spirv[0], spirv[1], stages[0], stages[1], &compiled, pass.at,
                       compiled.states)) {
        return false;
      }
      if (record) {
        StageStore* recording = ActiveStageStore();
        if (recording->Target().empty()) recording->SetTarget(CompileTarget(glsl));
        if (recording->Target() != CompileTarget(glsl)) {
          messages->Error(pass.at, "baked stages hold one kind of GLSL: this pass is " + CompileTarget(glsl) +
                                       ", the record " + recording->Target());
          return false;
        }
        recording->Add(key, compiled);
      }
      out->passes[t].push_back(std::move(compiled));
#endif
    }
  }
  return !messages->HasErrors();
}

}  // namespace platform::fx
