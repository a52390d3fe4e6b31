#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"

namespace platform {
class BaseTexture;
}

namespace engine::core::resources {
class ManagedTexture;
class RenderTargetTexture;
}  // namespace engine::core::resources

namespace engine::gfx {

// The typed values of one render pass: what a material script gives, or
// what the effect itself declares for the user ("UIName"). Each value and
// each activity flag lives in its own holder so that copies of a pass share
// them.
class ENGINE_API ShaderParameters {
 public:
  union param8 {
    std::uint8_t b;
  };
  union param32 {
    float f;
    std::int32_t i;
  };
  union param64 {
    float f[2];
  };
  union param96 {
    float f[3];
  };
  union param128 {
    float f[4];
  };

  template <class V>
  struct Entry {
    std::string name;
    boost::shared_ptr<V> value;
  };
  struct Scalar {
    std::string name;
    boost::shared_ptr<param32> value;
    bool isInt = false;  // reaches the effect as an integer
  };
  // An animated value: the 4 bytes behind `value`, at first `own` (0); the
  // scene loader points it at the animation channel of the same name.
  struct Ipo {
    std::string name;
    boost::shared_ptr<param32> own;
    const void* value = nullptr;
  };
  // One of the texture resources; exactly one pointer is set.
  struct Texture {
    std::string name;
    boost::shared_ptr<core::resources::ManagedTexture> texture;
    boost::shared_ptr<core::resources::RenderTargetTexture> target;
    platform::BaseTexture* Retrieve() const;
  };
  // Caller-owned memory (a bone palette).
  struct Raw {
    std::string name;
    const void* data = nullptr;
    std::uint32_t bytes = 0;
  };
  using Flag = boost::shared_ptr<param8>;

  void AddFloat4(const std::string& name, float x, float y, float z, float w, bool active);
  void AddFloat3(const std::string& name, float x, float y, float z, bool active);
  void AddFloat2(const std::string& name, float x, float y, bool active);
  void AddFloat(const std::string& name, float f, bool active);
  void AddInt(const std::string& name, std::int32_t i, bool active);
  void AddIpo(const std::string& name, std::int32_t i, bool active);
  void AddBool(const std::string& name, bool b, bool active);
  void AddTexture(const std::string& name,
                  boost::shared_ptr<core::resources::ManagedTexture> texture, bool active);
  void AddTexture(const std::string& name,
                  boost::shared_ptr<core::resources::RenderTargetTexture> target, bool active);
  void AddRaw(const std::string& name, const void* data, std::uint32_t bytes);

  // Every name of the first seven lists.
  std::vector<std::string> Names() const;

  std::vector<Entry<param128>> mFloat4;
  std::vector<Entry<param96>> mFloat3;
  std::vector<Entry<param64>> mFloat2;
  std::vector<Scalar> mScalars;
  std::vector<Ipo> mIpos;
  std::vector<Entry<param8>> mBools;
  std::vector<Texture> mTextures;
  std::vector<Raw> mRaw;

  std::vector<Flag> mFloat4Active, mFloat3Active, mFloat2Active, mScalarsActive, mIposActive,
      mBoolsActive, mTexturesActive;
};

}  // namespace engine::gfx
