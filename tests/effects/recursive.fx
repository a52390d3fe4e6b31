// Includes itself: the preprocessor must stop with an error.
#include "recursive.fx"
