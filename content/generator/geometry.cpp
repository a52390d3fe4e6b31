#include "content/generator/geometry.h"

#include <stb/stb_perlin.h>

namespace content {

float Noise3(float x, float y, float z, int wrap) {
  return stb_perlin_noise3(x, y, z, wrap, wrap, wrap);
}

float Fbm3(float x, float y, float z, int octaves, int wrap) {
  float sum = 0, amplitude = 1, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += amplitude * stb_perlin_noise3(x, y, z, wrap, wrap, wrap);
    norm += amplitude;
    amplitude *= 0.5f;
    x *= 2, y *= 2, z *= 2;
    if (wrap > 0 && wrap < 256) wrap *= 2;
  }
  return sum / norm;
}

Vec3 BezierAt(const BezierSpline& s, std::size_t i, float t) {
  const BezierPoint& p = s.points[i];
  const BezierPoint& q = s.points[i + 1];
  const float u = 1 - t;
  return p.knot * (u * u * u) + p.out * (3 * t * u * u) + q.in * (3 * t * t * u) +
         q.knot * (t * t * t);
}

std::vector<Frame> SampleFrames(const BezierSpline& spline, float step, Vec3 up) {
  // Dense samples first, then points at equal arc steps between them.
  std::vector<Vec3> dense;
  std::vector<float> arcs;
  for (std::size_t i = 0; i + 1 < spline.points.size(); ++i) {
    for (int k = (i == 0 ? 0 : 1); k <= 200; ++k) {
      const Vec3 p = BezierAt(spline, i, k / 200.0f);
      arcs.push_back(dense.empty() ? 0 : arcs.back() + Length(p - dense.back()));
      dense.push_back(p);
    }
  }
  std::vector<Frame> frames;
  if (dense.size() < 2) return frames;
  const float total = arcs.back();
  const int count = std::max(2, static_cast<int>(std::lround(total / step)) + 1);
  std::size_t j = 0;
  for (int k = 0; k < count; ++k) {
    const float arc = total * k / (count - 1);
    while (j + 2 < dense.size() && arcs[j + 1] < arc) ++j;
    const float span = arcs[j + 1] - arcs[j];
    const float t = span > 0 ? Clamp01((arc - arcs[j]) / span) : 0;
    Frame f;
    f.position = Lerp(dense[j], dense[j + 1], t);
    f.tangent = Normalize(dense[j + 1] - dense[j]);
    f.arc = arc;
    frames.push_back(f);
  }
  // Parallel transport: each normal is the previous one with its tangent
  // component removed, so the frame never twists about the curve.
  Vec3 n = Cross(frames[0].tangent, Cross(up, frames[0].tangent));
  if (Length(n) < 1e-4f) n = Cross(frames[0].tangent, Vec3{1, 0, 0});
  for (Frame& f : frames) {
    n = Normalize(n - f.tangent * Dot(n, f.tangent));
    f.normal = n;
    f.binormal = Cross(f.tangent, n);
  }
  return frames;
}

std::uint32_t MeshBuilder::Vertex(Vec3 p, Vec3 n, Vec2 uv) {
  mMesh.positions.push_back(p);
  mMesh.normals.push_back(n);
  mMesh.uvs.push_back(uv);
  return Count() - 1;
}

void MeshBuilder::Quad(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  Triangle(a, b, c);
  Triangle(a, c, d);
}

void MeshBuilder::QuadFacing(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                             Vec3 facing) {
  const auto& p = mMesh.positions;
  if (Dot(Cross(p[b] - p[a], p[d] - p[a]), facing) >= 0) Quad(a, b, c, d);
  else Quad(a, d, c, b);
}

void MeshBuilder::FlatQuad(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec2 ta, Vec2 tb, Vec2 tc, Vec2 td) {
  const Vec3 n = Normalize(Cross(b - a, d - a));
  Quad(Vertex(a, n, ta), Vertex(b, n, tb), Vertex(c, n, tc), Vertex(d, n, td));
}

void MeshBuilder::FlatTriangle(Vec3 a, Vec3 b, Vec3 c, Vec2 ta, Vec2 tb, Vec2 tc) {
  const Vec3 n = Normalize(Cross(b - a, c - a));
  Triangle(Vertex(a, n, ta), Vertex(b, n, tb), Vertex(c, n, tc));
}

void MeshBuilder::Append(const MeshData& other) {
  const std::uint32_t base = Count();
  for (std::size_t i = 0; i < other.positions.size(); ++i) {
    Vertex(other.positions[i], i < other.normals.size() ? other.normals[i] : Vec3{0, 1, 0},
           i < other.uvs.size() ? other.uvs[i] : Vec2{0, 0});
  }
  for (std::uint32_t i : other.indices) mMesh.indices.push_back(base + i);
}

MeshData InwardSphere(Vec3 centre, float radius, int segments, int rings) {
  MeshBuilder b;
  // Polar angle from straight up; the faces turn inward.
  b.Sheet(
      segments, rings,
      [&](float u, float v) {
        const float azimuth = 2 * kPi * u, polar = kPi * v;
        return centre + Vec3{std::sin(polar) * std::sin(azimuth), std::cos(polar),
                             std::sin(polar) * std::cos(azimuth)} *
                            radius;
      },
      {1, 1});
  // Normals toward the centre; the poles' degenerate neighbours are fixed
  // up from the position itself.
  MeshData& m = b.Mesh();
  for (std::size_t i = 0; i < m.positions.size(); ++i) m.normals[i] = Normalize(centre - m.positions[i]);
  return m;
}

MeshData ClipQuad(float halfWidth, float halfHeight) {
  MeshBuilder b;
  const Vec3 n{0, 0, -1};
  const std::uint32_t tl = b.Vertex({-halfWidth, halfHeight, 0}, n, {0, 0});
  const std::uint32_t tr = b.Vertex({halfWidth, halfHeight, 0}, n, {1, 0});
  const std::uint32_t br = b.Vertex({halfWidth, -halfHeight, 0}, n, {1, 1});
  const std::uint32_t bl = b.Vertex({-halfWidth, -halfHeight, 0}, n, {0, 1});
  b.Quad(tl, tr, br, bl);
  return b.Mesh();
}

MeshData Cube(Vec3 c, Vec3 h) {
  MeshBuilder b;
  const auto corner = [&](float sx, float sy, float sz) {
    return c + Vec3{sx * h.x, sy * h.y, sz * h.z};
  };
  const Vec2 t0{0, 0}, t1{1, 0}, t2{1, 1}, t3{0, 1};
  // Each face: corners clockwise as seen from outside.
  b.FlatQuad(corner(-1, 1, -1), corner(1, 1, -1), corner(1, -1, -1), corner(-1, -1, -1), t0, t1, t2, t3);  // -z
  b.FlatQuad(corner(1, 1, 1), corner(-1, 1, 1), corner(-1, -1, 1), corner(1, -1, 1), t0, t1, t2, t3);      // +z
  b.FlatQuad(corner(-1, 1, 1), corner(-1, 1, -1), corner(-1, -1, -1), corner(-1, -1, 1), t0, t1, t2, t3);  // -x
  b.FlatQuad(corner(1, 1, -1), corner(1, 1, 1), corner(1, -1, 1), corner(1, -1, -1), t0, t1, t2, t3);      // +x
  b.FlatQuad(corner(-1, 1, 1), corner(1, 1, 1), corner(1, 1, -1), corner(-1, 1, -1), t0, t1, t2, t3);      // +y
  b.FlatQuad(corner(-1, -1, -1), corner(1, -1, -1), corner(1, -1, 1), corner(-1, -1, 1), t0, t1, t2, t3);  // -y
  return b.Mesh();
}

}  // namespace content
