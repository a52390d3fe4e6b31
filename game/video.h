#pragma once

#include <memory>
#include <string>
#include <vector>

#include "game/bitmapText.h"

namespace demo {

// An MP4 file (H.264 video, AAC audio) written through FFmpeg's libraries.
// The file is built under a temporary name and renamed only when it is
// complete, so an interrupted recording leaves nothing under the final name.
class VideoWriter {
 public:
  // The music (empty: none) from `from` seconds is muxed in step with the
  // frames; frames are width x height RGB at fps. segment > 0 (seconds, a
  // whole number of frames): the video encoder starts afresh, on a key
  // frame, at every multiple of it on the demo's clock, so that recordings
  // of ranges that begin and end on those times join into exactly this
  // video (JoinVideos).
  static std::unique_ptr<VideoWriter> Open(const std::string& path, int width, int height, int fps,
                                           const std::string& music, double from, double segment,
                                           std::string* error);
  // A writer whose video comes from recordings (AddPiece), not frames: its
  // stream as the first piece has it.
  static std::unique_ptr<VideoWriter> OpenJoin(const std::string& path, const std::string& firstPiece,
                                               const std::string& music, double from,
                                               std::string* error);
  ~VideoWriter();

  bool AddFrame(const Picture& frame, std::string* error);
  // Appends the video of a recording made with the same encoder settings,
  // its packets as they are (nothing decoded or encoded again); its sound
  // is left out, the writer's own follows the frames.
  bool AddPiece(const std::string& piece, std::string* error);
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

// Joins recordings of consecutive ranges, made with the same options and a
// --segment whose multiples the ranges begin and end on, into one video as
// the range made in one piece would have been: their video packets copied,
// the music from `from` muxed afresh for the whole length. Written under a
// temporary name first, like every recording.
bool JoinVideos(const std::vector<std::string>& pieces, const std::string& path,
                const std::string& music, double from, std::string* error);

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
