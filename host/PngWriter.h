// Writing captured editor pixels as PNG files.
#pragma once

#include <string>

#include "host/EditorWindow.h"

namespace kelvatone::host {

// UI thread. False with a one-line reason when the file cannot be written.
bool writePng(const std::string& path, const Image& image, std::string& error);

} // namespace kelvatone::host
