// The pool's value of Ambient wins over this initializer.
shared float4 Ambient = {9, 9, 9, 9};
float Local = 2.0;
float4 VS(float4 p : POSITION) : POSITION { return p; }
float4 PS() : COLOR0 { return Ambient * Local; }
technique T { pass P { VertexShader = compile vs_2_0 VS(); PixelShader = compile ps_2_0 PS(); } }
