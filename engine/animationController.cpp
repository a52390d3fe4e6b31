#include "engine/animationController.h"

#include <algorithm>
#include <cmath>

#include "engine/animation.h"
#include "engine/logging.h"
#include "engine/timer.h"
#include "platform/d3dmath.h"

namespace engine::gfx {
namespace {

// The upper-left 3x3 of a graphics-library matrix.
math::Matrix3x3 Block(const platform::Matrix& m) {
  return math::Matrix3x3(m.m[0][0], m.m[0][1], m.m[0][2], m.m[1][0], m.m[1][1], m.m[1][2],
                         m.m[2][0], m.m[2][1], m.m[2][2]);
}

}  // namespace

AnimationPipe::~AnimationPipe() { delete mTrack; }
void AnimationPipe::Accumulate(float*, AnimationPose*) {}
void AnimationPipe::Apply(float*, Transformation*) {}

void TimePipe::Apply(float* step, Transformation*) {
  const float frame = mTrack->Value() * 25.0f;
  *step = frame - mLastFrame;
  mLastFrame = frame;
}

void LocPipe::Accumulate(float*, AnimationPose* pose) { pose->position += mAxis * mTrack->Value(); }

void LocPipe::Apply(float*, Transformation* out) {
  out->Translate(out->Translate() + mAxis * mTrack->Value());
}

void RotPipe::Apply(float*, Transformation* out) {
  platform::Matrix r;
  const platform::Vector3 axis{mAxis.x, mAxis.y, mAxis.z};
  platform::MatrixRotationAxis(&r, &axis, mTrack->Value() * 31.415928f * 0.0055555557f);
  out->Rotate(out->Rotate() * Block(r));
}

void ScalePipe::Apply(float*, Transformation* out) {
  const float v = mTrack->Value();
  const float c[3] = {mAxis.x, mAxis.y, mAxis.z};
  math::Matrix3x3 rotate = out->Rotate();
  for (int i = 0; i < 3; ++i) {
    if (!(c[i] > 0.0f)) continue;
    platform::Matrix s;
    platform::MatrixScaling(&s, i == 0 ? c[i] * v : 1.0f, i == 1 ? c[i] * v : 1.0f,
                            i == 2 ? c[i] * v : 1.0f);
    rotate = rotate * Block(s);
  }
  out->Rotate(rotate);
}

AnimationController::AnimationController() { mChannelValues.reserve(kMaxChannels); }

AnimationController::~AnimationController() {
  for (AnimationPipe* p : mPipes) delete p;
  for (AnimationTrack* t : mChannelTracks) delete t;
}

void AnimationController::AddPipe(AnimationPipe* pipe) {
  if (pipe == nullptr) return;
  auto same = std::find_if(mPipes.begin(), mPipes.end(),
                           [&](const AnimationPipe* p) { return p->mId == pipe->mId; });
  if (same != mPipes.end()) {
    delete *same;
    mPipes.erase(same);
  }
  mPipes.push_back(pipe);
  std::sort(mPipes.begin(), mPipes.end(),
            [](const AnimationPipe* a, const AnimationPipe* b) { return a->mId < b->mId; });
}

void AnimationController::AddChannel(AnimationTrack* track, const std::string& name) {
  if (track == nullptr) return;
  if (mChannelValues.size() >= kMaxChannels) {
    ENGINE_WARNING("Too many animated channels, " + name + " is not animated");
    delete track;
    return;
  }
  mChannelTracks.push_back(track);
  mChannelValues.push_back(0.0f);
  mChannelMap[name] = &mChannelValues.back();
}

float* AnimationController::GetChannel(const std::string& name) {
  auto found = mChannelMap.find(name);
  return found != mChannelMap.end() ? found->second : nullptr;
}

void AnimationController::Advance(float step) {
  mTime += step;
  for (std::size_t i = 0; i < mChannelTracks.size(); ++i) {
    mChannelTracks[i]->Advance(step);
    mChannelValues[i] = mChannelTracks[i]->Value();
  }
  for (AnimationPipe* p : mPipes) p->mTrack->Advance(step);
}

void AnimationController::SetTime(float time) {
  mTime = 0;
  for (AnimationTrack* t : mChannelTracks) t->SetTime(0);
  for (AnimationPipe* p : mPipes) p->mTrack->SetTime(0);
  Advance(time);
}

Transformation AnimationController::Evaluate(Transformation& out) {
  float step = static_cast<float>(GetSinceLast() * 25.0);
  out.Identity();
  for (AnimationPipe* p : mPipes) p->Apply(&step, &out);
  return out;
}

AnimationPose& AnimationController::EvaluatePose(AnimationPose& pose) {
  pose = AnimationPose();
  float step = 0;
  for (AnimationPipe* p : mPipes) p->Accumulate(&step, &pose);
  return pose;
}

void AnimationNode::Update(Renderer* renderer) {
  if (mAnimate && mController) {
    const double now = GetTime() * 25.0;
    if (std::fabs(static_cast<double>(mController->Time()) - now) > 25.0) {
      mController->SetTime(static_cast<float>(now));
    } else {
      mController->Advance(static_cast<float>(GetSinceLast() * 25.0));
    }
    if (mLayerPending) {
      mLayer = mController->GetChannel("Layer");
      mLayerPending = false;
    }
    if (mLayer != nullptr && *mLayer > 1.1f) return;
    Transformation t;
    mController->Evaluate(t);
    mLocal = t;
  }
  Node::Update(renderer);
}

}  // namespace engine::gfx
