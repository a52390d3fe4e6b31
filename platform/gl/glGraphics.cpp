#include "platform/gl/glGraphics.h"
#include "platform/gl/glInternal.h"
#include "platform/graphicsShared.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
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

bool ContextCurrent() { return SDL_GL_GetCurrentContext() != nullptr; }

// Which device's context is live: 0 when none, a new number for each device.
std::uint64_t gContextSerial = 0;
std::uint64_t gLastSerial = 0;

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

GlHandle NewTexture(GLenum target) {
  GLuint name = 0;
  glCreateTextures(target, 1, &name);
  return std::make_shared<GlObject>(GlObject::kTexture, name);
}

GlHandle NewRenderbuffer() {
  GLuint name = 0;
  glCreateRenderbuffers(1, &name);
  return std::make_shared<GlObject>(GlObject::kRenderbuffer, name);
}

// How a format lives in GL: storage, upload/read-back format and type, and
// the swizzle that gives the sampling result the graphics library defines.
struct FormatInfo {
  GLenum internal = 0;
  GLenum format = 0;
  GLenum type = 0;
  bool compressed = false;
  std::array<GLint, 4> swizzle = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
};

bool LookupFormat(Format format, FormatInfo* info) {
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

// One image: a texture level (or a cube face's level), the back buffer's
// colour, a depth buffer or a system-memory surface.
class GlSurface : public shared::CpuSurface {
 public:
  explicit GlSurface(const SurfaceDesc& desc) : CpuSurface(desc) {}

  void Unlocked() override { Upload(); }

  // A read started by GetRenderTargetDataAsync lands here first.
  Result LockRect(LockedRect* locked, const Rect* rect, std::uint32_t flags) override {
    FetchPack();
    return CpuSurface::LockRect(locked, rect, flags);
  }

  // Copies a finished asynchronous read into the CPU pixels; waits only if
  // the GPU has not written it yet. A read whose context has gone is lost.
  void FetchPack() {
    if (!mPackPending) return;
    mPackPending = false;
    if (mPack->serial != gContextSerial || !ContextCurrent()) return;
    glGetNamedBufferSubData(mPack->name, 0, static_cast<GLsizeiptr>(mPixels.size()), mPixels.data());
  }

  // Sends the whole level from the CPU copy, top row first.
  void Upload() {
    if (!mTexture || mPixels.empty()) return;
    FormatInfo info;
    if (!LookupFormat(mDesc.format, &info)) return;
    const auto w = static_cast<GLsizei>(mDesc.width), h = static_cast<GLsizei>(mDesc.height);
    const GLuint name = mTexture->name;
    if (info.compressed) {
      const auto size = static_cast<GLsizei>(mPixels.size());
      if (mFace >= 0) {
        glCompressedTextureSubImage3D(name, mLevel, 0, 0, mFace, w, h, 1, info.internal, size,
                                      mPixels.data());
      } else {
        glCompressedTextureSubImage2D(name, mLevel, 0, 0, w, h, info.internal, size,
                                      mPixels.data());
      }
    } else if (mFace >= 0) {
      glTextureSubImage3D(name, mLevel, 0, 0, mFace, w, h, 1, info.format, info.type,
                          mPixels.data());
    } else {
      glTextureSubImage2D(name, mLevel, 0, 0, w, h, info.format, info.type, mPixels.data());
    }
    if (mLevel == 0 && (mDesc.usage & kUsageAutoGenMipmap) != 0) glGenerateTextureMipmap(name);
  }

  // Attaches this image to an FBO as colour or depth.
  void Attach(GLuint fbo, GLenum point = GL_COLOR_ATTACHMENT0) const {
    if (IsDepthFormat(mDesc.format)) {
      glNamedFramebufferRenderbuffer(fbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
      const GLenum point =
          mDesc.format == kFormatD16 ? GL_DEPTH_ATTACHMENT : GL_DEPTH_STENCIL_ATTACHMENT;
      glNamedFramebufferRenderbuffer(fbo, point, GL_RENDERBUFFER, mRenderbuffer->name);
    } else if (mRenderbuffer) {
      glNamedFramebufferRenderbuffer(fbo, point, GL_RENDERBUFFER, mRenderbuffer->name);
    } else if (mFace >= 0) {
      glNamedFramebufferTextureLayer(fbo, point, mTexture->name, mLevel, mFace);
    } else {
      glNamedFramebufferTexture(fbo, point, mTexture->name, mLevel);
    }
  }

  bool Lockable() const { return mDesc.pool == kPoolSystemMem; }
  bool HasImage() const { return mTexture || mRenderbuffer; }
  bool IsColorTarget() const { return HasImage() && !IsDepthFormat(mDesc.format); }

  GlHandle mTexture;       // the texture holding this level
  GLint mLevel = 0;
  GLint mFace = -1;        // cube face, -1 for 2D
  GlHandle mRenderbuffer;  // multisampled colour or a depth buffer
  GlHandle mResolve;       // single-sample copy of a multisampled colour
  std::uint64_t mResolvedAt = ~std::uint64_t{0};  // the device's draw count it shows
  GlHandle mPack;          // pixel buffer an asynchronous read writes into
  bool mPackPending = false;
};

void ApplySampling(GLuint name, const FormatInfo& info, std::uint32_t levels) {
  glTextureParameteriv(name, GL_TEXTURE_SWIZZLE_RGBA, info.swizzle.data());
  glTextureParameteri(name, GL_TEXTURE_BASE_LEVEL, 0);
  glTextureParameteri(name, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels) - 1);
  glTextureParameteri(name, GL_TEXTURE_MIN_FILTER,
                      levels > 1 ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
  glTextureParameteri(name, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

class GlTexture : public Texture {
 public:
  GlTexture(std::uint32_t w, std::uint32_t h, std::uint32_t levels, std::uint32_t storageLevels,
            std::uint32_t usage, Format format, Pool pool, const FormatInfo& info)
      : mMember(pool), mHandle(NewTexture(GL_TEXTURE_2D)) {
    glTextureStorage2D(mHandle->name, static_cast<GLsizei>(storageLevels), info.internal,
                       static_cast<GLsizei>(w), static_cast<GLsizei>(h));
    ApplySampling(mHandle->name, info, storageLevels);
    for (std::uint32_t level = 0; level < levels; ++level) {
      auto* s = new GlSurface(
          SurfaceDesc{format, usage, pool, 0, std::max(1u, w >> level), std::max(1u, h >> level)});
      s->mTexture = mHandle;
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

  GLuint Name() const { return mHandle->name; }

 private:
  DefaultPoolMember mMember;
  GlHandle mHandle;
  std::vector<GlSurface*> mLevels;
};

class GlCubeTexture : public CubeTexture {
 public:
  GlCubeTexture(std::uint32_t edge, std::uint32_t levels, std::uint32_t storageLevels,
                std::uint32_t usage, Format format, Pool pool, const FormatInfo& info)
      : mMember(pool), mHandle(NewTexture(GL_TEXTURE_CUBE_MAP)), mLevels(levels) {
    glTextureStorage2D(mHandle->name, static_cast<GLsizei>(storageLevels), info.internal,
                       static_cast<GLsizei>(edge), static_cast<GLsizei>(edge));
    ApplySampling(mHandle->name, info, storageLevels);
    glTextureParameteri(mHandle->name, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTextureParameteri(mHandle->name, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    for (std::uint32_t face = 0; face < 6; ++face) {
      for (std::uint32_t level = 0; level < levels; ++level) {
        const std::uint32_t size = std::max(1u, edge >> level);
        auto* s = new GlSurface(SurfaceDesc{format, usage, pool, 0, size, size});
        s->mTexture = mHandle;
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

  GLuint Name() const { return mHandle->name; }

 private:
  DefaultPoolMember mMember;
  GlHandle mHandle;
  std::uint32_t mLevels;
  std::vector<GlSurface*> mSurfaces;
};

// A GL buffer with a CPU copy: Lock hands out the copy, Unlock sends the
// locked range, so no mapping outlives a call.
template <class Base>
class GlBuffer : public Base, public Serial {
 public:
  explicit GlBuffer(const BufferDesc& desc) : mDesc(desc), mMember(desc.pool), mBytes(desc.size) {
    GLuint name = 0;
    glCreateBuffers(1, &name);
    glNamedBufferStorage(name, desc.size, nullptr, GL_DYNAMIC_STORAGE_BIT);
    mHandle = std::make_shared<GlObject>(GlObject::kBuffer, name);
  }

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
      glNamedBufferSubData(mHandle->name, mLockOffset, mLockSize, mBytes.data() + mLockOffset);
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

 private:
  BufferDesc mDesc;
  DefaultPoolMember mMember;
  std::vector<std::uint8_t> mBytes;
  GlHandle mHandle;
  bool mLocked = false;
  std::uint32_t mLockOffset = 0, mLockSize = 0;
};

using GlVertexBuffer = GlBuffer<VertexBuffer>;
using GlIndexBuffer = GlBuffer<IndexBuffer>;

class GlTimestamp : public Query {
 public:
  GlTimestamp() {
    GLuint name = 0;
    glGenQueries(1, &name);
    mHandle = std::make_shared<GlObject>(GlObject::kQuery, name);
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
    glQueryCounter(mHandle->name, GL_TIMESTAMP);
    return kOk;
  }

  Result GetData(std::uint64_t* nanoseconds, bool* ready) override {
    if (nanoseconds == nullptr || ready == nullptr || !mIssued || !ContextCurrent()) return kInvalidCall;
    if (mSynced) {
      *ready = true;
      *nanoseconds = mTime;
      return kOk;
    }
    GLint available = 0;
    glGetQueryObjectiv(mHandle->name, GL_QUERY_RESULT_AVAILABLE, &available);
    *ready = available != 0;
    if (*ready) {
      GLuint64 value = 0;
      glGetQueryObjectui64v(mHandle->name, GL_QUERY_RESULT, &value);
      *nanoseconds = value;
    }
    return kOk;
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
// negated so that the picture's top row lands in GL row 0.
const char* kBuiltinVertex = R"(#version 450 core
layout(location = 0) in vec4 aPosition;
layout(location = 4) in vec4 aColor;
layout(location = 6) in vec2 aTexCoord;
layout(location = 0) uniform mat4 uWorldViewProjection;
out vec4 vColor;
out vec2 vTexCoord;
void main() {
  gl_Position = uWorldViewProjection * aPosition;
  gl_Position.y = -gl_Position.y;
  vColor = aColor;
  vTexCoord = aTexCoord;
}
)";

const char* kBuiltinFragment = R"(#version 450 core
layout(location = 1) uniform int uMode;  // 0 white, 1 vertex colour, 2 texture
layout(binding = 0) uniform sampler2D uTexture;
in vec4 vColor;
in vec2 vTexCoord;
out vec4 oColor;
void main() {
  oColor = uMode == 1 ? vColor : uMode == 2 ? texture(uTexture, vTexCoord) : vec4(1.0);
}
)";

GLuint CompileProgram(std::string* error) {
  GLuint program = glCreateProgram();
  const char* sources[2] = {kBuiltinVertex, kBuiltinFragment};
  const GLenum stages[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
  GLuint shaders[2];
  for (int i = 0; i < 2; ++i) {
    shaders[i] = glCreateShader(stages[i]);
    glShaderSource(shaders[i], 1, &sources[i], nullptr);
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

void SetContextAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

SDL_Window* CreateHiddenWindow() {
  return SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
}

// Creates a 4.5 core context on the window and makes it current.
SDL_GLContext CreateContext(SDL_Window* window) {
  SetContextAttributes();
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (context == nullptr) {
    gLastError = std::string("OpenGL 4.5 core context: ") + SDL_GetError();
    return nullptr;
  }
  if (SDL_GL_MakeCurrent(window, context) != 0 || epoxy_gl_version() < 45) {
    gLastError = "OpenGL 4.5 core is not available";
    SDL_GL_DeleteContext(context);
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
  GlDevice(SDL_Window* window, SDL_Window* ownWindow, SDL_GLContext context)
      : mWindow(window), mOwnWindow(ownWindow), mContext(context) {
    glCreateFramebuffers(1, &mRenderFbo);
    glCreateFramebuffers(1, &mReadFbo);
    glCreateFramebuffers(1, &mDrawFbo);
    glCreateVertexArrays(1, &mVao);
    glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_CULL_FACE);
    gLiveDevice = this;
    gContextSerial = ++gLastSerial;
  }

  // Finishes construction; false (with gLastError) when GL refuses.
  bool Init(const PresentParameters& parameters) {
    mProgram = CompileProgram(&gLastError);
    if (mProgram == 0) return false;
    glUseProgram(mProgram);
    mCurrentProgram = mProgram;
    return CreateDefaultTargets(parameters);
  }

  ~GlDevice() override {
    SDL_GL_MakeCurrent(mWindow, mContext);
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
    if (mProgram != 0) glDeleteProgram(mProgram);
    gContextSerial = 0;
    SDL_GL_MakeCurrent(mWindow, nullptr);
    SDL_GL_DeleteContext(mContext);
    if (mOwnWindow != nullptr) SDL_DestroyWindow(mOwnWindow);
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
    if (parameters == nullptr || !Acceptable(*parameters)) return kInvalidCall;
    if (mLost && mChecksBeforeReset > 0) return kDeviceLost;
    // The graphics library refuses while default-pool resources live.
    if (gDefaultPoolAlive > 0) return kInvalidCall;
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
    if (mLost) return kDeviceLost;
    SDL_Window* window =
        override != nullptr ? static_cast<SDL_Window*>(override->NativeHandle()) : mWindow;
    if (window != mWindow) SDL_GL_MakeCurrent(window, mContext);
    int windowWidth = 0, windowHeight = 0;
    SDL_GL_GetDrawableSize(window, &windowWidth, &windowHeight);
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
    glBlitNamedFramebuffer(mReadFbo, 0, s.left, s.top, s.right, s.bottom, d.left,
                           windowHeight - d.top, d.right, windowHeight - d.bottom,
                           GL_COLOR_BUFFER_BIT, scaled ? GL_LINEAR : GL_NEAREST);
    if (gCapturePresents) CaptureWindow(windowWidth, windowHeight);
    SDL_GL_SwapWindow(window);
    if (window != mWindow) SDL_GL_MakeCurrent(mWindow, mContext);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mRenderFbo);
    return kOk;
  }

  Result BeginScene() override {
    if (mInScene) return kInvalidCall;
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
    if (!LookupFormat(to->mDesc.format, &info) || info.compressed) return kInvalidCall;
    const Rect s = sourceRect != nullptr ? *sourceRect : WholeOf(from);
    const Rect d = destinationRect != nullptr ? *destinationRect : WholeOf(to);
    if (!Inside(s, from) || !Inside(d, to)) return kInvalidCall;
    ReadFrom(from);
    to->Attach(mDrawFbo);
    glDisable(GL_SCISSOR_TEST);
    glBlitNamedFramebuffer(mReadFbo, mDrawFbo, s.left, s.top, s.right, s.bottom, d.left, d.top,
                           d.right, d.bottom, GL_COLOR_BUFFER_BIT,
                           filter == kFilterLinear ? GL_LINEAR : GL_NEAREST);
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
    if (!LookupFormat(format, &info) || (target && info.compressed)) return kInvalidCall;
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
    if (!LookupFormat(format, &info) || (target && info.compressed)) return kInvalidCall;
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
    *buffer = new GlVertexBuffer(BufferDesc{length, usage, pool, kFormatUnknown});
    return kOk;
  }

  Result CreateIndexBuffer(std::uint32_t length, std::uint32_t usage, Format format, Pool pool,
                           IndexBuffer** buffer, void*) override {
    if (buffer == nullptr || length == 0) return kInvalidCall;
    if (format != kFormatIndex16 && format != kFormatIndex32) return kInvalidCall;
    *buffer = new GlIndexBuffer(BufferDesc{length, usage, pool, format});
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
    if (primitiveCount == 0) return kOk;
    bool hasColor = false, hasTexCoord = false;
    if (!SetUpVertexArray(&hasColor, &hasTexCoord)) return kInvalidCall;
    auto* indices = static_cast<GlIndexBuffer*>(mIndices);
    const bool wide = indices->Desc().format == kFormatIndex32;
    const std::uint32_t indexSize = wide ? 4 : 2;
    if ((static_cast<std::uint64_t>(startIndex) + static_cast<std::uint64_t>(count)) * indexSize >
        indices->Desc().size) {
      return kInvalidCall;
    }
    if (mVaoIndices != indices->Id()) {
      glVertexArrayElementBuffer(mVao, indices->Name());
      mVaoIndices = indices->Id();
    }

    const GLuint program = mEffectProgram != 0 ? mEffectProgram : mProgram;
    if (program != mCurrentProgram) {
      glUseProgram(program);
      mCurrentProgram = program;
    }
    if (mEffectProgram == 0) {
      // Row vectors times row-major matrices: GL reads the rows as columns,
      // which is the transpose a column-vector shader needs.
      const Matrix wvp = WorldViewProjection();
      glProgramUniformMatrix4fv(mProgram, 0, 1, GL_FALSE, &wvp.m[0][0]);
      int shading = 0;
      if (hasColor) {
        shading = 1;
      } else if (hasTexCoord && mTextures[0] != nullptr) {
        if (auto* t = dynamic_cast<GlTexture*>(mTextures[0])) {
          glBindTextureUnit(0, t->Name());
          shading = 2;
        }
      }
      if (shading != mShading) {
        glProgramUniform1i(mProgram, 1, shading);
        mShading = shading;
      }
    }
    // Bound only around the draw: Mesa revalidates a bound vertex array on
    // every change to it, an unbound one once when it is bound (measured).
    glBindVertexArray(mVao);
    ++mDraws;
    glDrawElementsBaseVertex(
        mode, count, wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
        reinterpret_cast<const void*>(static_cast<std::uintptr_t>(startIndex) * indexSize),
        baseVertex);
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
    // A driver may expose the call with a counter of no bits: no clock.
    GLint bits = 0;
    glGetQueryiv(GL_TIMESTAMP, GL_QUERY_COUNTER_BITS, &bits);
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

  void SetEffectProgram(GLuint program) { mEffectProgram = program; }
  bool Current() const { return SDL_GL_GetCurrentContext() == mContext; }

 private:
  static constexpr std::uint32_t kStreams = 16;
  static constexpr std::uint32_t kTargets = 4;

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
    glReadnPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE,
                  static_cast<GLsizei>(rows.size() * 4), rows.data());
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
      glGenerateTextureMipmap(s->mTexture->name);
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

  // Attaches a colour image to the read FBO; a multisampled one is resolved
  // into its single-sample texture first.
  // A render target into a system-memory surface: at once, or (async) into
  // the surface's pixel buffer, fetched when it is locked.
  Result ReadBack(Surface* renderTarget, Surface* destination, bool async) {
    if (renderTarget == nullptr || destination == nullptr) return kInvalidCall;
    auto* from = static_cast<GlSurface*>(renderTarget);
    auto* to = static_cast<GlSurface*>(destination);
    FormatInfo info;
    if (!from->IsColorTarget() || to->mDesc.pool != kPoolSystemMem ||
        from->mDesc.width != to->mDesc.width || from->mDesc.height != to->mDesc.height ||
        !LookupFormat(to->mDesc.format, &info) || info.compressed) {
      return kInvalidCall;
    }
    ReadFrom(from);
    to->mPixels.resize(LevelBytes(to->mDesc.format, to->mDesc.width, to->mDesc.height));
    const auto bytes = static_cast<GLsizei>(to->mPixels.size());
    // A read still in flight is overtaken by this one.
    to->mPackPending = false;
    if (async && (!to->mPack || to->mPack->serial != gContextSerial)) {
      GLuint name = 0;
      glCreateBuffers(1, &name);
      glNamedBufferData(name, bytes, nullptr, GL_STREAM_READ);
      to->mPack = std::make_shared<GlObject>(GlObject::kBuffer, name);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, mReadFbo);
    if (async) glBindBuffer(GL_PIXEL_PACK_BUFFER, to->mPack->name);
    // Rows come bottom-of-GL first, which is the picture's top row.
    glReadnPixels(0, 0, static_cast<GLsizei>(to->mDesc.width),
                  static_cast<GLsizei>(to->mDesc.height), info.format, info.type, bytes,
                  async ? nullptr : to->mPixels.data());
    if (async) {
      glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
      to->mPackPending = true;
      // Under way while the next frame is built.
      glFlush();
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return kOk;
  }

  void ReadFrom(GlSurface* s) {
    glDisable(GL_SCISSOR_TEST);
    if (s->mRenderbuffer && s->mResolve) {
      // Resolved once for every read until something is drawn again: the
      // last-frame copy, Present and a recording's read-back share one.
      if (s->mResolvedAt != mDraws) {
        const auto w = static_cast<GLint>(s->mDesc.width), h = static_cast<GLint>(s->mDesc.height);
        s->Attach(mReadFbo);
        glNamedFramebufferTexture(mDrawFbo, GL_COLOR_ATTACHMENT0, s->mResolve->name, 0);
        glBlitNamedFramebuffer(mReadFbo, mDrawFbo, 0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT,
                               GL_NEAREST);
        s->mResolvedAt = mDraws;
      }
      glNamedFramebufferTexture(mReadFbo, GL_COLOR_ATTACHMENT0, s->mResolve->name, 0);
    } else {
      s->Attach(mReadFbo);
    }
  }

  // The render FBO gets the current target and, when its size and sample
  // count match, the current depth buffer; the viewport covers the target.
  void BindTarget() {
    auto* target = static_cast<GlSurface*>(mTarget);
    auto* depth = static_cast<GlSurface*>(mDepth);
    target->Attach(mRenderFbo);
    GLenum buffers[kTargets] = {GL_COLOR_ATTACHMENT0, GL_NONE, GL_NONE, GL_NONE};
    GLsizei count = 1;
    for (std::uint32_t i = 1; i < kTargets; ++i) {
      auto* extra = static_cast<GlSurface*>(mExtraTargets[i - 1]);
      const GLenum point = GL_COLOR_ATTACHMENT0 + i;
      if (extra != nullptr && extra->mDesc.width == target->mDesc.width &&
          extra->mDesc.height == target->mDesc.height) {
        extra->Attach(mRenderFbo, point);
        buffers[i] = point;
        count = static_cast<GLsizei>(i + 1);
      } else {
        glNamedFramebufferTexture(mRenderFbo, point, 0, 0);
      }
    }
    glNamedFramebufferDrawBuffers(mRenderFbo, count, buffers);
    mDepthAttached = depth != nullptr && depth->mDesc.width == target->mDesc.width &&
                     depth->mDesc.height == target->mDesc.height &&
                     depth->mDesc.multiSampleType == target->mDesc.multiSampleType;
    if (mDepthAttached) {
      depth->Attach(mRenderFbo);
    } else {
      glNamedFramebufferRenderbuffer(mRenderFbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    }
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, mRenderFbo);
    glViewport(0, 0, static_cast<GLsizei>(target->mDesc.width),
               static_cast<GLsizei>(target->mDesc.height));
  }

  // Formats are set again only when the declaration changes, buffer
  // bindings only where a stream changed.
  bool SetUpVertexArray(bool* hasColor, bool* hasTexCoord) {
    if (mVaoDeclaration != static_cast<GlDeclaration*>(mDeclaration)->Id() && !SetUpFormats()) {
      return false;
    }
    *hasColor = mVaoHasColor;
    *hasTexCoord = mVaoHasTexCoord;
    for (std::uint32_t s = 0; s < kStreams; ++s) {
      if ((mVaoStreamMask & (1u << s)) == 0) continue;
      const StreamBinding& b = mStreams[s];
      if (b.buffer == nullptr) return false;
      auto* buffer = static_cast<GlVertexBuffer*>(b.buffer);
      BoundStream& bound = mVaoStreams[s];
      if (bound.buffer == buffer->Id() && bound.offset == b.offset && bound.stride == b.stride) {
        continue;
      }
      glVertexArrayVertexBuffer(mVao, s, buffer->Name(), static_cast<GLintptr>(b.offset),
                                static_cast<GLsizei>(b.stride));
      bound = {buffer->Id(), b.offset, b.stride};
    }
    return true;
  }

  bool SetUpFormats() {
    const auto& elements = static_cast<GlDeclaration*>(mDeclaration)->Elements();
    std::uint32_t enabled = 0, streams = 0;
    bool hasColor = false, hasTexCoord = false;
    for (const VertexElement& e : elements) {
      if (e.stream == 0xFF) break;
      const int location = AttributeLocation(e.usage, e.usageIndex);
      if (location < 0 || e.type == kDeclUnused) continue;
      GLint size = 4;
      GLenum glType = GL_FLOAT;
      GLboolean normalized = GL_FALSE;
      switch (e.type) {
        case kDeclFloat1: size = 1; break;
        case kDeclFloat2: size = 2; break;
        case kDeclFloat3: size = 3; break;
        case kDeclFloat4: size = 4; break;
        // Bytes B, G, R, A in memory, read as normalised RGBA.
        case kDeclColor: size = GL_BGRA, glType = GL_UNSIGNED_BYTE, normalized = GL_TRUE; break;
        case kDeclUByte4: size = 4, glType = GL_UNSIGNED_BYTE; break;
        default: return false;
      }
      const auto loc = static_cast<GLuint>(location);
      glEnableVertexArrayAttrib(mVao, loc);
      glVertexArrayAttribFormat(mVao, loc, size, glType, normalized, e.offset);
      glVertexArrayAttribBinding(mVao, loc, e.stream);
      enabled |= 1u << loc;
      streams |= 1u << e.stream;
      if (e.usage == kDeclUsageColor && e.usageIndex == 0) hasColor = true;
      if (e.usage == kDeclUsageTexCoord && e.usageIndex == 0) hasTexCoord = true;
    }
    for (int loc = 0; loc < kAttributeCount; ++loc) {
      if ((mEnabledAttributes & ~enabled & (1u << loc)) != 0) {
        glDisableVertexArrayAttrib(mVao, static_cast<GLuint>(loc));
      }
    }
    mEnabledAttributes = enabled;
    mVaoStreamMask = streams;
    mVaoHasColor = hasColor;
    mVaoHasTexCoord = hasTexCoord;
    mVaoDeclaration = static_cast<GlDeclaration*>(mDeclaration)->Id();
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
  bool CreateDefaultTargets(const PresentParameters& p) {
    std::uint32_t w = p.backBufferWidth, h = p.backBufferHeight;
    if (w == 0 || h == 0) {
      const Window* window = p.deviceWindow;
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
    glTextureStorage2D(back->mTexture->name, 1, info.internal, gw, gh);
    if (samples > 0) {
      // Drawn multisampled, resolved into the texture whenever it is read.
      back->mRenderbuffer = NewRenderbuffer();
      glNamedRenderbufferStorageMultisample(back->mRenderbuffer->name, samples, info.internal, gw,
                                            gh);
      back->mResolve = back->mTexture;
    }
    mBackBuffer = back;
    if (p.enableAutoDepthStencil) {
      auto* depth = new GlSurface(SurfaceDesc{p.autoDepthStencilFormat, kUsageDepthStencil,
                                              kPoolDefault, samples, w, h});
      depth->mRenderbuffer = NewRenderbuffer();
      const GLenum internal =
          p.autoDepthStencilFormat == kFormatD16 ? GL_DEPTH_COMPONENT16 : GL_DEPTH24_STENCIL8;
      glNamedRenderbufferStorageMultisample(depth->mRenderbuffer->name, samples, internal, gw,
                                            gh);
      mAutoDepth = depth;
    }
    Bind<Surface>(mTarget, mBackBuffer);
    Bind<Surface>(mDepth, mAutoDepth);
    BindTarget();
    SDL_GL_SetSwapInterval(p.presentationInterval == kPresentIntervalImmediate ? 0 : 1);
    const GLenum status = glCheckNamedFramebufferStatus(mRenderFbo, GL_DRAW_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
      gLastError = "the back buffer's framebuffer is incomplete";
      return false;
    }
    return true;
  }

  SDL_Window* mWindow;
  SDL_Window* mOwnWindow;
  SDL_GLContext mContext;
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
  std::uint32_t mEnabledAttributes = 0;
  // What the vertex array and the program were last set up with.
  struct BoundStream {
    std::uint64_t buffer = 0;
    std::uint32_t offset = 0;
    std::uint32_t stride = 0;
  };
  std::uint64_t mVaoDeclaration = 0;
  std::uint32_t mVaoStreamMask = 0;
  bool mVaoHasColor = false;
  bool mVaoHasTexCoord = false;
  std::array<BoundStream, kStreams> mVaoStreams{};
  std::uint64_t mVaoIndices = 0;
  int mShading = -1;
  Matrix mWorld = IdentityMatrix();
  Matrix mView = IdentityMatrix();
  Matrix mProjection = IdentityMatrix();
  std::vector<BaseTexture*> mTextures = std::vector<BaseTexture*>(16, nullptr);
  std::map<TransformState, Matrix> mTransforms;
  bool mInScene = false;
  bool mLost = false;
  int mChecksBeforeReset = 0;
};

void ReadFacts() {
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
  if (epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
      epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic")) {
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAnisotropy);
  }
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
  SDL_Window* window = CreateHiddenWindow();
  if (window == nullptr) {
    gLastError = std::string("hidden OpenGL window: ") + SDL_GetError();
    return false;
  }
  SDL_GLContext context = CreateContext(window);
  if (context != nullptr) {
    ReadFacts();
    SDL_GL_MakeCurrent(window, nullptr);
    SDL_GL_DeleteContext(context);
  }
  SDL_DestroyWindow(window);
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
    SDL_Window* own = nullptr;
    SDL_Window* window =
        shown != nullptr ? static_cast<SDL_Window*>(shown->NativeHandle()) : nullptr;
    if (window == nullptr) {
      own = window = CreateHiddenWindow();
      if (window == nullptr) {
        gLastError = std::string("hidden OpenGL window: ") + SDL_GetError();
        return kNotAvailable;
      }
    }
    SDL_GLContext context = CreateContext(window);
    if (context == nullptr) {
      if (own != nullptr) SDL_DestroyWindow(own);
      return kNotAvailable;
    }
    if (!gFacts.known) EnsureFacts();
    PresentParameters p = *parameters;
    if (!GlDevice::Acceptable(p)) {
      SDL_GL_MakeCurrent(window, nullptr);
      SDL_GL_DeleteContext(context);
      if (own != nullptr) SDL_DestroyWindow(own);
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

bool TextureName(BaseTexture* texture, unsigned* name, unsigned* target) {
  if (auto* t = dynamic_cast<GlTexture*>(texture)) {
    *name = t->Name();
    *target = GL_TEXTURE_2D;
    return true;
  }
  if (auto* t = dynamic_cast<GlCubeTexture*>(texture)) {
    *name = t->Name();
    *target = GL_TEXTURE_CUBE_MAP;
    return true;
  }
  return false;
}

void SetEffectProgram(Device* device, unsigned program) {
  if (auto* gl = dynamic_cast<GlDevice*>(device)) gl->SetEffectProgram(program);
}

Matrix WorldViewProjection(Device* device) {
  if (auto* gl = dynamic_cast<GlDevice*>(device)) return gl->WorldViewProjection();
  return IdentityMatrix();
}

std::uint64_t ContextSerial() { return ContextCurrent() ? gContextSerial : 0; }

}  // namespace internal

Direct3D* CreateDirect3D() {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0 && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    gLastError = std::string("SDL video: ") + SDL_GetError();
    return nullptr;
  }
  return new GlDirect3D;
}

}  // namespace platform::gl
