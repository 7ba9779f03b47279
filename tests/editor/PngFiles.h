// PNG reading and writing of 640 x 360 pictures held as 0x00RRGGBB pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// False when the file cannot be read or is not 640 x 360.
bool readPicturePng(const std::string& path, std::vector<uint32_t>& pixels);
bool writePicturePng(const std::string& path, const std::vector<uint32_t>& pixels);
