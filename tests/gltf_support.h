#pragma once

// glTF files written by hand for the importer's tests: JSON around one
// binary buffer, nodes placed by translation, rotation and scale.
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace velox_test {

using Quat = std::array<double, 4>;

inline Quat AxisAngle(double x, double y, double z, double degrees) {
  const double half = degrees * 3.14159265358979323846 / 360;
  const double n = std::sqrt(x * x + y * y + z * z), s = std::sin(half);
  return {x / n * s, y / n * s, z / n * s, std::cos(half)};
}

struct Trs {
  std::array<double, 3> t{0, 0, 0};
  Quat q{0, 0, 0, 1};
  std::array<double, 3> s{1, 1, 1};
};

inline std::string List(const double* v, int n) {
  std::string s = "[";
  for (int i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(v[i]);
  return s + "]";
}

inline std::string NodeJson(const std::string& name, const Trs& p, const std::string& more = "") {
  return "{\"name\":\"" + name + "\",\"translation\":" + List(p.t.data(), 3) +
         ",\"rotation\":" + List(p.q.data(), 4) + ",\"scale\":" + List(p.s.data(), 3) + more + "}";
}

// A glTF file: JSON written by hand around one binary buffer.
class Gltf {
 public:
  int Floats(const std::vector<float>& v, const char* type) {
    const int n = std::string(type) == "SCALAR" ? 1 : type[3] - '0';
    return Add(v.data(), v.size() * 4, 5126, static_cast<int>(v.size()) / n, type);
  }
  int Shorts(const std::vector<std::uint16_t>& v) {
    return Add(v.data(), v.size() * 2, 5123, static_cast<int>(v.size()), "SCALAR");
  }
  // A buffer view of the bytes (an image's), its index.
  int View(const std::string& bytes) {
    mViews.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(mBin.size()) +
                     ",\"byteLength\":" + std::to_string(bytes.size()) + "}");
    mBin += bytes;
    mBin.resize((mBin.size() + 3) / 4 * 4, '\0');
    return static_cast<int>(mViews.size()) - 1;
  }
  std::string Json(const std::string& bufferUri) const {
    auto join = [](const std::vector<std::string>& parts) {
      std::string s;
      for (const auto& p : parts) s += (s.empty() ? "" : ",") + p;
      return s;
    };
    std::string roots;
    for (int r : this->roots) roots += (roots.empty() ? "" : ",") + std::to_string(r);
    return "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[" + roots +
           "]}]," + more + "\"nodes\":[" + join(nodes) + "],\"meshes\":[" + join(meshes) +
           "],\"animations\":[" + join(animations) +
           "],\"buffers\":[{\"byteLength\":" + std::to_string(mBin.size()) +
           (bufferUri.empty() ? "" : ",\"uri\":\"" + bufferUri + "\"") + "}],\"bufferViews\":[" +
           join(mViews) + "],\"accessors\":[" + join(mAccessors) + "]}";
  }
  // path.gltf beside path.bin, with `edit` applied to the JSON.
  void Save(const std::string& path, const std::pair<std::string, std::string>& edit = {}) const {
    std::string json = Json(std::filesystem::path(path).stem().string() + ".bin");
    if (!edit.first.empty()) {
      const auto at = json.find(edit.first);
      ASSERT_NE(at, std::string::npos) << edit.first;
      json.replace(at, edit.first.size(), edit.second);
    }
    velox_test::WriteText(path, json);
    velox_test::WriteText(std::filesystem::path(path).replace_extension(".bin").string(), mBin);
  }
  void SaveBinary(const std::string& path) const {
    std::string json = Json("");
    json.resize((json.size() + 3) / 4 * 4, ' ');
    const std::string bin = mBin;
    std::string glb = "glTF";
    auto u32 = [&](std::uint32_t v) { glb.append(reinterpret_cast<const char*>(&v), 4); };
    u32(2), u32(static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + bin.size()));
    u32(static_cast<std::uint32_t>(json.size())), glb += "JSON", glb += json;
    u32(static_cast<std::uint32_t>(bin.size())), glb += "BIN", glb += '\0', glb += bin;
    velox_test::WriteText(path, glb);
  }

  std::vector<std::string> nodes, meshes, animations;
  std::vector<int> roots;
  std::string more;  // further top-level members, each with its comma

 private:
  int Add(const void* data, std::size_t bytes, int component, int count, const char* type) {
    mViews.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(mBin.size()) +
                     ",\"byteLength\":" + std::to_string(bytes) + "}");
    mBin.append(static_cast<const char*>(data), bytes);
    mBin.resize((mBin.size() + 3) / 4 * 4, '\0');
    mAccessors.push_back("{\"bufferView\":" + std::to_string(mViews.size() - 1) +
                         ",\"componentType\":" + std::to_string(component) +
                         ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"}");
    return static_cast<int>(mAccessors.size()) - 1;
  }
  std::string mBin;
  std::vector<std::string> mViews, mAccessors;
};

}  // namespace velox_test
