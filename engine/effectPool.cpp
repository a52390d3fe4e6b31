#include "engine/effectPool.h"

#include "engine/Shader.h"
#include "engine/Window.h"
#include "engine/logging.h"
#include "engine/luaWrapper.h"
#include "engine/resourceTypes.h"
#include "platform/effect.h"
#include "platform/graphics.h"

namespace engine::pattern {
template class Singleton<gfx::EffectPool>;
}  // namespace engine::pattern

namespace engine::gfx {
namespace {

std::uint32_t gTargetVersion = 0;

}  // namespace

void Effect::AddShader(boost::shared_ptr<Shader> shader) {
  const std::set<int> streams = shader->Streams();
  mStreams.insert(streams.begin(), streams.end());
  mShaders.push_back(std::move(shader));
}

bool Effect::IsSupported() {
  platform::Caps caps;
  core::CWin32Window* window = core::CWin32Window::Get();
  if (window != nullptr && window->Device() != nullptr) window->Device()->GetDeviceCaps(&caps);
  for (const auto& shader : mShaders) {
    if (!shader->IsSupported(caps)) return false;
  }
  return true;
}

void Effect::Setup() {
  for (const auto& shader : mShaders) shader->Setup();
}

EffectPool::EffectPool() { mWireframe = GenerateEffect("data/wireframe.efx"); }

EffectPool::~EffectPool() = default;

void EffectPool::SetTargetVersion(std::uint32_t version) { gTargetVersion = version; }
std::uint32_t EffectPool::TargetVersion() { return gTargetVersion; }

boost::shared_ptr<Effect> EffectPool::Generate(const std::string& scriptPath, bool versionTest) {
  MaterialScript script;
  script.Parse(scriptPath);  // errors go to the caller
  for (const EffectDesc& candidate : script.mEffects) {
    boost::shared_ptr<Effect> effect(new Effect);
    bool built = true;
    for (const PassDesc& pass : candidate.mPasses) {
      try {
        boost::shared_ptr<Shader> shader(new Shader("data/fx/" + pass.mEffectFile, pass, effect.get()));
        effect->AddShader(shader);
        if (versionTest && gTargetVersion != 0) {
          platform::Effect* fx = shader->GetEffect()->Retrieve();
          platform::TechniqueDesc desc;
          fx->GetTechniqueDesc(shader->Technique(), &desc);
          for (std::uint32_t p = 0; p < desc.passes; ++p) {
            platform::PassDesc passDesc;
            fx->GetPassDesc(fx->GetPass(shader->Technique(), p), &passDesc);
            if (platform::GetShaderVersion(passDesc.pixelShaderFunction) > gTargetVersion) {
              throw core::Exception(L"Shader version too high", L"GenerateEffect");
            }
          }
        }
      } catch (const core::Exception&) {
        ENGINE_WARNING("Effect data/fx/" + pass.mEffectFile + " Technique " + pass.mTechnique +
                       " failed");
        built = false;
        break;
      }
    }
    if (!built || !effect->IsSupported()) continue;
    effect->Setup();
    return effect;
  }
  return nullptr;
}

boost::shared_ptr<Effect> EffectPool::GenerateEffect(const std::string& scriptPath) {
  if (boost::shared_ptr<Effect> effect = Generate(scriptPath, true)) return effect;
  ENGINE_WARNING("No effects supported in the list, falling back to wireframe");
  return mWireframe;
}

boost::shared_ptr<Effect> EffectPool::GenerateQuadEffect(const std::string& scriptPath) {
  if (boost::shared_ptr<Effect> effect = Generate(scriptPath, false)) return effect;
  ENGINE_ERROR("Failed to generate an effect");
}

}  // namespace engine::gfx

namespace engine {

boost::shared_ptr<gfx::Effect> BuildEffect(const std::string& path) {
  return gfx::EffectPool::Get()->GenerateEffect(path);
}

void SetTargetShaderVersion(unsigned long version) {
  gfx::EffectPool::SetTargetVersion(static_cast<std::uint32_t>(version));
}

}  // namespace engine
