// A glTF model to the engine's scene, meshes and materials (axes and units:
// gltfimport.h).
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "tools/gltfimport/curves.h"
#include "tools/gltfimport/gltfimport.h"
#include "tools/gltfimport/textures.h"

namespace gltfimport {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFramesPerSecond = 25;
// Radians to the unit of rotation curves, ten degrees.
constexpr double kCurveAngleUnit = 18 / kPi;
// Without animation a scene runs ten seconds.
constexpr int kStillSceneLength = 250;
// Scene lengths are frame counts of 32 bits. Bounding key times also keeps
// rotation segments halvable down to their shortest length.
constexpr double kLongestSeconds = 0x7FFFFFFF / kFramesPerSecond - 1;
// Deeper hierarchies are no scene but a way to exhaust the stack.
constexpr int kMaxNodeDepth = 1000;
// Accessors without a buffer view are zeros; more than this is no scene.
constexpr std::size_t kMaxZeroElements = 1u << 24;
// Blender writes light in photometric units at this many lumens a watt.
constexpr double kLumensPerWatt = 683;
// Lamps the lit effect takes (Light0..Light3).
constexpr std::size_t kMaxLamps = 4;
// Extensions the importer converts.
const char* const kExtensions[] = {"KHR_lights_punctual", "KHR_texture_transform",
                                   "KHR_materials_emissive_strength"};

// A material's maps, in the lit effect's names, and glTF's.
enum Map { kBaseColorMap, kMetallicRoughnessMap, kNormalMap, kOcclusionMap, kEmissiveMap };
const char* const kMapNames[] = {"BaseColor", "MetallicRoughness", "Normal", "Occlusion",
                                 "Emissive"};
const char* const kMapProperties[] = {"baseColorTexture", "metallicRoughnessTexture",
                                      "normalTexture", "occlusionTexture", "emissiveTexture"};
const char* const kSamplerMacros[] = {"SAMPLER_BASECOLOR", "SAMPLER_METALLICROUGHNESS",
                                      "SAMPLER_NORMAL", "SAMPLER_OCCLUSION", "SAMPLER_EMISSIVE"};
// Sampler states for glTF's defaults (repeat, linear filtering with mips),
// as the lit effect has them.
const char* const kDefaultSampler = "wwlll";

// One map of a material.
struct Slot {
  std::string file;            // the texture as the program finds it; empty: none
  Vec3 u{1, 0, 0}, v{0, 1, 0};  // texture transform: u' = u . (u, v, 1), v' likewise
  int set = 0;                 // texture coordinate set
  std::string sampler = kDefaultSampler;  // wrap u, wrap v, mag, min, mip filters
};

// A glTF material as the lit effect takes it.
struct MaterialValues {
  std::string origin = "no glTF material";
  Vec4 base{0.8, 0.8, 0.8, 1};
  double metallic = 0, roughness = 1, normalScale = 0, occlusion = 0;
  Vec3 emissive{0, 0, 0};
  bool blend = false, twoSided = false;
  double cutoff = -1;  // MASK's cutoff; -1: nothing is discarded
  std::array<Slot, 5> maps;
};

// A Lua string literal.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\\' || c == '\'') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 32) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out + "'";
}

// A name made of letters, digits, '-' and '_'.
std::string FileName(const std::string& name) {
  std::string out;
  for (char c : name)
    out += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
  return out;
}

[[noreturn]] void Fail(const std::string& message) { throw ImportError(message); }

std::string Named(const char* kind, std::size_t index, const std::string& name) {
  std::string s = std::string(kind) + " " + std::to_string(index);
  if (!name.empty()) s += " \"" + name + "\"";
  return s;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

int ComponentCount(int type) {
  switch (type) {
    case TINYGLTF_TYPE_SCALAR:
      return 1;
    case TINYGLTF_TYPE_VEC2:
      return 2;
    case TINYGLTF_TYPE_VEC3:
      return 3;
    case TINYGLTF_TYPE_VEC4:
      return 4;
    default:
      return 0;
  }
}

const char* TypeName(int type) {
  switch (type) {
    case TINYGLTF_TYPE_SCALAR:
      return "SCALAR";
    case TINYGLTF_TYPE_VEC2:
      return "VEC2";
    case TINYGLTF_TYPE_VEC3:
      return "VEC3";
    case TINYGLTF_TYPE_VEC4:
      return "VEC4";
    default:
      return "another type";
  }
}

std::size_t ComponentBytes(int componentType) {
  switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
      return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
      return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT:
      return 4;
    default:
      return 0;
  }
}

// Accessor data, every index and range checked against the buffers first.
class Accessors {
 public:
  explicit Accessors(const tinygltf::Model& model) : mModel(model) {}

  // count x components numbers: floats, or where `integers` allows it the
  // normalised integers glTF permits there.
  std::vector<double> Numbers(int index, int type, bool integers, const std::string& what) {
    const Located at = Locate(index, type, what);
    const auto& a = mModel.accessors[static_cast<std::size_t>(index)];
    const bool isFloat = a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT;
    const bool isNormalised =
        integers && a.normalized && a.componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    if (!isFloat && !isNormalised) {
      Fail(at.label + " must hold floats" + (integers ? " or normalised integers" : ""));
    }
    const std::size_t n = static_cast<std::size_t>(ComponentCount(type));
    std::vector<double> out(at.count * n, 0.0);
    if (at.data == nullptr) return out;
    for (std::size_t i = 0; i < at.count; ++i) {
      for (std::size_t c = 0; c < n; ++c) {
        const unsigned char* p = at.data + i * at.stride + c * at.componentBytes;
        double v = 0;
        switch (a.componentType) {
          case TINYGLTF_COMPONENT_TYPE_FLOAT: {
            float f;
            std::memcpy(&f, p, 4);
            v = f;
            break;
          }
          case TINYGLTF_COMPONENT_TYPE_BYTE:
            v = std::max(static_cast<signed char>(*p) / 127.0, -1.0);
            break;
          case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
            v = *p / 255.0;
            break;
          case TINYGLTF_COMPONENT_TYPE_SHORT: {
            std::int16_t s;
            std::memcpy(&s, p, 2);
            v = std::max(s / 32767.0, -1.0);
            break;
          }
          default: {
            std::uint16_t s;
            std::memcpy(&s, p, 2);
            v = s / 65535.0;
            break;
          }
        }
        if (!std::isfinite(v)) Fail(at.label + " holds a number that is not finite");
        out[i * n + c] = v;
      }
    }
    return out;
  }

  std::vector<std::uint32_t> Indices(int index, const std::string& what) {
    const Located at = Locate(index, TINYGLTF_TYPE_SCALAR, what);
    const int type = mModel.accessors[static_cast<std::size_t>(index)].componentType;
    if (type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
        type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT &&
        type != TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT) {
      Fail(at.label + " must hold unsigned integers");
    }
    std::vector<std::uint32_t> out(at.count, 0);
    if (at.data == nullptr) return out;
    for (std::size_t i = 0; i < at.count; ++i) {
      const unsigned char* p = at.data + i * at.stride;
      if (at.componentBytes == 1) {
        out[i] = *p;
      } else if (at.componentBytes == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        out[i] = v;
      } else {
        std::memcpy(&out[i], p, 4);
      }
    }
    return out;
  }

  static std::string Label(const tinygltf::Model& model, int index, const std::string& what) {
    const bool exists = index >= 0 && static_cast<std::size_t>(index) < model.accessors.size();
    return what + ": " +
           Named("accessor", static_cast<std::size_t>(index),
                 exists ? model.accessors[static_cast<std::size_t>(index)].name : "");
  }

 private:
  struct Located {
    std::string label;
    const unsigned char* data = nullptr;  // null: all zeros
    std::size_t count = 0, stride = 0, componentBytes = 0;
  };

  Located Locate(int index, int type, const std::string& what) {
    Located at;
    if (index < 0 || static_cast<std::size_t>(index) >= mModel.accessors.size()) {
      Fail(what + ": accessor " + std::to_string(index) + " does not exist");
    }
    const tinygltf::Accessor& a = mModel.accessors[static_cast<std::size_t>(index)];
    at.label = Label(mModel, index, what);
    if (a.sparse.isSparse) Fail(at.label + " is sparse, which the importer does not support");
    if (a.type != type) Fail(at.label + " holds " + TypeName(a.type) + ", not " + TypeName(type));
    at.componentBytes = ComponentBytes(a.componentType);
    if (at.componentBytes == 0) Fail(at.label + " has an unsupported component type");
    const std::size_t element = at.componentBytes * static_cast<std::size_t>(ComponentCount(type));
    at.count = a.count;
    at.stride = element;
    if (a.bufferView < 0) {
      if (a.count > kMaxZeroElements) Fail(at.label + " has too many elements");
      return at;
    }
    if (static_cast<std::size_t>(a.bufferView) >= mModel.bufferViews.size()) {
      Fail(at.label + " names buffer view " + std::to_string(a.bufferView) +
           ", which does not exist");
    }
    const tinygltf::BufferView& view = mModel.bufferViews[static_cast<std::size_t>(a.bufferView)];
    const std::string viewLabel = at.label + ", buffer view " + std::to_string(a.bufferView);
    if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= mModel.buffers.size()) {
      Fail(viewLabel + " names buffer " + std::to_string(view.buffer) + ", which does not exist");
    }
    const std::vector<unsigned char>& buffer =
        mModel.buffers[static_cast<std::size_t>(view.buffer)].data;
    if (view.byteOffset > buffer.size() || view.byteLength > buffer.size() - view.byteOffset) {
      Fail(viewLabel + " runs past the end of buffer " + std::to_string(view.buffer));
    }
    if (view.byteStride != 0) at.stride = view.byteStride;
    if (at.stride < element) Fail(viewLabel + " has a stride smaller than one element");
    if (a.count > 0) {
      if (a.byteOffset > view.byteLength || view.byteLength - a.byteOffset < element ||
          (a.count - 1) > (view.byteLength - a.byteOffset - element) / at.stride) {
        Fail(at.label + " runs past the end of buffer view " + std::to_string(a.bufferView));
      }
    }
    at.data = buffer.data() + view.byteOffset + a.byteOffset;
    return at;
  }

  const tinygltf::Model& mModel;
};

content::Vec3 ToVec3(const Vec3& v) {
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

// glTF's right-handed axes to the engine's: z mirrored.
Vec3 Mirror(double x, double y, double z) { return {x, y, -z}; }
Vec4 MirrorRotation(double x, double y, double z, double w) { return {-x, -y, z, w}; }

struct Placement {
  Vec3 translation{};
  Mat3 rotation{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
  Vec3 scale{1, 1, 1};
};

class Converter {
 public:
  Converter(const tinygltf::Model& model, const Options& options)
      : mModel(model), mOptions(options), mAccessors(model) {}

  Conversion Run() {
    CheckExtensions();
    const std::vector<int> roots = Roots();
    mReserved.insert("Terrain");  // the loader gives an object of that name no mesh
    for (int root : roots) AddNode(root, -1, 0);
    WriteMaterials();
    AddAnimations();
    for (const auto& [node, object] : mObjectOf) AddStaticScale(node, object);
    if (mOptions.length >= 0) {
      mResult.scene.length = mOptions.length;
    } else {
      mResult.scene.length =
          mEnd < 0 ? kStillSceneLength
                   : static_cast<std::int32_t>(std::ceil(mEnd * kFramesPerSecond - 1e-6));
    }
    return std::move(mResult);
  }

 private:
  void Warn(const std::string& text) { mResult.warnings.push_back(text); }

  std::string NodeName(int index) const {
    return Named("node", static_cast<std::size_t>(index),
                 mModel.nodes[static_cast<std::size_t>(index)].name);
  }

  void CheckExtensions() {
    auto known = [](const std::string& e) {
      return std::find(std::begin(kExtensions), std::end(kExtensions), e) != std::end(kExtensions);
    };
    for (const std::string& e : mModel.extensionsRequired) {
      if (!known(e))
        Fail("the file requires extension " + e + ", which the importer does not support");
    }
    for (const std::string& e : mModel.extensionsUsed) {
      if (!known(e)) Warn("extension " + e + " is ignored");
    }
  }

  // The scene's root nodes; every node's parent checked to be unique and
  // the hierarchy to be free of cycles.
  std::vector<int> Roots() {
    const std::size_t count = mModel.nodes.size();
    mParentOf.assign(count, -1);
    for (std::size_t i = 0; i < count; ++i) {
      for (int child : mModel.nodes[i].children) {
        if (child < 0 || static_cast<std::size_t>(child) >= count) {
          Fail(NodeName(static_cast<int>(i)) + ": child " + std::to_string(child) +
               " does not exist");
        }
        if (mParentOf[static_cast<std::size_t>(child)] != -1) {
          Fail(NodeName(child) + " has more than one parent");
        }
        mParentOf[static_cast<std::size_t>(child)] = static_cast<int>(i);
      }
    }
    // Up the parents from each node until a node already walked: a node met
    // twice on one walk lies on a cycle.
    std::vector<char> state(count, 0);  // 0 not walked, 1 on this walk, 2 done
    std::vector<int> walk;
    for (std::size_t i = 0; i < count; ++i) {
      walk.clear();
      int up = static_cast<int>(i);
      for (; up != -1 && state[static_cast<std::size_t>(up)] == 0;
           up = mParentOf[static_cast<std::size_t>(up)]) {
        state[static_cast<std::size_t>(up)] = 1;
        walk.push_back(up);
      }
      if (up != -1 && state[static_cast<std::size_t>(up)] == 1)
        Fail(NodeName(up) + " is its own ancestor");
      for (int n : walk) state[static_cast<std::size_t>(n)] = 2;
    }
    std::vector<int> roots;
    if (mModel.scenes.empty()) {
      if (mOptions.scene >= 0) Fail("the file has no scenes");
      for (std::size_t i = 0; i < count; ++i) {
        if (mParentOf[i] == -1) roots.push_back(static_cast<int>(i));
      }
      return roots;
    }
    int scene = mOptions.scene >= 0 ? mOptions.scene : std::max(mModel.defaultScene, 0);
    if (static_cast<std::size_t>(scene) >= mModel.scenes.size()) {
      Fail("scene " + std::to_string(scene) + " does not exist");
    }
    for (int root : mModel.scenes[static_cast<std::size_t>(scene)].nodes) {
      if (root < 0 || static_cast<std::size_t>(root) >= count) {
        Fail("scene " + std::to_string(scene) + ": node " + std::to_string(root) +
             " does not exist");
      }
      if (mParentOf[static_cast<std::size_t>(root)] != -1) {
        Fail("scene " + std::to_string(scene) + ": " + NodeName(root) + " is a child, not a root");
      }
      if (std::find(roots.begin(), roots.end(), root) != roots.end()) {
        Fail("scene " + std::to_string(scene) + ": " + NodeName(root) + " is listed twice");
      }
      roots.push_back(root);
    }
    return roots;
  }

  // name, or name.1, name.2 ... when it is taken.
  std::string UniqueName(const std::string& name) {
    std::string candidate = name;
    int& suffix = mSuffix[name];
    while (mReserved.count(candidate) != 0) candidate = name + "." + std::to_string(++suffix);
    mReserved.insert(candidate);
    return candidate;
  }

  Placement LocalPlacement(const tinygltf::Node& node, const std::string& label) {
    Placement p;
    auto finite = [&](const std::vector<double>& v, std::size_t size, const char* what) {
      if (!v.empty() && v.size() != size) Fail(label + " has a malformed " + what);
      for (double x : v) {
        if (!std::isfinite(x)) Fail(label + " has a malformed " + what);
      }
      return !v.empty();
    };
    if (finite(node.matrix, 16, "matrix")) {
      // Column-major; mirrored on both sides: C M C.
      double m[3][4];
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
          m[r][c] = node.matrix[static_cast<std::size_t>(c * 4 + r)] * (r == 2 ? -1 : 1) *
                    (c == 2 ? -1 : 1);
        }
      }
      p.translation = {m[0][3], m[1][3], m[2][3]};
      const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
      for (int c = 0; c < 3; ++c) {
        double length = std::sqrt(m[0][c] * m[0][c] + m[1][c] * m[1][c] + m[2][c] * m[2][c]);
        if (c == 0 && det < 0) length = -length;
        if (length == 0) Fail(label + " has a matrix that collapses an axis");
        p.scale[static_cast<std::size_t>(c)] = length;
        for (int r = 0; r < 3; ++r)
          p.rotation[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = m[r][c] / length;
      }
      double skew = 0;
      for (int a = 0; a < 3; ++a) {
        for (int b = a + 1; b < 3; ++b) {
          double dot = 0;
          for (int r = 0; r < 3; ++r)
            dot += p.rotation[static_cast<std::size_t>(r)][static_cast<std::size_t>(a)] *
                   p.rotation[static_cast<std::size_t>(r)][static_cast<std::size_t>(b)];
          skew = std::max(skew, std::abs(dot));
        }
      }
      if (skew > 1e-4)
        Warn(label + ": its matrix shears, which a placement cannot hold: approximated");
      return p;
    }
    if (finite(node.translation, 3, "translation")) {
      p.translation = Mirror(node.translation[0], node.translation[1], node.translation[2]);
    }
    if (finite(node.rotation, 4, "rotation")) {
      p.rotation = ToMatrix(
          MirrorRotation(node.rotation[0], node.rotation[1], node.rotation[2], node.rotation[3]));
    }
    if (finite(node.scale, 3, "scale")) p.scale = {node.scale[0], node.scale[1], node.scale[2]};
    return p;
  }

  int LightOf(const tinygltf::Node& node, const std::string& label) const {
    const auto found = node.extensions.find("KHR_lights_punctual");
    if (found == node.extensions.end()) return -1;
    const tinygltf::Value& light = found->second.Get("light");
    if (!light.IsNumber()) Fail(label + ": its KHR_lights_punctual entry names no light");
    const int index = light.GetNumberAsInt();
    if (index < 0 || static_cast<std::size_t>(index) >= mModel.lights.size()) {
      Fail(label + ": light " + std::to_string(index) + " does not exist");
    }
    return index;
  }

  // One object for the node (and one more per further attachment), then its
  // children: parents come before their children in the file, as the
  // loader's camera rule needs. The recursion keeps its frame small (deep
  // hierarchies); the node's own work is done in AddObjects.
  void AddNode(int index, int parentObject, int depth) {
    const int self = AddObjects(index, parentObject, depth);
    for (int child : mModel.nodes[static_cast<std::size_t>(index)].children)
      AddNode(child, self, depth + 1);
  }

  // The node's objects; returns the index of the first.
  int AddObjects(int index, int parentObject, int depth) {
    const tinygltf::Node& node = mModel.nodes[static_cast<std::size_t>(index)];
    const std::string label = NodeName(index);
    if (depth > kMaxNodeDepth)
      Fail(label + " lies deeper than " + std::to_string(kMaxNodeDepth) + " levels");
    if (node.skin >= 0) Fail(label + " is skinned, which the importer does not support");
    if (node.camera >= 0 && static_cast<std::size_t>(node.camera) >= mModel.cameras.size()) {
      Fail(label + ": camera " + std::to_string(node.camera) + " does not exist");
    }
    if (node.mesh >= 0 && static_cast<std::size_t>(node.mesh) >= mModel.meshes.size()) {
      Fail(label + ": mesh " + std::to_string(node.mesh) + " does not exist");
    }
    const int light = LightOf(node, label);
    const std::vector<std::string> meshFiles =
        node.mesh >= 0 ? MeshFilesFor(node.mesh) : std::vector<std::string>();

    // What the node carries; a mesh of several materials is one mesh file
    // each.
    std::vector<std::string> attachments, data;
    if (node.camera >= 0) attachments.push_back("Camera"), data.emplace_back();
    if (light >= 0) attachments.push_back("Lamp"), data.emplace_back();
    for (const std::string& file : meshFiles) attachments.push_back("Mesh"), data.push_back(file);
    if (attachments.empty()) attachments.push_back("Empty"), data.emplace_back();

    const Placement p = LocalPlacement(node, label);
    content::SceneObject object;
    object.type = attachments[0];
    object.name = UniqueName(node.name.empty() ? "node" + std::to_string(index) : node.name);
    if (object.name != node.name && !node.name.empty()) {
      Warn(label + " is named \"" + object.name +
           "\": object names must be unique and not Terrain");
    }
    object.data = data[0];
    const bool underCamera = parentObject >= 0 && Object(parentObject).type == "Camera";
    if (parentObject >= 0) object.parent = Object(parentObject).name;
    Vec3 location = p.translation;
    if (underCamera) location[2] = -location[2];  // the loader negates it back
    object.location = ToVec3(location);
    object.rotation = ToVec3(EulerAngles(p.rotation));
    const int self = static_cast<int>(mResult.scene.objects.size());
    mResult.scene.objects.push_back(std::move(object));
    mObjectOf[index] = self;
    mUnderCamera[index] = underCamera;
    mRestScale[index] = p.scale;
    const int parent = mParentOf[static_cast<std::size_t>(index)];
    mWorldRotation[index] = parent >= 0 && mWorldRotation.count(parent) != 0
                                ? Multiply(mWorldRotation[parent], p.rotation)
                                : p.rotation;

    for (std::size_t a = 1; a < attachments.size(); ++a) {
      content::SceneObject extra;
      extra.type = attachments[a];
      extra.name = UniqueName(Object(self).name + (extra.type == "Mesh" ? ".mesh" : ".lamp"));
      extra.data = data[a];
      extra.parent = Object(self).name;
      mResult.scene.objects.push_back(std::move(extra));
    }
    if (node.camera >= 0) NoteCamera(node.camera, Object(self).name);
    if (light >= 0) NoteLight(light, index, Object(self).name);
    return self;
  }

  content::SceneObject& Object(int index) {
    return mResult.scene.objects[static_cast<std::size_t>(index)];
  }

  // Scene files hold no projection: cameras.txt does, one line a camera.
  void NoteCamera(int index, const std::string& object) {
    const tinygltf::Camera& c = mModel.cameras[static_cast<std::size_t>(index)];
    std::string name;
    for (char ch : object) name += static_cast<unsigned char>(ch) <= 32 ? '_' : ch;
    if (c.type == "orthographic") {
      mResult.cameras += name + " orthographic " + Number(c.orthographic.xmag) + " " +
                         Number(c.orthographic.ymag) + " " + Number(c.orthographic.znear) + " " +
                         Number(c.orthographic.zfar) + "\n";
    } else {
      mResult.cameras += name + " perspective " + Number(c.perspective.yfov) + " " +
                         Number(std::max(c.perspective.aspectRatio, 0.0)) + " " +
                         Number(c.perspective.znear) + " " +
                         Number(std::max(c.perspective.zfar, 0.0)) + "\n";
    }
  }

  // The first directional light becomes the materials' sun, the first
  // point and spot lights their lamps, in the order the scene registers
  // them (Light0..Light3).
  void NoteLight(int index, int node, const std::string& object) {
    const tinygltf::Light& l = mModel.lights[static_cast<std::size_t>(index)];
    const std::string label = "lamp object " + object + " (" +
                              Named("light", static_cast<std::size_t>(index), l.name) + ", " +
                              l.type + ")";
    Vec3 colour{1, 1, 1};
    if (l.color.size() == 3) colour = {l.color[0], l.color[1], l.color[2]};
    const std::size_t slot = mLampColours.size();
    if (slot < kMaxLamps) mLampColours.push_back({0, 0, 0});
    if (l.type == "directional") {
      if (mHasSun) {
        Warn(label + ": only the first directional light lights the materials");
        return;
      }
      mHasSun = true;
      // It shines along its -z, which the mirror makes +z: a column of
      // its world rotation.
      const Mat3& r = mWorldRotation[node];
      mSunDirection = {-r[0][2], -r[1][2], -r[2][2]};
      // Lux to the effect's light: a white surface facing it shows E / pi.
      for (std::size_t i = 0; i < 3; ++i)
        mSunColour[i] = colour[i] * l.intensity / (kLumensPerWatt * kPi);
      return;
    }
    if (slot >= kMaxLamps) {
      Warn(label + ": only the first " + std::to_string(kMaxLamps) +
           " lights light the materials");
      return;
    }
    // Candela to the effect's intensity at one unit of distance, as
    // Blender lights it.
    for (std::size_t i = 0; i < 3; ++i)
      mLampColours[slot][i] = colour[i] * l.intensity / (kLumensPerWatt * kPi);
    mAnyLamp = true;
    if (l.type == "spot") Warn(label + ": lights all round; its cone is not kept");
    if (l.range > 0) Warn(label + ": its range is not kept");
  }

  static Mat3 Multiply(const Mat3& a, const Mat3& b) {
    Mat3 m{};
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t k = 0; k < 3; ++k) m[r][c] += a[r][k] * b[k][c];
      }
    }
    return m;
  }

  // The mesh's files, converting the mesh on first use: one file per
  // material its primitives use, in the order of first use.
  std::vector<std::string> MeshFilesFor(int index) {
    const auto found = mMeshFiles.find(index);
    if (found != mMeshFiles.end()) return found->second;
    const tinygltf::Mesh& mesh = mModel.meshes[static_cast<std::size_t>(index)];
    const std::string meshLabel = Named("mesh", static_cast<std::size_t>(index), mesh.name);
    std::string base = FileName(mesh.name);
    if (base.empty()) base = "mesh" + std::to_string(index);
    std::vector<int> materials;
    for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
      const int material = mesh.primitives[p].material;
      if (material >= 0 && static_cast<std::size_t>(material) >= mModel.materials.size()) {
        Fail(meshLabel + " primitive " + std::to_string(p) + ": material " +
             std::to_string(material) + " does not exist");
      }
      if (std::find(materials.begin(), materials.end(), material) == materials.end())
        materials.push_back(material);
    }
    std::vector<std::string> names;
    for (std::size_t k = 0; k < materials.size(); ++k) {
      const int material = materials[k];
      std::string partBase = base;
      if (k > 0) {
        const std::string m =
            material >= 0 ? FileName(mModel.materials[static_cast<std::size_t>(material)].name) : "";
        partBase += "_" + (m.empty() ? "material" + std::to_string(material) : m);
      }
      std::string name = partBase;
      int& suffix = mMeshSuffix[partBase];
      while (mMeshNames.count(name) != 0) name = partBase + "_" + std::to_string(++suffix + 1);
      MeshFile file;
      file.name = name;
      const MaterialValues& values = Material(material);
      ConvertMesh(index, material, values, &file.data);
      if (file.data.indices.empty()) continue;
      mMeshNames.insert(name);
      mParts.push_back({mResult.meshes.size(), material, mesh.name});
      mResult.meshes.push_back(std::move(file));
      names.push_back(name);
    }
    if (names.empty()) Warn(meshLabel + " has no triangles: left out");
    mMeshFiles[index] = names;
    return names;
  }

  // The primitives of one material of a mesh, appended to `out`.
  void ConvertMesh(int index, int material, const MaterialValues& values,
                   content::MeshData* out) {
    const tinygltf::Mesh& mesh = mModel.meshes[static_cast<std::size_t>(index)];
    const std::string meshLabel = Named("mesh", static_cast<std::size_t>(index), mesh.name);
    bool anyUvs = false, anyUvs1 = false, anyColours = false, allTangents = true;
    for (const auto& primitive : mesh.primitives) {
      if (primitive.material != material) continue;
      anyUvs |= primitive.attributes.count("TEXCOORD_0") != 0;
      anyUvs1 |= primitive.attributes.count("TEXCOORD_1") != 0;
      anyColours |= primitive.attributes.count("COLOR_0") != 0;
      allTangents &= primitive.attributes.count("TANGENT") != 0 &&
                     primitive.attributes.count("NORMAL") != 0;
    }
    const bool tangents = !values.maps[kNormalMap].file.empty();
    for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
      const tinygltf::Primitive& primitive = mesh.primitives[p];
      if (primitive.material != material) continue;
      const std::string label = meshLabel + " primitive " + std::to_string(p);
      if (!primitive.targets.empty())
        Fail(label + " has morph targets, which the importer does not support");
      if (primitive.mode < TINYGLTF_MODE_TRIANGLES || primitive.mode > TINYGLTF_MODE_TRIANGLE_FAN) {
        Fail(label + " draws " +
             (primitive.mode >= 0 && primitive.mode < 4 ? "points or lines" : "an unknown mode") +
             ": only triangles are supported");
      }
      int position = -1, normal = -1, uv = -1, uv1 = -1, colour = -1, tangent = -1;
      for (const auto& [name, accessor] : primitive.attributes) {
        if (name == "POSITION") {
          position = accessor;
        } else if (name == "NORMAL") {
          normal = accessor;
        } else if (name == "TEXCOORD_0") {
          uv = accessor;
        } else if (name == "TEXCOORD_1") {
          uv1 = accessor;
        } else if (name == "COLOR_0") {
          colour = accessor;
        } else if (name == "TANGENT") {
          tangent = accessor;
        } else if (name.rfind("JOINTS_", 0) == 0 || name.rfind("WEIGHTS_", 0) == 0) {
          Fail(label + " is skinned (" + name + "), which the importer does not support");
        } else {
          Warn(label + ": attribute " + name + " is not converted");
        }
      }
      if (position < 0) Fail(label + " has no POSITION");

      const std::vector<double> positions =
          mAccessors.Numbers(position, TINYGLTF_TYPE_VEC3, false, label + " POSITION");
      const std::size_t vertices = positions.size() / 3;
      std::vector<double> normals, uvs, uvs1, colours, fileTangents;
      if (normal >= 0)
        normals = mAccessors.Numbers(normal, TINYGLTF_TYPE_VEC3, false, label + " NORMAL");
      if (uv >= 0) uvs = mAccessors.Numbers(uv, TINYGLTF_TYPE_VEC2, true, label + " TEXCOORD_0");
      if (uv1 >= 0)
        uvs1 = mAccessors.Numbers(uv1, TINYGLTF_TYPE_VEC2, true, label + " TEXCOORD_1");
      std::size_t colourSize = 4;
      if (colour >= 0) {
        const bool rgb = static_cast<std::size_t>(colour) < mModel.accessors.size() &&
                         mModel.accessors[static_cast<std::size_t>(colour)].type ==
                             TINYGLTF_TYPE_VEC3;
        colourSize = rgb ? 3 : 4;
        colours = mAccessors.Numbers(colour, rgb ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC4, true,
                                     label + " COLOR_0");
      }
      if (tangents && allTangents)
        fileTangents = mAccessors.Numbers(tangent, TINYGLTF_TYPE_VEC4, false, label + " TANGENT");
      if ((normal >= 0 && normals.size() / 3 != vertices) ||
          (uv >= 0 && uvs.size() / 2 != vertices) || (uv1 >= 0 && uvs1.size() / 2 != vertices) ||
          (colour >= 0 && colours.size() / colourSize != vertices) ||
          (!fileTangents.empty() && fileTangents.size() / 4 != vertices)) {
        Fail(label + ": its attributes differ in count");
      }
      std::vector<std::uint32_t> order;
      if (primitive.indices >= 0) {
        order = mAccessors.Indices(primitive.indices, label + " indices");
        for (std::uint32_t i : order) {
          if (i >= vertices) {
            Fail(Accessors::Label(mModel, primitive.indices, label + " indices") + ": index " +
                 std::to_string(i) + " is out of range (" + std::to_string(vertices) +
                 " vertices)");
          }
        }
      } else {
        for (std::size_t i = 0; i < vertices; ++i) order.push_back(static_cast<std::uint32_t>(i));
      }
      const std::vector<std::uint32_t> triangles = Triangles(order, primitive.mode, label);

      // Without normals glTF shades flat: every corner its own vertex.
      const bool flat = normal < 0;
      const std::size_t base = out->positions.size();
      if (base + (flat ? triangles.size() : vertices) > 0x7FFFFFFFu)
        Fail(meshLabel + " is too large");
      auto pair = [](const std::vector<double>& v, std::size_t i) {
        return v.empty() ? content::Vec2{}
                         : content::Vec2{static_cast<float>(v[2 * i]), static_cast<float>(v[2 * i + 1])};
      };
      auto vertex = [&](std::uint32_t i) {
        out->positions.push_back(
            ToVec3(Mirror(positions[3 * i], positions[3 * i + 1], positions[3 * i + 2])));
        if (!flat)
          out->normals.push_back(
              ToVec3(Mirror(normals[3 * i], normals[3 * i + 1], normals[3 * i + 2])));
        if (anyUvs) out->uvs.push_back(pair(uvs, i));
        if (anyUvs1) out->uvs1.push_back(pair(uvs1, i));
        if (anyColours) {
          content::Vec4 c{1, 1, 1, 1};
          if (!colours.empty()) {
            const double* v = &colours[colourSize * i];
            c = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]),
                 colourSize == 4 ? static_cast<float>(v[3]) : 1.0f};
          }
          out->colours.push_back(c);
        }
        if (!fileTangents.empty()) {
          // Mirrored like normals; the mirror turns the binormal round.
          const double* t = &fileTangents[4 * i];
          out->tangents.push_back({static_cast<float>(t[0]), static_cast<float>(t[1]),
                                   static_cast<float>(-t[2]), t[3] < 0 ? 1.0f : -1.0f});
        }
      };
      if (flat) {
        for (std::uint32_t i : triangles) vertex(i);
        for (std::size_t t = 0; t < triangles.size(); t += 3) {
          const content::Vec3 a = out->positions[base + t], b = out->positions[base + t + 1],
                              c = out->positions[base + t + 2];
          // Engine axes and glTF's winding: (b - a) x (c - a) points away from the front.
          const double u[3] = {b.x - a.x, b.y - a.y, b.z - a.z},
                       v[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
          Vec3 n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                    u[0] * v[1] - u[1] * v[0]};
          const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
          for (double& x : n) x = length > 0 ? -x / length : 0;
          for (int k = 0; k < 3; ++k) out->normals.push_back(ToVec3(n));
        }
        for (std::size_t t = 0; t < triangles.size(); t += 3) {
          const auto first = static_cast<std::uint32_t>(base + t);
          out->indices.insert(out->indices.end(), {first, first + 2, first + 1});
        }
      } else {
        for (std::size_t i = 0; i < vertices; ++i) vertex(static_cast<std::uint32_t>(i));
        for (std::size_t t = 0; t < triangles.size(); t += 3) {
          const auto b = static_cast<std::uint32_t>(base);
          out->indices.insert(out->indices.end(),
                              {b + triangles[t], b + triangles[t + 2], b + triangles[t + 1]});
        }
      }
    }
    if (tangents && out->tangents.size() != out->positions.size()) {
      const Slot& map = values.maps[kNormalMap];
      const bool second = map.set == 1 && !out->uvs1.empty();
      if (second || !out->uvs.empty()) {
        ComputeTangents(second ? out->uvs1 : out->uvs, map, out);
      } else {
        Warn(meshLabel + ": its normal map has no texture coordinates here: left out");
      }
    }
  }

  // Tangents along the normal map's u (texture transform applied), at
  // right angles to the normals, with the sign that makes
  // cross(normal, tangent) * sign point along the map's v upwards (towards
  // smaller v, as glTF's pictures have it).
  static void ComputeTangents(const std::vector<content::Vec2>& uvs, const Slot& map,
                              content::MeshData* mesh) {
    const std::size_t n = mesh->positions.size();
    std::vector<Vec3> du(n, Vec3{}), dv(n, Vec3{});
    auto mapped = [&](std::uint32_t i) {
      const double u = uvs[i].x, v = uvs[i].y;
      return std::array<double, 2>{map.u[0] * u + map.u[1] * v + map.u[2],
                                   map.v[0] * u + map.v[1] * v + map.v[2]};
    };
    for (std::size_t t = 0; t + 2 < mesh->indices.size(); t += 3) {
      const std::uint32_t i[3] = {mesh->indices[t], mesh->indices[t + 1], mesh->indices[t + 2]};
      const content::Vec3 &p0 = mesh->positions[i[0]], &p1 = mesh->positions[i[1]],
                          &p2 = mesh->positions[i[2]];
      const Vec3 e1{p1.x - p0.x, p1.y - p0.y, p1.z - p0.z}, e2{p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
      const auto t0 = mapped(i[0]), t1 = mapped(i[1]), t2 = mapped(i[2]);
      const double u1 = t1[0] - t0[0], v1 = t1[1] - t0[1], u2 = t2[0] - t0[0], v2 = t2[1] - t0[1];
      const double det = u1 * v2 - u2 * v1;
      if (std::abs(det) < 1e-12) continue;
      for (std::size_t k = 0; k < 3; ++k) {
        const double tu = (e1[k] * v2 - e2[k] * v1) / det, tv = (e2[k] * u1 - e1[k] * u2) / det;
        for (std::uint32_t corner : i) du[corner][k] += tu, dv[corner][k] += tv;
      }
    }
    mesh->tangents.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      const content::Vec3& nv = mesh->normals[i];
      const Vec3 normal{nv.x, nv.y, nv.z};
      auto dot = [](const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
      Vec3 t = du[i];
      const double along = dot(normal, t);
      for (std::size_t k = 0; k < 3; ++k) t[k] -= normal[k] * along;
      double length = std::sqrt(dot(t, t));
      if (length < 1e-12) {  // no mapping here: any direction across the normal
        t = std::abs(normal[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
        const double a = dot(normal, t);
        for (std::size_t k = 0; k < 3; ++k) t[k] -= normal[k] * a;
        length = std::sqrt(dot(t, t));
      }
      for (double& x : t) x /= length;
      const Vec3 b{normal[1] * t[2] - normal[2] * t[1], normal[2] * t[0] - normal[0] * t[2],
                   normal[0] * t[1] - normal[1] * t[0]};
      mesh->tangents[i] = {static_cast<float>(t[0]), static_cast<float>(t[1]),
                           static_cast<float>(t[2]), dot(b, dv[i]) > 0 ? -1.0f : 1.0f};
    }
  }

  static std::vector<std::uint32_t> Triangles(const std::vector<std::uint32_t>& order, int mode,
                                              const std::string& label) {
    std::vector<std::uint32_t> out;
    if (mode == TINYGLTF_MODE_TRIANGLES) {
      if (order.size() % 3 != 0)
        Fail(label + ": " + std::to_string(order.size()) + " indices make no whole triangles");
      return order;
    }
    for (std::size_t i = 0; i + 2 < order.size(); ++i) {
      if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
        const std::size_t odd = i % 2;
        out.insert(out.end(), {order[i], order[i + 1 + odd], order[i + 2 - odd]});
      } else {
        out.insert(out.end(), {order[i + 1], order[i + 2], order[0]});
      }
    }
    return out;
  }


  // -- Materials ---------------------------------------------------------

  // A material's values, its maps converted on first use.
  const MaterialValues& Material(int index) {
    const auto found = mMaterials.find(index);
    if (found != mMaterials.end()) return found->second;
    MaterialValues values;
    if (index >= 0) {
      const tinygltf::Material& m = mModel.materials[static_cast<std::size_t>(index)];
      const std::string label = Named("material", static_cast<std::size_t>(index), m.name);
      values.origin = "glTF " + label;
      const auto& pbr = m.pbrMetallicRoughness;
      if (pbr.baseColorFactor.size() == 4)
        values.base = {pbr.baseColorFactor[0], pbr.baseColorFactor[1], pbr.baseColorFactor[2],
                       pbr.baseColorFactor[3]};
      values.metallic = pbr.metallicFactor;
      values.roughness = pbr.roughnessFactor;
      if (m.emissiveFactor.size() == 3) {
        double strength = 1;
        const auto x = m.extensions.find("KHR_materials_emissive_strength");
        if (x != m.extensions.end() && x->second.Get("emissiveStrength").IsNumber())
          strength = x->second.Get("emissiveStrength").GetNumberAsDouble();
        for (std::size_t i = 0; i < 3; ++i) values.emissive[i] = m.emissiveFactor[i] * strength;
      }
      values.twoSided = m.doubleSided;
      if (m.alphaMode == "BLEND") {
        values.blend = true;
      } else if (m.alphaMode == "MASK") {
        values.cutoff = m.alphaCutoff;
      } else if (m.alphaMode != "OPAQUE") {
        Warn(label + ": alpha mode " + m.alphaMode + " is not glTF's: drawn opaque");
      }
      const std::array<const tinygltf::TextureInfo*, 5> plain = {
          &pbr.baseColorTexture, &pbr.metallicRoughnessTexture, nullptr, nullptr,
          &m.emissiveTexture};
      for (int map = 0; map < 5; ++map) {
        int texture = -1, set = 0;
        const tinygltf::ExtensionMap* extensions = nullptr;
        if (map == kNormalMap) {
          texture = m.normalTexture.index, set = m.normalTexture.texCoord;
          extensions = &m.normalTexture.extensions;
        } else if (map == kOcclusionMap) {
          texture = m.occlusionTexture.index, set = m.occlusionTexture.texCoord;
          extensions = &m.occlusionTexture.extensions;
        } else {
          texture = plain[static_cast<std::size_t>(map)]->index;
          set = plain[static_cast<std::size_t>(map)]->texCoord;
          extensions = &plain[static_cast<std::size_t>(map)]->extensions;
        }
        const bool colour = map == kBaseColorMap || map == kEmissiveMap;
        if (!ReadMap(label, map, texture, set, *extensions, colour,
                     &values.maps[static_cast<std::size_t>(map)])) {
          continue;
        }
        if (map == kNormalMap) values.normalScale = m.normalTexture.scale;
        if (map == kOcclusionMap) values.occlusion = m.occlusionTexture.strength;
      }
    }
    return mMaterials[index] = values;
  }

  // One map of a material: false, with a warning, when its picture cannot
  // be used (the material keeps its factors).
  bool ReadMap(const std::string& material, int map, int index, int set,
               const tinygltf::ExtensionMap& extensions, bool colour, Slot* slot) {
    if (index < 0) return false;
    const std::string label = material + " " + kMapProperties[map];
    if (static_cast<std::size_t>(index) >= mModel.textures.size())
      Fail(label + ": texture " + std::to_string(index) + " does not exist");
    const tinygltf::Texture& texture = mModel.textures[static_cast<std::size_t>(index)];
    const std::string textureLabel =
        label + ": " + Named("texture", static_cast<std::size_t>(index), texture.name);
    if (texture.sampler >= 0 && static_cast<std::size_t>(texture.sampler) >= mModel.samplers.size())
      Fail(textureLabel + ": sampler " + std::to_string(texture.sampler) + " does not exist");
    if (texture.source >= 0 && static_cast<std::size_t>(texture.source) >= mModel.images.size())
      Fail(textureLabel + ": image " + std::to_string(texture.source) + " does not exist");

    const auto transform = extensions.find("KHR_texture_transform");
    if (transform != extensions.end()) {
      const tinygltf::Value& x = transform->second;
      auto number = [&](const tinygltf::Value& v, double otherwise) {
        return v.IsNumber() ? v.GetNumberAsDouble() : otherwise;
      };
      const tinygltf::Value &offset = x.Get("offset"), &scale = x.Get("scale");
      const double ox = offset.ArrayLen() == 2 ? number(offset.Get(0), 0) : 0;
      const double oy = offset.ArrayLen() == 2 ? number(offset.Get(1), 0) : 0;
      const double sx = scale.ArrayLen() == 2 ? number(scale.Get(0), 1) : 1;
      const double sy = scale.ArrayLen() == 2 ? number(scale.Get(1), 1) : 1;
      const double r = number(x.Get("rotation"), 0);
      slot->u = {sx * std::cos(r), sy * std::sin(r), ox};
      slot->v = {-sx * std::sin(r), sy * std::cos(r), oy};
      if (x.Get("texCoord").IsNumber()) set = x.Get("texCoord").GetNumberAsInt();
    }
    if (set > 1) {
      Warn(label + ": texture coordinates " + std::to_string(set) +
           " are not converted: it uses the first set");
      set = 0;
    }
    slot->set = set;
    if (texture.sampler >= 0) slot->sampler = SamplerCode(texture.sampler, textureLabel);

    if (texture.source < 0) {
      Warn(textureLabel + " has no PNG or JPEG picture: the material uses its factors");
      return false;
    }
    std::string why;
    const std::string file = TextureFor(texture.source, colour, &why);
    if (file.empty()) {
      const tinygltf::Image& image = mModel.images[static_cast<std::size_t>(texture.source)];
      Warn(label + ": " + Named("image", static_cast<std::size_t>(texture.source), image.name) +
           (image.uri.empty() || image.uri.rfind("data:", 0) == 0 ? "" : " (" + image.uri + ")") +
           ": " + why + ": the material uses its factors");
      return false;
    }
    slot->file = mOptions.sceneFolder + "/textures/" + file;
    return true;
  }

  // Wrap u, wrap v, magnification, minification and mip filter: w(rap),
  // c(lamp), m(irror); l(inear), p(oint), n(one).
  std::string SamplerCode(int index, const std::string& label) {
    const tinygltf::Sampler& s = mModel.samplers[static_cast<std::size_t>(index)];
    std::string code = kDefaultSampler;
    auto wrap = [&](int mode, const char* axis) {
      if (mode == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE) return 'c';
      if (mode == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT) return 'm';
      if (mode != TINYGLTF_TEXTURE_WRAP_REPEAT && mode != -1)
        Warn(label + ": wrap mode " + axis + " " + std::to_string(mode) + " is not glTF's: repeats");
      return 'w';
    };
    code[0] = wrap(s.wrapS, "S");
    code[1] = wrap(s.wrapT, "T");
    if (s.magFilter == TINYGLTF_TEXTURE_FILTER_NEAREST) code[2] = 'p';
    switch (s.minFilter) {
      case TINYGLTF_TEXTURE_FILTER_NEAREST: code[3] = 'p', code[4] = 'n'; break;
      case TINYGLTF_TEXTURE_FILTER_LINEAR: code[4] = 'n'; break;
      case TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST: code[3] = 'p', code[4] = 'p'; break;
      case TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST: code[4] = 'p'; break;
      case TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR: code[3] = 'p'; break;
      default: break;
    }
    return code;
  }

  // The texture file of an image, converted on first use; empty, with the
  // reason, when it cannot be.
  std::string TextureFor(int index, bool colour, std::string* why) {
    const auto key = std::make_pair(index, colour);
    const auto found = mTextures.find(key);
    if (found != mTextures.end()) {
      *why = found->second.second;
      return found->second.first;
    }
    const tinygltf::Image& image = mModel.images[static_cast<std::size_t>(index)];
    std::string encoded(image.image.begin(), image.image.end());
    std::string mime = image.mimeType;
    if (image.bufferView >= 0) {
      const std::string label = Named("image", static_cast<std::size_t>(index), image.name);
      if (static_cast<std::size_t>(image.bufferView) >= mModel.bufferViews.size()) {
        Fail(label + ": buffer view " + std::to_string(image.bufferView) + " does not exist");
      }
      const tinygltf::BufferView& view =
          mModel.bufferViews[static_cast<std::size_t>(image.bufferView)];
      if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= mModel.buffers.size()) {
        Fail(label + ", buffer view " + std::to_string(image.bufferView) + ": buffer " +
             std::to_string(view.buffer) + " does not exist");
      }
      const auto& buffer = mModel.buffers[static_cast<std::size_t>(view.buffer)].data;
      if (view.byteOffset <= buffer.size() && view.byteLength <= buffer.size() - view.byteOffset) {
        encoded.assign(buffer.begin() + static_cast<std::ptrdiff_t>(view.byteOffset),
                       buffer.begin() + static_cast<std::ptrdiff_t>(view.byteOffset + view.byteLength));
      }
    }
    std::string file, dds;
    if (image.uri.rfind("data:", 0) == 0 && encoded.empty()) {
      *why = "its data URI does not decode";
    } else {
      dds = TextureFile(encoded, mime, colour, why);
    }
    if (!dds.empty()) {
      std::string base = FileName(image.name);
      if (base.empty() && !image.uri.empty() && image.uri.rfind("data:", 0) != 0) {
        std::string stem = image.uri.substr(image.uri.find_last_of('/') + 1);
        stem = stem.substr(0, stem.find_last_of('.'));
        base = FileName(stem);
      }
      if (base.empty()) base = "image" + std::to_string(index);
      if (!colour) base += "_data";
      file = base + ".dds";
      for (int k = 2; mTextureNames.count(file) != 0; ++k)
        file = base + "_" + std::to_string(k) + ".dds";
      mTextureNames.insert(file);
      mResult.textures.push_back({file, dds});
    }
    mTextures[key] = {file, *why};
    return file;
  }

  // Every mesh file's material script, now that the lights are known.
  void WriteMaterials() {
    for (const Part& part : mParts) {
      MeshFile& mesh = mResult.meshes[part.mesh];
      mesh.material = MaterialScript(part.meshName, Material(part.material), mesh.data);
    }
    if (!mParts.empty()) mResult.textures.push_back({"white.dds", WhiteTextureFile()});
  }

  // The effect a material draws with: the lit effect, or a small one that
  // gives it other sampler states.
  std::string EffectFor(const MaterialValues& m) {
    std::string name = kLitEffectName, defines;
    bool plain = true;
    for (std::size_t map = 0; map < 5; ++map) plain &= m.maps[map].sampler == kDefaultSampler;
    if (plain) return name;
    for (std::size_t map = 0; map < 5; ++map) {
      const std::string& code = m.maps[map].sampler;
      name += "_" + code;
      if (code == kDefaultSampler) continue;
      auto address = [](char c) { return c == 'c' ? "Clamp" : c == 'm' ? "Mirror" : "Wrap"; };
      auto filter = [](char c) { return c == 'p' ? "Point" : c == 'n' ? "None" : "Linear"; };
      defines += std::string("#define ") + kSamplerMacros[map] + " AddressU = " +
                 address(code[0]) + "; AddressV = " + address(code[1]) + "; MagFilter = " +
                 filter(code[2]) + "; MinFilter = " + filter(code[3]) + "; MipFilter = " +
                 filter(code[4]) + ";\n";
    }
    if (mEffectNames.insert(name).second) {
      mResult.effects.push_back(
          {name + ".fx", "// Sampler states of glTF textures for " + std::string(kLitEffectName) +
                             ".fx, written by gltfimport.\n" + defines + "#include \"" +
                             kLitEffectName + ".fx\"\n"});
    }
    return name;
  }

  std::string MaterialScript(const std::string& meshName, const MaterialValues& m,
                             const content::MeshData& mesh) {
    auto list = [](std::initializer_list<double> values) {
      std::string text = "{ ";
      for (double v : values) text += (text.size() > 2 ? ", " : "") + Number(v);
      return text + " }";
    };
    auto param = [](const std::string& name, const char* type, const std::string& value) {
      return "  { '" + name + "', '" + type + "', " + value + " },\n";
    };
    std::string params;
    params += param("BaseColor", "float4", list({m.base[0], m.base[1], m.base[2], m.base[3]}));
    params += param("Emissive", "float3", list({m.emissive[0], m.emissive[1], m.emissive[2]}));
    params += param("Metallic", "float", Number(m.metallic));
    params += param("Roughness", "float", Number(m.roughness));
    params += param("NormalScale", "float", Number(m.normalScale));
    params += param("OcclusionStrength", "float", Number(m.occlusion));
    params += param("AlphaCutoff", "float", Number(m.cutoff));
    params += param("OpaqueAlpha", "float", m.blend ? "0" : "1");
    params += param("VertexColorWeight", "float", mesh.colours.empty() ? "0" : "1");
    const bool lit = mHasSun || mAnyLamp;
    const Vec3 sun = lit ? mSunColour : Vec3{1, 1, 1};
    const Vec3 sunDirection = mHasSun ? mSunDirection : Vec3{-0.35, 0.8, -0.5};
    params += param("SunDirection", "float3",
                    list({sunDirection[0], sunDirection[1], sunDirection[2]}));
    params += param("SunColor", "float3", list({sun[0], sun[1], sun[2]}));
    const double ambient = lit ? 0.05 : 0.2;
    params += param("AmbientColor", "float3", list({ambient, ambient, ambient}));
    params += param("LampCount", "float", std::to_string(mLampColours.size()));
    for (std::size_t i = 0; i < mLampColours.size(); ++i) {
      const Vec3& c = mLampColours[i];
      params += param("LampColor" + std::to_string(i), "float3", list({c[0], c[1], c[2]}));
    }
    for (std::size_t map = 0; map < 5; ++map) {
      const Slot& slot = m.maps[map];
      const std::string name = kMapNames[map];
      params += param(name + "Map", "tex",
                      Quoted(slot.file.empty() ? mOptions.sceneFolder + "/textures/white.dds"
                                               : slot.file));
      if (slot.file.empty() || (slot.set == 0 && slot.u == Vec3{1, 0, 0} && slot.v == Vec3{0, 1, 0}))
        continue;
      params += param(name + "UvU", "float4", list({slot.u[0], slot.u[1], slot.u[2], 0}));
      params += param(name + "UvV", "float4",
                      list({slot.v[0], slot.v[1], slot.v[2], static_cast<double>(slot.set)}));
    }
    const std::string effect = EffectFor(m);
    const std::string technique = std::string(m.blend ? "Blend" : "Lit") + (m.twoSided ? "TwoSided" : "");
    const std::string streams =
        std::string("{ 'pos', 'normal'") + (mesh.uvs.empty() ? "" : ", 'tex'") + " }";
    // Blended meshes come after the opaque ones.
    const std::string priority = m.blend ? "1" : "0";
    auto candidate = [&](int rank, const std::string& tec) {
      return "  { priority = " + std::to_string(rank) + ", pass = { { priority = " + priority +
             ", fx = " + Quoted(effect) + ", tec = '" + tec +
             "', params = params, streams = streams } } },\n";
    };
    std::string name;
    for (char c : meshName) name += static_cast<unsigned char>(c) < 32 ? ' ' : c;
    std::string origin;
    for (char c : m.origin) origin += static_cast<unsigned char>(c) < 32 ? ' ' : c;
    return "-- Material of mesh \"" + name + "\" (" + origin +
           "), written by gltfimport. It draws with data/fx/" + effect +
           ".fx: pixel shader 3.0, else a simpler 2.0 candidate. Edit freely.\n"
           "local params = {\n" +
           params + "}\nlocal streams = " + streams + "\neffect = {\n" + candidate(2, technique) +
           candidate(1, technique + "20") + "}\n";
  }

  // -- Animation --------------------------------------------------------

  std::vector<std::size_t> SelectedAnimations() {
    std::vector<std::size_t> chosen;
    for (std::size_t a = 0; a < mModel.animations.size(); ++a) {
      if (mOptions.animation.empty() || mOptions.animation == mModel.animations[a].name ||
          mOptions.animation == std::to_string(a)) {
        chosen.push_back(a);
      }
    }
    if (!mOptions.animation.empty() && chosen.empty())
      Fail("no animation \"" + mOptions.animation + "\" in the file");
    return chosen;
  }

  Sampler ReadSampler(const tinygltf::AnimationSampler& s, const std::string& path,
                      const std::string& label) {
    const bool rotation = path == "rotation";
    Sampler out;
    if (s.interpolation == "LINEAR") {
      out.interpolation = Interpolation::Linear;
    } else if (s.interpolation == "STEP") {
      out.interpolation = Interpolation::Step;
    } else if (s.interpolation == "CUBICSPLINE") {
      out.interpolation = Interpolation::Cubic;
    } else {
      Fail(label + ": interpolation " + s.interpolation + " is not one of glTF's");
    }
    out.times = mAccessors.Numbers(s.input, TINYGLTF_TYPE_SCALAR, false, label + " input");
    if (out.times.empty()) Fail(label + ": the sampler has no keys");
    for (std::size_t k = 0; k < out.times.size(); ++k) {
      if (out.times[k] < 0 || (k > 0 && out.times[k] <= out.times[k - 1])) {
        Fail(Accessors::Label(mModel, s.input, label + " input") +
             ": key times must be at least 0 and increase");
      }
    }
    if (out.times.back() > kLongestSeconds) {
      Fail(Accessors::Label(mModel, s.input, label + " input") + ": key times run past " +
           Number(kLongestSeconds) + " seconds");
    }
    const int type = rotation ? TINYGLTF_TYPE_VEC4 : TINYGLTF_TYPE_VEC3;
    const std::size_t n = rotation ? 4 : 3;
    const std::vector<double> values =
        mAccessors.Numbers(s.output, type, rotation, label + " output");
    const std::size_t perKey = out.interpolation == Interpolation::Cubic ? 3 : 1;
    if (values.size() != out.times.size() * perKey * n) {
      Fail(Accessors::Label(mModel, s.output, label + " output") + ": " +
           std::to_string(values.size() / n) + " values for " + std::to_string(out.times.size()) +
           " keys");
    }
    auto element = [&](std::size_t e) {
      const double* v = &values[e * n];
      if (rotation) return MirrorRotation(v[0], v[1], v[2], v[3]);
      return path == "translation" ? Vec4{v[0], v[1], -v[2], 0} : Vec4{v[0], v[1], v[2], 0};
    };
    for (std::size_t k = 0; k < out.times.size(); ++k) {
      if (perKey == 3) {
        out.in.push_back(element(3 * k));
        out.values.push_back(element(3 * k + 1));
        out.out.push_back(element(3 * k + 2));
      } else {
        out.values.push_back(element(k));
      }
    }
    mEnd = std::max(mEnd, out.times.back());
    return out;
  }

  void AddAnimations() {
    std::map<std::pair<int, std::string>, std::string> done;
    for (std::size_t a : SelectedAnimations()) {
      const tinygltf::Animation& animation = mModel.animations[a];
      for (std::size_t c = 0; c < animation.channels.size(); ++c) {
        const tinygltf::AnimationChannel& channel = animation.channels[c];
        const std::string label =
            Named("animation", a, animation.name) + " channel " + std::to_string(c);
        if (channel.sampler < 0 ||
            static_cast<std::size_t>(channel.sampler) >= animation.samplers.size()) {
          Fail(label + ": sampler " + std::to_string(channel.sampler) + " does not exist");
        }
        if (channel.target_node < 0 ||
            static_cast<std::size_t>(channel.target_node) >= mModel.nodes.size()) {
          Fail(label + ": target node " + std::to_string(channel.target_node) + " does not exist");
        }
        const std::string& path = channel.target_path;
        if (path != "translation" && path != "rotation" && path != "scale") {
          Warn(label + ": animating " + path + " is not supported, skipped");
          continue;
        }
        const Sampler sampler =
            ReadSampler(animation.samplers[static_cast<std::size_t>(channel.sampler)], path, label);
        const auto object = mObjectOf.find(channel.target_node);
        if (object == mObjectOf.end()) {
          Warn(label + ": " + NodeName(channel.target_node) + " is not in the scene, skipped");
          continue;
        }
        const auto key = std::make_pair(channel.target_node, path);
        if (done.count(key) != 0) {
          Warn(label + ": " + NodeName(channel.target_node) + "'s " + path +
               " is already animated by " + done[key] + ", skipped");
          continue;
        }
        done[key] = label;
        std::vector<content::AnimCurve>& curves = Object(object->second).curves;
        if (path == "translation") {
          const bool flip = mUnderCamera[channel.target_node];
          AddCurves(VectorCurve(sampler), {"LocX", "LocY", "LocZ"}, {1, 1, flip ? -1.0 : 1.0},
                    &curves);
        } else if (path == "rotation") {
          AddCurves(RotationCurve(sampler), {"RotX", "RotY", "RotZ"},
                    {kCurveAngleUnit, kCurveAngleUnit, kCurveAngleUnit}, &curves);
        } else {
          AddCurves(VectorCurve(sampler), {"ScaleX", "ScaleY", "ScaleZ"}, {1, 1, 1}, &curves);
          mScaleAnimated.insert(channel.target_node);
        }
      }
    }
  }

  // Scene files keep scale only in curves: a constant curve per axis.
  void AddStaticScale(int node, int object) {
    const Vec3 s = mRestScale[node];
    if (mScaleAnimated.count(node) != 0 || (s[0] == 1 && s[1] == 1 && s[2] == 1)) return;
    Curve3 still;
    still.interpolation = Interpolation::Step;
    still.keys.resize(2);
    still.keys[0].value = still.keys[1].value = s;
    still.keys[1].time = 1 / kFramesPerSecond;
    AddCurves(still, {"ScaleX", "ScaleY", "ScaleZ"}, {1, 1, 1}, &Object(object).curves);
  }

  static void AddCurves(const Curve3& curve, const std::array<const char*, 3>& channels,
                        const Vec3& factor, std::vector<content::AnimCurve>* out) {
    std::vector<CurveKey3> keys = curve.keys;
    Interpolation interpolation = curve.interpolation;
    if (keys.size() == 1) {  // tracks need two keys
      keys.push_back(keys[0]);
      keys[1].time += 1 / kFramesPerSecond;
      interpolation = Interpolation::Step;
    }
    const char* name = interpolation == Interpolation::Step     ? "Constant"
                       : interpolation == Interpolation::Linear ? "Linear"
                                                                : "Bezier";
    for (std::size_t axis = 0; axis < 3; ++axis) {
      content::AnimCurve c;
      c.channel = channels[axis];
      c.interpolation = name;
      c.extrapolation = "Constant";
      for (std::size_t k = 0; k < keys.size(); ++k) {
        const CurveKey3& key = keys[k];
        const double next =
            k + 1 < keys.size() ? keys[k + 1].time - key.time : key.time - keys[k - 1].time;
        const double previous = k > 0 ? key.time - keys[k - 1].time : next;
        const double v = factor[axis] * key.value[axis];
        content::CurveKey out;
        out.time = static_cast<float>(key.time * kFramesPerSecond);
        out.value = static_cast<float>(v);
        out.leftTime = static_cast<float>((key.time - previous / 3) * kFramesPerSecond);
        out.leftValue = static_cast<float>(v - factor[axis] * key.in[axis] * previous / 3);
        out.rightTime = static_cast<float>((key.time + next / 3) * kFramesPerSecond);
        out.rightValue = static_cast<float>(v + factor[axis] * key.out[axis] * next / 3);
        c.keys.push_back(out);
      }
      out->push_back(std::move(c));
    }
  }

  const tinygltf::Model& mModel;
  const Options& mOptions;
  Accessors mAccessors;
  Conversion mResult;
  std::vector<int> mParentOf;
  std::set<std::string> mReserved;
  std::map<std::string, int> mSuffix;  // the last suffix tried per name
  std::map<std::string, int> mMeshSuffix;
  std::set<std::string> mMeshNames;
  std::map<int, std::vector<std::string>> mMeshFiles;  // glTF mesh -> its files
  // A mesh file: its place in the result, its glTF material and mesh name.
  struct Part {
    std::size_t mesh;
    int material;
    std::string meshName;
  };
  std::vector<Part> mParts;
  std::map<int, MaterialValues> mMaterials;
  std::map<std::pair<int, bool>, std::pair<std::string, std::string>> mTextures;  // file, why not
  std::set<std::string> mTextureNames{"white.dds"};
  std::set<std::string> mEffectNames;
  std::map<int, Mat3> mWorldRotation;  // node -> its rest rotation in the world
  std::vector<Vec3> mLampColours;      // per registered light, up to kMaxLamps
  bool mHasSun = false, mAnyLamp = false;
  Vec3 mSunDirection{0, 1, 0}, mSunColour{0, 0, 0};
  std::map<int, int> mObjectOf;  // node -> its object
  std::map<int, bool> mUnderCamera;
  std::map<int, Vec3> mRestScale;
  std::set<int> mScaleAnimated;
  double mEnd = -1;  // the last key time of the converted animation, seconds
};

}  // namespace

Conversion Convert(const tinygltf::Model& model, const Options& options) {
  return Converter(model, options).Run();
}

}  // namespace gltfimport
