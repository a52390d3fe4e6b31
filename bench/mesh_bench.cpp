#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/math.h"
#include "engine/mesh.h"
#include "engine/wrapper.h"

using engine::gfx::LoadMesh;
using engine::gfx::PVData;
using engine::math::Vector3f;

namespace {

constexpr int kGrid = 200;  // 2 * 199 * 199 triangles: 237,606 indices

// A rolling height field exported the usual way: every triangle corner is a
// vertex of its own, so welding has real work at every shared corner. All of
// it lies in the few x-buckets around zero, the worst case for buckets.
struct GridMesh {
  std::vector<Vector3f> positions;
  std::vector<float> uvs;
  std::vector<int> indices;

  GridMesh() {
    auto corner = [&](int i, int j) {
      const float x = static_cast<float>(i) / kGrid * 20 - 10;
      const float z = static_cast<float>(j) / kGrid * 20 - 10;
      positions.emplace_back(x, std::sin(x) * std::cos(z), z);
      uvs.push_back(static_cast<float>(i) / kGrid);
      uvs.push_back(static_cast<float>(j) / kGrid);
      indices.push_back(static_cast<int>(indices.size()));
    };
    for (int i = 0; i + 1 < kGrid; ++i) {
      for (int j = 0; j + 1 < kGrid; ++j) {
        corner(i, j), corner(i + 1, j), corner(i, j + 1);
        corner(i + 1, j), corner(i + 1, j + 1), corner(i, j + 1);
      }
    }
  }

  template <class T>
  static void* Copy(const std::vector<T>& v) {
    void* p = engine::AllocateMemory(static_cast<unsigned>(v.size() * sizeof(T)));
    std::memcpy(p, v.data(), v.size() * sizeof(T));
    return p;
  }

  LoadMesh* Make() const {
    LoadMesh* mesh = engine::CreateEmptyMesh(static_cast<int>(positions.size()),
                                             static_cast<int>(indices.size()));
    mesh->Indices(static_cast<short*>(Copy(indices)));
    mesh->Add(PVData{0, 2, 0, Copy(positions)});
    mesh->Add(PVData{5, 1, 0, Copy(uvs)});
    return mesh;
  }
};

const GridMesh& Grid() {
  static const GridMesh grid;
  return grid;
}

void BM_OptimizeMesh(benchmark::State& state) {
  LoadMesh* mesh = Grid().Make();
  const auto bytes = Grid().indices.size() * sizeof(int);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(mesh->Indices(), Grid().indices.data(), bytes);
    state.ResumeTiming();
    mesh->OptimizeMesh(60.0f);
  }
  state.SetItemsProcessed(state.iterations() * mesh->NumIndices());
  mesh->DestroyItself();
}
BENCHMARK(BM_OptimizeMesh)->Unit(benchmark::kMillisecond);

void BM_GenerateNormals(benchmark::State& state) {
  LoadMesh* mesh = Grid().Make();
  for (auto _ : state) mesh->GenerateNormals();
  state.SetItemsProcessed(state.iterations() * mesh->NumIndices());
  mesh->DestroyItself();
}
BENCHMARK(BM_GenerateNormals)->Unit(benchmark::kMillisecond);

void BM_GenerateTangentFrame(benchmark::State& state) {
  LoadMesh* mesh = Grid().Make();
  for (auto _ : state) mesh->GenerateTangentFrame(L"grid");
  state.SetItemsProcessed(state.iterations() * mesh->NumIndices());
  mesh->DestroyItself();
}
BENCHMARK(BM_GenerateTangentFrame)->Unit(benchmark::kMillisecond);

// Reading a cache should cost what reading its bytes costs. Both readers
// below get memory that is already mapped: otherwise the kernel's page
// faults on fresh blocks dominate, and glibc's trimming decides which reader
// pays them (a first load pays them whatever the format).
const bool gKeepHeapMapped = [] {
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  return true;
}();

const std::string& CacheFile() {
  static const std::string path = [] {
    LoadMesh* mesh = Grid().Make();
    mesh->GenerateTangentFrame(L"grid");
    mesh->Serialize("bench_grid.serial");
    mesh->DestroyItself();
    return std::string("bench_grid.serial");
  }();
  return path;
}

void BM_Deserialize(benchmark::State& state) {
  const std::string& path = CacheFile();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    LoadMesh mesh;
    if (!mesh.Deserialize(path)) state.SkipWithError("cache not readable");
    bytes += static_cast<std::int64_t>(mesh.NumIndices()) * 4 +
             static_cast<std::int64_t>(mesh.NumVertices()) * (12 + 8 + 36);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Deserialize)->Unit(benchmark::kMillisecond);

void BM_PlainRead(benchmark::State& state) {
  const std::string& path = CacheFile();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    void* buffer = engine::AllocateMemory(static_cast<unsigned>(size));
    bytes += static_cast<std::int64_t>(std::fread(buffer, 1, static_cast<std::size_t>(size), f));
    std::fclose(f);
    benchmark::DoNotOptimize(buffer);
    engine::DeleteMemory(buffer);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

}  // namespace
