// The fallback material: lines of the mesh in one colour.
float4x4 WorldViewProjection : WorldViewProjection;
float4 Colour = {0.4, 1.0, 0.6, 1.0};

float4 WireVS(float3 pos : POSITION) : POSITION { return mul(float4(pos, 1.0), WorldViewProjection); }
float4 WirePS() : COLOR0 { return Colour; }

technique Wire {
  pass P0 {
    VertexShader = compile vs_2_0 WireVS();
    PixelShader = compile ps_2_0 WirePS();
    FillMode = Wireframe;
    CullMode = None;
    ZEnable = true;
    ZWriteEnable = true;
  }
}
