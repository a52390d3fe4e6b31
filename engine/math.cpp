#include "engine/math.h"

#include <utility>

namespace engine::math {

// Constant-initialised: no code runs before other libraries may read them.
const Matrix3x3 Matrix3x3::Identity(1, 0, 0, 0, 1, 0, 0, 0, 1);
const Matrix4x4 Matrix4x4::Identity(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);

void Matrix3x3::ToXRot(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *this = *this * Matrix3x3(1, 0, 0, 0, c, s, 0, -s, c);
}

void Matrix3x3::ToYRot(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *this = *this * Matrix3x3(c, 0, -s, 0, 1, 0, s, 0, c);
}

void Matrix3x3::ToZRot(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *this = *this * Matrix3x3(c, s, 0, -s, c, 0, 0, 0, 1);
}

void Matrix4x4::ToTranspose() {
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) std::swap(m[i][j], m[j][i]);
}

void Matrix4x4::ToZRot(float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *this = *this * Matrix4x4(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
}

Matrix4x4 operator*(const Matrix4x4& a, const Matrix4x4& b) {
  Matrix4x4 r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                  a.m[i][3] * b.m[3][j];
    }
  }
  return r;
}

Matrix3x3 operator*(const Matrix3x3& a, const Matrix3x3& b) {
  Matrix3x3 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    }
  }
  return r;
}

Plane3f::Plane3f(const Vector3f& n, const Vector3f& point) : normal(n), d(-(n * point)) {}

Plane3f::Plane3f(const Vector3f& p0, const Vector3f& p1, const Vector3f& p2) {
  normal = (p1 - p0) ^ (p2 - p0);
  normal.Normalize();
  d = -(normal * p0);
}

Plane3f::Location Plane3f::TestPoint(const Vector3f& p) const {
  const float s = p * normal + d;
  if (s > 0.001f) return InFront;
  if (s < -0.001f) return Behind;
  return OnPlane;
}

Vector3f Plane3f::Split(const Vector3f& a, const Vector3f& b) const {
  const float da = a * normal;
  const float db = b * normal;
  const float denominator = db - da;
  if (denominator == 0.0f) return a;
  const float t = (-d - da) / denominator;
  return a + t * (b - a);
}

}  // namespace engine::math
