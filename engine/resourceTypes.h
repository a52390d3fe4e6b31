#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>
#include <type_traits>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/singleton.h"

namespace platform {
class BaseTexture;
class Texture;
class Effect;
class Buffer;
}  // namespace platform

namespace engine::core {

// A GPU-side object with a name (its file for file-backed ones) that builds
// and releases its graphics object on demand.
class ENGINE_API Resource {
 public:
  explicit Resource(const std::wstring& name) : mName(name) {}
  virtual ~Resource();
  virtual void Create() = 0;
  virtual void Destroy() = 0;
  // Refresh when the source changed; nothing by default.
  virtual void Update();
  const std::wstring& Name() const { return mName; }
  void Name(const std::wstring& name) { mName = name; }

 protected:
  std::wstring mName;
};

// A resource of the device's default pool: it must let go of its object
// when the device is lost and build it again after the reset.
class ENGINE_API UnmanagedResource : public Resource {
 public:
  using Resource::Resource;
  virtual void OnLost() = 0;
  virtual void OnReset() = 0;
};

// Holds the graphics interface pointer of a resource (null while it does
// not exist).
template <class T>
class ResourceRetriever {
 public:
  T Retrieve() const { return mObject; }

 protected:
  T mObject = nullptr;
};

// Owns every resource, finds them by name, creates them on first request
// and passes the device's events on.
class ENGINE_API ResourceManager : public pattern::Singleton<ResourceManager> {
 public:
  ResourceManager();
  ~ResourceManager() override;

  // The instance (created on first use) next to the lookup by name.
  using pattern::Singleton<ResourceManager>::Get;

  void AddManaged(const std::wstring& name, boost::shared_ptr<Resource> resource);
  void AddUnmanaged(const std::wstring& name, boost::shared_ptr<UnmanagedResource> resource);
  void AddUnnamedManaged(boost::shared_ptr<Resource> resource);
  void AddUnnamedUnmanaged(boost::shared_ptr<UnmanagedResource> resource);

  // The resource of that name, created, loaded and registered on first use.
  template <class T>
  boost::shared_ptr<T> Get(const std::wstring& name) {
    if (boost::shared_ptr<Resource> found = Find(name)) {
      boost::shared_ptr<T> typed = boost::dynamic_pointer_cast<T>(found);
      if (!typed) WrongClass(name);
      return typed;
    }
    boost::shared_ptr<T> created(new T(name));
    created->Create();  // throws: nothing is registered
    if constexpr (std::is_base_of_v<UnmanagedResource, T>) {
      AddUnmanaged(name, created);
    } else {
      AddManaged(name, created);
    }
    return created;
  }

  // The resource of that name and class when one is registered; never
  // creates one.
  template <class T>
  boost::shared_ptr<T> Registered(const std::wstring& name) const {
    return boost::dynamic_pointer_cast<T>(Find(name));
  }

  void LostDevice();
  void ResetDevice();
  void UpdateAll();

 private:
  boost::shared_ptr<Resource> Find(const std::wstring& name) const;
  [[noreturn]] void WrongClass(const std::wstring& name) const;

  std::map<std::wstring, boost::shared_ptr<Resource>> mManaged;
  std::map<std::wstring, boost::shared_ptr<UnmanagedResource>> mUnmanaged;
  std::list<boost::shared_ptr<Resource>> mUnnamedManaged;
  std::list<boost::shared_ptr<UnmanagedResource>> mUnnamedUnmanaged;
};

}  // namespace engine::core

namespace engine::core::resources {

// A texture loaded from a file into the managed pool: it survives a reset.
class ENGINE_API ManagedTexture : public Resource, public ResourceRetriever<platform::BaseTexture*> {
 public:
  explicit ManagedTexture(const std::wstring& name) : Resource(name) {}
  ~ManagedTexture() override;
  void Create() override;
  void Destroy() override;
  void Update() override;
  // Loads the file again beside the texture in use, which is replaced only
  // when the new one loads (the error is thrown, the old one kept).
  void Reload();
  // 0 for a plain texture, 2 for a cube texture.
  virtual int TextureType();
};

class ENGINE_API ManagedCubeTexture : public ManagedTexture {
 public:
  using ManagedTexture::ManagedTexture;
  void Create() override;
  void Destroy() override;
  int TextureType() override;
};

// A texture the renderer draws into (default pool: rebuilt after a reset).
class ENGINE_API RenderTargetTexture : public UnmanagedResource,
                                       public ResourceRetriever<platform::Texture*> {
 public:
  explicit RenderTargetTexture(const std::wstring& name);
  RenderTargetTexture(const std::wstring& name, int size);
  RenderTargetTexture(const std::wstring& name, int width, int height);
  ~RenderTargetTexture() override;
  void Create() override;
  void Destroy() override;
  void OnLost() override;
  void OnReset() override;
  // True: drawn into the back buffer and copied out; false: bound directly.
  virtual bool ViaBackBuffer();
  void SetViaBackBuffer(bool via) { mViaBackBuffer = via; }
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }

 protected:
  // A one-level default-pool target of that format; failure is thrown.
  void CreateTexture(int format, const std::string& failure);

  std::int32_t mWidth, mHeight;
  bool mViaBackBuffer = true;
};

// A single-channel 32-bit float target into which shaders write depth.
class ENGINE_API DepthTexture : public RenderTargetTexture {
 public:
  explicit DepthTexture(const std::wstring& name) : RenderTargetTexture(name, 512, 512) {}
  void Create() override;
  void OnReset() override;
  bool ViaBackBuffer() override;
};

// An effect file compiled with the shared effect pool; rebuilt by Update
// when the file's time stamp changes.
class ENGINE_API FXEffect : public UnmanagedResource, public ResourceRetriever<platform::Effect*> {
 public:
  explicit FXEffect(const std::wstring& name) : UnmanagedResource(name) {}
  ~FXEffect() override;
  void Create() override;
  void Destroy() override;
  void Update() override;
  void OnLost() override;
  void OnReset() override;
  // The stamp of the file and its includes at the last load; shaders
  // compare it to know of a reload.
  std::uint64_t LastWrite() const { return mLastWrite; }
  // The compiler's messages of the last load (empty when none).
  std::string Errors() const;
  // Why the latest reloads failed, one text per effect that still draws
  // with its last good version (the compiler's messages, naming file and
  // line); empty once every such effect has reloaded.
  static std::vector<std::string> ReloadFailures();

 private:
  void Release();

  platform::Buffer* mErrors = nullptr;
  std::uint64_t mLastWrite = 0;
};

}  // namespace engine::core::resources

namespace engine::pattern {
extern template class Singleton<core::ResourceManager>;
}  // namespace engine::pattern
