#pragma once

#include <string>
#include <vector>

namespace demo {

// The program: settings (dialog, or the desktop's mode with "nodialog"),
// window and device, shader-version options, the pixel-shader check, the
// demo module and the main loop. Failures end in a message box; the result
// is always 0.
int RunProgram(const std::string& commandLine);

// The shader-version tokens that the command line's options set, one per
// option found, in table order (so the latest in the table wins).
std::vector<unsigned long> ShaderTargetCalls(const std::string& commandLine);

}  // namespace demo
