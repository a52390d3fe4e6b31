// Scene files: objects become nodes with their camera, lamp or mesh,
// curves become pipes or named channels, parents link after all objects,
// and a broken file is an error, never a crash or a cycle.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Shader.h"
#include "engine/Window.h"
#include "engine/animationController.h"
#include "engine/demoFile.h"
#include "engine/effectPool.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/sceneInfo.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "engine/screen.h"
#include "engine/timer.h"
#include "engine/VLXMesh.h"
#include "engine/wrapper.h"
#include "platform/graphics.h"
#include "platform/null/nullGraphics.h"
#include "content/formats/demo.h"
#include "engine_support.h"
#include "test_support.h"

using namespace engine::gfx;
using content::DemoWriter;
using engine::core::Exception;

namespace {


class DemoFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velox_test::OpenNullWindow();
    velox_test::WriteText("data/fx/glow.fx", R"(
float4x4 WVP : WorldViewProjection;
float Glow;
float4 VS(float4 p : POSITION) : POSITION { return mul(p, WVP); }
float4 PS() : COLOR { return Glow; }
technique T { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)");
    const std::string material =
        "effect = { { pass = { { fx = 'glow', tec = 'T', params = { { 'Glow', 'ipo', 'x' } }, "
        "streams = { 'pos' } } } } }";
    velox_test::WriteText("data/wireframe.efx", material);
    velox_test::WriteText("data/s.demo_scene/box.vlx.efx", material);
    velox_test::WriteText("data/s.demo_scene/box.vlx", engine::gfx::DefaultQuadFile());
  }
  void TearDown() override {
    delete EffectPool::Get();
    delete engine::core::ResourceManager::Get();
    delete engine::core::Timer::Get();
    delete SceneInfo::Get();
    delete engine::core::CWin32Window::Get();
  }

  DemoLoader* Load(const DemoWriter& w) {
    w.Save("data/s.demo");
    return DemoLoader::CreateInstance(L"data/s.demo");
  }
  std::string LoadFailure(const DemoWriter& w) {
    try {
      Load(w)->DestroyInstance();
    } catch (const Exception& e) {
      return engine::ToNarrow(e.GetText());
    }
    return "";
  }
  std::string Rows() { return velox_test::CloseLogAndReadRows(mDir.Path()); }

  velox_test::ScopedWorkDir mDir;
};

TEST_F(DemoFileTest, ObjectsBecomeNodesWithTheirAttachments) {
  DemoWriter w(6, 375);
  w.Object("Camera", "Cam", "", "", {0, 0, 10}, {0, 0, 1.5707963f}, 0);
  w.Object("Mesh", "Box", "box", "Cam", {1, 2, 3}, {0, 0, 0}, 1).Curve("Glow", {{1, 0}, {26, 5}});
  w.Object("Lamp", "Sun", "", "", {4, 5, 6}, {0, 0, 0}, 0);
  w.Object("Mesh", "Terrain", "box", "", {0, 0, 0}, {0, 0, 0}, 0);
  w.Object("Empty", "Mover", "", "Cam", {7, 8, 9}, {0, 0, 0}, 2)
      .Curve("LocX", {{1, 1}, {26, 2}})
      .Curve("LocZ", {{1, 3}, {26, 4}}, "Bezier");
  w.Object("Empty", "Drift", "", "", {0, 0, 0}, {0, 0, 0}, 1).Curve("dLocX", {{1, 1}});
  DemoLoader* loader = Load(w);
  EXPECT_EQ(loader->GetLength(), 375);
  boost::shared_ptr<Node> base = loader->GetBaseNode();
  // Roots in file order: Cam, Sun, Terrain, Drift; Box and Mover hang below Cam.
  ASSERT_EQ(base->Children().size(), 4u);
  boost::shared_ptr<Node> cam = loader->GetNode("Cam");
  EXPECT_EQ(cam->Children().size(), 3u);  // its camera, then Box and Mover
  EXPECT_NE(dynamic_cast<Camera*>(cam->Children()[0].get()), nullptr);
  // A plain node has its rest placement: rotation about z by pi/2, translation.
  EXPECT_EQ(dynamic_cast<AnimationNode*>(cam.get()), nullptr);
  const engine::math::Matrix4x4 local = cam->Local();
  EXPECT_NEAR(local.m[0][1], 1.0f, 1e-5f);
  EXPECT_FLOAT_EQ(local.GetTranslation().z, 10.0f);
  EXPECT_NE(dynamic_cast<Light*>(loader->GetNode("Sun")->Children().at(0).get()), nullptr);
  EXPECT_TRUE(loader->GetNode("Terrain")->Children().empty());

  // Under a camera: rest z and LocZ keys negated, x kept; LocX replaced the
  // rest pipe, the other rest pipes stay.
  auto* mover = dynamic_cast<AnimationNode*>(loader->GetNode("Mover").get());
  ASSERT_NE(mover, nullptr);
  const auto& pipes = mover->Controller()->Pipes();
  ASSERT_EQ(pipes.size(), 6u);
  mover->Controller()->SetTime(1);
  Transformation t;
  mover->Controller()->Evaluate(t);
  EXPECT_FLOAT_EQ(t.Translate().x, 1.0f);
  EXPECT_FLOAT_EQ(t.Translate().y, 8.0f);
  EXPECT_FLOAT_EQ(t.Translate().z, -3.0f);

  // The mesh's named channel drives its shader parameter of the same name.
  auto* box = dynamic_cast<AnimationNode*>(loader->GetNode("Box").get());
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(box->Children().size(), 1u);
  auto* geometry = dynamic_cast<Geometry*>(box->Children()[0].get());
  ASSERT_NE(geometry, nullptr);
  const auto& ipo = geometry->GetMesh()->GetEffect()->GetShader(0)->Pass().mParameters.mIpos.at(0);
  EXPECT_EQ(ipo.value, box->Controller()->GetChannel("Glow"));
  box->Controller()->SetTime(26);
  float glow;
  std::memcpy(&glow, ipo.value, 4);
  EXPECT_FLOAT_EQ(glow, 5.0f);
  EXPECT_EQ(loader->GetNode("Nobody"), nullptr);
  loader->DestroyInstance();
  const std::string rows = Rows();
  EXPECT_NE(rows.find("No such node Nobody was found"), std::string::npos);
}

TEST_F(DemoFileTest, AMeshWithoutIndicesGetsNoGeometry) {
  // The .vlx reader refuses such a file; a mesh registered by the program can be empty.
  engine::AddMesh(L"data/s.demo_scene/empty.vlx", engine::CreateEmptyMesh(0, 0), nullptr);
  DemoWriter w(1);
  w.Object("Mesh", "Ghost", "empty", "", {0, 0, 0}, {0, 0, 0}, 0);
  DemoLoader* loader = Load(w);
  EXPECT_TRUE(loader->GetNode("Ghost")->Children().empty());
  loader->DestroyInstance();
}

TEST_F(DemoFileTest, BrokenFilesAreErrors) {
  EXPECT_EQ(LoadFailure(DemoWriter(0)), "");
  {
    DemoWriter w(1);
    w.Object("Empty", "A", "", "", {0, 0, 0}, {0, 0, 0}, 1).Curve("LocX", {{1, 1}}, "Quadratic");
    EXPECT_EQ(LoadFailure(w), "Quadratic interpolation type not supported.");
  }
  {
    DemoWriter w(1);
    w.Object("Empty", "A", "", "", {0, 0, 0}, {0, 0, 0}, 1).Curve("LocX", {{1, 1}}, "Linear", "Pingpong");
    EXPECT_EQ(LoadFailure(w), "Pingpong extrapolation type not supported.");
  }
  EXPECT_EQ(LoadFailure(DemoWriter(2)), "Demo file is truncated or corrupt");  // count > records
  {
    DemoWriter w(1);
    w.Int(0x7FFFFFFF);  // a string longer than the file
    EXPECT_EQ(LoadFailure(w), "Demo file is truncated or corrupt");
  }
  {
    DemoWriter w(1);
    w.Int(-5);
    EXPECT_EQ(LoadFailure(w), "Demo file is truncated or corrupt");
  }
  {
    DemoWriter w(1);
    w.Object("Empty", "A", "", "", {0, 0, 0}, {0, 0, 0}, 1).String("LocX").String("Linear").String("Constant").Int(1000000);
    EXPECT_EQ(LoadFailure(w), "Demo file is truncated or corrupt");  // more keys than bytes
  }
  std::ofstream("data/s.demo") << "OMED";
  EXPECT_THROW(DemoLoader::CreateInstance(L"data/s.demo"), Exception);
  EXPECT_THROW(DemoLoader::CreateInstance(L"data/none.demo"), Exception);
  const std::string rows = Rows();
  EXPECT_NE(rows.find("Not VELOX Demo file format"), std::string::npos);
  EXPECT_NE(rows.find("No such demo file found"), std::string::npos);
}

TEST_F(DemoFileTest, UnknownParentsAndCyclesGoToTheRoot) {
  DemoWriter w(5);
  w.Object("Empty", "Orphan", "", "Nobody", {0, 0, 0}, {0, 0, 0}, 0);
  w.Object("Empty", "Self", "", "Self", {0, 0, 0}, {0, 0, 0}, 0);
  w.Object("Empty", "A", "", "B", {0, 0, 0}, {0, 0, 0}, 0);
  w.Object("Empty", "B", "", "A", {0, 0, 0}, {0, 0, 0}, 0);
  w.Object("Lamp", "Late", "", "", {0, 0, 0}, {0, 0, 0}, 0);
  DemoLoader* loader = Load(w);
  // Orphan, Self and one of A/B at the root, besides Late; the other of A/B under it.
  EXPECT_EQ(loader->GetBaseNode()->Children().size(), 4u);
  EXPECT_EQ(loader->GetNode("A")->Parent(), loader->GetNode("B").get());
  loader->GetBaseNode()->Update(nullptr);  // terminates
  loader->DestroyInstance();
  const std::string rows = Rows();
  EXPECT_NE(rows.find("Object Orphan has no usable parent Nobody, placed at the root of the scene"),
            std::string::npos);
  EXPECT_NE(rows.find("Object Self has no usable parent Self"), std::string::npos);
  EXPECT_NE(rows.find("Object B has no usable parent A"), std::string::npos);
}

}  // namespace
