#pragma once

#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"
#include "engine/math.h"
#include "engine/sceneNodes.h"
#include "engine/spatial.h"

namespace engine::gfx {

class AnimationTrack;

// The per-bone result of skeletal animation.
struct ENGINE_API AnimationPose {
  math::Vector3f position;
  float rotation[4] = {0, 0, 0, 0};
};

// Connects one track to one channel of a placement. Channel ids order the
// pipes: 0 time, 1-3 location x/y/z, 11-13 scale, 17/19/21 delta rotation
// and 18/20/22 rotation about x/y/z.
class ENGINE_API AnimationPipe {
 public:
  AnimationPipe(int id, AnimationTrack* track) : mId(id), mTrack(track) {}
  virtual ~AnimationPipe();
  AnimationPipe(const AnimationPipe&) = delete;
  AnimationPipe& operator=(const AnimationPipe&) = delete;
  virtual void Accumulate(float* step, AnimationPose* pose);
  virtual void Apply(float* step, Transformation* out);

  int mId;
  AnimationTrack* mTrack;  // owned
};

class ENGINE_API AnimationVectorPipe : public AnimationPipe {
 public:
  AnimationVectorPipe(int id, AnimationTrack* track, const math::Vector3f& axis)
      : AnimationPipe(id, track), mAxis(axis) {}
  math::Vector3f mAxis;
};

// Publishes the change of its track (seconds) in frames through the step.
class ENGINE_API TimePipe : public AnimationPipe {
 public:
  using AnimationPipe::AnimationPipe;
  void Apply(float* step, Transformation* out) override;
  float mLastFrame = 0;
};

class ENGINE_API LocPipe : public AnimationVectorPipe {
 public:
  using AnimationVectorPipe::AnimationVectorPipe;
  void Accumulate(float* step, AnimationPose* pose) override;
  void Apply(float* step, Transformation* out) override;
};

// The track's value times ten is the angle in degrees.
class ENGINE_API RotPipe : public AnimationVectorPipe {
 public:
  using AnimationVectorPipe::AnimationVectorPipe;
  void Apply(float* step, Transformation* out) override;
};

class ENGINE_API ScalePipe : public AnimationVectorPipe {
 public:
  using AnimationVectorPipe::AnimationVectorPipe;
  void Apply(float* step, Transformation* out) override;
};

// The pipes and named channels of one animated object, moved in step.
class ENGINE_API AnimationController {
 public:
  static constexpr std::size_t kMaxChannels = 50;

  AnimationController();
  ~AnimationController();
  AnimationController(const AnimationController&) = delete;
  AnimationController& operator=(const AnimationController&) = delete;

  // Replaces the pipe of the same id; takes ownership.
  void AddPipe(AnimationPipe* pipe);
  // Takes ownership. The value's address stays valid for the controller's
  // life; beyond kMaxChannels the track is refused (deleted) with a
  // warning, since a reallocation would move every published address.
  void AddChannel(AnimationTrack* track, const std::string& name);
  // The value's address, or null.
  float* GetChannel(const std::string& name);
  void Advance(float step);
  void SetTime(float time);
  Transformation Evaluate(Transformation& out);
  AnimationPose& EvaluatePose(AnimationPose& pose);

  const std::vector<AnimationPipe*>& Pipes() const { return mPipes; }
  float Time() const { return mTime; }

 private:
  std::vector<AnimationPipe*> mPipes;
  std::vector<float> mChannelValues;
  std::vector<AnimationTrack*> mChannelTracks;
  std::map<std::string, float*> mChannelMap;
  float mTime = 0;
};

// A node placed by a controller, kept in step with the clock and hidden
// with its subtree while its "Layer" channel is above 1.1.
class ENGINE_API AnimationNode : public Node {
 public:
  explicit AnimationNode(Spatial* parent) : Node(parent) {}
  void SetController(boost::shared_ptr<AnimationController> controller) {
    mController = std::move(controller);
  }
  boost::shared_ptr<AnimationController> Controller() const { return mController; }
  void Update(Renderer* renderer) override;

  bool mAnimate = true;

 private:
  boost::shared_ptr<AnimationController> mController;
  float* mLayer = nullptr;
  bool mLayerPending = true;
};

}  // namespace engine::gfx
