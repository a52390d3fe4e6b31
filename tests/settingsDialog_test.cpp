#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/windowStuff.h"
#include "platform/dialog.h"
#include "platform/display.h"
#include "test_support.h"

using engine::CollectDisplayChoices;
using engine::DisplayChoices;
using engine::WindowSettings;
using platform::DisplayMode;
using platform::kFormatR5G6B5;
using platform::kFormatX8R8G8B8;
using platform::dialog::SettingsSelection;
using velox_test::ScopedWorkDir;

namespace {

using Sizes = std::vector<std::pair<int, int>>;
using Texts = std::vector<std::string>;

std::uint32_t Bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

platform::dialog::SettingsDialogModel ModelOf(const std::vector<DisplayMode>& modes) {
  return engine::BuildSettingsDialogModel(CollectDisplayChoices(modes));
}

// A typical desktop: several rates per size, both formats, out of order.
std::vector<DisplayMode> Desktop() {
  return {{1280, 1024, 60, kFormatX8R8G8B8}, {800, 600, 75, kFormatX8R8G8B8},
          {1024, 768, 60, kFormatX8R8G8B8},  {1024, 768, 75, kFormatX8R8G8B8},
          {640, 480, 60, kFormatX8R8G8B8},   {800, 600, 60, kFormatX8R8G8B8},
          {1024, 768, 60, kFormatR5G6B5},    {640, 480, 70, kFormatR5G6B5}};
}

TEST(SettingsDialogLists, SizesAndRatesAreUniqueAndSorted) {
  const DisplayChoices choices = CollectDisplayChoices(Desktop());
  EXPECT_EQ(choices.resolutions, (Sizes{{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}}));
  EXPECT_EQ(choices.rates, (std::vector<int>{60, 70, 75}));

  const auto model = engine::BuildSettingsDialogModel(choices);
  EXPECT_EQ(model.resolutions, (Texts{"640 x 480", "800 x 600", "1024 x 768", "1280 x 1024"}));
  EXPECT_EQ(model.rates, (Texts{"60Hz", "70Hz", "75Hz"}));
  EXPECT_EQ(model.backBuffers, (Texts{"32bit", "16bit"}));
  EXPECT_EQ(model.antialiasing,
            (Texts{"No Antialiasing", "2 Samples", "4 Samples", "6 Samples", "8 Samples"}));
  EXPECT_EQ(model.aspects, (Texts{"Auto", "4:3", "16:10", "16:9", "5:4"}));
}

TEST(SettingsDialogLists, HeightBreaksTiesBetweenEqualWidths) {
  const DisplayChoices choices = CollectDisplayChoices({{1024, 768, 60, kFormatX8R8G8B8},
                                                        {1024, 600, 60, kFormatX8R8G8B8},
                                                        {800, 1280, 60, kFormatX8R8G8B8}});
  EXPECT_EQ(choices.resolutions, (Sizes{{800, 1280}, {1024, 600}, {1024, 768}}));
}

TEST(SettingsDialogInitialSelection, FirstWideModeAndSixtyHertz) {
  const SettingsSelection initial = ModelOf(Desktop()).initial;
  EXPECT_EQ(initial.resolution, 2);  // 1024 x 768
  EXPECT_EQ(initial.rate, 0);        // 60Hz
  EXPECT_EQ(initial.backBuffer, 0);
  EXPECT_EQ(initial.antialias, 0);
  EXPECT_EQ(initial.aspect, 0);
  EXPECT_TRUE(initial.fullscreen);
  EXPECT_FALSE(initial.vsync);
  EXPECT_FALSE(initial.onTop);
}

TEST(SettingsDialogInitialSelection, SmallerHeightOfTheWideModesWins) {
  const auto model = ModelOf({{1024, 768, 60, kFormatX8R8G8B8}, {1024, 600, 60, kFormatX8R8G8B8}});
  ASSERT_EQ(model.initial.resolution, 0);
  EXPECT_EQ(model.resolutions[0], "1024 x 600");
}

TEST(SettingsDialogInitialSelection, SixtyHertzElseTheLowestRate) {
  const auto with60 = ModelOf({{800, 600, 75, kFormatX8R8G8B8},
                               {800, 600, 59, kFormatX8R8G8B8},
                               {800, 600, 60, kFormatX8R8G8B8}});
  EXPECT_EQ(with60.rates[static_cast<std::size_t>(with60.initial.rate)], "60Hz");

  const auto without60 =
      ModelOf({{800, 600, 75, kFormatX8R8G8B8}, {800, 600, 70, kFormatX8R8G8B8}});
  EXPECT_EQ(without60.rates[static_cast<std::size_t>(without60.initial.rate)], "70Hz");
}

TEST(SettingsDialogInitialSelection, NoWideModeSelectsTheFirstSize) {
  const DisplayChoices choices =
      CollectDisplayChoices({{1280, 1024, 60, kFormatX8R8G8B8}, {800, 600, 60, kFormatX8R8G8B8}});
  const SettingsSelection initial = engine::BuildSettingsDialogModel(choices).initial;
  EXPECT_EQ(initial.resolution, 0);
  const WindowSettings settings = engine::SettingsFromDialog(initial, choices);
  EXPECT_EQ(settings.width, 800);
  EXPECT_EQ(settings.height, 600);
}

TEST(SettingsDialogInitialSelection, NoModesSelectNothingAndKeepTheDefaults) {
  const DisplayChoices none = CollectDisplayChoices({});
  const auto model = engine::BuildSettingsDialogModel(none);
  EXPECT_TRUE(model.resolutions.empty());
  EXPECT_TRUE(model.rates.empty());
  EXPECT_EQ(model.initial.resolution, -1);
  EXPECT_EQ(model.initial.rate, -1);

  const WindowSettings settings = engine::SettingsFromDialog(model.initial, none);
  EXPECT_EQ(settings.width, 1024);
  EXPECT_EQ(settings.height, 768);
  EXPECT_EQ(settings.refreshRate, 60);
}

TEST(SettingsDialogMapping, EveryFixedItemMapsToItsValue) {
  const DisplayChoices choices = CollectDisplayChoices(Desktop());
  SettingsSelection selection = engine::BuildSettingsDialogModel(choices).initial;

  const int formats[] = {22, 23};
  for (int i = 0; i < 2; ++i) {
    selection.backBuffer = i;
    EXPECT_EQ(engine::SettingsFromDialog(selection, choices).backBufferFormat, formats[i]);
  }
  const int samples[] = {0, 2, 4, 6, 8};
  for (int i = 0; i < 5; ++i) {
    selection.antialias = i;
    EXPECT_EQ(engine::SettingsFromDialog(selection, choices).multiSampleType, samples[i]);
  }
  // Bit for bit: the projection divides by these.
  const std::uint32_t aspects[] = {0xBF800000u, 0x3FAAAAABu, 0x3FCCCCCDu, 0x3FE38E39u, 0x3FA00000u};
  for (int i = 0; i < 5; ++i) {
    selection.aspect = i;
    EXPECT_EQ(Bits(engine::SettingsFromDialog(selection, choices).aspectRatio), aspects[i])
        << "aspect item " << i;
  }
}

TEST(SettingsDialogMapping, ListsAndBoxesReachTheRecord) {
  const DisplayChoices choices = CollectDisplayChoices(Desktop());
  SettingsSelection selection;
  selection.resolution = 3;
  selection.rate = 2;
  selection.aspect = 2;  // "16:10"
  selection.fullscreen = false;
  selection.vsync = true;
  selection.onTop = true;
  const WindowSettings on = engine::SettingsFromDialog(selection, choices);
  EXPECT_EQ(on.width, 1280);
  EXPECT_EQ(on.height, 1024);
  EXPECT_EQ(on.refreshRate, 75);
  EXPECT_EQ(on.aspectRatio, 1.6f);
  EXPECT_FALSE(on.fullscreen);
  EXPECT_EQ(on.presentInterval, 1u);
  EXPECT_TRUE(on.alwaysOnTop);
  EXPECT_EQ(on.depthStencilFormat, 77);
  EXPECT_EQ(on.title, L"Empty");

  selection.vsync = false;
  EXPECT_EQ(engine::SettingsFromDialog(selection, choices).presentInterval, 0x80000000u);
}

TEST(SettingsDialogMapping, PositionsOutsideTheListsKeepTheDefaults) {
  const DisplayChoices choices = CollectDisplayChoices(Desktop());
  SettingsSelection selection;
  selection.resolution = 4;
  selection.rate = -1;
  selection.backBuffer = 2;
  selection.antialias = -1;
  selection.aspect = 5;
  const WindowSettings settings = engine::SettingsFromDialog(selection, choices);
  const WindowSettings defaults;
  EXPECT_EQ(settings.width, defaults.width);
  EXPECT_EQ(settings.height, defaults.height);
  EXPECT_EQ(settings.refreshRate, defaults.refreshRate);
  EXPECT_EQ(settings.backBufferFormat, defaults.backBufferFormat);
  EXPECT_EQ(settings.multiSampleType, defaults.multiSampleType);
  EXPECT_EQ(settings.aspectRatio, defaults.aspectRatio);
}

TEST(SettingsDialogRecord, GlobalRecordDiffersFromTheDefaultsOnlyInAspect) {
  const WindowSettings* global = engine::GetWindowSettings();
  ASSERT_EQ(global, engine::GetWindowSettings());
  EXPECT_EQ(Bits(global->aspectRatio), 0u);
  EXPECT_EQ(WindowSettings().aspectRatio, -1.0f);
  EXPECT_EQ(global->width, 1024);
  EXPECT_EQ(global->depthStencilFormat, 77);
  EXPECT_EQ(global->presentInterval, 0u);
  EXPECT_EQ(global->title, L"Empty");
}

// Marked unattended, or without any display, nothing is shown or waited for.
TEST(SettingsDialogUnattended, PlatformReturnsTheInitialSelectionAtOnce) {
  platform::dialog::SettingsDialogModel model = ModelOf(Desktop());
  model.initial.aspect = 3;
  model.initial.onTop = true;
  const auto check = [&model](const char* path) {
    const auto result = platform::dialog::RunSettingsDialog(model);
    EXPECT_EQ(result.ending, platform::dialog::Ending::Start) << path;
    EXPECT_EQ(result.selection.resolution, model.initial.resolution) << path;
    EXPECT_EQ(result.selection.aspect, 3) << path;
    EXPECT_TRUE(result.selection.fullscreen) << path;
    EXPECT_TRUE(result.selection.onTop) << path;
  };
  check("marked unattended");
  unsetenv("VELOX_NONINTERACTIVE");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  check("no display");
}

TEST(SettingsDialogUnattended, DialogCollectsBothFormatsAndReturnsThePreselection) {
  ScopedWorkDir dir;
  // The only 1024-wide mode is a 16-bit one: it is found only if both
  // formats are asked for.
  platform::SetDisplayModesForTesting({{1280, 1024, 75, kFormatX8R8G8B8},
                                       {800, 600, 60, kFormatX8R8G8B8},
                                       {1024, 768, 60, kFormatR5G6B5}});
  const WindowSettings settings = engine::SettingsDialog();
  platform::SetDisplayModesForTesting({});

  EXPECT_EQ(settings.width, 1024);
  EXPECT_EQ(settings.height, 768);
  EXPECT_EQ(settings.refreshRate, 60);
  EXPECT_EQ(settings.aspectRatio, -1.0f);
  EXPECT_TRUE(settings.fullscreen);
  EXPECT_EQ(settings.presentInterval, 0x80000000u);

  const std::string rows = velox_test::CloseLogAndReadRows(dir.Path());
  EXPECT_EQ(velox_test::Count(rows, "Settings dialog initiated"), 1);
  EXPECT_EQ(velox_test::Count(rows, "Quit called"), 0);
}

}  // namespace
