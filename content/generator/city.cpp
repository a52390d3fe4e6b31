// City, 100 to 152 s: a city at dusk on a river; towers in the centre, low
// houses round it, clouds, a ring of haze, notes spiralling round the spire,
// the sun low behind the skyline.
#include <algorithm>
#include <cmath>

#include "content/generator/animation.h"
#include "content/generator/geometry.h"
#include "content/generator/recipes.h"

namespace content {
namespace {

const Vec3 kSun{-90, 60, 700};
const Vec3 kCloudsAt{0, 55, 0};  // a layer just above the towers; the spire reaches into it
constexpr float kWater = -1.5f;
constexpr float kFooting = -1.5f;  // walls start below the ground's undulation, so nothing floats
constexpr float kWindowTileWidth = 32, kWindowTileHeight = 28;  // 8 windows, 8 floors
constexpr float kMastTops = 46;  // above every roof: the towers' shader (MastTops) lights all above it

std::vector<Vec3> RiverKnots() {
  const float xz[][2] = {{-560, 150}, {-380, 95}, {-240, 20}, {-130, -30}, {-50, -42}, {20, -36},
                         {90, -8},    {170, -20}, {270, -70}, {400, -110}, {560, -130}};
  std::vector<Vec3> knots;
  for (const auto& p : xz) knots.push_back({p[0], kWater, p[1]});
  return knots;
}

// Distance on the ground plane to the river's centre line.
class RiverDistance {
 public:
  explicit RiverDistance(const BezierSpline& river) {
    for (const Frame& f : SampleFrames(river, 2.0f, {0, 1, 0})) mPoints.push_back(f.position);
  }
  float operator()(float x, float z) const {
    float best = 1e30f;
    for (const Vec3& p : mPoints) best = std::min(best, (p.x - x) * (p.x - x) + (p.z - z) * (p.z - z));
    return std::sqrt(best);
  }

 private:
  std::vector<Vec3> mPoints;
};

float GroundHeight(float x, float z, float river) {
  const float r = std::sqrt(x * x + z * z);
  float h = 0.6f * Fbm3(x / 70, 1.3f, z / 70, 3);
  // Hills round the city, kept low towards the sun so it sets behind the
  // towers rather than behind a hill, and away from the river's valley.
  const float towardSun = Clamp01(Dot(Normalize(Vec3{x, 0, z}), Normalize(Vec3{kSun.x, 0, kSun.z})));
  const float hills = (22 + 28 * Fbm3(x / 140, 4.2f, z / 140, 4)) * (1 - 0.85f * Smoothstep(0.55f, 0.9f, towardSun));
  h += Smoothstep(230, 430, r) * hills * Smoothstep(12, 70, river);
  // The river's channel: bed, then quay walls up to the city.
  return Lerp(-4.0f, h, Smoothstep(8, 10.5f, river));
}

MeshData Ground(const RiverDistance& river) {
  MeshBuilder b;
  // Fine in the middle, coarse far out: x = 520 s (0.28 + 0.72 s^2).
  const auto warp = [](float s) { return 520 * s * (0.28f + 0.72f * s * s); };
  b.Sheet(
      100, 100,
      [&](float u, float v) {
        const float x = warp(2 * u - 1), z = warp(2 * v - 1);
        return Vec3{x, GroundHeight(x, z, river(x, z)), z};
      },
      {1, 1}, true);
  // World-space texture coordinates: the sheet's own are per cell.
  MeshData& m = b.Mesh();
  for (std::size_t i = 0; i < m.positions.size(); ++i) m.uvs[i] = {m.positions[i].x / 10, m.positions[i].z / 10};
  return m;
}

MeshData River(const BezierSpline& curve) {
  MeshBuilder b;
  const std::vector<Frame> frames = SampleFrames(curve, 3.0f, {0, 1, 0});
  constexpr int kAcross = 4;
  constexpr float kHalfWidth = 10.5f;  // under the quays, so no gap shows at the bank
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const Vec3 side = Normalize(Cross(Vec3{0, 1, 0}, frames[i].tangent));
    for (int k = 0; k <= kAcross; ++k) {
      const float s = static_cast<float>(k) / kAcross;
      b.Vertex(frames[i].position + side * ((2 * s - 1) * kHalfWidth), {0, 1, 0}, {s, frames[i].arc / 18});
    }
    if (i == 0) continue;
    for (int k = 0; k < kAcross; ++k) {
      const auto at = [&](std::size_t r, int c) { return static_cast<std::uint32_t>(r * (kAcross + 1) + c); };
      b.QuadFacing(at(i - 1, k), at(i - 1, k + 1), at(i, k + 1), at(i, k), {0, 1, 0});
    }
  }
  return b.Mesh();
}

// The size of one tile of 8 x 8 windows on a facade: each tower has its own
// window width and storey height.
struct Facade {
  float width = kWindowTileWidth, height = kWindowTileHeight;
};

// A wall from p to q (on the ground plane) between heights y0 and y1, facing
// `out`; windows tile along it from p.
void Wall(MeshBuilder& b, Vec3 p, Vec3 q, float y0, float y1, Vec3 out, float u0 = 0, Facade facade = {}) {
  const float u1 = u0 + Length(q - p) / facade.width;
  const float v0 = -y0 / facade.height, v1 = -y1 / facade.height;
  const Vec3 n = Normalize(out);
  const std::uint32_t a = b.Vertex({p.x, y0, p.z}, n, {u0, v0}), c = b.Vertex({q.x, y0, q.z}, n, {u1, v0});
  const std::uint32_t d = b.Vertex({q.x, y1, q.z}, n, {u1, v1}), e = b.Vertex({p.x, y1, p.z}, n, {u0, v1});
  b.QuadFacing(a, c, d, e, n);
}

// A prism: a polygon footprint (counter-clockwise seen from above) raised
// from y0 to y1, with a flat roof.
void Prism(MeshBuilder& b, const std::vector<Vec3>& footprint, float y0, float y1, Facade facade = {}) {
  const std::size_t n = footprint.size();
  Vec3 centre{};
  for (const Vec3& p : footprint) centre = centre + p * (1.0f / n);
  float u = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Vec3 p = footprint[i], q = footprint[(i + 1) % n];
    const Vec3 mid = (p + q) * 0.5f;
    Wall(b, p, q, y0, y1, Vec3{mid.x - centre.x, 0, mid.z - centre.z}, u, facade);
    u += Length(q - p) / facade.width;
  }
  const Vec3 up{0, 1, 0};
  const std::uint32_t c = b.Vertex({centre.x, y1, centre.z}, up, {centre.x / 32, centre.z / 32});
  std::vector<std::uint32_t> rim;
  for (const Vec3& p : footprint) rim.push_back(b.Vertex({p.x, y1, p.z}, up, {p.x / 32, p.z / 32}));
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t p = rim[i], q = rim[(i + 1) % n];
    const auto& pos = b.Mesh().positions;
    if (Dot(Cross(pos[p] - pos[c], pos[q] - pos[c]), up) >= 0) b.Triangle(c, p, q);
    else b.Triangle(c, q, p);
  }
}

std::vector<Vec3> Rectangle(Vec3 centre, float w, float d, float angle) {
  const Vec3 ax{std::cos(angle), 0, std::sin(angle)}, az{-std::sin(angle), 0, std::cos(angle)};
  return {centre - ax * w - az * d, centre + ax * w - az * d, centre + ax * w + az * d, centre - ax * w + az * d};
}

std::vector<Vec3> Polygon(Vec3 centre, float radius, int sides, float angle) {
  std::vector<Vec3> p;
  for (int i = 0; i < sides; ++i) {
    const float a = angle + 2 * kPi * i / sides;
    p.push_back(centre + Vec3{std::cos(a), 0, std::sin(a)} * radius);
  }
  return p;
}

std::vector<Vec3> Scaled(const std::vector<Vec3>& poly, float s) {
  Vec3 centre{};
  for (const Vec3& p : poly) centre = centre + p * (1.0f / poly.size());
  std::vector<Vec3> out;
  for (const Vec3& p : poly) out.push_back(centre + (p - centre) * s);
  return out;
}

// The spire at the origin: an octagon tapering in steps to a needle.
void Spire(MeshBuilder& b) {
  const float levels[][2] = {{kFooting, 3.6f}, {24, 3.2f}, {44, 2.5f}, {56, 1.6f}, {64, 0.7f}, {72, 0.05f}};
  for (int l = 0; l + 1 < 6; ++l) {
    const float y0 = levels[l][0], y1 = levels[l + 1][0];
    const std::vector<Vec3> lo = Polygon({}, levels[l][1], 8, kPi / 8), hi = Polygon({}, levels[l + 1][1], 8, kPi / 8);
    for (int i = 0; i < 8; ++i) {
      const int j = (i + 1) % 8;
      const Vec3 a{lo[i].x, y0, lo[i].z}, c{lo[j].x, y0, lo[j].z}, d{hi[j].x, y1, hi[j].z}, e{hi[i].x, y1, hi[i].z};
      const Vec3 out = Normalize(Cross(c - a, e - a));
      // Windows at a third of the towers' size, so the slender spire reads tall.
      const float w = 3 * Length(c - a) / kWindowTileWidth, v0 = -3 * y0 / kWindowTileHeight, v1 = -3 * y1 / kWindowTileHeight;
      const std::uint32_t va = b.Vertex(a, out, {0, v0}), vc = b.Vertex(c, out, {w, v0});
      const std::uint32_t vd = b.Vertex(d, out, {w, v1}), ve = b.Vertex(e, out, {0, v1});
      b.QuadFacing(va, vc, vd, ve, Vec3{(a + c).x, 0, (a + c).z});
    }
  }
}

// The sampled point of the river nearest to x (it runs west to east).
const Frame& NearestToX(const std::vector<Frame>& frames, float x) {
  const Frame* best = &frames.front();
  for (const Frame& f : frames)
    if (std::fabs(f.position.x - x) < std::fabs(best->position.x - x)) best = &f;
  return *best;
}

// A box of plain wall (a window-free texel of the facade texture, unless
// `uv` says otherwise) with its axes `along` (unit, on the ground) and the
// one across it, from y0 to y1.
void PlainBox(MeshBuilder& b, Vec3 centre, Vec3 along, float halfAlong, float halfAcross, float y0, float y1,
              Vec2 uv = {0.008f, 0.012f}) {
  const Vec3 axes[3] = {along, Cross(Vec3{0, 1, 0}, along), Vec3{0, 1, 0}};
  const float half[3] = {halfAlong, halfAcross, 0.5f * (y1 - y0)};
  const Vec3 mid{centre.x, 0.5f * (y0 + y1), centre.z};
  for (int i = 0; i < 3; ++i) {
    for (const float s : {-1.0f, 1.0f}) {
      // Cross(u, v) = n: FlatQuad then faces outwards.
      const Vec3 n = axes[i] * s, u = axes[(i + 1) % 3] * half[(i + 1) % 3];
      const Vec3 v = Cross(n, axes[(i + 1) % 3]) * half[(i + 2) % 3];
      const Vec3 f = mid + n * half[i];
      b.FlatQuad(f - u - v, f + u - v, f + u + v, f - u + v, uv, uv, uv, uv);
    }
  }
}

// Texture coordinates the towers' shader reads as a lamp, not as facade
// (left of -4.5).
const Vec2 kLampMark{-5, 0};

// A lamp post on a parapet: a thin post and a glowing head.
void LampPost(MeshBuilder& b, Vec3 at, Vec3 along, float y) {
  PlainBox(b, at, along, 0.07f, 0.07f, y, y + 1.6f);
  PlainBox(b, at, along, 0.3f, 0.3f, y + 1.6f, y + 1.9f, kLampMark);
}

// A bridge over the river south of the spire, where the river shot passes
// low over it: deck, parapets with lamps, two piers in the water and the
// abutments.
void Bridge(MeshBuilder& b, const BezierSpline& river) {
  const std::vector<Frame> frames = SampleFrames(river, 2.0f, {0, 1, 0});
  const Frame& at = NearestToX(frames, 20);
  const Vec3 across = Normalize(Vec3{at.tangent.x, 0, at.tangent.z});
  const Vec3 along = Cross(across, Vec3{0, 1, 0});
  const Vec3 c{at.position.x, 0, at.position.z};
  constexpr float kHalf = 19;
  PlainBox(b, c, along, kHalf, 3.2f, 1.4f, 2.2f);
  for (const float s : {-1.0f, 1.0f}) {
    PlainBox(b, c + across * (3.0f * s), along, kHalf, 0.2f, 2.2f, 3.1f);
    PlainBox(b, c + along * (5.5f * s), along, 0.9f, 2.6f, -4.5f, 1.4f);
    PlainBox(b, c + along * (17.0f * s), along, 2.0f, 3.4f, kFooting, 1.4f);
    for (int k = 0; k < 4; ++k) LampPost(b, c + across * (3.0f * s) + along * (-13.5f + 9.0f * k), along, 3.1f);
  }
}

// A roof that narrows to `scale` of its footprint over y0..y1, in plain wall.
void Crown(MeshBuilder& b, const std::vector<Vec3>& footprint, float y0, float y1, float scale) {
  const std::vector<Vec3> top = Scaled(footprint, scale);
  const Vec2 wall{0.008f, 0.012f};
  Vec3 centre{};
  for (const Vec3& p : footprint) centre = centre + p * (1.0f / footprint.size());
  const std::size_t n = footprint.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = (i + 1) % n;
    const Vec3 a{footprint[i].x, y0, footprint[i].z}, c{footprint[j].x, y0, footprint[j].z};
    const Vec3 d{top[j].x, y1, top[j].z}, e{top[i].x, y1, top[i].z};
    const Vec3 out{(a + c).x * 0.5f - centre.x, 0, (a + c).z * 0.5f - centre.z};
    if (Dot(Cross(c - a, e - a), out) > 0) b.FlatQuad(a, c, d, e, wall, wall, wall, wall);
    else b.FlatQuad(a, e, d, c, wall, wall, wall, wall);
  }
  Prism(b, top, y1 - 0.01f, y1);
}

MeshData Towers(const RiverDistance& river, const BezierSpline& curve) {
  MeshBuilder b;
  Random rnd(1999);
  Spire(b);
  constexpr float kLot = 13;
  for (int gx = -7; gx <= 7; ++gx) {
    for (int gz = -7; gz <= 7; ++gz) {
      const Vec3 lot{gx * kLot + rnd.Range(-1.5f, 1.5f), 0, gz * kLot + rnd.Range(-1.5f, 1.5f)};
      const float r = Length(lot);
      if (r > 84 || r < 24 || river(lot.x, lot.z) < 15) continue;  // a plaza round the spire
      const float falloff = std::pow(1 - r / 90, 1.2f);
      const float height = 9 + 40 * falloff * rnd.Range(0.45f, 1.0f) + rnd.Range(0, 4);
      const float w = rnd.Range(2.6f, 4.6f), d = rnd.Range(2.6f, 4.6f);
      const float angle = rnd.Range(-0.06f, 0.06f);
      std::vector<Vec3> base = rnd.Unit() < 0.22f ? Polygon(lot, 0.5f * (w + d), 10, rnd.Range(0, 1))
                                                 : Rectangle(lot, w, d, angle);
      // What makes this tower its own comes from the lot, so the draws of
      // the towers after it, and the city's layout, stay as they were.
      Random own(static_cast<std::uint64_t>((gx + 8) * 17 + gz + 8));
      const Facade facade{kWindowTileWidth * own.Range(0.5f, 0.85f), kWindowTileHeight * own.Range(0.85f, 1.1f)};
      std::vector<Vec3> roof = base;
      bool topped = false;
      if (height > 22 && rnd.Unit() < 0.75f) {
        const float split = height * rnd.Range(0.45f, 0.7f);
        Prism(b, base, kFooting, split, facade);
        roof = Scaled(base, rnd.Range(0.6f, 0.8f));
        Prism(b, roof, split, height, facade);
        if (rnd.Unit() < 0.5f) {
          Prism(b, Scaled(base, 0.3f), height, height + rnd.Range(2, 5), facade);
          topped = true;
        }
      } else {
        Prism(b, base, kFooting, height, facade);
      }
      // The tallest carry a mast whose tip rises above every roof (where
      // the towers' shader lights a blinking lamp).
      if (height > 32) {
        const float top = kMastTops + 0.6f + std::fabs(std::sin(lot.x * 0.37f + lot.z * 0.71f));
        PlainBox(b, lot, {1, 0, 0}, 0.2f, 0.2f, height, top);
      } else if (!topped) {
        // Lower roofs: a narrowing crown, or plant rooms on the flat.
        const float roofY = height;
        if (height > 18 && own.Unit() < 0.35f) {
          Crown(b, roof, roofY, roofY + own.Range(2, 4.5f), own.Range(0.3f, 0.6f));
        } else {
          const float room = 0.4f * std::min(w, d) * (roof.size() == base.size() ? 1.0f : 0.7f);
          const int rooms = 1 + own.Int(2);
          for (int k = 0; k < rooms; ++k) {
            const Vec3 at = lot + Vec3{own.Range(-room, room), 0, own.Range(-room, room)};
            PlainBox(b, at, {std::cos(angle), 0, std::sin(angle)}, own.Range(0.5f, 1.2f), own.Range(0.5f, 1.0f),
                     roofY, roofY + own.Range(1.0f, 2.4f));
          }
        }
      }
      // Now and then a low annex beside the tower.
      if (rnd.Unit() < 0.35f) {
        const Vec3 at = lot + Vec3{rnd.Range(-4, 4), 0, rnd.Range(-4, 4)};
        if (river(at.x, at.z) > 15) Prism(b, Rectangle(at, rnd.Range(2, 3.5f), rnd.Range(2, 3.5f), angle), kFooting, rnd.Range(5, 9));
      }
    }
  }
  Bridge(b, curve);
  return b.Mesh();
}

// A house: walls, gable ends and a pitched roof over the long side.
void House(MeshBuilder& b, Vec3 at, float w, float d, float wall, float ridge, float angle) {
  const std::vector<Vec3> f = Rectangle(at, w, d, angle);  // w along the ridge
  const Vec3 ax{std::cos(angle), 0, std::sin(angle)}, az{-std::sin(angle), 0, std::cos(angle)};
  for (int i = 0; i < 4; ++i) {
    const Vec3 p = f[i], q = f[(i + 1) % 4], mid = (p + q) * 0.5f;
    Wall(b, p, q, kFooting, wall, mid - at);
  }
  // Gable ends (at -ax and +ax), then the two slopes with a small overhang.
  const float top = wall + ridge;
  for (const float s : {-1.0f, 1.0f}) {
    const Vec3 c = at + ax * (s * w);
    const Vec3 p = c - az * d, q = c + az * d;
    const Vec3 n = ax * s;
    const std::uint32_t a = b.Vertex({p.x, wall, p.z}, n, {0, -wall / kWindowTileHeight});
    const std::uint32_t e = b.Vertex({q.x, wall, q.z}, n, {2 * d / kWindowTileWidth, -wall / kWindowTileHeight});
    const std::uint32_t t = b.Vertex({c.x, top, c.z}, n, {d / kWindowTileWidth, -top / kWindowTileHeight});
    const auto& pos = b.Mesh().positions;
    if (Dot(Cross(pos[e] - pos[a], pos[t] - pos[a]), n) >= 0) b.Triangle(a, e, t);
    else b.Triangle(a, t, e);
  }
  const float over = 0.3f;
  for (const float s : {-1.0f, 1.0f}) {
    const Vec3 eaveA = at - ax * (w + over) + az * (s * (d + over)), eaveB = at + ax * (w + over) + az * (s * (d + over));
    const Vec3 ridgeA = at - ax * (w + over), ridgeB = at + ax * (w + over);
    const float eaveY = wall - over * ridge / d;
    const Vec3 e0{eaveA.x, eaveY, eaveA.z}, e1{eaveB.x, eaveY, eaveB.z}, r0{ridgeA.x, top, ridgeA.z}, r1{ridgeB.x, top, ridgeB.z};
    const Vec3 n = Normalize(Cross(e1 - e0, r0 - e0) * (Dot(Cross(e1 - e0, r0 - e0), Vec3{0, 1, 0}) > 0 ? 1.0f : -1.0f));
    const float slope = Length(r0 - e0);
    const float len = Length(e1 - e0);
    const std::uint32_t v0 = b.Vertex(e0, n, {0, 0}), v1 = b.Vertex(e1, n, {len / 8, 0});
    const std::uint32_t v2 = b.Vertex(r1, n, {len / 8, slope / 8}), v3 = b.Vertex(r0, n, {0, slope / 8});
    b.QuadFacing(v0, v1, v2, v3, n);
  }
}

MeshData Houses(const RiverDistance& river) {
  MeshBuilder b;
  Random rnd(4242);
  constexpr float kCell = 9;
  for (int gx = -27; gx <= 27; ++gx) {
    for (int gz = -27; gz <= 27; ++gz) {
      const Vec3 at{gx * kCell + rnd.Range(-2, 2), 0, gz * kCell + rnd.Range(-2, 2)};
      const float r = Length(at);
      const float density = 0.55f + 0.6f * Fbm3(at.x / 60, 7.7f, at.z / 60, 2) - 0.4f * Smoothstep(170, 240, r);
      const float keep = rnd.Unit();
      if (r < 88 || r > 240 || river(at.x, at.z) < 13 || keep > density * 0.75f) continue;
      const float street = std::atan2(at.z, at.x) + (rnd.Unit() < 0.5f ? 0 : kPi / 2) + rnd.Range(-0.08f, 0.08f);
      const float w = rnd.Range(2.6f, 4.2f), d = rnd.Range(1.8f, 2.8f);
      House(b, at, w, d, rnd.Range(2.6f, 4.2f), rnd.Range(1.5f, 2.6f), street);
    }
  }
  return b.Mesh();
}

// A lumpy icosahedron, longer along z so that the program's turn about z
// keeps it a puff; vertices shared, so it shades smooth.
MeshData CloudPuff() {
  const float g = (1 + std::sqrt(5.0f)) / 2;
  const Vec3 v[12] = {{-1, g, 0}, {1, g, 0}, {-1, -g, 0}, {1, -g, 0}, {0, -1, g}, {0, 1, g},
                      {0, -1, -g}, {0, 1, -g}, {g, 0, -1}, {g, 0, 1}, {-g, 0, -1}, {-g, 0, 1}};
  const int faces[20][3] = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
                            {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
                            {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
  MeshBuilder b;
  for (int i = 0; i < 12; ++i) {
    const Vec3 n = Normalize(v[i]);
    const float lump = 1 + 0.18f * Noise3(n.x * 2.1f, n.y * 2.1f, n.z * 2.1f + 5);
    const Vec3 p{n.x * 2.2f * lump, n.y * 2.2f * lump, n.z * 3.4f * lump};
    b.Vertex(p, n, {0.5f + 0.5f * n.x, 0.5f - 0.5f * n.y + 0.1f * n.z});
  }
  for (const auto& f : faces) {
    const auto& pos = b.Mesh().positions;
    const auto a = static_cast<std::uint32_t>(f[0]), c = static_cast<std::uint32_t>(f[1]), d = static_cast<std::uint32_t>(f[2]);
    if (Dot(Cross(pos[c] - pos[a], pos[d] - pos[a]), pos[a] + pos[c] + pos[d]) >= 0) b.Triangle(a, c, d);
    else b.Triangle(a, d, c);
  }
  return b.Mesh();
}

std::vector<Shot> Shots(const BezierSpline& river) {
  const std::vector<Frame> frames = SampleFrames(river, 2.0f, {0, 1, 0});
  const auto along = [&](float arc, float up) {
    std::size_t i = 0;
    while (i + 1 < frames.size() && frames[i].arc < arc) ++i;
    return frames[i].position + Vec3{0, up, 0};
  };
  std::vector<Shot> shots;
  // 100-112 s: the skyline from the south-east under the clouds, the sun
  // going down behind it.
  shots.push_back({{100, {150, 46, -250}, {-10, 30, 40}, 0},
                   {106, {118, 38, -215}, {-16, 28, 50}, -2},
                   {112, {88, 30, -180}, {-20, 26, 60}, -3}});
  // 112-126 s: low over the water, upstream towards the centre.
  Shot river1;
  const float start = NearestToX(frames, 230).arc, end = NearestToX(frames, -70).arc;
  // Past the centre the camera turns from the water to the towers, so that
  // the shot ends on the skyline instead of the empty reach beyond.
  const Vec3 towers{0, 22, 0};
  for (int i = 0; i <= 7; ++i) {
    const float arc = Lerp(start, end, i / 7.0f);
    const Vec3 ahead = along(arc - 45, 6.5f + 0.8f * i);
    river1.push_back({112 + 2.0f * i, along(arc, 6 + 0.6f * i), Lerp(ahead, towers, Smoothstep(3.5f, 7, i)),
                      3.0f * std::sin(i * 0.8f)});
  }
  shots.push_back(river1);
  // 126-138 s: up round the spire, inside its plaza, through the falling
  // notes; the rise stops well under the cloud deck (its lowest puffs hang
  // at about 54 m), which from inside shows only the puffs' flat facets.
  Shot orbit;
  for (int i = 0; i <= 6; ++i) {
    const float a = -1.9f + 0.55f * i, radius = 19 - 0.5f * i, y = 8 + 5.5f * i;
    orbit.push_back({126 + 2.0f * i, {radius * std::sin(a), y, -radius * std::cos(a)}, {0, y + 5 + 1.5f * i, 0}, 0});
  }
  shots.push_back(orbit);
  // 138-152 s: drawing back along the river to the south, the skyline
  // against the sunset; the closing card comes up over it.
  shots.push_back({{138, {22, 24, -44}, {-8, 40, 40}, 0},
                   {144, {48, 32, -140}, {-18, 36, 70}, 0},
                   {152, {66, 38, -230}, {-28, 34, 90}, 0}});
  return shots;
}

}  // namespace

SceneOutput City() {
  SceneOutput out;
  out.name = "city";
  const BezierSpline river = SplineThrough(RiverKnots());
  const RiverDistance distance(river);
  out.files["city.curves"] = CurvesBytes({{"CityCurve", {}, {}, {river}}});
  out.files["city.matrix"] = MatrixBytes({Translation("CityCurve", {}), Translation("Ground", {}),
                                          Translation("RegionCenter", {}), Translation("RegionSuburbs", {})});

  out.meshes["Mesh"] = River(river);
  out.meshes["Ground"] = Ground(distance);
  out.meshes["RegionCenter"] = Towers(distance, river);
  out.meshes["RegionSuburbs"] = Houses(distance);
  out.meshes["Clouds"] = CloudPuff();
  out.meshes["Noise"] = Cube({}, {1, 1, 1});
  out.meshes["Sky"] = InwardSphere({}, 900, 32, 16);
  out.meshes["GodRays"] = ClipQuad(1, 1);
  out.meshes["Closing"] = ClipQuad(0.8f, 0.5333f);
  out.meshes["Post"] = ClipQuad(1, 1);

  Scene& s = out.scene;
  s.length = 3800;
  // The sun first: the program feeds the god rays from light 0.
  s.objects.push_back({"Lamp", "Sun", "", "", kSun, {}, {}});
  s.objects.push_back({"Lamp", "Fill", "", "", {200, 150, -300}, {}, {}});
  for (SceneObject& o : CameraRig(Shots(river))) s.objects.push_back(std::move(o));
  s.objects.push_back({"Mesh", "Sky", "Sky", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "Ground", "Ground", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "River", "Mesh", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "Center", "RegionCenter", "", {}, {}, {}});
  s.objects.push_back({"Mesh", "Suburbs", "RegionSuburbs", "", {}, {}, {}});
  // The program packs the clouds towards the middle (even steps of radius);
  // spread wide and flattened they make a deck over the whole city, turning
  // slowly round the spire (a degree every ten seconds, for ever). The haze
  // volume hangs on the same node, so it stays with its clouds.
  s.objects.push_back({"Empty", "CloudDeck", "", "", kCloudsAt, {}, {
      Linear("ScaleX", {{0, 2.6f}, {1, 2.6f}}), Linear("ScaleY", {{0, 0.7f}, {1, 0.7f}}),
      Linear("ScaleZ", {{0, 2.6f}, {1, 2.6f}}), Linear("RotY", {{0, 0}, {10, 0.1f}}, "Cyclic_extrapolation")}});
  s.objects.push_back({"Mesh", "Clouds", "Clouds", "CloudDeck", {}, {}, {}});
  s.objects.push_back({"Mesh", "Noise", "Noise", "CloudDeck", {}, {}, {}});
  s.objects.push_back({"Mesh", "Fog", "Fog", "", {}, {}, {}});
  // Turned so that the notes' spiral axis (z) points up: y 20..60.
  s.objects.push_back({"Empty", "NoteSpiral", "", "", {0, 300, 0}, {-kPi / 2, 0, 0}, {}});
  s.objects.push_back({"Mesh", "Notes", "Notes", "NoteSpiral", {}, {}, {}});
  s.objects.push_back({"Mesh", "GodRays", "GodRays", "CamRig", {}, {}, {}});
  s.objects.push_back({"Mesh", "Closing", "Closing", "", {}, {}, {
      Smooth("Fade", {{145.5f, 0}, {147.5f, 1}, {150.5f, 1}, {152, 0}}),
      Steps("Layer", {{100, 2}, {145.4f, 1}})}});
  s.objects.push_back({"Mesh", "Post", "Post", "", {}, {}, {
      Smooth("Fade", {{100, 1}, {150.5f, 1}, {152, 0}}),
      Smooth("Flash", {{100, 0.8f}, {101.5f, 0}})}});
  return out;
}

}  // namespace content
