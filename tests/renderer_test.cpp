// The renderer on the null device: pass order, batches, render-target
// switches and clears, quads, screenshots, the "lastFrame" throttle and the
// recovery of a lost device, read from the device's call record.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/profiler.h"
#include "engine/renderer.h"
#include "engine/resourceTypes.h"
#include "engine/sceneInfo.h"
#include "engine/sceneNodes.h"
#include "engine/timer.h"
#include "engine/VLXMesh.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "platform/graphics.h"
#include "platform/null/nullGraphics.h"
#include "test_support.h"

using namespace engine::gfx;

namespace {

const char* kFx = R"(
float4x4 WVP : WorldViewProjection;
float4 Colour;
float4 VS(float4 p : POSITION) : POSITION { return mul(p, WVP); }
float4 PS() : COLOR { return Colour; }
technique A { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
technique B { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
technique Two { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); }
                pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
technique Quad < bool quad = true; string material = "quad"; > {
  pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)";

std::string Pass(const std::string& tec, int priority, const std::string& extra = "") {
  return "{ fx = 'r', tec = '" + tec + "', priority = " + std::to_string(priority) +
         ", params = {}, streams = { 'pos' }" + extra + " }";
}

class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDefaultBackend(platform::Backend::Null);
    platform::null::ResetSettings();
    velox_test::CloseLog();
    velox_test::WriteText("data/fx/r.fx", kFx);
    velox_test::WriteText("data/wireframe.efx", "effect = { { pass = { " + Pass("A", 0) + " } } }");
    velox_test::WriteText("data/fx/quad.efx", "effect = { { pass = { " + Pass("B", 5) + " } } }");
    engine::WindowSettings settings;
    settings.width = settings.height = 64;
    engine::CreateVELOXWindow(settings);
    mRenderer = dynamic_cast<Renderer*>(engine::core::Kernel::Get()->FindModule(10));
    ASSERT_NE(mRenderer, nullptr);
    mRoot.reset(new Node(nullptr));
    engine::SetRootNode(mRoot);
  }
  void TearDown() override {
    engine::ShutDownEngine();
  }

  // A quad drawn with the material of `passes`, under the shown root or
  // under parent.
  void AddObject(const std::string& passes, Node* parent = nullptr) {
    const std::string path = "data/m" + std::to_string(mCount++) + ".efx";
    velox_test::WriteText(path, "effect = { { pass = { " + passes + " } } }");
    const std::wstring name = L"mesh" + std::to_wstring(mCount);
    engine::AddMesh(name, new LoadVLXMesh(L"data/quad.vlx"), engine::BuildEffect(path));
    auto mesh = engine::core::ResourceManager::Get()->Get<Mesh>(name);
    Node* under = parent != nullptr ? parent : mRoot.get();
    under->AddChild(boost::shared_ptr<Spatial>(new Geometry(mesh, under)));
  }

  // The record of one frame, without the effect's per-draw commits.
  std::vector<std::string> Frame() {
    platform::null::ClearCallRecord();
    engine::AdvanceTime(mFrameTime);
    engine::core::Timer::Get()->Update();
    mRenderer->Update();
    engine::core::Input::Get()->Roll();
    std::vector<std::string> lines;
    for (const auto& l : platform::null::CallRecord()) {
      if (l != "Effect CommitChanges") lines.push_back(l);
    }
    return lines;
  }

  static std::size_t Find(const std::vector<std::string>& lines, const std::string& prefix,
                          std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0) return i;
    }
    return lines.size();
  }
  static int CountOf(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  velox_test::ScopedWorkDir mDir;
  Renderer* mRenderer = nullptr;
  boost::shared_ptr<Node> mRoot;
  int mCount = 0;
  double mFrameTime = 0.01;
};

TEST_F(RendererTest, PassesByPriorityInBatchesOfOneBegin) {
  AddObject(Pass("A", 1));
  AddObject(Pass("B", 0));
  AddObject(Pass("B", 0));  // another material, same file and technique
  const auto lines = Frame();
  const std::size_t b = Find(lines, "Effect Begin data/fx/r.fx B");
  const std::size_t a = Find(lines, "Effect Begin data/fx/r.fx A");
  ASSERT_LT(b, lines.size());
  EXPECT_LT(b, a);
  EXPECT_EQ(CountOf(lines, "Effect Begin "), 2) << ::testing::PrintToString(lines);
  EXPECT_EQ(CountOf(lines, "DrawIndexedPrimitive"), 3);
  EXPECT_EQ(CountOf(lines, "Clear"), 1);  // the frame's own
  EXPECT_EQ(lines.back(), "Present");
}

TEST_F(RendererTest, TargetsAreClearedCopiedAndBoundAsTheirKindSays) {
  AddObject(Pass("A", 0, ", rtt_stex = 'glow'") + ", " + Pass("B", 1) + ", " +
            Pass("Two", 2, ", rtt_dtex = 'depth', do_not_clear = true") + ", " + Pass("A", 3));
  const auto lines = Frame();
  const std::size_t firstBegin = Find(lines, "Effect Begin data/fx/r.fx A");
  // Into the back buffer for "glow", cleared; copied out when the frame
  // buffer pass begins, which clears again.
  EXPECT_LT(Find(lines, "Clear"), firstBegin);
  const std::size_t clearForGlow = Find(lines, "Clear", Find(lines, "Clear") + 1);
  EXPECT_LT(clearForGlow, firstBegin);
  const std::size_t copy = Find(lines, "StretchRect backbuffer texture");
  const std::size_t second = Find(lines, "Effect Begin data/fx/r.fx B");
  EXPECT_LT(firstBegin, copy);
  EXPECT_LT(copy, second);
  EXPECT_LT(Find(lines, "Clear", copy), second);
  // The depth texture is bound directly, not cleared, and the frame buffer
  // comes back for the last pass.
  const std::size_t bind = Find(lines, "SetRenderTarget 0 texture");
  const std::size_t two = Find(lines, "Effect Begin data/fx/r.fx Two");
  EXPECT_LT(second, bind);
  EXPECT_LT(bind, two);
  EXPECT_EQ(Find(lines, "Clear", bind), Find(lines, "Clear", two));  // none between
  EXPECT_EQ(CountOf(lines, "Effect BeginPass"), 5);  // Two has two passes
  const std::size_t back = Find(lines, "SetRenderTarget 0 backbuffer", two);
  EXPECT_LT(back, Find(lines, "Effect Begin data/fx/r.fx A", two));
}

TEST_F(RendererTest, QuadShadersQueueTheirQuad) {
  AddObject(Pass("Quad", 0));
  const auto lines = Frame();
  // The object itself and the quad with the quad material (technique B).
  EXPECT_EQ(CountOf(lines, "DrawIndexedPrimitive"), 2);
  EXPECT_LT(Find(lines, "Effect Begin data/fx/r.fx Quad"), Find(lines, "Effect Begin data/fx/r.fx B"));
}

TEST_F(RendererTest, ScreenshotsTakeTheFirstFreeNumber) {
  std::filesystem::create_directories("screenshots");
  std::ofstream("screenshots/screenshot0.png") << "x";
  std::ofstream("screenshots/screenshot1.png") << "x";
  engine::core::Input::Get()->SetKey(0x7A, true);
  Frame();
  EXPECT_TRUE(std::filesystem::exists("screenshots/screenshot2.png"));
  Frame();  // held, not pressed: no second picture
  EXPECT_FALSE(std::filesystem::exists("screenshots/screenshot3.png"));
  const std::string rows = velox_test::CloseLogAndReadRows(mDir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Trying path screenshots/screenshot0.png"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Trying path screenshots/screenshot2.png"), 0);
  EXPECT_EQ(velox_test::Count(rows, "Saved screenshot to screenshots/screenshot2.png"), 1);
}

// The kernel catches only the engine's exception, and skips the input
// module after it: the failed press must not be acted on again.
TEST_F(RendererTest, AKeyPressThatFailsEndsOnlyItsFrameAndIsNotRetriedAndARemovedEffectKeepsDrawing) {
  std::ofstream("screenshots") << "x";  // a file where the folder belongs
  engine::core::Input::Get()->SetKey(0x7A, true);
  EXPECT_THROW(Frame(), engine::core::Exception);
  EXPECT_EQ(CountOf(Frame(), "Present"), 1);

  // A removed effect is no failure of the frame: the last good one draws
  // and the reason waits in the reload failures until the file is back.
  using engine::core::resources::FXEffect;
  const auto effect = engine::core::ResourceManager::Get()->Get<FXEffect>(L"data/fx/r.fx");
  std::ifstream in("data/fx/r.fx", std::ios::binary);
  const std::string source((std::istreambuf_iterator<char>(in)), {});
  in.close();
  std::filesystem::remove("data/fx/r.fx");
  for (int press = 0; press < 2; ++press) {
    engine::core::Input::Get()->SetKey(0x78, true);
    EXPECT_EQ(CountOf(Frame(), "Present"), 1);
    engine::core::Input::Get()->SetKey(0x78, false);
    Frame();
  }
  EXPECT_NE(effect->Retrieve(), nullptr);
  EXPECT_EQ(FXEffect::ReloadFailures(), std::vector<std::string>{"data/fx/r.fx: file missing"});
  velox_test::WriteText("data/fx/r.fx", source);
  engine::core::ResourceManager::Get()->UpdateAll();
  EXPECT_TRUE(FXEffect::ReloadFailures().empty());

  const std::string rows = velox_test::CloseLogAndReadRows(mDir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Failed to save screenshot"), 1);
  EXPECT_EQ(velox_test::Count(rows, "data/fx/r.fx: file missing"), 1);
}

TEST_F(RendererTest, LastFrameIsCopiedAtMostEveryFortyMilliseconds) {
  // Copies per run of frames, and whether two frames in a row copied.
  auto copies = [&](int frames, bool* adjacent) {
    int n = 0;
    bool previous = false;
    *adjacent = false;
    for (int i = 0; i < frames; ++i) {
      const bool copied = CountOf(Frame(), "StretchRect backbuffer") > 0;
      *adjacent |= copied && previous;
      previous = copied;
      n += copied ? 1 : 0;
    }
    return n;
  };
  bool adjacent = false;
  mFrameTime = 0.01;  // 100 frames per second: the first after 0.05 s, then about every fourth
  const int fast = copies(20, &adjacent);
  EXPECT_GE(fast, 4);
  EXPECT_LE(fast, 5);
  EXPECT_FALSE(adjacent);
  mFrameTime = 0.1;  // 10 per second: every frame, the remainder kept below 0.04
  EXPECT_EQ(copies(5, &adjacent), 5);
}

TEST_F(RendererTest, ALostDeviceWaitsThenResetsWithResourcesRestored) {
  AddObject(Pass("A", 0, ", rtt_dtex = 'depth'"));
  AddObject(Pass("Quad", 1));  // its queued quad's buffers are default-pool too
  Frame();  // leaves the depth texture bound at the end of the frame
  platform::null::LoseDevice(2);
  auto lines = Frame();
  EXPECT_TRUE(mRenderer->DeviceLost());
  for (int i = 0; i < 2; ++i) {
    lines = Frame();  // lost: tests, sleeps, draws nothing
    EXPECT_EQ(CountOf(lines, "BeginScene"), 0);
  }
  lines = Frame();
  EXPECT_EQ(CountOf(lines, "Reset"), 1);
  EXPECT_LT(Find(lines, "Reset"), Find(lines, "BeginScene"));
  EXPECT_EQ(CountOf(lines, "DrawIndexedPrimitive"), 3);
  EXPECT_FALSE(mRenderer->DeviceLost());
  const std::string rows = velox_test::CloseLogAndReadRows(mDir.Path());
  EXPECT_EQ(velox_test::Count(rows, "D3DDevice lost"), 1);
  EXPECT_EQ(velox_test::Count(rows, "D3DDevice reseting"), 1);
  EXPECT_LT(rows.find("Lost mesh"), rows.find("Resetting mesh"));
}

TEST_F(RendererTest, WarmUpDrawsEveryPassOfASceneNotShownOnceAndShowsNothing) {
  boost::shared_ptr<Node> other(new Node(nullptr));
  AddObject(Pass("A", 0, ", rtt_stex = 'glow'") + ", " + Pass("Two", 1) + ", " + Pass("Quad", 2),
            other.get());
  platform::null::ClearCallRecord();
  engine::WarmUp(other);
  const auto lines = platform::null::CallRecord();
  // A once, Two's two passes, the quad object and its queued quad.
  EXPECT_EQ(CountOf(lines, "DrawIndexedPrimitive"), 5);
  EXPECT_EQ(CountOf(lines, "Present"), 0);
  std::size_t lastDraw = 0, lastClear = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("DrawIndexedPrimitive", 0) == 0) lastDraw = i;
    if (lines[i].rfind("Clear", 0) == 0) lastClear = i;
  }
  EXPECT_GT(lastClear, lastDraw);
  // Nothing stays queued for the shown, empty scene.
  const auto frame = Frame();
  EXPECT_EQ(CountOf(frame, "DrawIndexedPrimitive"), 0);
  EXPECT_EQ(CountOf(frame, "Present"), 1);
}

TEST_F(RendererTest, ANullRootIsAnErrorAndTheNextFrameStillRuns) {
  EXPECT_THROW(engine::SetRootNode(nullptr), engine::core::Exception);
  AddObject(Pass("A", 0));
  EXPECT_EQ(CountOf(Frame(), "DrawIndexedPrimitive"), 1);
}

}  // namespace

// The profiler on the null device's simulated GPU clock (1 ms a draw, read
// after the next Present): passes named and summed per key, each frame's
// stages adding up to its time, and nothing issued while it is off.
TEST_F(RendererTest, ProfilerNamesAndSumsPassesAndIssuesNothingWhenOff) {
  using engine::core::FrameProfiler;
  using engine::core::kStageCount;
  platform::null::GetSettings().timestamps = true;
  AddObject(Pass("A", 0) + ", " + Pass("Two", 1, ", rtt_stex = 'glow'"));
  AddObject(Pass("A", 0));  // same effect file and technique: own mesh key
  FrameProfiler& profiler = FrameProfiler::Get();
  const auto ProfiledFrame = [&] {
    profiler.BeginFrame();
    Frame();
    profiler.EndFrame();
  };

  ProfiledFrame();
  EXPECT_EQ(Find(platform::null::CallRecord(), "CreateTimestampQuery"), platform::null::CallRecord().size());
  EXPECT_TRUE(profiler.TakeFinished().empty());

  profiler.Enable(true);
  profiler.SetTag(7);
  ProfiledFrame();
  ProfiledFrame();
  auto frames = profiler.TakeFinished();
  profiler.Enable(false);
  ASSERT_GE(frames.size(), 1u);
  const auto& f = frames.front();
  EXPECT_EQ(f.tag, 7);
  double sum = 0;
  for (int s = 0; s < kStageCount; ++s) sum += f.stageMs[s];
  EXPECT_NEAR(sum, f.totalMs, 1e-6 + 1e-9 * f.totalMs);
  ASSERT_TRUE(f.gpu);
  // mesh1 and mesh2 with A into the frame, mesh1's two passes of Two into "glow".
  std::map<std::string, double> byLabel;
  for (const auto& p : f.passes) byLabel[p.key.Label()] += p.ms;
  ASSERT_EQ(byLabel.size(), 4u) << ::testing::PrintToString(byLabel);
  EXPECT_DOUBLE_EQ(byLabel["mesh1 data/fx/r.fx:A/0 -> frame"], 1.0);
  EXPECT_DOUBLE_EQ(byLabel["mesh2 data/fx/r.fx:A/0 -> frame"], 1.0);
  EXPECT_DOUBLE_EQ(byLabel["mesh1 data/fx/r.fx:Two/1 -> glow"], 1.0);

  // Without timestamps (a driver without them): CPU stages only, no failure.
  engine::core::FrameProfiler::Get().ReleaseQueries();
  platform::null::GetSettings().timestamps = false;
  profiler.Enable(true);
  ProfiledFrame();
  ProfiledFrame();
  frames = profiler.TakeFinished();
  profiler.Enable(false);
  ASSERT_FALSE(frames.empty());
  EXPECT_FALSE(frames.back().gpu);
  EXPECT_GT(frames.back().totalMs, 0.0);
}
