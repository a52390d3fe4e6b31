// musicgen: renders the demo's music, encodes it to MP3 and writes the beat
// curve that the field of view follows.
//
//   musicgen --mp3 FILE --curve FILE [--wav FILE] [--report]
//
// --wav also writes the 16-bit PCM (for listening and spectrograms);
// --report measures the rendering (loudness, true peak, onsets, sections).

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "content/music/analysis.h"
#include "content/music/mp3.h"
#include "content/music/score.h"
#include "content/music/song.h"

namespace {

constexpr float kVbrQuality = 2.0f;
// Largest curve value: the field of view 0.7853982 - y * 0.009 stays above
// 0.47 rad.
constexpr double kCurvePeak = 35.0;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Written next to the target and renamed over it, so that a failed run never
// leaves a half-written file that looks up to date.
void WriteFile(const std::string& path, const void* data, size_t size) {
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
  }
  std::filesystem::rename(temporary, target);
}

std::vector<unsigned char> Wav16(const std::vector<float>& left, const std::vector<float>& right) {
  std::vector<unsigned char> out;
  const auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  const auto u16 = [&](std::uint16_t v) {
    out.push_back(static_cast<unsigned char>(v)), out.push_back(static_cast<unsigned char>(v >> 8));
  };
  const std::uint32_t bytes = static_cast<std::uint32_t>(left.size() * 4);
  out.insert(out.end(), {'R', 'I', 'F', 'F'}), u32(36 + bytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  u32(16), u16(1), u16(2), u32(music::kSampleRate), u32(music::kSampleRate * 4), u16(4), u16(16);
  out.insert(out.end(), {'d', 'a', 't', 'a'}), u32(bytes);
  for (size_t i = 0; i < left.size(); ++i) {
    for (float v : {left[i], right[i]}) {
      const float clamped = std::fmax(-1.0f, std::fmin(1.0f, v));
      u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(clamped * 32767.0f))));
    }
  }
  return out;
}

void Report(const music::Rendering& r) {
  std::printf("  integrated loudness %.2f LUFS, true peak %.2f dBTP, DC %.2e\n",
              music::IntegratedLoudness(r.left, r.right, music::kSampleRate), music::TruePeakDb(r.left, r.right),
              music::DcOffset(r.left, r.right));
  const double sections[] = {0, 8, 16, 32, 48, 52, 56, 72, 88, 96, 100, 116, 132, 144, 154};
  for (size_t s = 0; s + 1 < std::size(sections); ++s) {
    const size_t from = static_cast<size_t>(sections[s] * music::kSampleRate);
    const size_t to = std::min(r.left.size(), static_cast<size_t>(sections[s + 1] * music::kSampleRate));
    if (from >= to) break;
    const std::vector<float> l(r.left.begin() + from, r.left.begin() + to);
    const std::vector<float> rr(r.right.begin() + from, r.right.begin() + to);
    std::printf("  %5.0f-%3.0f s: %6.2f LUFS\n", sections[s], sections[s + 1],
                music::IntegratedLoudness(l, rr, music::kSampleRate));
  }
  double worst = 0.0;
  for (double t : music::kHighPitchTimes) {
    double rise = 0.0;
    const double at = music::FindOnset(r.left, r.right, music::kSampleRate, t, 0.02, &rise);
    worst = std::fmax(worst, std::fabs(at - t));
    std::printf("  high pitch %6.2f s: onset %+.2f ms, rise %.1f dB\n", t, (at - t) * 1000.0, rise);
  }
  std::printf("  largest onset error %.2f ms\n", worst * 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mp3Path, curvePath, wavPath;
  bool report = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--report") {
      report = true;
    } else if ((arg == "--mp3" || arg == "--curve" || arg == "--wav") && i + 1 < argc) {
      (arg == "--mp3" ? mp3Path : arg == "--curve" ? curvePath : wavPath) = argv[++i];
    } else {
      std::fprintf(stderr, "usage: musicgen --mp3 FILE --curve FILE [--wav FILE] [--report]\n");
      return 2;
    }
  }
  if (mp3Path.empty() || curvePath.empty()) {
    std::fprintf(stderr, "usage: musicgen --mp3 FILE --curve FILE [--wav FILE] [--report]\n");
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    const music::Song song = music::DemoSong();
    const music::Rendering rendering = music::RenderSong(song);
    const double renderSeconds = Seconds(start);

    const auto encodeStart = std::chrono::steady_clock::now();
    const std::vector<unsigned char> mp3 = music::EncodeMp3(rendering.left, rendering.right, kVbrQuality);
    const double encodeSeconds = Seconds(encodeStart);
    WriteFile(mp3Path, mp3.data(), mp3.size());

    const std::vector<music::Knot> knots =
        music::BeatCurve(rendering.beat, music::kSampleRate, kCurvePeak, 0.25);
    std::string curve;
    char line[64];
    for (const music::Knot& k : knots) {
      std::snprintf(line, sizeof line, "%d %.4f\n", k.frame, k.y);
      curve += line;
    }
    WriteFile(curvePath, curve.data(), curve.size());
    if (!wavPath.empty()) {
      const std::vector<unsigned char> wav = Wav16(rendering.left, rendering.right);
      WriteFile(wavPath, wav.data(), wav.size());
    }

    const double seconds = static_cast<double>(rendering.left.size()) / music::kSampleRate;
    std::printf("musicgen: %.1f s of music rendered in %.2f s, encoded in %.2f s (%.0f kbit/s), %zu curve knots\n",
                seconds, renderSeconds, encodeSeconds, static_cast<double>(mp3.size()) * 8.0 / seconds / 1000.0,
                knots.size());
    if (report) Report(rendering);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "musicgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
