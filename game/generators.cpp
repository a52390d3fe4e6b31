#include "game/generators.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "engine/logging.h"
#include "engine/memory.h"
#include "engine/mesh.h"
#include "engine/wrapper.h"
#include "game/curves.h"
#include "game/random.h"
#include "platform/graphics.h"

namespace demo {

using engine::gfx::LoadMesh;
using engine::gfx::PVData;
using engine::math::Matrix3x3;
using engine::math::Vector3f;

namespace {

constexpr float kTwoPi = 6.2831853f;
constexpr int kUsagePosition = platform::kDeclUsagePosition;
constexpr int kUsageTexCoord = platform::kDeclUsageTexCoord;
constexpr int kFloat2 = platform::kDeclFloat2;
constexpr int kFloat3 = platform::kDeclFloat3;

float* NewFloats(std::int64_t count) {
  return static_cast<float*>(
      engine::AllocateMemory(static_cast<unsigned>(count * static_cast<std::int64_t>(sizeof(float)))));
}

std::int32_t* NewIndices(std::int64_t count) {
  return static_cast<std::int32_t*>(
      engine::AllocateMemory(static_cast<unsigned>(count * static_cast<std::int64_t>(sizeof(std::int32_t)))));
}

// Counts of a mesh that copies a source n times; refuses what would not fit
// the mesh's int counts or the allocator's unsigned sizes.
void CheckCopies(std::int64_t vertices, std::int64_t indices, const char* what) {
  constexpr std::int64_t kMax = (std::numeric_limits<std::int32_t>::max)() / 16;
  if (vertices > kMax || indices > kMax) ENGINE_ERROR(std::string("Mesh too large for ") + what);
}

const float* Positions(LoadMesh* mesh, const char* what) {
  PVData* d = mesh->GetData(engine::gfx::MeshData::Positions);
  if (d == nullptr || d->data == nullptr || d->type != kFloat3)
    ENGINE_ERROR(std::string("Mesh without three-float positions: ") + what);
  return static_cast<const float*>(d->data);
}

// Every index must name a vertex: the generators index arrays with them.
void CheckIndices(LoadMesh* mesh, const char* what) {
  if (mesh->NumIndices() > 0 && mesh->Indices() == nullptr)
    ENGINE_ERROR(std::string("Mesh without indices: ") + what);
  for (int k = 0; k < mesh->NumIndices(); ++k) {
    const int i = mesh->Index(k);
    if (i < 0 || i >= mesh->NumVertices()) ENGINE_ERROR(std::string("Index out of range in ") + what);
  }
}

void Set3(float* p, std::int64_t i, Vector3f v) {
  p[3 * i] = v.x, p[3 * i + 1] = v.y, p[3 * i + 2] = v.z;
}

}  // namespace

int QuadCount(QuadSet set) {
  switch (set) {
    case QuadSet::Grid: return 70000;
    case QuadSet::Fog: return 700;
    case QuadSet::Notes: return 400;
  }
  return 0;
}

LoadMesh* MakeQuadSet(QuadSet set) {
  const int n = QuadCount(set);
  float* centres = NewFloats(12LL * n);
  float* uvs = NewFloats(8LL * n);
  float* corners = NewFloats(12LL * n);
  float* extras = NewFloats(12LL * n);
  std::int32_t* indices = NewIndices(6LL * n);

  // Running counters, one step per quad.
  std::int64_t g = 1, h = 0;                       // plankton
  std::int64_t cA = 0, cB = 0, cC = 0, cD = 1200;  // fog and notes
  for (int i = 0; i < n; ++i) {
    const std::int64_t v = 4LL * i + 2;
    Vector3f centre, extra;
    float beta = 0, e = 0;
    if (set == QuadSet::Grid) {
      centre = Vector3f(100.0f * RandomInt(g - 1) / 65535.0f - 50.0f,
                        140.0f * RandomInt(g) / 65535.0f - 70.0f,
                        40.0f * RandomInt(g + 1) / 65535.0f - 20.0f) +
               Vector3f(-20.0f, -40.0f, -5.0f);
      beta = kTwoPi * RandomUnit(v - 2);
      e = 0.3f;
      extra = Vector3f(RandomUnit(g + 1199), RandomUnit(g + 1200), RandomUnit(g + 1201));
      extra.Normalize();
      extra = extra * (4.0f * std::pow(RandomUnit(h) + 0.025f, 20.0f) + 0.7f);
      g += 3, h += 7;
    } else {
      const float alpha = kTwoPi * RandomUnit(v - 2);
      const float w = 0.7f + 0.3f * RandomUnit(cB);
      beta = kTwoPi * RandomUnit(cA);
      const float q = 0.6f + 0.4f * RandomUnit(cD);
      if (set == QuadSet::Fog) {
        centre = Vector3f(125.0f * w * std::sin(alpha), 4.0f * RandomUnit(cB),
                          125.0f * w * std::cos(alpha));
        e = 15.0f * (RandomUnit(cC) + 1.0f) / 2.0f;
        extra = Vector3f(1.1f * q, q, q);
      } else {
        centre = Vector3f(10.0f * w * std::sin(alpha), 10.0f * w * std::cos(alpha),
                          0.1f * static_cast<float>(i) - 280.0f);
        e = 1.5f * (RandomUnit(cC) + 1.0f) / 2.0f;
        extra = Vector3f(q, q, 0.7f * q);
      }
      cA += 5, cB += 7, cC += 6, cD += 3;
    }
    const float s = std::sin(beta), co = std::cos(beta);
    const Vector3f offsets[4] = {Vector3f(e * (s - co), -e * (co + s), 0),
                                 Vector3f(-e * (co + s), e * (co - s), 0),
                                 Vector3f(e * (co - s), e * (co + s), 0),
                                 Vector3f(e * (co + s), e * (s - co), 0)};
    const float a = static_cast<float>(i % 2) / 2.0f, b = static_cast<float>((i / 2) % 2) / 2.0f;
    const float uv[8] = {a, b, a, b + 0.5f, a + 0.5f, b + 0.5f, a + 0.5f, b};
    for (int c = 0; c < 4; ++c) {
      const std::int64_t vertex = 4LL * i + c;
      Set3(centres, vertex, centre);
      Set3(corners, vertex, offsets[c]);
      Set3(extras, vertex, extra);
      uvs[2 * vertex] = uv[2 * c], uvs[2 * vertex + 1] = uv[2 * c + 1];
    }
    const std::int32_t quad[6] = {static_cast<std::int32_t>(v - 2), static_cast<std::int32_t>(v - 1),
                                  static_cast<std::int32_t>(v),     static_cast<std::int32_t>(v),
                                  static_cast<std::int32_t>(v + 1), static_cast<std::int32_t>(v - 2)};
    std::memcpy(indices + 6LL * i, quad, sizeof quad);
  }

  LoadMesh* mesh = engine::CreateEmptyMesh(4 * n, 6 * n);
  mesh->Indices(reinterpret_cast<short*>(indices));
  mesh->Add(PVData{kUsagePosition, kFloat3, 0, centres});
  mesh->Add(PVData{kUsageTexCoord, kFloat2, 0, uvs});
  mesh->Add(PVData{kUsageTexCoord, kFloat3, 1, corners});
  mesh->Add(PVData{kUsageTexCoord, kFloat3, 2, extras});
  return mesh;
}

void DropUnreferencedVertices(LoadMesh* mesh) {
  CheckIndices(mesh, "a copied mesh");
  const int count = mesh->NumVertices();
  std::vector<int> newNumber(static_cast<std::size_t>(count), -1);
  std::vector<int> order;
  std::vector<std::int32_t> indices(static_cast<std::size_t>(mesh->NumIndices()));
  for (int k = 0; k < mesh->NumIndices(); ++k) {
    const int old = mesh->Index(k);
    if (newNumber[old] < 0) {
      newNumber[old] = static_cast<int>(order.size());
      order.push_back(old);
    }
    indices[k] = newNumber[old];
  }
  const int kept = static_cast<int>(order.size());
  // Gathered into new arrays: new vertex i is old vertex order[i], and in
  // place an order such as 2, 1, 0 would overwrite a vertex before it is
  // read. Entries that share an array share its replacement.
  std::vector<std::pair<void*, void*>> moved;  // old array, new array
  for (unsigned a = 0; a < mesh->NumData(); ++a) {
    PVData d = *mesh->GetData(a);
    if (d.data == nullptr) continue;
    void* fresh = nullptr;
    for (const auto& m : moved)
      if (m.first == d.data) fresh = m.second;
    if (fresh == nullptr) {
      const std::size_t size = static_cast<std::size_t>(engine::gfx::ElementSize(d.type));
      auto* to = static_cast<unsigned char*>(
          engine::AllocateArray(static_cast<std::uint64_t>(kept), size, false).release());
      const auto* from = static_cast<const unsigned char*>(d.data);
      for (int i = 0; i < kept; ++i)
        std::memcpy(to + static_cast<std::size_t>(i) * size,
                    from + static_cast<std::size_t>(order[i]) * size, size);
      fresh = to;
      moved.emplace_back(d.data, fresh);
    }
    d.data = fresh;
    mesh->Add(d);  // releases the old array once no entry holds it
  }
  auto* rewritten = NewIndices(static_cast<std::int64_t>(indices.size()));
  if (!indices.empty()) std::memcpy(rewritten, indices.data(), indices.size() * sizeof(std::int32_t));
  // The stride is the mesh's: a 16-bit list stays 16-bit.
  if (mesh->IndexStride() == 2) {
    auto* narrow = static_cast<short*>(engine::AllocateMemory(static_cast<unsigned>(indices.size() * 2)));
    for (std::size_t k = 0; k < indices.size(); ++k) narrow[k] = static_cast<short>(indices[k]);
    engine::DeleteMemory(rewritten);
    mesh->Indices(narrow);
  } else {
    mesh->Indices(reinterpret_cast<short*>(rewritten));
  }
  mesh->NumVertices(kept);
}

namespace {

// N copies of source: indices offset per copy; place(k, vertex) gives the
// position and colour of the copy's vertex.
template <class Place>
LoadMesh* Copies(LoadMesh* source, int copies, const char* what, Place place) {
  CheckIndices(source, what);
  const float* positions = Positions(source, what);
  const std::int64_t v = source->NumVertices(), n = source->NumIndices();
  CheckCopies(v * copies, n * copies, what);
  float* outPositions = NewFloats(3 * v * copies);
  float* outColours = NewFloats(3 * v * copies);
  std::int32_t* outIndices = NewIndices(n * copies);
  for (int k = 0; k < copies; ++k) {
    for (std::int64_t i = 0; i < v; ++i) {
      const Vector3f p(positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]);
      Vector3f position, colour;
      place(k, p, &position, &colour);
      Set3(outPositions, k * v + i, position);
      Set3(outColours, k * v + i, colour);
    }
    for (std::int64_t j = 0; j < n; ++j)
      outIndices[k * n + j] = static_cast<std::int32_t>(source->Index(static_cast<int>(j)) + k * v);
  }
  LoadMesh* mesh = engine::CreateEmptyMesh(static_cast<int>(v * copies), static_cast<int>(n * copies));
  mesh->Indices(reinterpret_cast<short*>(outIndices));
  mesh->Add(PVData{kUsagePosition, kFloat3, 0, outPositions});
  mesh->Add(PVData{kUsageTexCoord, kFloat3, 1, outColours});
  return mesh;
}

// One draw per copy with a counter that starts at start and grows by 3.
template <class PerCopy>
LoadMesh* CountedCopies(LoadMesh* source, int copies, std::int64_t start, const char* what,
                        PerCopy perCopy) {
  struct State {
    int copy = -1;
    Vector3f offset, colour;
    Matrix3x3 rotation = Matrix3x3::Identity;
    float scale = 1;
  } state;
  return Copies(source, copies, what,
                [&](int k, const Vector3f& p, Vector3f* position, Vector3f* colour) {
                  if (k != state.copy) {
                    state.copy = k;
                    perCopy(k, start + 3LL * k, &state.offset, &state.colour, &state.rotation,
                            &state.scale);
                  }
                  *position = (p * state.rotation) * state.scale + state.offset;
                  *colour = state.colour;
                });
}

}  // namespace

LoadMesh* MakeFlashes(LoadMesh* source) {
  DropUnreferencedVertices(source);
  return CountedCopies(source, 4000, 12307, "Flashes",
                       [](int, std::int64_t u, Vector3f* offset, Vector3f* colour, Matrix3x3*, float*) {
                         const float theta = kTwoPi * RandomUnit(u - 2019);
                         const float r = RandomUnit(u - 1919);
                         *offset = Vector3f(10.0f * std::sin(theta), 800.0f * r - 1758.0f,
                                            10.0f * std::cos(theta));
                         *colour = Vector3f(0.4f + 0.6f * RandomUnit(u - 2), 0.3f + 0.2f * RandomUnit(u - 1),
                                            0.7f + 0.2f * RandomUnit(u));
                       });
}

LoadMesh* MakeClouds(LoadMesh* source, Box* box) {
  LoadMesh* mesh = CountedCopies(
      source, 1000, 19803, "Clouds",
      [](int k, std::int64_t u, Vector3f* offset, Vector3f* colour, Matrix3x3* rotation, float* scale) {
        const float radius = 1.5f + static_cast<float>(k) * 80.0f * 0.001f;
        const float theta = kTwoPi * RandomUnit(u - 2017);
        const float phi = kTwoPi * RandomUnit(u - 10);
        const float height = 10.0f + 15.0f * (RandomUnit(u - 1917) - 0.2f);
        *scale = 0.4f + 1.6f * RandomUnit(u - 1905);
        *rotation = Matrix3x3::Identity;
        rotation->ToZRot(phi);
        *offset = Vector3f(radius * std::sin(theta), height, radius * std::cos(theta));
        const float r = RandomUnit(u);
        *colour = Vector3f(0.4f + 0.3f * r, 0.4f + 0.3f * r, 0.45f + 0.3f * r);
      });
  Vector3f lo, hi;  // both corners start at the origin
  const float* p = Positions(mesh, "Clouds");
  for (int i = 0; i < mesh->NumVertices(); ++i) {
    lo = Vector3f(std::fmin(lo.x, p[3 * i]), std::fmin(lo.y, p[3 * i + 1]), std::fmin(lo.z, p[3 * i + 2]));
    hi = Vector3f(std::fmax(hi.x, p[3 * i]), std::fmax(hi.y, p[3 * i + 1]), std::fmax(hi.z, p[3 * i + 2]));
  }
  box->center = (lo + hi) * 0.5f;
  box->halfSize = hi - box->center;
  return mesh;
}

void MapOntoBox(LoadMesh* mesh, const Box& box) {
  auto* p = const_cast<float*>(Positions(mesh, "Noise"));
  for (int i = 0; i < mesh->NumVertices(); ++i) {
    p[3 * i] = box.center.x + p[3 * i] * box.halfSize.x;
    p[3 * i + 1] = box.center.y + p[3 * i + 1] * box.halfSize.y;
    p[3 * i + 2] = box.center.z + p[3 * i + 2] * box.halfSize.z;
  }
}

void AddCurveCoordinates(LoadMesh* mesh, const Spline& spline,
                         const engine::math::Matrix4x4& placement) {
  CheckIndices(mesh, "a curve-following mesh");
  const float* p = Positions(mesh, "a curve-following mesh");
  const float total = spline.lengths.empty() ? 0.0f : spline.lengths.back();
  const int count = mesh->NumVertices();
  float* channel = NewFloats(2LL * count);
  std::fill(channel, channel + 2LL * count, 0.0f);
  std::vector<bool> done(static_cast<std::size_t>(count), false);
  for (int k = 0; k < mesh->NumIndices(); ++k) {
    const int i = mesh->Index(k);
    if (done[i]) continue;
    done[i] = true;
    const Vector3f world = Vector3f(p[3 * i], p[3 * i + 1], p[3 * i + 2]) * placement;
    const auto [distance, arc] = spline.Project(world);
    // A curve without length has no fraction to give.
    channel[2 * i] = total > 0.0f ? arc / total : 0.0f;
    channel[2 * i + 1] = distance;
  }
  mesh->Add(PVData{kUsageTexCoord, kFloat2, 1, channel});
}

LoadMesh* MakeHighPitch(LoadMesh* mesh) {
  CheckIndices(mesh, "HighPitch");
  const float* p = Positions(mesh, "HighPitch");
  const float* coordinates = nullptr;
  for (unsigned a = 0; a < mesh->NumData(); ++a) {
    const PVData* d = mesh->GetData(a);
    if (d->usage == kUsageTexCoord && d->usageIndex == 1 && d->type == kFloat2)
      coordinates = static_cast<const float*>(d->data);
  }
  if (coordinates == nullptr) ENGINE_ERROR("HighPitch needs the mesh's curve coordinates");
  const std::int64_t v = mesh->NumVertices(), n = mesh->NumIndices();
  CheckCopies(v * kHighPitchCount, n * kHighPitchCount, "HighPitch");
  float* positions = NewFloats(3 * v * kHighPitchCount);
  float* times = NewFloats(2 * v * kHighPitchCount);
  std::int32_t* indices = NewIndices(n * kHighPitchCount);
  for (int k = 0; k < kHighPitchCount; ++k) {
    std::memcpy(positions + 3 * v * k, p, static_cast<std::size_t>(3 * v) * sizeof(float));
    for (std::int64_t i = 0; i < v; ++i) {
      const float a = coordinates[2 * i];
      times[2 * (k * v + i)] = a;
      times[2 * (k * v + i) + 1] = static_cast<float>(kHighPitchTimes[k]) + a;
    }
    for (std::int64_t j = 0; j < n; ++j)
      indices[k * n + j] = static_cast<std::int32_t>(mesh->Index(static_cast<int>(j)) + k * v);
  }
  LoadMesh* copies =
      engine::CreateEmptyMesh(static_cast<int>(v * kHighPitchCount), static_cast<int>(n * kHighPitchCount));
  copies->Indices(reinterpret_cast<short*>(indices));
  copies->Add(PVData{kUsagePosition, kFloat3, 0, positions});
  copies->Add(PVData{kUsageTexCoord, kFloat2, 1, times});
  return copies;
}

}  // namespace demo
