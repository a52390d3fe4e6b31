#include "engine/Window.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/input.h"
#include "engine/logging.h"
#include "engine/strings.h"
#include "platform/d3dmath.h"
#include "platform/resources.h"
#include "platform/system.h"
#include "platform/window.h"

namespace engine::pattern {
template class Singleton<core::CWin32Window>;
}

namespace engine::core {
namespace {

constexpr int kAutomaticMultiSample = 0x7FFFFFFF;
// The graphics library knows levels up to 16 samples; a search never starts
// above that, so a corrupt request cannot make it test billions of levels.
constexpr int kMaxMultiSample = 16;

std::string Bool(bool value) { return value ? "true" : "false"; }

// The engine's matrices have the graphics interface's layout.
platform::Matrix* AsPlatform(math::Matrix4x4* m) { return reinterpret_cast<platform::Matrix*>(m); }

// The window procedure: keyboard and mouse into the input state, a closed
// window into a shutdown and a quit.
class WindowProcedure : public platform::EventHandler {
 public:
  void OnKey(int virtualKey, bool down) override { Input::Get()->SetKey(virtualKey, down); }
  void OnMouseMove(int x, int y) override { Input::Get()->MouseMove(x, y); }
  void OnMouseButton(int button, bool down) override { Input::Get()->SetButton(button, down); }
  void OnClose() override {
    ENGINE_MESSAGE("Destroy message received");
    CWin32Window::Get()->Shutdown();
  }
};

}  // namespace

CWin32Window::CWin32Window() = default;

CWin32Window::~CWin32Window() {
  // Whatever a missing Shutdown left behind.
  if (mDevice != nullptr) mDevice->Release();
  if (mDirect3D != nullptr) mDirect3D->Release();
  if (platform::MainWindow() == mWindow.get()) platform::SetMainWindow(nullptr);
}

int CWin32Window::CanRelease() { return 0; }

int CWin32Window::Create(const WindowSettings& settings) {
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::current_path(error);
  if (error) ENGINE_ERROR("Could not get working directory");
  ENGINE_MESSAGE("Working from " + directory.string());

  mSettings = settings;
  mWindow.reset();

  platform::WindowDesc desc;
  desc.title = settings.title;
  desc.x = 100;
  desc.y = 100;
  desc.width = settings.width;
  desc.height = settings.height;
  desc.fullscreen = settings.fullscreen;
  desc.alwaysOnTop = settings.alwaysOnTop;
  desc.openGL = platform::DefaultBackend() == platform::Backend::GL;
  desc.icon = platform::FindProgramResource(1);
  mWindow = platform::Window::Create(desc);

  ENGINE_MESSAGE("Creating window \"" + ToNarrow(settings.title) + "\" " +
                 std::to_string(settings.width) + "x" + std::to_string(settings.height) + "x" +
                 std::to_string(settings.refreshRate) + "hz fullscreen: " +
                 Bool(settings.fullscreen) + " AA: " + std::to_string(settings.multiSampleType) +
                 " Backbuffer: " + std::to_string(settings.backBufferFormat));
  if (mWindow == nullptr) ENGINE_ERROR("Could not create window handle");
  platform::SetMainWindow(mWindow.get());
  return 0;
}

int CWin32Window::Initialize() {
  if (InitDirect3D() < 0) ENGINE_ERROR("Could not create d3d Device");
  if (SetupView() < 0) ENGINE_ERROR("Could not initialize user stuff");
  mWindow->Show();
  return 0;
}

int CWin32Window::ChooseMultiSampleLevel() {
  auto supported = [this](platform::Format format, int level) {
    return !platform::Failed(mDirect3D->CheckDeviceMultiSampleType(
        0, platform::kDeviceHal, format, true, level, nullptr));
  };
  auto format = static_cast<platform::Format>(mSettings.backBufferFormat);
  auto firstLevel = [&](int requested) {
    if (requested != kAutomaticMultiSample) return std::clamp(requested, 0, kMaxMultiSample);
    if (supported(format, 4)) return 4;
    if (supported(platform::kFormatX8R8G8B8, 2)) return 2;
    return 0;
  };
  int level = firstLevel(mSettings.multiSampleType);
  while (level >= 0 && !supported(format, level)) --level;
  if (level < 0) {
    if (format == platform::kFormatR5G6B5) ENGINE_ERROR("No supported window format found");
    mSettings.backBufferFormat = platform::kFormatR5G6B5;
    format = platform::kFormatR5G6B5;
    // An automatic request restarts from the highest level it would pick.
    level = mSettings.multiSampleType == kAutomaticMultiSample
                ? 4
                : std::clamp(mSettings.multiSampleType, 0, kMaxMultiSample);
    while (level >= 0 && !supported(format, level)) --level;
    if (level < 0) ENGINE_ERROR("No supported window format found");
  }
  mSettings.multiSampleType = level;
  return level;
}

int CWin32Window::InitDirect3D() {
  mDirect3D = platform::Direct3DCreate();
  if (mDirect3D == nullptr) {
    ENGINE_ERROR("Could not initialize Direct3D 9. Probably older version installed.");
  }
  platform::AdapterIdentifier identifier;
  if (platform::Failed(mDirect3D->GetAdapterIdentifier(0, 0, &identifier))) {
    ENGINE_ERROR("Error getting adapter identifier.");
  }
  if (!identifier.api.empty()) ENGINE_MESSAGE(identifier.api + " context");
  ENGINE_MESSAGE("Driver " + identifier.driver);
  ENGINE_MESSAGE("Description " + identifier.description);
  ENGINE_MESSAGE("Device Name " + identifier.deviceName);

  platform::DisplayMode mode;
  if (platform::Failed(mDirect3D->GetAdapterDisplayMode(0, &mode))) {
    ENGINE_ERROR("Error getting the display mode.");
  }
  if (platform::Failed(mDirect3D->GetDeviceCaps(0, platform::kDeviceHal, &mCaps))) {
    ENGINE_ERROR("Could not get device capabilities");
  }

  std::uint32_t behaviour = platform::kSoftwareVertexProcessing;
  if (mCaps.vertexProcessingCaps != 0) {
    behaviour = platform::kHardwareVertexProcessing;
    ENGINE_MESSAGE("Hardware vertex processing chosen");
  } else {
    ENGINE_MESSAGE("Software vertex processing chosen");
  }
  if (mCaps.pixelShaderVersion < 0xFFFF0101) {
    behaviour = platform::kSoftwareVertexProcessing;
    ENGINE_WARNING("Vertex shaders 1.1 not found. Switching to software vertex processing.");
  }
  switch (mCaps.pixelShaderVersion) {
    case 0xFFFF0101: ENGINE_MESSAGE("Shader version 1.1 available"); break;
    case 0xFFFF0102: ENGINE_MESSAGE("Shader version 1.2 available"); break;
    case 0xFFFF0103: ENGINE_MESSAGE("Shader version 1.3 available"); break;
    case 0xFFFF0104: ENGINE_MESSAGE("Shader version 1.4 available"); break;
    case 0xFFFF0200: ENGINE_MESSAGE("Shader version 2.0 available"); break;
    case 0xFFFF0300: ENGINE_MESSAGE("Shader version 3.0 available"); break;
    default: break;
  }

  const int level = ChooseMultiSampleLevel();

  mPresentParameters = platform::PresentParameters{};
  if (mSettings.fullscreen) {
    mPresentParameters.windowed = false;
    mPresentParameters.backBufferWidth = static_cast<std::uint32_t>(mSettings.width);
    mPresentParameters.backBufferHeight = static_cast<std::uint32_t>(mSettings.height);
    mPresentParameters.fullScreenRefreshRateInHz = static_cast<std::uint32_t>(mSettings.refreshRate);
  } else {
    mPresentParameters.windowed = true;
  }
  mPresentParameters.backBufferFormat = static_cast<platform::Format>(mSettings.backBufferFormat);
  mPresentParameters.backBufferCount = 1;
  mPresentParameters.multiSampleType = level;
  mPresentParameters.multiSampleQuality = 0;
  mPresentParameters.swapEffect = platform::kSwapEffectDiscard;
  mPresentParameters.deviceWindow = nullptr;
  mPresentParameters.enableAutoDepthStencil = true;
  mPresentParameters.autoDepthStencilFormat =
      static_cast<platform::Format>(mSettings.depthStencilFormat);
  mPresentParameters.flags = 0;
  mPresentParameters.presentationInterval = mSettings.presentInterval;

  const platform::Result result =
      mDirect3D->CreateDevice(0, platform::kDeviceHal, mWindow.get(), behaviour,
                              &mPresentParameters, &mDevice);
  if (platform::Failed(result) || mDevice == nullptr) {
    mDevice = nullptr;
    ENGINE_ERROR("Failed to create Direct3D Device.");
  }
  ENGINE_MESSAGE("Successfully created " + std::to_string(mSettings.width) + "x" +
                 std::to_string(mSettings.height) + "x" + std::to_string(mSettings.refreshRate) +
                 "hz fullscreen: " + Bool(mSettings.fullscreen) + " AA: " +
                 std::to_string(level) + " Backbuffer: " +
                 std::to_string(mSettings.backBufferFormat));
  return 0;
}

int CWin32Window::SetupView() {
  mView = math::Matrix4x4::Identity;
  mDevice->SetTransform(platform::kTransformView, AsPlatform(&mView));
  const float aspect = mSettings.aspectRatio > 0.0f
                           ? mSettings.aspectRatio
                           : static_cast<float>(mSettings.width) /
                                 static_cast<float>(std::max(1, mSettings.height));
  platform::MatrixPerspectiveFovLH(AsPlatform(&mProjection), 0.7853982f, aspect, 0.5f, 400.0f);
  mDevice->SetTransform(platform::kTransformProjection, AsPlatform(&mProjection));
  if (platform::MatrixInverse(AsPlatform(&mInverseView), nullptr, AsPlatform(&mView)) == nullptr) {
    mInverseView = math::Matrix4x4::Identity;
  }
  mViewProjection = mView * mProjection;
  return 0;
}

void CWin32Window::Release() {
  if (CanRelease() < 0) return;
  ENGINE_MESSAGE("Releasing D3DDevice");
  if (mDevice != nullptr) {
    mDevice->Release();
    mDevice = nullptr;
  }
  ENGINE_MESSAGE("Releasing Direct3D");
  if (mDirect3D != nullptr) {
    mDirect3D->Release();
    mDirect3D = nullptr;
  }
}

int CWin32Window::Shutdown() {
  Get()->Release();
  return 0;
}

bool CWin32Window::PumpMessages() {
  WindowProcedure procedure;
  return platform::PumpEvents(procedure);
}

}  // namespace engine::core
