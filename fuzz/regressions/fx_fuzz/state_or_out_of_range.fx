technique T { pass P { StencilRef = 1e300 | 1; } }
