#include <benchmark/benchmark.h>

#include "platform/d3dmath.h"

using namespace platform;

namespace {

Matrix SomeMatrix() {
  Matrix m;
  const Vector3 axis{0.3f, 1, -0.5f};
  MatrixRotationAxis(&m, &axis, 0.7f);
  m.m[3][0] = 1, m.m[3][1] = 2, m.m[3][2] = 3;
  return m;
}

// View and bone matrices are inverted every frame.
void BM_D3dMatrixInverse(benchmark::State& state) {
  Matrix m = SomeMatrix(), out;
  float det;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m);
    benchmark::DoNotOptimize(MatrixInverse(&out, &det, &m));
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_D3dMatrixInverse);

void BM_D3dMatrixMultiply(benchmark::State& state) {
  Matrix a = SomeMatrix(), b = SomeMatrix(), out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    MatrixMultiply(&out, &a, &b);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_D3dMatrixMultiply);

// Animated nodes build one of these per key frame sample.
void BM_D3dMatrixTransformation(benchmark::State& state) {
  Vector3 sc{1, 2, 3}, s{2, 3, 4}, rc{-1, 0, 1}, t{5, 6, 7};
  Quaternion sr{0, 0, 0.38268343f, 0.92387953f}, r{0.5f, 0.5f, 0.5f, 0.5f};
  Matrix out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(sc);
    benchmark::DoNotOptimize(r);
    MatrixTransformation(&out, &sc, &sr, &s, &rc, &r, &t);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_D3dMatrixTransformation);

}  // namespace
