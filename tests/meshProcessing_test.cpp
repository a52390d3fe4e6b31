// Normals, tangent frames and welding.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/VLXMesh.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "mesh_test_support.h"
#include "test_support.h"

using engine::core::Exception;
using engine::gfx::LoadMesh;
using engine::gfx::LoadVLXMesh;
using engine::gfx::PVData;
namespace MeshData = engine::gfx::MeshData;
using namespace velox_test;

namespace {

// The welding pass exactly as designed: 1002 x-buckets filled with every use
// in index order, each index welded to the first passing entry of its bucket.
std::vector<int> ReferenceWeld(const std::vector<Vector3f>& P, const std::vector<Vector3f>& N,
                               const std::vector<UV2>& UV, std::vector<int> idx, float angle) {
  const float c = std::cos(angle * 3.1415927f * 0.0055555557f);
  float lo = 1000, hi = -1000;
  for (const auto& p : P) lo = std::min(lo, p.x), hi = std::max(hi, p.x);
  const float scale = 1000 / (std::fabs(lo) + std::fabs(hi));
  auto bucketOf = [&](float x) {
    if (x < lo) return 0;
    if (x > hi) return 1001;
    return 1 + static_cast<int>((x - lo) * scale);
  };
  std::vector<std::vector<int>> buckets(1002);
  for (int v : idx) buckets[static_cast<std::size_t>(bucketOf(P[v].x))].push_back(v);
  for (int& index : idx) {
    const int v = index;
    for (int w : buckets[static_cast<std::size_t>(bucketOf(P[v].x))]) {
      if ((P[v] - P[w]).MagSquared() >= 0.001f) continue;
      if (!UV.empty()) {
        const float du = UV[v].u - UV[w].u, dv = UV[v].v - UV[w].v;
        if (!(du * du + dv * dv < 0.001f)) continue;
      }
      if (!(N[v] * N[w] > c)) continue;
      index = w;
      break;
    }
  }
  return idx;
}

class MeshProcessingTest : public ::testing::Test {
 protected:
  void SetUp() override { CloseLog(); }
  std::string Rows() { return CloseLogAndReadRows(mDir.Path()); }
  ScopedWorkDir mDir;
};

TEST_F(MeshProcessingTest, FlatQuadNormalsFollowTheWinding) {
  LoadMesh* ccw = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 3});
  ccw->GenerateNormals();
  for (const auto& n : ArrayOf<Vector3f>(*ccw, ccw->GetData(MeshData::Normals))) {
    EXPECT_TRUE(n == Vector3f(0, 0, 1));
  }
  LoadMesh* cw = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 2, 1, 0, 3, 2});
  cw->GenerateNormals();
  for (const auto& n : ArrayOf<Vector3f>(*cw, cw->GetData(MeshData::Normals))) {
    EXPECT_TRUE(n == Vector3f(0, 0, -1));
  }
  // Run again: the array is reused, not grown.
  void* array = cw->GetData(MeshData::Normals)->data;
  cw->GenerateNormals();
  EXPECT_EQ(cw->GetData(MeshData::Normals)->data, array);
  EXPECT_EQ(cw->NumData(), 2u);
  ccw->DestroyItself();
  cw->DestroyItself();
}

// Normals that share their array with the positions get an array of their
// own; the positions are not cleared on the way.
TEST_F(MeshProcessingTest, NormalsSharingThePositionsArrayLeaveThePositionsAlone) {
  const std::vector<Vector3f> positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  LoadMesh* mesh = MakeMesh(positions, {0, 1, 2, 0, 2, 3});
  mesh->Add(PVData{3, 2, 0, mesh->GetData(MeshData::Positions)->data});
  mesh->GenerateNormals();
  const auto p = ArrayOf<Vector3f>(*mesh, mesh->GetData(MeshData::Positions));
  for (std::size_t i = 0; i < positions.size(); ++i) EXPECT_TRUE(p[i] == positions[i]) << i;
  for (const auto& n : ArrayOf<Vector3f>(*mesh, mesh->GetData(MeshData::Normals))) EXPECT_TRUE(n == Vector3f(0, 0, 1));
  mesh->DestroyItself();
}

TEST_F(MeshProcessingTest, LargerTrianglesWeighMoreInSharedNormals) {
  // Vertex 0 is shared by a big triangle facing +z and a small one facing +x.
  LoadMesh* mesh = MakeMesh({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0.1f, 0}, {0, 0, 0.1f}},
                            {0, 1, 2, 0, 3, 4});
  mesh->GenerateNormals();
  const auto n = ArrayOf<Vector3f>(*mesh, mesh->GetData(MeshData::Normals));
  EXPECT_GT(n[0].z, 0.99f);
  EXPECT_GT(n[0].x, 0.0f);
  mesh->DestroyItself();
}

TEST_F(MeshProcessingTest, TangentFrameOfTheQuadIsUnitLengthWithoutWarnings) {
  LoadVLXMesh quad(L"data/quad.vlx");
  quad.GenerateTangentFrame(L"data/quad.vlx");
  ASSERT_EQ(quad.NumData(), 5u);
  EXPECT_EQ(quad.GetData(3u)->usage, 6);
  EXPECT_EQ(quad.GetData(4u)->usage, 7);
  EXPECT_TRUE(quad.IsAvailable(MeshData::Normals));
  for (unsigned i = 2; i < 5; ++i) {
    for (const auto& v : ArrayOf<Vector3f>(quad, quad.GetData(i))) {
      EXPECT_NEAR(v.Mag(), 1.0f, 1e-5f) << i;
    }
  }
  // u grows along -x in this quad's mapping, v along -y.
  EXPECT_TRUE(ArrayOf<Vector3f>(quad, quad.GetData(3u))[0] == Vector3f(1, 0, 0) ||
              ArrayOf<Vector3f>(quad, quad.GetData(3u))[0] == Vector3f(-1, 0, 0));
  const std::string rows = Rows();
  EXPECT_EQ(Count(rows, "WARNING"), 0);
  EXPECT_EQ(Count(rows, "Generating TBN Matrix for data/quad.vlx"), 1);
}

TEST_F(MeshProcessingTest, DegenerateMappingSkipsTheTriangleWithOneWarning) {
  LoadMesh* mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}, {6, 5, 5}, {5, 6, 5}},
                            {0, 1, 2, 3, 4, 5},
                            {{0, 0}, {1, 0}, {0, 1}, {0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}});
  mesh->GenerateTangentFrame(L"m");
  const auto t = ArrayOf<Vector3f>(*mesh, mesh->GetData(3u));
  EXPECT_NEAR(t[0].Mag(), 1.0f, 1e-5f);
  EXPECT_EQ(t[3].Mag(), 0.0f);  // nothing contributed, and no NaN
  EXPECT_EQ(Count(Rows(), "Skipped a vertex when generating TBN Matrix"), 1);
  mesh->DestroyItself();
}

TEST_F(MeshProcessingTest, MissingInputsAreErrors) {
  LoadMesh empty;
  EXPECT_THROW(empty.GenerateNormals(), Exception);
  EXPECT_THROW(empty.GenerateTangentFrame(L"x"), Exception);
  LoadMesh* noUV = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
  EXPECT_THROW(noUV->GenerateTangentFrame(L"flat"), Exception);
  empty.OptimizeMesh(60);  // a warning, not an error
  noUV->DestroyItself();
  const std::string rows = Rows();
  EXPECT_NE(rows.find("Could not generate normals without vertices"), std::string::npos);
  EXPECT_NE(rows.find("Could not generate tangent space matrix without vertices in x"),
            std::string::npos);
  EXPECT_NE(rows.find("Could not generate tangent space matrix without uv coordinates in flat"),
            std::string::npos);
  EXPECT_NE(rows.find("Can not optimize a mesh with 0 vertices"), std::string::npos);
}

TEST_F(MeshProcessingTest, IndicesPastTheVerticesAreRejectedByEveryStep) {
  LoadMesh* mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 3}, {{0, 0}, {1, 0}, {0, 1}});
  EXPECT_THROW(mesh->GenerateNormals(), Exception);
  EXPECT_THROW(mesh->GenerateTangentFrame(L"m"), Exception);
  EXPECT_THROW(mesh->OptimizeMesh(60), Exception);
  mesh->Indices(static_cast<short*>(EngineCopy(std::vector<int>{0, -1, 2})));
  EXPECT_THROW(mesh->GenerateNormals(), Exception);
  mesh->DestroyItself();
}

TEST_F(MeshProcessingTest, WeldsCoincidentVerticesButNotAcrossDifferentTexCoords) {
  // Two triangles of one plane sharing an edge through separate vertices.
  const std::vector<Vector3f> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                   {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const std::vector<int> idx = {0, 1, 2, 3, 4, 5};
  LoadMesh* same = MakeMesh(p, idx, {{0, 0}, {1, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 1}});
  same->OptimizeMesh(60);
  EXPECT_EQ(IndicesOf(*same), (std::vector<int>{0, 1, 2, 1, 4, 2}));
  EXPECT_FALSE(same->IsAvailable(MeshData::Normals));  // generated for the pass only

  LoadMesh* apart = MakeMesh(p, idx, {{0, 0}, {1, 0}, {0, 1}, {1.1f, 0}, {1, 1}, {0.1f, 1}});
  apart->OptimizeMesh(60);
  EXPECT_EQ(IndicesOf(*apart), idx);
  same->DestroyItself();
  apart->DestroyItself();
}

TEST_F(MeshProcessingTest, WeldRespectsTheAngleAndRegeneratesGivenNormals) {
  // A fold of 90 degrees: welded at 100 degrees, kept apart at 60.
  const std::vector<Vector3f> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                   {0, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const std::vector<int> idx = {0, 1, 2, 3, 4, 5};
  const std::vector<Vector3f> n = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1},
                                   {1, 0, 0}, {1, 0, 0}, {1, 0, 0}};
  LoadMesh* narrow = MakeMesh(p, idx, {}, n);
  narrow->OptimizeMesh(60);
  EXPECT_EQ(IndicesOf(*narrow), idx);
  LoadMesh* wide = MakeMesh(p, idx, {}, n);
  wide->OptimizeMesh(100);
  EXPECT_EQ(IndicesOf(*wide), (std::vector<int>{0, 1, 2, 0, 2, 5}));
  // Normals were given, so they are regenerated over the welded indices.
  ASSERT_TRUE(wide->IsAvailable(MeshData::Normals));
  const auto smooth = ArrayOf<Vector3f>(*wide, wide->GetData(MeshData::Normals));
  EXPECT_NEAR(smooth[0].x, smooth[0].z, 1e-5f);
  EXPECT_EQ(wide->NumVertices(), 6);  // welding only rewrites indices
  narrow->DestroyItself();
  wide->DestroyItself();
}

TEST_F(MeshProcessingTest, WeldMatchesTheBucketOrderOnRandomMeshes) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> coord(-3, 3);
  std::uniform_int_distribution<int> pick(0, 5);
  int changedRounds = 0;
  for (int round = 0; round < 20; ++round) {
    // Few distinct spots, many copies with jitter around the weld distance,
    // a few texture coordinate and normal variants, some far outliers.
    std::vector<Vector3f> spots(40);
    for (auto& s : spots) s = Vector3f(coord(rng), coord(rng), coord(rng));
    if (round % 4 == 0) spots[0] = Vector3f(5000, 1, 1);
    std::vector<Vector3f> P, N;
    std::vector<UV2> UV;
    const float jitter[] = {0, 0.001f, 0.01f, 0.02f, 0.03f, 0.05f};
    const Vector3f normals[] = {{0, 0, 1}, {0, 0.6f, 0.8f}, {1, 0, 0}, {0, 0, -1}};
    for (int v = 0; v < 600; ++v) {
      const Vector3f& s = spots[static_cast<std::size_t>(v % 40)];
      P.push_back(s + Vector3f(jitter[pick(rng)], -jitter[pick(rng)], 0));
      N.push_back(normals[pick(rng) % 4]);
      UV.push_back({0.01f * static_cast<float>(pick(rng)), 0.0f});
    }
    std::vector<int> idx;
    std::uniform_int_distribution<int> vertex(0, 599);
    for (int k = 0; k < 900; ++k) idx.push_back(vertex(rng));
    const bool withUV = round % 2 == 0;
    const float angle = round % 3 == 0 ? 0.0f : 45.0f;

    LoadMesh* mesh = MakeMesh(P, idx, withUV ? UV : std::vector<UV2>{}, N);
    mesh->OptimizeMesh(angle);
    const std::vector<int> welded = IndicesOf(*mesh);
    EXPECT_EQ(welded, ReferenceWeld(P, N, withUV ? UV : std::vector<UV2>{}, idx, angle))
        << "round " << round;
    changedRounds += welded != idx;
    mesh->DestroyItself();
  }
  EXPECT_GT(changedRounds, 10);  // the meshes really are welded (angle 0 welds nothing)
}

TEST_F(MeshProcessingTest, SixteenBitIndicesAreWeldedInPlace) {
  LoadMesh mesh;
  const std::vector<Vector3f> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  mesh.NumVertices(6);
  mesh.NumIndices(6);
  const std::string file = Bytes().Int(4).Int(4 + 12).Int(2).str();
  std::vector<std::int16_t> shorts = {0, 1, 2, 3, 4, 5};
  // Through the reader, so that the stride is really 2.
  const std::string vlx = "VLXM" + Bytes().Int(3).Int(72).Put(p.data(), 72).str() + file +
                          std::string(reinterpret_cast<const char*>(shorts.data()), 12) +
                          Bytes().Int(9).str();
  LoadVLXMesh loaded(vlx.data(), vlx.size(), L"short");
  ASSERT_EQ(loaded.IndexStride(), 2);
  loaded.OptimizeMesh(60);
  EXPECT_EQ(IndicesOf(loaded), (std::vector<int>{0, 1, 2, 1, 4, 2}));
}

}  // namespace
