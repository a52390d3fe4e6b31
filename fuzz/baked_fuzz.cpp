// The player's baked data: a store of shader stages (checked, when it reads,
// against a small effect the way a pass is before it draws) and a baked
// material table; what reads is written again and must read back the same.
// The first byte picks the reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/luaWrapper.h"
#include "platform/fx/bakedStages.h"
#include "platform/fx/frontEnd.h"

namespace fx = platform::fx;

namespace {

const fx::CompiledEffect& Effect() {
  static const fx::CompiledEffect effect = [] {
    fx::CompiledEffect e;
    fx::Messages messages;
    // No samplers: their table comes with the compiler, which this target
    // leaves out; every sampler a pass names is then out of range.
    fx::ReadEffect("float4 Tint; float4x4 World; float Scale[3];", "f.fx", {},
                   [](const std::string&, std::string*) { return false; }, &e.source, &messages);
    return e;
  }();
  return effect;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string error;
  if (data[0] % 2 == 0) {
    fx::StageStore store("");
    if (store.Read(data + 1, size - 1, &error)) {
      const std::string bytes = store.Write();
      fx::StageStore again("");
      if (!again.Read(bytes.data(), bytes.size(), &error) || again.Write() != bytes) __builtin_trap();
      for (const auto& [key, baked] : store.Passes()) {
        fx::CompiledPass pass;
        pass.vertex = baked.vertex;
        pass.pixel = baked.pixel;
        std::string why;
        if (store.Find(key) != &baked) __builtin_trap();
        (void)fx::BakedPassFits(Effect(), pass, &why);
      }
    }
  } else {
    engine::gfx::ScriptValue value;
    if (engine::gfx::ScriptValue::Read(data + 1, size - 1, &value, &error)) {
      const std::string bytes = value.Write();
      engine::gfx::ScriptValue again;
      if (!engine::gfx::ScriptValue::Read(bytes.data(), bytes.size(), &again, &error) || again.Write() != bytes) {
        __builtin_trap();
      }
      (void)value.Get("effect").Get(1).Get("pass").ToString();
    }
  }
  return 0;
}
