#pragma once

#include "engine/api.h"

namespace engine {

namespace core {
class Module;
}

// Registers and starts a module with the kernel; the engine never deletes it.
ENGINE_API void AddModule(core::Module* module, int key);

// Ends the main loop after the current frame.
ENGINE_API void QuitApplication();

// Largest power of two not greater than n; 0 for n < 1.
ENGINE_API int FindLessEqualPow2(int n);

}  // namespace engine
