// Recording and making-of: the option parser's refusals, the controls'
// seeks and loop with the music they move (checked on SDL's disk driver),
// and recordings that give the same pictures every time, equal to what the
// plain renderer shows at those times.

#include <array>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "audio_support.h"
#include "mp3_support.h"
#include "engine/effectPool.h"
#include "engine/input.h"
#include "engine/kernel.h"
#include "engine/mesh.h"
#include "engine/renderer.h"
#include "engine/sceneNodes.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/capture.h"
#include "game/controls.h"
#include "game/entry.h"
#include "game/options.h"
#include "game/video.h"
#include "game/workQueue.h"
#include "platform/gl/glGraphics.h"
#include "gl_support.h"
#include "platform/audio.h"
#include "platform/graphics.h"
#include "platform/image.h"
#include "platform/system.h"
#include "test_support.h"

namespace fs = std::filesystem;
using velox_test::ScopedWorkDir;
using velox_test::WriteText;

namespace {

TEST(OptionsTest, BadInputIsRefusedBeforeAnyWorkWithExitCodeTwo) {
  ScopedWorkDir dir;
  const struct {
    const char* line;
    const char* says;
  } cases[] = {
      {"nodialog --bogus", "unknown option --bogus"},
      {"--frames=f --size=0x600", "out of range"},
      {"--frames=f --size=8193x600", "out of range"},
      {"--frames=f --size=800", "WIDTHxHEIGHT"},
      {"--frames=f --fps=0", "--fps"},
      {"--frames=f --fps=2.5", "--fps"},
      {"--frames=f --from=5 --to=2", "--to must be after --from"},
      {"--frames=f --from=-1", "--from"},
      {"--frames=f --sheet=s.png --sheet-every=0", "--sheet-every"},
      {"--video", "needs a value"},
      {"--bench=3", "takes no value"},
      {"--loop=5:2", "ends before"},
      {"--bench --video=v.mp4", "--bench"},
      {"--controls --frames=f", "--controls"},
      {"nodialog --from=3", "need a recording"},
      {"nodialog --fps=30", "recordings"},
      {"--video=v.mp4 --segment=0.3", "whole number of frames"},
      {"--frames=f --segment=2", "--segment is for --video"},
      {"--repeat=0", "--repeat needs"},
      {"--repeat=2x", "--repeat needs"},
      {"--repeat=", "--repeat needs"},
      {"--repeat --video=v.mp4", "--repeat is for showing"},
      {"--repeat=3 --bench", "--repeat is for showing"},
      {"--repeat --loop=1:2", "--loop never"},
      {"--repeat --controls --to=20", "without --from and --to"},
      {"--repeat --length", "--length"},
  };
  for (const auto& c : cases) {
    demo::Options options;
    std::string error;
    EXPECT_FALSE(demo::ParseOptions(c.line, &options, &error)) << c.line;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.line << ": " << error;
  }
  // Outputs under a file cannot be written, even by root.
  std::ofstream("file") << "x";
  for (const char* line : {"--video=file/v.mp4", "--frames=file/f", "--sheet=file/s.png",
                           "--bench-json=file/b.json", "--video=."}) {
    demo::Options options;
    std::string error;
    ASSERT_TRUE(demo::ParseOptions(line, &options, &error)) << line << ": " << error;
    EXPECT_FALSE(demo::CheckOutputs(options, &error)) << line;
  }
  EXPECT_EQ(demo::RunProgram("nodialog --bogus"), 2);
  EXPECT_EQ(demo::RunProgram("nodialog --video=file/v.mp4"), 2);
  EXPECT_FALSE(fs::exists("data/log.html")) << "the engine started";
}

TEST(OptionsTest, OptionsAreReadAndOtherWordsLeftToTheStartUp) {
  demo::Options o;
  std::string error;
  ASSERT_TRUE(demo::ParseOptions("nodialog ps20 --frames=out --size=640x360 --fps=30 --from=1 "
                                 "--to=2.5 --sheet=s.png --sheet-every=0.5 --size=320x200",
                                 &o, &error))
      << error;
  EXPECT_EQ(o.framesDir, "out");
  EXPECT_EQ(o.sheet, "s.png");
  EXPECT_EQ(o.width, 320);  // the last one counts
  EXPECT_EQ(o.height, 200);
  EXPECT_EQ(o.fps, 30);
  EXPECT_EQ(o.from, 1.0);
  EXPECT_EQ(o.to, 2.5);
  EXPECT_EQ(o.sheetEvery, 0.5);
  EXPECT_TRUE(o.FixedSteps());
  ASSERT_TRUE(demo::ParseOptions("nodialog ps20 whatever", &o, &error));
  EXPECT_FALSE(o.FixedSteps() || o.controls || o.help);
  ASSERT_TRUE(demo::ParseOptions("--loop=56:60.5", &o, &error));
  EXPECT_TRUE(o.controls && o.loop);
  EXPECT_EQ(o.loopTo, 60.5);
  ASSERT_TRUE(demo::ParseOptions("--repeat", &o, &error)) << error;
  EXPECT_TRUE(o.repeat && o.repeatTimes == 0 && !o.FixedSteps());
  ASSERT_TRUE(demo::ParseOptions("--repeat=20 --fps=50", &o, &error)) << error;
  EXPECT_TRUE(o.repeat && o.repeatTimes == 20 && o.FixedSteps() && o.fps == 50);
  EXPECT_EQ(demo::FrameCount(0, 152, 25), 3800);
  EXPECT_EQ(demo::FrameCount(1, 1.05, 25), 2);
}

using Pcm = std::vector<std::int16_t>;
constexpr std::size_t kRate = 44100;


// Where in `out` the reference plays on exactly from sample `at`.
std::vector<std::size_t> PlaysFrom(const Pcm& out, const Pcm& reference, std::size_t at,
                                   std::size_t frames) {
  std::vector<std::size_t> starts;
  const std::size_t n = frames * 2;
  for (std::size_t i = 0; i + n <= out.size(); i += 2)
    if (std::equal(out.begin() + i, out.begin() + i + n, reference.begin() + at * 2)) starts.push_back(i / 2);
  return starts;
}

// SDL's disk driver writes the mixed output into a pipe that the test reads.
// The audio thread blocks once the pipe is full, so it runs ahead of the
// reads by no more than the pipe holds: what plays between two frames is
// decided by the test, not by how the threads happen to be scheduled.
class AudioPipe {
 public:
  explicit AudioPipe(const fs::path& path) {
    if (mkfifo(path.c_str(), 0600) == 0) mFd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
  }
  ~AudioPipe() {
    // A test that stopped early: the audio thread must not write into a
    // closed pipe.
    if (!mDrained) DrainWhile([] { platform::audio::Free(); });
    if (mFd >= 0) close(mFd);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }
  bool Opened() const { return mFd >= 0; }

  // Waits until the audio thread has filled the pipe and stands blocked.
  bool WaitFull() const {
    const int capacity = fcntl(mFd, F_GETPIPE_SZ);
    for (int waited = 0; waited < kPatienceMs; ++waited) {
      int queued = 0;
      if (ioctl(mFd, FIONREAD, &queued) != 0) return false;
      if (queued >= capacity) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  // Reads the output until `done` holds; false if it does not within
  // `frames` more frames.
  bool ReadUntil(const std::function<bool(const Pcm&)>& done, std::size_t frames) {
    const std::size_t end = mPcm.size() + frames * 2;
    while (!done(mPcm)) {
      if (mPcm.size() >= end || !ReadSome()) return false;
    }
    return true;
  }
  // Closing the device waits for the audio thread's last write: the rest
  // of the output is read meanwhile, to its end.
  void DrainWhile(const std::function<void()>& closeDevice) {
    mDrained = true;
    std::thread reader([this] {
      while (ReadSome()) {
      }
    });
    closeDevice();
    reader.join();
  }
  const Pcm& Output() const { return mPcm; }

 private:
  static constexpr int kPatienceMs = 20000;  // against a hang only

  // False at the writer's end, or when nothing comes at all.
  bool ReadSome() {
    if (mFd < 0) return false;
    pollfd p{mFd, POLLIN, 0};
    if (poll(&p, 1, kPatienceMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(mFd, buffer, sizeof buffer);
    if (n <= 0) return false;
    mBytes.append(buffer, static_cast<std::size_t>(n));
    const std::size_t samples = mBytes.size() / 2;
    const std::size_t at = mPcm.size();
    mPcm.resize(at + samples);
    std::memcpy(mPcm.data() + at, mBytes.data(), samples * 2);
    mBytes.erase(0, samples * 2);
    return true;
  }

  int mFd = -1;
  bool mDrained = false;
  std::string mBytes;  // an odd byte left from a read
  Pcm mPcm;
};

TEST(ControlsTest, KeysAndTheLoopSeekTheClockAndTheMusicToTheSameSample) {
  ScopedWorkDir dir;
  velox_test::CloseLog();
  ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", 8.0));
  const Pcm reference = velox_test::DecodeMp3("data/xt_tunefordemo.mp3");
  AudioPipe pipe(dir.Path() / "output.raw");
  ASSERT_TRUE(pipe.Opened());
  platform::EnableTestClock(true);
  engine::core::Timer* timer = engine::core::Timer::Get();
  ASSERT_TRUE(timer->Start());
  // From here on the music moves only as far as the test reads: before the
  // loop plays its start once more, no more than a buffer of it.
  ASSERT_TRUE(pipe.WaitFull());

  demo::Controls::Config config;
  config.sceneStarts = {0.0, 4.0, 6.5};
  config.end = 8.0;
  config.loop = true;
  config.loopFrom = 6.0;
  config.loopTo = 7.0;
  std::vector<double> shown;
  demo::Controls controls(config, [&](double t) { shown.push_back(t); });
  engine::core::Input* input = engine::core::Input::Get();
  const auto frame = [&](double seconds, int key = 0) {
    if (key != 0) input->SetKey(key, true);
    platform::AdvanceTestClock(seconds);
    timer->Update();
    controls.Update();
    input->Roll();
    if (key != 0) input->SetKey(key, false);
    input->Roll();
  };
  const auto musicAt = [&] {
    return static_cast<double>(platform::audio::ChannelGetPosition(timer->Stream())) / (kRate * 4);
  };

  frame(0.01);  // a loop starts at its start
  EXPECT_EQ(engine::GetTime(), 6.0);
  EXPECT_EQ(shown, std::vector<double>{6.0});
  frame(0.01, demo::kKeySpace);
  EXPECT_TRUE(timer->Paused());
  const double music = musicAt();
  frame(0.5, demo::kKeyLeft);  // paused: only the seek moves it
  EXPECT_NEAR(engine::GetTime(), 5.01, 1e-9);
  EXPECT_EQ(platform::audio::ChannelGetPosition(timer->Stream()),
            static_cast<std::uint64_t>(std::llround(5.01 * kRate)) * 4);
  EXPECT_LT(music, 6.5);
  frame(0.01, '3');
  EXPECT_EQ(engine::GetTime(), 6.5);
  frame(0.01, demo::kKeyHome);
  EXPECT_EQ(engine::GetTime(), 0.0);
  frame(0.01, demo::kKeyPageDown);
  EXPECT_EQ(engine::GetTime(), 8.0);  // no further than the end
  controls.SetTimeline({0.0, 3.0, 5.5}, 7.5);  // a scene saved shorter
  frame(0.01, '3');
  EXPECT_EQ(engine::GetTime(), 5.5);
  frame(0.01, demo::kKeyPageDown);
  EXPECT_EQ(engine::GetTime(), 7.5);
  frame(0.01, demo::kKeySpace);  // on, then past the loop's end: back to its start
  EXPECT_FALSE(timer->Paused());
  EXPECT_EQ(engine::GetTime(), 6.0);
  EXPECT_EQ(shown.back(), 6.0);

  // The music plays from the loop's start, sample for sample; after a lap
  // the clock passes the end and it starts there again. Reading stops as
  // soon as each lap shows, so the music never runs on to its end.
  const std::size_t loopStart = 6 * kRate;
  const auto laps = [&](std::size_t count) {
    return [&, count](const Pcm& out) { return PlaysFrom(out, reference, loopStart, 4096).size() >= count; };
  };
  ASSERT_TRUE(pipe.ReadUntil(laps(1), kRate)) << "the loop's start did not play from its first sample";
  frame(1.0);
  EXPECT_EQ(engine::GetTime(), 6.0);
  ASSERT_TRUE(pipe.ReadUntil(laps(2), kRate)) << "the loop's start did not play again after a lap";
  timer->Stop();
  delete timer;
  pipe.DrainWhile([] { platform::audio::Free(); });
  platform::EnableTestClock(false);

  const Pcm& out = pipe.Output();
  const std::vector<std::size_t> starts = PlaysFrom(out, reference, loopStart, 4096);
  EXPECT_EQ(starts.size(), 2u);
  // Before each lap the output came from elsewhere in the music.
  for (const std::size_t lap : starts) {
    ASSERT_GT(lap, 0u);
    EXPECT_NE(out[lap * 2 - 2], reference[loopStart * 2 - 2]);
  }
}

// A full-screen quad whose colour follows the clock, on the gl device.
class ClockColours : public engine::core::Module {
 public:
  ClockColours() {
    mName = L"ClockColours";
    mPriority = 200;
  }
  bool Start() override {
    mMesh = engine::gfx::Mesh::CreateQuad(engine::BuildEffect("data/clock.efx"));
    engine::SetRootNode(boost::shared_ptr<engine::gfx::Spatial>(engine::CreateMeshNode(mMesh)));
    return true;
  }
  void Update() override {
    ++mFrames;
    if (onFrame) onFrame(mFrames - 1);
    // A plain run: F11 on the chosen frame, then the end.
    if (plain) {
      engine::core::Input::Get()->SetKey(0x7A, mFrames == 3);
      if (mFrames >= 4) engine::QuitApplication();
      platform::AdvanceTestClock(0.25);
    }
  }
  void Stop() override { mMesh.reset(); }
  bool plain = false;
  std::function<void(int)> onFrame;

 private:
  boost::shared_ptr<engine::gfx::Mesh> mMesh;
  int mFrames = 0;
};

void WriteClockScene();

// The GL clock scene over a tone of musicSeconds, on the test clock, and a
// plan recording it at 4 frames a second with that tone as its music.
bool PrepareClockRecording(double musicSeconds, demo::Capture::Plan* plan) {
  platform::SetDefaultBackend(platform::Backend::GL);
  platform::EnableTestClock(true);
  if (!velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", musicSeconds)) return false;
  WriteClockScene();
  plan->fps = 4;
  plan->progress = false;
  plan->music = "data/xt_tunefordemo.mp3";
  return true;
}

void WriteClockScene() {
  WriteText("data/wireframe.efx",
            "effect = { { pass = { { fx = 'clock', tec = 'Clock', params = {}, streams = { 'pos' } } } } }");
  WriteText("data/fx/clock.fx",
            "float T : Time;\n"
            "float4 VS(float4 p : POSITION) : POSITION { return float4(p.xy * 2, 0.5, 1); }\n"
            "float4 PS() : COLOR { return float4(frac(T * 0.7), frac(T * 0.3), 0.5, 1); }\n"
            "technique Clock { pass { CullMode = None; VertexShader = compile vs_2_0 VS();"
            " PixelShader = compile ps_2_0 PS(); } }\n");
  WriteText("data/clock.efx",
            "effect = { { pass = { { fx = 'clock', tec = 'Clock', params = {}, streams = { 'pos' } } } } }");
}

// One run of the engine with the clock scene and, for a recording, the
// capture module with the fixed-step clock. The recording's error, if any.
std::string RunEngine(const demo::Capture::Plan* plan, std::function<void(int)> onFrame = nullptr,
               demo::Overlay* overlay = nullptr) {
  engine::WindowSettings settings;
  settings.width = overlay != nullptr ? 400 : 64;
  settings.height = overlay != nullptr ? 120 : 48;
  engine::CreateVELOXWindow(settings);
  if (overlay != nullptr) {
    dynamic_cast<engine::gfx::Renderer*>(engine::core::Kernel::Get()->FindModule(10))
        ->SetOverlay([overlay](platform::Device* device) { overlay->Draw(device); });
  }
  ClockColours scene;
  scene.plain = plan == nullptr;
  scene.onFrame = std::move(onFrame);
  engine::AddModule(&scene, 10100);
  std::unique_ptr<demo::Capture> capture;
  if (plan != nullptr) {
    engine::core::Timer::Get()->StepExactly(plan->from, plan->fps);
    capture = std::make_unique<demo::Capture>(*plan, [](double) { return std::string("clock"); });
    engine::AddModule(capture.get(), 10300);
  }
  engine::StartApplication();
  return capture ? capture->Error() : std::string();
}

std::vector<std::uint8_t> Pixels(const fs::path& png) {
  platform::image::Image image;
  std::string error;
  EXPECT_TRUE(platform::image::LoadFile(png.wstring(), image, error)) << png << ": " << error;
  return image.faces.empty() ? std::vector<std::uint8_t>() : image.faces[0][0].bytes;
}

TEST(CaptureTest, TheSameRangeGivesTheSameFramesAsThePlainRendererAndAPlayableVideo) {
  ScopedWorkDir dir;
  demo::Capture::Plan plan;
  ASSERT_TRUE(PrepareClockRecording(2.0, &plan));
  plan.from = 0.25;
  plan.to = 1.25;
  plan.framesDir = "first";
  plan.sheet = "sheet.png";
  plan.sheetEvery = 0.5;
  plan.video = "clock.mp4";
  EXPECT_EQ(RunEngine(&plan), "");
  plan.framesDir = "second";
  plan.video.clear();
  EXPECT_EQ(RunEngine(&plan), "");
  RunEngine(nullptr);  // F11 at 0.5 s
  platform::EnableTestClock(false);

  for (const char* name : {"000001.png", "000002.png", "000003.png", "000004.png"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(fs::path("first") / name));
    EXPECT_EQ(velox_test::ReadFile(fs::path("first") / name),
              velox_test::ReadFile(fs::path("second") / name));
  }
  EXPECT_FALSE(fs::exists("first/000005.png"));  // the end is not part of the range
  EXPECT_NE(Pixels("first/000001.png"), Pixels("first/000002.png"));
  EXPECT_EQ(Pixels("first/000002.png"), Pixels("screenshots/screenshot0.png"));  // 0.5 s
  EXPECT_TRUE(fs::exists("sheet.png"));

  const demo::VideoInfo video = demo::ProbeVideo("clock.mp4");
  ASSERT_TRUE(video.error.empty()) << video.error;
  EXPECT_EQ(video.videoCodec, "h264");
  EXPECT_EQ(video.audioCodec, "aac");
  EXPECT_EQ(video.frames, 4);
  EXPECT_NEAR(video.videoSeconds, 1.0, 0.25);
  EXPECT_NEAR(video.audioSeconds, 1.0, 0.25);
  EXPECT_EQ(video.videoStart, 0.0);
  EXPECT_EQ(video.audioStart, 0.0);
  EXPECT_FALSE(fs::exists("clock.mp4.part"));
}

// RGB of a pixel of a PNG written by the capture.
std::array<int, 3> Pixel(const fs::path& png, int x, int y) {
  platform::image::Image image;
  std::string error;
  if (!platform::image::LoadFile(png.wstring(), image, error)) return {-1, -1, -1};
  const std::uint8_t* p = &image.faces[0][0].bytes[(static_cast<std::size_t>(y) * image.width + x) * 4];
  return {p[2], p[1], p[0]};
}

bool HasColour(const fs::path& png, std::array<int, 3> colour) {
  platform::image::Image image;
  std::string error;
  if (!platform::image::LoadFile(png.wstring(), image, error)) return false;
  const std::vector<std::uint8_t>& b = image.faces[0][0].bytes;
  for (std::size_t i = 0; i + 3 < b.size(); i += 4)
    if (b[i + 2] == colour[0] && b[i + 1] == colour[1] && b[i] == colour[2]) return true;
  return false;
}

TEST(OverlayTest, ABrokenReloadShowsInTheCornerWhileTheLastGoodEffectDraws) {
  ScopedWorkDir dir;
  platform::SetDefaultBackend(platform::Backend::GL);
  ASSERT_TRUE(velox_test::MakeToneMp3("data/xt_tunefordemo.mp3", 2.0));
  WriteClockScene();
  demo::Capture::Plan plan;
  plan.to = 0.75;
  plan.fps = 4;
  plan.progress = false;
  plan.framesDir = "frames";
  demo::Overlay overlay([] { return std::string("clock"); }, demo::Controls::Config());
  EXPECT_EQ(RunEngine(&plan, [](int frame) {
    // F9 after the file broke, in the second frame.
    if (frame == 1) WriteText("data/fx/clock.fx", "float T : Time;\nfloat4 broken = ;\n");
    engine::core::Input::Get()->SetKey(0x78, frame == 1);
  }, &overlay), "");

  const std::array<int, 3> box = {0x10, 0x10, 0x18}, text = {0xF0, 0xF0, 0xF0}, failure = {0xFF, 0x60, 0x50};
  EXPECT_EQ(Pixel("frames/000000.png", 9, 9), box);
  EXPECT_TRUE(HasColour("frames/000000.png", text));
  EXPECT_FALSE(HasColour("frames/000000.png", failure));
  EXPECT_TRUE(HasColour("frames/000002.png", failure)) << "no reload failure in the overlay";
  // The quad still draws with the clock, by the effect loaded first.
  const std::array<int, 3> clock = {static_cast<int>(0.35 * 255 + 0.5), static_cast<int>(0.15 * 255 + 0.5), 128};
  const std::array<int, 3> centre = Pixel("frames/000002.png", 399, 119);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(centre[c], clock[c], 1) << c;
}

TEST(RecordingQueueTest, ItemsAreDoneInOrderAndAFullQueueHoldsTheProducerBack) {
  std::promise<void> open;
  std::shared_future<void> gate = open.get_future().share();
  std::vector<int> done;
  demo::WorkQueue<int> queue(2, [&](int& item, std::string*) {
    gate.wait();
    done.push_back(item);
    return true;
  });
  std::atomic<int> pushed{0};
  std::thread producer([&] {
    for (int i = 0; i < 10; ++i) {
      EXPECT_TRUE(queue.Push(int{i}));
      ++pushed;
    }
  });
  // One item in the worker's hands and two queued; the fourth waits.
  for (int waited = 0; pushed < 3 && waited < 5000; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(pushed, 3);
  open.set_value();
  producer.join();
  EXPECT_TRUE(queue.Finish());
  EXPECT_EQ(done, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(RecordingQueueTest, AFailedItemStopsTheWorkAndNoPushWaitsForever) {
  std::vector<int> done;
  demo::WorkQueue<int> queue(2, [&](int& item, std::string* error) {
    if (item == 3) {
      *error = "disk full";
      return false;
    }
    done.push_back(item);
    return true;
  });
  int accepted = 0;
  while (accepted < 1000 && queue.Push(int{accepted})) ++accepted;
  EXPECT_LT(accepted, 1000);
  EXPECT_FALSE(queue.Finish());
  EXPECT_EQ(queue.Error(), "disk full");
  EXPECT_EQ(done, (std::vector<int>{0, 1, 2}));
}

// A context lost (as a browser takes a WebGL context back) at the first
// frame and midway: the frame it did not draw, and the reads in flight that
// went with it, are drawn and read again once it is back; the recording is
// the same.
TEST(CaptureTest, FramesALostContextTookAreRecordedAgain) {
  ScopedWorkDir dir;
  demo::Capture::Plan plan;
  ASSERT_TRUE(PrepareClockRecording(3.0, &plan));
  plan.to = 2.0;
  plan.framesDir = "plain";
  EXPECT_EQ(RunEngine(&plan), "");
  plan.framesDir = "lost";
  int frames = 0;
  EXPECT_EQ(RunEngine(&plan, [&](int frame) {
              frames = frame + 1;
              if (frame == 0 || frame == 6) platform::gl::LoseContextForTesting(1);
            }),
            "");
  platform::EnableTestClock(false);
  EXPECT_GT(frames, 8);  // frames were shown again
  for (int i = 0; i < 8; ++i) {
    const std::string name = "00000" + std::to_string(i) + ".png";
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(fs::path("lost") / name));
    EXPECT_EQ(Pixels(fs::path("lost") / name), Pixels(fs::path("plain") / name));
  }
  EXPECT_FALSE(fs::exists("lost/000008.png"));
}

TEST(CaptureTest, AWriteThatFailsMidwayEndsTheRecordingAndLeavesNoVideo) {
  ScopedWorkDir dir;
  demo::Capture::Plan plan;
  ASSERT_TRUE(PrepareClockRecording(6.0, &plan));
  plan.to = 5.0;
  plan.framesDir = "frames";
  plan.video = "clock.mp4";
  int frames = 0;
  const std::string error = RunEngine(&plan, [&](int frame) {
    frames = frame + 1;
    if (frame == 2) fs::remove_all("frames");
  });
  platform::EnableTestClock(false);
  EXPECT_NE(error.find("cannot write frames/"), std::string::npos) << error;
  EXPECT_LT(frames, 20) << "the recording went on after the failure";
  EXPECT_FALSE(fs::exists("clock.mp4"));
  EXPECT_FALSE(fs::exists("clock.mp4.part"));
}

// x264's AVX-512 code read memory it had not written: the same frames gave
// other bytes when that memory held something else before (on processors
// with AVX-512; elsewhere this holds anyway).
TEST(VideoTest, TheSameFramesGiveTheSameBytesWhateverTheMemoryHeldBefore) {
  ScopedWorkDir dir;
  const auto record = [](int perturb) {
    mallopt(M_PERTURB, perturb);
    std::string error;
    std::unique_ptr<demo::VideoWriter> video = demo::VideoWriter::Open("v.mp4", 160, 96, 10, "", 0.0, 0.0, &error);
    EXPECT_TRUE(video) << error;
    for (int i = 0; video && i < 24; ++i) {
      demo::Picture picture(160, 96);
      for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 160; ++x) {
          std::uint8_t* p = &picture.rgb[static_cast<std::size_t>(y * 160 + x) * 3];
          const unsigned noise = ((x * 73856093u) ^ (y * 19349663u) ^ (i * 83492791u)) * 1274126177u >> 28;
          p[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.07 + i * 0.3) + noise);
          p[1] = static_cast<std::uint8_t>(128 + 100 * std::sin(y * 0.05 - i * 0.2));
          p[2] = static_cast<std::uint8_t>(x + y + i * 4);
        }
      }
      EXPECT_TRUE(video->AddFrame(picture, &error)) << error;
    }
    EXPECT_TRUE(video && video->Finish(&error)) << error;
    mallopt(M_PERTURB, 0);
    return velox_test::ReadFile("v.mp4");
  };
  const auto first = record(0);
  EXPECT_FALSE(first.empty());
  for (const int perturb : {0x55, 0xAA, 0x0F}) EXPECT_TRUE(record(perturb) == first) << perturb;
}

// A video's pictures as decoded (the planes of each, in the order shown)
// and its sound packets as they were muxed.
struct Decoded {
  std::vector<std::vector<std::uint8_t>> pictures;
  std::vector<std::string> sound;
};

Decoded Decode(const std::string& path) {
  Decoded d;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return d;
  avformat_find_stream_info(input, nullptr);
  const AVCodec* codec = nullptr;
  const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  AVCodecContext* decoder = video >= 0 ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  if (decoder != nullptr && avcodec_parameters_to_context(decoder, input->streams[video]->codecpar) >= 0 &&
      avcodec_open2(decoder, codec, nullptr) >= 0) {
    const auto receive = [&] {
      while (avcodec_receive_frame(decoder, frame) >= 0) {
        std::vector<std::uint8_t> planes;
        for (int p = 0; p < 3; ++p) {
          const int w = p == 0 ? frame->width : (frame->width + 1) / 2;
          const int h = p == 0 ? frame->height : (frame->height + 1) / 2;
          for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = frame->data[p] + static_cast<std::ptrdiff_t>(y) * frame->linesize[p];
            planes.insert(planes.end(), row, row + w);
          }
        }
        d.pictures.push_back(std::move(planes));
        av_frame_unref(frame);
      }
    };
    while (av_read_frame(input, packet) >= 0) {
      if (packet->stream_index == video) {
        avcodec_send_packet(decoder, packet);
        receive();
      } else {
        d.sound.emplace_back(reinterpret_cast<const char*>(packet->data), packet->size);
      }
      av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    receive();
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  avformat_close_input(&input);
  return d;
}

TEST(SplitRecordingTest, TwoRangesJoinedDecodeToTheFramesAndSoundOfOneRecording) {
  ScopedWorkDir dir;
  demo::Capture::Plan plan;
  ASSERT_TRUE(PrepareClockRecording(3.0, &plan));
  // Noise that moves with the clock: pictures the encoder cannot keep exactly.
  WriteText("data/fx/clock.fx",
            "float T : Time;\n"
            "struct V { float4 p : POSITION; float2 uv : TEXCOORD0; };\n"
            "V VS(float4 p : POSITION) { V o; o.p = float4(p.xy * 2, 0.5, 1); o.uv = p.xy; return o; }\n"
            "float4 PS(float2 uv : TEXCOORD0) : COLOR {\n"
            "  float n = frac(sin(dot(uv, float2(12.9898, 78.233)) * 43.7585 + T * 3.1) * 437.585);\n"
            "  return float4(n, frac(uv.x * 7 + T), frac(uv.y * 5 - T * 0.5), 1); }\n"
            "technique Clock { pass { CullMode = None; VertexShader = compile vs_2_0 VS();"
            " PixelShader = compile ps_2_0 PS(); } }\n");
  plan.segment = 0.5;
  const auto record = [&](double from, double to, const char* video) {
    plan.from = from;
    plan.to = to;
    plan.video = video;
    EXPECT_EQ(RunEngine(&plan), "");
  };
  record(0.25, 2.25, "whole.mp4");
  record(0.25, 1.0, "first.mp4");  // the cut on a multiple of the segment
  record(1.0, 2.25, "second.mp4");
  platform::EnableTestClock(false);
  std::string error;
  ASSERT_TRUE(demo::JoinVideos({"first.mp4", "second.mp4"}, "joined.mp4", plan.music, 0.25, &error)) << error;
  EXPECT_FALSE(fs::exists("joined.mp4.part"));

  const Decoded whole = Decode("whole.mp4"), joined = Decode("joined.mp4");
  ASSERT_EQ(whole.pictures.size(), 8u);
  ASSERT_EQ(joined.pictures.size(), 8u);
  for (std::size_t i = 0; i < whole.pictures.size(); ++i)
    EXPECT_TRUE(whole.pictures[i] == joined.pictures[i]) << "frame " << i;
  EXPECT_NE(whole.pictures[2], whole.pictures[3]);
  // The music cut at the same samples, for the same length.
  EXPECT_FALSE(whole.sound.empty());
  EXPECT_TRUE(whole.sound == joined.sound);

  // A piece that cannot be read fails the join and leaves nothing behind.
  EXPECT_FALSE(demo::JoinVideos({"first.mp4", "missing.mp4"}, "bad.mp4", plan.music, 0.25, &error));
  EXPECT_NE(error.find("missing.mp4"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists("bad.mp4") || fs::exists("bad.mp4.part"));
}

}  // namespace
