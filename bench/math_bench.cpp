#include <benchmark/benchmark.h>

#include "engine/math.h"
#include "engine/spatial.h"

using namespace engine::math;

namespace {

Matrix4x4 SomeMatrix() {
  Matrix4x4 m = Matrix4x4::Identity;
  m.ToZRot(0.7f);
  m.ToTranslation(Vector3f(1, 2, 3));
  return m;
}

// World matrices are multiplied once per node per frame.
void BM_Matrix4x4Multiply(benchmark::State& state) {
  Matrix4x4 a = SomeMatrix(), b = SomeMatrix();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    Matrix4x4 r = a * b;
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Matrix4x4Multiply);

// Vertex transforms dominate mesh processing.
void BM_TransformPoints(benchmark::State& state) {
  const Matrix4x4 m = SomeMatrix();
  std::vector<Vector3f> points(static_cast<std::size_t>(state.range(0)), Vector3f(1, 2, 3));
  for (auto _ : state) {
    for (auto& p : points) p = p * m;
    benchmark::DoNotOptimize(points.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransformPoints)->Arg(1024)->Arg(65536);

void BM_TransformationBuildMatrix(benchmark::State& state) {
  engine::gfx::Transformation t;
  Matrix3x3 r = Matrix3x3::Identity;
  r.ToXRot(0.4f);
  t.Rotate(r);
  t.Translate(Vector3f(4, 5, 6));
  for (auto _ : state) {
    benchmark::DoNotOptimize(t);
    Matrix4x4 m = t.BuildMatrix();
    benchmark::DoNotOptimize(m);
  }
}
BENCHMARK(BM_TransformationBuildMatrix);

void BM_TransformationBuildInvMatrix(benchmark::State& state) {
  engine::gfx::Transformation t;
  t.Rotate(Matrix3x3::Identity);
  t.Translate(Vector3f(4, 5, 6));
  for (auto _ : state) {
    benchmark::DoNotOptimize(t);
    Matrix4x4 m = t.BuildInvMatrix();
    benchmark::DoNotOptimize(m);
  }
}
BENCHMARK(BM_TransformationBuildInvMatrix);

}  // namespace
