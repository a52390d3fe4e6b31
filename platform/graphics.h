#pragma once

#include <cstdint>
#include <string>

#include "platform/api.h"
#include "platform/d3dmath.h"
#include "platform/display.h"
#include "platform/formats.h"

// The graphics interface the engine draws through. It offers the operations
// of the graphics library the engine was designed for, with the same
// arguments, numeric codes and results: negative results are failures,
// objects are reference counted and released explicitly, images are in
// Direct3D row order (row 0 is the top) and clip-space depth runs 0..1.
//
// Two backends stand behind it: gl (OpenGL 4.5 core, the default) and null
// (no GPU and no display: every call succeeds, is recorded and can be made
// to fail; see platform/null/nullGraphics.h).
namespace platform {

class Window;

// --- Results ----------------------------------------------------------------

using Result = std::int32_t;

constexpr Result kOk = 0;
constexpr Result kFail = static_cast<Result>(0x80004005);
constexpr Result kOutOfMemory = static_cast<Result>(0x8007000E);
constexpr Result kInvalidCall = static_cast<Result>(0x8876086C);
constexpr Result kNotAvailable = static_cast<Result>(0x8876086A);
constexpr Result kNotFound = static_cast<Result>(0x88760866);
constexpr Result kDeviceLost = static_cast<Result>(0x88760868);
constexpr Result kDeviceNotReset = static_cast<Result>(0x88760869);
constexpr Result kOutOfVideoMemory = static_cast<Result>(0x8876017C);

inline bool Failed(Result r) { return r < 0; }

// --- Codes ------------------------------------------------------------------

enum Usage : std::uint32_t {
  kUsageRenderTarget = 0x1,
  kUsageDepthStencil = 0x2,
  kUsageWriteOnly = 0x8,
  kUsageDynamic = 0x200,
  kUsageAutoGenMipmap = 0x400,
};

enum Pool : std::uint32_t { kPoolDefault = 0, kPoolManaged = 1, kPoolSystemMem = 2 };

enum PrimitiveType : std::uint32_t {
  kPointList = 1,
  kLineList = 2,
  kLineStrip = 3,
  kTriangleList = 4,
  kTriangleStrip = 5,
  kTriangleFan = 6,
};

enum ClearFlags : std::uint32_t { kClearTarget = 0x1, kClearZBuffer = 0x2, kClearStencil = 0x4 };

enum TransformState : std::uint32_t { kTransformView = 2, kTransformProjection = 3, kTransformWorld = 256 };

enum DeviceType : std::uint32_t { kDeviceHal = 1, kDeviceRef = 2 };

// Behaviour flags of device creation.
constexpr std::uint32_t kSoftwareVertexProcessing = 0x20;
constexpr std::uint32_t kHardwareVertexProcessing = 0x40;

constexpr std::uint32_t kPresentIntervalDefault = 0;
constexpr std::uint32_t kPresentIntervalOne = 1;
constexpr std::uint32_t kPresentIntervalImmediate = 0x80000000;

constexpr std::uint32_t kSwapEffectDiscard = 1;

constexpr int kMultiSampleNone = 0;

enum TextureFilter : std::uint32_t { kFilterNone = 0, kFilterPoint = 1, kFilterLinear = 2 };

enum CubeFace : std::uint32_t {
  kCubeFacePositiveX = 0,
  kCubeFaceNegativeX = 1,
  kCubeFacePositiveY = 2,
  kCubeFaceNegativeY = 3,
  kCubeFacePositiveZ = 4,
  kCubeFaceNegativeZ = 5,
};

// Vertex declaration element types and usages.
enum DeclType : std::uint8_t {
  kDeclFloat1 = 0,
  kDeclFloat2 = 1,
  kDeclFloat3 = 2,
  kDeclFloat4 = 3,
  kDeclColor = 4,
  kDeclUByte4 = 5,
  kDeclUnused = 17,
};

enum DeclUsage : std::uint8_t {
  kDeclUsagePosition = 0,
  kDeclUsageBlendWeight = 1,
  kDeclUsageBlendIndices = 2,
  kDeclUsageNormal = 3,
  kDeclUsagePSize = 4,
  kDeclUsageTexCoord = 5,
  kDeclUsageTangent = 6,
  kDeclUsageBinormal = 7,
  kDeclUsageColor = 10,
};

constexpr std::uint8_t kDeclMethodDefault = 0;

// Layout of the graphics library's declaration element; a declaration ends
// with the element whose stream is 0xFF and type kDeclUnused.
struct VertexElement {
  std::uint16_t stream;
  std::uint16_t offset;
  std::uint8_t type;
  std::uint8_t method;
  std::uint8_t usage;
  std::uint8_t usageIndex;
};

constexpr VertexElement kDeclEnd = {0xFF, 0, kDeclUnused, 0, 0, 0};

// --- Records ----------------------------------------------------------------

struct Rect {
  std::int32_t left, top, right, bottom;
};

struct LockedRect {
  std::int32_t pitch = 0;
  void* bits = nullptr;
};

struct SurfaceDesc {
  Format format = kFormatUnknown;
  std::uint32_t usage = 0;
  Pool pool = kPoolDefault;
  int multiSampleType = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

struct BufferDesc {
  std::uint32_t size = 0;
  std::uint32_t usage = 0;
  Pool pool = kPoolDefault;
  Format format = kFormatUnknown;  // index buffers: kFormatIndex16 or kFormatIndex32
};

struct AdapterIdentifier {
  std::string driver;
  std::string description;
  std::string deviceName;
  std::uint32_t vendorId = 0;
  std::uint32_t deviceId = 0;
  std::string api;  // what the device draws through ("OpenGL ES 3.0"); empty when nothing real
};

// Texture capability bits.
constexpr std::uint32_t kTextureCapsPow2 = 0x2;
constexpr std::uint32_t kTextureCapsNonPow2Conditional = 0x100;
constexpr std::uint32_t kTextureCapsCubeMap = 0x800;

// The capabilities the engine reads.
struct Caps {
  DeviceType deviceType = kDeviceHal;
  std::uint32_t adapterOrdinal = 0;
  std::uint32_t textureCaps = 0;
  std::uint32_t vertexProcessingCaps = 0;
  std::uint32_t maxTextureWidth = 0;
  std::uint32_t maxTextureHeight = 0;
  std::uint32_t maxSimultaneousTextures = 0;
  std::uint32_t numSimultaneousRTs = 0;
  std::uint32_t vertexShaderVersion = 0;  // 0xFFFE0300 for vs_3_0
  std::uint32_t pixelShaderVersion = 0;   // 0xFFFF0300 for ps_3_0
  std::uint32_t maxAnisotropy = 0;
};

struct PresentParameters {
  std::uint32_t backBufferWidth = 0;  // 0 when windowed: the window's client size
  std::uint32_t backBufferHeight = 0;
  Format backBufferFormat = kFormatX8R8G8B8;
  std::uint32_t backBufferCount = 1;
  int multiSampleType = 0;
  std::uint32_t multiSampleQuality = 0;
  std::uint32_t swapEffect = kSwapEffectDiscard;
  Window* deviceWindow = nullptr;  // null: the focus window
  bool windowed = true;
  bool enableAutoDepthStencil = true;
  Format autoDepthStencilFormat = kFormatD24X8;
  std::uint32_t flags = 0;
  std::uint32_t fullScreenRefreshRateInHz = 0;
  std::uint32_t presentationInterval = kPresentIntervalDefault;
};

// --- Objects ----------------------------------------------------------------

// Reference counted: created with one reference; Release() at zero frees it.
class PLATFORM_API Unknown {
 public:
  std::uint32_t AddRef();
  std::uint32_t Release();

 protected:
  Unknown() = default;
  virtual ~Unknown();
  Unknown(const Unknown&) = delete;
  Unknown& operator=(const Unknown&) = delete;

 private:
  std::uint32_t mReferences = 1;
};

class PLATFORM_API Surface : public Unknown {
 public:
  virtual Result GetDesc(SurfaceDesc* desc) = 0;
  // Lockable surfaces only (system memory, or textures of the managed pool).
  virtual Result LockRect(LockedRect* locked, const Rect* rect, std::uint32_t flags) = 0;
  virtual Result UnlockRect() = 0;
};

class PLATFORM_API BaseTexture : public Unknown {
 public:
  virtual std::uint32_t GetLevelCount() = 0;
};

class PLATFORM_API Texture : public BaseTexture {
 public:
  // The surface of a level; the caller releases it.
  virtual Result GetSurfaceLevel(std::uint32_t level, Surface** surface) = 0;
  virtual Result GetLevelDesc(std::uint32_t level, SurfaceDesc* desc) = 0;
  virtual Result LockRect(std::uint32_t level, LockedRect* locked, const Rect* rect,
                          std::uint32_t flags) = 0;
  virtual Result UnlockRect(std::uint32_t level) = 0;
};

class PLATFORM_API CubeTexture : public BaseTexture {
 public:
  virtual Result GetCubeMapSurface(CubeFace face, std::uint32_t level, Surface** surface) = 0;
  virtual Result GetLevelDesc(std::uint32_t level, SurfaceDesc* desc) = 0;
};

class PLATFORM_API VertexBuffer : public Unknown {
 public:
  // size 0 locks the whole buffer.
  virtual Result Lock(std::uint32_t offset, std::uint32_t size, void** data,
                      std::uint32_t flags) = 0;
  virtual Result Unlock() = 0;
  virtual Result GetDesc(BufferDesc* desc) = 0;
};

class PLATFORM_API IndexBuffer : public Unknown {
 public:
  virtual Result Lock(std::uint32_t offset, std::uint32_t size, void** data,
                      std::uint32_t flags) = 0;
  virtual Result Unlock() = 0;
  virtual Result GetDesc(BufferDesc* desc) = 0;
};

class PLATFORM_API VertexDeclaration : public Unknown {
 public:
  // Copies the elements including the end marker; count in/out.
  virtual Result GetDeclaration(VertexElement* elements, std::uint32_t* count) = 0;
};

// A GPU timestamp for profiling: Issue marks the point of the command stream
// whose time is wanted; GetData reads it once the GPU has passed it, so a
// frame's queries are read a frame or two later and nothing waits.
class PLATFORM_API Query : public Unknown {
 public:
  virtual Result Issue() = 0;
  // kOk with *ready false while the GPU has not got there yet; the time is
  // in nanoseconds on the device's own clock.
  virtual Result GetData(std::uint64_t* nanoseconds, bool* ready) = 0;
};

class PLATFORM_API Device : public Unknown {
 public:
  // kDeviceLost while the device cannot be reset yet, kDeviceNotReset when
  // Reset would succeed, kOk otherwise.
  virtual Result TestCooperativeLevel() = 0;
  // Every default-pool resource must have been released before.
  virtual Result Reset(PresentParameters* parameters) = 0;
  // Shows the back buffer in the window (scaled when the sizes differ).
  virtual Result Present(const Rect* source, const Rect* destination, Window* override,
                         const void* dirtyRegion) = 0;
  virtual Result BeginScene() = 0;
  virtual Result EndScene() = 0;
  // color is ARGB; rects null clears the whole viewport.
  virtual Result Clear(std::uint32_t count, const Rect* rects, std::uint32_t flags,
                       std::uint32_t color, float z, std::uint32_t stencil) = 0;

  virtual Result GetBackBuffer(std::uint32_t swapChain, std::uint32_t index, std::uint32_t type,
                               Surface** surface) = 0;
  virtual Result GetRenderTarget(std::uint32_t index, Surface** surface) = 0;
  virtual Result SetRenderTarget(std::uint32_t index, Surface* surface) = 0;
  virtual Result GetDepthStencilSurface(Surface** surface) = 0;
  virtual Result SetDepthStencilSurface(Surface* surface) = 0;
  // Copies (and scales) between render-target surfaces and textures' levels.
  virtual Result StretchRect(Surface* source, const Rect* sourceRect, Surface* destination,
                             const Rect* destinationRect, TextureFilter filter) = 0;
  // Reads a render target into a lockable system-memory surface of the same
  // size and format (screenshots).
  virtual Result GetRenderTargetData(Surface* renderTarget, Surface* destination) = 0;
  // The same read started without waiting for the GPU: the pixels are in
  // the destination once it is next locked, and only that lock waits for
  // what is still outstanding. A recording keeps a frame or two in flight
  // this way. Where a backend has nothing better it reads at once.
  virtual Result GetRenderTargetDataAsync(Surface* renderTarget, Surface* destination) {
    return GetRenderTargetData(renderTarget, destination);
  }
  virtual Result CreateOffscreenPlainSurface(std::uint32_t width, std::uint32_t height,
                                             Format format, Pool pool, Surface** surface) = 0;

  virtual Result CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels,
                               std::uint32_t usage, Format format, Pool pool, Texture** texture,
                               void* sharedHandle) = 0;
  virtual Result CreateCubeTexture(std::uint32_t edge, std::uint32_t levels, std::uint32_t usage,
                                   Format format, Pool pool, CubeTexture** texture,
                                   void* sharedHandle) = 0;
  virtual Result CreateVertexBuffer(std::uint32_t length, std::uint32_t usage,
                                    std::uint32_t fvf, Pool pool, VertexBuffer** buffer,
                                    void* sharedHandle) = 0;
  virtual Result CreateIndexBuffer(std::uint32_t length, std::uint32_t usage, Format format,
                                   Pool pool, IndexBuffer** buffer, void* sharedHandle) = 0;
  virtual Result CreateVertexDeclaration(const VertexElement* elements,
                                         VertexDeclaration** declaration) = 0;

  virtual Result SetVertexDeclaration(VertexDeclaration* declaration) = 0;
  virtual Result SetStreamSource(std::uint32_t stream, VertexBuffer* buffer,
                                 std::uint32_t offset, std::uint32_t stride) = 0;
  virtual Result SetIndices(IndexBuffer* buffer) = 0;
  virtual Result SetTexture(std::uint32_t stage, BaseTexture* texture) = 0;
  virtual Result DrawIndexedPrimitive(PrimitiveType type, std::int32_t baseVertex,
                                      std::uint32_t minIndex, std::uint32_t numVertices,
                                      std::uint32_t startIndex,
                                      std::uint32_t primitiveCount) = 0;

  virtual Result SetTransform(TransformState state, const Matrix* matrix) = 0;
  virtual Result GetTransform(TransformState state, Matrix* matrix) = 0;
  virtual Result GetDeviceCaps(Caps* caps) = 0;

  // Timestamp queries; kNotAvailable where the device has no GPU clock.
  virtual Result CreateTimestampQuery(Query** query) {
    if (query != nullptr) *query = nullptr;
    return kNotAvailable;
  }
};

// The adapter object: the graphics library's root.
class PLATFORM_API Direct3D : public Unknown {
 public:
  virtual std::uint32_t GetAdapterCount() = 0;
  virtual Result GetAdapterIdentifier(std::uint32_t adapter, std::uint32_t flags,
                                      AdapterIdentifier* identifier) = 0;
  virtual Result GetAdapterDisplayMode(std::uint32_t adapter, DisplayMode* mode) = 0;
  virtual std::uint32_t GetAdapterModeCount(std::uint32_t adapter, Format format) = 0;
  virtual Result EnumAdapterModes(std::uint32_t adapter, Format format, std::uint32_t index,
                                  DisplayMode* mode) = 0;
  virtual Result GetDeviceCaps(std::uint32_t adapter, DeviceType type, Caps* caps) = 0;
  // kOk when the format supports that multisample level.
  virtual Result CheckDeviceMultiSampleType(std::uint32_t adapter, DeviceType type,
                                            Format format, bool windowed, int multiSampleType,
                                            std::uint32_t* qualityLevels) = 0;
  virtual Result CreateDevice(std::uint32_t adapter, DeviceType type, Window* focusWindow,
                              std::uint32_t behaviorFlags, PresentParameters* parameters,
                              Device** device) = 0;
};

enum class Backend { GL, Null };

// The backend Direct3DCreate picks: Null when the environment says
// VELOX_GRAPHICS=null or SetDefaultBackend chose it, GL otherwise.
PLATFORM_API Backend DefaultBackend();
PLATFORM_API void SetDefaultBackend(Backend backend);

// A new adapter object of the default backend; null when that backend
// cannot run at all.
PLATFORM_API Direct3D* Direct3DCreate();
PLATFORM_API Direct3D* Direct3DCreate(Backend backend);

}  // namespace platform
