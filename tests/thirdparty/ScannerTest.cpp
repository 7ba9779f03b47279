// Our Linux module in two hosts we did not write: the plug-in scanners that Debian's
// Ardour 7 and Qtractor packages ship load a VST 2.4 module the way their hosts do,
// without a display, and report what they found. Both must accept kelvatone.so and
// see what it declares: 2 inputs, 2 outputs, MIDI in, 6 parameters, an editor,
// replacing processing and the ID qr28.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace kelvatone::testsupport;

namespace {

namespace fs = std::filesystem;

constexpr char kArdourLibraries[] = "/usr/lib/ardour7";
constexpr char kArdourScanner[] = "/usr/lib/ardour7/ardour-vst-scanner";
constexpr char kQtractorScanner[] = "/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan";
constexpr int kScanSeconds = 60;
constexpr char kUniqueIdDecimal[] = "1903309368";
constexpr char kUniqueIdHex[] = "0x71723238";

struct ScanResult {
    int exitStatus = -1;
    std::string output;
};

std::string shellQuoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// A scanner's command under the time limit.
std::string limited(const char* scanner) {
    return "timeout " + std::to_string(kScanSeconds) + " " + scanner;
}

// Runs a shell command with stderr folded into stdout.
ScanResult run(const std::string& command) {
    ScanResult result;
    const std::string folded = command + " 2>&1";
    FILE* pipe = popen(folded.c_str(), "r");
    if (!pipe)
        return result;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), pipe)) > 0)
        result.output.append(chunk, got);
    const int status = pclose(pipe);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The attributes of the first element `name` in an XML text.
std::map<std::string, std::string> attributesOf(const std::string& xml, const std::string& name) {
    std::map<std::string, std::string> attributes;
    std::smatch element;
    if (!std::regex_search(xml, element, std::regex("<" + name + "\\s([^>]*)>")))
        return attributes;
    const std::string body = element[1].str();
    const std::regex attribute("([A-Za-z_]+)=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), attribute);
         it != std::sregex_iterator(); ++it)
        attributes[(*it)[1].str()] = (*it)[2].str();
    return attributes;
}

std::vector<std::string> splitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream stream(line);
    while (std::getline(stream, field, separator))
        fields.push_back(field);
    return fields;
}

std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : splitFields(text, '\n')) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fs::is_regular_file(module)) << "no module at " << module; }

    static std::string missingScanner(const char* scanner, const char* package) {
        return std::string(scanner) + " is missing: install Debian's " + package +
               " package (scripts/install-deps does)";
    }

    // The build's kelvatone.so, named by the build.
    const std::string module = fs::absolute(KELVATONE_MODULE_PATH).string();
};

// Ardour's scanner answers 0 even when the scan fails, so the proof is its report
// and the cache record it writes under $XDG_CACHE_HOME/ardour7/vst/.
TEST_F(ScannerTest, ArdourScannerFindsThePluginAndCachesWhatItDeclares) {
    ASSERT_TRUE(fs::exists(kArdourScanner)) << missingScanner(kArdourScanner, "ardour");
    const TempDir cache("kelvatone-scan-");
    const ScanResult scan =
        run("env XDG_CACHE_HOME=" + shellQuoted(cache.path().string()) +
            " LD_LIBRARY_PATH=" + kArdourLibraries + " " + limited(kArdourScanner) + " -f " +
            shellQuoted(module) + " </dev/null");
    ASSERT_EQ(scan.exitStatus, 0) << "the scanner crashed or timed out:\n" << scan.output;
    EXPECT_NE(scan.output.find("Found Plugin:"), std::string::npos) << scan.output;
    EXPECT_EQ(scan.output.find("WARNING"), std::string::npos) << scan.output;
    EXPECT_EQ(scan.output.find("ERROR"), std::string::npos) << scan.output;

    std::vector<fs::path> records;
    const fs::path cacheFolder = cache.path() / "ardour7" / "vst";
    if (fs::is_directory(cacheFolder)) {
        for (const auto& entry : fs::directory_iterator(cacheFolder))
            records.push_back(entry.path());
    }
    ASSERT_EQ(records.size(), 1u) << "expected one cache record in " << cacheFolder << ":\n"
                                  << scan.output;
    const std::string xml = fileText(records.front());
    EXPECT_EQ(attributesOf(xml, "VST2Cache")["binary"], module) << xml;
    auto info = attributesOf(xml, "VST2Info");
    EXPECT_EQ(info["id"], kUniqueIdDecimal) << xml;
    EXPECT_EQ(info["name"], "kelvatone") << xml;
    EXPECT_EQ(info["n_inputs"], "2") << xml;
    EXPECT_EQ(info["n_outputs"], "2") << xml;
    EXPECT_EQ(info["n_midi_inputs"], "1") << xml;
    EXPECT_EQ(info["n_midi_outputs"], "0") << xml;
    EXPECT_EQ(info["is_instrument"], "0") << xml;
    EXPECT_EQ(info["can_process_replace"], "1") << xml;
    EXPECT_EQ(info["has_editor"], "1") << xml;
}

// Qtractor's scanner reads "VST:path" lines and answers one line per plug-in:
// type|name|audio in:out|MIDI in:out|parameters:programs... |flags|path|index|id.
TEST_F(ScannerTest, QtractorScannerReportsOneLineWithTheDeclaredPorts) {
    ASSERT_TRUE(fs::exists(kQtractorScanner)) << missingScanner(kQtractorScanner, "qtractor");
    const ScanResult scan =
        run("printf '%s\\n' " + shellQuoted("VST:" + module) + " | " + limited(kQtractorScanner));
    ASSERT_EQ(scan.exitStatus, 0) << "the scanner crashed or timed out:\n" << scan.output;
    const std::vector<std::string> lines = nonEmptyLines(scan.output);
    ASSERT_EQ(lines.size(), 1u) << scan.output;
    const std::vector<std::string> fields = splitFields(lines.front(), '|');
    const std::vector<std::string> expected = {"VST",    "kelvatone", "2:2", "1:0",       "6:0",
                                               "GUI,RT", module,      "0",   kUniqueIdHex};
    EXPECT_EQ(fields, expected) << lines.front();
}

} // namespace
