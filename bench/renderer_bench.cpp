// One renderer frame: traversal, the two sorts, batching and the state
// filter for many objects with two passes each across twenty materials.
// On the null device this is the engine's own cost; on gl (the software
// rasterizer) a small scene's whole frame.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/kernel.h"
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

namespace {

namespace fs = std::filesystem;
using namespace engine::gfx;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A scene of `objects` quads over `materials` two-pass materials, in a
// directory of its own; torn down with the engine's singletons.
class Scene {
 public:
  Scene(platform::Backend backend, int objects, int materials) : mOld(fs::current_path()) {
    mDir = fs::temp_directory_path() / ("velox_renderer_bench_" + std::to_string(objects));
    fs::remove_all(mDir);
    fs::create_directories(mDir / "data");
    fs::current_path(mDir);
    platform::SetDefaultBackend(backend);
    std::string fx = "float4x4 WVP : WorldViewProjection;\nfloat4 Colour;\n"
                     "float4 VS(float4 p : POSITION) : POSITION { return mul(p, WVP); }\n"
                     "float4 PS() : COLOR { return Colour; }\n";
    for (int t = 0; t < 4; ++t) {
      fx += "technique T" + std::to_string(t) +
            " { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }\n";
    }
    Write("data/fx/a.fx", fx);
    Write("data/fx/b.fx", fx);
    auto pass = [](const std::string& file, int technique, int priority, float red) {
      return "{ fx = '" + file + "', tec = 'T" + std::to_string(technique) + "', priority = " +
             std::to_string(priority) + ", params = { { 'Colour', 'float4', { " +
             std::to_string(red) + ", 0.5, 0.2, 1 } } }, streams = { 'pos' } }";
    };
    Write("data/wireframe.efx", "effect = { { pass = { " + pass("a", 0, 0, 1) + " } } }");
    engine::WindowSettings settings;
    settings.width = 320;
    settings.height = 240;
    engine::CreateVELOXWindow(settings);
    mRenderer = dynamic_cast<Renderer*>(engine::core::Kernel::Get()->FindModule(10));
    boost::shared_ptr<Node> root(new Node(nullptr));
    std::vector<boost::shared_ptr<Mesh>> meshes;
    for (int m = 0; m < materials; ++m) {
      const std::string path = "data/m" + std::to_string(m) + ".efx";
      Write(path, "effect = { { pass = { " + pass(m % 2 ? "a" : "b", m % 4, 0, 0.05f * m) + ", " +
                      pass("a", (m + 1) % 4, 1, 0.5f) + " } } }");
      boost::shared_ptr<Mesh> mesh(new Mesh(new LoadVLXMesh(L"data/quad.vlx"), engine::BuildEffect(path)));
      engine::core::ResourceManager::Get()->AddUnnamedUnmanaged(mesh);
      mesh->Create();
      meshes.push_back(mesh);
    }
    for (int i = 0; i < objects; ++i) {
      boost::shared_ptr<Node> node(new Node(root.get()));
      Transformation t;
      t.Translate(engine::math::Vector3f(0.01f * (i % 100) - 0.5f, 0.01f * (i / 100 % 100) - 0.5f, 0.5f));
      node->Local(t);
      node->AddChild(boost::shared_ptr<Spatial>(
          new Geometry(meshes[static_cast<std::size_t>(i % materials)], node.get())));
      root->AddChild(node);
    }
    engine::SetRootNode(root);
  }
  ~Scene() {
    engine::ShutDownEngine();
    fs::current_path(mOld);
    fs::remove_all(mDir);
  }
  Renderer* mRenderer = nullptr;

 private:
  fs::path mOld, mDir;
};

void BM_RendererFrame_Null(benchmark::State& state) {
  const int objects = static_cast<int>(state.range(0));
  Scene scene(platform::Backend::Null, objects, 20);
  int n = 0;
  for (auto _ : state) {
    scene.mRenderer->Update();
    if ((++n & 7) == 0) platform::null::ClearCallRecord();  // the null device records every call
  }
  platform::null::ClearCallRecord();
  state.counters["us_per_object"] = benchmark::Counter(
      static_cast<double>(objects) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

void BM_RendererFrame_Gl(benchmark::State& state) {
  Scene scene(platform::Backend::GL, static_cast<int>(state.range(0)), 20);
  for (auto _ : state) scene.mRenderer->Update();
}

// The engine's cost of a frame with the frame profiler off (arg 0: must
// match BM_RendererFrame_Null) and on (arg 1: stages on the CPU; the null
// device has no GPU clock unless asked for, so this is the bookkeeping).
void BM_RendererFrame_Profiled(benchmark::State& state) {
  Scene scene(platform::Backend::Null, 10000, 20);
  engine::core::FrameProfiler& profiler = engine::core::FrameProfiler::Get();
  profiler.Enable(state.range(0) != 0);
  int n = 0;
  for (auto _ : state) {
    profiler.BeginFrame();
    scene.mRenderer->Update();
    profiler.EndFrame();
    profiler.TakeFinished();
    if ((++n & 7) == 0) platform::null::ClearCallRecord();
  }
  profiler.Enable(false);
  platform::null::ClearCallRecord();
}

BENCHMARK(BM_RendererFrame_Null)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RendererFrame_Profiled)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RendererFrame_Gl)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
