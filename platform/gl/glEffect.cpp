#include "platform/gl/glEffect.h"

#include "platform/gl/glApi.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/gl/glInternal.h"

namespace platform::gl {
namespace {

class GlPassProgram : public fx::PassProgram {
 public:
  GlPassProgram(GLuint program, bool fixedFunctionVertex)
      : mProgram(program), mSerial(internal::ContextSerial()), mFixedVertex(fixedFunctionVertex) {}
  ~GlPassProgram() override {
    if (mSerial != internal::ContextSerial()) return;  // the context is gone
    for (GLuint b : mBlocks) {
      if (b != 0) glDeleteBuffers(1, &b);
    }
    glDeleteProgram(mProgram);
  }
  GlPassProgram(const GlPassProgram&) = delete;
  GlPassProgram& operator=(const GlPassProgram&) = delete;

  GLuint mProgram;
  std::uint64_t mSerial;
  bool mFixedVertex;
  GLint mWvpLocation = -1;                  // the fixed-function vertex stage's transform
  std::array<GLuint, 2> mBlocks{};           // each stage's uniform block
  std::array<GLint, 2> mLocations{-1, -1};  // or its uniforms as an array of vec4
  internal::ProgramState mState;
};

GLuint CompileStage(GLenum stage, const std::string& source, std::string* log) {
  GLuint shader = glCreateShader(stage);
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string text2(static_cast<std::size_t>(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, length, nullptr, text2.data());
    *log += (stage == GL_VERTEX_SHADER ? "vertex: " : "fragment: ") + std::string(text2.c_str());
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

GLenum Compare(std::uint32_t f) {
  static const GLenum kCompare[] = {GL_ALWAYS, GL_NEVER,  GL_LESS,     GL_EQUAL, GL_LEQUAL,
                                    GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
  return f < 9 ? kCompare[f] : GL_ALWAYS;
}

GLenum BlendFactor(std::uint32_t b) {
  switch (b) {
    case 1: return GL_ZERO;
    case 2: return GL_ONE;
    case 3: return GL_SRC_COLOR;
    case 4: return GL_ONE_MINUS_SRC_COLOR;
    case 5: return GL_SRC_ALPHA;
    case 6: return GL_ONE_MINUS_SRC_ALPHA;
    case 7: return GL_DST_ALPHA;
    case 8: return GL_ONE_MINUS_DST_ALPHA;
    case 9: return GL_DST_COLOR;
    case 10: return GL_ONE_MINUS_DST_COLOR;
    case 11: return GL_SRC_ALPHA_SATURATE;
    case 14: return GL_CONSTANT_COLOR;
    case 15: return GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
  }
}

GLenum BlendOp(std::uint32_t op) {
  switch (op) {
    case 2: return GL_FUNC_SUBTRACT;
    case 3: return GL_FUNC_REVERSE_SUBTRACT;
    case 4: return GL_MIN;
    case 5: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

void BlendPair(std::uint32_t src, std::uint32_t dst, GLenum* s, GLenum* d) {
  // The "both" factors set the destination from the source.
  if (src == 12) {
    *s = GL_SRC_ALPHA;
    *d = GL_ONE_MINUS_SRC_ALPHA;
  } else if (src == 13) {
    *s = GL_ONE_MINUS_SRC_ALPHA;
    *d = GL_SRC_ALPHA;
  } else {
    *s = BlendFactor(src);
    *d = BlendFactor(dst);
  }
}

// OpenGL ES (and WebGL 2) have no border and no mirror-once addressing:
// those clamp to the edge and mirror there (the compiler warns).
GLint Address(std::uint32_t a) {
  switch (a) {
    case 2: return GL_MIRRORED_REPEAT;
    case 3: return GL_CLAMP_TO_EDGE;
#if VELOX_GL_DESKTOP
    case 4: return api::Desktop() ? GL_CLAMP_TO_BORDER : GL_CLAMP_TO_EDGE;
    case 5: return api::Desktop() ? GL_MIRROR_CLAMP_TO_EDGE : GL_MIRRORED_REPEAT;
#else
    case 4: return GL_CLAMP_TO_EDGE;
    case 5: return GL_MIRRORED_REPEAT;
#endif
    default: return GL_REPEAT;
  }
}

class GlEffectBackend : public fx::Backend {
 public:
  explicit GlEffectBackend(Device* device)
      : mDevice(device), mSerial(internal::ContextSerial()),
        mAnisotropy(api::Current().anisotropy) {}

  fx::Glsl Language() const override {
    return api::Desktop() ? fx::Glsl::k450 : fx::Glsl::kEs300;
  }

  ~GlEffectBackend() override {
    if (mSerial != internal::ContextSerial()) return;
    for (GLuint s : mSamplers) {
      if (s != 0) glDeleteSamplers(1, &s);
    }
  }

  std::unique_ptr<fx::PassProgram> Link(const fx::CompiledPass& pass, std::string* log) override {
    GLuint vs = CompileStage(GL_VERTEX_SHADER, pass.vertex.glsl, log);
    GLuint fs = vs == 0 ? 0 : CompileStage(GL_FRAGMENT_SHADER, pass.pixel.glsl, log);
    if (vs == 0 || fs == 0) {
      if (vs != 0) glDeleteShader(vs);
      return nullptr;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDetachShader(program, vs);
    glDetachShader(program, fs);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
      GLint length = 0;
      glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
      std::string text(static_cast<std::size_t>(std::max(length, 1)), '\0');
      glGetProgramInfoLog(program, length, nullptr, text.data());
      *log += "link: " + std::string(text.c_str());
      glDeleteProgram(program);
      return nullptr;
    }
    auto result = std::make_unique<GlPassProgram>(program, !pass.vertex.present);
    result->mWvpLocation = glGetUniformLocation(program, "uWorldViewProjection");
    result->mState.bgraLocation = glGetUniformLocation(program, "_vx_bgra");
    // GLSL ES 3.00 has no binding layouts: blocks and samplers are bound by
    // name here (desktop GLSL names the same bindings in its layouts).
    internal::UseProgram(mDevice, program);
    for (std::size_t s = 0; s < 2; ++s) {
      const fx::StageProgram& stage = s == 0 ? pass.vertex : pass.pixel;
      const char* block = s == 0 ? "VxVertexGlobals" : "VxPixelGlobals";
      if (stage.flattened) {
        result->mLocations[s] = glGetUniformLocation(program, block);
      } else if (stage.blockSize > 0) {
        const GLuint index = glGetUniformBlockIndex(program, block);
        if (index != GL_INVALID_INDEX) glUniformBlockBinding(program, index, static_cast<GLuint>(s));
        glGenBuffers(1, &result->mBlocks[s]);
        glBindBuffer(GL_UNIFORM_BUFFER, result->mBlocks[s]);
        glBufferData(GL_UNIFORM_BUFFER, stage.blockSize, nullptr, GL_DYNAMIC_DRAW);
      }
      for (const fx::SamplerBinding& b : stage.samplerBindings) {
        const GLint location = glGetUniformLocation(program, b.name.c_str());
        if (location >= 0) glUniform1i(location, b.unit);
      }
    }
    return result;
  }

  bool Renewed() override {
    const std::uint64_t now = internal::ContextSerial();
    if (now == 0 || now == mSerial) return false;
    // The samplers went with the old context; its names are not deleted.
    mSerial = now;
    mSamplers.fill(0);
    mUsedUnits = 0;
    mCurrent = nullptr;
    return true;
  }

  void Apply(fx::PassProgram& p, const fx::RenderStates& rs) override {
    auto& program = static_cast<GlPassProgram&>(p);
    internal::SetEffectProgram(mDevice, program.mProgram, &program.mState);
    mCurrent = &program;
    for (std::size_t s = 0; s < 2; ++s) {
      if (program.mBlocks[s] != 0) {
        glBindBufferBase(GL_UNIFORM_BUFFER, static_cast<GLuint>(s), program.mBlocks[s]);
      }
    }
    const auto& v = rs.value;
    if (v[fx::kRsZEnable] != 0) {
      glEnable(GL_DEPTH_TEST);
      glDepthFunc(Compare(v[fx::kRsZFunc]));
      glDepthMask(v[fx::kRsZWriteEnable] != 0 ? GL_TRUE : GL_FALSE);
    } else {
      glDisable(GL_DEPTH_TEST);
      glDepthMask(GL_FALSE);
    }
    if (v[fx::kRsAlphaBlendEnable] != 0) {
      glEnable(GL_BLEND);
      GLenum s, d, sa, da;
      BlendPair(v[fx::kRsSrcBlend], v[fx::kRsDestBlend], &s, &d);
      GLenum op = BlendOp(v[fx::kRsBlendOp]), opAlpha = op;
      if (v[fx::kRsSeparateAlphaBlendEnable] != 0) {
        BlendPair(v[fx::kRsSrcBlendAlpha], v[fx::kRsDestBlendAlpha], &sa, &da);
        opAlpha = BlendOp(v[fx::kRsBlendOpAlpha]);
      } else {
        sa = s;
        da = d;
      }
      glBlendFuncSeparate(s, d, sa, da);
      glBlendEquationSeparate(op, opAlpha);
    } else {
      glDisable(GL_BLEND);
    }
    // Clip-space y is negated, so the library's clockwise front faces are
    // GL's counter-clockwise ones: culling CCW culls GL's back faces.
    switch (v[fx::kRsCullMode]) {
      case 2:
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT);
        break;
      case 3:
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        break;
      default: glDisable(GL_CULL_FACE); break;
    }
#if VELOX_GL_DESKTOP
    if (api::Desktop()) {
      glPolygonMode(GL_FRONT_AND_BACK, v[fx::kRsFillMode] == 1   ? GL_POINT
                                       : v[fx::kRsFillMode] == 2 ? GL_LINE
                                                                 : GL_FILL);
      // Off: every sample of a multisampled target takes the pixel centre's
      // value; passes without visible edges then rasterize at the cost of
      // one sample (on the software rasterizer, about half the cost of
      // four). ES always rasterizes every sample: the same picture.
      if (v[fx::kRsMultiSampleAntialias] != 0) {
        glEnable(GL_MULTISAMPLE);
      } else {
        glDisable(GL_MULTISAMPLE);
      }
    }
#endif
    // ES draws the wireframe itself, from the indices.
    internal::SetFillMode(mDevice, v[fx::kRsFillMode]);
    const std::uint32_t mask = v[fx::kRsColorWriteEnable];
    glColorMask((mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, (mask & 8) != 0);
    if (program.mFixedVertex) {
      const Matrix wvp = internal::WorldViewProjection(mDevice);
      internal::UseProgram(mDevice, program.mProgram);
      glUniformMatrix4fv(program.mWvpLocation, 1, GL_FALSE, &wvp.m[0][0]);
    }
  }

  void Upload(fx::PassProgram& p, int stage, const std::uint8_t* data, std::uint32_t size) override {
    auto& program = static_cast<GlPassProgram&>(p);
    const auto s = static_cast<std::size_t>(stage);
    if (program.mBlocks[s] != 0) {
      glBindBuffer(GL_UNIFORM_BUFFER, program.mBlocks[s]);
      glBufferSubData(GL_UNIFORM_BUFFER, 0, size, data);
      return;
    }
    const GLint location = program.mLocations[s];
    // Unused by the driver's program: nothing to send.
    if (location < 0) return;
    internal::UseProgram(mDevice, program.mProgram);
    glUniform4fv(location, static_cast<GLsizei>(size / 16), reinterpret_cast<const GLfloat*>(data));
  }

  void BindSampler(int unit, BaseTexture* texture, const fx::SamplerStates& states) override {
    if (unit < 0 || unit >= static_cast<int>(mSamplers.size())) return;
    const auto u = static_cast<std::size_t>(unit);
    GLuint name = 0, target = 0;
    bool filterable = true;
    if (texture == nullptr || !internal::TextureName(texture, &name, &target, &filterable)) name = 0;
    glActiveTexture(GL_TEXTURE0 + static_cast<GLuint>(unit));
    if (name != 0) {
      glBindTexture(target, name);
    } else {
      glBindTexture(GL_TEXTURE_2D, 0);
      glBindTexture(GL_TEXTURE_CUBE_MAP, 0);
    }
    if (mSamplers[u] == 0) {
      glGenSamplers(1, &mSamplers[u]);
      mSamplerStates[u].value.fill(0xFFFFFFFFu);
    }
    // A format that does not filter (R32F on ES without the extension)
    // would read as incomplete through a linear filter.
    fx::SamplerStates wanted = states;
    if (!filterable) {
      for (int f : {fx::kSsMagFilter, fx::kSsMinFilter, fx::kSsMipFilter}) {
        wanted.value[static_cast<std::size_t>(f)] = std::min<std::uint32_t>(wanted.value[static_cast<std::size_t>(f)], 1);
      }
    }
    if (mSamplerStates[u].value != wanted.value) {
      Configure(mSamplers[u], wanted);
      mSamplerStates[u] = wanted;
    }
    glBindSampler(static_cast<GLuint>(unit), mSamplers[u]);
    mUsedUnits |= 1u << unit;
  }

  void Finish() override {
    if (mSerial != internal::ContextSerial()) return;  // the device is gone
    internal::SetEffectProgram(mDevice, 0, nullptr);
    internal::SetFillMode(mDevice, 3);
    mCurrent = nullptr;
    // The device's own drawing state.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
#if VELOX_GL_DESKTOP
    if (api::Desktop()) {
      glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
      glEnable(GL_MULTISAMPLE);
    }
#endif
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    for (GLuint unit = 0; unit < mSamplers.size(); ++unit) {
      if (mUsedUnits & (1u << unit)) glBindSampler(unit, 0);
    }
    mUsedUnits = 0;
  }

 private:
  void Configure(GLuint sampler, const fx::SamplerStates& states) {
    const auto& v = states.value;
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, Address(v[fx::kSsAddressU]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, Address(v[fx::kSsAddressV]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, Address(v[fx::kSsAddressW]));
    const bool magLinear = v[fx::kSsMagFilter] >= 2;
    const bool minLinear = v[fx::kSsMinFilter] >= 2;
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
    GLint min = minLinear ? GL_LINEAR : GL_NEAREST;
    if (v[fx::kSsMipFilter] == 1) min = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    if (v[fx::kSsMipFilter] >= 2) min = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, min);
    if (mAnisotropy) {
      const bool anisotropic = v[fx::kSsMinFilter] == 3 || v[fx::kSsMagFilter] == 3;
      const float amount = anisotropic ? static_cast<float>(std::max<std::uint32_t>(1, std::min<std::uint32_t>(v[fx::kSsMaxAnisotropy], 16))) : 1.0f;
      glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY_EXT, amount);
    }
#if VELOX_GL_DESKTOP
    // Neither a border colour nor a level-of-detail bias exists on ES.
    if (api::Desktop()) {
      const std::uint32_t c = v[fx::kSsBorderColor];
      const float border[4] = {((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f,
                               (c & 0xFF) / 255.0f, ((c >> 24) & 0xFF) / 255.0f};
      glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
      float bias;
      std::memcpy(&bias, &v[fx::kSsMipMapLodBias], 4);
      glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, std::isfinite(bias) ? bias : 0.0f);
    }
#endif
    glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, static_cast<float>(std::min<std::uint32_t>(v[fx::kSsMaxMipLevel], 1000)));
  }

  Device* mDevice;
  std::uint64_t mSerial;
  bool mAnisotropy;
  GlPassProgram* mCurrent = nullptr;
  std::array<GLuint, 32> mSamplers{};
  std::array<fx::SamplerStates, 32> mSamplerStates{};
  std::uint32_t mUsedUnits = 0;
};

}  // namespace

std::unique_ptr<fx::Backend> CreateEffectBackend(Device* device) {
  if (!internal::IsLiveGlDevice(device)) return nullptr;
  return std::make_unique<GlEffectBackend>(device);
}

}  // namespace platform::gl
