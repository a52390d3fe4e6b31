// Scene information: which camera is active and how light slots are reused
// from frame to frame.
#include <gtest/gtest.h>

#include "engine/sceneInfo.h"

using namespace engine::gfx;

namespace {

// Lights are only compared by address here.
Light* FakeLight(int i) {
  static char storage[8];
  return reinterpret_cast<Light*>(&storage[i]);
}

TEST(SceneInfoTest, TheFirstCameraStaysActiveAndFollowsItsRecords) {
  SceneInfo* info = SceneInfo::Get();
  EXPECT_EQ(info->Name(), L"Global Scene Information");
  EXPECT_EQ(info->Priority(), 12500);
  EXPECT_EQ(info->Active().mCamera, nullptr);  // no camera yet
  EXPECT_TRUE(info->ActiveName().empty());
  CameraInfo a, b;
  a.mPosition = engine::math::Vector3f(1, 0, 0);
  b.mPosition = engine::math::Vector3f(2, 0, 0);
  info->RegisterCamera(a, L"A");
  info->RegisterCamera(b, L"B");
  EXPECT_EQ(info->ActiveName(), L"A");
  EXPECT_FLOAT_EQ(info->Active().mPosition.x, 1.0f);
  a.mPosition = engine::math::Vector3f(5, 0, 0);
  b.mPosition = engine::math::Vector3f(6, 0, 0);
  info->RegisterCamera(a, L"A");
  info->RegisterCamera(b, L"B");
  EXPECT_FLOAT_EQ(info->Active().mPosition.x, 5.0f);
  EXPECT_FLOAT_EQ(info->Cameras().at(L"B").mPosition.x, 6.0f);
  delete info;
}

TEST(SceneInfoTest, LightSlotsAreReusedEachFrame) {
  SceneInfo* info = SceneInfo::Get();
  EXPECT_TRUE(info->Start());
  EXPECT_EQ(info->RegisterLight(FakeLight(0)), 0);
  EXPECT_EQ(info->RegisterLight(FakeLight(1)), 1);
  EXPECT_EQ(info->RegisterLight(FakeLight(2)), 2);
  info->Update();
  EXPECT_EQ(info->LightCount(), 0);
  EXPECT_EQ(info->RegisterLight(FakeLight(3)), 0);
  EXPECT_EQ(info->RegisterLight(FakeLight(4)), 1);
  EXPECT_EQ(info->LightCount(), 2);
  ASSERT_EQ(info->LightSlots().size(), 3u);
  EXPECT_EQ(info->LightSlots()[0], FakeLight(3));
  EXPECT_EQ(info->LightSlots()[1], FakeLight(4));
  EXPECT_EQ(info->LightSlots()[2], FakeLight(2));  // kept from the earlier frame
  EXPECT_EQ(info->LightAt(2), nullptr);             // but not one of this frame's
  EXPECT_EQ(info->LightAt(-1), nullptr);
  delete info;
}

}  // namespace
