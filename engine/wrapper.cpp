#include "engine/wrapper.h"

#include <cstdlib>

#include "engine/VLXMesh.h"
#include "engine/kernel.h"
#include "engine/mesh.h"

namespace engine {

void AddModule(core::Module* module, int key) { core::Kernel::Get()->AddModule(module, key); }

void QuitApplication() { core::Kernel::Get()->Quit(); }

void* AllocateMemory(unsigned int bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void DeleteMemory(void* block) { std::free(block); }

gfx::LoadMesh* CreateEmptyMesh(int numVertices, int numIndices) {
  auto* mesh = new gfx::LoadMesh;
  mesh->NumVertices(numVertices);
  mesh->NumIndices(numIndices);
  return mesh;
}

gfx::LoadMesh* GetVLXMesh(std::wstring path) { return new gfx::LoadVLXMesh(path); }

int FindLessEqualPow2(int n) {
  if (n < 1) return 0;
  // Doubling past 2^30 would overflow a signed int; 2^30 is the largest
  // power of two an int holds.
  int power = 1;
  while (power <= n / 2) power *= 2;
  return power;
}

}  // namespace engine
