#pragma once

// Marks the platform layer's exported interface; everything else stays
// inside the shared library.
#define PLATFORM_API __attribute__((visibility("default")))
