// fxcheck: compiles a Direct3D 9 effect file the way the engine does and
// prints what it holds. Exit code 0 when every technique compiles, 1
// otherwise.
//
//   fxcheck [--glsl] [--gl] FILE.fx
//     --glsl  also print the generated GLSL of each pass
//     --gl    link the passes with the OpenGL driver (needs a display or
//             SDL_VIDEODRIVER=offscreen); without it nothing needs a GPU
//   VELOX_GL=es in the environment: GLSL ES 3.00 and an OpenGL ES 3.0 context
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/effect.h"
#include "platform/graphics.h"
#include "platform/utf8.h"

namespace {

using namespace platform;

const char* TypeName(ParameterType t) {
  static const char* kNames[] = {"void",       "bool",        "int",        "float",
                                 "string",     "texture",     "texture1D",  "texture2D",
                                 "texture3D",  "textureCUBE", "sampler",    "sampler1D",
                                 "sampler2D",  "sampler3D",   "samplerCUBE", "pixelshader",
                                 "vertexshader"};
  return t < sizeof kNames / sizeof kNames[0] ? kNames[t] : "?";
}

std::string Shape(const ParameterDesc& d) {
  std::string s = d.parameterClass == kClassStruct ? "struct" : TypeName(d.type);
  if (d.parameterClass == kClassVector) s += std::to_string(d.columns);
  if (d.parameterClass == kClassMatrixRows || d.parameterClass == kClassMatrixColumns) {
    s += std::to_string(d.rows) + "x" + std::to_string(d.columns);
    if (d.parameterClass == kClassMatrixRows) s = "row_major " + s;
  }
  if (d.elements > 0) s += "[" + std::to_string(d.elements) + "]";
  return s;
}

std::string Value(Effect* e, Handle h, const ParameterDesc& d) {
  std::ostringstream out;
  if (d.type == kTypeString) {
    const char* s = nullptr;
    if (e->GetString(h, &s) == kOk && s != nullptr) out << "\"" << s << "\"";
    return out.str();
  }
  if (d.type != kTypeBool && d.type != kTypeInt && d.type != kTypeFloat) return "";
  const std::uint32_t count = d.bytes / 4;
  if (count == 0 || count > 64) return count > 64 ? "(" + std::to_string(count) + " values)" : "";
  float values[64];
  std::uint32_t raw[64];
  e->GetValue(h, raw, count * 4);
  std::memcpy(values, raw, count * 4);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i) out << ", ";
    if (d.type == kTypeFloat) out << values[i];
    else if (d.type == kTypeBool) out << (raw[i] ? "true" : "false");
    else out << static_cast<std::int32_t>(raw[i]);
  }
  return count > 1 ? "{" + out.str() + "}" : out.str();
}

void PrintAnnotations(Effect* e, Handle object, std::uint32_t count, const char* indent) {
  for (std::uint32_t i = 0; i < count; ++i) {
    Handle a = e->GetAnnotation(object, i);
    ParameterDesc d;
    if (a == nullptr || e->GetParameterDesc(a, &d) != kOk) continue;
    std::printf("%s<%s %s = %s>\n", indent, Shape(d).c_str(), d.name, Value(e, a, d).c_str());
  }
}

std::string Profile(std::uint32_t version) {
  if (version == 0) return "none";
  const bool vertex = (version >> 16) == 0xFFFE;
  const std::uint32_t major = (version >> 8) & 0xFF, minor = version & 0xFF;
  return std::string(vertex ? "vs_" : "ps_") + std::to_string(major) + "_" +
         (minor == 1 ? std::string("x") : std::to_string(minor));
}

}  // namespace

int main(int argc, char** argv) {
  bool glsl = false, useGl = false;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--glsl") == 0) glsl = true;
    else if (std::strcmp(argv[i], "--gl") == 0) useGl = true;
    else if (argv[i][0] == '-') {
      std::fprintf(stderr, "fxcheck: unknown option %s\n", argv[i]);
      return 2;
    } else file = argv[i];
  }
  if (file == nullptr) {
    std::fprintf(stderr, "usage: fxcheck [--glsl] [--gl] FILE.fx\n");
    return 2;
  }
  Direct3D* d3d = Direct3DCreate(useGl ? Backend::GL : Backend::Null);
  if (d3d == nullptr) {
    std::fprintf(stderr, "fxcheck: no graphics backend\n");
    return 2;
  }
  PresentParameters pp;
  pp.backBufferWidth = pp.backBufferHeight = 64;
  Device* device = nullptr;
  if (Failed(d3d->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &pp, &device))) {
    std::fprintf(stderr, "fxcheck: cannot create a device\n");
    d3d->Release();
    return 2;
  }
  EffectPool* pool = nullptr;
  CreateEffectPool(&pool);
  Effect* effect = nullptr;
  Buffer* errors = nullptr;
  const Result r = CreateEffectFromFile(device, utf8::Decode(file), nullptr, nullptr,
                                        kShaderOptimizationLevel3, pool, &effect, &errors);
  int status = Failed(r) ? 1 : 0;
  if (effect != nullptr) {
    EffectDesc ed;
    effect->GetDesc(&ed);
    for (std::uint32_t t = 0; t < ed.techniques; ++t) {
      Handle th = effect->GetTechnique(t);
      TechniqueDesc td;
      effect->GetTechniqueDesc(th, &td);
      const bool valid = effect->ValidateTechnique(th) == kOk;
      if (!valid) status = 1;
      std::printf("technique %s%s\n", td.name ? td.name : "(unnamed)", valid ? "" : " (invalid)");
      PrintAnnotations(effect, th, td.annotations, "  ");
      for (std::uint32_t p = 0; p < td.passes; ++p) {
        Handle ph = effect->GetPass(th, p);
        PassDesc pd;
        effect->GetPassDesc(ph, &pd);
        std::printf("  pass %s: vertex %s, pixel %s\n", pd.name ? pd.name : "(unnamed)",
                    Profile(GetShaderVersion(pd.vertexShaderFunction)).c_str(),
                    Profile(GetShaderVersion(pd.pixelShaderFunction)).c_str());
        PrintAnnotations(effect, ph, pd.annotations, "    ");
        std::istringstream states(effect->PassStates(ph));
        std::string line;
        while (std::getline(states, line)) std::printf("    %s\n", line.c_str());
        if (glsl) std::printf("%s", effect->GeneratedGlsl(ph).c_str());
      }
    }
    for (std::uint32_t i = 0; i < ed.parameters; ++i) {
      Handle h = effect->GetParameter(nullptr, i);
      ParameterDesc d;
      effect->GetParameterDesc(h, &d);
      const std::string value = Value(effect, h, d);
      std::printf("parameter %s %s%s%s%s%s\n", Shape(d).c_str(), d.name,
                  d.semantic ? " : " : "", d.semantic ? d.semantic : "",
                  value.empty() ? "" : " = ", value.c_str());
      if (d.flags & kParameterShared) std::printf("  shared\n");
      PrintAnnotations(effect, h, d.annotations, "  ");
    }
    effect->Release();
  }
  if (errors != nullptr) {
    std::printf("%s", static_cast<const char*>(errors->GetBufferPointer()));
    errors->Release();
  }
  pool->Release();
  device->Release();
  d3d->Release();
  return status;
}
