#include "game/benchmark.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "engine/wrapper.h"

namespace demo {

namespace {

double WallSeconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string Format(const char* format, double a, double b, double c) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

void Summarise(std::vector<double> times, double* mean, double* p95, double* worst) {
  *mean = *p95 = *worst = 0.0;
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  *mean = std::accumulate(times.begin(), times.end(), 0.0) / static_cast<double>(times.size());
  const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(times.size())));
  *p95 = times[std::max<std::size_t>(rank, 1) - 1];
  *worst = times.back();
}

Benchmark::Benchmark(long long frames, std::function<int()> scene, std::vector<std::string> sceneNames)
    : mTotal(frames), mScene(std::move(scene)), mNames(std::move(sceneNames)),
      mWall(mNames.size()), mCpu(mNames.size()) {
  mName = L"Benchmark";
  mPriority = kPriority;
}

void Benchmark::Update() {
  const double wall = WallSeconds(), cpu = CpuSeconds();
  // The first frame only starts the watch: before it lie the clock's and
  // the music's start, not a frame.
  if (mFrames > 0) {
    const auto scene = static_cast<std::size_t>(std::clamp(mScene(), 0, static_cast<int>(mNames.size()) - 1));
    mWall[scene].push_back(wall - mLastWall);
    mCpu[scene].push_back(cpu - mLastCpu);
  }
  mLastWall = wall;
  mLastCpu = cpu;
  if (++mFrames >= mTotal) engine::QuitApplication();
}

std::vector<FrameStats> Benchmark::Results() const {
  std::vector<FrameStats> results;
  std::vector<double> allWall, allCpu;
  const auto add = [&](const std::string& name, const std::vector<double>& wall,
                       const std::vector<double>& cpu) {
    FrameStats s;
    s.scene = name;
    s.frames = static_cast<long long>(wall.size());
    Summarise(wall, &s.wallMean, &s.wallP95, &s.wallWorst);
    Summarise(cpu, &s.cpuMean, &s.cpuP95, &s.cpuWorst);
    results.push_back(s);
  };
  for (std::size_t i = 0; i < mNames.size(); ++i) {
    if (mWall[i].empty()) continue;
    add(mNames[i], mWall[i], mCpu[i]);
    allWall.insert(allWall.end(), mWall[i].begin(), mWall[i].end());
    allCpu.insert(allCpu.end(), mCpu[i].begin(), mCpu[i].end());
  }
  add("all", allWall, allCpu);
  return results;
}

std::string BenchTable(const BenchReport& r) {
  char line[256];
  std::string text;
  std::snprintf(line, sizeof line, "Benchmark: %dx%d, steps of 1/%d s, %.2f s to %.2f s\n", r.width,
                r.height, r.fps, r.from, r.to);
  text += line;
  const auto load = [](double s) { return s < 0 ? std::string("-") : Format("%.2f s", s, 0, 0); };
  text += "Load: cold " + load(r.coldLoad) + ", warm " + load(r.warmLoad) + "\n";
  std::snprintf(line, sizeof line, "%-12s %7s | %27s | %27s\n", "", "", "wall ms: mean    p95  worst",
                "CPU ms: mean    p95  worst");
  text += line;
  for (const FrameStats& s : r.stats) {
    std::snprintf(line, sizeof line, "%-12s %7lld | %9.2f %8.2f %8.2f | %9.2f %8.2f %8.2f\n",
                  s.scene.c_str(), s.frames, s.wallMean * 1e3, s.wallP95 * 1e3, s.wallWorst * 1e3,
                  s.cpuMean * 1e3, s.cpuP95 * 1e3, s.cpuWorst * 1e3);
    text += line;
  }
  return text;
}

std::string BenchJson(const BenchReport& r) {
  char buffer[512];
  std::string json;
  std::snprintf(buffer, sizeof buffer,
                "{\n  \"width\": %d, \"height\": %d, \"fps\": %d, \"from\": %.6f, \"to\": %.6f,\n"
                "  \"load_seconds\": {\"cold\": %s, \"warm\": %s},\n  \"scenes\": [\n",
                r.width, r.height, r.fps, r.from, r.to,
                r.coldLoad < 0 ? "null" : Format("%.4f", r.coldLoad, 0, 0).c_str(),
                r.warmLoad < 0 ? "null" : Format("%.4f", r.warmLoad, 0, 0).c_str());
  json += buffer;
  for (std::size_t i = 0; i < r.stats.size(); ++i) {
    const FrameStats& s = r.stats[i];
    std::snprintf(buffer, sizeof buffer,
                  "    {\"scene\": \"%s\", \"frames\": %lld,\n"
                  "     \"wall_ms\": {\"mean\": %.3f, \"p95\": %.3f, \"worst\": %.3f},\n"
                  "     \"cpu_ms\": {\"mean\": %.3f, \"p95\": %.3f, \"worst\": %.3f}}%s\n",
                  s.scene.c_str(), s.frames, s.wallMean * 1e3, s.wallP95 * 1e3, s.wallWorst * 1e3,
                  s.cpuMean * 1e3, s.cpuP95 * 1e3, s.cpuWorst * 1e3, i + 1 < r.stats.size() ? "," : "");
    json += buffer;
  }
  json += "  ]\n}\n";
  return json;
}

}  // namespace demo
