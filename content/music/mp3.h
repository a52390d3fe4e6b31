#pragma once

// MP3 encoding through libmp3lame.

#include <vector>

namespace music {

// Encodes 44.1 kHz stereo (samples in ±1) to VBR MP3 with a LAME tag, so that
// decoders can drop the encoder's delay and padding. vbrQuality is LAME's
// -V scale (0 best .. 9 smallest; 2 averages about 190 kbit/s).
// Throws std::runtime_error when the encoder fails.
std::vector<unsigned char> EncodeMp3(const std::vector<float>& left, const std::vector<float>& right,
                                     float vbrQuality);

}  // namespace music
