#include "engine/renderer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/Shader.h"
#include "engine/Window.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/logging.h"
#include "engine/mesh.h"
#include "engine/profiler.h"
#include "engine/resourceTypes.h"
#include "engine/sceneNodes.h"
#include "engine/strings.h"
#include "engine/timer.h"
#include "platform/graphics.h"
#include "platform/system.h"
#include "platform/textureFiles.h"

namespace engine::gfx {
namespace {

constexpr int kKeyF9 = 0x78;
constexpr int kKeyF11 = 0x7A;

platform::Device* TheDevice() {
  core::CWin32Window* window = core::CWin32Window::Get();
  return window != nullptr ? window->Device() : nullptr;
}

// Same shader for batching: the same object, or one of the same effect
// file and technique.
bool SameBatch(const Shader* a, const Shader* b) {
  return a == b || (b != nullptr && a->GetEffect() == b->GetEffect() &&
                    a->Technique() == b->Technique());
}

}  // namespace

Renderer::Renderer() : mBaseNode(new Node(nullptr)), mRoot(mBaseNode) {
  mName = L"Renderer";
  mPriority = 12000;
}

Renderer::~Renderer() {
  if (mDepthSurface != nullptr) mDepthSurface->Release();
  if (mBackBuffer != nullptr) mBackBuffer->Release();
}

bool Renderer::Start() {
  mDeviceLost = false;
  if (platform::Device* device = TheDevice()) {
    if (mBackBuffer != nullptr) mBackBuffer->Release();
    mBackBuffer = nullptr;
    device->GetRenderTarget(0, &mBackBuffer);
    mLastFrame = core::ResourceManager::Get()->Get<core::resources::RenderTargetTexture>(L"lastFrame");
  }
  return true;
}

void Renderer::Stop() {
  core::FrameProfiler::Get().ReleaseQueries();
  if (mBackBuffer != nullptr) mBackBuffer->Release();
  mBackBuffer = nullptr;
  if (mDepthSurface != nullptr) mDepthSurface->Release();
  mDepthSurface = nullptr;
}

void Renderer::Submit(boost::shared_ptr<RenderObject> object) {
  if (!object || !object->mEffect) return;
  const unsigned count = object->mEffect->ShaderCount();
  for (unsigned i = 0; i < count; ++i) {
    DrawItem item;
    item.mPassIndex = static_cast<int>(i);
    item.mObject = object;
    const boost::shared_ptr<Shader> shader = object->mEffect->GetShader(i);
    item.mShader = shader.get();
    item.mPriority = shader->Pass().mPriority;
    item.mTarget = shader->GetTarget().get();
    item.mEffect = shader->GetEffect().get();
    item.mTechnique = shader->Technique();
    mQueue.push_back(std::move(item));
  }
}

void Renderer::SetRoot(boost::shared_ptr<Spatial> node) {
  mBaseNode->RemoveChildren();
  mBaseNode->AddChild(std::move(node));
}

void Renderer::SortQueue() {
  std::sort(mQueue.begin(), mQueue.end(), [](const DrawItem& a, const DrawItem& b) {
    if (a.mPriority != b.mPriority) return a.mPriority < b.mPriority;
    if (a.mTarget != b.mTarget) return std::greater<const void*>()(a.mTarget, b.mTarget);
    if (a.mEffect != b.mEffect) return std::greater<const void*>()(a.mEffect, b.mEffect);
    return std::greater<const void*>()(a.mTechnique, b.mTechnique);
  });
}

void Renderer::Update() {
  try {
    Frame();
  } catch (...) {
    mQueue.clear();
    throw;
  }
  mQueue.clear();
}

// The input module runs after the renderer and is skipped for a frame that
// ends in an error, so the same press would be seen again, and fail again,
// in every following frame.
bool Renderer::Pressed(int key, bool* seen) {
  const bool pressed = isPressed(key);
  const bool fresh = pressed && !*seen;
  *seen = pressed;
  return fresh;
}

void Renderer::Recover() {
  platform::Device* device = TheDevice();
  core::CWin32Window* window = core::CWin32Window::Get();
  // What the device holds bound would keep default-pool objects alive
  // through the reset: the frame buffer goes back and the bindings go.
  if (mDepthSurface != nullptr) device->SetRenderTarget(0, mBackBuffer);
  device->SetStreamSource(0, nullptr, 0, 0);
  device->SetIndices(nullptr);
  device->SetVertexDeclaration(nullptr);
  for (std::uint32_t stage = 0; stage < 16; ++stage) device->SetTexture(stage, nullptr);
  ForgetDeviceState();
  core::FrameProfiler::Get().ReleaseQueries();
  core::ResourceManager::Get()->LostDevice();
  if (mBackBuffer != nullptr) mBackBuffer->Release();
  mBackBuffer = nullptr;
  // A directly bound target is a default-pool surface too: the reset needs
  // it released, and afterwards the frame buffer is current again.
  if (mDepthSurface != nullptr) mDepthSurface->Release();
  mDepthSurface = nullptr;
  mCurrentTarget.reset();
  ENGINE_WARNING("D3DDevice reseting");
  if (platform::Failed(device->Reset(window->PresentParameters()))) {
    // Still not possible: try again next frame, with the resources restored.
    core::ResourceManager::Get()->ResetDevice();
    device->GetRenderTarget(0, &mBackBuffer);
    return;
  }
  device->GetRenderTarget(0, &mBackBuffer);
  core::ResourceManager::Get()->ResetDevice();
  // New buffers may reuse old addresses: the shaders' state filter starts over.
  ForgetDeviceState();
  mDeviceLost = false;
}

void Renderer::Clear() {
  platform::Device* device = TheDevice();
  const std::uint32_t colour = core::CWin32Window::Get()->ClearColor();
  if (platform::Failed(device->Clear(0, nullptr, platform::kClearTarget | platform::kClearZBuffer,
                                     colour, 1.0f, 0))) {
    ENGINE_ERROR("Failed to clear backbuffer");
  }
}

void Renderer::SwitchTarget(const boost::shared_ptr<core::resources::RenderTargetTexture>& next,
                            bool clear) {
  platform::Device* device = TheDevice();
  const bool nextDirect = next && !next->ViaBackBuffer();
  if (mCurrentTarget) {
    if (mCurrentTarget->ViaBackBuffer()) {
      platform::Surface* level = nullptr;
      platform::Texture* texture = mCurrentTarget->Retrieve();
      if (texture == nullptr || platform::Failed(texture->GetSurfaceLevel(0, &level))) {
        ENGINE_ERROR("Failed to aquire render target surface");
      }
      platform::Surface* back = nullptr;
      if (platform::Failed(device->GetBackBuffer(0, 0, 0, &back))) {
        if (level != nullptr) level->Release();
        ENGINE_ERROR("Failed to get backbuffer surface");
      }
      if (level == nullptr || back == nullptr) {
        if (level) level->Release();
        if (back) back->Release();
        ENGINE_ERROR("One or two surfaces are NULL. Failure");
      }
      const platform::Result r = device->StretchRect(back, nullptr, level, nullptr, platform::kFilterNone);
      level->Release();
      back->Release();
      if (platform::Failed(r)) ENGINE_ERROR("StretchRect failed");
    } else {
      if (mDepthSurface != nullptr) mDepthSurface->Release();
      mDepthSurface = nullptr;
      if (!nextDirect && platform::Failed(device->SetRenderTarget(0, mBackBuffer))) {
        ENGINE_ERROR("Failed to switch back to framebuffer");
      }
    }
  }
  if (nextDirect) {
    platform::Texture* texture = next->Retrieve();
    if (mDepthSurface != nullptr) mDepthSurface->Release();
    mDepthSurface = nullptr;
    if (texture == nullptr || platform::Failed(texture->GetSurfaceLevel(0, &mDepthSurface))) {
      mDepthSurface = nullptr;
      ENGINE_ERROR("Failed to aquire depth surface");
    }
    if (platform::Failed(device->SetRenderTarget(0, mDepthSurface))) {
      ENGINE_ERROR("Failed to switch to depth render target");
    }
  }
  if (clear) Clear();
  mCurrentTarget = next;
}

void Renderer::Flush(std::vector<std::pair<boost::shared_ptr<RenderObject>, Shader*>>& batch,
                     Shader* shader) {
  core::FrameProfiler& profiler = core::FrameProfiler::Get();
  platform::Device* device = profiler.Enabled() ? TheDevice() : nullptr;
  int passes = 0;
  {
    core::StageScope stage(core::Stage::State);
    passes = shader->BeginPass(0);
  }
  for (int p = 0; p < passes; ++p) {
    for (auto& entry : batch) {
      if (device == nullptr) {
        entry.second->Draw(entry.first);
        continue;
      }
      profiler.BeginDraw(device);
      entry.second->Draw(entry.first);
      profiler.EndDraw(device, PassOf(*entry.first, *entry.second, p));
    }
    core::StageScope stage(core::Stage::State);
    shader->EndPass();
    shader->BeginPass(static_cast<unsigned>(p + 1));
  }
  batch.clear();
}

core::PassKey Renderer::PassOf(const RenderObject& object, const Shader& shader, int pass) const {
  core::PassKey key;
  key.mesh = object.mName != nullptr ? ToNarrow(*object.mName) : "?";
  const auto effect = shader.GetEffect();
  key.effect = effect ? ToNarrow(effect->Name()) : "?";
  key.technique = shader.Pass().mTechnique;
  key.pass = pass;
  const auto target = mCurrentTarget;
  key.target = target ? ToNarrow(target->Name()) : "frame";
  return key;
}

void Renderer::Screenshot() {
  // The filesystem's own exceptions would pass the kernel and end the main
  // loop; a picture that cannot be saved only ends the frame.
  std::error_code error;
  std::filesystem::create_directories("screenshots", error);
  if (error) ENGINE_ERROR("Failed to save screenshot");
  int n = 0;
  std::string path = "screenshots/screenshot" + std::to_string(n) + ".png";
  ENGINE_MESSAGE("Trying path " + path);
  // Any entry of the name is taken, a dangling link too; one that cannot be
  // examined may hold an earlier picture.
  for (;;) {
    const auto type = std::filesystem::symlink_status(path, error).type();
    if (type == std::filesystem::file_type::not_found) break;
    if (type == std::filesystem::file_type::none) ENGINE_ERROR("Failed to save screenshot");
    ++n;
    path = "screenshots/screenshot" + std::to_string(n) + ".png";
  }
  platform::Device* device = TheDevice();
  platform::Surface* back = nullptr;
  if (platform::Failed(device->GetBackBuffer(0, 0, 0, &back)) || back == nullptr) {
    ENGINE_ERROR("Failed to get backbuffer surface");
  }
  const platform::Result r = platform::SaveSurfaceToPng(device, ToWide(path), back);
  back->Release();
  if (platform::Failed(r)) ENGINE_ERROR("Failed to save screenshot");
  ENGINE_MESSAGE("Saved screenshot to " + path);
}

void Renderer::CopyLastFrame() {
  mLastFrameTime += GetSinceLast();
  if (!(mLastFrameTime > kLastFrameInterval)) return;
  platform::Device* device = TheDevice();
  platform::Surface* level = nullptr;
  platform::Texture* texture = mLastFrame ? mLastFrame->Retrieve() : nullptr;
  const bool ok = texture != nullptr && !platform::Failed(texture->GetSurfaceLevel(0, &level)) &&
                  !platform::Failed(device->StretchRect(mBackBuffer, nullptr, level, nullptr,
                                                        platform::kFilterNone));
  if (level != nullptr) level->Release();
  if (!ok) ENGINE_ERROR("Last frame StretchRect failed");
  while (mLastFrameTime > kLastFrameInterval) mLastFrameTime -= kLastFrameInterval;
}

void Renderer::DrawQueue() {
  SortQueue();
  // Quad shaders queue their quads when they become current.
  const Shader* previous = nullptr;
  for (std::size_t i = 0; i < mQueue.size(); ++i) {
    Shader* s = mQueue[i].mShader;
    if (!SameBatch(s, previous)) {
      s->Activate();
      previous = s;
    }
  }
  SortQueue();
  std::vector<std::pair<boost::shared_ptr<RenderObject>, Shader*>> batch;
  Shader* last = nullptr;
  for (const DrawItem& item : mQueue) {
    Shader* s = item.mShader;
    const bool shaderChanged = !SameBatch(s, last);
    const boost::shared_ptr<core::resources::RenderTargetTexture> target = s->GetTarget();
    const bool targetChanged = target != mCurrentTarget;
    if ((shaderChanged || targetChanged) && last != nullptr) Flush(batch, last);
    batch.emplace_back(item.mObject, s);
    if (targetChanged) {
      core::StageScope stage(core::Stage::Targets);
      SwitchTarget(target, !s->Pass().mDoNotClear);
    }
    last = s;
  }
  if (last != nullptr) Flush(batch, last);
}

namespace {

void CollectGeometry(Spatial* node, int depth, std::vector<Geometry*>* into) {
  if (node == nullptr || depth > 10000) return;
  if (auto* g = dynamic_cast<Geometry*>(node)) into->push_back(g);
  if (auto* n = dynamic_cast<Node*>(node)) {
    for (const auto& child : n->Children()) CollectGeometry(child.get(), depth + 1, into);
  }
}

}  // namespace

void Renderer::WarmUp(const boost::shared_ptr<Spatial>& root) {
  platform::Device* device = TheDevice();
  if (device == nullptr || mDeviceLost || !root) return;
  std::vector<Geometry*> geometry;
  CollectGeometry(root.get(), 0, &geometry);
  mQueue.clear();
  if (platform::Failed(device->BeginScene())) return;
  try {
    Clear();
    // The mesh's own object: the node's would take this draw as the
    // previous placement of its first real frame.
    for (Geometry* g : geometry) {
      if (const boost::shared_ptr<Mesh> mesh = g->GetMesh()) Submit(mesh->GetRenderObject());
    }
    DrawQueue();
    if (mCurrentTarget) SwitchTarget(nullptr, false);
    Clear();
  } catch (...) {
    mQueue.clear();
    device->EndScene();
    throw;
  }
  mQueue.clear();
  device->EndScene();
}

void Renderer::Frame() {
  platform::Device* device = TheDevice();
  if (device == nullptr) return;
  if (mDeviceLost) {
    if (device->TestCooperativeLevel() == platform::kDeviceNotReset) {
      Recover();
      if (mDeviceLost) return;
    } else {
      platform::Sleep(200);
      return;
    }
  }
  if (!mLastFrame) {
    mLastFrame = core::ResourceManager::Get()->Get<core::resources::RenderTargetTexture>(L"lastFrame");
  }
  if (Pressed(kKeyF9, &mReloadSeen)) core::ResourceManager::Get()->UpdateAll();
  if (!platform::Failed(device->BeginScene())) {
    try {
      {
        core::StageScope stage(core::Stage::Targets);
        Clear();
      }
      core::StageScope walk(core::Stage::Scene);
      if (!mRoot) ENGINE_ERROR("Scene root node is null");
      mRoot->Update(this);
      DrawQueue();
      if (Pressed(kKeyF11, &mScreenshotSeen)) Screenshot();
      core::StageScope targets(core::Stage::Targets);
      CopyLastFrame();
      if (mOverlay) {
        // A texture bound directly would receive it instead of the frame.
        if (mCurrentTarget && !mCurrentTarget->ViaBackBuffer()) SwitchTarget(nullptr, false);
        mOverlay(device);
      }
    } catch (...) {
      // The next frame must be able to begin its scene.
      device->EndScene();
      throw;
    }
  }
  core::StageScope present(core::Stage::Present);
  device->EndScene();
  if (platform::Failed(device->Present(nullptr, nullptr, nullptr, nullptr))) {
    mDeviceLost = true;
    ENGINE_WARNING("D3DDevice lost");
  }
}

}  // namespace engine::gfx
