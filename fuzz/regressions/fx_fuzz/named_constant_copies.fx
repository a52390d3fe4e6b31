static const float a[4] = {1,2,3,4};
static const float c0 = {a,a,a,a};
static const float c1 = {c0,c0,c0,c0};
static const float c2 = {c1,c1,c1,c1};
static const float c3 = {c2,c2,c2,c2};
static const float c4 = {c3,c3,c3,c3};
static const float c5 = {c4,c4,c4,c4};
static const float c6 = {c5,c5,c5,c5};
static const float c7 = {c6,c6,c6,c6};
#define P(n) static const float n##a = c7; static const float n##b = c7; static const float n##c = c7; static const float n##d = c7;
#define Q(n) P(n##a) P(n##b) P(n##c) P(n##d) P(n##e) P(n##f) P(n##g) P(n##h)
#define R(n) Q(n##a) Q(n##b) Q(n##c) Q(n##d) Q(n##e) Q(n##f) Q(n##g) Q(n##h)
R(a) R(b) R(c) R(d)
