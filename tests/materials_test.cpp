// Materials: the effect pool's choice among candidates and its fallback on
// the null device, and shaders drawing with their parameters and semantic
// bindings on the software rasterizer.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Shader.h"
#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/renderObject.h"
#include "engine/resourceTypes.h"
#include "engine/screen.h"
#include "engine/strings.h"
#include "engine/wrapper.h"
#include "gl_support.h"
#include "platform/effect.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/null/nullGraphics.h"
#include "test_support.h"

using namespace engine::gfx;
using engine::core::Exception;

namespace {

// What a shader needs from the renderer, and a record of what it queued.
class FakeRenderer : public engine::core::Module, public RenderContext {
 public:
  FakeRenderer() { mName = L"Fake renderer"; }
  bool Start() override { return true; }
  void Update() override {}
  void Stop() override {}
  void Submit(boost::shared_ptr<RenderObject> object) override { submitted.push_back(object); }
  std::vector<boost::shared_ptr<RenderObject>> submitted;
};

const char* kColourFx = R"(
float4x4 WVP : WorldViewProjection;
float4x4 Rotation : WorldRotation;
float4 First;
float4 Second;
int Count = 0;
float Gain < string UIName = "Gain"; > = 0.5;
texture Map < string UIName = "Map"; >;
sampler2D MapSampler = sampler_state { Texture = <Map>; };
float4 VS(float4 p : POSITION) : POSITION { return mul(p, WVP); }
float4 Plain() : COLOR { return float4(First.x, Second.y, Count / 255.0, 1); }
float4 Textured() : COLOR { return tex2D(MapSampler, float2(0.5, 0.5)) * Gain; }
float4 Rotated() : COLOR { return float4(Rotation[0].y, Rotation[3].x, 0, 1); }
float4 Three(float2 p : VPOS) : COLOR { return 1; }
technique Plain { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Plain(); } }
technique Textured { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Textured(); } }
technique Rotated { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Rotated(); } }
technique Three { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Three(); } }
technique Quad < bool quad = true; string material = "quadmat"; > {
  pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Plain(); } }
technique LonelyQuad < bool quad = true; > {
  pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Plain(); } }
)";

std::string Pass(const std::string& fx, const std::string& tec, const std::string& params = "",
                 const std::string& extra = "") {
  return "{ fx = '" + fx + "', tec = '" + tec + "', params = {" + params +
         "}, streams = { 'pos' }" + extra + " }";
}

class MaterialsTest : public ::testing::Test {
 protected:
  void Open(platform::Backend backend) {
    platform::SetDefaultBackend(backend);
    platform::null::ResetSettings();
    velox_test::CloseLog();
    engine::WindowSettings settings;
    settings.width = settings.height = 64;
    engine::core::CScreen screen;
    screen.Create(settings);
    ASSERT_NE(engine::core::CWin32Window::Get()->Device(), nullptr);
    engine::AddModule(&mRenderer, 10);
    velox_test::WriteText("data/fx/colour.fx", kColourFx);
    velox_test::WriteText("data/fx/wire.fx", R"(
float4x4 WVP : WorldViewProjection;
float4 VS(float4 p : POSITION) : POSITION { return mul(p, WVP); }
float4 PS() : COLOR { return 1; }
technique Wire { pass { FillMode = Wireframe; VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)");
    velox_test::WriteText("data/wireframe.efx", "effect = { { pass = { " + Pass("wire", "Wire") + " } } }");
    velox_test::WriteText("data/fx/quadmat.efx", "effect = { { pass = { " + Pass("colour", "Plain") + " } } }");
    const std::uint32_t white = 0xFFFFFFFF;
    std::string error;
    ASSERT_TRUE(platform::image::SavePng(L"data/default.png", 1, 1, &white, 4, error));
    std::filesystem::rename("data/default.png", "data/default.dds");
  }
  void TearDown() override {
    delete EffectPool::Get();
    delete engine::core::ResourceManager::Get();
    delete engine::core::Kernel::Get();
    delete engine::core::CWin32Window::Get();
    EffectPool::SetTargetVersion(0);
  }
  std::string Rows() { return velox_test::CloseLogAndReadRows(mDir.Path()); }

  velox_test::ScopedWorkDir mDir;
  FakeRenderer mRenderer;
};

TEST_F(MaterialsTest, CandidatesAreTriedByPriorityAndFallBack) {
  Open(platform::Backend::Null);
  EffectPool* pool = EffectPool::Get();
  ASSERT_TRUE(pool->Wireframe());
  ASSERT_EQ(pool->Wireframe()->ShaderCount(), 1u);

  velox_test::WriteText("data/m.efx", "effect = { { priority = 1, pass = { " + Pass("colour", "Plain") +
                          " } }, { priority = 5, pass = { " + Pass("colour", "Missing") + " } } }");
  boost::shared_ptr<Effect> chosen = engine::BuildEffect("data/m.efx");
  ASSERT_EQ(chosen->ShaderCount(), 1u);
  EXPECT_EQ(chosen->GetShader(0)->Pass().mTechnique, "Plain");
  // Built twice: two effects, one loaded effect file.
  boost::shared_ptr<Effect> again = engine::BuildEffect("data/m.efx");
  EXPECT_NE(again, chosen);
  EXPECT_EQ(again->GetShader(0)->GetEffect(), chosen->GetShader(0)->GetEffect());

  // Pixel shader 3 over the target version: the next candidate.
  velox_test::WriteText("data/v.efx", "effect = { { priority = 2, pass = { " + Pass("colour", "Three") +
                          " } }, { priority = 1, pass = { " + Pass("colour", "Plain") + " } } }");
  EffectPool::SetTargetVersion(0xFFFF0200);
  EXPECT_EQ(engine::BuildEffect("data/v.efx")->GetShader(0)->Pass().mTechnique, "Plain");
  EffectPool::SetTargetVersion(0);
  EXPECT_EQ(engine::BuildEffect("data/v.efx")->GetShader(0)->Pass().mTechnique, "Three");

  // A missing technique in the second pass drops the whole candidate.
  velox_test::WriteText("data/p.efx", "effect = { { priority = 2, pass = { " + Pass("colour", "Plain") + ", " +
                          Pass("colour", "Nope") + " } }, { pass = { } } }");
  EXPECT_EQ(engine::BuildEffect("data/p.efx")->ShaderCount(), 0u);  // the empty candidate

  velox_test::WriteText("data/e.efx", "effect = {}");
  EXPECT_EQ(engine::BuildEffect("data/e.efx"), pool->Wireframe());
  velox_test::WriteText("data/f.efx", "effect = { { pass = { " + Pass("missingfile", "T") + " } } }");
  EXPECT_EQ(engine::BuildEffect("data/f.efx"), pool->Wireframe());
  EXPECT_THROW(pool->GenerateQuadEffect("data/f.efx"), Exception);
  // Script errors are the caller's, a missing texture among them.
  velox_test::WriteText("data/s.efx", "effect = 1");
  EXPECT_THROW(engine::BuildEffect("data/s.efx"), Exception);
  velox_test::WriteText("data/t.efx", "effect = { { pass = { " +
                          Pass("colour", "Plain", "{ 'Map', 'tex', 'data/none.png' }") + " } } }");
  EXPECT_THROW(engine::BuildEffect("data/t.efx"), Exception);

  const std::string rows = Rows();
  EXPECT_EQ(velox_test::Count(rows, "Effect data/fx/colour.fx Technique Missing failed"), 2);
  EXPECT_EQ(velox_test::Count(rows, "Effect data/fx/colour.fx Technique Three failed"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Effect data/fx/colour.fx Technique Nope failed"), 1);
  EXPECT_EQ(velox_test::Count(rows, "No effects supported in the list, falling back to wireframe"), 2);
  EXPECT_EQ(velox_test::Count(rows, "Failed to generate an effect"), 1);
  EXPECT_EQ(velox_test::Count(rows, "No such technique Missing in data/fx/colour.fx"), 2);
  EXPECT_EQ(velox_test::Count(rows, "Failed to create texture data/none.png"), 1);
}

TEST_F(MaterialsTest, QuadTechniquesQueueTheirQuad) {
  Open(platform::Backend::Null);
  velox_test::WriteText("data/q.efx", "effect = { { pass = { " + Pass("colour", "Quad") + ", " +
                          Pass("colour", "LonelyQuad") + " } } }");
  boost::shared_ptr<Effect> e = engine::BuildEffect("data/q.efx");
  ASSERT_EQ(e->ShaderCount(), 2u);
  EXPECT_TRUE(e->GetShader(0)->IsQuad());
  EXPECT_FALSE(e->GetShader(1)->IsQuad());
  e->GetShader(0)->Activate();
  e->GetShader(1)->Activate();
  ASSERT_EQ(mRenderer.submitted.size(), 1u);
  const RenderObject& quad = *mRenderer.submitted[0];
  EXPECT_EQ(quad.mVertexCount, 4);
  EXPECT_EQ(quad.mPrimitiveCount, 2);
  EXPECT_EQ(quad.mStride, 20);  // the quad file's positions and texture coordinates
  ASSERT_TRUE(quad.mEffect);
  EXPECT_EQ(quad.mEffect->GetShader(0)->Pass().mTechnique, "Plain");
  const std::string rows = Rows();
  EXPECT_NE(rows.find("Loading quad material data/fx/colour.fx"), std::string::npos);
  EXPECT_NE(rows.find("Quad in effect data/fx/colour.fx is true, but material not available"),
            std::string::npos);
}

TEST_F(MaterialsTest, ABrokenReloadKeepsTheLastGoodEffectAndSaysWhy) {
  Open(platform::Backend::Null);
  velox_test::WriteText("data/r.efx", "effect = { { pass = { " + Pass("colour", "Plain") + " } } }");
  boost::shared_ptr<Effect> e = engine::BuildEffect("data/r.efx");
  boost::shared_ptr<Mesh> quad = Mesh::CreateQuad(nullptr);
  boost::shared_ptr<Shader> shader = e->GetShader(0);
  platform::Device* device = engine::core::CWin32Window::Get()->Device();
  using engine::core::resources::FXEffect;
  auto loaded = [] {
    return engine::core::ResourceManager::Get()->Get<FXEffect>(L"data/fx/colour.fx")->Retrieve();
  };
  auto draw = [&] {
    device->BeginScene();
    shader->BeginPass(0);
    shader->Draw(quad->GetRenderObject());
    shader->EndPass();
    device->EndScene();
  };
  draw();
  platform::Effect* good = loaded();
  velox_test::WriteText("data/fx/colour.fx", "float4 x;\nfloat4 broken = ;\n");
  EXPECT_NO_THROW(engine::core::ResourceManager::Get()->UpdateAll());
  EXPECT_EQ(loaded(), good);
  EXPECT_NO_THROW(draw());
  ASSERT_EQ(FXEffect::ReloadFailures().size(), 1u);
  const std::string why = FXEffect::ReloadFailures()[0];
  EXPECT_NE(why.find("colour.fx"), std::string::npos) << why;
  EXPECT_NE(why.find('2'), std::string::npos) << "no line number: " << why;
  EXPECT_EQ(velox_test::Count(Rows(), "Failed to reload effect data/fx/colour.fx"), 1);
  // Fixed: the new version replaces the old one and the report goes.
  velox_test::WriteText("data/fx/colour.fx", kColourFx);
  engine::core::ResourceManager::Get()->UpdateAll();
  EXPECT_TRUE(FXEffect::ReloadFailures().empty());
  draw();
}

class MaterialsGlTest : public MaterialsTest {
 protected:
  void SetUp() override {
    Open(platform::Backend::GL);
    engine::core::CWin32Window::Get()->SetProjection(engine::math::Matrix4x4::Identity);
    mQuad = Mesh::CreateQuad(nullptr);
  }

  // Draws the quad with shader 0 of `effect` and returns the centre pixel.
  std::uint32_t DrawQuad(const boost::shared_ptr<Effect>& effect, unsigned shader = 0,
                         boost::shared_ptr<RenderObject> object = nullptr) {
    platform::Device* device = engine::core::CWin32Window::Get()->Device();
    device->Clear(0, nullptr, platform::kClearTarget | platform::kClearZBuffer, 0xFF000000, 1, 0);
    device->BeginScene();
    if (!object) object = mQuad->GetRenderObject();
    boost::shared_ptr<Shader> s = effect->GetShader(shader);
    const int passes = s->BeginPass(0);
    for (int p = 0; p < passes; ++p) {
      s->Draw(object);
      s->EndPass();
      s->BeginPass(static_cast<unsigned>(p + 1));
    }
    device->EndScene();
    platform::Surface* back = nullptr;
    device->GetBackBuffer(0, 0, 0, &back);
    platform::Surface* copy = nullptr;
    device->CreateOffscreenPlainSurface(64, 64, platform::kFormatA8R8G8B8, platform::kPoolSystemMem, &copy);
    device->GetRenderTargetData(back, copy);
    platform::LockedRect locked;
    copy->LockRect(&locked, nullptr, 0);
    std::uint32_t pixel;
    std::memcpy(&pixel, static_cast<const std::uint8_t*>(locked.bits) + 32 * locked.pitch + 32 * 4, 4);
    copy->UnlockRect();
    copy->Release();
    back->Release();
    return pixel;
  }

  boost::shared_ptr<Mesh> mQuad;
};

TEST_F(MaterialsGlTest, ParametersReachTheEffectAndAreRestored) {
  velox_test::WriteText("data/a.efx", "effect = { { pass = { " +
                          Pass("colour", "Plain",
                               "{ 'Missing', 'float4', {1,1,1,1} }, { 'First', 'float4', {0.5,0,0,0} },"
                               "{ 'Second', 'float4', {0,0.25,0,0} }, { 'Count', 'int', 3.9 }") +
                          " } } }");
  velox_test::WriteText("data/b.efx", "effect = { { pass = { " +
                          Pass("colour", "Plain", "{ 'First', 'float4', {1,0,0,0} }") + " } } }");
  boost::shared_ptr<Effect> a = engine::BuildEffect("data/a.efx");
  boost::shared_ptr<Effect> b = engine::BuildEffect("data/b.efx");
  // The missing name keeps the other parameters on their own handles; the
  // int reaches the effect as 3.
  EXPECT_EQ(DrawQuad(a), 0xFF804003u);
  // b shares the effect file but not a's values: Second and Count are the
  // effect's own again.
  EXPECT_EQ(DrawQuad(b), 0xFFFF0000u);
  EXPECT_EQ(DrawQuad(a), 0xFF804003u);
  const std::string rows = Rows();
  EXPECT_EQ(velox_test::Count(rows, "No such parameter Missing in shader data/fx/colour.fx"), 1);
}

TEST_F(MaterialsGlTest, UiNameParametersAndWorldRotation) {
  velox_test::WriteText("data/t.efx", "effect = { { pass = { " + Pass("colour", "Textured") + ", " +
                          Pass("colour", "Rotated") + " } } }");
  boost::shared_ptr<Effect> e = engine::BuildEffect("data/t.efx");
  const ShaderParameters& p = e->GetShader(0)->Pass().mParameters;
  ASSERT_EQ(p.mScalars.size(), 1u);  // Gain, found through its UIName, inactive
  EXPECT_EQ(p.mScalars[0].name, "Gain");
  EXPECT_EQ(p.mScalarsActive[0]->b, 0);
  EXPECT_FLOAT_EQ(p.mScalars[0].value->f, 0.5f);
  ASSERT_EQ(p.mTextures.size(), 1u);  // Map, bound to data/default.dds
  EXPECT_EQ(p.mTexturesActive[0]->b, 1);
  // White default texture times the effect's own gain.
  const std::uint32_t textured = DrawQuad(e, 0);
  EXPECT_NEAR(static_cast<int>(textured & 0xFF), 128, 1);

  // The rotation block of the world matrix, without its translation.
  boost::shared_ptr<RenderObject> object = mQuad->GetRenderObject();
  object->World = engine::math::Matrix4x4::Identity;
  object->World.ToZRot(0.5f);
  object->World.SetTranslation(engine::math::Vector3f(0.75f, 0, 0));
  const std::uint32_t rotated = DrawQuad(e, 1, object);
  EXPECT_NEAR(static_cast<int>((rotated >> 16) & 0xFF), 122, 1);  // sin 0.5
  EXPECT_EQ(rotated & 0xFF00u, 0u);                                 // no translation
}

TEST_F(MaterialsGlTest, AReloadedEffectIsSetUpBeforeTheNextDraw) {
  velox_test::WriteText("data/r.efx", "effect = { { pass = { " +
                          Pass("colour", "Plain", "{ 'First', 'float4', {1,0,0,0} }") + " } } }");
  boost::shared_ptr<Effect> e = engine::BuildEffect("data/r.efx");
  EXPECT_EQ(DrawQuad(e), 0xFFFF0000u);
  // The new file declares the parameters in another order, so stale handles
  // would set the wrong ones.
  std::string changed = kColourFx;
  const std::string order = "float4 First;\nfloat4 Second;", use = "First.x, Second.y";
  changed.replace(changed.find(order), order.size(), "float4 Second;\nfloat4 First;");
  changed.replace(changed.find(use), use.size(), "Second.y, First.x");
  velox_test::WriteText("data/fx/colour.fx", changed);
  std::filesystem::last_write_time("data/fx/colour.fx",
                                   std::filesystem::last_write_time("data/fx/colour.fx") +
                                       std::chrono::seconds(5));
  engine::core::ResourceManager::Get()->UpdateAll();
  EXPECT_EQ(DrawQuad(e), 0xFF00FF00u);
  EXPECT_EQ(velox_test::Count(Rows(), "Updating data/fx/colour.fx"), 1);
}

}  // namespace
