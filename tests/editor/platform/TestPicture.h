// The fixed test picture that is drawn with GDI under Wine and with our Linux
// layer and compared pixel for pixel, and the file format of its pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/platform/Win32.h"

namespace kelvatone::testpicture {

constexpr int kWidth = 640;
constexpr int kHeight = 360;

// Areas of the picture that the comparison treats apart.
struct Zones {
    std::vector<RECT> text;     // text: fonts differ between the platforms, not compared
    std::vector<RECT> widePens; // diagonal 5-pixel segments: differences counted
};

// Draws the picture into a memory context holding a kWidth x kHeight bitmap.
// Returns the zones it used.
Zones draw(HDC dc);

bool inside(const std::vector<RECT>& zones, int x, int y);

// Pixels as rows of 0x00RRGGBB, stored as little-endian (run length, pixel) pairs.
bool writePixels(const std::string& path, const std::vector<std::uint32_t>& pixels);
bool readPixels(const std::string& path, std::vector<std::uint32_t>& pixels);

struct Picture {
    std::vector<std::uint32_t> pixels; // kWidth x kHeight, 0x00RRGGBB
    Zones zones;
};

// Draws the picture into a fresh 640 x 360 bitmap and reads its pixels back.
Picture render();

} // namespace kelvatone::testpicture
