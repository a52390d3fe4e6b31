// Deep water: backdrop, sea floor, light shafts, the creature with its
// bioluminescent pulses, the flashes of the high notes, and the plankton.
#include "common.fxh"

texture CausticsMap;
sampler2D CausticsSampler = sampler_state {
  Texture = <CausticsMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Wrap; AddressV = Wrap;
};
sampler2D CausticsNoMipSampler = sampler_state {
  Texture = <CausticsMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = None;
  AddressU = Wrap; AddressV = Wrap;
};
// The caustics with red shifted back and blue forward by (0.004, 0.003).
texture CausticsRGBMap;
sampler2D CausticsRGBSampler = sampler_state {
  Texture = <CausticsRGBMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Wrap; AddressV = Wrap;
};
texture SpriteMap;
sampler2D SpriteSampler = sampler_state {
  Texture = <SpriteMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Point;
  AddressU = Clamp; AddressV = Clamp;
};

// Per-channel light loss in water (red goes first) and the water's colour.
float3 Absorption = {0.011, 0.0048, 0.0038};
float Brightness = 1.0;
float Glow;  // animated: the creature's light over the scene

float3 SunDirFrom(float3 p) { return normalize(Light0.xyz - p); }

float3 WaterColour(float3 dir, float3 sun) {
  float up = dir.y;
  float3 c = lerp(float3(0.006, 0.03, 0.055), float3(0.03, 0.16, 0.22), smoothstep(-0.75, 0.45, up));
  c += float3(0.05, 0.16, 0.17) * Pow6(saturate(dot(dir, sun)));
  c += float3(0.03, 0.09, 0.10) * Pow4(saturate(up));
  return c;
}

// The water between the eye and a point: what shows through (rgb) and the
// water's own colour over it. The ps_3_0 sea floor and creature take it
// from their vertices: across a triangle both change too slowly to be worth
// a pixel's work.
struct WaterOut {
  float3 through : TEXCOORD5;
  float3 water : TEXCOORD6;
};

WaterOut WaterBetween(float3 worldPos) {
  WaterOut o;
  float3 toP = worldPos - ViewPos.xyz;
  float d = length(toP);
  float3 dir = toP / max(d, 1e-3);
  o.through = exp(-Absorption * d);
  o.water = WaterColour(dir, SunDirFrom(ViewPos.xyz)) * (1.0 - o.through);
  return o;
}

float3 UnderwaterFog(float3 c, float3 worldPos) {
  WaterOut w = WaterBetween(worldPos);
  return c * w.through + w.water;
}

// Two sheets of the caustic network drifting across each other, through a
// slow warp: where each sheet is read.
void CausticSheets(float2 p, out float2 q, out float2 r) {
  float2 warp = (tex2D(NoiseNoMipSampler, p * 0.11 + Time * 0.013).rg - 0.5) * 0.18;
  q = p + warp + float2(Time * 0.021, Time * 0.013);
  r = p * 1.31 - warp + float2(-Time * 0.017, Time * 0.024);
}

// Sharpened: the net squared on the floor and the creature (whole powers
// without pow()).
float Caustics(float2 p) {
  float2 q, r;
  CausticSheets(p, q, r);
  float k = min(tex2D(CausticsSampler, q).r, tex2D(CausticsSampler, r).r) * 1.7;
  return k * k;
}

// The surface in Snell's window, to the power 1.5: magnified ten times and
// more wherever the window shows, so it is read without mipmaps (the
// rasterizer then skips the level of detail).
float SurfaceRipple(float2 p) {
  float2 q, r;
  CausticSheets(p, q, r);
  float k = min(tex2D(CausticsNoMipSampler, q).r, tex2D(CausticsNoMipSampler, r).r) * 1.7;
  return k * sqrt(k);
}

float3 CausticsRGB(float2 p) {
  float2 q, r;
  CausticSheets(p, q, r);
  // Red, green and blue at q - (0.004, 0.003), q and q + (0.004, 0.003).
  float3 m = min(tex2D(CausticsRGBSampler, q).rgb, tex2D(CausticsRGBSampler, r).rgb) * 1.7;
  return m * m;
}

float3 Hue(float h) {
  return saturate(float3(abs(h * 6.0 - 3.0) - 1.0, 2.0 - abs(h * 6.0 - 2.0), 2.0 - abs(h * 6.0 - 4.0)));
}

// ---- backdrop: the water all round, brighter towards the surface ---------

struct WorldOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float2 uv : TEXCOORD1;
  float3 normal : TEXCOORD2;
};

WorldOut WorldVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  WorldOut o;
  float4 w = mul(float4(pos, 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.world = w.xyz;
  o.uv = uv;
  o.normal = mul(normal, (float3x3)World);
  return o;
}

// The backdrop sphere may reach past the far plane. It is drawn after the
// opaque meshes, on the far plane itself: the depth test then leaves it only
// the pixels that nothing covers, and the covered ones are never shaded.
WorldOut BackdropVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  WorldOut o = WorldVS(pos, normal, uv);
  o.pos.z = o.pos.w;
  return o;
}

// Shafts seen far off: streaks round the sun's direction, swaying.
float3 FarShafts(float3 dir, float3 sun) {
  float3 side = normalize(cross(sun, float3(0.0, 0.0, 1.0)));
  float3 other = cross(sun, side);
  float angle = atan2(dot(dir, other), dot(dir, side)) / 6.2831853;
  float streak = tex2D(NoiseNoMipSampler, float2(angle * 3.0, Time * 0.01)).g;
  streak = streak * tex2D(NoiseNoMipSampler, float2(angle * 7.0 + 0.37, Time * 0.017)).b;
  float towards = Pow5(saturate(dot(dir, sun) * 0.5 + 0.5));
  return float3(0.12, 0.26, 0.26) * smoothstep(0.15, 0.55, streak) * towards;
}

float4 Backdrop30PS(float3 world : TEXCOORD0) : COLOR0 {
  float3 dir = normalize(world - ViewPos.xyz);
  float3 sun = SunDirFrom(ViewPos.xyz);
  float3 c = WaterColour(dir, sun) + FarShafts(dir, sun);
  // Snell's window: the bright, rippling surface straight above.
  float up = saturate(dir.y);
  float2 surf = dir.xz / max(dir.y, 0.2) * 0.35;
  float ripple = SurfaceRipple(surf);
  c += (float3(0.06, 0.16, 0.18) + ripple * float3(0.25, 0.42, 0.4)) * smoothstep(0.74, 0.92, up);
  return float4(c * Brightness, 1.0);
}

float4 Backdrop20PS(float3 world : TEXCOORD0) : COLOR0 {
  float3 dir = normalize(world - ViewPos.xyz);
  float3 sun = SunDirFrom(ViewPos.xyz);
  float3 c = WaterColour(dir, sun);
  c += float3(0.1, 0.24, 0.26) * smoothstep(0.74, 0.92, dir.y);
  return float4(c * Brightness, 1.0);
}

// ---- sea floor --------------------------------------------------------------

float3 SandColour(float2 uv) {
  float4 n = tex2D(NoiseSampler, uv * 0.25);
  float3 sand = lerp(float3(0.36, 0.33, 0.25), float3(0.2, 0.22, 0.2), n.r);
  return sand * (0.8 + 0.4 * n.b);
}

struct SeabedOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float2 uv : TEXCOORD1;
  float3 normal : TEXCOORD2;
  WaterOut water;
};

SeabedOut SeabedVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  WorldOut w = WorldVS(pos, normal, uv);
  SeabedOut o;
  o.pos = w.pos;
  o.world = w.world;
  o.uv = w.uv;
  o.normal = w.normal;
  o.water = WaterBetween(w.world);
  return o;
}

float4 Seabed30PS(float3 world : TEXCOORD0, float2 uv : TEXCOORD1, float3 normal : TEXCOORD2,
                  float3 through : TEXCOORD5, float3 water : TEXCOORD6) : COLOR0 {
  float3 n = normalize(normal);
  float3 sun = SunDirFrom(world);
  float lit = saturate(dot(n, sun)) * 0.7 + 0.3;
  float3 sand = SandColour(uv);
  float3 c = sand * lit * float3(0.35, 0.55, 0.6);
  c += sand * CausticsRGB(world.xz * 0.035) * saturate(n.y) * float3(0.7, 1.0, 0.95) * 1.4;
  return float4(c * Brightness * through + water, 1.0);
}

float4 Seabed20PS(float3 world : TEXCOORD0, float2 uv : TEXCOORD1, float3 normal : TEXCOORD2) : COLOR0 {
  float3 n = normalize(normal);
  float lit = saturate(dot(n, SunDirFrom(world))) * 0.7 + 0.3;
  float3 sand = SandColour(uv);
  float3 c = sand * (lit * float3(0.35, 0.55, 0.6) + Caustics(world.xz * 0.035) * float3(0.7, 1.0, 0.95) * 1.2);
  return float4(UnderwaterFog(c * Brightness, world), 1.0);
}

// ---- light shafts: crossed ribbons, additive ---------------------------------

struct ShaftOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 world : TEXCOORD1;
  float fade : TEXCOORD2;
};

ShaftOut ShaftVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  ShaftOut o;
  float4 w = mul(float4(pos, 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.uv = uv;
  o.world = w.xyz;
  float3 toEye = ViewPos.xyz - w.xyz;
  float d = length(toEye);
  float3 n = normalize(mul(normal, (float3x3)World));
  // Ribbons seen edge-on and right next to the eye give themselves away.
  o.fade = smoothstep(0.15, 0.6, abs(dot(n, toEye / d))) * saturate((d - 6.0) / 25.0) * exp(-d * 0.004);
  return o;
}

float Shaft(float2 uv, float3 world, float detail) {
  float across = sin(uv.x * 3.1415927);
  across *= across;
  float along = (1.0 - uv.y) * (1.0 - uv.y) * smoothstep(0.0, 0.08, uv.y);
  float flicker = tex2D(NoiseNoMipSampler, float2(uv.x * 0.6 + world.x * 0.002, uv.y * 0.5 - Time * 0.02)).g;
  flicker = lerp(1.0, flicker * 1.6, detail);
  return across * along * flicker;
}

// Each ribbon is two-sided, the two sides alike: only the side that faces
// the eye is drawn (the other is culled), at the light of both.
float3 ShaftColour = {0.16, 0.3, 0.3};

float4 Shaft30PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float fade : TEXCOORD2) : COLOR0 {
  float s = Shaft(uv, world, 1.0);
  float sway = tex2D(NoiseNoMipSampler, float2(uv.x * 2.0 + Time * 0.05, uv.y * 3.0)).a;
  return float4(ShaftColour * (2.0 * s * fade * (0.7 + 0.6 * sway) * Brightness), 1.0);
}

float4 Shaft20PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float fade : TEXCOORD2) : COLOR0 {
  return float4(ShaftColour * (2.0 * Shaft(uv, world, 0.6) * fade * Brightness), 1.0);
}

// ---- the creature -------------------------------------------------------------

struct CreatureOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float2 curve : TEXCOORD1;  // arc fraction, distance from the spine
  float3 world : TEXCOORD2;
  float3 normal : TEXCOORD3;
};

// A slow swimming wave down the body, growing towards the tail. It depends
// on the arc fraction alone, which the flash copies carry too, so that they
// stay on the body.
float3 Swayed(float3 pos, float a) {
  return pos + float3(1.0, 0.0, 0.45) * sin(a * 18.0 - Time * 0.9) * a * 1.8;
}

CreatureOut CreatureVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0, float2 curve : TEXCOORD1) {
  CreatureOut o;
  float4 w = mul(float4(Swayed(pos, curve.x), 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.uv = uv;
  o.curve = curve;
  o.world = w.xyz;
  o.normal = mul(normal, (float3x3)World);
  return o;
}

// Waves of light running from head to tail.
float Pulses(float a) {
  float w = frac(a * 3.0 - Time * 0.11);
  float lead = exp(-w * 14.0);
  float wake = exp(-(1.0 - w) * 60.0);
  return lead + wake * 0.5;
}

float3 BodyColour(float2 uv) {
  float belly = smoothstep(0.0, 0.5, min(uv.x, 0.5));
  return lerp(float3(0.03, 0.05, 0.14), float3(0.2, 0.26, 0.42), belly);
}

// Rows of photophores along the flanks.
float Photophores(float2 uv) {
  float2 cell = float2(uv.x * 18.0, uv.y * 3.0);
  float2 f = frac(cell) - 0.5;
  float on = step(0.45, Hash(floor(cell))) * step(uv.x, 0.48) * step(0.08, uv.x);
  return on * saturate(1.0 - dot(f, f) * 9.0);
}

struct CreatureWaterOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float2 curve : TEXCOORD1;
  float3 world : TEXCOORD2;
  float3 normal : TEXCOORD3;
  WaterOut water;
};

CreatureWaterOut CreatureWaterVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0, float2 curve : TEXCOORD1) {
  CreatureOut c = CreatureVS(pos, normal, uv, curve);
  CreatureWaterOut o;
  o.pos = c.pos;
  o.uv = c.uv;
  o.curve = c.curve;
  o.world = c.world;
  o.normal = c.normal;
  o.water = WaterBetween(c.world);
  return o;
}

float4 Creature30PS(float2 uv : TEXCOORD0, float2 curve : TEXCOORD1, float3 world : TEXCOORD2, float3 normal : TEXCOORD3,
                    float3 through : TEXCOORD5, float3 water : TEXCOORD6) : COLOR0 {
  float3 n = normalize(normal);
  float3 v = normalize(ViewPos.xyz - world);
  float3 sun = SunDirFrom(world);
  float ndv = abs(dot(n, v));
  float wrap = saturate((dot(n, sun) + 0.45) / 1.45);
  float frill = saturate((uv.x - 0.5) * 2.0);
  float3 c = BodyColour(uv) * (0.25 + 0.75 * wrap) * float3(0.5, 0.75, 0.85);
  c += Caustics(world.xz * 0.035) * saturate(n.y) * float3(0.25, 0.4, 0.4);
  float rim = 1.0 - ndv;
  c += rim * rim * rim * float3(0.1, 0.45, 0.55);
  // Comb rows: rainbow light running along the frills.
  float comb = saturate(sin(uv.y * 25.0 - Time * 4.0) * 0.5 + 0.5);
  comb *= comb;
  comb *= comb * comb;
  float3 rainbow = Hue(frac(curve.x * 5.0 + uv.x - Time * 0.15));
  c += rainbow * comb * frill * (0.25 + 0.75 * frill) * (0.3 + 0.7 * Glow);
  // Photophores and the pulses through the body.
  float pulse = Pulses(curve.x);
  float3 lum = lerp(float3(0.2, 1.0, 0.85), float3(0.55, 0.4, 1.0), curve.x);
  c += lum * Photophores(uv) * (0.35 + pulse * 1.6) * Glow;
  c += lum * pulse * Glow * (0.12 + 0.35 * rim * rim) * (1.0 - frill * 0.6);
  return float4(c * Brightness * through + water, 1.0);
}

float4 Creature20PS(float2 uv : TEXCOORD0, float2 curve : TEXCOORD1, float3 world : TEXCOORD2, float3 normal : TEXCOORD3) : COLOR0 {
  float3 n = normalize(normal);
  float3 v = normalize(ViewPos.xyz - world);
  float wrap = saturate((dot(n, SunDirFrom(world)) + 0.45) / 1.45);
  float frill = saturate((uv.x - 0.5) * 2.0);
  float3 c = BodyColour(uv) * (0.25 + 0.75 * wrap) * float3(0.5, 0.75, 0.85);
  c += Cube(1.0 - abs(dot(n, v))) * float3(0.1, 0.45, 0.55);
  float pulse = Pulses(curve.x);
  float3 lum = lerp(float3(0.2, 1.0, 0.85), float3(0.55, 0.4, 1.0), curve.x);
  c += lum * (Photophores(uv) * (0.35 + pulse * 1.6) + pulse * 0.2) * Glow;
  float comb = saturate(sin(uv.y * 25.0 - Time * 4.0) * 2.0 - 1.0);
  c += Hue(frac(curve.x * 5.0 + uv.x - Time * 0.15)) * comb * frill * 0.5 * (0.3 + 0.7 * Glow);
  return float4(UnderwaterFog(c * Brightness, world), 1.0);
}

// ---- the high notes: a flash running along the body for each ------------------

float FlashSpeed = 1.0;  // arc fraction per second (the copies carry t_k + a)

struct FlashOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float3 normal : TEXCOORD1;
  float2 front : TEXCOORD2;  // seconds since the front passed, the note's hue
};

FlashOut FlashVS(float3 pos : POSITION, float3 normal : NORMAL, float2 note : TEXCOORD1) {
  FlashOut o;
  float start = note.y - note.x;         // t_k
  float since = Time - start;
  float4 w = mul(float4(Swayed(pos, note.x), 1.0), World);
  // On the body's own surface, a hair nearer: no fighting over depth.
  w.xyz += (ViewPos.xyz - w.xyz) * 0.002;
  o.world = w.xyz;
  o.normal = mul(normal, (float3x3)World);
  o.front = float2(Time - note.y, frac(start * 1.618));
  o.pos = mul(w, ViewProjection);
  // Outside its window a copy collapses behind the far plane: no pixels.
  if (since < -0.1 || since > 1.0 / FlashSpeed + 1.5) o.pos = float4(0.0, 0.0, 2.0, 1.0);
  return o;
}

float FlashOf(float since) {
  float ahead = exp(-since * since * 2500.0);
  float wake = exp(-max(since, 0.0) * 7.0) * step(0.0, since);
  return ahead + wake * 0.45;
}

float4 Flash30PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1, float2 front : TEXCOORD2) : COLOR0 {
  float3 n = normalize(normal);
  float3 v = normalize(ViewPos.xyz - world);
  float edge = 1.0 - abs(dot(n, v));
  float rim = 0.35 + 0.65 * edge * sqrt(edge);
  float f = FlashOf(front.x);
  float3 colour = lerp(Hue(front.y * 0.35 + 0.42), float3(1.0, 1.0, 1.0), saturate(f - 0.6));
  float3 t = exp(-Absorption * 0.5 * length(world - ViewPos.xyz));
  return float4(colour * f * rim * t * 1.3, 1.0);
}

float4 Flash20PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1, float2 front : TEXCOORD2) : COLOR0 {
  float f = FlashOf(front.x);
  return float4(Hue(front.y * 0.35 + 0.42) * f, 1.0);
}

// ---- plankton: 70000 camera-facing sprites drifting in their box --------------

float3 BoxMin = {-70.0, -110.0, -25.0};
float3 BoxSize = {100.0, 140.0, 40.0};
float SpriteSize = 1.0;

// Most specks cover a few pixels, where the rasterizer's cost is setting up
// each triangle's interpolants: a speck carries six.
struct SpriteOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 colour : TEXCOORD1;  // times the brightness
  float keep : TEXCOORD2;     // the square's side over the atlas cell's
};

SpriteOut PlanktonSprite(float3 centre, float2 uv, float3 corner, float3 drift, float bokeh) {
  SpriteOut o;
  float3 p = centre + drift * Time;
  float3 q = frac((p - BoxMin) / BoxSize);
  p = BoxMin + q * BoxSize;
  // Fade out near the box's faces, so that wrapping never pops.
  float3 edge = min(q, 1.0 - q) * BoxSize;
  float inside = saturate(min(min(edge.x, edge.y), edge.z) / 4.0);
  float3 w = mul(float4(p, 1.0), World).xyz;
  float d = length(w - ViewPos.xyz);
  float seed = Hash3(centre);
  // Out-of-focus specks near the eye grow and dim.
  float grow = 1.0 + bokeh * saturate((14.0 - d) / 10.0) * 2.5;
  float size = SpriteSize * (0.6 + seed) * grow;
  float twinkle = 0.65 + 0.35 * sin(Time * (1.3 + seed * 2.0) + seed * 40.0);
  float near = saturate((d - 2.5) / 5.0);
  float far = exp(-d * 0.012);
  // Most specks are faint; a few catch the light.
  float bright = 0.12 + 0.9 * Pow6(frac(seed * 7.31));
  float a = inside * near * far * twinkle * bright / (grow * grow);
  // Most of a sprite's square is below half a level of the frame buffer,
  // which additive blending drops anyway: shrink the square about its
  // centre to the part that can show (the widest of the atlas's shapes,
  // the ring, sets the extent), with a margin for filtering.
  float faint = (0.45 / 255.0) / max(a * 0.7 * Brightness, 1e-6);
  float fall = max(-log(faint), 0.0);
  float4 mid = mul(float4(w, 1.0), ViewProjection);
  float4 up = mul(float4(w + CameraUp() * (size * 0.3), 1.0), ViewProjection);
  float halfPx = abs(up.y / up.w - mid.y / mid.w) * Screen.y * 0.5;
  float keep = min(1.0, max(0.55 + sqrt(fall) / 7.0, sqrt(fall / 6.0)) + 2.0 / max(halfPx, 1e-3) + 0.02);
  float3 corner3 = (corner.x * CameraRight() + corner.y * CameraUp()) * (size * keep);
  o.pos = mul(float4(w + corner3, 1.0), ViewProjection);
  o.uv = uv;
  o.keep = keep;
  float3 tint = lerp(float3(0.55, 1.0, 0.85), float3(1.0, 0.85, 0.55), step(0.86, seed));
  o.colour = tint * (a * 0.7 * Brightness);
  // A speck whose brightest pixel stays under the film grain (the final
  // pass adds up to about 4 levels either way) adds nothing a viewer sees;
  // most of the far ones are such, and each would still cost two triangles
  // (those between 3.2 and 4 levels alone cost a fifth of the pass).
  if (a * 0.7 * 255.0 < 4.0) o.pos = float4(0.0, 0.0, 2.0, 1.0);
  return o;
}

SpriteOut Plankton30VS(float3 centre : POSITION, float2 uv : TEXCOORD0, float3 corner : TEXCOORD1, float3 drift : TEXCOORD2) {
  return PlanktonSprite(centre, uv, corner, drift, 1.0);
}

SpriteOut Plankton20VS(float3 centre : POSITION, float2 uv : TEXCOORD0, float3 corner : TEXCOORD1, float3 drift : TEXCOORD2) {
  return PlanktonSprite(centre, uv, corner, drift, 0.0);
}

float4 PlanktonPS(float2 uv : TEXCOORD0, float3 colour : TEXCOORD1, float keep : TEXCOORD2) : COLOR0 {
  // The corners still carry the whole cell: scale back about its centre.
  float2 cell = floor(uv * 2.0) * 0.5 + 0.25;
  float4 s = tex2D(SpriteSampler, cell + (uv - cell) * keep);
  return float4(colour * s.rgb * s.a, 1.0);
}

// ---- techniques -----------------------------------------------------------------

#define OPAQUE ZEnable = true; ZWriteEnable = true; AlphaBlendEnable = false; CullMode = None;
#define BACKDROP ZEnable = true; ZWriteEnable = false; ZFunc = LessEqual; AlphaBlendEnable = false; CullMode = None;
#define ADDITIVE ZEnable = true; ZWriteEnable = false; ZFunc = LessEqual; AlphaBlendEnable = true; SrcBlend = One; DestBlend = One; CullMode = None;

technique Backdrop30 { pass P0 { VertexShader = compile vs_3_0 BackdropVS(); PixelShader = compile ps_3_0 Backdrop30PS(); BACKDROP } }
technique Backdrop20 { pass P0 { VertexShader = compile vs_2_0 BackdropVS(); PixelShader = compile ps_2_0 Backdrop20PS(); BACKDROP } }
technique Seabed30 { pass P0 { VertexShader = compile vs_3_0 SeabedVS(); PixelShader = compile ps_3_0 Seabed30PS(); OPAQUE } }
technique Seabed20 { pass P0 { VertexShader = compile vs_2_0 WorldVS(); PixelShader = compile ps_2_0 Seabed20PS(); OPAQUE } }
technique Shafts30 { pass P0 { VertexShader = compile vs_3_0 ShaftVS(); PixelShader = compile ps_3_0 Shaft30PS(); ADDITIVE CullMode = CCW; NO_EDGES } }
technique Shafts20 { pass P0 { VertexShader = compile vs_2_0 ShaftVS(); PixelShader = compile ps_2_0 Shaft20PS(); ADDITIVE CullMode = CCW; NO_EDGES } }
technique Creature30 { pass P0 { VertexShader = compile vs_3_0 CreatureWaterVS(); PixelShader = compile ps_3_0 Creature30PS(); OPAQUE } }
technique Creature20 { pass P0 { VertexShader = compile vs_2_0 CreatureVS(); PixelShader = compile ps_2_0 Creature20PS(); OPAQUE } }
technique Flash30 { pass P0 { VertexShader = compile vs_3_0 FlashVS(); PixelShader = compile ps_3_0 Flash30PS(); ADDITIVE } }
technique Flash20 { pass P0 { VertexShader = compile vs_2_0 FlashVS(); PixelShader = compile ps_2_0 Flash20PS(); ADDITIVE } }
technique Plankton30 { pass P0 { VertexShader = compile vs_3_0 Plankton30VS(); PixelShader = compile ps_3_0 PlanktonPS(); ADDITIVE NO_EDGES } }
technique Plankton20 { pass P0 { VertexShader = compile vs_2_0 Plankton20VS(); PixelShader = compile ps_2_0 PlanktonPS(); ADDITIVE NO_EDGES } }
