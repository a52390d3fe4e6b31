// The demo program's entry. Arguments are kept whole, so that an option's
// value may hold spaces; the others, joined by single spaces, form the line
// the start-up words are searched in.
#include <string>
#include <vector>

#include "game/entry.h"

int main(int argc, char** argv) {
  return demo::RunProgram(std::vector<std::string>(argv + 1, argv + argc));
}
