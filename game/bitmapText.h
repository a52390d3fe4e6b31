#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

// Text in a small bitmap font as filled rectangles, so that it can be drawn
// with rectangle clears on the device or into a picture in memory.
struct TextRect {
  int left, top, right, bottom;
};

// The rectangles of text with its top-left corner at (x, y), each font
// pixel scale x scale; '\n' starts a new line.
std::vector<TextRect> TextRects(const std::string& text, int x, int y, int scale);
int TextWidth(const std::string& text, int scale);
int TextHeight(const std::string& text, int scale);

// An RGB picture in memory, rows from the top, 3 bytes a pixel.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;

  Picture() = default;
  Picture(int w, int h) : width(w), height(h), rgb(static_cast<std::size_t>(w) * h * 3, 0) {}
  void Fill(const TextRect& r, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
};

// Encodes a picture as PNG and writes it to path through a temporary name,
// so that an interrupted write never leaves a broken file under path.
bool WritePng(const Picture& picture, const std::string& path, std::string* error);

}  // namespace demo
