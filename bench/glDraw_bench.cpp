// Many small draws at 1024x768: the same scene through the graphics layer's
// OpenGL backend and through a minimal hand-written GL 4.5 loop, so the
// layer's overhead reads as the ratio of the two frame times. Each frame
// ends with glFinish, so the rasteriser's work is counted too.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <epoxy/gl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/d3dmath.h"
#include "platform/gl/glGraphics.h"
#include "platform/graphics.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr int kMeshes = 50;
constexpr int kDrawsPerFrame = 5000;
// Each mesh: a 10 x 15 grid of quads, 300 triangles, 176 vertices.
constexpr int kQuadsX = 10, kQuadsY = 15;
constexpr int kVertsX = kQuadsX + 1, kVertsY = kQuadsY + 1;
constexpr int kVertices = kVertsX * kVertsY;
constexpr int kTriangles = 2 * kQuadsX * kQuadsY;
constexpr int kIndices = 3 * kTriangles;
// Draws sit on a 100 x 50 grid of cells covering the screen.
constexpr int kCellsX = 100, kCellsY = 50;
static_assert(kCellsX * kCellsY == kDrawsPerFrame, "one cell per draw");

struct ColorVertex {
  float x, y, z;
  std::uint32_t color;  // ARGB, bytes B G R A in memory
};

// Mesh m: a unit grid (0..1 in x and y) with a small per-mesh ripple in z
// and its own colours, so no two meshes share data.
struct Scene {
  std::vector<std::vector<ColorVertex>> vertices;
  std::vector<std::uint16_t> indices;  // the same topology, copied per mesh
  std::vector<platform::Matrix> worlds;
  platform::Matrix view{}, projection{};

  Scene() {
    vertices.resize(kMeshes);
    for (int m = 0; m < kMeshes; ++m) {
      for (int j = 0; j < kVertsY; ++j) {
        for (int i = 0; i < kVertsX; ++i) {
          const float u = static_cast<float>(i) / kQuadsX, v = static_cast<float>(j) / kQuadsY;
          const auto r = static_cast<std::uint32_t>(40 + (m * 37 + i * 13) % 200);
          const auto g = static_cast<std::uint32_t>(40 + (m * 53 + j * 11) % 200);
          const auto b = static_cast<std::uint32_t>(40 + (m * 71) % 200);
          vertices[m].push_back({u, v, 0.5f + 0.1f * std::sin(u * 6.0f + static_cast<float>(m)),
                                 0xFF000000u | (r << 16) | (g << 8) | b});
        }
      }
    }
    for (int j = 0; j < kQuadsY; ++j) {
      for (int i = 0; i < kQuadsX; ++i) {
        const auto a = static_cast<std::uint16_t>(j * kVertsX + i);
        const auto b = static_cast<std::uint16_t>(a + 1);
        const auto c = static_cast<std::uint16_t>(a + kVertsX);
        const auto d = static_cast<std::uint16_t>(c + 1);
        indices.insert(indices.end(), {a, b, c, b, d, c});
      }
    }
    // World: scale to a cell (with a small gap) and move there; clip space
    // is reached through an identity view and a projection mapping
    // x, y in 0..1 onto -1..1.
    const float cw = 1.0f / kCellsX, ch = 1.0f / kCellsY;
    for (int k = 0; k < kDrawsPerFrame; ++k) {
      platform::Matrix w{};
      w.m[0][0] = cw * 0.9f;
      w.m[1][1] = ch * 0.9f;
      w.m[2][2] = 1.0f;
      w.m[3][0] = static_cast<float>(k % kCellsX) * cw;
      w.m[3][1] = static_cast<float>(k / kCellsX) * ch;
      w.m[3][3] = 1.0f;
      worlds.push_back(w);
    }
    platform::MatrixIdentity(&view);
    platform::MatrixIdentity(&projection);
    projection.m[0][0] = 2.0f;
    projection.m[1][1] = -2.0f;  // row 0 at the top, as the layer's pictures are
    projection.m[3][0] = -1.0f;
    projection.m[3][1] = 1.0f;
  }

  // Which mesh draw k uses: consecutive draws always switch meshes.
  static int MeshOf(int k) { return (k * 7) % kMeshes; }
};

const Scene& TheScene() {
  static const Scene scene;
  return scene;
}

void SetCounters(benchmark::State& state) {
  state.counters["draws/frame"] = kDrawsPerFrame;
  state.counters["tris/frame"] = static_cast<double>(kDrawsPerFrame) * kTriangles;
}

// FNV-1a of the last frame of whichever case ran first; the other must draw
// the same picture (the work is only the same if the pictures are).
std::uint64_t gFirstPicture = 0;

// The grid covers about 81% of the screen; a picture mostly of the clear
// colour means nothing was drawn.
bool SamePicture(const std::vector<std::uint32_t>& pixels) {
  std::uint64_t hash = 1469598103934665603ull;
  std::size_t drawn = 0;
  for (std::uint32_t p : pixels) {
    hash = (hash ^ (p & 0xFFFFFFu)) * 1099511628211ull;
    drawn += (p & 0xFFFFFFu) != 0x202020u ? 1 : 0;
  }
  if (drawn < pixels.size() * 3 / 4) return false;
  if (gFirstPicture == 0) gFirstPicture = hash;
  return gFirstPicture == hash;
}

// The GL backend, or null with the benchmark marked skipped.
platform::Direct3D* GlBackend(benchmark::State& state) {
  platform::Direct3D* d3d = platform::Direct3DCreate(platform::Backend::GL);
  if (d3d == nullptr) state.SkipWithError(("no OpenGL backend: " + platform::gl::LastError()).c_str());
  return d3d;
}

// A windowed kWidth x kHeight back buffer that presents at once.
platform::PresentParameters ScreenParameters(int samples) {
  platform::PresentParameters parameters;
  parameters.backBufferWidth = kWidth;
  parameters.backBufferHeight = kHeight;
  parameters.windowed = true;
  parameters.multiSampleType = samples;
  parameters.presentationInterval = platform::kPresentIntervalImmediate;
  return parameters;
}

void BM_GlDrawThroughLayer(benchmark::State& state) {
  using namespace platform;
  const Scene& scene = TheScene();
  Direct3D* d3d = GlBackend(state);
  if (d3d == nullptr) return;
  PresentParameters parameters = ScreenParameters(0);
  Device* device = nullptr;
  if (d3d->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &parameters,
                        &device) != kOk) {
    state.SkipWithError(("no OpenGL device: " + gl::LastError()).c_str());
    d3d->Release();
    return;
  }
  const VertexElement elements[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                    {0, 12, kDeclColor, 0, kDeclUsageColor, 0}, kDeclEnd};
  std::vector<VertexBuffer*> vbs(kMeshes, nullptr);
  std::vector<IndexBuffer*> ibs(kMeshes, nullptr);
  std::vector<VertexDeclaration*> decls(kMeshes, nullptr);
  bool ok = true;
  for (int m = 0; m < kMeshes && ok; ++m) {
    constexpr auto vbBytes = static_cast<std::uint32_t>(kVertices * sizeof(ColorVertex));
    constexpr auto ibBytes = static_cast<std::uint32_t>(kIndices * sizeof(std::uint16_t));
    void* data = nullptr;
    ok = device->CreateVertexDeclaration(elements, &decls[m]) == kOk &&
         device->CreateVertexBuffer(vbBytes, kUsageWriteOnly, 0, kPoolManaged, &vbs[m],
                                    nullptr) == kOk &&
         device->CreateIndexBuffer(ibBytes, kUsageWriteOnly, kFormatIndex16, kPoolManaged,
                                   &ibs[m], nullptr) == kOk &&
         vbs[m]->Lock(0, 0, &data, 0) == kOk;
    if (!ok) break;
    std::memcpy(data, scene.vertices[m].data(), vbBytes);
    ok = vbs[m]->Unlock() == kOk && ibs[m]->Lock(0, 0, &data, 0) == kOk;
    if (!ok) break;
    std::memcpy(data, scene.indices.data(), ibBytes);
    ok = ibs[m]->Unlock() == kOk;
  }
  if (!ok) state.SkipWithError("creating the meshes failed");

  while (ok && state.KeepRunningBatch(1)) {
    bool drawn = device->BeginScene() == kOk &&
                 device->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF202020, 1.0f, 0) ==
                     kOk &&
                 device->SetTransform(kTransformView, &scene.view) == kOk &&
                 device->SetTransform(kTransformProjection, &scene.projection) == kOk;
    for (int k = 0; k < kDrawsPerFrame && drawn; ++k) {
      const int m = Scene::MeshOf(k);
      device->SetVertexDeclaration(decls[m]);
      device->SetStreamSource(0, vbs[m], 0, sizeof(ColorVertex));
      device->SetIndices(ibs[m]);
      device->SetTransform(kTransformWorld, &scene.worlds[k]);
      drawn = device->DrawIndexedPrimitive(kTriangleList, 0, 0, kVertices, 0, kTriangles) == kOk;
    }
    drawn = drawn && device->EndScene() == kOk &&
            device->Present(nullptr, nullptr, nullptr, nullptr) == kOk;
    glFinish();
    if (!drawn) {
      state.SkipWithError("a frame failed");
      break;
    }
  }
  if (ok) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    Surface* back = nullptr;
    Surface* copy = nullptr;
    LockedRect locked;
    if (device->GetBackBuffer(0, 0, 0, &back) == kOk &&
        device->CreateOffscreenPlainSurface(kWidth, kHeight, kFormatA8R8G8B8, kPoolSystemMem,
                                            &copy) == kOk &&
        device->GetRenderTargetData(back, copy) == kOk &&
        copy->LockRect(&locked, nullptr, 0) == kOk) {
      for (int y = 0; y < kHeight; ++y) {
        std::memcpy(&pixels[static_cast<std::size_t>(y) * kWidth],
                    static_cast<const std::uint8_t*>(locked.bits) + y * locked.pitch, kWidth * 4);
      }
      copy->UnlockRect();
      if (!SamePicture(pixels)) state.SkipWithError("the two cases drew different pictures");
    } else {
      state.SkipWithError("reading the back buffer failed");
    }
    if (copy != nullptr) copy->Release();
    if (back != nullptr) back->Release();
  }
  if (gl::TakeGlError() != 0) state.SkipWithError("a GL error was raised");
  SetCounters(state);

  for (int m = 0; m < kMeshes; ++m) {
    if (vbs[m] != nullptr) vbs[m]->Release();
    if (ibs[m] != nullptr) ibs[m]->Release();
    if (decls[m] != nullptr) decls[m]->Release();
  }
  if (device->Release() != 0) state.SkipWithError("the device outlived its last release");
  if (d3d->Release() != 0) state.SkipWithError("the adapter outlived its last release");
}

const char* kVertexSource = R"(#version 450 core
layout(location = 0) in vec4 aPosition;
layout(location = 4) in vec4 aColor;
layout(location = 0) uniform mat4 uWorldViewProjection;
out vec4 vColor;
void main() {
  gl_Position = uWorldViewProjection * aPosition;
  gl_Position.y = -gl_Position.y;
  vColor = aColor;
}
)";

const char* kFragmentSource = R"(#version 450 core
in vec4 vColor;
out vec4 oColor;
void main() { oColor = vColor; }
)";

GLuint BuildProgram() {
  const char* sources[2] = {kVertexSource, kFragmentSource};
  const GLenum stages[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
  GLuint program = glCreateProgram();
  for (int i = 0; i < 2; ++i) {
    GLuint shader = glCreateShader(stages[i]);
    glShaderSource(shader, 1, &sources[i], nullptr);
    glCompileShader(shader);
    glAttachShader(program, shader);
    glDeleteShader(shader);  // freed with the program
  }
  glLinkProgram(program);
  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (!linked) {
    glDeleteProgram(program);
    return 0;
  }
  return program;
}

void BM_GlDrawHandWritten(benchmark::State& state) {
  const Scene& scene = TheScene();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    state.SkipWithError(SDL_GetError());
    return;
  }
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 5);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // The same window the layer makes when it is given none.
  SDL_Window* window = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  SDL_GLContext context = window != nullptr ? SDL_GL_CreateContext(window) : nullptr;
  if (context == nullptr || SDL_GL_MakeCurrent(window, context) != 0 ||
      epoxy_gl_version() < 45) {
    state.SkipWithError(SDL_GetError());
    if (context != nullptr) SDL_GL_DeleteContext(context);
    if (window != nullptr) SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return;
  }
  SDL_GL_SetSwapInterval(0);
  glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);

  GLuint colorTexture = 0, depthBuffer = 0, fbo = 0;
  glCreateTextures(GL_TEXTURE_2D, 1, &colorTexture);
  glTextureStorage2D(colorTexture, 1, GL_RGBA8, kWidth, kHeight);
  glCreateRenderbuffers(1, &depthBuffer);
  glNamedRenderbufferStorage(depthBuffer, GL_DEPTH24_STENCIL8, kWidth, kHeight);
  glCreateFramebuffers(1, &fbo);
  glNamedFramebufferTexture(fbo, GL_COLOR_ATTACHMENT0, colorTexture, 0);
  glNamedFramebufferRenderbuffer(fbo, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
  const GLuint program = BuildProgram();
  bool ok = program != 0 &&
            glCheckNamedFramebufferStatus(fbo, GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;

  std::vector<GLuint> vaos(kMeshes), buffers(2 * kMeshes);
  glCreateVertexArrays(kMeshes, vaos.data());
  glCreateBuffers(2 * kMeshes, buffers.data());
  for (int m = 0; m < kMeshes; ++m) {
    const GLuint vb = buffers[2 * m], ib = buffers[2 * m + 1];
    glNamedBufferStorage(vb, kVertices * sizeof(ColorVertex), scene.vertices[m].data(), 0);
    glNamedBufferStorage(ib, kIndices * sizeof(std::uint16_t), scene.indices.data(), 0);
    const GLuint vao = vaos[m];
    glVertexArrayVertexBuffer(vao, 0, vb, 0, sizeof(ColorVertex));
    glVertexArrayElementBuffer(vao, ib);
    glEnableVertexArrayAttrib(vao, 0);
    glVertexArrayAttribFormat(vao, 0, 3, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribBinding(vao, 0, 0);
    glEnableVertexArrayAttrib(vao, 4);
    glVertexArrayAttribFormat(vao, 4, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 12);
    glVertexArrayAttribBinding(vao, 4, 0);
  }
  if (!ok) state.SkipWithError("GL setup failed");

  glUseProgram(program);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
  glViewport(0, 0, kWidth, kHeight);
  while (ok && state.KeepRunningBatch(1)) {
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
    glClearColor(0x20 / 255.0f, 0x20 / 255.0f, 0x20 / 255.0f, 1.0f);
    glClearDepthf(1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int k = 0; k < kDrawsPerFrame; ++k) {
      // Multiplied in the layer's order so both pictures match bit for bit.
      platform::Matrix worldView, wvp;
      platform::MatrixMultiply(&worldView, &scene.worlds[k], &scene.view);
      platform::MatrixMultiply(&wvp, &worldView, &scene.projection);
      glProgramUniformMatrix4fv(program, 0, 1, GL_FALSE, &wvp.m[0][0]);
      glBindVertexArray(vaos[Scene::MeshOf(k)]);
      glDrawElements(GL_TRIANGLES, kIndices, GL_UNSIGNED_SHORT, nullptr);
    }
    glBindVertexArray(0);
    // Shown as the layer shows it: scaled and flipped into the window.
    int windowWidth = 0, windowHeight = 0;
    SDL_GL_GetDrawableSize(window, &windowWidth, &windowHeight);
    glBlitNamedFramebuffer(fbo, 0, 0, 0, kWidth, kHeight, 0, windowHeight, windowWidth, 0,
                           GL_COLOR_BUFFER_BIT, GL_LINEAR);
    SDL_GL_SwapWindow(window);
    glFinish();
  }
  if (ok) {
    // Rows bottom first in GL; the picture's row 0 is GL row 0 here too.
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    glReadnPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE,
                  static_cast<GLsizei>(pixels.size() * 4), pixels.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    if (!SamePicture(pixels)) state.SkipWithError("the two cases drew different pictures");
  }
  if (glGetError() != GL_NO_ERROR) state.SkipWithError("a GL error was raised");
  SetCounters(state);

  glDeleteVertexArrays(kMeshes, vaos.data());
  glDeleteBuffers(2 * kMeshes, buffers.data());
  if (program != 0) glDeleteProgram(program);
  glDeleteFramebuffers(1, &fbo);
  glDeleteRenderbuffers(1, &depthBuffer);
  glDeleteTextures(1, &colorTexture);
  SDL_GL_MakeCurrent(window, nullptr);
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// The frame's fixed work on a 4-sample back buffer, as the demo does it:
// clear, grab the frame into a texture of the screen's size (a resolve),
// read it back (arg 1, as a recording does) and present (another resolve).
void BM_GlMultisampledFrameTargets(benchmark::State& state) {
  using namespace platform;
  Direct3D* d3d = GlBackend(state);
  if (d3d == nullptr) return;
  PresentParameters parameters = ScreenParameters(4);
  Device* device = nullptr;
  Texture* grab = nullptr;
  Surface* level = nullptr;
  Surface* back = nullptr;
  Surface* copy = nullptr;
  bool ok = d3d->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &parameters, &device) == kOk &&
            device->CreateTexture(kWidth, kHeight, 1, kUsageRenderTarget, kFormatA8R8G8B8, kPoolDefault, &grab,
                                  nullptr) == kOk &&
            grab->GetSurfaceLevel(0, &level) == kOk && device->GetBackBuffer(0, 0, 0, &back) == kOk &&
            device->CreateOffscreenPlainSurface(kWidth, kHeight, kFormatA8R8G8B8, kPoolSystemMem, &copy) == kOk;
  if (!ok) state.SkipWithError(("no 4-sample device: " + gl::LastError()).c_str());
  while (ok && state.KeepRunningBatch(1)) {
    ok = device->BeginScene() == kOk &&
         device->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF202020, 1.0f, 0) == kOk &&
         device->StretchRect(back, nullptr, level, nullptr, kFilterNone) == kOk && device->EndScene() == kOk &&
         (state.range(0) == 0 || device->GetRenderTargetData(back, copy) == kOk) &&
         device->Present(nullptr, nullptr, nullptr, nullptr) == kOk;
    glFinish();
    if (!ok) state.SkipWithError("a frame failed");
  }
  for (Unknown* object : std::initializer_list<Unknown*>{copy, back, level, grab, device, d3d})
    if (object != nullptr) object->Release();
}

// A few frames each: one frame is 5,000 draws, 1.5 million triangles.
BENCHMARK(BM_GlDrawThroughLayer)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_GlDrawHandWritten)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_GlMultisampledFrameTargets)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace
