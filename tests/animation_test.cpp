#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "engine/animation.h"

using namespace engine::gfx;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

template <typename Track>
void Fill(Track& track, int mode, const std::vector<AnimationKey>& keys) {
  track.SetExtrapolation(mode);
  for (const AnimationKey& k : keys) track.AddKey(k.time, k.value);
}

// Keys (1, 0) and (11, 10): the value equals time - 1 inside the keys.
template <typename Track>
void FillRamp(Track& track, int mode) {
  Fill(track, mode, {{1, 0}, {11, 10}});
}

// The cursor move written out step by step, without the shortcuts of the
// engine's version; valid for keys of strictly increasing time.
struct ReferencePlayer {
  int index = 0;
  float blend = 0.0f;
  float time = 1.0f;
  bool hold = false;
  int cycles = 0;
  std::vector<AnimationKey> keys;

  void Advance(float step) {
    const int n = static_cast<int>(keys.size());
    if (step < 0 && hold && keys[n - 1].time <= time) {
      index = n - 1;
      blend = 0;
      return;
    }
    time += step;
    while (index > 0 && keys[index].time > time) --index;
    for (;;) {
      if (!(keys[(index + 1) % n].time < time)) break;
      if (index + 1 == n) {
        ++cycles;
        if (!hold) {
          time -= keys[n - 1].time - keys[0].time;
          index = -1;
        }
      }
      index = (index + 1) % n;
      if (index + 1 == n && hold) break;
    }
    const int j = (index + 1) % n;
    blend = (time - keys[index].time) / (keys[j].time - keys[index].time);
    if (blend < 0) blend = 0;
    if (blend > 1) blend = 1;
  }
};

TEST(AnimationTrackTest, ConstantExtrapolationHoldsTheEnds) {
  LinearAnimationTrack track;
  FillRamp(track, AnimationTrack::Constant);
  track.Advance(4);
  EXPECT_FLOAT_EQ(track.Value(), 4);
  EXPECT_FLOAT_EQ(track.mPlayer.mTime, 5);
  track.Advance(100);
  EXPECT_FLOAT_EQ(track.Value(), 10);
  track.Advance(1);
  EXPECT_FLOAT_EQ(track.Value(), 10);

  // A backward move that starts at or past the last key is ignored.
  track.SetTime(3);
  EXPECT_FLOAT_EQ(track.Value(), 10);
  EXPECT_FLOAT_EQ(track.mPlayer.mTime, 106);
  EXPECT_EQ(track.mPlayer.mIndex, 1);

  // Inside the keys a backward move is an ordinary one.
  LinearAnimationTrack inside;
  FillRamp(inside, AnimationTrack::Constant);
  inside.SetTime(9);
  inside.SetTime(3);
  EXPECT_FLOAT_EQ(inside.Value(), 2);
}

TEST(AnimationTrackTest, CyclicWrapsByTheKeySpan) {
  LinearAnimationTrack cyclic;
  FillRamp(cyclic, AnimationTrack::Cyclic);
  cyclic.SetTime(14);
  EXPECT_FLOAT_EQ(cyclic.mPlayer.mTime, 4);
  EXPECT_EQ(cyclic.mPlayer.mCycles, 1);
  EXPECT_FLOAT_EQ(cyclic.Value(), 3);

  LinearAnimationTrack running;
  FillRamp(running, AnimationTrack::CyclicExtrapolation);
  running.SetTime(14);
  EXPECT_FLOAT_EQ(running.Value(), 13);
  running.Advance(10);  // one more repetition
  EXPECT_EQ(running.mPlayer.mCycles, 2);
  EXPECT_FLOAT_EQ(running.Value(), 23);

  // Exactly on the last key is not past it: no wrap yet.
  LinearAnimationTrack edge;
  FillRamp(edge, AnimationTrack::Cyclic);
  edge.SetTime(11);
  EXPECT_EQ(edge.mPlayer.mCycles, 0);
  EXPECT_FLOAT_EQ(edge.Value(), 10);
}

TEST(AnimationTrackTest, StepTrackLeavesAKeyOnlyWhenStrictlyPastIt) {
  for (const int mode :
       {AnimationTrack::Constant, AnimationTrack::Cyclic, AnimationTrack::CyclicExtrapolation}) {
    ConstantAnimationTrack track;
    Fill(track, mode, {{1, 5}, {10, 7}});
    for (const float t : {1.0f, 4.0f, 9.99f, 10.0f}) {
      track.SetTime(t);
      EXPECT_FLOAT_EQ(track.Value(), 5) << "mode " << mode << " time " << t;
    }
  }
  ConstantAnimationTrack held;
  Fill(held, AnimationTrack::Constant, {{1, 5}, {10, 7}});
  for (const float t : {10.01f, 11.0f, 500.0f}) {
    held.SetTime(t);
    EXPECT_FLOAT_EQ(held.Value(), 7) << "time " << t;
  }
}

TEST(AnimationTrackTest, BeforeTheFirstKeyGivesItsValueInEveryMode) {
  for (const int mode :
       {AnimationTrack::Constant, AnimationTrack::Cyclic, AnimationTrack::CyclicExtrapolation}) {
    LinearAnimationTrack track;
    Fill(track, mode, {{3, 2}, {5, 6}, {9, 1}});
    track.Advance(0);  // frame 1, before the first key
    EXPECT_FLOAT_EQ(track.Value(), 2) << "mode " << mode;
    track.SetTime(7);
    track.SetTime(-40);  // walks back over two segments, never wraps backwards
    EXPECT_EQ(track.mPlayer.mIndex, 0);
    EXPECT_FLOAT_EQ(track.Value(), 2) << "mode " << mode;
  }
}

TEST(AnimationTrackTest, CursorWalksAcrossSegmentEnds) {
  LinearAnimationTrack track;
  Fill(track, AnimationTrack::Cyclic, {{1, 0}, {2, 10}, {4, 0}, {8, 40}});
  const float expected[] = {0, 5, 10, 5, 0, 10, 20, 30, 40};  // times 1, 1.5, 2, ... 8
  const float times[] = {1, 1.5f, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < 9; ++i) {
    track.SetTime(times[i]);
    EXPECT_FLOAT_EQ(track.Value(), expected[i]) << "time " << times[i];
  }
  // Backwards across several keys, then forward over several in one step.
  track.SetTime(1.5f);
  EXPECT_FLOAT_EQ(track.Value(), 5);
  EXPECT_EQ(track.mPlayer.mIndex, 0);
  track.Advance(5.5f);  // time 7
  EXPECT_FLOAT_EQ(track.Value(), 30);
  EXPECT_EQ(track.mPlayer.mIndex, 2);
  // Past the end into the second segment of the next repetition.
  track.Advance(3.5f);  // 10.5 wraps to 3.5
  EXPECT_FLOAT_EQ(track.Value(), 2.5f);
  EXPECT_EQ(track.mPlayer.mCycles, 1);
}

TEST(AnimationTrackTest, MatchesTheStepByStepCursor) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 200; ++trial) {
    const bool hold = trial % 2 == 0;
    LinearAnimationTrack track;
    ReferencePlayer reference;
    reference.hold = hold;
    track.SetExtrapolation(hold ? AnimationTrack::Constant : AnimationTrack::Cyclic);
    float time = -2.0f + 4.0f * unit(random);
    const int count = 2 + trial % 6;
    for (int i = 0; i < count; ++i) {
      track.AddKey(time, unit(random));
      reference.keys.push_back({time, 0});
      time += 0.25f + 3.0f * unit(random);
    }
    const float span = reference.keys.back().time - reference.keys.front().time;
    for (int move = 0; move < 60; ++move) {
      // Steps of up to almost two spans; backward moves and SetTime mixed in.
      const float step = span * (-0.6f + 2.5f * unit(random));
      if (move % 5 == 4) {
        const float target = reference.time + step;
        track.SetTime(target);
        reference.Advance(target - reference.time);
      } else {
        track.Advance(step);
        reference.Advance(step);
      }
      ASSERT_EQ(track.mPlayer.mIndex, reference.index) << "trial " << trial << " move " << move;
      ASSERT_EQ(track.mPlayer.mBlend, reference.blend) << "trial " << trial << " move " << move;
      ASSERT_EQ(track.mPlayer.mTime, reference.time) << "trial " << trial << " move " << move;
      ASSERT_EQ(track.mPlayer.mCycles, reference.cycles) << "trial " << trial << " move " << move;
    }
  }
}

TEST(AnimationTrackTest, BezierWithHandlesAtThirdsIsLinear) {
  const std::vector<AnimationKey> keys = {{1, 0}, {4, 9}, {10, 3}};
  for (const int mode :
       {AnimationTrack::Constant, AnimationTrack::Cyclic, AnimationTrack::CyclicExtrapolation}) {
    LinearAnimationTrack linear;
    BezierAnimationTrack bezier;
    Fill(linear, mode, keys);
    Fill(bezier, mode, keys);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      // Handles a third of the neighbouring segment away, on the line.
      const AnimationKey& k = keys[i];
      const AnimationKey& prev = keys[i > 0 ? i - 1 : i];
      const AnimationKey& next = keys[i + 1 < keys.size() ? i + 1 : i];
      bezier.AddHandles({k.time + (prev.time - k.time) / 3, k.value + (prev.value - k.value) / 3},
                        {k.time + (next.time - k.time) / 3, k.value + (next.value - k.value) / 3});
    }
    for (float t = -1.0f; t < 30.0f; t += 0.7f) {
      linear.SetTime(t);
      bezier.SetTime(t);
      EXPECT_NEAR(bezier.Value(), linear.Value(), 1e-4f) << "mode " << mode << " time " << t;
    }
  }
}

TEST(AnimationTrackTest, BezierHandlesBendTheInsideNotTheEnds) {
  BezierAnimationTrack track;
  Fill(track, AnimationTrack::Constant, {{0, 0}, {10, 10}});
  track.AddHandles({-5, 0}, {2, 8});  // the first key's right handle is used
  track.AddHandles({8, 10}, {15, 10});
  track.SetTime(0);
  EXPECT_FLOAT_EQ(track.Value(), 0);
  track.SetTime(5);  // f = 1/2: (P0 + 3 P1 + 3 P2 + P3) / 8
  EXPECT_FLOAT_EQ(track.Value(), (0 + 3 * 8 + 3 * 10 + 10) / 8.0f);
  track.SetTime(10);
  EXPECT_FLOAT_EQ(track.Value(), 10);

  // Without handles the keys stand in for them: still finite, ends kept.
  BezierAnimationTrack bare;
  Fill(bare, AnimationTrack::Cyclic, {{0, 2}, {4, 6}});
  bare.SetTime(2);
  EXPECT_FLOAT_EQ(bare.Value(), 4);
  bare.SetTime(4);
  EXPECT_FLOAT_EQ(bare.Value(), 6);
}

TEST(AnimationTrackTest, FewKeysGiveZeroOrTheOnlyValue) {
  for (const int mode :
       {AnimationTrack::Constant, AnimationTrack::Cyclic, AnimationTrack::CyclicExtrapolation}) {
    LinearAnimationTrack none;
    BezierAnimationTrack noneBezier;
    none.SetExtrapolation(mode);
    noneBezier.SetExtrapolation(mode);
    for (const float step : {1.0f, -3.0f, 1e9f}) {
      none.Advance(step);
      noneBezier.Advance(step);
      EXPECT_EQ(none.Value(), 0.0f);
      EXPECT_EQ(noneBezier.Value(), 0.0f);
    }

    LinearAnimationTrack one;
    ConstantAnimationTrack oneStep;
    one.SetExtrapolation(mode);
    oneStep.SetExtrapolation(mode);
    one.AddKey(5, 3);
    oneStep.AddKey(5, 3);
    for (const float time : {0.0f, 5.0f, 6.0f, 1e6f, 2.0f}) {
      one.SetTime(time);
      oneStep.SetTime(time);
      EXPECT_EQ(one.Value(), 3.0f) << "mode " << mode << " time " << time;
      EXPECT_EQ(oneStep.Value(), 3.0f) << "mode " << mode << " time " << time;
    }
  }
}

TEST(AnimationTrackTest, KeysOfEqualTimeAndZeroSpansStayFinite) {
  LinearAnimationTrack track;
  Fill(track, AnimationTrack::Constant, {{1, 0}, {1, 10}, {5, 20}});
  track.Advance(0);
  EXPECT_EQ(track.mPlayer.mBlend, 0.0f);
  EXPECT_FLOAT_EQ(track.Value(), 0);
  track.SetTime(3);
  EXPECT_FLOAT_EQ(track.Value(), 15);

  // A repeat of a curve without length would never reach its next
  // repetition: the track rests on its last key without counting cycles.
  for (const int mode : {AnimationTrack::Cyclic, AnimationTrack::CyclicExtrapolation}) {
    LinearAnimationTrack flat;
    Fill(flat, mode, {{5, 0}, {5, 10}});
    flat.SetTime(4);
    EXPECT_FLOAT_EQ(flat.Value(), 0);
    flat.SetTime(6);
    EXPECT_FLOAT_EQ(flat.Value(), 10);
    flat.Advance(1e6f);
    EXPECT_FLOAT_EQ(flat.Value(), 10);
    EXPECT_EQ(flat.mPlayer.mCycles, 0);
  }
}

TEST(AnimationTrackTest, HugeStepsWrapArithmetically) {
  LinearAnimationTrack cyclic;
  FillRamp(cyclic, AnimationTrack::Cyclic);
  cyclic.Advance(1e9f);  // time 1e9 (the float nearest 1e9 + 1)
  EXPECT_EQ(cyclic.mPlayer.mCycles, 99999999);
  EXPECT_FLOAT_EQ(cyclic.mPlayer.mTime, 10);
  EXPECT_FLOAT_EQ(cyclic.Value(), 9);

  // A few spans: the same time and count as wrapping one span at a time.
  LinearAnimationTrack few;
  FillRamp(few, AnimationTrack::CyclicExtrapolation);
  few.Advance(57);  // 58 -> 48 -> 38 -> 28 -> 18 -> 8
  EXPECT_EQ(few.mPlayer.mCycles, 5);
  EXPECT_FLOAT_EQ(few.mPlayer.mTime, 8);
  EXPECT_FLOAT_EQ(few.Value(), 7 + 50);
  LinearAnimationTrack exact;
  FillRamp(exact, AnimationTrack::Cyclic);
  exact.Advance(50);  // 51 -> 41 -> 31 -> 21 -> 11: stops on the last key
  EXPECT_EQ(exact.mPlayer.mCycles, 4);
  EXPECT_FLOAT_EQ(exact.mPlayer.mTime, 11);
  EXPECT_FLOAT_EQ(exact.Value(), 10);

  // More repetitions than an int counts: the count stops at its maximum.
  LinearAnimationTrack far;
  FillRamp(far, AnimationTrack::CyclicExtrapolation);
  far.Advance(3e38f);
  EXPECT_EQ(far.mPlayer.mCycles, INT_MAX);
  far.Advance(3e38f);
  EXPECT_EQ(far.mPlayer.mCycles, INT_MAX);
  EXPECT_TRUE(std::isfinite(far.Value()));
  EXPECT_GE(far.mPlayer.mTime, 1.0f);
  EXPECT_LE(far.mPlayer.mTime, 11.0f);
}

TEST(AnimationTrackTest, NonFiniteMovesAreIgnored) {
  for (const int mode :
       {AnimationTrack::Constant, AnimationTrack::Cyclic, AnimationTrack::CyclicExtrapolation}) {
    BezierAnimationTrack track;
    FillRamp(track, mode);
    track.AddHandles({1, 0}, {4, 3});
    track.AddHandles({8, 7}, {11, 10});
    track.SetTime(6);
    const float before = track.Value();
    track.Advance(kNaN);
    track.Advance(kInf);
    track.Advance(-kInf);
    track.SetTime(kNaN);
    track.SetTime(kInf);
    track.SetTime(3e38f);
    track.Advance(3e38f);  // overflows to infinity
    EXPECT_FLOAT_EQ(track.Value(), before) << "mode " << mode;
    track.Advance(1);
    EXPECT_TRUE(std::isfinite(track.Value()));
  }
}

TEST(AnimationTrackTest, KeysOutOfOrderStillEndEveryMove) {
  LinearAnimationTrack track;
  Fill(track, AnimationTrack::Cyclic, {{10, 0}, {0, 5}, {12, 1}, {11, 3}});
  for (const float step : {1.0f, 30.0f, -50.0f, 1e7f, 0.5f}) {
    track.Advance(step);
    EXPECT_GE(track.mPlayer.mIndex, 0);
    EXPECT_LT(track.mPlayer.mIndex, 4);
    EXPECT_GE(track.mPlayer.mBlend, 0.0f);
    EXPECT_LE(track.mPlayer.mBlend, 1.0f);
  }
  // Copies would share the cursor's pointer into the original's keys.
  static_assert(!std::is_copy_constructible_v<LinearAnimationTrack>);
}

}  // namespace
