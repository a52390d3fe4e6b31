// picdiff: how far two pictures of the same size are apart, for checking
// that a change to the renderer or the content keeps the look.
//   picdiff A.png B.png [DIFF.png]
// prints "psnr <dB> max <levels> differ <percent of pixels off by more than 8>"
// (psnr "inf" for equal pictures) and writes the amplified difference to
// DIFF.png when given. Exit code 0 when compared, 2 for unreadable input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/image.h"

namespace {

bool Load(const char* path, platform::image::Image& image) {
  std::string error;
  const std::string narrow(path);
  if (!platform::image::LoadFile(std::wstring(narrow.begin(), narrow.end()), image, error) ||
      !platform::image::ConvertToA8R8G8B8(image, error) || image.faces.empty() ||
      image.faces[0].empty()) {
    std::fprintf(stderr, "picdiff: cannot read %s: %s\n", path, error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: picdiff A.png B.png [DIFF.png]\n");
    return 2;
  }
  platform::image::Image a, b;
  if (!Load(argv[1], a) || !Load(argv[2], b)) return 2;
  const auto& la = a.faces[0][0];
  const auto& lb = b.faces[0][0];
  if (la.width != lb.width || la.height != lb.height) {
    std::fprintf(stderr, "picdiff: sizes differ: %dx%d and %dx%d\n", la.width, la.height, lb.width,
                 lb.height);
    return 2;
  }
  const std::size_t pixels = static_cast<std::size_t>(la.width) * static_cast<std::size_t>(la.height);
  std::vector<std::uint32_t> diff(pixels);
  double squares = 0;
  int worst = 0;
  std::size_t off = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    int pixelWorst = 0;
    std::uint32_t out = 0xFF000000u;
    for (int c = 0; c < 3; ++c) {  // B, G, R; alpha is not part of the look
      const int d = std::abs(static_cast<int>(la.bytes[4 * i + c]) - static_cast<int>(lb.bytes[4 * i + c]));
      squares += static_cast<double>(d) * d;
      pixelWorst = std::max(pixelWorst, d);
      out |= static_cast<std::uint32_t>(std::min(255, d * 8)) << (8 * c);
    }
    worst = std::max(worst, pixelWorst);
    off += pixelWorst > 8 ? 1 : 0;
    diff[i] = out;
  }
  const double mse = squares / (3.0 * static_cast<double>(pixels));
  char psnr[32] = "inf";
  if (mse > 0) std::snprintf(psnr, sizeof psnr, "%.2f", 10.0 * std::log10(255.0 * 255.0 / mse));
  std::printf("psnr %s max %d differ %.3f\n", psnr, worst,
              100.0 * static_cast<double>(off) / static_cast<double>(std::max<std::size_t>(pixels, 1)));
  if (argc == 4) {
    std::string error;
    const std::string narrow(argv[3]);
    if (!platform::image::SavePng(std::wstring(narrow.begin(), narrow.end()), la.width, la.height,
                                  diff.data(), static_cast<std::size_t>(la.width) * 4, error)) {
      std::fprintf(stderr, "picdiff: cannot write %s: %s\n", argv[3], error.c_str());
      return 2;
    }
  }
  return 0;
}
