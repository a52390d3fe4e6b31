#include "platform/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include "platform/utf8.h"

namespace platform::image {
namespace {

// Larger than any texture the graphics layer accepts; also keeps every size
// computation below far from integer overflow.
constexpr int kMaxDimension = 16384;

// DDS header layout: "DDS " then a 124-byte header; offsets from the start
// of the file.
constexpr std::size_t kDdsHeaderEnd = 128;
constexpr std::size_t kOffHeaderSize = 4;
constexpr std::size_t kOffFlags = 8;
constexpr std::size_t kOffHeight = 12;
constexpr std::size_t kOffWidth = 16;
constexpr std::size_t kOffDepth = 24;
constexpr std::size_t kOffMipCount = 28;
constexpr std::size_t kOffPfSize = 76;
constexpr std::size_t kOffPfFlags = 80;
constexpr std::size_t kOffFourCC = 84;
constexpr std::size_t kOffBitCount = 88;
constexpr std::size_t kOffRMask = 92;
constexpr std::size_t kOffGMask = 96;
constexpr std::size_t kOffBMask = 100;
constexpr std::size_t kOffAMask = 104;
constexpr std::size_t kOffCaps2 = 112;

constexpr std::uint32_t kDdsdDepth = 0x800000;
constexpr std::uint32_t kPfFourCC = 0x4;
constexpr std::uint32_t kPfRgb = 0x40;
constexpr std::uint32_t kPfLuminance = 0x20000;
constexpr std::uint32_t kCaps2Cubemap = 0x200;
constexpr std::uint32_t kCaps2AllFaces = 0xFC00;  // +X, -X, +Y, -Y, +Z, -Z
constexpr std::uint32_t kCaps2Volume = 0x200000;

constexpr std::uint32_t FourCC(char a, char b, char c, char d) {
  return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
         std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}

std::uint32_t Read32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::string Hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::uint16_t Read16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

bool IsBlockFormat(Format format) {
  return format == kDXT1 || format == kDXT3 || format == kDXT5;
}

int FullMipCount(int width, int height) {
  int count = 1;
  while (width > 1 || height > 1) {
    width = std::max(1, width / 2);
    height = std::max(1, height / 2);
    ++count;
  }
  return count;
}

// Known formats only; anything else yields 0.
Format KnownFormat(std::uint32_t code) {
  switch (code) {
    case kR8G8B8: case kA8R8G8B8: case kX8R8G8B8: case kR5G6B5: case kX1R5G5B5:
    case kA1R5G5B5: case kA4R4G4B4: case kL8: case kA8L8: case kR32F: case kDXT1:
    case kDXT3: case kDXT5:
      return static_cast<Format>(code);
    default:
      return static_cast<Format>(0);
  }
}

// ---------------------------------------------------------------------------
// DDS

struct Masks {
  std::uint32_t r, g, b, a;
  bool operator==(const Masks& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

// Maps the pixel format block to one of ours. `swapRedBlue` is set for the
// A8B8G8R8 layout, which is stored here as A8R8G8B8.
bool DdsPixelFormat(const std::uint8_t* file, Format& format, bool& swapRedBlue,
                    std::string& error) {
  const std::uint32_t flags = Read32(file + kOffPfFlags);
  const std::uint32_t fourCC = Read32(file + kOffFourCC);
  const std::uint32_t bits = Read32(file + kOffBitCount);
  const Masks m{Read32(file + kOffRMask), Read32(file + kOffGMask), Read32(file + kOffBMask),
                Read32(file + kOffAMask)};
  swapRedBlue = false;

  if (flags & kPfFourCC) {
    if (fourCC == FourCC('D', 'X', '1', '0')) {
      error = "DDS with a DX10 extension header is not supported";
      return false;
    }
    if (fourCC == FourCC('D', 'X', 'T', '2') || fourCC == FourCC('D', 'X', 'T', '4')) {
      error = "premultiplied-alpha DDS (DXT2/DXT4) is not supported";
      return false;
    }
    // Besides the DXTn codes, writers store other formats by their numeric
    // code here (R32F is 114).
    format = KnownFormat(fourCC);
    if (format == 0) {
      error = "unsupported DDS FourCC " + Hex(fourCC);
      return false;
    }
    return true;
  }

  if (flags & kPfRgb) {
    if (bits == 32) {
      if (m == Masks{0xFF0000, 0xFF00, 0xFF, 0xFF000000}) return format = kA8R8G8B8, true;
      if (m == Masks{0xFF0000, 0xFF00, 0xFF, 0}) return format = kX8R8G8B8, true;
      if (m == Masks{0xFF, 0xFF00, 0xFF0000, 0xFF000000}) {
        swapRedBlue = true;
        return format = kA8R8G8B8, true;
      }
      if (m == Masks{0xFF, 0xFF00, 0xFF0000, 0}) {
        swapRedBlue = true;
        return format = kX8R8G8B8, true;
      }
    } else if (bits == 24) {
      if (m == Masks{0xFF0000, 0xFF00, 0xFF, 0}) return format = kR8G8B8, true;
    } else if (bits == 16) {
      if (m == Masks{0xF800, 0x7E0, 0x1F, 0}) return format = kR5G6B5, true;
      if (m == Masks{0x7C00, 0x3E0, 0x1F, 0}) return format = kX1R5G5B5, true;
      if (m == Masks{0x7C00, 0x3E0, 0x1F, 0x8000}) return format = kA1R5G5B5, true;
      if (m == Masks{0xF00, 0xF0, 0xF, 0xF000}) return format = kA4R4G4B4, true;
    }
    error = "unsupported DDS RGB layout (" + std::to_string(bits) + " bits)";
    return false;
  }

  if (flags & kPfLuminance) {
    if (bits == 8 && m.r == 0xFF && m.a == 0) return format = kL8, true;
    if (bits == 16 && m.r == 0xFF && m.a == 0xFF00) return format = kA8L8, true;
    error = "unsupported DDS luminance layout (" + std::to_string(bits) + " bits)";
    return false;
  }

  error = "unsupported DDS pixel format (flags " + Hex(flags) + ")";
  return false;
}

bool DecodeDds(const std::uint8_t* data, std::size_t size, Image& out, std::string& error) {
  if (size < kDdsHeaderEnd) {
    error = "DDS header truncated";
    return false;
  }
  if (Read32(data + kOffHeaderSize) != 124 || Read32(data + kOffPfSize) != 32) {
    error = "DDS header has wrong size fields";
    return false;
  }
  const std::uint32_t width = Read32(data + kOffWidth);
  const std::uint32_t height = Read32(data + kOffHeight);
  if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension) {
    error = "DDS size " + std::to_string(width) + "x" + std::to_string(height) +
            " is out of range";
    return false;
  }

  Format format{};
  bool swapRedBlue = false;
  if (!DdsPixelFormat(data, format, swapRedBlue, error)) return false;

  const std::uint32_t caps2 = Read32(data + kOffCaps2);
  const bool deep = (Read32(data + kOffFlags) & kDdsdDepth) && Read32(data + kOffDepth) > 1;
  if ((caps2 & kCaps2Volume) || deep) {
    error = "volume DDS textures are not supported";
    return false;
  }
  const bool cube = (caps2 & kCaps2Cubemap) != 0;
  if (cube && (caps2 & kCaps2AllFaces) != kCaps2AllFaces) {
    error = "DDS cube map without all six faces is not supported";
    return false;
  }
  if (cube && width != height) {
    error = "DDS cube map faces are not square";
    return false;
  }

  // Writers do not reliably set the mip count flag, so the count alone
  // decides; levels beyond 1x1 are ignored.
  const std::uint32_t storedLevels = Read32(data + kOffMipCount);
  const int levels = static_cast<int>(std::min<std::uint32_t>(
      std::max<std::uint32_t>(storedLevels, 1),
      static_cast<std::uint32_t>(FullMipCount(int(width), int(height)))));

  Image image;
  image.format = format;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.cube = cube;
  image.faces.resize(cube ? 6 : 1);
  std::size_t offset = kDdsHeaderEnd;
  for (std::size_t f = 0; f < image.faces.size(); ++f) {
    auto& face = image.faces[f];
    face.reserve(static_cast<std::size_t>(levels));
    for (int l = 0; l < levels; ++l) {
      Level level;
      level.width = std::max(1, image.width >> l);
      level.height = std::max(1, image.height >> l);
      const std::size_t bytes = LevelSize(format, level.width, level.height);
      if (bytes > size - offset) {
        error = "DDS data truncated (face " + std::to_string(f) + ", level " +
                std::to_string(l) + ")";
        return false;
      }
      level.bytes.assign(data + offset, data + offset + bytes);
      offset += bytes;
      if (swapRedBlue) {
        for (std::size_t i = 0; i + 3 < bytes; i += 4) std::swap(level.bytes[i], level.bytes[i + 2]);
      }
      face.push_back(std::move(level));
    }
  }
  out = std::move(image);
  return true;
}

// ---------------------------------------------------------------------------
// PNG, JPG, TGA, BMP through stb_image

// The most pixels each format can encode per file byte (deflate's limit
// times 8 pixels per byte for 1-bit PNG; one Huffman bit per 8x8 JPEG block,
// doubled; 1-bit BMP; run-length TGA and the rest). A header that claims
// more is corrupt, and rejecting it keeps stb from allocating for it.
std::uint64_t MaxPixelsPerByte(const std::uint8_t* data, std::size_t size) {
  static const std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return 8 * 1032;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) return 1024;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return 8;
  return 128;
}

bool DecodeWithStb(const std::uint8_t* data, std::size_t size, Image& out, std::string& error) {
  if (size > static_cast<std::size_t>(INT_MAX)) {
    error = "image file too large";
    return false;
  }
  const int length = static_cast<int>(size);
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &w, &h, &channels)) {
    error = std::string("unrecognised image data (") + stbi_failure_reason() + ")";
    return false;
  }
  if (w <= 0 || h <= 0 || w > kMaxDimension || h > kMaxDimension ||
      std::uint64_t(w) * std::uint64_t(h) > MaxPixelsPerByte(data, size) * size) {
    error = "image size " + std::to_string(w) + "x" + std::to_string(h) + " is out of range";
    return false;
  }
  stbi_uc* pixels = stbi_load_from_memory(data, length, &w, &h, &channels, 4);
  if (!pixels) {
    error = std::string("cannot decode image (") + stbi_failure_reason() + ")";
    return false;
  }
  Level level;
  level.width = w;
  level.height = h;
  level.bytes.resize(std::size_t(w) * std::size_t(h) * 4);
  for (std::size_t i = 0; i < level.bytes.size(); i += 4) {
    level.bytes[i] = pixels[i + 2];
    level.bytes[i + 1] = pixels[i + 1];
    level.bytes[i + 2] = pixels[i];
    level.bytes[i + 3] = pixels[i + 3];
  }
  stbi_image_free(pixels);

  Image image;
  image.format = kA8R8G8B8;
  image.width = w;
  image.height = h;
  image.faces.resize(1);
  image.faces[0].push_back(std::move(level));
  out = std::move(image);
  return true;
}

// ---------------------------------------------------------------------------
// Conversion to A8R8G8B8 (bytes B, G, R, A)

std::uint8_t Expand5(unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); }
std::uint8_t Expand6(unsigned v) { return static_cast<std::uint8_t>((v << 2) | (v >> 4)); }
std::uint8_t Expand4(unsigned v) { return static_cast<std::uint8_t>(v * 17); }

void Put(std::uint8_t* p, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) {
  p[0] = b, p[1] = g, p[2] = r, p[3] = a;
}

// One 4x4 block as 16 B,G,R,A pixels, row by row. DXT1 alone uses the
// three-colour mode with transparent black when color0 <= color1.
void DecodeColorBlock(const std::uint8_t* block, bool dxt1, std::uint8_t out[16][4]) {
  const unsigned c0 = Read16(block), c1 = Read16(block + 2);
  std::uint8_t palette[4][4];
  Put(palette[0], Expand5(c0 & 0x1F), Expand6((c0 >> 5) & 0x3F), Expand5(c0 >> 11), 255);
  Put(palette[1], Expand5(c1 & 0x1F), Expand6((c1 >> 5) & 0x3F), Expand5(c1 >> 11), 255);
  const bool fourColors = !dxt1 || c0 > c1;
  for (int c = 0; c < 3; ++c) {
    const unsigned a = palette[0][c], b = palette[1][c];
    palette[2][c] = static_cast<std::uint8_t>(fourColors ? (2 * a + b) / 3 : (a + b) / 2);
    palette[3][c] = static_cast<std::uint8_t>(fourColors ? (a + 2 * b) / 3 : 0);
  }
  palette[2][3] = 255;
  palette[3][3] = fourColors ? 255 : 0;
  const std::uint32_t indices = Read32(block + 4);
  for (int i = 0; i < 16; ++i) std::memcpy(out[i], palette[(indices >> (2 * i)) & 3], 4);
}

void DecodeDxt3Alpha(const std::uint8_t* block, std::uint8_t out[16][4]) {
  for (int i = 0; i < 16; ++i) out[i][3] = Expand4((block[i / 2] >> (4 * (i & 1))) & 0xF);
}

void DecodeDxt5Alpha(const std::uint8_t* block, std::uint8_t out[16][4]) {
  const unsigned a0 = block[0], a1 = block[1];
  unsigned alpha[8] = {a0, a1};
  if (a0 > a1) {
    for (unsigned i = 1; i < 7; ++i) alpha[i + 1] = ((7 - i) * a0 + i * a1) / 7;
  } else {
    for (unsigned i = 1; i < 5; ++i) alpha[i + 1] = ((5 - i) * a0 + i * a1) / 5;
    alpha[6] = 0;
    alpha[7] = 255;
  }
  std::uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= std::uint64_t(block[2 + i]) << (8 * i);
  for (int i = 0; i < 16; ++i) out[i][3] = static_cast<std::uint8_t>(alpha[(bits >> (3 * i)) & 7]);
}

std::vector<std::uint8_t> DecompressBlocks(Format format, const Level& level) {
  const int w = level.width, h = level.height;
  std::vector<std::uint8_t> out(std::size_t(w) * std::size_t(h) * 4);
  const std::size_t blockBytes = format == kDXT1 ? 8 : 16;
  const std::uint8_t* block = level.bytes.data();
  for (int by = 0; by < h; by += 4) {
    for (int bx = 0; bx < w; bx += 4, block += blockBytes) {
      std::uint8_t pixels[16][4];
      if (format == kDXT1) {
        DecodeColorBlock(block, true, pixels);
      } else {
        DecodeColorBlock(block + 8, false, pixels);
        (format == kDXT3 ? DecodeDxt3Alpha : DecodeDxt5Alpha)(block, pixels);
      }
      for (int y = 0; y < 4 && by + y < h; ++y) {
        for (int x = 0; x < 4 && bx + x < w; ++x) {
          std::memcpy(&out[(std::size_t(by + y) * w + bx + x) * 4], pixels[y * 4 + x], 4);
        }
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> ToBgra(Format format, const Level& level) {
  if (IsBlockFormat(format)) return DecompressBlocks(format, level);
  const std::size_t count = std::size_t(level.width) * std::size_t(level.height);
  std::vector<std::uint8_t> out(count * 4);
  const std::uint8_t* in = level.bytes.data();
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* p = &out[i * 4];
    switch (format) {
      case kA8R8G8B8: std::memcpy(p, in + i * 4, 4); break;
      case kX8R8G8B8: Put(p, in[i * 4], in[i * 4 + 1], in[i * 4 + 2], 255); break;
      case kR8G8B8: Put(p, in[i * 3], in[i * 3 + 1], in[i * 3 + 2], 255); break;
      case kL8: Put(p, in[i], in[i], in[i], 255); break;
      case kA8L8: Put(p, in[i * 2], in[i * 2], in[i * 2], in[i * 2 + 1]); break;
      case kR5G6B5: {
        const unsigned v = Read16(in + i * 2);
        Put(p, Expand5(v & 0x1F), Expand6((v >> 5) & 0x3F), Expand5(v >> 11), 255);
        break;
      }
      case kX1R5G5B5:
      case kA1R5G5B5: {
        const unsigned v = Read16(in + i * 2);
        const std::uint8_t a = format == kX1R5G5B5 || (v & 0x8000) ? 255 : 0;
        Put(p, Expand5(v & 0x1F), Expand5((v >> 5) & 0x1F), Expand5((v >> 10) & 0x1F), a);
        break;
      }
      case kA4R4G4B4: {
        const unsigned v = Read16(in + i * 2);
        Put(p, Expand4(v & 0xF), Expand4((v >> 4) & 0xF), Expand4((v >> 8) & 0xF), Expand4(v >> 12));
        break;
      }
      default: break;  // R32F and block formats never get here
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Mip levels

// One level down: each pixel is the mean of a 2x2 box, the box clamped at
// the edge where a dimension is already 1.
Level Downsample(Format format, const Level& src) {
  Level dst;
  dst.width = std::max(1, src.width / 2);
  dst.height = std::max(1, src.height / 2);
  dst.bytes.resize(LevelSize(format, dst.width, dst.height));
  const std::size_t sw = std::size_t(src.width);
  for (int y = 0; y < dst.height; ++y) {
    const std::size_t y0 = std::size_t(2 * y), y1 = std::size_t(std::min(2 * y + 1, src.height - 1));
    for (int x = 0; x < dst.width; ++x) {
      const std::size_t x0 = std::size_t(2 * x), x1 = std::size_t(std::min(2 * x + 1, src.width - 1));
      const std::size_t s[4] = {y0 * sw + x0, y0 * sw + x1, y1 * sw + x0, y1 * sw + x1};
      const std::size_t d = std::size_t(y) * std::size_t(dst.width) + std::size_t(x);
      if (format == kR32F) {
        float sum = 0, v;
        for (std::size_t i : s) std::memcpy(&v, &src.bytes[i * 4], 4), sum += v;
        sum *= 0.25f;
        std::memcpy(&dst.bytes[d * 4], &sum, 4);
      } else {
        const std::size_t n = format == kL8 ? 1 : 4;
        for (std::size_t c = 0; c < n; ++c) {
          unsigned sum = 2;
          for (std::size_t i : s) sum += src.bytes[i * n + c];
          dst.bytes[d * n + c] = static_cast<std::uint8_t>(sum / 4);
        }
      }
    }
  }
  return dst;
}

// Images built by callers get the same checks as decoded ones, so that the
// conversions below can trust every size.
bool Validate(const Image& image, std::string& error) {
  if (KnownFormat(image.format) == 0) {
    error = "unknown image format " + std::to_string(image.format);
    return false;
  }
  if (image.width <= 0 || image.height <= 0 || image.width > kMaxDimension ||
      image.height > kMaxDimension) {
    error = "image size out of range";
    return false;
  }
  if (image.faces.size() != (image.cube ? 6u : 1u)) {
    error = "wrong number of image faces";
    return false;
  }
  const int maxLevels = FullMipCount(image.width, image.height);
  for (const auto& face : image.faces) {
    if (face.empty() || face.size() > std::size_t(maxLevels)) {
      error = "wrong number of mip levels";
      return false;
    }
    for (std::size_t l = 0; l < face.size(); ++l) {
      const Level& level = face[l];
      if (level.width != std::max(1, image.width >> l) ||
          level.height != std::max(1, image.height >> l) ||
          level.bytes.size() != LevelSize(image.format, level.width, level.height)) {
        error = "mip level " + std::to_string(l) + " has the wrong size";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

std::size_t LevelSize(Format format, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const std::size_t w = std::size_t(width), h = std::size_t(height);
  switch (format) {
    case kDXT1: return ((w + 3) / 4) * ((h + 3) / 4) * 8;
    case kDXT3:
    case kDXT5: return ((w + 3) / 4) * ((h + 3) / 4) * 16;
    case kA8R8G8B8:
    case kX8R8G8B8:
    case kR32F: return w * h * 4;
    case kR8G8B8: return w * h * 3;
    case kR5G6B5:
    case kX1R5G5B5:
    case kA1R5G5B5:
    case kA4R4G4B4:
    case kA8L8: return w * h * 2;
    case kL8: return w * h;
  }
  return 0;
}

bool Decode(const void* data, std::size_t size, Image& out, std::string& error) {
  if (!data || size == 0) {
    error = "empty image data";
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (size >= 4 && std::memcmp(bytes, "DDS ", 4) == 0) return DecodeDds(bytes, size, out, error);
  return DecodeWithStb(bytes, size, out, error);
}

bool LoadFile(const std::wstring& path, Image& out, std::string& error) {
  const std::string name = utf8::Encode(path);
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "cannot open " + name;
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (done != bytes.size()) {
    error = "cannot read " + name;
    return false;
  }
  if (!Decode(bytes.data(), bytes.size(), out, error)) {
    error = name + ": " + error;
    return false;
  }
  return true;
}

bool GenerateMipChain(Image& image, std::string& error) {
  if (!Validate(image, error)) return false;
  const std::size_t full = std::size_t(FullMipCount(image.width, image.height));
  const bool missing = std::any_of(image.faces.begin(), image.faces.end(),
                                   [&](const auto& face) { return face.size() < full; });
  if (!missing) return true;
  // The filter works on whole bytes or floats per channel; everything else
  // is expanded first.
  if (image.format != kA8R8G8B8 && image.format != kX8R8G8B8 && image.format != kL8 &&
      image.format != kR32F && !ConvertToA8R8G8B8(image, error)) {
    return false;
  }
  for (auto& face : image.faces) {
    face.reserve(full);
    while (face.size() < full) face.push_back(Downsample(image.format, face.back()));
  }
  return true;
}

std::vector<std::uint8_t> LevelToA8R8G8B8(Format format, int width, int height,
                                          const std::uint8_t* bytes, std::size_t size) {
  const std::size_t expected = LevelSize(format, width, height);
  if (format == kR32F || expected == 0 || size != expected) return {};
  Level level;
  level.width = width;
  level.height = height;
  level.bytes.assign(bytes, bytes + size);
  if (format == kA8R8G8B8) return level.bytes;
  return ToBgra(format, level);
}

bool ConvertToA8R8G8B8(Image& image, std::string& error) {
  if (!Validate(image, error)) return false;
  if (image.format == kA8R8G8B8 || image.format == kR32F) return true;
  for (auto& face : image.faces) {
    for (auto& level : face) level.bytes = ToBgra(image.format, level);
  }
  image.format = kA8R8G8B8;
  return true;
}

bool SavePng(const std::wstring& path, int width, int height, const void* pixels,
             std::size_t pitch, std::string& error) {
  const std::string name = utf8::Encode(path);
  // stb_image_write sizes its buffers with int arithmetic.
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension || !pixels) {
    error = "cannot save " + name + ": no image or size out of range";
    return false;
  }
  const std::size_t rowBytes = std::size_t(width) * 4;
  if (pitch < rowBytes) {
    error = "cannot save " + name + ": pitch smaller than a row";
    return false;
  }
  std::vector<std::uint8_t> rgba(rowBytes * std::size_t(height));
  for (int y = 0; y < height; ++y) {
    const auto* in = static_cast<const std::uint8_t*>(pixels) + std::size_t(y) * pitch;
    std::uint8_t* o = &rgba[std::size_t(y) * rowBytes];
    for (std::size_t x = 0; x < rowBytes; x += 4) {
      o[x] = in[x + 2];
      o[x + 1] = in[x + 1];
      o[x + 2] = in[x];
      o[x + 3] = in[x + 3];
    }
  }
  if (!stbi_write_png(name.c_str(), width, height, 4, rgba.data(), int(rowBytes))) {
    error = "cannot write " + name;
    return false;
  }
  return true;
}

}  // namespace platform::image
