#include "content/generator/animation.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace content {
namespace {

// Fritsch-Carlson slopes: a cubic through the keys that stays monotone
// between them.
std::vector<float> MonotoneSlopes(const std::vector<float>& t, const std::vector<float>& v) {
  const std::size_t n = t.size();
  std::vector<float> slope(n, 0.0f);
  if (n < 2) return slope;
  std::vector<float> secant(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) secant[i] = (v[i + 1] - v[i]) / (t[i + 1] - t[i]);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const float a = secant[i - 1], b = secant[i];
    if (a * b <= 0) continue;
    const float wa = 2 * (t[i + 1] - t[i]) + (t[i] - t[i - 1]);
    const float wb = (t[i + 1] - t[i]) + 2 * (t[i] - t[i - 1]);
    slope[i] = (wa + wb) / (wa / a + wb / b);
  }
  return slope;
}

// Bezier keys from times, values and slopes (value per frame).
std::vector<CurveKey> HermiteKeys(const std::vector<float>& t, const std::vector<float>& v,
                                  const std::vector<float>& slope) {
  std::vector<CurveKey> keys;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const float before = i > 0 ? (t[i] - t[i - 1]) / 3 : 1.0f;
    const float after = i + 1 < t.size() ? (t[i + 1] - t[i]) / 3 : 1.0f;
    keys.push_back({t[i] - before, v[i] - slope[i] * before, t[i], v[i], t[i] + after,
                    v[i] + slope[i] * after});
  }
  return keys;
}

AnimCurve FromKeys(const std::string& channel, const std::string& interpolation,
                   const std::string& extrapolation, const std::vector<Key>& keys) {
  AnimCurve c{channel, interpolation, extrapolation, {}};
  for (const Key& k : keys) {
    const float f = Frames(k.seconds);
    c.keys.push_back({f - 1, k.value, f, k.value, f + 1, k.value});
  }
  return c;
}

float Unwrap(float angle, float previous) {
  while (angle - previous > kPi) angle -= 2 * kPi;
  while (angle - previous < -kPi) angle += 2 * kPi;
  return angle;
}

// Smooth interpolation of one coordinate over a shot's keys.
struct Track {
  std::vector<float> t, v, slope;
  float At(float time) const {
    if (time <= t.front()) return v.front();
    if (time >= t.back()) return v.back();
    std::size_t i = 0;
    while (t[i + 1] < time) ++i;
    const float h = t[i + 1] - t[i], s = (time - t[i]) / h;
    const float h00 = (1 + 2 * s) * (1 - s) * (1 - s), h10 = s * (1 - s) * (1 - s);
    const float h01 = s * s * (3 - 2 * s), h11 = s * s * (s - 1);
    return h00 * v[i] + h10 * h * slope[i] + h01 * v[i + 1] + h11 * h * slope[i + 1];
  }
};

Track MakeTrack(const Shot& shot, const std::function<float(const ShotKey&)>& pick) {
  Track tr;
  for (const ShotKey& k : shot) tr.t.push_back(k.seconds), tr.v.push_back(pick(k));
  tr.slope = MonotoneSlopes(tr.t, tr.v);
  return tr;
}

}  // namespace

AnimCurve Smooth(const std::string& channel, const std::vector<Key>& keys,
                 const std::string& extrapolation) {
  std::vector<float> t, v;
  for (const Key& k : keys) t.push_back(Frames(k.seconds)), v.push_back(k.value);
  return {channel, "Bezier", extrapolation, HermiteKeys(t, v, MonotoneSlopes(t, v))};
}

AnimCurve Linear(const std::string& channel, const std::vector<Key>& keys,
                 const std::string& extrapolation) {
  return FromKeys(channel, "Linear", extrapolation, keys);
}

AnimCurve Steps(const std::string& channel, const std::vector<Key>& keys) {
  return FromKeys(channel, "Constant", "Constant", keys);
}

AnimCurve BeatPulse(const std::string& channel) {
  // Bezier values 1, 0, 0, 0 give (1 - f)^3 over the beat.
  const float third = kBeatFrames / 3;
  return {channel, "Bezier", "Cyclic",
          {{-third, 1, 0, 1, third, 0}, {kBeatFrames - third, 0, kBeatFrames, 0, kBeatFrames + third, 0}}};
}

std::vector<SceneObject> CameraRig(const std::vector<Shot>& shots) {
  // Sampled every few frames: dense enough that the Bezier keys between the
  // samples keep the target in view.
  constexpr float kStep = 4.0f / kFps;
  constexpr float kCut = 0.02f / kFps;  // a cut: the next shot starts almost at once
  std::vector<float> times;
  std::vector<float> values[6];  // x, y, z, pitch, yaw, roll
  std::vector<float> slopes[6];
  float lastYaw = 0;
  for (std::size_t s = 0; s < shots.size(); ++s) {
    const Shot& shot = shots[s];
    const Track ex = MakeTrack(shot, [](const ShotKey& k) { return k.eye.x; });
    const Track ey = MakeTrack(shot, [](const ShotKey& k) { return k.eye.y; });
    const Track ez = MakeTrack(shot, [](const ShotKey& k) { return k.eye.z; });
    const Track tx = MakeTrack(shot, [](const ShotKey& k) { return k.target.x; });
    const Track ty = MakeTrack(shot, [](const ShotKey& k) { return k.target.y; });
    const Track tz = MakeTrack(shot, [](const ShotKey& k) { return k.target.z; });
    const Track roll = MakeTrack(shot, [](const ShotKey& k) { return k.rollDegrees; });
    const float start = shot.front().seconds;
    // The last shot runs to its last key; earlier ones stop just before the
    // next shot starts.
    const float end = s + 1 < shots.size() ? shots[s + 1].front().seconds - kCut : shot.back().seconds;
    // A shot of one key is one sample.
    const int count = end > start ? std::max(1, static_cast<int>(std::ceil((end - start) / kStep))) : 0;
    const std::size_t first = times.size();
    for (int i = 0; i <= count; ++i) {
      const float time = count > 0 ? start + (end - start) * i / count : start;
      const Vec3 eye{ex.At(time), ey.At(time), ez.At(time)};
      const Vec3 d = Vec3{tx.At(time), ty.At(time), tz.At(time)} - eye;
      const float yaw = Unwrap(std::atan2(d.x, d.z), lastYaw);
      lastYaw = yaw;
      const float pitch = std::atan2(-d.y, std::sqrt(d.x * d.x + d.z * d.z));
      times.push_back(Frames(time));
      // Rotation curves count in units of ten degrees.
      const float row[6] = {eye.x, eye.y, eye.z, pitch * 18 / kPi, yaw * 18 / kPi, roll.At(time) / 10};
      for (int c = 0; c < 6; ++c) values[c].push_back(row[c]);
    }
    // Slopes from neighbouring samples inside the shot; flat at its ends.
    for (int c = 0; c < 6; ++c) {
      for (std::size_t i = first; i < times.size(); ++i) {
        // One-sided at the shot's ends, so that a cut does not ease out.
        const std::size_t lo = i > first ? i - 1 : i;
        const std::size_t hi = i + 1 < times.size() ? i + 1 : i;
        const float slope = hi > lo ? (values[c][hi] - values[c][lo]) / (times[hi] - times[lo]) : 0.0f;
        slopes[c].push_back(slope);
      }
    }
  }
  const auto curve = [&](const char* channel, int c) {
    return AnimCurve{channel, "Bezier", "Constant", HermiteKeys(times, values[c], slopes[c])};
  };
  SceneObject path{"Empty", "CamPath", "", "", {}, {}, {curve("LocX", 0), curve("LocY", 1), curve("LocZ", 2)}};
  SceneObject rig{"Empty", "CamRig", "", "CamPath", {}, {}, {curve("RotX", 3), curve("RotY", 4)}};
  SceneObject camera{"Camera", "Camera", "", "CamRig", {}, {}, {curve("RotZ", 5)}};
  return {path, rig, camera};
}

}  // namespace content
