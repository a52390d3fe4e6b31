// Values the engine binds by semantic, and helpers every effect of the demo
// shares. Effects include this first.
#ifndef COMMON_FXH
#define COMMON_FXH

float4x4 World : World;
float4x4 View : View;
float4x4 ViewProjection : ViewProjection;
float4x4 WorldViewProjection : WorldViewProjection;
float4x4 ViewInverse : ViewInverse;
float4 ViewPos : ViewPos;
float4 Light0 : Light0;
float Time : Time;
float4 Screen : Screen;

// Tiling value noise, four octaves in r, g, b, a (coarse to fine).
texture NoiseMap;
sampler2D NoiseSampler = sampler_state {
  Texture = <NoiseMap>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Linear;
  AddressU = Wrap;
  AddressV = Wrap;
};
// The same noise without mipmaps, for lookups that are never minified
// much (directions round the eye, slow warps, soft shafts): the rasterizer
// then skips the level of detail.
sampler2D NoiseNoMipSampler = sampler_state {
  Texture = <NoiseMap>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = None;
  AddressU = Wrap;
  AddressV = Wrap;
};

// Full-screen and card quads arrive in clip space already.
struct ClipOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
};

ClipOut ClipVS(float3 pos : POSITION, float2 uv : TEXCOORD0) {
  ClipOut o;
  o.pos = float4(pos.xy, 0.0, 1.0);
  o.uv = uv;
  return o;
}

float Luma(float3 c) { return dot(c, float3(0.299, 0.587, 0.114)); }

// Cheap per-pixel or per-object random in 0..1.
// Without sine: GPUs work out the sine of large arguments each their own
// way (a lit window here is dark there), but multiply and take fractions
// alike, so these give the same picture on every GPU and in every browser.
float Hash(float2 p) {
  float3 q = frac(p.xyx * 0.1031);
  q += dot(q, q.yzx + 33.33);
  return frac((q.x + q.y) * q.z);
}
float Hash3(float3 p) {
  float3 q = frac(p * 0.1031);
  q += dot(q, q.zyx + 31.32);
  return frac((q.x + q.y) * q.z);
}

// Exponential distance fog towards a colour.
float3 Fogged(float3 c, float3 fogColour, float dist, float density) {
  return lerp(fogColour, c, exp(-dist * density));
}

// World position to clip space with the engine's row-vector matrices.
float4 ToClip(float3 worldPos) { return mul(float4(worldPos, 1.0), ViewProjection); }

// Camera axes in world space (rows of the camera's world matrix).
float3 CameraRight() { return ViewInverse[0].xyz; }
float3 CameraUp() { return ViewInverse[1].xyz; }

#endif

// Whole powers by multiplication: pow() is exp2(log2()) on a software
// rasterizer.
float Cube(float x) { return x * x * x; }
float Pow4(float x) { float x2 = x * x; return x2 * x2; }
float Pow5(float x) { return Pow4(x) * x; }
float Pow6(float x) { float x2 = x * x; return x2 * x2 * x2; }

// Pass state for passes whose edges cannot be seen: full-screen passes, and
// sprites and puffs that fade out before their outline. Every sample of the
// multisampled frame then takes the pixel centre's value, at the cost of one
// sample instead of four. Not for opaque passes that fill in behind others
// (a backdrop drawn last): the software rasterizer then also tests depth
// once per pixel, which would make the edges in front of it jagged.
#define NO_EDGES MultiSampleAntialias = false;
