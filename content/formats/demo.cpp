#include "content/formats/demo.h"

namespace content {

DemoWriter::DemoWriter(int objects, int length) {
  Raw("DEMO", 4);
  Int(objects);
  Int(length);
}

DemoWriter& DemoWriter::Object(const std::string& type, const std::string& name,
                               const std::string& data, const std::string& parent, Vec3 location,
                               Vec3 rotation, int curves) {
  String(type).String(name).String(data).String(parent).Vector(location).Vector(rotation);
  Int(curves);
  return *this;
}

DemoWriter& DemoWriter::Curve(const AnimCurve& curve) {
  String(curve.channel).String(curve.interpolation).String(curve.extrapolation);
  Int(static_cast<std::int32_t>(curve.keys.size()));
  for (const CurveKey& k : curve.keys) {
    Float(k.leftTime).Float(k.leftValue).Float(k.time).Float(k.value);
    Float(k.rightTime).Float(k.rightValue);
  }
  return *this;
}

DemoWriter& DemoWriter::Curve(const std::string& channel,
                              const std::vector<std::pair<float, float>>& keys,
                              const std::string& interpolation, const std::string& extrapolation) {
  AnimCurve c{channel, interpolation, extrapolation, {}};
  for (const auto& [t, v] : keys) c.keys.push_back({t - 1, v, t, v, t + 1, v});
  return Curve(c);
}

std::string DemoBytes(const Scene& scene) {
  DemoWriter w(static_cast<int>(scene.objects.size()), scene.length);
  for (const SceneObject& o : scene.objects) {
    w.Object(o.type, o.name, o.data, o.parent, o.location, o.rotation,
             static_cast<int>(o.curves.size()));
    for (const AnimCurve& c : o.curves) w.Curve(c);
  }
  return w.Bytes();
}

}  // namespace content
