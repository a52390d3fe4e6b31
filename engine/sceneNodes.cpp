#include "engine/sceneNodes.h"

#include <limits>

#include "engine/mesh.h"
#include "engine/renderObject.h"
#include "engine/renderer.h"
#include "engine/sceneInfo.h"

namespace engine::gfx {

Node::Node(Spatial* parent) { mParent = parent; }
Node::~Node() = default;

void Node::Update(Renderer* renderer) {
  if (mParent != nullptr) {
    mParentWorld = mParent->World();
    mParentWorldInverse = mParent->WorldInverse();
  }
  for (const auto& child : mChildren) child->Update(renderer);
}

std::pair<float, Spatial*> Node::TraverseRay(math::Vector3f origin, math::Vector3f direction) {
  std::pair<float, Spatial*> best(std::numeric_limits<float>::infinity(), nullptr);
  for (const auto& child : mChildren) {
    const auto hit = child->TraverseRay(origin, direction);
    if (hit.first < best.first) best = hit;
  }
  return best;
}

unsigned Node::AddChild(boost::shared_ptr<Spatial> child) {
  mChildren.push_back(std::move(child));
  return static_cast<unsigned>(mChildren.size() - 1);
}

Camera::Camera(Node* parent, const std::wstring& name) : Node(parent), mName(name) {
  mLocal.Identity();
  mParentWorld = math::Matrix4x4::Identity;
}

math::Matrix4x4 Camera::World() { return mParentWorld; }
math::Matrix4x4 Camera::WorldInverse() { return mParentWorldInverse; }

void Camera::Update(Renderer* renderer) {
  mParentWorld = mLocal.BuildMatrix();
  mParentWorldInverse = mLocal.BuildInvMatrix();
  if (mParent != nullptr) {
    mParentWorld = mParent->World() * mParentWorld;
    mParentWorldInverse = mParentWorldInverse * mParent->WorldInverse();
  }
  CameraInfo info;
  info.mPosition = mParentWorld.GetTranslation();
  info.mCamera = this;
  SceneInfo::Get()->RegisterCamera(info, mName);
  for (const auto& child : mChildren) child->Update(renderer);
}

// A geometry without a parent answers with the identity placement (its
// matrix queries would otherwise follow a null parent).
Geometry::Geometry(boost::shared_ptr<Mesh> mesh, Node* parent) : mMesh(std::move(mesh)) {
  mParent = parent;
}

math::Matrix4x4 Geometry::World() { return mParent ? mParent->World() : math::Matrix4x4::Identity; }
math::Matrix4x4 Geometry::WorldInverse() {
  return mParent ? mParent->WorldInverse() : math::Matrix4x4::Identity;
}
math::Matrix4x4 Geometry::Local() { return mParent ? mParent->Local() : math::Matrix4x4::Identity; }
math::Matrix4x4 Geometry::LocalInverse() {
  return mParent ? mParent->LocalInverse() : math::Matrix4x4::Identity;
}

void Geometry::Update(Renderer* renderer) {
  if (renderer == nullptr) return;
  renderer->Submit(GetRenderObject());
}

std::pair<float, Spatial*> Geometry::TraverseRay(math::Vector3f, math::Vector3f) {
  return {std::numeric_limits<float>::infinity(), nullptr};
}

boost::shared_ptr<RenderObject> Geometry::GetRenderObject() {
  if (!mMesh) return nullptr;
  boost::shared_ptr<RenderObject> object = mMesh->GetRenderObject();
  math::Matrix4x4 world = World(), inverse = WorldInverse();
  if (!mLocal.IsIdentity()) {
    world = world * mLocal.BuildMatrix();
    inverse = mLocal.BuildInvMatrix() * inverse;
  }
  mParentWorld = world;
  mParentWorldInverse = inverse;
  object->World = world;
  object->PrevWorld = mHasPrevWorld ? mPrevWorld : world;
  math::Matrix4x4 transposed = inverse;
  transposed.ToTranspose();
  object->WorldInverseTranspose = transposed;
  mPrevWorld = world;
  mHasPrevWorld = true;
  return object;
}

Light::Light(Node* parent) { mParent = parent; }

math::Matrix4x4 Light::WorldInverse() { return mParentWorldInverse; }

void Light::Update(Renderer*) {
  // A light without a parent keeps the identity placement.
  if (mParent != nullptr) {
    mParentWorldInverse = mParent->WorldInverse();
    mParentWorld = mParent->World();
  }
  SceneInfo::Get()->RegisterLight(this);
}

}  // namespace engine::gfx

namespace engine {

math::Vector3f GetLightPos(int i) {
  const auto& slots = gfx::SceneInfo::Get()->LightSlots();
  if (i < 0 || static_cast<std::size_t>(i) >= slots.size() || slots[static_cast<std::size_t>(i)] == nullptr) {
    return math::Vector3f(0, 0, 0);
  }
  return slots[static_cast<std::size_t>(i)]->World().GetTranslation();
}

}  // namespace engine
