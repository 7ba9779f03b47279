// End to end through our host: a sung A4 with MIDI note 69 held, the editor open in
// the host's window, snapshots and a click on "Hold". Runs the Linux module under an
// X server of its own, and the Windows module and host under Wine.
#include "tests/editor/PngFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr double kA4 = 440.0;
constexpr double kB4 = 493.8833012561241;
// The tone moves to B4 here, after the click has frozen the display.
constexpr double kChangeSeconds = 3.0;
constexpr double kSeconds = 4.5;

// The view scrolls up in growing steps until A4 lies inside its 100-cent top margin,
// which is 20 pixels at the default range of 18 semitones; the last step may go up to
// 10 pixels further (a reading of 5701 cents ends at 30).
constexpr int kTopMarginRows = 20;
constexpr int kLastStepRows = 10;
// The newest column is x = 638; a line leaves its end point out, so its last lit pixel
// is 637. The bars and the trace begin at x = 20.
constexpr int kNewestColumnX = 637;
constexpr int kGridOnlyX = 19 + 1;
constexpr uint32_t kYellow = 0xFFFF00;
constexpr uint32_t kMatchBlue = 0x1080FF;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kGrey = 0x808080;

struct Box {
    int left, top, right, bottom;
};
constexpr Box kNoteLabel{300, 2, 345, 26};
constexpr Box kHoldLabel{592, 8, 636, 26};

uint32_t pixel(const std::vector<uint32_t>& image, int x, int y) {
    return image[y * 640 + x];
}

// The row of the topmost grid line, which in these pictures is A4's.
int topGridRow(const std::vector<uint32_t>& image) {
    for (int y = 0; y < 360; ++y)
        if (pixel(image, kGridOnlyX, y) == kGrey)
            return y;
    return -1;
}

int countColour(const std::vector<uint32_t>& image, Box box, uint32_t colour) {
    int count = 0;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            count += pixel(image, x, y) == colour;
    return count;
}

void writeTone(const fs::path& path) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(static_cast<size_t>(kSeconds * kRate));
    double phase = 0.0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double frequency = static_cast<double>(i) < kChangeSeconds * kRate ? kA4 : kB4;
        samples[i] = static_cast<float>(0.5 * std::sin(phase));
        phase = std::fmod(phase + 6.283185307179586 * frequency / kRate, 6.283185307179586);
    }
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Format 0, 480 ticks per quarter at 120 bpm: note 69 from 0 s to the end.
void writeHeldA4(const fs::path& path) {
    constexpr uint32_t kEndTicks = static_cast<uint32_t>(kSeconds * 960);
    static_assert(kEndTicks < (1u << 14), "two bytes of delta time");
    const uint8_t track[] = {0x00,
                             0x90,
                             69,
                             100,
                             static_cast<uint8_t>(0x80 | (kEndTicks >> 7)),
                             static_cast<uint8_t>(kEndTicks & 0x7F),
                             0x80,
                             69,
                             0,
                             0x00,
                             0xFF,
                             0x2F,
                             0x00};
    const uint8_t header[] = {'M', 'T',  'h',  'd', 0,   0,   0,   6, 0, 0, 0,
                              1,   0x01, 0xE0, 'M', 'T', 'r', 'k', 0, 0, 0, sizeof(track)};
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(header), sizeof(header));
    file.write(reinterpret_cast<const char*>(track), sizeof(track));
}

class EndToEnd : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("kelvatone-e2e-" + std::string(GetParam()) + "-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        writeTone(folder / "tone.wav");
        writeHeldA4(folder / "held.mid");
    }
    void TearDown() override {
        if (HasFailure())
            std::printf("pictures and host log kept in %s\n", folder.c_str());
        else
            fs::remove_all(folder);
    }

    // Runs the host in the test's folder; file names stay relative, which Wine needs.
    int runHost(const std::string& options) {
        const std::string platform = GetParam();
        std::string command = "cd '" + folder.string() + "' && ";
        if (platform == "linux") {
            command += std::string(KELVATONE_SCRIPTS) + "/with-xvfb " + KELVATONE_LINUX_HOST +
                       " run " + KELVATONE_LINUX_MODULE;
        } else {
            const std::string build = KELVATONE_WINDOWS_BUILD;
            if (!fs::exists(build + "/kelvatone.dll"))
                ADD_FAILURE() << "the Windows build is missing: " << build;
            command += "env -u DISPLAY " + std::string(KELVATONE_SCRIPTS) + "/wine-run " + build +
                       "/kelvatone-host.exe run " + build + "/kelvatone.dll";
        }
        command += " --input tone.wav --midi held.mid " + options + " > host.log 2>&1";
        const int status = std::system(command.c_str());
        std::ifstream log(folder / "host.log");
        hostLog.assign(std::istreambuf_iterator<char>(log), {});
        return status;
    }

    std::vector<uint32_t> picture(const std::string& name) {
        std::vector<uint32_t> pixels;
        EXPECT_TRUE(readPicturePng((folder / name).string(), pixels)) << name << "\n" << hostLog;
        if (pixels.empty())
            pixels.assign(640 * 360, 0);
        return pixels;
    }

    fs::path folder;
    std::string hostLog;
};

TEST_P(EndToEnd, SungA4WithItsNoteHeldAndAHoldClick) {
    ASSERT_EQ(runHost("--snapshot-at 2.5:sung.png --click 2.6:600,10 --snapshot-at 2.8:held.png "
                      "--snapshot later.png"),
              0)
        << hostLog;
    const std::vector<uint32_t> sung = picture("sung.png");
    const int a4Row = topGridRow(sung);
    EXPECT_GE(a4Row, kTopMarginRows);
    EXPECT_LE(a4Row, kTopMarginRows + kLastStepRows);
    ASSERT_GE(a4Row, 3);
    EXPECT_EQ(pixel(sung, kNewestColumnX, a4Row), kYellow) << "the trace on A4's row";
    EXPECT_EQ(pixel(sung, kNewestColumnX - 100, a4Row), kYellow);
    for (int row : {a4Row - 2, a4Row - 1, a4Row + 1, a4Row + 2})
        EXPECT_EQ(pixel(sung, kNewestColumnX - 40, row), kMatchBlue) << "the bar, row " << row;
    EXPECT_NE(pixel(sung, kNewestColumnX - 40, a4Row - 3), kMatchBlue) << "5 rows thick";
    EXPECT_NE(pixel(sung, kNewestColumnX - 40, a4Row + 3), kMatchBlue);
    EXPECT_GT(countColour(sung, kNoteLabel, kWhite), 20) << "the current-note label";
    EXPECT_GT(countColour(sung, kHoldLabel, kGrey), 20) << "Hold in grey";
    EXPECT_EQ(countColour(sung, kHoldLabel, kWhite), 0);

    const std::vector<uint32_t> held = picture("held.png");
    EXPECT_GT(countColour(held, kHoldLabel, kWhite), 20) << "Hold turns white";
    EXPECT_EQ(countColour(held, kHoldLabel, kGrey), 0);
    // The tone moved to B4 after the click: a frozen display never shows it.
    const std::vector<uint32_t> later = picture("later.png");
    EXPECT_EQ(later, held) << "the picture stays as the click left it";
    EXPECT_EQ(pixel(later, kNewestColumnX, topGridRow(later)), kYellow) << "still A4";
}

TEST_P(EndToEnd, TheCurrentNoteLabelReadsA4) {
    ASSERT_EQ(runHost("--snapshot-at 2.5:a4.png"), 0) << hostLog;
    const std::vector<uint32_t> a4 = picture("a4.png");
    // The label of an unchanged A4 is the same at every moment, and differs from the
    // label of the B4 that follows.
    ASSERT_EQ(runHost("--snapshot-at 2.0:a4-earlier.png --snapshot b4.png"), 0) << hostLog;
    const std::vector<uint32_t> earlier = picture("a4-earlier.png");
    const std::vector<uint32_t> b4 = picture("b4.png");
    int same = 0, differentFromB4 = 0;
    for (int y = kNoteLabel.top; y < kNoteLabel.bottom; ++y) {
        for (int x = kNoteLabel.left; x < kNoteLabel.right; ++x) {
            same += pixel(a4, x, y) == pixel(earlier, x, y);
            differentFromB4 += (pixel(a4, x, y) == kWhite) != (pixel(b4, x, y) == kWhite);
        }
    }
    const int area = (kNoteLabel.right - kNoteLabel.left) * (kNoteLabel.bottom - kNoteLabel.top);
    EXPECT_EQ(same, area);
    EXPECT_GT(differentFromB4, 10) << "A and B differ in the letter";
}

INSTANTIATE_TEST_SUITE_P(Platforms, EndToEnd, ::testing::Values("linux", "windows"));

} // namespace
