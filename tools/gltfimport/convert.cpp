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
    for (const std::string& e : mModel.extensionsRequired) {
      if (e != "KHR_lights_punctual") {
        Fail("the file requires extension " + e + ", which the importer does not support");
      }
    }
    for (const std::string& e : mModel.extensionsUsed) {
      if (e != "KHR_lights_punctual") Warn("extension " + e + " is ignored");
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
  // loader's camera rule needs.
  void AddNode(int index, int parentObject, int depth) {
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
    std::string meshFile = node.mesh >= 0 ? MeshFileFor(node.mesh) : "";

    std::vector<std::string> attachments;
    if (node.camera >= 0) attachments.push_back("Camera");
    if (light >= 0) attachments.push_back("Lamp");
    if (!meshFile.empty()) attachments.push_back("Mesh");
    if (attachments.empty()) attachments.push_back("Empty");

    const Placement p = LocalPlacement(node, label);
    content::SceneObject object;
    object.type = attachments[0];
    object.name = UniqueName(node.name.empty() ? "node" + std::to_string(index) : node.name);
    if (object.name != node.name && !node.name.empty()) {
      Warn(label + " is named \"" + object.name +
           "\": object names must be unique and not Terrain");
    }
    object.data = object.type == "Mesh" ? meshFile : "";
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

    for (std::size_t a = 1; a < attachments.size(); ++a) {
      content::SceneObject extra;
      extra.type = attachments[a];
      extra.name = UniqueName(Object(self).name + (extra.type == "Mesh" ? ".mesh" : ".lamp"));
      extra.data = extra.type == "Mesh" ? meshFile : "";
      extra.parent = Object(self).name;
      mResult.scene.objects.push_back(std::move(extra));
    }
    if (node.camera >= 0) NoteCamera(node.camera, Object(self).name);
    if (light >= 0) NoteLight(light, Object(self).name);
    for (int child : node.children) AddNode(child, self, depth + 1);
  }

  content::SceneObject& Object(int index) {
    return mResult.scene.objects[static_cast<std::size_t>(index)];
  }

  void NoteCamera(int index, const std::string& object) {
    const tinygltf::Camera& c = mModel.cameras[static_cast<std::size_t>(index)];
    const bool ortho = c.type == "orthographic";
    std::string text = "camera object " + object +
                       ": scene files hold no projection, set it with SetProjectionMatrix (";
    if (ortho) {
      text += "orthographic, " + Number(2 * c.orthographic.xmag) + " x " +
              Number(2 * c.orthographic.ymag);
    } else {
      text += "vertical field of view " + Number(c.perspective.yfov) + " rad";
      if (c.perspective.aspectRatio > 0)
        text += ", aspect ratio " + Number(c.perspective.aspectRatio);
    }
    text += ", near " + Number(ortho ? c.orthographic.znear : c.perspective.znear);
    const double far = ortho ? c.orthographic.zfar : c.perspective.zfar;
    text += far > 0 ? ", far " + Number(far) + ")" : ", no far plane)";
    Warn(text);
  }

  void NoteLight(int index, const std::string& object) {
    const tinygltf::Light& l = mModel.lights[static_cast<std::size_t>(index)];
    Warn("lamp object " + object + " (" + Named("light", static_cast<std::size_t>(index), l.name) +
         ", " + l.type +
         "): only its position is kept; colour, intensity, range and direction are not");
  }

  // The mesh's file name, converting the mesh on first use.
  std::string MeshFileFor(int index) {
    const auto found = mMeshFile.find(index);
    if (found != mMeshFile.end()) return found->second;
    const tinygltf::Mesh& mesh = mModel.meshes[static_cast<std::size_t>(index)];
    std::string base;
    for (char c : mesh.name)
      base += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_';
    if (base.empty()) base = "mesh" + std::to_string(index);
    std::string name = base;
    int& suffix = mMeshSuffix[base];
    while (mMeshNames.count(name) != 0) name = base + "_" + std::to_string(++suffix + 1);
    MeshFile file;
    file.name = name;
    int material = -1;
    ConvertMesh(index, &file.data, &material);
    if (file.data.indices.empty()) {
      Warn(Named("mesh", static_cast<std::size_t>(index), mesh.name) +
           " has no triangles: left out");
      mMeshFile[index] = "";
      return "";
    }
    mMeshNames.insert(name);
    file.material = MaterialScript(mesh.name, material, !file.data.uvs.empty());
    mResult.meshes.push_back(std::move(file));
    mMeshFile[index] = name;
    return name;
  }

  void ConvertMesh(int index, content::MeshData* out, int* material) {
    const tinygltf::Mesh& mesh = mModel.meshes[static_cast<std::size_t>(index)];
    const std::string meshLabel = Named("mesh", static_cast<std::size_t>(index), mesh.name);
    std::set<int> materials;
    bool anyUvs = false;
    for (const auto& primitive : mesh.primitives)
      anyUvs |= primitive.attributes.count("TEXCOORD_0") != 0;
    for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
      const tinygltf::Primitive& primitive = mesh.primitives[p];
      const std::string label = meshLabel + " primitive " + std::to_string(p);
      if (!primitive.targets.empty())
        Fail(label + " has morph targets, which the importer does not support");
      if (primitive.mode < TINYGLTF_MODE_TRIANGLES || primitive.mode > TINYGLTF_MODE_TRIANGLE_FAN) {
        Fail(label + " draws " +
             (primitive.mode >= 0 && primitive.mode < 4 ? "points or lines" : "an unknown mode") +
             ": only triangles are supported");
      }
      int position = -1, normal = -1, uv = -1;
      for (const auto& [name, accessor] : primitive.attributes) {
        if (name == "POSITION") {
          position = accessor;
        } else if (name == "NORMAL") {
          normal = accessor;
        } else if (name == "TEXCOORD_0") {
          uv = accessor;
        } else if (name.rfind("TEXCOORD_", 0) == 0) {
          Fail(label + " has a second set of texture coordinates (" + name +
               "), which the importer does not support");
        } else if (name.rfind("JOINTS_", 0) == 0 || name.rfind("WEIGHTS_", 0) == 0) {
          Fail(label + " is skinned (" + name + "), which the importer does not support");
        } else {
          Warn(label + ": attribute " + name + " is not converted");
        }
      }
      if (position < 0) Fail(label + " has no POSITION");
      if (primitive.material >= 0 &&
          static_cast<std::size_t>(primitive.material) >= mModel.materials.size()) {
        Fail(label + ": material " + std::to_string(primitive.material) + " does not exist");
      }
      materials.insert(primitive.material);
      if (p == 0) *material = primitive.material;

      const std::vector<double> positions =
          mAccessors.Numbers(position, TINYGLTF_TYPE_VEC3, false, label + " POSITION");
      const std::size_t vertices = positions.size() / 3;
      std::vector<double> normals, uvs;
      if (normal >= 0)
        normals = mAccessors.Numbers(normal, TINYGLTF_TYPE_VEC3, false, label + " NORMAL");
      if (uv >= 0) uvs = mAccessors.Numbers(uv, TINYGLTF_TYPE_VEC2, true, label + " TEXCOORD_0");
      if ((normal >= 0 && normals.size() / 3 != vertices) ||
          (uv >= 0 && uvs.size() / 2 != vertices)) {
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
      auto vertex = [&](std::uint32_t i) {
        out->positions.push_back(
            ToVec3(Mirror(positions[3 * i], positions[3 * i + 1], positions[3 * i + 2])));
        if (!flat)
          out->normals.push_back(
              ToVec3(Mirror(normals[3 * i], normals[3 * i + 1], normals[3 * i + 2])));
        if (anyUvs) {
          out->uvs.push_back(uv >= 0 ? content::Vec2{static_cast<float>(uvs[2 * i]),
                                                     static_cast<float>(uvs[2 * i + 1])}
                                     : content::Vec2{});
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
    if (materials.size() > 1) {
      Warn(meshLabel +
           ": its primitives use different materials; the starting material follows the first");
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

  std::string MaterialScript(const std::string& meshName, int index, bool hasUvs) {
    auto clean = [](std::string s) {
      for (char& c : s) c = (static_cast<unsigned char>(c) < 32) ? ' ' : c;
      return s;
    };
    std::vector<double> colour = {0.8, 0.8, 0.8, 1.0};
    bool twoSided = false;
    std::string origin = "no glTF material";
    if (index >= 0) {
      const tinygltf::Material& m = mModel.materials[static_cast<std::size_t>(index)];
      if (m.pbrMetallicRoughness.baseColorFactor.size() == 4)
        colour = m.pbrMetallicRoughness.baseColorFactor;
      twoSided = m.doubleSided;
      origin = "glTF material \"" + clean(m.name) + "\"";
      if (mWarnedMaterials.insert(index).second) {
        const bool textured = m.pbrMetallicRoughness.baseColorTexture.index >= 0 ||
                              m.pbrMetallicRoughness.metallicRoughnessTexture.index >= 0 ||
                              m.normalTexture.index >= 0 || m.occlusionTexture.index >= 0 ||
                              m.emissiveTexture.index >= 0;
        if (textured)
          Warn(Named("material", static_cast<std::size_t>(index), m.name) +
               ": textures are not converted");
        if (m.alphaMode != "OPAQUE") {
          Warn(Named("material", static_cast<std::size_t>(index), m.name) + ": alpha mode " +
               m.alphaMode + " is not converted");
        }
      }
    }
    std::string colourText;
    for (std::size_t i = 0; i < 4; ++i) colourText += (i > 0 ? ", " : "") + Number(colour[i]);
    return "-- Starting material of mesh \"" + clean(meshName) + "\" (" + origin +
           "), written by gltfimport.\n"
           "-- It draws with the lit effect data/fx/" +
           kLitEffectName +
           ".fx; edit freely.\n"
           "effect = {\n"
           "  { priority = 0, pass = {\n"
           "    { fx = '" +
           kLitEffectName + "', tec = '" + (twoSided ? "LitTwoSided" : "Lit") +
           "', params = {\n"
           "        { 'BaseColor', 'float4', { " +
           colourText +
           " } },\n"
           "      }, streams = { 'pos', 'normal'" +
           (hasUvs ? ", 'tex'" : "") +
           " } },\n"
           "  } },\n"
           "}\n";
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
  std::map<int, std::string> mMeshFile;
  std::set<int> mWarnedMaterials;
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
