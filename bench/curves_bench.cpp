#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/animation.h"
#include "game/curves.h"

using engine::math::Vector3f;

namespace {

// A winding path of 64 segments, like the camera curve meshes are laid on.
demo::Spline WindingSpline() {
  demo::Spline s;
  std::vector<Vector3f> knots;
  for (int i = 0; i <= 64; ++i) {
    const float a = 0.35f * static_cast<float>(i);
    knots.emplace_back(40.0f * std::cos(a), 4.0f * static_cast<float>(i), 40.0f * std::sin(a));
  }
  float sum = 0.0f;
  for (std::size_t i = 0; i < knots.size(); ++i) {
    const Vector3f prev = knots[i > 0 ? i - 1 : i];
    const Vector3f next = knots[i + 1 < knots.size() ? i + 1 : i];
    // Tangent handles, so that segments really curve.
    const Vector3f tangent = (1.0f / 6.0f) * (next - prev);
    s.points.push_back({knots[i] - tangent, knots[i] + tangent, knots[i]});
    if (i > 0) s.lengths.push_back(sum += Vector3f::Dist(knots[i - 1], knots[i]));
  }
  return s;
}

// Projecting a mesh's vertices onto its curve at load time. Arg 0: points
// scattered through the curve's whole volume (many segments nearly as near
// as the nearest); arg 1: points within a few units of the path, as for a
// mesh laid along it.
void BM_SplineProject(benchmark::State& state) {
  const demo::Spline spline = WindingSpline();
  std::mt19937 random(1);
  std::uniform_real_distribution<float> around(-50.0f, 50.0f);
  std::uniform_real_distribution<float> height(-10.0f, 266.0f);
  std::uniform_real_distribution<float> near(-3.0f, 3.0f);
  std::uniform_real_distribution<float> along(0.0f, 63.99f);
  std::vector<Vector3f> points(50000);
  for (Vector3f& p : points) {
    if (state.range(0) == 0) {
      p = Vector3f(around(random), height(random), around(random));
    } else {
      const float x = along(random);
      const auto i = static_cast<std::size_t>(x);
      const Vector3f& a = spline.points[i].knot;
      const Vector3f& b = spline.points[i + 1].knot;
      p = a + (x - static_cast<float>(i)) * (b - a) +
          Vector3f(near(random), near(random), near(random));
    }
  }
  for (auto _ : state) {
    float sum = 0.0f;
    for (const Vector3f& p : points) sum += spline.Project(p).second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(points.size()));
}
BENCHMARK(BM_SplineProject)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One frame of playback at 60 Hz on a repeating 64-key track.
template <typename Track>
void AdvancePerFrame(benchmark::State& state, Track& track) {
  track.SetExtrapolation(engine::gfx::AnimationTrack::Cyclic);
  for (int i = 0; i < 64; ++i)
    track.AddKey(1.0f + 5.0f * static_cast<float>(i), std::sin(0.3f * static_cast<float>(i)));
  for (auto _ : state) {
    track.Advance(25.0f / 60.0f);
    benchmark::DoNotOptimize(track.Value());
  }
}

void BM_LinearTrackAdvance(benchmark::State& state) {
  engine::gfx::LinearAnimationTrack track;
  AdvancePerFrame(state, track);
}
BENCHMARK(BM_LinearTrackAdvance);

void BM_BezierTrackAdvance(benchmark::State& state) {
  engine::gfx::BezierAnimationTrack track;
  for (int i = 0; i < 64; ++i) {
    const float t = 1.0f + 5.0f * static_cast<float>(i);
    track.AddHandles({t - 1.5f, 0.2f}, {t + 1.5f, -0.2f});
  }
  AdvancePerFrame(state, track);
}
BENCHMARK(BM_BezierTrackAdvance);

}  // namespace
