#include "platform/graphics.h"

#include <cstdlib>
#include <cstring>

namespace platform {

namespace null {
Direct3D* CreateDirect3D();
}
namespace gl {
Direct3D* CreateDirect3D();
}

namespace {

bool gBackendChosen = false;
Backend gBackend = Backend::GL;

}  // namespace

Unknown::~Unknown() = default;

std::uint32_t Unknown::AddRef() { return ++mReferences; }

std::uint32_t Unknown::Release() {
  const std::uint32_t left = --mReferences;
  if (left == 0) delete this;
  return left;
}

Backend DefaultBackend() {
  if (gBackendChosen) return gBackend;
  const char* choice = std::getenv("VELOX_GRAPHICS");
  return choice != nullptr && std::strcmp(choice, "null") == 0 ? Backend::Null : Backend::GL;
}

void SetDefaultBackend(Backend backend) {
  gBackendChosen = true;
  gBackend = backend;
}

Direct3D* Direct3DCreate() { return Direct3DCreate(DefaultBackend()); }

Direct3D* Direct3DCreate(Backend backend) {
  switch (backend) {
    case Backend::Null: return null::CreateDirect3D();
    case Backend::GL: return gl::CreateDirect3D();
  }
  return nullptr;
}

}  // namespace platform
