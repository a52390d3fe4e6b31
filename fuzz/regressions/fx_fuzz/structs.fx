#include "a.fxh"
struct VSOut {
  float4 position : POSITION;
  float2 uv[2] : TEXCOORD0;
};
typedef float4 Color;
typedef int Index[4];
static const float Weights[4] = {0.1, 0.2, 0.3, SCALE(0.2)};
static const Color White = 1;
static const float Half = (1 + 2) / 6.0;
Light Lights[2];
Color Fog = White * 0.5;
float3 Picked = Table * Half;
Index Order = {0, 1, 2, 3};
[numthreads(1, 1, 1)]
VSOut Main(float4 p : POSITION) { VSOut o = (VSOut)0; o.position = p; return o; }
