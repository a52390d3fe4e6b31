// The demo on an OpenGL ES 3.0 context (the subset WebGL 2 offers) looks as
// it does on desktop OpenGL: the program renders a moment of each scene both
// ways, with nothing warned about, and each pair is at least 30 dB apart.
// Skipped where the machine has no OpenGL ES 3.0 context.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "gl_support.h"
#include "platform/gl/glGraphics.h"
#include "platform/graphics.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

bool EsContextAvailable(std::string* why) {
  setenv("VELOX_GL", "es", 1);
  Direct3D* d3d = Direct3DCreate(Backend::GL);
  Device* device = nullptr;
  PresentParameters pp;
  pp.backBufferWidth = pp.backBufferHeight = 16;
  pp.windowed = true;
  if (d3d != nullptr) d3d->CreateDevice(0, kDeviceHal, nullptr, kHardwareVertexProcessing, &pp, &device);
  *why = gl::LastError();
  if (device != nullptr) device->Release();
  if (d3d != nullptr) d3d->Release();
  unsetenv("VELOX_GL");
  return device != nullptr;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `command`, returning what it printed and its exit status.
std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  *status = pclose(pipe);
  return out;
}

TEST(GlesFrames, EachSceneLooksAsOnDesktopGl) {
  std::string why;
  if (!EsContextAvailable(&why)) GTEST_SKIP() << "no OpenGL ES 3.0 context: " << why;

  // A folder of its own whose data/ links to the build's content, so that
  // the program's log and mesh caches stay here.
  const fs::path work = fs::path(VELOX_TEST_TMP) / "gles_frames";
  fs::remove_all(work);
  fs::create_directories(work / "data");
  for (const auto& entry : fs::directory_iterator(VELOX_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name != "log.html" && name != "serial") fs::create_symlink(entry.path(), work / "data" / name);
  }
  // Underwater, incurve and city, one second apart.
  const int times[] = {30, 80, 130};
  for (const char* api : {"desktop", "es"}) {
    const std::string command = "cd '" + work.string() + "' && VELOX_GL=" + api + " " +
                                VELOX_CHILD_ENVIRONMENT " " VELOX_TEST_LAUNCHER " '" VELOX_BIN_DIR
                                "/game' nodialog --frames=" + api +
                                " --size=320x180 --fps=1 --from=30 --to=131";
    int status = 0;
    const std::string output = RunCommand(command, &status);
    ASSERT_EQ(status, 0) << command << "\n" << output;
    const std::string log = Read(work / "data/log.html");
    EXPECT_EQ(log.find("<td>WARNING</td>"), std::string::npos) << api << ":\n" << log;
    EXPECT_EQ(log.find("<td>ERROR</td>"), std::string::npos) << api << ":\n" << log;
    EXPECT_NE(log.find(std::string(api) == "es" ? "OpenGL ES 3.0 context" : "OpenGL 4.5 core context"),
              std::string::npos);
  }
  fs::create_directories(work / "diff");
  for (int t : times) {
    char name[16];
    std::snprintf(name, sizeof name, "%06d.png", t);
    const fs::path diff = work / "diff" / name;
    const std::string command = "'" VELOX_BIN_DIR "/picdiff' '" + (work / "desktop" / name).string() +
                                "' '" + (work / "es" / name).string() + "' '" + diff.string() + "'";
    int status = 0;
    const std::string output = RunCommand(command, &status);
    ASSERT_EQ(status, 0) << output;
    double psnr = 0;
    const bool equal = output.rfind("psnr inf", 0) == 0;
    ASSERT_TRUE(equal || std::sscanf(output.c_str(), "psnr %lf", &psnr) == 1) << output;
    if (equal || psnr >= 30) {
      fs::remove(diff);
    } else {
      ADD_FAILURE() << "second " << t << ": " << output << "the difference is " << diff;
    }
  }
}

}  // namespace
