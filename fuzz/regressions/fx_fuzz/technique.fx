// Shader variables, compile arguments and pass states.
float Gain = 1;
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS(uniform float k, uniform int n) : COLOR0 { return k * n; }
PixelShader Shared = compile ps_2_0 PS(0.5, 2);
VertexShader None = NULL;

technique Lit < bool quad = false; string material = "none"; float weight = 0.5; > {
  pass P0 < string note = "first"; > {
    VertexShader = compile vs_2_0 VS();
    PixelShader = compile ps_2_0 PS(1.5, 3);
    ZEnable = true;
    CullMode = None;
    ColorWriteEnable = Red | Green | Blue;
    SrcBlend = SrcAlpha;
    StencilRef = 1 | 4;
    Sampler[0] = NULL;
  }
  pass {
    PixelShader = (Shared);
    AlphaBlendEnable = FALSE;
  }
}
technique Second { pass P { PixelShader = <Shared>; } }
