#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/math.h"
#include "engine/resourceTypes.h"

namespace engine::io {
class BinaryReader;
}

namespace platform {
class VertexBuffer;
class IndexBuffer;
class VertexDeclaration;
}  // namespace platform

namespace engine::gfx {

// One per-vertex array. usage and type are graphics declaration codes:
// usage 0 position, 3 normal, 5 texture coordinate, 6 tangent, 7 binormal;
// type 0..3 one to four floats, 5 four bytes.
struct PVData {
  int usage;
  int type;
  int usageIndex;
  void* data;
};

namespace MeshData {
enum DataTypes : int { Positions = 0, Normals = 1, TexCoords = 2, Tangents = 3, Binormals = 4 };
}

// Bytes per element of a declaration type; an unknown type is an error.
ENGINE_API int ElementSize(int type);

// CPU-side triangle list: an index array and typed per-vertex arrays, all
// allocated with AllocateMemory and owned by the mesh.
class ENGINE_API LoadMesh {
 public:
  LoadMesh();
  virtual ~LoadMesh();
  LoadMesh(const LoadMesh&) = delete;
  LoadMesh& operator=(const LoadMesh&) = delete;

  // Deletes the object on the engine's heap.
  void DestroyItself();

  int NumVertices() const { return mNumVertices; }
  void NumVertices(int count) { mNumVertices = count; }
  int NumIndices() const { return mNumIndices; }
  void NumIndices(int count) { mNumIndices = count; }
  int IndexStride() const { return mIndexStride; }
  short* Indices() { return mIndices; }
  // Takes ownership of p, releasing the current array.
  void Indices(short* p);

  // Adds an array, or replaces the array of the same usage and set. The
  // mesh releases an array once no entry holds it any more.
  void Add(const PVData& d);
  // Removes every array of that kind (texture set 0 only for TexCoords).
  void Delete(MeshData::DataTypes t);
  void DeleteAll();
  unsigned NumData() const { return static_cast<unsigned>(mData.size()); }
  PVData* GetData(unsigned i);
  // Positions, normals and texture set 0 only; null when absent.
  PVData* GetData(MeshData::DataTypes t);
  bool IsAvailable(MeshData::DataTypes t) const;

  // Cache files: a raw dump of counts, indices and arrays. Serialize writes
  // a temporary file and renames it, so a failed write never leaves a file
  // that Deserialize would accept. Deserialize returns false for a missing,
  // truncated or corrupt file and then leaves the mesh unchanged.
  void Serialize(const std::string& path);
  bool Deserialize(const std::string& path);
  bool DeserializeFromMemory(const void* data, std::size_t size);

  // Area-weighted vertex normals.
  void GenerateNormals();
  // Per-vertex tangents, binormals and normals from positions and texture
  // set 0; name identifies the mesh in messages.
  void GenerateTangentFrame(const std::wstring& name);
  // Welds coincident vertices whose texture coordinates match and whose
  // normals differ by less than angle (degrees), then smooths the normals.
  void OptimizeMesh(float angle);

  // Index k as a vertex number (16-bit indices are signed).
  int Index(int k) const;

 protected:
  // Throws unless the index array and every index fit the vertex count.
  void ValidateTriangles() const;
  // Position of the first index outside the vertex arrays, or -1.
  int FirstBadIndex() const;

  int mNumVertices = 0;
  int mNumIndices = 0;
  int mIndexStride = 4;
  short* mIndices = nullptr;
  std::vector<PVData> mData;
  std::map<MeshData::DataTypes, PVData> mDataByType;

 private:
  bool ReadSerialized(io::BinaryReader& reader);
  // Frees data unless another entry still holds it.
  void Release(void* data);
  void SetIndex(int k, int value);
};

class Effect;
struct RenderObject;

// A LoadMesh as the device draws it: a declaration, one interleaved vertex
// buffer and an index buffer laid out for the streams its material reads.
// The buffers live in the default pool and are rebuilt after every reset,
// so the CPU data stays with the mesh.
class ENGINE_API Mesh : public core::UnmanagedResource {
 public:
  // The .vlx file and its material, the file name with ".efx" appended.
  explicit Mesh(const std::wstring& path);
  // Takes ownership of mesh; no name.
  Mesh(LoadMesh* mesh, boost::shared_ptr<Effect> effect);
  ~Mesh() override;

  void Create() override;
  void Destroy() override;
  void Update() override;
  void OnLost() override;
  void OnReset() override;
  virtual boost::shared_ptr<RenderObject> GetRenderObject();

  bool DoCulling() const { return mDoCulling; }
  void DoCulling(bool on) { mDoCulling = on; }
  // Skinned animation: no part of the system attaches bones, so these do
  // nothing for a mesh without a bone set (every mesh here).
  void AdvanceAnimation(float dt);
  void ResetAnimation();

  // The built-in quad ("data/quad.vlx") with a material of its own, created
  // and kept up across resets by the resource manager.
  static boost::shared_ptr<Mesh> CreateQuad(boost::shared_ptr<Effect> effect);

  boost::shared_ptr<Effect> GetEffect() const { return mEffect; }
  // Draws with another material from now on, the vertex layout made again
  // for its streams. When the mesh lacks a stream the material needs, the
  // old material stays and the error is thrown.
  void ReplaceEffect(boost::shared_ptr<Effect> effect);
  // Draws `mesh` (taking ownership) from now on. When its buffers cannot be
  // made, the old data stays, `mesh` is released and the error is thrown.
  void ReplaceData(LoadMesh* mesh);
  LoadMesh* GetLoadMesh() const { return mLoadMesh; }
  int NumVertices() const { return mNumVertices; }
  int NumTriangles() const { return mNumTriangles; }
  int VertexStride() const { return mVertexStride; }
  bool Index32() const { return mIndex32; }
  float Radius() const { return mRadius; }
  math::Vector3f Center() const { return mCenter; }
  platform::VertexDeclaration* Declaration() const { return mDeclaration; }
  platform::VertexBuffer* VertexBuffer() const { return mVertexBuffer; }
  platform::IndexBuffer* IndexBuffer() const { return mIndexBuffer; }

 private:
  void ReleaseDeviceObjects();

  LoadMesh* mLoadMesh = nullptr;
  int mNumVertices = 0;
  int mNumTriangles = 0;
  int mVertexStride = 0;
  bool mIndex32 = false;
  platform::VertexDeclaration* mDeclaration = nullptr;
  platform::VertexBuffer* mVertexBuffer = nullptr;
  platform::IndexBuffer* mIndexBuffer = nullptr;
  boost::shared_ptr<Effect> mEffect;
  int mPrimitiveType = 4;
  float mRadius = 0;
  math::Vector3f mCenter;
  bool mDoCulling = true;
};

}  // namespace engine::gfx
