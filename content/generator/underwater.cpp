// Underwater, 0 to 56 s: deep water, light from far above, a long luminous
// oarfish-like creature coiling down through the plankton.
#include <cmath>

#include "content/generator/animation.h"
#include "content/generator/geometry.h"
#include "content/generator/recipes.h"

namespace content {
namespace {

// The creature's object sits here; its mesh and "Curve" are local to it.
const Vec3 kCreatureAt{-20, 0, -5};
const Vec3 kSun{-60, 220, 40};

// A descending coil: three turns from y 22 down to y -100 around the
// object's vertical axis.
std::vector<Vec3> CoilKnots() {
  std::vector<Vec3> knots;
  constexpr int kKnots = 28;
  for (int i = 0; i <= kKnots; ++i) {
    const float f = static_cast<float>(i) / kKnots;
    const float theta = f * 3.1f * 2 * kPi;
    const float r = 13 + 3 * std::sin(0.7f * theta);
    const float y = 22 - 122 * f + 2.5f * std::sin(1.3f * theta);
    knots.push_back({r * std::cos(theta), y, 0.9f * r * std::sin(theta)});
  }
  return knots;
}

float BodyRadius(float a) {
  const float head = 0.1f + 0.9f * std::sqrt(Smoothstep(0.0f, 0.015f, a));
  return 1.6f * head * (1 - 0.85f * std::pow(a, 1.5f));
}

// Body: an elliptic tube, wide vertically and thin radially, so that its
// flank faces the viewer outside the coil; a frill along the top and the
// bottom edge, each a thin two-sided sheet.
MeshData Creature(const BezierSpline& coil) {
  constexpr int kSides = 8;
  const std::vector<Frame> frames = SampleFrames(coil, 1.2f, {0, 1, 0});
  const float total = frames.back().arc;
  struct Ring {
    Vec3 centre, n, b;  // n radial (thin axis), b mostly vertical (wide axis)
    float radius, v, a;
  };
  std::vector<Ring> rings;
  for (const Frame& f : frames) {
    const Vec3 radial = Normalize(Vec3{f.position.x, 0, f.position.z});
    const Vec3 b = Normalize(Cross(f.tangent, radial));
    const Vec3 n = Cross(b, f.tangent);
    const float a = f.arc / total;
    rings.push_back({f.position, n, b, BodyRadius(a), f.arc / 4, a});
  }

  MeshBuilder mesh;
  std::vector<std::uint32_t> first;
  for (const Ring& r : rings) {
    first.push_back(mesh.Count());
    for (int k = 0; k < kSides; ++k) {
      const float phi = 2 * kPi * k / kSides;
      const Vec3 offset = r.n * (std::cos(phi) * 0.5f * r.radius) + r.b * (std::sin(phi) * r.radius);
      const Vec3 normal = Normalize(r.n * (std::cos(phi) / 0.5f) + r.b * std::sin(phi));
      // 0 on the dorsal line (phi = pi/2), 0.5 on the belly, both flanks alike.
      float fromTop = phi - kPi / 2;
      if (fromTop > kPi) fromTop -= 2 * kPi;
      mesh.Vertex(r.centre + offset, normal, {std::fabs(fromTop) / (2 * kPi), r.v});
    }
  }
  for (std::size_t i = 0; i + 1 < rings.size(); ++i) {
    for (int k = 0; k < kSides; ++k) {
      const std::uint32_t k1 = static_cast<std::uint32_t>((k + 1) % kSides);
      mesh.Quad(first[i] + k, first[i] + k1, first[i + 1] + k1, first[i + 1] + k);
    }
  }

  // Frills: scalloped edges; the two sides 0.08 apart so that welding keeps
  // them separate.
  for (const float side : {1.0f, -1.0f}) {  // dorsal, ventral
    for (const float face : {1.0f, -1.0f}) {
      std::vector<std::uint32_t> root, edge;
      for (const Ring& r : rings) {
        const float scallop = 0.75f + 0.25f * std::sin(r.v * 4 * 2.1f);
        const float height = (side > 0 ? 1.3f : 0.8f) * r.radius * scallop *
                             Smoothstep(0.005f, 0.03f, r.a) * (1 - Smoothstep(0.95f, 0.99f, r.a));
        const Vec3 shift = r.n * (0.04f * face);
        const Vec3 normal = r.n * face;
        root.push_back(mesh.Vertex(r.centre + r.b * (side * 0.92f * r.radius) + shift, normal, {0.5f, r.v}));
        edge.push_back(mesh.Vertex(r.centre + r.b * (side * (r.radius + height)) + shift, normal, {1.0f, r.v}));
      }
      for (std::size_t i = 0; i + 1 < rings.size(); ++i) {
        mesh.QuadFacing(root[i], root[i + 1], edge[i + 1], edge[i], rings[i].n * face);
      }
    }
  }
  return mesh.Mesh();
}

MeshData Seabed() {
  MeshBuilder b;
  const Vec3 centre{-20, -118, -5};
  b.Sheet(
      64, 64,
      [&](float u, float v) {
        const float x = centre.x + (u - 0.5f) * 600, z = centre.z + (v - 0.5f) * 600;
        const float dx = x - centre.x, dz = z - centre.z;
        const float r = std::sqrt(dx * dx + dz * dz);
        float h = 5 * Fbm3(x / 45, 0.5f, z / 45, 4);
        // Rocky ridges, and the basin's walls rising far out.
        h += 6 * std::pow(1 - std::fabs(Noise3(x / 28, 3.7f, z / 28)), 4.0f);
        h += 55 * Smoothstep(140, 300, r) * (0.7f + 0.3f * Fbm3(x / 60, 9.1f, z / 60, 3));
        return Vec3{x, centre.y + h, z};
      },
      {600.0f / 12, 600.0f / 12}, true);
  return b.Mesh();
}

// Shafts of light from the surface, slanted away from the sun: two crossed
// sheets each, both sides.
MeshData Shafts() {
  MeshBuilder b;
  Random rnd(7);
  const Vec3 axis = Normalize(Vec3{-20, -40, -5} - kSun);
  for (int i = 0; i < 12; ++i) {
    const Vec3 top{rnd.Range(-85, 45), 70, rnd.Range(-45, 35)};
    const Vec3 bottom = top + axis * ((-125 - 70) / axis.y);
    const float width = rnd.Range(6, 14);
    const Vec3 across1 = Normalize(Cross(axis, Vec3{std::cos(i * 1.3f), 0, std::sin(i * 1.3f)}));
    const Vec3 across2 = Cross(axis, across1);
    for (const Vec3 across : {across1, across2}) {
      const Vec3 a = top - across * (0.5f * width), c = bottom + across * (0.65f * width);
      const Vec3 bb = top + across * (0.5f * width), d = bottom - across * (0.65f * width);
      const Vec3 facing = Cross(across, axis);
      for (const float s : {1.0f, -1.0f}) {
        const std::uint32_t v0 = b.Vertex(a, facing * s, {0, 0}), v1 = b.Vertex(bb, facing * s, {1, 0});
        const std::uint32_t v2 = b.Vertex(c, facing * s, {1, 1}), v3 = b.Vertex(d, facing * s, {0, 1});
        b.QuadFacing(v0, v1, v2, v3, facing * s);
      }
    }
  }
  return b.Mesh();
}

// Where the camera sees the coil from: a point of the coil (world), pushed
// out from its axis and lifted.
Vec3 OnCoil(const std::vector<Frame>& frames, float a, float out, float up) {
  const Frame& f = frames[static_cast<std::size_t>(Clamp01(a) * (frames.size() - 1))];
  const Vec3 radial = Normalize(Vec3{f.position.x, 0, f.position.z});
  return kCreatureAt + f.position + radial * out + Vec3{0, up, 0};
}

std::vector<Shot> Shots(const BezierSpline& coil) {
  const std::vector<Frame> frames = SampleFrames(coil, 1.0f, {0, 1, 0});
  std::vector<Shot> shots;
  // 0-8 s: the title over dark water; sinking towards the creature's head.
  shots.push_back({{0, {-22, 52, -70}, {-14, 14, -5}}, {8, {-18, 38, -52}, {-12, 8, -5}}});
  // 8-16 s: the whole upper coil from the side while the flashes run along it.
  shots.push_back({{8, {-6, 10, -96}, {-20, -6, -5}}, {16, {-12, 2, -84}, {-20, -12, -5}, -4}});
  // 16-30 s: alongside the body, following it down.
  Shot follow;
  for (int i = 0; i <= 7; ++i) {
    const float t = 16 + 2.0f * i, a = 0.12f + 0.045f * i;
    follow.push_back({t, OnCoil(frames, a, 17, 7), OnCoil(frames, a + 0.05f, 0, -1), 6.0f * std::sin(i * 0.9f)});
  }
  shots.push_back(follow);
  // 30-42 s: under the coil, circling and looking up at it against the light.
  Shot under;
  for (int i = 0; i <= 6; ++i) {
    const float a = -0.6f + 0.28f * i;
    under.push_back({30 + 2.0f * i, {-20 + 52 * std::sin(a), -92 + 2.0f * i, -5 - 52 * std::cos(a)},
                     {-20, -34 + 2.0f * i, -5}, 8.0f * std::sin(0.7f * i)});
  }
  shots.push_back(under);
  // 42-47 s: from the sea floor, close under the lowest turns as they pass
  // overhead against the light (the turns above, seen from afar until now).
  shots.push_back({{42, kCreatureAt + Vec3{26, -103, -20}, kCreatureAt + Vec3{0, -60, 0}, -8},
                   {47, kCreatureAt + Vec3{14, -105, -29}, kCreatureAt + Vec3{-5, -68, 2}, 4}});
  // 47-52 s: alongside the lower turns down to the sea floor.
  Shot lower;
  for (int i = 0; i <= 3; ++i) {
    const float t = 47 + 5.0f / 3 * i, a = 0.75f + 0.05f * i;
    lower.push_back({t, OnCoil(frames, a, 12 - i, 6 - 0.5f * i), OnCoil(frames, a + 0.04f, 0, -2), -5.0f});
  }
  shots.push_back(lower);
  // 52-56 s: the rise: swooping down on the tail, the sea floor below
  // (the camera stays well above it).
  shots.push_back({{52, OnCoil(frames, 0.84f, 18, 12), OnCoil(frames, 0.93f, 0, 0)},
                   {54, OnCoil(frames, 0.92f, 12, 8), OnCoil(frames, 0.985f, 0, -2), 10},
                   {56, OnCoil(frames, 0.97f, 8, 5), OnCoil(frames, 1.0f, -2, -6), 25}});
  return shots;
}

}  // namespace

SceneOutput Underwater(const MusicKnots& music) {
  SceneOutput out;
  out.name = "underwater";
  const BezierSpline coil = SplineThrough(CoilKnots());

  std::vector<Vec3> musicKnots;
  for (const auto& [frame, value] : music) musicKnots.push_back({frame, value, 0});
  out.files["underwater.curves"] =
      CurvesBytes({{"Curve", kCreatureAt, {}, {coil}}, {"MusicCurve", {}, {}, {StraightSpline(musicKnots)}}});
  out.files["underwater.matrix"] = MatrixBytes({Translation("Curve", kCreatureAt)});

  out.meshes["Mesh"] = Creature(coil);
  out.meshes["Seabed"] = Seabed();
  out.meshes["Shafts"] = Shafts();
  out.meshes["Backdrop"] = InwardSphere({-20, -40, -5}, 600, 32, 16);
  out.meshes["Title"] = ClipQuad(0.8f, 0.2667f);
  out.meshes["Post"] = ClipQuad(1, 1);

  Scene& s = out.scene;
  s.length = 1400;
  s.objects.push_back({"Lamp", "Sun", "", "", kSun, {}, {}});
  s.objects.push_back({"Lamp", "Lure", "", "", {-20, -40, -5}, {}, {}});
  for (SceneObject& o : CameraRig(Shots(coil))) s.objects.push_back(std::move(o));
  s.objects.push_back({"Mesh", "Backdrop", "Backdrop", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "Seabed", "Seabed", "", {}, {}, {}});
  // The shafts sway a little as the surface far above moves: two cycles of
  // different length (rotation curves count in tens of degrees).
  s.objects.push_back({"Mesh", "Shafts", "Shafts", "", {}, {}, {
      Smooth("RotZ", {{0, 0}, {3.5f, 0.12f}, {7, 0}}, "Cyclic"),
      Smooth("RotX", {{0, 0}, {5, -0.1f}, {10, 0}}, "Cyclic")}});
  s.objects.push_back({"Mesh", "Creature", "Mesh", "", kCreatureAt, {}, {
      Smooth("Glow", {{0, 0.25f}, {8, 0.35f}, {16, 0.6f}, {44, 0.7f}, {52, 0.8f}, {56, 1.0f}})}});
  s.objects.push_back({"Mesh", "HighPitch", "HighPitch", "", kCreatureAt, {}, {}});
  s.objects.push_back({"Mesh", "Plankton", "Grid", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "Title", "Title", "", {}, {}, {
      Smooth("Fade", {{0.5f, 0}, {2.5f, 1}, {6.5f, 1}, {8, 0}}),
      Steps("Layer", {{0, 1}, {8.5f, 2}})}});
  s.objects.push_back({"Mesh", "Post", "Post", "", {}, {}, {
      Smooth("Fade", {{0, 0}, {3, 1}}),
      // A flash into the cut, short of white so the picture stays.
      Smooth("Flash", {{0, 0}, {54.5f, 0}, {56, 0.8f}})}});
  return out;
}

}  // namespace content
