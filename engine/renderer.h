#pragma once

#include <functional>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/kernel.h"
#include "engine/profiler.h"
#include "engine/renderObject.h"

namespace platform {
class Device;
class Surface;
}

namespace engine::core::resources {
class RenderTargetTexture;
}

namespace engine::gfx {

class Node;
class Spatial;
class Shader;

// One draw of one pass of a submitted object.
struct ENGINE_API DrawItem {
  int mPassIndex = 0;
  boost::shared_ptr<RenderObject> mObject;
  // Read once at submission for the sort.
  Shader* mShader = nullptr;
  int mPriority = 0;
  const void* mTarget = nullptr;
  const void* mEffect = nullptr;
  const char* mTechnique = nullptr;
};

// The module that draws a frame: traversal, the passes ordered by priority
// and batched by target, effect file and technique, render-target switches,
// the "lastFrame" copy, screenshots (F11), reloads (F9) and the recovery of
// a lost device.
class ENGINE_API Renderer : public core::Module, public RenderContext {
 public:
  Renderer();
  ~Renderer() override;

  bool Start() override;
  void Update() override;
  void Stop() override;

  void Submit(boost::shared_ptr<RenderObject> object) override;
  void SetRoot(boost::shared_ptr<Spatial> node);
  boost::shared_ptr<Spatial> GetRoot() const { return mRoot; }
  const std::vector<DrawItem>& Queue() const { return mQueue; }
  bool DeviceLost() const { return mDeviceLost; }
  // Drawn into the back buffer at the end of every frame, just before it is
  // shown: never part of "lastFrame" or a screenshot. Empty: none.
  void SetOverlay(std::function<void(platform::Device*)> draw) { mOverlay = std::move(draw); }

  // Time between "lastFrame" copies.
  static constexpr double kLastFrameInterval = 0.04;

  // Draws every pass of every geometry under root once, hidden or not, and
  // clears the frame again; nothing is shown. A driver that builds a pass's
  // shader code at its first draw (a software rasterizer takes about a
  // second for a scene) then does it here, while loading, instead of
  // stalling the scene's first frame.
  void WarmUp(const boost::shared_ptr<Spatial>& root);

 private:
  void Frame();
  void DrawQueue();
  void Recover();
  void Flush(std::vector<std::pair<boost::shared_ptr<RenderObject>, Shader*>>& batch,
             Shader* shader);
  core::PassKey PassOf(const RenderObject& object, const Shader& shader, int pass) const;
  void SwitchTarget(const boost::shared_ptr<core::resources::RenderTargetTexture>& next,
                    bool clear);
  void Clear();
  bool Pressed(int key, bool* seen);
  void Screenshot();
  void CopyLastFrame();
  void SortQueue();

  bool mDeviceLost = false;
  Node* mBaseNode;
  boost::shared_ptr<Spatial> mRoot;
  platform::Surface* mBackBuffer = nullptr;
  platform::Surface* mDepthSurface = nullptr;
  std::vector<DrawItem> mQueue;
  boost::shared_ptr<core::resources::RenderTargetTexture> mCurrentTarget;
  boost::shared_ptr<core::resources::RenderTargetTexture> mLastFrame;
  double mLastFrameTime = 0;
  // Whether the key's current press was already acted on.
  bool mReloadSeen = false;
  bool mScreenshotSeen = false;
  std::function<void(platform::Device*)> mOverlay;
};

}  // namespace engine::gfx
