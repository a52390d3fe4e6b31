// The glTF importer's textures and materials: small files written here
// cover each converted value and render on the GL backend like their
// reviewed pictures (tests/references/, VELOX_UPDATE_REFERENCES=1 rewrites
// them); a file exported by Blender (tests/gltf/) renders like Blender's
// own picture of it; pictures that cannot be used leave the material its
// factors with one warning, and a texture index out of range fails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "audio_support.h"
#include "content/formats/image.h"
#include "engine/VLXMesh.h"
#include "engine/demoFile.h"
#include "engine/effectPool.h"
#include "engine/mesh.h"
#include "engine/sceneNodes.h"
#include "engine/wrapper.h"
#include "engine_support.h"
#include "gl_support.h"
#include "gltf_support.h"
#include "picture_support.h"
#include "platform/image.h"
#include "platform/system.h"
#include "test_support.h"
#include "tools/gltfimport/gltfimport.h"

namespace {

namespace fs = std::filesystem;
using velox_test::AxisAngle;
using velox_test::Gltf;
using velox_test::NodeJson;
using velox_test::Trs;

std::string Png(int size, const std::function<void(int, int, float*)>& pixel) {
  content::Image image(size, size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      float c[4] = {0, 0, 0, 1};
      pixel(x, y, c);
      image.Set(x, y, c[0], c[1], c[2], c[3]);
    }
  }
  return content::PngBytes(image);
}

std::string Jpeg(int size, const std::function<void(int, int, float*)>& pixel) {
  std::vector<unsigned char> rgb;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      float c[4] = {0, 0, 0, 1};
      pixel(x, y, c);
      for (int k = 0; k < 3; ++k) rgb.push_back(static_cast<unsigned char>(c[k] * 255 + 0.5f));
    }
  }
  std::string out;
  stbi_write_jpg_to_func(
      [](void* context, void* data, int n) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                                   static_cast<std::size_t>(n));
      },
      &out, size, size, 3, rgb.data(), 95);
  return out;
}

std::string Base64(const std::string& bytes) {
  static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    for (std::size_t k = 0; k < 4; ++k)
      out += i + k <= bytes.size() ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

void Checker(int x, int y, float* c) {
  const bool on = (x / 4 + y / 4) % 2 == 0;
  c[0] = on ? 0.9f : 0.1f, c[1] = on ? 0.7f : 0.3f, c[2] = on ? 0.2f : 0.8f;
}

// A quad facing +z in glTF, side 2 about `centre`, with normals, two sets
// of texture coordinates (the second turned a quarter) and, where asked,
// vertex colours red, green, blue and white at its corners. Returns the
// primitive's JSON without its material.
std::string Quad(Gltf& g, bool colours = false) {
  const int positions = g.Floats({-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}, "VEC3");
  const int normals = g.Floats({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3");
  const int uv0 = g.Floats({0, 1, 1, 1, 1, 0, 0, 0}, "VEC2");
  const int uv1 = g.Floats({1, 1, 1, 0, 0, 0, 0, 1}, "VEC2");
  std::string attributes = "\"POSITION\":" + std::to_string(positions) +
                           ",\"NORMAL\":" + std::to_string(normals) +
                           ",\"TEXCOORD_0\":" + std::to_string(uv0) +
                           ",\"TEXCOORD_1\":" + std::to_string(uv1);
  if (colours) {
    attributes += ",\"COLOR_0\":" +
                  std::to_string(g.Floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1}, "VEC3"));
  }
  return "{\"attributes\":{" + attributes + "},\"indices\":" +
         std::to_string(g.Shorts({0, 1, 2, 0, 2, 3})) + "}";
}

std::string WithMaterial(std::string primitive, int material) {
  primitive.insert(primitive.size() - 1, ",\"material\":" + std::to_string(material));
  return primitive;
}

class GltfMaterialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDefaultBackend(platform::Backend::GL);
    platform::EnableTestClock(true);
    ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", 1.0));
    velox_test::WriteText("data/wireframe.efx",
                          "effect = { { pass = { { fx = 'velox_lit', tec = 'Lit20', params = {}, "
                          "streams = { 'pos', 'normal' } } } } }");
  }

  // Imports `input` as data/scene.demo and takes one picture with the
  // projection of the file's first camera, as cameras.txt gives it, and
  // pixel shaders up to `shaderVersion` (0: any).
  gltfimport::Conversion RenderLike(const std::string& input, int width, int height,
                                    const std::string& reference, unsigned long shaderVersion = 0) {
    gltfimport::Conversion c = gltfimport::Import(input, "data/scene.demo", {});
    std::istringstream cameras(velox_test::ReadFile("data/scene.demo_scene/cameras.txt"));
    std::string line, name, kind;
    while (std::getline(cameras, line) && (line.empty() || line[0] == '#')) {
    }
    double fov = 0, aspect = 0, zNear = 0, zFar = 0;
    std::istringstream(line) >> name >> kind >> fov >> aspect >> zNear >> zFar;
    EXPECT_EQ(kind, "perspective") << line;
    engine::WindowSettings settings;
    settings.width = width;
    settings.height = height;
    velox_test::Director director({3}, 4);
    engine::SetTargetShaderVersion(shaderVersion);
    velox_test::RunFrames(settings, static_cast<float>(fov), static_cast<float>(zFar), &director);
    velox_test::ExpectMatchesReference(mDir.Path() / "screenshots" / "screenshot0.png", reference);
    return c;
  }

  velox_test::ScopedWorkDir mDir;
};

// Three quads under the default sun: a checker base colour (JPEG) with a
// normal map of ridges across u and an occlusion map; a dark sign whose
// emissive stripes (KHR_materials_emissive_strength) follow the second
// texture coordinates; a checker rotated, scaled and moved by
// KHR_texture_transform, clamped at its edges, magnified without filtering.
void SaveTexturedFile() {
  Gltf g;
  const int checker = g.View(Jpeg(16, Checker));
  const std::string ridges = Png(32, [](int x, int, float* c) {
    const float tilt = 0.7f * std::sin(static_cast<float>(x) / 32 * 6.2831853f * 3);
    const float n = std::sqrt(tilt * tilt + 1);
    c[0] = 0.5f + 0.5f * tilt / n, c[1] = 0.5f, c[2] = 0.5f + 0.5f / n;
  });
  const std::string stripes = Png(16, [](int, int y, float* c) {
    c[0] = (y / 4) % 2 == 0 ? 1.0f : 0.0f, c[1] = c[0] * 0.5f, c[2] = 0;
  });
  const std::string dark = Png(8, [](int x, int y, float* c) { c[0] = c[1] = c[2] = x < 4 && y < 4 ? 0.3f : 1.0f; });
  g.meshes = {"{\"name\":\"Tiles\",\"primitives\":[" + WithMaterial(Quad(g), 0) + "]}",
              "{\"name\":\"Sign\",\"primitives\":[" + WithMaterial(Quad(g), 1) + "]}",
              "{\"name\":\"Label\",\"primitives\":[" + WithMaterial(Quad(g), 2) + "]}"};
  g.more =
      R"("images":[{"bufferView":)" + std::to_string(checker) +
      R"(,"mimeType":"image/jpeg","name":"checker"},)"
      R"({"uri":"data:image/png;base64,)" + Base64(ridges) + R"("},)"
      R"({"uri":"stripes.png"},{"uri":"shade.png"}],)"
      R"("samplers":[{"wrapS":33071,"wrapT":33071,"magFilter":9728}],)"
      R"("textures":[{"source":0},{"source":1},{"source":2},{"source":0,"sampler":0},{"source":3}],)"
      R"("materials":[)"
      R"({"name":"Tiles","pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0,)"
      R"("roughnessFactor":0.5},"normalTexture":{"index":1,"scale":1},)"
      R"("occlusionTexture":{"index":4,"strength":1}},)"
      R"({"name":"Sign","pbrMetallicRoughness":{"baseColorFactor":[0.05,0.05,0.05,1],"metallicFactor":0},)"
      R"("emissiveFactor":[1,1,1],"emissiveTexture":{"index":2,"texCoord":1},)"
      R"("extensions":{"KHR_materials_emissive_strength":{"emissiveStrength":1.5}}},)"
      R"({"name":"Label","pbrMetallicRoughness":{"metallicFactor":0,"baseColorTexture":{"index":3,)"
      R"("extensions":{"KHR_texture_transform":{"offset":[-0.25,-0.25],"rotation":0.4,"scale":[1.5,1.5]}}}}}],)"
      R"("extensionsUsed":["KHR_texture_transform","KHR_materials_emissive_strength"],)"
      R"("cameras":[{"type":"perspective","perspective":{"yfov":0.7,"znear":0.1,"zfar":50}}],)";
  g.nodes = {NodeJson("Tiles", {{-2.3, 0, 0}, AxisAngle(0, 1, 0, 20)}, ",\"mesh\":0"),
             NodeJson("Sign", {{0, 0, 0}}, ",\"mesh\":1"),
             NodeJson("Label", {{2.3, 0, 0}, AxisAngle(0, 1, 0, -20)}, ",\"mesh\":2"),
             NodeJson("Camera", {{0, 0, 5.5}}, ",\"camera\":0")};
  g.roots = {0, 1, 2, 3};
  g.Save("in/textured.gltf");
  velox_test::WriteText("in/stripes.png", stripes);
  velox_test::WriteText("in/shade.png", dark);
}

TEST_F(GltfMaterialsTest, TexturedNormalMappedEmissiveModelsRenderLikeTheirPicture) {
  SaveTexturedFile();
  const gltfimport::Conversion c =
      RenderLike("in/textured.gltf", 192, 96, "gltf_textured.png");
  EXPECT_TRUE(c.warnings.empty()) << c.warnings.front();
  // The clamped, unfiltered sampler is an effect of its own.
  ASSERT_EQ(c.effects.size(), 1u);
  EXPECT_NE(c.effects[0].bytes.find("#define SAMPLER_BASECOLOR AddressU = Clamp; AddressV = "
                                    "Clamp; MagFilter = Point; MinFilter = Linear; MipFilter = Linear;"),
            std::string::npos);
  EXPECT_TRUE(fs::exists("data/fx/" + c.effects[0].name));
}

// Limited to pixel shader 2.0, the materials' second candidates draw:
// without the normal and occlusion maps, the rest as before.
TEST_F(GltfMaterialsTest, PixelShader2CandidatesRenderLikeTheirPicture) {
  SaveTexturedFile();
  RenderLike("in/textured.gltf", 192, 96, "gltf_textured_ps20.png", 0xFFFF0200);
}

// A wall of vertex colours behind a MASK quad (a disc cut out of a
// texture's alpha) and a half-transparent BLEND quad, which comes first in
// the file and is still drawn over the wall.
TEST_F(GltfMaterialsTest, MaskAndBlendInFrontOfVertexColoursRenderLikeTheirPicture) {
  Gltf g;
  const int disc = g.View(Png(32, [](int x, int y, float* c) {
    const float dx = static_cast<float>(x) - 15.5f, dy = static_cast<float>(y) - 15.5f;
    c[0] = 1, c[1] = 0.9f, c[2] = 0.2f, c[3] = dx * dx + dy * dy < 14 * 14 ? 1.0f : 0.0f;
  }));
  g.meshes = {"{\"name\":\"Glass\",\"primitives\":[" + WithMaterial(Quad(g), 2) + "]}",
              "{\"name\":\"Wall\",\"primitives\":[" + WithMaterial(Quad(g, true), 0) + "]}",
              "{\"name\":\"Cutout\",\"primitives\":[" + WithMaterial(Quad(g), 1) + "]}"};
  g.more = R"("images":[{"bufferView":)" + std::to_string(disc) +
           R"(,"mimeType":"image/png"}],"textures":[{"source":0}],"materials":[)"
           R"({"name":"Wall","pbrMetallicRoughness":{"metallicFactor":0}},)"
           R"({"name":"Cutout","alphaMode":"MASK","alphaCutoff":0.5,"doubleSided":true,)"
           R"("pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0}},)"
           R"({"name":"Glass","alphaMode":"BLEND","pbrMetallicRoughness":{"baseColorFactor":[0.1,0.3,1,0.5],)"
           R"("metallicFactor":0}}],)"
           R"("cameras":[{"type":"perspective","perspective":{"yfov":0.8,"znear":0.1,"zfar":50}}],)";
  g.nodes = {NodeJson("Glass", {{0.9, -0.2, 1}, {0, 0, 0, 1}, {0.8, 0.8, 1}}, ",\"mesh\":0"),
             NodeJson("Wall", {{0, 0, 0}, {0, 0, 0, 1}, {2.2, 1.5, 1}}, ",\"mesh\":1"),
             // Seen from behind: a double-sided material shows its back.
             NodeJson("Cutout", {{-0.9, 0.2, 1}, AxisAngle(0, 1, 0, 180), {0.8, 0.8, 1}},
                      ",\"mesh\":2"),
             NodeJson("Camera", {{0, 0, 5}}, ",\"camera\":0")};
  g.roots = {0, 1, 2, 3};
  g.Save("in/alpha.gltf");
  RenderLike("in/alpha.gltf", 128, 96, "gltf_alpha.png");
}

// Blender's own export (tests/gltf/blender_scene.py): a checker-textured,
// normal-mapped ball, a cube with emissive stripes and the ground, under a
// sun; blender_scene_cycles.png is Blender's picture of it.
TEST_F(GltfMaterialsTest, SceneExportedByBlenderRendersLikeBlendersPicture) {
  const gltfimport::Conversion c = RenderLike(
      std::string(VELOX_SOURCE_DIR) + "/tests/gltf/blender_scene.glb", 256, 192,
      "gltf_blender.png");
  EXPECT_EQ(c.textures.size(), 4u);  // three pictures and the white one
}

// Pictures that cannot be used leave their material its factors, with one
// warning naming the picture and the material, and the import succeeds; a
// picture several materials use is one texture. The mesh, one primitive per
// material, becomes one mesh file per material on one node.
TEST(GltfMaterialsImportTest, UnusablePicturesFallBackToTheFactorsWithOneWarningEach) {
  velox_test::ScopedWorkDir dir;
  Gltf g;
  const std::string good = Png(4, Checker);
  const int truncated = g.View(good.substr(0, 40));
  const int shared = g.View(good);
  // A PNG whose header claims 20000 x 4 pixels.
  std::string huge = good.substr(0, 33);
  huge[18] = 0x4E, huge[19] = 0x20;
  const int absurd = g.View(huge);
  std::string primitives;
  for (int m = 0; m < 7; ++m) primitives += (m ? "," : "") + WithMaterial(Quad(g), m);
  g.meshes = {"{\"name\":\"Parts\",\"primitives\":[" + primitives + "]}"};
  g.more = R"("images":[{"uri":"gone.png"},{"bufferView":)" + std::to_string(truncated) +
           R"(,"mimeType":"image/png"},{"uri":"data:image/png;base64,AAAA"},{"bufferView":)" +
           std::to_string(absurd) +
           R"(,"mimeType":"image/png","name":"huge"},{"uri":"data:image/gif;base64,R0lGODdh"},)"
           R"({"bufferView":)" + std::to_string(shared) + R"(,"mimeType":"image/png","name":"tiles"}],)"
           R"("textures":[{"source":0},{"source":1},{"source":2},{"source":3},{"source":4},{"source":5}],)"
           R"("materials":[)";
  for (int m = 0; m < 7; ++m) {
    g.more += std::string(m ? "," : "") + R"({"name":"M)" + std::to_string(m) +
              R"(","pbrMetallicRoughness":{"baseColorFactor":[0.5,0.25,1,1],"baseColorTexture":{"index":)" +
              std::to_string(std::min(m, 5)) + "}}}";
  }
  g.more += "],";
  g.nodes = {"{\"name\":\"Parts\",\"mesh\":0}"};
  g.roots = {0};
  g.Save("in/pictures.gltf");
  const gltfimport::Conversion c = gltfimport::Import("in/pictures.gltf", "data/scene.demo", {});

  const std::vector<std::string> expected = {
      "material 0 \"M0\" baseColorTexture: image 0 (gone.png): it cannot be read",
      "material 1 \"M1\" baseColorTexture: image 1: it cannot be decoded",
      "material 2 \"M2\" baseColorTexture: image 2: it is not a PNG file",
      "material 3 \"M3\" baseColorTexture: image 3 \"huge\": its size 20000 x 4 is beyond",
      "material 4 \"M4\" baseColorTexture: image 4: its type image/gif is neither PNG nor JPEG"};
  ASSERT_EQ(c.warnings.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(c.warnings[i].rfind(expected[i], 0), 0u) << c.warnings[i];
    EXPECT_NE(c.warnings[i].find("the material uses its factors"), std::string::npos);
  }
  ASSERT_EQ(c.meshes.size(), 7u);
  for (int m = 0; m < 7; ++m) {
    const std::string& script = c.meshes[static_cast<std::size_t>(m)].material;
    EXPECT_NE(script.find("{ 'BaseColor', 'float4', { 0.5, 0.25, 1, 1 } }"), std::string::npos);
    EXPECT_NE(script.find(m < 5 ? "'BaseColorMap', 'tex', 'data/scene.demo_scene/textures/white.dds'"
                                : "'BaseColorMap', 'tex', 'data/scene.demo_scene/textures/tiles.dds'"),
              std::string::npos)
        << script;
  }
  EXPECT_EQ(c.meshes[1].name, "Parts_M1");
  ASSERT_EQ(c.textures.size(), 2u);  // tiles.dds and white.dds
  EXPECT_TRUE(fs::exists("data/scene.demo_scene/textures/tiles.dds"));
  // Level 0 of 4 x 4 and three smaller levels.
  EXPECT_EQ(fs::file_size("data/scene.demo_scene/textures/tiles.dds"), 128u + 4 * (16 + 4 + 1));
  EXPECT_EQ(c.scene.objects.size(), 7u);
  EXPECT_EQ(c.scene.objects[6].parent, "Parts");
  EXPECT_EQ(c.scene.objects[6].data, "Parts_M6");
}

// Mesh files carry the colours, the second texture coordinates and the
// tangents into the engine; the tangents the importer computes for a normal
// map agree with those glTF writers put in the file (mirrored with the
// scene, so the binormal's sign turns).
TEST(GltfMaterialsImportTest, ColoursSecondCoordinatesAndTangentsReachTheEngine) {
  velox_test::ScopedWorkDir dir;
  velox_test::OpenNullWindow();
  auto import = [](bool fileTangents) {
    Gltf g;
    std::string quad = WithMaterial(Quad(g, true), 0);
    if (fileTangents) {
      const int tangents = g.Floats({1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1}, "VEC4");
      quad.insert(quad.find("\"TEXCOORD_0\""), "\"TANGENT\":" + std::to_string(tangents) + ",");
    }
    g.meshes = {"{\"name\":\"Quad\",\"primitives\":[" + quad + "]}"};
    g.more = R"("images":[{"uri":"data:image/png;base64,)" + Base64(Png(2, Checker)) +
             R"("}],"textures":[{"source":0}],"materials":[{"normalTexture":{"index":0}}],)";
    g.nodes = {"{\"name\":\"Quad\",\"mesh\":0}"};
    g.roots = {0};
    g.Save("in/quad.gltf");
    gltfimport::Import("in/quad.gltf", "data/scene.demo", {});
    return std::unique_ptr<engine::gfx::LoadMesh>(
        new engine::gfx::LoadVLXMesh(L"data/scene.demo_scene/Quad.vlx"));
  };
  for (bool fileTangents : {false, true}) {
    SCOPED_TRACE(fileTangents ? "the file's tangents" : "computed tangents");
    const auto mesh = import(fileTangents);
    std::map<std::pair<int, int>, const engine::gfx::PVData*> arrays;
    for (unsigned i = 0; i < mesh->NumData(); ++i)
      arrays[{mesh->GetData(i)->usage, mesh->GetData(i)->usageIndex}] = mesh->GetData(i);
    const auto* colours = arrays.at({10, 0});
    const auto* uv1 = arrays.at({5, 1});
    const auto* tangents = arrays.at({6, 0});
    ASSERT_EQ(colours->type, 3);
    ASSERT_EQ(uv1->type, 1);
    ASSERT_EQ(tangents->type, 3);
    const auto* c = static_cast<const float*>(colours->data);
    const auto* t = static_cast<const float*>(tangents->data);
    const auto* v = static_cast<const float*>(uv1->data);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(c[4 * i + 3], 1.0f);  // RGB colours are opaque
      // Along +x; the binormal cross(n, t) * w, with n = (0, 0, -1) after
      // the mirror, is +y: towards the picture's top.
      EXPECT_NEAR(t[4 * i], 1, 1e-5);
      EXPECT_NEAR(t[4 * i + 1], 0, 1e-5);
      EXPECT_NEAR(t[4 * i + 2], 0, 1e-5);
      EXPECT_EQ(t[4 * i + 3], -1.0f);
    }
    // The second corner: green, and (1, 0) in the second set.
    EXPECT_EQ(std::vector<float>(c + 4, c + 7), std::vector<float>({0, 1, 0}));
    EXPECT_EQ(std::vector<float>(v + 2, v + 4), std::vector<float>({1, 0}));
  }
  engine::ShutDownEngine();
}

}  // namespace
