// The sample rate an audio file states in its header, for a decoder (the browser's) that
// would otherwise convert the file to a rate of its own: WAV (its fmt chunk), FLAC (its
// stream information), Ogg Vorbis (its identification header), Ogg Opus (always decoded at
// 48000 Hz) and MP3 (its first frame's header, after any ID3v2 tag). The bytes are
// untrusted: every read is bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvatone::io {

// Any thread. The rate in Hz of the file whose first `size` bytes are at `data`; 0 when
// they hold none of these headers (another format, a tag longer than the bytes given).
int audioFileRate(const uint8_t* data, size_t size);

} // namespace kelvatone::io
