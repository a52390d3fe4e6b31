// The engine's start-up and main loop on the null device: the window's
// modules under their keys, the loop until a quit, and a teardown after
// which a new start finds nothing left over.
#include <gtest/gtest.h>

#include "engine/Window.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/renderer.h"
#include "engine/sceneInfo.h"
#include "engine/screen.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "platform/graphics.h"
#include "platform/null/nullGraphics.h"
#include "test_support.h"

namespace {

class QuitAfter : public engine::core::Module {
 public:
  explicit QuitAfter(int frames) : mLeft(frames) { mName = L"Quitter"; }
  bool Start() override { return true; }
  void Update() override {
    ++mFrames;
    if (--mLeft <= 0) engine::QuitApplication();
  }
  void Stop() override { mStopped = true; }
  int mLeft, mFrames = 0;
  bool mStopped = false;
};

TEST(StartApplicationTest, WindowModulesLoopAndTeardown) {
  velox_test::ScopedWorkDir dir;
  platform::SetDefaultBackend(platform::Backend::Null);
  platform::null::ResetSettings();
  velox_test::CloseLog();
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    engine::WindowSettings settings;
    settings.title = L"Start";
    engine::CreateVELOXWindow(settings);
    engine::core::Kernel* kernel = engine::core::Kernel::Get();
    EXPECT_NE(dynamic_cast<engine::core::CScreen*>(kernel->FindModule(1)), nullptr);
    EXPECT_NE(dynamic_cast<engine::gfx::Renderer*>(kernel->FindModule(10)), nullptr);
    EXPECT_NE(dynamic_cast<engine::core::InputUpdate*>(kernel->FindModule(2)), nullptr);
    EXPECT_EQ(kernel->FindModule(12), static_cast<engine::core::Module*>(engine::gfx::SceneInfo::Get()));
    EXPECT_EQ(engine::core::CWin32Window::Get()->ClearColor(), 0u);
    EXPECT_EQ(engine::GetWindowSettings()->title, L"Start");
    QuitAfter quitter(3);
    engine::AddModule(&quitter, 10100);
    // Without a music file the clock's start fails inside the kernel, which
    // reports it and runs on.
    engine::StartApplication();
    EXPECT_EQ(quitter.mFrames, 3);
    EXPECT_TRUE(quitter.mStopped);
    EXPECT_EQ(engine::core::Kernel::Get()->FindModule(10), nullptr);  // a fresh kernel
    delete engine::core::Kernel::Get();
  }
  const std::string rows = velox_test::CloseLogAndReadRows(dir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Release build"), 2);
  EXPECT_EQ(velox_test::Count(rows, "Failed to load music file. Sorry."), 2);
}

}  // namespace
