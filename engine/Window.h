#pragma once

#include <cstdint>
#include <memory>

#include "engine/api.h"
#include "engine/math.h"
#include "engine/singleton.h"
#include "engine/windowStuff.h"
#include "platform/graphics.h"

namespace platform {
class Window;
}

namespace engine::core {

// Owner of the window, the graphics adapter object, the device, its
// capabilities and the default camera matrices. Every engine part that draws
// reaches the device through it.
class ENGINE_API CWin32Window : public pattern::Singleton<CWin32Window> {
 public:
  CWin32Window();
  ~CWin32Window() override;

  // Sets the default view and projection; 0.
  virtual int SetupView();
  // Gates Release: a negative value skips it. Always 0.
  virtual int CanRelease();

  // Each returns 0; failures are logged and thrown.
  int Create(const WindowSettings& settings);
  int Initialize();
  int InitDirect3D();
  void Release();
  int Shutdown();

  // Window events, as the window procedure handles them. Returns true when
  // the program was asked to end (the window was closed).
  bool PumpMessages();

  platform::Device* Device() const { return mDevice; }
  platform::Window* Window() const { return mWindow.get(); }
  const platform::Caps& Caps() const { return mCaps; }
  platform::PresentParameters* PresentParameters() { return &mPresentParameters; }
  const WindowSettings& Settings() const { return mSettings; }
  std::uint32_t ClearColor() const { return mClearColor; }
  void SetClearColor(std::uint32_t color) { mClearColor = color; }
  const math::Matrix4x4& View() const { return mView; }
  const math::Matrix4x4& InverseView() const { return mInverseView; }
  const math::Matrix4x4& Projection() const { return mProjection; }
  void SetProjection(const math::Matrix4x4& projection) { mProjection = projection; }
  const math::Matrix4x4& ViewProjection() const { return mViewProjection; }

 private:
  int ChooseMultiSampleLevel();

  platform::Direct3D* mDirect3D = nullptr;
  std::unique_ptr<platform::Window> mWindow;
  WindowSettings mSettings;
  platform::Device* mDevice = nullptr;
  platform::PresentParameters mPresentParameters;
  std::uint32_t mClearColor = 0xFFFFFFFF;
  math::Matrix4x4 mView = math::Matrix4x4::Identity;
  math::Matrix4x4 mInverseView = math::Matrix4x4::Identity;
  math::Matrix4x4 mProjection = math::Matrix4x4::Identity;
  math::Matrix4x4 mViewProjection = math::Matrix4x4::Identity;
  platform::Caps mCaps;
};

}  // namespace engine::core

namespace engine::pattern {
extern template class Singleton<core::CWin32Window>;
}
