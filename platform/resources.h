#pragma once

#include <cstddef>

#include "platform/api.h"

namespace platform {

// A resource the running program carries in its own image: icon 1 (a BMP
// file image) and bitmap 106 (a 300x80 24-bit BMP file image), the
// way a Windows program carries resources.
struct ProgramResource {
  const void* data = nullptr;
  std::size_t size = 0;
  explicit operator bool() const { return data != nullptr && size > 0; }
};

// Looks the resource up through the function the program exports,
//   extern "C" bool velox_program_resource(int id, const void** data,
//                                          std::size_t* size);
// (the program is linked with its symbols exported). Empty when the program
// has no such function or no such resource.
PLATFORM_API ProgramResource FindProgramResource(int id);

}  // namespace platform
