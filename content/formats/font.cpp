#include "content/formats/font.h"

#include <stb/stb_truetype.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace content {
namespace {

const stbtt_fontinfo* Info(const std::vector<unsigned char>& info) {
  return reinterpret_cast<const stbtt_fontinfo*>(info.data());
}

}  // namespace

std::vector<int> CodePoints(const std::string& text) {
  std::vector<int> out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    int cp = length == 1 ? c : c & (0x7F >> length);
    for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(cp);
    i += length;
  }
  return out;
}

bool Font::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  mData.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  mInfo.assign(sizeof(stbtt_fontinfo), 0);
  auto* info = reinterpret_cast<stbtt_fontinfo*>(mInfo.data());
  const int offset = stbtt_GetFontOffsetForIndex(mData.data(), 0);
  if (mData.size() < 12 || offset < 0 || stbtt_InitFont(info, mData.data(), offset) == 0) {
    mInfo.clear();
    return false;
  }
  return true;
}

float Font::Ascent(float pixelHeight) const {
  if (mInfo.empty()) return 0;
  int ascent = 0, descent = 0, gap = 0;
  stbtt_GetFontVMetrics(Info(mInfo), &ascent, &descent, &gap);
  return ascent * stbtt_ScaleForPixelHeight(Info(mInfo), pixelHeight);
}

float Font::Width(const std::string& text, float pixelHeight, float tracking) const {
  if (mInfo.empty()) return 0;
  const stbtt_fontinfo* info = Info(mInfo);
  const float scale = stbtt_ScaleForPixelHeight(info, pixelHeight);
  const std::vector<int> cps = CodePoints(text);
  float x = 0;
  for (std::size_t i = 0; i < cps.size(); ++i) {
    int advance = 0, bearing = 0;
    stbtt_GetCodepointHMetrics(info, cps[i], &advance, &bearing);
    x += advance * scale + (i + 1 < cps.size() ? tracking : 0);
    if (i + 1 < cps.size()) x += scale * stbtt_GetCodepointKernAdvance(info, cps[i], cps[i + 1]);
  }
  return x;
}

void Font::Draw(Mask& mask, const std::string& text, float x, float baseline, float pixelHeight,
                float tracking) const {
  if (mInfo.empty()) return;
  const stbtt_fontinfo* info = Info(mInfo);
  const float scale = stbtt_ScaleForPixelHeight(info, pixelHeight);
  const std::vector<int> cps = CodePoints(text);
  float pen = x;
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const int glyph = stbtt_FindGlyphIndex(info, cps[i]);
    int advance = 0, bearing = 0;
    stbtt_GetGlyphHMetrics(info, glyph, &advance, &bearing);
    if (glyph != 0) {
      // Sub-pixel placement keeps the spacing even at any size.
      const float shiftX = pen - std::floor(pen), shiftY = baseline - std::floor(baseline);
      int w = 0, h = 0, ox = 0, oy = 0;
      unsigned char* bitmap = stbtt_GetGlyphBitmapSubpixel(info, scale, scale, shiftX, shiftY,
                                                           glyph, &w, &h, &ox, &oy);
      const int left = static_cast<int>(std::floor(pen)) + ox;
      const int top = static_cast<int>(std::floor(baseline)) + oy;
      for (int gy = 0; gy < h; ++gy) {
        for (int gx = 0; gx < w; ++gx) {
          const int px = left + gx, py = top + gy;
          if (px < 0 || py < 0 || px >= mask.width || py >= mask.height) continue;
          float& v = mask.At(px, py);
          v = std::min(1.0f, v + bitmap[gy * w + gx] / 255.0f);
        }
      }
      stbtt_FreeBitmap(bitmap, nullptr);
    }
    pen += advance * scale + tracking;
    if (i + 1 < cps.size()) pen += scale * stbtt_GetCodepointKernAdvance(info, cps[i], cps[i + 1]);
  }
}

void Font::DrawCentred(Mask& mask, const std::string& text, float cx, float baseline,
                       float pixelHeight, float tracking) const {
  Draw(mask, text, cx - 0.5f * Width(text, pixelHeight, tracking), baseline, pixelHeight, tracking);
}

}  // namespace content
