#pragma once

// Rotation math in the engine's axes, and glTF animation samplers turned
// into curves of three channels that the engine's tracks reproduce.
#include <array>
#include <vector>

namespace gltfimport {

using Vec3 = std::array<double, 3>;
using Vec4 = std::array<double, 4>;
// Rows of a rotation for column vectors: m[row][column].
using Mat3 = std::array<std::array<double, 3>, 3>;

// The rotation of a quaternion (x, y, z, w), which need not be of unit length.
Mat3 ToMatrix(const Vec4& q);
// The angles e with m = Rz(e[2]) Ry(e[1]) Rx(e[0]): the engine's row-vector
// Rx * Ry * Rz, about x first.
Vec3 EulerAngles(const Mat3& m);
Mat3 FromEulerAngles(const Vec3& e);
// The angles of m closest to `near` (other solution, whole turns), so that a
// curve through successive rotations does not jump.
Vec3 NearestEulerAngles(const Mat3& m, const Vec3& near);
// The angle in radians of the rotation that takes a to b.
double AngleBetween(const Mat3& a, const Mat3& b);

enum class Interpolation { Step, Linear, Cubic };

// A glTF sampler's keys in the engine's axes: times in seconds, values of 3
// or 4 components, and for Cubic the in and out tangents per second.
struct Sampler {
  Interpolation interpolation = Interpolation::Linear;
  std::vector<double> times;
  std::vector<Vec4> values, in, out;
};

// glTF's rotation at time t: step, spherical linear (shortest way) or
// Hermite on the components, normalised; held before the first and after
// the last key.
Vec4 SampleRotation(const Sampler& sampler, double t);

// Keys of a three-channel curve with one-sided slopes per second (Cubic).
struct CurveKey3 {
  double time = 0;
  Vec3 value{}, in{}, out{};
};
struct Curve3 {
  Interpolation interpolation = Interpolation::Linear;
  std::vector<CurveKey3> keys;
};

// The sampler's first three components as they are: exact for every
// interpolation.
Curve3 VectorCurve(const Sampler& sampler);
// Rotation angles in radians (see EulerAngles), continuous from key to key.
// Segments are halved until the curve's rotation stays within `kTolerance`
// of glTF's at a quarter, half and three quarters, or the segment is
// shorter than `kShortest` seconds: near gimbal lock (y at +-90 degrees)
// the angles turn fast, and only there keys come that close.
Curve3 RotationCurve(const Sampler& sampler);
constexpr double kTolerance = 5e-4;  // radians, about 0.03 degrees
constexpr double kShortest = 1e-3;   // a fortieth of a frame

// The value of a curve segment between a and b at fraction f, as the
// engine's tracks compute it (Bezier handles a third of the way along the
// slopes).
Vec3 Interpolate(Interpolation interpolation, const CurveKey3& a, const CurveKey3& b, double f);

}  // namespace gltfimport
