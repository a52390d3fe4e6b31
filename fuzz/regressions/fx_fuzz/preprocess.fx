#define COUNT 3
#define MUL(a, b) ((a) * (b))
#define JOIN(a, b) a ## b
#define NAME(x) #x
#define LONG_MACRO(x) \
  float JOIN(Long, x) = MUL(x, 2);
#if defined(FUZZ) && COUNT > 2
float Value = MUL(COUNT, 1.5);
#elif COUNT == 2
float Value = 2;
#else
#error no value
#endif
#ifdef MISSING
this is skipped
#endif
#ifndef MISSING
LONG_MACRO(4)
#endif
#if (COUNT << 2) / 3 != 4 ? 0 : -1 + !0
string Title = NAME(title);
#endif
#undef COUNT
#pragma warning(disable : 3205)
/* a block
   comment */ float After = 1; // tail
