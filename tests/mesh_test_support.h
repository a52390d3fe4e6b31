#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/math.h"
#include "engine/mesh.h"
#include "engine/wrapper.h"

namespace velox_test {

using engine::gfx::LoadMesh;
using engine::gfx::PVData;
using engine::math::Vector3f;

struct UV2 {
  float u, v;
};

template <class T>
void* EngineCopy(const std::vector<T>& values) {
  void* p = engine::AllocateMemory(static_cast<unsigned>(values.size() * sizeof(T)));
  if (!values.empty()) std::memcpy(p, values.data(), values.size() * sizeof(T));
  return p;
}

// A mesh built the way the demo program builds its own: engine-allocated
// arrays handed over with Indices() and Add().
inline LoadMesh* MakeMesh(const std::vector<Vector3f>& positions, const std::vector<int>& indices,
                          const std::vector<UV2>& uvs = {},
                          const std::vector<Vector3f>& normals = {}) {
  LoadMesh* mesh = engine::CreateEmptyMesh(static_cast<int>(positions.size()),
                                           static_cast<int>(indices.size()));
  std::vector<std::int32_t> wide(indices.begin(), indices.end());
  mesh->Indices(static_cast<short*>(EngineCopy(wide)));
  mesh->Add(PVData{0, 2, 0, EngineCopy(positions)});
  if (!uvs.empty()) mesh->Add(PVData{5, 1, 0, EngineCopy(uvs)});
  if (!normals.empty()) mesh->Add(PVData{3, 2, 0, EngineCopy(normals)});
  return mesh;
}

inline std::vector<int> IndicesOf(const LoadMesh& mesh) {
  std::vector<int> out;
  for (int k = 0; k < mesh.NumIndices(); ++k) out.push_back(mesh.Index(k));
  return out;
}

template <class T>
std::vector<T> ArrayOf(LoadMesh& mesh, const PVData* d) {
  std::vector<T> out(static_cast<std::size_t>(mesh.NumVertices()));
  if (d != nullptr && !out.empty()) std::memcpy(out.data(), d->data, out.size() * sizeof(T));
  return out;
}

// Little-endian file images for the readers.
class Bytes {
 public:
  Bytes& Raw(const std::string& s) { mData += s; return *this; }
  Bytes& Int(std::int32_t v) { return Put(&v, 4); }
  Bytes& Float(float v) { return Put(&v, 4); }
  Bytes& Floats(std::initializer_list<float> values) {
    for (float v : values) Float(v);
    return *this;
  }
  Bytes& Put(const void* p, std::size_t n) {
    mData.append(static_cast<const char*>(p), n);
    return *this;
  }
  const std::string& str() const { return mData; }

 private:
  std::string mData;
};

}  // namespace velox_test
