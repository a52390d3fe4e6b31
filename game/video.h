#pragma once

#include <memory>
#include <string>

#include "game/bitmapText.h"

namespace demo {

// An MP4 file (H.264 video, AAC audio) written through FFmpeg's libraries.
// The file is built under a temporary name and renamed only when it is
// complete, so an interrupted recording leaves nothing under the final name.
class VideoWriter {
 public:
  // The music (empty: none) from `from` seconds is muxed in step with the
  // frames; frames are width x height RGB at fps.
  static std::unique_ptr<VideoWriter> Open(const std::string& path, int width, int height, int fps,
                                           const std::string& music, double from,
                                           std::string* error);
  ~VideoWriter();

  bool AddFrame(const Picture& frame, std::string* error);
  // Flushes the encoders, completes the file and gives it its name.
  bool Finish(std::string* error);
  // Removes the temporary file (an unfinished writer does so on destruction).
  void Abandon();

  // The codec names in use, for the summary.
  std::string Codecs() const;

  struct State;

 private:
  explicit VideoWriter(std::unique_ptr<State> state);
  std::unique_ptr<State> mState;
};

// What a video file holds, as a player would find it.
struct VideoInfo {
  std::string error;  // empty when the file could be read
  std::string videoCodec;
  std::string audioCodec;
  int width = 0;
  int height = 0;
  long long frames = 0;
  double videoSeconds = 0.0;
  double audioSeconds = 0.0;
  double videoStart = 0.0;
  double audioStart = 0.0;
};
VideoInfo ProbeVideo(const std::string& path);

}  // namespace demo
