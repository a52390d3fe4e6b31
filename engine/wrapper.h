#pragma once

#include "engine/api.h"

#include <string>

namespace engine {

namespace core {
class Module;
}
namespace gfx {
class LoadMesh;
}

// Registers and starts a module with the kernel; the engine never deletes it.
ENGINE_API void AddModule(core::Module* module, int key);

// Ends the main loop after the current frame.
ENGINE_API void QuitApplication();

// Arrays handed to engine objects for keeping are allocated and freed here,
// on the engine's heap.
ENGINE_API void* AllocateMemory(unsigned int bytes);
ENGINE_API void DeleteMemory(void* block);

// A new mesh with the two counts set and nothing allocated; release it with
// DestroyItself().
ENGINE_API gfx::LoadMesh* CreateEmptyMesh(int numVertices, int numIndices);

// A new mesh read from a .vlx file (errors are thrown); the caller owns it.
ENGINE_API gfx::LoadMesh* GetVLXMesh(std::wstring path);

// Largest power of two not greater than n; 0 for n < 1.
ENGINE_API int FindLessEqualPow2(int n);

}  // namespace engine
