#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/kernel.h"
#include "game/bitmapText.h"

namespace platform {
class Surface;
}

namespace demo {

class VideoWriter;

// Frames at fixed steps of a range; how many there are.
long long FrameCount(double from, double to, int fps);

// Set by the interrupt signal: a recording then ends cleanly at the next
// frame and leaves no half-written file behind.
extern volatile std::sig_atomic_t gInterrupted;

// Scales a picture down by averaging the pixels each target pixel covers.
Picture Shrink(const Picture& source, int width, int height);

// Thumbnails in a grid, each with a label under it.
class ContactSheet {
 public:
  explicit ContactSheet(int columns = 6, int thumbWidth = 256) : mColumns(columns), mThumbWidth(thumbWidth) {}
  void Add(const Picture& frame, const std::string& label);
  bool Empty() const { return mThumbs.empty(); }
  Picture Compose() const;

 private:
  int mColumns;
  int mThumbWidth;
  std::vector<std::pair<Picture, std::string>> mThumbs;
};

// "1:04.00", the sheet's and the overlay's time format.
std::string ClockText(double seconds);

// Records what the renderer presented each frame: numbered PNG pictures,
// the frames of a video, thumbnails for a contact sheet. Runs right after
// the renderer, whose back buffer keeps the frame after Present. Ends the
// program after the last frame of the range; a program that ends before it
// leaves an interrupted recording.
class Capture : public engine::core::Module {
 public:
  struct Plan {
    double from = 0.0;
    double to = 0.0;
    int fps = 25;
    std::string framesDir;
    std::string video;
    std::string sheet;
    double sheetEvery = 2.0;
    std::string music;  // muxed into the video
    bool progress = true;
  };

  static constexpr int kPriority = 12100;

  // label(time) names what plays at that time, for the sheet.
  Capture(Plan plan, std::function<std::string(double)> label);
  ~Capture() override;

  bool Start() override;
  void Update() override;
  void Stop() override;

  long long Frames() const { return mFrames; }
  bool Failed() const { return !mError.empty(); }
  const std::string& Error() const { return mError; }
  bool Interrupted() const { return mInterrupted; }
  double Seconds() const { return mSeconds; }

 private:
  bool ReadFrame(Picture* picture);
  void Fail(const std::string& error);
  void ShowProgress(bool last);

  Plan mPlan;
  std::function<std::string(double)> mLabel;
  long long mTotal = 0;
  long long mFrames = 0;
  double mNextSheetTime = 0.0;
  ContactSheet mSheet;
  std::unique_ptr<VideoWriter> mVideo;
  platform::Surface* mReadable = nullptr;
  std::string mError;
  bool mInterrupted = false;
  bool mFinished = false;
  double mStartWall = 0.0;
  double mSeconds = 0.0;
  double mLastPrint = -1.0;
  bool mTerminal = false;
};

}  // namespace demo
