// Per-vertex arrays and the mesh cache format.
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "engine/VLXMesh.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/wrapper.h"
#include "mesh_test_support.h"
#include "test_support.h"

using engine::core::Exception;
using engine::gfx::LoadMesh;
using engine::gfx::LoadVLXMesh;
using engine::gfx::PVData;
namespace MeshData = engine::gfx::MeshData;
using namespace velox_test;

namespace {

void* Floats(int count) { return engine::AllocateMemory(static_cast<unsigned>(count * 4)); }

class MeshTest : public ::testing::Test {
 protected:
  void SetUp() override { CloseLog(); }  // a fresh log in this test's folder
  std::string Rows() { return CloseLogAndReadRows(mDir.Path()); }
  ScopedWorkDir mDir;
};

TEST_F(MeshTest, NewMeshIsEmptyWithFourByteIndices) {
  LoadMesh* mesh = engine::CreateEmptyMesh(3, 6);
  EXPECT_EQ(mesh->NumVertices(), 3);
  EXPECT_EQ(mesh->NumIndices(), 6);
  EXPECT_EQ(mesh->IndexStride(), 4);
  EXPECT_EQ(mesh->Indices(), nullptr);
  EXPECT_EQ(mesh->NumData(), 0u);
  EXPECT_EQ(mesh->GetData(0u), nullptr);
  EXPECT_EQ(mesh->GetData(MeshData::Positions), nullptr);
  mesh->DestroyItself();
}

TEST_F(MeshTest, AddReplacesTheSameUsageAndSetAndIndexesOnlyThreeKinds) {
  LoadMesh mesh;
  mesh.NumVertices(2);
  mesh.Add(PVData{0, 2, 0, Floats(6)});
  void* wider = Floats(8);
  mesh.Add(PVData{0, 3, 0, wider});  // same usage and set: replaced in place
  EXPECT_EQ(mesh.NumData(), 1u);
  EXPECT_EQ(mesh.GetData(0u)->type, 3);
  EXPECT_EQ(mesh.GetData(MeshData::Positions)->type, 3);
  EXPECT_EQ(mesh.GetData(MeshData::Positions)->data, wider);

  mesh.Add(PVData{5, 1, 1, Floats(4)});  // second texture set
  EXPECT_EQ(mesh.NumData(), 2u);
  EXPECT_FALSE(mesh.IsAvailable(MeshData::TexCoords));
  mesh.Add(PVData{6, 2, 0, Floats(6)});  // tangents live in the list only
  EXPECT_EQ(mesh.NumData(), 3u);
  EXPECT_FALSE(mesh.IsAvailable(MeshData::Tangents));
  EXPECT_EQ(mesh.GetData(MeshData::Tangents), nullptr);
  mesh.Add(PVData{5, 1, 0, Floats(4)});
  EXPECT_TRUE(mesh.IsAvailable(MeshData::TexCoords));
  EXPECT_EQ(mesh.GetData(3u)->usageIndex, 0);

  EXPECT_EQ(Count(Rows(), "Data types do not match"), 1);
}

TEST_F(MeshTest, DeleteRemovesOnlyItsKind) {
  LoadMesh mesh;
  mesh.NumVertices(1);
  mesh.Add(PVData{0, 2, 0, Floats(3)});
  mesh.Add(PVData{5, 1, 0, Floats(2)});
  mesh.Add(PVData{5, 1, 1, Floats(2)});
  mesh.Add(PVData{6, 2, 0, Floats(3)});
  mesh.Delete(MeshData::Normals);  // none there: nothing changes
  EXPECT_EQ(mesh.NumData(), 4u);
  mesh.Delete(MeshData::TexCoords);  // set 0 only
  EXPECT_EQ(mesh.NumData(), 3u);
  EXPECT_FALSE(mesh.IsAvailable(MeshData::TexCoords));
  EXPECT_EQ(mesh.GetData(1u)->usageIndex, 1);
  mesh.Delete(MeshData::Tangents);
  EXPECT_EQ(mesh.NumData(), 2u);
  EXPECT_THROW(mesh.Delete(static_cast<MeshData::DataTypes>(9)), Exception);
  EXPECT_NE(Rows().find("Could not determine data type"), std::string::npos);
}

TEST_F(MeshTest, DeleteAllKeepsCountsAndIndices) {
  LoadMesh* mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}, {{0, 0}, {1, 0}, {0, 1}});
  short* indices = mesh->Indices();
  mesh->DeleteAll();
  EXPECT_EQ(mesh->NumData(), 0u);
  EXPECT_FALSE(mesh->IsAvailable(MeshData::Positions));
  EXPECT_EQ(mesh->NumVertices(), 3);
  EXPECT_EQ(mesh->NumIndices(), 3);
  EXPECT_EQ(mesh->Indices(), indices);
  mesh->DestroyItself();
}

TEST_F(MeshTest, OneArrayUnderTwoUsagesIsFreedOnce) {
  // Run under the sanitizers this would report a double free or a leak.
  auto* mesh = new LoadMesh;
  mesh->NumVertices(1);
  void* shared = Floats(3);
  mesh->Add(PVData{3, 2, 0, shared});
  mesh->Add(PVData{6, 2, 0, shared});
  mesh->Delete(MeshData::Normals);  // still held as tangents
  EXPECT_EQ(mesh->GetData(0u)->data, shared);
  mesh->Add(PVData{7, 2, 0, shared});
  mesh->DestroyItself();
}

TEST_F(MeshTest, UnknownElementTypeIsAnError) {
  for (int type : {4, 6, -1, 17}) {
    EXPECT_THROW(engine::gfx::ElementSize(type), Exception) << type;
  }
  EXPECT_EQ(engine::gfx::ElementSize(5), 4);
  EXPECT_EQ(engine::gfx::ElementSize(3), 16);
  EXPECT_NE(Rows().find("Unrecognized per vertex data type"), std::string::npos);
}

// --- Cache files -------------------------------------------------------------

TEST_F(MeshTest, DefaultQuadCacheIs144BytesAndRoundTrips) {
  LoadVLXMesh quad(L"data/quad.vlx");
  quad.Serialize("data/quad.serial");
  const std::string file = ReadFile("data/quad.serial");
  ASSERT_EQ(file.size(), 144u);
  // Counts, then the usage index before the type before the usage.
  const std::string head = Bytes().Int(4).Int(6).Int(4).str();
  EXPECT_EQ(file.substr(0, 12), head);
  EXPECT_EQ(file.substr(36, 4 + 12), Bytes().Int(2).Int(0).Int(2).Int(0).str());

  LoadMesh* copy = engine::CreateEmptyMesh(0, 0);
  ASSERT_TRUE(copy->Deserialize("data/quad.serial"));
  EXPECT_EQ(copy->NumVertices(), 4);
  EXPECT_EQ(copy->NumIndices(), 6);
  EXPECT_EQ(copy->IndexStride(), 4);
  EXPECT_EQ(IndicesOf(*copy), IndicesOf(quad));
  ASSERT_EQ(copy->NumData(), 2u);
  EXPECT_TRUE(copy->IsAvailable(MeshData::Positions));
  EXPECT_TRUE(copy->IsAvailable(MeshData::TexCoords));
  EXPECT_EQ(ArrayOf<float>(*copy, copy->GetData(0u)), ArrayOf<float>(quad, quad.GetData(0u)));
  EXPECT_EQ(ArrayOf<UV2>(*copy, copy->GetData(MeshData::TexCoords))[3].v, 1.0f);
  // The copy serializes to the same bytes.
  copy->Serialize("data/copy.serial");
  EXPECT_EQ(ReadFile("data/copy.serial"), file);
  copy->DestroyItself();
}

TEST_F(MeshTest, TangentFrameSurvivesTheCacheInOrder) {
  LoadVLXMesh quad(L"data/quad.vlx");
  quad.GenerateTangentFrame(L"quad");
  quad.Serialize("data/tbn.serial");
  LoadMesh copy;
  ASSERT_TRUE(copy.Deserialize("data/tbn.serial"));
  ASSERT_EQ(copy.NumData(), quad.NumData());
  for (unsigned i = 0; i < quad.NumData(); ++i) {
    EXPECT_EQ(copy.GetData(i)->usage, quad.GetData(i)->usage);
    EXPECT_EQ(ArrayOf<float>(copy, copy.GetData(i)), ArrayOf<float>(quad, quad.GetData(i)));
  }
  EXPECT_EQ(copy.GetData(4u)->usage, 7);  // binormals last
}

TEST_F(MeshTest, MeshWithoutArraysIsSixteenBytesPlusIndices) {
  LoadMesh mesh;
  mesh.NumIndices(3);
  mesh.Indices(static_cast<short*>(EngineCopy(std::vector<int>{0, 0, 0})));
  mesh.Serialize("data/bare.serial");
  EXPECT_EQ(ReadFile("data/bare.serial").size(), 16u + 12u);
}

TEST_F(MeshTest, MissingCacheReturnsFalseAndLogsOnlyTheAttempt) {
  LoadMesh mesh;
  EXPECT_FALSE(mesh.Deserialize("data/serial/none.serial"));
  EXPECT_EQ(mesh.NumData(), 0u);
  const std::string rows = Rows();
  EXPECT_EQ(Count(rows, "<tr"), 1);
  EXPECT_NE(rows.find("Deserializing mesh data/serial/none.serial"), std::string::npos);
}

TEST_F(MeshTest, SerializeIntoAMissingFolderFailsAndLeavesNothing) {
  LoadVLXMesh quad(L"data/quad.vlx");
  EXPECT_THROW(quad.Serialize("data/serial/quad.serial"), Exception);
  EXPECT_FALSE(std::filesystem::exists("data/serial"));

  // An unknown element type fails before a byte is written, and an earlier
  // good cache of the same name stays as it was.
  quad.Serialize("data/quad.serial");
  const std::string good = ReadFile("data/quad.serial");
  quad.Add(PVData{8, 4, 0, Floats(4)});
  EXPECT_THROW(quad.Serialize("data/quad.serial"), Exception);
  EXPECT_EQ(ReadFile("data/quad.serial"), good);
  EXPECT_FALSE(std::filesystem::exists("data/quad.serial.tmp"));
}

TEST_F(MeshTest, EveryTruncationOfACacheIsRejectedAndLeavesTheMeshAlone) {
  LoadVLXMesh quad(L"data/quad.vlx");
  quad.Serialize("data/quad.serial");
  const std::string file = ReadFile("data/quad.serial");
  for (std::size_t n = 0; n < file.size(); ++n) {
    LoadMesh mesh;
    EXPECT_FALSE(mesh.DeserializeFromMemory(file.data(), n)) << n;
    EXPECT_EQ(mesh.NumData(), 0u);
    EXPECT_EQ(mesh.NumVertices(), 0);
    EXPECT_EQ(mesh.Indices(), nullptr);
  }
  // A file cut short on disk as well.
  std::FILE* f = std::fopen("data/cut.serial", "wb");
  std::fwrite(file.data(), 1, 100, f);
  std::fclose(f);
  LoadMesh mesh;
  EXPECT_FALSE(mesh.Deserialize("data/cut.serial"));
}

TEST_F(MeshTest, CorruptCachesAreRejected) {
  const auto header = [](int vertices, int indices, int stride) {
    return Bytes().Int(vertices).Int(indices).Int(stride);
  };
  const std::string cases[] = {
      header(-1, 0, 4).Int(0).str(),                    // negative vertex count
      header(1, -3, 4).Int(0).str(),                    // negative index count
      header(1, 3, 3).Raw("123456789").Int(0).str(),    // stride neither 2 nor 4
      header(1, 0x7FFFFFFF, 4).str(),                   // indices past the end
      header(1, 3, 4).Int(0).Int(0).Int(5).Int(0).str(),  // index beyond the vertices
      header(1, 1, 2).Raw("\xff\xff").Int(0).str(),     // negative 16-bit index
      header(0x7FFFFFFF, 0, 4).Int(1).Int(0).Int(2).Int(0).str(),  // array past the end
      header(1, 0, 4).Int(0x7FFFFFFF).str(),            // absurd array count
      header(1, 0, 4).Int(1).Int(0).Int(4).Int(0).Raw("abcd").str(),  // unknown type
      header(1, 0, 4).Int(0).Raw("x").str(),            // trailing bytes
  };
  for (const std::string& c : cases) {
    LoadMesh mesh;
    EXPECT_FALSE(mesh.DeserializeFromMemory(c.data(), c.size()));
    EXPECT_EQ(mesh.NumData(), 0u);
  }
  // A good one of the same shape passes, so the cases above fail for their
  // own reason.
  const std::string good = header(1, 3, 4).Int(0).Int(0).Int(0).Int(1).Int(0).Int(2).Int(0)
                               .Floats({1, 2, 3}).str();
  LoadMesh mesh;
  EXPECT_TRUE(mesh.DeserializeFromMemory(good.data(), good.size()));
  EXPECT_TRUE(mesh.IsAvailable(MeshData::Positions));
}

}  // namespace
