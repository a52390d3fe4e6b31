// The engine's start-up and main loop on the null device: the window's
// modules under their keys, the loop until a quit, and a teardown after
// which a new start finds nothing left over. And the program's entry: the
// start-up words of its command line, outputs checked before anything
// starts, and the exit code of a start that fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/renderer.h"
#include "engine/sceneInfo.h"
#include "engine/screen.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/capture.h"
#include "game/entry.h"
#include "game/options.h"
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

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDefaultBackend(platform::Backend::Null);
    platform::null::ResetSettings();
    velox_test::CloseLog();
  }
  void TearDown() override { engine::ShutDownEngine(); }
};

TEST_F(ProgramTest, StartUpWordsAreNotReadInsideOptionValues) {
  velox_test::ScopedWorkDir dir;
  // Too old for the demo: the start ends right after the words are applied.
  platform::null::GetSettings().caps.pixelShaderVersion = 0xFFFF0104;
  velox_test::MessageBoxRecorder boxes;
  const struct {
    std::vector<std::string> arguments;
    bool dialog;
    std::uint32_t target;
  } cases[] = {
      {{"--sheet=nodialog.png", "--video=clips0.mp4"}, true, 0},
      {{"--video=my ps30 nodialog.mp4"}, true, 0},  // one argument, spaces and all
      {{"xnodialogx", "--sheet=s.png", "ps0"}, false, 0xFFFF0000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    engine::SetTargetShaderVersion(0);
    EXPECT_EQ(demo::RunProgram(c.arguments), 1);
    EXPECT_EQ(engine::GetWindowSettings()->title, c.dialog ? L"Quiet Port" : L"Empty");
    EXPECT_EQ(engine::gfx::EffectPool::TargetVersion(), c.target);
    engine::ShutDownEngine();
  }
  demo::Options options;
  std::string error;
  const std::vector<std::string> arguments = {"--video=my ps30 nodialog.mp4"};
  ASSERT_TRUE(demo::ParseOptions(arguments, &options, &error)) << error;
  EXPECT_EQ(options.video, "my ps30 nodialog.mp4");
}

TEST_F(ProgramTest, OutputsThatCannotBeWrittenEndTheProgramBeforeAnyWork) {
  if (!std::filesystem::is_directory("/proc/self")) GTEST_SKIP() << "needs /proc";
  velox_test::ScopedWorkDir dir;
  // Root may write anywhere by its permissions, and still not into /proc.
  for (const char* line : {"nodialog --bench --bench-json=/proc/nope.json",
                           "nodialog --video=/proc/v.mp4", "nodialog --sheet=/proc/s.png",
                           "nodialog --frames=/proc"}) {
    EXPECT_EQ(demo::RunProgram(line), 2) << line;
  }
  EXPECT_FALSE(std::filesystem::exists("data/log.html")) << "the engine started";
  // Outputs in the working folder pass, and the check leaves nothing behind.
  for (const char* line : {"--frames=out --sheet=s.png --video=v.mp4", "--bench-json=b.json"}) {
    demo::Options options;
    std::string error;
    ASSERT_TRUE(demo::ParseOptions(line, &options, &error)) << line;
    EXPECT_TRUE(demo::CheckOutputs(options, &error)) << line << ": " << error;
  }
  EXPECT_TRUE(std::filesystem::is_empty("out"));
  const auto left = std::distance(std::filesystem::directory_iterator("."), {});
  EXPECT_EQ(left, 2) << "only data/ and out/";
}

TEST_F(ProgramTest, RecordingsAndBenchmarksThatCannotStartEndWithOne) {
  velox_test::ScopedWorkDir dir;  // no content: the demo module cannot load
  velox_test::MessageBoxRecorder boxes;
  for (const bool oldCard : {false, true}) {
    platform::null::GetSettings().caps.pixelShaderVersion = oldCard ? 0xFFFF0104 : 0xFFFF0300;
    for (const char* line : {"nodialog --sheet=s.png", "nodialog --frames=f",
                             "nodialog --video=v.mp4", "nodialog --bench", "nodialog"}) {
      SCOPED_TRACE(std::string(line) + (oldCard ? ", old card" : ", no content"));
      const std::size_t shown = boxes.boxes.size();
      // The plain program has said it with its message box and ends with 0.
      EXPECT_EQ(demo::RunProgram(line), std::string(line) == "nodialog" ? 0 : 1);
      EXPECT_GT(boxes.boxes.size(), shown);
      engine::ShutDownEngine();
    }
  }
  EXPECT_FALSE(std::filesystem::exists("s.png"));
  EXPECT_FALSE(std::filesystem::exists("v.mp4"));
}

// Closing the window or Escape ends the main loop before the range does:
// what was recorded is not what was asked for.
TEST_F(ProgramTest, ARecordingCutShortByTheMainLoopCountsAsInterrupted) {
  velox_test::ScopedWorkDir dir;
  engine::WindowSettings settings;
  settings.width = 64;
  settings.height = 48;
  engine::CreateVELOXWindow(settings);
  demo::Capture::Plan plan;
  plan.to = 1.0;
  plan.sheet = "s.png";
  plan.progress = false;
  demo::Capture capture(plan, nullptr);
  engine::AddModule(&capture, 10300);
  QuitAfter quitter(3);
  engine::AddModule(&quitter, 10100);
  engine::StartApplication();
  EXPECT_EQ(capture.Frames(), 3);
  EXPECT_TRUE(capture.Interrupted());
  EXPECT_FALSE(std::filesystem::exists("s.png"));
}

}  // namespace
