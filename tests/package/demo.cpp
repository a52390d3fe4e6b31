// A demo program built against an installed copy of the engine, the way a
// demo maker builds one. It writes its own small data tree (silent music,
// the fallback material, a flat effect), shows the built-in quad, or a
// scene file when one is given, for a number of frames, and fails when the
// frames did not all run or the engine logged an error.
//
//   package_demo FRAMES [SCENE.demo]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/demoFile.h"
#include "engine/effectPool.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "../sanitizer/support.h"

namespace {

void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// MPEG-1 layer III frames (128 kbit/s, 44.1 kHz) whose side information is
// all zero: valid frames that decode to silence.
std::string SilentMp3(int frames) {
  std::string frame(417, '\0');
  frame[0] = '\xFF';
  frame[1] = '\xFB';
  frame[2] = '\x90';
  std::string out;
  for (int i = 0; i < frames; ++i) out += frame;
  return out;
}

const char* kFlatFx = R"(
float4x4 WorldViewProjection : WorldViewProjection;
float4 Colour = {0.9, 0.6, 0.2, 1.0};
float4 VS(float3 p : POSITION) : POSITION { return mul(float4(p, 1.0), WorldViewProjection); }
float4 PS() : COLOR0 { return Colour; }
technique Flat { pass P0 { CullMode = None; VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)";

const char* kFlatMaterial =
    "effect = { { pass = { { fx = 'flat', tec = 'Flat', params = {}, streams = { 'pos' } } } } }\n";

class Show : public engine::core::Module {
 public:
  Show(int frames, std::wstring scene) : mWanted(frames), mScene(std::move(scene)) {
    mName = L"Show";
    mPriority = 200;
  }
  bool Start() override {
    if (mScene.empty()) {
      engine::AddMesh(L"data/quad.vlx", engine::GetVLXMesh(L"data/quad.vlx"),
                      engine::BuildEffect("data/flat.efx"));
      engine::SetRootNode(engine::CreateMeshNode(
          engine::core::ResourceManager::Get()->Get<engine::gfx::Mesh>(L"data/quad.vlx")));
    } else {
      mLoader = engine::gfx::DemoLoader::CreateInstance(mScene);
      engine::SetRootNode(mLoader->GetBaseNode());
    }
    return true;
  }
  void Update() override {
    if (++mFrames >= mWanted) engine::QuitApplication();
  }
  void Stop() override {
    if (mLoader != nullptr) mLoader->DestroyInstance();
    mLoader = nullptr;
  }

  int mFrames = 0;

 private:
  int mWanted;
  std::wstring mScene;
  engine::gfx::DemoLoader* mLoader = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  const int wanted = argc > 1 ? std::atoi(argv[1]) : 5;
  const std::string scene = argc > 2 ? argv[2] : "";
  Write("data/xt_tunefordemo.mp3", SilentMp3(40));
  Write("data/fx/flat.fx", kFlatFx);
  Write("data/flat.efx", kFlatMaterial);
  Write("data/wireframe.efx", kFlatMaterial);

  Show show(wanted, engine::ToWide(scene));
  try {
    engine::WindowSettings settings;
    settings.width = 64;
    settings.height = 48;
    settings.title = L"Package demo";
    engine::CreateVELOXWindow(settings);
    engine::AddModule(&show, 10100);
    engine::StartApplication();
  } catch (const engine::core::Exception& e) {
    std::fprintf(stderr, "%s\n", engine::ToNarrow(e.GetText()).c_str());
    return 1;
  }
  std::ifstream in("data/log.html", std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (log.find("<td>ERROR</td>") != std::string::npos) {
    std::fprintf(stderr, "the engine logged an error, see data/log.html\n");
    return 1;
  }
  std::printf("%d frames\n", show.mFrames);
  if (show.mFrames < wanted) return 1;
  velox_test::MarkPassed();
  return 0;
}
