#pragma once

// Scene files (.demo): "DEMO", object count, length in frames, then the
// objects with their animation curves.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "content/formats/bytes.h"

namespace content {

// A key with its Bezier handles (times in frames of 1/25 s).
struct CurveKey {
  float leftTime = 0, leftValue = 0;
  float time = 0, value = 0;
  float rightTime = 0, rightValue = 0;
};

struct AnimCurve {
  std::string channel;
  std::string interpolation = "Bezier";  // "Constant", "Linear", "Bezier"
  std::string extrapolation = "Constant";  // "Constant", "Cyclic", "Cyclic_extrapolation"
  std::vector<CurveKey> keys;  // ascending time
};

struct SceneObject {
  std::string type;  // "Camera", "Lamp", "Mesh" or anything else for a frame
  std::string name;
  std::string data;  // a mesh's file name without ".vlx"
  std::string parent;
  Vec3 location;     // the modelling tool's axes: stored z is negated under a camera
  Vec3 rotation;     // radians
  std::vector<AnimCurve> curves;
};

struct Scene {
  std::int32_t length = 0;  // end frame on the global clock
  std::vector<SceneObject> objects;
};

std::string DemoBytes(const Scene& scene);

// Field-by-field builder, also for files that are broken on purpose.
class DemoWriter : public ByteWriter {
 public:
  explicit DemoWriter(int objects, int length = 250);
  DemoWriter& Object(const std::string& type, const std::string& name, const std::string& data,
                     const std::string& parent, Vec3 location, Vec3 rotation, int curves);
  // A curve header and its keys.
  DemoWriter& Curve(const AnimCurve& curve);
  // Keys (time, value) with handles one frame either side.
  DemoWriter& Curve(const std::string& channel, const std::vector<std::pair<float, float>>& keys,
                    const std::string& interpolation = "Linear",
                    const std::string& extrapolation = "Constant");
};

}  // namespace content
