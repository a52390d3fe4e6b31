#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "game/curves.h"
#include "test_support.h"

using engine::math::Vector3f;
using namespace demo;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// Little-endian file contents, field by field.
struct Bytes {
  std::vector<std::uint8_t> data;

  Bytes& Raw(const std::string& s) { return data.insert(data.end(), s.begin(), s.end()), *this; }
  Bytes& I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(std::uint32_t(v) >> (8 * i)));
    return *this;
  }
  Bytes& F32(float f) {
    std::int32_t bits;
    std::memcpy(&bits, &f, 4);
    return I32(bits);
  }
  Bytes& Vec(Vector3f v) { return F32(v.x).F32(v.y).F32(v.z); }
  Bytes& Name(const std::string& s) { return I32(static_cast<std::int32_t>(s.size())).Raw(s); }
  // Object header: name, location, rotation, spline count.
  Bytes& Object(const std::string& name, Vector3f at, Vector3f angles, std::int32_t splines) {
    return Name(name).Vec(at).Vec(angles).I32(splines);
  }
  void Write(const std::string& path) const {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  }
};

// The message thrown, "" for none.
std::string Thrown(const std::function<void()>& read) {
  try {
    read();
  } catch (const char* message) {
    return message;
  }
  return "";
}
std::string CurveError(const Bytes& b, std::size_t size) {
  return Thrown([&] { ReadCurves(b.data.data(), size); });
}
std::string MatrixError(const Bytes& b, std::size_t size) {
  return Thrown([&] { ReadMatrices(b.data.data(), size); });
}

void ExpectNear(const Vector3f& actual, const Vector3f& expected, float eps = 1e-5f) {
  EXPECT_NEAR(actual.x, expected.x, eps);
  EXPECT_NEAR(actual.y, expected.y, eps);
  EXPECT_NEAR(actual.z, expected.z, eps);
}

// A placed object of two splines (the second of one point), then an object
// whose rotation order shows: Rx(90) turns y into z, Ry(90) z into x.
Bytes SampleCurves() {
  Bytes b;
  b.Raw("CURV").I32(2).Object("Curve", {0, 0, 10}, {0, 0, 0}, 2);
  b.I32(3).Vec({-1, 0, 0}).Vec({0, 0, 0}).Vec({1, 0, 0}).Vec({2, 1, 0}).Vec({3, 1, 0});
  b.Vec({4, 1, 0}).Vec({5, 2, 0}).Vec({6, 2, 0}).Vec({7, 2, 0}).F32(2).F32(3);
  b.I32(1).Vec({1, 2, 3}).Vec({4, 5, 6}).Vec({7, 8, 9});
  b.Object("Turned", {10, 20, 30}, {1.57079632f, 1.57079632f, 0}, 1).I32(1);
  return b.Vec({0, 1, 0}).Vec({0, 0, 1}).Vec({1, 0, 0});
}

// Knots with handles at thirds towards their neighbours: a polyline.
Spline Polyline(const std::vector<Vector3f>& k) {
  Spline s;
  for (std::size_t i = 0; i < k.size(); ++i) {
    const Vector3f prev = k[i ? i - 1 : 0], next = k[i + 1 < k.size() ? i + 1 : i];
    s.points.push_back({k[i] + (1.0f / 3) * (prev - k[i]), k[i] + (1.0f / 3) * (next - k[i]), k[i]});
    if (i) s.lengths.push_back((s.lengths.empty() ? 0 : s.lengths.back()) + Vector3f::Dist(k[i - 1], k[i]));
  }
  return s;
}

TEST(CurvesTest, ReadsPlacedSplinesWithRunningLengths) {
  static_assert(sizeof(SplinePoint) == 36 && offsetof(SplinePoint, out) == 12 &&
                offsetof(SplinePoint, knot) == 24);
  velox_test::ScopedWorkDir dir;
  SampleCurves().Write("data/test.curves");
  const CurveSet curves = ReadCurves("data/test.curves");
  const std::vector<Spline>& curve = curves.at("Curve");
  ASSERT_EQ(curve.size(), 2u);
  // File order in, knot, out; location (0, 0, 10) lifts every point.
  ExpectNear(curve[0].points[1].in, {2, 1, 10});
  ExpectNear(curve[0].points[1].knot, {3, 1, 10});
  ExpectNear(curve[0].points[1].out, {4, 1, 10});
  EXPECT_EQ(curve[0].lengths, (std::vector<float>{2, 5}));
  EXPECT_TRUE(curve[1].lengths.empty());
  ExpectNear(curve[1].points[0].knot, {4, 5, 16});
  const SplinePoint& turned = curves.at("Turned")[0].points[0];
  ExpectNear(turned.in, {11, 20, 30});
  ExpectNear(turned.knot, {10, 19, 30});
  ExpectNear(turned.out, {10, 20, 29});
}

TEST(CurvesTest, BadCurveFilesThrowTheirMessage) {
  velox_test::ScopedWorkDir dir;
  EXPECT_EQ(Thrown([] { ReadCurves("data/missing.curves"); }), "No such file found");
  EXPECT_EQ(Thrown([] { ReadCurves(nullptr, 0); }), "Not a curve file");
  EXPECT_EQ(CurveError(Bytes().Raw("CURX").I32(0), 8), "Not a curve file");
  // Every byte of a valid file counts: any shorter prefix is truncated.
  const Bytes valid = SampleCurves();
  EXPECT_EQ(CurveError(valid, valid.data.size()), "");
  for (std::size_t size = 4; size < valid.data.size(); ++size)
    ASSERT_EQ(CurveError(valid, size), "Truncated curve file") << size;

  const auto one = [] { return Bytes().Raw("CURV").I32(1); };
  const std::string pad(40, 'x');
  const std::pair<Bytes, const char*> cases[] = {
      {Bytes().Raw("CURV").I32(-1), "Corrupt curve file"},
      {one().I32(-5).Raw(pad), "Corrupt curve file"},
      {one().Object("c", {}, {}, -2), "Corrupt curve file"},
      {one().Object("c", {}, {}, 1).I32(-1), "Corrupt curve file"},
      // Counts beyond what the file holds fail before anything is reserved.
      {Bytes().Raw("CURV").I32(0x7fffffff), "Truncated curve file"},
      {one().I32(0x7fffffff).Raw(pad), "Truncated curve file"},
      {one().Object("c", {}, {}, 0x7fffffff).I32(0), "Truncated curve file"},
      {one().Object("c", {}, {}, 1).I32(0x7fffffff).Raw(pad), "Truncated curve file"},
  };
  for (const auto& [bytes, message] : cases)
    EXPECT_EQ(CurveError(bytes, bytes.data.size()), message) << &bytes - &cases[0].first;
}

TEST(CurvesTest, MatricesReadRowByRowAndLaterNamesWin) {
  velox_test::ScopedWorkDir dir;
  Bytes b;
  b.I32(3).Name("Ground");
  for (int i = 0; i < 16; ++i) b.F32(float(i));
  b.Name("Curve");
  for (int i = 0; i < 16; ++i) b.F32(i % 5 == 0);
  b.Name("Ground");
  for (int i = 0; i < 16; ++i) b.F32(100.0f + float(i));
  b.Write("data/test.matrix");
  const MatrixSet matrices = ReadMatrices("data/test.matrix");
  ASSERT_EQ(matrices.size(), 2u);
  EXPECT_EQ(matrices.at("Ground").m[1][2], 106);
  ExpectNear(matrices.at("Ground").GetTranslation(), {112, 113, 114});
  EXPECT_EQ(matrices.at("Curve").m[3][3], 1);

  for (std::size_t size = 0; size < b.data.size(); ++size)
    ASSERT_EQ(MatrixError(b, size), "Truncated matrix file") << size;
  EXPECT_EQ(Thrown([] { ReadMatrices("data/missing.matrix"); }), "No such file found");
  const std::string pad(64, 'x');
  EXPECT_EQ(MatrixError(Bytes().I32(-1), 4), "Corrupt matrix file");
  EXPECT_EQ(MatrixError(Bytes().I32(1).I32(-3).Raw(pad), 72), "Corrupt matrix file");
  EXPECT_EQ(MatrixError(Bytes().I32(0x7fffffff).Raw(pad), 68), "Truncated matrix file");
  EXPECT_EQ(MatrixError(Bytes().I32(1).I32(0x7ffffff0).Raw(pad), 72), "Truncated matrix file");
  EXPECT_EQ(MatrixError(Bytes().I32(0).Raw("tail"), 8), "");
}

TEST(SplineTest, EvaluateFollowsTheSegmentBezier) {
  const Spline line = Polyline({{0, 0, 0}, {3, 6, 0}, {9, 0, 3}});
  ExpectNear(line.Evaluate(1), {1, 2, 0});  // handles at thirds: linear in x
  ExpectNear(line.Evaluate(6), {6, 3, 1.5f});
  for (const float x : {0.0f, 3.0f, 9.0f, -4.0f, 1e9f})  // knots and beyond, exactly
    ExpectNear(line.Evaluate(x), line.points[x <= 0 ? 0 : x < 9 ? 1 : 2].knot, 0);
  // The first knot's out-handle and the second's in-handle shape the
  // segment: at t = 1/2 the weights are 1, 3, 3, 1 eighths.
  Spline bent;
  bent.points = {{{-1, -1, -1}, {1, 8, 0}, {0, 0, 0}}, {{3, -8, 4}, {9, 9, 9}, {4, 0, 0}}};
  ExpectNear(bent.Evaluate(2), {2, 0, 1.5f});

  EXPECT_TRUE(Spline().Evaluate(3) == Vector3f(0, 0, 0));
  Spline one;
  one.points = {{{0, 0, 0}, {9, 9, 9}, {1, 2, 3}}};
  for (const float x : {-5.0f, 1.0f, 7.0f, std::nanf("")}) ExpectNear(one.Evaluate(x), {1, 2, 3}, 0);
  EXPECT_TRUE(std::isfinite(line.Evaluate(std::nanf("")).x));
}

TEST(SplineTest, ProjectGivesDistanceAndArcLength) {
  const Spline line = Polyline({{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {20, 10, 0}});
  const float tolerance = 10.0f / 128;  // the bisection's last interval
  const std::pair<Vector3f, std::pair<float, float>> cases[] = {
      {{10, 0, 0}, {0, 10}}, {{20, 10, 0}, {0, 30}}, {{5, 3, 0}, {3, 5}}, {{23, 4, -4}, {5, 24}}};
  for (const auto& [p, expected] : cases) {
    const auto [distance, arc] = line.Project(p);
    EXPECT_NEAR(distance, expected.first, tolerance) << p.x << " " << p.y;
    EXPECT_NEAR(arc, expected.second, tolerance) << p.x << " " << p.y;
  }
  // On the first knot the slope is zero at t = 0: that is the root, not the
  // midpoint. Behind the start no sign change occurs and the search drifts to
  // t near 1, as the bisection rule has it.
  EXPECT_EQ(line.Project({0, 0, 0}), std::make_pair(0.0f, 0.0f));
  EXPECT_NEAR(line.Project({-5, 0, 0}).second, 10 * 0.99609375f, 1e-4f);

  EXPECT_EQ(Spline().Project({1, 2, 3}), std::make_pair(kInf, 0.0f));
  Spline one;
  one.points = {{{0, 0, 0}, {0, 0, 0}, {1, 2, 3}}};
  EXPECT_EQ(one.Project({1, 2, 7}), std::make_pair(4.0f, 0.0f));
  Spline bare = Polyline({{0, 0, 0}, {10, 0, 0}, {20, 0, 0}});
  bare.lengths = {10};  // built by hand, one length short
  EXPECT_FLOAT_EQ(bare.Project({15, 1, 0}).second, 10);
  bare.lengths.clear();
  EXPECT_EQ(bare.Project({15, 1, 0}).second, 0);
  EXPECT_EQ(bare.Project({std::nanf(""), 0, 0}), std::make_pair(kInf, 0.0f));
}

TEST(SplineTest, ProjectTakesTheFirstNearestSegment) {
  // Each segment searched alone against the whole spline, which skips
  // segments it can rule out: the whole must still pick the first segment
  // of least distance, at that segment's parameter.
  std::mt19937 random(3);
  std::uniform_real_distribution<float> c(-20.0f, 20.0f);
  Spline spline;
  for (int i = 0; i < 12; ++i) {
    spline.points.push_back({{c(random), c(random), c(random)}, {c(random), c(random), c(random)},
                             {c(random), c(random), c(random)}});
    if (i) spline.lengths.push_back(float(i * i));
  }
  for (int trial = 0; trial < 300; ++trial) {
    const Vector3f p(c(random), c(random), c(random));
    float best = kInf, bestT = 0;
    std::size_t segment = 0;
    for (std::size_t i = 0; i + 1 < spline.points.size(); ++i) {
      Spline alone;
      alone.points = {spline.points[i], spline.points[i + 1]};
      alone.lengths = {1};  // the arc is the parameter
      const auto [d, t] = alone.Project(p);
      if (d < best) best = d, bestT = t, segment = i;
    }
    const float before = segment ? spline.lengths[segment - 1] : 0;
    const float arc = segment ? before + bestT * (spline.lengths[segment] - before)
                              : spline.lengths[0] * bestT;
    ASSERT_EQ(spline.Project(p), std::make_pair(best, arc)) << trial;
  }
  // A path that retraces its first segment after a detour: an exact tie,
  // which the earlier segment wins.
  Spline retrace;
  retrace.points = {{{0, 0, 0}, {3, 0, 0}, {0, 0, 0}},
                    {{7, 0, 0}, {10, 100, 0}, {10, 0, 0}},
                    {{0, 100, 0}, {3, 0, 0}, {0, 0, 0}},
                    {{7, 0, 0}, {0, 0, 0}, {10, 0, 0}}};
  retrace.lengths = {10, 200, 210};
  EXPECT_LT(retrace.Project({5, -4, 0}).second, 10);
}

}  // namespace
