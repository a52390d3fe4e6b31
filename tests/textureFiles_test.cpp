// Texture files through the device interface, on the null backend.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/null/nullGraphics.h"
#include "platform/textureFiles.h"
#include "test_support.h"

using namespace platform;

namespace {

// A w x h A8R8G8B8 picture whose every pixel says where it is.
std::vector<std::uint8_t> Pattern(int w, int h) {
  std::vector<std::uint8_t> p;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      p.push_back(static_cast<std::uint8_t>(x * 16));  // B
      p.push_back(static_cast<std::uint8_t>(y * 16));  // G
      p.push_back(200);                                // R
      p.push_back(255);                                // A
    }
  }
  return p;
}

class TextureFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    null::ResetSettings();
    mD3D = Direct3DCreate(Backend::Null);
    PresentParameters p;
    ASSERT_EQ(mD3D->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &p, &mDevice),
              kOk);
  }
  void TearDown() override {
    mDevice->Release();
    mD3D->Release();
  }

  std::vector<std::uint8_t> ReadLevel(Surface* surface, std::uint32_t w, std::uint32_t h) {
    LockedRect locked;
    EXPECT_EQ(surface->LockRect(&locked, nullptr, 0), kOk);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 4);
    for (std::uint32_t y = 0; y < h; ++y) {
      std::memcpy(out.data() + y * w * 4,
                  static_cast<std::uint8_t*>(locked.bits) + y * static_cast<std::size_t>(locked.pitch),
                  w * 4);
    }
    surface->UnlockRect();
    return out;
  }

  velox_test::ScopedWorkDir mDir;
  Direct3D* mD3D = nullptr;
  Device* mDevice = nullptr;
};

TEST_F(TextureFilesTest, PngBecomesAFullChainWithTheTopRowFirst) {
  const auto pixels = Pattern(8, 4);
  std::string error;
  ASSERT_TRUE(image::SavePng(L"data/pattern.png", 8, 4, pixels.data(), 32, error)) << error;
  Texture* texture = nullptr;
  ASSERT_EQ(CreateTextureFromFile(mDevice, L"data/pattern.png", kDefault, kDefault, kDefault, 0,
                                  kFromFile, kPoolManaged, &texture, &error),
            kOk)
      << error;
  EXPECT_EQ(texture->GetLevelCount(), 4u);  // 8x4, 4x2, 2x1, 1x1
  Surface* top = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &top), kOk);
  EXPECT_EQ(ReadLevel(top, 8, 4), pixels);
  top->Release();
  Surface* last = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(3, &last), kOk);
  SurfaceDesc desc;
  last->GetDesc(&desc);
  EXPECT_EQ(desc.width, 1u);
  last->Release();
  texture->Release();

  // Only the stored level when the file's levels are asked for.
  ASSERT_EQ(CreateTextureFromFile(mDevice, L"data/pattern.png", kDefault, kDefault, kFromFile, 0,
                                  kFromFile, kPoolManaged, &texture),
            kOk);
  EXPECT_EQ(texture->GetLevelCount(), 1u);
  texture->Release();
}

TEST_F(TextureFilesTest, ErrorsAreReportedNotThrown) {
  Texture* texture = nullptr;
  std::string error;
  EXPECT_EQ(CreateTextureFromFile(mDevice, L"data/none.png", kDefault, kDefault, kDefault, 0,
                                  kFromFile, kPoolManaged, &texture, &error),
            kInvalidData);
  EXPECT_FALSE(error.empty());
  const auto pixels = Pattern(4, 4);
  ASSERT_TRUE(image::SavePng(L"data/small.png", 4, 4, pixels.data(), 16, error));
  EXPECT_EQ(CreateTextureFromFile(mDevice, L"data/small.png", 8, 8, kDefault, 0, kFromFile,
                                  kPoolManaged, &texture),
            kInvalidCall);  // no rescaling
  null::GetSettings().failCreateTexture = 1;
  EXPECT_TRUE(Failed(CreateTextureFromFile(mDevice, L"data/small.png", kDefault, kDefault,
                                           kDefault, 0, kFromFile, kPoolManaged, &texture)));
  CubeTexture* cube = nullptr;
  EXPECT_EQ(CreateCubeTextureFromFile(mDevice, L"data/small.png", kDefault, kDefault, 0,
                                      kFromFile, kPoolManaged, &cube),
            kInvalidData);  // not a cube map
  EXPECT_EQ(texture, nullptr);
  EXPECT_EQ(cube, nullptr);
}

TEST_F(TextureFilesTest, CubeMapFacesLoad) {
  CubeTexture* cube = nullptr;
  std::string error;
  ASSERT_EQ(CreateCubeTextureFromFile(mDevice,
                                      VELOX_SOURCE_DIR L"/fuzz/regressions/dds_fuzz/cube_2x2_argb.dds",
                                      kDefault, kFromFile, 0, kFromFile, kPoolManaged, &cube,
                                      &error),
            kOk)
      << error;
  Surface* face = nullptr;
  ASSERT_EQ(cube->GetCubeMapSurface(kCubeFaceNegativeZ, 0, &face), kOk);
  SurfaceDesc desc;
  face->GetDesc(&desc);
  EXPECT_EQ(desc.width, 2u);
  face->Release();
  cube->Release();
}

TEST_F(TextureFilesTest, SurfacesSaveAsPng) {
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(4, 2, 1, 0, kFormatX8R8G8B8, kPoolManaged, &texture, nullptr),
            kOk);
  Surface* level = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(0, &level), kOk);
  LockedRect locked;
  ASSERT_EQ(level->LockRect(&locked, nullptr, 0), kOk);
  auto* bytes = static_cast<std::uint8_t*>(locked.bits);
  for (int i = 0; i < 4 * 2 * 4; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  level->UnlockRect();
  std::string error;
  ASSERT_EQ(SaveSurfaceToPng(mDevice, L"shot.png", level, &error), kOk) << error;
  image::Image img;
  ASSERT_TRUE(image::LoadFile(L"shot.png", img, error)) << error;
  const auto& pixels = img.faces[0][0].bytes;
  ASSERT_EQ(pixels.size(), 32u);
  EXPECT_EQ(pixels[4], 4 * 7);  // second pixel's blue
  EXPECT_EQ(pixels[7], 255);    // the unused byte became opaque

  // A render target goes through a read-back.
  Surface* back = nullptr;
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  EXPECT_EQ(SaveSurfaceToPng(mDevice, L"back.png", back), kOk);
  bool readBack = false;
  for (const auto& line : null::CallRecord()) readBack |= line.rfind("GetRenderTargetData backbuffer", 0) == 0;
  EXPECT_TRUE(readBack);
  back->Release();
  level->Release();
  texture->Release();
}

}  // namespace
