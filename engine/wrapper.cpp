#include "engine/wrapper.h"

#include <cstdlib>
#include <utility>

#include "engine/VLXMesh.h"
#include "engine/kernel.h"
#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/logging.h"
#include "engine/renderer.h"
#include "engine/sceneInfo.h"
#include "engine/sceneNodes.h"
#include "engine/screen.h"
#include "engine/Shader.h"
#include "engine/timer.h"
#include "platform/audio.h"
#include "platform/window.h"
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

namespace {

gfx::Renderer* TheRenderer() {
  return dynamic_cast<gfx::Renderer*>(core::Kernel::Get()->FindModule(10));
}

// The first geometry under node, depth-first in child order.
gfx::Geometry* FirstGeometry(gfx::Spatial* node, int depth) {
  if (node == nullptr || depth > 10000) return nullptr;
  if (auto* g = dynamic_cast<gfx::Geometry*>(node)) return g;
  if (auto* n = dynamic_cast<gfx::Node*>(node)) {
    for (const auto& child : n->Children()) {
      if (gfx::Geometry* g = FirstGeometry(child.get(), depth + 1)) return g;
    }
  }
  return nullptr;
}

}  // namespace

void StartApplication() {
  if ((platform::audio::GetVersion() >> 16) != 0x0203) {
    ENGINE_ERROR("An incorrect version of BASS.DLL was loaded");
  }
  core::Kernel* kernel = core::Kernel::Get();
  kernel->AddModule(core::Timer::Get(), 7);
  kernel->Run();
  ShutDownEngine();
  platform::audio::Free();
}

void ShutDownEngine() {
  core::Kernel* kernel = core::Kernel::Existing();
  core::Module* input = kernel != nullptr ? kernel->FindModule(2) : nullptr;
  core::Module* screen = kernel != nullptr ? kernel->FindModule(1) : nullptr;
  core::Module* renderer = kernel != nullptr ? kernel->FindModule(10) : nullptr;
  // Only what exists: creating a singleton just to delete it can fail (the
  // effect pool would load its fallback material) after the loop is over.
  delete gfx::SceneInfo::Existing();
  delete input;
  delete screen;
  delete core::Timer::Existing();
  delete gfx::EffectPool::Existing();
  delete renderer;
  delete core::CWin32Window::Existing();
  delete core::ResourceManager::Existing();
  delete core::Kernel::Existing();
}

void SetRootNode(boost::shared_ptr<gfx::Spatial> node) {
  if (!node) ENGINE_ERROR("Root node is null");
  gfx::Renderer* renderer = TheRenderer();
  if (renderer == nullptr) ENGINE_ERROR("No renderer to draw the root node");
  renderer->SetRoot(std::move(node));
}

void WarmUp(boost::shared_ptr<gfx::Spatial> node) {
  if (gfx::Renderer* renderer = TheRenderer()) renderer->WarmUp(node);
}

void Render(boost::shared_ptr<gfx::RenderObject> object) {
  if (gfx::Renderer* renderer = TheRenderer()) renderer->Submit(std::move(object));
}

boost::shared_ptr<gfx::Node> CreateNode(gfx::Spatial* parent) {
  return boost::shared_ptr<gfx::Node>(new gfx::Node(parent));
}

boost::shared_ptr<gfx::Node> CreateMeshNode(boost::shared_ptr<gfx::Mesh> mesh) {
  boost::shared_ptr<gfx::Node> node(new gfx::Node(nullptr));
  node->AddChild(boost::shared_ptr<gfx::Spatial>(new gfx::Geometry(std::move(mesh), node.get())));
  return node;
}

float* GetFirstParameterValue(boost::shared_ptr<gfx::Spatial> node) {
  int floats = 0;
  return GetFirstParameterValue(std::move(node), &floats);
}

float* GetFirstParameterValue(boost::shared_ptr<gfx::Spatial> node, int* floats) {
  *floats = 0;
  gfx::Geometry* geometry = FirstGeometry(node.get(), 0);
  if (geometry == nullptr || !geometry->GetMesh() || !geometry->GetMesh()->GetEffect() ||
      geometry->GetMesh()->GetEffect()->ShaderCount() == 0) {
    return nullptr;
  }
  gfx::ShaderParameters& p = geometry->GetMesh()->GetEffect()->GetShader(0)->Pass().mParameters;
  // The first parameter of the list order the shader applies: float4 first.
  if (!p.mFloat4.empty()) return *floats = 4, p.mFloat4[0].value->f;
  if (!p.mFloat3.empty()) return *floats = 3, p.mFloat3[0].value->f;
  if (!p.mFloat2.empty()) return *floats = 2, p.mFloat2[0].value->f;
  if (!p.mScalars.empty()) return *floats = 1, &p.mScalars[0].value->f;
  return nullptr;
}

void SetWindowTitle(std::wstring title) {
  if (core::Kernel::Get()->FindModule(1) == nullptr) return;
  core::CWin32Window* window = core::CWin32Window::Get();
  if (window->Window() != nullptr) window->Window()->SetTitle(title);
}

platform::Device* Direct3DDevice() { return core::CWin32Window::Get()->Device(); }

platform::Caps GetDirect3DCaps() { return core::CWin32Window::Get()->Caps(); }

void SetClearColor(unsigned long color) {
  core::CWin32Window::Get()->SetClearColor(static_cast<std::uint32_t>(color));
}

void SetProjectionMatrix(const math::Matrix4x4& m) { core::CWin32Window::Get()->SetProjection(m); }

}  // namespace engine
