#pragma once

// Effects on a device: creation from text, drawing a quad or triangles
// through an effect's technique, and reading the back buffer back.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/effect.h"
#include "platform/gl/glGraphics.h"
#include "platform/graphics.h"
#include "platform/image.h"

namespace effect_test {

using namespace platform;

// Position, normal, colour-as-float4 and two texture coordinates: every
// input the corpus effects read.
struct Vertex {
  float x, y, z;
  float nx, ny, nz;
  float r, g, b, a;
  float u, v;
  float u1, v1;
};

inline const VertexElement kVertexDecl[] = {
    {0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0}, {0, 12, kDeclFloat3, 0, kDeclUsageNormal, 0},
    {0, 24, kDeclFloat4, 0, kDeclUsageColor, 0},   {0, 40, kDeclFloat2, 0, kDeclUsageTexCoord, 0},
    {0, 48, kDeclFloat2, 0, kDeclUsageTexCoord, 1}, kDeclEnd};

// A read-back picture in A8R8G8B8, row 0 at the top.
struct Picture {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(std::uint32_t x, std::uint32_t y) const { return pixels[y * width + x]; }
  // Channel c (0 b, 1 g, 2 r, 3 a) of a pixel, 0..255.
  int Channel(std::uint32_t x, std::uint32_t y, int c) const {
    return static_cast<int>((At(x, y) >> (8 * c)) & 0xFF);
  }
  void Save(const std::string& name) const {
    std::string error;
    const auto path = std::filesystem::path(VELOX_TEST_TMP).parent_path() / (name + ".png");
    image::SavePng(path.wstring(), static_cast<int>(width), static_cast<int>(height),
                   pixels.data(), width * 4, error);
  }
};

class EffectDevice {
 public:
  // backend GL draws on the machine's OpenGL; Null compiles only.
  explicit EffectDevice(Backend backend, std::uint32_t size = 64, int samples = 0) : mSize(size) {
    mD3D = Direct3DCreate(backend);
    if (mD3D == nullptr) return;
    PresentParameters pp;
    pp.backBufferWidth = pp.backBufferHeight = size;
    pp.multiSampleType = samples;
    pp.windowed = true;
    if (Failed(mD3D->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &pp,
                                  &mDevice))) {
      mDevice = nullptr;
    }
    CreateEffectPool(&mPool);
  }
  ~EffectDevice() {
    if (mVertices) mVertices->Release();
    if (mIndices) mIndices->Release();
    if (mDeclaration) mDeclaration->Release();
    if (mPool) mPool->Release();
    if (mDevice) mDevice->Release();
    if (mD3D) mD3D->Release();
  }
  EffectDevice(const EffectDevice&) = delete;
  EffectDevice& operator=(const EffectDevice&) = delete;

  bool Ok() const { return mDevice != nullptr; }
  Device* Get() const { return mDevice; }
  EffectPool* Pool() const { return mPool; }
  std::uint32_t Size() const { return mSize; }

  // Null on failure; `messages` gets the compiler's text either way.
  Effect* Create(const std::string& source, std::string* messages = nullptr,
                 const std::string& name = "test.fx") {
    Effect* effect = nullptr;
    Buffer* errors = nullptr;
    CreateEffect(mDevice, source, name, nullptr, kShaderOptimizationLevel3, mPool, &effect,
                 &errors);
    if (messages != nullptr) messages->clear();
    if (errors != nullptr) {
      if (messages != nullptr) *messages = static_cast<const char*>(errors->GetBufferPointer());
      errors->Release();
    }
    return effect;
  }

  // Triangles (three vertices each) into the stream and index buffers.
  void SetGeometry(const std::vector<Vertex>& vertices) {
    if (mVertices) mVertices->Release();
    if (mIndices) mIndices->Release();
    if (!mDeclaration) mDevice->CreateVertexDeclaration(kVertexDecl, &mDeclaration);
    const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(Vertex));
    mDevice->CreateVertexBuffer(bytes, kUsageWriteOnly, 0, kPoolManaged, &mVertices, nullptr);
    void* data = nullptr;
    mVertices->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    mVertices->Unlock();
    std::vector<std::uint16_t> indices(vertices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint16_t>(i);
    mDevice->CreateIndexBuffer(static_cast<std::uint32_t>(indices.size() * 2), kUsageWriteOnly,
                               kFormatIndex16, kPoolManaged, &mIndices, nullptr);
    mIndices->Lock(0, 0, &data, 0);
    std::memcpy(data, indices.data(), indices.size() * 2);
    mIndices->Unlock();
    mCount = static_cast<std::uint32_t>(vertices.size());
  }

  // A quad over the whole target at depth z, clockwise as seen, with
  // texture coordinates 0..1 from the top left and the given colour.
  static std::vector<Vertex> Quad(float z = 0.5f, float r = 1, float g = 1, float b = 1,
                                  float a = 1) {
    auto v = [&](float x, float y, float u, float t) {
      return Vertex{x, y, z, 0, 0, -1, r, g, b, a, u, t, u, t};
    };
    return {v(-1, 1, 0, 0), v(1, 1, 1, 0), v(1, -1, 1, 1),
            v(-1, 1, 0, 0), v(1, -1, 1, 1), v(-1, -1, 0, 1)};
  }

  // Clears, draws the geometry with every pass of `technique` and ends the
  // scene; false when a call failed.
  bool Draw(Effect* effect, const char* technique, std::uint32_t clear = 0xFF000000,
            bool clearFirst = true) {
    bool ok = true;
    if (clearFirst) ok &= mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, clear, 1.0f, 0) == kOk;
    ok &= mDevice->BeginScene() == kOk;
    ok &= effect->SetTechnique(effect->GetTechniqueByName(technique)) == kOk;
    std::uint32_t passes = 0;
    ok &= effect->Begin(&passes, 0) == kOk;
    mDevice->SetVertexDeclaration(mDeclaration);
    mDevice->SetStreamSource(0, mVertices, 0, sizeof(Vertex));
    mDevice->SetIndices(mIndices);
    for (std::uint32_t p = 0; p < passes; ++p) {
      ok &= effect->BeginPass(p) == kOk;
      ok &= mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, mCount, 0, mCount / 3) == kOk;
      ok &= effect->EndPass() == kOk;
    }
    ok &= effect->End() == kOk;
    ok &= mDevice->EndScene() == kOk;
    return ok;
  }

  Picture ReadBackBuffer() {
    Picture picture;
    Surface* back = nullptr;
    if (Failed(mDevice->GetBackBuffer(0, 0, 0, &back))) return picture;
    SurfaceDesc desc;
    back->GetDesc(&desc);
    Surface* copy = nullptr;
    mDevice->CreateOffscreenPlainSurface(desc.width, desc.height, kFormatA8R8G8B8,
                                         kPoolSystemMem, &copy);
    if (copy != nullptr && mDevice->GetRenderTargetData(back, copy) == kOk) {
      LockedRect locked;
      copy->LockRect(&locked, nullptr, 0);
      picture.width = desc.width;
      picture.height = desc.height;
      picture.pixels.resize(desc.width * desc.height);
      for (std::uint32_t y = 0; y < desc.height; ++y) {
        std::memcpy(&picture.pixels[y * desc.width],
                    static_cast<const std::uint8_t*>(locked.bits) + y * locked.pitch,
                    desc.width * 4);
      }
      copy->UnlockRect();
    }
    if (copy) copy->Release();
    back->Release();
    return picture;
  }

 private:
  std::uint32_t mSize;
  Direct3D* mD3D = nullptr;
  Device* mDevice = nullptr;
  EffectPool* mPool = nullptr;
  VertexBuffer* mVertices = nullptr;
  IndexBuffer* mIndices = nullptr;
  VertexDeclaration* mDeclaration = nullptr;
  std::uint32_t mCount = 0;
};

}  // namespace effect_test
