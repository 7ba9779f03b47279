// The editor embedded in the host's window: snapshots see the module's pixels and
// clicks reach the module's window, while audio runs on the audio thread.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>

#include "host/EditorHost.h"
#include "host/EditorWindow.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "tests/host/TestFiles.h"
#include "tests/host/TestModuleRecording.h"

namespace kelvatone::host {
namespace {

using namespace kelvatone::host::testing;

uint32_t pixelAt(const std::vector<unsigned char>& rgb, int width, int x, int y) {
    const size_t i = 3 * (static_cast<size_t>(y) * width + x);
    return (uint32_t{rgb[i]} << 16) | (uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
}

std::vector<unsigned char> readPng(const std::string& path, int& width, int& height) {
    int components = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &components, 3);
    std::vector<unsigned char> rgb;
    if (pixels != nullptr) {
        rgb.assign(pixels, pixels + static_cast<size_t>(width) * height * 3);
        stbi_image_free(pixels);
    }
    return rgb;
}

TEST(EditorHost, SnapshotsShowTheEditorAndClicksReachIt) {
    if (!editorDisplayAvailable()) {
        GTEST_SKIP() << "no X display; host_editor_test_xvfb runs this in an X server of its own";
    }
    std::string error;
    auto library = ModuleLibrary::open(HOST_TEST_MODULE, error);
    ASSERT_NE(library, nullptr) << error;
    auto instance = EffectInstance::create(*library, error);
    ASSERT_NE(instance, nullptr) << error;
    const auto* recording =
        reinterpret_cast<RecordingAccessor>(library->symbol(kRecordingAccessorName))();

    const std::string before =
        (std::filesystem::temp_directory_path() / "kelvatone-host-before.png").string();
    const std::string after =
        (std::filesystem::temp_directory_path() / "kelvatone-host-after.png").string();
    {
        Session session(*instance, noise(44100, 2, 44100 / 2), RunSettings{});
        ASSERT_TRUE(session.prepare(error)) << error;
        auto editor = EditorHost::open(*instance, error);
        ASSERT_NE(editor, nullptr) << error;
        std::vector<Checkpoint> checkpoints(3);
        checkpoints[0].seconds = 0.1;
        checkpoints[0].path = before;
        checkpoints[1].kind = Checkpoint::Kind::Click;
        checkpoints[1].seconds = 0.2;
        checkpoints[1].x = 150;
        checkpoints[1].y = 60;
        checkpoints[2].seconds = -1.0;
        checkpoints[2].path = after;
        RunReport report;
        ASSERT_TRUE(session.process({}, checkpoints, editor.get(), report, error)) << error;
        EXPECT_EQ(report.frames, 22050);
        EXPECT_EQ(recording->editorOpened, 1);
        EXPECT_GT(recording->editorIdles, 0);
    }
    EXPECT_EQ(recording->editorClosed, 1);
    ASSERT_EQ(recording->clickCount, 1);
    EXPECT_EQ(recording->clicks[0].x, 150);
    EXPECT_EQ(recording->clicks[0].y, 60);
    // Processing paused for the click: the editor saw it 0.2 s into the input.
    int width = 0, height = 0;
    const auto first = readPng(before, width, height);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(width, kTestEditorWidth);
    EXPECT_EQ(height, kTestEditorHeight);
    EXPECT_EQ(pixelAt(first, width, 0, 0), kTestEditorColour);
    EXPECT_EQ(pixelAt(first, width, width - 1, height - 1), kTestEditorColour);
    const auto second = readPng(after, width, height);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(pixelAt(second, width, 100, 50), kTestEditorClickedColour);
    std::filesystem::remove(before);
    std::filesystem::remove(after);
}

TEST(EditorHost, ClicksOutsideTheEditorAndModulesWithoutEditorsAreRefused) {
    if (!editorDisplayAvailable()) {
        GTEST_SKIP() << "no X display; host_editor_test_xvfb runs this in an X server of its own";
    }
    std::string error;
    auto window = EditorWindow::create(kTestEditorWidth, kTestEditorHeight, "test", error);
    ASSERT_NE(window, nullptr) << error;
    EXPECT_FALSE(window->click(kTestEditorWidth, 10, error));
    EXPECT_NE(error.find("outside the 200 x 100 editor"), std::string::npos) << error;
}

} // namespace
} // namespace kelvatone::host
