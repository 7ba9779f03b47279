#include "io/PngWriter.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>

namespace kelvatone::io {
namespace {
constexpr int kRgbComponents = 3;
} // namespace

bool writePng(const std::string& path, const Image& image, std::string& error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != static_cast<size_t>(image.width) * image.height * kRgbComponents) {
        error = path + ": no picture to write";
        return false;
    }
    if (stbi_write_png(path.c_str(), image.width, image.height, kRgbComponents, image.rgb.data(),
                       image.width * kRgbComponents) == 0) {
        error = path + ": cannot write the PNG file";
        return false;
    }
    return true;
}

} // namespace kelvatone::io
