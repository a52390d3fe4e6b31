#pragma once

#include <string>

#include "platform/api.h"

// The system's "ANSI code page" is UTF-8; wide strings hold code points.
namespace platform::utf8 {

// Code points that cannot be encoded (surrogates, values above U+10FFFF)
// become U+FFFD.
PLATFORM_API std::string Encode(const std::wstring& text);

// Malformed input (stray continuation bytes, truncated or overlong sequences,
// encoded surrogates) decodes to one U+FFFD per offending byte, so that
// decoding never fails and never skips valid text after a bad byte.
PLATFORM_API std::wstring Decode(const std::string& text);

}  // namespace platform::utf8
