shared float4 Ambient = {0.25, 0.5, 0.75, 1.0};
shared float Time = 1.0;
float Local = 1.0;
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS() : COLOR0 { return Ambient * Local * Time; }
technique T { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
