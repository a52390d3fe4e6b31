#include "engine/shaderParameters.h"

#include "engine/resourceTypes.h"
#include "platform/graphics.h"

namespace engine::gfx {
namespace {

ShaderParameters::Flag NewFlag(bool active) {
  ShaderParameters::Flag flag(new ShaderParameters::param8);
  flag->b = active ? 1 : 0;
  return flag;
}

}  // namespace

platform::BaseTexture* ShaderParameters::Texture::Retrieve() const {
  if (texture) return texture->Retrieve();
  if (target) return target->Retrieve();
  return nullptr;
}

void ShaderParameters::AddFloat4(const std::string& name, float x, float y, float z, float w,
                                 bool active) {
  boost::shared_ptr<param128> v(new param128{{x, y, z, w}});
  mFloat4.push_back({name, v});
  mFloat4Active.push_back(NewFlag(active));
}

void ShaderParameters::AddFloat3(const std::string& name, float x, float y, float z, bool active) {
  boost::shared_ptr<param96> v(new param96{{x, y, z}});
  mFloat3.push_back({name, v});
  mFloat3Active.push_back(NewFlag(active));
}

void ShaderParameters::AddFloat2(const std::string& name, float x, float y, bool active) {
  boost::shared_ptr<param64> v(new param64{{x, y}});
  mFloat2.push_back({name, v});
  mFloat2Active.push_back(NewFlag(active));
}

void ShaderParameters::AddFloat(const std::string& name, float f, bool active) {
  boost::shared_ptr<param32> v(new param32);
  v->f = f;
  mScalars.push_back({name, v, false});
  mScalarsActive.push_back(NewFlag(active));
}

void ShaderParameters::AddInt(const std::string& name, std::int32_t i, bool active) {
  boost::shared_ptr<param32> v(new param32);
  v->i = i;
  mScalars.push_back({name, v, true});
  mScalarsActive.push_back(NewFlag(active));
}

void ShaderParameters::AddIpo(const std::string& name, std::int32_t i, bool active) {
  Ipo entry;
  entry.name = name;
  entry.own.reset(new param32);
  entry.own->i = i;
  entry.value = entry.own.get();
  mIpos.push_back(entry);
  mIposActive.push_back(NewFlag(active));
}

void ShaderParameters::AddBool(const std::string& name, bool b, bool active) {
  boost::shared_ptr<param8> v(new param8);
  v->b = b ? 1 : 0;
  mBools.push_back({name, v});
  mBoolsActive.push_back(NewFlag(active));
}

void ShaderParameters::AddTexture(const std::string& name,
                                  boost::shared_ptr<core::resources::ManagedTexture> texture,
                                  bool active) {
  Texture entry;
  entry.name = name;
  entry.texture = std::move(texture);
  mTextures.push_back(entry);
  mTexturesActive.push_back(NewFlag(active));
}

void ShaderParameters::AddTexture(const std::string& name,
                                  boost::shared_ptr<core::resources::RenderTargetTexture> target,
                                  bool active) {
  Texture entry;
  entry.name = name;
  entry.target = std::move(target);
  mTextures.push_back(entry);
  mTexturesActive.push_back(NewFlag(active));
}

void ShaderParameters::AddRaw(const std::string& name, const void* data, std::uint32_t bytes) {
  mRaw.push_back({name, data, bytes});
}

std::vector<std::string> ShaderParameters::Names() const {
  std::vector<std::string> names;
  for (const auto& e : mFloat4) names.push_back(e.name);
  for (const auto& e : mFloat3) names.push_back(e.name);
  for (const auto& e : mFloat2) names.push_back(e.name);
  for (const auto& e : mScalars) names.push_back(e.name);
  for (const auto& e : mIpos) names.push_back(e.name);
  for (const auto& e : mBools) names.push_back(e.name);
  for (const auto& e : mTextures) names.push_back(e.name);
  return names;
}

}  // namespace engine::gfx
