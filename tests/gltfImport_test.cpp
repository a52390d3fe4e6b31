// The glTF importer: small glTF files written here are imported and loaded
// with the engine's own scene loader, and every object's world placement
// is compared with the one glTF itself gives (rest poses, and each
// interpolation at several times on the engine's clock); broken files fail
// with a message that names the culprit and leave the output as it was; the
// imported scene renders like its reviewed picture (tests/references/,
// VELOX_UPDATE_REFERENCES=1 rewrites it).
#include "tools/gltfimport/gltfimport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "audio_support.h"
#include "sanitizer/support.h"
#include "engine/animationController.h"
#include "engine/demoFile.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "engine/sceneInfo.h"
#include "engine/sceneNodes.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "engine_support.h"
#include "gl_support.h"
#include "platform/d3dmath.h"
#include "platform/image.h"
#include "platform/system.h"
#include "gltf_support.h"
#include "picture_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Mat4 = std::array<std::array<double, 4>, 4>;  // glTF's: column vectors
using velox_test::AxisAngle;
using velox_test::Gltf;
using velox_test::List;
using velox_test::NodeJson;
using velox_test::Quat;
using velox_test::Trs;
constexpr double kPi = 3.14159265358979323846;

Mat4 Matrix(const Trs& p) {
  const double x = p.q[0], y = p.q[1], z = p.q[2], w = p.q[3];
  const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                          {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                          {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
  Mat4 m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i][j] = r[i][j] * p.s[j];
    m[i][3] = p.t[i];
  }
  m[3][3] = 1;
  return m;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
  Mat4 m{};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) m[i][j] += a[i][k] * b[k][j];
    }
  }
  return m;
}

// The engine's world matrix (row vectors) against glTF's mirrored in z.
void ExpectPlacement(const engine::math::Matrix4x4& engine, const Mat4& gltf, double tolerance) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      const double expected = gltf[c][r] * (r == 2 ? -1 : 1) * (c == 2 ? -1 : 1);
      EXPECT_NEAR(engine.m[r][c], expected, tolerance) << "element " << r << "," << c;
    }
  }
}


// A mesh of two primitives: a quad with normals and indices, and a lone
// triangle with neither (flat normals). Returns its JSON.
std::string TwoPrimitiveMesh(Gltf& g, const std::string& name, int material) {
  const int quad = g.Floats({-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, "VEC3");
  const int normals = g.Floats({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3");
  const int indices = g.Shorts({0, 1, 2, 0, 2, 3});
  const int triangle = g.Floats({0, 0, 0.5f, 1, 0, 1, 0, 1, 1}, "VEC3");
  const std::string m = material >= 0 ? ",\"material\":" + std::to_string(material) : "";
  return "{\"name\":\"" + name +
         "\",\"primitives\":[{\"attributes\":{\"POSITION\":" + std::to_string(quad) +
         ",\"NORMAL\":" + std::to_string(normals) + "},\"indices\":" + std::to_string(indices) + m +
         "},{\"attributes\":{\"POSITION\":" + std::to_string(triangle) + "}" + m + "}]}";
}

class GltfImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velox_test::OpenNullWindow();
    velox_test::WriteText("data/fx/flat.fx", R"(
float4x4 WVP : WorldViewProjection;
float4 VS(float3 p : POSITION) : POSITION { return mul(float4(p, 1), WVP); }
float4 PS() : COLOR { return 1; }
technique Flat { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } })");
    velox_test::WriteText("data/wireframe.efx",
                          "effect = { { pass = { { fx = 'flat', tec = 'Flat', params = {}, streams "
                          "= { 'pos' } } } } }");
  }
  void TearDown() override {
    if (mLoader != nullptr) mLoader->DestroyInstance();
    engine::ShutDownEngine();
  }
  engine::gfx::DemoLoader* Import(const std::string& input,
                                  gltfimport::Conversion* result = nullptr) {
    gltfimport::Conversion c = gltfimport::Import(input, "data/scene.demo", {});
    if (result != nullptr) *result = c;
    mLoader = engine::gfx::DemoLoader::CreateInstance(L"data/scene.demo");
    return mLoader;
  }
  engine::math::Matrix4x4 World(const std::string& name) { return mLoader->GetNode(name)->World(); }

  velox_test::ScopedWorkDir mDir;
  engine::gfx::DemoLoader* mLoader = nullptr;
};

TEST_F(GltfImportTest, HierarchyCameraLampAndMeshLandWhereGltfPutsThem) {
  Gltf g;
  g.meshes.push_back(TwoPrimitiveMesh(g, "Box", -1));
  const Trs rig{{1, 2, 3}, AxisAngle(1, 1, 0, 40)}, cam{{0, 1, 6}, AxisAngle(1, 0, 0, -10)},
      marker{{0.5, 0, -2}, AxisAngle(0, 1, 0, 25)},
      box{{0, 0, -1}, AxisAngle(0, 0, 1, 15), {1, 2, 0.5}}, sun{{3, 4, 5}};
  const double frame[16] = {0,   0, -1.5, 0, 0,  1.5, 0, 0,
                            1.5, 0, 0,    0, -2, 0,   1, 1};  // column-major
  g.nodes = {NodeJson("Rig", rig, ",\"children\":[1,3]"),
             NodeJson("Cam", cam, ",\"camera\":0,\"children\":[2]"),
             NodeJson("Marker", marker),
             NodeJson("Box", box, ",\"mesh\":0"),
             NodeJson("Sun", sun, ",\"extensions\":{\"KHR_lights_punctual\":{\"light\":0}}"),
             "{\"name\":\"Frame\",\"matrix\":" + List(frame, 16) + "}",
             "{\"name\":\"Terrain\",\"mesh\":0}"};
  g.roots = {0, 4, 5, 6};
  g.more = R"("cameras":[{"type":"perspective","perspective":{"yfov":0.8,"znear":0.1,"zfar":50}}],)"
           R"("extensionsUsed":["KHR_lights_punctual"],)"
           R"("extensions":{"KHR_lights_punctual":{"lights":[{"type":"point"}]}},)";
  g.Save("in/scene.gltf");
  gltfimport::Conversion result;
  Import("in/scene.gltf", &result);

  Mat4 frameMatrix{};
  for (int i = 0; i < 16; ++i) frameMatrix[i % 4][i / 4] = frame[i];
  const Mat4 rigWorld = Matrix(rig), camWorld = rigWorld * Matrix(cam);
  ExpectPlacement(World("Rig"), rigWorld, 1e-5);
  ExpectPlacement(World("Cam"), camWorld, 1e-5);
  ExpectPlacement(World("Marker"), camWorld * Matrix(marker), 1e-5);  // below a camera
  ExpectPlacement(World("Box"), rigWorld * Matrix(box), 1e-5);        // scaled: curves
  ExpectPlacement(World("Sun"), Matrix(sun), 1e-5);
  ExpectPlacement(World("Frame"), frameMatrix, 1e-5);
  using namespace engine::gfx;
  EXPECT_NE(dynamic_cast<Camera*>(mLoader->GetNode("Cam")->Children().at(0).get()), nullptr);
  EXPECT_NE(dynamic_cast<Light*>(mLoader->GetNode("Sun")->Children().at(0).get()), nullptr);
  // "Terrain" would lose its mesh in the loader: renamed.
  ASSERT_NE(mLoader->GetNode("Terrain.1"), nullptr);
  EXPECT_NE(dynamic_cast<Geometry*>(mLoader->GetNode("Terrain.1")->Children().at(0).get()),
            nullptr);
  auto* geometry = dynamic_cast<Geometry*>(mLoader->GetNode("Box")->Children().at(0).get());
  ASSERT_NE(geometry, nullptr);

  // Both primitives in one mesh, mirrored in z, winding reversed, 16-bit
  // indices; the lone triangle got a flat normal.
  LoadMesh* mesh = geometry->GetMesh()->GetLoadMesh();
  ASSERT_EQ(mesh->NumVertices(), 7);
  ASSERT_EQ(mesh->NumIndices(), 9);
  EXPECT_EQ(mesh->IndexStride(), 2);
  EXPECT_EQ(mesh->Index(1), 2);
  EXPECT_EQ(mesh->Index(2), 1);
  const auto* p = static_cast<const float*>(mesh->GetData(MeshData::Positions)->data);
  const auto* n = static_cast<const float*>(mesh->GetData(MeshData::Normals)->data);
  EXPECT_FLOAT_EQ(p[4 * 3 + 2], -0.5f);      // the triangle's first corner
  const float flat[3] = {-0.5f, -0.5f, -1};  // glTF's (-0.5, -0.5, 1), z mirrored
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(n[5 * 3 + i], flat[i] / std::sqrt(1.5f), 1e-5);
  // The projection, which scene files do not hold, for the program.
  const std::string cameras = velox_test::ReadFile("data/scene.demo_scene/cameras.txt");
  EXPECT_NE(cameras.find("\nCam perspective 0.8 0 0.1 50\n"), std::string::npos) << cameras;

  // The same file as .glb converts to the same bytes.
  const std::string text = velox_test::ReadFile("data/scene.demo");
  g.SaveBinary("in/scene.glb");
  gltfimport::Import("in/scene.glb", "data/again.demo", {});
  EXPECT_EQ(velox_test::ReadFile("data/again.demo"), text);
}

// glTF's own sampling: the expected values.
std::vector<double> Sample(const std::vector<float>& times, const std::vector<float>& data, int n,
                           const std::string& mode, double t) {
  const std::size_t keys = times.size(), per = mode == "CUBICSPLINE" ? 3 : 1;
  auto value = [&](std::size_t k, std::size_t part) {
    return std::vector<double>(data.begin() + static_cast<long>((k * per + part) * n),
                               data.begin() + static_cast<long>((k * per + part + 1) * n));
  };
  const std::size_t mid = per == 3 ? 1 : 0;
  if (t <= times[0]) return value(0, mid);
  if (t >= times[keys - 1]) return value(keys - 1, mid);
  std::size_t k = 0;
  while (t >= times[k + 1]) ++k;
  const double span = times[k + 1] - times[k], f = (t - times[k]) / span;
  std::vector<double> a = value(k, mid), b = value(k + 1, mid), out(static_cast<std::size_t>(n));
  if (mode == "STEP") return a;
  if (mode == "CUBICSPLINE") {
    const std::vector<double> m0 = value(k, 2), m1 = value(k + 1, 0);
    for (int i = 0; i < n; ++i) {
      out[i] = (2 * f * f * f - 3 * f * f + 1) * a[i] + (f * f * f - 2 * f * f + f) * span * m0[i] +
               (-2 * f * f * f + 3 * f * f) * b[i] + (f * f * f - f * f) * span * m1[i];
    }
  } else if (n == 4) {  // slerp, the shorter way
    double dot = 0;
    for (int i = 0; i < 4; ++i) dot += a[i] * b[i];
    const double sign = dot < 0 ? -1 : 1, angle = std::acos(std::min(1.0, std::abs(dot)));
    for (int i = 0; i < 4; ++i) {
      out[i] =
          (std::sin((1 - f) * angle) * a[i] + sign * std::sin(f * angle) * b[i]) / std::sin(angle);
    }
  } else {
    for (int i = 0; i < n; ++i) out[i] = (1 - f) * a[i] + f * b[i];
  }
  if (n == 4) {
    const double length =
        std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2] + out[3] * out[3]);
    for (double& x : out) x /= length;
  }
  return out;
}

TEST_F(GltfImportTest, AnimatedNodesFollowGltfAtEveryInterpolation) {
  struct Channel {
    std::string path, mode;
    std::vector<float> values;  // CUBICSPLINE: in-tangent, value, out-tangent per key
  };
  std::vector<float> rotations;
  for (const Quat& q : {AxisAngle(1, 2, 3, 0), AxisAngle(1, 2, 3, 100),
                        AxisAngle(-1, 0.5, 0.2, 150), AxisAngle(0, 1, 0, 20)}) {
    rotations.insert(rotations.end(), q.begin(), q.end());
  }
  const std::vector<float> moves = {0, 0, 0, 1, 2, -1, 3, -1, 2, 0, 1, 1};
  auto cubic = [](const std::vector<float>& values, int n) {  // tangents around each value
    std::vector<float> out;
    for (std::size_t k = 0; k < values.size() / n; ++k) {
      for (int i = 0; i < n; ++i)
        out.push_back(0.3f * static_cast<float>(i + 1) - 0.2f * static_cast<float>(k));
      out.insert(out.end(), values.begin() + static_cast<long>(k * n),
                 values.begin() + static_cast<long>((k + 1) * n));
      for (int i = 0; i < n; ++i)
        out.push_back(-0.25f * static_cast<float>(i) + 0.1f * static_cast<float>(k));
    }
    return out;
  };
  const std::map<std::string, std::vector<Channel>> animated = {
      {"Linear",
       {{"translation", "LINEAR", moves},
        {"rotation", "LINEAR", rotations},
        {"scale", "LINEAR", {1, 1, 1, 2, 1, 0.5f, 1, 3, 1, 1, 1, 1}}}},
      {"Step", {{"translation", "STEP", moves}, {"rotation", "STEP", rotations}}},
      {"Cubic",
       {{"translation", "CUBICSPLINE", cubic(moves, 3)},
        {"rotation", "CUBICSPLINE", cubic(rotations, 4)}}}};
  const std::vector<float> times = {0, 1, 2, 3};
  const Trs pivot{{0, 1, 0}, AxisAngle(0, 1, 0, 30)};
  Gltf g;
  const int input = g.Floats(times, "SCALAR");
  g.nodes = {NodeJson("Pivot", pivot, ",\"children\":[1,2,3]")};
  g.roots = {0};
  std::string channels, samplers;
  for (const auto& [name, list] : animated) {
    g.nodes.push_back("{\"name\":\"" + name + "\"}");
    for (const Channel& c : list) {
      const int output = g.Floats(c.values, c.path == "rotation" ? "VEC4" : "VEC3");
      const std::string sampler =
          std::to_string(samplers.empty() ? 0 : std::count(samplers.begin(), samplers.end(), '{'));
      samplers += (samplers.empty() ? "" : ",") + std::string("{\"input\":") +
                  std::to_string(input) + ",\"output\":" + std::to_string(output) +
                  ",\"interpolation\":\"" + c.mode + "\"}";
      channels += (channels.empty() ? "" : ",") + std::string("{\"sampler\":") + sampler +
                  ",\"target\":{\"node\":" + std::to_string(g.nodes.size() - 1) + ",\"path\":\"" +
                  c.path + "\"}}";
    }
  }
  channels +=
      ",{\"sampler\":0,\"target\":{\"node\":1,\"path\":\"weights\"}}";  // skipped, not fatal
  g.animations.push_back("{\"channels\":[" + channels + "],\"samplers\":[" + samplers + "]}");
  g.Save("in/moves.gltf");
  engine::core::Timer* timer = engine::core::Timer::Get();
  timer->StepExactly(1.2, 25);
  gltfimport::Conversion result;
  Import("in/moves.gltf", &result);
  EXPECT_EQ(result.scene.length, 75);
  ASSERT_FALSE(result.warnings.empty());
  EXPECT_NE(result.warnings.back().find("animating weights is not supported"), std::string::npos);

  // Frame by frame as a demo plays: the first frame jumps to 1.2 s, the
  // samples fall between keys in every segment and after the last.
  for (int frame = 0; frame <= 58; ++frame) {
    timer->Update();
    mLoader->GetBaseNode()->Update(nullptr);
    if (frame % 7 != 2) continue;
    const double t = 1.2 + frame / 25.0;
    SCOPED_TRACE(t);
    for (const auto& [name, list] : animated) {
      SCOPED_TRACE(name);
      Trs p;
      for (const Channel& c : list) {
        const std::vector<double> v =
            Sample(times, c.values, c.path == "rotation" ? 4 : 3, c.mode, t);
        std::copy(v.begin(), v.end(),
                  c.path == "translation" ? p.t.begin()
                  : c.path == "rotation"  ? p.q.begin()
                                          : p.s.begin());
      }
      auto* node = dynamic_cast<engine::gfx::AnimationNode*>(mLoader->GetNode(name).get());
      ASSERT_NE(node, nullptr);
      EXPECT_NEAR(node->Controller()->Time(), t * 25, 1e-3);
      ExpectPlacement(World(name), Matrix(pivot) * Matrix(p), 5e-3);
    }
  }
}

TEST_F(GltfImportTest, BrokenFilesFailByNameAndLeaveTheOutputAsItWas) {
  Gltf g;
  g.meshes.push_back(TwoPrimitiveMesh(g, "Box", 0));
  g.more = R"("materials":[{"name":"Red"}],)";
  g.nodes = {"{\"name\":\"Box\",\"mesh\":0}"};
  g.roots = {0};
  g.Save("in/good.gltf");
  gltfimport::Import("in/good.gltf", "data/scene.demo", {});
  auto listing = [] {
    std::string names;
    for (const auto& e : fs::recursive_directory_iterator("data")) names += e.path().string() + ";";
    return names + velox_test::ReadFile("data/scene.demo");
  };
  const std::string before = listing();

  struct Case {
    std::string find, replace, message;
  };
  const std::string quad = "\"NORMAL\":1}";
  const std::vector<Case> cases = {
      {"{\"asset\"", "{\"asset\" oops", "not a glTF file"},
      {"{\"name\":\"Red\"}", "{\"name\":\"Red\",\"emissiveTexture\":{\"index\":3}}",
       "material 0 \"Red\" emissiveTexture: texture 3 does not exist"},
      {quad, quad + ",\"targets\":[{\"POSITION\":0}]",
       "mesh 0 \"Box\" primitive 0 has morph targets"},
      {"\"indices\":2", "\"indices\":2,\"mode\":1", "primitive 0 draws points or lines"},
      {"\"mesh\":0}", "\"mesh\":0,\"skin\":0}],\"skins\":[{\"joints\":[0]}",
       "node 0 \"Box\" is skinned"},
      {"\"mesh\":0}", "\"mesh\":0,\"children\":[9]}", "node 0 \"Box\": child 9 does not exist"},
      {"\"byteOffset\":96,\"byteLength\":12", "\"byteOffset\":96,\"byteLength\":8",
       "primitive 0 indices: accessor 2 runs past the end of buffer view 2"},
      {"\"count\":6,",
       "\"count\":6,\"sparse\":{\"count\":1,\"indices\":{\"bufferView\":2,\"componentType\":5123},"
       "\"values\":{\"bufferView\":0}},",
       "primitive 0 indices: accessor 2 is sparse"},
      // The six 16-bit indices read as three 32-bit ones: 65536 is the first.
      {"\"componentType\":5123,\"count\":6", "\"componentType\":5125,\"count\":3",
       "primitive 0 indices: accessor 2: index 65536 is out of range (4 vertices)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    g.Save("in/broken.gltf", {c.find, c.replace});
    try {
      gltfimport::Import("in/broken.gltf", "data/scene.demo", {});
      ADD_FAILURE() << "imported";
    } catch (const gltfimport::ImportError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(listing(), before);
  }
  // A .glb whose BIN chunk claims its own 8-byte header as well: tinygltf
  // alone would read past the end of the file.
  g.SaveBinary("in/broken.glb");
  std::string glb = velox_test::ReadFile("in/broken.glb");
  std::uint32_t jsonLength = 0, binLength = 0;
  std::memcpy(&jsonLength, &glb[12], 4);
  std::memcpy(&binLength, &glb[20 + jsonLength], 4);
  binLength += 8;
  std::memcpy(&glb[20 + jsonLength], &binLength, 4);
  velox_test::WriteText("in/broken.glb", glb);
  try {
    gltfimport::Import("in/broken.glb", "data/scene.demo", {});
    ADD_FAILURE() << "imported";
  } catch (const gltfimport::ImportError& e) {
    EXPECT_NE(std::string(e.what()).find("its BIN chunk runs past the end of the file"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(listing(), before);

  // The program: a message, exit status 1, nothing written.
  const std::string command =
      std::string(VELOX_BIN_DIR) + "/gltfimport in/broken.gltf data/scene.demo 2> err.txt";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  // A sanitizer's report also ends the program with 1: the message decides.
  EXPECT_NE(velox_test::ReadFile("err.txt").find("gltfimport: error: "), std::string::npos);
  EXPECT_EQ(velox_test::SanitizerReport(velox_test::ReadFile("err.txt")), "");
  EXPECT_EQ(listing(), before);
}

// The program on a file, writing out/scene.demo after `limits` (shell
// commands): its exit status (-1 when it did not exit) and standard error.
std::pair<int, std::string> RunImporter(const std::string& input, const std::string& limits = "") {
  const std::string command =
      limits + std::string(VELOX_BIN_DIR) + "/gltfimport " + input + " out/scene.demo 2> err.txt";
  const int status = std::system(command.c_str());
  std::string errors = velox_test::ReadFile("err.txt");
  EXPECT_EQ(velox_test::SanitizerReport(errors), "") << errors;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::move(errors)};
}

// Values of the wrong type, which tinygltf drops or coerces without a word,
// and key times past the longest scene.
TEST(GltfImportProgramTest, WrongPropertiesFailByNameAndWriteNothing) {
  velox_test::ScopedWorkDir dir;
  Gltf g;
  g.meshes.push_back(TwoPrimitiveMesh(g, "Box", -1));
  const int times = g.Floats({0, 1}, "SCALAR"), moves = g.Floats({0, 0, 0, 1, 1, 1}, "VEC3");
  const int late = g.Floats({0, 1e9f}, "SCALAR");  // past 2^31 frames
  g.nodes = {"{\"name\":\"Box\",\"mesh\":0,\"children\":[1]}",
             "{\"name\":\"N1\",\"translation\":[1,2,3]}"};
  g.roots = {0};
  g.animations = {
      "{\"channels\":[{\"sampler\":0,\"target\":{\"node\":1,\"path\":\"translation\"}}],"
      "\"samplers\":[{\"input\":" +
      std::to_string(times) + ",\"output\":" + std::to_string(moves) + "}]}"};
  g.more = R"("images":[{"uri":"a.png"}],"textures":[{"source":0,"sampler":0}],)"
           R"("samplers":[{"wrapS":33071}],"materials":[{"name":"Mat","emissiveFactor":[1,1,1],)"
           R"("normalTexture":{"index":0,"scale":1,)"
           R"("extensions":{"KHR_texture_transform":{"offset":[0,0]}}}}],)";
  g.Save("in/good.gltf");
  ASSERT_EQ(RunImporter("in/good.gltf").first, 0);
  fs::remove_all("out");

  struct Case {
    std::string find, replace, message;
  };
  const std::string n1 = "\"translation\":[1,2,3]";
  const std::vector<Case> cases = {
      {n1, "\"translation\":\"1,2,3\"", "node 1 \"N1\": translation must be an array of 3 numbers"},
      {n1, n1 + ",\"scale\":2", "node 1 \"N1\": scale must be an array of 3 numbers"},
      {n1, "\"matrix\":\"identity\"", "node 1 \"N1\": matrix must be an array of 16 numbers"},
      {"\"mesh\":0", "\"mesh\":1.5", "node 0 \"Box\": mesh must be an index"},
      {"\"mesh\":0", "\"mesh\":-1", "node 0 \"Box\": mesh must be an index"},
      {"[1]}", "[\"1\"]}", "node 0 \"Box\": children must be an array of indices"},
      {"\"indices\":2", "\"indices\":\"2\"",
       "mesh 0 \"Box\" primitive 0: indices must be an index"},
      {"{\"bufferView\":0,", "{\"bufferView\":0,\"byteOffset\":-12,",
       "accessor 0: byteOffset must be a whole number, 0 or more"},
      {"{\"buffer\":0,\"byteOffset\":0,", "{\"buffer\":0,\"byteOffset\":-12,",
       "buffer view 0: byteOffset must be a whole number, 0 or more"},
      {"{\"sampler\":0,", "{\"sampler\":\"0\",", "animation 0 channel 0: sampler must be an index"},
      {"\"input\":" + std::to_string(times), "\"input\":" + std::to_string(late),
       "animation 0 channel 0 input: accessor " + std::to_string(late) + ": key times run past"},
      {"\"uri\":\"a.png\"", "\"uri\":5", "image 0: uri must be a string"},
      {"\"source\":0", "\"source\":-1", "texture 0: source must be an index"},
      {"\"wrapS\":33071", "\"wrapS\":\"CLAMP\"", "sampler 0: wrapS must be a whole number"},
      {"[1,1,1],", "1,", "material 0 \"Mat\": emissiveFactor must be an array of 3 numbers"},
      {"\"scale\":1,", "\"scale\":\"big\",", "material 0 \"Mat\": normalTexture.scale must be a number"},
      {"[0,0]", "[0]",
       "material 0 \"Mat\": normalTexture.extensions.KHR_texture_transform.offset must be an array "
       "of 2 numbers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replace);
    g.Save("in/broken.gltf", {c.find, c.replace});
    const auto [status, err] = RunImporter("in/broken.gltf");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("gltfimport: error: " + c.message), std::string::npos) << err;
    EXPECT_FALSE(fs::exists("out"));
    fs::remove_all("out");
  }
}

// Nesting ends in one line rather than a stack overflow in the JSON
// reader, whether tinygltf would keep the value (extras) or not; real
// nesting passes.
TEST(GltfImportProgramTest, DeepNestingFailsInOneLineAndWritesNothing) {
  velox_test::ScopedWorkDir dir;
  auto nested = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  for (const std::string member : {"extras", "unknown"}) {
    Gltf g;
    g.meshes.push_back(TwoPrimitiveMesh(g, "Box", -1));
    g.more = "\"" + member + "\":" + nested(20000) + ",";
    g.Save("in/deep.gltf");
    g.SaveBinary("in/deep.glb");
    for (const std::string input : {"in/deep.gltf", "in/deep.glb"}) {
      SCOPED_TRACE(input + " " + member);
      const auto [status, err] = RunImporter(input);
      EXPECT_EQ(status, 1);
      EXPECT_EQ(
          err, "gltfimport: error: " + input + ": JSON nested too deeply (more than 512 levels)\n");
      EXPECT_FALSE(fs::exists("out"));
    }
  }
  Gltf g;
  g.meshes.push_back(TwoPrimitiveMesh(g, "Box", -1));
  g.nodes = {"{\"name\":\"Deep\",\"mesh\":0,\"extras\":" + nested(500) + "}"};
  g.roots = {0};
  g.Save("in/fine.gltf");
  EXPECT_EQ(RunImporter("in/fine.gltf").first, 0);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELOX_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELOX_ASAN 1
#endif

TEST(GltfImportProgramTest, RunningOutOfMemoryEndsWithAMessage) {
#ifdef VELOX_ASAN
  GTEST_SKIP() << "the sanitizer's allocator does not throw";
#endif
  velox_test::ScopedWorkDir dir;
  // 2^24 positions without a buffer view are zeros, 400 MB of them.
  velox_test::WriteText(
      "in/big.gltf",
      R"({"asset":{"version":"2.0"},"accessors":[{"componentType":5126,"count":16777215,)"
      R"("type":"VEC3"}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
      R"("nodes":[{"mesh":0}]})");
  const auto [status, err] = RunImporter("in/big.gltf", "ulimit -v 300000; ");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "gltfimport: error: out of memory\n");
  EXPECT_FALSE(fs::exists("out"));
}

// A cube of two primitives (sides, then top and bottom) on a ground plane,
// seen by the file's camera and lit by its lamp.

TEST(GltfImportRenderTest, ImportedSceneRendersLikeItsReviewedPicture) {
  velox_test::ScopedWorkDir dir;
  platform::SetDefaultBackend(platform::Backend::GL);
  platform::EnableTestClock(true);
  ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", 1.0));
  velox_test::WriteText("data/wireframe.efx",
                        "effect = { { pass = { { fx = 'velox_lit', tec = 'Lit', params = {}, "
                        "streams = { 'pos', 'normal' } } } } }");
  Gltf g;
  // Corner i at (+-0.5, +-0.5, +-0.5) by its bits; faces counter-clockwise
  // from outside, no normals (flat ones are made): sides, then the caps.
  std::vector<float> corners;
  for (int i = 0; i < 8; ++i) {
    for (int bit : {1, 2, 4}) corners.push_back((i & bit) != 0 ? 0.5f : -0.5f);
  }
  const int cube = g.Floats(corners, "VEC3");
  const int ground = g.Floats({-4, 0, -4, -4, 0, 4, 4, 0, 4, 4, 0, -4}, "VEC3");
  auto primitive = [&](int positions, const std::vector<std::uint16_t>& quads, int material) {
    std::vector<std::uint16_t> triangles;
    for (std::size_t q = 0; q < quads.size(); q += 4) {
      for (std::size_t k : {0, 1, 2, 0, 2, 3}) triangles.push_back(quads[q + k]);
    }
    return "{\"attributes\":{\"POSITION\":" + std::to_string(positions) +
           "},\"indices\":" + std::to_string(g.Shorts(triangles)) +
           ",\"material\":" + std::to_string(material) + "}";
  };
  g.meshes = {"{\"name\":\"Cube\",\"primitives\":[" +
                  primitive(cube, {0, 4, 6, 2, 1, 3, 7, 5, 0, 2, 3, 1, 4, 5, 7, 6}, 0) + "," +
                  primitive(cube, {0, 1, 5, 4, 2, 6, 7, 3}, 0) + "]}",
              "{\"name\":\"Ground\",\"primitives\":[" + primitive(ground, {0, 1, 2, 3}, 1) + "]}"};
  g.more = R"("materials":[{"pbrMetallicRoughness":{"baseColorFactor":[0.9,0.25,0.1,1]}},)"
           R"({"pbrMetallicRoughness":{"baseColorFactor":[0.4,0.5,0.6,1]}}],)"
           R"("cameras":[{"type":"perspective","perspective":{"yfov":0.9,"znear":0.1,"zfar":50}}],)"
           R"("extensionsUsed":["KHR_lights_punctual"],)"
           R"("extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","intensity":54351}]}},)";
  g.nodes = {
      NodeJson("Cube", {{0.6, 0.5, 0}, AxisAngle(0, 1, 0, 30)}, ",\"mesh\":0"),
      NodeJson("Ground", {}, ",\"mesh\":1"),
      NodeJson("Camera", {{0, 2, 5}, AxisAngle(1, 0, 0, -20)}, ",\"camera\":0"),
      NodeJson("Lamp", {{-3, 4, 3}}, ",\"extensions\":{\"KHR_lights_punctual\":{\"light\":0}}")};
  g.roots = {0, 1, 2, 3};
  g.Save("in/cube.gltf");
  gltfimport::Import("in/cube.gltf", "data/scene.demo", {});

  engine::WindowSettings settings;
  settings.width = 128;
  settings.height = 96;
  velox_test::Director director({3}, 4);
  velox_test::RunFrames(settings, 0.9f, 50.0f, &director);

  velox_test::ExpectMatchesReference(dir.Path() / "screenshots" / "screenshot0.png", "gltf_import.png");
}

}  // namespace
