// The glTF importer's starting material: the base colour lit by the scene's
// first lamp, a fill light from the camera and a little ambient light.
// Material scripts set BaseColor; meshes bring positions and normals.
float4x4 World : World;
float4x4 WorldViewProjection : WorldViewProjection;
float4x4 WorldInverseTranspose : WorldInverseTranspose;
float4 Light0 : Light0;
float4 ViewPos : ViewPos;
float4 BaseColor = {0.8, 0.8, 0.8, 1.0};

struct LitOut {
  float4 pos : POSITION;
  float3 normal : TEXCOORD0;
  float3 world : TEXCOORD1;
};

LitOut LitVS(float3 pos : POSITION, float3 normal : NORMAL) {
  LitOut o;
  o.pos = mul(float4(pos, 1.0), WorldViewProjection);
  o.world = mul(float4(pos, 1.0), World).xyz;
  o.normal = mul(float4(normal, 0.0), WorldInverseTranspose).xyz;
  return o;
}

float4 LitPS(float3 normal : TEXCOORD0, float3 world : TEXCOORD1) : COLOR0 {
  float3 n = normalize(normal);
  float3 toEye = normalize(ViewPos.xyz - world);
  // A face seen from behind (two-sided materials) is lit as its front.
  n = dot(n, toEye) < 0.0 ? -n : n;
  float lamp = saturate(dot(n, normalize(Light0.xyz - world)));
  float fill = saturate(dot(n, toEye));
  return float4(BaseColor.rgb * (0.1 + 0.7 * lamp + 0.25 * fill), BaseColor.a);
}

technique Lit {
  pass P0 {
    VertexShader = compile vs_2_0 LitVS();
    PixelShader = compile ps_2_0 LitPS();
    CullMode = CCW;
    ZEnable = true;
    ZWriteEnable = true;
  }
}

technique LitTwoSided {
  pass P0 {
    VertexShader = compile vs_2_0 LitVS();
    PixelShader = compile ps_2_0 LitPS();
    CullMode = None;
    ZEnable = true;
    ZWriteEnable = true;
  }
}
