#pragma once

#include <string>

#include "engine/api.h"

namespace engine {

// Conversion between narrow (UTF-8, the system's code page) and wide strings.
// Malformed input converts to U+FFFD rather than failing.
ENGINE_API std::wstring ToWide(const std::string& text);
ENGINE_API std::string ToNarrow(const std::wstring& text);

}  // namespace engine
