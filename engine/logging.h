#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "engine/api.h"
#include "engine/singleton.h"

namespace engine::core {

// The one exception type of the engine and the demo program.
class ENGINE_API Exception {
 public:
  Exception(std::wstring text, std::wstring function);

  std::wstring GetText() const;
  std::wstring GetFunction() const;

 private:
  std::wstring mText;
  std::wstring mFunction;
};

// Writer of the HTML log "data/log.html": one table row per event, flushed
// as it is written so that the file tells what happened even after a crash.
// Created on first Get(); closed (footer written) when the engine library
// unloads.
class ENGINE_API Logging : public pattern::Singleton<Logging> {
 public:
  Logging();
  ~Logging() override;

  void Message(const std::string& message, const std::string& file, int line);
  void Warning(const std::string& message, const std::string& file, int line);

  // Writes an ERROR row, then throws Exception(message, "<file>:<line>").
  [[noreturn]] void Error(const std::string& message, const std::string& file, int line);
  [[noreturn]] void Error(const std::wstring& message, const std::string& file, int line);

 private:
  void Row(const char* opening, const std::string& message, const std::string& file, int line);
  void Write(const std::string& text);

  std::FILE* mFile = nullptr;
  std::mutex mMutex;
};

}  // namespace engine::core

namespace engine::pattern {
extern template class Singleton<core::Logging>;
}

// Call sites pass their own file and line.
#define ENGINE_MESSAGE(message) \
  ::engine::core::Logging::Get()->Message((message), __FILE__, __LINE__)
#define ENGINE_WARNING(message) \
  ::engine::core::Logging::Get()->Warning((message), __FILE__, __LINE__)
#define ENGINE_ERROR(message) ::engine::core::Logging::Get()->Error((message), __FILE__, __LINE__)
