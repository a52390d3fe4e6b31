#include "platform/resources.h"

#include <dlfcn.h>

namespace platform {

ProgramResource FindProgramResource(int id) {
  using Lookup = bool (*)(int, const void**, std::size_t*);
  auto lookup = reinterpret_cast<Lookup>(dlsym(RTLD_DEFAULT, "velox_program_resource"));
  ProgramResource resource;
  if (lookup == nullptr || !lookup(id, &resource.data, &resource.size)) return {};
  return resource;
}

}  // namespace platform
