#include <gtest/gtest.h>

#include <random>

#include "io/MidiFile.h"
#include "tests/host/TestFiles.h"

namespace kelvatone::io {
namespace {

using host::testing::append;
using host::testing::appendTrack;
using host::testing::Bytes;
using host::testing::header;

// Tick times converted to seconds are products of exact binary fractions here.
constexpr double kTimeTolerance = 1e-9;

bool parse(const Bytes& bytes, MidiFileContents& contents, std::string& error) {
    // A copy of exactly the file's size, so a read past its end is a heap overflow
    // that AddressSanitizer reports.
    std::vector<uint8_t> exact(bytes);
    return parseMidiFile(exact.data(), exact.size(), contents, error);
}

TEST(MidiFile, FormatOneMergesTracksThroughTheTempoMap) {
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parse(host::testing::fourNoteMidiFile(), contents, error)) << error;
    EXPECT_EQ(contents.format, 1);
    EXPECT_EQ(contents.trackCount, 2);
    EXPECT_EQ(contents.division, 480);
    ASSERT_EQ(contents.notes.size(), 4u);
    const double expectedSeconds[] = {0.5, 1.0, 2.0, 3.0}; // 120 bpm, then 60 bpm at tick 960
    const uint8_t expectedStatus[] = {0x90, 0x90, 0x91, 0x81};
    const uint8_t expectedVelocity[] = {0x64, 0x00, 0x50, 0x40};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(contents.notes[i].seconds, expectedSeconds[i], kTimeTolerance) << i;
        EXPECT_EQ(contents.notes[i].status, expectedStatus[i]) << i;
        EXPECT_EQ(contents.notes[i].velocity, expectedVelocity[i]) << i;
    }
    EXPECT_EQ(contents.notes[1].note, 0x45); // running status kept the note-on's status
}

TEST(MidiFile, FormatZeroWithOtherPpqAndNonNoteEventsBetweenNotes) {
    Bytes file = header(0, 1, 96);
    appendTrack(file, {0x00, 0xB0, 0x07, 0x64,             // control change: ignored
                       0x00, 0xC0, 0x05,                   // program change: one data byte
                       0x60, 0x90, 0x3C, 0x40,             // tick 96: note on (0.5 s)
                       0x00, 0xF0, 0x03, 0x01, 0x02, 0xF7, // sysex cancels running status
                       0x30, 0x80, 0x3C, 0x00,             // tick 144: note off (0.75 s)
                       0x00, 0xFF, 0x2F, 0x00,             // end of track
                       0x00, 0x90, 0x3E, 0x40});           // after the end: ignored
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parse(file, contents, error)) << error;
    ASSERT_EQ(contents.notes.size(), 2u);
    EXPECT_NEAR(contents.notes[0].seconds, 0.5, kTimeTolerance);
    EXPECT_NEAR(contents.notes[1].seconds, 0.75, kTimeTolerance);
}

TEST(MidiFile, SimultaneousEventsKeepTrackOrderAndUnknownChunksAreSkipped) {
    Bytes file = header(1, 2, 100);
    append(file, {'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 0xAA, 0xBB}); // alien chunk
    appendTrack(file, {0x64, 0x90, 0x40, 0x01});
    appendTrack(file, {0x64, 0x90, 0x41, 0x02});
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parse(file, contents, error)) << error;
    ASSERT_EQ(contents.notes.size(), 2u);
    EXPECT_EQ(contents.notes[0].note, 0x40);
    EXPECT_EQ(contents.notes[1].note, 0x41);
    EXPECT_NEAR(contents.notes[1].seconds, 0.5, kTimeTolerance); // 100 ticks at 120 bpm
}

TEST(MidiFile, SmpteTimingCountsFramesAndTicks) {
    // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
    Bytes file = header(0, 1, ((256 - 25) << 8) | 40);
    appendTrack(file, {0x87, 0x68, 0x90, 0x40, 0x40}); // tick 1000
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parse(file, contents, error)) << error;
    ASSERT_EQ(contents.notes.size(), 1u);
    EXPECT_NEAR(contents.notes[0].seconds, 1.0, kTimeTolerance);
}

TEST(MidiFile, RejectsMalformedFilesWithAReason) {
    const auto withTrack = [](const Bytes& events, int format = 0, int tracks = 1) {
        Bytes file = header(format, tracks, 480);
        appendTrack(file, events);
        return file;
    };
    Bytes longerChunk = withTrack({0x00, 0x90, 0x40, 0x40});
    longerChunk[21] = 0x10; // track length 16 with 4 bytes present
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{}, "no MThd"},
        {Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 6}, "no MThd"},
        {Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, "MThd header"},
        {header(2, 1, 480), "format 2"},
        {header(0, 2, 480), "announces 2 tracks"},
        {header(1, 0, 0), "division"},
        {header(1, 1, ((256 - 23) << 8) | 40), "division"},
        {header(1, 3, 480), "truncated"},
        {longerChunk, "past the end of the file"},
        {withTrack({0x00, 0x40, 0x40}), "running status not established"},
        {withTrack({0x00, 0xF2, 0x00, 0x00}), "not allowed"},
        {withTrack({0x00, 0x90, 0x40}), "cut off"},
        {withTrack({0x00, 0x90, 0x40, 0x80}), "bad data byte"},
        {withTrack({0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), "delta time"},
        {withTrack({0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}), "tempo of zero"},
        {withTrack({0x00, 0xFF, 0x01, 0x10, 'a'}), "meta event"},
        {withTrack({0x00, 0xF0, 0x7F}), "system exclusive"},
        {withTrack({0x00, 0x90, 0x40, 0x40, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x41, 0x40}),
         "running status not established"},
    };
    for (const auto& [file, reason] : cases) {
        MidiFileContents contents;
        std::string error;
        EXPECT_FALSE(parse(file, contents, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos)
            << "expected \"" << reason << "\", got \"" << error << "\"";
    }
}

TEST(MidiFile, EveryTruncationAndRandomCorruptionIsHandledWithinTheBuffer) {
    const Bytes file = host::testing::fourNoteMidiFile();
    int accepted = 0;
    for (size_t length = 0; length < file.size(); ++length) {
        MidiFileContents contents;
        std::string error;
        if (parse(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), contents,
                  error)) {
            ++accepted;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    // Cut inside the last chunk, the announced track length runs past the end.
    EXPECT_EQ(accepted, 0);

    std::mt19937 random(2024);
    for (int round = 0; round < 4000; ++round) {
        Bytes corrupt = file;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) {
            corrupt[random() % corrupt.size()] = static_cast<uint8_t>(random());
        }
        MidiFileContents contents;
        std::string error;
        if (parse(corrupt, contents, error)) {
            for (const MidiNoteEvent& note : contents.notes) {
                EXPECT_LT(note.note, 0x80);
                EXPECT_GE(note.seconds, 0.0);
            }
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(MidiFile, WrittenEventsReadBackAtTheirTicksNoteOffsFirst) {
    // 120 beats per minute at 480 ticks a quarter: 960 ticks a second, so times on whole
    // ticks read back exactly; a time before the start is written at the start.
    const std::vector<MidiNoteEvent> events = {
        {-0.25, 0x90, 60, 96}, {1.0, 0x90, 62, 96}, {1.0, 0x80, 60, 0}, {2.5, 0x80, 62, 0}};
    const std::vector<uint8_t> bytes = encodeMidiFile(events);
    MidiFileContents contents;
    std::string error;
    ASSERT_TRUE(parse(Bytes(bytes.begin(), bytes.end()), contents, error)) << error;
    EXPECT_EQ(contents.format, 0);
    ASSERT_EQ(contents.notes.size(), events.size());
    const double seconds[] = {0.0, 1.0, 1.0, 2.5};
    const uint8_t statuses[] = {0x90, 0x80, 0x90, 0x80};
    const uint8_t notes[] = {60, 60, 62, 62};
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_NEAR(contents.notes[i].seconds, seconds[i], kTimeTolerance) << i;
        EXPECT_EQ(contents.notes[i].status, statuses[i]) << i;
        EXPECT_EQ(contents.notes[i].note, notes[i]) << i;
    }
}

} // namespace
} // namespace kelvatone::io
