#include "game/curves.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

using engine::math::Matrix3x3;
using engine::math::Matrix4x4;
using engine::math::Vector3f;

namespace demo {

namespace {

// Bounded little-endian reads over a byte block. Counts are checked against
// what remains before anything is allocated for them, so a corrupt count
// fails at once instead of reserving gigabytes or reading past the end.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size, const char* truncated, const char* corrupt)
      : mData(data), mSize(data ? size : 0), mTruncated(truncated), mCorrupt(corrupt) {}

  std::size_t Remaining() const { return mSize - mPos; }

  void Need(std::uint64_t bytes) const {
    if (bytes > Remaining()) throw mTruncated;
  }

  std::uint32_t U32() {
    Need(4);
    const std::uint8_t* b = mData + mPos;
    mPos += 4;
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
  }

  float Float() {
    const std::uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }

  Vector3f Vector() {
    const float x = Float(), y = Float();
    return Vector3f(x, y, Float());
  }

  // A count of records that take at least minBytes each.
  std::size_t Count(std::uint64_t minBytes) {
    const auto count = static_cast<std::int32_t>(U32());
    if (count < 0) throw mCorrupt;
    Need(static_cast<std::uint64_t>(count) * minBytes);
    return static_cast<std::size_t>(count);
  }

  std::string Name() {
    const std::size_t length = Count(1);
    std::string name(reinterpret_cast<const char*>(mData + mPos), length);
    mPos += length;
    return name;
  }

  bool Magic(const char (&magic)[5]) {
    if (Remaining() < 4 || std::memcmp(mData + mPos, magic, 4) != 0) return false;
    mPos += 4;
    return true;
  }

 private:
  const std::uint8_t* mData;
  std::size_t mSize;
  std::size_t mPos = 0;
  const char* mTruncated;
  const char* mCorrupt;
};

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw "No such file found";
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

// name (4 + L), location (12), rotation (12), spline count (4).
constexpr std::uint64_t kMinObjectBytes = 32;
// in-handle, knot, out-handle.
constexpr std::uint64_t kPointBytes = 36;
// name (4 + L), 16 floats.
constexpr std::uint64_t kMinMatrixEntryBytes = 68;

Spline ReadSpline(Reader& in, const Matrix3x3& rotation, const Vector3f& location) {
  const auto pointCount = static_cast<std::int32_t>(in.U32());
  if (pointCount < 0) throw "Corrupt curve file";
  const auto points = static_cast<std::uint64_t>(pointCount);
  const std::uint64_t segments = points >= 2 ? points - 1 : 0;
  in.Need(points * kPointBytes + segments * 4);

  const auto place = [&](const Vector3f& v) { return v * rotation + location; };
  Spline spline;
  spline.points.reserve(points);
  for (std::uint64_t i = 0; i < points; ++i) {
    SplinePoint point;
    point.in = place(in.Vector());
    point.knot = place(in.Vector());
    point.out = place(in.Vector());
    spline.points.push_back(point);
  }
  spline.lengths.reserve(segments);
  float sum = 0.0f;
  for (std::uint64_t i = 0; i < segments; ++i) {
    sum += in.Float();
    spline.lengths.push_back(sum);
  }
  return spline;
}

CurveSet ParseCurves(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size, "Truncated curve file", "Corrupt curve file");
  if (!in.Magic("CURV")) throw "Not a curve file";
  CurveSet curves;
  const std::size_t objects = in.Count(kMinObjectBytes);
  for (std::size_t o = 0; o < objects; ++o) {
    std::vector<Spline>& splines = curves[in.Name()];
    const Vector3f location = in.Vector();
    const Vector3f angles = in.Vector();
    Matrix3x3 rotation = Matrix3x3::Identity;
    rotation.ToXRot(angles.x);
    rotation.ToYRot(angles.y);
    rotation.ToZRot(angles.z);
    const std::size_t count = in.Count(4);
    for (std::size_t s = 0; s < count; ++s) splines.push_back(ReadSpline(in, rotation, location));
  }
  return curves;
}

MatrixSet ParseMatrices(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size, "Truncated matrix file", "Corrupt matrix file");
  MatrixSet matrices;
  const std::size_t count = in.Count(kMinMatrixEntryBytes);
  for (std::size_t e = 0; e < count; ++e) {
    std::string name = in.Name();
    Matrix4x4 m;
    for (auto& row : m.m)
      for (float& element : row) element = in.Float();
    matrices[std::move(name)] = m;
  }
  return matrices;
}

Vector3f Bezier(const Vector3f& p0, const Vector3f& p1, const Vector3f& p2, const Vector3f& p3,
                float t) {
  const float s = 1.0f - t;
  return (s * s * s) * p0 + (3.0f * t * s * s) * p1 + (3.0f * t * t * s) * p2 + (t * t * t) * p3;
}

// d/dt |B(t) - p|^2 / 2 for one segment, as a quintic in t. With
// B(t) - p = a0 + a1 t + a2 t^2 + a3 t^3 it is (B - p) . B'.
class DistanceSlope {
 public:
  DistanceSlope(const Vector3f& p0, const Vector3f& p1, const Vector3f& p2, const Vector3f& p3,
                const Vector3f& p) {
    const Vector3f a0 = p0 - p;
    const Vector3f a1 = 3.0f * (p1 - p0);
    const Vector3f a2 = 3.0f * (p0 - 2.0f * p1 + p2);
    const Vector3f a3 = p3 - p0 + 3.0f * (p1 - p2);
    c[0] = a0 * a1;
    c[1] = 2.0f * (a0 * a2) + a1 * a1;
    c[2] = 3.0f * (a0 * a3 + a1 * a2);
    c[3] = 4.0f * (a1 * a3) + 2.0f * (a2 * a2);
    c[4] = 5.0f * (a2 * a3);
    c[5] = 3.0f * (a3 * a3);
  }

  float operator()(float t) const {
    return c[0] + t * (c[1] + t * (c[2] + t * (c[3] + t * (c[4] + t * c[5]))));
  }

 private:
  float c[6];
};

// Where the slope changes sign, to within 0.01 of the parameter. Without a
// sign change the search drifts to the segment's end.
float Bisect(const DistanceSlope& slope) {
  float low = 0.0f, high = 1.0f;
  // Products in double: the sign of two float slopes never under- or
  // overflows there.
  double slopeLow = slope(low);
  while (high - low > 0.01f) {
    const float mid = 0.5f * (low + high);
    const double slopeMid = slope(mid);
    const double product = slopeLow * slopeMid;
    // A zero product means one end is the root itself. At the start of a
    // segment (a point on its first knot) that end is low, not mid.
    if (product == 0.0) return slopeLow == 0.0 && slopeMid != 0.0 ? low : mid;
    // Selects rather than branches: the side is unpredictable. A NaN from
    // non-finite points goes right, and the loop still ends.
    const bool left = product < 0.0;
    high = left ? mid : high;
    low = left ? low : mid;
    slopeLow = left ? slopeLow : slopeMid;
  }
  return 0.5f * (low + high);
}

// Squared distance from p to the box around a segment's control points,
// and the largest coordinate magnitude involved, which sizes rounding
// margins.
struct BoxDistance {
  float squared;
  float scale;
};

inline void BoxAxis(float a, float b, float c, float d, float q, float& squared, float& scale) {
  const float low = std::min(std::min(a, b), std::min(c, d));
  const float high = std::max(std::max(a, b), std::max(c, d));
  const float gap = std::max(std::max(low - q, q - high), 0.0f);
  squared += gap * gap;
  scale = std::max(scale, std::max(std::max(-low, high), std::fabs(q)));
}

inline BoxDistance BoxDistanceTo(const Vector3f& p0, const Vector3f& p1, const Vector3f& p2,
                                 const Vector3f& p3, const Vector3f& p) {
  float squared = 0.0f, scale = 0.0f;
  BoxAxis(p0.x, p1.x, p2.x, p3.x, p.x, squared, scale);
  BoxAxis(p0.y, p1.y, p2.y, p3.y, p.y, squared, scale);
  BoxAxis(p0.z, p1.z, p2.z, p3.z, p.z, squared, scale);
  return {squared, scale};
}

}  // namespace

Vector3f Spline::Evaluate(float x) const {
  const std::size_t n = points.size();
  if (n == 0) return Vector3f();
  const Vector3f& first = points.front().knot;
  const Vector3f& last = points.back().knot;
  if (x > last.x) return last;
  if (x < first.x) return first;
  if (x == last.x) return last;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const Vector3f& k0 = points[i].knot;
    const Vector3f& k1 = points[i + 1].knot;
    if (k0.x <= x && x < k1.x) {
      const float t = (x - k0.x) / (k1.x - k0.x);
      return Bezier(k0, points[i].out, points[i + 1].in, k1, t);
    }
  }
  // Only a NaN x or knots out of order lie in no segment.
  return last;
}

std::pair<float, float> Spline::Project(Vector3f p) const {
  const std::size_t n = points.size();
  if (n == 0) return {std::numeric_limits<float>::infinity(), 0.0f};
  if (n == 1) return {Vector3f::Dist(points[0].knot, p), 0.0f};

  // A segment at the nearest knot goes first: its distance lets most other
  // segments be skipped.
  std::size_t first = 0;
  float nearest = std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < n; ++i) {
    const float squared = (points[i].knot - p).MagSquared();
    if (squared < nearest) nearest = squared, first = i;
  }
  first = std::min(first, n - 2);

  // The result is the least distance, the lowest segment among equals,
  // whatever the order of the search.
  float best = std::numeric_limits<float>::infinity();
  std::size_t bestSegment = 0;
  float bestT = 0.0f;
  const auto search = [&](std::size_t i) {
    const Vector3f& p0 = points[i].knot;
    const Vector3f& p1 = points[i].out;
    const Vector3f& p2 = points[i + 1].in;
    const Vector3f& p3 = points[i + 1].knot;
    const float t = Bisect(DistanceSlope(p0, p1, p2, p3, p));
    const float d = Vector3f::Dist(Bezier(p0, p1, p2, p3, t), p);
    if (d < best || (d == best && i < bestSegment)) {
      best = d;
      bestSegment = i;
      bestT = t;
    }
  };
  search(first);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (i == first) continue;
    // The curve lies inside the box of its control points, so a segment
    // whose box is farther than the best distance cannot win, not even a
    // tie. The margin covers the rounding of the curve point and of the
    // distances, a few ulps each.
    const BoxDistance box =
        BoxDistanceTo(points[i].knot, points[i].out, points[i + 1].in, points[i + 1].knot, p);
    const float reach = best + 1e-4f * box.scale;
    if (box.squared > reach * reach) continue;
    search(i);
  }

  // A hand-built spline may carry fewer lengths than segments; missing
  // entries read as the last sum, i.e. segments of no length.
  const auto sumTo = [&](std::size_t k) {
    if (lengths.empty()) return 0.0f;
    return k < lengths.size() ? lengths[k] : lengths.back();
  };
  const float arc = bestSegment == 0
                        ? sumTo(0) * bestT
                        : sumTo(bestSegment - 1) +
                              bestT * (sumTo(bestSegment) - sumTo(bestSegment - 1));
  return {best, arc};
}

CurveSet ReadCurves(std::string path) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  return ParseCurves(bytes.data(), bytes.size());
}

CurveSet ReadCurves(const std::uint8_t* data, std::size_t size) { return ParseCurves(data, size); }

MatrixSet ReadMatrices(std::string path) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  return ParseMatrices(bytes.data(), bytes.size());
}

MatrixSet ReadMatrices(const std::uint8_t* data, std::size_t size) {
  return ParseMatrices(data, size);
}

}  // namespace demo
