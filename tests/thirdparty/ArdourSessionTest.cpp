// Our Linux module in a real DAW: Debian's Ardour 7, driven headless through its Lua
// interpreter on the None (Dummy) backend. ardour/make-session.lua records a stereo
// take and a MIDI take and saves three snapshots of them: "plain" without the plug-in,
// "plugin" with kelvatone on the take's track, and "midi" with the MIDI track routed
// into kelvatone's MIDI sidechain input. ardour7-export renders each one; the renders
// with the plug-in must be, sample for sample, the render without it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "io/AudioData.h"
#include "io/WavFile.h"
#include "tests/support/TempDir.h"

using namespace kelvatone::testsupport;

namespace {

namespace fs = std::filesystem;
using kelvatone::io::AudioData;

constexpr char kArdourLua[] = "/usr/bin/ardour7-lua";
constexpr char kArdourExport[] = "/usr/bin/ardour7-export";
constexpr char kArdourLibraries[] = "/usr/lib/ardour7";
constexpr char kArdourScanner[] = "/usr/lib/ardour7/ardour-vst-scanner";
constexpr int kStepSeconds = 120;
constexpr int kAttempts = 3;
constexpr int kSessionRate = 48000;
// make-session.lua records 4 s of session time and puts a second of silence on either
// side; a shorter render lost part of the take.
constexpr int64_t kShortestTake = (1 + 4 + 1) * kSessionRate;
// The take's generator plays a sweep well above this peak.
constexpr float kAudiblePeak = 0.01f;

constexpr char kPluginLine[] =
    "plugin kelvatone type=LXVST id=1903309368 active=1 midi-pin=none sidechain-midi=none";
constexpr char kMidiPluginLine[] = "plugin kelvatone type=LXVST id=1903309368 active=1 midi-pin=0 "
                                   "sidechain-midi=Notes/midi_out 1";

const char* const kSnapshots[] = {"plain", "plugin", "midi"};

struct StepResult {
    int exitStatus = -1;
    std::string output;
    std::string errors;
};

std::string shellQuoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream stream(text);
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

// The lines of Ardour's log that report a warning or an error.
std::vector<std::string> complaintsIn(const std::string& output) {
    std::vector<std::string> complaints;
    for (const std::string& line : linesOf(output)) {
        if (line.find("[WARNING]") != std::string::npos ||
            line.find("[ERROR]") != std::string::npos)
            complaints.push_back(line);
    }
    return complaints;
}

// The lines of inspect-session.lua's report.
std::vector<std::string> processorLines(const std::string& output) {
    std::vector<std::string> lines;
    for (const std::string& line : linesOf(output)) {
        if (line.rfind("plugin ", 0) == 0 || line.rfind("unknown ", 0) == 0)
            lines.push_back(line);
    }
    return lines;
}

// Everything the tests look at, made once: the scan, the session, and per snapshot
// what loading it reported and what exporting it rendered.
struct Studio {
    const TempDir folder{"kelvatone-ardour-"};
    StepResult scan;
    StepResult build;
    std::map<std::string, StepResult> inspections;
    std::map<std::string, StepResult> exports;

    fs::path session() const { return folder.path() / "session"; }
    fs::path render(const std::string& snapshot) const {
        return folder.path() / (snapshot + ".wav");
    }

    // Runs a command under the time limit in Ardour's environment, kept inside the
    // folder: its own plug-in cache and configuration, kelvatone.so's folder as the
    // VST path. stdout and stderr are kept apart.
    StepResult run(const std::string& command, const std::string& label) const {
        const fs::path errors = folder.path() / (label + ".stderr");
        const std::string line =
            "env XDG_CACHE_HOME=" + shellQuoted((folder.path() / "cache").string()) +
            " XDG_CONFIG_HOME=" + shellQuoted((folder.path() / "config").string()) +
            " LXVST_PATH=" + shellQuoted(fs::path(module()).parent_path().string()) + " timeout " +
            std::to_string(kStepSeconds) + " " + command + " </dev/null 2>" +
            shellQuoted(errors.string());
        StepResult result;
        FILE* pipe = popen(line.c_str(), "r");
        if (!pipe)
            return result;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof(chunk), pipe)) > 0)
            result.output.append(chunk, got);
        const int status = pclose(pipe);
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.errors = fileText(errors);
        return result;
    }

    static std::string module() { return fs::absolute(KELVATONE_MODULE_PATH).string(); }
    static std::string script(const char* name) {
        return (fs::path(KELVATONE_ARDOUR_SCRIPTS) / name).string();
    }

    // run() until the command succeeds, at most kAttempts times; before each retry,
    // prepare() undoes what the failed attempt left.
    template <typename Prepare>
    StepResult runUntilSuccess(const std::string& command, const std::string& label,
                               Prepare prepare) const {
        StepResult result;
        for (int attempt = 0; attempt < kAttempts && result.exitStatus != 0; ++attempt) {
            prepare();
            result = run(command, label);
        }
        return result;
    }
    StepResult runUntilSuccess(const std::string& command, const std::string& label) const {
        return runUntilSuccess(command, label, [] {});
    }

    void exportSnapshot(const std::string& snapshot) {
        exports[snapshot] = runUntilSuccess(std::string(kArdourExport) + " -b float -o " +
                                                shellQuoted(render(snapshot).string()) + " " +
                                                shellQuoted(session().string()) + " " + snapshot,
                                            "export-" + snapshot);
    }

    // Stops at the first step that fails; the tests report which.
    void make() {
        scan = run("env LD_LIBRARY_PATH=" + std::string(kArdourLibraries) + " " + kArdourScanner +
                       " -f " + shellQuoted(module()),
                   "scan");
        if (scan.exitStatus != 0)
            return;
        build = runUntilSuccess(std::string(kArdourLua) + " " +
                                    shellQuoted(script("make-session.lua")) + " " +
                                    shellQuoted(session().string()),
                                "build", [this] {
                                    std::error_code ignored;
                                    fs::remove_all(session(), ignored);
                                });
        if (build.exitStatus != 0)
            return;
        for (const std::string snapshot : kSnapshots) {
            inspections[snapshot] = runUntilSuccess(
                std::string(kArdourLua) + " " + shellQuoted(script("inspect-session.lua")) + " " +
                    shellQuoted(session().string()) + " " + snapshot,
                "inspect-" + snapshot);
            exportSnapshot(snapshot);
        }
    }
};

std::string describe(const StepResult& run) {
    return "exit status " + std::to_string(run.exitStatus) + "\n--- stdout\n" + run.output +
           "--- stderr\n" + run.errors;
}

class ArdourSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!fs::exists(kArdourLua))
            return;
        studio = std::make_unique<Studio>();
        studio->make();
    }
    static void TearDownTestSuite() { studio.reset(); }

    void SetUp() override {
        if (!fs::exists(kArdourLua))
            GTEST_SKIP() << kArdourLua << " is not installed: the Ardour session tests need "
                         << "Debian's ardour package (scripts/install-deps installs it)";
        ASSERT_TRUE(fs::exists(kArdourExport)) << kArdourExport << " is missing";
        ASSERT_TRUE(fs::is_regular_file(Studio::module())) << "no module at " << Studio::module();
        ASSERT_NE(studio, nullptr) << "no temporary folder for the session";
        ASSERT_EQ(studio->scan.exitStatus, 0) << "the scan failed:\n" << describe(studio->scan);
        ASSERT_EQ(studio->build.exitStatus, 0) << "make-session.lua failed:\n"
                                               << describe(studio->build);
    }

    static const StepResult& inspection(const std::string& snapshot) {
        return studio->inspections.at(snapshot);
    }
    static const StepResult& exported(const std::string& snapshot) {
        return studio->exports.at(snapshot);
    }

    // The render of a snapshot, which must be a stereo take of some length at the
    // session's rate.
    static void readRender(const std::string& snapshot, AudioData& audio) {
        const StepResult& run = exported(snapshot);
        ASSERT_EQ(run.exitStatus, 0) << "exporting " << snapshot << " failed:\n" << describe(run);
        std::string error;
        ASSERT_TRUE(kelvatone::io::readWavFile(studio->render(snapshot).string(), audio, error))
            << snapshot << ": " << error;
        ASSERT_EQ(audio.sampleRate, kSessionRate) << snapshot;
        ASSERT_EQ(audio.channels.size(), 2u) << snapshot;
        ASSERT_GE(audio.frames(), kShortestTake) << snapshot;
    }

    // What tells two renders apart, bit for bit; empty when they are the same.
    static std::string renderDifferences(const std::string& snapshot, const AudioData& plain,
                                         const AudioData& withPlugin) {
        if (withPlugin.frames() != plain.frames())
            return snapshot + ": " + std::to_string(withPlugin.frames()) + " frames, " +
                   std::to_string(plain.frames()) + " without the plug-in";
        std::ostringstream report;
        for (size_t channel = 0; channel < plain.channels.size(); ++channel) {
            const std::vector<float>& expected = plain.channels[channel];
            const std::vector<float>& actual = withPlugin.channels[channel];
            int64_t differing = 0;
            int64_t first = -1;
            for (size_t i = 0; i < expected.size(); ++i) {
                if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0) {
                    if (first < 0)
                        first = static_cast<int64_t>(i);
                    ++differing;
                }
            }
            if (differing > 0)
                report << snapshot << ", channel " << channel << ": " << differing << " of "
                       << expected.size() << " samples differ, the first at frame " << first << " ("
                       << expected[first] << " without the plug-in, " << actual[first]
                       << " with it)\n";
        }
        return report.str();
    }

    // The render with the plug-in against the render without it, bit for bit; a
    // difference must show again when both are exported afresh.
    static void expectSameRender(const std::string& snapshot) {
        std::string differences;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            if (attempt > 0) {
                studio->exportSnapshot("plain");
                studio->exportSnapshot(snapshot);
            }
            AudioData plain, withPlugin;
            ASSERT_NO_FATAL_FAILURE(readRender("plain", plain));
            ASSERT_NO_FATAL_FAILURE(readRender(snapshot, withPlugin));
            differences = renderDifferences(snapshot, plain, withPlugin);
            if (differences.empty())
                return;
        }
        ADD_FAILURE() << "in each of " << kAttempts << " exports:\n" << differences;
    }

    static std::unique_ptr<Studio> studio;
};

std::unique_ptr<Studio> ArdourSessionTest::studio;

// The take must be worth comparing: audible, and different on the two channels, so
// that a silenced or swapped channel would show.
TEST_F(ArdourSessionTest, TheTakeWithoutThePluginIsAudibleStereo) {
    AudioData plain;
    ASSERT_NO_FATAL_FAILURE(readRender("plain", plain));
    for (const std::vector<float>& channel : plain.channels) {
        float peak = 0.0f;
        for (float sample : channel)
            peak = std::max(peak, std::fabs(sample));
        EXPECT_GT(peak, kAudiblePeak);
    }
    EXPECT_NE(plain.channels[0], plain.channels[1]);
}

TEST_F(ArdourSessionTest, TheScannerLeavesNothingOnStderr) {
    EXPECT_NE(studio->scan.output.find("Found Plugin:"), std::string::npos)
        << describe(studio->scan);
    EXPECT_EQ(studio->scan.errors, "") << describe(studio->scan);
}

// Ardour reports a plug-in it cannot load as an unknown processor and then passes the
// audio through itself, so the renders prove nothing unless each load found kelvatone.
TEST_F(ArdourSessionTest, EachSnapshotLoadsKelvatoneAsInserted) {
    const std::map<std::string, std::vector<std::string>> expected = {
        {"plain", {}}, {"plugin", {kPluginLine}}, {"midi", {kMidiPluginLine}}};
    for (const auto& [snapshot, lines] : expected) {
        const StepResult& run = inspection(snapshot);
        ASSERT_EQ(run.exitStatus, 0) << "loading " << snapshot << " failed:\n" << describe(run);
        EXPECT_EQ(processorLines(run.output), lines) << snapshot << ":\n" << describe(run);
    }
}

// Ardour 7 writes a few lines of its own on every run; loading a snapshot with the
// plug-in must write nothing more than loading the same session without it.
TEST_F(ArdourSessionTest, LoadingWithThePluginAddsNothingToStderrOrTheLog) {
    const StepResult& plain = inspection("plain");
    for (const std::string snapshot : {"plugin", "midi"}) {
        const StepResult& run = inspection(snapshot);
        EXPECT_EQ(run.errors, plain.errors) << snapshot << ":\n" << describe(run);
        EXPECT_EQ(complaintsIn(run.output), complaintsIn(plain.output)) << snapshot << ":\n"
                                                                        << describe(run);
    }
}

TEST_F(ArdourSessionTest, ExportingWithThePluginAddsNothingToStderrOrTheLog) {
    const StepResult& plain = exported("plain");
    EXPECT_EQ(complaintsIn(plain.output), std::vector<std::string>{}) << describe(plain);
    for (const std::string snapshot : {"plugin", "midi"}) {
        const StepResult& run = exported(snapshot);
        EXPECT_EQ(run.errors, plain.errors) << snapshot << ":\n" << describe(run);
        EXPECT_EQ(complaintsIn(run.output), std::vector<std::string>{}) << snapshot << ":\n"
                                                                        << describe(run);
    }
}

TEST_F(ArdourSessionTest, TheRenderWithThePluginIsTheRenderWithout) {
    expectSameRender("plugin");
}

TEST_F(ArdourSessionTest, TheRenderWithAMidiTrackInTheSidechainIsTheRenderWithout) {
    expectSameRender("midi");
}

} // namespace
