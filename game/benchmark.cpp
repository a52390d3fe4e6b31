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
      mWall(mNames.size()), mCpu(mNames.size()), mProfiles(mNames.size()) {
  mName = L"Benchmark";
  mPriority = kPriority;
}

void Benchmark::Update() {
  const double wall = WallSeconds(), cpu = CpuSeconds();
  const auto scene = static_cast<std::size_t>(std::clamp(mScene(), 0, static_cast<int>(mNames.size()) - 1));
  // The first frame only starts the watch: before it lie the clock's and
  // the music's start, not a frame.
  if (mFrames > 0) {
    mWall[scene].push_back(wall - mLastWall);
    mCpu[scene].push_back(cpu - mLastCpu);
  }
  engine::core::FrameProfiler::Get().SetTag(mFrames > 0 ? static_cast<int>(scene) : -1);
  Collect();
  mLastWall = wall;
  mLastCpu = cpu;
  if (++mFrames >= mTotal) engine::QuitApplication();
}

namespace {

void AddPasses(std::vector<engine::core::PassTime>* into, const std::vector<engine::core::PassTime>& passes) {
  for (const engine::core::PassTime& t : passes) {
    auto it = std::find_if(into->begin(), into->end(),
                           [&](const engine::core::PassTime& q) { return q.key == t.key; });
    if (it == into->end()) {
      into->push_back(t);
    } else {
      it->ms += t.ms;
    }
  }
}

std::string JsonText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void Benchmark::Collect() {
  for (engine::core::FrameProfile& f : engine::core::FrameProfiler::Get().TakeFinished()) {
    if (f.tag < 0 || f.tag >= static_cast<int>(mProfiles.size())) continue;
    Profile& p = mProfiles[static_cast<std::size_t>(f.tag)];
    ++p.frames;
    for (int s = 0; s < engine::core::kStageCount; ++s) p.stageMs[s] += f.stageMs[s];
    if (!f.gpu) continue;
    ++p.gpuFrames;
    AddPasses(&p.passes, f.passes);
  }
}

std::vector<std::string> PassLines(const FrameStats& s, std::size_t count) {
  std::vector<std::string> lines;
  const double frameMs = s.wallMean * 1e3;
  for (std::size_t i = 0; i < s.passes.size() && i < count; ++i) {
    char line[512];
    std::snprintf(line, sizeof line, "%7.2f ms %4.0f%%  %s", s.passes[i].ms,
                  frameMs > 0 ? 100.0 * s.passes[i].ms / frameMs : 0.0, s.passes[i].key.Label().c_str());
    lines.emplace_back(line);
  }
  return lines;
}

std::vector<FrameStats> Benchmark::Results() const {
  std::vector<FrameStats> results;
  std::vector<double> allWall, allCpu;
  Profile all;
  const auto add = [&](const std::string& name, const std::vector<double>& wall,
                       const std::vector<double>& cpu, const Profile& profile) {
    FrameStats s;
    s.scene = name;
    s.frames = static_cast<long long>(wall.size());
    Summarise(wall, &s.wallMean, &s.wallP95, &s.wallWorst);
    Summarise(cpu, &s.cpuMean, &s.cpuP95, &s.cpuWorst);
    s.profiledFrames = profile.frames;
    s.gpuFrames = profile.gpuFrames;
    for (int k = 0; k < engine::core::kStageCount; ++k)
      s.stageMs[k] = profile.frames > 0 ? profile.stageMs[k] / static_cast<double>(profile.frames) : 0.0;
    for (const engine::core::PassTime& t : profile.passes) {
      const double ms = t.ms / static_cast<double>(std::max(profile.gpuFrames, 1LL));
      s.passes.push_back({t.key, ms});
      s.gpuMs += ms;
    }
    std::stable_sort(s.passes.begin(), s.passes.end(),
                     [](const PassStats& a, const PassStats& b) { return a.ms > b.ms; });
    results.push_back(s);
  };
  for (std::size_t i = 0; i < mNames.size(); ++i) {
    if (mWall[i].empty()) continue;
    const Profile& p = mProfiles[i];
    add(mNames[i], mWall[i], mCpu[i], p);
    allWall.insert(allWall.end(), mWall[i].begin(), mWall[i].end());
    allCpu.insert(allCpu.end(), mCpu[i].begin(), mCpu[i].end());
    all.frames += p.frames;
    all.gpuFrames += p.gpuFrames;
    for (int k = 0; k < engine::core::kStageCount; ++k) all.stageMs[k] += p.stageMs[k];
    AddPasses(&all.passes, p.passes);
  }
  add("all", allWall, allCpu, all);
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
  for (const FrameStats& s : r.stats) {
    if (s.profiledFrames == 0 || s.scene == "all") continue;
    text += s.scene + " stages ms:";
    for (int k = 0; k < engine::core::kStageCount; ++k) {
      std::snprintf(line, sizeof line, " %s %.2f", engine::core::StageName(static_cast<engine::core::Stage>(k)),
                    s.stageMs[k]);
      text += line;
    }
    text += "\n";
    if (s.gpuFrames == 0) continue;
    std::snprintf(line, sizeof line, "%s costliest passes (GPU ms a frame, share of the frame's %.2f ms):\n",
                  s.scene.c_str(), s.wallMean * 1e3);
    text += line;
    for (const std::string& l : PassLines(s, 8)) text += l + "\n";
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
                  "     \"cpu_ms\": {\"mean\": %.3f, \"p95\": %.3f, \"worst\": %.3f},\n",
                  s.scene.c_str(), s.frames, s.wallMean * 1e3, s.wallP95 * 1e3, s.wallWorst * 1e3,
                  s.cpuMean * 1e3, s.cpuP95 * 1e3, s.cpuWorst * 1e3);
    json += buffer;
    std::snprintf(buffer, sizeof buffer,
                  "     \"profiled_frames\": %lld, \"gpu_frames\": %lld, \"gpu_ms\": %.3f,\n     \"stages_ms\": {",
                  s.profiledFrames, s.gpuFrames, s.gpuMs);
    json += buffer;
    for (int k = 0; k < engine::core::kStageCount; ++k) {
      std::snprintf(buffer, sizeof buffer, "%s\"%s\": %.3f", k > 0 ? ", " : "",
                    engine::core::StageName(static_cast<engine::core::Stage>(k)), s.stageMs[k]);
      json += buffer;
    }
    json += "},\n     \"passes\": [";
    for (std::size_t j = 0; j < s.passes.size(); ++j) {
      const PassStats& p = s.passes[j];
      json += j > 0 ? ",\n       " : "\n       ";
      json += "{\"mesh\": \"" + JsonText(p.key.mesh) + "\", \"effect\": \"" + JsonText(p.key.effect) +
              "\", \"technique\": \"" + JsonText(p.key.technique) + "\", \"pass\": " +
              std::to_string(p.key.pass) + ", \"target\": \"" + JsonText(p.key.target) + "\", ";
      std::snprintf(buffer, sizeof buffer, "\"ms\": %.4f, \"share\": %.4f}", p.ms,
                    s.wallMean > 0 ? p.ms / (s.wallMean * 1e3) : 0.0);
      json += buffer;
    }
    json += "]}";
    json += i + 1 < r.stats.size() ? ",\n" : "\n";
  }
  json += "  ]\n}\n";
  return json;
}

}  // namespace demo
