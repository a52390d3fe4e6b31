#include "platform/resources.h"

// The page's module holds the program too: its lookup is called directly,
// not found at run time as the native library finds the program's.
extern "C" bool velox_program_resource(int id, const void** data, std::size_t* size);

namespace platform {

ProgramResource FindProgramResource(int id) {
  ProgramResource resource;
  if (!velox_program_resource(id, &resource.data, &resource.size)) return {};
  return resource;
}

}  // namespace platform
