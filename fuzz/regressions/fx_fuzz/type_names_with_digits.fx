struct Light2 { float3 d; };
typedef float4 Color0;
Light2 lights[2];
Color0 c = Color0(1, 2, 3, 4);
struct S1 { Light2 l; Color0 k; };
S1 s;
