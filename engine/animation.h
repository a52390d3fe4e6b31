#pragma once

#include <vector>

#include "engine/api.h"

// Scalar animation curves of the modelling tool: keys, an interpolation
// between them and a rule for times past the last key. Times are in frames
// (25 a second).
namespace engine::gfx {

// A key, or a Bezier handle: the same (time, value) pair.
struct ENGINE_API AnimationKey {
  float time = 0.0f;
  float value = 0.0f;
};

// The time cursor over one track's keys. It remembers its segment so that
// per-frame moves walk only as far as the time went.
class ENGINE_API IPOPlayer {
 public:
  IPOPlayer() = default;
  IPOPlayer(const IPOPlayer&) = default;
  IPOPlayer& operator=(const IPOPlayer&) = default;
  virtual ~IPOPlayer();

  // Moves the time by step frames and finds its segment. A move whose
  // target time is not finite is ignored.
  void Advance(float step);
  void SetTime(float time) { Advance(time - mTime); }

  int mIndex = 0;        // key that starts the current segment
  float mBlend = 0.0f;   // position inside the segment, 0 to 1
  float mTime = 1.0f;    // frames; a new track starts at frame 1
  bool mHold = false;    // rest on the last key instead of wrapping
  int mCycles = 0;       // times the time has run past the last key
  int mKeyCount = 0;
  const AnimationKey* mKeys = nullptr;  // the owning track's keys

 private:
  void Wrap(float span);
};

// One animated scalar. Keys must be added in ascending time order.
class ENGINE_API AnimationTrack {
 public:
  enum Extrapolation : int { Constant = 0, Cyclic = 2, CyclicExtrapolation = 3 };

  AnimationTrack() = default;
  // The cursor points into the track's own key list; a copy would share it.
  AnimationTrack(const AnimationTrack&) = delete;
  AnimationTrack& operator=(const AnimationTrack&) = delete;
  virtual ~AnimationTrack();

  virtual void Advance(float step) = 0;
  virtual void SetTime(float time) = 0;

  // Must be called once before use: the constructor leaves the cursor
  // wrapping although the mode reads Constant.
  void SetExtrapolation(int mode);
  void AddKey(float time, float value);
  float Value() const { return mValue; }

  int mExtrapolation = Constant;
  float mValue = 0.0f;
  IPOPlayer mPlayer;
  std::vector<AnimationKey> mKeys;

 protected:
  // The running offset of CyclicExtrapolation, 0 in every other mode.
  float CycleOffset() const;
};

// A step function: the value of the last key passed.
class ENGINE_API ConstantAnimationTrack : public AnimationTrack {
 public:
  void Advance(float step) override;
  void SetTime(float time) override;

 private:
  void Evaluate();
};

class ENGINE_API LinearAnimationTrack : public AnimationTrack {
 public:
  void Advance(float step) override;
  void SetTime(float time) override;

 private:
  void Evaluate();
};

// Cubic Bezier per segment through the key, its right handle, the next
// key's left handle and the next key. The time fraction is the curve
// parameter directly; the handles' times only matter through that.
class ENGINE_API BezierAnimationTrack : public AnimationTrack {
 public:
  void Advance(float step) override;
  void SetTime(float time) override;

  // Appends the handles of the key with the same index.
  void AddHandles(AnimationKey left, AnimationKey right);

  std::vector<AnimationKey> mLeftHandles;   // before each key
  std::vector<AnimationKey> mRightHandles;  // after each key

 private:
  void Evaluate();
};

}  // namespace engine::gfx
