// Music streams: SDL output, mpg123 decoding, the audio library's results
// and error codes. The MP3 files are encoded here with lame; playback checks
// run on SDL's disk driver, which writes the mixed output to a file.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio.h"
#include "mp3_support.h"
#include "test_support.h"

namespace audio = platform::audio;
namespace fs = std::filesystem;
using velox_test::ScopedWorkDir;

namespace {

constexpr std::uint64_t kInvalid = ~std::uint64_t{0};
constexpr int kRate = 44100;

// Interleaved 16-bit samples.
using Pcm = std::vector<std::int16_t>;

// A rising tone on the left and a slower, swelling one on the right, so that
// every position and each channel looks different.
Pcm Tone(std::size_t frames, int rate, int channels) {
  Pcm pcm;
  pcm.reserve(frames * channels);
  double left = 0.0;
  double right = 0.0;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    left += 2.0 * M_PI * (300.0 + 600.0 * t) / rate;
    right += 2.0 * M_PI * (150.0 + 100.0 * t) / rate;
    pcm.push_back(static_cast<std::int16_t>(9000.0 * std::sin(left)));
    if (channels == 2) {
      pcm.push_back(static_cast<std::int16_t>((2000.0 + 3000.0 * t) * std::sin(right)));
    }
  }
  return pcm;
}

void WriteWav(const fs::path& path, const Pcm& pcm, int rate, int channels) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<std::uint32_t>(pcm.size() * 2);
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(static_cast<std::uint16_t>(channels));
  u32(static_cast<std::uint32_t>(rate));
  u32(static_cast<std::uint32_t>(rate * channels * 2));
  u16(static_cast<std::uint16_t>(channels * 2));
  u16(16);
  out.write("data", 4);
  u32(bytes);
  out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

// Encodes `pcm` to `mp3` (next to a WAV of the same name).
void Encode(const fs::path& mp3, const Pcm& pcm, int rate, int channels) {
  fs::path wav = mp3;
  wav.replace_extension(".wav");
  WriteWav(wav, pcm, rate, channels);
  const std::string command = "lame --quiet -b 128 '" + wav.string() + "' '" + mp3.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << "lame failed (scripts/setup installs it)";
}


Pcm ReadPcm(const fs::path& path) {
  const std::string bytes = velox_test::ReadFile(path);
  Pcm pcm(bytes.size() / 2);
  std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
  return pcm;
}

// The first frame of `haystack` from which `frames` frames equal
// `needle[from...]`, or -1.
long FindRun(const Pcm& haystack, const Pcm& needle, std::size_t from, std::size_t frames) {
  const std::size_t n = frames * 2;
  if (from * 2 + n > needle.size() || haystack.size() < n) return -1;
  for (std::size_t at = 0; at + n <= haystack.size(); at += 2) {
    if (std::equal(haystack.begin() + at, haystack.begin() + at + n, needle.begin() + from * 2)) {
      return static_cast<long>(at / 2);
    }
  }
  return -1;
}

bool AllSilent(const Pcm& pcm, std::size_t fromFrame, std::size_t toFrame) {
  for (std::size_t i = fromFrame * 2; i < toFrame * 2; ++i) {
    if (pcm[i] != 0) return false;
  }
  return true;
}

bool WaitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("AUDIODEV");
    UseDriver("dummy");
  }
  void TearDown() override {
    audio::Free();
    UseDriver("dummy");
  }

  static void UseDriver(const char* name) { setenv("SDL_AUDIODRIVER", name, 1); }

  // The disk driver, 2 ms per 1024-frame buffer: about twelve times real time.
  fs::path UseDiskOutput() {
    const fs::path raw = mDir.Path() / "output.raw";
    UseDriver("disk");
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "2", 1);
    return raw;
  }

  // A stereo 44.1 kHz MP3 of `frames` frames; returns its path.
  fs::path MakeMp3(const std::string& name, std::size_t frames) {
    mOriginal = Tone(frames, kRate, 2);
    const fs::path path = mDir.Path() / name;
    Encode(path, mOriginal, kRate, 2);
    return path;
  }

  static audio::Handle Open(const fs::path& path, std::uint32_t flags = 0) {
    return audio::StreamCreateFile(path.wstring(), 0, 0, flags);
  }

  ScopedWorkDir mDir{false};
  Pcm mOriginal;
};

TEST_F(AudioTest, VersionAndCallsBeforeInit) {
  EXPECT_EQ(audio::GetVersion() >> 16, 0x0203u);
  EXPECT_FALSE(audio::IsSilent());
  EXPECT_EQ(audio::StreamCreateFile(L"whatever.mp3", 0, 0, 0), 0u);
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorInit);
  EXPECT_FALSE(audio::ChannelPlay(1, false));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorInit);
  EXPECT_EQ(audio::ChannelGetPosition(1), kInvalid);
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorInit);
  EXPECT_FALSE(audio::Free());
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorInit);
}

TEST_F(AudioTest, InitTwiceFailsAndFreeAllowsAnotherInit) {
  const fs::path mp3 = MakeMp3("a.mp3", kRate / 2);
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kOk);
  EXPECT_TRUE(audio::IsSilent());  // the tests' dummy driver
  EXPECT_FALSE(audio::Init(-1, kRate, 0));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorAlready);

  const audio::Handle first = Open(mp3);
  ASSERT_NE(first, 0u);
  ASSERT_TRUE(audio::ChannelPlay(first, false));
  ASSERT_TRUE(audio::Free());
  EXPECT_EQ(audio::ErrorGetCode(), audio::kOk);
  EXPECT_FALSE(audio::ChannelPlay(first, false));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorInit);

  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  EXPECT_FALSE(audio::ChannelPlay(first, false));  // gone with the previous output
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
  const audio::Handle second = Open(mp3);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  ASSERT_TRUE(audio::ChannelPlay(second, false));
  EXPECT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(second) > 0; }));
}

TEST_F(AudioTest, DeviceChoiceAndSilentFallback) {
  const fs::path mp3 = MakeMp3("a.mp3", kRate);
  EXPECT_FALSE(audio::Init(1000, kRate, 0));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorDevice);
  EXPECT_FALSE(audio::Init(-2, kRate, 0));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorDevice);
  ASSERT_TRUE(audio::Init(0, kRate, 0));  // 0: no sound, but time runs
  EXPECT_TRUE(audio::IsSilent());
  ASSERT_TRUE(audio::Free());

  // ALSA loads but has no such device, as on a machine without a sound card.
  UseDriver("alsa");
  setenv("AUDIODEV", "velox_no_such_device", 1);
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  EXPECT_TRUE(audio::IsSilent());
  const audio::Handle stream = Open(mp3);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(audio::ChannelPlay(stream, false));
  EXPECT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(stream) > 0; }));
  ASSERT_TRUE(audio::Free());

  UseDriver("no_such_driver");
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  EXPECT_TRUE(audio::IsSilent());
  ASSERT_TRUE(audio::Free());

  UseDiskOutput();  // a driver that really produces output
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  EXPECT_FALSE(audio::IsSilent());
}

TEST_F(AudioTest, FilesThatAreNoMusicAreRefused) {
  const fs::path mp3 = MakeMp3("good.mp3", kRate / 2);
  const std::string music = velox_test::ReadFile(mp3);
  auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(mDir.Path() / name, std::ios::binary) << bytes;
    return mDir.Path() / name;
  };
  const fs::path empty = write("empty.mp3", "");
  const fs::path text = write("text.mp3", std::string(4000, 'x') + "not music at all\n");
  const fs::path cut = write("cut.mp3", music.substr(0, 40));
  std::string id3(10 + 200, '\0');  // an ID3v2 tag and nothing after it
  id3.replace(0, 10, std::string("ID3\x03\x00\x00\x00\x00\x01\x48", 10));
  const fs::path tagOnly = write("tag.mp3", id3);
  fs::path wav = mp3;
  wav.replace_extension(".wav");

  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  struct Case {
    fs::path path;
    int error;
  };
  for (const Case& c :
       {Case{mDir.Path() / "missing.mp3", audio::kErrorFileOpen},
        Case{mDir.Path(), audio::kErrorFileOpen}, Case{empty, audio::kErrorFileForm},
        Case{text, audio::kErrorFileForm}, Case{cut, audio::kErrorFileForm},
        Case{tagOnly, audio::kErrorFileForm}, Case{wav, audio::kErrorFileForm}}) {
    EXPECT_EQ(Open(c.path), 0u) << c.path;
    EXPECT_EQ(audio::ErrorGetCode(), c.error) << c.path;
  }
  // The window must hold the music: past the end of the file nothing does.
  EXPECT_EQ(audio::StreamCreateFile(mp3.wstring(), music.size(), 0, 0), 0u);
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorFileForm);

  EXPECT_NE(Open(mp3), 0u);
  EXPECT_EQ(audio::ErrorGetCode(), audio::kOk);
  // Music behind a large tag (cover art) is still music.
  std::string tag(10 + 300000, '\0');
  tag.replace(0, 10, std::string("ID3\x03\x00\x00\x00\x12\x27\x60", 10));  // 300000
  EXPECT_NE(Open(write("tagged.mp3", tag + music)), 0u);
  EXPECT_EQ(audio::ErrorGetCode(), audio::kOk);
}

TEST_F(AudioTest, StreamFromAWindowOfAFileAndAUnicodePath) {
  const std::size_t frames = kRate / 2 + 77;
  const fs::path mp3 = MakeMp3("plain.mp3", frames);
  const std::string music = velox_test::ReadFile(mp3);
  const std::string junk(3000, '\xff');  // sync bits everywhere: must stay unseen
  std::ofstream(mDir.Path() / "packed.bin", std::ios::binary) << junk << music << junk;
  const fs::path unicode = mDir.Path() / fs::u8path(u8"m\u00fcsik \u266a.mp3");
  fs::copy_file(mp3, unicode);

  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle packed =
      audio::StreamCreateFile((mDir.Path() / "packed.bin").wstring(), junk.size(), music.size(), 0);
  ASSERT_NE(packed, 0u);
  EXPECT_EQ(audio::ChannelGetLength(packed), frames * 4);
  const audio::Handle named = audio::StreamCreateFile(std::wstring(L"m\u00fcsik \u266a.mp3"), 0, 0,
                                                      0);  // relative to the work dir
  ASSERT_NE(named, 0u);
  EXPECT_EQ(audio::ChannelGetLength(named), frames * 4);
}

TEST_F(AudioTest, BadHandlesAndParameters) {
  const fs::path mp3 = MakeMp3("a.mp3", kRate / 2);
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle stream = Open(mp3);
  ASSERT_NE(stream, 0u);

  for (const audio::Handle bad : {audio::Handle{0}, stream + 1, audio::Handle{0xFFFFFFFF}}) {
    EXPECT_FALSE(audio::ChannelPlay(bad, false));
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
    EXPECT_FALSE(audio::ChannelPause(bad));
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
    EXPECT_FALSE(audio::ChannelStop(bad));
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
    EXPECT_FALSE(audio::ChannelSetPosition(bad, 0));
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
    EXPECT_EQ(audio::ChannelGetPosition(bad), kInvalid);
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
    EXPECT_EQ(audio::ChannelGetLength(bad), kInvalid);
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
    EXPECT_EQ(audio::ChannelSeconds2Bytes(bad, 1.0f), kInvalid);
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
  }

  EXPECT_EQ(audio::ChannelSeconds2Bytes(stream, 1.5f), 66150u * 4);
  EXPECT_EQ(audio::ErrorGetCode(), audio::kOk);
  EXPECT_EQ(audio::ChannelSeconds2Bytes(stream, 0.1f), 4410u * 4);  // not 4409
  EXPECT_EQ(audio::ChannelSeconds2Bytes(stream, 0.0f), 0u);
  EXPECT_EQ(audio::ChannelSeconds2Bytes(stream, 1000.0f), 44100000u * 4);  // past the end
  // 999.99994 s: a product in float would round to 44099996 frames.
  EXPECT_EQ(audio::ChannelSeconds2Bytes(stream, std::nextafter(1000.0f, 0.0f)), 44099997u * 4);
  for (const float bad : {-0.001f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(audio::ChannelSeconds2Bytes(stream, bad), kInvalid) << bad;
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorIllegalParameter) << bad;
  }
}

TEST_F(AudioTest, LengthIsExactAndSeeksStayInsideTheStream) {
  const std::size_t frames = 57331;  // 1.3 s, no whole number of MPEG frames
  const fs::path mp3 = MakeMp3("a.mp3", frames);
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle stream = Open(mp3);
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(audio::ChannelGetLength(stream), frames * 4);  // encoder delay and padding removed
  EXPECT_EQ(audio::ChannelGetPosition(stream), 0u);

  ASSERT_TRUE(audio::ChannelSetPosition(stream, 1000 * 4 + 3));  // rounds down to a frame
  EXPECT_EQ(audio::ChannelGetPosition(stream), 1000u * 4);
  for (const std::uint64_t bad : {std::uint64_t{frames * 4}, std::uint64_t{frames * 4 + 2},
                                  std::uint64_t{frames * 40}, kInvalid}) {
    EXPECT_FALSE(audio::ChannelSetPosition(stream, bad)) << bad;
    EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorPosition) << bad;
    EXPECT_EQ(audio::ChannelGetPosition(stream), 1000u * 4) << bad;
  }
  EXPECT_TRUE(audio::ChannelSetPosition(stream, (frames - 1) * 4));  // the last frame
  EXPECT_EQ(audio::ChannelGetPosition(stream), (frames - 1) * 4);
}

TEST_F(AudioTest, PlaybackAfterASeekIsTheMusicAtThatSample) {
  const fs::path raw = UseDiskOutput();
  const std::size_t frames = 2 * kRate;
  const fs::path mp3 = MakeMp3("a.mp3", frames);
  const Pcm reference = velox_test::DecodeMp3(mp3);
  ASSERT_EQ(reference.size(), frames * 2);

  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle stream = Open(mp3);
  ASSERT_NE(stream, 0u);
  const std::size_t seek = 54321;  // inside an MPEG frame
  ASSERT_TRUE(audio::ChannelSetPosition(stream, seek * 4));
  ASSERT_TRUE(audio::ChannelPlay(stream, false));
  const std::size_t played = 8192;
  ASSERT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(stream) >= (seek + played) * 4; }));
  ASSERT_TRUE(audio::ChannelStop(stream));
  ASSERT_TRUE(audio::Free());  // closes the output file

  const Pcm out = ReadPcm(raw);
  const long start = FindRun(out, reference, seek, 64);
  ASSERT_GE(start, 0) << "the music at the seek position never played";
  EXPECT_TRUE(AllSilent(out, 0, start)) << "something played before the music";
  ASSERT_GE(out.size(), (start + played) * 2);
  EXPECT_TRUE(std::equal(out.begin() + start * 2, out.begin() + (start + played) * 2,
                         reference.begin() + seek * 2));

  // And it is the original tone there, not a neighbouring stretch of it.
  auto error = [&](long lag) {
    double sum = 0.0;
    for (std::size_t i = 0; i < played * 2; ++i) {
      const double d = out[start * 2 + i] - mOriginal[(seek + lag) * 2 + i];
      sum += d * d;
    }
    return sum;
  };
  const double exact = error(0);
  for (const long lag : {-40L, -8L, -1L, 1L, 8L, 40L}) EXPECT_LT(exact, error(lag)) << lag;
}

TEST_F(AudioTest, PauseKeepsThePositionAndPlayContinuesFromIt) {
  const fs::path raw = UseDiskOutput();
  const fs::path mp3 = MakeMp3("a.mp3", 2 * kRate);
  const Pcm reference = velox_test::DecodeMp3(mp3);

  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle stream = Open(mp3);
  ASSERT_NE(stream, 0u);
  ASSERT_TRUE(audio::ChannelPlay(stream, false));
  ASSERT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(stream) >= 4096 * 4; }));
  ASSERT_TRUE(audio::ChannelPause(stream));
  const std::uint64_t paused = audio::ChannelGetPosition(stream);
  EXPECT_GE(paused, 4096u * 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));  // about 20 buffers
  EXPECT_EQ(audio::ChannelGetPosition(stream), paused);

  ASSERT_TRUE(audio::ChannelPlay(stream, false));
  ASSERT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(stream) >= paused + 4096 * 4; }));
  ASSERT_TRUE(audio::ChannelStop(stream));
  const std::uint64_t stopped = audio::ChannelGetPosition(stream);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(audio::ChannelGetPosition(stream), stopped);
  ASSERT_TRUE(audio::Free());

  // The output: silence, the music up to the pause, silence, then the music
  // again from exactly where it paused; no sample lost or repeated.
  const Pcm out = ReadPcm(raw);
  const std::size_t first = paused / 4;
  const std::size_t second = (stopped - paused) / 4;
  const long a = FindRun(out, reference, 0, first);
  ASSERT_GE(a, 0);
  EXPECT_TRUE(AllSilent(out, 0, a));
  const Pcm rest(out.begin() + (a + first) * 2, out.end());
  const long b = FindRun(rest, reference, first, second);
  ASSERT_GE(b, 0) << "playback did not continue at the paused sample";
  EXPECT_GT(b, 0) << "no silence while paused";
  EXPECT_TRUE(AllSilent(rest, 0, b));

  // Restart plays from the beginning.
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle again = Open(mp3);
  ASSERT_NE(again, 0u);
  ASSERT_TRUE(audio::ChannelSetPosition(again, 40000 * 4));
  ASSERT_TRUE(audio::ChannelPlay(again, true));
  EXPECT_LT(audio::ChannelGetPosition(again), 40000u * 4);
}

TEST_F(AudioTest, MonoAt22kHzIsResampledToStereoAtTheOutputRate) {
  const fs::path raw = UseDiskOutput();
  const std::size_t frames = kRate / 2;  // one second at 22050 Hz
  const fs::path mp3 = mDir.Path() / "mono.mp3";
  Encode(mp3, Tone(frames, kRate / 2, 1), kRate / 2, 1);

  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle stream = Open(mp3);
  ASSERT_NE(stream, 0u);
  const std::uint64_t length = audio::ChannelGetLength(stream);
  // Within the rounding of mpg123's rate converter.
  EXPECT_NEAR(static_cast<double>(length) / 4, 2.0 * frames, 2.0) << length;
  ASSERT_TRUE(audio::ChannelPlay(stream, false));
  ASSERT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(stream) >= 8192 * 4; }));
  ASSERT_TRUE(audio::Free());

  const Pcm out = ReadPcm(raw);
  std::size_t loud = 0;
  for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
    ASSERT_EQ(out[i], out[i + 1]) << "mono is not on both channels at frame " << i / 2;
    if (std::abs(out[i]) > 4000) ++loud;
  }
  EXPECT_GT(loud, 1000u);  // the tone itself, not silence
}

TEST_F(AudioTest, StreamEndsAtItsLengthAndAnAutoFreeStreamIsGone) {
  UseDiskOutput();
  const std::size_t frames = kRate / 2;
  const fs::path mp3 = MakeMp3("a.mp3", frames);
  ASSERT_TRUE(audio::Init(-1, kRate, 0));
  const audio::Handle kept = Open(mp3);
  const audio::Handle gone = Open(mp3, audio::kStreamAutoFree);
  ASSERT_NE(kept, 0u);
  ASSERT_NE(gone, 0u);
  EXPECT_EQ(audio::ChannelGetLength(gone), frames * 4);
  ASSERT_TRUE(audio::ChannelPlay(kept, false));
  ASSERT_TRUE(audio::ChannelPlay(gone, false));

  EXPECT_TRUE(WaitUntil([&] {
    return audio::ChannelGetPosition(gone) == kInvalid &&
           audio::ErrorGetCode() == audio::kErrorHandle;
  }));
  EXPECT_FALSE(audio::ChannelPlay(gone, true));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);
  EXPECT_FALSE(audio::ChannelSetPosition(gone, 0));
  EXPECT_EQ(audio::ErrorGetCode(), audio::kErrorHandle);

  // Without auto-free the stream stays, stopped at its end.
  EXPECT_TRUE(WaitUntil([&] { return audio::ChannelGetPosition(kept) == frames * 4; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(audio::ChannelGetPosition(kept), frames * 4);
  ASSERT_TRUE(audio::ChannelPlay(kept, true));
  EXPECT_LT(audio::ChannelGetPosition(kept), frames * 4);
}

}  // namespace
