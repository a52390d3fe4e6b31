#include "engine/resourceTypes.h"

#include <fstream>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "engine/Window.h"
#include "engine/logging.h"
#include "engine/strings.h"
#include "platform/effect.h"
#include "platform/graphics.h"
#include "platform/textureFiles.h"

namespace engine::pattern {
template class Singleton<core::ResourceManager>;
}  // namespace engine::pattern

namespace engine::core {

Resource::~Resource() = default;
void Resource::Update() {}

ResourceManager::ResourceManager() = default;

ResourceManager::~ResourceManager() {
  LostDevice();
  for (auto& r : mUnmanaged) r.second->Destroy();
  for (auto& r : mManaged) r.second->Destroy();
  for (auto& r : mUnnamedUnmanaged) r->Destroy();
  for (auto& r : mUnnamedManaged) r->Destroy();
  mUnmanaged.clear();
  mManaged.clear();
  mUnnamedUnmanaged.clear();
  mUnnamedManaged.clear();
}

void ResourceManager::AddManaged(const std::wstring& name, boost::shared_ptr<Resource> resource) {
  mManaged[name] = std::move(resource);
}

void ResourceManager::AddUnmanaged(const std::wstring& name,
                                   boost::shared_ptr<UnmanagedResource> resource) {
  mUnmanaged[name] = std::move(resource);
}

void ResourceManager::AddUnnamedManaged(boost::shared_ptr<Resource> resource) {
  mUnnamedManaged.push_back(std::move(resource));
}

void ResourceManager::AddUnnamedUnmanaged(boost::shared_ptr<UnmanagedResource> resource) {
  mUnnamedUnmanaged.push_back(std::move(resource));
}

boost::shared_ptr<Resource> ResourceManager::Find(const std::wstring& name) const {
  auto managed = mManaged.find(name);
  if (managed != mManaged.end() && managed->second) return managed->second;
  auto unmanaged = mUnmanaged.find(name);
  if (unmanaged != mUnmanaged.end() && unmanaged->second) return unmanaged->second;
  return nullptr;
}

void ResourceManager::WrongClass(const std::wstring& name) const {
  // Asking for one name under two classes would hand out a wrong object.
  ENGINE_ERROR("Resource " + ToNarrow(name) + " is registered as another kind of resource");
}

void ResourceManager::LostDevice() {
  for (auto& r : mUnmanaged) r.second->OnLost();
  for (auto& r : mUnnamedUnmanaged) r->OnLost();
}

void ResourceManager::ResetDevice() {
  for (auto& r : mUnmanaged) r.second->OnReset();
  for (auto& r : mUnnamedUnmanaged) r->OnReset();
}

void ResourceManager::UpdateAll() {
  for (auto& r : mUnmanaged) r.second->Update();
  for (auto& r : mManaged) r.second->Update();
  for (auto& r : mUnnamedUnmanaged) r->Update();
  for (auto& r : mUnnamedManaged) r->Update();
}

}  // namespace engine::core

namespace engine::core::resources {
namespace {

platform::Device* TheDevice() {
  CWin32Window* window = CWin32Window::Get();
  return window != nullptr ? window->Device() : nullptr;
}

// The file's last-write time in nanoseconds; false when it cannot be read.
bool LastWriteTime(const std::wstring& name, std::uint64_t* time) {
  struct stat info {};
  if (::stat(ToNarrow(name).c_str(), &info) != 0) return false;
  *time = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000ull +
          static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
  return true;
}

// The effect file's write stamp, changed also when a file it includes
// (`#include "..."`, followed through nested includes) is written: a shared
// header saved reloads every effect built from it. False when the effect
// file itself cannot be read.
bool SourceStamp(const std::wstring& name, std::uint64_t* stamp) {
  if (!LastWriteTime(name, stamp)) return false;
  std::set<std::string> seen;
  std::vector<std::pair<std::string, int>> pending = {{ToNarrow(name), 0}};
  while (!pending.empty()) {
    const auto [file, depth] = pending.back();
    pending.pop_back();
    if (!seen.insert(file).second || depth > 16 || seen.size() > 256) continue;
    std::ifstream in(file);
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
    std::string line;
    while (std::getline(in, line)) {
      std::size_t i = line.find_first_not_of(" \t");
      if (i == std::string::npos || line[i] != '#') continue;
      i = line.find_first_not_of(" \t", i + 1);
      if (i == std::string::npos || line.compare(i, 7, "include") != 0) continue;
      const std::size_t first = line.find('"', i + 7), last = line.find('"', first + 1);
      if (first == std::string::npos || last == std::string::npos) continue;
      const std::string included = line.substr(first + 1, last - first - 1);
      const std::string path = !included.empty() && included[0] == '/' ? included : folder + included;
      std::uint64_t time = 0;
      if (!LastWriteTime(ToWide(path), &time)) continue;  // the compiler says why
      *stamp = *stamp * 1000003ull ^ time;
      pending.emplace_back(path, depth + 1);
    }
  }
  return true;
}

// One pool for every effect of the run, so shared parameters have one value.
platform::EffectPool* gPool = nullptr;

}  // namespace

ManagedTexture::~ManagedTexture() {
  if (mObject != nullptr) mObject->Release();
}

void ManagedTexture::Create() {
  ENGINE_MESSAGE("Creating managed texture " + ToNarrow(mName));
  platform::Texture* texture = nullptr;
  platform::Device* device = TheDevice();
  if (device == nullptr ||
      platform::Failed(platform::CreateTextureFromFile(
          device, mName, platform::kDefault, platform::kDefault, platform::kDefault, 0,
          platform::kFromFile, platform::kPoolManaged, &texture))) {
    mObject = nullptr;
    ENGINE_ERROR("Failed to create texture " + ToNarrow(mName));
  }
  mObject = texture;
}

void ManagedTexture::Destroy() {
  ENGINE_MESSAGE("Destroying managed texture " + ToNarrow(mName));
  if (mObject != nullptr) mObject->Release();
  mObject = nullptr;
}

void ManagedTexture::Update() {}

void ManagedTexture::Reload() {
  platform::BaseTexture* old = std::exchange(mObject, nullptr);
  try {
    Create();
  } catch (...) {
    if (mObject != nullptr) mObject->Release();
    mObject = old;
    throw;
  }
  if (old != nullptr) old->Release();
}
int ManagedTexture::TextureType() { return 0; }

void ManagedCubeTexture::Create() {
  ENGINE_MESSAGE("Creating managed cube texture " + ToNarrow(mName));
  platform::CubeTexture* texture = nullptr;
  platform::Device* device = TheDevice();
  if (device == nullptr ||
      platform::Failed(platform::CreateCubeTextureFromFile(
          device, mName, platform::kDefault, platform::kDefault, 0, platform::kFromFile,
          platform::kPoolManaged, &texture))) {
    mObject = nullptr;
    ENGINE_ERROR("Failed to create texture " + ToNarrow(mName));
  }
  mObject = texture;
}

void ManagedCubeTexture::Destroy() {
  ENGINE_MESSAGE("Destroying managed cube texture " + ToNarrow(mName));
  if (mObject != nullptr) mObject->Release();
  mObject = nullptr;
}

int ManagedCubeTexture::TextureType() { return 2; }

RenderTargetTexture::RenderTargetTexture(const std::wstring& name)
    : RenderTargetTexture(name, 256, 256) {}
RenderTargetTexture::RenderTargetTexture(const std::wstring& name, int size)
    : RenderTargetTexture(name, size, size) {}
RenderTargetTexture::RenderTargetTexture(const std::wstring& name, int width, int height)
    : UnmanagedResource(name), mWidth(width), mHeight(height) {}

RenderTargetTexture::~RenderTargetTexture() {
  if (mObject != nullptr) mObject->Release();
}

void RenderTargetTexture::Create() {
  ENGINE_MESSAGE("Creating render target texture " + ToNarrow(mName));
  CreateTexture(CWin32Window::Get()->Settings().backBufferFormat,
                "Failed to create render target texture " + ToNarrow(mName));
}

void RenderTargetTexture::CreateTexture(int format, const std::string& failure) {
  platform::Device* device = TheDevice();
  platform::Texture* texture = nullptr;
  if (mObject != nullptr) mObject->Release();
  mObject = nullptr;
  if (device == nullptr || mWidth <= 0 || mHeight <= 0 ||
      platform::Failed(device->CreateTexture(static_cast<std::uint32_t>(mWidth),
                                             static_cast<std::uint32_t>(mHeight), 1,
                                             platform::kUsageRenderTarget,
                                             static_cast<platform::Format>(format),
                                             platform::kPoolDefault, &texture, nullptr))) {
    ENGINE_ERROR(failure);
  }
  mObject = texture;
}

void RenderTargetTexture::Destroy() {
  ENGINE_MESSAGE("Destroying render target texture " + ToNarrow(mName));
  if (mObject != nullptr) mObject->Release();
  mObject = nullptr;
}

void RenderTargetTexture::OnLost() {
  ENGINE_MESSAGE("Lost render target texture " + ToNarrow(mName));
  if (mObject != nullptr) mObject->Release();
  mObject = nullptr;
}

void RenderTargetTexture::OnReset() {
  ENGINE_MESSAGE("Resetting render target texture " + ToNarrow(mName));
  Create();
}

bool RenderTargetTexture::ViaBackBuffer() { return mViaBackBuffer; }

void DepthTexture::Create() {
  ENGINE_MESSAGE("Creating depth texture " + ToNarrow(mName));
  CreateTexture(platform::kFormatR32F, "Failed to create depth texture");
}

void DepthTexture::OnReset() {
  ENGINE_MESSAGE("Resetting depth texture " + ToNarrow(mName));
  Create();
}

bool DepthTexture::ViaBackBuffer() { return false; }

static std::map<std::wstring, std::string>& ReloadFailureTexts() {
  static std::map<std::wstring, std::string> failures;
  return failures;
}

FXEffect::~FXEffect() {
  ReloadFailureTexts().erase(mName);
  Release();
  if (mErrors != nullptr) mErrors->Release();
}

void FXEffect::Release() {
  if (mObject != nullptr) mObject->Release();
  mObject = nullptr;
}

std::string FXEffect::Errors() const {
  return mErrors != nullptr ? static_cast<const char*>(mErrors->GetBufferPointer()) : "";
}

void FXEffect::Create() {
  Release();
  ENGINE_MESSAGE("Creating .fx effect " + ToNarrow(mName));
  if (gPool == nullptr) platform::CreateEffectPool(&gPool);
  if (mErrors != nullptr) mErrors->Release();
  mErrors = nullptr;
  platform::Effect* effect = nullptr;
  platform::Device* device = TheDevice();
  if (device == nullptr ||
      platform::Failed(platform::CreateEffectFromFile(device, mName, nullptr, nullptr,
                                                      platform::kShaderOptimizationLevel3, gPool,
                                                      &effect, &mErrors))) {
    // The compiler's words first, so the log says why.
    if (mErrors != nullptr) ENGINE_WARNING(Errors());
    ENGINE_ERROR("Failed to create effect " + ToNarrow(mName));
  }
  mObject = effect;
  std::uint64_t time = 0;
  if (!SourceStamp(mName, &time)) ENGINE_ERROR("Could not get file attributes");
  mLastWrite = time;
  if (mObject == nullptr) ENGINE_ERROR("Failed to create effect " + ToNarrow(mName));
}

std::vector<std::string> FXEffect::ReloadFailures() {
  std::vector<std::string> texts;
  for (const auto& f : ReloadFailureTexts()) texts.push_back(f.second);
  return texts;
}

void FXEffect::Update() {
  std::uint64_t time = 0;
  if (!SourceStamp(mName, &time)) {
    if (mObject == nullptr) ENGINE_ERROR("Could not get file attributes");
    // Removed, or in the middle of being replaced: the last good version
    // draws until the file is back.
    std::string& failure = ReloadFailureTexts()[mName];
    const std::string text = ToNarrow(mName) + ": file missing";
    if (failure != text) ENGINE_WARNING("Effect " + text + "; drawing with the last good one");
    failure = text;
    return;
  }
  if (time == mLastWrite) return;
  ENGINE_MESSAGE("Updating " + ToNarrow(mName));
  if (mObject == nullptr) {
    Create();
    ReloadFailureTexts().erase(mName);
    return;
  }
  // The new version is compiled beside the old one: while it is broken the
  // frame goes on with the last good one and the reason is reported. The
  // time stamp stays, so the next reload tries again.
  ENGINE_MESSAGE("Creating .fx effect " + ToNarrow(mName));
  platform::Effect* effect = nullptr;
  platform::Buffer* errors = nullptr;
  if (platform::Failed(platform::CreateEffectFromFile(TheDevice(), mName, nullptr, nullptr,
                                                      platform::kShaderOptimizationLevel3, gPool,
                                                      &effect, &errors)) ||
      effect == nullptr) {
    std::string text = errors != nullptr ? static_cast<const char*>(errors->GetBufferPointer()) : "";
    if (errors != nullptr) errors->Release();
    if (effect != nullptr) effect->Release();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) text = ToNarrow(mName) + ": does not compile";
    ReloadFailureTexts()[mName] = text;
    ENGINE_WARNING("Failed to reload effect " + ToNarrow(mName) + "; drawing with the last good one: " +
                   text);
    return;
  }
  Release();
  if (mErrors != nullptr) mErrors->Release();
  mErrors = errors;
  mObject = effect;
  mLastWrite = time;
  ReloadFailureTexts().erase(mName);
}

void FXEffect::OnLost() {
  ENGINE_MESSAGE("Lost .fx effect " + ToNarrow(mName));
  if (mObject != nullptr) mObject->OnLostDevice();
}

void FXEffect::OnReset() {
  ENGINE_MESSAGE("Resetting .fx effect " + ToNarrow(mName));
  if (mObject != nullptr) mObject->OnResetDevice();
}

void FXEffect::Destroy() {
  ENGINE_MESSAGE("Destroying .fx effect " + ToNarrow(mName));
  Release();
}

}  // namespace engine::core::resources
