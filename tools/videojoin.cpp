// videojoin: joins recordings of consecutive ranges into one video without
// encoding the pictures again (see demo::JoinVideos and scripts/record-split).
//   videojoin [--music=FILE --from=SEC] OUT.mp4 PIECE.mp4...
// Exit code 0 when OUT.mp4 is complete, 1 when it could not be made (then
// nothing is left under its name), 2 for a wrong command line.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "game/video.h"

int main(int argc, char** argv) {
  std::string music;
  double from = 0.0;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--music=", 0) == 0) {
      music = a.substr(8);
    } else if (a.rfind("--from=", 0) == 0) {
      char* end = nullptr;
      from = std::strtod(a.c_str() + 7, &end);
      if (end == a.c_str() + 7 || *end != '\0' || !std::isfinite(from) || from < 0) {
        std::fprintf(stderr, "videojoin: --from needs seconds, 0 or more (got \"%s\")\n", a.c_str() + 7);
        return 2;
      }
    } else if (a.rfind("--", 0) == 0) {
      std::fprintf(stderr, "videojoin: unknown option %s\n", a.c_str());
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() < 2) {
    std::fprintf(stderr, "usage: videojoin [--music=FILE --from=SEC] OUT.mp4 PIECE.mp4...\n");
    return 2;
  }
  const std::string out = files.front();
  files.erase(files.begin());
  std::string error;
  if (!demo::JoinVideos(files, out, music, from, &error)) {
    std::fprintf(stderr, "videojoin: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
