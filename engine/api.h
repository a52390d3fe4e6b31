#pragma once

// Marks what the engine library exports. The demo program links only against
// what carries this mark; everything else is hidden inside the library.
#define ENGINE_API __attribute__((visibility("default")))
