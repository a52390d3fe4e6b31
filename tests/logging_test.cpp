#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "engine/logging.h"
#include "test_support.h"

using engine::core::Exception;
using engine::core::Logging;
using velox_test::ReadFile;
using velox_test::ScopedWorkDir;

namespace {

const std::string kHeader =
    "<html>\n<head>\n"
    "<style type=\"text/css\">\n"
    "body\n{\n\tfont-family: Verdana;\n}\ntr\n{\n\tfont-size: 70%;\n\tfont-weight: normal;\n}\n"
    "tr.warning\n{\n\tfont-size: 75%;\n\tcolor: rgb(100, 0, 0);\n}\n"
    "tr.error\n{\n\tfont-size: 80%;\n\tcolor: rgb(255, 0, 0);\n}\n</style>\n"
    "<title>VELOX Log File</title>\n</head>\n<body>\n<table>\n"
    "<tr><td>Type</td><td>Line</td><td>File</td><td>Message</td></tr><tr><td><br /></td></tr>\n";
const std::string kFooter = "</body></html>\n";

TEST(LoggingTest, WritesHeaderRowsAndFooterByteForByte) {
  ScopedWorkDir dir;
  velox_test::CloseLog();  // start a log in this directory
  Logging* log = Logging::Get();
  log->Message("a<b> & \"c\"", ".\\kernel", 0);
  log->Warning("careful", "engine/timer.cpp", -12);
  try {
    log->Error("it broke", "engine/mesh.cpp", 2147483647);
    FAIL() << "Error returned";
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"it broke");
    EXPECT_EQ(e.GetFunction(), L"engine/mesh.cpp:2147483647");
  }
  try {
    log->Error(std::wstring(L"caf\u00e9 \u20ac"), "w.cpp", -1);
    FAIL() << "Error returned";
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetText(), L"caf\u00e9 \u20ac");  // the wide text, unchanged
    EXPECT_EQ(e.GetFunction(), L"w.cpp:-1");
  }

  const std::string rows =
      "<tr><td>MESSAGE</td><td>0</td><td>.\\kernel</td><td>a<b> & \"c\"</td></tr>\n"
      "<tr class=\"warning\"><td>WARNING</td><td>-12</td><td>engine/timer.cpp</td><td>careful"
      "</td></tr>\n"
      "<tr class=\"error\"><td>ERROR</td><td>2147483647</td><td>engine/mesh.cpp</td><td>it broke"
      "</td></tr>\n"
      "<tr class=\"error\"><td>ERROR</td><td>-1</td><td>w.cpp</td><td>caf\xc3\xa9 \xe2\x82\xac"
      "</td></tr>\n";
  // Flushed after every row: the file is complete before the log closes.
  EXPECT_EQ(ReadFile(dir.Path() / "data/log.html"), kHeader + rows);
  velox_test::CloseLog();
  EXPECT_EQ(ReadFile(dir.Path() / "data/log.html"), kHeader + rows + kFooter);
}

TEST(LoggingTest, MacrosPassTheCallSite) {
  ScopedWorkDir dir;
  velox_test::CloseLog();
  const int line = __LINE__ + 1;
  ENGINE_MESSAGE("here");
  try {
    ENGINE_ERROR(std::wstring(L"wide"));
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetFunction(), L"tests/logging_test.cpp:" + std::to_wstring(line + 2));
  }
  EXPECT_EQ(velox_test::CloseLogAndReadRows(dir.Path()),
            "<tr><td>MESSAGE</td><td>" + std::to_string(line) +
                "</td><td>tests/logging_test.cpp</td><td>here</td></tr>\n"
                "<tr class=\"error\"><td>ERROR</td><td>" + std::to_string(line + 2) +
                "</td><td>tests/logging_test.cpp</td><td>wide</td></tr>\n");
}

TEST(LoggingTest, MissingDataDirectoryMeansNoFileAndNoFailure) {
  ScopedWorkDir dir(/*withData=*/false);
  velox_test::CloseLog();
  ENGINE_MESSAGE("dropped");
  ENGINE_WARNING("dropped too");
  EXPECT_THROW(ENGINE_ERROR("still thrown"), Exception);
  velox_test::CloseLog();
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "data"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(LoggingTest, SecondLogTruncatesTheFirst) {
  ScopedWorkDir dir;
  velox_test::CloseLog();
  ENGINE_MESSAGE("first run");
  velox_test::CloseLog();
  velox_test::CloseLog();  // a run that never logged
  EXPECT_EQ(ReadFile(dir.Path() / "data/log.html"), kHeader + kFooter);
}

// In sanitizer builds through the sanitizer guard, as the tests themselves.
int RunHelper(const std::filesystem::path& dir, const std::string& mode) {
  const std::string command = "cd '" + dir.string() + "' && " VELOX_TEST_LAUNCHER " '" VELOX_BIN_DIR
                              "/log_exit_helper' " + mode;
  return std::system(command.c_str());
}

TEST(LoggingTest, LibraryUnloadWritesTheFooterOnceAfterTheLastRow) {
  ScopedWorkDir dir;
  ASSERT_EQ(RunHelper(dir.Path(), "error"), 0);
  EXPECT_EQ(ReadFile(dir.Path() / "data/log.html"),
            kHeader +
                "<tr><td>MESSAGE</td><td>11</td><td>tests/log_exit_helper.cpp</td><td>starting"
                "</td></tr>\n"
                "<tr class=\"error\"><td>ERROR</td><td>77</td><td>game/main.cpp</td><td>fatal"
                "</td></tr>\n" +
                kFooter);
}

TEST(LoggingTest, ProcessThatNeverLoggedStillGetsAWholeFile) {
  ScopedWorkDir dir;
  ASSERT_EQ(RunHelper(dir.Path(), "none"), 0);
  EXPECT_EQ(ReadFile(dir.Path() / "data/log.html"), kHeader + kFooter);
}

}  // namespace
