#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/luaWrapper.h"
#include "engine/renderObject.h"

namespace platform {
class Effect;
struct Caps;
}  // namespace platform

namespace engine::core::resources {
class FXEffect;
class RenderTargetTexture;
}  // namespace engine::core::resources

namespace engine::gfx {

class Effect;
class Mesh;

// One render pass of a material: a script pass bound to an effect file and
// one technique in it. It binds engine values by semantic, sets the pass's
// parameters around each draw and restores the effect's own values after.
class ENGINE_API Shader {
 public:
  // Throws when the technique does not exist.
  Shader(const std::string& effectPath, const PassDesc& pass, Effect* owner);
  virtual ~Shader();

  bool IsSupported(const platform::Caps& caps);
  // Resolves parameters, saved values, "UIName" parameters and bindings.
  void Setup();
  void Draw(boost::shared_ptr<RenderObject> object);
  // Pass 0 sets the technique and begins the effect; returns the pass count.
  int BeginPass(unsigned i);
  void EndPass();
  // A quad shader queues its quad when it becomes the current shader.
  void Activate();

  boost::shared_ptr<core::resources::FXEffect> GetEffect() const { return mEffect; }
  virtual boost::shared_ptr<core::resources::RenderTargetTexture> GetTarget();
  std::set<int> Streams() const { return mPass.mStreams; }
  const PassDesc& Pass() const { return mPass; }
  PassDesc& Pass() { return mPass; }
  const char* Technique() const { return mTechniqueHandle; }
  const std::string& EffectPath() const { return mEffectPath; }
  bool IsQuad() const { return mIsQuad; }
  boost::shared_ptr<Mesh> Quad() const { return mQuad; }
  Effect* Owner() const { return mOwner; }

  using Binding = void (*)(const RenderObject& object, platform::Effect* effect, const char* handle);

 private:
  platform::Effect* Fx() const;
  platform::Effect* Loaded() const;  // throws when there is none

  PassDesc mPass;
  std::vector<std::pair<const char*, Binding>> mBindings;
  boost::shared_ptr<core::resources::FXEffect> mEffect;
  const char* mTechniqueHandle = nullptr;
  bool mIsQuad = false;
  boost::shared_ptr<Mesh> mQuad;
  // Handles per list: float4, float3, float2, scalars, ipo, bools, textures, raw.
  std::vector<const char*> mHandles[8];
  // The effect's own values of the first three lists, the scalars and bools.
  std::vector<ShaderParameters::param128> mSaved[5];
  std::string mEffectPath;
  boost::shared_ptr<core::resources::RenderTargetTexture> mTarget;
  Effect* mOwner;
  std::uint64_t mLoadStamp = 0;
};

}  // namespace engine::gfx
