#include "platform/d3dmath.h"

#include <cmath>

namespace platform {

namespace {

// Terms that would divide by zero become 0: a degenerate projection collapses
// an axis instead of filling the matrix with infinities and NaNs.
float DivideOrZero(float a, float b) { return b != 0.0f ? a / b : 0.0f; }

// Length in double: squares of any finite float neither overflow nor
// underflow there, so tiny and huge vectors normalise as well as unit ones.
// Zero or non-finite lengths give 0 for the caller to treat as degenerate.
double SafeLength(const Vector3& v) {
  const double x = v.x, y = v.y, z = v.z;
  const double length = std::sqrt(x * x + y * y + z * z);
  return std::isfinite(length) ? length : 0.0;
}

struct Rows3 {
  float m[3][3];
};

constexpr Rows3 kIdentity3 = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// Rotation block of a quaternion for row vectors: the transpose of the usual
// column-vector form, so that (a sin(t/2), cos(t/2)) rotates like
// MatrixRotationAxis(a, t). The quaternion is used as given.
Rows3 QuaternionRows(const Quaternion& q) {
  const float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
  const float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
  const float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
  return {{{1 - 2 * (yy + zz), 2 * (xy + wz), 2 * (xz - wy)},
           {2 * (xy - wz), 1 - 2 * (xx + zz), 2 * (yz + wx)},
           {2 * (xz + wy), 2 * (yz - wx), 1 - 2 * (xx + yy)}}};
}

Rows3 Multiply3(const Rows3& a, const Rows3& b) {
  Rows3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
  return r;
}

Vector3 RowTimes(const Vector3& v, const Rows3& m) {
  return {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
          v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
          v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2]};
}

}  // namespace

Matrix* MatrixPerspectiveFovLH(Matrix* out, float fovY, float aspect, float zNear, float zFar) {
  const float yScale = DivideOrZero(1.0f, std::tan(fovY * 0.5f));
  const float xScale = DivideOrZero(yScale, aspect);
  const float q = DivideOrZero(zFar, zFar - zNear);
  *out = Matrix{{{xScale, 0, 0, 0}, {0, yScale, 0, 0}, {0, 0, q, 1}, {0, 0, -zNear * q, 0}}};
  return out;
}

Matrix* MatrixInverse(Matrix* out, float* determinant, const Matrix* m) {
  const auto& a = m->m;
  // 2x2 minors of the top two rows (s) and the bottom two rows (c): every
  // cofactor and the determinant are sums of products of one of each.
  const float s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
  const float s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
  const float s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
  const float s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
  const float s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
  const float s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
  const float c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
  const float c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
  const float c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
  const float c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
  const float c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
  const float c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];

  const float det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (determinant) *determinant = det;
  if (det == 0.0f || !std::isfinite(det)) return nullptr;
  const float r = 1.0f / det;
  // A subnormal determinant has no finite reciprocal: as singular as zero.
  if (!std::isfinite(r)) return nullptr;

  const Matrix inv{{
      {(a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3) * r,
       (-a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3) * r,
       (a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3) * r,
       (-a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3) * r},
      {(-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1) * r,
       (a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1) * r,
       (-a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1) * r,
       (a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1) * r},
      {(a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0) * r,
       (-a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0) * r,
       (a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0) * r,
       (-a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0) * r},
      {(-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0) * r,
       (a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0) * r,
       (-a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0) * r,
       (a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0) * r},
  }};
  *out = inv;
  return out;
}

Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
  Matrix r;  // out may be a or b
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                  a->m[i][3] * b->m[3][j];
  *out = r;
  return out;
}

Matrix* MatrixTransformation(Matrix* out, const Vector3* scalingCenter,
                             const Quaternion* scalingRotation, const Vector3* scaling,
                             const Vector3* rotationCenter, const Quaternion* rotation,
                             const Vector3* translation) {
  // The nine-matrix product collapses to a linear block L = S' * R and one
  // translation row, with S' the scaling expressed in its own frame:
  //   p -> ((p - sc) S' + sc - rc) R + rc + t
  //      = p L + (sc - sc S' - rc) R + rc + t.
  const Vector3 sc = scalingCenter ? *scalingCenter : Vector3{0, 0, 0};
  const Vector3 rc = rotationCenter ? *rotationCenter : Vector3{0, 0, 0};
  const Vector3 t = translation ? *translation : Vector3{0, 0, 0};

  Rows3 s = kIdentity3;  // no scaling: the frame cancels out and is skipped
  if (scaling) {
    const float f[3] = {scaling->x, scaling->y, scaling->z};
    if (scalingRotation) {
      // Msr^-1 * Ms * Msr; the inverse of a unit quaternion's block is its
      // transpose.
      const Rows3 q = QuaternionRows(*scalingRotation);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          s.m[i][j] = q.m[0][i] * f[0] * q.m[0][j] + q.m[1][i] * f[1] * q.m[1][j] +
                      q.m[2][i] * f[2] * q.m[2][j];
    } else {
      s = Rows3{{{f[0], 0, 0}, {0, f[1], 0}, {0, 0, f[2]}}};
    }
  }
  const Rows3 r = rotation ? QuaternionRows(*rotation) : kIdentity3;
  const Rows3 l = Multiply3(s, r);

  const Vector3 scs = RowTimes(sc, s);
  const Vector3 offset = RowTimes({sc.x - scs.x - rc.x, sc.y - scs.y - rc.y, sc.z - scs.z - rc.z}, r);

  *out = Matrix{{{l.m[0][0], l.m[0][1], l.m[0][2], 0},
                 {l.m[1][0], l.m[1][1], l.m[1][2], 0},
                 {l.m[2][0], l.m[2][1], l.m[2][2], 0},
                 {offset.x + rc.x + t.x, offset.y + rc.y + t.y, offset.z + rc.z + t.z, 1}}};
  return out;
}

Matrix* MatrixRotationAxis(Matrix* out, const Vector3* axis, float angle) {
  const double length = SafeLength(*axis);
  if (length == 0.0) return MatrixIdentity(out);
  const float x = static_cast<float>(axis->x / length);
  const float y = static_cast<float>(axis->y / length);
  const float z = static_cast<float>(axis->z / length);
  const float c = std::cos(angle), s = std::sin(angle), k = 1.0f - c;
  // c I + (1 - c) a a^T - s [a]x: the right-hand rotation, transposed for
  // row vectors, matching the engine's ToXRot/ToYRot/ToZRot.
  *out = Matrix{{{c + k * x * x, k * x * y + s * z, k * x * z - s * y, 0},
                 {k * x * y - s * z, c + k * y * y, k * y * z + s * x, 0},
                 {k * x * z + s * y, k * y * z - s * x, c + k * z * z, 0},
                 {0, 0, 0, 1}}};
  return out;
}

Matrix* MatrixScaling(Matrix* out, float sx, float sy, float sz) {
  *out = Matrix{{{sx, 0, 0, 0}, {0, sy, 0, 0}, {0, 0, sz, 0}, {0, 0, 0, 1}}};
  return out;
}

Matrix* MatrixIdentity(Matrix* out) { return MatrixScaling(out, 1, 1, 1); }

Vector3* Vec3TransformCoord(Vector3* out, const Vector3* v, const Matrix* m) {
  const auto& a = m->m;
  const float x = v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0] + a[3][0];
  const float y = v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1] + a[3][1];
  const float z = v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2] + a[3][2];
  const float w = v->x * a[0][3] + v->y * a[1][3] + v->z * a[2][3] + a[3][3];
  if (w != 0.0f) {
    *out = Vector3{x / w, y / w, z / w};
  } else {
    *out = Vector3{x, y, z};
  }
  return out;
}

Vector3* Vec3TransformNormal(Vector3* out, const Vector3* v, const Matrix* m) {
  const auto& a = m->m;
  *out = Vector3{v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0],
                 v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1],
                 v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2]};
  return out;
}

Vector3* Vec3Normalize(Vector3* out, const Vector3* v) {
  const double length = SafeLength(*v);
  if (length == 0.0) {
    *out = Vector3{0, 0, 0};
  } else {
    *out = Vector3{static_cast<float>(v->x / length), static_cast<float>(v->y / length),
                   static_cast<float>(v->z / length)};
  }
  return out;
}

}  // namespace platform
