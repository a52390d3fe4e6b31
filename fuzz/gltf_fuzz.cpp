// glTF files from memory, .gltf text or .glb: the importer's checks, the
// conversion and the converted files as bytes. Buffers named by a path are
// looked for in a folder that does not exist; data URIs and the .glb BIN
// chunk carry theirs. gltf_fuzz.dict holds glTF's words for -dict=.
#include <tiny_gltf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/gltfimport/gltfimport.h"

namespace {
const std::string kPath = "no-such-folder/fuzz.gltf";
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    tinygltf::Model model;
    std::vector<std::string> warnings;
    gltfimport::LoadMemory(bytes, kPath, &model, &warnings);
    const gltfimport::Conversion conversion = gltfimport::Convert(model, {});
    for (const gltfimport::MeshFile& mesh : conversion.meshes) content::VlxBytes(mesh.data);
    content::DemoBytes(conversion.scene);
  } catch (const gltfimport::ImportError& e) {
    // tinygltf read JSON that the importer's own reader refused: a file that
    // tinygltf takes would be turned away. (tinygltf's own messages quote
    // the input, hence the whole message.)
    const std::string refused =
        kPath + ": not a glTF file it can read: JSON it cannot read at byte ";
    const std::string message = e.what();
    if (message.compare(0, refused.size(), refused) == 0 &&
        message.find_first_not_of("0123456789", refused.size()) == std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
