// Writing pictures (editor snapshots, the take picture) as PNG files: 8-bit RGB,
// through stb_image_write, the same bytes for the same picture.
#pragma once

#include <string>

#include "io/Image.h"

namespace kelvatone::io {

// Any thread; one call per file at a time. False with a one-line reason naming the file
// when the picture is empty or its size does not match its pixels, or when the file
// cannot be written.
bool writePng(const std::string& path, const Image& image, std::string& error);

} // namespace kelvatone::io
