#include "include/lighting.fxh"
/* A comment over
   several lines
   before the function. */
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS(float3 n : TEXCOORD0) : COLOR0 {
  float d = Diffuse(n);
  return d * undeclaredTint;
}
technique T {
  pass P {
    VertexShader = compile vs_2_0 VS();
    PixelShader = compile ps_2_0 PS();
  }
}
