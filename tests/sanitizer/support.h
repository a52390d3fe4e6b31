// What programs run by the tests share with the sanitizer guard
// (tests/sanitizer/guard.sh).
#pragma once
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velox_test {

// Tells the guard that the program itself succeeded, before the leak check
// at exit: only then may the guard repeat a run whose leak checker alone
// failed. GoogleTest programs need not: the guard reads their verdict.
inline void MarkPassed() {
  const char* path = std::getenv("VELOX_SANITIZER_GUARD_PASSED");
  if (std::FILE* f = path != nullptr ? std::fopen(path, "w") : nullptr) std::fclose(f);
}

// The first line of a sanitizer's report in a program's output, or "". A
// sanitizer ends a program with exit status 1, the status of a tool's own
// error too: a test that expects a tool to fail checks the tool's message,
// and that no sanitizer spoke.
inline std::string SanitizerReport(const std::string& output) {
  const std::size_t at = std::min(output.find("Sanitizer"), output.find("runtime error:"));
  if (at == std::string::npos) return "";
  const std::size_t begin = output.rfind('\n', at);
  const std::size_t start = begin == std::string::npos ? 0 : begin + 1;
  return output.substr(start, output.find('\n', at) - start);
}

}  // namespace velox_test
