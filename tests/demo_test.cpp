// The demo program on the null device: start-up with its cache rule, the
// timeline, the projection's aspect, the post-processing targets, the
// command line, and the generators checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>

#include "content/formats/curves.h"
#include "content/formats/demo.h"
#include "engine/VLXMesh.h"
#include "engine/kernel.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/Shader.h"
#include "engine/effectPool.h"
#include "engine/demoFile.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/curves.h"
#include "game/demoModule.h"
#include "game/entry.h"
#include "game/generators.h"
#include "game/liveReload.h"
#include "game/postTargets.h"
#include "game/random.h"
#include "mesh_test_support.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/null/nullGraphics.h"
#include "platform/system.h"
#include "platform/watch.h"
#include "test_support.h"

namespace fs = std::filesystem;
using engine::gfx::LoadMesh;
using engine::math::Vector3f;
using content::DemoWriter;
using namespace velox_test;

namespace {

const char* const kVlxMeshes[] = {"underwater.demo_scene/Mesh",  "incurve.demo_scene/Flashes",
                                  "city.demo_scene/Mesh",         "city.demo_scene/Ground",
                                  "city.demo_scene/RegionCenter", "city.demo_scene/RegionSuburbs",
                                  "city.demo_scene/Clouds",       "city.demo_scene/Noise"};
const char* const kAllMeshes[] = {
    "underwater_Grid", "underwater_Mesh",       "underwater_HighPitch", "incurve_Flashes",
    "city_Mesh",       "city_Ground",           "city_RegionCenter",    "city_RegionSuburbs",
    "city_Clouds",     "city_Noise",            "city_Fog",             "city_Notes"};

// A straight three-unit line along x, handles at thirds.
content::CurveObject Line(const std::string& name, float y) {
  content::BezierSpline s;
  s.points = {{{0, y, 0}, {0, y, 0}, {1, y, 0}}, {{2, y, 0}, {3, y, 0}, {3, y, 0}}};
  s.segmentLengths = {3};
  return {name, {}, {}, {s}};
}

void WriteMatrices(const std::string& path, std::initializer_list<const char*> names) {
  std::vector<content::MatrixEntry> entries;
  for (const char* n : names) entries.push_back({n, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}});
  WriteText(path, content::MatrixBytes(entries));
}

// Every file the module reads, at its path, with a flat effect for all.
void WriteDemoData(int underwaterLength = 25) {
  WriteText("data/fx/flat.fx",
            "float4x4 WorldViewProjection : WorldViewProjection;\n"
            "float4 VS(float4 p : POSITION) : POSITION { return mul(p, WorldViewProjection); }\n"
            "float4 PS() : COLOR0 { return float4(1, 1, 1, 1); }\n"
            "technique Flat { pass P0 { VertexShader = compile vs_2_0 VS();"
            " PixelShader = compile ps_2_0 PS(); } }\n");
  const std::string material =
      "effect = {{ priority = 1, pass = {{ fx = \"flat\", tec = \"Flat\","
      " params = {{ \"Direction\", \"float3\", {0, 0, 0} }}, streams = { \"pos\" } }} }}\n";
  WriteText("data/wireframe.efx",
            "effect = {{ pass = {{ fx = \"flat\", tec = \"Flat\", params = {}, streams = { \"pos\" } }} }}\n");
  for (const char* scene : {"underwater", "incurve", "city"})
    for (const char* mesh : {"Grid", "Mesh", "HighPitch", "Flashes", "Ground", "RegionCenter",
                             "RegionSuburbs", "Clouds", "Noise", "Fog", "Notes"})
      WriteText(std::string("data/") + scene + ".demo_scene/" + mesh + ".vlx.efx", material);
  for (const char* mesh : kVlxMeshes)
    WriteText(std::string("data/") + mesh + ".vlx", engine::gfx::DefaultQuadFile());
  WriteText("data/underwater.curves", content::CurvesBytes({Line("Curve", 0), Line("MusicCurve", 10)}));
  WriteText("data/city.curves", content::CurvesBytes({Line("CityCurve", 0)}));
  WriteMatrices("data/underwater.matrix", {"Curve"});
  WriteMatrices("data/city.matrix", {"CityCurve", "Ground", "RegionCenter", "RegionSuburbs"});
  DemoWriter(1, underwaterLength)
      .Object("Mesh", "Body", "Mesh", "", {0, 0, 0}, {0, 0, 0}, 0)
      .Save("data/underwater.demo");
  DemoWriter(1, 50).Object("Mesh", "Shards", "Flashes", "", {0, 0, 0}, {0, 0, 0}, 0).Save("data/incurve.demo");
  DemoWriter(2, 75)
      .Object("Lamp", "Sun", "", "", {0, 10, 0}, {0, 0, 0}, 0)
      .Object("Mesh", "GodRays", "Mesh", "", {0, 0, 0}, {0, 0, 0}, 0)
      .Save("data/city.demo");
}

// The engine's window on the null device, the demo registered as the
// program registers it, and a clock that only moves when told.
class DemoRun {
 public:
  DemoRun() {
    platform::SetDefaultBackend(platform::Backend::Null);
    platform::null::ResetSettings();
    platform::EnableTestClock(true);
    engine::CreateVELOXWindow(engine::WindowSettings());
    engine::AddModule(&demo, 10100);
    engine::core::Timer::Get()->Update();
    SetTime(0);
  }
  ~DemoRun() {
    engine::core::Kernel::Get()->KillAll();
    engine::ShutDownEngine();
    platform::EnableTestClock(false);
  }
  void SetTime(double seconds) {
    engine::core::Timer* timer = engine::core::Timer::Get();
    timer->AdvanceTime(seconds - timer->Time());
    timer->Update();
  }
  demo::TestScene1 demo;
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(DemoTest, CachesAreUsedOnlyWhenSoundAndPairsTogether) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  {
    DemoRun run;
    ASSERT_TRUE(run.demo.Ready());
    EXPECT_EQ(Sorted(run.demo.Built()), Sorted({std::begin(kAllMeshes), std::end(kAllMeshes)}));
    EXPECT_TRUE(run.demo.Cached().empty());
  }
  // With every cache present no source file is needed and nothing is made.
  for (const char* mesh : kVlxMeshes) fs::remove(std::string("data/") + mesh + ".vlx");
  {
    DemoRun run;
    ASSERT_TRUE(run.demo.Ready());
    EXPECT_TRUE(run.demo.Built().empty());
    EXPECT_EQ(run.demo.Cached().size(), 12u);
  }
  WriteDemoData();
  fs::remove("data/serial/underwater_HighPitch.serial");
  // A truncated cache is made again, with its partner.
  fs::resize_file("data/serial/city_Noise.serial", 10);
  {
    DemoRun run;
    ASSERT_TRUE(run.demo.Ready());
    EXPECT_EQ(Sorted(run.demo.Built()),
              Sorted({"city_Clouds", "city_Noise", "underwater_HighPitch", "underwater_Mesh"}));
  }
  for (const auto& entry : fs::directory_iterator("data/serial"))
    EXPECT_TRUE(entry.path().extension() == ".serial" || entry.path().filename() == "version")
        << "left behind: " << entry.path();
}

// Caches of another version of the generators (or from before versions)
// are never read; a cache that cannot be written is warned about by name
// and not counted as built, and the demo still starts.
TEST(DemoTest, StaleOrUnwritableCachesAreNotTrusted) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  const std::vector<std::string> all(std::begin(kAllMeshes), std::end(kAllMeshes));
  for (const char* version : {"", "mesh caches 1\n"}) {
    { DemoRun first; }
    if (*version == 0) fs::remove("data/serial/version");
    else WriteText("data/serial/version", version);
    DemoRun run;
    ASSERT_TRUE(run.demo.Ready());
    EXPECT_EQ(Sorted(run.demo.Built()), Sorted(all)) << "version '" << version << "'";
    EXPECT_TRUE(run.demo.Cached().empty());
  }
  fs::remove("data/serial/incurve_Flashes.serial");
  fs::create_directory("data/serial/incurve_Flashes.serial");  // cannot be replaced by a file
  {
    DemoRun run;
    ASSERT_TRUE(run.demo.Ready());
    EXPECT_TRUE(run.demo.Built().empty());
    EXPECT_EQ(run.demo.Unwritten(), std::vector<std::string>{"incurve_Flashes"});
    EXPECT_EQ(run.demo.Cached().size(), 11u);
  }
  EXPECT_EQ(Count(CloseLogAndReadRows(dir.Path()), "Mesh cache data/serial/incurve_Flashes.serial could not be written"), 1);
  EXPECT_FALSE(fs::exists("data/serial/incurve_Flashes.serial.tmp"));
}

TEST(DemoTest, ScenesFollowTheClockAndTheLastOneQuits) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  DemoRun run;
  ASSERT_TRUE(run.demo.Ready());
  run.SetTime(0.99);
  run.demo.Update();
  EXPECT_EQ(run.demo.SceneIndex(), 0);
  run.SetTime(1.01);  // just past 25 frames
  run.demo.Update();
  EXPECT_EQ(run.demo.SceneIndex(), 1);
  // Past every scene: one switch per frame, then a quit instead of a
  // fourth scene, which ends the main loop.
  run.SetTime(5);
  engine::core::Kernel::Get()->Run();
  EXPECT_EQ(run.demo.SceneIndex(), 2);
  EXPECT_EQ(run.demo.Frames(), 4);  // two above, two in the loop
}

TEST(DemoTest, RepeatStartsAgainFromTheBeginningUntilItsPlaysAreDone) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  DemoRun run;
  ASSERT_TRUE(run.demo.Ready());
  run.demo.Repeat(2);
  // One cut a frame up to the last scene; past its end the same frame
  // shows the first scene at 0 instead of quitting.
  run.SetTime(5);
  for (int frame = 0; frame < 3; ++frame) run.demo.Update();
  EXPECT_EQ(run.demo.Plays(), 2);
  EXPECT_EQ(run.demo.SceneIndex(), 0);
  EXPECT_EQ(engine::GetTime(), 0.0);
  run.SetTime(0.5);
  run.demo.Update();
  EXPECT_EQ(run.demo.SceneIndex(), 0);
  // The second play is the last: it ends the main loop as a single one does.
  run.SetTime(5);
  engine::core::Kernel::Get()->Run();
  EXPECT_EQ(run.demo.Plays(), 2);
  EXPECT_EQ(run.demo.SceneIndex(), 2);
}

// Files changed under the running demo: what it draws after each reload,
// and a broken or removed file that keeps the last good version.
TEST(DemoTest, SavedChangesShowAtTheSameClockTimeAndBrokenOnesKeepTheLastGood) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  const auto scene = [](float to) {
    DemoWriter(1, 250)
        .Object("Mesh", "Body", "Mesh", "", {0, 0, 0}, {0, 0, 0}, 1)
        .Curve("LocX", {{1, 0}, {251, to}})
        .Save("data/underwater.demo");
  };
  scene(10);
  DemoRun run;
  ASSERT_TRUE(run.demo.Ready());
  std::string why;
  std::unique_ptr<platform::FileWatcher> watcher = platform::WatchFolder("data", &why);
  demo::LiveReload live("data", std::move(watcher), why);
  ASSERT_TRUE(live.Watching()) << why;
  live.On(".demo", [&](const std::string& path, std::string*) {
    run.demo.ReloadScene(path);
    return true;
  });
  const auto bodyX = [&] {
    run.demo.Scene(0)->GetBaseNode()->Update(nullptr);
    return run.demo.Scene(0)->GetNode("Body")->Local().m[3][0];
  };
  run.SetTime(5);
  run.SetTime(5);  // frame 125, and a frame that takes no time
  EXPECT_NEAR(bodyX(), 4.96f, 1e-3);

  // The scene: the same clock time, the new curve.
  scene(20);
  live.Update();
  EXPECT_EQ(engine::GetTime(), 5.0);
  EXPECT_NEAR(bodyX(), 9.92f, 1e-3);
  // Garbage, a half-written file, a removed one: the last good version stays.
  engine::gfx::DemoLoader* good = run.demo.Scene(0);
  for (const std::string& bytes : {std::string("garbage"), std::string()}) {
    WriteText("data/underwater.demo", bytes);
    live.Update();
    EXPECT_EQ(run.demo.Scene(0), good);
    ASSERT_EQ(live.Failures().size(), 1u);
    EXPECT_EQ(live.Failures()[0].rfind("data/underwater.demo: ", 0), 0u) << live.Failures()[0];
  }
  fs::remove("data/underwater.demo");
  live.Update();
  EXPECT_EQ(live.Failures(), std::vector<std::string>{"data/underwater.demo: file missing"});
  scene(10);
  live.Update();
  EXPECT_TRUE(live.Failures().empty());
  EXPECT_NEAR(bodyX(), 4.96f, 1e-3);

  // A material script chooses its mesh's material again; a broken one keeps it.
  const auto mesh = engine::core::ResourceManager::Get()->Registered<engine::gfx::Mesh>(
      L"data/underwater.demo_scene/Mesh.vlx");
  ASSERT_TRUE(mesh);
  const auto fxPath = [&] { return mesh->GetEffect()->GetShader(0)->EffectPath(); };
  EXPECT_EQ(fxPath(), "data/fx/flat.fx");
  WriteText("data/fx/other.fx", ReadFile("data/fx/flat.fx"));
  WriteText("data/underwater.demo_scene/Mesh.vlx.efx",
            "effect = {{ pass = {{ fx = \"other\", tec = \"Flat\", params = {}, streams = { \"pos\" } }} }}\n");
  live.Update();
  EXPECT_EQ(fxPath(), "data/fx/other.fx");
  WriteText("data/underwater.demo_scene/Mesh.vlx.efx", "effect = {{ pass = ");
  live.Update();
  EXPECT_EQ(fxPath(), "data/fx/other.fx");
  ASSERT_EQ(live.Failures().size(), 1u);
  EXPECT_NE(live.Failures()[0].find("Mesh.vlx.efx"), std::string::npos);

  // An effect reloads on its own, as F9 would.
  const auto effect = mesh->GetEffect()->GetShader(0)->GetEffect();
  const std::uint64_t loaded = effect->LastWrite();
  WriteText("data/fx/other.fx", ReadFile("data/fx/flat.fx") + "// saved again\n");
  live.Update();
  EXPECT_NE(effect->LastWrite(), loaded);
  EXPECT_GT(live.Reloads(), 3);
  // So does one whose header is saved.
  WriteText("data/fx/extra.fxh", "// nothing yet\n");
  WriteText("data/fx/other.fx", "#include \"extra.fxh\"\n" + ReadFile("data/fx/flat.fx"));
  live.Update();
  const std::uint64_t withHeader = effect->LastWrite();
  WriteText("data/fx/extra.fxh", "// saved\n");
  fs::last_write_time("data/fx/extra.fxh", fs::last_write_time("data/fx/extra.fxh") - std::chrono::seconds(10));
  live.Update();
  EXPECT_NE(effect->LastWrite(), withHeader);

  // A texture in use is replaced in place; one that does not load is not.
  const std::uint32_t pixels[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu};
  std::string error;
  ASSERT_TRUE(platform::image::SavePng(L"data/t.png", 2, 2, pixels, 8, error)) << error;
  using engine::core::resources::ManagedTexture;
  const auto texture = engine::core::ResourceManager::Get()->Get<ManagedTexture>(L"data/t.png");
  live.Update();
  const platform::BaseTexture* first = texture->Retrieve();
  ASSERT_TRUE(platform::image::SavePng(L"data/t.png", 1, 1, pixels, 4, error)) << error;
  live.Update();
  EXPECT_NE(texture->Retrieve(), first);
  const platform::BaseTexture* second = texture->Retrieve();
  WriteText("data/t.png", "not a picture");
  live.Update();
  EXPECT_EQ(texture->Retrieve(), second);
  const std::vector<std::string> failures = live.Failures();
  EXPECT_EQ(std::count_if(failures.begin(), failures.end(),
                          [](const std::string& f) { return f.rfind("data/t.png: ", 0) == 0; }),
            1);

  // A watcher that cannot start leaves F9, and says so once.
  std::unique_ptr<platform::FileWatcher> none = platform::WatchFolder("missing", &why);
  demo::LiveReload off("data", std::move(none), why);
  EXPECT_FALSE(off.Watching());
  off.Start();
  off.Update();
  EXPECT_EQ(Count(CloseLogAndReadRows(dir.Path()), "Live reload is off (cannot watch missing"), 1);
}

TEST(DemoTest, SavedSourcesRemakeTheirMeshesAndCachesOrNothingAtAll) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  DemoRun run;
  ASSERT_TRUE(run.demo.Ready());
  demo::LiveReload live("data", nullptr, "off");
  live.On(".curves", [&](const std::string& path, std::string*) {
    run.demo.ReloadSource(path);
    return true;
  });
  live.On(".matrix", [&](const std::string& path, std::string*) {
    run.demo.ReloadSource(path);
    return true;
  });
  live.On(".vlx", [&](const std::string& path, std::string*) {
    run.demo.ReloadSource(path);
    return true;
  });
  // What each mesh draws, and its cache's bytes.
  const auto state = [] {
    std::map<std::string, std::pair<const void*, std::string>> meshes;
    for (const char* name : kAllMeshes) {
      const std::string scene = std::string(name).substr(0, std::string(name).find('_'));
      const std::string mesh = std::string(name).substr(scene.size() + 1);
      const auto gpu = engine::core::ResourceManager::Get()->Registered<engine::gfx::Mesh>(
          engine::ToWide("data/" + scene + ".demo_scene/" + mesh + ".vlx"));
      meshes[name] = {gpu ? gpu->GetLoadMesh() : nullptr, ReadFile(std::string("data/serial/") + name + ".serial")};
    }
    return meshes;
  };
  const auto changed = [](const auto& before, const auto& after) {
    std::vector<std::string> names;
    for (const auto& [name, was] : before)
      if (after.at(name).first != was.first) names.push_back(name);
    return names;
  };
  auto before = state();
  ASSERT_NE(before["city_Ground"].first, nullptr);

  // A curve moves the meshes that follow it, caches included; no others.
  WriteText("data/city.curves", content::CurvesBytes({Line("CityCurve", 5)}));
  live.Changed("data/city.curves");
  auto after = state();
  EXPECT_EQ(changed(before, after),
            (std::vector<std::string>{"city_Ground", "city_Mesh", "city_RegionCenter", "city_RegionSuburbs"}));
  EXPECT_NE(after["city_Ground"].second, before["city_Ground"].second);
  EXPECT_EQ(after["city_Fog"].second, before["city_Fog"].second);
  // A source remakes what is made from it: the underwater mesh and its pair.
  before = after;
  WriteText("data/underwater.demo_scene/Mesh.vlx", engine::gfx::DefaultQuadFile());
  live.Changed("data/underwater.demo_scene/Mesh.vlx");
  after = state();
  EXPECT_EQ(changed(before, after), (std::vector<std::string>{"underwater_HighPitch", "underwater_Mesh"}));

  // A matrix file without one of the matrices: the first followers could be
  // made, but nothing is replaced; garbage neither.
  before = after;
  WriteMatrices("data/city.matrix", {"CityCurve", "Ground"});
  live.Changed("data/city.matrix");
  WriteText("data/underwater.curves", "garbage");
  live.Changed("data/underwater.curves");
  after = state();
  EXPECT_TRUE(changed(before, after).empty());
  EXPECT_EQ(after, before);
  ASSERT_EQ(live.Failures().size(), 2u);
  EXPECT_NE(live.Failures()[0].find("No matrix RegionCenter in data/city.matrix"), std::string::npos)
      << live.Failures()[0];
  // The good version of each file comes back.
  WriteMatrices("data/city.matrix", {"CityCurve", "Ground", "RegionCenter", "RegionSuburbs"});
  live.Changed("data/city.matrix");
  EXPECT_EQ(changed(before, state()).size(), 4u);
  EXPECT_EQ(live.Failures().size(), 1u);
}

TEST(DemoTest, MissingFilesStopTheStartNamingThem) {
  ScopedWorkDir dir;
  CloseLog();
  const struct {
    const char* remove;
    const wchar_t* text;
  } cases[] = {{"data/underwater.curves", L"No such file found: data/underwater.curves"},
               {"data/city.matrix", L"No such file found: data/city.matrix"},
               {"data/incurve.demo_scene/Flashes.vlx", L"incurve.demo_scene/Flashes.vlx"},
               {"data/city.demo", L"city.demo"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remove);
    WriteDemoData();
    fs::remove_all("data/serial");
    fs::remove(c.remove);
    MessageBoxRecorder boxes;
    DemoRun run;
    EXPECT_FALSE(run.demo.Ready());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find(c.text), std::wstring::npos) << engine::ToNarrow(boxes.boxes[0].text);
  }
}

TEST(DemoTest, CityWithoutGodRaysWarnsOnceAndSkipsTheFeed) {
  ScopedWorkDir dir;
  CloseLog();
  WriteDemoData();
  DemoWriter(1, 75).Object("Lamp", "Sun", "", "", {0, 10, 0}, {0, 0, 0}, 0).Save("data/city.demo");
  {
    DemoRun run;
    ASSERT_TRUE(run.demo.Ready());
    run.demo.Update();
    run.demo.Update();
  }
  EXPECT_EQ(Count(CloseLogAndReadRows(dir.Path()), "the god rays get no light direction"), 1);
}

TEST(DemoTest, ProgramNeedsPixelShaderTwoAndReadsShaderOptionsInTableOrder) {
  ScopedWorkDir dir;
  CloseLog();
  EXPECT_EQ(demo::ShaderTargetCalls("ps30 ps11").back(), 0xFFFF0300ul);
  EXPECT_EQ(demo::ShaderTargetCalls("x ps11 ps30").back(), 0xFFFF0300ul);
  EXPECT_EQ(demo::ShaderTargetCalls("ps0"), std::vector<unsigned long>{0xFFFF0000ul});
  EXPECT_TRUE(demo::ShaderTargetCalls("nodialog").empty());

  platform::SetDefaultBackend(platform::Backend::Null);
  platform::null::ResetSettings();
  platform::null::GetSettings().caps.pixelShaderVersion = 0xFFFF0104;
  MessageBoxRecorder boxes;
  EXPECT_EQ(demo::RunProgram("xnodialogx"), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, L"Pixel shader version 2.0 support is a must");
  EXPECT_EQ(boxes.boxes[0].caption, L"Checking graphics card capabilities");
  EXPECT_EQ(engine::core::Kernel::Get()->FindModule(10100), nullptr);  // never registered
  engine::ShutDownEngine();
}

TEST(DemoTest, AspectAndTargetSizes) {
  EXPECT_FLOAT_EQ(demo::TestScene1::Aspect(0, 1024, 768), 1024.0f / 768.0f);
  EXPECT_FLOAT_EQ(demo::TestScene1::Aspect(1.6f, 1024, 768), 1.6f);
  const auto size = [](const std::vector<demo::TargetSpec>& t, const wchar_t* name) {
    for (const auto& s : t)
      if (s.name == name) return std::make_pair(s.width, s.height);
    return std::make_pair(-1, -1);
  };
  const auto plain = demo::PostTargets(1024, 768, 0);
  ASSERT_EQ(plain.size(), 10u);
  EXPECT_EQ(plain[0].name, L"gaussGlow");
  EXPECT_EQ(plain[9].name, L"godRays");
  EXPECT_EQ(size(plain, L"gaussGlow16"), std::make_pair(64, 48));
  EXPECT_EQ(size(plain, L"godRays"), std::make_pair(256, 192));
  const auto pow2 = demo::PostTargets(1024, 768, 0x2);
  EXPECT_EQ(size(pow2, L"gaussGlow16"), std::make_pair(64, 32));
  EXPECT_EQ(size(pow2, L"godRays"), std::make_pair(256, 128));
  EXPECT_EQ(size(demo::PostTargets(1366, 768, 0), L"gaussGlow8").first, 170);
  for (const auto& t : demo::PostTargets(1366, 1, 0x100)) EXPECT_GE(std::min(t.width, t.height), 1);
}

// First appearance 2, 1, 0, 3 swaps vertices 0 and 2: each new vertex must
// hold, in every array, the old vertex its index named; vertex 4 goes.
TEST(DemoTest, DroppingUnreferencedVerticesMovesEveryArrayWithItsVertex) {
  ScopedWorkDir dir;
  CloseLog();
  const std::vector<Vector3f> positions = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
  const std::vector<UV2> uvs = {{0, 10}, {1, 11}, {2, 12}, {3, 13}, {4, 14}};
  const std::vector<Vector3f> normals = {{0, 0, -1}, {0, -1, 0}, {-1, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  LoadMesh* mesh = MakeMesh(positions, {2, 1, 0, 2, 0, 3}, uvs, normals);
  // Two sets that share one array: it moves once.
  void* shared = EngineCopy(std::vector<Vector3f>{{0, 5, 0}, {1, 5, 1}, {2, 5, 2}, {3, 5, 3}, {4, 5, 4}});
  mesh->Add(PVData{5, 2, 1, shared});
  mesh->Add(PVData{5, 2, 2, shared});
  demo::DropUnreferencedVertices(mesh);
  ASSERT_EQ(mesh->NumVertices(), 4);
  EXPECT_EQ(IndicesOf(*mesh), (std::vector<int>{0, 1, 2, 0, 2, 3}));
  const int old[4] = {2, 1, 0, 3};
  ASSERT_EQ(mesh->NumData(), 5u);
  for (unsigned a = 0; a < mesh->NumData(); ++a) {
    const PVData* d = mesh->GetData(a);
    const auto* f = static_cast<const float*>(d->data);
    const int width = engine::gfx::ElementSize(d->type) / 4;
    for (int i = 0; i < 4; ++i) {
      const float* expected = d->usage == 0   ? &positions[old[i]].x
                              : d->usage == 3 ? &normals[old[i]].x
                              : d->type == 1  ? &uvs[old[i]].u
                                              : nullptr;
      const float set[3] = {static_cast<float>(old[i]), 5, static_cast<float>(old[i])};
      for (int c = 0; c < width; ++c)
        EXPECT_EQ(f[width * i + c], (expected ? expected : set)[c]) << "array " << a << " vertex " << i;
    }
  }
  EXPECT_EQ(mesh->GetData(3u)->data, mesh->GetData(4u)->data);
  mesh->DestroyItself();
}

TEST(DemoTest, RandomTableAndGeneratorsMatchHandWorkedValues) {
  ScopedWorkDir dir;
  CloseLog();
  demo::FillRandomTable();
  EXPECT_EQ(demo::RandomInt(0), 2);
  EXPECT_EQ(demo::RandomInt(1), 4811);
  EXPECT_EQ(demo::RandomInt(2), 3353);
  EXPECT_EQ(demo::RandomInt((1 << 20) + 2), 3353);

  LoadMesh* fog = demo::MakeQuadSet(demo::QuadSet::Fog);
  ASSERT_EQ(fog->NumVertices(), 2800);
  ASSERT_EQ(fog->NumIndices(), 4200);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(fog->Index(6 + k), std::vector<int>({4, 5, 6, 6, 7, 4})[k]);
  const auto* centres = static_cast<const float*>(fog->GetData(0u)->data);
  const float alpha = 6.2831853f * 2 / 65535, w = 0.7f + 0.3f * 2 / 65535;
  EXPECT_NEAR(centres[0], 125 * w * std::sin(alpha), 1e-4);
  EXPECT_NEAR(centres[1], 4.0f * 2 / 65535, 1e-6);
  EXPECT_NEAR(centres[2], 125 * w * std::cos(alpha), 1e-3);
  fog->DestroyItself();

  // A shard whose vertex 0 no index uses: it is dropped before copying.
  LoadMesh* shard = MakeMesh({{9, 9, 9}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {3, 1, 2});
  LoadMesh* flashes = demo::MakeFlashes(shard);
  EXPECT_EQ(flashes->NumVertices(), 4000 * 3);
  EXPECT_EQ(flashes->Index(3), 3);  // copy 1 starts at vertex 3
  const auto* p = static_cast<const float*>(flashes->GetData(0u)->data);
  const float theta = 6.2831853f * demo::RandomUnit(12307 - 2019);
  EXPECT_NEAR(p[0], 0 + 10 * std::sin(theta), 1e-4);
  EXPECT_NEAR(p[1], 0 + 800 * demo::RandomUnit(12307 - 1919) - 1758, 1e-3);
  EXPECT_NEAR(p[2], 1 + 10 * std::cos(theta), 1e-4);
  shard->DestroyItself();
  flashes->DestroyItself();

  // Curve coordinates on a 3-unit line, then the 14 timed copies.
  LoadMesh* body = MakeMesh({{1.5f, 2, 0}, {3, 0, 0}, {0, 0, 0}}, {0, 1, 2});
  const std::string bytes = content::CurvesBytes({Line("Curve", 0)});
  const demo::CurveSet curves =
      demo::ReadCurves(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  engine::math::Matrix4x4 identity = {};
  for (int i = 0; i < 4; ++i) identity.m[i][i] = 1;
  demo::AddCurveCoordinates(body, curves.at("Curve").front(), identity);
  LoadMesh* high = demo::MakeHighPitch(body);
  ASSERT_EQ(high->NumVertices(), 14 * 3);
  const auto* t = static_cast<const float*>(high->GetData(1u)->data);
  EXPECT_NEAR(t[0], 0.5f, 0.01f);
  EXPECT_NEAR(t[2 * (13 * 3 + 1) + 1], 12.88f + 1.0f, 0.01f);
  EXPECT_EQ(high->Index(13 * 3), 13 * 3);
  body->DestroyItself();
  high->DestroyItself();
}

}  // namespace
