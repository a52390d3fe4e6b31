#pragma once

// Curve files (.curves: named 3D Bezier splines) and placement-matrix files
// (.matrix: named 4x4 matrices).
#include <string>
#include <vector>

#include "content/formats/bytes.h"

namespace content {

struct BezierPoint {
  Vec3 in, knot, out;  // handle before, the point on the curve, handle after
};

struct BezierSpline {
  std::vector<BezierPoint> points;
  // One per segment (points - 1); see SegmentLengths.
  std::vector<float> segmentLengths;
};

struct CurveObject {
  std::string name;
  Vec3 location;
  Vec3 rotation;  // radians, applied x, then y, then z
  std::vector<BezierSpline> splines;
};

// The arc length of each segment, measured along the curve in `steps`
// straight pieces.
std::vector<float> SegmentLengths(const std::vector<BezierPoint>& points, int steps = 64);

std::string CurvesBytes(const std::vector<CurveObject>& objects);

struct MatrixEntry {
  std::string name;
  float m[4][4];  // row by row, translation in the last row
};

std::string MatrixBytes(const std::vector<MatrixEntry>& entries);

}  // namespace content
