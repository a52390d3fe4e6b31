// Includes resolved relative to the including file, macros from a header
// used in code and in pass states.
#include "include/lighting.fxh"

float Brightness = kLightScale * 4;

float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS(float3 n : TEXCOORD0) : COLOR0 { return Diffuse(n) * Brightness; }

technique T {
  pass P {
    VertexShader = compile vs_2_0 VS();
    PixelShader = compile ps_2_0 PS();
    CullMode = LIGHT_CULL;
  }
}
