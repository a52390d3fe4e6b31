// Effects drawn on the software rasterizer: each feature of the corpus
// against values computed on the CPU.
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "effect_support.h"
#include "gl_support.h"

using namespace effect_test;

namespace {

std::string ReadCorpus(const std::string& name) {
  std::ifstream in(std::string(VELOX_SOURCE_DIR) + "/tests/effects/" + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Byte(float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

class EffectRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!mDevice.Ok() && EsRequested()) GTEST_SKIP() << gl::LastError();
    ASSERT_TRUE(mDevice.Ok()) << gl::LastError();
  }
  void TearDown() override {
    if (mEffect != nullptr) {
      EXPECT_EQ(mEffect->Release(), 0u);
    }
    EXPECT_EQ(gl::TakeGlError(), 0u);
  }

  // Compiles the effect (failing the test with the compiler's messages).
  Effect* Load(const std::string& source) {
    std::string messages;
    if (mEffect != nullptr) mEffect->Release();
    mEffect = mDevice.Create(source, &messages, "corpus.fx");
    EXPECT_NE(mEffect, nullptr) << messages;
    return mEffect;
  }

  // Draws `geometry` with technique `t` and reads the picture back.
  Picture Render(const std::string& name, const char* t = "T",
                 std::vector<Vertex> geometry = EffectDevice::Quad(),
                 std::uint32_t clear = 0xFF000000) {
    mDevice.SetGeometry(geometry);
    EXPECT_TRUE(mDevice.Draw(mEffect, t, clear));
    Picture p = mDevice.ReadBackBuffer();
    p.Save("effect_" + name);
    return p;
  }

  static void ExpectColour(const Picture& p, std::uint32_t x, std::uint32_t y, float r, float g,
                           float b, int tolerance = 2) {
    EXPECT_NEAR(p.Channel(x, y, 2), Byte(r), tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(p.Channel(x, y, 1), Byte(g), tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(p.Channel(x, y, 0), Byte(b), tolerance) << "blue at " << x << "," << y;
  }

  // A managed A8R8G8B8 texture filled from `pixels` (rows from the top).
  Texture* MakeTexture(std::uint32_t w, std::uint32_t h, const std::vector<std::uint32_t>& pixels) {
    Texture* t = nullptr;
    EXPECT_EQ(mDevice.Get()->CreateTexture(w, h, 1, 0, kFormatA8R8G8B8, kPoolManaged, &t, nullptr),
              kOk);
    LockedRect locked;
    t->LockRect(0, &locked, nullptr, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
      std::memcpy(static_cast<std::uint8_t*>(locked.bits) + y * locked.pitch, &pixels[y * w], w * 4);
    }
    t->UnlockRect(0);
    return t;
  }

  EffectDevice mDevice{Backend::GL};
  Effect* mEffect = nullptr;
};

// A vertex shader that hands `value` to the pixel shader, which shows it.
std::string ShowValue(const std::string& declarations, const std::string& value) {
  return declarations + R"(
struct V { float4 p : POSITION; float4 c : TEXCOORD0; };
V VS(float4 p : POSITION) { V o; o.p = p; float4 v = float4(0.1, 0.2, 0.3, 1.0);
  o.c = )" + value + R"(; return o; }
float4 PS(float4 c : TEXCOORD0) : COLOR0 { return float4(c.xyz, 1); }
technique T { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)";
}

// Row vectors and row-major memory as in the engine: v * M on the CPU.
Vector4 RowTimes(const Vector4& v, const Matrix& m) {
  const float in[4] = {v.x, v.y, v.z, v.w};
  float out[4] = {0, 0, 0, 0};
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) out[c] += in[r] * m.m[r][c];
  }
  return {out[0], out[1], out[2], out[3]};
}

Matrix TestMatrix() {
  Matrix m;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m.m[r][c] = 0.02f * static_cast<float>(1 + r * 4 + c) + (r == c ? 0.3f : 0.0f);
  }
  return m;
}

TEST_F(EffectRenderTest, MatricesMatchTheCpuInEveryLayoutAndOrder) {
  const Matrix m = TestMatrix();
  const Vector4 v{0.1f, 0.2f, 0.3f, 1.0f};
  const Vector4 expected = RowTimes(v, m);
  Matrix t;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) t.m[r][c] = m.m[c][r];
  }
  const Vector4 columnExpected = RowTimes(v, t);  // mul(M, v): M times a column vector
  struct Case {
    const char* name;
    std::string declarations, value;
    Vector4 expected;
  };
  const Case cases[] = {
      {"column_major", "float4x4 M;", "mul(v, M)", expected},
      {"row_major", "row_major float4x4 M;", "mul(v, M)", expected},
      {"column_vector", "float4x4 M;", "mul(M, v)", columnExpected},
      {"row_major_column_vector", "row_major float4x4 M;", "mul(M, v)", columnExpected},
      {"float4x3", "float4x3 M;", "float4(mul(v, M), 1)", {expected.x, expected.y, expected.z, 1}},
      {"float3x3_cast", "float4x4 M;", "float4(mul(v.xyz, (float3x3)M), 1)",
       {v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0],
        v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1],
        v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2], 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Effect* e = Load(ShowValue(c.declarations, c.value));
    if (e == nullptr) continue;
    ASSERT_EQ(e->SetMatrix("M", &m), kOk);
    const Picture p = Render(std::string("matrix_") + c.name);
    ExpectColour(p, 32, 32, c.expected.x, c.expected.y, c.expected.z);
  }
}

TEST_F(EffectRenderTest, ArraysStructsAndStaticTablesReachTheShader) {
  Effect* e = Load(ShowValue(R"(
float4 Table[3];
struct Light { float intensity; float3 colour; };
Light Lamp;
static const float3 Palette[2] = { {0.2, 0.4, 0.6}, {0.9, 0.1, 0.5} };
)", "float4(Table[1].x, Lamp.colour.y * Lamp.intensity, Palette[1].z, 1)"));
  ASSERT_NE(e, nullptr);
  const float table[12] = {0, 0, 0, 0, 0.7f, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(e->SetValue("Table", table, sizeof table), kOk);
  const float lamp[4] = {0.5f, 0.1f, 0.8f, 0.3f};  // intensity, colour
  ASSERT_EQ(e->SetValue("Lamp", lamp, sizeof lamp), kOk);
  ExpectColour(Render("arrays"), 10, 10, 0.7f, 0.4f, 0.5f);

  // A bone palette of float4x3 in pieces, as a mesh updates it.
  Load(ShowValue("float4x3 Bones[2];", "float4(mul(v, Bones[1]), 1)"));
  const Matrix m = TestMatrix();
  float bone[12];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 3; ++c) bone[r * 3 + c] = m.m[r][c];
  }
  ASSERT_EQ(mEffect->SetRawValue("Bones", bone, sizeof bone, sizeof bone), kOk);
  const Vector4 expected = RowTimes({0.1f, 0.2f, 0.3f, 1.0f}, m);
  ExpectColour(Render("bones"), 10, 10, expected.x, expected.y, expected.z);
}

TEST_F(EffectRenderTest, ScalarsLoopsAndCompileArguments) {
  Load(R"(
int Steps = 3;
bool Bright = false;
float Base;
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS(uniform float scale) : COLOR {
  float a = 0;
  for (int i = 0; i < Steps; ++i) a += 0.1;
  return float4(a, Bright ? 1.0 : 0.0, Base * scale, 1);
}
technique T { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS(0.5); } }
)");
  ASSERT_NE(mEffect, nullptr);
  ASSERT_EQ(mEffect->SetFloat("Base", 0.8f), kOk);
  ExpectColour(Render("scalars"), 5, 5, 0.3f, 0.0f, 0.4f);
  ASSERT_EQ(mEffect->SetInt("Steps", 6), kOk);
  ASSERT_EQ(mEffect->SetBool("Bright", true), kOk);
  ExpectColour(Render("scalars_changed"), 5, 5, 0.6f, 1.0f, 0.4f);
}

TEST_F(EffectRenderTest, TextureLookupsOfEveryKind) {
  // 2x2: red, green / blue, white.
  Texture* t = MakeTexture(2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
  Load(R"(
texture Map;
sampler2D S = sampler_state { Texture = <Map>; MinFilter = Point; MagFilter = Point; MipFilter = None; };
struct V { float4 p : POSITION; float2 uv : TEXCOORD0; float4 fetched : TEXCOORD1; };
V VS(float4 p : POSITION, float2 uv : TEXCOORD0) {
  V o; o.p = p; o.uv = uv; o.fetched = tex2Dlod(S, float4(0.75, 0.25, 0, 0)); return o;
}
float4 Plain(float2 uv : TEXCOORD0) : COLOR { return tex2D(S, uv); }
float4 Projected(float2 uv : TEXCOORD0) : COLOR { return tex2Dproj(S, float4(uv * 2, 0, 2)); }
float4 FromVertex(float4 f : TEXCOORD1) : COLOR { return f; }
technique Plain { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Plain(); } }
technique Projected { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Projected(); } }
technique Vertex { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 FromVertex(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  ASSERT_EQ(mEffect->SetTexture("Map", t), kOk);
  for (const char* technique : {"Plain", "Projected"}) {
    SCOPED_TRACE(technique);
    const Picture p = Render(std::string("tex_") + technique, technique);
    ExpectColour(p, 10, 10, 1, 0, 0);  // top left
    ExpectColour(p, 50, 10, 0, 1, 0);
    ExpectColour(p, 10, 50, 0, 0, 1);
    ExpectColour(p, 50, 50, 1, 1, 1);
  }
  ExpectColour(Render("tex_vertex", "Vertex"), 32, 32, 0, 1, 0);
  t->Release();
}

// The context goes as a browser takes a WebGL context back: after the
// reset every pass is linked again and gets its values and textures again.
TEST_F(EffectRenderTest, ALostContextLinksEveryPassAgain) {
  Texture* t = MakeTexture(2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
  Load(R"(
texture Map;
float Dim = 1;
sampler2D S = sampler_state { Texture = <Map>; MinFilter = Point; MagFilter = Point; MipFilter = None; };
struct V { float4 p : POSITION; float2 uv : TEXCOORD0; };
V VS(float4 p : POSITION, float2 uv : TEXCOORD0) { V o; o.p = p; o.uv = uv; return o; }
float4 PS(float2 uv : TEXCOORD0) : COLOR { return tex2D(S, uv) * Dim; }
technique T { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  ASSERT_EQ(mEffect->SetTexture("Map", t), kOk);
  ASSERT_EQ(mEffect->SetFloat("Dim", 0.5f), kOk);
  const Picture before = Render("lost_before");
  ExpectColour(before, 10, 10, 0.5f, 0, 0);
  ExpectColour(before, 50, 50, 0.5f, 0.5f, 0.5f);

  Device* device = mDevice.Get();
  gl::LoseContextForTesting(0);
  ASSERT_EQ(device->TestCooperativeLevel(), kDeviceNotReset);
  mEffect->OnLostDevice();
  PresentParameters pp;
  pp.backBufferWidth = pp.backBufferHeight = mDevice.Size();
  pp.windowed = true;
  ASSERT_EQ(device->Reset(&pp), kOk) << gl::LastError();
  mEffect->OnResetDevice();
  EXPECT_EQ(Render("lost_after").pixels, before.pixels);
  t->Release();
}

TEST_F(EffectRenderTest, CubeMapsAndAddressModes) {
  CubeTexture* cube = nullptr;
  ASSERT_EQ(mDevice.Get()->CreateCubeTexture(1, 1, 0, kFormatA8R8G8B8, kPoolManaged, &cube, nullptr),
            kOk);
  const std::uint32_t faces[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                  0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
  for (std::uint32_t f = 0; f < 6; ++f) {
    Surface* s = nullptr;
    ASSERT_EQ(cube->GetCubeMapSurface(static_cast<CubeFace>(f), 0, &s), kOk);
    LockedRect locked;
    ASSERT_EQ(s->LockRect(&locked, nullptr, 0), kOk);
    std::memcpy(locked.bits, &faces[f], 4);
    s->UnlockRect();
    s->Release();
  }
  Texture* t = MakeTexture(2, 1, {0xFFFF0000, 0xFF00FF00});
  Load(R"(
textureCUBE Sky;
samplerCUBE SkySampler = sampler_state { Texture = <Sky>; };
texture Strip;
sampler2D Wrapped = sampler_state { Texture = <Strip>; AddressU = Wrap; };
sampler2D Clamped = sampler_state { Texture = <Strip>; AddressU = Clamp; };
float3 Direction;
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 Cube() : COLOR { return texCUBE(SkySampler, Direction); }
float4 Wrap() : COLOR { return tex2D(Wrapped, float2(1.25, 0.5)); }
float4 Clamp() : COLOR { return tex2D(Clamped, float2(1.25, 0.5)); }
technique Cube { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Cube(); } }
technique Wrap { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Wrap(); } }
technique Clamp { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Clamp(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  ASSERT_EQ(mEffect->SetTexture("Sky", cube), kOk);
  ASSERT_EQ(mEffect->SetTexture("Strip", t), kOk);
  const Vector4 directions[6] = {{1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 1, 0, 0},
                                 {0, -1, 0, 0}, {0, 0, 1, 0}, {0, 0, -1, 0}};
  for (int f = 0; f < 6; ++f) {
    SCOPED_TRACE(f);
    ASSERT_EQ(mEffect->SetVector("Direction", &directions[f]), kOk);
    const Picture p = Render("cube" + std::to_string(f), "Cube");
    EXPECT_EQ(p.At(32, 32), faces[f]);
  }
  EXPECT_EQ(Render("wrap", "Wrap").At(1, 1), 0xFFFF0000u);
  EXPECT_EQ(Render("clamp", "Clamp").At(1, 1), 0xFF00FF00u);
  cube->Release();
  t->Release();
}

TEST_F(EffectRenderTest, PixelShader3SystemValues) {
  Load(R"(
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 Position(float2 vpos : VPOS) : COLOR { return float4(vpos.x / 255.0, vpos.y / 255.0, 0, 1); }
float4 Face(float face : VFACE) : COLOR { return face > 0 ? float4(0, 1, 0, 1) : float4(1, 0, 0, 1); }
technique Position { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Position(); } }
technique Face { pass { CullMode = None;
  VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Face(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  const Picture p = Render("vpos", "Position");
  EXPECT_EQ(p.Channel(10, 20, 2), 10);  // pixel coordinates from the top left
  EXPECT_EQ(p.Channel(10, 20, 1), 20);
  EXPECT_EQ(p.Channel(63, 0, 2), 63);
  // Clockwise as seen is the front; the reversed quad shows its back.
  EXPECT_EQ(Render("vface_front", "Face").At(32, 32), 0xFF00FF00u);
  std::vector<Vertex> reversed = EffectDevice::Quad();
  std::swap(reversed[1], reversed[2]);
  std::swap(reversed[4], reversed[5]);
  EXPECT_EQ(Render("vface_back", "Face", reversed).At(32, 32), 0xFFFF0000u);
}

TEST_F(EffectRenderTest, CullingFollowsTheLibrarysWinding) {
  Load(R"(
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS() : COLOR { return 1; }
technique Default { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
technique CW { pass { CullMode = CW; VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  std::vector<Vertex> reversed = EffectDevice::Quad();
  std::swap(reversed[1], reversed[2]);
  std::swap(reversed[4], reversed[5]);
  EXPECT_EQ(Render("cull_default_cw", "Default").At(32, 32), 0xFFFFFFFFu);
  EXPECT_EQ(Render("cull_default_ccw", "Default", reversed).At(32, 32), 0xFF000000u);
  EXPECT_EQ(Render("cull_cw_cw", "CW").At(32, 32), 0xFF000000u);
  EXPECT_EQ(Render("cull_cw_ccw", "CW", reversed).At(32, 32), 0xFFFFFFFFu);
}

TEST_F(EffectRenderTest, ClipDepthOutputAndAlphaTest) {
  Load(R"(
struct V { float4 p : POSITION; float2 uv : TEXCOORD0; };
V VS(float4 p : POSITION, float2 uv : TEXCOORD0) { V o; o.p = p; o.uv = uv; return o; }
float4 Clipped(float2 uv : TEXCOORD0) : COLOR { clip(uv.x - 0.5); return 1; }
float4 Near(float2 uv : TEXCOORD0, out float depth : DEPTH) : COLOR { depth = 0.1; return float4(1, 0, 0, 1); }
float4 Green() : COLOR { return float4(0, 1, 0, 1); }
float4 Fade(float2 uv : TEXCOORD0) : COLOR { return float4(1, 1, 1, uv.x); }
technique Clip { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Clipped(); } }
technique Depth {
  pass Near { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Near(); }
  pass Far { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Green(); }
}
technique AlphaTest { pass { AlphaTestEnable = true; AlphaRef = 128; AlphaFunc = Greater;
  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Fade(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  Picture p = Render("clip", "Clip");
  EXPECT_EQ(p.At(10, 32), 0xFF000000u);
  EXPECT_EQ(p.At(54, 32), 0xFFFFFFFFu);
  // The first pass writes depth 0.1 although its quad lies at 0.5, so the
  // second pass at 0.5 fails the less-equal test everywhere.
  EXPECT_EQ(Render("depth", "Depth").At(32, 32), 0xFFFF0000u);
  p = Render("alphatest", "AlphaTest");
  EXPECT_EQ(p.At(10, 32), 0xFF000000u);
  EXPECT_EQ(p.Channel(54, 32, 2), 255);
}

TEST_F(EffectRenderTest, DepthFromAnOutputStructInAnyMemberOrder) {
  Load(R"(
float4 VS(float4 p : POSITION) : POSITION { return p; }
struct A { float4 c0 : COLOR0; float4 c1 : COLOR1; float d : DEPTH; };
struct B { float4 c1 : COLOR1; float d : DEPTH; float4 c0 : COLOR0; };
A First() { A o; o.c0 = float4(1, 0, 0, 1); o.c1 = 1; o.d = 0.25; return o; }
B Second() { B o; o.c0 = float4(0, 0, 1, 1); o.c1 = 1; o.d = 0.25; return o; }
float4 Probe() : COLOR { return float4(0, 1, 0, 1); }
technique First { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 First(); } }
technique Second { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Second(); } }
technique Probe { pass { ZFunc = Less;
  VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 Probe(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  // Quads at 0.5 that write depth 0.25: a probe just in front of that
  // depth is drawn, one just behind it is not.
  for (const char* t : {"First", "Second"}) {
    const std::uint32_t colour = t[0] == 'F' ? 0xFFFF0000u : 0xFF0000FFu;
    for (const float z : {0.24f, 0.26f}) {
      SCOPED_TRACE(std::string(t) + " probe at " + std::to_string(z));
      mDevice.SetGeometry(EffectDevice::Quad());
      ASSERT_TRUE(mDevice.Draw(mEffect, t));
      mDevice.SetGeometry(EffectDevice::Quad(z));
      ASSERT_TRUE(mDevice.Draw(mEffect, "Probe", 0, false));
      EXPECT_EQ(mDevice.ReadBackBuffer().At(32, 32), z < 0.25f ? 0xFF00FF00u : colour);
    }
  }
}

TEST_F(EffectRenderTest, BlendingColourMaskAndWireframe) {
  Load(R"(
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 Quarter() : COLOR { return float4(1, 0, 0, 0.25); }
float4 White() : COLOR { return 1; }
technique Blend { pass { AlphaBlendEnable = true; SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha;
  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Quarter(); } }
technique Additive {
  pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Quarter(); }
  pass { AlphaBlendEnable = true; SrcBlend = One; DestBlend = One; BlendOp = Add;
    VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Quarter(); }
}
technique Mask { pass { ColorWriteEnable = Green | Alpha;
  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 White(); } }
technique Wire { pass { FillMode = Wireframe; CullMode = None;
  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 White(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  ExpectColour(Render("blend", "Blend", EffectDevice::Quad(), 0xFF0000FF), 32, 32, 0.25f, 0, 0.75f);
  // Pass 2 adds onto pass 1 (states of one pass apply only to it).
  ExpectColour(Render("additive", "Additive"), 32, 32, 1, 0, 0);
  ExpectColour(Render("mask", "Mask", EffectDevice::Quad(), 0xFF800080), 32, 32, 0.5f, 1, 0.5f);
  const Picture wire = Render("wireframe", "Wire");
  int lit = 0;
  for (std::uint32_t v : wire.pixels) lit += v == 0xFFFFFFFFu ? 1 : 0;
  EXPECT_GT(lit, 64);    // the edges and the diagonal
  EXPECT_LT(lit, 1024);  // but not the inside
}

// A pass may turn multisampling off: its edges then take the pixel centre's
// colour, while the same pass with the default state is smoothed.
TEST(EffectRenderMultisample, EdgesSmoothUnlessThePassTurnsItOff) {
  EffectDevice device(Backend::GL, 64, 4);
  if (!device.Ok()) GTEST_SKIP() << "no 4-sample back buffer: " << gl::LastError();
  std::string messages;
  Effect* effect = device.Create(R"(
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 White() : COLOR { return 1; }
technique Smooth { pass { CullMode = None; VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 White(); } }
technique Hard { pass { CullMode = None; MultiSampleAntialias = false;
  VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 White(); } }
)", &messages);
  ASSERT_NE(effect, nullptr) << messages;
  // A slanted edge across the picture.
  auto v = [](float x, float y) { return Vertex{x, y, 0.5f, 0, 0, -1, 1, 1, 1, 1, 0, 0, 0, 0}; };
  device.SetGeometry({v(-1, 1), v(1, 1), v(1, -0.6f)});
  auto partial = [&](const char* technique) {
    EXPECT_TRUE(device.Draw(effect, technique, 0xFF000000));
    const Picture p = device.ReadBackBuffer();
    p.Save(std::string("effect_multisample_") + technique);
    int count = 0;
    for (std::uint32_t c : p.pixels) count += (c & 0xFF) != 0 && (c & 0xFF) != 0xFF ? 1 : 0;
    return count;
  };
  EXPECT_GT(partial("Smooth"), 32);
  // OpenGL ES cannot switch multisampling off: every pass is smoothed there.
  if (!EsRequested()) {
    EXPECT_EQ(partial("Hard"), 0);
  }
  EXPECT_GT(partial("Smooth"), 32);  // the next pass has it back
  EXPECT_EQ(effect->Release(), 0u);
}

// Packed vertex colours (bytes B, G, R, A) reach a vertex shader's COLOR0
// and COLOR1 and the fixed-function stage as red, green, blue, alpha, and
// the same program then reads float colours as they are.
TEST_F(EffectRenderTest, PackedVertexColoursKeepTheirChannels) {
  Load(R"(
struct V { float4 p : POSITION; float4 c : TEXCOORD0; };
V First(float4 p : POSITION, float4 c : COLOR0) { V o; o.p = p; o.c = c; return o; }
V Second(float4 p : POSITION, float4 c : COLOR1) { V o; o.p = p; o.c = c; return o; }
float4 PS(float4 c : TEXCOORD0) : COLOR0 { return float4(c.rgb, 1); }
technique Colour0 { pass { CullMode = None; VertexShader = compile vs_2_0 First(); PixelShader = compile ps_2_0 PS(); } }
technique Colour1 { pass { CullMode = None; VertexShader = compile vs_2_0 Second(); PixelShader = compile ps_2_0 PS(); } }
technique Fixed { pass { CullMode = None; } }
)");
  ASSERT_NE(mEffect, nullptr);
  struct Packed {
    float x, y, z;
    std::uint32_t c0, c1;
  };
  const VertexElement elements[] = {{0, 0, kDeclFloat3, 0, kDeclUsagePosition, 0},
                                    {0, 12, kDeclColor, 0, kDeclUsageColor, 0},
                                    {0, 16, kDeclColor, 0, kDeclUsageColor, 1}, kDeclEnd};
  const std::uint32_t orange = 0xFFFF8000, azure = 0xFF0040FF;
  const Packed vertices[] = {{-1, 1, 0.5f, orange, azure}, {1, 1, 0.5f, orange, azure},
                             {1, -1, 0.5f, orange, azure}, {-1, -1, 0.5f, orange, azure}};
  const std::uint16_t indices[] = {0, 1, 2, 0, 2, 3};
  Device* device = mDevice.Get();
  VertexDeclaration* declaration = nullptr;
  VertexBuffer* vb = nullptr;
  IndexBuffer* ib = nullptr;
  ASSERT_EQ(device->CreateVertexDeclaration(elements, &declaration), kOk);
  ASSERT_EQ(device->CreateVertexBuffer(sizeof vertices, 0, 0, kPoolManaged, &vb, nullptr), kOk);
  ASSERT_EQ(device->CreateIndexBuffer(sizeof indices, 0, kFormatIndex16, kPoolManaged, &ib, nullptr), kOk);
  FillBuffers(vb, vertices, ib, indices);
  auto draw = [&](const char* technique) {
    std::uint32_t passes = 0;
    device->Clear(0, nullptr, kClearTarget | kClearZBuffer, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    mEffect->SetTechnique(mEffect->GetTechniqueByName(technique));
    mEffect->Begin(&passes, 0);
    device->SetVertexDeclaration(declaration);
    device->SetStreamSource(0, vb, 0, sizeof(Packed));
    device->SetIndices(ib);
    mEffect->BeginPass(0);
    EXPECT_EQ(device->DrawIndexedPrimitive(kTriangleList, 0, 0, 4, 0, 2), kOk);
    mEffect->EndPass();
    mEffect->End();
    device->EndScene();
    return mDevice.ReadBackBuffer();
  };
  ExpectColour(draw("Colour0"), 32, 32, 1, 128 / 255.0f, 0);
  ExpectColour(draw("Colour1"), 32, 32, 0, 64 / 255.0f, 1);
  ExpectColour(draw("Fixed"), 32, 32, 1, 128 / 255.0f, 0);
  mDevice.SetGeometry(EffectDevice::Quad(0.5f, 0.2f, 0.4f, 0.9f));
  ASSERT_TRUE(mDevice.Draw(mEffect, "Colour0"));
  ExpectColour(mDevice.ReadBackBuffer(), 32, 32, 0.2f, 0.4f, 0.9f);
  device->SetVertexDeclaration(nullptr);
  device->SetStreamSource(0, nullptr, 0, 0);
  device->SetIndices(nullptr);
  EXPECT_EQ(declaration->Release(), 0u);
  EXPECT_EQ(vb->Release(), 0u);
  EXPECT_EQ(ib->Release(), 0u);
}

TEST_F(EffectRenderTest, VaryingsLinkBySemanticWithWideningAndZeroes) {
  Load(R"(
struct V { float4 p : POSITION; float4 second : TEXCOORD1; float4 first : TEXCOORD0; };
V VS(float4 p : POSITION) { V o; o.p = p; o.first = float4(0.2, 0.4, 0.6, 0.8);
  o.second = float4(0.9, 0.7, 0.5, 0.3); return o; }
// Declared in another order, narrower, and one the vertex shader never wrote.
float4 PS(float2 a : TEXCOORD1, float3 b : TEXCOORD0, float4 unwritten : TEXCOORD5) : COLOR {
  return float4(a.x, b.z, unwritten.x + unwritten.w, 1); }
technique T { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  ExpectColour(Render("varyings"), 32, 32, 0.9f, 0.6f, 0.0f);
}

TEST_F(EffectRenderTest, HlslArithmeticKeepsItsMeaning) {
  // fmod keeps the sign of x; GLSL's mod would give 0.5 here.
  Load(ShowValue("float X = -1.5;", "float4(-fmod(X, 1.0), frac(1.25), lerp(0.2, 0.6, 0.5), 1)"));
  ASSERT_NE(mEffect, nullptr);
  ExpectColour(Render("arithmetic"), 32, 32, 0.5f, 0.25f, 0.4f);
}

TEST_F(EffectRenderTest, SeveralRenderTargets) {
  Load(R"(
float4 VS(float4 p : POSITION) : POSITION { return p; }
void PS(out float4 a : COLOR0, out float4 b : COLOR1) { a = float4(1, 0, 0, 1); b = float4(0, 0, 1, 1); }
technique T { pass { VertexShader = compile vs_3_0 VS(); PixelShader = compile ps_3_0 PS(); } }
)");
  ASSERT_NE(mEffect, nullptr);
  Texture* second = nullptr;
  ASSERT_EQ(mDevice.Get()->CreateTexture(64, 64, 1, kUsageRenderTarget, kFormatA8R8G8B8,
                                         kPoolDefault, &second, nullptr),
            kOk);
  Surface* level = nullptr;
  ASSERT_EQ(second->GetSurfaceLevel(0, &level), kOk);
  ASSERT_EQ(mDevice.Get()->SetRenderTarget(1, level), kOk);
  const Picture p = Render("mrt0");
  ASSERT_EQ(mDevice.Get()->SetRenderTarget(1, nullptr), kOk);
  EXPECT_EQ(p.At(32, 32), 0xFFFF0000u);
  Surface* copy = nullptr;
  ASSERT_EQ(mDevice.Get()->CreateOffscreenPlainSurface(64, 64, kFormatA8R8G8B8, kPoolSystemMem,
                                                       &copy),
            kOk);
  ASSERT_EQ(mDevice.Get()->GetRenderTargetData(level, copy), kOk);
  LockedRect locked;
  ASSERT_EQ(copy->LockRect(&locked, nullptr, 0), kOk);
  std::uint32_t pixel;
  std::memcpy(&pixel, static_cast<const std::uint8_t*>(locked.bits) + 32 * locked.pitch + 32 * 4, 4);
  EXPECT_EQ(pixel, 0xFF0000FFu);
  copy->UnlockRect();
  copy->Release();
  level->Release();
  second->Release();
}

TEST_F(EffectRenderTest, SharedParametersReachEveryEffectOfThePool) {
  const std::string source = R"(
shared float4 Fog;
float4 Own = {0, 0, 0, 1};
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS() : COLOR { return Fog + Own; }
technique T { pass { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
)";
  Effect* writer = Load(source);
  ASSERT_NE(writer, nullptr);
  writer->AddRef();
  Effect* reader = Load(source);
  ASSERT_NE(reader, nullptr);
  const Vector4 fog{0, 0.5f, 0, 0}, own{1, 0, 0, 0};
  ASSERT_EQ(writer->SetVector("Fog", &fog), kOk);
  ASSERT_EQ(writer->SetVector("Own", &own), kOk);  // not shared: the reader keeps its own
  ExpectColour(Render("shared"), 32, 32, 0, 0.5f, 0);
  writer->Release();
}

TEST_F(EffectRenderTest, CorpusMaterialDrawsLitTexture) {
  // The shape of a material effect: matrices by semantic, a light, a
  // texture through sampler_state, a UIName tint.
  Load(ReadCorpus("basic.fx"));
  ASSERT_NE(mEffect, nullptr);
  Texture* t = MakeTexture(1, 1, {0xFFFFFFFF});
  Matrix identity;
  MatrixIdentity(&identity);
  ASSERT_EQ(mEffect->SetMatrix(mEffect->GetParameterBySemantic(nullptr, "WORLDVIEWPROJECTION"),
                               &identity),
            kOk);
  ASSERT_EQ(mEffect->SetMatrix("World", &identity), kOk);
  const Vector4 light{0, 0, -1, 1};
  ASSERT_EQ(mEffect->SetVector("Light0", &light), kOk);
  ASSERT_EQ(mEffect->SetTexture("DiffuseMap", t), kOk);
  ExpectColour(Render("basic", "Lit"), 32, 32, 1.0f, 0.5f, 0.25f);
  t->Release();
}

}  // namespace
