// Effect files from memory through the preprocessor and the effect-level
// parser. Two include files are served from memory: one with a struct and a
// macro, one that includes itself so that the depth limit is reached.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fx/frontEnd.h"

namespace fx = platform::fx;

namespace {

bool ReadInclude(const std::string& path, std::string* contents) {
  if (path == "a.fxh") {
    *contents =
        "#define SCALE(x) ((x) * 2.0)\n"
        "struct Light { float3 direction; float4 color : COLOR0; };\n"
        "static const float Table[3] = {1, SCALE(2), 3};\n";
    return true;
  }
  if (path == "self.fxh") {
    *contents = "float Depth;\n#include \"self.fxh\"\n";
    return true;
  }
  return false;
}

std::size_t CountLines(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// The value of a numeric variable is as long as its type says; the effect
// builds its constant buffers from both.
void CheckValue(const fx::Variable& v) {
  if (v.value.size() != v.type.Bytes()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  fx::EffectSource effect;
  fx::Messages messages;
  const bool ok = fx::ReadEffect(source, "fuzz.fx", {{"FUZZ", "1"}}, ReadInclude, &effect,
                                 &messages);
  if (!ok) {
    if (!messages.HasErrors()) __builtin_trap();  // a failure always says why
    return 0;
  }
  // The HLSL keeps one origin per line, so that compiler messages point home.
  if (CountLines(effect.hlsl) != effect.lines.size()) __builtin_trap();
  for (const fx::Variable& p : effect.parameters) {
    CheckValue(p);
    for (const fx::Variable& a : p.annotations) {
      if (a.type.base != fx::Base::String) CheckValue(a);
    }
  }
  return 0;
}
