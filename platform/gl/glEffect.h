#pragma once

#include <memory>

#include "platform/fx/backend.h"

namespace platform::gl {

// The effect backend of a gl device; null for other devices.
std::unique_ptr<fx::Backend> CreateEffectBackend(Device* device);

}  // namespace platform::gl
