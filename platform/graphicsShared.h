#pragma once

// Pieces both graphics backends need with the same rules: level sizes,
// binding references, CPU-side surface locking, declarations and the
// default-pool count. Internal to the platform layer.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/display.h"
#include "platform/graphics.h"

namespace platform::shared {

inline bool BlockFormat(Format format) {
  return format == kFormatDXT1 || format == kFormatDXT3 || format == kFormatDXT5;
}

// Bytes of a w x h level; block formats in whole 4x4 blocks.
inline std::size_t LevelBytes(Format format, std::uint32_t w, std::uint32_t h) {
  const std::size_t blocksWide = (w + 3) / 4, blocksHigh = (h + 3) / 4;
  switch (format) {
    case kFormatDXT1: return blocksWide * blocksHigh * 8;
    case kFormatDXT3:
    case kFormatDXT5: return blocksWide * blocksHigh * 16;
    case kFormatL8: return static_cast<std::size_t>(w) * h;
    case kFormatR5G6B5:
    case kFormatX1R5G5B5:
    case kFormatA1R5G5B5:
    case kFormatA4R4G4B4:
    case kFormatA8L8:
    case kFormatD16: return static_cast<std::size_t>(w) * h * 2;
    case kFormatR8G8B8: return static_cast<std::size_t>(w) * h * 3;
    default: return static_cast<std::size_t>(w) * h * 4;
  }
}

// Bytes from one row (of blocks, for block formats) to the next.
inline std::size_t Pitch(Format format, std::uint32_t width) {
  return LevelBytes(format, width, BlockFormat(format) ? 4 : 1);
}

inline std::uint32_t FullChain(std::uint32_t w, std::uint32_t h) {
  std::uint32_t levels = 1;
  while (w > 1 || h > 1) w = std::max(1u, w / 2), h = std::max(1u, h / 2), ++levels;
  return levels;
}

// Holds one reference to whatever is bound, as the graphics library does.
template <class T>
void Bind(T*& slot, T* value) {
  if (value != nullptr) value->AddRef();
  if (slot != nullptr) slot->Release();
  slot = value;
}

// Counts a backend's default-pool resources, which a Reset must not find.
class DefaultPoolMember {
 public:
  DefaultPoolMember(Pool pool, int& counter)
      : mCounter(pool == kPoolDefault ? &counter : nullptr) {
    if (mCounter != nullptr) ++*mCounter;
  }
  ~DefaultPoolMember() {
    if (mCounter != nullptr) --*mCounter;
  }
  DefaultPoolMember(const DefaultPoolMember&) = delete;
  DefaultPoolMember& operator=(const DefaultPoolMember&) = delete;

 private:
  int* mCounter;
};

// A surface whose pixels can live on the CPU: lockable in the system-memory
// and managed pools, never as a default-pool render target or depth buffer.
class CpuSurface : public Surface {
 public:
  explicit CpuSurface(const SurfaceDesc& desc) : mDesc(desc) {}

  Result GetDesc(SurfaceDesc* desc) override {
    if (desc == nullptr) return kInvalidCall;
    *desc = mDesc;
    return kOk;
  }

  Result LockRect(LockedRect* locked, const Rect* rect, std::uint32_t) override {
    if (locked == nullptr || mLocked || (mDesc.pool == kPoolDefault && mDesc.usage != 0)) {
      return kInvalidCall;
    }
    if (mPixels.empty()) mPixels.resize(LevelBytes(mDesc.format, mDesc.width, mDesc.height));
    const std::size_t pitch = Pitch(mDesc.format, mDesc.width);
    std::size_t offset = 0;
    if (rect != nullptr) {
      if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<std::int32_t>(mDesc.width) ||
          rect->bottom > static_cast<std::int32_t>(mDesc.height) || rect->left >= rect->right ||
          rect->top >= rect->bottom) {
        return kInvalidCall;
      }
      const bool blocks = BlockFormat(mDesc.format);
      const auto left = static_cast<std::uint32_t>(rect->left);
      const auto top = static_cast<std::size_t>(rect->top);
      offset = (blocks ? top / 4 : top) * pitch + LevelBytes(mDesc.format, left, blocks ? 4 : 1);
    }
    locked->pitch = static_cast<std::int32_t>(pitch);
    locked->bits = mPixels.data() + offset;
    mLocked = true;
    return kOk;
  }

  Result UnlockRect() override {
    if (!mLocked) return kInvalidCall;
    mLocked = false;
    Unlocked();
    return kOk;
  }

  SurfaceDesc mDesc;
  std::vector<std::uint8_t> mPixels;  // system memory, or the lockable copy

 protected:
  // After an unlock: a backend uploads the pixels here.
  virtual void Unlocked() {}

 private:
  bool mLocked = false;
};

// The elements of a declaration up to and including its end marker; false
// when there is no marker within the graphics library's limit or an
// element is malformed.
inline bool ReadDeclaration(const VertexElement* elements, std::uint16_t streams,
                            std::vector<VertexElement>& out) {
  constexpr int kMaxElements = 65;
  out.clear();
  for (int i = 0; i < kMaxElements; ++i) {
    out.push_back(elements[i]);
    if (elements[i].stream == 0xFF) return true;
    if (elements[i].type > kDeclUnused || elements[i].stream >= streams) return false;
  }
  return false;
}

class StoredDeclaration : public VertexDeclaration {
 public:
  explicit StoredDeclaration(std::vector<VertexElement> elements)
      : mElements(std::move(elements)) {}

  Result GetDeclaration(VertexElement* elements, std::uint32_t* count) override {
    if (count == nullptr) return kInvalidCall;
    const auto needed = static_cast<std::uint32_t>(mElements.size());
    if (elements == nullptr) {
      *count = needed;
      return kOk;
    }
    if (*count < needed) return kInvalidCall;
    std::copy(mElements.begin(), mElements.end(), elements);
    *count = needed;
    return kOk;
  }

  const std::vector<VertexElement>& Elements() const { return mElements; }

 private:
  std::vector<VertexElement> mElements;
};

// One adapter, the primary display: its modes as the platform reports them.
class DisplayAdapter : public Direct3D {
 public:
  std::uint32_t GetAdapterCount() override { return 1; }

  Result GetAdapterDisplayMode(std::uint32_t adapter, DisplayMode* mode) override {
    if (adapter != 0 || mode == nullptr) return kInvalidCall;
    *mode = DesktopDisplayMode();
    return kOk;
  }

  std::uint32_t GetAdapterModeCount(std::uint32_t adapter, Format format) override {
    if (adapter != 0) return 0;
    return static_cast<std::uint32_t>(EnumerateDisplayModes(static_cast<int>(format)).size());
  }

  Result EnumAdapterModes(std::uint32_t adapter, Format format, std::uint32_t index,
                          DisplayMode* mode) override {
    const auto modes = EnumerateDisplayModes(static_cast<int>(format));
    if (adapter != 0 || mode == nullptr || index >= modes.size()) return kInvalidCall;
    *mode = modes[index];
    return kOk;
  }
};

}  // namespace platform::shared
