struct WA { float a, b, c, d, e, f, g, h; };
struct WB { WA a, b, c, d, e, f, g, h; };
struct WC { WB a, b, c, d, e, f, g, h; };
struct WD { WC a, b, c, d, e, f, g; };
#define P(n) n##a, n##b, n##c, n##d, n##e, n##f, n##g, n##h,
#define Q(n) P(n##a) P(n##b) P(n##c) P(n##d) P(n##e) P(n##f) P(n##g) P(n##h)
#define R(n) Q(n##a) Q(n##b) Q(n##c) Q(n##d) Q(n##e) Q(n##f) Q(n##g) Q(n##h)
WD R(a) R(b) R(c) R(d) last;
