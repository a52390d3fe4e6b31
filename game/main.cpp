// The demo program's entry: the arguments joined by single spaces form the
// command line that the options are searched in.
#include <string>

#include "game/entry.h"

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  return demo::RunProgram(commandLine);
}
