// Post-processing of every scene, drawn by the scene's "Post" clip quad:
// the frame is grabbed into "backbuffer", a bright pass goes straight to
// 1/4 size, separable Gaussian blurs make the glow at 1/4, 1/8 and 1/16, a
// blurred 1/4-size copy of the frame gives the soft focus, and the final
// pass puts it all together on screen (soft focus, glow, grade, vignette,
// fades). Everything but the final pass works at 1/4 size or less: on a
// software rasterizer the cost is the number of pixels shaded times taps.
#include "common.fxh"

texture SourceTex;  // input of a bright or blur pass
texture BackTex;    // the grabbed frame
texture SoftTex;    // the frame blurred, 1/4 size
texture Glow4Tex;   // all three glow levels, weighted, 1/4 size

sampler2D SourceSampler = sampler_state {
  Texture = <SourceTex>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};
sampler2D BackSampler = sampler_state {
  Texture = <BackTex>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};
// The frame has the screen's size: a tap at a pixel's centre, or a streak's
// taps averaged anyway, need no filtering (point taps made the streaks' pass
// 30% cheaper on a software rasterizer). The lens fringes' taps a fraction
// of a pixel off it stay filtered: point taps there step along edges.
sampler2D BackPointSampler = sampler_state {
  Texture = <BackTex>; MinFilter = Point; MagFilter = Point; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};
sampler2D SoftSampler = sampler_state {
  Texture = <SoftTex>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};
sampler2D Glow4Sampler = sampler_state {
  Texture = <Glow4Tex>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Clamp; AddressV = Clamp;
};
// Blur and bright pass.
float Scale = 1.0;          // source texel as a multiple of a screen pixel
float2 Dir = {1.0, 0.0};    // blur direction
float Spread = 1.0;         // tap spacing in source texels
float Threshold = 0.6;      // bright pass: luminance where glow starts
float Knee = 0.3;           // ... and how softly
// Output of a blur or copy: rgb times AddScale, and Keep in alpha, which the
// adding techniques use as the weight of what the target held.
float AddScale = 1.0;
float Keep = 1.0;

// Composite.
float3 GlowTint = {1.0, 1.0, 1.0};
float GlowStrength = 1.0;
float3 GlowWeights = {0.6, 0.45, 0.35};  // 1/4, 1/8, 1/16 (summed by the chain)
float BeatGlow = 0.0;       // extra glow on the beat
float Dof = 0.6;            // blur towards the frame's edges
float Vignette = 0.35;
float3 Gain = {1.0, 1.0, 1.0};
float3 Lift = {0.0, 0.0, 0.0};
float Saturation = 1.0;
float Contrast = 1.0;
float Grain = 0.025;
float Aberration = 0.0015;
float3 MotionDir = {0.0, -1.0, 0.0};  // world direction of travel
float Motion = 0.0;         // streak length towards it, in screen units

// Animated by the scene.
float Fade;                 // 0 black .. 1 picture
float Flash;                // 0 .. 1 white
float Beat;                 // 1 on the beat, decaying

// --- grab: the pass exists for its target switch; it draws nothing -------

float4 NothingVS(float3 pos : POSITION) : POSITION { return float4(0.0, 0.0, 2.0, 1.0); }
float4 NothingPS() : COLOR0 { return float4(0.0, 0.0, 0.0, 0.0); }

// --- bright pass ---------------------------------------------------------

float3 BrightOf(float3 c) {
  float l = Luma(c);
  float w = saturate((l - Threshold + Knee) / (2.0 * Knee));
  w = w * w * (3.0 - 2.0 * w);
  return c * w * saturate((l - Threshold * 0.5) * 4.0);
}

// At 1/4 size: each of the four bilinear taps averages a 2x2 block of the
// frame, so the pixel is the mean of the bright pass over its 4x4 block.
float4 BrightPS(float2 uv : TEXCOORD0) : COLOR0 {
  float2 texel = 1.0 / Screen.xy;
  float3 c = BrightOf(tex2D(SourceSampler, uv).rgb) + BrightOf(tex2D(SourceSampler, uv + float2(2.0, 0.0) * texel).rgb) +
             BrightOf(tex2D(SourceSampler, uv + float2(0.0, 2.0) * texel).rgb) +
             BrightOf(tex2D(SourceSampler, uv + float2(2.0, 2.0) * texel).rgb);
  return float4(c * 0.25, 1.0);
}

// --- separable Gaussian ----------------------------------------------------

// 13 taps in 7 bilinear fetches.
float4 Blur13PS(float2 uv : TEXCOORD0) : COLOR0 {
  float2 step = Dir * Spread * Scale / Screen.xy;
  float3 c = tex2D(SourceSampler, uv).rgb * 0.19648255;
  c += (tex2D(SourceSampler, uv + step * 1.4117647).rgb + tex2D(SourceSampler, uv - step * 1.4117647).rgb) * 0.29690696;
  c += (tex2D(SourceSampler, uv + step * 3.2941176).rgb + tex2D(SourceSampler, uv - step * 3.2941176).rgb) * 0.09447040;
  c += (tex2D(SourceSampler, uv + step * 5.1764706).rgb + tex2D(SourceSampler, uv - step * 5.1764706).rgb) * 0.01038136;
  return float4(c * AddScale, Keep);
}

// 9 taps in 5 bilinear fetches.
float4 Blur9PS(float2 uv : TEXCOORD0) : COLOR0 {
  float2 step = Dir * Spread * Scale / Screen.xy;
  float3 c = tex2D(SourceSampler, uv).rgb * 0.22702703;
  c += (tex2D(SourceSampler, uv + step * 1.3846154).rgb + tex2D(SourceSampler, uv - step * 1.3846154).rgb) * 0.31621622;
  c += (tex2D(SourceSampler, uv + step * 3.2307692).rgb + tex2D(SourceSampler, uv - step * 3.2307692).rgb) * 0.07027027;
  return float4(c * AddScale, Keep);
}

// A bilinear copy, to add one glow level into the next larger.
float4 CopyPS(float2 uv : TEXCOORD0) : COLOR0 {
  return float4(tex2D(SourceSampler, uv).rgb * AddScale, Keep);
}

// --- soft focus ----------------------------------------------------------

// The frame at 1/4 size through a Gaussian (16x12 pixels, sigma about 3.6
// across and 2.9 down), in two passes: 8 bilinear taps across the frame
// into a 1/4-size temporary, then 6 down it. With the bilinear stretch back
// to full size the blur is about 4 pixels across and 3.4 down.
static const float SoftX[8] = {-6.42793, -4.44993, -2.47212, -0.49442, 1.48326, 3.46100, 5.43890, 7.0};
static const float SoftWX[8] = {0.074309, 0.120787, 0.164541, 0.187850, 0.179735, 0.144124, 0.096855, 0.031799};
static const float SoftY[6] = {-4.45912, -2.47725, -0.49545, 1.48635, 3.46818, 5.0};
static const float SoftWY[6] = {0.148806, 0.191572, 0.213477, 0.205910, 0.171915, 0.068320};
float2 SoftShift = {0.5, 0.5};  // pixels

float4 SoftAcrossPS(float2 uv : TEXCOORD0) : COLOR0 {
  float2 texel = 1.0 / Screen.xy;
  float3 c = float3(0.0, 0.0, 0.0);
  for (int i = 0; i < 8; ++i)
    c += tex2D(SourceSampler, uv + (float2(SoftX[i], 0.0) + SoftShift) * texel).rgb * SoftWX[i];
  return float4(c, 1.0);
}

float4 SoftDownPS(float2 uv : TEXCOORD0) : COLOR0 {
  float2 texel = 1.0 / Screen.xy;
  float3 c = float3(0.0, 0.0, 0.0);
  for (int j = 0; j < 6; ++j) c += tex2D(SourceSampler, uv + float2(0.0, SoftY[j]) * texel).rgb * SoftWY[j];
  return float4(c, 1.0);
}

// --- final composite -------------------------------------------------------

// The chain leaves the weighted mean of the three levels in Glow4Tex, so
// that sums above 1 survive the 8-bit target.
float3 GlowOf(float2 uv) {
  float3 g = tex2D(Glow4Sampler, uv).rgb * dot(GlowWeights, float3(1.0, 1.0, 1.0));
  return g * GlowTint * (GlowStrength + Beat * BeatGlow);
}

float3 Graded(float3 c, float2 uv) {
  c = c * Gain + Lift * (1.0 - c);
  c = lerp(Luma(c).xxx, c, Saturation);
  c = saturate((c - 0.5) * Contrast + 0.5);
  float2 d = (uv - 0.5) * float2(Screen.x / Screen.y, 1.0);
  c *= 1.0 - Vignette * dot(d, d);
  return c;
}

float3 Faded(float3 c) { return lerp(c * saturate(Fade), float3(1.0, 1.0, 1.0), saturate(Flash)); }

// Where the travel direction meets the screen: streaks point away from it.
float2 ExpansionPoint() {
  float4 p = mul(float4(MotionDir, 0.0), ViewProjection);
  float w = abs(p.w) < 1e-3 ? 1e-3 : p.w;
  return float2(0.5 + 0.5 * p.x / w, 0.5 - 0.5 * p.y / w);
}

struct FinalOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float2 expansion : TEXCOORD1;
};

FinalOut FinalVS(float3 pos : POSITION, float2 uv : TEXCOORD0) {
  FinalOut o;
  o.pos = float4(pos.xy, 0.0, 1.0);
  o.uv = uv;
  o.expansion = ExpansionPoint();
  return o;
}

float3 Composite(float2 uv, float2 expansion, float2 vpos, bool motion) {
  float3 sharp;
  if (motion) {
    // Streaks of travel: their own technique, since a software rasterizer
    // would fetch the taps even when Motion is 0. The lens fringes would be
    // an eighth of one tap of eight here, so the streaks go without them.
    float2 ray = uv - expansion;
    float len = length(ray);
    ray *= min(len, 0.6) / max(len, 1e-4) * Motion * (0.6 + 0.4 * Beat);
    float3 acc = float3(0.0, 0.0, 0.0);
    for (int i = 0; i < 8; ++i) acc += tex2D(BackPointSampler, uv - ray * (i / 7.0)).rgb;
    sharp = acc / 8.0;
  } else {
    // Lens: slight colour fringes towards the edges.
    float2 off = (uv - 0.5) * Aberration * 2.0;
    sharp = float3(tex2D(BackSampler, uv + off).r, tex2D(BackPointSampler, uv).g, tex2D(BackSampler, uv - off).b);
  }
  // Soft focus towards the edges and through the fades.
  float3 soft = tex2D(SoftSampler, uv).rgb;
  float2 d = (uv - 0.5) * float2(Screen.x / Screen.y, 1.0);
  float focus = saturate(saturate(dot(d, d) * 3.0 - 0.15) * Dof + (1.0 - saturate(Fade)) * 1.5);
  float3 c = lerp(sharp, soft, focus);
  c += GlowOf(uv);
  c = Graded(c, uv);
  c += (Hash(vpos + frac(Time * 7.13) * 97.0) - 0.5) * Grain;
  return Faded(c);
}

float4 Final30PS(float2 uv : TEXCOORD0, float2 expansion : TEXCOORD1, float2 vpos : VPOS) : COLOR0 {
  return float4(Composite(uv, expansion, vpos, false), 1.0);
}

// Chosen by materials whose Motion is above 0 (at 0 the streaks collapse
// onto the pixel).
float4 FinalMotion30PS(float2 uv : TEXCOORD0, float2 expansion : TEXCOORD1, float2 vpos : VPOS) : COLOR0 {
  return float4(Composite(uv, expansion, vpos, true), 1.0);
}

float4 Final20PS(float2 uv : TEXCOORD0) : COLOR0 {
  float3 c = tex2D(BackSampler, uv).rgb + GlowOf(uv);
  return float4(Faded(Graded(c, uv)), 1.0);
}

// --- techniques ------------------------------------------------------------

#define SCREEN_STATES ZEnable = false; ZWriteEnable = false; CullMode = None; AlphaBlendEnable = false; NO_EDGES
// target = source * AddScale + target * Keep
#define ADD_STATES ZEnable = false; ZWriteEnable = false; CullMode = None; AlphaBlendEnable = true; SrcBlend = One; DestBlend = SrcAlpha; NO_EDGES

technique Grab30 { pass P0 { VertexShader = compile vs_3_0 NothingVS(); PixelShader = compile ps_3_0 NothingPS(); SCREEN_STATES } }
technique Grab20 { pass P0 { VertexShader = compile vs_2_0 NothingVS(); PixelShader = compile ps_2_0 NothingPS(); SCREEN_STATES } }
technique Bright30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 BrightPS(); SCREEN_STATES } }
technique Bright20 { pass P0 { VertexShader = compile vs_2_0 ClipVS(); PixelShader = compile ps_2_0 BrightPS(); SCREEN_STATES } }
technique Blur30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 Blur13PS(); SCREEN_STATES } }
technique Blur20 { pass P0 { VertexShader = compile vs_2_0 ClipVS(); PixelShader = compile ps_2_0 Blur9PS(); SCREEN_STATES } }
technique BlurAdd30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 Blur13PS(); ADD_STATES } }
technique BlurAdd20 { pass P0 { VertexShader = compile vs_2_0 ClipVS(); PixelShader = compile ps_2_0 Blur9PS(); ADD_STATES } }
technique Add30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 CopyPS(); ADD_STATES } }
technique Add20 { pass P0 { VertexShader = compile vs_2_0 ClipVS(); PixelShader = compile ps_2_0 CopyPS(); ADD_STATES } }
technique SoftAcross30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 SoftAcrossPS(); SCREEN_STATES } }
technique SoftDown30 { pass P0 { VertexShader = compile vs_3_0 ClipVS(); PixelShader = compile ps_3_0 SoftDownPS(); SCREEN_STATES } }
technique Final30 { pass P0 { VertexShader = compile vs_3_0 FinalVS(); PixelShader = compile ps_3_0 Final30PS(); SCREEN_STATES } }
technique FinalMotion30 { pass P0 { VertexShader = compile vs_3_0 FinalVS(); PixelShader = compile ps_3_0 FinalMotion30PS(); SCREEN_STATES } }
technique Final20 { pass P0 { VertexShader = compile vs_2_0 ClipVS(); PixelShader = compile ps_2_0 Final20PS(); SCREEN_STATES } }
