// Light shafts from the sun behind the skyline: the bright parts of the
// grabbed frame near the sun are blurred radially towards the sun's place on
// screen into "godRays", which is then added over the finished picture.
#include "common.fxh"

// First parameter of the first pass: the program writes the normalized
// direction from the sun to the camera into it every frame.
float3 LightDir = {0.0, 0.0, -1.0};

texture SourceTex;
sampler2D SourceSampler = sampler_state {
  Texture = <SourceTex>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};
texture RaysTex;
sampler2D RaysSampler = sampler_state {
  Texture = <RaysTex>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};

float Density = 0.85;     // share of the way to the sun a ray reaches
float MaxReach = 0.7;     // ... but never longer than this (screen heights)
float Decay = 0.955;
float Exposure = 0.9;
float SunRadius = 0.55;   // screen heights round the sun that feed the rays
float Strength = 1.0;
float Threshold = 0.3;    // what of the source counts as light
float3 RaysTint = {1.0, 0.72, 0.45};

struct RaysOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 sun : TEXCOORD1;   // sun's uv, and how much of it the view faces
};

RaysOut RaysVS(float3 pos : POSITION, float2 uv : TEXCOORD0) {
  RaysOut o;
  o.pos = float4(pos.xy, 0.0, 1.0);
  o.uv = uv;
  // The sun at infinity, opposite the direction of its light. The program
  // writes the direction before the scene is updated, a frame late; the same
  // direction from this frame's node and light is exact, so it is preferred
  // whenever a light is bound.
  float3 dir = Light0.w > 0.5 ? normalize(World[3].xyz - Light0.xyz) : LightDir;
  float4 p = mul(float4(-dir, 0.0), ViewProjection);
  float w = max(p.w, 1e-3);
  float2 sun = float2(0.5 + 0.5 * p.x / w, 0.5 - 0.5 * p.y / w);
  float2 off = max(abs(sun - 0.5) - 0.5, 0.0);
  float facing = saturate(p.w * 4.0) * saturate(1.0 - length(off) * 1.5);
  o.sun = float3(sun, facing);
  return o;
}

float3 RaysOf(float2 uv, float3 sun, int samples, float jitter) {
  float aspect = Screen.x / Screen.y;
  float2 toSun = sun.xy - uv;
  float reach = length(toSun * float2(aspect, 1.0));
  float2 step = toSun * Density * min(1.0, MaxReach / max(reach * Density, 1e-4)) / samples;
  float2 p = uv + step * jitter;
  float weight = 1.0;
  float3 acc = float3(0.0, 0.0, 0.0);
  for (int i = 0; i < samples; ++i) {
    float2 fromSun = (p - sun.xy) * float2(aspect, 1.0);
    float feed = saturate(1.0 - length(fromSun) / SunRadius);
    acc += max(tex2D(SourceSampler, p).rgb - Threshold, 0.0) * feed * feed * weight;
    weight *= Decay;
    p += step;
  }
  return acc * Exposure * sun.z / samples * 4.0;
}

float4 Rays30PS(float2 uv : TEXCOORD0, float3 sun : TEXCOORD1, float2 vpos : VPOS) : COLOR0 {
  return float4(RaysOf(uv, sun, 40, Hash(vpos)), 1.0);
}

float4 Rays20PS(float2 uv : TEXCOORD0, float3 sun : TEXCOORD1) : COLOR0 {
  return float4(RaysOf(uv, sun, 12, 0.5), 1.0);
}

float4 AddPS(float2 uv : TEXCOORD0) : COLOR0 {
  return float4(tex2D(RaysSampler, uv).rgb * RaysTint * Strength, 1.0);
}

#define SCREEN ZEnable = false; ZWriteEnable = false; CullMode = None; NO_EDGES

technique Rays30 { pass P0 { VertexShader = compile vs_3_0 RaysVS(); PixelShader = compile ps_3_0 Rays30PS(); SCREEN AlphaBlendEnable = false; } }
technique Rays20 { pass P0 { VertexShader = compile vs_2_0 RaysVS(); PixelShader = compile ps_2_0 Rays20PS(); SCREEN AlphaBlendEnable = false; } }
technique Add30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 AddPS(); SCREEN AlphaBlendEnable = true; SrcBlend = One; DestBlend = One; } }
technique Add20 { pass P0 { VertexShader = compile vs_2_0 ClipVS(); PixelShader = compile ps_2_0 AddPS(); SCREEN AlphaBlendEnable = true; SrcBlend = One; DestBlend = One; } }
