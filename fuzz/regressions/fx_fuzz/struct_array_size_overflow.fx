struct S { float4x4 m[4096]; };
S s[65536];
