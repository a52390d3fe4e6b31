#pragma once

#include "engine/api.h"

#include <string>

#include <boost/shared_ptr.hpp>

namespace engine {

namespace core {
class Module;
}
namespace gfx {
class LoadMesh;
class Effect;
class Mesh;
class Node;
class Spatial;
struct RenderObject;
}  // namespace gfx
namespace math {
struct Matrix4x4;
}
}  // namespace engine

namespace platform {
class Texture;
class Device;
struct Caps;
}  // namespace platform

namespace engine {

// Registers and starts a module with the kernel; the engine never deletes it.
ENGINE_API void AddModule(core::Module* module, int key);

// Checks the audio library, registers the clock (which starts the music),
// runs the main loop and tears everything down in a fixed order.
ENGINE_API void StartApplication();
// The teardown StartApplication ends with, in its order: the scene
// information, input, screen, clock, effect pool, renderer, window, resources
// and kernel, each only if it exists. For programs and tests that run frames
// themselves.
ENGINE_API void ShutDownEngine();

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

// A render target registered under name and created; errors are thrown
// and leave nothing registered. viaBackBuffer: drawn in the back buffer and
// copied into the texture (true) or bound directly (false).
ENGINE_API void CreateRenderTarget(const std::wstring& name, int size);
ENGINE_API void CreateRenderTarget(const std::wstring& name, int width, int height,
                                   bool viaBackBuffer);

// The texture of the managed texture of that name (loaded on first use);
// null for a cube texture.
ENGINE_API platform::Texture* GetDirect3DTexture(const std::wstring& name);

// A GPU mesh from mesh (taking ownership) and effect, registered under name
// and created.
ENGINE_API void AddMesh(const std::wstring& name, gfx::LoadMesh* mesh,
                        boost::shared_ptr<gfx::Effect> effect);

// The scene the renderer draws (under its own base node); null is an error.
ENGINE_API void SetRootNode(boost::shared_ptr<gfx::Spatial> node);
// Draws every pass under node once without showing it, so that shader
// code a driver builds at first use is built now (see Renderer::WarmUp).
ENGINE_API void WarmUp(boost::shared_ptr<gfx::Spatial> node);
// Queues a render object on the renderer.
ENGINE_API void Render(boost::shared_ptr<gfx::RenderObject> object);
ENGINE_API boost::shared_ptr<gfx::Node> CreateNode(gfx::Spatial* parent);
// A node without parent holding one geometry that draws mesh.
ENGINE_API boost::shared_ptr<gfx::Node> CreateMeshNode(boost::shared_ptr<gfx::Mesh> mesh);
// The value of the first parameter of the first shader of the mesh drawn
// under node (the first geometry found depth-first); null when there is none.
ENGINE_API float* GetFirstParameterValue(boost::shared_ptr<gfx::Spatial> node);
// The same, with the number of floats the value holds (0 with null), so
// that a caller never writes past a narrower value.
ENGINE_API float* GetFirstParameterValue(boost::shared_ptr<gfx::Spatial> node, int* floats);

// The window's text; the stored settings keep their title.
ENGINE_API void SetWindowTitle(std::wstring title);
// The device (no reference added) and a copy of its capabilities.
ENGINE_API platform::Device* Direct3DDevice();
ENGINE_API platform::Caps GetDirect3DCaps();
ENGINE_API void SetClearColor(unsigned long color);
ENGINE_API void SetProjectionMatrix(const math::Matrix4x4& m);

// Largest power of two not greater than n; 0 for n < 1.
ENGINE_API int FindLessEqualPow2(int n);

}  // namespace engine
