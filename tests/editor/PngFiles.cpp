#include "tests/editor/PngFiles.h"

#include "editor/KelvatoneGui.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb_image.h>
#include <stb_image_write.h>

using namespace kelvatone::editor;
#pragma GCC diagnostic pop

namespace {
constexpr int kChannels = 3;
constexpr size_t kPixelCount = static_cast<size_t>(KelvatoneGui::kWidth) * KelvatoneGui::kHeight;
} // namespace

bool readPicturePng(const std::string& path, std::vector<uint32_t>& pixels) {
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &width, &height, &channels, kChannels);
    if (!data)
        return false;
    const bool fits = width == KelvatoneGui::kWidth && height == KelvatoneGui::kHeight;
    if (fits) {
        pixels.resize(kPixelCount);
        for (size_t i = 0; i < kPixelCount; ++i) {
            const unsigned char* rgb = data + i * kChannels;
            pixels[i] =
                static_cast<uint32_t>(rgb[0]) << 16 | static_cast<uint32_t>(rgb[1]) << 8 | rgb[2];
        }
    }
    stbi_image_free(data);
    return fits;
}

bool writePicturePng(const std::string& path, const std::vector<uint32_t>& pixels) {
    if (pixels.size() != kPixelCount)
        return false;
    std::vector<unsigned char> rgb(kPixelCount * kChannels);
    for (size_t i = 0; i < kPixelCount; ++i) {
        rgb[i * kChannels] = static_cast<unsigned char>(pixels[i] >> 16);
        rgb[i * kChannels + 1] = static_cast<unsigned char>(pixels[i] >> 8);
        rgb[i * kChannels + 2] = static_cast<unsigned char>(pixels[i]);
    }
    return stbi_write_png(path.c_str(), KelvatoneGui::kWidth, KelvatoneGui::kHeight, kChannels,
                          rgb.data(), KelvatoneGui::kWidth * kChannels) != 0;
}
