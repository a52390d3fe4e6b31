#pragma once

#include <string>
#include <vector>

namespace demo {

// The program's own options, on top of the words the start-up searches the
// line for. They are the arguments that begin with "--"; every other
// argument is left to that search, so a line without them runs exactly as
// before.
struct Options {
  // Recording: fixed steps of 1/fps from `from` to `to` (negative: to the
  // demo's end), nothing played live.
  std::string framesDir;  // numbered PNG pictures
  std::string video;      // an MP4 with the music
  std::string sheet;      // one PNG with a grid of pictures
  double sheetEvery = 2.0;
  int width = 0;  // 0: the size the start-up chooses
  int height = 0;
  int fps = 25;
  bool fpsGiven = false;
  double from = 0.0;
  double to = -1.0;
  bool fromGiven = false;
  // Seconds: the video's encoder starts afresh at every multiple of it, so
  // that ranges recorded apart join into the same video (0: never).
  double segment = 0.0;

  // Fixed steps as fast as possible, timed per scene; the table goes to
  // standard output, the JSON to benchJson when given.
  bool bench = false;
  std::string benchJson;

  // Making-of: keys that seek, pause and loop, and the corner overlay.
  bool controls = false;
  bool loop = false;
  double loopFrom = 0.0;
  double loopTo = 0.0;

  // Kiosk: after the last scene the demo starts again from the beginning,
  // music too, `repeatTimes` plays in all (0: forever). With --fps the clock
  // steps exactly, for long unattended checks.
  bool repeat = false;
  int repeatTimes = 0;

  bool help = false;
  bool length = false;  // print the demo's length in seconds and end

  bool Records() const { return !framesDir.empty() || !video.empty() || !sheet.empty(); }
  bool FixedSteps() const { return Records() || bench || (repeat && fpsGiven); }
};

// Reads the options out of the program's arguments. False with a message
// for an unknown option, a malformed or out-of-range value, or options that
// cannot go together; nothing is touched on disk.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);
// The same for a line, split at white space.
bool ParseOptions(const std::string& commandLine, Options* options, std::string* error);

// A line's words, split at white space.
std::vector<std::string> SplitArguments(const std::string& line);

// The arguments that are not options, joined by single spaces: the line
// the start-up searches for "nodialog" and the shader words, so that an
// option's value ("--video=clips0.mp4") never selects one.
std::string StartUpWords(const std::vector<std::string>& arguments);

// Makes sure every output can be written: folders are created, and a file
// is created and removed again in each output's folder (nothing is created
// under an output's own name).
bool CheckOutputs(const Options& options, std::string* error);

// The option list for --help.
const char* OptionsHelp();

}  // namespace demo
