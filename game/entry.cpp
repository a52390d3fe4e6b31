#include "game/entry.h"

#include <cstdio>
#include <memory>

#include "engine/effectPool.h"
#include "engine/kernel.h"
#include "engine/logging.h"
#include "engine/timer.h"
#include "engine/windowStuff.h"
#include "engine/wrapper.h"
#include "game/demoModule.h"
#include "platform/display.h"
#include "platform/graphics.h"
#include "platform/system.h"

namespace demo {

namespace {

constexpr unsigned long kPixelShader20 = 0xFFFF0200ul;

void ShowError(const engine::core::Exception& e) {
  platform::ShowMessageBox(nullptr, e.GetText(), e.GetFunction());
}

}  // namespace

std::vector<unsigned long> ShaderTargetCalls(const std::string& commandLine) {
  // Plain substring tests in table order: "ps0" also matches inside "ps00".
  static const struct {
    const char* option;
    unsigned long version;
  } kOptions[] = {{"ps0", 0xFFFF0000ul},  {"ps11", 0xFFFF0101ul}, {"ps12", 0xFFFF0102ul},
                  {"ps13", 0xFFFF0103ul}, {"ps14", 0xFFFF0104ul}, {"ps20", 0xFFFF0200ul},
                  {"ps30", 0xFFFF0300ul}};
  std::vector<unsigned long> calls;
  for (const auto& o : kOptions)
    if (commandLine.find(o.option) != std::string::npos) calls.push_back(o.version);
  return calls;
}

int RunProgram(const std::string& commandLine) {
  const bool noDialog = commandLine.find("nodialog") != std::string::npos;
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

  auto demo = std::make_unique<TestScene1>();
  try {
    engine::CreateVELOXWindow(settings);
    for (unsigned long version : ShaderTargetCalls(commandLine))
      engine::SetTargetShaderVersion(version);
    if (engine::GetDirect3DCaps().pixelShaderVersion < kPixelShader20)
      throw engine::core::Exception(L"Pixel shader version 2.0 support is a must",
                                    L"Checking graphics card capabilities");
    engine::AddModule(demo.get(), 10100);
  } catch (const engine::core::Exception& e) {
    ShowError(e);
    return 0;
  }

  // The kernel has already reported why the content could not be built;
  // playing music over a module with no scenes would show nothing.
  if (!demo->Ready()) {
    engine::core::Kernel::Get()->KillAll();
    engine::ShutDownEngine();
    return 0;
  }

  try {
    engine::StartApplication();
  } catch (const engine::core::Exception& e) {
    ShowError(e);
    return 0;
  }
  std::printf("Quiet Port: %lld frames, ended in scene %d of %d; log in data/log.html\n",
              demo->Frames(), demo->SceneIndex() + 1, TestScene1::kSceneCount);
  return 0;
}

}  // namespace demo
