#include "engine/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "engine/binaryReader.h"
#include "engine/logging.h"
#include "engine/math.h"
#include "engine/memory.h"
#include "engine/strings.h"
#include "engine/wrapper.h"
#include "engine/VLXMesh.h"
#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/luaWrapper.h"
#include "engine/renderObject.h"
#include "platform/graphics.h"

namespace engine::gfx {

using math::Vector3f;

namespace {

constexpr int kUsagePosition = 0;
constexpr int kUsageNormal = 3;
constexpr int kUsageTexCoord = 5;
constexpr int kUsageTangent = 6;
constexpr int kUsageBinormal = 7;
constexpr int kTypeFloat3 = 2;

bool KeyOf(const PVData& d, MeshData::DataTypes& key) {
  if (d.usage == kUsagePosition) {
    key = MeshData::Positions;
  } else if (d.usage == kUsageNormal) {
    key = MeshData::Normals;
  } else if (d.usage == kUsageTexCoord && d.usageIndex == 0) {
    key = MeshData::TexCoords;
  } else {
    return false;
  }
  return true;
}

int UsageOf(MeshData::DataTypes t) {
  switch (t) {
    case MeshData::Positions: return kUsagePosition;
    case MeshData::Normals: return kUsageNormal;
    case MeshData::TexCoords: return kUsageTexCoord;
    case MeshData::Tangents: return kUsageTangent;
    case MeshData::Binormals: return kUsageBinormal;
  }
  ENGINE_ERROR("Could not determine data type");
}

// Reads elements of at least `minBytes` from an array of any wider type.
template <class T, std::size_t minBytes = sizeof(T)>
class View {
 public:
  View() = default;
  View(const PVData& d, const char* what) : mBase(static_cast<const unsigned char*>(d.data)) {
    mStride = ElementSize(d.type);
    if (static_cast<std::size_t>(mStride) < minBytes || mBase == nullptr) {
      ENGINE_ERROR(std::string("Unsupported format for mesh ") + what);
    }
  }
  T operator[](int i) const {
    T value;
    std::memcpy(&value, mBase + static_cast<std::size_t>(i) * mStride, sizeof value);
    return value;
  }
  explicit operator bool() const { return mBase != nullptr; }

 private:
  const unsigned char* mBase = nullptr;
  int mStride = 0;
};

struct UV {
  float u;
  float v;
};

using PositionView = View<Vector3f>;
using UVView = View<UV>;

float Dot(const Vector3f& a, const Vector3f& b) { return a * b; }

}  // namespace

int ElementSize(int type) {
  switch (type) {
    case 0: return 4;
    case 1: return 8;
    case 2: return 12;
    case 3: return 16;
    case 5: return 4;
    default: ENGINE_ERROR("Unrecognized per vertex data type");
  }
}

LoadMesh::LoadMesh() = default;

LoadMesh::~LoadMesh() {
  // Entries may share an array; free each once.
  for (std::size_t i = 0; i < mData.size(); ++i) {
    void* data = mData[i].data;
    bool seen = false;
    for (std::size_t j = 0; j < i && !seen; ++j) seen = mData[j].data == data;
    if (!seen) DeleteMemory(data);
  }
  DeleteMemory(mIndices);
}

void LoadMesh::DestroyItself() { delete this; }

void LoadMesh::Indices(short* p) {
  if (p != mIndices) DeleteMemory(mIndices);
  mIndices = p;
}

void LoadMesh::Release(void* data) {
  if (data == nullptr) return;
  for (const PVData& d : mData) {
    if (d.data == data) return;
  }
  for (const auto& entry : mDataByType) {
    if (entry.second.data == data) return;
  }
  DeleteMemory(data);
}

void LoadMesh::Add(const PVData& d) {
  MeshData::DataTypes key;
  if (KeyOf(d, key)) mDataByType[key] = d;
  for (PVData& entry : mData) {
    if (entry.usage != d.usage || entry.usageIndex != d.usageIndex) continue;
    if (entry.type != d.type) ENGINE_WARNING("Data types do not match");
    void* old = entry.data;
    entry.type = d.type;
    entry.data = d.data;
    if (old != d.data) Release(old);
    return;
  }
  mData.push_back(d);
}

void LoadMesh::Delete(MeshData::DataTypes t) {
  const int usage = UsageOf(t);
  std::vector<void*> removed;
  for (auto it = mData.begin(); it != mData.end();) {
    if (it->usage == usage && (usage != kUsageTexCoord || it->usageIndex == 0)) {
      removed.push_back(it->data);
      it = mData.erase(it);
    } else {
      ++it;
    }
  }
  mDataByType.erase(t);
  for (std::size_t i = 0; i < removed.size(); ++i) {
    bool seen = false;
    for (std::size_t j = 0; j < i && !seen; ++j) seen = removed[j] == removed[i];
    if (!seen) Release(removed[i]);
  }
}

void LoadMesh::DeleteAll() {
  std::vector<PVData> all;
  all.swap(mData);
  mDataByType.clear();
  for (std::size_t i = 0; i < all.size(); ++i) {
    bool seen = false;
    for (std::size_t j = 0; j < i && !seen; ++j) seen = all[j].data == all[i].data;
    if (!seen) DeleteMemory(all[i].data);
  }
}

PVData* LoadMesh::GetData(unsigned i) { return i < mData.size() ? &mData[i] : nullptr; }

PVData* LoadMesh::GetData(MeshData::DataTypes t) {
  const auto it = mDataByType.find(t);
  return it == mDataByType.end() ? nullptr : &it->second;
}

bool LoadMesh::IsAvailable(MeshData::DataTypes t) const { return mDataByType.count(t) != 0; }

int LoadMesh::Index(int k) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(mIndices);
  if (mIndexStride == 2) {
    std::int16_t v;
    std::memcpy(&v, bytes + static_cast<std::size_t>(k) * 2, 2);
    return v;
  }
  std::int32_t v;
  std::memcpy(&v, bytes + static_cast<std::size_t>(k) * 4, 4);
  return v;
}

void LoadMesh::SetIndex(int k, int value) {
  auto* bytes = reinterpret_cast<unsigned char*>(mIndices);
  if (mIndexStride == 2) {
    const auto v = static_cast<std::int16_t>(value);
    std::memcpy(bytes + static_cast<std::size_t>(k) * 2, &v, 2);
  } else {
    const auto v = static_cast<std::int32_t>(value);
    std::memcpy(bytes + static_cast<std::size_t>(k) * 4, &v, 4);
  }
}

namespace {

template <class T>
int FirstOutOfRange(const T* indices, int count, int vertices) {
  // A branch-free pass over the whole array first: the common case is a
  // valid mesh, and the scan for the culprit runs only when there is one.
  T lo = 0, hi = 0;
  for (int k = 0; k < count; ++k) {
    lo = indices[k] < lo ? indices[k] : lo;
    hi = indices[k] > hi ? indices[k] : hi;
  }
  if (lo >= 0 && (count == 0 || static_cast<std::int64_t>(hi) < vertices)) return -1;
  for (int k = 0; k < count; ++k) {
    if (indices[k] < 0 || static_cast<std::int64_t>(indices[k]) >= vertices) return k;
  }
  return -1;
}

int FirstBadIndexOf(const void* indices, int count, int stride, int vertices) {
  if (count <= 0) return -1;
  if (stride == 2) return FirstOutOfRange(static_cast<const std::int16_t*>(indices), count, vertices);
  return FirstOutOfRange(static_cast<const std::int32_t*>(indices), count, vertices);
}

}  // namespace

int LoadMesh::FirstBadIndex() const {
  return FirstBadIndexOf(mIndices, mNumIndices, mIndexStride, mNumVertices);
}

void LoadMesh::ValidateTriangles() const {
  if (mNumVertices < 0 || mNumIndices < 0) ENGINE_ERROR("Mesh has a negative vertex or index count");
  if (mIndexStride != 2 && mIndexStride != 4) {
    ENGINE_ERROR("Unsupported index stride " + std::to_string(mIndexStride));
  }
  if (mNumIndices > 0 && mIndices == nullptr) ENGINE_ERROR("Mesh has indices but no index array");
  const int k = FirstBadIndex();
  if (k >= 0) {
    ENGINE_ERROR("Mesh index " + std::to_string(k) + " refers to vertex " +
                 std::to_string(Index(k)) + " of " + std::to_string(mNumVertices));
  }
}

// --- Cache files ---------------------------------------------------------

void LoadMesh::Serialize(const std::string& path) {
  ENGINE_MESSAGE("Serializing mesh " + path);
  if (mNumVertices < 0 || mNumIndices < 0) ENGINE_ERROR("Mesh has a negative vertex or index count");
  if (mIndexStride != 2 && mIndexStride != 4) {
    ENGINE_ERROR("Unsupported index stride " + std::to_string(mIndexStride));
  }
  if (mNumIndices > 0 && mIndices == nullptr) ENGINE_ERROR("Mesh has indices but no index array");
  for (const PVData& d : mData) {
    ElementSize(d.type);  // an unknown type fails before anything is written
    if (mNumVertices > 0 && d.data == nullptr) ENGINE_ERROR("Mesh array without data");
  }

  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) ENGINE_ERROR("Could not write mesh cache " + path);
  bool ok = true;
  auto put = [&](const void* p, std::size_t bytes) {
    if (ok && bytes > 0) ok = std::fwrite(p, 1, bytes, file) == bytes;
  };
  auto putInt = [&](std::int32_t v) { put(&v, sizeof v); };
  putInt(mNumVertices);
  putInt(mNumIndices);
  putInt(mIndexStride);
  put(mIndices, static_cast<std::size_t>(mNumIndices) * static_cast<std::size_t>(mIndexStride));
  putInt(static_cast<std::int32_t>(mData.size()));
  for (const PVData& d : mData) {
    putInt(d.usageIndex);
    putInt(d.type);
    putInt(d.usage);
    put(d.data, static_cast<std::size_t>(mNumVertices) * static_cast<std::size_t>(ElementSize(d.type)));
  }
  ok = (std::fclose(file) == 0) && ok;
  // Only a complete file gets the real name.
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    ENGINE_ERROR("Could not write mesh cache " + path);
  }
}

bool LoadMesh::Deserialize(const std::string& path) {
  ENGINE_MESSAGE("Deserializing mesh " + path);
  io::BinaryReader reader(path);
  if (!reader.Ok()) return false;
  if (ReadSerialized(reader)) return true;
  ENGINE_WARNING("Mesh cache " + path + " is truncated or corrupt");
  return false;
}

bool LoadMesh::DeserializeFromMemory(const void* data, std::size_t size) {
  io::BinaryReader reader(data, size);
  return ReadSerialized(reader);
}

bool LoadMesh::ReadSerialized(io::BinaryReader& reader) {
  std::int32_t vertices = 0, indices = 0, stride = 0, arrays = 0;
  if (!reader.ReadInt32(vertices) || !reader.ReadInt32(indices) || !reader.ReadInt32(stride)) {
    return false;
  }
  if (vertices < 0 || indices < 0 || (stride != 2 && stride != 4)) return false;
  const std::uint64_t indexBytes = static_cast<std::uint64_t>(indices) * stride;
  if (indexBytes > reader.Remaining()) return false;

  try {
    EngineArray indexArray = AllocateArray(static_cast<std::uint64_t>(indices), stride, false);
    if (!reader.Read(indexArray.get(), indexBytes)) return false;

    if (!reader.ReadInt32(arrays) || arrays < 0) return false;
    if (static_cast<std::uint64_t>(arrays) * 12 > reader.Remaining()) return false;
    std::vector<std::pair<PVData, EngineArray>> records;
    for (std::int32_t i = 0; i < arrays; ++i) {
      PVData d{};
      if (!reader.ReadInt32(d.usageIndex) || !reader.ReadInt32(d.type) ||
          !reader.ReadInt32(d.usage)) {
        return false;
      }
      const int size = ElementSize(d.type);
      const std::uint64_t bytes = static_cast<std::uint64_t>(vertices) * size;
      if (bytes > reader.Remaining()) return false;
      EngineArray data = AllocateArray(static_cast<std::uint64_t>(vertices), size, false);
      if (!reader.Read(data.get(), bytes)) return false;
      d.data = data.get();
      records.emplace_back(d, std::move(data));
    }
    if (reader.Remaining() != 0) return false;

    // Indices must stay inside the vertex arrays, or a later draw or
    // processing step would read past them.
    if (FirstBadIndexOf(indexArray.get(), indices, stride, vertices) >= 0) return false;

    mNumVertices = vertices;
    mNumIndices = indices;
    mIndexStride = stride;
    Indices(static_cast<short*>(indexArray.release()));
    for (auto& record : records) {
      record.second.release();
      Add(record.first);
    }
    return true;
  } catch (const core::Exception&) {
    return false;  // already logged (an unknown element type)
  }
}

// --- Processing ------------------------------------------------------------

void LoadMesh::GenerateNormals() {
  ENGINE_MESSAGE("Generating normals");
  PVData* positions = GetData(MeshData::Positions);
  if (positions == nullptr || positions->data == nullptr) {
    ENGINE_ERROR("Could not generate normals without vertices");
  }
  ValidateTriangles();
  const PositionView P(*positions, "positions");

  PVData* existing = GetData(MeshData::Normals);
  // The old normals are reused in place unless another entry holds the same
  // array (the positions, say): clearing it would wipe what is still read.
  int holders = 0;
  for (const PVData& d : mData) holders += existing != nullptr && d.data == existing->data;
  EngineArray fresh;
  void* array = nullptr;
  if (existing != nullptr && existing->data != nullptr && existing->type == kTypeFloat3 && holders <= 1) {
    array = existing->data;
    std::memset(array, 0, static_cast<std::size_t>(mNumVertices) * sizeof(Vector3f));
  } else {
    fresh = AllocateArray(static_cast<std::uint64_t>(mNumVertices), sizeof(Vector3f));
    array = fresh.get();
  }
  auto* normals = static_cast<Vector3f*>(array);

  for (int k = 0; k + 2 < mNumIndices; k += 3) {
    const int i0 = Index(k), i1 = Index(k + 1), i2 = Index(k + 2);
    const Vector3f p0 = P[i0];
    const Vector3f n = (P[i1] - p0) ^ (P[i2] - p0);
    normals[i0] += n;
    normals[i1] += n;
    normals[i2] += n;
  }
  for (int v = 0; v < mNumVertices; ++v) normals[v].Normalize();

  fresh.release();
  Add(PVData{kUsageNormal, kTypeFloat3, 0, array});
}

void LoadMesh::GenerateTangentFrame(const std::wstring& name) {
  const std::string narrow = ToNarrow(name);
  ENGINE_MESSAGE("Generating TBN Matrix for " + narrow);
  PVData* positions = GetData(MeshData::Positions);
  if (positions == nullptr || positions->data == nullptr) {
    ENGINE_ERROR("Could not generate tangent space matrix without vertices in " + narrow);
  }
  PVData* texCoords = GetData(MeshData::TexCoords);
  if (texCoords == nullptr || texCoords->data == nullptr) {
    ENGINE_ERROR("Could not generate tangent space matrix without uv coordinates in " + narrow);
  }
  ValidateTriangles();
  const PositionView P(*positions, "positions");
  const UVView T(*texCoords, "texture coordinates");

  EngineArray tangentArray = AllocateArray(static_cast<std::uint64_t>(mNumVertices), sizeof(Vector3f));
  EngineArray binormalArray = AllocateArray(static_cast<std::uint64_t>(mNumVertices), sizeof(Vector3f));
  EngineArray normalArray = AllocateArray(static_cast<std::uint64_t>(mNumVertices), sizeof(Vector3f));
  auto* tangents = static_cast<Vector3f*>(tangentArray.get());
  auto* binormals = static_cast<Vector3f*>(binormalArray.get());
  auto* normals = static_cast<Vector3f*>(normalArray.get());

  for (int k = 0; k + 2 < mNumIndices; k += 3) {
    const int i0 = Index(k), i1 = Index(k + 1), i2 = Index(k + 2);
    const Vector3f p0 = P[i0];
    const Vector3f e1 = P[i1] - p0, e2 = P[i2] - p0;
    const UV t0 = T[i0], t1 = T[i1], t2 = T[i2];
    const float d1u = t1.u - t0.u, d1v = t1.v - t0.v;
    const float d2u = t2.u - t0.u, d2v = t2.v - t0.v;
    const double det = static_cast<double>(d2u * d1v - d1u * d2v);
    if (!(std::fabs(det) > 1e-6)) {
      ENGINE_WARNING("Skipped a vertex when generating TBN Matrix");
      continue;
    }
    const auto r = static_cast<float>(1.0 / det);
    Vector3f t = (d1v * e2 - d2v * e1) * r;
    Vector3f b = (d1u * e2 - d2u * e1) * r;
    Vector3f n = b ^ t;
    t.Normalize();
    b.Normalize();
    n.Normalize();
    for (const int i : {i0, i1, i2}) {
      tangents[i] += t;
      binormals[i] += b;
      normals[i] += n;
    }
  }
  for (int v = 0; v < mNumVertices; ++v) {
    tangents[v].Normalize();
    binormals[v].Normalize();
    normals[v].Normalize();
  }

  Add(PVData{kUsageNormal, kTypeFloat3, 0, normalArray.release()});
  Add(PVData{kUsageTangent, kTypeFloat3, 0, tangentArray.release()});
  Add(PVData{kUsageBinormal, kTypeFloat3, 0, binormalArray.release()});
}

namespace {

// The x-bucket of the welding pass: 1002 buckets over [lo, hi] with open
// ends. Non-finite arithmetic lands in a fixed bucket instead of an
// undefined conversion.
int XBucket(float x, float lo, float hi, float scale) {
  if (x < lo) return 0;
  if (x > hi) return 1001;
  const float t = (x - lo) * scale;
  if (!(t >= 0.0f)) return 1;
  if (t >= 1000.0f) return 1001;
  return 1 + static_cast<int>(t);
}

// Cell of a fine grid whose cells are wider than the welding distance, so
// that every vertex within that distance lies in one of the 27 cells around.
constexpr double kCell = 0.0317;  // > sqrt(0.001)

std::int64_t CellCoordinate(float v) {
  const double c = std::floor(static_cast<double>(v) / kCell);
  const double limit = 1e15;
  return static_cast<std::int64_t>(c < -limit ? -limit : (c > limit ? limit : c));
}

// Cells packed into 21 bits per axis. Far-apart cells may share a key; that
// only adds candidates, which the exact tests then reject, and neighbours
// stay neighbours because the packing wraps.
std::uint64_t CellKey(std::int64_t x, std::int64_t y, std::int64_t z) {
  constexpr std::uint64_t kMask = (1u << 21) - 1;
  return ((static_cast<std::uint64_t>(x) & kMask) << 42) |
         ((static_cast<std::uint64_t>(y) & kMask) << 21) | (static_cast<std::uint64_t>(z) & kMask);
}

// Open-addressing map from a cell key to its run in the sorted vertex list.
class CellRuns {
 public:
  explicit CellRuns(std::size_t cells) {
    std::size_t size = 16;
    while (size < cells * 2) size *= 2;
    mSlots.assign(size, Slot{});
    mMask = size - 1;
  }
  void Insert(std::uint64_t key, std::uint32_t begin, std::uint32_t end) {
    std::size_t i = Hash(key) & mMask;
    while (mSlots[i].end != 0) i = (i + 1) & mMask;
    mSlots[i] = Slot{key, begin, end};
  }
  // The run [begin, end) of key; empty when the cell holds no vertex.
  std::pair<std::uint32_t, std::uint32_t> Find(std::uint64_t key) const {
    for (std::size_t i = Hash(key) & mMask; mSlots[i].end != 0; i = (i + 1) & mMask) {
      if (mSlots[i].key == key) return {mSlots[i].begin, mSlots[i].end};
    }
    return {0, 0};
  }

 private:
  struct Slot {
    std::uint64_t key = 0;
    std::uint32_t begin = 0;
    std::uint32_t end = 0;  // 0 marks an empty slot: runs never end at 0
  };
  static std::size_t Hash(std::uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdull;
    key ^= key >> 33;
    return static_cast<std::size_t>(key);
  }
  std::vector<Slot> mSlots;
  std::size_t mMask = 0;
};

}  // namespace

void LoadMesh::OptimizeMesh(float angle) {
  ENGINE_MESSAGE("Optimizing mesh");
  PVData* positions = GetData(MeshData::Positions);
  if (positions == nullptr || positions->data == nullptr || mNumVertices <= 0) {
    ENGINE_WARNING("Can not optimize a mesh with 0 vertices");
    return;
  }
  ValidateTriangles();
  bool generated = false;
  if (!IsAvailable(MeshData::Normals)) {
    GenerateNormals();
    generated = true;
  }
  const PositionView P(*GetData(MeshData::Positions), "positions");
  const View<Vector3f> N(*GetData(MeshData::Normals), "normals");
  UVView T;
  if (const PVData* uv = GetData(MeshData::TexCoords)) T = UVView(*uv, "texture coordinates");
  const float c = std::cos(angle * 3.1415927f * 0.0055555557f);

  float lo = 1000.0f, hi = -1000.0f;
  for (int v = 0; v < mNumVertices; ++v) {
    const float x = P[v].x;
    if (x < lo) lo = x;
    if (x > hi) hi = x;
  }
  const float scale = 1000.0f / (std::fabs(lo) + std::fabs(hi));

  // A welded index depends only on the vertex it held: among the vertices in
  // the same x-bucket that pass the three tests, the one used first. The
  // grid finds the candidates without walking the whole bucket.
  std::vector<int> firstUse(static_cast<std::size_t>(mNumVertices), -1);
  std::vector<int> used;
  for (int k = 0; k < mNumIndices; ++k) {
    const int v = Index(k);
    if (firstUse[v] < 0) {
      firstUse[v] = k;
      used.push_back(v);
    }
  }
  // Vertices with finite positions, sorted by cell: each cell is one run.
  // (A vertex with a non-finite coordinate fails the distance test even
  // against itself and keeps its index.)
  std::vector<int> bucket(static_cast<std::size_t>(mNumVertices), 0);
  struct Entry {
    std::uint64_t key;
    std::int64_t x, y, z;
    int vertex;
  };
  std::vector<Entry> sorted;
  sorted.reserve(used.size());
  for (const int v : used) {
    const Vector3f p = P[v];
    bucket[v] = XBucket(p.x, lo, hi, scale);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
    const std::int64_t x = CellCoordinate(p.x), y = CellCoordinate(p.y), z = CellCoordinate(p.z);
    sorted.push_back({CellKey(x, y, z), x, y, z, v});
  }
  std::sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.vertex < b.vertex;
  });
  struct Run {
    std::uint32_t begin, end;
  };
  std::vector<Run> cells;
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t j = i;
    while (j < sorted.size() && sorted[j].key == sorted[i].key) ++j;
    cells.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)});
    i = j;
  }
  CellRuns runs(cells.size());
  for (const Run& run : cells) runs.Insert(sorted[run.begin].key, run.begin, run.end);

  std::vector<int> weld(static_cast<std::size_t>(mNumVertices));
  for (const int v : used) weld[v] = v;
  std::vector<int> candidates;
  for (const Run& run : cells) {
    // The candidates of every vertex of this cell: the 27 cells around it.
    candidates.clear();
    const Entry& home = sorted[run.begin];
    for (std::int64_t dx = -1; dx <= 1; ++dx) {
      for (std::int64_t dy = -1; dy <= 1; ++dy) {
        for (std::int64_t dz = -1; dz <= 1; ++dz) {
          const auto found = runs.Find(CellKey(home.x + dx, home.y + dy, home.z + dz));
          for (std::uint32_t i = found.first; i < found.second; ++i) {
            candidates.push_back(sorted[i].vertex);
          }
        }
      }
    }
    for (std::uint32_t i = run.begin; i < run.end; ++i) {
      const int v = sorted[i].vertex;
      const Vector3f pv = P[v];
      const Vector3f nv = N[v];
      int best = v;
      int bestUse = -1;
      for (const int w : candidates) {
        if (bucket[w] != bucket[v]) continue;
        if (bestUse >= 0 && firstUse[w] >= bestUse) continue;
        if ((pv - P[w]).MagSquared() >= 0.001f) continue;
        if (T) {
          const UV a = T[v], b = T[w];
          const float du = a.u - b.u, dv = a.v - b.v;
          if (!(du * du + dv * dv < 0.001f)) continue;
        }
        if (!(Dot(nv, N[w]) > c)) continue;
        best = w;
        bestUse = firstUse[w];
      }
      weld[v] = best;
    }
  }
  for (int k = 0; k < mNumIndices; ++k) SetIndex(k, weld[Index(k)]);

  if (generated) {
    Delete(MeshData::Normals);
  } else {
    GenerateNormals();
  }
}

// --- GPU mesh ---------------------------------------------------------------

Mesh::Mesh(const std::wstring& path) : core::UnmanagedResource(path) {
  mLoadMesh = new LoadVLXMesh(path);
  try {
    mEffect = EffectPool::Get()->GenerateEffect(ToNarrow(path) + ".efx");
  } catch (...) {
    mLoadMesh->DestroyItself();
    mLoadMesh = nullptr;
    throw;
  }
}

Mesh::Mesh(LoadMesh* mesh, boost::shared_ptr<Effect> effect)
    : core::UnmanagedResource(L""), mLoadMesh(mesh), mEffect(std::move(effect)) {}

Mesh::~Mesh() {
  ENGINE_MESSAGE("Destroying " + ToNarrow(mName) + " mesh");
  ReleaseDeviceObjects();
  if (mLoadMesh != nullptr) mLoadMesh->DestroyItself();
}

void Mesh::ReleaseDeviceObjects() {
  if (mDeclaration != nullptr) mDeclaration->Release();
  if (mVertexBuffer != nullptr) mVertexBuffer->Release();
  if (mIndexBuffer != nullptr) mIndexBuffer->Release();
  mDeclaration = nullptr;
  mVertexBuffer = nullptr;
  mIndexBuffer = nullptr;
}

void Mesh::Create() {
  if (mLoadMesh == nullptr) ENGINE_ERROR("Mesh " + ToNarrow(mName) + " has no data");
  ReleaseDeviceObjects();
  LoadMesh& m = *mLoadMesh;
  const std::set<int> streams = mEffect ? mEffect->Streams() : std::set<int>();
  bool normals = false, tangents = false;
  for (const int stream : {kStreamPos, kStreamNormal, kStreamTex, kStreamTbn}) {
    if (streams.count(stream) == 0) continue;
    if (stream == kStreamPos && !m.IsAvailable(MeshData::Positions)) {
      ENGINE_ERROR("Effect requires vertex coordinates, not found in .vlx mesh " + ToNarrow(mName));
    }
    if (stream == kStreamNormal) normals = true;
    if (stream == kStreamTex && !m.IsAvailable(MeshData::TexCoords)) {
      ENGINE_ERROR("Effect requires texture coordinates, not found in .vlx mesh " + ToNarrow(mName));
    }
    if (stream == kStreamTbn) tangents = true;
    if (tangents) {
      m.GenerateTangentFrame(mName);
    } else if (normals && !m.IsAvailable(MeshData::Normals)) {
      m.GenerateNormals();
    }
  }
  // The mesh releases the array itself.
  if (streams.count(kStreamNormal) == 0 && m.IsAvailable(MeshData::Normals)) m.Delete(MeshData::Normals);

  std::vector<platform::VertexElement> elements;
  std::vector<int> offsets;
  int stride = 0;
  for (unsigned i = 0; i < m.NumData(); ++i) {
    const PVData* d = m.GetData(i);
    offsets.push_back(stride);
    elements.push_back({0, static_cast<std::uint16_t>(stride), static_cast<std::uint8_t>(d->type),
                        platform::kDeclMethodDefault, static_cast<std::uint8_t>(d->usage),
                        static_cast<std::uint8_t>(d->usageIndex)});
    stride += ElementSize(d->type);
  }
  elements.push_back(platform::kDeclEnd);
  platform::Device* device = core::CWin32Window::Get()->Device();
  if (device == nullptr || platform::Failed(device->CreateVertexDeclaration(elements.data(), &mDeclaration))) {
    mDeclaration = nullptr;
    ENGINE_ERROR("Creating vertex declaration failed");
  }
  const int vertices = m.NumVertices();
  const std::uint64_t vertexBytes = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(vertices);
  if (vertexBytes > 0xFFFFFFFFull ||
      platform::Failed(device->CreateVertexBuffer(
          static_cast<std::uint32_t>(std::max<std::uint64_t>(vertexBytes, 1)), platform::kUsageWriteOnly,
          0, platform::kPoolDefault, &mVertexBuffer, nullptr))) {
    mVertexBuffer = nullptr;
    ENGINE_ERROR("Creating vertex buffer failed");
  }
  void* data = nullptr;
  if (vertexBytes > 0 && mVertexBuffer->Lock(0, 0, &data, 0) == platform::kOk) {
    auto* out = static_cast<std::uint8_t*>(data);
    for (unsigned j = 0; j < m.NumData(); ++j) {
      const PVData* d = m.GetData(j);
      const int size = ElementSize(d->type);
      const auto* in = static_cast<const std::uint8_t*>(d->data);
      for (int i = 0; i < vertices; ++i) {
        std::memcpy(out + static_cast<std::size_t>(i) * static_cast<std::size_t>(stride) + static_cast<std::size_t>(offsets[j]),
                    in + static_cast<std::size_t>(i) * static_cast<std::size_t>(size), static_cast<std::size_t>(size));
      }
    }
    mVertexBuffer->Unlock();
  }
  const int indexStride = m.IndexStride();
  const std::uint64_t indexBytes = static_cast<std::uint64_t>(indexStride) * static_cast<std::uint64_t>(m.NumIndices());
  if (indexBytes > 0xFFFFFFFFull ||
      platform::Failed(device->CreateIndexBuffer(
          static_cast<std::uint32_t>(std::max<std::uint64_t>(indexBytes, 4)), platform::kUsageWriteOnly,
          indexStride == 2 ? platform::kFormatIndex16 : platform::kFormatIndex32,
          platform::kPoolDefault, &mIndexBuffer, nullptr))) {
    mIndexBuffer = nullptr;
    ENGINE_ERROR("Creating index buffer failed");
  }
  if (indexBytes > 0 && m.Indices() != nullptr && mIndexBuffer->Lock(0, 0, &data, 0) == platform::kOk) {
    std::memcpy(data, m.Indices(), static_cast<std::size_t>(indexBytes));
    mIndexBuffer->Unlock();
  }
  mNumTriangles = m.NumIndices() / 3;
  mIndex32 = indexStride == 4;
  mVertexStride = stride;
  mNumVertices = vertices;
  mPrimitiveType = 4;

  ENGINE_MESSAGE("Computing bounding sphere for " + ToNarrow(mName));
  mCenter = math::Vector3f(0, 0, 0);
  mRadius = 0;
  if (const PVData* positions = m.GetData(MeshData::Positions); positions != nullptr && vertices > 0) {
    const auto* p = static_cast<const float*>(positions->data);
    const float scale = 1.0f / static_cast<float>(vertices);
    for (int i = 0; i < vertices; ++i) {
      mCenter += math::Vector3f(p[3 * i], p[3 * i + 1], p[3 * i + 2]) * scale;
    }
    for (int i = 0; i < vertices; ++i) {
      mRadius = std::max(mRadius, math::Vector3f::Dist(mCenter, math::Vector3f(p[3 * i], p[3 * i + 1], p[3 * i + 2])));
    }
  }
}

void Mesh::Destroy() {
  if (mLoadMesh != nullptr) mLoadMesh->DestroyItself();
  mLoadMesh = nullptr;
}

void Mesh::Update() {}

void Mesh::ReplaceData(LoadMesh* mesh) {
  LoadMesh* old = std::exchange(mLoadMesh, mesh);
  try {
    Create();
  } catch (const core::Exception&) {
    mLoadMesh = old;
    mesh->DestroyItself();
    Create();
    throw;
  }
  if (old != nullptr) old->DestroyItself();
}

void Mesh::ReplaceEffect(boost::shared_ptr<Effect> effect) {
  boost::shared_ptr<Effect> old = std::move(mEffect);
  mEffect = std::move(effect);
  try {
    Create();
  } catch (const core::Exception&) {
    mEffect = std::move(old);
    Create();
    throw;
  }
}

void Mesh::OnLost() {
  ENGINE_MESSAGE("Lost mesh " + ToNarrow(mName));
  ReleaseDeviceObjects();
}

void Mesh::OnReset() {
  ENGINE_MESSAGE("Resetting mesh " + ToNarrow(mName));
  Create();
}

boost::shared_ptr<RenderObject> Mesh::GetRenderObject() {
  boost::shared_ptr<RenderObject> object(new RenderObject);
  object->mVertexCount = mNumVertices;
  object->mPrimitiveCount = mNumTriangles;
  object->mDeclaration = mDeclaration;
  object->mVertexBuffer = mVertexBuffer;
  object->mIndexBuffer = mIndexBuffer;
  object->mEffect = mEffect;
  object->mPrimitiveType = mPrimitiveType;
  object->mStride = mVertexStride;
  object->mName = &mName;
  return object;
}

void Mesh::AdvanceAnimation(float) {}
void Mesh::ResetAnimation() {}

boost::shared_ptr<Mesh> Mesh::CreateQuad(boost::shared_ptr<Effect> effect) {
  boost::shared_ptr<Mesh> quad(new Mesh(new LoadVLXMesh(L"data/quad.vlx"), std::move(effect)));
  quad->mName = L"data/quad.vlx";
  core::ResourceManager::Get()->AddUnnamedUnmanaged(quad);
  quad->Create();
  return quad;
}

}  // namespace engine::gfx
