#pragma once

#include <string>
#include <vector>

namespace demo {

// The program: settings (dialog, or the desktop's mode with "nodialog"),
// window and device, shader-version options, the pixel-shader check, the
// demo module and the main loop. Failures end in a message box; the result
// is then 0 for the plain program and 1 for a recording or a benchmark.
// Options that are wrong or outputs that cannot be written end it with 2
// before anything starts.
int RunProgram(const std::vector<std::string>& arguments);
// The same with the arguments taken from a line, split at white space.
int RunProgram(const std::string& commandLine);

// The shader-version tokens that the start-up words (the line without its
// "--" options) set, one per word found, in table order (so the latest in
// the table wins).
std::vector<unsigned long> ShaderTargetCalls(const std::string& words);

}  // namespace demo
