// The PNG writer: what it writes reads back as the same pixels, and what it cannot write
// is refused with the file's name.
#include <gtest/gtest.h>

#include <filesystem>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include <stb_image.h>

#include "io/PngWriter.h"

namespace kelvatone::io {
namespace {

std::string temporaryPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("kelvatone-io-" + name)).string();
}

TEST(PngWriter, WritesPixelsThatReadBackUnchanged) {
    Image image;
    image.width = 7;
    image.height = 3;
    for (int i = 0; i < image.width * image.height * 3; ++i)
        image.rgb.push_back(static_cast<uint8_t>(i * 37));
    const std::string path = temporaryPath("picture.png");
    std::string error;
    ASSERT_TRUE(writePng(path, image, error)) << error;

    int width = 0, height = 0, components = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &components, 3);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(width, image.width);
    EXPECT_EQ(height, image.height);
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + image.rgb.size()), image.rgb);
    stbi_image_free(pixels);
    std::filesystem::remove(path);
}

TEST(PngWriter, RefusesEmptyOrInconsistentPicturesAndUnwritablePaths) {
    Image cutShort;
    cutShort.width = 2;
    cutShort.height = 2;
    cutShort.rgb.assign(11, 0);
    Image good;
    good.width = 1;
    good.height = 1;
    good.rgb.assign(3, 0);
    const std::vector<std::pair<Image, std::string>> cases = {
        {Image{}, "no picture to write"},
        {cutShort, "no picture to write"},
        {good, "cannot write the PNG file"},
    };
    const std::string unwritable = temporaryPath("no-such-folder/picture.png");
    for (const auto& [image, reason] : cases) {
        std::string error;
        EXPECT_FALSE(writePng(unwritable, image, error)) << reason;
        EXPECT_EQ(error, unwritable + ": " + reason);
    }
}

} // namespace
} // namespace kelvatone::io
