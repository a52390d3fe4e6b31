#include "content/music/mp3.h"

#include <lame/lame.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "content/music/dsp.h"

namespace music {

std::vector<unsigned char> EncodeMp3(const std::vector<float>& left, const std::vector<float>& right,
                                     float vbrQuality) {
  if (left.size() != right.size()) throw std::runtime_error("mp3: channels differ in length");
  const std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
  if (!lame) throw std::runtime_error("mp3: lame_init failed");
  lame_set_in_samplerate(lame.get(), kSampleRate);
  lame_set_out_samplerate(lame.get(), kSampleRate);
  lame_set_num_channels(lame.get(), 2);
  lame_set_mode(lame.get(), JOINT_STEREO);
  lame_set_VBR(lame.get(), vbr_mtrh);
  lame_set_VBR_quality(lame.get(), vbrQuality);
  lame_set_bWriteVbrTag(lame.get(), 1);
  lame_set_write_id3tag_automatic(lame.get(), 0);
  if (lame_init_params(lame.get()) < 0) throw std::runtime_error("mp3: unusable encoder settings");

  constexpr int kChunk = 8192;
  std::vector<unsigned char> out;
  std::vector<unsigned char> buffer(static_cast<size_t>(kChunk * 5 / 4 + 7200));
  for (size_t at = 0; at < left.size(); at += kChunk) {
    const int n = static_cast<int>(std::min<size_t>(kChunk, left.size() - at));
    const int bytes = lame_encode_buffer_ieee_float(lame.get(), left.data() + at, right.data() + at, n,
                                                    buffer.data(), static_cast<int>(buffer.size()));
    if (bytes < 0) throw std::runtime_error("mp3: encoding failed (" + std::to_string(bytes) + ")");
    out.insert(out.end(), buffer.begin(), buffer.begin() + bytes);
  }
  const int bytes = lame_encode_flush(lame.get(), buffer.data(), static_cast<int>(buffer.size()));
  if (bytes < 0) throw std::runtime_error("mp3: flushing failed (" + std::to_string(bytes) + ")");
  out.insert(out.end(), buffer.begin(), buffer.begin() + bytes);

  // The encoder left room for the tag frame at the start; fill it in now
  // that the frame count and the delays are known.
  const size_t tagSize = lame_get_lametag_frame(lame.get(), buffer.data(), buffer.size());
  if (tagSize == 0 || tagSize > buffer.size() || tagSize > out.size()) {
    throw std::runtime_error("mp3: no LAME tag frame");
  }
  std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(tagSize), out.begin());
  return out;
}

}  // namespace music
