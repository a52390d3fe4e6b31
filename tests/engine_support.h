#pragma once

// An engine window and device on the null graphics backend, with a fresh
// log in the current directory.
#include "engine/screen.h"
#include "engine/windowStuff.h"
#include "platform/graphics.h"
#include "platform/null/nullGraphics.h"
#include "test_support.h"

namespace velox_test {

inline void OpenNullWindow() {
  platform::SetDefaultBackend(platform::Backend::Null);
  platform::null::ResetSettings();
  CloseLog();
  engine::core::CScreen screen;
  screen.Create(engine::WindowSettings());
}

}  // namespace velox_test
