// The city at dusk: sky with the low sun, towers and houses whose windows
// light up along the river as night comes, the ground, the river, clouds,
// the haze in their box, low fog round the city and the notes round the
// spire.
#include "common.fxh"

texture AlbedoMap;   // windows.dds for buildings, ground.dds for the ground
sampler2D AlbedoSampler = sampler_state {
  Texture = <AlbedoMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Wrap; AddressV = Wrap; MaxAnisotropy = 4;
};
texture WaveMap;     // tangent-space normals of small waves
sampler2D WaveSampler = sampler_state {
  Texture = <WaveMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Wrap; AddressV = Wrap;
};
texture SpriteMap;   // 2x2 atlas of fog puffs or notes
sampler2D SpriteSampler = sampler_state {
  Texture = <SpriteMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
  AddressU = Clamp; AddressV = Clamp;
};

float Brightness = 1.0;
float FogDensity = 0.0016;
float SceneStart = 100.0;   // seconds: the city's first frame
float NightFall = 44.0;     // seconds from the start to full night
float Tempo = 2.0;          // beats per second

float Night() { return saturate((Time - SceneStart) / NightFall); }
float3 SunFrom(float3 p) { return normalize(Light0.xyz - p); }
float ClockBeat() { return exp(-frac(Time * Tempo) * 4.0); }

// Dusk sky: deep blue above, a warm band along the horizon that is hottest
// under the sun and lavender away from it.
float3 SkyColour(float3 dir, float3 sun) {
  float night = Night();
  float towards = saturate(dot(dir, sun) * 0.5 + 0.5);
  float h = dir.y;
  float3 zenith = lerp(float3(0.07, 0.1, 0.24), float3(0.025, 0.035, 0.1), night);
  float3 warm = lerp(float3(1.0, 0.5, 0.22), float3(0.85, 0.32, 0.18), night);
  float3 cool = lerp(float3(0.42, 0.33, 0.5), float3(0.2, 0.15, 0.3), night);
  float3 horizon = lerp(cool, warm, towards * towards * towards);
  float3 c = lerp(horizon, zenith, pow(saturate(h * 1.6), 0.6));
  c = lerp(c, horizon * 0.55, saturate(-h * 6.0));
  float s = saturate(dot(dir, sun));
  float s4 = Pow4(s), s8 = s4 * s4, s16 = s8 * s8, s32 = s16 * s16;
  float s256 = Pow4(Pow4(s16));
  c += float3(1.0, 0.6, 0.3) * (s16 * 0.35 + s256 * s32 * s8 * s4 * 0.6);
  return c;
}

// The haze's colour towards a point, and how much of the point shows through.
float4 DistanceHaze(float3 world) {
  float3 toP = world - ViewPos.xyz;
  float d = length(toP);
  float3 dir = toP / max(d, 1e-3);
  // Haze low over the land: the horizon's colour, dimmer than the sky.
  float3 haze = SkyColour(normalize(float3(dir.x, 0.02, dir.z)), SunFrom(ViewPos.xyz)) * 0.7;
  return float4(haze, exp(-d * FogDensity));
}

float3 CityFog(float3 c, float3 world) {
  float4 h = DistanceHaze(world);
  return lerp(h.rgb, c, h.a);
}

// Ambient light from the sky above and the ground below.
float3 Ambient(float3 n) {
  float night = Night();
  float3 sky = lerp(float3(0.2, 0.22, 0.36), float3(0.07, 0.08, 0.16), night);
  float3 ground = lerp(float3(0.16, 0.1, 0.08), float3(0.05, 0.04, 0.04), night);
  return lerp(ground, sky, n.y * 0.5 + 0.5);
}

float3 SunColour() { return lerp(float3(1.0, 0.62, 0.35), float3(0.7, 0.3, 0.18), Night()) * 1.2; }

// ---- sky ------------------------------------------------------------------------

struct WorldOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 world : TEXCOORD1;
  float3 normal : TEXCOORD2;
  float2 curve : TEXCOORD3;
};

WorldOut WorldVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0, float2 curve : TEXCOORD1) {
  WorldOut o;
  float4 w = mul(float4(pos, 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.uv = uv;
  o.world = w.xyz;
  o.normal = mul(normal, (float3x3)World);
  o.curve = curve;
  return o;
}

// The distance haze changes slowly across a building's face: the ps_3_0
// buildings take it from their vertices (haze colour * (1 - through), through).
struct WorldHazeOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 world : TEXCOORD1;
  float3 normal : TEXCOORD2;
  float2 curve : TEXCOORD3;
  float4 haze : TEXCOORD4;
};

WorldHazeOut WorldHazeVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0, float2 curve : TEXCOORD1) {
  WorldOut w = WorldVS(pos, normal, uv, curve);
  WorldHazeOut o;
  o.pos = w.pos;
  o.uv = w.uv;
  o.world = w.world;
  o.normal = w.normal;
  o.curve = w.curve;
  float4 h = DistanceHaze(w.world);
  o.haze = float4(h.rgb * (1.0 - h.a), h.a);
  return o;
}

float3 Hazed(float3 c, float4 haze) { return c * haze.a + haze.rgb; }

// The sky sphere has no curve channel. Seen from the edge of the city its
// far side lies beyond the far plane: it is pulled onto it, just inside. It
// is drawn after the opaque scene with a depth test, so only the pixels
// nothing else covers are shaded.
WorldOut SkyVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  WorldOut o = WorldVS(pos, normal, uv, float2(0.0, 0.0));
  o.pos.z = o.pos.w * 0.999999;
  return o;
}

float4 Sky30PS(float3 world : TEXCOORD1) : COLOR0 {
  float3 dir = normalize(world - ViewPos.xyz);
  float3 sun = SunFrom(ViewPos.xyz);
  float3 c = SkyColour(dir, sun);
  // The disc itself, and the first stars high up as night comes.
  float s = dot(dir, sun);
  c += float3(1.0, 0.85, 0.6) * smoothstep(0.99955, 0.9998, s) * 2.0;
  float2 cell = floor(dir.xz / max(dir.y, 0.05) * 180.0);
  float star = step(0.996, Hash(cell)) * smoothstep(0.25, 0.6, dir.y);
  c += star * Night() * (0.5 + 0.5 * sin(Time * 3.0 + Hash(cell + 7.0) * 40.0)) * 0.6;
  return float4(c * Brightness, 1.0);
}

float4 Sky20PS(float3 world : TEXCOORD1) : COLOR0 {
  float3 dir = normalize(world - ViewPos.xyz);
  float3 sun = SunFrom(ViewPos.xyz);
  float3 c = SkyColour(dir, sun) + float3(1.0, 0.85, 0.6) * smoothstep(0.99955, 0.9998, dot(dir, sun)) * 2.0;
  return float4(c * Brightness, 1.0);
}

// ---- buildings --------------------------------------------------------------------

float3 WallTint = {0.42, 0.44, 0.52};
float3 RoofTint = {0.2, 0.2, 0.24};
float LitShare = 0.7;     // share of windows lit at full night
float MastTops = 46.0;    // above every roof: only the masts' tips reach it (the generator's kMastTops)
float3 WindowWarm = {1.0, 0.72, 0.4};
float3 WindowCool = {0.65, 0.82, 1.0};

// Lights come on in a wave along the river as night falls.
float LightsOn(float arc) {
  float t = (Time - SceneStart) / NightFall;
  return saturate((t * 1.6 - arc * 0.6) * 1.4 + 0.1) * LitShare;
}

float3 WindowLight(float2 uv, float level, float arc, float2 block) {
  float2 id = floor(uv * 8.0) + block * 17.0;
  float r = Hash(id);
  float on = step(r, LightsOn(arc)) * level;
  float3 colour = lerp(WindowWarm, WindowCool, step(0.7, Hash(id + 3.1)));
  // Now and then a screen flickers.
  float tv = step(0.97, Hash(id + 9.7)) * (0.6 + 0.4 * sin(Time * 11.0 + r * 30.0));
  colour = lerp(colour, float3(0.5, 0.7, 1.0) * tv, step(0.97, Hash(id + 9.7)));
  return colour * on * 1.4;
}

// A tower stands on a lot of a 13 m grid (its footprint and its mast stay
// inside), so the lot's hash is the tower's.
float TowerHash(float3 world) { return Hash(floor((world.xz + 6.5) / 13.0)); }

// Towers differ floor by floor: every few floors a plant floor without
// windows, how many by the tower.
float PlantFloor(float2 uv, float lot) {
  float period = 4.0 + floor(lot * 4.0);
  float storey = floor(uv.y * 8.0);
  return step(frac(storey / period), 0.5 / period) * step(0.35, lot);
}

// Each tower its own window: the glass of a cell stretched or shrunk about
// its centre, from small punched openings to ribbons running round the
// floor and strips running up the tower.
float2 WindowShape(float lot) {
  float h = frac(lot * 7.31);
  float2 k = float2(1.0, 1.0);
  k = lerp(k, float2(0.62, 1.0), step(0.3, h));
  k = lerp(k, float2(1.0, 0.62), step(0.5, h));
  k = lerp(k, float2(1.45, 1.3), step(0.65, h));
  return lerp(k, float2(0.85, 0.9), step(0.85, h));
}

// `own`: a tower's window shape and lot hash (zero for houses).
float3 Building(float2 uv, float3 world, float3 normal, float2 curve, float3 wallTint, float3 roofTint, bool rich,
                bool tower, float3 own) {
  float3 n = normalize(normal);
  float3 v = normalize(ViewPos.xyz - world);
  float3 sun = SunFrom(world);
  float wallness = 1.0 - smoothstep(0.3, 0.7, abs(n.y));
  float4 tex;
  if (tower && rich) {
    // The lookup's footprint is the facade's, not the remapped cell's, so no
    // seam of a coarse mip shows where cells meet.
    float2 g = uv * 8.0;
    float2 local = saturate((frac(g) - 0.5) * own.xy + 0.5);
    tex = tex2Dgrad(AlbedoSampler, (floor(g) + local) / 8.0, ddx(uv), ddy(uv));
  } else {
    tex = tex2D(AlbedoSampler, uv);
  }
  float2 block = floor(world.xz / 24.0);
  float variety = Hash(block);
  float3 tint = lerp(wallTint, wallTint.bgr, variety * 0.5);
  float3 albedo = lerp(roofTint * (0.8 + 0.4 * variety), tex.rgb * tint, wallness);
  float sunLit = saturate(dot(n, sun));
  // Streets are darker than roofs: light falls off towards the ground.
  float ao = lerp(0.35, 1.0, saturate(world.y / 22.0));
  float3 c = albedo * (Ambient(n) * ao + SunColour() * sunLit * 0.6);
  float glass = step(0.01, tex.a) * wallness;
  if (tower && rich) {
    // Mullions halve every window up close; they fade before they are
    // thinner than a pixel, so the far towers do not shimmer.
    float mx = uv.x * 16.0;
    glass *= 1.0 - step(0.46, abs(frac(mx) - 0.5)) * saturate(1.5 - fwidth(mx) * 12.0);
  }
  if (tower) {
    // A plant floor: solid and paler, with a strip of light round it once
    // the lights come on.
    float plant = PlantFloor(uv, own.z) * wallness;
    glass *= 1.0 - plant;
    float strip = step(abs(frac(uv.y * 8.0) - 0.5), 0.07) * saturate(LightsOn(curve.x) / LitShare * 2.0);
    c = lerp(c, c * 1.5 + WindowWarm * strip * 0.9, plant);
  }
  if (rich) {
    float grazing = Pow4(1.0 - saturate(dot(n, v)));
    if (tower) {
      // Glass mirrors the sky, most of all at grazing angles (a house's few
      // small panes are not worth the sky's cost).
      float3 r = reflect(-v, n);
      float fresnel = 0.04 + 0.96 * grazing * (1.0 - saturate(dot(n, v)));
      c = lerp(c, SkyColour(r, sun) * 0.8, glass * fresnel * 0.8);
    }
    // Warm rim where the low sun grazes the walls.
    c += SunColour() * grazing * saturate(dot(-v, sun)) * 0.35 * wallness;
  }
  // Houses light up first: people come home before the offices empty.
  c += WindowLight(uv, tex.a, tower ? curve.x : curve.x - 0.6, block) * glass;
  return c;
}

// A mark in the towers' texture coordinates (the generator's): left of -4.5
// a lamp.
float3 Lamp(float2 uv, float arc) {
  return WindowWarm * step(uv.x, -4.5) * (0.5 + 2.5 * saturate(LightsOn(arc) * 2.5));
}

// What belongs to a whole tower is worked out once a vertex, not once a
// pixel: every vertex of a tower lies on its lot.
struct TowerOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float3 world : TEXCOORD1;
  float3 normal : TEXCOORD2;
  float2 curve : TEXCOORD3;
  float4 haze : TEXCOORD4;
  float3 own : TEXCOORD5;
};

TowerOut TowerVS(float3 pos : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0, float2 curve : TEXCOORD1) {
  WorldHazeOut w = WorldHazeVS(pos, normal, uv, curve);
  TowerOut o;
  o.pos = w.pos;
  o.uv = w.uv;
  o.world = w.world;
  o.normal = w.normal;
  o.curve = w.curve;
  o.haze = w.haze;
  float lot = TowerHash(w.world);
  o.own = float3(WindowShape(lot), lot);
  return o;
}

float4 Towers30PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float3 normal : TEXCOORD2, float2 curve : TEXCOORD3,
                  float4 haze : TEXCOORD4, float3 own : TEXCOORD5) : COLOR0 {
  float3 c = Building(uv, world, normal, curve, WallTint, RoofTint, true, true, own);
  // Red lamps blinking on the high roofs.
  float2 cell = floor(world.xz / 6.0);
  float2 f = frac(world.xz / 6.0) - 0.5;
  float lamp = step(0.8, Hash(cell)) * step(30.0, world.y) * step(0.7, normalize(normal).y);
  lamp *= saturate(1.0 - dot(f, f) * 60.0) * step(0.5, frac(Time * 0.7 + Hash(cell + 1.0)));
  // The masts' tips, above every roof, blink each on its own beat.
  lamp += step(MastTops, world.y) * step(0.5, frac(Time * 0.6 + own.z));
  c += float3(1.0, 0.1, 0.05) * lamp * 3.0;
  c += Lamp(uv, curve.x);
  return float4(Hazed(c, haze) * Brightness, 1.0);
}

float4 Towers20PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float3 normal : TEXCOORD2, float2 curve : TEXCOORD3) : COLOR0 {
  float lot = TowerHash(world);
  float3 c = Building(uv, world, normal, curve, WallTint, RoofTint, false, true, float3(1.0, 1.0, lot)) + Lamp(uv, curve.x);
  return float4(CityFog(c, world) * Brightness, 1.0);
}

float3 HouseWall = {0.75, 0.66, 0.52};
float3 HouseRoof = {0.42, 0.2, 0.14};

float4 Houses30PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float3 normal : TEXCOORD2, float2 curve : TEXCOORD3,
                  float4 haze : TEXCOORD4) : COLOR0 {
  return float4(Hazed(Building(uv, world, normal, curve, HouseWall, HouseRoof, true, false, float3(0.0, 0.0, 0.0)), haze) * Brightness, 1.0);
}

float4 Houses20PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float3 normal : TEXCOORD2, float2 curve : TEXCOORD3) : COLOR0 {
  return float4(CityFog(Building(uv, world, normal, curve, HouseWall, HouseRoof, false, false, float3(0.0, 0.0, 0.0)), world) * Brightness, 1.0);
}

// ---- ground ---------------------------------------------------------------------------

float RiverLength = 1190.0;  // metres: the curve channel's x is the arc over this

// Streets every 40 m with lamps along them, inside the city.
float3 Streets(float3 world, float city, float arc) {
  float2 g = world.xz / 40.0;
  float2 f = abs(frac(g) - 0.5);
  float road = step(0.46, max(f.x, f.y));
  float2 lampCell = floor(world.xz / 10.0);
  float2 lf = frac(world.xz / 10.0) - 0.5;
  float lamp = road * saturate(1.0 - dot(lf, lf) * 6.0) * step(0.4, Hash(lampCell));
  float on = saturate(LightsOn(arc) * 2.0);
  return float3(-0.5, -0.5, -0.5) * road * city + float3(1.0, 0.7, 0.4) * lamp * on * city * 0.8;
}

// Cars on a two-lane road: `across` in metres from the middle (the lanes'
// centres 1.4 m either side), `along` in metres; each lane drives its own
// way, a car in about half the 9 m slots, white lamps ahead, red behind.
float3 Traffic(float across, float along) {
  float dir = across < 0.0 ? 1.0 : -1.0;
  float t = (along + Time * 11.0 * dir) / 9.0;
  float f = frac(t) * 9.0;
  float car = step(0.45, Hash(float2(floor(t), dir)));
  float dx = abs(abs(across) - 1.4) - 0.55;
  float head = saturate(1.0 - (dx * dx + (f - 0.3) * (f - 0.3)) * 30.0);
  float tail = saturate(1.0 - (dx * dx + (f - 3.7) * (f - 3.7)) * 30.0);
  return (float3(1.0, 0.93, 0.8) * head * 3.0 + float3(1.0, 0.08, 0.04) * tail * 2.0) * car;
}

float4 Ground30PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float3 normal : TEXCOORD2, float2 curve : TEXCOORD3,
                  float4 haze : TEXCOORD4) : COLOR0 {
  float3 n = normalize(normal);
  float3 albedo = tex2D(AlbedoSampler, uv).rgb;
  float r = length(world.xz);
  float city = 1.0 - smoothstep(200.0, 240.0, r);
  float quay = 1.0 - smoothstep(9.0, 13.0, curve.y);
  albedo = lerp(albedo, float3(0.3, 0.3, 0.32) * (0.7 + 0.6 * albedo.g), city * 0.6);
  albedo = lerp(albedo, float3(0.42, 0.4, 0.38), quay);
  float3 c = albedo * (Ambient(n) + SunColour() * saturate(dot(n, SunFrom(world))));
  float3 s = Streets(world, city * (1.0 - quay), curve.x);
  c = c * (1.0 + min(s, 0.0)) + max(s, 0.0);
  // A road along each bank behind the quay, lamps on its river side
  // throwing pools of light, and traffic (faded out before its lamps
  // shrink below a pixel and sparkle).
  float across = curve.y - 15.5, along = curve.x * RiverLength;
  float road = step(abs(across), 2.8) * city;
  float lf = (frac(along / 14.0) - 0.5) * 14.0;
  float pool = saturate(1.0 - (lf * lf + (across + 3.3) * (across + 3.3)) / 7.0) * saturate(LightsOn(curve.x) * 2.5);
  float near = saturate(1.5 - length(world - ViewPos.xyz) / 200.0);
  c = c * (1.0 - 0.45 * road) + WindowWarm * pool * city * 0.5 + Traffic(across, along) * road * near;
  return float4(Hazed(c, haze) * Brightness, 1.0);
}

float4 Ground20PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1, float3 normal : TEXCOORD2, float2 curve : TEXCOORD3) : COLOR0 {
  float3 n = normalize(normal);
  float3 albedo = tex2D(AlbedoSampler, uv).rgb;
  float city = 1.0 - smoothstep(200.0, 240.0, length(world.xz));
  albedo = lerp(albedo, float3(0.3, 0.3, 0.32), city * 0.6);
  float3 c = albedo * (Ambient(n) + SunColour() * saturate(dot(n, SunFrom(world))));
  return float4(CityFog(c, world) * Brightness, 1.0);
}

// ---- the river -----------------------------------------------------------------------------

float FlowSpeed = 0.06;

float3 WaveNormal(float2 uv, float3 world) {
  float2 flow = float2(0.0, Time * FlowSpeed);
  float3 a = tex2D(WaveSampler, uv * float2(1.0, 1.0) + flow).rgb * 2.0 - 1.0;
  float3 b = tex2D(WaveSampler, world.xz * 0.13 + float2(Time * 0.011, -Time * 0.017)).rgb * 2.0 - 1.0;
  float3 t = a + b;
  // Tangent space to world: the river lies flat, so z of the map is up.
  return normalize(float3(t.x * 0.35, 1.0, t.y * 0.35));
}

float3 River(float2 uv, float3 world, bool rich) {
  float3 v = normalize(ViewPos.xyz - world);
  float3 n = WaveNormal(uv, world);
  float3 sun = SunFrom(world);
  float3 r = reflect(-v, n);
  r.y = abs(r.y);
  float fresnel = 0.03 + 0.97 * Pow5(1.0 - saturate(dot(n, v)));
  float3 body = float3(0.02, 0.05, 0.07);
  float3 c = lerp(body, SkyColour(r, sun), saturate(fresnel * 1.4));
  float g4 = Pow4(saturate(dot(r, sun))), g8 = g4 * g4, g16 = g8 * g8, g64 = Pow4(g16);
  c += SunColour() * g64 * g64 * g64 * g16 * g8 * g4 * 4.0;   // power 220
  if (rich) {
    // Lit windows and street lamps break up on the water in long streaks.
    float2 cell = float2(floor(world.x * 0.35 + world.z * 0.35), floor(uv.y * 6.0));
    float streak = step(0.75, Hash(cell)) * Cube(saturate(n.x * 3.0 + 0.5)) * saturate(LightsOn(0.5) * 2.0);
    c += WindowWarm * streak * 0.5;
  }
  float edge = smoothstep(0.0, 0.08, uv.x) * smoothstep(1.0, 0.92, uv.x);
  return CityFog(c * (0.6 + 0.4 * edge), world);
}

float4 River30PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1) : COLOR0 {
  return float4(River(uv, world, true) * Brightness, 1.0);
}

float4 River20PS(float2 uv : TEXCOORD0, float3 world : TEXCOORD1) : COLOR0 {
  return float4(River(uv, world, false) * Brightness, 1.0);
}

// ---- clouds: lit from below by the low sun, soft at the edges --------------------------------

struct CloudOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float3 normal : TEXCOORD1;
  float3 colour : TEXCOORD2;
};

CloudOut CloudVS(float3 pos : POSITION, float3 normal : NORMAL, float3 colour : TEXCOORD1) {
  CloudOut o;
  float4 w = mul(float4(pos, 1.0), World);
  // A slow drift with the wind.
  w.x += Time * 0.6;
  o.pos = mul(w, ViewProjection);
  o.world = w.xyz;
  o.normal = mul(normal, (float3x3)World);
  // Each copy has its own grey; a hash of it gives it a tint of its own too,
  // from warm to cool.
  float seed = frac(colour.r * 173.31);
  o.colour = colour * lerp(float3(0.9, 0.95, 1.08), float3(1.07, 0.97, 0.88), seed);
  return o;
}

// Seen towards the sun, thin cloud glows through.
float TowardsSun(float3 world) { return Pow4(saturate(dot(normalize(world - ViewPos.xyz), SunFrom(world)))); }

// The puff's light before its edges, the night and the haze. The sun is
// about to set: it lights the clouds from a little below.
float3 CloudBody(float3 n, float3 world, float3 colour) {
  float3 sun = normalize(SunFrom(world) + float3(0.0, -0.3, 0.0));
  float lit = saturate(dot(n, sun) * 0.6 + 0.4);
  float under = saturate(-n.y * 0.5 + 0.5);
  float3 shade = lerp(float3(0.22, 0.2, 0.34), float3(0.42, 0.3, 0.44), under);
  return (shade + SunColour() * lit * lit * 0.9) * colour;
}

// A puff is a lumpy icosahedron a few metres across: near the eye its flat
// faces and straight outline would show, so it thins out as the eye comes
// within a few puff sizes, and its cover falls to nothing before the
// outline (where the interpolated normal still leans towards the eye).
float CloudCover(float3 world, float ndv, float wisp) {
  float near = saturate((length(world - ViewPos.xyz) - 10.0) / 40.0);
  return saturate(ndv * 2.6 - 0.55 - (1.0 - wisp) * 0.9) * 0.9 * near * (2.0 - near);
}

// The ps_2_0 puff's colour before the distance haze, and its cover.
float4 CloudLook(float3 world, float3 normal, float3 colour) {
  float3 n = normalize(normal);
  float ndv = saturate(dot(n, normalize(ViewPos.xyz - world)));
  // The edges burn where the sun is behind.
  float3 c = CloudBody(n, world, colour) + SunColour() * TowardsSun(world) * (0.25 + 0.5 * (1.0 - ndv) * (1.0 - ndv)) * colour;
  c = lerp(c, c * 0.55, Night());
  return float4(c, CloudCover(world, ndv, 1.0));
}

// A puff spans a few metres: the distance haze, the sun's direction and the
// light on the puff's lumps change too little across it to be worth working
// out per pixel. Only what depends on the angle to the eye (the cover, the
// burning edges) and the wisps stay per pixel.
struct CloudLitOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float3 normal : TEXCOORD1;
  float3 body : TEXCOORD2;      // lit colour before the edges, night and haze applied
  float3 edge : TEXCOORD3;      // colour of the edges' glow, the same
  float3 haze : TEXCOORD4;      // haze colour * (1 - through) * Brightness
};

CloudLitOut CloudLitVS(float3 pos : POSITION, float3 normal : NORMAL, float3 colour : TEXCOORD1) {
  CloudOut c = CloudVS(pos, normal, colour);
  CloudLitOut o;
  o.pos = c.pos;
  o.world = c.world;
  o.normal = c.normal;
  float4 h = DistanceHaze(c.world);
  float k = (1.0 - 0.45 * Night()) * h.a * Brightness;
  o.body = CloudBody(normalize(c.normal), c.world, c.colour) * k;
  o.edge = SunColour() * TowardsSun(c.world) * c.colour * k;
  o.haze = h.rgb * (1.0 - h.a) * Brightness;
  return o;
}

float4 Cloud30PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1, float3 body : TEXCOORD2,
                 float3 edge : TEXCOORD3, float3 haze : TEXCOORD4) : COLOR0 {
  float ndv = saturate(dot(normalize(normal), normalize(ViewPos.xyz - world)));
  float rim = 1.0 - ndv;
  float3 c = body + edge * (0.25 + 1.2 * rim * rim);
  // Wisps: noise eats into the puff from its edges.
  float wisp = tex2D(NoiseSampler, world.xz * 0.05 + world.y * 0.03 + Time * 0.01).g;
  return float4(c + haze, CloudCover(world, ndv, wisp));
}

float4 Cloud20PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1, float3 colour : TEXCOORD2) : COLOR0 {
  float4 l = CloudLook(world, normal, colour);
  return float4(CityFog(l.rgb, world) * Brightness, l.a);
}

// ---- haze inside the clouds' box: a short march through noise ---------------------------------

float3 HazeBoxMin = {-84.0, 36.0, -84.0};   // world box of the clouds (about)
float3 HazeBoxMax = {84.0, 54.0, 84.0};
float HazeDensity = 0.05;

// Box coordinates (0..1 inside) and noise coordinates of a world point; both
// are affine in it, so a march steps them instead of recomputing them.
float3 HazeBoxAt(float3 p) { return (p - HazeBoxMin) / (HazeBoxMax - HazeBoxMin); }
float2 HazeUvAt(float3 p) { return p.xz * 0.006 + p.y * float2(0.011, 0.007); }

// The noise is read without mipmaps: a metre is about 1.5 of its texels, so
// a pixel covers less than a texel out to some 600 m, beyond the box.
float HazeAt(float3 q, float2 uv) {
  float3 edge = min(q, 1.0 - q);
  float inside = saturate(min(min(edge.x, edge.y), edge.z) * 6.0);
  float4 nz = tex2D(NoiseNoMipSampler, uv);
  return saturate(nz.r * 0.7 + nz.g * 0.5 - 0.45) * inside;
}

struct HazeOut {
  float4 pos : POSITION;
  float3 world : TEXCOORD0;
  float3 normal : TEXCOORD1;
};

HazeOut HazeVS(float3 pos : POSITION, float3 normal : NORMAL) {
  HazeOut o;
  float4 w = mul(float4(pos, 1.0), World);
  o.pos = mul(w, ViewProjection);
  o.world = w.xyz;
  o.normal = mul(normal, (float3x3)World);
  return o;
}

float4 HazeOf(float3 world, float3 normal, int steps) {
  float3 v = world - ViewPos.xyz;
  float3 dir = normalize(v);
  // Only faces turned towards the eye start a march (the pass culls the
  // others; this keeps the rule where a normal disagrees with the winding).
  clip(-dot(normalize(normal), dir));
  float step = 60.0 / steps;
  float density = 0.0;
  float3 p = world + dir * step * 0.5;
  float3 q = HazeBoxAt(p);
  float3 dq = HazeBoxAt(p + dir * step) - q;
  float2 uv = HazeUvAt(p) + float2(Time * 0.004, 0.0);
  float2 duv = HazeUvAt(dir * step);
  for (int i = 0; i < steps; ++i) {
    density += HazeAt(q, uv);
    q += dq;
    uv += duv;
  }
  float a = 1.0 - exp(-density * step * HazeDensity);
  float3 sun = SunFrom(world);
  float3 c = lerp(float3(0.35, 0.3, 0.45), SunColour() * 0.9, Pow4(saturate(dot(dir, sun) * 0.5 + 0.5)));
  c = lerp(c, c * 0.5, Night());
  return float4(CityFog(c, world) * Brightness, a * 0.8);
}

float4 Haze30PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1) : COLOR0 { return HazeOf(world, normal, 8); }
float4 Haze20PS(float3 world : TEXCOORD0, float3 normal : TEXCOORD1) : COLOR0 { return HazeOf(world, normal, 3); }

// ---- camera-facing sprites: fog round the city, notes round the spire ------------------------------

struct SpriteOut {
  float4 pos : POSITION;
  float2 uv : TEXCOORD0;
  float4 colour : TEXCOORD1;
  float height : TEXCOORD2;
};

float SpriteSize = 1.0;
float SpriteLift = 0.0;     // raise by this share of the size: fog sits on the ground
float SpriteAlpha = 0.3;
float SpriteSpin = 0.0;     // radians per second

SpriteOut SpriteVS(float3 centre : POSITION, float2 uv : TEXCOORD0, float3 corner : TEXCOORD1, float3 colour : TEXCOORD2) {
  SpriteOut o;
  float seed = Hash3(centre);
  float size = length(corner.xy) * SpriteSize;
  float3 w = mul(float4(centre, 1.0), World).xyz;
  w.y += size * SpriteLift;
  float angle = SpriteSpin * Time * (seed - 0.5) * 2.0 + sin(Time * 1.7 + seed * 30.0) * 0.25 * SpriteSpin;
  float s = sin(angle), c = cos(angle);
  float2 k = float2(corner.x * c - corner.y * s, corner.x * s + corner.y * c) * SpriteSize;
  float3 p = w + k.x * CameraRight() + k.y * CameraUp();
  o.pos = mul(float4(p, 1.0), ViewProjection);
  o.uv = uv;
  float d = length(w - ViewPos.xyz);
  float near = saturate((d - size * 0.5 - 2.0) / (size + 4.0));
  o.colour = float4(colour, SpriteAlpha * near);
  o.height = p.y;
  return o;
}

// The fog's colour is the same all over a puff: it comes premultiplied from
// the vertices. Every other puff (by its hash) is drawn, with the cover of
// two, since the fog's cost is its overdraw and the puffs are soft enough
// that half as many layers look the same. A puff so faded (close to the eye)
// that it could move no pixel by half a level of the frame is dropped before
// it is rasterized.
SpriteOut FogVS(float3 centre : POSITION, float2 uv : TEXCOORD0, float3 corner : TEXCOORD1, float3 colour : TEXCOORD2) {
  SpriteOut o = SpriteVS(centre, uv, corner, colour);
  float3 c = o.colour.rgb * lerp(float3(0.36, 0.34, 0.48), SunColour() * 0.5, 0.35);
  c = lerp(c, c * 0.55, Night()) * Brightness;
  float a = o.colour.a;
  a = 1.0 - (1.0 - a) * (1.0 - a);
  o.colour = float4(c, 1.0) * a;
  if (Hash3(centre) >= 0.5) a = 0.0;
  if (a * max(max(max(c.r, c.g), c.b), 1.0) < 0.5 / 255.0) o.pos = float4(0.0, 0.0, -2.0, 1.0);
  return o;
}

float4 Fog30PS(float2 uv : TEXCOORD0, float4 colour : TEXCOORD1, float height : TEXCOORD2) : COLOR0 {
  return colour * (tex2D(SpriteSampler, uv).a * saturate(height / 4.0));
}

float4 Fog20PS(float2 uv : TEXCOORD0, float4 colour : TEXCOORD1) : COLOR0 {
  float4 s = tex2D(SpriteSampler, uv);
  float a = s.a * colour.a;
  return float4(colour.rgb * float3(0.36, 0.34, 0.48) * a * Brightness, a);
}

float4 Note30PS(float2 uv : TEXCOORD0, float4 colour : TEXCOORD1) : COLOR0 {
  float4 s = tex2D(SpriteSampler, uv);
  float glow = 0.22 + 0.2 * ClockBeat();
  return float4(colour.rgb * s.rgb * s.a * colour.a * glow * Brightness, 1.0);
}

float4 Note20PS(float2 uv : TEXCOORD0, float4 colour : TEXCOORD1) : COLOR0 {
  float4 s = tex2D(SpriteSampler, uv);
  return float4(colour.rgb * s.rgb * s.a * colour.a * 0.45 * Brightness, 1.0);
}

#define OPAQUE ZEnable = true; ZWriteEnable = true; AlphaBlendEnable = false; CullMode = None;
#define BACKDROP ZEnable = true; ZWriteEnable = false; AlphaBlendEnable = false; CullMode = None;
#define BLENDED ZEnable = true; ZWriteEnable = false; AlphaBlendEnable = true; SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha; CullMode = None;
#define PREMULTIPLIED ZEnable = true; ZWriteEnable = false; AlphaBlendEnable = true; SrcBlend = One; DestBlend = InvSrcAlpha; CullMode = None;
#define ADDITIVE ZEnable = true; ZWriteEnable = false; AlphaBlendEnable = true; SrcBlend = One; DestBlend = One; CullMode = None;
// Clouds and haze show nothing on faces turned away (no cover, no march):
// the rasterizer skips them instead of shading them to nothing.
#define CULLED CullMode = CCW;

technique Sky30 { pass P0 { VertexShader = compile vs_3_0 SkyVS(); PixelShader = compile ps_3_0 Sky30PS(); BACKDROP } }
technique Sky20 { pass P0 { VertexShader = compile vs_2_0 SkyVS(); PixelShader = compile ps_2_0 Sky20PS(); BACKDROP } }
technique Towers30 { pass P0 { VertexShader = compile vs_3_0 TowerVS(); PixelShader = compile ps_3_0 Towers30PS(); OPAQUE } }
technique Towers20 { pass P0 { VertexShader = compile vs_2_0 WorldVS(); PixelShader = compile ps_2_0 Towers20PS(); OPAQUE } }
technique Houses30 { pass P0 { VertexShader = compile vs_3_0 WorldHazeVS(); PixelShader = compile ps_3_0 Houses30PS(); OPAQUE } }
technique Houses20 { pass P0 { VertexShader = compile vs_2_0 WorldVS(); PixelShader = compile ps_2_0 Houses20PS(); OPAQUE } }
technique Ground30 { pass P0 { VertexShader = compile vs_3_0 WorldHazeVS(); PixelShader = compile ps_3_0 Ground30PS(); OPAQUE } }
technique Ground20 { pass P0 { VertexShader = compile vs_2_0 WorldVS(); PixelShader = compile ps_2_0 Ground20PS(); OPAQUE } }
technique River30 { pass P0 { VertexShader = compile vs_3_0 WorldVS(); PixelShader = compile ps_3_0 River30PS(); OPAQUE } }
technique River20 { pass P0 { VertexShader = compile vs_2_0 WorldVS(); PixelShader = compile ps_2_0 River20PS(); OPAQUE } }
technique Clouds30 { pass P0 { VertexShader = compile vs_3_0 CloudLitVS(); PixelShader = compile ps_3_0 Cloud30PS(); BLENDED CULLED NO_EDGES } }
technique Clouds20 { pass P0 { VertexShader = compile vs_2_0 CloudVS(); PixelShader = compile ps_2_0 Cloud20PS(); BLENDED CULLED NO_EDGES } }
technique Haze30 { pass P0 { VertexShader = compile vs_3_0 HazeVS(); PixelShader = compile ps_3_0 Haze30PS(); BLENDED CULLED NO_EDGES } }
technique Haze20 { pass P0 { VertexShader = compile vs_2_0 HazeVS(); PixelShader = compile ps_2_0 Haze20PS(); BLENDED CULLED NO_EDGES } }
technique Fog30 { pass P0 { VertexShader = compile vs_3_0 FogVS(); PixelShader = compile ps_3_0 Fog30PS(); PREMULTIPLIED NO_EDGES } }
technique Fog20 { pass P0 { VertexShader = compile vs_2_0 SpriteVS(); PixelShader = compile ps_2_0 Fog20PS(); PREMULTIPLIED NO_EDGES } }
technique Notes30 { pass P0 { VertexShader = compile vs_3_0 SpriteVS(); PixelShader = compile ps_3_0 Note30PS(); ADDITIVE NO_EDGES } }
technique Notes20 { pass P0 { VertexShader = compile vs_2_0 SpriteVS(); PixelShader = compile ps_2_0 Note20PS(); ADDITIVE NO_EDGES } }
