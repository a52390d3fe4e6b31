#include "engine/VLXMesh.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>

#include "engine/binaryReader.h"
#include "engine/logging.h"
#include "engine/memory.h"
#include "engine/strings.h"
#include "engine/wrapper.h"

namespace engine::gfx {
namespace {

constexpr std::int32_t kChunkBounds = 2;
constexpr std::int32_t kChunkPositions = 3;
constexpr std::int32_t kChunkIndices = 4;
constexpr std::int32_t kChunkNormals = 5;
constexpr std::int32_t kChunkTexCoords = 6;
constexpr std::int32_t kChunkEnd = 9;
// Written by the glTF importer: vertex colours (four floats, linear RGBA),
// a second texture coordinate set and tangents (xyz and the binormal's sign).
constexpr std::int32_t kChunkColours = 10;
constexpr std::int32_t kChunkTexCoords1 = 11;
constexpr std::int32_t kChunkTangents = 12;
constexpr std::int64_t kBoundsBytes = 24;

void Put(std::string& out, const void* p, std::size_t n) {
  out.append(static_cast<const char*>(p), n);
}
void PutInt(std::string& out, std::int32_t v) { Put(out, &v, sizeof v); }
void PutFloats(std::string& out, std::initializer_list<float> values) {
  for (float v : values) Put(out, &v, sizeof v);
}

}  // namespace

std::string DefaultQuadFile() {
  std::string f = "VLXM";
  PutInt(f, 1), PutInt(f, 8), PutInt(f, 2), PutInt(f, 0);
  PutInt(f, kChunkPositions), PutInt(f, 48);
  PutFloats(f, {1, 1, 0, -1, -1, 0, -1, 1, 0, 1, -1, 0});
  PutInt(f, kChunkTexCoords), PutInt(f, 32);
  PutFloats(f, {1, 0, 0, 1, 0, 0, 1, 1});
  PutInt(f, kChunkIndices), PutInt(f, 28), PutInt(f, 4);
  for (std::int32_t i : {0, 1, 2, 0, 3, 1}) PutInt(f, i);
  PutInt(f, kChunkEnd);
  PutInt(f, 0);
  return f;
}

LoadVLXMesh::LoadVLXMesh(const std::wstring& path) {
  const std::string narrow = ToNarrow(path);
  if (path == L"data/quad.vlx") {
    // Written fresh every time, whatever the file held before; a missing
    // data directory surfaces as "mesh not found" below.
    if (std::FILE* file = std::fopen("data/quad.vlx", "wb")) {
      const std::string quad = DefaultQuadFile();
      std::fwrite(quad.data(), 1, quad.size(), file);
      std::fclose(file);
    }
  }
  ENGINE_MESSAGE("Loading .vlx mesh " + narrow);
  {
    io::BinaryReader reader(narrow);
    if (!reader.Ok()) ENGINE_ERROR(narrow + " mesh not found");
    Load(reader, narrow);
  }
  if (mNumIndices < 1) ENGINE_ERROR(L"Number of indices in mesh " + path + L" <= 0");
}

LoadVLXMesh::LoadVLXMesh(const void* data, std::size_t size, const std::wstring& name) {
  const std::string narrow = ToNarrow(name);
  io::BinaryReader reader(data, size);
  Load(reader, narrow);
  if (mNumIndices < 1) ENGINE_ERROR(L"Number of indices in mesh " + name + L" <= 0");
}

void LoadVLXMesh::Load(io::BinaryReader& reader, const std::string& name) {
  char magic[4];
  if (!reader.Read(magic, 4) || std::memcmp(magic, "VLXM", 4) != 0) {
    ENGINE_ERROR(name + " is not a .vlx mesh");
  }
  auto corrupt = [&name](const std::string& why) { ENGINE_ERROR(name + " is corrupt: " + why); };

  // Elements actually stored per usage, to check them against the vertex
  // count once all chunks are read.
  std::map<std::pair<int, int>, std::uint64_t> stored;  // (usage, usage index)
  auto readArray = [&](std::int32_t size, int elementBytes, int usage, int type,
                       int usageIndex = 0) {
    const std::uint64_t count = static_cast<std::uint64_t>(size) / elementBytes;
    EngineArray array = AllocateArray(count, elementBytes);
    if (!reader.Read(array.get(), count * elementBytes) ||
        !reader.Skip(static_cast<std::uint64_t>(size) - count * elementBytes)) {
      corrupt("a chunk runs past the end of the file");
    }
    Add(PVData{usage, type, usageIndex, array.release()});
    stored[{usage, usageIndex}] = count;
    return count;
  };

  for (;;) {
    std::int32_t id = 0, size = 0;
    if (!reader.ReadInt32(id)) corrupt("the file ends before its end chunk");
    if (id == kChunkEnd) break;
    if (!reader.ReadInt32(size)) corrupt("the file ends before its end chunk");
    if (size < 0) corrupt("a chunk has a negative size");
    if (id != kChunkBounds && static_cast<std::uint64_t>(size) > reader.Remaining()) {
      corrupt("a chunk runs past the end of the file");
    }
    switch (id) {
      case kChunkBounds:
        // Always six values, whatever the size field says.
        if (!reader.Skip(kBoundsBytes)) corrupt("the bounds chunk is truncated");
        break;
      case kChunkPositions:
        mNumVertices = static_cast<int>(readArray(size, 12, 0, 2));
        break;
      case kChunkNormals:
        readArray(size, 12, 3, 2);
        break;
      case kChunkTexCoords:
        readArray(size, 8, 5, 1);
        break;
      case kChunkTexCoords1:
        readArray(size, 8, 5, 1, 1);
        break;
      case kChunkColours:
        readArray(size, 16, 10, 3);
        break;
      case kChunkTangents:
        readArray(size, 16, 6, 3);
        break;
      case kChunkIndices: {
        std::int32_t stride = 0;
        if (size < 4 || !reader.ReadInt32(stride)) corrupt("the index chunk is truncated");
        if (stride != 2 && stride != 4) {
          corrupt("unsupported index stride " + std::to_string(stride));
        }
        const std::uint64_t payload = static_cast<std::uint64_t>(size) - 4;
        const std::uint64_t count = payload / stride;
        EngineArray indices = AllocateArray(count, stride);
        if (!reader.Read(indices.get(), count * stride) || !reader.Skip(payload - count * stride)) {
          corrupt("a chunk runs past the end of the file");
        }
        mIndexStride = stride;
        mNumIndices = static_cast<int>(count);
        Indices(static_cast<short*>(indices.release()));
        break;
      }
      default:
        reader.Skip(static_cast<std::uint64_t>(size));
        break;
    }
  }

  // Arrays shorter than the position count would be read past their end by
  // every later step; they are padded with zeros.
  for (unsigned i = 0; i < NumData(); ++i) {
    PVData d = *GetData(i);
    const std::uint64_t have = stored[{d.usage, d.usageIndex}];
    if (have >= static_cast<std::uint64_t>(mNumVertices)) continue;
    const int bytes = ElementSize(d.type);
    EngineArray padded = AllocateArray(static_cast<std::uint64_t>(mNumVertices), bytes);
    std::memcpy(padded.get(), d.data, static_cast<std::size_t>(have) * bytes);
    d.data = padded.release();
    Add(d);
  }
  const int k = FirstBadIndex();
  if (k >= 0) {
    corrupt("index " + std::to_string(k) + " refers to vertex " + std::to_string(Index(k)) +
            " of " + std::to_string(mNumVertices));
  }
}

}  // namespace engine::gfx
