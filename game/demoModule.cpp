#include "game/demoModule.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "engine/demoFile.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/generators.h"
#include "game/liveReload.h"
#include "game/postTargets.h"
#include "game/random.h"
#include "platform/d3dmath.h"
#include "platform/window.h"

namespace demo {

using engine::gfx::LoadMesh;

namespace {

constexpr int kEscape = 27;
const char* const kSceneNames[TestScene1::kSceneCount] = {"underwater", "incurve", "city"};

std::string SourcePath(const std::string& scene, const std::string& name) {
  return "data/" + scene + ".demo_scene/" + name + ".vlx";
}

std::string CachePath(const std::string& scene, const std::string& name) {
  return "data/serial/" + scene + "_" + name + ".serial";
}

// The caches hold no version of their own, so data/serial/version names the
// generators that made them. Change it whenever a generator or a processing
// step changes what it makes: caches of another version are then removed.
constexpr char kCacheVersionPath[] = "data/serial/version";
constexpr char kCacheVersion[] = "mesh caches 2\n";

// True when the caches in data/serial may be read: they carry this version,
// or there were none, or the stale ones are gone and the version is written.
bool CachesUpToDate() {
  namespace fs = std::filesystem;
  {
    std::ifstream in(kCacheVersionPath, std::ios::binary);
    if (std::string(std::istreambuf_iterator<char>(in), {}) == kCacheVersion) return true;
  }
  std::error_code error;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it("data/serial", error), end; !error && it != end; it.increment(error))
    stale.push_back(it->path());
  for (const fs::path& path : stale)
    if (!error) fs::remove_all(path, error);
  const std::string temporary = std::string(kCacheVersionPath) + ".tmp";
  if (!error) {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!(out << kCacheVersion) || !out.flush()) error = std::make_error_code(std::errc::io_error);
  }
  if (!error) fs::rename(temporary, kCacheVersionPath, error);
  if (!error) return true;
  std::error_code ignored;
  fs::remove(temporary, ignored);
  ENGINE_WARNING(std::string("Could not clear the mesh caches of another version or write ") +
                 kCacheVersionPath + " (" + error.message() + "); no cache is read this time");
  return false;
}

// The curve and matrix readers throw plain strings; the kernel reports only
// the engine's exception, so they are turned into one that names the file.
template <class Read>
auto ReadOrFail(Read read, const std::string& path) {
  try {
    return read(path);
  } catch (const char* text) {
    ENGINE_ERROR(std::string(text) + ": " + path);
  } catch (const std::bad_alloc&) {
    ENGINE_ERROR("Out of memory reading " + path);
  }
}

const Spline& FirstSpline(const CurveSet& curves, const std::string& name, const std::string& path) {
  const auto it = curves.find(name);
  if (it == curves.end() || it->second.empty())
    ENGINE_ERROR("No curve " + name + " in " + path);
  return it->second.front();
}

const engine::math::Matrix4x4& Matrix(const MatrixSet& matrices, const std::string& name,
                                      const std::string& path) {
  const auto it = matrices.find(name);
  if (it == matrices.end()) ENGINE_ERROR("No matrix " + name + " in " + path);
  return it->second;
}

LoadMesh* LoadSource(const std::string& scene, const std::string& name, float weldAngle) {
  LoadMesh* mesh = engine::GetVLXMesh(engine::ToWide(SourcePath(scene, name)));
  if (weldAngle > 0) mesh->OptimizeMesh(weldAngle);
  return mesh;
}

// Releases a mesh that was not handed on when an error leaves the scope.
struct MeshGuard {
  LoadMesh* mesh;
  explicit MeshGuard(LoadMesh* m) : mesh(m) {}
  ~MeshGuard() {
    if (mesh != nullptr) mesh->DestroyItself();
  }
  LoadMesh* Release() { return std::exchange(mesh, nullptr); }
  MeshGuard(const MeshGuard&) = delete;
  MeshGuard& operator=(const MeshGuard&) = delete;
};

}  // namespace

TestScene1::TestScene1() {
  mName = L"TestScene1";
  mPriority = 200;
}

float TestScene1::Aspect(float aspectRatio, int width, int height) {
  if (aspectRatio > 0) return aspectRatio;
  return height > 0 ? static_cast<float>(width) / static_cast<float>(height) : 1.0f;
}

LoadMesh* TestScene1::ReadCache(const std::string& scene, const std::string& name) {
  const std::string path = CachePath(scene, name);
  if (!mCachesUsable || !std::ifstream(path, std::ios::binary)) return nullptr;
  LoadMesh* mesh = engine::CreateEmptyMesh(0, 0);
  if (!mesh->Deserialize(path)) {
    // A damaged cache is made again, never trusted.
    ENGINE_WARNING("Cache " + path + " is damaged; rebuilding it");
    mesh->DestroyItself();
    return nullptr;
  }
  return mesh;
}

void TestScene1::WriteCache(LoadMesh* mesh, const std::string& scene, const std::string& name) {
  const std::string path = CachePath(scene, name);
  try {
    mesh->Serialize(path);
  } catch (const engine::core::Exception&) {
    // The mesh itself is sound and is shown; only the next start pays again.
    ENGINE_WARNING("Mesh cache " + path + " could not be written; the mesh is made again next time");
    mUnwritten.push_back(scene + "_" + name);
    return;
  }
  mBuilt.push_back(scene + "_" + name);
}

void TestScene1::Register(LoadMesh* mesh, const std::string& scene, const std::string& name) {
  const std::string source = SourcePath(scene, name);
  MeshGuard guard(mesh);
  boost::shared_ptr<engine::gfx::Effect> effect = engine::BuildEffect(source + ".efx");
  engine::AddMesh(engine::ToWide(source), guard.Release(), effect);
  if (mProgress) mProgress(++mStepsDone, kLoadSteps, scene + "_" + name);
}

bool TestScene1::Start() {
  mBuilt.clear();
  mCached.clear();
  mUnwritten.clear();
  mSceneIndex = 0;
  mCurrentScene = nullptr;
  mPlays = 1;

  mStepsDone = 0;
  if (mProgress) mProgress(0, kLoadSteps, "");

  FillRandomTable();
  CreatePostTargets();

  ReadCurveFiles(true, true);

  // Without a cache folder the meshes are made every time (each unwritten
  // cache is warned about), but the demo runs.
  std::error_code error;
  std::filesystem::create_directories("data/serial", error);
  if (error) ENGINE_WARNING("Cannot create data/serial: " + error.message());
  mCachesUsable = !error && CachesUpToDate();

  LoadMeshes();

  for (int i = 0; i < kSceneCount; ++i) {
    const std::string path = "data/" + std::string(kSceneNames[i]) + ".demo";
    try {
      mScenes[i] = engine::gfx::DemoLoader::CreateInstance(engine::ToWide(path));
    } catch (const engine::core::Exception& e) {
      // The loader's own text does not always say which scene failed.
      const std::string text = engine::ToNarrow(e.GetText());
      if (text.find(path) != std::string::npos) throw;
      ENGINE_ERROR(text + ": " + path);
    }
    if (mProgress) mProgress(++mStepsDone, kLoadSteps, kSceneNames[i]);
  }

  FindGodRays();
  // Every pass drawn once now: the first frame of each scene would
  // otherwise build its shaders (a second for the city on a software
  // rasterizer) and freeze the picture at the cut.
  for (int i = 0; i < kSceneCount; ++i) {
    engine::WarmUp(mScenes[i]->GetBaseNode());
    if (mProgress) mProgress(++mStepsDone, kLoadSteps, std::string("shaders ") + kSceneNames[i]);
  }
  Show(0);
  platform::ShowCursor(false);
  return true;
}

void TestScene1::ReadCurveFiles(bool underwater, bool city) {
  // Both files of a scene are read before any member changes: a reload
  // that fails keeps the curves it had.
  if (underwater) {
    const std::string path = "data/underwater.curves";
    const CurveSet curves = ReadOrFail([](const std::string& p) { return ReadCurves(p); }, path);
    Spline along = FirstSpline(curves, "Curve", path);
    Spline music = FirstSpline(curves, "MusicCurve", path);
    std::stable_sort(music.points.begin(), music.points.end(),
                     [](const SplinePoint& a, const SplinePoint& b) { return a.knot.x < b.knot.x; });
    MatrixSet matrices = ReadOrFail([](const std::string& p) { return ReadMatrices(p); }, "data/underwater.matrix");
    mUnderwaterCurve = std::move(along);
    mMusicCurve = std::move(music);
    mUnderwaterMatrices = std::move(matrices);
  }
  if (city) {
    const std::string path = "data/city.curves";
    Spline along = FirstSpline(ReadOrFail([](const std::string& p) { return ReadCurves(p); }, path),
                               "CityCurve", path);
    MatrixSet matrices = ReadOrFail([](const std::string& p) { return ReadMatrices(p); }, "data/city.matrix");
    mCityCurve = std::move(along);
    mCityMatrices = std::move(matrices);
  }
}

void TestScene1::ReloadSource(const std::string& path) {
  if (mCurrentScene == nullptr) return;
  std::vector<std::string> names;
  const bool underwaterCurves = path == "data/underwater.curves" || path == "data/underwater.matrix";
  const bool cityCurves = path == "data/city.curves" || path == "data/city.matrix";
  if (underwaterCurves) names = {"underwater_Mesh"};
  if (cityCurves) names = {"city_Mesh", "city_Ground", "city_RegionCenter", "city_RegionSuburbs"};
  for (const char* scene : kSceneNames) {
    const std::string folder = "data/" + std::string(scene) + ".demo_scene/";
    if (path.rfind(folder, 0) == 0 && path.size() > folder.size() + 4 && EndsWith(path, ".vlx"))
      names = {scene + ("_" + path.substr(folder.size(), path.size() - folder.size() - 4))};
  }
  if (names.empty()) return;

  // Everything is made before anything is replaced.
  const Spline music = mMusicCurve, underwater = mUnderwaterCurve, city = mCityCurve;
  const MatrixSet underwaterMatrices = mUnderwaterMatrices, cityMatrices = mCityMatrices;
  std::size_t handed = 0;
  bool replacing = false;
  // The content build removes every cache when a source changes; the
  // ones made here are written afresh.
  std::error_code error;
  std::filesystem::create_directories("data/serial", error);
  mCachesUsable = !error && CachesUpToDate();
  try {
    ReadCurveFiles(underwaterCurves, cityCurves);
    mRemaking = &names;
    LoadMeshes();
    mRemaking = nullptr;
    replacing = true;
    for (; handed < mRemade.size(); ++handed) {
      const Remade& r = mRemade[handed];
      const auto gpu = engine::core::ResourceManager::Get()->Registered<engine::gfx::Mesh>(
          engine::ToWide(SourcePath(r.scene, r.name)));
      if (!gpu) ENGINE_ERROR("No mesh " + SourcePath(r.scene, r.name) + " to replace");
      gpu->ReplaceData(r.mesh);  // owns it from here, even when it throws
    }
  } catch (...) {
    mRemaking = nullptr;
    for (std::size_t i = replacing ? handed + 1 : 0; i < mRemade.size(); ++i) mRemade[i].mesh->DestroyItself();
    mRemade.clear();
    mMusicCurve = music;
    mUnderwaterCurve = underwater;
    mCityCurve = city;
    mUnderwaterMatrices = underwaterMatrices;
    mCityMatrices = cityMatrices;
    throw;
  }
  mRemade.clear();
}

void TestScene1::FindGodRays() {
  boost::shared_ptr<engine::gfx::Node> rays = mScenes[2]->GetNode("GodRays");
  int floats = 0;
  mGodRaysDirection = rays ? engine::GetFirstParameterValue(rays, &floats) : nullptr;
  mGodRaysNode = rays.get();
  // The feed writes three floats: anything narrower would be overrun.
  if (mGodRaysDirection == nullptr || floats < 3) {
    mGodRaysDirection = nullptr;
    ENGINE_WARNING("The city scene has no GodRays node with a three-float first parameter; "
                   "the god rays get no light direction");
  }
}

void TestScene1::ReloadScene(const std::string& path) {
  if (mCurrentScene == nullptr) return;
  for (int i = 0; i < kSceneCount; ++i) {
    if (path != "data/" + std::string(kSceneNames[i]) + ".demo") continue;
    // Loaded beside the old version, which goes only once the new one stands.
    engine::gfx::DemoLoader* fresh = engine::gfx::DemoLoader::CreateInstance(engine::ToWide(path));
    engine::gfx::DemoLoader* old = std::exchange(mScenes[i], fresh);
    if (i == 2) FindGodRays();
    if (mSceneIndex == i) Show(i);
    old->DestroyInstance();
    return;
  }
}

void TestScene1::LoadMeshes() {
  // A pair is read from its caches only when both exist and both are sound;
  // otherwise both are made again.
  const auto readPair = [this](const std::string& scene, const std::string& a, const std::string& b,
                               LoadMesh** first, LoadMesh** second) {
    *first = *second = nullptr;
    if (!mCachesUsable || !std::ifstream(CachePath(scene, a)) || !std::ifstream(CachePath(scene, b)))
      return false;
    *first = ReadCache(scene, a);
    *second = *first != nullptr ? ReadCache(scene, b) : nullptr;
    if (*second == nullptr) {
      if (*first != nullptr) (*first)->DestroyItself();
      *first = nullptr;
      return false;
    }
    mCached.push_back(scene + "_" + a);
    mCached.push_back(scene + "_" + b);
    return true;
  };
  const auto remaking = [this](const std::string& scene, const std::string& name) {
    return std::find(mRemaking->begin(), mRemaking->end(), scene + "_" + name) != mRemaking->end();
  };
  // Made again, never read from a cache, and kept for ReloadSource to hand on.
  const auto remade = [this](MeshGuard* made, const std::string& scene, const std::string& name) {
    WriteCache(made->mesh, scene, name);
    mRemade.push_back({scene, name, made->mesh});
    made->Release();
  };
  const auto single = [&, this](const std::string& scene, const std::string& name, auto make) {
    if (mRemaking != nullptr) {
      if (!remaking(scene, name)) return;
      MeshGuard made(make());
      remade(&made, scene, name);
      return;
    }
    LoadMesh* mesh = ReadCache(scene, name);
    if (mesh != nullptr) {
      mCached.push_back(scene + "_" + name);
    } else {
      MeshGuard made(make());
      WriteCache(made.mesh, scene, name);
      mesh = made.Release();
    }
    Register(mesh, scene, name);
  };
  // Two meshes made together and cached as a pair.
  const auto pair = [&](const std::string& scene, const std::string& a, const std::string& b, auto make) {
    if (mRemaking != nullptr) {
      if (!remaking(scene, a) && !remaking(scene, b)) return;
      MeshGuard madeA(nullptr), madeB(nullptr);
      make(&madeA, &madeB);
      remade(&madeA, scene, a);
      remade(&madeB, scene, b);
      return;
    }
    LoadMesh *first = nullptr, *second = nullptr;
    if (!readPair(scene, a, b, &first, &second)) {
      MeshGuard madeA(nullptr), madeB(nullptr);
      make(&madeA, &madeB);
      WriteCache(madeA.mesh, scene, a);
      WriteCache(madeB.mesh, scene, b);
      first = madeA.Release();
      second = madeB.Release();
    }
    MeshGuard guard(second);
    Register(first, scene, a);
    Register(guard.Release(), scene, b);
  };

  // Underwater.
  single("underwater", "Grid", [] { return MakeQuadSet(QuadSet::Grid); });
  pair("underwater", "Mesh", "HighPitch", [this](MeshGuard* mesh, MeshGuard* highPitch) {
    mesh->mesh = LoadSource("underwater", "Mesh", 180);
    AddCurveCoordinates(mesh->mesh, mUnderwaterCurve,
                        Matrix(mUnderwaterMatrices, "Curve", "data/underwater.matrix"));
    highPitch->mesh = MakeHighPitch(mesh->mesh);
  });

  // Incurve.
  single("incurve", "Flashes", [] {
    MeshGuard source(LoadSource("incurve", "Flashes", 180));
    return MakeFlashes(source.mesh);
  });

  // City: the meshes that follow the river's curve.
  const struct {
    const char* name;
    float angle;
    bool weldAfter;
  } followers[] = {{"Mesh", 180, false},
                   {"Ground", 60, false},
                   {"RegionCenter", 30, false},
                   {"RegionSuburbs", 30, true}};
  for (const auto& f : followers) {
    single("city", f.name, [this, &f] {
      MeshGuard mesh(LoadSource("city", f.name, f.weldAfter ? 0.0f : f.angle));
      const std::string matrix = std::string(f.name) == "Mesh" ? "CityCurve" : f.name;
      AddCurveCoordinates(mesh.mesh, mCityCurve, Matrix(mCityMatrices, matrix, "data/city.matrix"));
      if (f.weldAfter) mesh.mesh->OptimizeMesh(f.angle);
      return mesh.Release();
    });
  }
  pair("city", "Clouds", "Noise", [](MeshGuard* clouds, MeshGuard* noise) {
    Box box;
    MeshGuard puff(LoadSource("city", "Clouds", 180));
    clouds->mesh = MakeClouds(puff.mesh, &box);
    noise->mesh = LoadSource("city", "Noise", 0);
    MapOntoBox(noise->mesh, box);
  });
  single("city", "Fog", [] { return MakeQuadSet(QuadSet::Fog); });
  single("city", "Notes", [] { return MakeQuadSet(QuadSet::Notes); });
}

void TestScene1::Show(int index) {
  mSceneIndex = index;
  mCurrentScene = mScenes[index];
  engine::SetRootNode(mCurrentScene->GetBaseNode());
}

void TestScene1::ShowAt(double time) {
  if (mCurrentScene == nullptr) return;
  int index = kSceneCount - 1;
  while (index > 0 && time <= mScenes[index - 1]->GetLength() * 0.04) --index;
  Show(index);
}

double TestScene1::SceneEnd(int index) const {
  if (mCurrentScene == nullptr || index < 0 || index >= kSceneCount) return 0.0;
  return mScenes[index]->GetLength() * 0.04;
}

const char* TestScene1::SceneName(int index) {
  return index >= 0 && index < kSceneCount ? kSceneNames[index] : "";
}

void TestScene1::FeedGodRays() {
  if (mGodRaysDirection == nullptr || mGodRaysNode == nullptr) return;
  const engine::math::Matrix4x4 world = mGodRaysNode->World();
  engine::math::Vector3f d =
      engine::math::Vector3f(world.m[3][0], world.m[3][1], world.m[3][2]) - engine::GetLightPos(0);
  d.Normalize();
  mGodRaysDirection[0] = d.x;
  mGodRaysDirection[1] = d.y;
  mGodRaysDirection[2] = d.z;
}

void TestScene1::Update() {
  // A start that failed has nothing to show.
  if (mCurrentScene == nullptr) {
    engine::QuitApplication();
    return;
  }
  ++mFrames;
  const double time = engine::GetTime();
  const engine::math::Vector3f music = mMusicCurve.Evaluate(static_cast<float>(time * 25.0));

  const engine::WindowSettings* settings = engine::GetWindowSettings();
  const float aspect = Aspect(settings->aspectRatio, settings->width, settings->height);
  engine::math::Matrix4x4 projection;
  platform::MatrixPerspectiveFovLH(reinterpret_cast<platform::Matrix*>(&projection),
                                   0.7853982f - music.y * 0.009f, aspect, 2.0f, 1000.0f);
  engine::SetProjectionMatrix(projection);

  FeedGodRays();

  if (engine::isReleased(kEscape)) engine::QuitApplication();

  if (time > mCurrentScene->GetLength() * 0.04) {
    if (mSceneIndex + 1 >= kSceneCount) {
      if (mRepeatTimes != 0 && mPlays >= mRepeatTimes) {
        engine::QuitApplication();
        return;
      }
      // The clock and the music go back together, as a seek does; the clock
      // is read again so that this very frame draws the start (a stepping
      // clock would otherwise report the old time once more).
      ++mPlays;
      engine::core::Timer* timer = engine::core::Timer::Get();
      timer->Seek(0.0);
      timer->Update();
      Show(0);
      return;
    }
    Show(mSceneIndex + 1);
  }
}

void TestScene1::Stop() {
  for (engine::gfx::DemoLoader*& scene : mScenes) {
    if (scene != nullptr) scene->DestroyInstance();
    scene = nullptr;
  }
  mCurrentScene = nullptr;
  mGodRaysNode = nullptr;
  mGodRaysDirection = nullptr;
}

}  // namespace demo
