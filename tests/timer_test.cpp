// The clock module and the music that follows it.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "audio_support.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/timer.h"
#include "platform/audio.h"
#include "platform/system.h"
#include "test_support.h"

using engine::core::Exception;
using engine::core::Timer;
namespace audio = platform::audio;

namespace {

constexpr double kBytesPerSecond = 44100.0 * 4;

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    velox_test::CloseLog();
    platform::EnableTestClock(true);
  }
  void TearDown() override {
    delete Timer::Get();
    audio::Free();
    platform::EnableTestClock(false);
  }

  void StartWithMusic(double seconds = 8.0) {
    ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", seconds));
    ASSERT_TRUE(Timer::Get()->Start());
    ASSERT_NE(Timer::Get()->Stream(), 0u);
  }

  // Music position in seconds.
  double MusicTime() {
    return static_cast<double>(audio::ChannelGetPosition(Timer::Get()->Stream())) /
           kBytesPerSecond;
  }

  void Frame(double seconds) {
    platform::AdvanceTestClock(seconds);
    Timer::Get()->Update();
  }

  velox_test::ScopedWorkDir mDir;
};

TEST_F(TimerTest, TimeRunsFromTheStartOfTheMusic) {
  StartWithMusic();
  EXPECT_EQ(engine::GetTime(), 0.0);  // before the first update
  Frame(0.004);
  EXPECT_NEAR(engine::GetTime(), 0.004, 1e-9);
  EXPECT_NEAR(engine::GetSinceLast(), 0.004, 1e-9);
  Frame(0.016);
  EXPECT_NEAR(engine::GetTime(), 0.020, 1e-9);
  EXPECT_NEAR(engine::GetSinceLast(), 0.016, 1e-9);
  EXPECT_EQ(Timer::Get()->Name(), L"Timer");
  EXPECT_EQ(Timer::Get()->Priority(), 10);
}

TEST_F(TimerTest, MusicIsRepositionedOnlyAfterAFrameLongerThanASecond) {
  StartWithMusic();
  Frame(0.5);
  const double before = MusicTime();  // real playback since the start
  Frame(1.0);                         // exactly one second: left alone
  EXPECT_LT(std::fabs(MusicTime() - before), 0.5);
  Frame(1.01);  // a stall: the music jumps to the clock
  EXPECT_NEAR(MusicTime(), 2.51, 0.3);
  EXPECT_NEAR(engine::GetSinceLast(), 1.01, 1e-9);
}

TEST_F(TimerTest, AdvanceTimeMovesClockAndMusicOnlyBeyondASecond) {
  StartWithMusic();
  Frame(0.1);
  engine::AdvanceTime(2.0);
  Frame(0.01);
  EXPECT_NEAR(engine::GetTime(), 2.11, 1e-9);
  EXPECT_NEAR(engine::GetSinceLast(), 2.01, 1e-9);
  EXPECT_NEAR(MusicTime(), 2.11, 0.3);

  const double music = MusicTime();
  engine::AdvanceTime(0.5);
  Frame(0.01);
  EXPECT_NEAR(engine::GetTime(), 2.62, 1e-9);
  EXPECT_LT(std::fabs(MusicTime() - music), 0.4);  // not moved by half a second
  engine::AdvanceTime(-1.5);  // back in time, beyond a second: no reposition
  Frame(0.01);
  EXPECT_NEAR(engine::GetTime(), 1.13, 1e-9);
}

TEST_F(TimerTest, PauseAndResumeRemoveThePausedSpan) {
  StartWithMusic();
  Frame(1.0);
  Timer::Get()->Pause();
  EXPECT_TRUE(Timer::Get()->Paused());
  EXPECT_EQ(engine::GetSinceLast(), 0.0);
  Frame(3.0);  // nothing moves while paused
  EXPECT_NEAR(engine::GetTime(), 1.0, 1e-9);
  const double music = MusicTime();
  Timer::Get()->Resume();
  EXPECT_FALSE(Timer::Get()->Paused());
  EXPECT_NEAR(engine::GetTime(), 1.0, 1e-6);
  EXPECT_LT(std::fabs(MusicTime() - music), 0.3);  // the music did not jump either
  Frame(0.02);
  EXPECT_NEAR(engine::GetTime(), 1.02, 1e-6);

  Timer::Get()->Resume();  // not paused: nothing changes
  EXPECT_NEAR(engine::GetTime(), 1.02, 1e-6);
}

TEST_F(TimerTest, PositionPastTheEndIsReportedOnce) {
  StartWithMusic(2.0);
  Frame(0.1);
  engine::AdvanceTime(5.0);
  platform::AdvanceTestClock(0.01);
  try {
    Timer::Get()->Update();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"illegal position");
  }
  // The next frame is an ordinary one, not a second report.
  EXPECT_NO_THROW(Frame(0.02));
  EXPECT_NEAR(engine::GetTime(), 5.13, 1e-9);
}

TEST_F(TimerTest, MissingMusicIsAFailedStartAndTheClockRunsAnyway) {
  velox_test::MessageBoxRecorder boxes;
  engine::core::Kernel::Get()->AddModule(Timer::Get(), 7);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, L"Failed to load music file. Sorry.");
  Frame(0.25);
  EXPECT_NEAR(engine::GetTime(), 0.25, 1e-9);
  Timer::Get()->Stop();  // no stream: harmless
  const std::string rows = velox_test::CloseLogAndReadRows(mDir.Path());
  EXPECT_NE(rows.find("Failed to load music file. Sorry."), std::string::npos);
  EXPECT_NE(rows.find("Failed to start moduleTimer"), std::string::npos);
  delete engine::core::Kernel::Get();
}

TEST_F(TimerTest, CorruptMusicFileIsAFailedStartToo) {
  std::FILE* f = std::fopen("data/xt_tunefordemo.mp3", "wb");
  std::fputs("not music at all", f);
  std::fclose(f);
  EXPECT_THROW(Timer::Get()->Start(), Exception);
  Frame(0.5);
  EXPECT_NEAR(engine::GetTime(), 0.5, 1e-9);
}

// A new version of the music goes on from the clock's sample; one that
// does not open leaves the playing one; the old one is freed, not kept.
TEST_F(TimerTest, ReloadedMusicPlaysOnFromTheClocksSample) {
  StartWithMusic();
  Frame(0.5);
  Timer::Get()->Pause();
  Timer::Get()->Seek(2.5);
  const std::uint32_t first = Timer::Get()->Stream();
  ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", 6.0));
  std::string error;
  ASSERT_TRUE(Timer::Get()->ReloadMusic(&error)) << error;
  EXPECT_NE(Timer::Get()->Stream(), first);
  EXPECT_EQ(audio::ChannelGetLength(first), ~std::uint64_t{0});  // freed
  EXPECT_EQ(audio::ChannelGetPosition(Timer::Get()->Stream()), 110250u * 4);  // 2.5 * 44100
  EXPECT_EQ(audio::ChannelGetLength(Timer::Get()->Stream()), 264600u * 4);
  EXPECT_TRUE(Timer::Get()->Paused());
  EXPECT_EQ(engine::GetTime(), 2.5);

  const std::uint32_t good = Timer::Get()->Stream();
  velox_test::WriteText("data/xt_tunefordemo.mp3", "not music");
  EXPECT_FALSE(Timer::Get()->ReloadMusic(&error));
  EXPECT_NE(error.find("does not open"), std::string::npos) << error;
  EXPECT_EQ(Timer::Get()->Stream(), good);
  EXPECT_EQ(audio::ChannelGetPosition(good), 110250u * 4);
}

}  // namespace

TEST_F(TimerTest, ExactStepsWhateverTheRealTimeAndTheMusicNeverPlays) {
  Timer::Get()->StepExactly(2.0, 25);
  StartWithMusic();
  for (int n = 0; n < 100; ++n) {
    Frame(n % 3 == 0 ? 1.7 : 0.001);  // real frames long and short
    ASSERT_EQ(engine::GetTime(), 2.0 + n / 25.0) << n;
    ASSERT_NEAR(engine::GetSinceLast(), 0.04, 1e-12) << n;
  }
  EXPECT_EQ(MusicTime(), 0.0);  // opened, never played, never moved
  Timer::Get()->Seek(10.0);
  Frame(0.3);
  EXPECT_EQ(engine::GetTime(), 10.0);
  Frame(0.3);
  EXPECT_EQ(engine::GetTime(), 10.04);
  Timer::Get()->RepeatFrame();  // a frame that was not drawn comes again, as if once
  Frame(0.3);
  EXPECT_EQ(engine::GetTime(), 10.04);
  EXPECT_EQ(engine::GetSinceLast(), 0.0);
  Frame(0.3);
  EXPECT_EQ(engine::GetTime(), 10.08);
}

TEST_F(TimerTest, MusicThatPlayedToItsEndAndFreedItselfPlaysAgainAfterASeekBack) {
  StartWithMusic(0.3);
  const std::uint32_t first = Timer::Get()->Stream();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (audio::ChannelGetLength(first) != ~std::uint64_t{0} && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(audio::ChannelGetLength(first), ~std::uint64_t{0}) << "the music never ended";
  Timer::Get()->Seek(0.1);
  ASSERT_NE(Timer::Get()->Stream(), 0u);
  EXPECT_NE(Timer::Get()->Stream(), first);
  EXPECT_GE(MusicTime(), 0.1);
  EXPECT_LT(MusicTime(), 0.3);
}

TEST_F(TimerTest, SeekPutsTheClockAndTheMusicOnTheSameSample) {
  StartWithMusic();
  Frame(0.5);
  Timer::Get()->Pause();
  Timer::Get()->Seek(3.21);
  EXPECT_EQ(engine::GetTime(), 3.21);
  EXPECT_EQ(engine::GetSinceLast(), 0.0);
  EXPECT_TRUE(Timer::Get()->Paused());
  EXPECT_EQ(audio::ChannelGetPosition(Timer::Get()->Stream()), 141561u * 4);  // 3.21 * 44100
  Frame(2.0);  // paused: no time passes
  EXPECT_EQ(engine::GetTime(), 3.21);
  Timer::Get()->Resume();
  Frame(0.25);
  EXPECT_NEAR(engine::GetTime(), 3.46, 1e-9);
  EXPECT_NEAR(engine::GetSinceLast(), 0.25, 1e-9);  // no jump for the music to follow

  // Past the music's end the clock goes on in silence; back inside, the
  // music plays again from the clock's sample.
  EXPECT_NO_THROW(Timer::Get()->Seek(20.0));
  Frame(0.1);
  EXPECT_NEAR(engine::GetTime(), 20.1, 1e-9);
  Timer::Get()->Seek(-5.0);
  EXPECT_EQ(engine::GetTime(), 0.0);
  Timer::Get()->Seek(2.0);
  EXPECT_GE(MusicTime(), 2.0);
  EXPECT_LT(MusicTime(), 2.5);
}
