#pragma once

#include <array>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/kernel.h"
#include "game/bitmapText.h"
#include "game/workQueue.h"
#include "platform/graphics.h"

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
//
// Recording overlaps rendering: each frame's read-back is started at once
// and collected a couple of frames later, and a writer thread converts,
// encodes and writes the frames in order while the next ones render. Its
// queue is short; a writer that falls behind holds the renderer back.
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
    double segment = 0.0;  // see VideoWriter::Open
    bool progress = true;
    // Shows the show at a time again: frames a lost device did not draw
    // are drawn again once it is back.
    std::function<void(double)> showAt;
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
  // A frame read back, on its way to the writer thread.
  struct Frame {
    std::vector<std::uint8_t> bgrx;  // rows of X8R8G8B8, top first
    int width = 0, height = 0;
    double time = 0.0;
    bool sheet = false;
    std::string label;  // the sheet's, decided when the frame was shown
  };
  // A read-back in flight.
  struct Slot {
    platform::Surface* surface = nullptr;
    Frame frame;  // all but the pixels
    double sheetBefore = 0.0;  // the next sheet time before this frame was read
  };
#ifdef __EMSCRIPTEN__
  // A lost WebGL context takes reads in flight with it, and it is lost only
  // while the page has the thread: each frame collects its own read before
  // it hands the thread back, so a loss costs no frame already drawn.
  static constexpr int kInFlight = 0;
#else
  static constexpr int kInFlight = 2;  // frames between starting a read and collecting it
#endif
  static constexpr int kQueued = 3;    // frames waiting for the writer at most

  // The render thread's part: reading back...
  platform::Result StartReadback(double time);
  platform::Result CollectReadback(Slot& slot, Frame* frame);
  // The device was lost: this frame, and those whose reads were in flight,
  // are shown and read again.
  void Rewind();
  // ...and handing the oldest frame in flight to the writer.
  bool HandOver();
  // The writer thread's part.
  bool Encode(Frame& frame, std::string* error);
  void ReleaseSlots();
  void Fail(const std::string& error);
  void ShowProgress(bool last);

  Plan mPlan;
  std::function<std::string(double)> mLabel;
  long long mTotal = 0;
  long long mFrames = 0;     // read back, or started to be
  long long mCollected = 0;  // handed to the writer, or dropped by a failure
  double mNextSheetTime = 0.0;
  // The writer thread's while it runs.
  ContactSheet mSheet;
  std::unique_ptr<VideoWriter> mVideo;
  // The render thread's reads in flight, used in turn.
  std::array<Slot, kInFlight + 1> mSlots;
  std::string mError;
  bool mInterrupted = false;
  bool mFinished = false;
  double mStartWall = 0.0;
  double mSeconds = 0.0;
  double mLastPrint = -1.0;
  bool mTerminal = false;
  // Last: it goes first, while what its thread uses is still there.
  std::unique_ptr<WorkQueue<Frame>> mQueue;
};

}  // namespace demo
