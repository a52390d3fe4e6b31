#pragma once

#include <cstdint>
#include <string>

#include "platform/api.h"
#include "platform/graphics.h"

// Texture files to textures and surfaces to files, on any backend: the
// graphics library's file helpers, built on CreateTexture and LockRect.
namespace platform {

// "Take it from the file" / "the usual choice" for sizes, levels, format.
constexpr std::uint32_t kDefault = 0xFFFFFFFF;
constexpr std::uint32_t kFromFile = 0xFFFFFFFD;
constexpr Result kInvalidData = static_cast<Result>(0x88760B59);

// Sizes other than kDefault/kFromFile must match the file (images are not
// rescaled). mipLevels kDefault or 0: a full chain, generated where the file
// stores fewer levels; kFromFile or 1..n: the stored levels (at most n).
// format kFromFile (or kDefault): the file's format. The texture is filled
// through LockRect, so the pool must be lockable (managed or system memory).
PLATFORM_API Result CreateTextureFromFile(Device* device, const std::wstring& path,
                                          std::uint32_t width, std::uint32_t height,
                                          std::uint32_t mipLevels, std::uint32_t usage,
                                          std::uint32_t format, Pool pool, Texture** texture,
                                          std::string* error = nullptr);
PLATFORM_API Result CreateCubeTextureFromFile(Device* device, const std::wstring& path,
                                              std::uint32_t size, std::uint32_t mipLevels,
                                              std::uint32_t usage, std::uint32_t format,
                                              Pool pool, CubeTexture** texture,
                                              std::string* error = nullptr);

// Writes a surface as PNG; render targets are read back through the device.
PLATFORM_API Result SaveSurfaceToPng(Device* device, const std::wstring& path, Surface* surface,
                                     std::string* error = nullptr);

}  // namespace platform
