// The window and device owner on the OpenGL backend, and texture files
// drawn through it: what the demo's start-up does, headless.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Window.h"
#include "engine/logging.h"
#include "engine/screen.h"
#include "gl_support.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/textureFiles.h"
#include "test_support.h"

using engine::core::CScreen;
using engine::core::CWin32Window;
using namespace platform;

namespace {

const std::wstring kDds = VELOX_SOURCE_DIR L"/fuzz/regressions/dds_fuzz/dxt1_4x4_mips.dds";
const std::wstring kCube = VELOX_SOURCE_DIR L"/fuzz/regressions/dds_fuzz/cube_2x2_argb.dds";

struct TexVertex {
  float x, y, z, u, v;
};

class GlScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDefaultBackend(Backend::GL);
    velox_test::CloseLog();
    mSettings.width = 64;
    mSettings.height = 64;
    mSettings.title = L"gl";
    CScreen screen;
    screen.Create(mSettings);
    mDevice = CWin32Window::Get()->Device();
    ASSERT_NE(mDevice, nullptr);
  }
  void TearDown() override { delete CWin32Window::Get(); }

  // The back buffer as B,G,R,A bytes, top row first.
  std::vector<std::uint8_t> ReadBack() {
    Surface* back = nullptr;
    EXPECT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
    Surface* copy = nullptr;
    EXPECT_EQ(mDevice->CreateOffscreenPlainSurface(64, 64, kFormatA8R8G8B8, kPoolSystemMem, &copy),
              kOk);
    EXPECT_EQ(mDevice->GetRenderTargetData(back, copy), kOk);
    LockedRect locked;
    EXPECT_EQ(copy->LockRect(&locked, nullptr, 0), kOk);
    std::vector<std::uint8_t> out(64 * 64 * 4);
    for (int y = 0; y < 64; ++y) {
      std::memcpy(&out[static_cast<std::size_t>(y) * 256],
                  static_cast<std::uint8_t*>(locked.bits) + y * locked.pitch, 256);
    }
    copy->UnlockRect();
    copy->Release();
    back->Release();
    return out;
  }

  velox_test::ScopedWorkDir mDir;
  engine::WindowSettings mSettings;
  Device* mDevice = nullptr;
};

TEST_F(GlScreenTest, DeviceComesUpWithTheLogOfEveryStep) {
  const std::string rows = velox_test::CloseLogAndReadRows(mDir.Path());
  EXPECT_NE(rows.find("Shader version 3.0 available"), std::string::npos);
  EXPECT_NE(rows.find("Hardware vertex processing chosen"), std::string::npos);
  EXPECT_NE(rows.find("Successfully created 64x64x60hz fullscreen: false AA: 0 Backbuffer: 22"),
            std::string::npos);
  EXPECT_NE(rows.find("<td>Driver "), std::string::npos);
  EXPECT_EQ(CWin32Window::Get()->Caps().pixelShaderVersion, 0xFFFF0300u);
}

TEST_F(GlScreenTest, LoadedDdsDrawsWithItsStoredColoursAndLevels) {
  Texture* texture = nullptr;
  std::string error;
  ASSERT_EQ(CreateTextureFromFile(mDevice, kDds, kDefault, kDefault, kFromFile, 0, kFromFile,
                                  kPoolManaged, &texture, &error),
            kOk)
      << error;
  image::Image decoded;
  ASSERT_TRUE(image::LoadFile(kDds, decoded, error)) << error;
  EXPECT_EQ(texture->GetLevelCount(), decoded.faces[0].size());
  EXPECT_GT(texture->GetLevelCount(), 1u);
  ASSERT_TRUE(image::ConvertToA8R8G8B8(decoded, error)) << error;
  const auto& texels = decoded.faces[0][0].bytes;  // 4x4, B,G,R,A

  // A quad over the whole target, texture row 0 at the top.
  const TexVertex quad[] = {{-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}, {1, -1, 0.5f, 1, 1},
                            {-1, -1, 0.5f, 0, 1}};
  const std::uint16_t indices[] = {0, 1, 2, 0, 2, 3};
  const VertexElement elements[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                    {0, 12, kDeclFloat2, 0, kDeclUsageTexCoord, 0}, kDeclEnd};
  VertexDeclaration* decl = nullptr;
  VertexBuffer* vb = nullptr;
  IndexBuffer* ib = nullptr;
  ASSERT_EQ(mDevice->CreateVertexDeclaration(elements, &decl), kOk);
  ASSERT_EQ(mDevice->CreateVertexBuffer(sizeof quad, 0, 0, kPoolManaged, &vb, nullptr), kOk);
  ASSERT_EQ(mDevice->CreateIndexBuffer(sizeof indices, 0, kFormatIndex16, kPoolManaged, &ib,
                                       nullptr),
            kOk);
  FillBuffers(vb, quad, ib, indices);
  Matrix identity;
  MatrixIdentity(&identity);
  for (auto state : {kTransformWorld, kTransformView, kTransformProjection}) {
    mDevice->SetTransform(state, &identity);
  }
  mDevice->BeginScene();
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF000000, 1.0f, 0);
  mDevice->SetVertexDeclaration(decl);
  mDevice->SetStreamSource(0, vb, 0, sizeof(TexVertex));
  mDevice->SetIndices(ib);
  mDevice->SetTexture(0, texture);
  ASSERT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kOk);
  mDevice->EndScene();

  const auto pixels = ReadBack();
  // The middle of each texel's 16x16 area shows that texel (filtering blends
  // a little towards the neighbours).
  for (int ty = 0; ty < 4; ++ty) {
    for (int tx = 0; tx < 4; ++tx) {
      const std::size_t p = (static_cast<std::size_t>(ty * 16 + 8) * 64 + tx * 16 + 8) * 4;
      const std::size_t t = (static_cast<std::size_t>(ty) * 4 + tx) * 4;
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(pixels[p + c], texels[t + c], 24) << tx << "," << ty << " channel " << c;
      }
    }
  }
  Surface* back = nullptr;
  mDevice->GetBackBuffer(0, 0, 0, &back);
  EXPECT_EQ(SaveSurfaceToPng(mDevice, L"dds_quad.png", back, &error), kOk) << error;
  back->Release();
  mDevice->SetTexture(0, nullptr);
  for (Unknown* o : std::initializer_list<Unknown*>{texture, decl, vb, ib}) o->Release();
}

TEST_F(GlScreenTest, CubeMapLoadsAllFaces) {
  CubeTexture* cube = nullptr;
  std::string error;
  ASSERT_EQ(CreateCubeTextureFromFile(mDevice, kCube, kDefault, kFromFile, 0, kFromFile,
                                      kPoolManaged, &cube, &error),
            kOk)
      << error;
  for (int face = 0; face < 6; ++face) {
    Surface* s = nullptr;
    ASSERT_EQ(cube->GetCubeMapSurface(static_cast<CubeFace>(face), 0, &s), kOk);
    SurfaceDesc desc;
    s->GetDesc(&desc);
    EXPECT_EQ(desc.width, 2u);
    s->Release();
  }
  cube->Release();
}

}  // namespace
