// Mesh cache files from memory; an accepted cache is then processed.
#include <cstddef>
#include <cstdint>

#include "engine/logging.h"
#include "engine/mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  engine::gfx::LoadMesh mesh;
  if (!mesh.DeserializeFromMemory(data, size)) return 0;
  try {
    mesh.GenerateNormals();
    mesh.OptimizeMesh(30.0f);
  } catch (const engine::core::Exception&) {
  }
  return 0;
}
