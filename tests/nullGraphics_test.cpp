// The null graphics backend: what engine tests rely on when they assert
// what was drawn, and the faults they inject.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/graphics.h"
#include "platform/null/nullGraphics.h"

using namespace platform;

namespace {

bool Recorded(const std::string& line) {
  const auto& record = null::CallRecord();
  return std::find(record.begin(), record.end(), line) != record.end();
}

class NullGraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    null::ResetSettings();
    mD3D = Direct3DCreate(Backend::Null);
    ASSERT_NE(mD3D, nullptr);
  }
  void TearDown() override {
    if (mDevice != nullptr) {
      EXPECT_EQ(mDevice->Release(), 0u);
    }
    EXPECT_EQ(mD3D->Release(), 0u);
    EXPECT_EQ(null::LiveDefaultPoolResources(), 0);
  }

  Result CreateDevice(std::uint32_t width = 320, std::uint32_t height = 240) {
    mParameters.backBufferWidth = width;
    mParameters.backBufferHeight = height;
    mParameters.windowed = false;
    return mD3D->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &mParameters,
                              &mDevice);
  }

  // A quad's worth of buffers, bound.
  void BindGeometry(VertexDeclaration** decl, VertexBuffer** vb, IndexBuffer** ib) {
    const VertexElement elements[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                      {0, 12, kDeclFloat2, 0, kDeclUsageTexCoord, 0}, kDeclEnd};
    ASSERT_EQ(mDevice->CreateVertexDeclaration(elements, decl), kOk);
    ASSERT_EQ(mDevice->CreateVertexBuffer(80, kUsageWriteOnly, 0, kPoolDefault, vb, nullptr), kOk);
    ASSERT_EQ(mDevice->CreateIndexBuffer(24, kUsageWriteOnly, kFormatIndex32, kPoolDefault, ib,
                                         nullptr),
              kOk);
    mDevice->SetVertexDeclaration(*decl);
    mDevice->SetStreamSource(0, *vb, 0, 20);
    mDevice->SetIndices(*ib);
  }

  Direct3D* mD3D = nullptr;
  Device* mDevice = nullptr;
  PresentParameters mParameters;
};

TEST_F(NullGraphicsTest, AdapterReportsTheSettings) {
  AdapterIdentifier id;
  ASSERT_EQ(mD3D->GetAdapterIdentifier(0, 0, &id), kOk);
  EXPECT_EQ(id.description, "Null graphics device");
  Caps caps;
  ASSERT_EQ(mD3D->GetDeviceCaps(0, kDeviceHal, &caps), kOk);
  EXPECT_EQ(caps.pixelShaderVersion, 0xFFFF0300u);
  EXPECT_NE(caps.vertexProcessingCaps, 0u);
  EXPECT_EQ(caps.textureCaps & kTextureCapsPow2, 0u);

  null::GetSettings().caps.pixelShaderVersion = 0xFFFF0104;
  null::GetSettings().multisampleLevels[kFormatX8R8G8B8] = {0, 4};
  ASSERT_EQ(mD3D->GetDeviceCaps(0, kDeviceHal, &caps), kOk);
  EXPECT_EQ(caps.pixelShaderVersion, 0xFFFF0104u);
  EXPECT_EQ(mD3D->CheckDeviceMultiSampleType(0, kDeviceHal, kFormatX8R8G8B8, true, 8, nullptr),
            kNotAvailable);
  EXPECT_EQ(mD3D->CheckDeviceMultiSampleType(0, kDeviceHal, kFormatX8R8G8B8, true, 4, nullptr),
            kOk);
  EXPECT_EQ(mD3D->CheckDeviceMultiSampleType(0, kDeviceHal, kFormatR5G6B5, true, 2, nullptr), kOk);
  EXPECT_TRUE(Recorded("CheckDeviceMultiSampleType 22 8"));
}

TEST_F(NullGraphicsTest, RecordsDrawsWithTheirTarget) {
  ASSERT_EQ(CreateDevice(), kOk);
  Surface* back = nullptr;
  ASSERT_EQ(mDevice->GetBackBuffer(0, 0, 0, &back), kOk);
  SurfaceDesc desc;
  back->GetDesc(&desc);
  EXPECT_EQ(desc.width, 320u);
  EXPECT_EQ(desc.height, 240u);

  VertexDeclaration* decl = nullptr;
  VertexBuffer* vb = nullptr;
  IndexBuffer* ib = nullptr;
  BindGeometry(&decl, &vb, &ib);
  // Drawing outside a scene is refused.
  EXPECT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kInvalidCall);

  Texture* target = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(256, 256, 1, kUsageRenderTarget, kFormatR32F, kPoolDefault,
                                   &target, nullptr),
            kOk);
  Surface* level = nullptr;
  ASSERT_EQ(target->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice->BeginScene(), kOk);
  mDevice->SetRenderTarget(0, level);
  mDevice->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF000000, 1.0f, 0);
  ASSERT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kOk);
  mDevice->SetRenderTarget(0, back);
  ASSERT_EQ(mDevice->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kOk);
  mDevice->StretchRect(back, nullptr, level, nullptr, kFilterNone);
  mDevice->EndScene();
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kOk);

  std::vector<std::string> tail;
  for (const auto& line : null::CallRecord()) {
    if (line.rfind("Draw", 0) == 0 || line.rfind("Clear", 0) == 0 || line.rfind("Stretch", 0) == 0)
      tail.push_back(line);
  }
  // The level's name: its texture's, as the creation recorded it, and ":0".
  std::string name;
  for (const auto& line : null::CallRecord()) {
    if (line.rfind("CreateTexture 256", 0) == 0) name = line.substr(line.find("-> ") + 3) + ":0";
  }
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(tail, (std::vector<std::string>{"Clear 3 0xff000000 1.000000 0 -> " + name,
                                            "DrawIndexedPrimitive 4 0 0 4 0 2 -> " + name,
                                            "DrawIndexedPrimitive 4 0 0 4 0 2 -> backbuffer",
                                            "StretchRect backbuffer " + name + " 0"}));
  for (Unknown* o : std::initializer_list<Unknown*>{level, target, back, decl, vb, ib}) o->Release();
}

TEST_F(NullGraphicsTest, ReferenceCountsKeepBoundObjectsAlive) {
  ASSERT_EQ(CreateDevice(), kOk);
  Texture* texture = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(64, 32, 0, 0, kFormatA8R8G8B8, kPoolManaged, &texture, nullptr),
            kOk);
  EXPECT_EQ(texture->GetLevelCount(), 7u);  // 64x32 down to 1x1
  Surface* level = nullptr;
  ASSERT_EQ(texture->GetSurfaceLevel(2, &level), kOk);
  SurfaceDesc desc;
  level->GetDesc(&desc);
  EXPECT_EQ(desc.width, 16u);
  EXPECT_EQ(desc.height, 8u);
  EXPECT_EQ(texture->Release(), 0u);  // the level outlives its texture while held
  EXPECT_EQ(level->Release(), 0u);

  VertexBuffer* vb = nullptr;
  ASSERT_EQ(mDevice->CreateVertexBuffer(64, 0, 0, kPoolDefault, &vb, nullptr), kOk);
  mDevice->SetStreamSource(0, vb, 0, 16);
  EXPECT_EQ(vb->Release(), 1u);  // the device still holds it
  mDevice->SetStreamSource(0, nullptr, 0, 0);
  EXPECT_EQ(null::LiveDefaultPoolResources(), 0);
}

TEST_F(NullGraphicsTest, LocksAreBoundedAndOnlyWhereAllowed) {
  ASSERT_EQ(CreateDevice(), kOk);
  Texture* managed = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(8, 8, 1, 0, kFormatA8R8G8B8, kPoolManaged, &managed, nullptr),
            kOk);
  LockedRect locked;
  ASSERT_EQ(managed->LockRect(0, &locked, nullptr, 0), kOk);
  EXPECT_EQ(locked.pitch, 32);
  EXPECT_EQ(managed->LockRect(0, &locked, nullptr, 0), kInvalidCall);  // already locked
  managed->UnlockRect(0);
  const Rect outside{4, 4, 9, 8};
  EXPECT_EQ(managed->LockRect(0, &locked, &outside, 0), kInvalidCall);

  Texture* target = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(8, 8, 1, kUsageRenderTarget, kFormatX8R8G8B8, kPoolDefault,
                                   &target, nullptr),
            kOk);
  EXPECT_EQ(target->LockRect(0, &locked, nullptr, 0), kInvalidCall);

  VertexBuffer* vb = nullptr;
  ASSERT_EQ(mDevice->CreateVertexBuffer(64, 0, 0, kPoolManaged, &vb, nullptr), kOk);
  void* data = nullptr;
  EXPECT_EQ(vb->Lock(60, 8, &data, 0), kInvalidCall);
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), kOk);
  vb->Unlock();

  const VertexElement unterminated[65] = {};
  VertexDeclaration* decl = nullptr;
  EXPECT_EQ(mDevice->CreateVertexDeclaration(unterminated, &decl), kInvalidCall);
  for (Unknown* o : std::initializer_list<Unknown*>{managed, target, vb}) o->Release();
}

TEST_F(NullGraphicsTest, InjectedCreationFailuresCountDown) {
  null::GetSettings().failCreateDevice = 1;
  EXPECT_TRUE(Failed(CreateDevice()));
  ASSERT_EQ(CreateDevice(), kOk);
  null::GetSettings().failCreateTexture = 1;
  null::GetSettings().failCreateIndexBuffer = 1;
  Texture* texture = nullptr;
  EXPECT_EQ(mDevice->CreateTexture(4, 4, 1, 0, kFormatA8R8G8B8, kPoolManaged, &texture, nullptr),
            kOutOfVideoMemory);
  ASSERT_EQ(mDevice->CreateTexture(4, 4, 1, 0, kFormatA8R8G8B8, kPoolManaged, &texture, nullptr),
            kOk);
  IndexBuffer* ib = nullptr;
  EXPECT_TRUE(Failed(
      mDevice->CreateIndexBuffer(12, 0, kFormatIndex16, kPoolDefault, &ib, nullptr)));
  null::GetSettings().failGetSurface = 1;
  Surface* surface = nullptr;
  EXPECT_EQ(texture->GetSurfaceLevel(0, &surface), kFail);
  texture->Release();
}

TEST_F(NullGraphicsTest, LostDeviceResetsOnlyWithoutDefaultPoolResources) {
  ASSERT_EQ(CreateDevice(), kOk);
  Texture* target = nullptr;
  ASSERT_EQ(mDevice->CreateTexture(16, 16, 1, kUsageRenderTarget, kFormatX8R8G8B8, kPoolDefault,
                                   &target, nullptr),
            kOk);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kOk);
  null::LoseDevice(2);
  EXPECT_EQ(mDevice->Present(nullptr, nullptr, nullptr, nullptr), kDeviceLost);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceLost);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceLost);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceNotReset);
  EXPECT_EQ(mDevice->Reset(&mParameters), kInvalidCall);  // a render target is still alive
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kDeviceNotReset);
  target->Release();
  mParameters.backBufferWidth = 640;
  ASSERT_EQ(mDevice->Reset(&mParameters), kOk);
  EXPECT_EQ(mDevice->TestCooperativeLevel(), kOk);
  Surface* back = nullptr;
  ASSERT_EQ(mDevice->GetRenderTarget(0, &back), kOk);
  SurfaceDesc desc;
  back->GetDesc(&desc);
  EXPECT_EQ(desc.width, 640u);  // the new parameters
  back->Release();
}

TEST(GraphicsBackendTest, EnvironmentChoosesTheNullBackend) {
  setenv("VELOX_GRAPHICS", "null", 1);
  EXPECT_EQ(DefaultBackend(), Backend::Null);
  Direct3D* d3d = Direct3DCreate();
  ASSERT_NE(d3d, nullptr);
  d3d->Release();
  SetDefaultBackend(Backend::GL);
  EXPECT_EQ(DefaultBackend(), Backend::GL);  // an explicit choice wins
}

}  // namespace
