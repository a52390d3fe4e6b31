#include "platform/null/nullGraphics.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "platform/graphicsShared.h"
#include "platform/window.h"

namespace platform::null {
namespace {

Settings gSettings;
std::vector<std::string> gRecord;
int gDefaultPoolAlive = 0;
int gNextId = 1;
class NullDevice* gLiveDevice = nullptr;

// Counts a fault down; true when this call is the one to fail.
bool Take(int& counter) {
  if (counter <= 0) return false;
  --counter;
  return true;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

void Record(const std::string& line) { gRecord.push_back(line); }

class NullSurface : public shared::CpuSurface {
 public:
  NullSurface(std::string name, const SurfaceDesc& desc)
      : CpuSurface(desc), mName(std::move(name)) {}
  const std::string& Name() const { return mName; }

 private:
  std::string mName;
};

std::string NameOf(Surface* surface) {
  return surface == nullptr ? "null" : static_cast<NullSurface*>(surface)->Name();
}

// Counted for the Reset rule.
class DefaultPoolMember : public shared::DefaultPoolMember {
 public:
  explicit DefaultPoolMember(Pool pool) : shared::DefaultPoolMember(pool, gDefaultPoolAlive) {}
};

class NullTexture : public Texture {
 public:
  NullTexture(const std::string& name, std::uint32_t w, std::uint32_t h, std::uint32_t levels,
              std::uint32_t usage, Format format, Pool pool)
      : mName(name), mPool(pool) {
    for (std::uint32_t level = 0; level < levels; ++level) {
      SurfaceDesc desc{format, usage, pool, 0, std::max(1u, w >> level), std::max(1u, h >> level)};
      mLevels.push_back(new NullSurface(name + ":" + std::to_string(level), desc));
    }
  }
  ~NullTexture() override {
    for (NullSurface* s : mLevels) s->Release();
  }

  const std::string& Name() const { return mName; }
  std::uint32_t GetLevelCount() override { return static_cast<std::uint32_t>(mLevels.size()); }

  Result GetSurfaceLevel(std::uint32_t level, Surface** surface) override {
    if (surface == nullptr || level >= mLevels.size()) return kInvalidCall;
    if (Take(gSettings.failGetSurface)) return kFail;
    mLevels[level]->AddRef();
    *surface = mLevels[level];
    return kOk;
  }

  Result GetLevelDesc(std::uint32_t level, SurfaceDesc* desc) override {
    if (level >= mLevels.size()) return kInvalidCall;
    return mLevels[level]->GetDesc(desc);
  }

  Result LockRect(std::uint32_t level, LockedRect* locked, const Rect* rect,
                  std::uint32_t flags) override {
    if (level >= mLevels.size()) return kInvalidCall;
    return mLevels[level]->LockRect(locked, rect, flags);
  }

  Result UnlockRect(std::uint32_t level) override {
    if (level >= mLevels.size()) return kInvalidCall;
    return mLevels[level]->UnlockRect();
  }

 private:
  std::string mName;
  Pool mPool;
  DefaultPoolMember mMember{mPool};
  std::vector<NullSurface*> mLevels;
};

class NullCubeTexture : public CubeTexture {
 public:
  NullCubeTexture(const std::string& name, std::uint32_t edge, std::uint32_t levels,
                  std::uint32_t usage, Format format, Pool pool)
      : mName(name), mMember(pool), mLevels(levels) {
    for (std::uint32_t face = 0; face < 6; ++face) {
      for (std::uint32_t level = 0; level < levels; ++level) {
        const std::uint32_t size = std::max(1u, edge >> level);
        SurfaceDesc desc{format, usage, pool, 0, size, size};
        mSurfaces.push_back(new NullSurface(
            name + ":" + std::to_string(face) + ":" + std::to_string(level), desc));
      }
    }
  }
  ~NullCubeTexture() override {
    for (NullSurface* s : mSurfaces) s->Release();
  }

  std::uint32_t GetLevelCount() override { return mLevels; }

  Result GetCubeMapSurface(CubeFace face, std::uint32_t level, Surface** surface) override {
    if (surface == nullptr || face > kCubeFaceNegativeZ || level >= mLevels) return kInvalidCall;
    if (Take(gSettings.failGetSurface)) return kFail;
    NullSurface* s = mSurfaces[face * mLevels + level];
    s->AddRef();
    *surface = s;
    return kOk;
  }

  Result GetLevelDesc(std::uint32_t level, SurfaceDesc* desc) override {
    if (level >= mLevels) return kInvalidCall;
    return mSurfaces[level]->GetDesc(desc);
  }

 private:
  std::string mName;
  DefaultPoolMember mMember;
  std::uint32_t mLevels;
  std::vector<NullSurface*> mSurfaces;
};

template <class Base>
class NullBuffer : public Base {
 public:
  NullBuffer(std::string name, const BufferDesc& desc)
      : mName(std::move(name)), mDesc(desc), mMember(desc.pool), mBytes(desc.size) {}

  const std::string& Name() const { return mName; }

  Result Lock(std::uint32_t offset, std::uint32_t size, void** data, std::uint32_t) override {
    if (data == nullptr || mLocked) return kInvalidCall;
    if (size == 0 && offset == 0) size = mDesc.size;
    if (offset > mDesc.size || size > mDesc.size - offset) return kInvalidCall;
    *data = mBytes.data() + offset;
    mLocked = true;
    return kOk;
  }

  Result Unlock() override {
    if (!mLocked) return kInvalidCall;
    mLocked = false;
    return kOk;
  }

  Result GetDesc(BufferDesc* desc) override {
    if (desc == nullptr) return kInvalidCall;
    *desc = mDesc;
    return kOk;
  }

  const std::vector<std::uint8_t>& Bytes() const { return mBytes; }

 private:
  std::string mName;
  BufferDesc mDesc;
  DefaultPoolMember mMember;
  std::vector<std::uint8_t> mBytes;
  bool mLocked = false;
};

using NullVertexBuffer = NullBuffer<VertexBuffer>;
using NullIndexBuffer = NullBuffer<IndexBuffer>;

class NullDeclaration : public shared::StoredDeclaration {
 public:
  NullDeclaration(std::string name, std::vector<VertexElement> elements)
      : StoredDeclaration(std::move(elements)), mName(std::move(name)) {}
  const std::string& Name() const { return mName; }

 private:
  std::string mName;
};

using shared::Bind;
using shared::FullChain;
using shared::LevelBytes;

std::uint64_t gGpuClock = 0;
std::uint64_t gPresents = 0;

class NullTimestamp : public Query {
 public:
  Result Issue() override {
    mTime = gGpuClock;
    mPresent = gPresents;
    mIssued = true;
    return kOk;
  }
  Result GetData(std::uint64_t* nanoseconds, bool* ready) override {
    if (nanoseconds == nullptr || ready == nullptr || !mIssued) return kInvalidCall;
    *ready = gPresents > mPresent;
    if (*ready) *nanoseconds = mTime;
    return kOk;
  }

 private:
  std::uint64_t mTime = 0, mPresent = 0;
  bool mIssued = false;
};

class NullDevice : public Device {
 public:
  explicit NullDevice(const PresentParameters& parameters) {
    CreateDefaultTargets(parameters);
    gLiveDevice = this;
  }

  ~NullDevice() override {
    Bind<Surface>(mTarget, nullptr);
    Bind<Surface>(mDepth, nullptr);
    Bind<VertexDeclaration>(mDeclaration, nullptr);
    Bind<VertexBuffer>(mStream, nullptr);
    Bind<IndexBuffer>(mIndices, nullptr);
    for (BaseTexture*& t : mTextures) Bind<BaseTexture>(t, nullptr);
    mBackBuffer->Release();
    if (mAutoDepth != nullptr) mAutoDepth->Release();
    if (gLiveDevice == this) gLiveDevice = nullptr;
  }

  void Lose(int checks) {
    mLost = true;
    mChecksBeforeReset = checks;
  }

  Result TestCooperativeLevel() override {
    if (!mLost) return kOk;
    if (mChecksBeforeReset > 0) {
      --mChecksBeforeReset;
      return kDeviceLost;
    }
    return kDeviceNotReset;
  }

  Result Reset(PresentParameters* parameters) override {
    Record("Reset");
    if (parameters == nullptr || Take(gSettings.failReset)) return kInvalidCall;
    if (mLost && mChecksBeforeReset > 0) return kDeviceLost;
    // The graphics library refuses while default-pool resources live.
    if (gDefaultPoolAlive > 0) return kInvalidCall;
    Bind<Surface>(mTarget, nullptr);
    Bind<Surface>(mDepth, nullptr);
    mBackBuffer->Release();
    if (mAutoDepth != nullptr) mAutoDepth->Release();
    CreateDefaultTargets(*parameters);
    mLost = false;
    return kOk;
  }

  Result Present(const Rect*, const Rect*, Window*, const void*) override {
    if (mLost) return kDeviceLost;
    Record("Present");
    ++gPresents;
    return kOk;
  }

  Result CreateTimestampQuery(Query** query) override {
    if (query == nullptr) return kInvalidCall;
    *query = nullptr;
    if (!gSettings.timestamps) return kNotAvailable;
    Record("CreateTimestampQuery");
    *query = new NullTimestamp();
    return kOk;
  }

  Result BeginScene() override {
    if (mInScene) return kInvalidCall;
    mInScene = true;
    Record("BeginScene");
    return kOk;
  }

  Result EndScene() override {
    if (!mInScene) return kInvalidCall;
    mInScene = false;
    Record("EndScene");
    return kOk;
  }

  Result Clear(std::uint32_t, const Rect*, std::uint32_t flags, std::uint32_t color, float z,
               std::uint32_t stencil) override {
    Record("Clear " + std::to_string(flags) + " " + Hex(color) + " " + std::to_string(z) + " " +
           std::to_string(stencil) + " -> " + NameOf(mTarget));
    return kOk;
  }

  Result GetBackBuffer(std::uint32_t, std::uint32_t index, std::uint32_t,
                       Surface** surface) override {
    if (surface == nullptr || index != 0) return kInvalidCall;
    if (Take(gSettings.failGetSurface)) return kFail;
    mBackBuffer->AddRef();
    *surface = mBackBuffer;
    return kOk;
  }

  Result GetRenderTarget(std::uint32_t index, Surface** surface) override {
    if (surface == nullptr || index != 0 || mTarget == nullptr) return kInvalidCall;
    if (Take(gSettings.failGetSurface)) return kFail;
    mTarget->AddRef();
    *surface = mTarget;
    return kOk;
  }

  Result SetRenderTarget(std::uint32_t index, Surface* surface) override {
    if (index != 0 || surface == nullptr) return kInvalidCall;
    Bind(mTarget, surface);
    Record("SetRenderTarget 0 " + NameOf(surface));
    return kOk;
  }

  Result GetDepthStencilSurface(Surface** surface) override {
    if (surface == nullptr || mDepth == nullptr) return kInvalidCall;
    mDepth->AddRef();
    *surface = mDepth;
    return kOk;
  }

  Result SetDepthStencilSurface(Surface* surface) override {
    Bind(mDepth, surface);
    Record("SetDepthStencilSurface " + NameOf(surface));
    return kOk;
  }

  Result StretchRect(Surface* source, const Rect*, Surface* destination, const Rect*,
                     TextureFilter filter) override {
    if (source == nullptr || destination == nullptr) return kInvalidCall;
    Record("StretchRect " + NameOf(source) + " " + NameOf(destination) + " " +
           std::to_string(filter));
    return kOk;
  }

  Result GetRenderTargetData(Surface* renderTarget, Surface* destination) override {
    SurfaceDesc from, to;
    if (renderTarget == nullptr || destination == nullptr) return kInvalidCall;
    renderTarget->GetDesc(&from);
    destination->GetDesc(&to);
    if (to.pool != kPoolSystemMem || from.width != to.width || from.height != to.height) {
      return kInvalidCall;
    }
    Record("GetRenderTargetData " + NameOf(renderTarget) + " " + NameOf(destination));
    return kOk;
  }

  Result CreateOffscreenPlainSurface(std::uint32_t width, std::uint32_t height, Format format,
                                     Pool pool, Surface** surface) override {
    if (surface == nullptr || width == 0 || height == 0) return kInvalidCall;
    *surface = new NullSurface("surface#" + std::to_string(gNextId++),
                               SurfaceDesc{format, 0, pool, 0, width, height});
    return kOk;
  }

  Result CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels,
                       std::uint32_t usage, Format format, Pool pool, Texture** texture,
                       void*) override {
    if (texture == nullptr || width == 0 || height == 0) return kInvalidCall;
    if ((usage & kUsageRenderTarget) != 0 && pool != kPoolDefault) return kInvalidCall;
    if (Take(gSettings.failCreateTexture)) return kOutOfVideoMemory;
    if (levels == 0) levels = (usage & kUsageAutoGenMipmap) != 0 ? 1 : FullChain(width, height);
    levels = std::min(levels, FullChain(width, height));
    auto* created = new NullTexture("texture#" + std::to_string(gNextId++), width, height,
                                    levels, usage, format, pool);
    Record("CreateTexture " + std::to_string(width) + " " + std::to_string(height) + " " +
           std::to_string(levels) + " " + std::to_string(usage) + " " + std::to_string(format) +
           " " + std::to_string(pool) + " -> " + created->Name());
    *texture = created;
    return kOk;
  }

  Result CreateCubeTexture(std::uint32_t edge, std::uint32_t levels, std::uint32_t usage,
                           Format format, Pool pool, CubeTexture** texture, void*) override {
    if (texture == nullptr || edge == 0) return kInvalidCall;
    if (Take(gSettings.failCreateTexture)) return kOutOfVideoMemory;
    if (levels == 0) levels = FullChain(edge, edge);
    levels = std::min(levels, FullChain(edge, edge));
    const std::string name = "cube#" + std::to_string(gNextId++);
    Record("CreateCubeTexture " + std::to_string(edge) + " " + std::to_string(levels) + " -> " +
           name);
    *texture = new NullCubeTexture(name, edge, levels, usage, format, pool);
    return kOk;
  }

  Result CreateVertexBuffer(std::uint32_t length, std::uint32_t usage, std::uint32_t,
                            Pool pool, VertexBuffer** buffer, void*) override {
    if (buffer == nullptr || length == 0) return kInvalidCall;
    if (Take(gSettings.failCreateVertexBuffer)) return kOutOfVideoMemory;
    const std::string name = "vertices#" + std::to_string(gNextId++);
    Record("CreateVertexBuffer " + std::to_string(length) + " -> " + name);
    *buffer = new NullVertexBuffer(name, BufferDesc{length, usage, pool, kFormatUnknown});
    return kOk;
  }

  Result CreateIndexBuffer(std::uint32_t length, std::uint32_t usage, Format format, Pool pool,
                           IndexBuffer** buffer, void*) override {
    if (buffer == nullptr || length == 0) return kInvalidCall;
    if (format != kFormatIndex16 && format != kFormatIndex32) return kInvalidCall;
    if (Take(gSettings.failCreateIndexBuffer)) return kOutOfVideoMemory;
    const std::string name = "indices#" + std::to_string(gNextId++);
    Record("CreateIndexBuffer " + std::to_string(length) + " " + std::to_string(format) +
           " -> " + name);
    *buffer = new NullIndexBuffer(name, BufferDesc{length, usage, pool, format});
    return kOk;
  }

  Result CreateVertexDeclaration(const VertexElement* elements,
                                 VertexDeclaration** declaration) override {
    if (elements == nullptr || declaration == nullptr) return kInvalidCall;
    if (Take(gSettings.failCreateDeclaration)) return kOutOfMemory;
    std::vector<VertexElement> copy;
    if (!shared::ReadDeclaration(elements, 0xFF, copy)) return kInvalidCall;
    const std::string name = "declaration#" + std::to_string(gNextId++);
    std::string line = "CreateVertexDeclaration";
    for (const VertexElement& e : copy) {
      if (e.stream == 0xFF) break;
      line += " " + std::to_string(e.offset) + ":" + std::to_string(e.type) + ":" +
              std::to_string(e.usage) + ":" + std::to_string(e.usageIndex);
    }
    Record(line + " -> " + name);
    *declaration = new NullDeclaration(name, std::move(copy));
    return kOk;
  }

  Result SetVertexDeclaration(VertexDeclaration* declaration) override {
    Bind(mDeclaration, declaration);
    Record("SetVertexDeclaration " +
           (declaration ? static_cast<NullDeclaration*>(declaration)->Name() : "null"));
    return kOk;
  }

  Result SetStreamSource(std::uint32_t stream, VertexBuffer* buffer, std::uint32_t offset,
                         std::uint32_t stride) override {
    if (stream != 0) return kInvalidCall;
    Bind(mStream, buffer);
    mStride = stride;
    Record("SetStreamSource 0 " +
           (buffer ? static_cast<NullVertexBuffer*>(buffer)->Name() : std::string("null")) + " " +
           std::to_string(offset) + " " + std::to_string(stride));
    return kOk;
  }

  Result SetIndices(IndexBuffer* buffer) override {
    Bind(mIndices, buffer);
    Record("SetIndices " +
           (buffer ? static_cast<NullIndexBuffer*>(buffer)->Name() : std::string("null")));
    return kOk;
  }

  Result SetTexture(std::uint32_t stage, BaseTexture* texture) override {
    if (stage >= mTextures.size()) return kInvalidCall;
    Bind(mTextures[stage], texture);
    return kOk;
  }

  Result DrawIndexedPrimitive(PrimitiveType type, std::int32_t baseVertex,
                              std::uint32_t minIndex, std::uint32_t numVertices,
                              std::uint32_t startIndex, std::uint32_t primitiveCount) override {
    if (!mInScene || mDeclaration == nullptr || mStream == nullptr || mIndices == nullptr) {
      return kInvalidCall;
    }
    if (Take(gSettings.failDraw)) return kFail;
    gGpuClock += gSettings.drawNanoseconds;
    Record("DrawIndexedPrimitive " + std::to_string(type) + " " + std::to_string(baseVertex) +
           " " + std::to_string(minIndex) + " " + std::to_string(numVertices) + " " +
           std::to_string(startIndex) + " " + std::to_string(primitiveCount) + " -> " +
           NameOf(mTarget));
    return kOk;
  }

  Result SetTransform(TransformState state, const Matrix* matrix) override {
    if (matrix == nullptr) return kInvalidCall;
    mTransforms[state] = *matrix;
    return kOk;
  }

  Result GetTransform(TransformState state, Matrix* matrix) override {
    if (matrix == nullptr) return kInvalidCall;
    const auto it = mTransforms.find(state);
    if (it == mTransforms.end()) {
      MatrixIdentity(matrix);
    } else {
      *matrix = it->second;
    }
    return kOk;
  }

  Result GetDeviceCaps(Caps* caps) override {
    if (caps == nullptr) return kInvalidCall;
    *caps = gSettings.caps;
    return kOk;
  }

 private:
  void CreateDefaultTargets(const PresentParameters& p) {
    std::uint32_t w = p.backBufferWidth, h = p.backBufferHeight;
    if (w == 0 || h == 0) {
      const Window* window = p.deviceWindow;
      w = window != nullptr ? static_cast<std::uint32_t>(window->Width()) : 1024;
      h = window != nullptr ? static_cast<std::uint32_t>(window->Height()) : 768;
    }
    mBackBuffer = new NullSurface(
        "backbuffer",
        SurfaceDesc{p.backBufferFormat, kUsageRenderTarget, kPoolDefault, p.multiSampleType, w, h});
    mAutoDepth = nullptr;
    if (p.enableAutoDepthStencil) {
      mAutoDepth = new NullSurface("depth", SurfaceDesc{p.autoDepthStencilFormat,
                                                        kUsageDepthStencil, kPoolDefault,
                                                        p.multiSampleType, w, h});
    }
    Bind<Surface>(mTarget, mBackBuffer);
    Bind<Surface>(mDepth, mAutoDepth);
  }

  NullSurface* mBackBuffer = nullptr;
  NullSurface* mAutoDepth = nullptr;
  Surface* mTarget = nullptr;
  Surface* mDepth = nullptr;
  VertexDeclaration* mDeclaration = nullptr;
  VertexBuffer* mStream = nullptr;
  std::uint32_t mStride = 0;
  IndexBuffer* mIndices = nullptr;
  std::vector<BaseTexture*> mTextures = std::vector<BaseTexture*>(16, nullptr);
  std::map<TransformState, Matrix> mTransforms;
  bool mInScene = false;
  bool mLost = false;
  int mChecksBeforeReset = 0;
};

class NullDirect3D : public shared::DisplayAdapter {
 public:
  Result GetAdapterIdentifier(std::uint32_t adapter, std::uint32_t,
                              AdapterIdentifier* identifier) override {
    if (adapter != 0 || identifier == nullptr) return kInvalidCall;
    *identifier = gSettings.identifier;
    return kOk;
  }

  Result GetDeviceCaps(std::uint32_t adapter, DeviceType, Caps* caps) override {
    if (adapter != 0 || caps == nullptr) return kInvalidCall;
    *caps = gSettings.caps;
    return kOk;
  }

  Result CheckDeviceMultiSampleType(std::uint32_t adapter, DeviceType, Format format, bool,
                                    int level, std::uint32_t* qualityLevels) override {
    Record("CheckDeviceMultiSampleType " + std::to_string(format) + " " + std::to_string(level));
    if (adapter != 0) return kInvalidCall;
    static const std::vector<int> kDefault = {0, 2, 4};
    const auto it = gSettings.multisampleLevels.find(format);
    const std::vector<int>& levels = it == gSettings.multisampleLevels.end() ? kDefault : it->second;
    if (std::find(levels.begin(), levels.end(), level) == levels.end()) return kNotAvailable;
    if (qualityLevels != nullptr) *qualityLevels = 1;
    return kOk;
  }

  Result CreateDevice(std::uint32_t adapter, DeviceType, Window*, std::uint32_t behaviorFlags,
                      PresentParameters* parameters, Device** device) override {
    Record("CreateDevice " + Hex(behaviorFlags));
    if (adapter != 0 || parameters == nullptr || device == nullptr) return kInvalidCall;
    if (Take(gSettings.failCreateDevice)) return kNotAvailable;
    *device = new NullDevice(*parameters);
    return kOk;
  }
};

}  // namespace

Caps Settings::DefaultCaps() {
  Caps caps;
  caps.textureCaps = kTextureCapsCubeMap;
  caps.vertexProcessingCaps = 0x1FF;
  caps.maxTextureWidth = caps.maxTextureHeight = 8192;
  caps.maxSimultaneousTextures = 16;
  caps.numSimultaneousRTs = 4;
  caps.vertexShaderVersion = 0xFFFE0300;
  caps.pixelShaderVersion = 0xFFFF0300;
  caps.maxAnisotropy = 16;
  return caps;
}

Settings& GetSettings() { return gSettings; }

void ResetSettings() {
  gSettings = Settings();
  gRecord.clear();
}

const std::vector<std::string>& CallRecord() { return gRecord; }
void RecordCall(const std::string& line) { Record(line); }
void ClearCallRecord() { gRecord.clear(); }

void LoseDevice(int checksBeforeReset) {
  if (gLiveDevice != nullptr) gLiveDevice->Lose(checksBeforeReset);
}

int LiveDefaultPoolResources() { return gDefaultPoolAlive; }

Direct3D* CreateDirect3D() { return new NullDirect3D; }

}  // namespace platform::null
