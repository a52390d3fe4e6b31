struct S { texture t[65536]; };
struct U { S s[65536]; };
U u[65536];
