#include <climits>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "engine/animation.h"

using namespace engine::gfx;

namespace {

constexpr int kModes[] = {AnimationTrack::Constant, AnimationTrack::Cyclic,
                          AnimationTrack::CyclicExtrapolation};
// The value equals time - 1 between the keys.
const std::initializer_list<AnimationKey> kRamp = {{1, 0}, {11, 10}};

void Fill(AnimationTrack& track, int mode, std::initializer_list<AnimationKey> keys) {
  track.SetExtrapolation(mode);
  for (const AnimationKey& k : keys) track.AddKey(k.time, k.value);
}

float At(AnimationTrack& track, float time) {
  track.SetTime(time);
  return track.Value();
}

// The cursor move transcribed step by step, without the engine's shortcuts;
// valid for strictly increasing key times.
struct ReferencePlayer {
  int index = 0, cycles = 0;
  float blend = 0, time = 1;
  bool hold = false;
  std::vector<AnimationKey> k;

  void Advance(float step) {
    const int n = static_cast<int>(k.size());
    if (step < 0 && hold && k[n - 1].time <= time) {
      index = n - 1, blend = 0;
      return;
    }
    time += step;
    while (index > 0 && k[index].time > time) --index;
    while (k[(index + 1) % n].time < time) {
      if (index + 1 == n) {
        ++cycles;
        if (!hold) time -= k[n - 1].time - k[0].time, index = -1;
      }
      index = (index + 1) % n;
      if (index + 1 == n && hold) break;
    }
    blend = (time - k[index].time) / (k[(index + 1) % n].time - k[index].time);
    blend = blend < 0 ? 0 : blend > 1 ? 1 : blend;
  }
};

TEST(AnimationTrackTest, EndsHoldOrRepeat) {
  LinearAnimationTrack held, cyclic, running, edge;
  Fill(held, AnimationTrack::Constant, kRamp);
  held.Advance(4);
  EXPECT_FLOAT_EQ(held.Value(), 4);
  held.Advance(100);
  EXPECT_FLOAT_EQ(held.Value(), 10);
  // A backward move that starts at or past the last key is ignored.
  EXPECT_FLOAT_EQ(At(held, 3), 10);
  EXPECT_FLOAT_EQ(held.mPlayer.mTime, 105);

  Fill(cyclic, AnimationTrack::Cyclic, kRamp);
  Fill(running, AnimationTrack::CyclicExtrapolation, kRamp);
  Fill(edge, AnimationTrack::Cyclic, kRamp);
  EXPECT_FLOAT_EQ(At(cyclic, 14), 3);
  EXPECT_EQ(cyclic.mPlayer.mCycles, 1);
  EXPECT_FLOAT_EQ(At(running, 14), 13);
  EXPECT_FLOAT_EQ(At(edge, 11), 10);  // on the last key is not past it
  EXPECT_EQ(edge.mPlayer.mCycles, 0);

  for (const int mode : kModes) {
    LinearAnimationTrack early;
    Fill(early, mode, {{3, 2}, {5, 6}, {9, 1}});
    early.Advance(0);
    EXPECT_FLOAT_EQ(early.Value(), 2) << mode;
    At(early, 7);
    EXPECT_FLOAT_EQ(At(early, -40), 2) << mode;  // never wraps backwards
  }
}

TEST(AnimationTrackTest, StepTrackChangesOnlyPastAKey) {
  for (const int mode : kModes) {
    ConstantAnimationTrack track;
    Fill(track, mode, {{1, 5}, {10, 7}});
    for (const float t : {1.0f, 4.0f, 10.0f}) EXPECT_FLOAT_EQ(At(track, t), 5) << mode << " " << t;
  }
  ConstantAnimationTrack held, back;
  Fill(held, AnimationTrack::Constant, {{1, 5}, {10, 7}});
  EXPECT_FLOAT_EQ(At(held, 10.01f), 7);
  EXPECT_FLOAT_EQ(At(held, 500), 7);
  // Walking back stops on a key of exactly the new time, which keeps its value.
  Fill(back, AnimationTrack::Cyclic, {{1, 5}, {10, 7}, {20, 9}});
  At(back, 15);
  EXPECT_FLOAT_EQ(At(back, 10), 7);
}

TEST(AnimationTrackTest, MatchesTheStepByStepCursor) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 200; ++trial) {
    LinearAnimationTrack track;
    ReferencePlayer reference;
    reference.hold = trial % 2 == 0;
    track.SetExtrapolation(reference.hold ? AnimationTrack::Constant : AnimationTrack::Cyclic);
    float time = -2.0f + 4.0f * unit(random);
    for (int i = 0; i < 2 + trial % 6; ++i, time += 0.25f + 3.0f * unit(random)) {
      track.AddKey(time, 0);
      reference.k.push_back({time, 0});
    }
    const float span = reference.k.back().time - reference.k.front().time;
    for (int move = 0; move < 60; ++move) {
      // Up to almost two spans forward, some backward, some through SetTime.
      const float step = span * (-0.6f + 2.5f * unit(random));
      if (move % 5 == 4) {
        track.SetTime(reference.time + step);
        reference.Advance(reference.time + step - reference.time);
      } else {
        track.Advance(step);
        reference.Advance(step);
      }
      const IPOPlayer& p = track.mPlayer;
      ASSERT_TRUE(p.mIndex == reference.index && p.mBlend == reference.blend &&
                  p.mTime == reference.time && p.mCycles == reference.cycles)
          << "trial " << trial << " move " << move;
    }
  }
}

TEST(AnimationTrackTest, BezierFollowsItsHandles) {
  for (const int mode : kModes) {
    LinearAnimationTrack linear;
    BezierAnimationTrack bezier;
    Fill(linear, mode, {{1, 0}, {4, 9}, {10, 3}});
    Fill(bezier, mode, {{1, 0}, {4, 9}, {10, 3}});
    // Handles on the lines to the neighbours, a third of the way.
    bezier.AddHandles({1, 0}, {2, 3});
    bezier.AddHandles({3, 6}, {6, 7});
    bezier.AddHandles({8, 5}, {10, 3});
    for (float t = -1.0f; t < 30.0f; t += 0.7f)
      EXPECT_NEAR(At(bezier, t), At(linear, t), 1e-4f) << mode << " " << t;
  }
  BezierAnimationTrack bent, bare;
  Fill(bent, AnimationTrack::Constant, {{0, 0}, {10, 10}});
  bent.AddHandles({-5, 0}, {2, 8});
  bent.AddHandles({8, 10}, {15, 10});
  EXPECT_FLOAT_EQ(At(bent, 5), (0 + 3 * 8 + 3 * 10 + 10) / 8.0f);  // weights 1 3 3 1 / 8
  EXPECT_FLOAT_EQ(At(bent, 10), 10);
  // Without handles the keys stand in for them.
  Fill(bare, AnimationTrack::Cyclic, {{0, 2}, {4, 6}});
  EXPECT_FLOAT_EQ(At(bare, 2), 4);
}

TEST(AnimationTrackTest, DegenerateKeysStayFinite) {
  for (const int mode : kModes) {
    LinearAnimationTrack none, one, flat;
    none.SetExtrapolation(mode);
    for (const float step : {1.0f, -3.0f, 1e9f}) none.Advance(step);
    EXPECT_EQ(none.Value(), 0.0f);
    Fill(one, mode, {{5, 3}});
    for (const float t : {0.0f, 5.0f, 6.0f, 1e6f, 2.0f}) EXPECT_EQ(At(one, t), 3.0f) << mode;
    // No span to repeat: rests on the last key, counting nothing.
    Fill(flat, mode, {{5, 0}, {5, 10}});
    EXPECT_FLOAT_EQ(At(flat, 4), 0);
    EXPECT_FLOAT_EQ(At(flat, 1e6f), 10);
    EXPECT_EQ(flat.mPlayer.mCycles, 0);
  }
  LinearAnimationTrack equal, disorder;
  Fill(equal, AnimationTrack::Constant, {{1, 0}, {1, 10}, {5, 20}});
  EXPECT_FLOAT_EQ(At(equal, 1), 0);
  EXPECT_FLOAT_EQ(At(equal, 3), 15);
  Fill(disorder, AnimationTrack::Cyclic, {{10, 0}, {0, 5}, {12, 1}, {11, 3}});
  for (const float step : {1.0f, 30.0f, -50.0f, 1e7f}) {
    disorder.Advance(step);
    EXPECT_TRUE(disorder.mPlayer.mIndex >= 0 && disorder.mPlayer.mIndex < 4);
    EXPECT_TRUE(disorder.mPlayer.mBlend >= 0 && disorder.mPlayer.mBlend <= 1);
  }
  // The cursor points into the track's own keys; a copy would share them.
  static_assert(!std::is_copy_constructible_v<LinearAnimationTrack>);
}

TEST(AnimationTrackTest, HugeAndNonFiniteSteps) {
  LinearAnimationTrack huge, few, exact, far, held;
  Fill(huge, AnimationTrack::Cyclic, kRamp);
  huge.Advance(1e9f);  // the float time is 1e9, 99999999 spans past the end
  EXPECT_EQ(huge.mPlayer.mCycles, 99999999);
  EXPECT_FLOAT_EQ(huge.Value(), 9);
  // As many cycles, and the same time, as wrapping one span at a time.
  Fill(few, AnimationTrack::CyclicExtrapolation, kRamp);
  few.Advance(57);  // 58 -> 48 -> ... -> 8
  EXPECT_EQ(few.mPlayer.mCycles, 5);
  EXPECT_FLOAT_EQ(few.Value(), 7 + 50);
  Fill(exact, AnimationTrack::Cyclic, kRamp);
  exact.Advance(50);  // 51 -> ... -> 11, which is not past the last key
  EXPECT_EQ(exact.mPlayer.mCycles, 4);
  EXPECT_FLOAT_EQ(exact.Value(), 10);
  Fill(far, AnimationTrack::CyclicExtrapolation, kRamp);
  far.Advance(3e38f);
  far.Advance(3e38f);
  EXPECT_EQ(far.mPlayer.mCycles, INT_MAX);
  EXPECT_TRUE(std::isfinite(far.Value()));

  const float inf = std::numeric_limits<float>::infinity();
  for (const int mode : kModes) {
    BezierAnimationTrack track;
    Fill(track, mode, kRamp);
    track.AddHandles({1, 0}, {4, 3});
    track.AddHandles({8, 7}, {11, 10});
    const float before = At(track, 6);
    for (const float step : {std::nanf(""), inf, -inf}) track.Advance(step);
    track.SetTime(std::nanf(""));
    track.SetTime(inf);
    EXPECT_FLOAT_EQ(track.Value(), before) << mode;
    EXPECT_FLOAT_EQ(track.mPlayer.mTime, 6) << mode;
  }
  Fill(held, AnimationTrack::Constant, kRamp);
  held.SetTime(3e38f);
  held.Advance(3e38f);  // the sum overflows
  EXPECT_FLOAT_EQ(held.mPlayer.mTime, 3e38f);
}

}  // namespace
