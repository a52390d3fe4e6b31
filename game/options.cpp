#include "game/options.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <vector>

namespace demo {

namespace {

constexpr int kMaxSize = 8192;
constexpr int kMaxFps = 1000;

bool IsOption(const std::string& argument) { return argument.rfind("--", 0) == 0; }

// The whole text must be the number: "2s" or "" are not.
bool Number(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool Integer(const std::string& text, long* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 9) {
    return false;
  }
  *value = std::strtol(text.c_str(), nullptr, 10);
  return true;
}

bool Fail(std::string* error, const std::string& text) {
  *error = text;
  return false;
}

bool Seconds(const std::string& name, const std::string& value, double* out, std::string* error) {
  if (!Number(value, out) || *out < 0.0)
    return Fail(error, "--" + name + " needs seconds, 0 or more (got \"" + value + "\")");
  return true;
}

bool Size(const std::string& value, Options* o, std::string* error) {
  const std::size_t x = value.find('x');
  long w = 0, h = 0;
  if (x == std::string::npos || !Integer(value.substr(0, x), &w) || !Integer(value.substr(x + 1), &h))
    return Fail(error, "--size needs WIDTHxHEIGHT, for example 1280x720 (got \"" + value + "\")");
  if (w < 1 || h < 1 || w > kMaxSize || h > kMaxSize)
    return Fail(error, "--size " + value + " is out of range: each side 1 to " +
                           std::to_string(kMaxSize));
  o->width = static_cast<int>(w);
  o->height = static_cast<int>(h);
  return true;
}

bool Loop(const std::string& value, Options* o, std::string* error) {
  const std::size_t colon = value.find(':');
  if (colon == std::string::npos || !Number(value.substr(0, colon), &o->loopFrom) ||
      !Number(value.substr(colon + 1), &o->loopTo) || o->loopFrom < 0.0)
    return Fail(error, "--loop needs FROM:TO in seconds, for example 56:60 (got \"" + value + "\")");
  if (o->loopTo <= o->loopFrom)
    return Fail(error, "--loop " + value + " ends before it starts");
  o->loop = true;
  o->controls = true;
  return true;
}

bool Repeat(const std::string* value, Options* o, std::string* error) {
  o->repeat = true;
  o->repeatTimes = 0;
  long times = 0;
  if (value != nullptr && (!Integer(*value, &times) || times < 1))
    return Fail(error, "--repeat needs a whole number of plays, 1 or more, or no value for forever (got \"" +
                           *value + "\")");
  o->repeatTimes = static_cast<int>(times);
  return true;
}

bool Option(const std::string& name, const std::string* value, Options* o, std::string* error) {
  // The one option that goes with or without a value.
  if (name == "repeat") return Repeat(value, o, error);
  // Options with a value must have one; switches must not.
  static const char* const kSwitches[] = {"bench", "controls", "help", "length"};
  bool isSwitch = false;
  for (const char* s : kSwitches) isSwitch = isSwitch || name == s;
  static const char* const kValued[] = {"frames", "video", "sheet", "sheet-every", "size", "fps",
                                        "from",   "to",    "bench-json", "loop", "segment"};
  bool isValued = false;
  for (const char* v : kValued) isValued = isValued || name == v;
  if (!isSwitch && !isValued) return Fail(error, "unknown option --" + name + " (see --help)");
  if (isSwitch && value != nullptr) return Fail(error, "--" + name + " takes no value");
  if (isValued && (value == nullptr || value->empty()))
    return Fail(error, "--" + name + " needs a value: --" + name + "=...");

  if (name == "bench") o->bench = true;
  if (name == "controls") o->controls = true;
  if (name == "help") o->help = true;
  if (name == "length") o->length = true;
  if (!isValued) return true;
  const std::string& v = *value;
  if (name == "frames") o->framesDir = v;
  if (name == "video") o->video = v;
  if (name == "sheet") o->sheet = v;
  if (name == "bench-json") {
    o->benchJson = v;
    o->bench = true;
  }
  if (name == "size") return Size(v, o, error);
  if (name == "loop") return Loop(v, o, error);
  if (name == "from") {
    o->fromGiven = true;
    return Seconds(name, v, &o->from, error);
  }
  if (name == "to") {
    if (!Seconds(name, v, &o->to, error)) return false;
    return true;
  }
  if (name == "segment" && (!Number(v, &o->segment) || !(o->segment > 0.0)))
    return Fail(error, "--segment needs seconds above 0 (got \"" + v + "\")");
  if (name == "sheet-every") {
    if (!Number(v, &o->sheetEvery) || !(o->sheetEvery > 0.0))
      return Fail(error, "--sheet-every needs seconds above 0 (got \"" + v + "\")");
  }
  if (name == "fps") {
    long fps = 0;
    if (!Integer(v, &fps) || fps < 1 || fps > kMaxFps)
      return Fail(error, "--fps needs whole frames per second, 1 to " + std::to_string(kMaxFps) +
                             " (got \"" + v + "\")");
    o->fps = static_cast<int>(fps);
    o->fpsGiven = true;
  }
  return true;
}

// Only creating a file tells: root passes access() everywhere, /proc
// included. The probe has a name of its own and is removed at once.
bool Writable(const std::filesystem::path& folder) {
  const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
  std::string probe = (where / ".write-test-XXXXXX").string();
  const int file = mkstemp(probe.data());
  if (file < 0) return false;
  close(file);
  unlink(probe.c_str());
  return true;
}

bool CheckFolder(const std::string& option, const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec) || !Writable(dir))
    return Fail(error, "--" + option + ": cannot write to the folder " + dir);
  return true;
}

bool CheckFile(const std::string& option, const std::string& file, std::string* error) {
  const std::filesystem::path path(file);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    return Fail(error, "--" + option + ": " + file + " is a folder, not a file");
  // is_directory reports a file that is not there yet as an error.
  ec.clear();
  const std::filesystem::path folder = path.parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (ec || !Writable(folder) ||
      (std::filesystem::exists(path, ec) && access(path.c_str(), W_OK) != 0))
    return Fail(error, "--" + option + ": cannot write " + file);
  return true;
}

}  // namespace

std::vector<std::string> SplitArguments(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string StartUpWords(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    if (IsOption(argument)) continue;
    if (!line.empty()) line += ' ';
    line += argument;
  }
  return line;
}

bool ParseOptions(const std::string& commandLine, Options* options, std::string* error) {
  return ParseOptions(SplitArguments(commandLine), options, error);
}

bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
  Options o;
  for (const std::string& word : arguments) {
    if (!IsOption(word)) continue;
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const std::string value = equals == std::string::npos ? std::string() : word.substr(equals + 1);
    if (!Option(name, equals == std::string::npos ? nullptr : &value, &o, error)) return false;
  }
  if (o.to >= 0.0 && o.to <= o.from)
    return Fail(error, "--to must be after --from (" + std::to_string(o.to) + " <= " +
                           std::to_string(o.from) + ")");
  if (o.bench && o.Records())
    return Fail(error, "--bench measures speed; it does not record (drop --frames/--video/--sheet)");
  if ((o.fromGiven || o.to >= 0.0) && !o.FixedSteps() && !o.controls)
    return Fail(error, "--from and --to need a recording, --bench or --controls");
  if (o.fpsGiven && !o.FixedSteps())
    return Fail(error, "--fps is for recordings and --bench; a live run shows every frame it can");
  if (o.controls && o.FixedSteps())
    return Fail(error, "--controls and --loop are for watching live, not for recording or --bench");
  if (o.segment > 0.0 && o.video.empty()) return Fail(error, "--segment is for --video");
  // Segments start on frames.
  const double frames = o.segment * o.fps;
  if (o.segment > 0.0 && (frames < 0.5 || std::fabs(frames - std::round(frames)) > 1e-6))
    return Fail(error, "--segment must be a whole number of frames at " + std::to_string(o.fps) + " fps");
  if (o.repeat && (o.Records() || o.bench))
    return Fail(error, "--repeat is for showing the demo, not for recording or --bench");
  if (o.repeat && o.loop) return Fail(error, "--repeat plays the whole demo; --loop never reaches its end");
  if (o.repeat && (o.fromGiven || o.to >= 0.0))
    return Fail(error, "--repeat plays the whole demo; it goes without --from and --to");
  if (o.length && (o.FixedSteps() || o.controls || o.repeat))
    return Fail(error, "--length only prints the demo's length; it goes with nothing else");
  *options = o;
  return true;
}

bool CheckOutputs(const Options& options, std::string* error) {
  if (!options.framesDir.empty() && !CheckFolder("frames", options.framesDir, error)) return false;
  if (!options.video.empty() && !CheckFile("video", options.video, error)) return false;
  if (!options.sheet.empty() && !CheckFile("sheet", options.sheet, error)) return false;
  if (!options.benchJson.empty() && !CheckFile("bench-json", options.benchJson, error)) return false;
  return true;
}

const char* OptionsHelp() {
  return "Options (besides nodialog and the shader words):\n"
         "  --frames=DIR         write numbered PNG pictures (DIR/000000.png, ...)\n"
         "  --video=FILE.mp4     write an H.264/AAC video with the music\n"
         "  --sheet=FILE.png     write a contact sheet of pictures with their times\n"
         "  --sheet-every=SEC    seconds between sheet pictures (default 2)\n"
         "  --size=WxH           picture size, each side 1 to 8192\n"
         "  --fps=N              frames per second of a recording or benchmark (default 25)\n"
         "  --from=SEC --to=SEC  time range (default: the whole demo)\n"
         "  --segment=SEC        restart the video's encoder every SEC of the demo, so that\n"
         "                       ranges on those times recorded apart join into the same\n"
         "                       video (scripts/record-split)\n"
         "  --bench              time every frame at fixed steps, no sound; table per scene\n"
         "  --bench-json=FILE    the benchmark's results as JSON as well\n"
         "  --controls           making-of keys and overlay: Space pause, Left/Right 1 s,\n"
         "                       PgUp/PgDn 10 s, Home start, 1-3 scene starts\n"
         "  --loop=FROM:TO       repeat that range (with --controls)\n"
         "  --repeat[=N]         start again from the beginning after the last scene,\n"
         "                       forever or N plays in all (with --fps: fixed steps)\n"
         "  --length             print the demo's length in seconds\n"
         "  --help               this list\n"
         "Recording and benchmark steps the clock by exactly 1/fps per frame.\n";
}

}  // namespace demo
