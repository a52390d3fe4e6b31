#include "content/formats/curves.h"

#include <cmath>

namespace content {
namespace {

Vec3 Bezier(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d, float t) {
  const float s = 1 - t;
  const float wa = s * s * s, wb = 3 * t * s * s, wc = 3 * t * t * s, wd = t * t * t;
  return {wa * a.x + wb * b.x + wc * c.x + wd * d.x, wa * a.y + wb * b.y + wc * c.y + wd * d.y,
          wa * a.z + wb * b.z + wc * c.z + wd * d.z};
}

}  // namespace

std::vector<float> SegmentLengths(const std::vector<BezierPoint>& points, int steps) {
  std::vector<float> lengths;
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const BezierPoint& p = points[i];
    const BezierPoint& q = points[i + 1];
    double length = 0;
    Vec3 last = p.knot;
    for (int s = 1; s <= steps; ++s) {
      const Vec3 now = Bezier(p.knot, p.out, q.in, q.knot, static_cast<float>(s) / steps);
      const double dx = now.x - last.x, dy = now.y - last.y, dz = now.z - last.z;
      length += std::sqrt(dx * dx + dy * dy + dz * dz);
      last = now;
    }
    lengths.push_back(static_cast<float>(length));
  }
  return lengths;
}

std::string CurvesBytes(const std::vector<CurveObject>& objects) {
  ByteWriter w;
  w.Raw("CURV", 4).Int(static_cast<std::int32_t>(objects.size()));
  for (const CurveObject& o : objects) {
    w.String(o.name).Vector(o.location).Vector(o.rotation);
    w.Int(static_cast<std::int32_t>(o.splines.size()));
    for (const BezierSpline& s : o.splines) {
      w.Int(static_cast<std::int32_t>(s.points.size()));
      for (const BezierPoint& p : s.points) w.Vector(p.in).Vector(p.knot).Vector(p.out);
      // The reader expects exactly points - 1 lengths.
      for (std::size_t i = 0; i + 1 < s.points.size(); ++i) {
        w.Float(i < s.segmentLengths.size() ? s.segmentLengths[i] : 0.0f);
      }
    }
  }
  return w.Bytes();
}

std::string MatrixBytes(const std::vector<MatrixEntry>& entries) {
  ByteWriter w;
  w.Int(static_cast<std::int32_t>(entries.size()));
  for (const MatrixEntry& e : entries) {
    w.String(e.name);
    for (const auto& row : e.m)
      for (float v : row) w.Float(v);
  }
  return w.Bytes();
}

}  // namespace content
