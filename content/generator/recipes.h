#pragma once

// The three scenes: their objects and animation, their meshes and the curve
// and matrix files that go with them.
#include <map>
#include <string>
#include <vector>

#include "content/formats/curves.h"
#include "content/formats/demo.h"
#include "content/formats/vlx.h"

namespace content {

struct SceneOutput {
  std::string name;  // "underwater": data/underwater.demo, data/underwater.demo_scene/
  Scene scene;
  std::map<std::string, MeshData> meshes;    // mesh name -> its .vlx
  std::map<std::string, std::string> files;  // path under data/ -> bytes
};

// Knots (frame, value) of the music's beat envelope.
using MusicKnots = std::vector<std::pair<float, float>>;

// A spline through the knots with Catmull-Rom handles at thirds.
BezierSpline SplineThrough(const std::vector<Vec3>& knots);
// Handles at thirds between knots: straight between them, so the music
// curve reads as a piecewise linear function of x.
BezierSpline StraightSpline(const std::vector<Vec3>& knots);

SceneOutput Underwater(const MusicKnots& music);
SceneOutput Incurve();
SceneOutput City();

// Matrix entries are row by row with the translation in the last row.
MatrixEntry Translation(const std::string& name, Vec3 t);

}  // namespace content
