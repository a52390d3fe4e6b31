#include "engine/demoFile.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "engine/Shader.h"
#include "engine/animation.h"
#include "engine/animationController.h"
#include "engine/binaryReader.h"
#include "engine/effectPool.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "platform/d3dmath.h"

namespace engine::gfx {
namespace {

constexpr float kToTenthsOfDegrees = 5.729578f;  // 180 / pi / 10
constexpr std::size_t kKeyBytes = 24;
// The smallest object record: four empty strings, six floats, a count.
constexpr std::uint64_t kMinObjectBytes = 4 * 4 + 6 * 4 + 4;
// The smallest curve record: three empty strings and a count.
constexpr std::uint64_t kMinCurveBytes = 3 * 4 + 4;

// Reads the file's fields; any short read is the one error of a broken file.
class Fields {
 public:
  Fields(const void* data, std::size_t size) : mReader(data, size) {}
  std::int32_t Int() {
    std::int32_t v = 0;
    if (!mReader.ReadInt32(v)) Broken();
    return v;
  }
  float Float() {
    float f = 0;
    if (!mReader.Read(&f, 4)) Broken();
    return f;
  }
  std::string String() {
    const std::int32_t length = Int();
    if (length < 0 || static_cast<std::uint64_t>(length) > mReader.Remaining()) Broken();
    std::string s(static_cast<std::size_t>(length), '\0');
    if (length > 0 && !mReader.Read(&s[0], static_cast<std::uint64_t>(length))) Broken();
    return s;
  }
  // A count of records of at least `bytes` each, checked against the rest.
  std::int32_t Count(std::uint64_t bytes) {
    const std::int32_t n = Int();
    if (n > 0 && static_cast<std::uint64_t>(n) > mReader.Remaining() / bytes) Broken();
    return n;
  }
  [[noreturn]] static void Broken() { ENGINE_ERROR("Demo file is truncated or corrupt"); }

 private:
  io::BinaryReader mReader;
};

math::Matrix3x3 AxisRotation(const math::Vector3f& axis, float tenths) {
  platform::Matrix r;
  const platform::Vector3 a{axis.x, axis.y, axis.z};
  platform::MatrixRotationAxis(&r, &a, tenths * 31.415928f * 0.0055555557f);
  return math::Matrix3x3(r.m[0][0], r.m[0][1], r.m[0][2], r.m[1][0], r.m[1][1], r.m[1][2],
                         r.m[2][0], r.m[2][1], r.m[2][2]);
}

AnimationTrack* RestTrack(float value) {
  auto* track = new ConstantAnimationTrack;
  track->SetExtrapolation(AnimationTrack::Constant);
  track->AddKey(0, value);
  track->AddKey(100, value);
  return track;
}

const math::Vector3f kAxes[3] = {math::Vector3f(1, 0, 0), math::Vector3f(0, 1, 0),
                                 math::Vector3f(0, 0, 1)};

// The pipe a transform channel becomes; null for a named channel. dLoc
// curves are read and dropped: *drop is set.
AnimationPipe* PipeFor(const std::string& channel, AnimationTrack* track, bool* drop) {
  *drop = false;
  if (channel == "Time") return new TimePipe(0, track);
  static const char* kAxis = "XYZ";
  for (int i = 0; i < 3; ++i) {
    const std::string a(1, kAxis[i]);
    if (channel == "Loc" + a) return new LocPipe(1 + i, track, kAxes[i]);
    if (channel == "Scale" + a) return new ScalePipe(11 + i, track, kAxes[i]);
    if (channel == "dRot" + a) return new RotPipe(17 + 2 * i, track, kAxes[i]);
    if (channel == "Rot" + a) return new RotPipe(18 + 2 * i, track, kAxes[i]);
    if (channel == "dLoc" + a) *drop = true;
  }
  return nullptr;
}

}  // namespace

// A new loader, loaded by `load`; an error frees it and passes on.
template <class F>
DemoLoader* DemoLoader::Create(F load) {
  auto* loader = new DemoLoader;
  try {
    load(*loader);
  } catch (...) {
    delete loader;
    throw;
  }
  return loader;
}

DemoLoader* DemoLoader::CreateInstance(const std::wstring& path) {
  return Create([&](DemoLoader& l) { l.Load(path); });
}

DemoLoader* DemoLoader::CreateInstance(const void* data, std::size_t size,
                                       const std::wstring& path) {
  return Create([&](DemoLoader& l) { l.Load(data, size, path); });
}

void DemoLoader::DestroyInstance() {
  mNodes.clear();
  mBaseNode.reset();
  delete this;
}

boost::shared_ptr<Node> DemoLoader::GetNode(const std::string& name) {
  auto found = mNodes.find(name);
  if (found == mNodes.end() || !found->second) {
    ENGINE_WARNING("No such node " + name + " was found");
    return nullptr;
  }
  return found->second;
}

void DemoLoader::Load(const std::wstring& path) {
  std::ifstream in(ToNarrow(path), std::ios::binary);
  mNodes.clear();
  if (!in) ENGINE_ERROR("No such demo file found");
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Load(bytes.data(), bytes.size(), path);
}

void DemoLoader::Load(const void* data, std::size_t size, const std::wstring& path) {
  mNodes.clear();
  Fields f(data, size);
  char magic[4] = {};
  if (size < 4 || (std::memcpy(magic, data, 4), std::memcmp(magic, "DEMO", 4) != 0)) {
    ENGINE_ERROR("Not VELOX Demo file format");
  }
  f.Int();  // the magic
  const std::int32_t objects = f.Count(kMinObjectBytes);
  mLength = f.Int();
  mBaseNode.reset(new Node(nullptr));
  std::map<std::string, std::string> types;
  std::vector<std::pair<std::string, std::string>> pairs;

  for (std::int32_t o = 0; o < objects; ++o) {
    const std::string type = f.String();
    const std::string name = f.String();
    const std::string meshName = f.String();
    const std::string parent = f.String();
    if (!parent.empty()) pairs.emplace_back(name, parent);
    types.emplace(name, type);
    math::Vector3f location, rotation;
    location.x = f.Float();
    location.y = f.Float();
    location.z = f.Float();
    rotation.x = f.Float();
    rotation.y = f.Float();
    rotation.z = f.Float();
    const bool underCamera = types[parent] == "Camera";
    if (underCamera) location.z = -location.z;
    rotation = rotation * kToTenthsOfDegrees;
    const std::int32_t curves = f.Count(kMinCurveBytes);

    boost::shared_ptr<AnimationController> controller(new AnimationController);
    for (int i = 0; i < 3; ++i) {
      const float loc[3] = {location.x, location.y, location.z};
      const float rot[3] = {rotation.x, rotation.y, rotation.z};
      controller->AddPipe(new LocPipe(1 + i, RestTrack(loc[i]), kAxes[i]));
      controller->AddPipe(new RotPipe(18 + 2 * i, RestTrack(rot[i]), kAxes[i]));
    }
    boost::shared_ptr<Node> node;
    if (curves >= 1) {
      auto* animated = new AnimationNode(mBaseNode.get());
      animated->SetController(controller);
      node.reset(animated);
    } else {
      node.reset(new Node(mBaseNode.get()));
      Transformation rest;
      rest.Rotate(AxisRotation(kAxes[0], rotation.x) * AxisRotation(kAxes[1], rotation.y) *
                  AxisRotation(kAxes[2], rotation.z));
      rest.Translate(location);
      node->Local(rest);
    }
    if (type == "Camera") {
      node->AddChild(boost::shared_ptr<Spatial>(new Camera(node.get(), ToWide(name))));
    }
    if (parent.empty()) mBaseNode->AddChild(node);
    mNodes[name] = node;
    if (type == "Lamp") node->AddChild(boost::shared_ptr<Spatial>(new Light(node.get())));
    boost::shared_ptr<Mesh> mesh;
    if (type == "Mesh" && name != "Terrain") {
      mesh = core::ResourceManager::Get()->Get<Mesh>(path + L"_scene/" + ToWide(meshName) + L".vlx");
      if (mesh->GetLoadMesh() != nullptr && mesh->GetLoadMesh()->NumIndices() >= 1) {
        node->AddChild(boost::shared_ptr<Spatial>(new Geometry(mesh, node.get())));
      }
    }

    for (std::int32_t c = 0; c < curves; ++c) {
      const std::string channel = f.String();
      const std::string interpolation = f.String();
      const std::string extrapolation = f.String();
      AnimationTrack* track = nullptr;
      BezierAnimationTrack* bezier = nullptr;
      if (interpolation == "Bezier") {
        track = bezier = new BezierAnimationTrack;
      } else if (interpolation == "Linear") {
        track = new LinearAnimationTrack;
      } else if (interpolation == "Constant") {
        track = new ConstantAnimationTrack;
      } else {
        ENGINE_ERROR(interpolation + " interpolation type not supported.");
      }
      std::unique_ptr<AnimationTrack> owned(track);
      if (extrapolation == "Constant") {
        track->SetExtrapolation(AnimationTrack::Constant);
      } else if (extrapolation == "Cyclic") {
        track->SetExtrapolation(AnimationTrack::Cyclic);
      } else if (extrapolation == "Cyclic_extrapolation") {
        track->SetExtrapolation(AnimationTrack::CyclicExtrapolation);
      } else {
        ENGINE_ERROR(extrapolation + " extrapolation type not supported.");
      }
      // Keys first, so that an error leaves no half-filled track in a pipe.
      const std::int32_t keys = f.Count(kKeyBytes);
      const bool negate = channel == "LocZ" && underCamera;
      for (std::int32_t k = 0; k < keys; ++k) {
        AnimationKey left, key, right;
        left.time = f.Float();
        left.value = f.Float();
        key.time = f.Float();
        key.value = f.Float();
        right.time = f.Float();
        right.value = f.Float();
        if (negate) {
          left.value = -left.value;
          key.value = -key.value;
          right.value = -right.value;
        }
        track->AddKey(key.time, key.value);
        if (bezier != nullptr) bezier->AddHandles(left, right);
      }
      bool drop = false;
      if (AnimationPipe* pipe = PipeFor(channel, track, &drop)) {
        owned.release();
        controller->AddPipe(pipe);
        continue;
      }
      if (drop) continue;
      controller->AddChannel(owned.release(), channel);
      if (!mesh || channel == "Layer" || !mesh->GetEffect()) continue;
      float* value = controller->GetChannel(channel);
      bool bound = false;
      const boost::shared_ptr<Effect> effect = mesh->GetEffect();
      for (unsigned s = 0; s < effect->ShaderCount(); ++s) {
        for (auto& ipo : effect->GetShader(s)->Pass().mParameters.mIpos) {
          if (ipo.name == channel && value != nullptr) {
            ipo.value = value;
            bound = true;
          }
        }
      }
      if (!bound) ENGINE_WARNING("IPO type " + channel + " not used in any mesh shader");
    }
  }

  // Parents are linked once every object is known. A parent that names no
  // object, the object itself or one of its own descendants would leave the
  // object unreachable or the graph cyclic: the object goes to the root.
  std::map<const Node*, const Node*> parentOf;
  std::set<const Node*> linked;
  for (const auto& pair : pairs) {
    const boost::shared_ptr<Node> child = mNodes[pair.first];
    auto found = mNodes.find(pair.second);
    const boost::shared_ptr<Node> parent = found != mNodes.end() ? found->second : nullptr;
    if (!child || linked.count(child.get()) != 0) continue;
    linked.insert(child.get());
    bool cycle = !parent;
    for (const Node* up = parent.get(); up != nullptr && !cycle;) {
      cycle = up == child.get();
      auto next = parentOf.find(up);
      up = next != parentOf.end() ? next->second : nullptr;
    }
    if (cycle) {
      ENGINE_WARNING("Object " + pair.first + " has no usable parent " + pair.second +
                     ", placed at the root of the scene");
      mBaseNode->AddChild(child);
      continue;
    }
    child->Parent(parent.get());
    parent->AddChild(child);
    parentOf[child.get()] = parent.get();
  }
  mBaseNode->Update(nullptr);
}

}  // namespace engine::gfx
