#pragma once

// Pictures a test took, compared with reviewed references in
// tests/references/ (needs VELOX_SOURCE_DIR and VELOX_TEST_TMP). Rasterizer
// versions may differ at edges: fewer than 1% of the pixels may differ by
// more than 8 levels. The picture is always kept in the build's tests folder
// as <name>, with <stem>_diff.png beside it on a mismatch;
// VELOX_UPDATE_REFERENCES=1 rewrites the reference instead.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/demoFile.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/math.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "platform/d3dmath.h"
#include "platform/image.h"
#include "platform/system.h"

namespace velox_test {

// Loads data/scene.demo in its Start, then drives the frames: the clock
// moves by 0.04 s per frame, F11 goes down on the shot frames, and the loop
// ends after the last frame.
class Director : public engine::core::Module {
 public:
  Director(std::set<int> shots, int last) : mShots(std::move(shots)), mLast(last) {
    mName = L"Director";
    mPriority = 200;
  }
  bool Start() override {
    mLoader = engine::gfx::DemoLoader::CreateInstance(L"data/scene.demo");
    engine::SetRootNode(mLoader->GetBaseNode());
    return true;
  }
  void Update() override {
    ++mFrame;
    engine::core::Input::Get()->SetKey(0x7A, mShots.count(mFrame) > 0);
    if (mFrame >= mLast) engine::QuitApplication();
    platform::AdvanceTestClock(0.04);
  }
  void Stop() override {
    if (mLoader != nullptr) mLoader->DestroyInstance();
    mLoader = nullptr;
  }
  int mFrame = 0;

 private:
  std::set<int> mShots;
  int mLast;
  engine::gfx::DemoLoader* mLoader = nullptr;
};

// Opens the window with a perspective projection (fovY, near 0.1, zFar),
// runs the engine's main loop with director registered as the demo module
// until it quits, and lets the clock run freely again.
inline void RunFrames(const engine::WindowSettings& settings, float fovY, float zFar,
                      engine::core::Module* director) {
  engine::CreateVELOXWindow(settings);
  platform::Matrix projection;
  platform::MatrixPerspectiveFovLH(&projection, fovY,
                                   static_cast<float>(settings.width) / static_cast<float>(settings.height),
                                   0.1f, zFar);
  engine::math::Matrix4x4 p;
  static_assert(sizeof p == sizeof projection);
  std::memcpy(&p, &projection, sizeof p);
  engine::SetProjectionMatrix(p);
  engine::AddModule(director, 10100);
  engine::StartApplication();
  platform::EnableTestClock(false);
}

inline void ExpectMatchesReference(const std::filesystem::path& taken, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path references = fs::path(VELOX_SOURCE_DIR) / "tests" / "references";
  const fs::path reference = references / name;
  const fs::path kept = fs::path(VELOX_TEST_TMP).parent_path() / name;
  ASSERT_TRUE(fs::exists(taken)) << taken;
  fs::copy_file(taken, kept, fs::copy_options::overwrite_existing);
  if (std::getenv("VELOX_UPDATE_REFERENCES") != nullptr) {
    fs::create_directories(references);
    fs::copy_file(taken, reference, fs::copy_options::overwrite_existing);
    return;
  }
  platform::image::Image a, b;
  std::string error;
  ASSERT_TRUE(platform::image::LoadFile(taken.wstring(), a, error) &&
              platform::image::ConvertToA8R8G8B8(a, error)) << error;
  ASSERT_TRUE(platform::image::LoadFile(reference.wstring(), b, error) &&
              platform::image::ConvertToA8R8G8B8(b, error)) << reference;
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  const auto& x = a.faces.at(0).at(0).bytes;
  const auto& y = b.faces.at(0).at(0).bytes;
  std::vector<std::uint32_t> diff(x.size() / 4);
  int off = 0, largest = 0;
  for (std::size_t i = 0; i < diff.size(); ++i) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(x[4 * i + c]) - int(y[4 * i + c])));
    largest = std::max(largest, worst);
    off += worst > 8 ? 1 : 0;
    const auto v = static_cast<std::uint32_t>(std::min(255, worst * 4));
    diff[i] = 0xFF000000u | (v << 16) | (v << 8) | v;
  }
  const bool same = off < static_cast<int>(diff.size()) / 100;
  EXPECT_TRUE(same) << name << ": " << off << " pixels differ, largest difference " << largest;
  if (!same) {
    fs::path diffPath = kept;
    diffPath.replace_filename(kept.stem().string() + "_diff.png");
    platform::image::SavePng(diffPath.wstring(), a.width, a.height, diff.data(),
                             static_cast<std::uint32_t>(a.width * 4), error);
  }
}

}  // namespace velox_test
