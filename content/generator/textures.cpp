#include "content/generator/textures.h"

#include <algorithm>
#include <cmath>

#include "content/generator/geometry.h"

namespace content {
namespace {

constexpr int kTile = 256;

// A separable box blur of a mask, `passes` times (close to a Gaussian).
Mask Blur(const Mask& in, int radius, int passes = 3) {
  Mask a = in, b = in;
  for (int p = 0; p < passes; ++p) {
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        float sum = 0;
        for (int k = -radius; k <= radius; ++k) sum += a.At(std::clamp(x + k, 0, a.width - 1), y);
        b.At(x, y) = sum / (2 * radius + 1);
      }
    }
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        float sum = 0;
        for (int k = -radius; k <= radius; ++k) sum += b.At(x, std::clamp(y + k, 0, a.height - 1));
        a.At(x, y) = sum / (2 * radius + 1);
      }
    }
  }
  return a;
}

// White text, alpha = the glyphs with a faint glow round them.
Image WhiteOnClear(const Mask& text, int glowRadius, float glow) {
  const Mask halo = Blur(text, glowRadius);
  Image img(text.width, text.height);
  for (int y = 0; y < text.height; ++y)
    for (int x = 0; x < text.width; ++x)
      img.Set(x, y, 1, 1, 1, std::max(text.At(x, y), glow * std::min(1.0f, 2 * halo.At(x, y))));
  return img;
}

Image TitleCard(const Fonts& f) {
  Mask m(1024, 256);
  f.sans.DrawCentred(m, "Quiet Port", 512, 172, 150, 6);
  return WhiteOnClear(m, 6, 0.35f);
}

Image ClosingCard(const Fonts& f) {
  Mask m(1024, 512);
  f.sans.DrawCentred(m, "Quiet Port", 512, 170, 128, 5);
  f.serif.DrawCentred(m, "a real-time demo on the VELOX engine", 512, 262, 36, 1);
  f.sans.DrawCentred(m, "geometry \xC2\xB7 look \xC2\xB7 music \xC2\xB7 code", 512, 338, 30, 2);
  f.sans.DrawCentred(m, "thank you for watching", 512, 430, 34, 3);
  return WhiteOnClear(m, 4, 0.3f);
}

// Bright thin lines where two tileable noise fields cross zero, as light
// focused by a rippling surface.
Image Caustics() {
  Image img(kTile, kTile);
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      const float u = x * 8.0f / kTile, v = y * 8.0f / kTile;
      const float a = std::fabs(Fbm3(u, v, 0.5f, 2, 8)), b = std::fabs(Fbm3(u + 3.1f, v + 1.7f, 7.5f, 2, 8));
      const float c = std::pow(1 - std::min(1.0f, a * 4), 6.0f) + 0.7f * std::pow(1 - std::min(1.0f, b * 4), 8.0f);
      const float l = std::min(1.0f, c);
      img.Set(x, y, l, l, l, l);
    }
  }
  return img;
}

Image NoiseOctaves() {
  Image img(kTile, kTile);
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      float c[4];
      for (int o = 0; o < 4; ++o) {
        const int period = 4 << (o * 1);  // 4, 8, 16, 32 cells
        const float s = static_cast<float>(period) / kTile;
        c[o] = 0.5f + 0.5f * 1.4f * Noise3(x * s, y * s, 11.0f * o + 0.5f, period);
      }
      img.Set(x, y, c[0], c[1], c[2], c[3]);
    }
  }
  return img;
}

// A 2x2 atlas; cell(k, u, v) gives alpha for quarter k at u, v in -1..1.
template <class F>
Image Atlas(F cell) {
  Image img(kTile, kTile);
  const int half = kTile / 2;
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      const int k = (x / half) + 2 * (y / half);
      const float u = ((x % half) + 0.5f) / half * 2 - 1, v = ((y % half) + 0.5f) / half * 2 - 1;
      img.Set(x, y, 1, 1, 1, Clamp01(cell(k, u, v)));
    }
  }
  return img;
}

Image Plankton() {
  return Atlas([](int k, float u, float v) {
    const float r = std::sqrt(u * u + v * v);
    switch (k) {
      case 0: return std::exp(-r * r * 6);                                            // blob
      case 1: return std::exp(-std::pow((r - 0.55f) * 7, 2.0f)) + 0.6f * std::exp(-r * r * 30);  // ring
      case 2: return std::exp(-r * r * 20) + 0.7f * (std::exp(-std::fabs(u) * 14 - v * v * 3) + std::exp(-std::fabs(v) * 14 - u * u * 3)) * (1 - r);  // spark
      default: return std::exp(-r * r * 16);                                          // small blob
    }
  });
}

Image FogPuffs() {
  return Atlas([](int k, float u, float v) {
    const float r = std::sqrt(u * u + v * v);
    const float n = Fbm3(u * 1.8f + 5 * k, v * 1.8f, 2.5f + k, 4);
    return (1 - Smoothstep(0.3f, 1.0f, r + 0.35f * n)) * (0.75f + 0.25f * n);
  });
}

Image NoteGlyphs(const Fonts& f) {
  Mask m(kTile, kTile);
  const char* notes[4] = {"\xE2\x99\xA9", "\xE2\x99\xAA", "\xE2\x99\xAB", "\xE2\x99\xAC"};
  for (int k = 0; k < 4; ++k) {
    const float cx = 64 + 128.0f * (k % 2), cy = 64 + 128.0f * (k / 2);
    f.sans.DrawCentred(m, notes[k], cx, cy + 36, 104);
  }
  return WhiteOnClear(m, 5, 0.45f);
}

Image Windows() {
  Image img(kTile, kTile);
  Random rnd(88);
  constexpr int kCell = kTile / 8;
  float light[8][8], tint[8][8];
  for (auto& row : light)
    for (float& l : row) l = rnd.Unit() < 0.42f ? rnd.Range(0.4f, 1.0f) : 0.15f;
  for (auto& row : tint)
    for (float& t : row) t = rnd.Range(-0.05f, 0.05f);
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      const int cx = x / kCell, cy = y / kCell, lx = x % kCell, ly = y % kCell;
      const bool glass = lx >= 5 && lx < kCell - 5 && ly >= 7 && ly < kCell - 4;
      if (glass) {
        const float t = tint[cy][cx];
        img.Set(x, y, 0.16f + t, 0.2f + t, 0.26f + t, light[cy][cx]);
      } else {
        const float grain = 0.03f * Noise3(x * 0.125f, y * 0.125f, 1.5f, 32);
        img.Set(x, y, 0.52f + grain, 0.5f + grain, 0.47f + grain, 0);
      }
    }
  }
  return img;
}

Image GroundAlbedo() {
  Image img(kTile, kTile);
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      const float u = x * 4.0f / kTile, v = y * 4.0f / kTile;
      const float grass = 0.5f + 0.5f * Fbm3(u, v, 1.5f, 5, 4);
      const float stone = Smoothstep(0.2f, 0.5f, Fbm3(u * 2, v * 2, 8.5f, 3, 8));
      const float r = Lerp(Lerp(0.20f, 0.32f, grass), 0.48f, stone);
      const float g = Lerp(Lerp(0.27f, 0.36f, grass), 0.46f, stone);
      const float b = Lerp(Lerp(0.14f, 0.18f, grass), 0.42f, stone);
      img.Set(x, y, r, g, b, 1);
    }
  }
  return img;
}

Image WaterNormals() {
  Image img(kTile, kTile);
  const auto height = [](int x, int y) {
    x = (x + kTile) % kTile, y = (y + kTile) % kTile;
    const float u = x * 8.0f / kTile, v = y * 8.0f / kTile;
    return Fbm3(u, v, 3.5f, 3, 8);
  };
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      const float dx = (height(x + 1, y) - height(x - 1, y)) * 6, dy = (height(x, y + 1) - height(x, y - 1)) * 6;
      const Vec3 n = Normalize({-dx, -dy, 1});
      img.Set(x, y, 0.5f + 0.5f * n.x, 0.5f + 0.5f * n.y, 0.5f + 0.5f * n.z, 0.5f + 0.5f * height(x, y));
    }
  }
  return img;
}

Image White(int size) {
  Image img(size, size);
  std::fill(img.bgra.begin(), img.bgra.end(), 255);
  return img;
}

// A dusk sky over water with a low sun: the backdrop of the two pictures.
void Dusk(Image& img, float sunX, float horizon) {
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      const float fy = static_cast<float>(y) / img.height;
      const float dx = (x - sunX) / img.height, dy = fy - horizon;
      const float sun = std::exp(-(dx * dx + dy * dy) * 60) + 0.35f * std::exp(-(dx * dx + dy * dy) * 6);
      float r, g, b;
      if (fy < horizon) {
        const float t = fy / horizon;
        r = Lerp(0.10f, 0.85f, t * t), g = Lerp(0.08f, 0.42f, t * t), b = Lerp(0.22f, 0.32f, t);
      } else {
        // Water: darker, with the sun's path broken into ripples.
        const float t = (fy - horizon) / (1 - horizon);
        const float ripple = 0.5f + 0.5f * std::sin(y * 2.3f + std::sin(x * 0.15f) * 2);
        r = Lerp(0.35f, 0.06f, t), g = Lerp(0.2f, 0.05f, t), b = Lerp(0.2f, 0.12f, t);
        const float path = std::exp(-dx * dx * 40) * ripple * (1 - t);
        r += 0.8f * path, g += 0.45f * path, b += 0.15f * path;
      }
      r += sun * 1.0f, g += sun * 0.7f, b += sun * 0.35f;
      img.Set(x, y, r, g, b, 1);
    }
  }
}

}  // namespace

std::map<std::string, Image> Textures(const Fonts& fonts) {
  std::map<std::string, Image> t;
  t["textures/title.dds"] = TitleCard(fonts);
  t["textures/closing.dds"] = ClosingCard(fonts);
  t["textures/caustics.dds"] = Caustics();
  t["textures/noise.dds"] = NoiseOctaves();
  t["textures/plankton.dds"] = Plankton();
  t["textures/causticsrgb.dds"] = CausticsFringes();
  t["textures/fog.dds"] = FogPuffs();
  t["textures/notes.dds"] = NoteGlyphs(fonts);
  t["textures/windows.dds"] = Windows();
  t["textures/ground.dds"] = GroundAlbedo();
  t["textures/waternormal.dds"] = WaterNormals();
  t["default.dds"] = White(8);
  return t;
}

Image Icon(const Fonts& fonts) {
  Image img(64, 64);
  Dusk(img, 32, 0.62f);
  Mask q(64, 64);
  fonts.sansBold.DrawCentred(q, "Q", 32, 35, 34);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      std::uint8_t* p = img.At(x, y);
      const float a = q.At(x, y);
      for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(std::lround(p[c] * (1 - a) + 255 * a));
    }
  }
  return img;
}

Image TitlePicture(const Fonts& fonts) {
  Image img(300, 80);
  Dusk(img, 236, 0.66f);
  Mask text(300, 80);
  fonts.sans.Draw(text, "Quiet Port", 14, 50, 38, 1.5f);
  const Mask shadow = Blur(text, 2);
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 300; ++x) {
      std::uint8_t* p = img.At(x, y);
      const float s = std::min(1.0f, shadow.At(x, y) * 1.5f) * 0.6f, a = text.At(x, y);
      for (int c = 0; c < 3; ++c) {
        const float dark = p[c] * (1 - s);
        p[c] = static_cast<std::uint8_t>(std::lround(dark * (1 - a) + 255 * a));
      }
    }
  }
  return img;
}

}  // namespace content

namespace content {
namespace {

// The light of Caustics() at texel coordinates that need not be whole.
float CausticLight(float x, float y) {
  const float u = x * 8.0f / kTile, v = y * 8.0f / kTile;
  const float a = std::fabs(Fbm3(u, v, 0.5f, 2, 8)), b = std::fabs(Fbm3(u + 3.1f, v + 1.7f, 7.5f, 2, 8));
  const float c = std::pow(1 - std::min(1.0f, a * 4), 6.0f) + 0.7f * std::pow(1 - std::min(1.0f, b * 4), 8.0f);
  return std::min(1.0f, c);
}

}  // namespace

// The caustics three times over, red and blue shifted apart by (1.024,
// 0.768) texels either way: the sea floor's coloured fringes in one tap.
Image CausticsFringes() {
  Image img(kTile, kTile);
  const float sx = 1.024f, sy = 0.768f;
  for (int y = 0; y < kTile; ++y) {
    for (int x = 0; x < kTile; ++x) {
      // One period further on, so that the shifted coordinates stay positive.
      const float px = static_cast<float>(x), py = static_cast<float>(y);
      const float r = CausticLight(px + kTile - sx, py + kTile - sy), g = CausticLight(px, py);
      const float b = CausticLight(px + sx, py + sy);
      img.Set(x, y, r, g, b, g);
    }
  }
  return img;
}

}  // namespace content
