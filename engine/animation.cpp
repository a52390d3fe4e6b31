#include "engine/animation.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

namespace engine::gfx {

namespace {

// mCycles only ever grows; it stops at INT_MAX instead of overflowing.
int AddCycles(int cycles, double more) {
  const double sum = static_cast<double>(cycles) + more;
  return sum >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(sum);
}

}  // namespace

IPOPlayer::~IPOPlayer() = default;

void IPOPlayer::Advance(float step) {
  const int n = mKeyCount;
  const AnimationKey* k = mKeys;
  if (n <= 0 || k == nullptr) {
    if (std::isfinite(mTime + step)) mTime += step;
    mIndex = 0;
    mBlend = 0.0f;
    return;
  }

  // A held track that has reached its end ignores moves back in time.
  if (step < 0.0f && mHold && k[n - 1].time <= mTime) {
    mIndex = n - 1;
    mBlend = 0.0f;
    return;
  }

  // An infinite or NaN time has no segment and would never stop wrapping.
  const float target = mTime + step;
  if (!std::isfinite(target)) return;
  mTime = target;
  if (mIndex < 0 || mIndex >= n) mIndex = 0;

  // The cursor never wraps backwards: before the first key it stays on
  // segment 0.
  while (mIndex > 0 && k[mIndex].time > mTime) --mIndex;

  const float last = k[n - 1].time;
  const float span = last - k[0].time;
  // A repeat of a curve without length never reaches the next repetition;
  // such a track rests on its last key instead.
  const bool wraps = span > 0.0f && std::isfinite(span);

  if (mHold && mIndex == n - 1 && k[0].time < mTime && last < mTime) {
    // Resting past the end: the walk below would circle once through all
    // keys, counting one cycle, and stop where it started. Skip the circle
    // so that a held track costs O(1) per frame.
    mCycles = AddCycles(mCycles, 1);
  } else {
    // Ordered keys need at most two passes over them; the bound only
    // guarantees an end for keys that break the order.
    long long budget = 4LL * n + 8;
    for (;;) {
      const int j = mIndex + 1 == n ? 0 : mIndex + 1;
      if (!(k[j].time < mTime)) break;
      if (mIndex + 1 == n) {
        if (mHold) {
          mCycles = AddCycles(mCycles, 1);
        } else if (wraps) {
          Wrap(span);
          mIndex = -1;
        } else {
          break;
        }
      }
      mIndex = mIndex + 1 == n ? 0 : mIndex + 1;
      if (mIndex + 1 == n && mHold) break;
      if (--budget == 0) break;
    }
  }

  const int j = mIndex + 1 == n ? 0 : mIndex + 1;
  const float length = k[j].time - k[mIndex].time;
  // Keys of equal time make a segment of no length: it starts at its
  // beginning.
  float blend = length != 0.0f ? (mTime - k[mIndex].time) / length : 0.0f;
  if (!(blend > 0.0f)) blend = 0.0f;
  else if (blend > 1.0f) blend = 1.0f;
  mBlend = blend;
}

// Takes the time back by one span, as the walk does one repetition at a
// time. A time many spans past the end (a seek, a long stall) is taken back
// by all whole spans at once, so that it costs no more than a single one and
// a span too small to change the time cannot stall the walk.
void IPOPlayer::Wrap(float span) {
  const float last = mKeys[mKeyCount - 1].time;
  const float wrapped = mTime - span;
  if (mTime - last <= 2.0f * span && wrapped < mTime) {
    mTime = wrapped;
    mCycles = AddCycles(mCycles, 1);
    return;
  }
  const double excess = static_cast<double>(mTime) - last;
  const double rest = std::fmod(excess, static_cast<double>(span));
  const double whole = std::max(0.0, std::nearbyint((excess - rest) / span));
  // The walk stops once the time is no longer past the last key, so an
  // exact multiple of the span ends on the last key itself.
  if (rest > 0.0) {
    mTime = static_cast<float>(last + rest - span);
    mCycles = AddCycles(mCycles, whole + 1.0);
  } else {
    mTime = last;
    mCycles = AddCycles(mCycles, whole);
  }
}

AnimationTrack::~AnimationTrack() = default;

void AnimationTrack::SetExtrapolation(int mode) {
  mExtrapolation = mode;
  mPlayer.mHold = mode == Constant;
}

void AnimationTrack::AddKey(float time, float value) {
  mKeys.push_back(AnimationKey{time, value});
  mPlayer.mKeys = mKeys.data();
  mPlayer.mKeyCount = static_cast<int>(mKeys.size());
}

float AnimationTrack::CycleOffset() const {
  if (mExtrapolation != CyclicExtrapolation || mKeys.empty()) return 0.0f;
  return (mKeys.back().value - mKeys.front().value) * static_cast<float>(mPlayer.mCycles);
}

namespace {

// The segment the cursor is on, as indices into keys of the given count.
struct Segment {
  std::size_t i;
  std::size_t j;
};

Segment CurrentSegment(const IPOPlayer& player, std::size_t count) {
  const auto index = static_cast<std::size_t>(player.mIndex);
  const std::size_t i = player.mIndex >= 0 && index < count ? index : 0;
  return Segment{i, i + 1 < count ? i + 1 : 0};
}

}  // namespace

void ConstantAnimationTrack::Advance(float step) {
  mPlayer.Advance(step);
  Evaluate();
}

void ConstantAnimationTrack::SetTime(float time) {
  mPlayer.SetTime(time);
  Evaluate();
}

void ConstantAnimationTrack::Evaluate() {
  if (mKeys.empty()) {
    mValue = 0.0f;
    return;
  }
  const Segment s = CurrentSegment(mPlayer, mKeys.size());
  mValue = mKeys[s.i].value + CycleOffset();
}

void LinearAnimationTrack::Advance(float step) {
  mPlayer.Advance(step);
  Evaluate();
}

void LinearAnimationTrack::SetTime(float time) {
  mPlayer.SetTime(time);
  Evaluate();
}

void LinearAnimationTrack::Evaluate() {
  if (mKeys.empty()) {
    mValue = 0.0f;
    return;
  }
  const Segment s = CurrentSegment(mPlayer, mKeys.size());
  const float f = mPlayer.mBlend;
  mValue = (1.0f - f) * mKeys[s.i].value + f * mKeys[s.j].value + CycleOffset();
}

void BezierAnimationTrack::Advance(float step) {
  mPlayer.Advance(step);
  Evaluate();
}

void BezierAnimationTrack::SetTime(float time) {
  mPlayer.SetTime(time);
  Evaluate();
}

void BezierAnimationTrack::AddHandles(AnimationKey left, AnimationKey right) {
  mLeftHandles.push_back(left);
  mRightHandles.push_back(right);
}

void BezierAnimationTrack::Evaluate() {
  if (mKeys.empty()) {
    mValue = 0.0f;
    return;
  }
  const Segment s = CurrentSegment(mPlayer, mKeys.size());
  const float p0 = mKeys[s.i].value;
  const float p3 = mKeys[s.j].value;
  // A key without its handle gets the key itself: the segment still runs
  // from key to key.
  const float p1 = s.i < mRightHandles.size() ? mRightHandles[s.i].value : p0;
  const float p2 = s.j < mLeftHandles.size() ? mLeftHandles[s.j].value : p3;
  const float f = mPlayer.mBlend;
  mValue = p0 + f * (3.0f * (p1 - p0) +
                     f * (3.0f * (p0 - 2.0f * p1 + p2) + f * (p3 - p0 + 3.0f * (p1 - p2)))) +
           CycleOffset();
}

}  // namespace engine::gfx
