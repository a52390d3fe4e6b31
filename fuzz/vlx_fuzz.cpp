// .vlx files from memory; a mesh that loads is then processed, so that the
// processing steps see whatever the reader lets through.
#include <cstddef>
#include <cstdint>

#include "engine/VLXMesh.h"
#include "engine/logging.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    engine::gfx::LoadVLXMesh mesh(data, size, L"fuzz.vlx");
    mesh.OptimizeMesh(60.0f);
    mesh.GenerateTangentFrame(L"fuzz.vlx");
  } catch (const engine::core::Exception&) {
  }
  return 0;
}
