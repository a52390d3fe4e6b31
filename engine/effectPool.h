#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/singleton.h"

namespace platform {
class Device;
}

namespace engine::gfx {

class Shader;

// A material ready for drawing: one shader per pass, in script order.
class ENGINE_API Effect {
 public:
  void AddShader(boost::shared_ptr<Shader> shader);
  boost::shared_ptr<Shader> GetShader(unsigned i) const { return mShaders.at(i); }
  unsigned ShaderCount() const { return static_cast<unsigned>(mShaders.size()); }
  // Every shader validates on the device (true without shaders).
  bool IsSupported();
  void Setup();
  // The streams all passes read together.
  const std::set<int>& Streams() const { return mStreams; }

 private:
  std::vector<boost::shared_ptr<Shader>> mShaders;
  std::set<int> mStreams;
};

// Builds materials from their scripts: the best candidate that loads, fits
// the target pixel-shader version and validates; otherwise the wireframe
// fallback built once from "data/wireframe.efx".
class ENGINE_API EffectPool : public pattern::Singleton<EffectPool> {
 public:
  EffectPool();
  ~EffectPool() override;

  boost::shared_ptr<Effect> GenerateEffect(const std::string& scriptPath);
  // Without the version test; no usable candidate is an error.
  boost::shared_ptr<Effect> GenerateQuadEffect(const std::string& scriptPath);

  boost::shared_ptr<Effect> Wireframe() const { return mWireframe; }

  // 0: no limit. Kept outside the pool so that the program can set it
  // before the device exists.
  static void SetTargetVersion(std::uint32_t version);
  static std::uint32_t TargetVersion();

 private:
  boost::shared_ptr<Effect> Generate(const std::string& scriptPath, bool versionTest);

  boost::shared_ptr<Effect> mWireframe;
};

}  // namespace engine::gfx

namespace engine {
// The material of a script, with fallback (see EffectPool).
ENGINE_API boost::shared_ptr<gfx::Effect> BuildEffect(const std::string& path);
// The highest pixel-shader version token materials may use; 0 for any.
ENGINE_API void SetTargetShaderVersion(unsigned long version);
}  // namespace engine

namespace engine::pattern {
extern template class Singleton<gfx::EffectPool>;
}  // namespace engine::pattern
