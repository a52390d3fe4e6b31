#define P(n) n##a[16384], n##b[16384], n##c[16384], n##d[16384], n##e[16384], n##f[16384], n##g[16384], n##h[16384],
#define Q(n) P(n##a) P(n##b) P(n##c) P(n##d) P(n##e) P(n##f) P(n##g) P(n##h)
#define R(n) Q(n##a) Q(n##b) Q(n##c) Q(n##d) Q(n##e) Q(n##f) Q(n##g) Q(n##h)
float4x4 R(a) R(b) R(c) R(d) R(e) R(f) R(g) R(h) last;
