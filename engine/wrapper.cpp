#include "engine/wrapper.h"

#include <cstdlib>

#include "engine/VLXMesh.h"
#include "engine/kernel.h"
#include "engine/effectPool.h"
#include "engine/mesh.h"
#include "engine/resourceTypes.h"
#include "platform/graphics.h"

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

void CreateRenderTarget(const std::wstring& name, int size) {
  CreateRenderTarget(name, size, size, true);
}

void CreateRenderTarget(const std::wstring& name, int width, int height, bool viaBackBuffer) {
  boost::shared_ptr<core::resources::RenderTargetTexture> target(
      new core::resources::RenderTargetTexture(name, width, height));
  // Created before it is registered, so a failure registers nothing.
  target->Create();
  target->SetViaBackBuffer(viaBackBuffer);
  core::ResourceManager::Get()->AddUnmanaged(name, target);
}

platform::Texture* GetDirect3DTexture(const std::wstring& name) {
  auto texture = core::ResourceManager::Get()->Get<core::resources::ManagedTexture>(name);
  return dynamic_cast<platform::Texture*>(texture->Retrieve());
}

void AddMesh(const std::wstring& name, gfx::LoadMesh* mesh, boost::shared_ptr<gfx::Effect> effect) {
  boost::shared_ptr<gfx::Mesh> gpu(new gfx::Mesh(mesh, std::move(effect)));
  gpu->Name(name);
  gpu->Create();
  core::ResourceManager::Get()->AddUnmanaged(name, gpu);
}

}  // namespace engine
