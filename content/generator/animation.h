#pragma once

// Authoring helpers for animation curves: smooth Bezier tracks without
// overshoot, camera rigs that look at a target, beat pulses.
#include <string>
#include <vector>

#include "content/formats/demo.h"
#include "content/generator/geometry.h"

namespace content {

constexpr float kFps = 25.0f;
constexpr float kBeatFrames = 12.5f;  // 120 beats a minute
inline float Frames(float seconds) { return seconds * kFps; }

struct Key {
  float seconds;
  float value;
};

// Bezier track through the keys with handles at thirds of each segment and
// monotone slopes (no overshoot between keys; flat at extremes and ends).
AnimCurve Smooth(const std::string& channel, const std::vector<Key>& keys,
                 const std::string& extrapolation = "Constant");
AnimCurve Linear(const std::string& channel, const std::vector<Key>& keys,
                 const std::string& extrapolation = "Constant");
// A step function: the value of the last key passed.
AnimCurve Steps(const std::string& channel, const std::vector<Key>& keys);
// 1 on every beat, falling as (1 - f)^3 to 0 before the next; cyclic.
AnimCurve BeatPulse(const std::string& channel);

// A camera shot: where the camera is and what it looks at over time, both
// smooth in time (monotone per coordinate through the keys).
struct ShotKey {
  float seconds;
  Vec3 eye;
  Vec3 target;
  float rollDegrees = 0;
};
using Shot = std::vector<ShotKey>;

// The three objects of a camera rig (see the contract): "CamPath" moves,
// "CamRig" turns (pitch, then yaw), "Camera" rolls. Shots follow each other
// with a cut where one ends and the next starts.
std::vector<SceneObject> CameraRig(const std::vector<Shot>& shots);

}  // namespace content
