#pragma once

#include <string>

namespace demo {

// What the cold start shows while the demo builds its content: a bar in
// the window and, on a terminal, a line redrawn in place.
class LoadingDisplay {
 public:
  // terminal: draw the line (only worth it when standard error is one).
  explicit LoadingDisplay(bool terminal);
  void Step(int done, int total, const std::string& item);
  // Ends the terminal line.
  void Finish();

 private:
  void DrawWindow(int done, int total, const std::string& item);

  bool mTerminal;
  bool mDrewLine = false;
  double mStart;
};

}  // namespace demo
