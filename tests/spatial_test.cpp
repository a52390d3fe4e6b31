#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "engine/spatial.h"

using namespace engine::math;
using engine::gfx::Spatial;
using engine::gfx::Transformation;

namespace {

constexpr float kPi = 3.14159265358979f;

void ExpectNear(const Vector3f& actual, const Vector3f& expected, float eps = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, eps);
  EXPECT_NEAR(actual.y, expected.y, eps);
  EXPECT_NEAR(actual.z, expected.z, eps);
}

void ExpectNear(const Matrix4x4& actual, const Matrix4x4& expected, float eps = 1e-5f) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(actual.m[i][j], expected.m[i][j], eps) << i << j;
}

Matrix3x3 RotZ(float angle) {
  Matrix3x3 r = Matrix3x3::Identity;
  r.ToZRot(angle);
  return r;
}

Matrix3x3 SomeRotation() {
  Matrix3x3 r = Matrix3x3::Identity;
  r.ToXRot(0.3f);
  r.ToYRot(-1.1f);
  r.ToZRot(2.0f);
  return r;
}

class Leaf : public Spatial {
 public:
  explicit Leaf(Spatial* parent) { mParent = parent; }
  void Update(engine::gfx::Renderer*) override {
    if (mParent != nullptr) {
      mParentWorld = mParent->World();
      mParentWorldInverse = mParent->WorldInverse();
    }
  }
};

TEST(TransformationTest, FreshIsIdentityAndTranslateClearsTheFlag) {
  Transformation t;
  EXPECT_TRUE(t.IsIdentity());
  ExpectNear(t.BuildMatrix(), Matrix4x4::Identity, 0);
  ExpectNear(t.BuildReverseMatrix(), Matrix4x4::Identity, 0);
  ExpectNear(t.BuildInvMatrix(), Matrix4x4::Identity, 0);
  ExpectNear(t.BuildReverseInvMatrix(), Matrix4x4::Identity, 0);

  t.Translate(Vector3f(1, 2, 3));
  EXPECT_FALSE(t.IsIdentity());
  Matrix4x4 expected = Matrix4x4::Identity;
  expected.ToTranslation(Vector3f(1, 2, 3));
  ExpectNear(t.BuildMatrix(), expected, 0);

  Transformation r;
  r.Rotate(Matrix3x3::Identity);  // the flag, not the matrix, decides
  EXPECT_FALSE(r.IsIdentity());
  r.Identity();
  EXPECT_TRUE(r.IsIdentity());
  ExpectNear(r.Translate(), Vector3f(0, 0, 0));
}

TEST(TransformationTest, IdentityFlagHidesTheFields) {
  Transformation t;
  t.Translate(Vector3f(4, 5, 6));
  Transformation copy = t;
  EXPECT_FALSE(copy.IsIdentity());
  ExpectNear(copy.Translate(), Vector3f(4, 5, 6));
  copy.Identity();
  ExpectNear(copy.BuildMatrix(), Matrix4x4::Identity, 0);
}

TEST(TransformationTest, BuilderOrder) {
  Transformation t;
  t.Rotate(RotZ(kPi / 2));
  t.Translate(Vector3f(1, 0, 0));
  ExpectNear(Vector3f(1, 0, 0) * t.BuildMatrix(), Vector3f(1, 1, 0));         // rotate, move
  ExpectNear(Vector3f(1, 0, 0) * t.BuildReverseMatrix(), Vector3f(0, 2, 0));  // move, rotate
}

TEST(TransformationTest, InverseBuildersUndoTheirBuilders) {
  Transformation t;
  t.Rotate(SomeRotation());
  t.Translate(Vector3f(3, -7, 11));
  ExpectNear(t.BuildMatrix() * t.BuildInvMatrix(), Matrix4x4::Identity);
  ExpectNear(t.BuildInvMatrix() * t.BuildMatrix(), Matrix4x4::Identity);
  ExpectNear(t.BuildReverseMatrix() * t.BuildReverseInvMatrix(), Matrix4x4::Identity);
  const Vector3f p(0.5f, 2, -4);
  ExpectNear(p * t.BuildMatrix() * t.BuildInvMatrix(), p, 1e-4f);
}

TEST(TransformationTest, InvertSwapsTheRolesOfTheBuilders) {
  Transformation t;
  t.Rotate(SomeRotation());
  t.Translate(Vector3f(1, 2, 3));
  const Matrix4x4 oldMatrix = t.BuildMatrix();
  const Matrix4x4 oldReverse = t.BuildReverseMatrix();
  t.Invert();
  ExpectNear(t.BuildMatrix() * oldReverse, Matrix4x4::Identity);
  ExpectNear(t.BuildReverseMatrix() * oldMatrix, Matrix4x4::Identity);

  Transformation identity;
  identity.Invert();
  EXPECT_TRUE(identity.IsIdentity());
  ExpectNear(identity.BuildMatrix(), Matrix4x4::Identity, 0);
}

TEST(SpatialTest, RootWorldIsLocalAndChildSeesParentAfterUpdate) {
  Leaf root(nullptr);
  Transformation placement;
  placement.Rotate(RotZ(kPi / 2));
  placement.Translate(Vector3f(0, 0, 5));
  root.Local(placement);
  ExpectNear(root.World(), root.Local());
  ExpectNear(root.WorldInverse(), root.LocalInverse());
  EXPECT_EQ(root.Parent(), nullptr);

  Leaf child(&root);
  child.LocalTransformation()->Translate(Vector3f(1, 0, 0));
  ExpectNear(Vector3f(0, 0, 0) * child.World(), Vector3f(1, 0, 0));  // not refreshed yet
  child.Update(nullptr);
  // The child's translation is rotated by the parent, then moved up.
  ExpectNear(Vector3f(0, 0, 0) * child.World(), Vector3f(0, 1, 5));
  ExpectNear(child.World() * child.WorldInverse(), Matrix4x4::Identity);

  // A change to the parent is seen by the child only after the next update;
  // a change to the child itself at once.
  root.LocalTransformation()->Translate(Vector3f(0, 0, 9));
  ExpectNear(Vector3f(0, 0, 0) * child.World(), Vector3f(0, 1, 5));
  child.LocalTransformation()->Translate(Vector3f(2, 0, 0));
  ExpectNear(Vector3f(0, 0, 0) * child.World(), Vector3f(0, 2, 5));
  child.Update(nullptr);
  ExpectNear(Vector3f(0, 0, 0) * child.World(), Vector3f(0, 2, 9));

  Leaf copy(child);
  EXPECT_EQ(copy.Parent(), &root);
  ExpectNear(copy.World(), child.World());
  EXPECT_FALSE(copy.GetLocalTransformation().IsIdentity());
}

TEST(SpatialTest, TraverseRayMissesByDefault) {
  Leaf node(nullptr);
  const auto hit = node.TraverseRay(Vector3f(0, 0, 0), Vector3f(0, 0, 1));
  EXPECT_EQ(hit.first, std::numeric_limits<float>::infinity());
  EXPECT_EQ(hit.second, nullptr);
}

}  // namespace
