// webbake: the data of a player that runs neither Lua nor the shader
// compiler (the demo in a web browser), made on the host from the program's
// own data tree.
//
//   webbake ROOT OUT
//
// ROOT holds data/ (a build tree). OUT receives a copy of data/ in which
// every material script (.efx) is its `effect` table baked, and
// data/fx/baked.stages holds the stages of every pass of every effect in
// data/fx, compiled for the player's target. The program's logs and mesh
// caches are left out. OUT is written whole or not at all: into OUT.part,
// renamed when complete. Exit code 0 on success, 1 on a failure (said on
// stderr), 2 for bad arguments.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "engine/logging.h"
#include "engine/luaWrapper.h"
#include "engine/strings.h"
#include "platform/effect.h"
#include "platform/graphics.h"
#include "platform/utf8.h"

namespace fs = std::filesystem;

namespace {

bool Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

// What the program writes into its data tree as it runs, not what it reads.
bool Skipped(const fs::path& relative) {
  const std::string first = relative.begin() != relative.end() ? relative.begin()->string() : "";
  const std::string name = relative.filename().string();
  return first == "serial" || first == "screenshots" || name == "log.html";
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "webbake: %s\n", what.c_str());
  return 1;
}

int BakeStages(const fs::path& part) {
  using namespace platform;
  Direct3D* d3d = Direct3DCreate(Backend::Null);
  PresentParameters pp;
  pp.backBufferWidth = pp.backBufferHeight = 64;
  Device* device = nullptr;
  if (d3d == nullptr || Failed(d3d->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &pp, &device))) {
    if (d3d != nullptr) d3d->Release();
    return Fail("cannot create a device to compile effects with");
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& e : fs::directory_iterator("data/fx")) {
    if (e.is_regular_file() && e.path().extension() == ".fx") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  EffectPool* pool = nullptr;
  CreateEffectPool(&pool);
  BeginBakingStages();
  std::string failure;
  for (const fs::path& file : files) {
    // The path as the program names it, so that includes resolve alike.
    Effect* effect = nullptr;
    Buffer* errors = nullptr;
    const Result r = CreateEffectFromFile(device, utf8::Decode(file.generic_string()), nullptr, nullptr,
                                          kShaderOptimizationLevel3, pool, &effect, &errors);
    if (Failed(r) && failure.empty()) {
      failure = file.generic_string() + " does not compile" +
                (errors != nullptr ? ":\n" + std::string(static_cast<const char*>(errors->GetBufferPointer()),
                                                         errors->GetBufferSize())
                                   : std::string());
    }
    if (errors != nullptr) errors->Release();
    if (effect != nullptr) effect->Release();
  }
  const std::string stages = EndBakingStages();
  pool->Release();
  device->Release();
  d3d->Release();
  if (!failure.empty()) return Fail(failure);
  if (!Write(part / "data/fx/baked.stages", stages)) return Fail("cannot write " + (part / "data/fx/baked.stages").string());
  std::printf("webbake: %zu effects, %zu bytes of baked stages\n", files.size(), stages.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: webbake ROOT OUT\n");
    return 2;
  }
  std::error_code error;
  const fs::path out = fs::absolute(argv[2], error);
  const fs::path part = out.string() + ".part";
  fs::current_path(argv[1], error);
  if (error || !fs::is_directory("data")) return Fail(std::string(argv[1]) + " holds no data/ folder");
  fs::remove_all(part, error);
  int materials = 0;
  try {
    for (auto it = fs::recursive_directory_iterator("data"); it != fs::recursive_directory_iterator(); ++it) {
      const fs::path relative = fs::relative(it->path(), "data");
      if (Skipped(relative)) {
        if (it->is_directory()) it.disable_recursion_pending();
        continue;
      }
      const fs::path target = part / "data" / relative;
      if (it->is_directory()) {
        fs::create_directories(target);
      } else if (it->path().extension() == ".efx") {
        const engine::gfx::ScriptValue effect = engine::gfx::MaterialScript::ReadEffectTable(it->path().generic_string());
        if (!Write(target, effect.Write())) return Fail("cannot write " + target.string());
        ++materials;
      } else if (it->is_regular_file()) {
        fs::create_directories(target.parent_path());
        fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing);
      }
    }
  } catch (const engine::core::Exception& e) {
    return Fail(engine::ToNarrow(e.GetText()));
  } catch (const fs::filesystem_error& e) {
    return Fail(e.what());
  }
  if (const int status = BakeStages(part); status != 0) return status;
  fs::remove_all(out, error);
  fs::rename(part, out, error);
  if (error) return Fail("cannot move " + part.string() + " to " + out.string() + ": " + error.message());
  std::printf("webbake: %d material scripts baked into %s\n", materials, out.string().c_str());
  return 0;
}
