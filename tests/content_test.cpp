// The content writers against the engine's readers, the camera rig against
// the engine's animation, and contentgen as the build runs it: the same
// bytes every run, broken sources stop it with their file and line.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "content/formats/curves.h"
#include "sanitizer/support.h"
#include "content/formats/demo.h"
#include "content/formats/font.h"
#include "content/formats/image.h"
#include "content/formats/vlx.h"
#include "content/generator/animation.h"
#include "content/generator/recipes.h"
#include "engine/VLXMesh.h"
#include "engine/animationController.h"
#include "engine/demoFile.h"
#include "engine/sceneNodes.h"
#include "engine/mesh.h"
#include "game/curves.h"
#include "game/generators.h"
#include "game/random.h"
#include "platform/image.h"
#include "test_support.h"

namespace fs = std::filesystem;
using content::Vec3;

namespace {

const std::uint8_t* Data(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(ContentFormats, MeshesReadBackWithTheirIndexWidth) {
  content::MeshData m;
  m.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 2}};
  m.normals = {{0, 0, -1}, {0, 0, -1}, {0, 0, -1}};
  m.uvs = {{0, 0}, {1, 0}, {0, 1}};
  m.indices = {0, 1, 2};
  const std::string bytes = content::VlxBytes(m);
  engine::gfx::LoadVLXMesh mesh(bytes.data(), bytes.size(), L"small.vlx");
  EXPECT_EQ(mesh.NumVertices(), 3);
  EXPECT_EQ(mesh.NumIndices(), 3);
  EXPECT_EQ(mesh.IndexStride(), 2);
  const auto* p = static_cast<const float*>(mesh.GetData(engine::gfx::MeshData::Positions)->data);
  EXPECT_FLOAT_EQ(p[8], 2.0f);
  EXPECT_TRUE(mesh.IsAvailable(engine::gfx::MeshData::Normals));
  const auto* uv = static_cast<const float*>(mesh.GetData(engine::gfx::MeshData::TexCoords)->data);
  EXPECT_FLOAT_EQ(uv[5], 1.0f);

  // An index past the signed 16-bit range needs 4 bytes.
  m.positions.resize(40000);
  m.normals.clear();
  m.uvs.clear();
  m.indices = {0, 39999, 1};
  const std::string wide = content::VlxBytes(m);
  engine::gfx::LoadVLXMesh big(wide.data(), wide.size(), L"big.vlx");
  EXPECT_EQ(big.IndexStride(), 4);
  EXPECT_EQ(big.NumVertices(), 40000);
  EXPECT_FALSE(big.IsAvailable(engine::gfx::MeshData::Normals));
}

TEST(ContentFormats, CurvesAndMatricesReadBack) {
  content::BezierSpline s;
  s.points = {{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, {{2, 0, 0}, {3, 0, 0}, {3, 0, 0}}};
  s.segmentLengths = content::SegmentLengths(s.points);
  EXPECT_NEAR(s.segmentLengths[0], 3.0f, 1e-4f);  // a straight segment
  const std::string bytes = content::CurvesBytes({{"Line", {0, 0, 10}, {0, 0, 0}, {s, s}}});
  const demo::CurveSet curves = demo::ReadCurves(Data(bytes), bytes.size());
  ASSERT_EQ(curves.at("Line").size(), 2u);
  const demo::Spline& read = curves.at("Line")[0];
  EXPECT_FLOAT_EQ(read.points[1].knot.z, 10.0f);  // moved by the object's location
  EXPECT_NEAR(read.lengths.back(), 3.0f, 1e-4f);
  EXPECT_NEAR(read.Evaluate(1.5f).x, 1.5f, 1e-5f);

  const std::string matrices = content::MatrixBytes(
      {{"A", {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {5, 6, 7, 1}}}});
  const demo::MatrixSet m = demo::ReadMatrices(Data(matrices), matrices.size());
  EXPECT_FLOAT_EQ(m.at("A").m[3][1], 6.0f);
}

TEST(ContentFormats, PicturesReadBack) {
  content::Image img(5, 3);  // odd width: BMP rows are padded
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) img.Set(x, y, x / 4.0f, y / 2.0f, 0.5f, (x + y) / 6.0f);
  for (const std::string& bytes : {content::DdsBytes(img), content::BmpBytes(img), content::PngBytes(img)}) {
    platform::image::Image out;
    std::string error;
    ASSERT_TRUE(platform::image::Decode(bytes.data(), bytes.size(), out, error)) << error;
    ASSERT_EQ(out.width, 5);
    ASSERT_EQ(out.height, 3);
    const bool bmp = bytes.compare(0, 2, "BM") == 0;
    for (int i = 0; i < 15; ++i) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(out.faces[0][0].bytes[i * 4 + c], img.bgra[i * 4 + c]) << i;
      EXPECT_EQ(out.faces[0][0].bytes[i * 4 + 3], bmp ? 255 : img.bgra[i * 4 + 3]) << i;
    }
  }
}

TEST(ContentFormats, TextCoversItsBox) {
  content::Font font;
  ASSERT_TRUE(font.Load("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  EXPECT_FALSE(content::Font().Load("/nonexistent.ttf"));
  EXPECT_EQ(content::CodePoints("a\xE2\x99\xAA\xFF"), (std::vector<int>{'a', 0x266A, 0xFFFD}));
  content::Mask mask(200, 60);
  const float width = font.Width("Quiet Port", 40);
  EXPECT_GT(width, 100.0f);
  font.DrawCentred(mask, "Quiet Port", 100, 45, 40);
  int covered = 0, left = 200, right = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x)
      if (mask.At(x, y) > 0.5f) ++covered, left = std::min(left, x), right = std::max(right, x);
  EXPECT_GT(covered, 300);
  EXPECT_NEAR(0.5f * (left + right), 100.0f, 3.0f);  // centred
  EXPECT_NEAR(static_cast<float>(right - left), width, 6.0f);
}

// The rig's curves, played by the engine's own animation, look from the
// eye at the target, and a cut jumps within a frame.
TEST(ContentAnimation, CameraRigLooksAtItsTarget) {
  const std::vector<content::Shot> shots = {
      {{0, {0, 10, -30}, {0, 0, 0}}, {4, {30, 20, 0}, {0, 5, 0}}},
      {{4, {-50, 2, 50}, {-50, 40, 80}, 30}}};
  content::Scene scene{100, content::CameraRig(shots)};
  const std::string bytes = content::DemoBytes(scene);
  engine::gfx::DemoLoader* loader = engine::gfx::DemoLoader::CreateInstance(bytes.data(), bytes.size(), L"rig.demo");
  const auto controller = [&](const char* name) {
    return dynamic_cast<engine::gfx::AnimationNode&>(*loader->GetNode(name)).Controller();
  };
  const auto check = [&](float seconds, Vec3 eye, Vec3 target) {
    SCOPED_TRACE(seconds);
    engine::gfx::Transformation path, rig;
    controller("CamPath")->SetTime(seconds * 25);
    controller("CamPath")->Evaluate(path);
    controller("CamRig")->SetTime(seconds * 25);
    controller("CamRig")->Evaluate(rig);
    const engine::math::Vector3f at = path.Translate();
    EXPECT_NEAR(at.x, eye.x, 0.05f);
    EXPECT_NEAR(at.y, eye.y, 0.05f);
    EXPECT_NEAR(at.z, eye.z, 0.05f);
    // Row vectors: the camera's forward is its z axis taken through the rig.
    const engine::math::Vector3f forward = engine::math::Vector3f(0, 0, 1) * rig.Rotate();
    engine::math::Vector3f wanted(target.x - eye.x, target.y - eye.y, target.z - eye.z);
    wanted = wanted * (1.0f / std::sqrt(wanted * wanted));
    EXPECT_GT(forward * wanted, 0.9995f);
  };
  check(0, {0, 10, -30}, {0, 0, 0});
  check(4 - 0.001f, {30, 20, 0}, {0, 5, 0});
  check(4.02f, {-50, 2, 50}, {-50, 40, 80});
  loader->DestroyInstance();
}

// The shard as the program makes Flashes from it: welded, then copied. No
// copy may collapse a triangle that the welded shard has whole.
TEST(ContentMeshes, FlashesCopyTheShardWithoutCollapsedTriangles) {
  velox_test::ScopedWorkDir dir;
  velox_test::CloseLog();
  const auto degenerate = [](engine::gfx::LoadMesh& mesh) {
    const auto* p = static_cast<const engine::math::Vector3f*>(
        mesh.GetData(engine::gfx::MeshData::Positions)->data);
    int count = 0;
    for (int k = 0; k + 2 < mesh.NumIndices(); k += 3) {
      const engine::math::Vector3f a = p[mesh.Index(k)], b = p[mesh.Index(k + 1)], c = p[mesh.Index(k + 2)];
      count += ((b - a) ^ (c - a)).MagSquared() == 0.0f;
    }
    return count;
  };
  const std::string bytes = content::VlxBytes(content::Incurve().meshes.at("Flashes"));
  auto* shard = new engine::gfx::LoadVLXMesh(bytes.data(), bytes.size(), L"Flashes.vlx");
  shard->OptimizeMesh(180);
  ASSERT_EQ(degenerate(*shard), 0);
  demo::FillRandomTable();
  engine::gfx::LoadMesh* flashes = demo::MakeFlashes(shard);
  EXPECT_EQ(flashes->NumIndices(), 4000 * shard->NumIndices());
  EXPECT_EQ(degenerate(*flashes), 0);
  shard->DestroyItself();
  flashes->DestroyItself();
}

// contentgen as the build runs it.
class Contentgen : public ::testing::Test {
 protected:
  void SetUp() override { velox_test::WriteText("./music.txt", "0 0.0000\n100 20.5000\n106 0.0000\n"); }
  static std::string Bin(const char* name) { return std::string(VELOX_BIN_DIR) + "/" + name; }
  // shell: what runs before contentgen in the same shell (limits).
  int Run(const std::string& source, const std::string& root, bool validate, std::string* errors = nullptr,
          const std::string& music = "music.txt", const std::string& shell = "") {
    const fs::path log = mDir.Path() / "stderr.txt";
    const std::string command = shell + Bin("contentgen") + " --source " + source + " --root " + root +
                                " --music-curve " + music +
                                (validate ? " --fxcheck " + Bin("fxcheck") : " --no-validate") + " > /dev/null 2> " +
                                log.string();
    const int status = std::system(command.c_str());
    const std::string text = velox_test::ReadFile(log);
    // A sanitizer's report also ends the program with 1: never an expected failure.
    EXPECT_EQ(velox_test::SanitizerReport(text), "") << text;
    if (errors) *errors = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = velox_test::ReadFile(e.path());
    return files;
  }
  velox_test::ScopedWorkDir mDir{false};
};

TEST_F(Contentgen, WritesTheSameBytesEveryRun) {
  const std::string source = std::string(VELOX_SOURCE_DIR) + "/content";
  ASSERT_EQ(Run(source, "one", false), 0);
  ASSERT_EQ(Run(source, "two", false), 0);
  const auto one = Tree("one"), two = Tree("two");
  EXPECT_GT(one.size(), 40u);
  EXPECT_TRUE(one == two);
  EXPECT_TRUE(one.count("data/city.demo_scene/RegionCenter.vlx"));
  EXPECT_TRUE(one.count("content/title.bmp"));
}

// Without the music curve there is nothing to build the field of view
// from; a file that cannot be written fails the run and leaves no part of
// itself under its name.
TEST_F(Contentgen, MissingMusicOrFailedWritesStopIt) {
  const std::string source = std::string(VELOX_SOURCE_DIR) + "/content";
  std::string errors;
  EXPECT_EQ(Run(source, "none", false, &errors, "nowhere/curve.txt"), 1);
  EXPECT_NE(errors.find("nowhere/curve.txt:1: error: cannot read the music curve"), std::string::npos) << errors;
  EXPECT_FALSE(fs::exists("none"));
  velox_test::WriteText("./bad.txt", "0 0\n100 oops\n");
  EXPECT_EQ(Run(source, "none", false, &errors, "bad.txt"), 1);
  EXPECT_NE(errors.find("bad.txt:2: error:"), std::string::npos) << errors;

  ASSERT_EQ(Run(source, "whole", false), 0);
  // Files are cut at 32 KiB, and writing past that fails instead of killing.
  EXPECT_EQ(Run(source, "cut", false, &errors, "music.txt", "trap \"\" XFSZ; ulimit -f 64; "), 1);
  EXPECT_NE(errors.find(": error: cannot write the file"), std::string::npos) << errors;
  const auto whole = Tree("whole"), cut = Tree("cut");
  EXPECT_LT(cut.size(), whole.size());
  for (const auto& [path, bytes] : cut) {
    const auto it = whole.find(path);
    ASSERT_NE(it, whole.end()) << "left behind: " << path;
    EXPECT_TRUE(bytes == it->second) << "cut short: " << path;
  }
}

// Each case breaks one source, checks that the run stops naming the file
// and the line of the fault, and mends the source again.
TEST_F(Contentgen, BrokenSourcesStopItWithFileAndLine) {
  fs::create_directories("src");
  fs::copy(fs::path(VELOX_SOURCE_DIR) / "content" / "fx", "src/fx", fs::copy_options::recursive);
  fs::copy(fs::path(VELOX_SOURCE_DIR) / "content" / "materials", "src/materials", fs::copy_options::recursive);
  std::string errors;
  ASSERT_EQ(Run("src", "out", true, &errors), 0) << errors;

  const struct {
    const char* file;
    const char* fault;    // a line added at the end
    const char* message;  // part of the error
  } cases[] = {
      {"src/materials/city/Sky.vlx.efx", "effect[1].pass[1].params[1] = { 'NoiseMap', 'tex', 'data/textures/none.dds' }",
       "data/textures/none.dds does not exist"},
      {"src/fx/cards.fx", "float4 Broken() { return missingValue; }", "'missingValue' : unknown variable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string original = velox_test::ReadFile(c.file);
    const std::string broken = original + "\n" + c.fault + "\n";
    const auto line = std::count(broken.begin(), broken.begin() + broken.find(c.fault), '\n') + 1;
    velox_test::WriteText(c.file, broken);
    EXPECT_EQ(Run("src", "out", true, &errors), 1);
    EXPECT_NE(errors.find(std::string(c.file) + ":" + std::to_string(line) + ":"), std::string::npos)
        << "line " << line << ":\n" << errors;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    velox_test::WriteText(c.file, original);
  }
}

}  // namespace
