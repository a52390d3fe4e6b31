// Texture images: the DDS reader, stb-decoded files, PNG output, mip chains
// and conversion to A8R8G8B8.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/image.h"
#include "test_support.h"

namespace img = platform::image;
using Bytes = std::vector<std::uint8_t>;

namespace {

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}
void Put16(Bytes& b, unsigned v) { b.push_back(std::uint8_t(v)), b.push_back(std::uint8_t(v >> 8)); }
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

constexpr std::uint32_t kFourCC = 0x4, kRgb = 0x40, kLuminance = 0x20000, kAlphaPixels = 0x1;
constexpr std::uint32_t kCube = 0x200 | 0xFC00;

struct Dds {
  std::uint32_t width = 1, height = 1, mips = 1;
  std::uint32_t pfFlags = kRgb | kAlphaPixels, fourCC = 0, bits = 32;
  std::uint32_t r = 0xFF0000, g = 0xFF00, b = 0xFF, a = 0xFF000000;
  std::uint32_t caps2 = 0;
  std::uint32_t headerSize = 124, pfSize = 32;

  Bytes Header() const {
    Bytes h = {'D', 'D', 'S', ' '};
    Put32(h, headerSize);
    Put32(h, 0x1007 | (mips > 1 ? 0x20000 : 0));
    Put32(h, height), Put32(h, width), Put32(h, 0), Put32(h, 0), Put32(h, mips);
    for (int i = 0; i < 11; ++i) Put32(h, 0);
    Put32(h, pfSize), Put32(h, pfFlags), Put32(h, fourCC), Put32(h, bits);
    Put32(h, r), Put32(h, g), Put32(h, b), Put32(h, a);
    Put32(h, 0x1000), Put32(h, caps2), Put32(h, 0), Put32(h, 0), Put32(h, 0);
    return h;
  }
};

Dds Dxt(std::uint32_t code, std::uint32_t w, std::uint32_t h) {
  Dds d;
  d.width = w, d.height = h, d.pfFlags = kFourCC, d.fourCC = code, d.bits = 0;
  d.r = d.g = d.b = d.a = 0;
  return d;
}

Bytes Bgra(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a) { return {b, g, r, a}; }

Bytes Pixel(const img::Level& level, int x, int y, int bytesPerPixel = 4) {
  const auto* p = &level.bytes[(std::size_t(y) * level.width + x) * bytesPerPixel];
  return Bytes(p, p + bytesPerPixel);
}

bool DecodeBytes(const Bytes& file, img::Image& out, std::string& error) {
  return img::Decode(file.data(), file.size(), out, error);
}

std::string DecodeError(const Bytes& file) {
  img::Image image;
  std::string error;
  return DecodeBytes(file, image, error) ? "<decoded>" : error;
}

img::Image Decoded(const Bytes& file) {
  img::Image image;
  std::string error;
  EXPECT_TRUE(DecodeBytes(file, image, error)) << error;
  return image;
}

img::Image Converted(img::Image image) {
  std::string error;
  EXPECT_TRUE(img::ConvertToA8R8G8B8(image, error)) << error;
  return image;
}

// Four pixels per row: palette indices 0, 1, 2, 3 in every row.
constexpr std::uint8_t kIndexRow = 0xE4;
const Bytes kRedBlueBlock = {0x00, 0xF8, 0x1F, 0x00, kIndexRow, kIndexRow, kIndexRow, kIndexRow};

}  // namespace

TEST(ImageDds, KeepsStoredLevelsWithTopRowFirst) {
  Dds d;
  d.width = 4, d.height = 2, d.mips = 3;
  Bytes top, file = d.Header();
  for (int x = 0; x < 4; ++x) Append(top, Bgra(0, 0, 200, 255));
  Append(file, top);
  for (int x = 0; x < 4; ++x) Append(file, Bgra(0, 200, 0, 255));
  const Bytes level1 = {1, 2, 3, 4, 5, 6, 7, 8}, level2 = {9, 10, 11, 12};
  Append(file, level1), Append(file, level2), Append(file, {0xAA, 0xBB});  // trailing bytes

  const img::Image image = Decoded(file);
  EXPECT_EQ(image.format, img::kA8R8G8B8);
  EXPECT_EQ(image.width, 4);
  EXPECT_EQ(image.height, 2);
  EXPECT_FALSE(image.cube);
  ASSERT_EQ(image.faces.size(), 1u);
  ASSERT_EQ(image.faces[0].size(), 3u);
  EXPECT_EQ(Bytes(image.faces[0][0].bytes.begin(), image.faces[0][0].bytes.begin() + 16), top);
  EXPECT_EQ(image.faces[0][1].width, 2);
  EXPECT_EQ(image.faces[0][1].height, 1);
  EXPECT_EQ(image.faces[0][1].bytes, level1);
  EXPECT_EQ(image.faces[0][2].width, 1);
  EXPECT_EQ(image.faces[0][2].bytes, level2);
}

TEST(ImageDds, MapsMaskLayoutsAndExpandsThemToArgb) {
  struct Case {
    std::uint32_t flags, bits, r, g, b, a;
    Bytes stored;
    img::Format format;
    Bytes argb;
  };
  const Case cases[] = {
      {kRgb, 32, 0xFF0000, 0xFF00, 0xFF, 0, {10, 20, 30, 40}, img::kX8R8G8B8, {10, 20, 30, 255}},
      {kRgb | kAlphaPixels, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, {10, 20, 30, 40},
       img::kA8R8G8B8, {30, 20, 10, 40}},
      {kRgb, 32, 0xFF, 0xFF00, 0xFF0000, 0, {10, 20, 30, 40}, img::kX8R8G8B8, {30, 20, 10, 255}},
      {kRgb, 24, 0xFF0000, 0xFF00, 0xFF, 0, {10, 20, 30}, img::kR8G8B8, {10, 20, 30, 255}},
      // R=31, G=32, B=1 -> 255, 130, 8
      {kRgb, 16, 0xF800, 0x7E0, 0x1F, 0, {0x01, 0xFC}, img::kR5G6B5, {8, 130, 255, 255}},
      // R=1, G=2, B=31, top bit set but unused
      {kRgb, 16, 0x7C00, 0x3E0, 0x1F, 0, {0x5F, 0x84}, img::kX1R5G5B5, {255, 16, 8, 255}},
      {kRgb | kAlphaPixels, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, {0x5F, 0x04}, img::kA1R5G5B5,
       {255, 16, 8, 0}},
      {kRgb | kAlphaPixels, 16, 0xF00, 0xF0, 0xF, 0xF000, {0x21, 0x43}, img::kA4R4G4B4,
       {17, 34, 51, 68}},
      {kLuminance, 8, 0xFF, 0, 0, 0, {77}, img::kL8, {77, 77, 77, 255}},
      {kLuminance | kAlphaPixels, 16, 0xFF, 0, 0, 0xFF00, {77, 5}, img::kA8L8, {77, 77, 77, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Dds d;
    d.pfFlags = c.flags, d.bits = c.bits, d.r = c.r, d.g = c.g, d.b = c.b, d.a = c.a;
    Bytes file = d.Header();
    Append(file, c.stored);
    const img::Image image = Decoded(file);
    EXPECT_EQ(image.format, c.format);
    ASSERT_EQ(image.faces.size(), 1u);
    const img::Image argb = Converted(image);
    EXPECT_EQ(argb.format, img::kA8R8G8B8);
    EXPECT_EQ(argb.faces[0][0].bytes, c.argb);
  }
}

TEST(ImageDds, RejectsWhatItCannotRepresent) {
  auto rejected = [](Dds d, const std::string& expected) {
    Bytes file = d.Header();
    file.resize(file.size() + 4096);
    const std::string error = DecodeError(file);
    EXPECT_NE(error.find(expected), std::string::npos) << error;
  };
  Dds d;
  d.bits = 16, d.r = 0xF000, d.g = 0xF00, d.b = 0xF0, d.a = 0xF;
  rejected(d, "unsupported");
  rejected(Dxt(0x30315844, 4, 4), "DX10");
  rejected(Dxt(0x32545844, 4, 4), "DXT2");
  rejected(Dxt(0x12345678, 4, 4), "FourCC");
  d = Dds();
  d.pfFlags = 0;
  rejected(d, "pixel format");
  d = Dds();
  d.caps2 = 0x200 | 0x200000;
  rejected(d, "volume");
  d = Dds();
  d.caps2 = 0x200 | 0x400 | 0x800 | 0x1000;
  rejected(d, "six faces");
  d = Dds();
  d.caps2 = kCube, d.width = 2, d.height = 1;
  rejected(d, "square");
}

TEST(ImageDds, RejectsBadHeadersAndSizes) {
  Dds good;
  good.width = 4, good.height = 4;
  Bytes file = good.Header();
  file.resize(file.size() + 64);
  EXPECT_EQ(DecodeError(file), "<decoded>");

  Bytes bad = file;
  bad[3] = 'X';
  EXPECT_NE(DecodeError(bad), "<decoded>");
  auto rejected = [&](std::uint32_t Dds::*field, std::uint32_t value) {
    Dds d = good;
    d.*field = value;
    Bytes header = d.Header();
    header.resize(header.size() + 64);
    EXPECT_NE(DecodeError(header), "<decoded>") << value;
  };
  for (std::uint32_t value : {0u, 16385u, 0x80000000u, 0xFFFFFFFFu}) {
    for (auto field : {&Dds::headerSize, &Dds::pfSize, &Dds::width, &Dds::height}) {
      rejected(field, value);
    }
  }
  rejected(&Dds::headerSize, 128);
  rejected(&Dds::pfSize, 24);
  // A width the file cannot hold fails on the data, not on an allocation.
  Dds wide = good;
  wide.width = wide.height = 16384;
  EXPECT_NE(DecodeError(wide.Header()).find("truncated"), std::string::npos);
  EXPECT_NE(DecodeError(Bytes{'D', 'D', 'S', ' ', 124}).find("truncated"), std::string::npos);
}

TEST(ImageDds, MipCountIsCappedAtOneByOne) {
  Dds d = Dxt(img::kDXT1, 4, 4);
  d.mips = 0xFFFFFFFF;
  Bytes file = d.Header();
  for (int level = 0; level < 3; ++level) Append(file, kRedBlueBlock);
  const img::Image image = Decoded(file);
  ASSERT_EQ(image.faces[0].size(), 3u);
  EXPECT_EQ(image.faces[0][2].width, 1);
  EXPECT_EQ(image.faces[0][2].bytes.size(), 8u);
}

TEST(ImageDds, EveryTruncationIsRejected) {
  Dds flat = Dxt(img::kDXT5, 8, 8);
  flat.mips = 4;
  Dds cube;
  cube.width = cube.height = 2, cube.mips = 2, cube.caps2 = kCube;
  for (const auto& [d, dataBytes] : {std::pair{flat, 16 * (4 + 1 + 1 + 1)},
                                     std::pair{cube, 6 * 4 * (4 + 1)}}) {
    Bytes file = d.Header();
    file.resize(file.size() + std::size_t(dataBytes), 0x55);
    EXPECT_EQ(DecodeError(file), "<decoded>");
    for (std::size_t n = 0; n < file.size(); ++n) {
      const Bytes prefix(file.begin(), file.begin() + n);
      EXPECT_NE(DecodeError(prefix), "<decoded>") << n;
    }
  }
}

TEST(ImageDds, CubeFacesComeInFileOrder) {
  Dds d;
  d.width = d.height = 2, d.mips = 2, d.caps2 = kCube;
  Bytes file = d.Header();
  for (std::uint8_t face = 0; face < 6; ++face) {
    for (int p = 0; p < 4 + 1; ++p) Append(file, Bgra(face, std::uint8_t(10 * face), 0, 255));
  }
  img::Image image = Decoded(file);
  EXPECT_TRUE(image.cube);
  ASSERT_EQ(image.faces.size(), 6u);
  for (std::uint8_t face = 0; face < 6; ++face) {
    ASSERT_EQ(image.faces[face].size(), 2u);
    EXPECT_EQ(Pixel(image.faces[face][0], 1, 1), Bgra(face, std::uint8_t(10 * face), 0, 255));
    EXPECT_EQ(Pixel(image.faces[face][1], 0, 0), Bgra(face, std::uint8_t(10 * face), 0, 255));
  }
}

TEST(ImageDxt, Dxt1FourColourAndOneBitAlphaModes) {
  Bytes file = Dxt(img::kDXT1, 4, 4).Header();
  Append(file, kRedBlueBlock);
  const img::Image four = Converted(Decoded(file));
  const Bytes expected[4] = {Bgra(0, 0, 255, 255), Bgra(255, 0, 0, 255), Bgra(85, 0, 170, 255),
                             Bgra(170, 0, 85, 255)};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(four.faces[0][0], x, y), expected[x]);
  }

  // color0 <= color1: the midpoint and transparent black.
  file = Dxt(img::kDXT1, 2, 2).Header();
  Append(file, {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0xE4, 0xE4, 0xE4});
  const img::Image three = Converted(Decoded(file));
  ASSERT_EQ(three.faces[0][0].bytes.size(), 2u * 2 * 4);
  EXPECT_EQ(Pixel(three.faces[0][0], 0, 1), Bgra(255, 0, 0, 255));
  EXPECT_EQ(Pixel(three.faces[0][0], 1, 1), Bgra(0, 0, 255, 255));

  file = Dxt(img::kDXT1, 4, 1).Header();
  Append(file, {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0, 0, 0});
  const img::Image wide = Converted(Decoded(file));
  EXPECT_EQ(Pixel(wide.faces[0][0], 2, 0), Bgra(127, 0, 127, 255));
  EXPECT_EQ(Pixel(wide.faces[0][0], 3, 0), Bgra(0, 0, 0, 0));

  // Equal colours count as color0 <= color1.
  file = Dxt(img::kDXT1, 1, 1).Header();
  Append(file, {0x1F, 0x00, 0x1F, 0x00, 0x03, 0, 0, 0});
  EXPECT_EQ(Converted(Decoded(file)).faces[0][0].bytes, Bgra(0, 0, 0, 0));
}

TEST(ImageDxt, Dxt3AndDxt5Alpha) {
  // Colour c0 blue < c1 red, every index 3: DXT3/5 never use the one-bit
  // alpha mode, so this is the opaque two-thirds-red colour.
  const Bytes colour = {0x1F, 0x00, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes mixed = {85, 0, 170};

  Bytes file = Dxt(img::kDXT3, 4, 4).Header();
  Append(file, {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE});  // alpha nibbles 0..15
  Append(file, colour);
  const img::Image dxt3 = Converted(Decoded(file));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(Pixel(dxt3.faces[0][0], i % 4, i / 4), (Bytes{85, 0, 170, std::uint8_t(17 * i)}));
  }

  // Indices 0..7 twice, packed three bits each.
  std::uint64_t bits = 0;
  for (int i = 0; i < 16; ++i) bits |= std::uint64_t(i % 8) << (3 * i);
  const std::pair<std::pair<std::uint8_t, std::uint8_t>, std::vector<int>> modes[] = {
      {{255, 0}, {255, 0, 218, 182, 145, 109, 72, 36}},
      {{0, 255}, {0, 255, 51, 102, 153, 204, 0, 255}},
  };
  for (const auto& [ends, alphas] : modes) {
    file = Dxt(img::kDXT5, 4, 4).Header();
    file.push_back(ends.first), file.push_back(ends.second);
    for (int i = 0; i < 6; ++i) file.push_back(std::uint8_t(bits >> (8 * i)));
    Append(file, colour);
    const img::Image dxt5 = Converted(Decoded(file));
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(Pixel(dxt5.faces[0][0], i % 4, i / 4),
                (Bytes{mixed[0], mixed[1], mixed[2], std::uint8_t(alphas[i % 8])}))
          << i;
    }
  }
}

TEST(ImageDds, R32FIsKeptAsFloats) {
  Dds d = Dxt(img::kR32F, 2, 2);
  Bytes file = d.Header();
  for (float v : {1.0f, 2.0f, 3.0f, 10.0f}) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    Put32(file, u);
  }
  img::Image image = Converted(Decoded(file));
  EXPECT_EQ(image.format, img::kR32F);
  std::string error;
  ASSERT_TRUE(img::GenerateMipChain(image, error)) << error;
  ASSERT_EQ(image.faces[0].size(), 2u);
  float mean;
  std::memcpy(&mean, image.faces[0][1].bytes.data(), 4);
  EXPECT_FLOAT_EQ(mean, 4.0f);
}

TEST(ImageMips, FiveByThreeChainIsBoxFiltered) {
  img::Image image;
  image.width = 5, image.height = 3;
  image.faces.resize(1);
  img::Level top{5, 3, {}};
  // Blue 40y + 8x; red 2 only in the corner, to see the rounding.
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      Append(top.bytes, Bgra(std::uint8_t(40 * y + 8 * x), 0, x + y == 0 ? 2 : 0, 255));
    }
  }
  image.faces[0].push_back(top);
  std::string error;
  ASSERT_TRUE(img::GenerateMipChain(image, error)) << error;
  const auto& levels = image.faces[0];
  ASSERT_EQ(levels.size(), 3u);
  EXPECT_EQ(levels[0].bytes, top.bytes);
  EXPECT_EQ(levels[1].width, 2);
  EXPECT_EQ(levels[1].height, 1);
  EXPECT_EQ(levels[1].bytes, (Bytes{24, 0, 1, 255, 40, 0, 0, 255}));
  EXPECT_EQ(levels[2].width, 1);
  EXPECT_EQ(levels[2].height, 1);
  EXPECT_EQ(levels[2].bytes, (Bytes{32, 0, 1, 255}));

  img::Image lum;
  lum.format = img::kL8, lum.width = 3, lum.height = 1;
  lum.faces = {{img::Level{3, 1, {10, 20, 200}}}};
  ASSERT_TRUE(img::GenerateMipChain(lum, error)) << error;
  EXPECT_EQ(lum.format, img::kL8);
  EXPECT_EQ(lum.faces[0][1].bytes, Bytes{15});
}

TEST(ImageMips, CompletesPartialChainsOfEveryFaceAndLeavesFullOnesAlone) {
  Dds d = Dxt(img::kDXT1, 4, 4);
  d.mips = 3;
  Bytes file = d.Header();
  for (int level = 0; level < 3; ++level) Append(file, kRedBlueBlock);
  img::Image full = Decoded(file);
  std::string error;
  ASSERT_TRUE(img::GenerateMipChain(full, error)) << error;
  EXPECT_EQ(full.format, img::kDXT1);

  d.mips = 1;
  file = d.Header();
  Append(file, kRedBlueBlock);
  img::Image single = Decoded(file);
  ASSERT_TRUE(img::GenerateMipChain(single, error)) << error;
  EXPECT_EQ(single.format, img::kA8R8G8B8);
  ASSERT_EQ(single.faces[0].size(), 3u);
  // Each 2x2 box holds red and blue, then two-thirds and one-third red.
  EXPECT_EQ(Pixel(single.faces[0][1], 0, 0), Bgra(128, 0, 128, 255));
  EXPECT_EQ(Pixel(single.faces[0][1], 1, 0), Bgra(128, 0, 128, 255));

  // The generated level comes from the last stored one, face by face.
  img::Image cube;
  cube.width = cube.height = 4, cube.cube = true;
  for (std::uint8_t face = 0; face < 6; ++face) {
    img::Level level{4, 4, {}}, half{2, 2, {}};
    for (int p = 0; p < 16; ++p) Append(level.bytes, Bgra(face, 0, 0, 255));
    for (int p = 0; p < 4; ++p) Append(half.bytes, Bgra(face, 100, 0, 255));
    cube.faces.push_back({level, half});
  }
  ASSERT_TRUE(img::GenerateMipChain(cube, error)) << error;
  for (std::uint8_t face = 0; face < 6; ++face) {
    ASSERT_EQ(cube.faces[face].size(), 3u);
    EXPECT_EQ(Pixel(cube.faces[face][1], 1, 1), Bgra(face, 100, 0, 255));
    EXPECT_EQ(cube.faces[face][2].bytes, Bgra(face, 100, 0, 255));
  }
}

TEST(ImageMips, MalformedCallerImagesAreRefused) {
  std::string error;
  img::Image image;
  image.width = image.height = 2;
  image.faces = {{img::Level{2, 2, Bytes(15)}}};
  EXPECT_FALSE(img::GenerateMipChain(image, error));
  EXPECT_FALSE(img::ConvertToA8R8G8B8(image, error));
  EXPECT_FALSE(error.empty());
  image.faces = {{img::Level{2, 2, Bytes(16)}, img::Level{2, 1, Bytes(8)}}};
  EXPECT_FALSE(img::GenerateMipChain(image, error));
  image.faces = {{img::Level{2, 2, Bytes(16)}}};
  image.cube = true;
  EXPECT_FALSE(img::GenerateMipChain(image, error));
  image.cube = false;
  image.format = static_cast<img::Format>(99);
  EXPECT_FALSE(img::ConvertToA8R8G8B8(image, error));
}

TEST(ImageFiles, LevelSizes) {
  EXPECT_EQ(img::LevelSize(img::kDXT1, 1, 1), 8u);
  EXPECT_EQ(img::LevelSize(img::kDXT1, 5, 5), 32u);
  EXPECT_EQ(img::LevelSize(img::kDXT5, 5, 4), 32u);
  EXPECT_EQ(img::LevelSize(img::kR8G8B8, 3, 3), 27u);
  EXPECT_EQ(img::LevelSize(img::kA8L8, 3, 3), 18u);
  EXPECT_EQ(img::LevelSize(img::kR32F, 3, 3), 36u);
  EXPECT_EQ(img::LevelSize(img::kL8, 0, 3), 0u);
  EXPECT_EQ(img::LevelSize(static_cast<img::Format>(99), 3, 3), 0u);
}

TEST(ImageFiles, BmpRowsComeOutTopFirstInArgbOrder) {
  // 2x2, 24 bits, stored bottom row first, rows padded to 4 bytes.
  Bytes bmp = {'B', 'M'};
  Put32(bmp, 54 + 16), Put32(bmp, 0), Put32(bmp, 54);
  Put32(bmp, 40), Put32(bmp, 2), Put32(bmp, 2), Put16(bmp, 1), Put16(bmp, 24);
  for (int i = 0; i < 6; ++i) Put32(bmp, 0);
  Append(bmp, {1, 2, 3, 4, 5, 6, 0, 0});      // bottom row
  Append(bmp, {10, 20, 30, 40, 50, 60, 0, 0});  // top row
  const img::Image image = Decoded(bmp);
  EXPECT_EQ(image.format, img::kA8R8G8B8);
  ASSERT_EQ(image.faces.size(), 1u);
  EXPECT_EQ(image.faces[0][0].bytes,
            (Bytes{10, 20, 30, 255, 40, 50, 60, 255, 1, 2, 3, 255, 4, 5, 6, 255}));

  // A header claiming far more pixels than the file can hold.
  Bytes huge = bmp;
  for (int i = 0; i < 4; ++i) huge[18 + i] = huge[22 + i] = Bytes{0x10, 0x27, 0, 0}[i];
  EXPECT_NE(DecodeError(huge).find("out of range"), std::string::npos);
  EXPECT_NE(DecodeError(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}), "<decoded>");
  EXPECT_NE(DecodeError(Bytes{}), "<decoded>");
}

TEST(ImageFiles, PngRoundTripHonoursPitchAndUtf8Names) {
  velox_test::ScopedWorkDir dir(false);
  // 3x2 with 4 bytes of padding after each row.
  const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xEE, 0xEE, 0xEE, 0xEE,
                        13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 0xEE, 0xEE, 0xEE, 0xEE};
  const std::wstring name = L"bild_\u00e4.png";
  std::string error;
  ASSERT_TRUE(img::SavePng(name, 3, 2, pixels.data(), 16, error)) << error;
  EXPECT_EQ(velox_test::ReadFile("bild_\xc3\xa4.png").substr(1, 3), "PNG");
  img::Image image;
  ASSERT_TRUE(img::LoadFile(name, image, error)) << error;
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.faces[0][0].bytes, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                            16, 17, 18, 19, 20, 21, 22, 23, 24}));

  EXPECT_FALSE(img::SavePng(L"short.png", 3, 2, pixels.data(), 11, error));
  EXPECT_FALSE(img::SavePng(L"null.png", 3, 2, nullptr, 16, error));
  EXPECT_FALSE(img::SavePng(L"no_such_dir/x.png", 3, 2, pixels.data(), 16, error));
  EXPECT_NE(error.find("no_such_dir"), std::string::npos);
  EXPECT_FALSE(img::LoadFile(L"missing.dds", image, error));
  EXPECT_NE(error.find("missing.dds"), std::string::npos);
  EXPECT_FALSE(img::LoadFile(L".", image, error));
}
