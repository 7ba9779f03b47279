// The Windows kelvatone-analyse.exe (from the windows preset's build folder) under Wine
// against the Linux build on the demo take and its MIDI part: the same rows and summary,
// the same take data in the HTML report, the same notes segmented from the take, for a float take
// at the analysis rate and a 16-bit stereo one at 48000 Hz; and its one-line answer to a file that
// is not WAV.
#include "tools/demo/DemoTake.h"

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace kelvatone::demo;
using namespace kelvatone::testsupport;

namespace {

constexpr int kExitBadInput = 2;
constexpr int kStereoRate = 48000;
constexpr float kRightLevel = 0.5f;
// The report's take data after the settings (which name the files as each run gave them):
// frame timing, pitch track, notes with their figures, the take's figures and rankings.
const char kTakeDataStart[] = ",\n\"frames\":{";

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The demo take in libsndfile's `format` (container and encoding): mono, or stereo with the
// voice at full level on the left and at half level on the right.
void writeTake(const std::string& path, int rate, int format, int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const std::vector<float> voice = renderTake(rate);
    std::vector<float> frames;
    for (float sample : voice) {
        frames.push_back(sample);
        if (channels == 2)
            frames.push_back(sample * kRightLevel);
    }
    const auto count = static_cast<sf_count_t>(voice.size());
    ASSERT_EQ(sf_writef_float(file, frames.data(), count), count);
    sf_close(file);
}

class WindowsAnalyse : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<uint8_t> part = midiPart();
        std::ofstream(dir.file("take.mid"), std::ios::binary)
            .write(reinterpret_cast<const char*>(part.data()),
                   static_cast<std::streamsize>(part.size()));
        ASSERT_TRUE(std::ifstream(windowsTool).good())
            << "the Windows build is missing: " << windowsTool;
    }

    // Both run in the test's folder with names relative to it, which Wine needs.
    ToolExit runLinux(const std::string& arguments) const {
        return runTool(KELVATONE_ANALYSE_PATH, arguments, dir);
    }

    ToolExit runWindows(const std::string& arguments) const {
        return runTool("env -u DISPLAY " + std::string(KELVATONE_SCRIPTS) + "/wine-run " +
                           windowsTool,
                       arguments, dir);
    }

    // Both builds on one take: stdout (rows and summary), the report's take data and the
    // segmented notes alike.
    void expectSameReport(const std::string& take) {
        // A report left by an earlier run is replaced.
        std::ofstream(dir.file("windows.html")) << "an earlier report\n";
        const ToolExit native =
            runLinux(take + " --midi take.mid --summary --report linux.html --notes linux.csv");
        ASSERT_EQ(native.status, 0) << native.err;
        const ToolExit windows = runWindows(
            take + " --midi take.mid --summary --report windows.html --notes windows.csv");
        ASSERT_EQ(windows.status, 0) << windows.err;

        const std::string rows = native.out;
        ASSERT_NE(rows.find("\nnote,start_s,length_s,frames"), std::string::npos);
        ASSERT_NE(rows.find("\nG4,3.500000,1.500000,45,"), std::string::npos) << rows;
        EXPECT_EQ(withoutCarriageReturns(windows.out), rows) << take;

        const std::string linuxPage = readFile(dir.file("linux.html"));
        const std::string windowsPage = readFile(dir.file("windows.html"));
        const size_t linuxData = linuxPage.find(kTakeDataStart);
        const size_t windowsData = windowsPage.find(kTakeDataStart);
        ASSERT_NE(linuxData, std::string::npos);
        ASSERT_NE(windowsData, std::string::npos) << windowsPage.substr(0, 200);
        EXPECT_NE(linuxPage.find("{\"note\":\"G4\",\"midi\":67,", linuxData), std::string::npos);
        EXPECT_EQ(windowsPage.substr(windowsData), linuxPage.substr(linuxData)) << take;

        const std::string linuxNotes = readFile(dir.file("linux.csv"));
        EXPECT_NE(linuxNotes.find(",67,G4,"), std::string::npos) << linuxNotes;
        EXPECT_EQ(withoutCarriageReturns(readFile(dir.file("windows.csv"))), linuxNotes) << take;
    }

    TempDir dir;
    const std::string windowsTool = std::string(KELVATONE_WINDOWS_BUILD) + "/kelvatone-analyse.exe";
};

TEST_F(WindowsAnalyse, SameFiguresAsTheLinuxBuild) {
    writeTake(dir.file("take.wav"), kSampleRate, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1);
    expectSameReport("take.wav");
    writeTake(dir.file("stereo.wav"), kStereoRate, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2);
    expectSameReport("stereo.wav");
}

TEST_F(WindowsAnalyse, OtherFormatsNeedTheLinuxBuildOrAConversion) {
    const std::string flac = "take.flac";
    writeTake(dir.file(flac), kSampleRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1);
    EXPECT_EQ(runLinux(flac + " --midi take.mid --summary").status, 0);

    const ToolExit windows = runWindows(flac + " --midi take.mid --summary");
    EXPECT_EQ(windows.status, kExitBadInput);
    EXPECT_EQ(windows.out, "");
    const std::string err = withoutCarriageReturns(windows.err);
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    EXPECT_NE(err.find("Linux build"), std::string::npos) << err;

    const ToolExit help = runWindows("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("a WAV file"), std::string::npos) << help.out;
}

} // namespace
