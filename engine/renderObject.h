#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/math.h"

namespace platform {
class VertexBuffer;
class IndexBuffer;
class VertexDeclaration;
}  // namespace platform

namespace engine::gfx {

class Effect;

// One drawable for one frame: the mesh's buffers and material, the
// geometry's matrices.
struct ENGINE_API RenderObject {
  int mVertexCount = 0;
  int mPrimitiveCount = 0;
  platform::VertexBuffer* mVertexBuffer = nullptr;
  platform::IndexBuffer* mIndexBuffer = nullptr;
  platform::VertexDeclaration* mDeclaration = nullptr;
  boost::shared_ptr<Effect> mEffect;
  int mPrimitiveType = 4;  // triangle list
  int mStride = 0;
  int mStartIndex = 0;
  // The mesh's name, for the profiler; lives as long as the mesh.
  const std::wstring* mName = nullptr;
  math::Matrix4x4 World = math::Matrix4x4::Identity;
  math::Matrix4x4 PrevWorld = math::Matrix4x4::Identity;
  math::Matrix4x4 WorldInverseTranspose = math::Matrix4x4::Identity;
};

// What shaders need from the renderer: the queue (for full-screen quads)
// and the device state of the last draw, so unchanged state is not set
// again.
class ENGINE_API RenderContext {
 public:
  RenderContext();
  virtual ~RenderContext();
  // The renderer alive now (the last one made), so that shaders need no
  // lookup per draw; null when there is none.
  static RenderContext* Active();
  virtual void Submit(boost::shared_ptr<RenderObject> object) = 0;
  // Forgets the last draw's state: after a reset new buffers may reuse the
  // addresses of released ones.
  void ForgetDeviceState() {
    mCurrentDeclaration = nullptr;
    mCurrentVertexBuffer = nullptr;
    mCurrentIndexBuffer = nullptr;
  }

  platform::VertexDeclaration* mCurrentDeclaration = nullptr;
  platform::VertexBuffer* mCurrentVertexBuffer = nullptr;
  platform::IndexBuffer* mCurrentIndexBuffer = nullptr;
};

}  // namespace engine::gfx
