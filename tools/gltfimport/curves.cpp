#include "tools/gltfimport/curves.h"

#include <algorithm>
#include <cmath>

namespace gltfimport {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Step for the slopes of rotation angles, in seconds.
constexpr double kSlopeStep = 1e-6;

Vec4 Normalised(const Vec4& q) {
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!(n > 0) || !std::isfinite(n)) return {0, 0, 0, 1};
  return {q[0] / n, q[1] / n, q[2] / n, q[3] / n};
}

Vec4 Slerp(Vec4 a, Vec4 b, double f) {
  double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  if (dot < 0) {
    for (double& c : b) c = -c;
    dot = -dot;
  }
  double wa = 1 - f, wb = f;
  if (dot < 0.9999) {
    const double angle = std::acos(std::min(dot, 1.0));
    wa = std::sin((1 - f) * angle) / std::sin(angle);
    wb = std::sin(f * angle) / std::sin(angle);
  }
  return Normalised(
      {wa * a[0] + wb * b[0], wa * a[1] + wb * b[1], wa * a[2] + wb * b[2], wa * a[3] + wb * b[3]});
}

Vec3 AnglesAt(const Sampler& s, double t, const Vec3& near) {
  return NearestEulerAngles(ToMatrix(SampleRotation(s, t)), near);
}

// A curve key at time t whose angles continue from `near`; its slopes are
// one-sided differences, so that a cubic sampler's in and out tangents
// stay apart.
CurveKey3 KeyAt(const Sampler& s, double t, const Vec3& near) {
  CurveKey3 key;
  key.time = t;
  key.value = AnglesAt(s, t, near);
  if (s.interpolation == Interpolation::Cubic) {
    const Vec3 before = AnglesAt(s, t - kSlopeStep, key.value);
    const Vec3 after = AnglesAt(s, t + kSlopeStep, key.value);
    for (int i = 0; i < 3; ++i) {
      key.in[i] = (key.value[i] - before[i]) / kSlopeStep;
      key.out[i] = (after[i] - key.value[i]) / kSlopeStep;
    }
  }
  return key;
}

bool Fits(const Sampler& s, const CurveKey3& a, const CurveKey3& b) {
  for (double f : {0.25, 0.5, 0.75}) {
    const Mat3 curve = FromEulerAngles(Interpolate(s.interpolation, a, b, f));
    const Mat3 gltf = ToMatrix(SampleRotation(s, a.time + f * (b.time - a.time)));
    if (AngleBetween(curve, gltf) > kTolerance) return false;
  }
  return true;
}

void Refine(const Sampler& s, CurveKey3 a, CurveKey3 b, std::vector<CurveKey3>* out) {
  if (s.interpolation != Interpolation::Step && b.time - a.time > kShortest && !Fits(s, a, b)) {
    const CurveKey3 middle = KeyAt(s, 0.5 * (a.time + b.time), a.value);
    Refine(s, a, middle, out);
    const CurveKey3 last = out->back();
    Refine(s, last, KeyAt(s, b.time, last.value), out);
    return;
  }
  out->push_back(b);
}

}  // namespace

Mat3 ToMatrix(const Vec4& quaternion) {
  const Vec4 q = Normalised(quaternion);
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  return {{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
           {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
           {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}}};
}

Vec3 EulerAngles(const Mat3& m) {
  const double s = std::clamp(-m[2][0], -1.0, 1.0);
  const double y = std::asin(s);
  if (std::abs(s) < 1 - 1e-12)
    return {std::atan2(m[2][1], m[2][2]), y, std::atan2(m[1][0], m[0][0])};
  // Gimbal lock: x and z turn about the same axis; z takes it all.
  return {0, y, std::atan2(-m[0][1], m[1][1])};
}

Mat3 FromEulerAngles(const Vec3& e) {
  const double ca = std::cos(e[0]), sa = std::sin(e[0]);
  const double cb = std::cos(e[1]), sb = std::sin(e[1]);
  const double cc = std::cos(e[2]), sc = std::sin(e[2]);
  return {{{cb * cc, sa * sb * cc - ca * sc, ca * sb * cc + sa * sc},
           {cb * sc, sa * sb * sc + ca * cc, ca * sb * sc - sa * cc},
           {-sb, sa * cb, ca * cb}}};
}

Vec3 NearestEulerAngles(const Mat3& m, const Vec3& near) {
  const Vec3 first = EulerAngles(m);
  const Vec3 second = {first[0] + kPi, kPi - first[1], first[2] + kPi};
  Vec3 best{};
  double bestDistance = -1;
  for (Vec3 e : {first, second}) {
    double distance = 0;
    for (int i = 0; i < 3; ++i) {
      e[i] += 2 * kPi * std::round((near[i] - e[i]) / (2 * kPi));
      distance += (e[i] - near[i]) * (e[i] - near[i]);
    }
    if (bestDistance < 0 || distance < bestDistance) {
      best = e;
      bestDistance = distance;
    }
  }
  return best;
}

double AngleBetween(const Mat3& a, const Mat3& b) {
  double trace = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) trace += a[i][j] * b[i][j];
  }
  return std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0));
}

Vec4 SampleRotation(const Sampler& s, double t) {
  const std::size_t n = s.times.size();
  if (n == 0) return {0, 0, 0, 1};
  if (t <= s.times.front()) return Normalised(s.values.front());
  if (t >= s.times.back()) return Normalised(s.values.back());
  const std::size_t k = static_cast<std::size_t>(
                            std::upper_bound(s.times.begin(), s.times.end(), t) - s.times.begin()) -
                        1;
  const double span = s.times[k + 1] - s.times[k];
  const double f = (t - s.times[k]) / span;
  switch (s.interpolation) {
    case Interpolation::Step:
      return Normalised(s.values[k]);
    case Interpolation::Linear:
      return Slerp(Normalised(s.values[k]), Normalised(s.values[k + 1]), f);
    case Interpolation::Cubic:
      break;
  }
  const double f2 = f * f, f3 = f2 * f;
  const double h00 = 2 * f3 - 3 * f2 + 1, h10 = f3 - 2 * f2 + f, h01 = -2 * f3 + 3 * f2,
               h11 = f3 - f2;
  Vec4 q{};
  for (int i = 0; i < 4; ++i) {
    q[i] = h00 * s.values[k][i] + h10 * span * s.out[k][i] + h01 * s.values[k + 1][i] +
           h11 * span * s.in[k + 1][i];
  }
  return Normalised(q);
}

Vec3 Interpolate(Interpolation interpolation, const CurveKey3& a, const CurveKey3& b, double f) {
  Vec3 v{};
  const double third = (b.time - a.time) / 3;
  for (int i = 0; i < 3; ++i) {
    switch (interpolation) {
      case Interpolation::Step:
        v[i] = a.value[i];
        break;
      case Interpolation::Linear:
        v[i] = (1 - f) * a.value[i] + f * b.value[i];
        break;
      case Interpolation::Cubic: {
        const double p0 = a.value[i], p1 = a.value[i] + a.out[i] * third;
        const double p2 = b.value[i] - b.in[i] * third, p3 = b.value[i];
        const double g = 1 - f;
        v[i] = g * g * g * p0 + 3 * g * g * f * p1 + 3 * g * f * f * p2 + f * f * f * p3;
        break;
      }
    }
  }
  return v;
}

Curve3 VectorCurve(const Sampler& s) {
  Curve3 curve;
  curve.interpolation = s.interpolation;
  for (std::size_t k = 0; k < s.times.size(); ++k) {
    CurveKey3 key;
    key.time = s.times[k];
    for (int i = 0; i < 3; ++i) {
      key.value[i] = s.values[k][i];
      if (s.interpolation == Interpolation::Cubic) {
        key.in[i] = s.in[k][i];
        key.out[i] = s.out[k][i];
      }
    }
    curve.keys.push_back(key);
  }
  return curve;
}

Curve3 RotationCurve(const Sampler& s) {
  Curve3 curve;
  curve.interpolation = s.interpolation;
  if (s.times.empty()) return curve;
  curve.keys.push_back(KeyAt(s, s.times[0], EulerAngles(ToMatrix(s.values[0]))));
  for (std::size_t k = 1; k < s.times.size(); ++k) {
    const CurveKey3 last = curve.keys.back();
    Refine(s, last, KeyAt(s, s.times[k], last.value), &curve.keys);
  }
  return curve;
}

}  // namespace gltfimport
