// The engine end to end on the software rasterizer: a scene file with a
// camera, a lamp, an animated mesh whose named channel drives its shader, a
// child of the camera, and a material that renders into a target and reads
// it back in a later pass, run by the engine's own modules for a few frames
// at fixed clock times. F11 saves screenshots, compared with reviewed
// reference pictures (tests/references/) within a tolerance; on a mismatch
// the difference picture is kept next to the screenshot.
//
// VELOX_UPDATE_REFERENCES=1 writes the references instead (review them!).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio_support.h"
#include "engine/demoFile.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/mesh.h"
#include "engine/renderer.h"
#include "engine/resourceTypes.h"
#include "engine/math.h"
#include "engine/sceneNodes.h"
#include "engine/VLXMesh.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "gl_support.h"
#include "platform/d3dmath.h"
#include "platform/gl/glGraphics.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/system.h"
#include "content/formats/demo.h"
#include "picture_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const char* kSceneFx = R"(
float4x4 WorldViewProjection : WorldViewProjection;
float4x4 World : World;
float4 Light0 : Light0;
float4 Screen : Screen;
float Glow;
float4 Colour = {1, 1, 1, 1};
texture Marks;
sampler2D MarkSampler = sampler_state { Texture = <Marks>; MinFilter = Point; MagFilter = Point; };
struct V { float4 p : POSITION; float2 uv : TEXCOORD0; float3 world : TEXCOORD1; };
V VS(float4 p : POSITION, float2 uv : TEXCOORD0) {
  V o; o.p = mul(p, WorldViewProjection); o.uv = uv; o.world = mul(p, World).xyz; return o; }
// Into the target: a pattern from the texture coordinates and the channel.
float4 Mark(float2 uv : TEXCOORD0) : COLOR { return float4(uv.x, Glow, uv.y, 1); }
// Back on screen: what the target holds at this pixel, lit by the lamp.
float4 Show(float3 world : TEXCOORD1, float2 pixel : VPOS) : COLOR {
  float lit = saturate(2.0 / length(Light0.xyz - world));
  return tex2D(MarkSampler, (pixel + 0.5) / Screen.xy) * (0.5 + 0.5 * lit);
}
float4 Flat() : COLOR { return Colour; }
technique Mark { pass { CullMode = None; VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Mark(); } }
technique Show { pass { CullMode = None; VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Show(); } }
technique Flat { pass { CullMode = None; VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Flat(); } }
)";



class QuitAfterOne : public engine::core::Module {
 public:
  bool Start() override { return true; }
  void Update() override { engine::QuitApplication(); }
  void Stop() override { delete this; }
};

TEST(EndToEndTest, SceneRendersLikeItsReviewedPictures) {
  velox_test::ScopedWorkDir dir;
  platform::SetDefaultBackend(platform::Backend::GL);
  platform::EnableTestClock(true);
  ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", 2.0));
  velox_test::WriteText("data/fx/scene.fx", kSceneFx);
  velox_test::WriteText("data/wireframe.efx",
        "effect = { { pass = { { fx = 'scene', tec = 'Flat', params = {}, streams = { 'pos' } } } } }");
  // The animated box: into "marks" first, then shown from it.
  velox_test::WriteText("data/scene.demo_scene/box.vlx", engine::gfx::DefaultQuadFile());
  velox_test::WriteText("data/scene.demo_scene/box.vlx.efx", R"(
effect = { { pass = {
  { priority = 0, fx = 'scene', tec = 'Mark', rtt_stex = 'marks',
    params = { { 'Glow', 'ipo', 'Glow' } }, streams = { 'pos', 'tex' } },
  { priority = 1, fx = 'scene', tec = 'Show', params = { { 'Marks', 'target', 'marks' } },
    streams = { 'pos', 'tex' } } } } }
)");
  velox_test::WriteText("data/scene.demo_scene/hud.vlx", engine::gfx::DefaultQuadFile());
  velox_test::WriteText("data/scene.demo_scene/hud.vlx.efx", R"(
effect = { { pass = { { priority = 2, fx = 'scene', tec = 'Flat',
  params = { { 'Colour', 'float4', { 1, 0.8, 0.2, 1 } } }, streams = { 'pos' } } } } }
)");
  content::DemoWriter w(4, 500);
  w.Object("Camera", "Cam", "", "", {0, 0, -6}, {0, 0, 0}, 0);
  w.Object("Lamp", "Sun", "", "", {1.5f, 1.5f, -2}, {0, 0, 0}, 0);
  w.Object("Mesh", "Box", "box", "", {0, 0, 0}, {0, 0, 0}, 2)
      .Curve("RotZ", {{1, 0}, {101, 36}}, "Linear", "Cyclic")  // a turn every four seconds
      .Curve("Glow", {{1, 0}, {11, 1}});
  // Below the camera: z is stored the modelling tool's way, negated on load.
  w.Object("Mesh", "Hud", "hud", "Cam", {-1.6f, 1.1f, -4}, {0, 0, 0}, 2)
      .Curve("ScaleX", {{1, 0.15f}, {2, 0.15f}})
      .Curve("ScaleY", {{1, 0.15f}, {2, 0.15f}});
  std::ofstream("data/scene.demo", std::ios::binary) << w.Bytes();

  engine::WindowSettings settings;
  settings.width = 128;
  settings.height = 96;
  settings.title = L"End to end";
  velox_test::Director director({3, 9}, 10);
  velox_test::RunFrames(settings, 1.0471976f, 100.0f, &director);
  EXPECT_GE(director.mFrame, 10);

  for (int shot = 0; shot < 2; ++shot) {
    SCOPED_TRACE(shot);
    velox_test::ExpectMatchesReference(
        dir.Path() / "screenshots" / ("screenshot" + std::to_string(shot) + ".png"),
        "end_to_end_" + std::to_string(shot) + ".png");
  }
}

// A lost OpenGL device: frames wait until it can be reset, then the
// resources come back and the scene is drawn again.
TEST(EndToEndTest, ALostGlDeviceRecovers) {
  velox_test::ScopedWorkDir dir;
  platform::SetDefaultBackend(platform::Backend::GL);
  velox_test::WriteText("data/fx/scene.fx", kSceneFx);
  velox_test::WriteText("data/wireframe.efx",
        "effect = { { pass = { { fx = 'scene', tec = 'Flat', params = {}, streams = { 'pos' } } } } }");
  engine::WindowSettings settings;
  settings.width = 64;
  settings.height = 48;
  engine::CreateVELOXWindow(settings);
  engine::CreateRenderTarget(L"marks", 64, 48, true);
  engine::AddMesh(L"quad", new engine::gfx::LoadVLXMesh(L"data/quad.vlx"),
                  engine::BuildEffect("data/wireframe.efx"));
  engine::SetRootNode(engine::CreateMeshNode(
      engine::core::ResourceManager::Get()->Get<engine::gfx::Mesh>(L"quad")));
  auto* renderer = dynamic_cast<engine::gfx::Renderer*>(engine::core::Kernel::Get()->FindModule(10));
  ASSERT_NE(renderer, nullptr);
  renderer->Update();
  platform::gl::LoseDeviceForTesting(1);
  renderer->Update();  // Present fails
  EXPECT_TRUE(renderer->DeviceLost());
  renderer->Update();  // still lost: waits
  EXPECT_TRUE(renderer->DeviceLost());
  renderer->Update();  // can be reset: recovers and draws
  EXPECT_FALSE(renderer->DeviceLost());
  EXPECT_EQ(platform::gl::LiveDefaultPoolResources() > 0, true);  // targets and buffers are back
  platform::Surface* back = nullptr;
  ASSERT_EQ(engine::Direct3DDevice()->GetBackBuffer(0, 0, 0, &back), platform::kOk);
  platform::SurfaceDesc desc;
  back->GetDesc(&desc);
  back->Release();
  EXPECT_EQ(desc.width, 64u);  // the window's size again
  EXPECT_EQ(desc.height, 48u);
  engine::AddModule(new QuitAfterOne, 10100);
  engine::StartApplication();
}

}  // namespace
