#include "game/bitmapText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_easy_font.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace demo {

namespace {

// stb's vertex: x, y, z and a colour, four to a quad.
struct Vertex {
  float x, y, z;
  std::uint8_t colour[4];
};

}  // namespace

std::vector<TextRect> TextRects(const std::string& text, int x, int y, int scale) {
  // About 270 bytes a character, by stb's own estimate; twice that is safe.
  std::vector<Vertex> vertices((text.size() + 1) * 40);
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  const int quads = stb_easy_font_print(0, 0, copy.data(), nullptr, vertices.data(),
                                        static_cast<int>(vertices.size() * sizeof(Vertex)));
  std::vector<TextRect> rects;
  rects.reserve(static_cast<std::size_t>(quads));
  for (int q = 0; q < quads; ++q) {
    const Vertex& a = vertices[4 * q];
    const Vertex& c = vertices[4 * q + 2];
    rects.push_back({x + static_cast<int>(a.x) * scale, y + static_cast<int>(a.y) * scale,
                     x + static_cast<int>(c.x) * scale, y + static_cast<int>(c.y) * scale});
  }
  return rects;
}

int TextWidth(const std::string& text, int scale) {
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  return stb_easy_font_width(copy.data()) * scale;
}

int TextHeight(const std::string& text, int scale) {
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  return stb_easy_font_height(copy.data()) * scale;
}

void Picture::Fill(const TextRect& r, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const int left = std::max(r.left, 0), right = std::min(r.right, width);
  const int top = std::max(r.top, 0), bottom = std::min(r.bottom, height);
  for (int y = top; y < bottom; ++y) {
    std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + left) * 3];
    for (int x = left; x < right; ++x, p += 3) {
      p[0] = red;
      p[1] = green;
      p[2] = blue;
    }
  }
}

bool WritePng(const Picture& picture, const std::string& path, std::string* error) {
  const std::string temporary = path + ".part";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write " + temporary;
    return false;
  }
  struct Sink {
    std::FILE* file;
    bool ok = true;
  } sink{file};
  const auto write = [](void* context, void* data, int size) {
    auto* s = static_cast<Sink*>(context);
    s->ok = s->ok && std::fwrite(data, 1, static_cast<std::size_t>(size), s->file) ==
                         static_cast<std::size_t>(size);
  };
  const bool encoded = stbi_write_png_to_func(write, &sink, picture.width, picture.height, 3,
                                              picture.rgb.data(), picture.width * 3) != 0;
  const bool closed = std::fclose(file) == 0;
  std::error_code ec;
  if (!encoded || !sink.ok || !closed) {
    std::filesystem::remove(temporary, ec);
    *error = "cannot write " + path + " (disk full?)";
    return false;
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    *error = "cannot rename " + temporary + " to " + path;
    return false;
  }
  return true;
}

}  // namespace demo
