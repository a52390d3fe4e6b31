#include <cmath>

#include "content/generator/geometry.h"
#include "content/generator/recipes.h"

namespace content {

BezierSpline SplineThrough(const std::vector<Vec3>& k) {
  BezierSpline s;
  const std::size_t n = k.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Vec3 before = i > 0 ? k[i - 1] : k[i];
    const Vec3 after = i + 1 < n ? k[i + 1] : k[i];
    // Catmull-Rom tangent; at the ends the one neighbour's direction.
    const Vec3 tangent = (after - before) * (i > 0 && i + 1 < n ? 0.5f : 1.0f);
    s.points.push_back({k[i] - tangent * (1.0f / 3), k[i], k[i] + tangent * (1.0f / 3)});
  }
  s.segmentLengths = SegmentLengths(s.points);
  return s;
}

BezierSpline StraightSpline(const std::vector<Vec3>& k) {
  BezierSpline s;
  const std::size_t n = k.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Vec3 in = i > 0 ? Lerp(k[i], k[i - 1], 1.0f / 3) : k[i];
    const Vec3 out = i + 1 < n ? Lerp(k[i], k[i + 1], 1.0f / 3) : k[i];
    s.points.push_back({in, k[i], out});
  }
  s.segmentLengths = SegmentLengths(s.points);
  return s;
}

MatrixEntry Translation(const std::string& name, Vec3 t) {
  return {name, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {t.x, t.y, t.z, 1}}};
}

}  // namespace content
