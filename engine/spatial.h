#pragma once

#include <utility>

#include "engine/api.h"
#include "engine/math.h"

namespace engine::gfx {

class Renderer;

// Local placement of a node: rotation, then translation. The identity flag
// lets the common case skip all matrix work.
class ENGINE_API Transformation {
 public:
  Transformation();

  void Identity();
  // The flag, not a test of the matrix: storing an identity rotation clears it.
  bool IsIdentity() const { return mIsIdentity; }

  void Rotate(const math::Matrix3x3& rotate);
  math::Matrix3x3 Rotate() const { return mRotate; }
  void Translate(math::Vector3f translate);
  math::Vector3f Translate() const { return mTranslate; }

  // R * T: rotate, then translate.
  math::Matrix4x4 BuildMatrix() const;
  // T * R: translate, then rotate.
  math::Matrix4x4 BuildReverseMatrix() const;
  // The inverses use the transpose: exact only for pure rotations.
  math::Matrix4x4 BuildInvMatrix() const;
  math::Matrix4x4 BuildReverseInvMatrix() const;

  // Negates the translation and transposes the rotation in place; the order
  // of composition in the builders stays as it is.
  void Invert();

 private:
  math::Matrix3x3 mRotate;
  math::Vector3f mTranslate;
  bool mIsIdentity;
};

// Base of every scene-graph node. World matrices combine the node's current
// local placement with the parent's matrices cached at the last Update.
class ENGINE_API Spatial {
 public:
  Spatial(const Spatial&) = default;
  Spatial& operator=(const Spatial&) = default;
  virtual ~Spatial();

  virtual math::Matrix4x4 World();
  virtual math::Matrix4x4 WorldInverse();
  virtual math::Matrix4x4 Local();
  virtual math::Matrix4x4 LocalInverse();
  virtual math::Matrix4x4 LocalReverse();
  virtual math::Matrix4x4 LocalReverseInverse();
  virtual void Update(Renderer* renderer) = 0;
  // Distance along the ray and the node hit; (+infinity, null) for no hit.
  virtual std::pair<float, Spatial*> TraverseRay(math::Vector3f origin,
                                                 math::Vector3f direction);

  Spatial* Parent() const { return mParent; }
  void Parent(Spatial* parent) { mParent = parent; }
  Transformation GetLocalTransformation() const { return mLocal; }
  Transformation* LocalTransformation() { return &mLocal; }
  void Local(const Transformation& local) { mLocal = local; }

 protected:
  Spatial();

  Spatial* mParent = nullptr;  // not owned
  math::Matrix4x4 mParentWorld;
  math::Matrix4x4 mParentWorldInverse;
  Transformation mLocal;
};

}  // namespace engine::gfx
