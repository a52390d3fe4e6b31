#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/kernel.h"
#include "engine/math.h"
#include "engine/singleton.h"

namespace engine::gfx {

class Spatial;
class Light;

// One camera's record for the frame.
struct ENGINE_API CameraInfo {
  math::Plane3f mPlanes[6];
  math::Vector3f mPosition;
  Spatial* mCamera = nullptr;
};

// Where the viewer and the lights are, told by the scene graph during the
// renderer's traversal and read by the shaders while the frame is drawn.
class ENGINE_API SceneInfo : public pattern::Singleton<SceneInfo>, public core::Module {
 public:
  SceneInfo();
  ~SceneInfo() override;

  bool Start() override;
  // The next frame registers its lights afresh.
  void Update() override;
  void Stop() override;

  // The first camera ever registered is the active one; later records of
  // the same name refresh it.
  void RegisterCamera(const CameraInfo& info, const std::wstring& name);
  // The light's index in this frame.
  int RegisterLight(Light* light);

  const CameraInfo& Active() const { return mActive; }
  const std::wstring& ActiveName() const { return mActiveName; }
  const std::map<std::wstring, CameraInfo>& Cameras() const { return mCameras; }
  // Light i of this frame, null when fewer registered.
  Light* LightAt(int i) const {
    return i >= 0 && i < mLightCount ? mLights[static_cast<std::size_t>(i)] : nullptr;
  }
  int LightCount() const { return mLightCount; }
  const std::vector<Light*>& LightSlots() const { return mLights; }

 private:
  CameraInfo mActive;
  std::wstring mActiveName;
  std::map<std::wstring, CameraInfo> mCameras;
  std::vector<Light*> mLights;
  int mLightCount = 0;
};

}  // namespace engine::gfx

namespace engine::pattern {
extern template class Singleton<gfx::SceneInfo>;
}  // namespace engine::pattern
