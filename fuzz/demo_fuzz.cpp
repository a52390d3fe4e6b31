// .demo scene files from memory: the loader builds what it can, and the
// result is updated once more, so a cycle or a dangling parent would show.
#include <cstddef>
#include <cstdint>

#include "engine/demoFile.h"
#include "engine/logging.h"
#include "engine/sceneNodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    // Meshes are not found (no scene folder), so a mesh object ends the load.
    engine::gfx::DemoLoader* loader = engine::gfx::DemoLoader::CreateInstance(data, size, L"fuzz.demo");
    loader->GetBaseNode()->Update(nullptr);
    loader->DestroyInstance();
  } catch (const engine::core::Exception&) {
  }
  return 0;
}
