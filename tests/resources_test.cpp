// Resources on the null graphics device: creation on first request, one
// object per name, failures that register nothing, the lost/reset broadcast
// and the reload of a changed effect file.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/VLXMesh.h"
#include "engine/wrapper.h"
#include "engine/resourceTypes.h"
#include "engine/screen.h"
#include "engine/Window.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/null/nullGraphics.h"
#include "engine_support.h"
#include "test_support.h"

using namespace engine::core;
using namespace engine::core::resources;

namespace {

const char* kEffect = R"(
float4 Colour = {1, 0, 0, 1};
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS() : COLOR { return Colour; }
technique T { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)";

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velox_test::OpenNullWindow();
    ASSERT_NE(CWin32Window::Get()->Device(), nullptr);
    const std::uint32_t pixels[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    std::string error;
    ASSERT_TRUE(platform::image::SavePng(L"data/red.png", 2, 2, pixels, 8, error)) << error;
  }
  void TearDown() override {
    delete ResourceManager::Get();
    delete CWin32Window::Get();
  }
  std::string Rows() { return velox_test::CloseLogAndReadRows(mDir.Path()); }

  velox_test::ScopedWorkDir mDir;
};

TEST_F(ResourcesTest, TexturesLoadOncePerNameAndFailuresRegisterNothing) {
  ResourceManager* manager = ResourceManager::Get();
  auto first = manager->Get<ManagedTexture>(L"data/red.png");
  auto second = manager->Get<ManagedTexture>(L"data/red.png");
  EXPECT_EQ(first, second);
  ASSERT_NE(first->Retrieve(), nullptr);
  EXPECT_EQ(first->TextureType(), 0);
  EXPECT_THROW(manager->Get<ManagedTexture>(L"data/missing.png"), Exception);
  // Not registered: asking again tries again.
  EXPECT_THROW(manager->Get<ManagedTexture>(L"data/missing.png"), Exception);
  delete manager;
  const std::string rows = Rows();
  EXPECT_EQ(velox_test::Count(rows, "Creating managed texture data/red.png"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Failed to create texture data/missing.png"), 2);
  EXPECT_EQ(velox_test::Count(rows, "Destroying managed texture data/red.png"), 1);
}

TEST_F(ResourcesTest, RenderTargetsAndDepthSurviveResetWithTheirShape) {
  ResourceManager* manager = ResourceManager::Get();
  boost::shared_ptr<RenderTargetTexture> target(new RenderTargetTexture(L"glow", 128, 64));
  target->SetViaBackBuffer(false);
  manager->AddUnmanaged(L"glow", target);
  target->Create();
  EXPECT_EQ(manager->Get<RenderTargetTexture>(L"glow"), target);  // found, not created again
  auto depth = manager->Get<DepthTexture>(L"depth");
  EXPECT_FALSE(depth->ViaBackBuffer());
  platform::SurfaceDesc desc;
  ASSERT_EQ(depth->Retrieve()->GetLevelDesc(0, &desc), platform::kOk);
  EXPECT_EQ(desc.width, 512u);
  EXPECT_EQ(desc.height, 512u);
  EXPECT_EQ(desc.format, platform::kFormatR32F);
  auto plain = manager->Get<RenderTargetTexture>(L"plain");
  EXPECT_EQ(plain->Width(), 256);
  EXPECT_TRUE(plain->ViaBackBuffer());

  manager->LostDevice();
  EXPECT_EQ(target->Retrieve(), nullptr);
  EXPECT_EQ(platform::null::LiveDefaultPoolResources(), 0);
  manager->ResetDevice();
  ASSERT_NE(target->Retrieve(), nullptr);
  ASSERT_EQ(target->Retrieve()->GetLevelDesc(0, &desc), platform::kOk);
  EXPECT_EQ(desc.width, 128u);
  EXPECT_EQ(desc.height, 64u);
  EXPECT_FALSE(target->ViaBackBuffer());
  // A name under a second class is an error, not a wrong object.
  EXPECT_THROW(manager->Get<FXEffect>(L"glow"), Exception);
  delete manager;
  const std::string rows = Rows();
  // Name order: depth, glow, plain.
  const auto lostDepth = rows.find("Lost render target texture depth");
  const auto lostGlow = rows.find("Lost render target texture glow");
  const auto lostPlain = rows.find("Lost render target texture plain");
  EXPECT_LT(lostDepth, lostGlow);
  EXPECT_LT(lostGlow, lostPlain);
  EXPECT_LT(rows.find("Resetting depth texture depth"), rows.find("Resetting render target texture glow"));
  EXPECT_NE(rows.find("Creating depth texture depth"), std::string::npos);
}

TEST_F(ResourcesTest, EffectsReloadWhenTheirFileChanges) {
  velox_test::WriteText("data/fx/plain.fx", kEffect);
  ResourceManager* manager = ResourceManager::Get();
  auto effect = manager->Get<FXEffect>(L"data/fx/plain.fx");
  ASSERT_NE(effect->Retrieve(), nullptr);
  const std::uint64_t stamp = effect->LastWrite();
  manager->UpdateAll();
  EXPECT_EQ(effect->LastWrite(), stamp);
  // Only the time stamp changes (an earlier time counts as a change too).
  std::filesystem::last_write_time("data/fx/plain.fx",
                                   std::filesystem::last_write_time("data/fx/plain.fx") -
                                       std::chrono::seconds(10));
  manager->UpdateAll();
  EXPECT_NE(effect->LastWrite(), stamp);
  ASSERT_NE(effect->Retrieve(), nullptr);
  manager->LostDevice();
  manager->ResetDevice();

  velox_test::WriteText("data/fx/broken.fx", "float4 x = ;\n");
  EXPECT_THROW(manager->Get<FXEffect>(L"data/fx/broken.fx"), Exception);
  EXPECT_THROW(manager->Get<FXEffect>(L"data/fx/none.fx"), Exception);
  delete manager;
  const std::string rows = Rows();
  EXPECT_EQ(velox_test::Count(rows, "Creating .fx effect data/fx/plain.fx"), 2);
  EXPECT_EQ(velox_test::Count(rows, "Updating data/fx/plain.fx"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Lost .fx effect data/fx/plain.fx"), 2);  // and at shut-down
  EXPECT_EQ(velox_test::Count(rows, "Resetting .fx effect data/fx/plain.fx"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Failed to create effect data/fx/broken.fx"), 1);
  EXPECT_NE(rows.find("broken.fx(1,"), std::string::npos);  // the compiler's words are kept
  EXPECT_EQ(velox_test::Count(rows, "Failed to create effect data/fx/none.fx"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Destroying .fx effect data/fx/plain.fx"), 1);
}

// A header saved reloads the effects that include it, through nested
// includes, and no other.
TEST_F(ResourcesTest, EffectsReloadWhenAnIncludedHeaderChanges) {
  velox_test::WriteText("data/fx/inner.fxh", "float4 Colour = {1, 0, 0, 1};\n");
  velox_test::WriteText("data/fx/shared.fxh", "  #  include \"inner.fxh\"\n");
  velox_test::WriteText("data/fx/other.fxh", "float4 Unused;\n");
  const std::string body = kEffect;  // without its Colour, which comes from the header
  velox_test::WriteText("data/fx/user.fx", "#include \"shared.fxh\"\n" + body.substr(body.find("float4 VS")));
  ResourceManager* manager = ResourceManager::Get();
  auto effect = manager->Get<FXEffect>(L"data/fx/user.fx");
  ASSERT_NE(effect->Retrieve(), nullptr);
  const std::uint64_t stamp = effect->LastWrite();
  auto older = [](const char* path) {
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::seconds(10));
  };
  older("data/fx/other.fxh");
  manager->UpdateAll();
  EXPECT_EQ(effect->LastWrite(), stamp);
  older("data/fx/inner.fxh");
  manager->UpdateAll();
  EXPECT_NE(effect->LastWrite(), stamp);
  ASSERT_NE(effect->Retrieve(), nullptr);
  delete manager;
  EXPECT_EQ(velox_test::Count(Rows(), "Updating data/fx/user.fx"), 1);
}

TEST_F(ResourcesTest, FacadeRegistersOnlyWhatItCreated) {
  ResourceManager* manager = ResourceManager::Get();
  engine::CreateRenderTarget(L"half", 128, 64, false);
  auto half = manager->Get<RenderTargetTexture>(L"half");
  EXPECT_EQ(half->Width(), 128);
  EXPECT_FALSE(half->ViaBackBuffer());
  engine::CreateRenderTarget(L"square", 32);
  EXPECT_TRUE(manager->Get<RenderTargetTexture>(L"square")->ViaBackBuffer());
  platform::null::GetSettings().failCreateTexture = 1;
  EXPECT_THROW(engine::CreateRenderTarget(L"broken", 64), Exception);
  // Not registered: a later request builds a fresh default-sized target.
  EXPECT_EQ(manager->Get<RenderTargetTexture>(L"broken")->Width(), 256);
  EXPECT_NE(engine::GetDirect3DTexture(L"data/red.png"), nullptr);

  engine::AddMesh(L"quad", new engine::gfx::LoadVLXMesh(L"data/quad.vlx"), nullptr);
  auto mesh = manager->Get<engine::gfx::Mesh>(L"quad");
  EXPECT_EQ(mesh->NumVertices(), 4);
  EXPECT_EQ(mesh->NumTriangles(), 2);
  EXPECT_NEAR(mesh->Radius(), 1.41421356f, 1e-5f);
  manager->LostDevice();
  EXPECT_EQ(mesh->VertexBuffer(), nullptr);
  manager->ResetDevice();
  EXPECT_NE(mesh->VertexBuffer(), nullptr);
  mesh.reset();
  delete manager;
  const std::string rows = Rows();
  EXPECT_NE(rows.find("Lost mesh quad"), std::string::npos);
  EXPECT_NE(rows.find("Resetting mesh quad"), std::string::npos);
  EXPECT_NE(rows.find("Destroying quad mesh"), std::string::npos);
}

}  // namespace
