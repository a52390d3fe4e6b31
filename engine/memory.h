#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/logging.h"
#include "engine/wrapper.h"

namespace engine {

// An array on the engine's heap, freed unless ownership is handed on with
// release(): readers hold new arrays this way until they are complete.
struct EngineArrayDeleter {
  void operator()(void* p) const { DeleteMemory(p); }
};
using EngineArray = std::unique_ptr<void, EngineArrayDeleter>;

// count * elementBytes bytes, zeroed unless the caller fills them at once;
// sizes beyond what AllocateMemory takes are an error, not a wrapped-around
// small block.
inline EngineArray AllocateArray(std::uint64_t count, std::uint64_t elementBytes,
                                 bool zeroed = true) {
  if (elementBytes != 0 && count > 0xFFFFFFFFull / elementBytes) ENGINE_ERROR("Mesh array too large");
  const std::uint64_t bytes = count * elementBytes;
  void* p = AllocateMemory(static_cast<unsigned int>(bytes));
  if (p == nullptr) ENGINE_ERROR("Out of memory for a mesh array");
  if (zeroed) std::memset(p, 0, static_cast<std::size_t>(bytes));
  return EngineArray(p);
}

}  // namespace engine
