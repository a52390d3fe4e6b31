// Title and closing cards: text drawn by the generator, laid over the scene
// in screen space with a slow shimmer and a fade.
#include "common.fxh"

texture CardMap;
sampler2D CardSampler = sampler_state {
  Texture = <CardMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Clamp; AddressV = Clamp;
};

float3 Tint = {0.9, 0.97, 1.0};
float3 ShimmerTint = {0.6, 1.0, 0.95};
float Wobble = 0.004;     // uv distortion, as if seen through moving water
float Growth = 0.01;      // slow zoom per second while shown
float ShownAt = 0.0;      // the time the card appears
float3 HaloColour = {0.0, 0.02, 0.05};
float HaloStrength = 0.45;
float Fade;               // animated: 0 hidden .. 1 shown

struct CardOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float2 screen : TEXCOORD1;
};

// The quad was laid out for 4:3; keep the text's proportions on any screen.
CardOut CardVS(float3 pos : POSITION, float2 uv : TEXCOORD0) {
  CardOut o;
  float aspect = Screen.x / Screen.y;
  float grow = 1.0 + Growth * clamp(Time - ShownAt, 0.0, 20.0);
  float2 p = pos.xy * grow;
  p.x *= (4.0 / 3.0) / aspect;
  // A hidden card is put past the far plane: clipped whole, not shaded
  // transparent pixel by pixel.
  o.pos = float4(p, Fade > 0.0 ? 0.0 : 2.0, 1.0);
  o.uv = uv;
  o.screen = p;
  return o;
}

float4 Card30PS(float2 uv : TEXCOORD0, float2 screen : TEXCOORD1) : COLOR0 {
  float2 warp = (tex2D(NoiseSampler, uv * float2(2.0, 0.5) + Time * 0.03).rg - 0.5) * Wobble;
  float4 t = tex2D(CardSampler, uv + warp);
  // A band of light sweeps slowly across the letters.
  float band = tex2D(NoiseSampler, float2(uv.x * 0.7 - Time * 0.05, uv.y * 0.3)).g;
  float3 c = Tint + ShimmerTint * smoothstep(0.45, 0.8, band) * 0.6;
  // A soft dark halo keeps the letters readable over bright water or sky.
  float2 r = float2(0.012, 0.036);
  float halo = tex2D(CardSampler, uv + r * float2(1.0, 0.0)).a + tex2D(CardSampler, uv - r * float2(1.0, 0.0)).a +
               tex2D(CardSampler, uv + r * float2(0.0, 1.0)).a + tex2D(CardSampler, uv - r * float2(0.0, 1.0)).a +
               tex2D(CardSampler, uv + r * 0.7).a + tex2D(CardSampler, uv - r * 0.7).a +
               tex2D(CardSampler, uv + r * float2(0.7, -0.7)).a + tex2D(CardSampler, uv - r * float2(0.7, -0.7)).a;
  halo = saturate(halo / 8.0 * 1.5) * HaloStrength;
  float a = t.a + halo * (1.0 - t.a);
  float3 colour = (c * t.a + HaloColour * halo * (1.0 - t.a)) / max(a, 1e-3);
  return float4(colour, a * saturate(Fade));
}

float4 Card20PS(float2 uv : TEXCOORD0) : COLOR0 {
  float4 t = tex2D(CardSampler, uv);
  return float4(Tint, t.a * saturate(Fade));
}

// The card's border is transparent: no edges to smooth.
#define CARD ZEnable = false; ZWriteEnable = false; CullMode = None; AlphaBlendEnable = true; SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha; NO_EDGES

technique Card30 { pass P0 { VertexShader = compile vs_3_0 CardVS(); PixelShader = compile ps_3_0 Card30PS(); CARD } }
technique Card20 { pass P0 { VertexShader = compile vs_2_0 CardVS(); PixelShader = compile ps_2_0 Card20PS(); CARD } }
