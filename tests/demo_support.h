#pragma once

// Scene files (.demo) written by tests and fuzz seeds.
#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/math.h"

namespace velox_test {

// Builds a .demo scene file in memory.
class DemoWriter {
 public:
  explicit DemoWriter(int objects, int length = 250) {
    mBytes = "DEMO";
    Int(objects);
    Int(length);
  }
  DemoWriter& Int(std::int32_t v) { return Raw(&v, 4); }
  DemoWriter& Float(float v) { return Raw(&v, 4); }
  DemoWriter& String(const std::string& s) {
    Int(static_cast<std::int32_t>(s.size()));
    mBytes += s;
    return *this;
  }
  DemoWriter& Object(const std::string& type, const std::string& name, const std::string& data,
                     const std::string& parent, engine::math::Vector3f loc,
                     engine::math::Vector3f rot, int curves) {
    String(type).String(name).String(data).String(parent);
    Float(loc.x).Float(loc.y).Float(loc.z).Float(rot.x).Float(rot.y).Float(rot.z);
    return Int(curves);
  }
  // A curve with keys (time, value), handles one frame either side.
  DemoWriter& Curve(const std::string& channel, const std::vector<std::pair<float, float>>& keys,
                    const std::string& interpolation = "Linear",
                    const std::string& extrapolation = "Constant") {
    String(channel).String(interpolation).String(extrapolation).Int(static_cast<int>(keys.size()));
    for (const auto& k : keys) Float(k.first - 1).Float(k.second).Float(k.first).Float(k.second).Float(k.first + 1).Float(k.second);
    return *this;
  }
  void Save(const std::string& path) const { std::ofstream(path, std::ios::binary) << mBytes; }
  const std::string& Bytes() const { return mBytes; }

 private:
  DemoWriter& Raw(const void* p, std::size_t n) {
    mBytes.append(static_cast<const char*>(p), n);
    return *this;
  }
  std::string mBytes;
};

}  // namespace velox_test
