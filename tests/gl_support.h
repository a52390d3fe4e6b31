#pragma once

// Included by exactly one file of each test program that opens GL devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/graphics.h"
#include "platform/window.h"

// Mesa's driver keeps allocations until it is unloaded; LSan cannot name an
// unloaded module, so a hidden GL window keeps the driver loaded to the end
// and the system GL libraries' own allocations are suppressed.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgallium\nleak:swrast_dri\nleak:libEGL_mesa\nleak:libepoxy\nleak:libLLVM\n"
         "leak:libglapi\n";
}

// External linkage so the store stays: reachable memory is not a leak.
platform::Window* gKeepDriverLoaded = nullptr;

namespace {
class KeepDriverLoaded : public ::testing::Environment {
 public:
  void SetUp() override {
    platform::WindowDesc desc;
    desc.width = desc.height = 1;
    gKeepDriverLoaded = platform::Window::Create(desc).release();
  }
};

const auto* const kKeepDriverLoaded = ::testing::AddGlobalTestEnvironment(new KeepDriverLoaded);

// VELOX_GL=es: the gl backend runs on OpenGL ES 3.0, the subset WebGL 2
// offers (CTest runs the GL tests both ways); a machine without ES skips.
[[maybe_unused]] bool EsRequested() {
  const char* v = std::getenv("VELOX_GL");
  return v != nullptr && std::strcmp(v, "es") == 0;
}

// Copies a vertex and an index array into buffers the test has made.
template <class Vertices, class Indices>
[[maybe_unused]] void FillBuffers(platform::VertexBuffer* vb, const Vertices& vertices, platform::IndexBuffer* ib,
                                  const Indices& indices) {
  void* data = nullptr;
  ASSERT_EQ(vb->Lock(0, 0, &data, 0), platform::kOk);
  std::memcpy(data, &vertices, sizeof vertices);
  vb->Unlock();
  ASSERT_EQ(ib->Lock(0, 0, &data, 0), platform::kOk);
  std::memcpy(data, &indices, sizeof indices);
  ib->Unlock();
}

}  // namespace
