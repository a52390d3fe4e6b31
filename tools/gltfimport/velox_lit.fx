// velox_lit 2: the glTF importer's material, metallic-roughness shading
// lit by one directional light (the sun), up to four of the scene's lamps
// and an ambient term, with normal, occlusion and emissive maps. Lighting
// is computed on linear colours; colour maps are sRGB and the result is
// written as sRGB. Material scripts set the values below; maps a material
// lacks are bound to a white texture. Sampler states come from the SAMPLER_*
// macros, which an effect that includes this file may define first.
float4x4 World : World;
float4x4 WorldViewProjection : WorldViewProjection;
float4x4 WorldInverseTranspose : WorldInverseTranspose;
float4 Light0 : Light0;
float4 Light1 : Light1;
float4 Light2 : Light2;
float4 Light3 : Light3;
float4 ViewPos : ViewPos;

float4 BaseColor = {0.8, 0.8, 0.8, 1.0};  // linear RGB and alpha
float3 Emissive = {0.0, 0.0, 0.0};        // linear, emissive strength included
float Metallic = 0.0;
float Roughness = 1.0;
float NormalScale = 0.0;
float OcclusionStrength = 0.0;
float AlphaCutoff = -1.0;       // MASK: fragments below are discarded
float OpaqueAlpha = 1.0;        // 1: alpha is written as 1 (OPAQUE, MASK)
float VertexColorWeight = 0.0;  // 1: COLOR0 multiplies the base colour

// Towards the sun, in world axes, and the light it brings; the lamps'
// colours are their intensities at one unit of distance.
float3 SunDirection = {-0.35, 0.8, -0.5};
float3 SunColor = {1.0, 1.0, 1.0};
float3 AmbientColor = {0.2, 0.2, 0.2};
float LampCount = 0.0;
float3 LampColor0 = {0.0, 0.0, 0.0};
float3 LampColor1 = {0.0, 0.0, 0.0};
float3 LampColor2 = {0.0, 0.0, 0.0};
float3 LampColor3 = {0.0, 0.0, 0.0};

// Texture coordinates per map: u' = dot(U.xyz, (u, v, 1)), v' likewise
// with V.xyz; V.w picks the set (0 or 1).
float4 BaseColorUvU = {1, 0, 0, 0};
float4 BaseColorUvV = {0, 1, 0, 0};
float4 MetallicRoughnessUvU = {1, 0, 0, 0};
float4 MetallicRoughnessUvV = {0, 1, 0, 0};
float4 NormalUvU = {1, 0, 0, 0};
float4 NormalUvV = {0, 1, 0, 0};
float4 OcclusionUvU = {1, 0, 0, 0};
float4 OcclusionUvV = {0, 1, 0, 0};
float4 EmissiveUvU = {1, 0, 0, 0};
float4 EmissiveUvV = {0, 1, 0, 0};

#ifndef SAMPLER_BASECOLOR
#define SAMPLER_BASECOLOR AddressU = Wrap; AddressV = Wrap; MagFilter = Linear; MinFilter = Linear; MipFilter = Linear;
#endif
#ifndef SAMPLER_METALLICROUGHNESS
#define SAMPLER_METALLICROUGHNESS AddressU = Wrap; AddressV = Wrap; MagFilter = Linear; MinFilter = Linear; MipFilter = Linear;
#endif
#ifndef SAMPLER_NORMAL
#define SAMPLER_NORMAL AddressU = Wrap; AddressV = Wrap; MagFilter = Linear; MinFilter = Linear; MipFilter = Linear;
#endif
#ifndef SAMPLER_OCCLUSION
#define SAMPLER_OCCLUSION AddressU = Wrap; AddressV = Wrap; MagFilter = Linear; MinFilter = Linear; MipFilter = Linear;
#endif
#ifndef SAMPLER_EMISSIVE
#define SAMPLER_EMISSIVE AddressU = Wrap; AddressV = Wrap; MagFilter = Linear; MinFilter = Linear; MipFilter = Linear;
#endif

texture BaseColorMap;
texture MetallicRoughnessMap;
texture NormalMap;
texture OcclusionMap;
texture EmissiveMap;
sampler2D BaseColorSampler = sampler_state { Texture = <BaseColorMap>; SAMPLER_BASECOLOR };
sampler2D MetallicRoughnessSampler = sampler_state { Texture = <MetallicRoughnessMap>; SAMPLER_METALLICROUGHNESS };
sampler2D NormalSampler = sampler_state { Texture = <NormalMap>; SAMPLER_NORMAL };
sampler2D OcclusionSampler = sampler_state { Texture = <OcclusionMap>; SAMPLER_OCCLUSION };
sampler2D EmissiveSampler = sampler_state { Texture = <EmissiveMap>; SAMPLER_EMISSIVE };

struct LitIn {
  float3 pos : POSITION;
  float3 normal : NORMAL;
  float2 uv0 : TEXCOORD0;
  float2 uv1 : TEXCOORD1;
  float4 colour : COLOR0;
  float4 tangent : TANGENT;
};

struct LitOut {
  float4 pos : POSITION;
  float4 uvA : TEXCOORD0;  // base colour, metallic-roughness
  float4 uvB : TEXCOORD1;  // normal, occlusion
  float4 uvC : TEXCOORD2;  // emissive
  float3 world : TEXCOORD3;
  float3 normal : TEXCOORD4;
  float4 tangent : TEXCOORD5;
  float4 colour : TEXCOORD6;
};

float2 MapUv(float4 u, float4 v, float2 uv0, float2 uv1) {
  const float3 uv = float3(v.w > 0.5 ? uv1 : uv0, 1.0);
  return float2(dot(u.xyz, uv), dot(v.xyz, uv));
}

LitOut LitVS(LitIn i) {
  LitOut o;
  o.pos = mul(float4(i.pos, 1.0), WorldViewProjection);
  o.world = mul(float4(i.pos, 1.0), World).xyz;
  o.normal = mul(float4(i.normal, 0.0), WorldInverseTranspose).xyz;
  o.tangent = float4(mul(float4(i.tangent.xyz, 0.0), World).xyz, i.tangent.w);
  // Without a COLOR0 stream the attribute reads (0, 0, 0, 1).
  o.colour = lerp(float4(1, 1, 1, 1), i.colour, VertexColorWeight);
  o.uvA = float4(MapUv(BaseColorUvU, BaseColorUvV, i.uv0, i.uv1),
                 MapUv(MetallicRoughnessUvU, MetallicRoughnessUvV, i.uv0, i.uv1));
  o.uvB = float4(MapUv(NormalUvU, NormalUvV, i.uv0, i.uv1),
                 MapUv(OcclusionUvU, OcclusionUvV, i.uv0, i.uv1));
  o.uvC = float4(MapUv(EmissiveUvU, EmissiveUvV, i.uv0, i.uv1), 0.0, 0.0);
  return o;
}

float3 ToLinear(float3 c) { return pow(c, 2.2); }
float3 ToSrgb(float3 c) { return pow(saturate(c), 1.0 / 2.2); }

// The base colour with its alpha, discarded below the cutoff.
float4 Base(LitOut i) {
  float4 c = tex2D(BaseColorSampler, i.uvA.xy);
  c = float4(ToLinear(c.rgb), c.a) * BaseColor * i.colour;
  clip(c.a - AlphaCutoff);
  return c;
}

// The shading normal, facing the eye on two-sided materials.
float3 Normal(LitOut i, float3 toEye, bool mapped) {
  float3 n = normalize(i.normal);
  const float side = dot(n, toEye) < 0.0 ? -1.0 : 1.0;
  n *= side;
  if (mapped) {
    float3 m = tex2D(NormalSampler, i.uvB.xy).xyz * 2.0 - 1.0;
    m.xy *= NormalScale * side;
    const float3 t = i.tangent.xyz;
    const float3 b = cross(n, t) * i.tangent.w * side;
    n = normalize(t * m.x + b * m.y + n * m.z);
  }
  return n;
}

// One light: Lambert diffuse and GGX specular with Smith visibility and
// Schlick's Fresnel. `radiance` is the light at the surface, scaled so
// that a white surface facing it shows that colour.
float3 Shade(float3 n, float3 v, float3 l, float3 radiance, float3 diffuse, float3 f0, float a2) {
  const float3 h = normalize(l + v);
  const float nl = saturate(dot(n, l));
  const float nv = saturate(dot(n, v)) + 1e-4;
  const float nh = saturate(dot(n, h));
  const float q = nh * nh * (a2 - 1.0) + 1.0;
  const float d = a2 / (q * q);  // GGX times pi
  const float k = sqrt(a2) * 0.5;
  const float vis = 0.25 / ((nl * (1.0 - k) + k) * (nv * (1.0 - k) + k));
  const float3 f = f0 + (1.0 - f0) * pow(1.0 - saturate(dot(v, h)), 5.0);
  return radiance * nl * (diffuse + f * d * vis);
}

float3 Lamp(float4 at, float3 colour, float index, float3 world, float3 n, float3 v,
            float3 diffuse, float3 f0, float a2) {
  const float3 d = at.xyz - world;
  const float dd = max(dot(d, d), 1e-4);
  const float3 radiance = index < LampCount ? colour / dd : float3(0, 0, 0);
  return Shade(n, v, d * rsqrt(dd), radiance, diffuse, f0, a2);
}

float4 Lit30PS(LitOut i) : COLOR0 {
  const float4 base = Base(i);
  const float3 v = normalize(ViewPos.xyz - i.world);
  const float3 n = Normal(i, v, true);
  const float4 mr = tex2D(MetallicRoughnessSampler, i.uvA.zw);
  const float metallic = saturate(Metallic * mr.b);
  const float roughness = clamp(Roughness * mr.g, 0.04, 1.0);
  const float a2 = roughness * roughness * roughness * roughness;
  const float3 diffuse = base.rgb * (1.0 - metallic);
  const float3 f0 = lerp(float3(0.04, 0.04, 0.04), base.rgb, metallic);
  const float occlusion = 1.0 + OcclusionStrength * (tex2D(OcclusionSampler, i.uvB.zw).r - 1.0);

  float3 c = Shade(n, v, normalize(SunDirection), SunColor, diffuse, f0, a2);
  c += Lamp(Light0, LampColor0, 0.0, i.world, n, v, diffuse, f0, a2);
  c += Lamp(Light1, LampColor1, 1.0, i.world, n, v, diffuse, f0, a2);
  c += Lamp(Light2, LampColor2, 2.0, i.world, n, v, diffuse, f0, a2);
  c += Lamp(Light3, LampColor3, 3.0, i.world, n, v, diffuse, f0, a2);
  c += AmbientColor * occlusion * (diffuse + f0 * (1.0 - 0.5 * roughness));
  c += Emissive * ToLinear(tex2D(EmissiveSampler, i.uvC.xy).rgb);
  return float4(ToSrgb(c), lerp(base.a, 1.0, OpaqueAlpha));
}

// The simpler material: diffuse light from the sun and the first lamp,
// ambient and emissive; no normal, metallic-roughness or occlusion map.
float4 Lit20PS(LitOut i) : COLOR0 {
  const float4 base = Base(i);
  const float3 v = normalize(ViewPos.xyz - i.world);
  const float3 n = Normal(i, v, false);
  const float3 diffuse = base.rgb * (1.0 - saturate(Metallic) * 0.75);
  const float3 toLamp = Light0.xyz - i.world;
  const float dd = max(dot(toLamp, toLamp), 1e-4);
  const float3 lamp = LampCount > 0.0 ? LampColor0 / dd : float3(0, 0, 0);
  float3 light = SunColor * saturate(dot(n, normalize(SunDirection))) + AmbientColor;
  light += lamp * saturate(dot(n, toLamp * rsqrt(dd)));
  const float3 c = diffuse * light + Emissive * ToLinear(tex2D(EmissiveSampler, i.uvC.xy).rgb);
  return float4(ToSrgb(c), lerp(base.a, 1.0, OpaqueAlpha));
}

// Opaque and MASK materials write depth; BLEND ones are drawn after them
// (their pass priority), blended over what is there, without writing depth.
#define OPAQUE_STATES ZEnable = true; ZWriteEnable = true; AlphaBlendEnable = false;
#define BLEND_STATES ZEnable = true; ZWriteEnable = false; AlphaBlendEnable = true; \
  SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha;

technique Lit { pass P0 {
  VertexShader = compile vs_3_0 LitVS(); PixelShader = compile ps_3_0 Lit30PS();
  CullMode = CCW; OPAQUE_STATES } }
technique LitTwoSided { pass P0 {
  VertexShader = compile vs_3_0 LitVS(); PixelShader = compile ps_3_0 Lit30PS();
  CullMode = None; OPAQUE_STATES } }
technique Blend { pass P0 {
  VertexShader = compile vs_3_0 LitVS(); PixelShader = compile ps_3_0 Lit30PS();
  CullMode = CCW; BLEND_STATES } }
technique BlendTwoSided { pass P0 {
  VertexShader = compile vs_3_0 LitVS(); PixelShader = compile ps_3_0 Lit30PS();
  CullMode = None; BLEND_STATES } }

technique Lit20 { pass P0 {
  VertexShader = compile vs_2_0 LitVS(); PixelShader = compile ps_2_0 Lit20PS();
  CullMode = CCW; OPAQUE_STATES } }
technique LitTwoSided20 { pass P0 {
  VertexShader = compile vs_2_0 LitVS(); PixelShader = compile ps_2_0 Lit20PS();
  CullMode = None; OPAQUE_STATES } }
technique Blend20 { pass P0 {
  VertexShader = compile vs_2_0 LitVS(); PixelShader = compile ps_2_0 Lit20PS();
  CullMode = CCW; BLEND_STATES } }
technique BlendTwoSided20 { pass P0 {
  VertexShader = compile vs_2_0 LitVS(); PixelShader = compile ps_2_0 Lit20PS();
  CullMode = None; BLEND_STATES } }
