#include "content/formats/vlx.h"

#include <algorithm>
#include <limits>

namespace content {
namespace {

constexpr std::int32_t kBounds = 2, kPositions = 3, kIndices = 4, kNormals = 5, kTexCoords = 6,
                       kEnd = 9, kColours = 10, kTexCoords1 = 11, kTangents = 12;

void Vectors(ByteWriter& w, std::int32_t id, const std::vector<Vec3>& v) {
  w.Int(id).Int(static_cast<std::int32_t>(v.size() * 12));
  for (const Vec3& p : v) w.Vector(p);
}

void Pairs(ByteWriter& w, std::int32_t id, const std::vector<Vec2>& v) {
  w.Int(id).Int(static_cast<std::int32_t>(v.size() * 8));
  for (const Vec2& p : v) w.Float(p.x).Float(p.y);
}

void Quads(ByteWriter& w, std::int32_t id, const std::vector<Vec4>& v) {
  w.Int(id).Int(static_cast<std::int32_t>(v.size() * 16));
  for (const Vec4& p : v) w.Float(p.x).Float(p.y).Float(p.z).Float(p.w);
}

}  // namespace

std::string VlxBytes(const MeshData& mesh) {
  ByteWriter w;
  w.Raw("VLXM", 4);
  Vec3 lo{0, 0, 0}, hi{0, 0, 0};
  if (!mesh.positions.empty()) lo = hi = mesh.positions.front();
  for (const Vec3& p : mesh.positions) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  w.Int(kBounds).Int(24).Vector(lo).Vector(hi);
  Vectors(w, kPositions, mesh.positions);
  if (!mesh.normals.empty()) Vectors(w, kNormals, mesh.normals);
  if (!mesh.uvs.empty()) Pairs(w, kTexCoords, mesh.uvs);
  if (!mesh.uvs1.empty()) Pairs(w, kTexCoords1, mesh.uvs1);
  if (!mesh.colours.empty()) Quads(w, kColours, mesh.colours);
  if (!mesh.tangents.empty()) Quads(w, kTangents, mesh.tangents);
  const std::uint32_t largest =
      mesh.indices.empty() ? 0 : *std::max_element(mesh.indices.begin(), mesh.indices.end());
  const bool narrow = largest <= static_cast<std::uint32_t>(std::numeric_limits<std::int16_t>::max());
  const std::int32_t stride = narrow ? 2 : 4;
  w.Int(kIndices).Int(static_cast<std::int32_t>(4 + mesh.indices.size() * stride)).Int(stride);
  for (std::uint32_t i : mesh.indices) {
    if (narrow) w.U16(static_cast<std::uint16_t>(i));
    else w.U32(i);
  }
  w.Int(kEnd);
  return w.Bytes();
}

}  // namespace content
