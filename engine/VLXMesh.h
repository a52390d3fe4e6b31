#pragma once

#include <cstddef>
#include <string>

#include "engine/mesh.h"

namespace engine::io {
class BinaryReader;
}

namespace engine::gfx {

// A mesh read from a chunked ".vlx" file. The path "data/quad.vlx" is first
// written with the built-in default quad. Failures are logged and thrown.
class ENGINE_API LoadVLXMesh : public LoadMesh {
 public:
  explicit LoadVLXMesh(const std::wstring& path);
  // Reads a file image already in memory; name stands for the path in
  // messages.
  LoadVLXMesh(const void* data, std::size_t size, const std::wstring& name);

 private:
  void Load(io::BinaryReader& reader, const std::string& name);
};

// The built-in default quad file, 160 bytes.
ENGINE_API std::string DefaultQuadFile();

}  // namespace engine::gfx
