// A picture in memory: what the host reads back from an editor window, what the take
// picture draws, and what the PNG writer writes.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvatone::io {

// 8-bit red, green, blue per pixel, rows top down, no padding: rgb holds
// width * height * 3 bytes. Owns its pixels.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

} // namespace kelvatone::io
