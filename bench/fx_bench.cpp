// Effects: the cost of compiling a typical two-pass material effect (front
// end, glslang, SPIRV-Cross and, on the gl backend, the driver's link) and
// the per-draw cost of CommitChanges after a dozen parameters changed.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/effect.h"
#include "platform/graphics.h"
#include "platform/null/nullGraphics.h"

namespace {

using namespace platform;

const char* kTwoPassEffect = R"(
float4x4 WorldViewProjection : WorldViewProjection;
float4x4 World : World;
float4x4 View : View;
float4 Light0 : Light0;
float4 Light1 : Light1;
float4 ViewPos : ViewPos;
float Time : Time;
float4 Tint < string UIName = "Tint"; > = {1, 1, 1, 1};
float4 Ambient = {0.1, 0.1, 0.1, 1};
float Shininess = 16;
float Glow = 0.5;
float2 Scroll = {0.1, 0};
texture DiffuseMap;
sampler2D Diffuse = sampler_state { Texture = <DiffuseMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear; };
struct VSOut { float4 p : POSITION; float2 uv : TEXCOORD0; float3 n : TEXCOORD1; float3 v : TEXCOORD2; };
VSOut VS(float4 p : POSITION, float3 n : NORMAL, float2 uv : TEXCOORD0) {
  VSOut o;
  o.p = mul(p, WorldViewProjection);
  o.uv = uv + Scroll * Time;
  o.n = mul(n, (float3x3)World);
  o.v = ViewPos.xyz - mul(p, World).xyz;
  return o;
}
float4 Lit(float2 uv : TEXCOORD0, float3 n : TEXCOORD1, float3 v : TEXCOORD2) : COLOR {
  float3 N = normalize(n);
  float3 L = normalize(Light0.xyz);
  float3 H = normalize(L + normalize(v));
  float4 c = tex2D(Diffuse, uv) * Tint;
  return c * (Ambient + saturate(dot(N, L))) + pow(saturate(dot(N, H)), Shininess);
}
float4 GlowPass(float2 uv : TEXCOORD0) : COLOR { return tex2D(Diffuse, uv) * Glow; }
technique Material < bool quad = false; > {
  pass Base { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 Lit(); }
  pass Glow { AlphaBlendEnable = true; SrcBlend = One; DestBlend = One;
    VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 GlowPass(); }
}
)";

struct Fixture {
  explicit Fixture(Backend backend) {
    d3d = Direct3DCreate(backend);
    if (d3d == nullptr) return;
    PresentParameters pp;
    pp.backBufferWidth = pp.backBufferHeight = 64;
    if (Failed(d3d->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &pp, &device))) {
      device = nullptr;
    }
    CreateEffectPool(&pool);
  }
  ~Fixture() {
    if (pool) pool->Release();
    if (device) device->Release();
    if (d3d) d3d->Release();
  }
  Direct3D* d3d = nullptr;
  Device* device = nullptr;
  EffectPool* pool = nullptr;
};

void Compile(benchmark::State& state, Backend backend) {
  Fixture f(backend);
  if (f.device == nullptr) {
    state.SkipWithError("no device");
    return;
  }
  for (auto _ : state) {
    Effect* effect = nullptr;
    if (Failed(CreateEffect(f.device, kTwoPassEffect, "bench.fx", nullptr, 0, f.pool, &effect,
                            nullptr))) {
      state.SkipWithError("compile failed");
      return;
    }
    effect->Release();
  }
}

void BM_CompileTwoPassEffect_Null(benchmark::State& state) { Compile(state, Backend::Null); }
void BM_CompileTwoPassEffect_Gl(benchmark::State& state) { Compile(state, Backend::GL); }

// Twelve parameters change between draws, as a shader's bindings and
// material values do, then CommitChanges carries them to the device.
void BM_CommitTwelveChanges(benchmark::State& state) {
  Fixture f(state.range(0) == 0 ? Backend::Null : Backend::GL);
  Effect* effect = nullptr;
  if (f.device == nullptr ||
      Failed(CreateEffect(f.device, kTwoPassEffect, "bench.fx", nullptr, 0, f.pool, &effect,
                          nullptr))) {
    state.SkipWithError("no effect");
    return;
  }
  const char* matrices[] = {"WorldViewProjection", "World", "View"};
  const char* vectors[] = {"Light0", "Light1", "ViewPos", "Tint", "Ambient"};
  const char* floats[] = {"Time", "Shininess", "Glow", "Scroll"};
  Handle m[3], v[5], s[4];
  for (int i = 0; i < 3; ++i) m[i] = effect->GetParameterByName(nullptr, matrices[i]);
  for (int i = 0; i < 5; ++i) v[i] = effect->GetParameterByName(nullptr, vectors[i]);
  for (int i = 0; i < 4; ++i) s[i] = effect->GetParameterByName(nullptr, floats[i]);
  effect->SetTechnique(effect->GetTechnique(0));
  std::uint32_t passes = 0;
  effect->Begin(&passes, 0);
  effect->BeginPass(0);
  Matrix matrix;
  MatrixIdentity(&matrix);
  float t = 0;
  int n = 0;
  for (auto _ : state) {
    if ((++n & 4095) == 0) null::ClearCallRecord();  // the null device records every call
    t += 0.001f;
    matrix.m[3][0] = t;
    const Vector4 value{t, 1, 2, 1};
    for (Handle h : m) effect->SetMatrix(h, &matrix);
    for (Handle h : v) effect->SetVector(h, &value);
    for (Handle h : s) effect->SetFloat(h, t);
    effect->CommitChanges();
  }
  effect->EndPass();
  effect->End();
  effect->Release();
}

BENCHMARK(BM_CompileTwoPassEffect_Null)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileTwoPassEffect_Gl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommitTwelveChanges)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
