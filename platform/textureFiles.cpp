#include "platform/textureFiles.h"

#include <algorithm>
#include <cstring>

#include "platform/image.h"

namespace platform {
namespace {

Result Fail(std::string* error, const std::string& why, Result code = kInvalidData) {
  if (error != nullptr) *error = why;
  return code;
}

bool IsBlock(image::Format f) {
  return f == image::kDXT1 || f == image::kDXT3 || f == image::kDXT5;
}

// Copies a decoded level into a locked surface row by row (rows of blocks
// for compressed formats), honouring the destination pitch.
Result Fill(Surface* surface, const image::Image& img, const image::Level& level) {
  LockedRect locked;
  const Result r = surface->LockRect(&locked, nullptr, 0);
  if (Failed(r)) return r;
  const bool blocks = IsBlock(img.format);
  const int rows = blocks ? (level.height + 3) / 4 : level.height;
  const std::size_t rowBytes = level.bytes.size() / static_cast<std::size_t>(std::max(1, rows));
  if (rowBytes > static_cast<std::size_t>(locked.pitch)) {
    surface->UnlockRect();
    return kInvalidCall;
  }
  auto* out = static_cast<std::uint8_t*>(locked.bits);
  for (int y = 0; y < rows; ++y) {
    std::memcpy(out + static_cast<std::size_t>(y) * locked.pitch,
                level.bytes.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
  }
  return surface->UnlockRect();
}

// Loads and shapes the image: levels as requested, format as requested.
Result Prepare(const std::wstring& path, std::uint32_t mipLevels, std::uint32_t format,
               image::Image& img, std::string* error) {
  std::string why;
  if (!image::LoadFile(path, img, why)) return Fail(error, why);
  if (format != kFromFile && format != kDefault && format != img.format) {
    if (format != kFormatA8R8G8B8 && format != kFormatX8R8G8B8) {
      return Fail(error, "conversion to format " + std::to_string(format) + " not supported",
                  kInvalidCall);
    }
    if (!image::ConvertToA8R8G8B8(img, why)) return Fail(error, why);
  }
  const bool fullChain = mipLevels == kDefault || mipLevels == 0;
  if (fullChain && !image::GenerateMipChain(img, why)) return Fail(error, why);
  if (!fullChain && mipLevels != kFromFile) {
    for (auto& face : img.faces) {
      if (face.size() > mipLevels) face.resize(mipLevels);
    }
  }
  return kOk;
}

// Fills the stored levels of one face; surfaceOf(level, &surface) gets the
// destination of a level.
template <class SurfaceOf>
Result FillLevels(const image::Image& img, const std::vector<image::Level>& levels,
                  std::uint32_t levelCount, SurfaceOf surfaceOf) {
  Result r = kOk;
  const auto count = std::min<std::uint32_t>(levelCount, static_cast<std::uint32_t>(levels.size()));
  for (std::uint32_t i = 0; i < count && !Failed(r); ++i) {
    Surface* surface = nullptr;
    r = surfaceOf(i, &surface);
    if (!Failed(r)) {
      r = Fill(surface, img, levels[i]);
      surface->Release();
    }
  }
  return r;
}

bool SizeMatches(std::uint32_t requested, int actual) {
  return requested == kDefault || requested == kFromFile || requested == 0 ||
         requested == static_cast<std::uint32_t>(actual);
}

}  // namespace

Result CreateTextureFromFile(Device* device, const std::wstring& path, std::uint32_t width,
                             std::uint32_t height, std::uint32_t mipLevels, std::uint32_t usage,
                             std::uint32_t format, Pool pool, Texture** texture,
                             std::string* error) {
  if (device == nullptr || texture == nullptr) return Fail(error, "no device", kInvalidCall);
  image::Image img;
  Result r = Prepare(path, mipLevels, format, img, error);
  if (Failed(r)) return r;
  if (img.cube) return Fail(error, "a cube map is not a 2D texture");
  if (!SizeMatches(width, img.width) || !SizeMatches(height, img.height)) {
    return Fail(error, "the file's size differs from the requested size", kInvalidCall);
  }
  const auto& levels = img.faces.front();
  Texture* created = nullptr;
  r = device->CreateTexture(static_cast<std::uint32_t>(img.width),
                            static_cast<std::uint32_t>(img.height),
                            static_cast<std::uint32_t>(levels.size()), usage,
                            static_cast<Format>(img.format), pool, &created, nullptr);
  if (Failed(r)) return Fail(error, "texture creation failed", r);
  r = FillLevels(img, levels, created->GetLevelCount(), [created](std::uint32_t i, Surface** s) {
    return created->GetSurfaceLevel(i, s);
  });
  if (Failed(r)) {
    created->Release();
    return Fail(error, "texture upload failed", r);
  }
  *texture = created;
  return kOk;
}

Result CreateCubeTextureFromFile(Device* device, const std::wstring& path, std::uint32_t size,
                                 std::uint32_t mipLevels, std::uint32_t usage,
                                 std::uint32_t format, Pool pool, CubeTexture** texture,
                                 std::string* error) {
  if (device == nullptr || texture == nullptr) return Fail(error, "no device", kInvalidCall);
  image::Image img;
  Result r = Prepare(path, mipLevels, format, img, error);
  if (Failed(r)) return r;
  if (!img.cube || img.faces.size() != 6) return Fail(error, "the file is not a cube map");
  if (!SizeMatches(size, img.width)) {
    return Fail(error, "the file's size differs from the requested size", kInvalidCall);
  }
  CubeTexture* created = nullptr;
  r = device->CreateCubeTexture(static_cast<std::uint32_t>(img.width),
                                static_cast<std::uint32_t>(img.faces[0].size()), usage,
                                static_cast<Format>(img.format), pool, &created, nullptr);
  if (Failed(r)) return Fail(error, "cube texture creation failed", r);
  for (std::uint32_t face = 0; face < 6 && !Failed(r); ++face) {
    r = FillLevels(img, img.faces[face], created->GetLevelCount(),
                   [created, face](std::uint32_t i, Surface** s) {
                     return created->GetCubeMapSurface(static_cast<CubeFace>(face), i, s);
                   });
  }
  if (Failed(r)) {
    created->Release();
    return Fail(error, "cube texture upload failed", r);
  }
  *texture = created;
  return kOk;
}

Result SaveSurfaceToPng(Device* device, const std::wstring& path, Surface* surface,
                        std::string* error) {
  if (surface == nullptr) return Fail(error, "no surface", kInvalidCall);
  SurfaceDesc desc;
  Result r = surface->GetDesc(&desc);
  if (Failed(r)) return r;
  // Render targets cannot be locked: read them back into system memory.
  Surface* readable = surface;
  readable->AddRef();
  if (desc.pool == kPoolDefault && desc.usage != 0) {
    readable->Release();
    readable = nullptr;
    if (device == nullptr) return Fail(error, "no device", kInvalidCall);
    r = device->CreateOffscreenPlainSurface(desc.width, desc.height, desc.format,
                                            kPoolSystemMem, &readable);
    if (!Failed(r)) r = device->GetRenderTargetData(surface, readable);
    if (Failed(r)) {
      if (readable != nullptr) readable->Release();
      return Fail(error, "reading the render target back failed", r);
    }
  }
  LockedRect locked;
  r = readable->LockRect(&locked, nullptr, 0);
  if (Failed(r)) {
    readable->Release();
    return Fail(error, "the surface cannot be read", r);
  }
  // One level in the surface's format, converted to A8R8G8B8 for writing.
  image::Image img;
  img.format = static_cast<image::Format>(desc.format);
  img.width = static_cast<int>(desc.width);
  img.height = static_cast<int>(desc.height);
  image::Level level;
  level.width = img.width;
  level.height = img.height;
  level.bytes.resize(image::LevelSize(img.format, img.width, img.height));
  const int rows = IsBlock(img.format) ? (img.height + 3) / 4 : img.height;
  const std::size_t rowBytes = level.bytes.size() / static_cast<std::size_t>(std::max(1, rows));
  for (int y = 0; y < rows && rowBytes <= static_cast<std::size_t>(locked.pitch); ++y) {
    std::memcpy(level.bytes.data() + y * rowBytes,
                static_cast<const std::uint8_t*>(locked.bits) + static_cast<std::size_t>(y) * locked.pitch,
                rowBytes);
  }
  readable->UnlockRect();
  readable->Release();
  img.faces.push_back({std::move(level)});
  std::string why;
  // X8R8G8B8 too: the conversion makes the unused byte opaque.
  if (img.format != image::kA8R8G8B8 && !image::ConvertToA8R8G8B8(img, why)) {
    return Fail(error, why);
  }
  if (img.format != image::kA8R8G8B8) return Fail(error, "no PNG form for this format", kInvalidCall);
  const image::Level& out = img.faces[0][0];
  if (!image::SavePng(path, out.width, out.height, out.bytes.data(),
                      static_cast<std::size_t>(out.width) * 4, why)) {
    return Fail(error, why, kFail);
  }
  return kOk;
}

}  // namespace platform
