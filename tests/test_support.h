#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/logging.h"
#include "platform/system.h"

namespace velox_test {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A fresh directory under the build tree, named after the running test,
// made the working directory for the test's lifetime. With `withData` it
// holds a data/ folder, so the log lands there.
class ScopedWorkDir {
 public:
  explicit ScopedWorkDir(bool withData = true) : mOld(std::filesystem::current_path()) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    mDir = std::filesystem::path(VELOX_TEST_TMP) / info->test_suite_name() / info->name();
    std::filesystem::remove_all(mDir);
    std::filesystem::create_directories(withData ? mDir / "data" : mDir);
    std::filesystem::current_path(mDir);
  }
  ~ScopedWorkDir() { std::filesystem::current_path(mOld); }

  const std::filesystem::path& Path() const { return mDir; }

 private:
  std::filesystem::path mOld;
  std::filesystem::path mDir;
};

// Writes a text file, creating its folders.
inline void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Closes the current log (footer written) so that the next Get opens a new
// one in the current working directory.
inline void CloseLog() { delete engine::core::Logging::Get(); }

// Closes the log and returns the rows between header and footer.
inline std::string CloseLogAndReadRows(const std::filesystem::path& dir) {
  CloseLog();
  const std::string all = ReadFile(dir / "data" / "log.html");
  const std::string headerEnd = "<tr><td><br /></td></tr>\n";
  const std::string footer = "</body></html>\n";
  const auto begin = all.find(headerEnd);
  if (begin == std::string::npos || all.size() < footer.size()) return "<malformed log>";
  const auto start = begin + headerEnd.size();
  return all.substr(start, all.size() - footer.size() - start);
}

// How often needle occurs in haystack (overlapping occurrences count).
inline int Count(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (auto pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + 1)) {
    ++n;
  }
  return n;
}

struct RecordedBox {
  const platform::Window* owner;
  std::wstring text;
  std::wstring caption;
};

// Records message boxes instead of showing them.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder() {
    mPrevious = platform::SetMessageBoxHook(
        [this](const platform::Window* owner, const std::wstring& text,
               const std::wstring& caption) { boxes.push_back({owner, text, caption}); });
  }
  ~MessageBoxRecorder() { platform::SetMessageBoxHook(mPrevious); }

  std::vector<RecordedBox> boxes;

 private:
  platform::MessageBoxHook mPrevious;
};

}  // namespace velox_test
