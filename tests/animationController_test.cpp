// Animation pipes, the controller and the animated node: composition order,
// pipe replacement, re-sync with the clock, the "Layer" channel.
#include <gtest/gtest.h>

#include "engine/animation.h"
#include "engine/animationController.h"
#include "engine/sceneInfo.h"
#include "engine/sceneNodes.h"
#include "engine/timer.h"

using namespace engine::gfx;
using engine::math::Vector3f;

namespace {

int gDeleted = 0;

// A linear track that counts its deletions.
class CountedTrack : public LinearAnimationTrack {
 public:
  CountedTrack(float from, float to) {
    SetExtrapolation(Constant);
    AddKey(1, from);
    AddKey(101, to);
  }
  ~CountedTrack() override { ++gDeleted; }
};

AnimationTrack* Steady(float value) { return new CountedTrack(value, value); }

TEST(AnimationControllerTest, PipesKeepOneOfEachIdInIdOrder) {
  gDeleted = 0;
  AnimationController c;
  for (int id : {22, 1, 18, 3, 20, 2}) c.AddPipe(new LocPipe(id, Steady(0), Vector3f(1, 0, 0)));
  c.AddPipe(new LocPipe(1, Steady(5), Vector3f(1, 0, 0)));  // replaces the rest-pose LocX
  EXPECT_EQ(gDeleted, 1);
  ASSERT_EQ(c.Pipes().size(), 6u);
  const int order[] = {1, 2, 3, 18, 20, 22};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(c.Pipes()[static_cast<std::size_t>(i)]->mId, order[i]);
  c.SetTime(1);
  engine::gfx::Transformation t;
  c.Evaluate(t);
  EXPECT_FLOAT_EQ(t.Translate().x, 5.0f);
}

TEST(AnimationControllerTest, CompositionScalesThenRotatesAndSumsLocations) {
  AnimationController empty;
  engine::gfx::Transformation t;
  empty.Evaluate(t);
  EXPECT_TRUE(t.IsIdentity());

  AnimationController c;
  c.AddPipe(new RotPipe(22, Steady(9), Vector3f(0, 0, 1)));  // units of ten degrees: 90 about z
  c.AddPipe(new ScalePipe(12, Steady(2), Vector3f(0, 1, 0)));
  c.AddPipe(new LocPipe(1, Steady(3), Vector3f(1, 0, 0)));
  c.AddPipe(new LocPipe(2, Steady(4), Vector3f(0, 1, 0)));
  c.SetTime(1);
  c.Evaluate(t);
  EXPECT_FALSE(t.IsIdentity());
  // Row vectors: scale y first, then the rotation turning x to y.
  const Vector3f x = Vector3f(1, 0, 0) * t.Rotate();
  const Vector3f y = Vector3f(0, 1, 0) * t.Rotate();
  EXPECT_NEAR(x.y, 1.0f, 1e-5f);
  EXPECT_NEAR(y.x, -2.0f, 1e-5f);
  EXPECT_FLOAT_EQ(t.Translate().x, 3.0f);
  EXPECT_FLOAT_EQ(t.Translate().y, 4.0f);
  AnimationPose pose;
  c.EvaluatePose(pose);
  EXPECT_FLOAT_EQ(pose.position.y, 4.0f);

  AnimationController flat;
  flat.AddPipe(new ScalePipe(13, Steady(0), Vector3f(0, 0, 1)));
  flat.SetTime(1);
  flat.Evaluate(t);
  EXPECT_FLOAT_EQ((Vector3f(0, 0, 1) * t.Rotate()).z, 0.0f);  // a zero scale collapses the axis
}

TEST(AnimationControllerTest, ChannelAddressesStayValid) {
  AnimationController c;
  c.AddChannel(new CountedTrack(1, 101), "first");
  float* first = c.GetChannel("first");
  for (int i = 1; i < 60; ++i) c.AddChannel(Steady(static_cast<float>(i)), "c" + std::to_string(i));
  EXPECT_EQ(c.GetChannel("first"), first);
  EXPECT_EQ(c.GetChannel("c50"), nullptr);  // beyond fifty: refused
  EXPECT_NE(c.GetChannel("c49"), nullptr);
  EXPECT_EQ(c.GetChannel("none"), nullptr);
  c.SetTime(51);
  EXPECT_FLOAT_EQ(*first, 51.0f);
  c.Advance(10);
  EXPECT_FLOAT_EQ(*first, 61.0f);
}

class AnimationNodeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    delete engine::core::Timer::Get();
    delete SceneInfo::Get();
  }
  // Moves the clock and lets the timer see it.
  void Tick(double seconds) {
    engine::AdvanceTime(seconds);
    engine::core::Timer::Get()->Update();
  }
};

TEST_F(AnimationNodeTest, FollowsTheClockAndJumpsWhenFarBehind) {
  boost::shared_ptr<AnimationController> c(new AnimationController);
  c->AddPipe(new LocPipe(1, new CountedTrack(1, 101), Vector3f(1, 0, 0)));  // x = frame
  AnimationNode node(nullptr);
  node.SetController(c);
  Tick(2.0);  // 50 frames: far ahead of the controller
  node.Update(nullptr);
  EXPECT_FLOAT_EQ(c->Time(), 50.0f);
  EXPECT_NEAR(node.Local().GetTranslation().x, 50.0f, 1e-4f);
  Tick(0.04);  // one frame: advanced, not set
  node.Update(nullptr);
  EXPECT_NEAR(c->Time(), 51.0f, 1e-4f);
}

TEST_F(AnimationNodeTest, LayerAboveOnePointOneHidesTheSubtree) {
  boost::shared_ptr<AnimationController> c(new AnimationController);
  auto* layer = new LinearAnimationTrack;
  layer->SetExtrapolation(AnimationTrack::Constant);
  layer->AddKey(1, 1.0f);
  layer->AddKey(51, 2.0f);  // above 1.1 from frame 6 on
  c->AddChannel(layer, "Layer");
  boost::shared_ptr<AnimationNode> node(new AnimationNode(nullptr));
  node->SetController(c);
  node->AddChild(boost::shared_ptr<Spatial>(new Light(node.get())));
  SceneInfo* info = SceneInfo::Get();
  Tick(0.04);
  node->Update(nullptr);
  EXPECT_EQ(info->LightCount(), 1);  // shown: the light registered
  info->Update();
  Tick(1.0);
  node->Update(nullptr);
  EXPECT_EQ(info->LightCount(), 0);  // hidden with its children
}

}  // namespace
