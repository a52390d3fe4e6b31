#pragma once

#include "platform/api.h"

// The graphics library's matrix and vector helpers: row vectors multiplied
// from the left, translation in row 3, left-handed projection with depth
// 0..1. The types have the memory layout of the engine's Vector3f and
// Matrix4x4, which are passed here by reinterpreting them.
namespace platform {

struct Vector3 {
  float x, y, z;
};

struct Vector4 {
  float x, y, z, w;
};

struct Quaternion {
  float x, y, z, w;
};

struct Matrix {
  float m[4][4];
};

// Each returns out, as the graphics library's helpers do; out may alias an
// input. Degenerate input never traps; what each one gives is stated below.

// Maps view-space z = zNear to depth 0 and z = zFar to depth 1 after the
// divide by w = z. A term whose divisor is zero (fovY with tan(fovY/2) = 0,
// aspect 0, zNear == zFar) is set to 0, collapsing that axis.
PLATFORM_API Matrix* MatrixPerspectiveFovLH(Matrix* out, float fovY, float aspect, float zNear,
                                            float zFar);
// Null when the matrix is singular (out is left unchanged then): the
// determinant is 0, not finite (NaN or infinite elements, overflow), or so
// small that its reciprocal overflows. The determinant is written through a
// non-null pointer in every case, singular included.
PLATFORM_API Matrix* MatrixInverse(Matrix* out, float* determinant, const Matrix* m);
PLATFORM_API Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b);
// Scaling about a centre with its own orientation, then rotation about a
// centre, then translation; any pointer may be null for "none".
// Quaternions are taken to be unit and used as given; the scaling frame is
// undone with the transpose of its rotation. A null scaling skips the frame.
PLATFORM_API Matrix* MatrixTransformation(Matrix* out, const Vector3* scalingCenter,
                                          const Quaternion* scalingRotation,
                                          const Vector3* scaling, const Vector3* rotationCenter,
                                          const Quaternion* rotation,
                                          const Vector3* translation);
// Right-hand rotation about the axis, which need not be unit length: about
// +z, (1, 0, 0) goes to (cos a, sin a, 0), as in the engine's rotation
// helpers. A zero or non-finite axis gives the identity.
PLATFORM_API Matrix* MatrixRotationAxis(Matrix* out, const Vector3* axis, float angle);
PLATFORM_API Matrix* MatrixScaling(Matrix* out, float sx, float sy, float sz);
PLATFORM_API Matrix* MatrixIdentity(Matrix* out);
// (x, y, z, 1) * m, divided by the resulting w; when w is 0 the undivided
// x, y, z are returned.
PLATFORM_API Vector3* Vec3TransformCoord(Vector3* out, const Vector3* v, const Matrix* m);
// (x, y, z, 0) * m: directions ignore the translation.
PLATFORM_API Vector3* Vec3TransformNormal(Vector3* out, const Vector3* v, const Matrix* m);
// A zero vector stays zero, and so does one with an infinite or NaN
// component; very small and very large vectors normalise correctly.
PLATFORM_API Vector3* Vec3Normalize(Vector3* out, const Vector3* v);

}  // namespace platform
