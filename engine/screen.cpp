#include "engine/screen.h"

#include "engine/Window.h"
#include "engine/logging.h"

namespace engine::core {

CScreen::CScreen() {
  mName = L"Screen";
  mPriority = 1;
}

void CScreen::Create(const WindowSettings& settings) {
  if (CWin32Window::Get()->Create(settings) < 0) ENGINE_ERROR("Failed to create window");
  mQuitRead = false;
  if (CWin32Window::Get()->Initialize() < 0) ENGINE_ERROR("Failed to initialize");
}

bool CScreen::Start() { return true; }

void CScreen::Update() {
  if (mQuitRead) {
    Kernel::Get()->Quit();
    return;
  }
  mQuitRead = CWin32Window::Get()->PumpMessages();
}

void CScreen::Stop() { CWin32Window::Get()->Shutdown(); }

}  // namespace engine::core
