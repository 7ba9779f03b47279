// The temporary folder and the program runs the tests of tools/ rely on: the folder goes
// with everything in it, and a run reports the exit status and both output streams of a
// program started in that folder.
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kelvatone::testsupport {

namespace {

namespace fs = std::filesystem;

TEST(TempDir, IsEmptyAtFirstAndGoesWithEverythingInIt) {
    fs::path kept;
    {
        const TempDir dir("kelvatone-support-test-");
        kept = dir.path();
        ASSERT_TRUE(fs::is_directory(kept));
        EXPECT_TRUE(fs::is_empty(kept));
        EXPECT_EQ(kept.filename().string().rfind("kelvatone-support-test-", 0), 0u);
        EXPECT_EQ(dir.file("a.txt"), kept.string() + "/a.txt");
        fs::create_directories(dir.file("inner/deeper"));
        std::ofstream(dir.file("inner/deeper/b.txt")) << "text\n";
        EXPECT_EQ(readFile(dir.file("inner/deeper/b.txt")), "text\n");
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(TempDir, ReadingAMissingFileGivesNothing) {
    const TempDir dir;
    EXPECT_EQ(readFile(dir.file("missing")), "");
}

TEST(RunTool, ReportsTheExitStatusAndBothStreamsOfARunInTheFolder) {
    const TempDir dir;
    std::ofstream(dir.file("input.txt")) << "from the folder\n";
    const ToolExit run = runTool("sh", "-c 'cat input.txt; echo problem >&2; exit 3'", dir);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "from the folder\n");
    EXPECT_EQ(run.err, "problem\n");

    // Every run replaces what the one before wrote.
    const ToolExit quiet = runTool("true", "", dir);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
}

TEST(RunTool, OutputSplitsIntoLinesKeepingEmptyOnesAndAnUnendedLast) {
    EXPECT_EQ(splitLines("first\n\nlast"), (std::vector<std::string>{"first", "", "last"}));
    EXPECT_EQ(splitLines("one\n"), (std::vector<std::string>{"one"}));
    EXPECT_TRUE(splitLines("").empty());
}

} // namespace

} // namespace kelvatone::testsupport
