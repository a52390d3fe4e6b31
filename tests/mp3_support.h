#pragma once

// A whole MP3 file decoded straight with libmpg123 at 44.1 kHz stereo, to
// compare what the program played or muxed against the file itself.
#include <cstdint>
#include <filesystem>
#include <vector>

#include <mpg123.h>

namespace velox_test {

inline std::vector<std::int16_t> DecodeMp3(const std::filesystem::path& mp3) {
  mpg123_init();
  mpg123_handle* mh = mpg123_new(nullptr, nullptr);
  std::vector<std::int16_t> pcm;
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
  mpg123_format_none(mh);
  mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(mh, mp3.c_str()) == MPG123_OK) {
    std::int16_t buffer[4096];
    size_t done = 0;
    int rc;
    do {
      rc = mpg123_read(mh, buffer, sizeof buffer, &done);
      pcm.insert(pcm.end(), buffer, buffer + done / 2);
    } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
  }
  mpg123_delete(mh);
  return pcm;
}

}  // namespace velox_test
