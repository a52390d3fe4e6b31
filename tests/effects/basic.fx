// A textured, lit surface: the common shape of a material effect.
float4x4 WorldViewProjection : WorldViewProjection;
float4x4 World : World;
float4 Light0 : Light0;
float4 Tint < string UIName = "Tint"; > = {1.0, 0.5, 0.25, 1.0};
float Strength = 2.0;
int Steps = 3;
bool Enabled = true;
texture DiffuseMap < string ResourceName = "default.dds"; >;
sampler2D DiffuseSampler = sampler_state {
  Texture = <DiffuseMap>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Point;
  AddressU = Clamp;
  AddressV = Wrap;
};

struct VSOut {
  float4 position : POSITION;
  float2 uv : TEXCOORD0;
  float3 normal : TEXCOORD1;
};

VSOut MainVS(float4 position : POSITION, float3 normal : NORMAL, float2 uv : TEXCOORD0) {
  VSOut o;
  o.position = mul(position, WorldViewProjection);
  o.uv = uv;
  o.normal = mul(normal, (float3x3)World);
  return o;
}

float4 MainPS(float2 uv : TEXCOORD0, float3 normal : TEXCOORD1) : COLOR0 {
  return tex2D(DiffuseSampler, uv) * Tint * saturate(dot(normalize(normal), Light0.xyz));
}

technique Lit < bool quad = false; string material = "none"; int order = 2; float weight = 0.5; > {
  pass P0 < string note = "first"; > {
    VertexShader = compile vs_2_0 MainVS();
    PixelShader = compile ps_2_0 MainPS();
    ZEnable = true;
    CullMode = None;
    StencilEnable = false;
  }
}
