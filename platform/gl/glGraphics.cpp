#include "platform/gl/glGraphics.h"
#include "platform/gl/glApi.h"
#include "platform/gl/glInternal.h"
#include "platform/gl/glPixels.h"
#include "platform/gl/glSurface.h"
#include "platform/graphicsShared.h"


#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/window.h"

namespace platform::gl {
namespace {

Matrix IdentityMatrix() {
  Matrix m;
  MatrixIdentity(&m);
  return m;
}

std::string gLastError;
bool gCapturePresents = false;
std::vector<std::uint32_t> gPresented;
int gPresentedWidth = 0, gPresentedHeight = 0;
int gDefaultPoolAlive = 0;
class GlDevice* gLiveDevice = nullptr;

bool ContextCurrent() { return surface::CurrentContext() != nullptr; }

// Which device's context is live: 0 when none, a new number for each device.
std::uint64_t gContextSerial = 0;
std::uint64_t gLastSerial = 0;
bool gContextGone = false;  // the live device's context was lost and is not made again yet

// GL objects may outlive the device that made them (a surface still held by
// the engine); they are deleted only while that device's context lives,
// since a later context reuses the names.
struct GlObject {
  enum Kind { kTexture, kRenderbuffer, kBuffer, kQuery };
  GlObject(Kind k, GLuint n) : kind(k), name(n), serial(gContextSerial) {}
  ~GlObject() {
    if (name == 0 || serial != gContextSerial || !ContextCurrent()) return;
    switch (kind) {
      case kTexture: glDeleteTextures(1, &name); break;
      case kRenderbuffer: glDeleteRenderbuffers(1, &name); break;
      case kBuffer: glDeleteBuffers(1, &name); break;
      case kQuery: glDeleteQueries(1, &name); break;
    }
  }
  GlObject(const GlObject&) = delete;
  GlObject& operator=(const GlObject&) = delete;
  Kind kind;
  GLuint name;
  std::uint64_t serial;
};
using GlHandle = std::shared_ptr<GlObject>;

// Objects are changed while bound, as OpenGL ES has it. Textures are bound
// for that on a unit of their own (effects bind units from 0 up), so that a
// unit an effect set up keeps its texture.
void BindTextureForEdit(GLenum target, GLuint name) {
  glActiveTexture(GL_TEXTURE0 + api::Current().editUnit);
  glBindTexture(target, name);
}

// Made and left bound for editing.
GlHandle NewTexture(GLenum target) {
  GLuint name = 0;
  glGenTextures(1, &name);
  BindTextureForEdit(target, name);
  return std::make_shared<GlObject>(GlObject::kTexture, name);
}

GlHandle NewRenderbuffer() {
  GLuint name = 0;
  glGenRenderbuffers(1, &name);
  glBindRenderbuffer(GL_RENDERBUFFER, name);
  return std::make_shared<GlObject>(GlObject::kRenderbuffer, name);
}

// How a format lives in GL: storage, upload/read-back format and type, and
// the swizzle that gives the sampling result the graphics library defines
// (desktop GL; OpenGL ES gets the same results from the storage it picks).
struct FormatInfo {
  GLenum internal = 0;
  GLenum format = 0;
  GLenum type = 0;
  bool compressed = false;   // stored compressed, uploaded as it is
  bool convert = false;      // uploads go through pixels::ToRgba8 (ES)
  bool filterable = true;    // linear filtering works
  std::array<GLint, 4> swizzle = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
};

// OpenGL ES (and WebGL 2) upload no BGRA order and have no swizzles, so the
// library's formats become RGBA8 or RGB8 bytes on the CPU; RGB8 storage
// reads alpha 1 as the X formats want. S3TC without the extension, or with
// sides WebGL refuses for it, is decompressed at load.
bool LookupEsFormat(Format format, FormatInfo* info) {
  const FormatInfo rgba = {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, false, true};
  const FormatInfo rgb = {GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE, false, true};
  switch (format) {
    case kFormatA8R8G8B8:
    case kFormatA1R5G5B5:
    case kFormatA4R4G4B4:
    case kFormatA8L8: *info = rgba; return true;
    case kFormatX8R8G8B8:
    case kFormatR8G8B8:
    case kFormatX1R5G5B5:
    case kFormatL8: *info = rgb; return true;
    case kFormatR5G6B5: *info = {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5}; return true;
    case kFormatR32F:
      *info = {GL_R32F, GL_RED, GL_FLOAT};
      info->filterable = api::Current().floatLinear;
      return true;
    case kFormatDXT1:
    case kFormatDXT3:
    case kFormatDXT5:
      if (!api::Current().s3tc) {
        *info = rgba;
        return true;
      }
      *info = {format == kFormatDXT1   ? GLenum{GL_COMPRESSED_RGBA_S3TC_DXT1_EXT}
               : format == kFormatDXT3 ? GLenum{GL_COMPRESSED_RGBA_S3TC_DXT3_EXT}
                                       : GLenum{GL_COMPRESSED_RGBA_S3TC_DXT5_EXT},
               0, 0, true};
      return true;
    default: return false;
  }
}

bool LookupFormat(Format format, FormatInfo* info) {
  if (!api::Desktop()) return LookupEsFormat(format, info);
#if VELOX_GL_DESKTOP
  FormatInfo f;
  switch (format) {
    case kFormatA8R8G8B8: f = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE}; break;
    case kFormatX8R8G8B8:
      f = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE};
      f.swizzle[3] = GL_ONE;
      break;
    case kFormatR8G8B8: f = {GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE}; break;
    case kFormatR5G6B5: f = {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5}; break;
    case kFormatX1R5G5B5:
      f = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
      f.swizzle[3] = GL_ONE;
      break;
    case kFormatA1R5G5B5: f = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV}; break;
    case kFormatA4R4G4B4: f = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV}; break;
    case kFormatL8:
      f = {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
      f.swizzle = {GL_RED, GL_RED, GL_RED, GL_ONE};
      break;
    case kFormatA8L8:
      f = {GL_RG8, GL_RG, GL_UNSIGNED_BYTE};
      f.swizzle = {GL_RED, GL_RED, GL_RED, GL_GREEN};
      break;
    case kFormatR32F:
      f = {GL_R32F, GL_RED, GL_FLOAT};
      f.swizzle = {GL_RED, GL_ONE, GL_ONE, GL_ONE};
      break;
    case kFormatDXT1: f = {GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0, true}; break;
    case kFormatDXT3: f = {GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0, true}; break;
    case kFormatDXT5: f = {GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0, true}; break;
    default: return false;
  }
  *info = f;
  return true;
#else
  return false;
#endif
}

bool IsDepthFormat(Format format) {
  return format == kFormatD16 || format == kFormatD24S8 || format == kFormatD24X8 ||
         format == kFormatD32;
}

using shared::Bind;
using shared::BlockFormat;
using shared::FullChain;
using shared::LevelBytes;

// Counted for the Reset rule.
class DefaultPoolMember : public shared::DefaultPoolMember {
 public:
  explicit DefaultPoolMember(Pool pool) : shared::DefaultPoolMember(pool, gDefaultPoolAlive) {}
};

// A number no other object of the process ever gets: what the draw path's
// caches compare, since an address or a GL name may come back after a
// release.
class Serial {
 public:
  std::uint64_t Id() const { return mId; }

 private:
  static std::uint64_t Next() {
    static std::uint64_t last = 0;
    return ++last;
  }
  std::uint64_t mId = Next();
};

// What outlives its context. A browser may take a WebGL context back (low
// memory, a GPU reset), and every GL object with it; textures keep their
// pixels and buffers their bytes on the CPU, so each can make its GL
// objects again in the device's next context.
class Restorable {
 public:
  Restorable() { Live().insert(this); }
  virtual ~Restorable() { Live().erase(this); }
  Restorable(const Restorable&) = delete;
  Restorable& operator=(const Restorable&) = delete;
  // Called with the new context current and no vertex array bound.
  virtual void Restore() = 0;
  static std::set<Restorable*>& Live() {
    static auto* live = new std::set<Restorable*>;  // outlives objects released at exit
    return *live;
  }
};

// One image: a texture level (or a cube face's level), the back buffer's
// colour, a depth buffer or a system-memory surface.
class GlSurface : public shared::CpuSurface {
 public:
  explicit GlSurface(const SurfaceDesc& desc) : CpuSurface(desc) {}

  void Unlocked() override { Upload(); }

  // A read started by GetRenderTargetDataAsync lands here first.
  Result LockRect(LockedRect* locked, const Rect* rect, std::uint32_t flags) override {
    if (!FetchPack()) return kDeviceLost;
    return CpuSurface::LockRect(locked, rect, flags);
  }

  // Copies a finished asynchronous read into the CPU pixels; waits only if
  // the GPU has not written it yet. False when the read was lost with its
  // context (the pixels are not the picture).
  bool FetchPack() {
    if (!mPackPending) return true;
    mPackPending = false;
    if (mPack->serial != gContextSerial || !ContextCurrent()) return false;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, mPack->name);
#if defined(__EMSCRIPTEN__)
    // WebGL 2 maps no buffer for reading; it copies out instead.
    std::vector<std::uint8_t> read(mPackBytes);
    glGetBufferSubData(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(read.size()), read.data());
    const void* packed = read.data();
#else
    const void* packed = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0,
                                          static_cast<GLsizeiptr>(mPackBytes), GL_MAP_READ_BIT);
#endif
    if (packed != nullptr) {
      if (mPackConverted) {
        pixels::FromRgba(mDesc.format, std::size_t{mDesc.width} * mDesc.height, packed,
                         mPixels.data());
      } else {
        std::memcpy(mPixels.data(), packed, std::min(mPackBytes, mPixels.size()));
      }
#if !defined(__EMSCRIPTEN__)
      glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
#endif
    }
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    return true;
  }

  GLenum BindTarget() const { return mFace >= 0 ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D; }
  GLenum ImageTarget() const {
    return mFace >= 0 ? GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(mFace) : GL_TEXTURE_2D;
  }

  // Sends the whole level from the CPU copy, top row first.
  void Upload() {
    if (!mTexture || mPixels.empty()) return;
    const auto w = static_cast<GLsizei>(mDesc.width), h = static_cast<GLsizei>(mDesc.height);
    BindTextureForEdit(BindTarget(), mTexture->name);
    if (mInfo.compressed) {
      glCompressedTexSubImage2D(ImageTarget(), mLevel, 0, 0, w, h, mInfo.internal,
                                static_cast<GLsizei>(mPixels.size()), mPixels.data());
    } else if (mInfo.convert) {
      const std::vector<std::uint8_t> converted =
          pixels::ToRgba8(mDesc.format, mDesc.width, mDesc.height, mPixels.data(), mPixels.size(),
                          mInfo.format == GL_RGB);
      if (converted.empty()) return;
      glTexSubImage2D(ImageTarget(), mLevel, 0, 0, w, h, mInfo.format, mInfo.type,
                      converted.data());
    } else {
      glTexSubImage2D(ImageTarget(), mLevel, 0, 0, w, h, mInfo.format, mInfo.type, mPixels.data());
    }
    if (mLevel == 0 && (mDesc.usage & kUsageAutoGenMipmap) != 0) glGenerateMipmap(BindTarget());
  }

  // Attaches this image as colour or depth to the FBO bound to `fbo`
  // (GL_DRAW_FRAMEBUFFER or GL_READ_FRAMEBUFFER).
  void Attach(GLenum fbo, GLenum point = GL_COLOR_ATTACHMENT0) const {
    if (IsDepthFormat(mDesc.format)) {
      glFramebufferRenderbuffer(fbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
      const GLenum point =
          mDesc.format == kFormatD16 ? GL_DEPTH_ATTACHMENT : GL_DEPTH_STENCIL_ATTACHMENT;
      glFramebufferRenderbuffer(fbo, point, GL_RENDERBUFFER, mRenderbuffer->name);
    } else if (mRenderbuffer) {
      glFramebufferRenderbuffer(fbo, point, GL_RENDERBUFFER, mRenderbuffer->name);
    } else {
      glFramebufferTexture2D(fbo, point, ImageTarget(), mTexture->name, mLevel);
    }
  }

  bool Lockable() const { return mDesc.pool == kPoolSystemMem; }
  bool HasImage() const { return mTexture || mRenderbuffer; }
  bool IsColorTarget() const { return HasImage() && !IsDepthFormat(mDesc.format); }

  GlHandle mTexture;       // the texture holding this level
  FormatInfo mInfo;        // how the texture stores it
  GLint mLevel = 0;
  GLint mFace = -1;        // cube face, -1 for 2D
  GlHandle mRenderbuffer;  // multisampled colour or a depth buffer
  GlHandle mResolve;       // single-sample copy of a multisampled colour
  std::uint64_t mResolvedAt = ~std::uint64_t{0};  // the device's draw count it shows
  GlHandle mPack;          // pixel buffer an asynchronous read writes into
  std::size_t mPackBytes = 0;
  bool mPackConverted = false;  // holds RGBA (ES), converted when fetched
  bool mPackPending = false;
};

// For the texture bound for editing on `target`.
void ApplySampling(GLenum target, const FormatInfo& info, std::uint32_t levels) {
#if VELOX_GL_DESKTOP
  if (api::Desktop()) glTexParameteriv(target, GL_TEXTURE_SWIZZLE_RGBA, info.swizzle.data());
#endif
  glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels) - 1);
  if (info.filterable) {
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, levels > 1 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  } else {
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, levels > 1 ? GL_NEAREST_MIPMAP_NEAREST : GL_NEAREST);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
}

class GlTexture : public Texture, public Restorable {
 public:
  GlTexture(std::uint32_t w, std::uint32_t h, std::uint32_t levels, std::uint32_t storageLevels,
            std::uint32_t usage, Format format, Pool pool, const FormatInfo& info)
      : mMember(pool), mFilterable(info.filterable), mWidth(w), mHeight(h),
        mStorageLevels(storageLevels), mInfo(info) {
    MakeStorage();
    for (std::uint32_t level = 0; level < levels; ++level) {
      auto* s = new GlSurface(
          SurfaceDesc{format, usage, pool, 0, std::max(1u, w >> level), std::max(1u, h >> level)});
      s->mTexture = mHandle;
      s->mInfo = info;
      s->mLevel = static_cast<GLint>(level);
      mLevels.push_back(s);
    }
  }
  ~GlTexture() override {
    for (GlSurface* s : mLevels) s->Release();
  }

  std::uint32_t GetLevelCount() override { return static_cast<std::uint32_t>(mLevels.size()); }

  Result GetSurfaceLevel(std::uint32_t level, Surface** surface) override {
    if (surface == nullptr || level >= mLevels.size()) return kInvalidCall;
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

  void Restore() override {
    MakeStorage();
    for (GlSurface* s : mLevels) {
      s->mTexture = mHandle;
      s->Upload();
    }
  }

  GLuint Name() const { return mHandle->name; }
  bool Filterable() const { return mFilterable; }

 private:
  void MakeStorage() {
    mHandle = NewTexture(GL_TEXTURE_2D);
    glTexStorage2D(GL_TEXTURE_2D, static_cast<GLsizei>(mStorageLevels), mInfo.internal,
                   static_cast<GLsizei>(mWidth), static_cast<GLsizei>(mHeight));
    ApplySampling(GL_TEXTURE_2D, mInfo, mStorageLevels);
  }

  DefaultPoolMember mMember;
  GlHandle mHandle;
  bool mFilterable;
  std::uint32_t mWidth, mHeight, mStorageLevels;
  FormatInfo mInfo;
  std::vector<GlSurface*> mLevels;
};

class GlCubeTexture : public CubeTexture, public Restorable {
 public:
  GlCubeTexture(std::uint32_t edge, std::uint32_t levels, std::uint32_t storageLevels,
                std::uint32_t usage, Format format, Pool pool, const FormatInfo& info)
      : mMember(pool), mFilterable(info.filterable), mLevels(levels), mEdge(edge),
        mStorageLevels(storageLevels), mInfo(info) {
    MakeStorage();
    for (std::uint32_t face = 0; face < 6; ++face) {
      for (std::uint32_t level = 0; level < levels; ++level) {
        const std::uint32_t size = std::max(1u, edge >> level);
        auto* s = new GlSurface(SurfaceDesc{format, usage, pool, 0, size, size});
        s->mTexture = mHandle;
        s->mInfo = info;
        s->mLevel = static_cast<GLint>(level);
        s->mFace = static_cast<GLint>(face);
        mSurfaces.push_back(s);
      }
    }
  }
  ~GlCubeTexture() override {
    for (GlSurface* s : mSurfaces) s->Release();
  }

  std::uint32_t GetLevelCount() override { return mLevels; }

  Result GetCubeMapSurface(CubeFace face, std::uint32_t level, Surface** surface) override {
    if (surface == nullptr || face > kCubeFaceNegativeZ || level >= mLevels) return kInvalidCall;
    GlSurface* s = mSurfaces[face * mLevels + level];
    s->AddRef();
    *surface = s;
    return kOk;
  }

  Result GetLevelDesc(std::uint32_t level, SurfaceDesc* desc) override {
    if (level >= mLevels) return kInvalidCall;
    return mSurfaces[level]->GetDesc(desc);
  }

  void Restore() override {
    MakeStorage();
    for (GlSurface* s : mSurfaces) {
      s->mTexture = mHandle;
      s->Upload();
    }
  }

  GLuint Name() const { return mHandle->name; }
  bool Filterable() const { return mFilterable; }

 private:
  void MakeStorage() {
    mHandle = NewTexture(GL_TEXTURE_CUBE_MAP);
    glTexStorage2D(GL_TEXTURE_CUBE_MAP, static_cast<GLsizei>(mStorageLevels), mInfo.internal,
                   static_cast<GLsizei>(mEdge), static_cast<GLsizei>(mEdge));
    ApplySampling(GL_TEXTURE_CUBE_MAP, mInfo, mStorageLevels);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }

  DefaultPoolMember mMember;
  GlHandle mHandle;
  bool mFilterable;
  std::uint32_t mLevels, mEdge, mStorageLevels;
  FormatInfo mInfo;
  std::vector<GlSurface*> mSurfaces;
};

// Index buffers are edited on ELEMENT_ARRAY_BUFFER under ES, where WebGL 2
// fixes a buffer's kind at its first binding (outside draws the default
// vertex array holds that binding); desktop core has no default vertex
// array, so there they go through a copy target.
GLenum BufferEditTarget(bool indices) {
  if (!indices) return GL_ARRAY_BUFFER;
  return api::Desktop() ? GL_COPY_WRITE_BUFFER : GL_ELEMENT_ARRAY_BUFFER;
}

// A GL buffer with a CPU copy: Lock hands out the copy, Unlock sends the
// locked range, so no mapping outlives a call. Draws that must rewrite
// their indices (ES) read the copy.
template <class Base>
class GlBuffer : public Base, public Serial, public Restorable {
 public:
  GlBuffer(const BufferDesc& desc, bool indices)
      : mDesc(desc), mMember(desc.pool), mBytes(desc.size), mTarget(BufferEditTarget(indices)) {
    Make(nullptr);
  }

  void Restore() override { Make(mBytes.data()); }

  Result Lock(std::uint32_t offset, std::uint32_t size, void** data, std::uint32_t) override {
    if (data == nullptr || mLocked) return kInvalidCall;
    if (size == 0 && offset == 0) size = mDesc.size;
    if (offset > mDesc.size || size > mDesc.size - offset) return kInvalidCall;
    *data = mBytes.data() + offset;
    mLocked = true;
    mLockOffset = offset;
    mLockSize = size;
    return kOk;
  }

  Result Unlock() override {
    if (!mLocked) return kInvalidCall;
    mLocked = false;
    if (mLockSize > 0) {
      glBindBuffer(mTarget, mHandle->name);
      glBufferSubData(mTarget, mLockOffset, mLockSize, mBytes.data() + mLockOffset);
    }
    return kOk;
  }

  Result GetDesc(BufferDesc* desc) override {
    if (desc == nullptr) return kInvalidCall;
    *desc = mDesc;
    return kOk;
  }

  GLuint Name() const { return mHandle->name; }
  const BufferDesc& Desc() const { return mDesc; }
  const std::uint8_t* Bytes() const { return mBytes.data(); }

 private:
  void Make(const void* data) {
    GLuint name = 0;
    glGenBuffers(1, &name);
    glBindBuffer(mTarget, name);
    glBufferData(mTarget, mDesc.size, data,
                 (mDesc.usage & kUsageDynamic) != 0 ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    mHandle = std::make_shared<GlObject>(GlObject::kBuffer, name);
  }

  BufferDesc mDesc;
  DefaultPoolMember mMember;
  std::vector<std::uint8_t> mBytes;
  GLenum mTarget;
  GlHandle mHandle;
  bool mLocked = false;
  std::uint32_t mLockOffset = 0, mLockSize = 0;
};

using GlVertexBuffer = GlBuffer<VertexBuffer>;
using GlIndexBuffer = GlBuffer<IndexBuffer>;

class GlTimestamp : public Query, public Restorable {
 public:
  GlTimestamp() { Restore(); }

  // A stamp issued in the lost context never arrives: not issued.
  void Restore() override {
    GLuint name = 0;
    glGenQueries(1, &name);
    mHandle = std::make_shared<GlObject>(GlObject::kQuery, name);
    mIssued = false;
  }

  Result Issue() override {
    if (!ContextCurrent()) return kInvalidCall;
    // A renderer that defers its work (a software rasterizer binning whole
    // frames) stamps commands when it gets to them, not when they end:
    // VELOX_PROFILE_SYNC=1 finishes the work before each stamp and reads the
    // CPU's clock instead, so that each pass's time is its own, at the price
    // of a slower frame.
    static const bool sync = [] {
      const char* v = std::getenv("VELOX_PROFILE_SYNC");
      return v != nullptr && *v != '\0' && *v != '0';
    }();
    mIssued = true;
    mSynced = sync;
    if (sync) {
      glFinish();
      mTime = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count());
      return kOk;
    }
#if VELOX_GL_DESKTOP
    if (api::Desktop()) {
      glQueryCounter(mHandle->name, GL_TIMESTAMP);
      return kOk;
    }
#endif
    glQueryCounterEXT(mHandle->name, GL_TIMESTAMP_EXT);
    return kOk;
  }

  Result GetData(std::uint64_t* nanoseconds, bool* ready) override {
    if (nanoseconds == nullptr || ready == nullptr || !mIssued || !ContextCurrent()) return kInvalidCall;
    if (mSynced) {
      *ready = true;
      *nanoseconds = mTime;
      return kOk;
    }
    GLuint available = 0;
    glGetQueryObjectuiv(mHandle->name, GL_QUERY_RESULT_AVAILABLE, &available);
    *ready = available != 0;
    if (!*ready) return kOk;
    GLuint64 value = 0;
#if VELOX_GL_DESKTOP
    if (api::Desktop()) {
      glGetQueryObjectui64v(mHandle->name, GL_QUERY_RESULT, &value);
      *nanoseconds = value;
      return kOk;
    }
#endif
    glGetQueryObjectui64vEXT(mHandle->name, GL_QUERY_RESULT_EXT, &value);
    *nanoseconds = value;
    // The GPU's clock jumped (a power state change) since the last look:
    // the frame's times are not to be trusted.
    GLint disjoint = 0;
    glGetIntegerv(GL_GPU_DISJOINT_EXT, &disjoint);
    return disjoint != 0 ? kFail : kOk;
  }

 private:
  GlHandle mHandle;
  bool mIssued = false, mSynced = false;
  std::uint64_t mTime = 0;
};

class GlDeclaration : public shared::StoredDeclaration, public Serial {
 public:
  using StoredDeclaration::StoredDeclaration;
};

// The program used while no effect program is bound. Clip-space y is
// negated so that the picture's top row lands in GL row 0; ES has no clip
// control, so its depth goes from 0..1 to GL's -1..1 here.
const char* kBuiltinVertex = R"(
layout(location = 0) in vec4 aPosition;
layout(location = 4) in vec4 aColor;
layout(location = 6) in vec2 aTexCoord;
uniform mat4 uWorldViewProjection;
uniform int uBgra;  // 1: aColor arrives as bytes B, G, R, A (ES)
out vec4 vColor;
out vec2 vTexCoord;
void main() {
  gl_Position = uWorldViewProjection * aPosition;
  gl_Position.y = -gl_Position.y;
#ifdef GL_ES
  gl_Position.z = 2.0 * gl_Position.z - gl_Position.w;
#endif
  vColor = uBgra != 0 ? aColor.zyxw : aColor;
  vTexCoord = aTexCoord;
}
)";

const char* kBuiltinFragment = R"(
uniform int uMode;  // 0 white, 1 vertex colour, 2 texture
uniform sampler2D uTexture;  // unit 0
in vec4 vColor;
in vec2 vTexCoord;
out vec4 oColor;
void main() {
  oColor = uMode == 1 ? vColor : uMode == 2 ? texture(uTexture, vTexCoord) : vec4(1.0);
}
)";

GLuint CompileProgram(std::string* error) {
  GLuint program = glCreateProgram();
  const char* header = api::Desktop() ? "#version 450 core\n"
                                      : "#version 300 es\nprecision highp float;\nprecision highp int;\n";
  const char* bodies[2] = {kBuiltinVertex, kBuiltinFragment};
  const GLenum stages[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
  GLuint shaders[2];
  for (int i = 0; i < 2; ++i) {
    shaders[i] = glCreateShader(stages[i]);
    const char* sources[2] = {header, bodies[i]};
    glShaderSource(shaders[i], 2, sources, nullptr);
    glCompileShader(shaders[i]);
    GLint ok = 0;
    glGetShaderiv(shaders[i], GL_COMPILE_STATUS, &ok);
    if (!ok) {
      char log[1024] = {};
      glGetShaderInfoLog(shaders[i], sizeof log, nullptr, log);
      *error += log;
    }
    glAttachShader(program, shaders[i]);
  }
  glLinkProgram(program);
  for (GLuint s : shaders) glDeleteShader(s);
  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (!linked) {
    char log[1024] = {};
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    *error += log;
    glDeleteProgram(program);
    return 0;
  }
  return program;
}

// Creates the context (OpenGL 4.5 core, or ES 3.0 with VELOX_GL=es) on the
// window and makes it current.
surface::Context CreateContext(surface::Window* window) {
  const bool es = api::WantEs();
  const std::string kind = es ? "OpenGL ES 3.0" : "OpenGL 4.5 core";
  surface::Context context = surface::CreateContext(window, es);
  if (context == nullptr) {
    gLastError = kind + " context: " + surface::Error();
    return nullptr;
  }
  api::ReadContext();
  if (api::Desktop() == es || api::Current().version < (es ? 30 : 45)) {
    gLastError = kind + " is not available";
    surface::MakeCurrent(window, nullptr);
    surface::DeleteContext(context);
    return nullptr;
  }
  return context;
}

// What the adapter reports, read once from a GL context.
struct AdapterFacts {
  bool known = false;
  bool ok = false;
  AdapterIdentifier identifier;
  Caps caps;
  int maxSamples = 0;
};

AdapterFacts gFacts;

struct StreamBinding {
  VertexBuffer* buffer = nullptr;
  std::uint32_t offset = 0;
  std::uint32_t stride = 0;
};

class GlDevice : public Device {
 public:
  GlDevice(surface::Window* window, surface::Window* ownWindow, surface::Context context)
      : mWindow(window), mOwnWindow(ownWindow), mContext(context) {
    gLiveDevice = this;
    gContextSerial = ++gLastSerial;
  }

  // Finishes construction; false (with gLastError) when GL refuses.
  bool Init(const PresentParameters& parameters) {
    mDeviceWindow = parameters.deviceWindow;
    return SetUpContext() && CreateDefaultTargets(parameters);
  }

  ~GlDevice() override {
    surface::MakeCurrent(mWindow, mContext);
    Bind<Surface>(mTarget, nullptr);
    for (Surface*& t : mExtraTargets) Bind<Surface>(t, nullptr);
    Bind<Surface>(mDepth, nullptr);
    Bind<VertexDeclaration>(mDeclaration, nullptr);
    for (StreamBinding& s : mStreams) Bind<VertexBuffer>(s.buffer, nullptr);
    Bind<IndexBuffer>(mIndices, nullptr);
    for (BaseTexture*& t : mTextures) Bind<BaseTexture>(t, nullptr);
    if (mBackBuffer != nullptr) mBackBuffer->Release();
    if (mAutoDepth != nullptr) mAutoDepth->Release();
    glDeleteFramebuffers(1, &mRenderFbo);
    glDeleteFramebuffers(1, &mReadFbo);
    glDeleteFramebuffers(1, &mDrawFbo);
    glDeleteVertexArrays(1, &mVao);
    if (mScratchIndices != 0) glDeleteBuffers(1, &mScratchIndices);
    if (mProgram != 0) glDeleteProgram(mProgram);
    gContextSerial = 0;
    gContextGone = false;
    surface::MakeCurrent(mWindow, nullptr);
    surface::DeleteContext(mContext);
    if (mOwnWindow != nullptr) surface::DestroyWindow(mOwnWindow);
    if (gLiveDevice == this) gLiveDevice = nullptr;
  }

  void Lose(int checks) {
    mLost = true;
    mChecksBeforeReset = checks;
  }

  // The context goes as a browser takes it: its objects are gone and calls
  // into it do nothing; it is back (new and empty) after `checksBeforeBack`
  // checks.
  void LoseContext(int checksBeforeBack) {
    surface::Context empty = surface::Renew(mWindow, mContext, api::WantEs());
    if (empty != nullptr) mContext = empty;
    Gone(checksBeforeBack);
  }

  Result TestCooperativeLevel() override {
    if (ContextGone()) {
      if (mGoneChecks > 0) {
        --mGoneChecks;
        return kDeviceLost;
      }
      return surface::Returned(mContext) ? kDeviceNotReset : kDeviceLost;
    }
    if (!mLost) return kOk;
    if (mChecksBeforeReset > 0) {
      --mChecksBeforeReset;
      return kDeviceLost;
    }
    return kDeviceNotReset;
  }

  Result Reset(PresentParameters* parameters) override {
    if (parameters == nullptr || !Acceptable(*parameters)) return kInvalidCall;
    if (mLost && mChecksBeforeReset > 0) return kDeviceLost;
    if (ContextGone() && (mGoneChecks > 0 || !surface::Returned(mContext))) return kDeviceLost;
    // The graphics library refuses while default-pool resources live.
    if (gDefaultPoolAlive > 0) return kInvalidCall;
    if (mGone && !Renew()) return kDeviceLost;
    Bind<Surface>(mTarget, nullptr);
    for (Surface*& t : mExtraTargets) Bind<Surface>(t, nullptr);
    Bind<Surface>(mDepth, nullptr);
    mBackBuffer->Release();
    mBackBuffer = nullptr;
    if (mAutoDepth != nullptr) mAutoDepth->Release();
    mAutoDepth = nullptr;
    if (!CreateDefaultTargets(*parameters)) return kNotAvailable;
    mLost = false;
    return kOk;
  }

  Result Present(const Rect* source, const Rect* destination, Window* override,
                 const void*) override {
    if (mLost || ContextGone()) return kDeviceLost;
    surface::Window* window =
        override != nullptr ? surface::FromNative(override->NativeHandle()) : mWindow;
    if (window != mWindow) surface::MakeCurrent(window, mContext);
    int windowWidth = 0, windowHeight = 0;
    surface::DrawableSize(window, &windowWidth, &windowHeight);
    const Rect full = {0, 0, static_cast<std::int32_t>(mBackBuffer->mDesc.width),
                       static_cast<std::int32_t>(mBackBuffer->mDesc.height)};
    const Rect whole = {0, 0, windowWidth, windowHeight};
    const Rect& s = source != nullptr ? *source : full;
    const Rect& d = destination != nullptr ? *destination : whole;
    ReadFrom(mBackBuffer);
    const bool scaled =
        s.right - s.left != d.right - d.left || s.bottom - s.top != d.bottom - d.top;
    glDisable(GL_SCISSOR_TEST);
    // The window's row 0 is at the bottom: a reversed y range flips back.
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(s.left, s.top, s.right, s.bottom, d.left, windowHeight - d.top, d.right,
                      windowHeight - d.bottom, GL_COLOR_BUFFER_BIT, scaled ? GL_LINEAR : GL_NEAREST);
    if (gCapturePresents) CaptureWindow(windowWidth, windowHeight);
    surface::Swap(window);
    if (window != mWindow) surface::MakeCurrent(mWindow, mContext);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mRenderFbo);
    return kOk;
  }

  Result BeginScene() override {
    if (mInScene) return kInvalidCall;
    ContextGone();
    mInScene = true;
    return kOk;
  }

  Result EndScene() override {
    if (!mInScene) return kInvalidCall;
    mInScene = false;
    return kOk;
  }

  Result Clear(std::uint32_t count, const Rect* rects, std::uint32_t flags, std::uint32_t color,
               float z, std::uint32_t stencil) override {
    if (mTarget == nullptr) return kInvalidCall;
    if (mGone) return kOk;  // a lost device draws nothing, without failing
    GLbitfield mask = 0;
    if ((flags & kClearTarget) != 0) {
      glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
      glClearColor(static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                   static_cast<float>((color >> 8) & 0xFF) / 255.0f,
                   static_cast<float>(color & 0xFF) / 255.0f,
                   static_cast<float>(color >> 24) / 255.0f);
      mask |= GL_COLOR_BUFFER_BIT;
    }
    if ((flags & kClearZBuffer) != 0 && mDepthAttached) {
      glDepthMask(GL_TRUE);
      glClearDepthf(std::clamp(z, 0.0f, 1.0f));
      mask |= GL_DEPTH_BUFFER_BIT;
    }
    // D24X8 is stored with stencil bits that the program cannot see: they are
    // cleared with the depth, since a depth-only clear of a packed buffer
    // has to keep them (on the software rasterizer, 7x slower).
    const bool hiddenStencil = (mask & GL_DEPTH_BUFFER_BIT) != 0 &&
                               static_cast<GlSurface*>(mDepth)->mDesc.format != kFormatD24S8;
    if (((flags & kClearStencil) != 0 || hiddenStencil) && mDepthAttached) {
      glStencilMask(0xFF);
      glClearStencil((flags & kClearStencil) != 0 ? static_cast<GLint>(stencil) : 0);
      mask |= GL_STENCIL_BUFFER_BIT;
    }
    if (mask == 0) return kOk;
    ++mDraws;
    if (count == 0 || rects == nullptr) {
      glDisable(GL_SCISSOR_TEST);
      glClear(mask);
      return kOk;
    }
    // GL rows are the picture's rows, so a rect's top is the scissor's y.
    glEnable(GL_SCISSOR_TEST);
    for (std::uint32_t i = 0; i < count; ++i) {
      const Rect& r = rects[i];
      if (r.right <= r.left || r.bottom <= r.top) continue;
      glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
      glClear(mask);
    }
    glDisable(GL_SCISSOR_TEST);
    return kOk;
  }

  Result GetBackBuffer(std::uint32_t, std::uint32_t index, std::uint32_t,
                       Surface** surface) override {
    if (surface == nullptr || index != 0) return kInvalidCall;
    mBackBuffer->AddRef();
    *surface = mBackBuffer;
    return kOk;
  }

  Result GetRenderTarget(std::uint32_t index, Surface** surface) override {
    if (surface == nullptr || index >= kTargets) return kInvalidCall;
    Surface* target = index == 0 ? mTarget : mExtraTargets[index - 1];
    if (target == nullptr) return kNotFound;
    target->AddRef();
    *surface = target;
    return kOk;
  }

  Result SetRenderTarget(std::uint32_t index, Surface* surface) override {
    if (index >= kTargets || (index == 0 && surface == nullptr)) return kInvalidCall;
    if (index > 0) {
      // Further targets of a pixel shader writing COLOR1..3.
      auto* s = static_cast<GlSurface*>(surface);
      if (s != nullptr && (!s->IsColorTarget() || (s->mDesc.usage & kUsageRenderTarget) == 0)) {
        return kInvalidCall;
      }
      if (mExtraTargets[index - 1] != surface) {
        RegenerateMipmaps(static_cast<GlSurface*>(mExtraTargets[index - 1]));
      }
      Bind(mExtraTargets[index - 1], surface);
      BindTarget();
      return kOk;
    }
    auto* s = static_cast<GlSurface*>(surface);
    if (!s->IsColorTarget() || (s->mDesc.usage & kUsageRenderTarget) == 0) return kInvalidCall;
    if (mTarget != surface) RegenerateMipmaps(static_cast<GlSurface*>(mTarget));
    Bind(mTarget, surface);
    BindTarget();
    return kOk;
  }

  Result GetDepthStencilSurface(Surface** surface) override {
    if (surface == nullptr || mDepth == nullptr) return kInvalidCall;
    mDepth->AddRef();
    *surface = mDepth;
    return kOk;
  }

  Result SetDepthStencilSurface(Surface* surface) override {
    if (surface != nullptr && !IsDepthFormat(static_cast<GlSurface*>(surface)->mDesc.format)) {
      return kInvalidCall;
    }
    Bind(mDepth, surface);
    BindTarget();
    return kOk;
  }

  Result StretchRect(Surface* source, const Rect* sourceRect, Surface* destination,
                     const Rect* destinationRect, TextureFilter filter) override {
    if (source == nullptr || destination == nullptr) return kInvalidCall;
    auto* from = static_cast<GlSurface*>(source);
    auto* to = static_cast<GlSurface*>(destination);
    if (!from->IsColorTarget() || !to->IsColorTarget() || to->mRenderbuffer) {
      return kInvalidCall;
    }
    FormatInfo info;
    if (!LookupFormat(to->mDesc.format, &info) || BlockFormat(to->mDesc.format)) return kInvalidCall;
    const Rect s = sourceRect != nullptr ? *sourceRect : WholeOf(from);
    const Rect d = destinationRect != nullptr ? *destinationRect : WholeOf(to);
    if (!Inside(s, from) || !Inside(d, to)) return kInvalidCall;
    if (mGone) return kOk;
    ReadFrom(from);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mDrawFbo);
    to->Attach(GL_DRAW_FRAMEBUFFER);
    glDisable(GL_SCISSOR_TEST);
    glBlitFramebuffer(s.left, s.top, s.right, s.bottom, d.left, d.top, d.right, d.bottom,
                      GL_COLOR_BUFFER_BIT, filter == kFilterLinear ? GL_LINEAR : GL_NEAREST);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mRenderFbo);
    RegenerateMipmaps(to);
    return kOk;
  }

  Result GetRenderTargetData(Surface* renderTarget, Surface* destination) override {
    return ReadBack(renderTarget, destination, false);
  }

  Result GetRenderTargetDataAsync(Surface* renderTarget, Surface* destination) override {
    return ReadBack(renderTarget, destination, true);
  }

  Result CreateOffscreenPlainSurface(std::uint32_t width, std::uint32_t height, Format format,
                                     Pool pool, Surface** surface) override {
    if (surface == nullptr || width == 0 || height == 0) return kInvalidCall;
    auto* created = new GlSurface(SurfaceDesc{format, 0, pool, 0, width, height});
    created->mPixels.resize(LevelBytes(format, width, height));
    *surface = created;
    return kOk;
  }

  Result CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels,
                       std::uint32_t usage, Format format, Pool pool, Texture** texture,
                       void*) override {
    if (texture == nullptr || width == 0 || height == 0) return kInvalidCall;
    const bool target = (usage & kUsageRenderTarget) != 0;
    if (target && pool != kPoolDefault) return kInvalidCall;
    FormatInfo info;
    if (!LookupFormat(format, &info) || (target && BlockFormat(format))) return kInvalidCall;
    if (!Storable(format, target, width, height, &info)) return kNotAvailable;
    const std::uint32_t chain = FullChain(width, height);
    const bool autoGen = (usage & kUsageAutoGenMipmap) != 0;
    if (levels == 0) levels = autoGen ? 1 : chain;
    levels = std::min(levels, chain);
    *texture = new GlTexture(width, height, levels, autoGen ? chain : levels, usage, format, pool,
                             info);
    return kOk;
  }

  Result CreateCubeTexture(std::uint32_t edge, std::uint32_t levels, std::uint32_t usage,
                           Format format, Pool pool, CubeTexture** texture, void*) override {
    if (texture == nullptr || edge == 0) return kInvalidCall;
    const bool target = (usage & kUsageRenderTarget) != 0;
    if (target && pool != kPoolDefault) return kInvalidCall;
    FormatInfo info;
    if (!LookupFormat(format, &info) || (target && BlockFormat(format))) return kInvalidCall;
    if (!Storable(format, target, edge, edge, &info)) return kNotAvailable;
    const std::uint32_t chain = FullChain(edge, edge);
    const bool autoGen = (usage & kUsageAutoGenMipmap) != 0;
    if (levels == 0) levels = autoGen ? 1 : chain;
    levels = std::min(levels, chain);
    *texture = new GlCubeTexture(edge, levels, autoGen ? chain : levels, usage, format, pool, info);
    return kOk;
  }

  Result CreateVertexBuffer(std::uint32_t length, std::uint32_t usage, std::uint32_t, Pool pool,
                            VertexBuffer** buffer, void*) override {
    if (buffer == nullptr || length == 0) return kInvalidCall;
    *buffer = new GlVertexBuffer(BufferDesc{length, usage, pool, kFormatUnknown}, false);
    return kOk;
  }

  Result CreateIndexBuffer(std::uint32_t length, std::uint32_t usage, Format format, Pool pool,
                           IndexBuffer** buffer, void*) override {
    if (buffer == nullptr || length == 0) return kInvalidCall;
    if (format != kFormatIndex16 && format != kFormatIndex32) return kInvalidCall;
    *buffer = new GlIndexBuffer(BufferDesc{length, usage, pool, format}, true);
    return kOk;
  }

  Result CreateVertexDeclaration(const VertexElement* elements,
                                 VertexDeclaration** declaration) override {
    if (elements == nullptr || declaration == nullptr) return kInvalidCall;
    std::vector<VertexElement> copy;
    if (!shared::ReadDeclaration(elements, kStreams, copy)) return kInvalidCall;
    *declaration = new GlDeclaration(std::move(copy));
    return kOk;
  }

  Result SetVertexDeclaration(VertexDeclaration* declaration) override {
    Bind(mDeclaration, declaration);
    return kOk;
  }

  Result SetStreamSource(std::uint32_t stream, VertexBuffer* buffer, std::uint32_t offset,
                         std::uint32_t stride) override {
    if (stream >= kStreams) return kInvalidCall;
    Bind(mStreams[stream].buffer, buffer);
    mStreams[stream].offset = offset;
    mStreams[stream].stride = stride;
    return kOk;
  }

  Result SetIndices(IndexBuffer* buffer) override {
    Bind(mIndices, buffer);
    return kOk;
  }

  Result SetTexture(std::uint32_t stage, BaseTexture* texture) override {
    if (stage >= mTextures.size()) return kInvalidCall;
    Bind(mTextures[stage], texture);
    return kOk;
  }

  Result DrawIndexedPrimitive(PrimitiveType type, std::int32_t baseVertex, std::uint32_t,
                              std::uint32_t, std::uint32_t startIndex,
                              std::uint32_t primitiveCount) override {
    if (!mInScene || mDeclaration == nullptr || mIndices == nullptr) return kInvalidCall;
    GLenum mode = 0;
    GLsizei count = 0;
    const auto n = static_cast<GLsizei>(primitiveCount);
    switch (type) {
      case kPointList: mode = GL_POINTS, count = n; break;
      case kLineList: mode = GL_LINES, count = 2 * n; break;
      case kLineStrip: mode = GL_LINE_STRIP, count = n + 1; break;
      case kTriangleList: mode = GL_TRIANGLES, count = 3 * n; break;
      case kTriangleStrip: mode = GL_TRIANGLE_STRIP, count = n + 2; break;
      case kTriangleFan: mode = GL_TRIANGLE_FAN, count = n + 2; break;
      default: return kInvalidCall;
    }
    if (primitiveCount == 0 || mGone) return kOk;
    auto* declaration = static_cast<GlDeclaration*>(mDeclaration);
    if (mLayoutDeclaration != declaration->Id() && !ReadLayout(*declaration)) return kInvalidCall;
    for (const Attribute& a : mLayout) {
      if (mStreams[a.stream].buffer == nullptr) return kInvalidCall;
    }
    auto* indices = static_cast<GlIndexBuffer*>(mIndices);
    const bool wide = indices->Desc().format == kFormatIndex32;
    const std::uint32_t indexSize = wide ? 4 : 2;
    if ((static_cast<std::uint64_t>(startIndex) + static_cast<std::uint64_t>(count)) * indexSize >
        indices->Desc().size) {
      return kInvalidCall;
    }

    const GLuint program = mEffectProgram != 0 ? mEffectProgram : mProgram;
    if (program != mCurrentProgram) {
      glUseProgram(program);
      mCurrentProgram = program;
    }
    internal::ProgramState* state = &mOwnState;
    if (mEffectProgram != 0) {
      state = mEffectState;
    } else {
      // Row vectors times row-major matrices: GL reads the rows as columns,
      // which is the transpose a column-vector shader needs.
      const Matrix wvp = WorldViewProjection();
      glUniformMatrix4fv(mWvpLocation, 1, GL_FALSE, &wvp.m[0][0]);
      int shading = 0;
      if (mLayoutHasColor) {
        shading = 1;
      } else if (mLayoutHasTexCoord && mTextures[0] != nullptr) {
        if (auto* t = dynamic_cast<GlTexture*>(mTextures[0])) {
          glActiveTexture(GL_TEXTURE0);
          glBindTexture(GL_TEXTURE_2D, t->Name());
          shading = 2;
        }
      }
      if (shading != mShading) {
        glUniform1i(mModeLocation, shading);
        mShading = shading;
      }
    }
    if (state != nullptr && state->bgraLocation >= 0 && state->bgra != mLayoutBgra) {
      glUniform1i(state->bgraLocation, mLayoutBgra);
      state->bgra = mLayoutBgra;
    }

    // OpenGL ES has no fill modes: a wireframe pass draws the triangles'
    // edges as lines, a point pass their corners.
    const bool triangles = mode == GL_TRIANGLES || mode == GL_TRIANGLE_STRIP || mode == GL_TRIANGLE_FAN;
    const bool edges = !api::Desktop() && triangles && mFillMode == kFillWireframe;
    if (!api::Desktop() && triangles && mFillMode == kFillPoint) mode = GL_POINTS;
    // ES 3.0 draws take no base vertex: it moves the attributes' offsets, or
    // the indices where an offset would fall before the buffer's start.
    const bool rebase = baseVertex < 0 && !OffsetsHold(baseVertex);
    // Bound only around the draw: Mesa revalidates a bound vertex array on
    // every change to it, an unbound one once when it is bound (measured).
    glBindVertexArray(mVao);
    SetUpAttributes(rebase ? 0 : baseVertex);
    ++mDraws;
    if (edges || rebase) {
      const std::vector<std::uint32_t> list =
          DrawnIndices(*indices, wide, startIndex, count, mode, edges, rebase ? baseVertex : 0);
      if (mScratchIndices == 0) glGenBuffers(1, &mScratchIndices);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mScratchIndices);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.size() * 4), list.data(),
                   GL_STREAM_DRAW);
      mVaoIndices = 0;
      glDrawElements(edges ? GL_LINES : mode, static_cast<GLsizei>(list.size()), GL_UNSIGNED_INT,
                     nullptr);
    } else {
      if (mVaoIndices != indices->Id()) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indices->Name());
        mVaoIndices = indices->Id();
      }
      glDrawElements(
          mode, count, wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
          reinterpret_cast<const void*>(static_cast<std::uintptr_t>(startIndex) * indexSize));
    }
    glBindVertexArray(0);
    return kOk;
  }

  Result SetTransform(TransformState state, const Matrix* matrix) override {
    if (matrix == nullptr) return kInvalidCall;
    if (Matrix* slot = FixedTransform(state)) {
      *slot = *matrix;
    } else {
      mTransforms[state] = *matrix;
    }
    return kOk;
  }

  Result GetTransform(TransformState state, Matrix* matrix) override {
    if (matrix == nullptr) return kInvalidCall;
    *matrix = Transform(state);
    return kOk;
  }

  Result GetDeviceCaps(Caps* caps) override;

  Result CreateTimestampQuery(Query** query) override {
    if (query == nullptr) return kInvalidCall;
    *query = nullptr;
    // An ES driver without the timer extension has no clock; a driver may
    // also expose the call with a counter of no bits.
    if (!api::Current().timestamps) return kNotAvailable;
    GLint bits = 0;
#if VELOX_GL_DESKTOP
    if (api::Desktop()) glGetQueryiv(GL_TIMESTAMP, GL_QUERY_COUNTER_BITS, &bits);
#endif
    if (!api::Desktop()) glGetQueryivEXT(GL_TIMESTAMP_EXT, GL_QUERY_COUNTER_BITS_EXT, &bits);
    if (bits == 0) return kNotAvailable;
    *query = new GlTimestamp();
    return kOk;
  }

  Matrix WorldViewProjection() {
    Matrix worldView, wvp;
    MatrixMultiply(&worldView, &Transform(kTransformWorld), &Transform(kTransformView));
    MatrixMultiply(&wvp, &worldView, &Transform(kTransformProjection));
    return wvp;
  }

  void SetEffectProgram(GLuint program, internal::ProgramState* state) {
    mEffectProgram = program;
    mEffectState = program != 0 ? state : nullptr;
  }
  void UseProgram(GLuint program) {
    if (program == mCurrentProgram) return;
    glUseProgram(program);
    mCurrentProgram = program;
  }
  void SetFillMode(std::uint32_t mode) { mFillMode = mode; }
  bool Current() const { return surface::CurrentContext() == mContext; }

 private:
  static constexpr std::uint32_t kStreams = 16;
  static constexpr std::uint32_t kTargets = 4;
  static constexpr std::uint32_t kFillPoint = 1, kFillWireframe = 2, kFillSolid = 3;

  // World, view and projection are read by every draw: no lookup for them.
  Matrix* FixedTransform(TransformState state) {
    switch (state) {
      case kTransformWorld: return &mWorld;
      case kTransformView: return &mView;
      case kTransformProjection: return &mProjection;
      default: return nullptr;
    }
  }

  const Matrix& Transform(TransformState state) {
    if (const Matrix* slot = FixedTransform(state)) return *slot;
    auto it = mTransforms.find(state);
    if (it == mTransforms.end()) {
      Matrix identity;
      MatrixIdentity(&identity);
      it = mTransforms.emplace(state, identity).first;
    }
    return it->second;
  }

  // The window's rows come bottom first; stored top first.
  static void CaptureWindow(int width, int height) {
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(width) * height);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    pixels::FromRgba(kFormatA8R8G8B8, rows.size(), rows.data(),
                     reinterpret_cast<std::uint8_t*>(rows.data()));
    gPresented.resize(rows.size());
    for (int y = 0; y < height; ++y) {
      std::copy_n(&rows[static_cast<std::size_t>(height - 1 - y) * width], width,
                  &gPresented[static_cast<std::size_t>(y) * width]);
    }
    gPresentedWidth = width;
    gPresentedHeight = height;
  }

  // Render targets with automatic mipmaps get their levels when drawing into
  // them ends (the target changes) or a copy lands in them.
  static void RegenerateMipmaps(GlSurface* s) {
    if (s != nullptr && s->mTexture && s->mLevel == 0 &&
        (s->mDesc.usage & kUsageAutoGenMipmap) != 0) {
      BindTextureForEdit(s->BindTarget(), s->mTexture->name);
      glGenerateMipmap(s->BindTarget());
    }
  }

  static Rect WholeOf(const GlSurface* s) {
    return {0, 0, static_cast<std::int32_t>(s->mDesc.width),
            static_cast<std::int32_t>(s->mDesc.height)};
  }

  static bool Inside(const Rect& r, const GlSurface* s) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
           r.right <= static_cast<std::int32_t>(s->mDesc.width) &&
           r.bottom <= static_cast<std::int32_t>(s->mDesc.height);
  }

  // A render target into a system-memory surface: at once, or (async) into
  // the surface's pixel buffer, fetched when it is locked. Desktop GL reads
  // the destination's layout directly; ES reads RGBA, converted on the CPU.
  Result ReadBack(Surface* renderTarget, Surface* destination, bool async) {
    if (renderTarget == nullptr || destination == nullptr) return kInvalidCall;
    auto* from = static_cast<GlSurface*>(renderTarget);
    auto* to = static_cast<GlSurface*>(destination);
    FormatInfo info;
    if (!from->IsColorTarget() || to->mDesc.pool != kPoolSystemMem ||
        from->mDesc.width != to->mDesc.width || from->mDesc.height != to->mDesc.height ||
        !LookupFormat(to->mDesc.format, &info) || BlockFormat(to->mDesc.format)) {
      return kInvalidCall;
    }
    if (mGone) return kDeviceLost;
    const bool converted = !api::Desktop();
    const std::size_t count = std::size_t{to->mDesc.width} * to->mDesc.height;
    GLenum format = info.format, type = info.type;
    if (converted) {
      // ES reads a float target as floats only, a normalised one as bytes only.
      const bool floats = to->mDesc.format == kFormatR32F;
      if (floats != (from->mDesc.format == kFormatR32F)) return kInvalidCall;
      format = GL_RGBA;
      type = floats ? GL_FLOAT : GL_UNSIGNED_BYTE;
    }
    const std::size_t bytes = converted ? count * pixels::ReadBytesPerPixel(to->mDesc.format)
                                        : LevelBytes(to->mDesc.format, to->mDesc.width, to->mDesc.height);
    ReadFrom(from);
    to->mPixels.resize(LevelBytes(to->mDesc.format, to->mDesc.width, to->mDesc.height));
    // A read still in flight is overtaken by this one.
    to->mPackPending = false;
    const auto w = static_cast<GLsizei>(to->mDesc.width), h = static_cast<GLsizei>(to->mDesc.height);
    // Rows come bottom-of-GL first, which is the picture's top row.
    if (async) {
      if (!to->mPack || to->mPack->serial != gContextSerial || to->mPackBytes != bytes) {
        GLuint name = 0;
        glGenBuffers(1, &name);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, name);
        glBufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(bytes), nullptr, GL_STREAM_READ);
        to->mPack = std::make_shared<GlObject>(GlObject::kBuffer, name);
        to->mPackBytes = bytes;
      }
      glBindBuffer(GL_PIXEL_PACK_BUFFER, to->mPack->name);
      glReadPixels(0, 0, w, h, format, type, nullptr);
      glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
      to->mPackConverted = converted;
      to->mPackPending = true;
      // Under way while the next frame is built.
      glFlush();
    } else if (converted) {
      std::vector<std::uint8_t> read(bytes);
      glReadPixels(0, 0, w, h, format, type, read.data());
      pixels::FromRgba(to->mDesc.format, count, read.data(), to->mPixels.data());
    } else {
      glReadPixels(0, 0, w, h, format, type, to->mPixels.data());
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return kOk;
  }

  // Attaches a colour image to the read FBO, which stays bound for reading;
  // a multisampled one is resolved into its single-sample texture first.
  void ReadFrom(GlSurface* s) {
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, mReadFbo);
    if (s->mRenderbuffer && s->mResolve) {
      // Resolved once for every read until something is drawn again: the
      // last-frame copy, Present and a recording's read-back share one.
      if (s->mResolvedAt != mDraws) {
        const auto w = static_cast<GLint>(s->mDesc.width), h = static_cast<GLint>(s->mDesc.height);
        s->Attach(GL_READ_FRAMEBUFFER);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mDrawFbo);
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                               s->mResolve->name, 0);
        glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mRenderFbo);
        s->mResolvedAt = mDraws;
      }
      glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                             s->mResolve->name, 0);
    } else {
      s->Attach(GL_READ_FRAMEBUFFER);
    }
  }

  // The render FBO gets the current target and, when its size and sample
  // count match, the current depth buffer; the viewport covers the target.
  void BindTarget() {
    auto* target = static_cast<GlSurface*>(mTarget);
    auto* depth = static_cast<GlSurface*>(mDepth);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mRenderFbo);
    target->Attach(GL_DRAW_FRAMEBUFFER);
    GLenum buffers[kTargets] = {GL_COLOR_ATTACHMENT0, GL_NONE, GL_NONE, GL_NONE};
    GLsizei count = 1;
    for (std::uint32_t i = 1; i < kTargets; ++i) {
      auto* extra = static_cast<GlSurface*>(mExtraTargets[i - 1]);
      const GLenum point = GL_COLOR_ATTACHMENT0 + i;
      if (extra != nullptr && extra->mDesc.width == target->mDesc.width &&
          extra->mDesc.height == target->mDesc.height) {
        extra->Attach(GL_DRAW_FRAMEBUFFER, point);
        buffers[i] = point;
        count = static_cast<GLsizei>(i + 1);
      } else {
        glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, point, GL_TEXTURE_2D, 0, 0);
      }
    }
    glDrawBuffers(count, buffers);
    mDepthAttached = depth != nullptr && depth->mDesc.width == target->mDesc.width &&
                     depth->mDesc.height == target->mDesc.height &&
                     depth->mDesc.multiSampleType == target->mDesc.multiSampleType;
    if (mDepthAttached) {
      depth->Attach(GL_DRAW_FRAMEBUFFER);
    } else {
      glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    }
    glViewport(0, 0, static_cast<GLsizei>(target->mDesc.width),
               static_cast<GLsizei>(target->mDesc.height));
  }

  // Reads the declaration into attribute formats; the vertex array gets
  // them at the next draws.
  bool ReadLayout(const GlDeclaration& declaration) {
    std::vector<Attribute> layout;
    std::uint32_t enabled = 0;
    int bgra = 0;
    bool hasColor = false, hasTexCoord = false;
    for (const VertexElement& e : declaration.Elements()) {
      if (e.stream == 0xFF) break;
      const int location = AttributeLocation(e.usage, e.usageIndex);
      // WebGL 2 may have only the 16 attributes ES 3.0 promises; shaders
      // built for it read no more.
      if (location < 0 || e.type == kDeclUnused ||
          static_cast<GLuint>(location) >= api::Current().attributes) {
        continue;
      }
      Attribute a{static_cast<GLuint>(location), 4, GL_FLOAT, GL_FALSE, e.stream, e.offset};
      switch (e.type) {
        case kDeclFloat1: a.size = 1; break;
        case kDeclFloat2: a.size = 2; break;
        case kDeclFloat3: a.size = 3; break;
        case kDeclFloat4: a.size = 4; break;
        // Bytes B, G, R, A in memory, read as normalised RGBA; ES reads them
        // in memory order and the shader swaps them back.
        case kDeclColor:
          a.type = GL_UNSIGNED_BYTE, a.normalized = GL_TRUE;
#if VELOX_GL_DESKTOP
          if (api::Desktop()) {
            a.size = GL_BGRA;
            break;
          }
#endif
          if (e.usage == kDeclUsageColor) bgra |= 1 << e.usageIndex;
          break;
        case kDeclUByte4: a.type = GL_UNSIGNED_BYTE; break;
        default: return false;
      }
      layout.push_back(a);
      enabled |= 1u << a.location;
      if (e.usage == kDeclUsageColor && e.usageIndex == 0) hasColor = true;
      if (e.usage == kDeclUsageTexCoord && e.usageIndex == 0) hasTexCoord = true;
    }
    mLayout = std::move(layout);
    mLayoutEnabled = enabled;
    mLayoutBgra = bgra;
    mLayoutHasColor = hasColor;
    mLayoutHasTexCoord = hasTexCoord;
    mLayoutDeclaration = declaration.Id();
    return true;
  }

  // Whether every attribute's offset stays inside its buffer with the base
  // vertex folded in.
  bool OffsetsHold(std::int32_t baseVertex) const {
    for (const Attribute& a : mLayout) {
      const StreamBinding& b = mStreams[a.stream];
      if (std::int64_t{b.offset} + a.offset + std::int64_t{baseVertex} * b.stride < 0) return false;
    }
    return true;
  }

  // With the vertex array bound: arrays on and off as the layout has them,
  // pointers set again only where a buffer, offset, stride or the layout
  // changed.
  void SetUpAttributes(std::int32_t baseVertex) {
    if (mEnabledAttributes != mLayoutEnabled) {
      for (GLuint loc = 0; loc < kAttributeCount; ++loc) {
        const std::uint32_t bit = 1u << loc;
        if ((mLayoutEnabled & bit) != 0 && (mEnabledAttributes & bit) == 0) glEnableVertexAttribArray(loc);
        if ((mLayoutEnabled & bit) == 0 && (mEnabledAttributes & bit) != 0) glDisableVertexAttribArray(loc);
      }
      mEnabledAttributes = mLayoutEnabled;
    }
    for (const Attribute& a : mLayout) {
      const StreamBinding& b = mStreams[a.stream];
      auto* buffer = static_cast<GlVertexBuffer*>(b.buffer);
      const std::int64_t offset =
          std::int64_t{b.offset} + a.offset + std::int64_t{baseVertex} * b.stride;
      BoundAttribute& bound = mBound[a.location];
      if (bound.buffer == buffer->Id() && bound.offset == offset && bound.stride == b.stride &&
          bound.layout == mLayoutDeclaration) {
        continue;
      }
      glBindBuffer(GL_ARRAY_BUFFER, buffer->Name());
      glVertexAttribPointer(a.location, a.size, a.type, a.normalized, static_cast<GLsizei>(b.stride),
                            reinterpret_cast<const void*>(static_cast<std::uintptr_t>(offset)));
      bound = {buffer->Id(), offset, b.stride, mLayoutDeclaration};
    }
  }

  // The draw's indices from the buffer's CPU copy with `add` added; as the
  // triangles' edges, two indices each, when `edges`.
  static std::vector<std::uint32_t> DrawnIndices(const GlIndexBuffer& buffer, bool wide,
                                                 std::uint32_t start, GLsizei count, GLenum mode,
                                                 bool edges, std::int32_t add) {
    std::vector<std::uint32_t> in(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < in.size(); ++i) {
      const std::uint8_t* p = buffer.Bytes() + (start + i) * (wide ? 4 : 2);
      std::uint32_t v = 0;
      if (wide) {
        std::memcpy(&v, p, 4);
      } else {
        std::uint16_t v16 = 0;
        std::memcpy(&v16, p, 2);
        v = v16;
      }
      in[i] = static_cast<std::uint32_t>(static_cast<std::int64_t>(v) + add);
    }
    if (!edges) return in;
    std::vector<std::uint32_t> out;
    const std::size_t triangles = mode == GL_TRIANGLES ? in.size() / 3 : in.size() - 2;
    out.reserve(triangles * 6);
    for (std::size_t t = 0; t < triangles; ++t) {
      const std::uint32_t a = mode == GL_TRIANGLES ? in[3 * t] : mode == GL_TRIANGLE_FAN ? in[0] : in[t];
      const std::uint32_t b = mode == GL_TRIANGLES ? in[3 * t + 1] : in[t + 1];
      const std::uint32_t c = mode == GL_TRIANGLES ? in[3 * t + 2] : in[t + 2];
      out.insert(out.end(), {a, b, b, c, c, a});
    }
    return out;
  }

  // Whether the context can hold the format as asked; `info` may change to
  // what it holds instead.
  static bool Storable(Format format, bool target, std::uint32_t w, std::uint32_t h,
                       FormatInfo* info) {
    if (api::Desktop()) return true;
    // WebGL takes S3TC only in whole blocks.
    if (info->compressed && (w % 4 != 0 || h % 4 != 0)) {
      *info = {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, false, true};
    }
    // Float targets need an extension on ES; half floats hold depth-like
    // values well enough where only those render.
    if (target && format == kFormatR32F && !api::Current().floatTargets) {
      if (!api::Current().halfFloatTargets) return false;
      *info = {GL_R16F, GL_RED, GL_HALF_FLOAT};
    }
    return true;
  }

 public:
  // Checked before anything is released, so a refused Reset keeps the
  // device as it was.
  static bool Acceptable(const PresentParameters& p) {
    FormatInfo info;
    if (!LookupFormat(p.backBufferFormat, &info) || info.compressed) {
      gLastError = "unsupported back-buffer format";
      return false;
    }
    if (p.multiSampleType < 0 || p.multiSampleType == 1 ||
        p.multiSampleType > std::max(gFacts.maxSamples, 0)) {
      gLastError = "unsupported multisample type " + std::to_string(p.multiSampleType);
      return false;
    }
    if (p.enableAutoDepthStencil && !IsDepthFormat(p.autoDepthStencilFormat)) {
      gLastError = "unsupported depth format";
      return false;
    }
    return true;
  }

 private:
  // The device's own objects and state in a fresh context; false (with
  // gLastError) when GL refuses.
  bool SetUpContext() {
    glGenFramebuffers(1, &mRenderFbo);
    glGenFramebuffers(1, &mReadFbo);
    glGenFramebuffers(1, &mDrawFbo);
    glGenVertexArrays(1, &mVao);
#if VELOX_GL_DESKTOP
    // Direct3D's clip-space depth 0..1; ES shaders map it to -1..1 instead.
    if (api::Desktop()) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
#endif
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_CULL_FACE);
    mScratchIndices = 0;
    mBound = {};
    mEnabledAttributes = 0;
    mVaoIndices = 0;
    mEffectProgram = 0;
    mEffectState = nullptr;
    mShading = -1;
    mOwnState = {};
    mProgram = CompileProgram(&gLastError);
    if (mProgram == 0) return false;
    glUseProgram(mProgram);
    mCurrentProgram = mProgram;
    mWvpLocation = glGetUniformLocation(mProgram, "uWorldViewProjection");
    mModeLocation = glGetUniformLocation(mProgram, "uMode");
    mOwnState.bgraLocation = glGetUniformLocation(mProgram, "uBgra");
    return true;
  }

  // The context's objects are gone; from here on the device draws nothing
  // and names of the old context are never deleted (a new one may reuse them).
  void Gone(int checksBeforeBack) {
    mGone = gContextGone = true;
    mGoneChecks = checksBeforeBack;
    gContextSerial = ++gLastSerial;
  }

  bool ContextGone() {
    if (!mGone && surface::Lost(mContext)) Gone(0);
    return mGone;
  }

  // After a lost context: the device in a new one, with its own objects and
  // every texture, buffer and query made again from what the CPU kept.
  bool Renew() {
    const bool es = api::WantEs();
    surface::Context context = surface::Renew(mWindow, mContext, es);
    if (context == nullptr) {
      gLastError = "the lost context cannot be made again: " + surface::Error();
      return false;
    }
    mContext = context;
    api::ReadContext();
    if (api::Desktop() == es || api::Current().version < (es ? 30 : 45)) {
      gLastError = "the context made after a loss is of another kind";
      return false;
    }
    gContextSerial = ++gLastSerial;
    if (!SetUpContext()) return false;
    glBindVertexArray(0);
    for (Restorable* r : Restorable::Live()) r->Restore();
    mGone = gContextGone = false;
    return true;
  }

  bool CreateDefaultTargets(const PresentParameters& p) {
    std::uint32_t w = p.backBufferWidth, h = p.backBufferHeight;
    if (w == 0 || h == 0) {
      // A Reset with the parameters the device was made with: its window.
      const Window* window = p.deviceWindow != nullptr ? p.deviceWindow : mDeviceWindow;
      w = window != nullptr ? static_cast<std::uint32_t>(window->Width()) : 1024;
      h = window != nullptr ? static_cast<std::uint32_t>(window->Height()) : 768;
    }
    FormatInfo info;
    if (!LookupFormat(p.backBufferFormat, &info) || info.compressed) {
      gLastError = "unsupported back-buffer format";
      return false;
    }
    const auto gw = static_cast<GLsizei>(w), gh = static_cast<GLsizei>(h);
    const int samples = p.multiSampleType;
    auto* back = new GlSurface(
        SurfaceDesc{p.backBufferFormat, kUsageRenderTarget, kPoolDefault, samples, w, h});
    back->mTexture = NewTexture(GL_TEXTURE_2D);
    back->mInfo = info;
    glTexStorage2D(GL_TEXTURE_2D, 1, info.internal, gw, gh);
    if (samples > 0) {
      // Drawn multisampled, resolved into the texture whenever it is read.
      back->mRenderbuffer = NewRenderbuffer();
      glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, info.internal, gw, gh);
      back->mResolve = back->mTexture;
    }
    mBackBuffer = back;
    if (p.enableAutoDepthStencil) {
      auto* depth = new GlSurface(SurfaceDesc{p.autoDepthStencilFormat, kUsageDepthStencil,
                                              kPoolDefault, samples, w, h});
      depth->mRenderbuffer = NewRenderbuffer();
      const GLenum internal =
          p.autoDepthStencilFormat == kFormatD16 ? GL_DEPTH_COMPONENT16 : GL_DEPTH24_STENCIL8;
      glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, internal, gw, gh);
      mAutoDepth = depth;
    }
    Bind<Surface>(mTarget, mBackBuffer);
    Bind<Surface>(mDepth, mAutoDepth);
    BindTarget();
    surface::SetSwapInterval(p.presentationInterval == kPresentIntervalImmediate ? 0 : 1);
    const GLenum status = glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
      gLastError = "the back buffer's framebuffer is incomplete";
      return false;
    }
    return true;
  }

  surface::Window* mWindow;
  surface::Window* mOwnWindow;
  const Window* mDeviceWindow = nullptr;  // sizes a windowed back buffer of size 0
  surface::Context mContext;
  GLuint mRenderFbo = 0, mReadFbo = 0, mDrawFbo = 0, mVao = 0, mProgram = 0;
  GLuint mEffectProgram = 0;   // the effect pass's program, 0 for the device's own
  GLuint mCurrentProgram = 0;
  GlSurface* mBackBuffer = nullptr;
  GlSurface* mAutoDepth = nullptr;
  Surface* mTarget = nullptr;
  std::array<Surface*, kTargets - 1> mExtraTargets{};
  Surface* mDepth = nullptr;
  bool mDepthAttached = false;
  std::uint64_t mDraws = 0;  // clears and draws so far, into any target
  VertexDeclaration* mDeclaration = nullptr;
  std::array<StreamBinding, kStreams> mStreams{};
  IndexBuffer* mIndices = nullptr;
  // The current declaration's attributes, read when it changes.
  struct Attribute {
    GLuint location;
    GLint size;
    GLenum type;
    GLboolean normalized;
    std::uint32_t stream;
    std::uint32_t offset;
  };
  std::vector<Attribute> mLayout;
  std::uint64_t mLayoutDeclaration = 0;
  std::uint32_t mLayoutEnabled = 0;
  int mLayoutBgra = 0;  // ES: COLOR0/COLOR1 (bits 0/1) arrive as bytes B, G, R, A
  bool mLayoutHasColor = false;
  bool mLayoutHasTexCoord = false;
  // What the vertex array and the programs were last set up with.
  struct BoundAttribute {
    std::uint64_t buffer = 0;
    std::int64_t offset = -1;
    std::uint32_t stride = 0;
    std::uint64_t layout = 0;
  };
  std::array<BoundAttribute, kAttributeCount> mBound{};
  std::uint32_t mEnabledAttributes = 0;
  std::uint64_t mVaoIndices = 0;
  GLuint mScratchIndices = 0;  // indices rewritten on the CPU
  std::uint32_t mFillMode = kFillSolid;
  GLint mWvpLocation = -1, mModeLocation = -1;
  internal::ProgramState mOwnState;
  internal::ProgramState* mEffectState = nullptr;
  int mShading = -1;
  Matrix mWorld = IdentityMatrix();
  Matrix mView = IdentityMatrix();
  Matrix mProjection = IdentityMatrix();
  std::vector<BaseTexture*> mTextures = std::vector<BaseTexture*>(16, nullptr);
  std::map<TransformState, Matrix> mTransforms;
  bool mInScene = false;
  bool mLost = false;
  int mChecksBeforeReset = 0;
  bool mGone = false;  // the context and its objects were lost
  int mGoneChecks = 0;
};

void ReadFacts() {
  api::ReadContext();
  auto text = [](GLenum name) {
    const auto* s = reinterpret_cast<const char*>(glGetString(name));
    return std::string(s != nullptr ? s : "");
  };
  gFacts.identifier.driver = text(GL_VERSION);
  gFacts.identifier.description = text(GL_RENDERER);
  gFacts.identifier.deviceName = text(GL_VENDOR);
  GLint maxSize = 0, maxSamples = 0, maxUnits = 0, maxTargets = 0;
  GLfloat maxAnisotropy = 1.0f;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &maxUnits);
  glGetIntegerv(GL_MAX_DRAW_BUFFERS, &maxTargets);
  if (api::Current().anisotropy) glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAnisotropy);
  gFacts.identifier.api = api::Desktop() ? "OpenGL 4.5 core" : "OpenGL ES 3.0";
  Caps& caps = gFacts.caps;
  caps.textureCaps = kTextureCapsCubeMap;  // no power-of-two restriction
  caps.vertexProcessingCaps = 0x1FF;
  caps.maxTextureWidth = caps.maxTextureHeight = static_cast<std::uint32_t>(maxSize);
  caps.maxSimultaneousTextures = static_cast<std::uint32_t>(std::min(maxUnits, 16));
  caps.numSimultaneousRTs = static_cast<std::uint32_t>(std::min(maxTargets, 4));
  caps.vertexShaderVersion = 0xFFFE0300;
  caps.pixelShaderVersion = 0xFFFF0300;
  caps.maxAnisotropy = static_cast<std::uint32_t>(maxAnisotropy);
  gFacts.maxSamples = maxSamples;
  gFacts.ok = true;
}

// Reads the facts from the current context, or from a hidden helper
// context when none is current; false when GL cannot start.
bool EnsureFacts() {
  if (gFacts.known) return gFacts.ok;
  gFacts.known = true;
  if (ContextCurrent()) {
    ReadFacts();
    return true;
  }
  surface::Window* window = surface::CreateHiddenWindow();
  if (window == nullptr) {
    gLastError = std::string("hidden OpenGL window: ") + surface::Error();
    return false;
  }
  surface::Context context = CreateContext(window);
  if (context != nullptr) {
    ReadFacts();
    surface::MakeCurrent(window, nullptr);
    surface::DeleteContext(context);
  }
  surface::DestroyWindow(window);
  return gFacts.ok;
}

Result GlDevice::GetDeviceCaps(Caps* caps) {
  if (caps == nullptr || !EnsureFacts()) return kInvalidCall;
  *caps = gFacts.caps;
  return kOk;
}

class GlDirect3D : public shared::DisplayAdapter {
 public:
  Result GetAdapterIdentifier(std::uint32_t adapter, std::uint32_t,
                              AdapterIdentifier* identifier) override {
    if (adapter != 0 || identifier == nullptr) return kInvalidCall;
    if (!EnsureFacts()) return kNotAvailable;
    *identifier = gFacts.identifier;
    return kOk;
  }

  Result GetDeviceCaps(std::uint32_t adapter, DeviceType, Caps* caps) override {
    if (adapter != 0 || caps == nullptr) return kInvalidCall;
    if (!EnsureFacts()) return kNotAvailable;
    *caps = gFacts.caps;
    return kOk;
  }

  // Level 1 (the library's non-maskable type) is not offered; 2..GL_MAX_SAMPLES are.
  Result CheckDeviceMultiSampleType(std::uint32_t adapter, DeviceType, Format format, bool,
                                    int level, std::uint32_t* qualityLevels) override {
    if (adapter != 0) return kInvalidCall;
    FormatInfo info;
    if (!EnsureFacts() || !LookupFormat(format, &info) || info.compressed) return kNotAvailable;
    if (level != 0 && (level < 2 || level > gFacts.maxSamples)) return kNotAvailable;
    if (qualityLevels != nullptr) *qualityLevels = 1;
    return kOk;
  }

  Result CreateDevice(std::uint32_t adapter, DeviceType, Window* focusWindow, std::uint32_t,
                      PresentParameters* parameters, Device** device) override {
    if (adapter != 0 || parameters == nullptr || device == nullptr) return kInvalidCall;
    // One context at a time: the objects' names live in it.
    if (gLiveDevice != nullptr) return kNotAvailable;
    Window* shown = parameters->deviceWindow != nullptr ? parameters->deviceWindow : focusWindow;
    surface::Window* own = nullptr;
    surface::Window* window =
        shown != nullptr ? surface::FromNative(shown->NativeHandle()) : nullptr;
    if (window == nullptr) {
      own = window = surface::CreateHiddenWindow();
      if (window == nullptr) {
        gLastError = std::string("hidden OpenGL window: ") + surface::Error();
        return kNotAvailable;
      }
    }
    surface::Context context = CreateContext(window);
    if (context == nullptr) {
      if (own != nullptr) surface::DestroyWindow(own);
      return kNotAvailable;
    }
    if (!gFacts.known) EnsureFacts();
    PresentParameters p = *parameters;
    if (!GlDevice::Acceptable(p)) {
      surface::MakeCurrent(window, nullptr);
      surface::DeleteContext(context);
      if (own != nullptr) surface::DestroyWindow(own);
      return kInvalidCall;
    }
    if (p.deviceWindow == nullptr) p.deviceWindow = shown;
    auto* created = new GlDevice(window, own, context);
    if (!created->Init(p)) {
      created->Release();
      return kNotAvailable;
    }
    *device = created;
    return kOk;
  }
};

}  // namespace

int AttributeLocation(std::uint8_t usage, std::uint8_t usageIndex) {
  switch (usage) {
    case kDeclUsagePosition: return usageIndex == 0 ? 0 : -1;
    case kDeclUsageBlendWeight: return usageIndex == 0 ? 1 : -1;
    case kDeclUsageBlendIndices: return usageIndex == 0 ? 2 : -1;
    case kDeclUsageNormal: return usageIndex == 0 ? 3 : -1;
    case kDeclUsageColor: return usageIndex < 2 ? 4 + usageIndex : -1;
    case kDeclUsageTexCoord: return usageIndex < 8 ? 6 + usageIndex : -1;
    case kDeclUsageTangent: return usageIndex == 0 ? 14 : -1;
    case kDeclUsageBinormal: return usageIndex == 0 ? 15 : -1;
    case kDeclUsagePSize: return usageIndex == 0 ? 16 : -1;
    default: return -1;
  }
}

std::string LastError() { return gLastError; }

void LoseDeviceForTesting(int checksBeforeReset) {
  if (gLiveDevice != nullptr) gLiveDevice->Lose(checksBeforeReset);
}

void LoseContextForTesting(int checksBeforeBack) {
  if (gLiveDevice != nullptr) gLiveDevice->LoseContext(checksBeforeBack);
}

int LiveDefaultPoolResources() { return gDefaultPoolAlive; }

void CapturePresentsForTesting(bool on) {
  gCapturePresents = on;
  if (!on) gPresented.clear(), gPresentedWidth = gPresentedHeight = 0;
}

std::vector<std::uint32_t> LastPresentedForTesting(int* width, int* height) {
  if (width != nullptr) *width = gPresentedWidth;
  if (height != nullptr) *height = gPresentedHeight;
  return gPresented;
}

std::uint32_t TakeGlError() {
  if (!ContextCurrent()) return 0;
  std::uint32_t first = 0;
  for (GLenum e = glGetError(); e != GL_NO_ERROR; e = glGetError()) {
    if (first == 0) first = e;
  }
  return first;
}

namespace internal {

bool IsLiveGlDevice(Device* device) {
  auto* gl = dynamic_cast<GlDevice*>(device);
  return gl != nullptr && gl == gLiveDevice && gl->Current();
}

bool TextureName(BaseTexture* texture, unsigned* name, unsigned* target, bool* filterable) {
  if (auto* t = dynamic_cast<GlTexture*>(texture)) {
    *name = t->Name();
    *target = GL_TEXTURE_2D;
    *filterable = t->Filterable();
    return true;
  }
  if (auto* t = dynamic_cast<GlCubeTexture*>(texture)) {
    *name = t->Name();
    *target = GL_TEXTURE_CUBE_MAP;
    *filterable = t->Filterable();
    return true;
  }
  return false;
}

void SetEffectProgram(Device* device, unsigned program, ProgramState* state) {
  if (auto* gl = dynamic_cast<GlDevice*>(device)) gl->SetEffectProgram(program, state);
}

void UseProgram(Device* device, unsigned program) {
  if (auto* gl = dynamic_cast<GlDevice*>(device)) gl->UseProgram(program);
}

void SetFillMode(Device* device, std::uint32_t mode) {
  if (auto* gl = dynamic_cast<GlDevice*>(device)) gl->SetFillMode(mode);
}

Matrix WorldViewProjection(Device* device) {
  if (auto* gl = dynamic_cast<GlDevice*>(device)) return gl->WorldViewProjection();
  return IdentityMatrix();
}

std::uint64_t ContextSerial() { return ContextCurrent() && !gContextGone ? gContextSerial : 0; }

}  // namespace internal

void SetContextAttributes() { surface::PrepareContextKind(api::WantEs()); }

void HideExtensionsForTesting(std::vector<std::string> names) { api::HideExtensions(std::move(names)); }

Direct3D* CreateDirect3D() {
  if (!surface::StartVideo()) {
    gLastError = std::string("SDL video: ") + surface::Error();
    return nullptr;
  }
  return new GlDirect3D;
}

}  // namespace platform::gl
