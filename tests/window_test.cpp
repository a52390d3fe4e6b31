// The window and device owner on the null graphics backend, and the screen
// module's pump.
#include <SDL.h>

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/Window.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/screen.h"
#include "platform/d3dmath.h"
#include "platform/null/nullGraphics.h"
#include "platform/window.h"
#include "test_support.h"

using engine::WindowSettings;
using engine::core::CScreen;
using engine::core::CWin32Window;
using engine::core::Exception;

namespace {

// The message of every row, in order.
std::vector<std::string> Messages(const std::string& rows) {
  std::vector<std::string> out;
  for (std::size_t pos = 0; (pos = rows.find("<tr", pos)) != std::string::npos;) {
    std::size_t cell = pos;
    for (int i = 0; i < 4; ++i) cell = rows.find("<td>", cell) + 4;
    const std::size_t end = rows.find("</td></tr>", cell);
    out.push_back(rows.substr(cell, end - cell));
    pos = end;
  }
  return out;
}

std::vector<std::string> Checks() {
  std::vector<std::string> out;
  for (const auto& line : platform::null::CallRecord()) {
    if (line.rfind("CheckDeviceMultiSampleType", 0) == 0) out.push_back(line.substr(27));
  }
  return out;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDefaultBackend(platform::Backend::Null);
    platform::null::ResetSettings();
    velox_test::CloseLog();
    mSettings.title = L"Quiet Port";
  }
  void TearDown() override { delete CWin32Window::Get(); }

  void Open() {
    CScreen screen;
    screen.Create(mSettings);
  }
  std::vector<std::string> Rows() {
    return Messages(velox_test::CloseLogAndReadRows(mDir.Path()));
  }
  std::string SuccessLine() {
    for (const auto& m : Rows())
      if (m.rfind("Successfully created", 0) == 0) return m;
    return "";
  }

  velox_test::ScopedWorkDir mDir;
  WindowSettings mSettings;
};

TEST_F(WindowTest, CreatesWindowAndDeviceWithTheLogOfEveryStep) {
  Open();
  CWin32Window* window = CWin32Window::Get();
  ASSERT_NE(window->Device(), nullptr);
  EXPECT_EQ(window->Window()->Width(), 1024);  // the client area, windowed
  EXPECT_EQ(window->Window()->Height(), 768);
  EXPECT_EQ(window->Window()->Title(), L"Quiet Port");
  EXPECT_TRUE(window->PresentParameters()->windowed);
  EXPECT_EQ(window->PresentParameters()->autoDepthStencilFormat, platform::kFormatD24X8);
  EXPECT_EQ(window->ClearColor(), 0xFFFFFFFFu);

  const std::vector<std::string> expected = {
      "Working from " + mDir.Path().string(),
      "Creating window \"Quiet Port\" 1024x768x60hz fullscreen: false AA: 0 Backbuffer: 22",
      "Driver null",
      "Description Null graphics device",
      "Device Name null0",
      "Hardware vertex processing chosen",
      "Shader version 3.0 available",
      "Successfully created 1024x768x60hz fullscreen: false AA: 0 Backbuffer: 22"};
  EXPECT_EQ(Rows(), expected);
}

TEST_F(WindowTest, MultisampleSearchWalksDownToASupportedLevel) {
  platform::null::GetSettings().multisampleLevels[22] = {0, 4};
  mSettings.multiSampleType = 8;
  Open();
  EXPECT_EQ(Checks(), (std::vector<std::string>{"22 8", "22 7", "22 6", "22 5", "22 4"}));
  EXPECT_EQ(CWin32Window::Get()->PresentParameters()->multiSampleType, 4);
  EXPECT_EQ(SuccessLine(), "Successfully created 1024x768x60hz fullscreen: false AA: 4 Backbuffer: 22");
}

TEST_F(WindowTest, AutomaticMultisampleTakesFourTwoOrNone) {
  platform::null::GetSettings().multisampleLevels[22] = {0, 2};
  mSettings.multiSampleType = 0x7FFFFFFF;
  Open();
  EXPECT_EQ(Checks(), (std::vector<std::string>{"22 4", "22 2", "22 2"}));
  EXPECT_EQ(CWin32Window::Get()->Settings().multiSampleType, 2);
}

TEST_F(WindowTest, FallsBackToSixteenBitsAndReportsIt) {
  platform::null::GetSettings().multisampleLevels[22] = {};
  platform::null::GetSettings().multisampleLevels[23] = {0};
  mSettings.multiSampleType = 2;
  Open();
  EXPECT_EQ(Checks(),
            (std::vector<std::string>{"22 2", "22 1", "22 0", "23 2", "23 1", "23 0"}));
  EXPECT_EQ(CWin32Window::Get()->PresentParameters()->backBufferFormat, platform::kFormatR5G6B5);
  EXPECT_EQ(SuccessLine(), "Successfully created 1024x768x60hz fullscreen: false AA: 0 Backbuffer: 23");
}

TEST_F(WindowTest, AutomaticRequestRetriesSixteenBitsFromAValidLevel) {
  platform::null::GetSettings().multisampleLevels[22] = {};
  platform::null::GetSettings().multisampleLevels[23] = {0, 2};
  mSettings.multiSampleType = 0x7FFFFFFF;
  Open();
  EXPECT_EQ(CWin32Window::Get()->Settings().multiSampleType, 2);
  EXPECT_LT(Checks().size(), 12u);  // a handful of tests, not two billion
}

TEST_F(WindowTest, NoFormatAtAllIsAnError) {
  platform::null::GetSettings().multisampleLevels[22] = {};
  platform::null::GetSettings().multisampleLevels[23] = {};
  try {
    Open();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"No supported window format found");
  }
}

TEST_F(WindowTest, DeviceCreationFailureIsAnError) {
  platform::null::GetSettings().failCreateDevice = 1;
  try {
    Open();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"Failed to create Direct3D Device.");
  }
}

TEST_F(WindowTest, WeakCardsGetSoftwareVertexProcessing) {
  platform::null::GetSettings().caps.vertexProcessingCaps = 0;
  platform::null::GetSettings().caps.pixelShaderVersion = 0xFFFF0000;
  Open();
  bool created = false;
  for (const auto& line : platform::null::CallRecord()) created |= line == "CreateDevice 0x00000020";
  EXPECT_TRUE(created);
  const auto rows = Rows();
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Software vertex processing chosen"), 1);
  EXPECT_EQ(std::count(rows.begin(), rows.end(),
                       "Vertex shaders 1.1 not found. Switching to software vertex processing."),
            1);
  for (const auto& m : rows) EXPECT_EQ(m.find("Shader version"), std::string::npos) << m;
}

TEST_F(WindowTest, DefaultViewAndProjection) {
  mSettings.aspectRatio = 1.6f;
  Open();
  platform::Matrix expected;
  platform::MatrixPerspectiveFovLH(&expected, 0.7853982f, 1.6f, 0.5f, 400.0f);
  const auto& projection = CWin32Window::Get()->Projection();
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(projection.m[i][j], expected.m[i][j]);
  platform::Matrix onDevice;
  CWin32Window::Get()->Device()->GetTransform(platform::kTransformProjection, &onDevice);
  EXPECT_FLOAT_EQ(onDevice.m[0][0], expected.m[0][0]);
  // The view is the identity, so view x projection is the projection.
  EXPECT_FLOAT_EQ(CWin32Window::Get()->ViewProjection().m[2][3], 1.0f);
}

TEST_F(WindowTest, ReleaseLogsEvenWhenThereIsNothingLeft) {
  Open();
  CWin32Window::Get()->Shutdown();
  EXPECT_EQ(CWin32Window::Get()->Device(), nullptr);
  CWin32Window::Get()->Shutdown();
  const auto rows = Rows();
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Releasing D3DDevice"), 2);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Releasing Direct3D"), 2);
}

// Counts frames and stops the loop if the screen never asks to quit.
class FrameCounter : public engine::core::Module {
 public:
  FrameCounter() { mPriority = 100; }
  bool Start() override { return true; }
  void Update() override {
    if (++frames > 50) throw std::runtime_error("no quit");
  }
  void Stop() override {}
  int frames = 0;
};

TEST_F(WindowTest, ClosingTheWindowQuitsAtTheStartOfTheNextFrame) {
  auto* screen = engine::pattern::Creator<CScreen>::CreateInstance();
  screen->Create(mSettings);
  engine::core::Kernel::Get()->AddModule(screen, 1);
  FrameCounter counter;
  engine::core::Kernel::Get()->AddModule(&counter, 2);

  SDL_Event key{};
  key.type = SDL_KEYDOWN;
  key.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
  SDL_PushEvent(&key);
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&close);
  engine::core::Kernel::Get()->Run();

  // Frame 1 reads the close, frame 2 requests the quit and still runs the
  // rest of the frame, frame 3 stops everything.
  EXPECT_EQ(counter.frames, 2);
  EXPECT_TRUE(engine::core::Input::Get()->Key(27));
  const auto rows = Rows();
  const auto destroy = std::find(rows.begin(), rows.end(), "Destroy message received");
  const auto quit = std::find(rows.begin(), rows.end(), "Quit called");
  ASSERT_NE(destroy, rows.end());
  ASSERT_NE(quit, rows.end());
  EXPECT_LT(destroy, quit);
  EXPECT_EQ(*(destroy + 1), "Releasing D3DDevice");
  delete engine::core::Kernel::Get();
  delete screen;
  delete engine::core::Input::Get();
}

}  // namespace
