#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include <gtest/gtest.h>

#include "engine/math.h"
#include "engine/wrapper.h"

using namespace engine::math;

namespace {

constexpr float kPi = 3.14159265358979f;

void ExpectNear(const Vector3f& actual, const Vector3f& expected, float eps = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, eps);
  EXPECT_NEAR(actual.y, expected.y, eps);
  EXPECT_NEAR(actual.z, expected.z, eps);
}

TEST(MathLayoutTest, MatchesTheGraphicsInterface) {
  static_assert(sizeof(Vector3f) == 12 && sizeof(Vector4f) == 16 && sizeof(Vector2f) == 8);
  static_assert(sizeof(Matrix4x4) == 64 && sizeof(Matrix3x3) == 36 && sizeof(Plane3f) == 16);
  static_assert(std::is_trivially_copyable_v<Matrix4x4> && std::is_standard_layout_v<Vector3f>);
  static_assert(offsetof(Plane3f, d) == 12);

  Matrix4x4 m = Matrix4x4::Identity;
  m.SetTranslation(Vector3f(10, 20, 30));
  float raw[16];
  std::memcpy(raw, &m, sizeof raw);
  EXPECT_EQ(raw[12], 10);
  EXPECT_EQ(raw[13], 20);
  EXPECT_EQ(raw[14], 30);
  EXPECT_EQ(raw[15], 1);

  const Matrix4x4 seq(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  std::memcpy(raw, &seq, sizeof raw);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(raw[i], i);
  EXPECT_EQ(seq.m[1][2], 6);
}

TEST(VectorTest, ToleranceOfEqualityIsStrict) {
  EXPECT_TRUE(Vector3f(0, 0, 0) == Vector3f(0.0009f, -0.0009f, 0));
  EXPECT_FALSE(Vector3f(0, 0, 0) == Vector3f(0, 0, 0.001f));
  EXPECT_FALSE(Vector3f(0, 0, 0) == Vector3f(-0.0011f, 0, 0));
  EXPECT_TRUE(Vector3f(5, 5, 5) != Vector3f(5, 6, 5));
}

TEST(VectorTest, ProductsAndArithmetic) {
  ExpectNear(Vector3f(1, 0, 0) ^ Vector3f(0, 1, 0), Vector3f(0, 0, 1));
  ExpectNear(Vector3f(0, 1, 0) ^ Vector3f(1, 0, 0), Vector3f(0, 0, -1));
  EXPECT_FLOAT_EQ(Vector3f(1, 2, 3) * Vector3f(4, -5, 6), 12.0f);
  ExpectNear(2.0f * Vector3f(1, 2, 3) - Vector3f(1, 1, 1), Vector3f(1, 3, 5));
  Vector3f v(1, 2, 3);
  v += Vector3f(1, 1, 1);
  v -= Vector3f(0, 0, 4);
  ExpectNear(v, Vector3f(2, 3, 0));
  ExpectNear(-v, Vector3f(-2, -3, 0));
  EXPECT_FLOAT_EQ(Vector3f(1, 2, 3).AddComponents(), 6.0f);
  EXPECT_FLOAT_EQ(Vector3f::Dist(Vector3f(1, 1, 1), Vector3f(4, 5, 1)), 5.0f);
  EXPECT_FLOAT_EQ(Vector2f::Dist(Vector2f(0, 0), Vector2f(3, 4)), 5.0f);
  EXPECT_FLOAT_EQ(Vector4f::Dist(Vector4f(1, 1, 1, 1), Vector4f(2, 2, 2, 2)), 2.0f);
  EXPECT_FLOAT_EQ(Vector4f(Vector3f(1, 2, 3), 4).w, 4.0f);
}

TEST(VectorTest, NormalizeUsesTheLengthBeforeTheCallAndLeavesZeroAlone) {
  Vector3f v(3, 0, 4);
  v.Normalize();
  ExpectNear(v, Vector3f(0.6f, 0, 0.8f));
  Vector4f q(0, 0, 0, 2);
  q.Normalize();
  EXPECT_FLOAT_EQ(q.w, 1.0f);

  Vector3f zero;
  zero.Normalize();
  EXPECT_EQ(zero.x, 0.0f);
  EXPECT_FALSE(std::isnan(zero.y));
  Vector2f zero2;
  zero2.Normalize();
  EXPECT_EQ(zero2.Mag(), 0.0f);
}

TEST(MatrixTest, TransformIsRowVectorTimesMatrixWithTranslationInRowThree) {
  Matrix4x4 m = Matrix4x4::Identity;
  m.ToTranslation(Vector3f(10, 20, 30));
  ExpectNear(Vector3f(1, 2, 3) * m, Vector3f(11, 22, 33));

  // The fourth column is dropped, no division by w.
  Matrix4x4 w = Matrix4x4::Identity;
  w.m[0][3] = 5;
  w.m[3][3] = 9;
  ExpectNear(Vector3f(1, 2, 3) * w, Vector3f(1, 2, 3));

  const Matrix3x3 r(1, 2, 3, 4, 5, 6, 7, 8, 9);
  ExpectNear(Vector3f(1, 0, 0) * r, Vector3f(1, 2, 3));  // picks row 0
  ExpectNear(Vector3f(0, 0, 1) * r, Vector3f(7, 8, 9));
}

TEST(MatrixTest, ProductAppliesTheLeftOperandFirst) {
  Matrix4x4 translate = Matrix4x4::Identity;
  translate.ToTranslation(Vector3f(1, 0, 0));
  Matrix4x4 rotate = Matrix4x4::Identity;
  rotate.ToZRot(kPi / 2);
  ExpectNear(Vector3f(0, 0, 0) * (translate * rotate), Vector3f(0, 1, 0));
  ExpectNear(Vector3f(0, 0, 0) * (rotate * translate), Vector3f(1, 0, 0));

  const Matrix3x3 a(1, 2, 3, 4, 5, 6, 7, 8, 10);
  const Matrix3x3 p = a * Matrix3x3::Identity;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(p.m[i][j], a.m[i][j]);
  EXPECT_FLOAT_EQ((a * a).m[0][0], 1 + 8 + 21);
}

TEST(MatrixTest, RotationsTurnPositiveAnglesAndMultiplyOnTheRight) {
  Matrix3x3 z = Matrix3x3::Identity;
  z.ToZRot(kPi / 2);
  ExpectNear(Vector3f(1, 0, 0) * z, Vector3f(0, 1, 0));
  Matrix3x3 x = Matrix3x3::Identity;
  x.ToXRot(kPi / 2);
  ExpectNear(Vector3f(0, 1, 0) * x, Vector3f(0, 0, 1));
  Matrix3x3 y = Matrix3x3::Identity;
  y.ToYRot(kPi / 2);
  ExpectNear(Vector3f(0, 0, 1) * y, Vector3f(1, 0, 0));

  // this = this * R: the new rotation applies after the existing one.
  Matrix3x3 xz = Matrix3x3::Identity;
  xz.ToXRot(kPi / 2);
  xz.ToZRot(kPi / 2);
  ExpectNear(Vector3f(0, 1, 0) * xz, (Vector3f(0, 1, 0) * x) * z);
  ExpectNear(Vector3f(0, 1, 0) * xz, Vector3f(0, 0, 1));

  Matrix4x4 z4 = Matrix4x4::Identity;
  z4.ToTranslation(Vector3f(5, 0, 0));
  z4.ToZRot(kPi / 2);  // the translation is rotated too
  ExpectNear(Vector3f(0, 0, 0) * z4, Vector3f(0, 5, 0));
  EXPECT_FLOAT_EQ(z4.m[3][3], 1.0f);
}

TEST(MatrixTest, AccessorsReadColumnsAndWriteRows) {
  Matrix3x3 m(1, 2, 3, 4, 5, 6, 7, 8, 9);
  ExpectNear(m.GetVectorX(), Vector3f(1, 4, 7));
  ExpectNear(m.GetVectorZ(), Vector3f(3, 6, 9));
  m.SetVector(Vector3f(-1, -2, -3), 1);
  EXPECT_EQ(m.m[1][0], -1);
  EXPECT_EQ(m.m[1][2], -3);
  EXPECT_FLOAT_EQ(Matrix3x3(2, 0, 0, 0, 3, 0, 0, 0, 4).Determinant(), 24.0f);
  EXPECT_FLOAT_EQ(Matrix3x3(1, 2, 3, 4, 5, 6, 7, 8, 10).Determinant(), -3.0f);
  const Matrix3x3 t = Matrix3x3(1, 2, 3, 4, 5, 6, 7, 8, 9).Transpose();
  EXPECT_EQ(t.m[0][1], 4);
  EXPECT_EQ(t.m[2][0], 3);

  Matrix4x4 q(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  ExpectNear(q.GetVectorY(), Vector3f(1, 5, 9));
  ExpectNear(q.GetTranslation(), Vector3f(12, 13, 14));
  EXPECT_EQ(q.GetTranslation4f().w, 15);
  const Matrix3x3 block = q.GetRotation();
  EXPECT_EQ(block.m[2][2], 10);
  q.SetRotation(Matrix3x3::Identity);
  EXPECT_EQ(q.m[0][1], 0);
  EXPECT_EQ(q.m[0][3], 3);  // column 3 untouched
  EXPECT_EQ(q.m[3][0], 12);
  q.ToTranspose();
  EXPECT_EQ(q.m[3][0], 3);
  EXPECT_EQ(q.m[0][3], 12);
  // ToTranslation touches only the translation.
  q.ToTranslation(Vector3f(1, 1, 1));
  EXPECT_EQ(q.m[3][3], 15);
  EXPECT_EQ(q.m[0][0], 1);
}

TEST(PlaneTest, TestPointToleranceAndSides) {
  const Plane3f z0(Vector3f(0, 0, 1), 0.0f);
  EXPECT_EQ(z0.TestPoint(Vector3f(5, 5, 0.001f)), Plane3f::OnPlane);
  EXPECT_EQ(z0.TestPoint(Vector3f(0, 0, 0.002f)), Plane3f::InFront);
  EXPECT_EQ(z0.TestPoint(Vector3f(0, 0, -0.002f)), Plane3f::Behind);

  const Plane3f through(Vector3f(0, 2, 0), Vector3f(0, 3, 0));  // normal kept as given
  EXPECT_FLOAT_EQ(through.d, -6.0f);
  EXPECT_EQ(through.TestPoint(Vector3f(0, 3, 0)), Plane3f::OnPlane);
}

TEST(PlaneTest, ThreePointsAndSplit) {
  const Plane3f p(Vector3f(0, 0, 2), Vector3f(1, 0, 2), Vector3f(0, 1, 2));
  ExpectNear(p.normal, Vector3f(0, 0, 1));
  EXPECT_FLOAT_EQ(p.d, -2.0f);
  ExpectNear(p.Split(Vector3f(1, 1, 0), Vector3f(1, 1, 4)), Vector3f(1, 1, 2));
  ExpectNear(p.Split(Vector3f(0, 0, 3), Vector3f(0, 0, 4)), Vector3f(0, 0, 2));  // beyond a..b
}

TEST(PlaneTest, DegenerateInputGivesFiniteResults) {
  const Plane3f collinear(Vector3f(0, 0, 0), Vector3f(1, 1, 1), Vector3f(2, 2, 2));
  EXPECT_FALSE(std::isnan(collinear.normal.x));
  EXPECT_FALSE(std::isnan(collinear.d));
  EXPECT_EQ(collinear.TestPoint(Vector3f(4, 5, 6)), Plane3f::OnPlane);

  const Plane3f z0(Vector3f(0, 0, 1), 0.0f);
  ExpectNear(z0.Split(Vector3f(1, 2, 3), Vector3f(4, 5, 3)), Vector3f(1, 2, 3));
}

TEST(FindLessEqualPow2Test, LargestPowerNotAboveN) {
  EXPECT_EQ(engine::FindLessEqualPow2(INT_MIN), 0);
  EXPECT_EQ(engine::FindLessEqualPow2(-1), 0);
  EXPECT_EQ(engine::FindLessEqualPow2(0), 0);
  EXPECT_EQ(engine::FindLessEqualPow2(1), 1);
  EXPECT_EQ(engine::FindLessEqualPow2(5), 4);
  EXPECT_EQ(engine::FindLessEqualPow2(8), 8);
  EXPECT_EQ(engine::FindLessEqualPow2(1023), 512);
  EXPECT_EQ(engine::FindLessEqualPow2(1024), 1024);
  // Values at and above 2^30 must not overflow the doubling.
  EXPECT_EQ(engine::FindLessEqualPow2((1 << 30) - 1), 1 << 29);
  EXPECT_EQ(engine::FindLessEqualPow2(1 << 30), 1 << 30);
  EXPECT_EQ(engine::FindLessEqualPow2(INT_MAX), 1 << 30);
}

}  // namespace
