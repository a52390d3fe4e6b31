#include "engine/strings.h"

#include "platform/utf8.h"

namespace engine {

std::wstring ToWide(const std::string& text) { return platform::utf8::Decode(text); }

std::string ToNarrow(const std::wstring& text) { return platform::utf8::Encode(text); }

}  // namespace engine
