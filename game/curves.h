#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/math.h"

// Curves and placement matrices exported from the modelling tool, in world
// coordinates. Readers throw plain character strings:
//   "No such file found"      the file cannot be opened
//   "Not a curve file"        wrong magic
//   "Truncated curve file"    a count, name or record runs past the end
//   "Corrupt curve file"      a negative count or name length
// and the same two for matrices ("Truncated matrix file", "Corrupt matrix
// file"). Bytes after the last record are ignored.
namespace demo {

struct SplinePoint {
  engine::math::Vector3f in;    // handle before the knot
  engine::math::Vector3f out;   // handle after the knot
  engine::math::Vector3f knot;  // the curve passes through it
};

struct Spline {
  std::vector<SplinePoint> points;
  // lengths[k]: curve length from the first knot to the end of segment k.
  std::vector<float> lengths;

  // The point whose x is x; knots must ascend in x. Outside the knots the
  // nearer end knot; no points give the origin.
  engine::math::Vector3f Evaluate(float x) const;

  // (distance from p to the curve, arc length of the nearest point). Each
  // segment is searched by bisection to 1/128 of its parameter; no points
  // give (+infinity, 0), one point the distance to its knot and arc 0.
  std::pair<float, float> Project(engine::math::Vector3f p) const;
};

// Curve object name -> its splines in file order.
using CurveSet = std::map<std::string, std::vector<Spline>>;
using MatrixSet = std::map<std::string, engine::math::Matrix4x4>;

CurveSet ReadCurves(std::string path);
CurveSet ReadCurves(const std::uint8_t* data, std::size_t size);

// A later entry of the same name replaces an earlier one.
MatrixSet ReadMatrices(std::string path);
MatrixSet ReadMatrices(const std::uint8_t* data, std::size_t size);

}  // namespace demo
