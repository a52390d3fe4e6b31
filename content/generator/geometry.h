#pragma once

// Vector maths, a deterministic random source, noise and a mesh builder for
// the procedural recipes.
#include <cmath>
#include <cstdint>
#include <vector>

#include "content/formats/curves.h"
#include "content/formats/vlx.h"

namespace content {

constexpr float kPi = 3.14159265358979f;

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(float s, Vec3 a) { return a * s; }
inline float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Length(Vec3 a) { return std::sqrt(Dot(a, a)); }
inline Vec3 Normalize(Vec3 a) {
  const float l = Length(a);
  return l > 0 ? a * (1.0f / l) : Vec3{0, 1, 0};
}
inline Vec3 Lerp(Vec3 a, Vec3 b, float t) { return a + (b - a) * t; }
inline float Lerp(float a, float b, float t) { return a + (b - a) * t; }
inline float Clamp01(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
inline float Smoothstep(float a, float b, float v) {
  const float t = Clamp01((v - a) / (b - a));
  return t * t * (3 - 2 * t);
}

// xorshift-multiply generator: the same numbers on every run and machine.
class Random {
 public:
  explicit Random(std::uint64_t seed) : mState(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  std::uint32_t Next() {
    mState ^= mState >> 12, mState ^= mState << 25, mState ^= mState >> 27;
    return static_cast<std::uint32_t>((mState * 0x2545F4914F6CDD1Dull) >> 32);
  }
  float Unit() { return (Next() >> 8) * (1.0f / 16777216.0f); }  // [0, 1)
  float Range(float lo, float hi) { return lo + (hi - lo) * Unit(); }
  int Int(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }

 private:
  std::uint64_t mState;
};

// Gradient noise, -1..1, tiling every `wrap` units when wrap > 0 (a power
// of two up to 256).
float Noise3(float x, float y, float z, int wrap = 0);
// Sum of octaves, each twice the frequency and half the amplitude.
float Fbm3(float x, float y, float z, int octaves, int wrap = 0);

// Cubic Bezier through the spline's segment i at t.
Vec3 BezierAt(const BezierSpline& s, std::size_t i, float t);

// A polyline sampled along a spline at equal arc steps, with parallel-
// transported frames: what tubes and ribbons are swept along.
struct Frame {
  Vec3 position, tangent, normal, binormal;
  float arc = 0;  // length from the start
};
std::vector<Frame> SampleFrames(const BezierSpline& spline, float step, Vec3 up);

// Triangle-list mesh under construction.
class MeshBuilder {
 public:
  std::uint32_t Vertex(Vec3 p, Vec3 n, Vec2 uv);
  void Triangle(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    mMesh.indices.insert(mMesh.indices.end(), {a, b, c});
  }
  // Front faces follow Direct3D's clockwise rule: Cross(b - a, c - a)
  // points at the viewer (and is the normal the engine generates).
  // a-b-c-d in that order around the quad.
  void Quad(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d);
  // The same quad, turned round when needed so that it faces `facing`.
  void QuadFacing(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, Vec3 facing);
  // A flat quad with its own four vertices, facing Cross(b - a, d - a).
  void FlatQuad(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec2 ta, Vec2 tb, Vec2 tc, Vec2 td);
  void FlatTriangle(Vec3 a, Vec3 b, Vec3 c, Vec2 ta, Vec2 tb, Vec2 tc);
  // A grid of rows x cols quads from a function of (u, v) in 0..1 facing
  // Cross(dP/du, dP/dv), normals from neighbouring points; `flip` turns the
  // faces around.
  template <class F>
  void Sheet(int cols, int rows, F position, Vec2 uvScale, bool flip = false);

  void Append(const MeshData& other);
  std::uint32_t Count() const { return static_cast<std::uint32_t>(mMesh.positions.size()); }
  std::size_t Triangles() const { return mMesh.indices.size() / 3; }
  MeshData& Mesh() { return mMesh; }

 private:
  MeshData mMesh;
};

template <class F>
void MeshBuilder::Sheet(int cols, int rows, F position, Vec2 uvScale, bool flip) {
  const std::uint32_t base = Count();
  const float e = 1e-3f;
  for (int r = 0; r <= rows; ++r) {
    for (int c = 0; c <= cols; ++c) {
      const float u = static_cast<float>(c) / cols, v = static_cast<float>(r) / rows;
      const Vec3 p = position(u, v);
      const Vec3 du = position(std::fmin(u + e, 1.0f), v) - position(std::fmax(u - e, 0.0f), v);
      const Vec3 dv = position(u, std::fmin(v + e, 1.0f)) - position(u, std::fmax(v - e, 0.0f));
      Vec3 n = Normalize(Cross(du, dv));
      if (flip) n = -n;
      Vertex(p, n, {u * uvScale.x, v * uvScale.y});
    }
  }
  const auto at = [&](int c, int r) { return base + static_cast<std::uint32_t>(r * (cols + 1) + c); };
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (flip) Quad(at(c, r), at(c, r + 1), at(c + 1, r + 1), at(c + 1, r));
      else Quad(at(c, r), at(c + 1, r), at(c + 1, r + 1), at(c, r + 1));
    }
  }
}

// Primitives.
// Sphere seen from inside: uv = (azimuth / 2pi, polar / pi), normals inward.
MeshData InwardSphere(Vec3 centre, float radius, int segments, int rings);
// Screen quad in clip space, uv (0,0) at the top left.
MeshData ClipQuad(float halfWidth, float halfHeight);
// Axis-aligned box with outward faces and 0..1 uvs per face.
MeshData Cube(Vec3 centre, Vec3 half);

}  // namespace content
