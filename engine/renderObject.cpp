#include "engine/renderObject.h"

namespace engine::gfx {
namespace {

RenderContext* gActive = nullptr;

}  // namespace

RenderContext::RenderContext() { gActive = this; }

RenderContext::~RenderContext() {
  if (gActive == this) gActive = nullptr;
}

RenderContext* RenderContext::Active() { return gActive; }

}  // namespace engine::gfx
