#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace velox_test {

// A 16-bit PCM WAV of a tone whose pitch rises with time, so that every
// position sounds different.
inline bool WriteToneWav(const std::string& path, double seconds, int rate, int channels) {
  const auto frames = static_cast<std::uint32_t>(seconds * rate);
  std::vector<std::int16_t> samples;
  samples.reserve(static_cast<std::size_t>(frames) * channels);
  double phase = 0.0;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    phase += 2.0 * 3.14159265358979 * (220.0 + 200.0 * t) / rate;
    const auto value = static_cast<std::int16_t>(12000.0 * std::sin(phase));
    for (int c = 0; c < channels; ++c) samples.push_back(c == 0 ? value : static_cast<std::int16_t>(value / 2));
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
  const std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::fwrite("RIFF", 1, 4, f), u32(36 + bytes), std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16), u16(1), u16(static_cast<std::uint16_t>(channels)), u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate * channels * 2)), u16(static_cast<std::uint16_t>(channels * 2)), u16(16);
  std::fwrite("data", 1, 4, f), u32(bytes);
  std::fwrite(samples.data(), 2, samples.size(), f);
  return std::fclose(f) == 0;
}

// Encodes a tone to MP3 with the lame encoder.
inline bool MakeToneMp3(const std::string& path, double seconds, int rate = 44100, int channels = 2) {
  const std::string wav = path + ".wav";
  if (!WriteToneWav(wav, seconds, rate, channels)) return false;
  const std::string command = "lame --quiet -b 128 '" + wav + "' '" + path + "'";
  const bool ok = std::system(command.c_str()) == 0;
  std::remove(wav.c_str());
  return ok;
}

}  // namespace velox_test
