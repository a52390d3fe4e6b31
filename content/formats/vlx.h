#pragma once

// Mesh files (.vlx): "VLXM", then chunks (id, byte size, payload), then the
// end chunk.
#include <cstdint>
#include <string>
#include <vector>

#include "content/formats/bytes.h"

namespace content {

struct MeshData {
  std::vector<Vec3> positions;
  std::vector<Vec3> normals;  // empty or one per position
  std::vector<Vec2> uvs;      // empty or one per position
  std::vector<Vec2> uvs1;     // second texture coordinates: empty or one per position
  std::vector<Vec4> colours;  // linear RGBA: empty or one per position
  // Tangent xyz and the sign w with which the binormal is
  // cross(normal, tangent) * w: empty or one per position.
  std::vector<Vec4> tangents;
  std::vector<std::uint32_t> indices;  // triangle list
};

// Bounds, positions, normals, texture coordinates, second texture
// coordinates, colours and tangents when present, indices (2 bytes each
// while every index fits a signed 16-bit value, as the engine's mesh
// processing reads them, else 4), end.
std::string VlxBytes(const MeshData& mesh);

}  // namespace content
