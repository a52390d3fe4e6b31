// The OpenGL backend on the machine's GL (Mesa llvmpipe headless): what is
// drawn lands where the graphics library would put it, row 0 at the top,
// depth 0..1, and the read-back, copy and reset paths keep that.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "gl_support.h"
#include "platform/gl/glGraphics.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/window.h"

using namespace platform;

namespace {

constexpr std::uint32_t kSize = 64;
constexpr std::uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;
constexpr std::uint32_t kGrey = 0xFF404040, kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;

struct ColorVertex {
  float x, y, z;
  std::uint32_t color;
};

struct TexVertex {
  float x, y, z, u, v;
};

const VertexElement kColorDecl[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                    {0, 12, kDeclColor, 0, kDeclUsageColor, 0}, kDeclEnd};
const VertexElement kTexDecl[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                  {0, 12, kDeclFloat2, 0, kDeclUsageTexCoord, 0}, kDeclEnd};

std::filesystem::path ImagePath(const std::string& name) {
  // VELOX_TEST_TMP is <build>/tests/tmp; pictures go next to it.
  return std::filesystem::path(VELOX_TEST_TMP).parent_path() / (name + ".png");
}

// A read-back picture in A8R8G8B8, row 0 at the top.
struct Picture {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(std::uint32_t x, std::uint32_t y) const { return pixels[y * width + x]; }
  void Save(const std::string& name) const {
    std::string error;
    EXPECT_TRUE(image::SavePng(ImagePath(name).wstring(), static_cast<int>(width),
                               static_cast<int>(height), pixels.data(), width * 4, error))
        << error;
  }
};

bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 3) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int ca = static_cast<int>((a >> shift) & 0xFF),
              cb = static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(ca - cb) > tolerance) return false;
  }
  return true;
}

std::string Hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

class GlGraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mD3D = Direct3DCreate(Backend::GL);
    ASSERT_NE(mD3D, nullptr) << "the OpenGL backend cannot start: " << gl::LastError();
    mParameters.backBufferWidth = kSize;
    mParameters.backBufferHeight = kSize;
    mParameters.windowed = true;
    const Result created = mD3D->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing,
                                              &mParameters, &mDevice);
    if (created != kOk && EsRequested()) GTEST_SKIP() << gl::LastError();
    ASSERT_EQ(created, kOk) << "no OpenGL device: " << gl::LastError();
  }

  void TearDown() override {
    if (mDevice != nullptr) {
      EXPECT_EQ(gl::TakeGlError(), 0u) << "a GL error was raised";
      EXPECT_EQ(mDevice->Release(), 0u);
    }
    if (mD3D != nullptr) {
      EXPECT_EQ(mD3D->Release(), 0u);
    }
    EXPECT_EQ(gl::LiveDefaultPoolResources(), 0);
  }

  // Reads a render target through a system-memory surface.
  Picture ReadBack(Surface* target) {
    Picture picture;
    SurfaceDesc desc;
    EXPECT_EQ(target->GetDesc(&desc), kOk);
    Surface* copy = nullptr;
    EXPECT_EQ(mDevice->CreateOffscreenPlainSurface(desc.width, desc.height, kFormatA8R8G8B8,
                                                   kPoolSystemMem, &copy),
              kOk);
    if (copy == nullptr) return picture;
    EXPECT_EQ(mDevice->GetRenderTargetData(target, copy), kOk);
    LockedRect locked;
    EXPECT_EQ(copy->LockRect(&locked, nullptr, 0), kOk);
    picture.width = desc.width;
    picture.height = desc.height;
    picture.pixels.resize(desc.width * desc.height);
    for (std::uint32_t y = 0; y < desc.height; ++y) {
      std::memcpy(&picture.pixels[y * desc.width],
                  static_cast<const std::uint8_t*>(locked.bits) + y * locked.pitch, desc.width * 4);
    }
    copy->UnlockRect();
    copy->Release();
    return picture;
  }

  Picture ReadBackBuffer() {
    Surface* back = nullptr;
    EXPECT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
    Picture picture = ReadBack(back);
    back->Release();
    return picture;
  }

  // Checks each (x, y, colour); on a mismatch the picture is kept.
  void ExpectPixels(
      const Picture& picture, const std::string& name,
      const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>>& probes,
      int tolerance = 3) {
    ASSERT_FALSE(picture.pixels.empty());
    bool all = true;
    for (const auto& [x, y, color] : probes) {
      const bool near = Near(picture.At(x, y), color, tolerance);
      EXPECT_TRUE(near) << name << " at (" << x << ", " << y << "): " << Hex(picture.At(x, y))
                        << ", expected " << Hex(color);
      all = all && near;
    }
    if (!all) {
      picture.Save(name + "_actual");
    } else {
      std::filesystem::remove(ImagePath(name + "_actual"));  // stale from an earlier failure
    }
  }

  // Draws an indexed triangle list from client arrays.
  template <class V>
  void Draw(const VertexElement* elements, const std::vector<V>& vertices,
            const std::vector<std::uint16_t>& indices) {
    VertexDeclaration* decl = nullptr;
    VertexBuffer* vb = nullptr;
    IndexBuffer* ib = nullptr;
    const auto vbBytes = static_cast<std::uint32_t>(vertices.size() * sizeof(V));
    const auto ibBytes = static_cast<std::uint32_t>(indices.size() * 2);
    ASSERT_EQ(mDevice->CreateVertexDeclaration(elements, &decl), kOk);
    ASSERT_EQ(mDevice->CreateVertexBuffer(vbBytes, kUsageWriteOnly, 0, kPoolManaged, &vb, nullptr),
              kOk);
    ASSERT_EQ(mDevice->CreateIndexBuffer(ibBytes, kUsageWriteOnly, kFormatIndex16, kPoolManaged,
                                         &ib, nullptr),
              kOk);
    void* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &data, 0), kOk);
    std::memcpy(data, vertices.data(), vbBytes);
    ASSERT_EQ(vb->Unlock(), kOk);
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), kOk);
    std::memcpy(data, indices.data(), ibBytes);
    ASSERT_EQ(ib->Unlock(), kOk);
    mDevice->SetVertexDeclaration(decl);
    mDevice->SetStreamSource(0, vb, 0, sizeof(V));
    mDevice->SetIndices(ib);
    EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0,
                                            static_cast<std::uint32_t>(vertices.size()), 0,
                                            static_cast<std::uint32_t>(indices.size() / 3)),
              kOk);
    // The device keeps its own references while bound.
    decl->Release();
    vb->Release();
    ib->Release();
  }

  // A quad over the clip-space box at depth z.
  void DrawQuad(float x0, float y0, float x1, float y1, float z, std::uint32_t color) {
    Draw<ColorVertex>(
        kColorDecl,
        {{x0, y1, z, color}, {x1, y1, z, color}, {x1, y0, z, color}, {x0, y0, z, color}},
        {0, 1, 2, 0, 2, 3});
  }

  // The grey frame with the textured quad over it, read back.
  Picture DrawTextured(Texture* texture) {
    mDevice->SetTexture(0, texture);
    EXPECT_EQ(mDevice->BeginScene(), kOk);
    mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
    DrawTexturedQuad();
    mDevice->EndScene();
    mDevice->SetTexture(0, nullptr);
    return ReadBackBuffer();
  }

  // A full-screen quad whose texture coordinate (0, 0) is the top left.
  void DrawTexturedQuad() {
    Draw<TexVertex>(
        kTexDecl,
        {{-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {1, -1, 0.5f, 1, 1}, {-1, -1, 0.5f, 0, 1}},
        {0, 1, 2, 0, 2, 3});
  }

  Direct3D* mD3D = nullptr;
  Device* mDevice = nullptr;
  PresentParameters mParameters;
};

TEST_F(GlGraphicsTest, AdapterReportsGlAndItsLimits) {
  AdapterIdentifier id;
  ASSERT_EQ(mD3D->GetAdapterIdentifier(0, 0, &id), kOk);
  EXPECT_FALSE(id.description.empty());
  if (EsRequested()) {
    EXPECT_EQ(id.api, "OpenGL ES 3.0");
    EXPECT_EQ(id.driver.rfind("OpenGL ES 3.", 0), 0u) << id.driver;
  } else {
    EXPECT_EQ(id.api, "OpenGL 4.5 core");
    EXPECT_NE(id.driver.find("4."), std::string::npos) << id.driver;
  }
  Caps caps;
  ASSERT_EQ(mD3D->GetDeviceCaps(0, kDeviceHal, &caps), kOk);
  EXPECT_EQ(caps.pixelShaderVersion, 0xFFFF0300u);
  EXPECT_EQ(caps.vertexShaderVersion, 0xFFFE0300u);
  EXPECT_NE(caps.vertexProcessingCaps, 0u);
  EXPECT_EQ(caps.textureCaps & kTextureCapsPow2, 0u);
  EXPECT_NE(caps.textureCaps & kTextureCapsCubeMap, 0u);
  EXPECT_GE(caps.maxTextureWidth, 2048u);
  Caps deviceCaps;
  ASSERT_EQ(mDevice->GetDeviceCaps(&deviceCaps), kOk);
  EXPECT_EQ(deviceCaps.maxTextureWidth, caps.maxTextureWidth);

  std::uint32_t quality = 0;
  EXPECT_EQ(mD3D->CheckDeviceMultiSampleType(0, kDeviceHal, kFormatX8R8G8B8, true, 0, &quality),
            kOk);
  EXPECT_EQ(quality, 1u);
  EXPECT_EQ(mD3D->CheckDeviceMultiSampleType(0, kDeviceHal, kFormatX8R8G8B8, true, 64, nullptr),
            kNotAvailable);
  EXPECT_EQ(mD3D->GetAdapterModeCount(0, kFormatX8R8G8B8),
            EnumerateDisplayModes(kFormatX8R8G8B8).size());
  DisplayMode mode;
  EXPECT_EQ(mD3D->GetAdapterDisplayMode(0, &mode), kOk);
  EXPECT_EQ(mD3D->GetAdapterIdentifier(1, 0, &id), kInvalidCall);

  // One GL device at a time.
  Device* second = nullptr;
  EXPECT_EQ(mD3D->CreateDevice(0, kDeviceHal, nullptr, 0, &mParameters, &second), kNotAvailable);
}

TEST_F(GlGraphicsTest, ClearReadsBackWholeAndByRect) {
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  EXPECT_EQ(mDevice->BeginScene(), kInvalidCall);
  ASSERT_EQ(mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF336699, 1.0f, 0), kOk);
  ExpectPixels(ReadBackBuffer(), "gl_clear", {{0, 0, 0xFF336699}, {63, 63, 0xFF336699}});

  // A rect's top is row 0 of the picture.
  const Rect topLeft = {0, 0, 16, 8};
  ASSERT_EQ(mDevice->Clear(1, &topLeft, kClearTarget, kRed, 1.0f, 0), kOk);
  ExpectPixels(ReadBackBuffer(), "gl_clear_rect",
               {{0, 0, kRed}, {15, 7, kRed}, {16, 0, 0xFF336699}, {0, 8, 0xFF336699},
                {0, 63, 0xFF336699}});
  ASSERT_EQ(mDevice->EndScene(), kOk);
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kOk);

  // Read-back needs a system-memory surface of the same size.
  Surface* back = nullptr;
  Surface* small = nullptr;
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  ASSERT_EQ(mDevice->CreateOffscreenPlainSurface(8, 8, kFormatA8R8G8B8, kPoolSystemMem, &small),
            kOk);
  EXPECT_EQ(mDevice->GetRenderTargetData(back, small), kInvalidCall);
  LockedRect locked;
  EXPECT_EQ(back->LockRect(&locked, nullptr, 0), kInvalidCall);  // a render target
  small->Release();
  back->Release();
}

TEST_F(GlGraphicsTest, TrianglesLandWithRowZeroAtTheTop) {
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  // Clip-space y > 0 is the upper half of the picture.
  Draw<ColorVertex>(kColorDecl,
                    {{-0.8f, 0.1f, 0.5f, kRed}, {0.0f, 0.9f, 0.5f, kRed}, {0.8f, 0.1f, 0.5f, kRed}},
                    {0, 1, 2});
  // 32-bit indices with a base vertex: the lower triangle of the buffer.
  VertexDeclaration* decl = nullptr;
  VertexBuffer* vb = nullptr;
  IndexBuffer* ib = nullptr;
  const ColorVertex vertices[] = {{9, 9, 9, 0},
                                  {-0.8f, -0.9f, 0.5f, kGreen},
                                  {0.0f, -0.1f, 0.5f, kGreen},
                                  {0.8f, -0.9f, 0.5f, kGreen}};
  const std::uint32_t indices[] = {7, 7, 0, 1, 2};
  ASSERT_EQ(mDevice->CreateVertexDeclaration(kColorDecl, &decl), kOk);
  ASSERT_EQ(mDevice->CreateVertexBuffer(sizeof vertices, 0, 0, kPoolDefault, &vb, nullptr), kOk);
  ASSERT_EQ(mDevice->CreateIndexBuffer(sizeof indices, 0, kFormatIndex32, kPoolDefault, &ib,
                                       nullptr),
            kOk);
  void* data = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), kOk);
  EXPECT_EQ(vb->Lock(0, 0, &data, 0), kInvalidCall);  // already locked
  std::memcpy(data, vertices, sizeof vertices);
  vb->Unlock();
  ASSERT_EQ(ib->Lock(0, 0, &data, 0), kOk);
  std::memcpy(data, indices, sizeof indices);
  ib->Unlock();
  mDevice->SetVertexDeclaration(decl);
  mDevice->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
  mDevice->SetIndices(ib);
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 1, 0, 3, 2, 1), kOk);
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 1, 0, 3, 4, 1),
            kInvalidCall);  // past the end
  mDevice->SetIndices(nullptr);
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 1, 0, 3, 2, 1), kInvalidCall);
  mDevice->SetVertexDeclaration(nullptr);
  mDevice->SetStreamSource(0, nullptr, 0, 0);
  decl->Release();
  vb->Release();
  ib->Release();
  ASSERT_EQ(mDevice->EndScene(), kOk);

  const Picture picture = ReadBackBuffer();
  picture.Save("gl_triangle");
  // Upper triangle: apex near row 3, base near row 29; lower one mirrored.
  ExpectPixels(picture, "gl_triangle",
               {{32, 8, kRed}, {32, 26, kRed}, {4, 26, kGrey}, {32, 1, kGrey},
                {32, 37, kGreen}, {32, 56, kGreen}, {4, 37, kGrey}, {32, 62, kGrey}});
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kOk);
}

TEST_F(GlGraphicsTest, ElementsComeFromTheirOwnStreamsAndOffsets) {
  // Positions in stream 0; colours in stream 1, read from byte offset 4.
  const VertexElement elements[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                    {1, 0, kDeclColor, 0, kDeclUsageColor, 0}, kDeclEnd};
  const float positions[] = {-1, 1, 0.5f, 1, 1, 0.5f, 1, -1, 0.5f, -1, -1, 0.5f};
  const std::uint32_t colors[] = {0, kBlue, kBlue, kBlue, kBlue};
  const std::uint16_t indices[] = {0, 1, 2, 0, 2, 3};
  VertexDeclaration* decl = nullptr;
  VertexBuffer* streams[2] = {};
  IndexBuffer* ib = nullptr;
  ASSERT_EQ(mDevice->CreateVertexDeclaration(elements, &decl), kOk);
  VertexElement copy[3];
  std::uint32_t count = 3;
  ASSERT_EQ(decl->GetDeclaration(copy, &count), kOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(copy[1].stream, 1u);
  const void* sources[2] = {positions, colors};
  const std::uint32_t sizes[2] = {sizeof positions, sizeof colors};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(mDevice->CreateVertexBuffer(sizes[i], 0, 0, kPoolManaged, &streams[i], nullptr), kOk);
    void* data = nullptr;
    ASSERT_EQ(streams[i]->Lock(0, 0, &data, 0), kOk);
    std::memcpy(data, sources[i], sizes[i]);
    streams[i]->Unlock();
  }
  ASSERT_EQ(mDevice->CreateIndexBuffer(sizeof indices, 0, kFormatIndex16, kPoolManaged, &ib,
                                       nullptr),
            kOk);
  void* data = nullptr;
  ASSERT_EQ(ib->Lock(0, 0, &data, 0), kOk);
  std::memcpy(data, indices, sizeof indices);
  ib->Unlock();
  mDevice->SetVertexDeclaration(decl);
  mDevice->SetIndices(ib);
  mDevice->SetStreamSource(0, streams[0], 0, 12);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  // Stream 1 unset: the draw is refused.
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kInvalidCall);
  mDevice->SetStreamSource(1, streams[1], 4, 4);
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kOk);
  mDevice->EndScene();
  EXPECT_EQ(mDevice->SetStreamSource(16, streams[1], 0, 4), kInvalidCall);
  ExpectPixels(ReadBackBuffer(), "gl_streams", {{2, 2, kBlue}, {61, 61, kBlue}, {61, 2, kBlue}});
  mDevice->SetStreamSource(0, nullptr, 0, 0);
  mDevice->SetStreamSource(1, nullptr, 0, 0);
  mDevice->SetIndices(nullptr);
  mDevice->SetVertexDeclaration(nullptr);
  EXPECT_EQ(streams[0]->Release(), 0u);
  EXPECT_EQ(streams[1]->Release(), 0u);
  EXPECT_EQ(ib->Release(), 0u);
  EXPECT_EQ(decl->Release(), 0u);
}

TEST_F(GlGraphicsTest, TransformsAreRowVectorsTimesWorldViewProjection) {
  // World moves right by 0.5, view scales y by 0.5, projection moves up by
  // 0.25: the unit triangle at the origin must end up in the upper right.
  Matrix world, view, projection;
  MatrixIdentity(&world);
  MatrixIdentity(&view);
  MatrixIdentity(&projection);
  world.m[3][0] = 0.5f;
  view.m[1][1] = 0.5f;
  projection.m[3][1] = 0.25f;
  mDevice->SetTransform(kTransformWorld, &world);
  mDevice->SetTransform(kTransformView, &view);
  mDevice->SetTransform(kTransformProjection, &projection);
  Matrix back;
  ASSERT_EQ(mDevice->GetTransform(kTransformWorld, &back), kOk);
  EXPECT_EQ(back.m[3][0], 0.5f);

  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  // A quad -0.2..0.2 in both axes becomes x 0.3..0.7, y 0.15..0.35.
  DrawQuad(-0.2f, -0.2f, 0.2f, 0.2f, 0.5f, kBlue);
  mDevice->EndScene();
  // Pixels: x 41.6..54.4, rows (1 - y) * 32 = 20.8..27.2.
  ExpectPixels(ReadBackBuffer(), "gl_transform",
               {{48, 24, kBlue}, {48, 40, kGrey}, {16, 24, kGrey}, {38, 24, kGrey},
                {48, 18, kGrey}, {48, 30, kGrey}});
}

TEST_F(GlGraphicsTest, NearerSurfaceWinsWithZeroToOneDepth) {
  for (const bool nearFirst : {true, false}) {
    SCOPED_TRACE(nearFirst ? "near drawn first" : "far drawn first");
    ASSERT_EQ(mDevice->BeginScene(), kOk);
    mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
    if (nearFirst) DrawQuad(-1, -1, 0, 1, 0.2f, kBlue);
    DrawQuad(-1, -1, 1, 1, 0.6f, kRed);
    if (!nearFirst) DrawQuad(-1, -1, 0, 1, 0.2f, kBlue);
    // Behind the near plane (z < 0) is clipped as in Direct3D.
    DrawQuad(0, -1, 1, 0, -0.5f, kGreen);
    // Equal depth passes (LESSEQUAL).
    DrawQuad(0, 0, 1, 1, 0.6f, kWhite);
    mDevice->EndScene();
    ExpectPixels(ReadBackBuffer(), "gl_depth",
                 {{16, 16, kBlue}, {16, 48, kBlue}, {48, 48, kRed}, {48, 16, kWhite}});
  }
  // Depth clears to a value: at 0.5 the far quad is hidden, the near one not.
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 0.5f, 0);
  DrawQuad(-1, -1, 1, 1, 0.6f, kRed);
  DrawQuad(-1, -1, 0, 1, 0.4f, kBlue);
  mDevice->EndScene();
  ExpectPixels(ReadBackBuffer(), "gl_depth_clear", {{16, 32, kBlue}, {48, 32, kGrey}});
}

TEST_F(GlGraphicsTest, RenderIntoTextureThenStretchToTheBackBuffer) {
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(32, 32, 1, kUsageRenderTarget, kFormatA8R8G8B8, kPoolDefault,
                                   &texture, nullptr),
            kOk);
  EXPECT_EQ(mDevice->CreateTexture(32, 32, 1, kUsageRenderTarget, kFormatA8R8G8B8, kPoolManaged,
                                   &texture, nullptr),
            kInvalidCall);
  Surface* level = nullptr;
  Surface* back = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);

  ASSERT_EQ(mDevice->SetRenderTarget(0, level), kOk);
  Surface* current = nullptr;
  ASSERT_EQ(mDevice->GetRenderTarget(0, &current), kOk);
  EXPECT_EQ(current, level);
  current->Release();
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget, kRed, 1.0f, 0);
  DrawQuad(-1, 0, 1, 1, 0.5f, kGreen);  // the upper half of the texture
  mDevice->EndScene();
  const Picture inTexture = ReadBack(level);
  ExpectPixels(inTexture, "gl_rtt_texture", {{16, 4, kGreen}, {16, 28, kRed}});

  // Back to the back buffer, then a 2x scaled copy over all of it.
  ASSERT_EQ(mDevice->SetRenderTarget(0, back), kOk);
  mDevice->Clear(0, nullptr, kClearTarget, kGrey, 1.0f, 0);
  ASSERT_EQ(mDevice->StretchRect(level, nullptr, back, nullptr, kFilterLinear), kOk);
  ExpectPixels(ReadBackBuffer(), "gl_rtt_stretch",
               {{32, 8, kGreen}, {32, 24, kGreen}, {32, 40, kRed}, {32, 60, kRed}});

  // Part of the texture into part of the back buffer, unscaled.
  mDevice->Clear(0, nullptr, kClearTarget, kGrey, 1.0f, 0);
  const Rect from = {0, 8, 16, 24};  // rows 8..15 green, 16..23 red
  const Rect to = {40, 0, 56, 16};
  ASSERT_EQ(mDevice->StretchRect(level, &from, back, &to, kFilterPoint), kOk);
  ExpectPixels(ReadBackBuffer(), "gl_rtt_part",
               {{48, 2, kGreen}, {48, 13, kRed}, {20, 4, kGrey}, {48, 20, kGrey}});
  const Rect outside = {0, 0, 33, 8};
  EXPECT_EQ(mDevice->StretchRect(level, &outside, back, nullptr, kFilterPoint), kInvalidCall);

  back->Release();
  level->Release();
  EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(GlGraphicsTest, BackBufferCopiesIntoATextureUpright) {
  // What the renderer's last-frame copy does: the frame into a smaller texture.
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(32, 32, 1, kUsageRenderTarget, kFormatA8R8G8B8, kPoolDefault,
                                   &texture, nullptr),
            kOk);
  Surface* level = nullptr;
  Surface* back = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kBlue, 1.0f, 0);
  DrawQuad(-1, 0, 1, 1, 0.5f, kGreen);  // the upper half of the frame
  mDevice->EndScene();
  ExpectPixels(ReadBackBuffer(), "gl_backbuffer_frame", {{32, 8, kGreen}, {32, 56, kBlue}});
  ASSERT_EQ(mDevice->StretchRect(back, nullptr, level, nullptr, kFilterLinear), kOk);
  ExpectPixels(ReadBack(level), "gl_backbuffer_copy", {{16, 4, kGreen}, {16, 28, kBlue}});
  back->Release();
  level->Release();
  EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(GlGraphicsTest, DepthBufferGoesWithTargetsOfItsSize) {
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(kSize, kSize, 1, kUsageRenderTarget, kFormatA8R8G8B8,
                                   kPoolDefault, &texture, nullptr),
            kOk);
  Surface* level = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice->SetRenderTarget(0, level), kOk);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  DrawQuad(-1, -1, 1, 1, 0.2f, kBlue);
  DrawQuad(-1, -1, 1, 1, 0.6f, kRed);  // behind: hidden by the shared depth buffer
  ExpectPixels(ReadBack(level), "gl_depth_texture", {{32, 32, kBlue}});

  // Without a depth buffer the later quad wins.
  Surface* depth = nullptr;
  ASSERT_EQ(mDevice->GetDepthStencilSurface(&depth), kOk);
  SurfaceDesc desc;
  depth->GetDesc(&desc);
  EXPECT_EQ(desc.format, kFormatD24X8);
  ASSERT_EQ(mDevice->SetDepthStencilSurface(nullptr), kOk);
  Surface* none = nullptr;
  EXPECT_EQ(mDevice->GetDepthStencilSurface(&none), kInvalidCall);
  DrawQuad(-1, -1, 1, 1, 0.6f, kRed);
  ExpectPixels(ReadBack(level), "gl_no_depth", {{32, 32, kRed}});
  ASSERT_EQ(mDevice->SetDepthStencilSurface(depth), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  DrawQuad(-1, -1, 1, 1, 0.2f, kBlue);
  DrawQuad(-1, -1, 1, 1, 0.6f, kRed);
  ExpectPixels(ReadBack(level), "gl_depth_again", {{32, 32, kBlue}});
  mDevice->EndScene();
  // A depth buffer is no colour target.
  EXPECT_EQ(mDevice->SetRenderTarget(0, depth), kInvalidCall);
  depth->Release();
  level->Release();
  texture->Release();
}

TEST_F(GlGraphicsTest, LockedTextureLevelsKeepTheirTopRowAtTheTop) {
  struct Case {
    Format format;
    std::vector<std::uint8_t> topRow, bottomRow;  // two texels each
    std::uint32_t top, bottom;
  };
  const std::vector<Case> cases = {
      {kFormatA8R8G8B8, {0, 0, 255, 255, 0, 0, 255, 255}, {255, 0, 0, 255, 255, 0, 0, 255}, kRed,
       kBlue},
      {kFormatX8R8G8B8, {0, 255, 0, 0, 0, 255, 0, 0}, {0, 0, 255, 0, 0, 0, 255, 0}, kGreen, kRed},
      {kFormatR5G6B5, {0x00, 0xF8, 0x00, 0xF8}, {0x1F, 0x00, 0x1F, 0x00}, kRed, kBlue},
      {kFormatL8, {255, 255}, {0, 0}, kWhite, kBlack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format));
    Texture* texture = nullptr;
    ASSERT_EQ(mDevice->CreateTexture(2, 2, 1, 0, c.format, kPoolManaged, &texture, nullptr), kOk);
    LockedRect locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), kOk);
    auto* bytes = static_cast<std::uint8_t*>(locked.bits);
    std::memcpy(bytes, c.topRow.data(), c.topRow.size());
    std::memcpy(bytes + locked.pitch, c.bottomRow.data(), c.bottomRow.size());
    ASSERT_EQ(texture->UnlockRect(0), kOk);
    EXPECT_EQ(texture->UnlockRect(0), kInvalidCall);

    const Picture picture = DrawTextured(texture);
    if (c.format == kFormatA8R8G8B8) picture.Save("gl_texture");
    ExpectPixels(picture, "gl_texture_" + std::to_string(c.format),
                 {{16, 16, c.top}, {48, 16, c.top}, {16, 48, c.bottom}, {48, 48, c.bottom}},
                 8);  // linear filtering: pixel centres miss texel centres by 1/128
    EXPECT_EQ(texture->Release(), 0u);
  }
}

TEST_F(GlGraphicsTest, CompressedAndMipmappedTexturesUpload) {
  // One DXT1 block: colour 0 pure red, every index 0.
  Texture* dxt = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(4, 4, 1, 0, kFormatDXT1, kPoolManaged, &dxt, nullptr), kOk);
  LockedRect locked;
  ASSERT_EQ(dxt->LockRect(0, &locked, nullptr, 0), kOk);
  EXPECT_EQ(locked.pitch, 8);
  const std::uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
  std::memcpy(locked.bits, block, sizeof block);
  ASSERT_EQ(dxt->UnlockRect(0), kOk);
  EXPECT_EQ(mDevice->CreateTexture(4, 4, 1, kUsageRenderTarget, kFormatDXT1, kPoolDefault, &dxt,
                                   nullptr),
            kInvalidCall);

  // A full chain is made for levels 0; every level can be locked.
  Texture* chain = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(8, 4, 0, 0, kFormatR32F, kPoolManaged, &chain, nullptr), kOk);
  EXPECT_EQ(chain->GetLevelCount(), 4u);
  SurfaceDesc desc;
  ASSERT_EQ(chain->GetLevelDesc(3, &desc), kOk);
  EXPECT_EQ(desc.width, 1u);
  EXPECT_EQ(desc.height, 1u);
  for (std::uint32_t level = 0; level < 4; ++level) {
    ASSERT_EQ(chain->LockRect(level, &locked, nullptr, 0), kOk);
    chain->UnlockRect(level);
  }
  EXPECT_EQ(chain->GetLevelDesc(4, &desc), kInvalidCall);
  chain->Release();

  ExpectPixels(DrawTextured(dxt), "gl_dxt1", {{8, 8, kRed}, {56, 56, kRed}});
  dxt->Release();
}

TEST_F(GlGraphicsTest, AutomaticMipmapsFollowRenderingIntoTheTarget) {
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(32, 32, 0, kUsageRenderTarget | kUsageAutoGenMipmap,
                                   kFormatA8R8G8B8, kPoolDefault, &texture, nullptr),
            kOk);
  EXPECT_EQ(texture->GetLevelCount(), 1u);  // the smaller levels are the library's own
  Surface* level = nullptr;
  Surface* back = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  ASSERT_EQ(mDevice->SetRenderTarget(0, level), kOk);
  mDevice->Clear(0, nullptr, kClearTarget, kGreen, 1.0f, 0);
  ASSERT_EQ(mDevice->SetRenderTarget(0, back), kOk);

  // A 4x4 pixel quad of a 32x32 texture samples its 4x4 level.
  mDevice->SetTexture(0, texture);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  const float e = 4.0f / kSize;
  Draw<TexVertex>(
      kTexDecl,
      {{-e, e, 0.5f, 0, 0}, {e, e, 0.5f, 1, 0}, {e, -e, 0.5f, 1, 1}, {-e, -e, 0.5f, 0, 1}},
      {0, 1, 2, 0, 2, 3});
  mDevice->EndScene();
  mDevice->SetTexture(0, nullptr);
  ExpectPixels(ReadBackBuffer(), "gl_automipmap",
               {{31, 31, kGreen}, {32, 32, kGreen}, {20, 20, kGrey}});
  back->Release();
  level->Release();
  texture->Release();
}

TEST_F(GlGraphicsTest, CubeFacesAreSeparateTargets) {
  CubeTexture* cube = nullptr;
  ASSERT_EQ(mDevice->CreateCubeTexture(16, 1, kUsageRenderTarget, kFormatA8R8G8B8, kPoolDefault,
                                       &cube, nullptr),
            kOk);
  Surface* up = nullptr;
  Surface* down = nullptr;
  ASSERT_EQ(cube->GetCubeMapSurface(kCubeFacePositiveY, 0, &up), kOk);
  ASSERT_EQ(cube->GetCubeMapSurface(kCubeFaceNegativeY, 0, &down), kOk);
  EXPECT_EQ(cube->GetCubeMapSurface(static_cast<CubeFace>(6), 0, &down), kInvalidCall);
  ASSERT_EQ(mDevice->SetRenderTarget(0, up), kOk);
  mDevice->Clear(0, nullptr, kClearTarget, kGreen, 1.0f, 0);
  ASSERT_EQ(mDevice->SetRenderTarget(0, down), kOk);
  mDevice->Clear(0, nullptr, kClearTarget, kBlue, 1.0f, 0);
  ExpectPixels(ReadBack(up), "gl_cube_up", {{0, 0, kGreen}, {15, 15, kGreen}});
  ExpectPixels(ReadBack(down), "gl_cube_down", {{0, 0, kBlue}, {15, 15, kBlue}});

  Surface* back = nullptr;
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  ASSERT_EQ(mDevice->SetRenderTarget(0, back), kOk);
  ASSERT_EQ(mDevice->StretchRect(up, nullptr, back, nullptr, kFilterPoint), kOk);
  ExpectPixels(ReadBackBuffer(), "gl_cube_stretch", {{32, 32, kGreen}});
  back->Release();
  up->Release();
  down->Release();
  EXPECT_EQ(cube->Release(), 0u);

  // A managed cube map takes locked faces.
  ASSERT_EQ(mDevice->CreateCubeTexture(4, 0, 0, kFormatA8R8G8B8, kPoolManaged, &cube, nullptr),
            kOk);
  EXPECT_EQ(cube->GetLevelCount(), 3u);
  Surface* face = nullptr;
  ASSERT_EQ(cube->GetCubeMapSurface(kCubeFaceNegativeZ, 2, &face), kOk);
  LockedRect locked;
  ASSERT_EQ(face->LockRect(&locked, nullptr, 0), kOk);
  std::memset(locked.bits, 0xFF, 4);
  EXPECT_EQ(face->UnlockRect(), kOk);
  face->Release();
  cube->Release();
}

TEST_F(GlGraphicsTest, MultisampledBackBufferResolvesOnRead) {
  if (mD3D->CheckDeviceMultiSampleType(0, kDeviceHal, kFormatX8R8G8B8, true, 4, nullptr) != kOk) {
    GTEST_SKIP() << "no 4x multisampling on this GL";
  }
  mParameters.multiSampleType = 4;
  ASSERT_EQ(mDevice->Reset(&mParameters), kOk) << gl::LastError();
  Surface* back = nullptr;
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  SurfaceDesc desc;
  back->GetDesc(&desc);
  EXPECT_EQ(desc.multiSampleType, 4);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  DrawQuad(-1, -1, 1, 1, 0.6f, kRed);
  DrawQuad(-1, 0, 1, 1, 0.3f, kBlue);  // the depth buffer is multisampled too
  mDevice->EndScene();
  const Picture picture = ReadBack(back);
  ExpectPixels(picture, "gl_msaa", {{32, 16, kBlue}, {32, 48, kRed}});
  // An edge pixel of a diagonal shows partial coverage once resolved.
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kBlack, 1.0f, 0);
  mDevice->BeginScene();
  Draw<ColorVertex>(
      kColorDecl, {{-1, 1, 0.5f, kWhite}, {1, 1, 0.5f, kWhite}, {1, -1, 0.5f, kWhite}}, {0, 1, 2});
  mDevice->EndScene();
  const Picture edge = ReadBack(back);
  bool partial = false;
  for (std::uint32_t x = 0; x < kSize; ++x) {
    const std::uint32_t g = (edge.At(x, x) >> 8) & 0xFF;
    partial = partial || (g > 10 && g < 245);
  }
  EXPECT_TRUE(partial) << "no blended edge pixel: not multisampled";

  // StretchRect from the multisampled back buffer resolves it first.
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(32, 32, 1, kUsageRenderTarget, kFormatX8R8G8B8, kPoolDefault,
                                   &texture, nullptr),
            kOk);
  Surface* level = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice->StretchRect(back, nullptr, level, nullptr, kFilterPoint), kOk);
  ExpectPixels(ReadBack(level), "gl_msaa_stretch", {{28, 4, kWhite}, {4, 28, kBlack}});
  level->Release();
  texture->Release();
  // Reads share a resolve only while nothing is drawn or cleared between.
  mDevice->BeginScene();
  DrawQuad(-1, -1, 1, 1, 0.1f, kRed);
  mDevice->EndScene();
  ExpectPixels(ReadBack(back), "gl_msaa_drawn", {{4, 28, kRed}});
  ExpectPixels(ReadBack(back), "gl_msaa_drawn", {{4, 28, kRed}});
  mDevice->Clear(0, nullptr, kClearTarget, kBlue, 1.0f, 0);
  ExpectPixels(ReadBack(back), "gl_msaa_cleared", {{4, 28, kBlue}});
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kOk);
  back->Release();
}

// A negative base vertex may move a stream's offset before the buffer's
// start; OpenGL ES 3.0 draws take no base vertex, so the indices move then.
TEST_F(GlGraphicsTest, NegativeBaseVertexReadsEarlierVertices) {
  const ColorVertex vertices[] = {
      {-1, 1, 0.5f, kBlue}, {1, 1, 0.5f, kBlue}, {1, -1, 0.5f, kBlue}, {-1, -1, 0.5f, kBlue}};
  const std::uint16_t indices[] = {0, 0, 4, 5, 6, 4, 6, 7};
  VertexDeclaration* decl = nullptr;
  VertexBuffer* vb = nullptr;
  IndexBuffer* ib = nullptr;
  ASSERT_EQ(mDevice->CreateVertexDeclaration(kColorDecl, &decl), kOk);
  ASSERT_EQ(mDevice->CreateVertexBuffer(sizeof vertices, 0, 0, kPoolManaged, &vb, nullptr), kOk);
  ASSERT_EQ(mDevice->CreateIndexBuffer(sizeof indices, 0, kFormatIndex16, kPoolManaged, &ib, nullptr),
            kOk);
  FillBuffers(vb, vertices, ib, indices);
  mDevice->SetVertexDeclaration(decl);
  mDevice->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
  mDevice->SetIndices(ib);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, -4, 0, 4, 2, 2), kOk);
  mDevice->EndScene();
  ExpectPixels(ReadBackBuffer(), "gl_negative_base",
               {{2, 2, kBlue}, {61, 2, kBlue}, {2, 61, kBlue}, {61, 61, kBlue}});
  mDevice->SetVertexDeclaration(nullptr);
  mDevice->SetStreamSource(0, nullptr, 0, 0);
  mDevice->SetIndices(nullptr);
  decl->Release();
  vb->Release();
  ib->Release();
}

// An OpenGL ES driver with only what every WebGL 2 browser offers: the
// extensions are hidden before its context is made.
class GlBareEsTest : public GlGraphicsTest {
 protected:
  void SetUp() override {
    if (!EsRequested()) GTEST_SKIP() << "desktop OpenGL 4.5 has all of these";
    gl::HideExtensionsForTesting(Hidden());
    GlGraphicsTest::SetUp();
  }
  void TearDown() override {
    GlGraphicsTest::TearDown();
    gl::HideExtensionsForTesting({});
  }
  virtual std::vector<std::string> Hidden() const {
    return {"GL_EXT_texture_compression_s3tc", "GL_EXT_color_buffer_float",
            "GL_EXT_color_buffer_half_float", "GL_EXT_disjoint_timer_query"};
  }
};

TEST_F(GlBareEsTest, BlocksDecodeOnTheCpuAndTheRestIsRefused) {
  // DXT1, 8x4: a red block, then a blue one (colour 0 each, every index 0).
  Texture* dxt = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(8, 4, 1, 0, kFormatDXT1, kPoolManaged, &dxt, nullptr), kOk);
  LockedRect locked;
  ASSERT_EQ(dxt->LockRect(0, &locked, nullptr, 0), kOk);
  const std::uint8_t blocks[16] = {0x00, 0xF8, 0, 0, 0, 0, 0, 0, 0x1F, 0x00, 0, 0, 0, 0, 0, 0};
  std::memcpy(locked.bits, blocks, sizeof blocks);
  ASSERT_EQ(dxt->UnlockRect(0), kOk);
  ExpectPixels(DrawTextured(dxt), "gl_es_dxt1", {{8, 32, kRed}, {24, 32, kRed}, {40, 32, kBlue}, {52, 32, kBlue}});
  dxt->Release();

  Query* query = nullptr;
  EXPECT_EQ(mDevice->CreateTimestampQuery(&query), kNotAvailable);
  EXPECT_EQ(query, nullptr);
  Texture* target = nullptr;
  EXPECT_EQ(mDevice->CreateTexture(16, 16, 1, kUsageRenderTarget, kFormatR32F, kPoolDefault, &target,
                                   nullptr),
            kNotAvailable);
}

// With half-float targets only, an R32F target holds half floats.
class GlHalfFloatEsTest : public GlBareEsTest {
 protected:
  std::vector<std::string> Hidden() const override { return {"GL_EXT_color_buffer_float"}; }
};

TEST_F(GlHalfFloatEsTest, FloatTargetsFallBackToHalfFloats) {
  Texture* target = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(16, 16, 1, kUsageRenderTarget, kFormatR32F, kPoolDefault, &target,
                                   nullptr),
            kOk);
  Surface* surface = nullptr;
  Surface* back = nullptr;
  Surface* copy = nullptr;
  ASSERT_EQ(target->GetSurfaceLevel(0, &surface), kOk);
  ASSERT_EQ(mDevice->GetRenderTarget(0, &back), kOk);
  ASSERT_EQ(mDevice->SetRenderTarget(0, surface), kOk);
  EXPECT_EQ(mDevice->Clear(0, nullptr, kClearTarget, 0xFF800000, 1.0f, 0), kOk);
  ASSERT_EQ(mDevice->CreateOffscreenPlainSurface(16, 16, kFormatR32F, kPoolSystemMem, &copy), kOk);
  EXPECT_EQ(mDevice->GetRenderTargetData(surface, copy), kOk);
  LockedRect locked;
  ASSERT_EQ(copy->LockRect(&locked, nullptr, 0), kOk);
  float red = 0;
  std::memcpy(&red, static_cast<const std::uint8_t*>(locked.bits) + 5 * locked.pitch + 20, 4);
  EXPECT_NEAR(red, 128.0f / 255.0f, 1e-3f);
  copy->UnlockRect();
  mDevice->SetRenderTarget(0, back);
  copy->Release();
  back->Release();
  surface->Release();
  target->Release();
}

TEST_F(GlGraphicsTest, LossNeedsResetWithoutDefaultPoolResources) {
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kOk);
  gl::LoseDeviceForTesting(1);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceLost);
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kDeviceLost);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceNotReset);

  VertexBuffer* vb = nullptr;
  ASSERT_EQ(mDevice->CreateVertexBuffer(64, 0, 0, kPoolDefault, &vb, nullptr), kOk);
  EXPECT_EQ(gl::LiveDefaultPoolResources(), 1);
  mParameters.backBufferWidth = 96;
  mParameters.backBufferHeight = 48;
  EXPECT_EQ(mDevice->Reset(&mParameters), kInvalidCall);
  vb->Release();
  // Parameters the GL cannot meet are refused before anything is lost.
  PresentParameters impossible = mParameters;
  impossible.multiSampleType = 1000;
  EXPECT_EQ(mDevice->Reset(&impossible), kInvalidCall);
  ASSERT_EQ(mDevice->Reset(&mParameters), kOk) << gl::LastError();
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kOk);

  Surface* back = nullptr;
  ASSERT_EQ(mDevice->GetRenderTarget(0, &back), kOk);
  SurfaceDesc desc;
  back->GetDesc(&desc);
  EXPECT_EQ(desc.width, 96u);
  EXPECT_EQ(desc.height, 48u);
  back->Release();
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0);
  DrawQuad(-1, -1, 1, 1, 0.5f, kGreen);
  mDevice->EndScene();
  ExpectPixels(ReadBackBuffer(), "gl_reset", {{0, 0, kGreen}, {95, 47, kGreen}});
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kOk);
}

// The context goes as a browser takes a WebGL context back: the device
// waits, then a Reset makes every texture and buffer again from what the CPU
// kept, and the same objects draw the same picture.
TEST_F(GlGraphicsTest, ALostContextComesBackWithItsTexturesAndBuffers) {
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(2, 2, 0, 0, kFormatA8R8G8B8, kPoolManaged, &texture, nullptr), kOk);
  for (std::uint32_t level = 0; level < texture->GetLevelCount(); ++level) {
    LockedRect locked;
    ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), kOk);
    const std::uint32_t texels[4] = {kRed, kGreen, kBlue, kWhite};
    for (int y = 0; y < (level == 0 ? 2 : 1); ++y) {
      std::memcpy(static_cast<std::uint8_t*>(locked.bits) + y * locked.pitch, texels + 2 * y, level == 0 ? 8 : 4);
    }
    ASSERT_EQ(texture->UnlockRect(level), kOk);
  }
  const TexVertex vertices[] = {
      {-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {1, -1, 0.5f, 1, 1}, {-1, -1, 0.5f, 0, 1}};
  const std::uint16_t indices[] = {0, 1, 2, 0, 2, 3};
  VertexDeclaration* decl = nullptr;
  VertexBuffer* vb = nullptr;
  IndexBuffer* ib = nullptr;
  ASSERT_EQ(mDevice->CreateVertexDeclaration(kTexDecl, &decl), kOk);
  ASSERT_EQ(mDevice->CreateVertexBuffer(4 * sizeof(TexVertex), 0, 0, kPoolManaged, &vb, nullptr), kOk);
  ASSERT_EQ(mDevice->CreateIndexBuffer(12, 0, kFormatIndex16, kPoolManaged, &ib, nullptr), kOk);
  FillBuffers(vb, vertices, ib, indices);
  auto draw = [&] {
    mDevice->SetVertexDeclaration(decl);
    mDevice->SetStreamSource(0, vb, 0, sizeof(TexVertex));
    mDevice->SetIndices(ib);
    mDevice->SetTexture(0, texture);
    EXPECT_EQ(mDevice->BeginScene(), kOk);
    EXPECT_EQ(mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, kGrey, 1.0f, 0), kOk);
    EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kOk);
    EXPECT_EQ(mDevice->EndScene(), kOk);
  };
  draw();
  const Picture before = ReadBackBuffer();
  ExpectPixels(before, "gl_context_before", {{16, 16, kRed}, {48, 16, kGreen}, {16, 48, kBlue}}, 8);

  gl::LoseContextForTesting(1);
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kDeviceLost);
  EXPECT_EQ(mDevice->Reset(&mParameters), kDeviceLost);  // not back yet
  draw();  // draws nothing, fails nothing
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceLost);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceNotReset);
  ASSERT_EQ(mDevice->Reset(&mParameters), kOk) << gl::LastError();
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kOk);

  draw();
  const Picture after = ReadBackBuffer();
  EXPECT_EQ(after.pixels, before.pixels);
  if (after.pixels != before.pixels) after.Save("gl_context_after_actual");
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kOk);
  mDevice->SetTexture(0, nullptr);
  mDevice->SetStreamSource(0, nullptr, 0, 0);
  mDevice->SetIndices(nullptr);
  mDevice->SetVertexDeclaration(nullptr);
  decl->Release();
  vb->Release();
  ib->Release();
  texture->Release();
}

// A device on a real (offscreen) window presents its back buffer scaled to
// the window, with the picture's top row at the window's top.
TEST(GlWindowTest, PresentsToTheFocusWindowScaledAndUpright) {
  WindowDesc windowDesc;
  windowDesc.width = 80;
  windowDesc.height = 60;
  auto window = Window::Create(windowDesc);
  ASSERT_NE(window, nullptr) << LastWindowError();
  Direct3D* d3d = Direct3DCreate(Backend::GL);
  ASSERT_NE(d3d, nullptr) << gl::LastError();
  PresentParameters parameters;  // windowed, size 0: the window's size
  Device* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, kDeviceHal, window.get(), kHardwareVertexProcessing,
                              &parameters, &device),
            kOk)
      << gl::LastError();
  Surface* back = nullptr;
  ASSERT_EQ(device->GetBackBuffer(0, 0, 0, &back), kOk);
  SurfaceDesc desc;
  back->GetDesc(&desc);
  EXPECT_EQ(desc.width, 80u);
  EXPECT_EQ(desc.height, 60u);
  back->Release();

  // A half-size back buffer: every pixel is doubled in the window.
  parameters.backBufferWidth = 40;
  parameters.backBufferHeight = 30;
  ASSERT_EQ(device->Reset(&parameters), kOk) << gl::LastError();
  device->Clear(0, nullptr, kClearTarget, kBlue, 1.0f, 0);
  const Rect topLeft = {0, 0, 20, 15};
  device->Clear(1, &topLeft, kClearTarget, kRed, 1.0f, 0);
  gl::CapturePresentsForTesting(true);
  EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), kOk);
  int width = 0, height = 0;
  Picture shown;
  shown.pixels = gl::LastPresentedForTesting(&width, &height);
  shown.width = static_cast<std::uint32_t>(width);
  shown.height = static_cast<std::uint32_t>(height);
  ASSERT_EQ(width, 80);
  ASSERT_EQ(height, 60);
  const auto rgb = [&](std::uint32_t x, std::uint32_t y) { return shown.At(x, y) | 0xFF000000; };
  bool upright = Near(rgb(10, 10), kRed) && Near(rgb(30, 25), kRed) &&
                 Near(rgb(50, 10), kBlue) && Near(rgb(10, 40), kBlue) && Near(rgb(70, 55), kBlue);
  EXPECT_TRUE(upright) << Hex(rgb(10, 10)) << " " << Hex(rgb(10, 40));
  if (!upright) shown.Save("gl_present_actual");

  // Only the source rect, stretched over the whole window.
  EXPECT_EQ(device->Present(&topLeft, nullptr, nullptr, nullptr), kOk);
  shown.pixels = gl::LastPresentedForTesting(&width, &height);
  // (The last window pixels filter in the blue next to the rect.)
  EXPECT_TRUE(Near(rgb(1, 1), kRed) && Near(rgb(60, 45), kRed)) << Hex(rgb(60, 45));
  gl::CapturePresentsForTesting(false);

  EXPECT_EQ(gl::TakeGlError(), 0u);
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(d3d->Release(), 0u);
}

// A texture released after its device is gone must not delete the object
// of the same GL name in the next device's context.
TEST(GlDeviceLifetimeTest, ObjectsOutlivingTheirDeviceLeaveTheNextOneAlone) {
  Direct3D* d3d = Direct3DCreate(Backend::GL);
  ASSERT_NE(d3d, nullptr) << gl::LastError();
  PresentParameters parameters;
  parameters.backBufferWidth = parameters.backBufferHeight = 16;
  Device* first = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, kDeviceHal, nullptr, 0, &parameters, &first), kOk)
      << gl::LastError();
  Texture* old = nullptr;
  ASSERT_EQ(first->CreateTexture(16, 16, 1, 0, kFormatA8R8G8B8, kPoolManaged, &old, nullptr), kOk);
  EXPECT_EQ(first->Release(), 0u);

  Device* second = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, kDeviceHal, nullptr, 0, &parameters, &second), kOk)
      << gl::LastError();
  Texture* fresh = nullptr;
  ASSERT_EQ(second->CreateTexture(16, 16, 1, kUsageRenderTarget, kFormatA8R8G8B8, kPoolDefault,
                                  &fresh, nullptr),
            kOk);
  EXPECT_EQ(old->Release(), 0u);
  Surface* level = nullptr;
  Surface* copy = nullptr;
  ASSERT_EQ(fresh->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(second->SetRenderTarget(0, level), kOk);
  second->Clear(0, nullptr, kClearTarget, kGreen, 1.0f, 0);
  ASSERT_EQ(second->CreateOffscreenPlainSurface(16, 16, kFormatA8R8G8B8, kPoolSystemMem, &copy),
            kOk);
  ASSERT_EQ(second->GetRenderTargetData(level, copy), kOk);
  LockedRect locked;
  ASSERT_EQ(copy->LockRect(&locked, nullptr, 0), kOk);
  EXPECT_TRUE(Near(*static_cast<const std::uint32_t*>(locked.bits), kGreen));
  copy->UnlockRect();
  EXPECT_EQ(gl::TakeGlError(), 0u);
  copy->Release();
  level->Release();
  fresh->Release();
  EXPECT_EQ(second->Release(), 0u);
  EXPECT_EQ(d3d->Release(), 0u);
}

TEST(GlAttributeTableTest, UsagesHaveFixedDistinctLocations) {
  EXPECT_EQ(gl::AttributeLocation(kDeclUsagePosition, 0), 0);
  EXPECT_EQ(gl::AttributeLocation(kDeclUsageNormal, 0), 3);
  EXPECT_EQ(gl::AttributeLocation(kDeclUsageColor, 0), 4);
  EXPECT_EQ(gl::AttributeLocation(kDeclUsageTexCoord, 0), 6);
  EXPECT_EQ(gl::AttributeLocation(kDeclUsageTexCoord, 7), 13);
  EXPECT_EQ(gl::AttributeLocation(kDeclUsageTexCoord, 8), -1);
  EXPECT_EQ(gl::AttributeLocation(kDeclUsagePosition, 1), -1);
  std::vector<int> seen;
  for (std::uint8_t usage : {0, 1, 2, 3, 4, 5, 6, 7, 10}) {
    for (std::uint8_t index = 0; index < 8; ++index) {
      const int location = gl::AttributeLocation(usage, index);
      if (location < 0) continue;
      EXPECT_LT(location, gl::kAttributeCount);
      EXPECT_EQ(std::count(seen.begin(), seen.end(), location), 0) << location;
      seen.push_back(location);
    }
  }
  EXPECT_EQ(static_cast<int>(seen.size()), gl::kAttributeCount);
}

}  // namespace
