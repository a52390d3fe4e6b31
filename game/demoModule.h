#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/kernel.h"
#include "game/curves.h"

namespace engine::gfx {
class DemoLoader;
class LoadMesh;
class Spatial;
}  // namespace engine::gfx

namespace demo {

// The demo: builds its render targets, meshes (cached in data/serial/) and
// the three scenes at start-up, then plays the scenes one after the other on
// the music clock with a field of view that pulses with the music.
class TestScene1 : public engine::core::Module {
 public:
  static constexpr int kSceneCount = 3;
  // What a start builds, step by step: each mesh, each scene, then each
  // scene's shaders.
  static constexpr int kLoadSteps = 12 + 2 * kSceneCount;
  using Progress = std::function<void(int done, int total, const std::string& item)>;

  TestScene1();

  bool Start() override;
  void Update() override;
  void Stop() override;

  // True once Start has built everything; a failed start leaves it false
  // and the module must not be run.
  bool Ready() const { return mCurrentScene != nullptr; }
  int SceneIndex() const { return mSceneIndex; }
  engine::gfx::DemoLoader* Scene(int index) const { return mScenes[index]; }
  // What the last start made from scratch and cached, what it read from
  // caches, and what it made but could not cache (a warning in the log
  // names each file), as "<scene>_<Mesh>".
  const std::vector<std::string>& Built() const { return mBuilt; }
  const std::vector<std::string>& Cached() const { return mCached; }
  const std::vector<std::string>& Unwritten() const { return mUnwritten; }
  // Frames run and the highest scene shown, for the closing summary.
  long long Frames() const { return mFrames; }

  // After the last scene the demo starts again at 0, clock and music, until
  // it has played `times` times in all (0: forever; 1, the default: once).
  void Repeat(int times) { mRepeatTimes = times; }
  // Plays begun, this one included.
  int Plays() const { return mPlays; }

  // Shows the scene that plays at time at once (the last one past the end).
  // Update passes one cut per frame, which suits a clock that runs; a clock
  // that jumps (a seek, a recording that starts late) comes here.
  void ShowAt(double time);
  // Replaces a scene by the new version of its file (a path that is no
  // scene's file is left alone); the one on screen goes on at the same clock
  // time with the file's nodes, animation and cameras. A file that does not
  // load throws and the old version stays.
  void ReloadScene(const std::string& path);
  // Makes the meshes made from `path` (a .vlx source, a curve or matrix
  // file) again and writes their caches; a curve file brings the music curve
  // with it. A path nothing is made from is left alone. When anything fails
  // it throws and every mesh and curve stays as it was.
  void ReloadSource(const std::string& path);
  // When a scene ends, in seconds; 0 before a successful start.
  double SceneEnd(int index) const;
  double EndTime() const { return SceneEnd(kSceneCount - 1); }
  // Scene names in play order.
  static const char* SceneName(int index);

  // Called as the start begins (0 done) and after each step.
  void OnProgress(Progress progress) { mProgress = std::move(progress); }

  // The aspect ratio of the projection for these settings.
  static float Aspect(float aspectRatio, int width, int height);

 private:
  void ReadCurveFiles(bool underwater, bool city);
  void LoadMeshes();
  engine::gfx::LoadMesh* ReadCache(const std::string& scene, const std::string& name);
  void WriteCache(engine::gfx::LoadMesh* mesh, const std::string& scene, const std::string& name);
  void Register(engine::gfx::LoadMesh* mesh, const std::string& scene, const std::string& name);
  void Show(int index);
  void FeedGodRays();
  void FindGodRays();

  engine::gfx::DemoLoader* mCurrentScene = nullptr;
  engine::gfx::DemoLoader* mScenes[kSceneCount] = {nullptr, nullptr, nullptr};
  float* mGodRaysDirection = nullptr;
  engine::gfx::Spatial* mGodRaysNode = nullptr;
  int mSceneIndex = 0;
  Spline mMusicCurve;
  Spline mUnderwaterCurve;
  Spline mCityCurve;
  MatrixSet mUnderwaterMatrices;
  MatrixSet mCityMatrices;
  std::vector<std::string> mBuilt;
  std::vector<std::string> mCached;
  std::vector<std::string> mUnwritten;
  bool mCachesUsable = false;
  // While meshes are made again: which ("<scene>_<Mesh>"), and what was made.
  const std::vector<std::string>* mRemaking = nullptr;
  struct Remade {
    std::string scene, name;
    engine::gfx::LoadMesh* mesh;
  };
  std::vector<Remade> mRemade;
  long long mFrames = 0;
  int mRepeatTimes = 1;
  int mPlays = 1;
  Progress mProgress;
  int mStepsDone = 0;
};

}  // namespace demo
