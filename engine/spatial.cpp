#include "engine/spatial.h"

#include <limits>

namespace engine::gfx {
namespace {

math::Matrix4x4 Widen(const math::Matrix3x3& r) {
  math::Matrix4x4 m = math::Matrix4x4::Identity;
  m.SetRotation(r);
  return m;
}

math::Matrix4x4 TranslationMatrix(const math::Vector3f& t) {
  math::Matrix4x4 m = math::Matrix4x4::Identity;
  m.ToTranslation(t);
  return m;
}

}  // namespace

Transformation::Transformation()
    : mRotate(math::Matrix3x3::Identity), mTranslate(0, 0, 0), mIsIdentity(true) {}

void Transformation::Identity() {
  mIsIdentity = true;
  mTranslate = math::Vector3f(0, 0, 0);
  mRotate = math::Matrix3x3::Identity;
}

void Transformation::Rotate(const math::Matrix3x3& rotate) {
  mRotate = rotate;
  mIsIdentity = false;
}

void Transformation::Translate(math::Vector3f translate) {
  mTranslate = translate;
  mIsIdentity = false;
}

math::Matrix4x4 Transformation::BuildMatrix() const {
  if (mIsIdentity) return math::Matrix4x4::Identity;
  // R4 * T keeps R's block and puts the translation in row 3 unchanged.
  math::Matrix4x4 m = Widen(mRotate);
  m.ToTranslation(mTranslate);
  return m;
}

math::Matrix4x4 Transformation::BuildReverseMatrix() const {
  if (mIsIdentity) return math::Matrix4x4::Identity;
  return TranslationMatrix(mTranslate) * Widen(mRotate);
}

math::Matrix4x4 Transformation::BuildInvMatrix() const {
  if (mIsIdentity) return math::Matrix4x4::Identity;
  return TranslationMatrix(mTranslate.Neg()) * Widen(mRotate.Transpose());
}

math::Matrix4x4 Transformation::BuildReverseInvMatrix() const {
  if (mIsIdentity) return math::Matrix4x4::Identity;
  // Rt * Tn: the transposed block with -t in row 3.
  math::Matrix4x4 m = Widen(mRotate.Transpose());
  m.ToTranslation(mTranslate.Neg());
  return m;
}

void Transformation::Invert() {
  if (mIsIdentity) return;
  mTranslate.Invert();
  mRotate.ToTranspose();
}

Spatial::Spatial()
    : mParentWorld(math::Matrix4x4::Identity), mParentWorldInverse(math::Matrix4x4::Identity) {}

Spatial::~Spatial() = default;

math::Matrix4x4 Spatial::World() { return Local() * mParentWorld; }
math::Matrix4x4 Spatial::WorldInverse() { return mParentWorldInverse * LocalInverse(); }
math::Matrix4x4 Spatial::Local() { return mLocal.BuildMatrix(); }
math::Matrix4x4 Spatial::LocalInverse() { return mLocal.BuildInvMatrix(); }
math::Matrix4x4 Spatial::LocalReverse() { return mLocal.BuildReverseMatrix(); }
math::Matrix4x4 Spatial::LocalReverseInverse() { return mLocal.BuildReverseInvMatrix(); }

std::pair<float, Spatial*> Spatial::TraverseRay(math::Vector3f, math::Vector3f) {
  return {std::numeric_limits<float>::infinity(), nullptr};
}

}  // namespace engine::gfx
