// Incurve, 56 to 100 s: a fall down a column of 4000 coloured shards, past
// rings that pulse on the beat.
#include <cmath>

#include "content/generator/animation.h"
#include "content/generator/geometry.h"
#include "content/generator/recipes.h"

namespace content {
namespace {

constexpr int kRings = 22;

// A four-sided bipyramid along `axis`; every face gets its own vertices and
// its own patch of uv space, so the program's welding keeps the facets flat.
void Crystal(MeshBuilder& b, Vec3 centre, Vec3 axis, float length, float waist, int& face) {
  axis = Normalize(axis);
  const Vec3 side1 = Normalize(Cross(axis, Vec3{0.3f, 0.1f, 1}));
  const Vec3 side2 = Cross(axis, side1);
  const Vec3 tip = centre + axis * (0.6f * length), tail = centre - axis * (0.4f * length);
  Vec3 ring[4];
  for (int k = 0; k < 4; ++k) {
    const float a = kPi / 2 * k;
    ring[k] = centre + (side1 * std::cos(a) + side2 * std::sin(a)) * waist;
  }
  for (int k = 0; k < 4; ++k) {
    for (const Vec3 apex : {tip, tail}) {
      const float u = 0.0625f * (face % 16);
      Vec3 p = ring[k], q = ring[(k + 1) % 4];
      // Outward: away from the crystal's axis.
      if (Dot(Cross(q - apex, p - apex), (p + q) * 0.5f - centre) < 0) std::swap(p, q);
      b.FlatTriangle(apex, q, p, {u, 0}, {u + 0.06f, 0.9f}, {u, 0.9f});
      ++face;
    }
  }
}

MeshData ShardCluster() {
  MeshBuilder b;
  int face = 0;
  Crystal(b, {0, 0, 0}, {0.3f, 1, 0.2f}, 2.2f, 0.32f, face);
  Crystal(b, {1.1f, 0.7f, -0.6f}, {-0.6f, 0.8f, 0.5f}, 1.2f, 0.2f, face);
  return b.Mesh();
}

MeshData Rings() {
  constexpr int kAround = 32, kTube = 4;
  constexpr float kMajor = 17, kMinor = 0.35f;
  MeshBuilder b;
  for (int k = 0; k < kRings; ++k) {
    const float y = -940 - 38.0f * k;
    const std::uint32_t base = b.Count();
    for (int i = 0; i < kAround; ++i) {
      const float theta = 2 * kPi * i / kAround;
      const Vec3 radial{std::cos(theta), 0, std::sin(theta)};
      for (int j = 0; j < kTube; ++j) {
        const float psi = 2 * kPi * j / kTube;
        const Vec3 n = radial * std::cos(psi) + Vec3{0, std::sin(psi), 0};
        // u mirrored round the ring (0 at +x), v: ring index + the way round the tube.
        b.Vertex(radial * kMajor + Vec3{0, y, 0} + n * kMinor, n,
                 {1 - std::fabs(theta / kPi - 1), k + static_cast<float>(j) / kTube});
      }
    }
    for (int i = 0; i < kAround; ++i) {
      for (int j = 0; j < kTube; ++j) {
        const auto at = [&](int a, int c) {
          return base + static_cast<std::uint32_t>((a % kAround) * kTube + (c % kTube));
        };
        b.QuadFacing(at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1),
                     b.Mesh().normals[at(i, j)]);
      }
    }
  }
  return b.Mesh();
}

std::vector<Shot> Shots() {
  std::vector<Shot> shots;
  // 56-64 s: above the column, tipping over into the dive.
  shots.push_back({{56, {8, -880, -16}, {0, -980, 0}, 0},
                   {60, {4, -915, -8}, {0, -1010, 0}, 10},
                   {64, {1.5f, -975, -2}, {0.5f, -1060, 0}, 25}});
  // 64-80 s: falling on the axis, the view spinning.
  Shot spin;
  for (int i = 0; i <= 16; ++i) {
    const float t = 64 + i, spinAngle = 0.55f * i;
    const float y = -975 - 20.0f * i - 0.3f * i * i;
    spin.push_back({t, {1.5f * std::sin(spinAngle), y, -1.5f * std::cos(spinAngle)},
                    {6 * std::sin(spinAngle + 1.2f), y - 45, 6 * std::cos(spinAngle + 1.2f)},
                    25 + 12.0f * i});
  }
  shots.push_back(spin);
  // 80-88 s: out near the wall, looking along the shards as they stream past.
  Shot wall;
  for (int i = 0; i <= 8; ++i) {
    const float t = 80 + i, a = 0.25f * i;
    const float y = -1370 - 17.0f * i;
    wall.push_back({t, {5 * std::sin(a), y, 5 * std::cos(a)},
                    {12 * std::sin(a + 0.9f), y - 14, 12 * std::cos(a + 0.9f)}, -10});
  }
  shots.push_back(wall);
  // 88-96 s: straight down, fastest, spinning the other way.
  Shot dive;
  for (int i = 0; i <= 8; ++i) {
    const float t = 88 + i, spinAngle = -0.8f * i;
    const float y = -1510 - 26.0f * i;
    dive.push_back({t, {std::sin(spinAngle), y, std::cos(spinAngle)},
                    {3 * std::sin(spinAngle + 2), y - 60, 3 * std::cos(spinAngle + 2)},
                    -20.0f * i});
  }
  shots.push_back(dive);
  // 96-100 s: out of the bottom, turning to see the column from below.
  shots.push_back({{96, {0.5f, -1718, 0.5f}, {2, -1800, 1}, -160},
                   {98, {6, -1790, -10}, {0, -1760, 0}, -175},
                   {100, {16, -1830, -30}, {0, -1700, 0}, -180}});
  return shots;
}

}  // namespace

SceneOutput Incurve() {
  SceneOutput out;
  out.name = "incurve";
  out.meshes["Flashes"] = ShardCluster();
  out.meshes["Rings"] = Rings();
  out.meshes["Backdrop"] = InwardSphere({0, 0, 0}, 400, 32, 16);
  out.meshes["Post"] = ClipQuad(1, 1);

  Scene& s = out.scene;
  s.length = 2500;
  s.objects.push_back({"Lamp", "Core", "", "", {0, -1358, 0}, {}, {}});
  s.objects.push_back({"Lamp", "Top", "", "", {0, -900, 0}, {}, {}});
  for (SceneObject& o : CameraRig(Shots())) s.objects.push_back(std::move(o));
  s.objects.push_back({"Mesh", "Backdrop", "Backdrop", "CamPath", {}, {}, {}});
  s.objects.push_back({"Mesh", "Shards", "Flashes", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "Rings", "Rings", "", {}, {}, {BeatPulse("Beat")}});
  s.objects.push_back({"Mesh", "Post", "Post", "", {}, {}, {
      Smooth("Fade", {{56, 1}, {99.5f, 1}}),
      Smooth("Flash", {{56, 1}, {57.5f, 0}, {98.5f, 0}, {100, 1}}),
      BeatPulse("Beat")}});
  return out;
}

}  // namespace content
