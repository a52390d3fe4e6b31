#pragma once

#include <cmath>

#include "engine/api.h"

// Row vectors multiply matrices from the left (v * M), A * B applies A first,
// and the translation of a 4x4 matrix lies in its last row. Vector3f and
// Matrix4x4 have the graphics interface's memory layout and are handed to it
// as they are.
namespace engine::math {

// Reciprocal used by Normalize: a zero-length vector stays zero instead of
// turning into NaNs that would spread through every matrix built from it.
inline float SafeReciprocal(float length) { return length > 0.0f ? 1.0f / length : 0.0f; }

struct ENGINE_API Vector2f {
  float x = 0.0f;
  float y = 0.0f;

  constexpr Vector2f() = default;
  constexpr Vector2f(float x_, float y_) : x(x_), y(y_) {}

  void Assign(float x_, float y_) { x = x_, y = y_; }
  float MagSquared() const { return x * x + y * y; }
  float Mag() const { return std::sqrt(MagSquared()); }
  void Normalize() {
    const float r = SafeReciprocal(Mag());
    x *= r, y *= r;
  }
  void Invert() { x = -x, y = -y; }
  static float Dist(const Vector2f& a, const Vector2f& b) {
    return Vector2f(b.x - a.x, b.y - a.y).Mag();
  }
};

struct ENGINE_API Vector2i {
  int x;
  int y;

  constexpr Vector2i(int x_, int y_) : x(x_), y(y_) {}
};

struct ENGINE_API Vector3f {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr Vector3f() = default;
  constexpr Vector3f(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  void Assign(float x_, float y_, float z_) { x = x_, y = y_, z = z_; }
  float MagSquared() const { return x * x + y * y + z * z; }
  float Mag() const { return std::sqrt(MagSquared()); }
  void Normalize() {
    const float r = SafeReciprocal(Mag());
    x *= r, y *= r, z *= r;
  }
  void Invert() { x = -x, y = -y, z = -z; }
  Vector3f Neg() const { return Vector3f(-x, -y, -z); }
  Vector3f operator-() const { return Neg(); }
  float AddComponents() const { return x + y + z; }
  static float Dist(const Vector3f& a, const Vector3f& b) {
    return Vector3f(b.x - a.x, b.y - a.y, b.z - a.z).Mag();
  }
};

struct ENGINE_API Vector4f {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float w = 0.0f;

  constexpr Vector4f() = default;
  constexpr Vector4f(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  constexpr Vector4f(const Vector3f& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}

  void Assign(float x_, float y_, float z_, float w_) { x = x_, y = y_, z = z_, w = w_; }
  float MagSquared() const { return x * x + y * y + z * z + w * w; }
  float Mag() const { return std::sqrt(MagSquared()); }
  void Normalize() {
    const float r = SafeReciprocal(Mag());
    x *= r, y *= r, z *= r, w *= r;
  }
  static float Dist(const Vector4f& a, const Vector4f& b) {
    return Vector4f(b.x - a.x, b.y - a.y, b.z - a.z, b.w - a.w).Mag();
  }
};

// Row-major 3x3 block.
struct ENGINE_API Matrix3x3 {
  float m[3][3];

  Matrix3x3() = default;  // elements left uninitialised
  constexpr Matrix3x3(float m00, float m01, float m02, float m10, float m11, float m12, float m20,
                      float m21, float m22)
      : m{{m00, m01, m02}, {m10, m11, m12}, {m20, m21, m22}} {}

  static const Matrix3x3 Identity;

  Matrix3x3 Transpose() const {
    return Matrix3x3(m[0][0], m[1][0], m[2][0], m[0][1], m[1][1], m[2][1], m[0][2], m[1][2],
                     m[2][2]);
  }
  void ToTranspose() { *this = Transpose(); }
  float Determinant() const {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  }
  // Columns; SetVector writes a row.
  Vector3f GetVectorX() const { return Vector3f(m[0][0], m[1][0], m[2][0]); }
  Vector3f GetVectorY() const { return Vector3f(m[0][1], m[1][1], m[2][1]); }
  Vector3f GetVectorZ() const { return Vector3f(m[0][2], m[1][2], m[2][2]); }
  void SetVector(const Vector3f& v, int row) {
    m[row][0] = v.x, m[row][1] = v.y, m[row][2] = v.z;
  }

  // this = this * R(angle): the new rotation applies after the existing one.
  void ToXRot(float angle);
  void ToYRot(float angle);
  void ToZRot(float angle);
};

// Row-major 4x4, element order _11 _12 ... _44; elements 12..14 hold the
// translation.
struct ENGINE_API Matrix4x4 {
  float m[4][4];

  Matrix4x4() = default;  // elements left uninitialised
  constexpr Matrix4x4(float m00, float m01, float m02, float m03, float m10, float m11, float m12,
                      float m13, float m20, float m21, float m22, float m23, float m30, float m31,
                      float m32, float m33)
      : m{{m00, m01, m02, m03}, {m10, m11, m12, m13}, {m20, m21, m22, m23}, {m30, m31, m32, m33}} {
  }

  static const Matrix4x4 Identity;

  void ToTranspose();
  Vector3f GetVectorX() const { return Vector3f(m[0][0], m[1][0], m[2][0]); }
  Vector3f GetVectorY() const { return Vector3f(m[0][1], m[1][1], m[2][1]); }
  Vector3f GetVectorZ() const { return Vector3f(m[0][2], m[1][2], m[2][2]); }
  Vector3f GetTranslation() const { return Vector3f(m[3][0], m[3][1], m[3][2]); }
  Vector4f GetTranslation4f() const { return Vector4f(m[3][0], m[3][1], m[3][2], m[3][3]); }
  // Both set row 3's first three elements and leave the rest untouched.
  void SetTranslation(Vector3f t) { ToTranslation(t); }
  void ToTranslation(const Vector3f& t) { m[3][0] = t.x, m[3][1] = t.y, m[3][2] = t.z; }
  Matrix3x3 GetRotation() const {
    return Matrix3x3(m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1],
                     m[2][2]);
  }
  void SetRotation(const Matrix3x3& r) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = r.m[i][j];
  }
  // this = this * Rz(angle).
  void ToZRot(float angle);
};

// a . normal + d = 0 for points on the plane.
struct ENGINE_API Plane3f {
  enum Location { InFront = 0, Behind = 1, OnPlane = 2 };

  Vector3f normal;
  float d = 0.0f;

  constexpr Plane3f() = default;
  constexpr Plane3f(float a, float b, float c, float d_) : normal(a, b, c), d(d_) {}
  constexpr Plane3f(const Vector3f& n, float d_) : normal(n), d(d_) {}
  Plane3f(const Vector3f& n, const Vector3f& point);
  // Normal of (p1 - p0) x (p2 - p0), normalised; collinear points give a
  // zero normal and d = 0, a plane that classifies every point as on it.
  Plane3f(const Vector3f& p0, const Vector3f& p1, const Vector3f& p2);

  Location TestPoint(const Vector3f& p) const;
  // Where the line through a and b meets the plane; a line parallel to the
  // plane has no such point and yields a.
  Vector3f Split(const Vector3f& a, const Vector3f& b) const;
};

inline Vector3f operator+(const Vector3f& a, const Vector3f& b) {
  return Vector3f(a.x + b.x, a.y + b.y, a.z + b.z);
}
inline Vector3f operator-(const Vector3f& a, const Vector3f& b) {
  return Vector3f(a.x - b.x, a.y - b.y, a.z - b.z);
}
inline Vector3f operator*(const Vector3f& v, float s) { return Vector3f(v.x * s, v.y * s, v.z * s); }
inline Vector3f operator*(float s, const Vector3f& v) { return v * s; }
// Dot product.
inline float operator*(const Vector3f& a, const Vector3f& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
// Cross product.
inline Vector3f operator^(const Vector3f& a, const Vector3f& b) {
  return Vector3f(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
inline Vector3f& operator+=(Vector3f& a, const Vector3f& b) {
  a.x += b.x, a.y += b.y, a.z += b.z;
  return a;
}
inline Vector3f& operator-=(Vector3f& a, const Vector3f& b) {
  a.x -= b.x, a.y -= b.y, a.z -= b.z;
  return a;
}
// Tolerant: each component differs by less than 0.001.
inline bool operator==(const Vector3f& a, const Vector3f& b) {
  return std::fabs(a.x - b.x) < 0.001f && std::fabs(a.y - b.y) < 0.001f &&
         std::fabs(a.z - b.z) < 0.001f;
}
inline bool operator!=(const Vector3f& a, const Vector3f& b) { return !(a == b); }

// (x, y, z, 1) * M without the division by w.
inline Vector3f operator*(const Vector3f& v, const Matrix4x4& m) {
  return Vector3f(v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0] + m.m[3][0],
                  v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1] + m.m[3][1],
                  v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2] + m.m[3][2]);
}
inline Vector3f operator*(const Vector3f& v, const Matrix3x3& m) {
  return Vector3f(v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
                  v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
                  v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]);
}

ENGINE_API Matrix4x4 operator*(const Matrix4x4& a, const Matrix4x4& b);
ENGINE_API Matrix3x3 operator*(const Matrix3x3& a, const Matrix3x3& b);

}  // namespace engine::math
