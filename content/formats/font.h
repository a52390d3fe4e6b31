#pragma once

// Text drawn from a TrueType font into coverage masks.
#include <string>
#include <vector>

namespace content {

// One float per pixel, 0..1, row 0 at the top.
struct Mask {
  Mask(int w, int h) : width(w), height(h), value(static_cast<std::size_t>(w) * h, 0.0f) {}
  float& At(int x, int y) { return value[static_cast<std::size_t>(y) * width + x]; }
  float At(int x, int y) const { return value[static_cast<std::size_t>(y) * width + x]; }
  int width, height;
  std::vector<float> value;
};

class Font {
 public:
  // False when the file cannot be read or is not a font.
  bool Load(const std::string& path);

  // Width in pixels of UTF-8 text at a pixel height (cap to descender),
  // with `tracking` extra pixels after every character.
  float Width(const std::string& text, float pixelHeight, float tracking = 0) const;
  // Ascent above the baseline at that height, in pixels.
  float Ascent(float pixelHeight) const;

  // Adds the text's coverage into the mask (saturating at 1), the pen
  // starting at x on the baseline y; characters the font lacks are skipped.
  void Draw(Mask& mask, const std::string& text, float x, float baseline, float pixelHeight,
            float tracking = 0) const;
  // Draws centred horizontally on cx.
  void DrawCentred(Mask& mask, const std::string& text, float cx, float baseline,
                   float pixelHeight, float tracking = 0) const;

 private:
  std::vector<unsigned char> mData;
  std::vector<unsigned char> mInfo;  // stbtt_fontinfo, kept opaque here
};

// UTF-8 to code points; a broken sequence yields U+FFFD.
std::vector<int> CodePoints(const std::string& text);

}  // namespace content
