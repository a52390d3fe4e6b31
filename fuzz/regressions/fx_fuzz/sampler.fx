texture DiffuseMap < string ResourceName = "default.dds"; >;
texture2D NormalMap;
sampler2D DiffuseSampler = sampler_state {
  Texture = <DiffuseMap>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Point;
  AddressU = Clamp;
  AddressV = Wrap;
  MaxAnisotropy = 4;
  BorderColor = 0xff00ff00;
};
samplerCUBE Sky = sampler_state { Texture = (NormalMap); };
sampler Plain : register(s3);

float4 PS(float2 uv : TEXCOORD0) : COLOR0 { return tex2D(DiffuseSampler, uv); }
