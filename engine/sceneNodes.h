#pragma once

#include <string>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/math.h"
#include "engine/spatial.h"

namespace engine::gfx {

class Mesh;
struct RenderObject;

// An interior node: its children share its placement.
class ENGINE_API Node : public Spatial {
 public:
  explicit Node(Spatial* parent);
  ~Node() override;
  // Refreshes the cached parent matrices, then updates the children in order.
  void Update(Renderer* renderer) override;
  // The nearest hit among the children (the first wins ties).
  std::pair<float, Spatial*> TraverseRay(math::Vector3f origin, math::Vector3f direction) override;
  // Appends; returns the child's index. The child's parent pointer is its own.
  unsigned AddChild(boost::shared_ptr<Spatial> child);
  void RemoveChildren() { mChildren.clear(); }
  const std::vector<boost::shared_ptr<Spatial>>& Children() const { return mChildren; }

 protected:
  std::vector<boost::shared_ptr<Spatial>> mChildren;
};

// A named viewpoint; the first camera to register is the one drawn with.
class ENGINE_API Camera : public Node {
 public:
  Camera(Node* parent, const std::wstring& name);
  math::Matrix4x4 World() override;
  math::Matrix4x4 WorldInverse() override;
  void Update(Renderer* renderer) override;
  const std::wstring& Name() const { return mName; }

 private:
  std::wstring mName;
};

// A leaf that draws a mesh with its material; its matrices are its
// parent's, with its own placement applied after the parent's.
class ENGINE_API Geometry : public Spatial {
 public:
  Geometry(boost::shared_ptr<Mesh> mesh, Node* parent);
  math::Matrix4x4 World() override;
  math::Matrix4x4 WorldInverse() override;
  math::Matrix4x4 Local() override;
  math::Matrix4x4 LocalInverse() override;
  // Submits the render object to the renderer (nothing without one).
  void Update(Renderer* renderer) override;
  // No picking mesh exists, so rays never hit.
  std::pair<float, Spatial*> TraverseRay(math::Vector3f origin, math::Vector3f direction) override;
  virtual boost::shared_ptr<RenderObject> GetRenderObject();
  boost::shared_ptr<Mesh> GetMesh() const { return mMesh; }

 private:
  boost::shared_ptr<Mesh> mMesh;
  math::Matrix4x4 mPrevWorld = math::Matrix4x4::Identity;
  bool mHasPrevWorld = false;
};

// A point whose world position feeds the shaders.
class ENGINE_API Light : public Spatial {
 public:
  explicit Light(Node* parent);
  // The parent's inverse alone, without the light's own placement.
  math::Matrix4x4 WorldInverse() override;
  void Update(Renderer* renderer) override;
};

}  // namespace engine::gfx

namespace engine {
// World position of light i of this frame's scene information, or (0,0,0).
ENGINE_API math::Vector3f GetLightPos(int i);
}  // namespace engine
