#include "platform/d3dmath.h"

#include <cmath>
#include <cstring>
#include <array>
#include <limits>
#include <random>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "engine/math.h"

using namespace platform;

namespace {

constexpr float kPi = 3.14159265358979f;

void ExpectNear(const Matrix& a, const Matrix& b, float eps = 1e-5f) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], eps) << "element " << i << j;
}

void ExpectNear(const Vector3& a, const Vector3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

Matrix Identity() {
  Matrix m;
  return *MatrixIdentity(&m);
}

Matrix Translation(const Vector3& t) {
  Matrix m = Identity();
  m.m[3][0] = t.x, m.m[3][1] = t.y, m.m[3][2] = t.z;
  return m;
}

Matrix Mul(const Matrix& a, const Matrix& b) {
  Matrix r;
  return *MatrixMultiply(&r, &a, &b);
}

Matrix RotationAxis(Vector3 axis, float angle) {
  Matrix r;
  return *MatrixRotationAxis(&r, &axis, angle);
}

Quaternion AxisAngle(Vector3 axis, float angle) {
  Vector3 a;
  Vec3Normalize(&a, &axis);
  const float s = std::sin(angle / 2);
  return {a.x * s, a.y * s, a.z * s, std::cos(angle / 2)};
}

Vector3 Coord(Vector3 v, const Matrix& m) { return *Vec3TransformCoord(&v, &v, &m); }

// Diagonally dominant, hence comfortably invertible.
Matrix RandomWellConditioned(std::mt19937& rng) {
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  Matrix m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m.m[i][j] = u(rng) + (i == j ? 5.0f : 0.0f);
  return m;
}

TEST(D3dMathLayoutTest, EngineTypesPassAsTheyAre) {
  static_assert(sizeof(Matrix) == sizeof(engine::math::Matrix4x4));
  static_assert(sizeof(Vector3) == sizeof(engine::math::Vector3f));
  static_assert(std::is_standard_layout_v<Matrix> && std::is_trivially_copyable_v<Vector3>);

  engine::math::Matrix4x4 a = engine::math::Matrix4x4::Identity, b = a;
  a.ToZRot(0.7f);
  a.ToTranslation(engine::math::Vector3f(1, 2, 3));
  b.ToZRot(-1.9f);
  b.ToTranslation(engine::math::Vector3f(-4, 5, 0.5f));
  const engine::math::Matrix4x4 expected = a * b;
  Matrix product;
  MatrixMultiply(&product, reinterpret_cast<const Matrix*>(&a), reinterpret_cast<const Matrix*>(&b));
  Matrix copied;
  std::memcpy(&copied, &expected, sizeof copied);
  ExpectNear(product, copied);

  const engine::math::Vector3f v(0.25f, -3, 7);
  const engine::math::Vector3f ev = v * a;
  Vector3 pv;
  Vec3TransformCoord(&pv, reinterpret_cast<const Vector3*>(&v), reinterpret_cast<const Matrix*>(&a));
  ExpectNear(pv, {ev.x, ev.y, ev.z});
}

TEST(D3dMathProjectionTest, MapsTheFrustumToClipSpaceWithDepthZeroToOne) {
  const float fov = kPi / 3, aspect = 16.0f / 9.0f, zn = 0.5f, zf = 100.0f;
  Matrix p;
  MatrixPerspectiveFovLH(&p, fov, aspect, zn, zf);
  EXPECT_NEAR(Coord({0, 0, zn}, p).z, 0.0f, 1e-6f);
  EXPECT_NEAR(Coord({0, 0, zf}, p).z, 1.0f, 1e-6f);
  EXPECT_EQ(p.m[2][3], 1.0f);  // w = view-space z
  EXPECT_EQ(p.m[3][3], 0.0f);

  const float z = 10.0f, halfHeight = z * std::tan(fov / 2), halfWidth = halfHeight * aspect;
  ExpectNear(Coord({halfWidth, halfHeight, z}, p), {1, 1, Coord({0, 0, z}, p).z});
  ExpectNear(Coord({-halfWidth, -halfHeight, z}, p), {-1, -1, Coord({0, 0, z}, p).z});

  // Degenerate parameters give finite matrices.
  for (const auto& args : {std::array<float, 4>{0, aspect, zn, zf}, {fov, 0, zn, zf}, {fov, aspect, 5, 5}}) {
    MatrixPerspectiveFovLH(&p, args[0], args[1], args[2], args[3]);
    for (const auto& row : p.m)
      for (float e : row) EXPECT_TRUE(std::isfinite(e));
  }
}

TEST(D3dMathInverseTest, InvertsAndReportsTheDeterminant) {
  std::mt19937 rng(12345);
  for (int n = 0; n < 100; ++n) {
    const Matrix m = RandomWellConditioned(rng);
    Matrix inv;
    ASSERT_EQ(MatrixInverse(&inv, nullptr, &m), &inv);
    ExpectNear(Mul(m, inv), Identity(), 1e-5f);
    ExpectNear(Mul(inv, m), Identity(), 1e-5f);
  }

  Matrix m;
  MatrixScaling(&m, 2, 3, 4);
  m = Mul(Mul(m, RotationAxis({1, 1, 0}, 0.8f)), Translation({5, -6, 7}));
  const Matrix original = m;
  float det = 0;
  ASSERT_EQ(MatrixInverse(&m, &det, &m), &m);  // in place
  EXPECT_NEAR(det, 24.0f, 1e-4f);
  ExpectNear(Mul(original, m), Identity());

  // Small but regular: not mistaken for singular.
  MatrixScaling(&m, 1e-3f, 1e-3f, 1e-3f);
  ASSERT_NE(MatrixInverse(&m, nullptr, &m), nullptr);
  EXPECT_NEAR(m.m[1][1], 1000.0f, 1e-2f);
}

TEST(D3dMathInverseTest, SingularLeavesOutUnchanged) {
  Matrix dependent{{{1, 2, 3, 0}, {0, 1, 4, 0}, {1, 3, 7, 0}, {2, 2, 2, 1}}};  // row 2 = 0 + 1
  Matrix withNan = Identity(), withInf = Identity(), tiny;
  withNan.m[1][2] = std::numeric_limits<float>::quiet_NaN();
  withInf.m[3][0] = std::numeric_limits<float>::infinity();
  MatrixScaling(&tiny, 1e-14f, 1e-14f, 1e-14f);  // determinant without a finite reciprocal

  for (const Matrix* m : {&dependent, &withNan, &withInf, &tiny}) {
    Matrix out;
    std::memset(&out, 0x5a, sizeof out);
    const Matrix before = out;
    EXPECT_EQ(MatrixInverse(&out, nullptr, m), nullptr);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
  }
  float det = -1;
  Matrix out;
  EXPECT_EQ(MatrixInverse(&out, &det, &dependent), nullptr);
  EXPECT_EQ(det, 0.0f);
}

TEST(D3dMathMultiplyTest, AppliesTheLeftFactorFirstAndAllowsAliasing) {
  const Matrix a = RotationAxis({0, 0, 1}, kPi / 2), b = Translation({10, 0, 0});
  ExpectNear(Coord({1, 0, 0}, Mul(a, b)), {10, 1, 0});

  std::mt19937 rng(7);
  const Matrix x = RandomWellConditioned(rng), y = RandomWellConditioned(rng);
  const Matrix xy = Mul(x, y), xx = Mul(x, x);
  Matrix out = x;
  ExpectNear(*MatrixMultiply(&out, &out, &y), xy, 0);
  out = y;
  ExpectNear(*MatrixMultiply(&out, &x, &out), xy, 0);
  out = x;
  ExpectNear(*MatrixMultiply(&out, &out, &out), xx, 0);
}

TEST(D3dMathRotationTest, MatchesTheEngineAndRotatesByTheAngle) {
  for (float angle : {-2.5f, 0.3f, 1.0f, 3.0f}) {
    engine::math::Matrix3x3 rx = engine::math::Matrix3x3::Identity, ry = rx, rz = rx;
    rx.ToXRot(angle), ry.ToYRot(angle), rz.ToZRot(angle);
    const std::pair<Vector3, const engine::math::Matrix3x3*> cases[] = {
        {{1, 0, 0}, &rx}, {{0, 2, 0}, &ry}, {{0, 0, 0.5f}, &rz}};
    for (const auto& [axis, engineRot] : cases) {
      Matrix expected = Identity();
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) expected.m[i][j] = engineRot->m[i][j];
      ExpectNear(RotationAxis(axis, angle), expected);
    }
  }

  // Arbitrary axis: the axis stays, a perpendicular vector turns by the angle
  // with the right-hand sense.
  const engine::math::Vector3f axis(1, 2, -0.5f), v = axis ^ engine::math::Vector3f(0, 0, 1);
  const float angle = 1.2f;
  const Matrix r = RotationAxis({axis.x, axis.y, axis.z}, angle);
  ExpectNear(Coord({axis.x, axis.y, axis.z}, r), {axis.x, axis.y, axis.z});
  const Vector3 pr = Coord({v.x, v.y, v.z}, r);
  const engine::math::Vector3f rotated(pr.x, pr.y, pr.z);
  EXPECT_NEAR(rotated.Mag(), v.Mag(), 1e-5f);
  EXPECT_NEAR(rotated * axis, 0.0f, 1e-5f);
  EXPECT_NEAR(std::acos((v * rotated) / v.MagSquared()), angle, 1e-4f);
  EXPECT_GT((v ^ rotated) * axis, 0.0f);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  ExpectNear(RotationAxis({0, 0, 0}, 1.0f), Identity(), 0);
  ExpectNear(RotationAxis({nan, 0, 1}, 1.0f), Identity(), 0);
}

TEST(D3dMathTransformationTest, ComposesScalingRotationAndTranslation) {
  Matrix m;
  ExpectNear(*MatrixTransformation(&m, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
             Identity(), 0);

  // Rotation and translation: the quaternion rotates like MatrixRotationAxis.
  const Vector3 axis{0.3f, -1, 2}, t{4, 5, 6};
  const Quaternion q = AxisAngle(axis, 0.9f);
  MatrixTransformation(&m, nullptr, nullptr, nullptr, nullptr, &q, &t);
  ExpectNear(m, Mul(RotationAxis(axis, 0.9f), Translation(t)));

  // Scaling about a centre keeps the centre and scales offsets from it.
  const Vector3 centre{1, 1, 1}, s{2, 3, 4};
  MatrixTransformation(&m, &centre, nullptr, &s, nullptr, nullptr, nullptr);
  ExpectNear(Coord(centre, m), centre);
  ExpectNear(Coord({2, 0, 1}, m), {3, -2, 1});

  // Scaling frame turned 90 degrees about z: an x scaling acts along y.
  const Quaternion quarter = AxisAngle({0, 0, 1}, kPi / 2);
  const Vector3 sx{2, 1, 1};
  MatrixTransformation(&m, nullptr, &quarter, &sx, nullptr, nullptr, nullptr);
  ExpectNear(Coord({1, 1, 1}, m), {1, 2, 1});

  // Everything at once against the documented product
  // Msc^-1 Msr^-1 Ms Msr Msc Mrc^-1 Mr Mrc Mt.
  const Vector3 rc{-2, 0.5f, 3};
  const Quaternion sr = AxisAngle({1, 1, 0}, 0.4f);
  MatrixTransformation(&m, &centre, &sr, &s, &rc, &q, &t);
  Matrix scale;
  MatrixScaling(&scale, s.x, s.y, s.z);
  Matrix expected = Translation({-centre.x, -centre.y, -centre.z});
  for (const Matrix& f : {RotationAxis({1, 1, 0}, -0.4f), scale, RotationAxis({1, 1, 0}, 0.4f),
                          Translation(centre), Translation({-rc.x, -rc.y, -rc.z}),
                          RotationAxis(axis, 0.9f), Translation(rc), Translation(t)})
    expected = Mul(expected, f);
  ExpectNear(m, expected, 1e-4f);
  ExpectNear(Coord(rc, *MatrixTransformation(&m, nullptr, nullptr, nullptr, &rc, &q, nullptr)), rc);
}

TEST(D3dMathVectorTest, TransformsPointsAndDirections) {
  Matrix m = Translation({1, 2, 3});
  m.m[3][3] = 2;  // w = 2
  ExpectNear(Coord({1, 2, 3}, m), {1, 2, 3});

  // w = 0: a point at infinity comes back undivided.
  Matrix p = Identity();
  p.m[2][3] = 1, p.m[3][3] = 0;
  ExpectNear(Coord({4, 5, 0}, p), {4, 5, 0});

  const Matrix rt = Mul(RotationAxis({0, 0, 1}, kPi / 2), Translation({10, 20, 30}));
  Vector3 n{1, 0, 0};
  Vec3TransformNormal(&n, &n, &rt);
  ExpectNear(n, {0, 1, 0});
}

TEST(D3dMathVectorTest, NormalizeKeepsDegenerateVectorsZero) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<Vector3, Vector3> cases[] = {
      {{3, 4, 0}, {0.6f, 0.8f, 0}},        {{0, 0, 0}, {0, 0, 0}},
      {{1e-30f, 0, 0}, {1, 0, 0}},         {{3e38f, 0, -3e38f}, {0.70710678f, 0, -0.70710678f}},
      {{inf, 1, 0}, {0, 0, 0}},            {{nan, 1, 0}, {0, 0, 0}}};
  for (const auto& [in, expected] : cases) {
    Vector3 v = in;
    ExpectNear(*Vec3Normalize(&v, &v), expected);
  }
}

}  // namespace
