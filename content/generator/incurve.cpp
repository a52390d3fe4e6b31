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
  // 56-64 s: above the column and outside it, tipping over into the dive.
  shots.push_back({{56, {34, -870, -46}, {0, -985, 0}, 0},
                   {60, {20, -905, -24}, {0, -1010, 0}, 8},
                   {64, {3, -975, -3}, {-7, -995, 7}, 20}});
  // 64-80 s: falling inside, looking down across at the wall, the view
  // turning round the axis.
  Shot spin;
  for (int i = 0; i <= 16; ++i) {
    const float t = 64 + i, a = 0.45f * i;
    const float y = -975 - 20.0f * i - 0.3f * i * i;
    spin.push_back({t, {3 * std::sin(a), y, -3 * std::cos(a)},
                    {-10 * std::sin(a + 0.5f), y - 16, 10 * std::cos(a + 0.5f)}, 20 + 10.0f * i});
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
  // 88-96 s: fastest, turning the other way.
  Shot dive;
  for (int i = 0; i <= 8; ++i) {
    const float t = 88 + i, a = -0.6f * i;
    const float y = -1510 - 26.0f * i;
    dive.push_back({t, {2 * std::sin(a), y, 2 * std::cos(a)},
                    {-10 * std::sin(a - 0.6f), y - 22, -10 * std::cos(a - 0.6f)}, -15.0f * i});
  }
  shots.push_back(dive);
  // 96-100 s: out through the wall near the bottom, the column beside.
  shots.push_back({{96, {1, -1718, 1}, {12, -1745, 12}, -120},
                   {98, {16, -1745, 16}, {0, -1735, 0}, -150},
                   {100, {34, -1770, 34}, {0, -1700, 0}, -175}});
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
      Smooth("Flash", {{56, 0.8f}, {57.5f, 0}, {98.5f, 0}, {100, 0.8f}}),
      BeatPulse("Beat")}});
  return out;
}

}  // namespace content
