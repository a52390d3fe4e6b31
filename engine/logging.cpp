#include "engine/logging.h"

#include <utility>

#include "engine/strings.h"

namespace engine::pattern {
template class Singleton<core::Logging>;
}

namespace engine::core {
namespace {

constexpr const char* kPath = "data/log.html";

constexpr const char* kHeader[] = {
    "<html>\n<head>\n",
    "<style type=\"text/css\">\n",
    "body\n{\n\tfont-family: Verdana;\n}\ntr\n{\n\tfont-size: 70%;\n\tfont-weight: normal;\n}\n",
    ("tr.warning\n{\n\tfont-size: 75%;\n\tcolor: rgb(100, 0, 0);\n}\n"
     "tr.error\n{\n\tfont-size: 80%;\n\tcolor: rgb(255, 0, 0);\n}\n</style>\n"),
    "<title>VELOX Log File</title>\n</head>\n<body>\n<table>\n",
    "<tr><td>Type</td><td>Line</td><td>File</td><td>Message</td></tr><tr><td><br /></td></tr>\n",
};
constexpr const char* kFooter = "</body></html>\n";

constexpr const char* kMessageOpening = "<tr><td>MESSAGE</td><td>";
constexpr const char* kWarningOpening = "<tr class=\"warning\"><td>WARNING</td><td>";
constexpr const char* kErrorOpening = "<tr class=\"error\"><td>ERROR</td><td>";

std::wstring Site(const std::string& file, int line) {
  return ToWide(file) + L":" + std::to_wstring(line);
}

// The log outlives everything else in the library: it is closed when the
// library unloads. Get() first, so that a process that never logged still
// leaves a complete file.
struct LogCloser {
  ~LogCloser() { delete Logging::Get(); }
} gLogCloser;

}  // namespace

Exception::Exception(std::wstring text, std::wstring function)
    : mText(std::move(text)), mFunction(std::move(function)) {}

std::wstring Exception::GetText() const { return mText; }
std::wstring Exception::GetFunction() const { return mFunction; }

Logging::Logging() {
  // A missing data directory means no log, not a failure.
  mFile = std::fopen(kPath, "w");
  for (const char* part : kHeader) Write(part);
}

Logging::~Logging() {
  Write(kFooter);
  if (mFile != nullptr) std::fclose(mFile);
}

void Logging::Write(const std::string& text) {
  if (mFile == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), mFile);
  std::fflush(mFile);
}

void Logging::Row(const char* opening, const std::string& message, const std::string& file,
                  int line) {
  std::lock_guard<std::mutex> lock(mMutex);
  // Written as one piece: a reader of the growing file never sees half a row.
  std::string row = opening;
  row += std::to_string(line);
  row += "</td><td>";
  row += file;
  row += "</td><td>";
  row += message;
  row += "</td></tr>\n";
  Write(row);
}

void Logging::Message(const std::string& message, const std::string& file, int line) {
  Row(kMessageOpening, message, file, line);
}

void Logging::Warning(const std::string& message, const std::string& file, int line) {
  Row(kWarningOpening, message, file, line);
}

void Logging::Error(const std::string& message, const std::string& file, int line) {
  Row(kErrorOpening, message, file, line);
  throw Exception(ToWide(message), Site(file, line));
}

void Logging::Error(const std::wstring& message, const std::string& file, int line) {
  Row(kErrorOpening, ToNarrow(message), file, line);
  throw Exception(message, Site(file, line));
}

}  // namespace engine::core
