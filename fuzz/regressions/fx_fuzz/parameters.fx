// Parameters with semantics, annotations, initial values and sharing.
float4x4 WorldViewProjection : WorldViewProjection;
shared float Time : Time < string UIName = "Time"; float UIMin = 0; float UIMax = 10.0; >;
float4 Tint < string UIName = "Tint"; int order = 2; > = {1.0, 0.5, 0.25, 1.0};
float3 Direction = float3(0, -1, 0.5) * 2;
float2 Offsets[2] = {float2(1, 2), {3, 4}};
row_major float2x3 Shear = {1, 0, 0.5, 0, 1, 0};
int Steps = 0x10;
bool Enabled = true;
half Scale = 1.5h, Bias = -0.25;
matrix<float, 3, 3> Basis = {1, 0, 0, 0, 1, 0, 0, 0, 1};
vector<int, 2> Pair = {7, -7};
string Name = "effect";
