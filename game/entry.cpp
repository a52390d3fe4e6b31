#include "game/entry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "engine/effectPool.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/renderer.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/benchmark.h"
#include "engine/profiler.h"
#include "game/capture.h"
#include "game/controls.h"
#include "game/demoModule.h"
#include "game/liveReload.h"
#include "game/loading.h"
#include "game/options.h"
#include "platform/display.h"
#include "platform/graphics.h"
#include "platform/system.h"
#include "platform/watch.h"

namespace demo {

namespace {

constexpr unsigned long kPixelShader20 = 0xFFFF0200ul;

void ShowError(const engine::core::Exception& e) {
  platform::ShowMessageBox(nullptr, e.GetText(), e.GetFunction());
}

double WallSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// `words`: the start-up words of the line, options left out.
engine::WindowSettings ChooseSettings(const std::string& words, const Options& options) {
  const bool noDialog = words.find("nodialog") != std::string::npos;
  engine::WindowSettings settings;
  if (!noDialog) {
    settings = engine::SettingsDialog();
    settings.title = L"Quiet Port";
  } else {
    const platform::DisplayMode mode = platform::DesktopDisplayMode();
    settings.width = mode.width;
    settings.height = mode.height;
    settings.refreshRate = mode.refreshRate;
    settings.fullscreen = true;
    settings.multiSampleType = 0x7FFFFFFF;
  }
  if (options.width > 0) {
    settings.width = options.width;
    settings.height = options.height;
    settings.fullscreen = false;
  }
  // Recordings read 32-bit pixels back.
  if (options.FixedSteps()) settings.backBufferFormat = 22;
  return settings;
}

// The window, the device, the shader options, the capability check and the
// demo module with all its content. False when something failed (already
// shown); the engine then has not run.
bool StartDemo(const engine::WindowSettings& settings, const std::string& words,
               TestScene1* demo) {
  // The loading bar is drawn in any case; the line only on a terminal.
  LoadingDisplay loading(isatty(STDERR_FILENO) != 0);
  demo->OnProgress([&loading](int done, int total, const std::string& item) {
    loading.Step(done, total, item);
  });
  try {
    engine::CreateVELOXWindow(settings);
    for (unsigned long version : ShaderTargetCalls(words))
      engine::SetTargetShaderVersion(version);
    if (engine::GetDirect3DCaps().pixelShaderVersion < kPixelShader20)
      throw engine::core::Exception(L"Pixel shader version 2.0 support is a must",
                                    L"Checking graphics card capabilities");
    engine::AddModule(demo, 10100);
  } catch (const engine::core::Exception& e) {
    loading.Finish();
    demo->OnProgress(nullptr);
    ShowError(e);
    return false;
  }
  loading.Finish();
  demo->OnProgress(nullptr);
  return true;
}

// The start of a benchmark without any cache: a child process that makes
// every mesh again (the same bytes), loads and ends. Seconds, or negative.
double MeasureColdStart(const std::string& words, const Options& options) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1.0;
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    std::error_code ec;
    std::filesystem::remove_all("data/serial", ec);
    const engine::WindowSettings settings = ChooseSettings(words, options);
    auto demo = std::make_unique<TestScene1>();
    const double start = WallSeconds();
    double seconds = StartDemo(settings, words, demo.get()) && demo->Ready() ? WallSeconds() - start : -1.0;
    engine::core::Kernel::Get()->KillAll();
    engine::ShutDownEngine();
    if (write(pipeEnds[1], &seconds, sizeof seconds) != sizeof seconds) seconds = -1.0;
    close(pipeEnds[1]);
    std::exit(seconds < 0 ? 1 : 0);
  }
  close(pipeEnds[1]);
  double seconds = -1.0;
  if (child < 0 || read(pipeEnds[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1.0;
  close(pipeEnds[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return seconds;
}

// Under a temporary name first: a failed write leaves nothing under the
// final one.
bool WriteFileWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".part";
  std::ofstream out(temporary, std::ios::binary);
  out << text;
  out.close();
  std::error_code ec;
  if (out.fail()) {
    std::filesystem::remove(temporary, ec);
    return false;
  }
  std::filesystem::rename(temporary, path, ec);
  if (ec) std::filesystem::remove(temporary, ec);
  return !ec;
}

int FinishRecording(const Capture& capture, const Options& options) {
  if (capture.Interrupted()) {
    std::fprintf(stderr,
                 "game: recording interrupted after %lld frames; nothing was left half-written\n",
                 capture.Frames());
    return 130;
  }
  if (capture.Failed()) {
    std::fprintf(stderr, "game: recording failed: %s\n", capture.Error().c_str());
    return 1;
  }
  std::printf("Recorded %lld frames in %.1f s (%.1f frames per second)\n", capture.Frames(),
              capture.Seconds(), capture.Seconds() > 0 ? capture.Frames() / capture.Seconds() : 0.0);
  const auto where = [](const std::string& path) {
    std::error_code ec;
    return std::filesystem::absolute(path, ec).lexically_normal().string();
  };
  if (!options.framesDir.empty()) std::printf("  frames: %s/\n", where(options.framesDir).c_str());
  if (!options.video.empty()) std::printf("  video:  %s\n", where(options.video).c_str());
  if (!options.sheet.empty()) std::printf("  sheet:  %s\n", where(options.sheet).c_str());
  return 0;
}

}  // namespace

std::vector<unsigned long> ShaderTargetCalls(const std::string& words) {
  // Plain substring tests in table order: "ps0" also matches inside "ps00".
  static const struct {
    const char* option;
    unsigned long version;
  } kOptions[] = {{"ps0", 0xFFFF0000ul},  {"ps11", 0xFFFF0101ul}, {"ps12", 0xFFFF0102ul},
                  {"ps13", 0xFFFF0103ul}, {"ps14", 0xFFFF0104ul}, {"ps20", 0xFFFF0200ul},
                  {"ps30", 0xFFFF0300ul}};
  std::vector<unsigned long> calls;
  for (const auto& o : kOptions)
    if (words.find(o.option) != std::string::npos) calls.push_back(o.version);
  return calls;
}

int RunProgram(const std::string& commandLine) { return RunProgram(SplitArguments(commandLine)); }

int RunProgram(const std::vector<std::string>& arguments) {
  Options options;
  std::string optionError;
  if (!ParseOptions(arguments, &options, &optionError) || !CheckOutputs(options, &optionError)) {
    std::fprintf(stderr, "game: %s\n", optionError.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(OptionsHelp(), stdout);
    return 0;
  }

  const std::string words = StartUpWords(arguments);
  // The plain program ends with 0 after its message box; a recording or a
  // benchmark that could not run must tell the script that started it.
  const int startFailed = options.FixedSteps() || options.length ? 1 : 0;

  // Before anything of the engine exists, so that the child starts clean.
  const double coldLoad = options.bench ? MeasureColdStart(words, options) : -1.0;

  const engine::WindowSettings settings = ChooseSettings(words, options);
  auto demo = std::make_unique<TestScene1>();
  const double loadStart = WallSeconds();
  if (!StartDemo(settings, words, demo.get())) return startFailed;
  const double load = WallSeconds() - loadStart;

  // The kernel has already reported why the content could not be built;
  // playing music over a module with no scenes would show nothing.
  if (!demo->Ready()) {
    engine::core::Kernel::Get()->KillAll();
    engine::ShutDownEngine();
    return startFailed;
  }

  TestScene1* scenes = demo.get();
  const auto sceneName = [scenes] { return std::string(TestScene1::SceneName(scenes->SceneIndex())); };
  const double end = demo->EndTime();
  const double from = options.from;
  const double to = options.to < 0.0 || options.to > end ? end : options.to;
  if (options.length) {
    std::printf("%.6g\n", end);
    engine::core::Kernel::Get()->KillAll();
    engine::ShutDownEngine();
    return 0;
  }
  if (options.FixedSteps()) {
    if (!(to > from)) {
      std::fprintf(stderr, "game: --from=%g is past the demo's end (%g s)\n", from, end);
      engine::core::Kernel::Get()->KillAll();
      engine::ShutDownEngine();
      return 2;
    }
    engine::core::Timer::Get()->StepExactly(from, options.fps);
    demo->ShowAt(from);
  }
  if (options.repeat) demo->Repeat(options.repeatTimes);

  std::unique_ptr<Capture> capture;
  if (options.Records()) {
    Capture::Plan plan;
    plan.from = from;
    plan.to = to;
    plan.fps = options.fps;
    plan.framesDir = options.framesDir;
    plan.video = options.video;
    plan.sheet = options.sheet;
    plan.sheetEvery = options.sheetEvery;
    plan.segment = options.segment;
    plan.music = "data/xt_tunefordemo.mp3";
    plan.showAt = [scenes = demo.get()](double time) { scenes->ShowAt(time); };
    capture = std::make_unique<Capture>(plan, [sceneName](double) { return sceneName(); });
    engine::AddModule(capture.get(), 10300);
    std::signal(SIGINT, [](int) { gInterrupted = 1; });
    std::signal(SIGTERM, [](int) { gInterrupted = 1; });
  }

  std::unique_ptr<Benchmark> bench;
  if (options.bench) {
    std::vector<std::string> names;
    for (int i = 0; i < TestScene1::kSceneCount; ++i) names.emplace_back(TestScene1::SceneName(i));
    bench = std::make_unique<Benchmark>(FrameCount(from, to, options.fps),
                                        [scenes] { return scenes->SceneIndex(); }, names);
    engine::AddModule(bench.get(), 10500);
    engine::core::FrameProfiler::Get().Enable(true);
  }

  std::unique_ptr<Controls> controls;
  std::unique_ptr<Overlay> overlay;
  std::unique_ptr<LiveReload> live;
  if (options.controls) {
    Controls::Config config;
    const auto sceneStarts = [scenes] {
      std::vector<double> starts;
      for (int i = 0; i < TestScene1::kSceneCount; ++i) starts.push_back(i == 0 ? 0.0 : scenes->SceneEnd(i - 1));
      return starts;
    };
    config.sceneStarts = sceneStarts();
    config.start = from;
    config.end = end;
    config.stopAt = options.to;
    config.loop = options.loop;
    config.loopFrom = options.loopFrom;
    config.loopTo = options.loopTo;
    controls = std::make_unique<Controls>(config, [scenes](double time) { scenes->ShowAt(time); });
    engine::AddModule(controls.get(), 10400);
    engine::core::FrameProfiler::Get().Enable(true);
    overlay = std::make_unique<Overlay>(sceneName, config);
    if (auto* renderer = dynamic_cast<engine::gfx::Renderer*>(engine::core::Kernel::Get()->FindModule(10)))
      renderer->SetOverlay([o = overlay.get()](platform::Device* device) { o->Draw(device); });
    // What is saved under data/ shows while the demo plays on.
    std::string why;
    std::unique_ptr<platform::FileWatcher> watcher = platform::WatchFolder("data", &why);
    live = std::make_unique<LiveReload>("data", std::move(watcher), why);
    live->On(".demo", [scenes, sceneStarts, c = controls.get()](const std::string& path, std::string*) {
      scenes->ReloadScene(path);
      // A scene of another length moves the later scenes' keys and the end.
      c->SetTimeline(sceneStarts(), scenes->EndTime());
      return true;
    });
    for (const char* source : {".vlx", ".curves", ".matrix"}) {
      live->On(source, [scenes](const std::string& path, std::string*) {
        scenes->ReloadSource(path);
        return true;
      });
    }
    engine::AddModule(live.get(), 10600);
    overlay->SetFailures([l = live.get()] { return l->Failures(); });
  }

  try {
    engine::StartApplication();
  } catch (const engine::core::Exception& e) {
    ShowError(e);
    return startFailed;
  }
  if (capture) return FinishRecording(*capture, options);
  if (bench) {
    if (!bench->Complete()) {
      std::fprintf(stderr, "game: benchmark interrupted after %lld of %lld frames; no results\n",
                   bench->Frames(), bench->Total());
      return 130;
    }
    BenchReport report;
    report.width = settings.width;
    report.height = settings.height;
    report.fps = options.fps;
    report.from = from;
    report.to = to;
    report.coldLoad = coldLoad;
    report.warmLoad = load;
    report.stats = bench->Results();
    std::fputs(BenchTable(report).c_str(), stdout);
    if (!options.benchJson.empty()) {
      if (!WriteFileWhole(options.benchJson, BenchJson(report))) {
        std::fprintf(stderr, "game: cannot write %s\n", options.benchJson.c_str());
        return 1;
      }
      std::printf("JSON: %s\n", options.benchJson.c_str());
    }
    return 0;
  }
  std::printf("Quiet Port: %lld frames, ended in scene %d of %d of play %d; log in data/log.html\n",
              demo->Frames(), demo->SceneIndex() + 1, TestScene1::kSceneCount, demo->Plays());
  return 0;
}

}  // namespace demo
