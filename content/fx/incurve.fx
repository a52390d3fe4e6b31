// The fall: a column of coloured crystal shards, neon rings round the axis
// and a tunnel of colour streaming past, all pulsing on the beat.
#include "common.fxh"

float4 Light1 : Light1;
float Beat;            // animated (rings, post): 1 on the beat, decaying
float Brightness = 1.0;
float Tempo = 2.0;     // beats per second (120 BPM)

float3 Hue(float h) {
  return saturate(float3(abs(h * 6.0 - 3.0) - 1.0, 2.0 - abs(h * 6.0 - 2.0), 2.0 - abs(h * 6.0 - 4.0)));
}

// The colour of the column at a height: violet high up, magenta, then amber
// towards the core and deep blue below it.
float3 ColumnHue(float y) {
  float t = saturate((y + 1758.0) / 800.0);
  return Hue(frac(0.62 + t * 0.55));
}

// More whole powers by multiplication.
float Pow12(float x) { float x2 = x * x, x4 = x2 * x2; return x4 * x4 * x4; }
float Pow24(float x) { float x12 = Pow12(x); return x12 * x12; }
float Pow60(float x) { float x2 = x * x, x4 = x2 * x2, x8 = x4 * x4, x16 = x8 * x8; return x16 * x16 * x16 * x8 * x4; }

// Beats counted on the clock: the music holds 120 BPM from the cut on.
float ClockBeat() { return exp(-frac(Time * Tempo) * 5.0); }

float3 TunnelColour(float3 dir) {
  float y = saturate(-dir.y);
  float3 c = lerp(float3(0.03, 0.01, 0.08), float3(0.12, 0.02, 0.2), y);
  c += float3(1.0, 0.55, 0.3) * Pow24(y) * 0.8;
  return c;
}

// ---- shards -------------------------------------------------------------------

struct ShardOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float3 normal : TEXCOORD1;
  float3 colour : TEXCOORD2;
  float seed : TEXCOORD3;
};

// The program places every copy of the shard cluster on a circle of radius
// 10 round the column's axis with no turn of its own. Turning a copy about
// the axis and stretching it out from it keeps it on the column, yet gives
// each its own heading, width and distance; what a copy gets comes from its
// colour, the one thing its vertices share and no other copy has.
ShardOut ShardVS(float3 pos : POSITION, float3 normal : NORMAL, float3 colour : TEXCOORD1) {
  ShardOut o;
  o.seed = frac(dot(colour, float3(17.13, 31.7, 7.91)));
  float turn = frac(o.seed * 5.17) * 6.2832, wide = 0.85 + 0.3 * frac(o.seed * 11.3);
  float s = sin(turn), c = cos(turn);
  float3 p = float3((c * pos.x + s * pos.z) * wide, pos.y, (c * pos.z - s * pos.x) * wide);
  float3 n = float3((c * normal.x + s * normal.z) / wide, normal.y, (c * normal.z - s * normal.x) / wide);
  float4 w = mul(float4(p, 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.world = w.xyz;
  o.normal = mul(n, (float3x3)World);
  // Neighbours stray a little from the column's hue; one in nine is an
  // accent of gold or ice.
  o.colour = lerp(colour, ColumnHue(pos.y + (o.seed - 0.5) * 160.0) * (0.6 + 0.6 * colour.r), 0.6);
  float accent = frac(o.seed * 31.3);
  float3 odd = lerp(float3(1.0, 0.72, 0.3), float3(0.5, 0.68, 0.95), step(0.055, accent)) * (0.6 + 0.4 * colour.g);
  o.colour = lerp(o.colour, odd, step(accent, 0.11));
  return o;
}

float PointLight(float3 p, float3 n, float4 light, float range) {
  float3 l = light.xyz - p;
  float d = length(l);
  return saturate(dot(n, l / d) * 0.6 + 0.4) / (1.0 + d * d / (range * range));
}

float Band(float y) {
  return Pow12(saturate(sin(y * 0.045 + Time * 6.0) * 0.5 + 0.5));
}

float4 Shard30PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1, float3 colour : TEXCOORD2, float seed : TEXCOORD3) : COLOR0 {
  float3 n = normalize(normal);
  float3 v = normalize(ViewPos.xyz - world);
  if (dot(n, v) < 0.0) n = -n;
  float ndv = saturate(dot(n, v));
  // Facets: a key from the core below and a cool fill from above, so
  // neighbouring faces differ.
  float3 toCore = normalize(Light0.xyz - world);
  float key = saturate(dot(n, toCore));
  float fill = saturate(dot(n, float3(0.3, 0.9, -0.3)));
  float light = PointLight(world, n, Light0, 260.0) * 0.5 + PointLight(world, n, Light1, 200.0) * 0.3;
  float3 c = colour * (0.03 + key * key * 0.8 + light * key) + float3(0.25, 0.3, 0.55) * fill * 0.2;
  // Crystal: the tunnel's colours mirrored in the faces, a hot glint.
  float3 r = reflect(-v, n);
  float edge = 1.0 - ndv;
  c += TunnelColour(r) * 1.2 * (edge * edge);
  c += Pow60(saturate(dot(r, toCore))) * float3(1.0, 0.95, 0.9) * 2.0;
  c += colour * Pow4(edge) * 0.8;
  float beat = ClockBeat();
  float twinkle = step(0.92, frac(seed * 13.0 + floor(Time * Tempo) * 0.618));
  c += colour * (Band(world.y) * 0.8 + beat * 0.25 + twinkle * beat * 2.0);
  float d = length(world - ViewPos.xyz);
  c = Fogged(c, TunnelColour(-v), d, 0.004);
  return float4(c * Brightness, 1.0);
}

float4 Shard20PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1, float3 colour : TEXCOORD2) : COLOR0 {
  float3 n = normalize(normal);
  float3 v = normalize(ViewPos.xyz - world);
  float ndv = abs(dot(n, v));
  float light = PointLight(world, n * sign(dot(n, v)), Light0, 260.0) * 2.2;
  float3 c = colour * (0.15 + light + Cube(1.0 - ndv) * 0.9 + Band(world.y) * 0.9 + ClockBeat() * 0.35);
  return float4(Fogged(c, TunnelColour(-v), length(world - ViewPos.xyz), 0.004) * Brightness, 1.0);
}

// ---- rings --------------------------------------------------------------------

struct RingOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 world : TEXCOORD1;
};

RingOut RingVS(float3 pos : POSITION, float2 uv : TEXCOORD0) {
  RingOut o;
  float4 w = mul(float4(pos, 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.uv = uv;
  o.world = w.xyz;
  return o;
}

float3 RingLight(float2 uv, float3 world) {
  float3 hue = Hue(frac(uv.y * 0.8 + Time * 0.05));
  float dash = Pow4(saturate(sin((uv.x * 2.0 - Time * 0.6 + uv.y * 3.0) * 6.2831853 * 3.0) * 0.5 + 0.5));
  float energy = 0.35 + 0.5 * dash + 1.2 * Beat;
  float d = length(world - ViewPos.xyz);
  return hue * energy * exp(-d * 0.003) * saturate((d - 3.0) / 10.0);
}

float4 Ring30PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1) : COLOR0 {
  float3 c = RingLight(uv, world);
  c += float3(1.0, 1.0, 1.0) * Pow60(saturate(sin((uv.x - Time * 0.35) * 6.2831853 * 2.0))) * 1.5;
  return float4(c * Brightness, 1.0);
}

float4 Ring20PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1) : COLOR0 {
  return float4(RingLight(uv, world) * Brightness, 1.0);
}

// ---- backdrop: the tunnel ------------------------------------------------------

struct DirOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
};

DirOut DirVS(float3 pos : POSITION) {
  DirOut o;
  float4 w = mul(float4(pos, 1.0), World);
  o.pos = mul(w, ViewProjection);
  // On the far plane: drawn after the shards, the depth test keeps it off
  // every pixel they cover.
  o.pos.z = o.pos.w;
  o.world = w.xyz;
  return o;
}

float4 Tunnel30PS(float3 world : TEXCOORD0) : COLOR0 {
  float3 dir = normalize(world - ViewPos.xyz);
  float3 c = TunnelColour(dir);
  // Speed lines on a cylinder round the fall: angle round the axis, and
  // height over the horizontal distance, scrolled up as the camera falls.
  float around = atan2(dir.z, dir.x) / 6.2831853;
  float h = dir.y / max(length(dir.xz), 0.05);
  float2 p = float2(around * 9.0, h * 0.06 + ViewPos.y * 0.0012);
  float s = tex2D(NoiseNoMipSampler, p).a * tex2D(NoiseNoMipSampler, p * float2(2.0, 0.5) + 0.3).b;
  float lines = smoothstep(0.3, 0.55, s);
  float3 tint = Hue(frac(0.7 + around * 0.5 + ViewPos.y * 0.0004));
  c += tint * lines * (0.25 + 0.45 * ClockBeat()) * saturate(1.0 - abs(dir.y) * 0.7);
  return float4(c * Brightness, 1.0);
}

float4 Tunnel20PS(float3 world : TEXCOORD0) : COLOR0 {
  float3 dir = normalize(world - ViewPos.xyz);
  float3 c = TunnelColour(dir);
  float around = atan2(dir.z, dir.x) / 6.2831853;
  float s = tex2D(NoiseSampler, float2(around * 4.0, dir.y * 0.4 + ViewPos.y * 0.0015)).g;
  c += Hue(frac(0.7 + around * 0.5)) * smoothstep(0.45, 0.75, s) * 0.4;
  return float4(c * Brightness, 1.0);
}

#define OPAQUE ZEnable = true; ZWriteEnable = true; AlphaBlendEnable = false; CullMode = None;
#define BACKDROP ZEnable = true; ZWriteEnable = false; ZFunc = LessEqual; AlphaBlendEnable = false; CullMode = None;
#define ADDITIVE ZEnable = true; ZWriteEnable = false; ZFunc = LessEqual; AlphaBlendEnable = true; SrcBlend = One; DestBlend = One; CullMode = None;

technique Shards30 { pass P0 { VertexShader = compile vs_3_0 ShardVS(); PixelShader = compile ps_3_0 Shard30PS(); OPAQUE } }
technique Shards20 { pass P0 { VertexShader = compile vs_2_0 ShardVS(); PixelShader = compile ps_2_0 Shard20PS(); OPAQUE } }
technique Rings30 { pass P0 { VertexShader = compile vs_3_0 RingVS(); PixelShader = compile ps_3_0 Ring30PS(); ADDITIVE } }
technique Rings20 { pass P0 { VertexShader = compile vs_2_0 RingVS(); PixelShader = compile ps_2_0 Ring20PS(); ADDITIVE } }
technique Tunnel30 { pass P0 { VertexShader = compile vs_3_0 DirVS(); PixelShader = compile ps_3_0 Tunnel30PS(); BACKDROP } }
technique Tunnel20 { pass P0 { VertexShader = compile vs_2_0 DirVS(); PixelShader = compile ps_2_0 Tunnel20PS(); BACKDROP } }
