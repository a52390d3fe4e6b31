// The file watcher under live editing: only complete files are reported,
// once each, from folders made after the start too; a folder that cannot be
// watched says why.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/watch.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(FileWatcherTest, ReportsCompleteFilesOnceEachFromEveryFolder) {
  velox_test::ScopedWorkDir dir;
  fs::create_directories("data/fx");
  std::string why;
  std::unique_ptr<platform::FileWatcher> watcher = platform::WatchFolder("data", &why);
  ASSERT_NE(watcher, nullptr) << why;
  EXPECT_TRUE(watcher->Changes().empty());

  // Half written: nothing until it is closed.
  const int file = open("data/fx/a.fx", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "float4", 6), 6);
  EXPECT_TRUE(watcher->Changes().empty());
  ASSERT_EQ(write(file, " x;", 3), 3);
  close(file);
  velox_test::WriteText("data/fx/a.fx", "again");  // twice before a look: once
  velox_test::WriteText("data/top.efx.tmp", "x");
  fs::rename("data/top.efx.tmp", "data/top.efx");  // an editor's save
  EXPECT_EQ(Sorted(watcher->Changes()), (std::vector<std::string>{"fx/a.fx", "top.efx", "top.efx.tmp"}));

  // A folder made while watching, with a file written before its watch began.
  fs::create_directories("data/new.demo_scene");
  velox_test::WriteText("data/new.demo_scene/Mesh.vlx", "x");
  EXPECT_EQ(watcher->Changes(), std::vector<std::string>{"new.demo_scene/Mesh.vlx"});
  velox_test::WriteText("data/new.demo_scene/Mesh.vlx.efx", "x");
  fs::remove("data/fx/a.fx");
  EXPECT_EQ(Sorted(watcher->Changes()), (std::vector<std::string>{"fx/a.fx", "new.demo_scene/Mesh.vlx.efx"}));
  EXPECT_TRUE(watcher->Changes().empty());

  EXPECT_EQ(platform::WatchFolder("missing", &why), nullptr);
  EXPECT_NE(why.find("cannot watch missing"), std::string::npos) << why;
}

}  // namespace
