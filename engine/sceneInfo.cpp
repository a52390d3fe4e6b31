#include "engine/sceneInfo.h"

namespace engine::pattern {
template class Singleton<gfx::SceneInfo>;
}  // namespace engine::pattern

namespace engine::gfx {

SceneInfo::SceneInfo() {
  mName = L"Global Scene Information";
  mPriority = 12500;
}

SceneInfo::~SceneInfo() = default;

bool SceneInfo::Start() {
  mLightCount = 0;
  return true;
}

void SceneInfo::Update() { mLightCount = 0; }

void SceneInfo::Stop() {}

void SceneInfo::RegisterCamera(const CameraInfo& info, const std::wstring& name) {
  if (mCameras.empty()) {
    mActive = info;
    mActiveName = name;
  }
  mCameras[name] = info;
  if (name == mActiveName) mActive = info;
}

int SceneInfo::RegisterLight(Light* light) {
  if (mLights.size() > static_cast<std::size_t>(mLightCount)) {
    mLights[static_cast<std::size_t>(mLightCount)] = light;
  } else {
    mLights.push_back(light);
  }
  return mLightCount++;
}

}  // namespace engine::gfx
