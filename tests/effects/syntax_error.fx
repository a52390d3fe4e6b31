// The missing semicolon after the parameter is reported on line 4.
float4 Colour = {1, 0, 0, 1};
float Scale = 2.0
technique T {
  pass P { }
}
