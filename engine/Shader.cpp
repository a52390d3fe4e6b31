#include "engine/Shader.h"

#include <algorithm>
#include <cstring>

#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/logging.h"
#include "engine/profiler.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/sceneInfo.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "engine/timer.h"
#include "engine/VLXMesh.h"
#include "platform/effect.h"
#include "platform/graphics.h"

namespace engine::gfx {
namespace {

static_assert(sizeof(math::Matrix4x4) == sizeof(platform::Matrix), "matrices are passed as they lie");

// Effects are never begun nested, so one pass count serves every shader.
int gPassCount = 0;
int gCurrentPass = 0;

const platform::Matrix* AsMatrix(const math::Matrix4x4& m) {
  return reinterpret_cast<const platform::Matrix*>(&m);
}

void SetMatrix(platform::Effect* e, const char* h, const math::Matrix4x4& m) {
  e->SetMatrix(h, AsMatrix(m));
}

// Without a camera the view is the identity: a defined picture, no crash.
Spatial* ActiveCamera() { return SceneInfo::Get()->Active().mCamera; }
math::Matrix4x4 View() {
  Spatial* c = ActiveCamera();
  return c != nullptr ? c->WorldInverse() : math::Matrix4x4::Identity;
}
math::Matrix4x4 ViewInverse() {
  Spatial* c = ActiveCamera();
  return c != nullptr ? c->World() : math::Matrix4x4::Identity;
}
math::Matrix4x4 Projection() {
  core::CWin32Window* w = core::CWin32Window::Get();
  return w != nullptr ? w->Projection() : math::Matrix4x4::Identity;
}

void BindWorld(const RenderObject& o, platform::Effect* e, const char* h) { SetMatrix(e, h, o.World); }
void BindPrevWorld(const RenderObject& o, platform::Effect* e, const char* h) {
  SetMatrix(e, h, o.PrevWorld);
}
// The rotation block as a 4x4 without translation: a float3x3 parameter
// takes its top-left block, a float4x4 one a pure rotation.
void BindWorldRotation(const RenderObject& o, platform::Effect* e, const char* h) {
  math::Matrix4x4 m = math::Matrix4x4::Identity;
  m.SetRotation(o.World.GetRotation());
  SetMatrix(e, h, m);
}
void BindWorldInverseTranspose(const RenderObject& o, platform::Effect* e, const char* h) {
  SetMatrix(e, h, o.WorldInverseTranspose);
}
void BindView(const RenderObject&, platform::Effect* e, const char* h) { SetMatrix(e, h, View()); }
void BindViewInverse(const RenderObject&, platform::Effect* e, const char* h) {
  SetMatrix(e, h, ViewInverse());
}
void BindWorldView(const RenderObject& o, platform::Effect* e, const char* h) {
  SetMatrix(e, h, o.World * View());
}
void BindProjection(const RenderObject&, platform::Effect* e, const char* h) {
  SetMatrix(e, h, Projection());
}
void BindViewProjection(const RenderObject&, platform::Effect* e, const char* h) {
  SetMatrix(e, h, View() * Projection());
}
void BindWorldViewProjection(const RenderObject& o, platform::Effect* e, const char* h) {
  SetMatrix(e, h, o.World * View() * Projection());
}
// Missing lights: the origin, and the identity for the inverse.
void BindLight0Inverse(const RenderObject&, platform::Effect* e, const char* h) {
  Light* l = SceneInfo::Get()->LightAt(0);
  SetMatrix(e, h, l != nullptr ? l->WorldInverse() : math::Matrix4x4::Identity);
}
template <int I>
void BindLight(const RenderObject&, platform::Effect* e, const char* h) {
  Light* l = SceneInfo::Get()->LightAt(I);
  platform::Vector4 v{0, 0, 0, 1};
  if (l != nullptr) {
    const math::Vector4f p = l->World().GetTranslation4f();
    v = {p.x, p.y, p.z, p.w};
  }
  e->SetVector(h, &v);
}
void BindViewDir(const RenderObject&, platform::Effect* e, const char* h) {
  const math::Vector3f n = SceneInfo::Get()->Active().mPlanes[3].normal;
  const platform::Vector4 v{n.x, n.y, n.z, 0};
  e->SetVector(h, &v);
}
void BindViewPos(const RenderObject&, platform::Effect* e, const char* h) {
  const math::Vector3f p = SceneInfo::Get()->Active().mPosition;
  const platform::Vector4 v{p.x, p.y, p.z, 1};
  e->SetVector(h, &v);
}
void BindTime(const RenderObject&, platform::Effect* e, const char* h) {
  e->SetFloat(h, static_cast<float>(GetTime()));
}
void BindTimeElapsed(const RenderObject&, platform::Effect* e, const char* h) {
  e->SetFloat(h, static_cast<float>(GetSinceLast()));
}
void BindScreen(const RenderObject&, platform::Effect* e, const char* h) {
  core::CWin32Window* w = core::CWin32Window::Get();
  const float width = w != nullptr ? static_cast<float>(w->Settings().width) : 0.0f;
  const float height = w != nullptr ? static_cast<float>(w->Settings().height) : 0.0f;
  const platform::Vector4 v{width, height, 0, 0};
  e->SetVector(h, &v);
}

struct SemanticRow {
  const char* semantic;
  Shader::Binding bind;
};

const SemanticRow kSemantics[] = {
    {"World", BindWorld},
    {"PrevWorld", BindPrevWorld},
    {"WorldRotation", BindWorldRotation},
    {"WorldInverseTranspose", BindWorldInverseTranspose},
    {"View", BindView},
    {"ViewInverse", BindViewInverse},
    {"Camera", BindViewInverse},
    {"WorldView", BindWorldView},
    {"Projection", BindProjection},
    {"ViewProjection", BindViewProjection},
    {"WorldViewProjection", BindWorldViewProjection},
    {"Light0Inverse", BindLight0Inverse},
    {"Light0", BindLight<0>},
    {"Light1", BindLight<1>},
    {"Light2", BindLight<2>},
    {"Light3", BindLight<3>},
    {"ViewDir", BindViewDir},
    {"ViewPos", BindViewPos},
    {"Time", BindTime},
    {"TimeElapsed", BindTimeElapsed},
    {"Screen", BindScreen},
};

// Semantic of the effect parameter whose value a bone palette fills.
const char* kBonesSemantic = "BonePalette";

}  // namespace

Shader::Shader(const std::string& effectPath, const PassDesc& pass, Effect* owner)
    : mPass(pass), mEffectPath(effectPath), mOwner(owner) {
  using core::ResourceManager;
  using namespace core::resources;
  mEffect = ResourceManager::Get()->Get<FXEffect>(ToWide(mEffectPath));
  platform::Effect* fx = Fx();
  mTechniqueHandle = fx != nullptr ? fx->GetTechniqueByName(mPass.mTechnique.c_str()) : nullptr;
  if (mTechniqueHandle == nullptr) {
    ENGINE_ERROR("No such technique " + mPass.mTechnique + " in " + mEffectPath);
  }
  const char* quad = fx->GetAnnotationByName(mTechniqueHandle, "quad");
  bool isQuad = false;
  if (quad != nullptr && fx->GetBool(quad, &isQuad) == platform::kOk && isQuad) {
    const char* material = fx->GetAnnotationByName(mTechniqueHandle, "material");
    const char* name = nullptr;
    if (material != nullptr && fx->GetString(material, &name) == platform::kOk && name != nullptr) {
      ENGINE_MESSAGE("Loading quad material " + mEffectPath);
      mIsQuad = true;
      mQuad = Mesh::CreateQuad(
          EffectPool::Get()->GenerateQuadEffect("data/fx/" + std::string(name) + ".efx"));
    } else {
      ENGINE_WARNING("Quad in effect " + mEffectPath + " is true, but material not available");
    }
  }
  if (mPass.mHasTarget) {
    mTarget = ResourceManager::Get()->Get<RenderTargetTexture>(ToWide(mPass.mTargetName));
  } else if (mPass.mHasDepthTarget) {
    mTarget = ResourceManager::Get()->Get<DepthTexture>(ToWide(mPass.mDepthTargetName));
  }
}

Shader::~Shader() = default;

platform::Effect* Shader::Fx() const { return mEffect ? mEffect->Retrieve() : nullptr; }

platform::Effect* Shader::Loaded() const {
  // A reload that failed (F9 on a broken file) leaves no effect to draw with.
  platform::Effect* fx = Fx();
  if (fx == nullptr) ENGINE_ERROR("Effect " + mEffectPath + " is not loaded");
  return fx;
}

boost::shared_ptr<core::resources::RenderTargetTexture> Shader::GetTarget() { return mTarget; }

bool Shader::IsSupported(const platform::Caps&) {
  platform::Effect* fx = Fx();
  if (fx == nullptr || platform::Failed(fx->ValidateTechnique(mTechniqueHandle))) {
    ENGINE_WARNING("FXShader " + mPass.mEffectFile + " with technique " + mPass.mTechnique +
                   " not supported");
    return false;
  }
  return true;
}

void Shader::Setup() {
  using namespace core::resources;
  platform::Effect* fx = Fx();
  mTechniqueHandle = fx != nullptr ? fx->GetTechniqueByName(mPass.mTechnique.c_str()) : nullptr;
  if (mTechniqueHandle == nullptr) {
    ENGINE_ERROR("No such technique " + mPass.mTechnique + " in " + mEffectPath);
  }
  for (auto& h : mHandles) h.clear();
  for (auto& s : mSaved) s.clear();
  mBindings.clear();

  // Parameters the effect offers to the user and the script leaves alone.
  ShaderParameters& p = mPass.mParameters;
  std::vector<std::string> names = p.Names();
  platform::EffectDesc effectDesc;
  fx->GetDesc(&effectDesc);
  for (std::uint32_t i = 0; i < effectDesc.parameters; ++i) {
    const char* handle = fx->GetParameter(nullptr, i);
    platform::ParameterDesc desc;
    if (handle == nullptr || fx->GetParameterDesc(handle, &desc) != platform::kOk) continue;
    const char* ui = fx->GetAnnotationByName(handle, "UIName");
    platform::ParameterDesc uiDesc;
    if (ui == nullptr || fx->GetParameterDesc(ui, &uiDesc) != platform::kOk ||
        uiDesc.type != platform::kTypeString) {
      continue;
    }
    const std::string name = desc.name;
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    const bool vectorLike = desc.parameterClass == platform::kClassScalar ||
                            desc.parameterClass == platform::kClassVector;
    if (desc.type == platform::kTypeFloat && vectorLike && desc.elements == 0 &&
        desc.columns >= 1 && desc.columns <= 4) {
      platform::Vector4 v{0, 0, 0, 0};
      fx->GetVector(handle, &v);
      switch (desc.columns) {
        case 1: p.AddFloat(name, v.x, false); break;
        case 2: p.AddFloat2(name, v.x, v.y, false); break;
        case 3: p.AddFloat3(name, v.x, v.y, v.z, false); break;
        default: p.AddFloat4(name, v.x, v.y, v.z, v.w, false); break;
      }
      names.push_back(name);
    } else if (desc.type >= platform::kTypeTexture && desc.type <= platform::kTypeTextureCube) {
      p.AddTexture(name, core::ResourceManager::Get()->Get<ManagedTexture>(L"data/default.dds"),
                   true);
      names.push_back(name);
    }
  }
  // A pass that reads bones gets the raw entry the mesh points at its palette.
  if (mPass.mStreams.count(kStreamBone) != 0 && p.mRaw.empty()) {
    if (const char* bones = fx->GetParameterBySemantic(nullptr, kBonesSemantic)) {
      platform::ParameterDesc desc;
      fx->GetParameterDesc(bones, &desc);
      p.AddRaw(desc.name, nullptr, 0);
    }
  }

  auto resolve = [&](int list, const std::string& name) {
    const char* handle = fx->GetParameterByName(nullptr, name.c_str());
    if (handle == nullptr) {
      ENGINE_WARNING("No such parameter " + name + " in shader " + mEffectPath);
    }
    mHandles[list].push_back(handle);
    return handle;
  };
  auto save = [&](int savedList, const char* handle, std::uint32_t bytes) {
    ShaderParameters::param128 value{};
    if (handle != nullptr) fx->GetValue(handle, &value, bytes);
    mSaved[savedList].push_back(value);
  };
  for (const auto& e : p.mFloat4) save(0, resolve(0, e.name), 16);
  for (const auto& e : p.mFloat3) save(1, resolve(1, e.name), 12);
  for (const auto& e : p.mFloat2) save(2, resolve(2, e.name), 8);
  for (const auto& e : p.mScalars) save(3, resolve(3, e.name), 4);
  for (const auto& e : p.mIpos) resolve(4, e.name);
  for (const auto& e : p.mBools) save(4, resolve(5, e.name), 1);
  for (const auto& e : p.mTextures) resolve(6, e.name);
  for (const auto& e : p.mRaw) resolve(7, e.name);

  for (const SemanticRow& row : kSemantics) {
    if (const char* handle = fx->GetParameterBySemantic(nullptr, row.semantic)) {
      mBindings.emplace_back(handle, row.bind);
    }
  }
  mLoadStamp = mEffect->LastWrite();
}

void Shader::Draw(boost::shared_ptr<RenderObject> object) {
  if (!object) return;
  core::StageScope state(core::Stage::State);
  if (mEffect->LastWrite() != mLoadStamp) Setup();
  platform::Effect* fx = Loaded();
  for (const auto& b : mBindings) b.second(*object, fx, b.first);

  const ShaderParameters& p = mPass.mParameters;
  auto active = [](const ShaderParameters::Flag& f) { return f && f->b != 0; };
  for (std::size_t i = 0; i < p.mBools.size(); ++i) {
    if (mHandles[5][i] != nullptr && active(p.mBoolsActive[i])) fx->SetValue(mHandles[5][i], p.mBools[i].value.get(), 1);
  }
  for (std::size_t i = 0; i < p.mScalars.size(); ++i) {
    const char* h = mHandles[3][i];
    if (h == nullptr || !active(p.mScalarsActive[i])) continue;
    if (p.mScalars[i].isInt) {
      fx->SetInt(h, p.mScalars[i].value->i);
    } else {
      fx->SetFloat(h, p.mScalars[i].value->f);
    }
  }
  for (std::size_t i = 0; i < p.mIpos.size(); ++i) {
    if (mHandles[4][i] != nullptr && active(p.mIposActive[i]) && p.mIpos[i].value != nullptr) {
      fx->SetValue(mHandles[4][i], p.mIpos[i].value, 4);
    }
  }
  for (std::size_t i = 0; i < p.mFloat2.size(); ++i) {
    if (mHandles[2][i] != nullptr && active(p.mFloat2Active[i])) fx->SetValue(mHandles[2][i], p.mFloat2[i].value.get(), 8);
  }
  for (std::size_t i = 0; i < p.mFloat3.size(); ++i) {
    if (mHandles[1][i] != nullptr && active(p.mFloat3Active[i])) fx->SetValue(mHandles[1][i], p.mFloat3[i].value.get(), 12);
  }
  for (std::size_t i = 0; i < p.mFloat4.size(); ++i) {
    if (mHandles[0][i] != nullptr && active(p.mFloat4Active[i])) fx->SetValue(mHandles[0][i], p.mFloat4[i].value.get(), 16);
  }
  for (std::size_t i = 0; i < p.mTextures.size(); ++i) {
    if (mHandles[6][i] != nullptr && active(p.mTexturesActive[i])) {
      fx->SetTexture(mHandles[6][i], p.mTextures[i].Retrieve());
    }
  }
  for (std::size_t i = 0; i < p.mRaw.size(); ++i) {
    if (mHandles[7][i] != nullptr && p.mRaw[i].data != nullptr) {
      fx->SetRawValue(mHandles[7][i], p.mRaw[i].data, 0, p.mRaw[i].bytes);
    }
  }
  fx->CommitChanges();

  platform::Device* device = core::CWin32Window::Get()->Device();
  RenderContext* context = RenderContext::Active();
  if (context == nullptr || context->mCurrentDeclaration != object->mDeclaration) {
    device->SetVertexDeclaration(object->mDeclaration);
    if (context != nullptr) context->mCurrentDeclaration = object->mDeclaration;
  }
  if (context == nullptr || context->mCurrentVertexBuffer != object->mVertexBuffer) {
    device->SetStreamSource(0, object->mVertexBuffer, 0, static_cast<std::uint32_t>(object->mStride));
    if (context != nullptr) context->mCurrentVertexBuffer = object->mVertexBuffer;
  }
  if (context == nullptr || context->mCurrentIndexBuffer != object->mIndexBuffer) {
    device->SetIndices(object->mIndexBuffer);
    if (context != nullptr) context->mCurrentIndexBuffer = object->mIndexBuffer;
  }
  {
    core::StageScope draw(core::Stage::Draw);
    if (platform::Failed(device->DrawIndexedPrimitive(
            static_cast<platform::PrimitiveType>(object->mPrimitiveType), 0, 0,
            static_cast<std::uint32_t>(object->mVertexCount),
            static_cast<std::uint32_t>(object->mStartIndex),
            static_cast<std::uint32_t>(object->mPrimitiveCount)))) {
      ENGINE_ERROR("Failed to render an object");
    }
  }

  // The effect's own values again, for the next shader of the same file.
  for (std::size_t i = 0; i < p.mBools.size(); ++i) {
    if (mHandles[5][i] != nullptr && active(p.mBoolsActive[i])) fx->SetValue(mHandles[5][i], &mSaved[4][i], 1);
  }
  for (std::size_t i = 0; i < p.mScalars.size(); ++i) {
    if (mHandles[3][i] != nullptr && active(p.mScalarsActive[i])) fx->SetValue(mHandles[3][i], &mSaved[3][i], 4);
  }
  for (std::size_t i = 0; i < p.mFloat2.size(); ++i) {
    if (mHandles[2][i] != nullptr && active(p.mFloat2Active[i])) fx->SetValue(mHandles[2][i], &mSaved[2][i], 8);
  }
  for (std::size_t i = 0; i < p.mFloat3.size(); ++i) {
    if (mHandles[1][i] != nullptr && active(p.mFloat3Active[i])) fx->SetValue(mHandles[1][i], &mSaved[1][i], 12);
  }
  for (std::size_t i = 0; i < p.mFloat4.size(); ++i) {
    if (mHandles[0][i] != nullptr && active(p.mFloat4Active[i])) fx->SetValue(mHandles[0][i], &mSaved[0][i], 16);
  }
}

int Shader::BeginPass(unsigned i) {
  // A reloaded effect has new handles: the technique is set with the old one
  // before the first Draw would notice, so set up again here.
  if (i == 0 && mEffect->LastWrite() != mLoadStamp) Setup();
  platform::Effect* fx = Loaded();
  if (i == 0) {
    fx->SetTechnique(mTechniqueHandle);
    std::uint32_t passes = 0;
    fx->Begin(&passes, 0);
    gPassCount = static_cast<int>(passes);
    if (gPassCount == 0) fx->End();
  }
  if (static_cast<int>(i) < gPassCount) {
    fx->BeginPass(i);
    gCurrentPass = static_cast<int>(i);
  }
  return gPassCount;
}

void Shader::EndPass() {
  platform::Effect* fx = Loaded();
  fx->EndPass();
  if (gCurrentPass == gPassCount - 1) fx->End();
}

void Shader::Activate() {
  if (!mIsQuad || !mQuad) return;
  if (RenderContext* context = RenderContext::Active()) context->Submit(mQuad->GetRenderObject());
}

}  // namespace engine::gfx
