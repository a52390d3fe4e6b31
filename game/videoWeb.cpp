// Recording in a web page: the page has no FFmpeg, so --video is refused
// with a clear message (frames still work; video comes from the native
// program, scripts/run --record).
#include "game/video.h"

namespace demo {

namespace {
const char kNone[] = "this build records no video: record with the native program";
}

struct VideoWriter::State {};

VideoWriter::VideoWriter(std::unique_ptr<State> state) : mState(std::move(state)) {}
VideoWriter::~VideoWriter() = default;

std::unique_ptr<VideoWriter> VideoWriter::Open(const std::string&, int, int, int, const std::string&, double,
                                               double, std::string* error) {
  *error = kNone;
  return nullptr;
}

std::unique_ptr<VideoWriter> VideoWriter::OpenJoin(const std::string&, const std::string&, const std::string&,
                                                   double, std::string* error) {
  *error = kNone;
  return nullptr;
}

bool VideoWriter::AddFrame(const Picture&, std::string* error) {
  *error = kNone;
  return false;
}

bool VideoWriter::AddPiece(const std::string&, std::string* error) {
  *error = kNone;
  return false;
}

bool VideoWriter::Finish(std::string* error) {
  *error = kNone;
  return false;
}

void VideoWriter::Abandon() {}
std::string VideoWriter::Codecs() const { return ""; }

bool JoinVideos(const std::vector<std::string>&, const std::string&, const std::string&, double, std::string* error) {
  *error = kNone;
  return false;
}

VideoInfo ProbeVideo(const std::string&) {
  VideoInfo info;
  info.error = kNone;
  return info;
}

}  // namespace demo
