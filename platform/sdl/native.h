#pragma once

#include <string>

namespace platform {

class Window;

// SDL's modal message box; false when it could not be shown.
bool ShowNativeMessageBox(const Window* owner, const std::string& text,
                          const std::string& caption);

}  // namespace platform
