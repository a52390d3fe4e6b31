// The chunked .vlx mesh reader.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "engine/VLXMesh.h"
#include "engine/logging.h"
#include "engine/strings.h"
#include "engine/wrapper.h"
#include "mesh_test_support.h"
#include "test_support.h"

using engine::core::Exception;
using engine::gfx::LoadMesh;
using engine::gfx::LoadVLXMesh;
namespace MeshData = engine::gfx::MeshData;
using namespace velox_test;

namespace {

std::string PositionsChunk() {
  return Bytes().Int(3).Int(36).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).str();
}
std::string TexCoordsChunk() { return Bytes().Int(6).Int(24).Floats({0, 0, 1, 0, 0, 1}).str(); }
std::string IndicesChunk() { return Bytes().Int(4).Int(16).Int(4).Int(0).Int(1).Int(2).str(); }
std::string End() { return Bytes().Int(9).str(); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::wstring ErrorText(const std::string& bytes) {
  try {
    LoadVLXMesh mesh(bytes.data(), bytes.size(), L"mem.vlx");
  } catch (const Exception& e) {
    return e.GetText();
  }
  return L"<loaded>";
}

class VlxTest : public ::testing::Test {
 protected:
  void SetUp() override { CloseLog(); }
  ScopedWorkDir mDir;
};

TEST_F(VlxTest, DefaultQuadIsWrittenFreshAndLoaded) {
  WriteFile("data/quad.vlx", "garbage that is not a mesh");
  LoadMesh* quad = engine::GetVLXMesh(L"data/quad.vlx");
  EXPECT_EQ(ReadFile("data/quad.vlx"), engine::gfx::DefaultQuadFile());
  EXPECT_EQ(engine::gfx::DefaultQuadFile().size(), 160u);
  EXPECT_EQ(quad->NumVertices(), 4);
  EXPECT_EQ(quad->NumIndices(), 6);
  EXPECT_EQ(quad->IndexStride(), 4);
  EXPECT_EQ(IndicesOf(*quad), (std::vector<int>{0, 1, 2, 0, 3, 1}));
  EXPECT_TRUE(quad->IsAvailable(MeshData::Positions));
  EXPECT_TRUE(quad->IsAvailable(MeshData::TexCoords));
  EXPECT_FALSE(quad->IsAvailable(MeshData::Normals));
  const auto p = ArrayOf<Vector3f>(*quad, quad->GetData(MeshData::Positions));
  EXPECT_EQ(p[1].x, -1.0f);
  EXPECT_EQ(p[2].y, 1.0f);
  quad->DestroyItself();

  const std::string rows = CloseLogAndReadRows(mDir.Path());
  EXPECT_NE(rows.find("<td>Loading .vlx mesh data/quad.vlx</td>"), std::string::npos);
}

TEST_F(VlxTest, ChunkOrderAndUnknownChunksDoNotMatter) {
  const std::string unknown = Bytes().Int(7).Int(20).Raw(std::string(20, '\x7f')).str();
  const std::string a = "VLXM" + PositionsChunk() + TexCoordsChunk() + IndicesChunk() + End();
  const std::string b =
      "VLXM" + IndicesChunk() + unknown + TexCoordsChunk() + PositionsChunk() + End();
  LoadVLXMesh first(a.data(), a.size(), L"a");
  LoadVLXMesh second(b.data(), b.size(), L"b");
  EXPECT_EQ(first.NumVertices(), second.NumVertices());
  EXPECT_EQ(IndicesOf(first), IndicesOf(second));
  EXPECT_EQ(ArrayOf<float>(first, first.GetData(MeshData::Positions)),
            ArrayOf<float>(second, second.GetData(MeshData::Positions)));
  EXPECT_EQ(ArrayOf<UV2>(first, first.GetData(MeshData::TexCoords))[1].u,
            ArrayOf<UV2>(second, second.GetData(MeshData::TexCoords))[1].u);
  // Positions first in the list in one, last in the other: the list keeps
  // the order of the file.
  EXPECT_EQ(first.GetData(0u)->usage, 0);
  EXPECT_EQ(second.GetData(1u)->usage, 0);
}

TEST_F(VlxTest, BoundsChunkIsAlwaysTwentyFourBytes) {
  // The size field of the bounds chunk is not used to skip.
  const std::string bounds = Bytes().Int(2).Int(999).Raw(std::string(24, '\0')).str();
  const std::string file = "VLXM" + bounds + PositionsChunk() + IndicesChunk() + End();
  LoadVLXMesh mesh(file.data(), file.size(), L"b");
  EXPECT_EQ(mesh.NumVertices(), 3);
}

TEST_F(VlxTest, SixteenBitIndices) {
  const std::string indices = Bytes().Int(4).Int(16).Int(2).str() + std::string("\0\0\1\0\2\0\2\0\1\0\0\0", 12);
  const std::string file = "VLXM" + PositionsChunk() + indices + End();
  LoadVLXMesh mesh(file.data(), file.size(), L"s");
  EXPECT_EQ(mesh.NumIndices(), 6);
  EXPECT_EQ(mesh.IndexStride(), 2);
  EXPECT_EQ(IndicesOf(mesh), (std::vector<int>{0, 1, 2, 2, 1, 0}));
}

TEST_F(VlxTest, ShortNormalsKeepThePositionCountAndArePadded) {
  const std::string normals = Bytes().Int(5).Int(12).Floats({0, 0, 1}).str();
  const std::string file = "VLXM" + PositionsChunk() + normals + IndicesChunk() + End();
  LoadVLXMesh mesh(file.data(), file.size(), L"n");
  EXPECT_EQ(mesh.NumVertices(), 3);
  const auto n = ArrayOf<Vector3f>(mesh, mesh.GetData(MeshData::Normals));  // 3 readable
  EXPECT_EQ(n[0].z, 1.0f);
  EXPECT_EQ(n[2].z, 0.0f);
  mesh.GenerateNormals();  // reuses the array: must be full length
}

TEST_F(VlxTest, FileErrorsNameThePath) {
  EXPECT_THROW(engine::GetVLXMesh(L"data/none.vlx"), Exception);
  WriteFile("data/bad.vlx", "VLXN" + End());
  try {
    LoadVLXMesh mesh(L"data/bad.vlx");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"data/bad.vlx is not a .vlx mesh");
  }
  WriteFile("data/empty.vlx", "VLXM" + PositionsChunk() + End());
  try {
    LoadVLXMesh mesh(L"data/empty.vlx");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"Number of indices in mesh data/empty.vlx <= 0");
  }
  const std::string rows = CloseLogAndReadRows(mDir.Path());
  EXPECT_NE(rows.find("<td>data/none.vlx mesh not found</td>"), std::string::npos);
  EXPECT_NE(rows.find("ERROR</td><td>"), std::string::npos);
  for (char c : std::string("VLXM")) {
    std::string magic = "VLXM";
    magic[magic.find(c)] ^= 0x20;
    EXPECT_EQ(ErrorText(magic + PositionsChunk() + IndicesChunk() + End()),
              L"mem.vlx is not a .vlx mesh");
  }
}

TEST_F(VlxTest, CorruptFilesStopWithAnError) {
  const std::string good = engine::gfx::DefaultQuadFile();
  // Every truncation before the end chunk.
  for (std::size_t n = 0; n < good.size() - 4; ++n) {
    EXPECT_NE(ErrorText(good.substr(0, n)), L"<loaded>") << n;
  }
  const std::string base = "VLXM" + PositionsChunk();
  const std::string bad[] = {
      base + Bytes().Int(4).Int(16).Int(3).Int(0).Int(0).Int(0).str() + End(),  // stride 3
      base + Bytes().Int(4).Int(16).Int(0).Int(0).Int(0).Int(0).str() + End(),  // stride 0
      base + Bytes().Int(4).Int(2).str() + End(),                   // index chunk too small
      base + Bytes().Int(4).Int(0x7FFFFFF0).Int(4).str() + End(),   // runs past the end
      base + Bytes().Int(3).Int(-12).str() + End(),                 // negative size
      base + Bytes().Int(7).Int(1 << 30).str(),                     // unknown chunk too big
      base + Bytes().Int(4).Int(16).Int(4).Int(0).Int(1).Int(3).str() + End(),  // index 3 of 3
      base + Bytes().Int(4).Int(16).Int(4).Int(0).Int(-1).Int(1).str() + End(),
      base + Bytes().Int(4).Int(10).Int(2).str() + std::string("\0\0\1\0\xff\xff", 6) + End(),  // negative short
      base + Bytes().Int(2).Int(24).Raw("short").str(),             // truncated bounds
      base + IndicesChunk(),                                        // no end chunk
  };
  for (const std::string& file : bad) {
    const std::wstring text = ErrorText(file);
    EXPECT_NE(text, L"<loaded>");
    EXPECT_EQ(text.rfind(L"mem.vlx", 0), 0u) << engine::ToNarrow(text);
  }
}

}  // namespace
