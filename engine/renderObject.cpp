#include "engine/renderObject.h"

namespace engine::gfx {

RenderContext::~RenderContext() = default;

}  // namespace engine::gfx
