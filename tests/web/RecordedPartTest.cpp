// A recorded take's part: the notes held at its frames become note-ons and note-offs at
// the frames where they change.
#include "web/RecordedPart.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

using namespace kelvatone::web;
using kelvatone::vst::kNoteOff;
using kelvatone::vst::kNoteOn;

namespace {

constexpr double kFrameSeconds = 1470.0 / 44100.0;

RecordedFrame frameHolding(int index, std::initializer_list<uint8_t> notes) {
    RecordedFrame frame{index * kFrameSeconds, {kelvatone::analysis::kNoPitch, {0, 0, 0, 0}}};
    kelvatone::analysis::HeldNoteSet held;
    for (const uint8_t note : notes)
        held.add(note);
    for (int w = 0; w < 4; ++w)
        frame.column.notes[w] = held.words[w];
    return frame;
}

struct Expected {
    int frame;
    uint8_t status;
    uint8_t note;
};

void expectEvents(const std::vector<PartEvent>& events, const std::vector<Expected>& expected) {
    ASSERT_EQ(events.size(), expected.size());
    for (size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(events[i].seconds, expected[i].frame * kFrameSeconds);
        EXPECT_EQ(events[i].status, expected[i].status);
        EXPECT_EQ(events[i].note, expected[i].note);
        EXPECT_EQ(events[i].velocity, expected[i].status == kNoteOn ? kRecordedVelocity : 0);
    }
}

} // namespace

// Notes on either side of the words' boundaries (31, 32, 63, 64) and at both ends of the
// range, a chord that changes one note, and everything let go at the end.
TEST(RecordedPart, HeldNotesBecomeEventsWhereTheyChange) {
    const std::vector<RecordedFrame> frames = {
        frameHolding(0, {}),          frameHolding(1, {0, 31, 32}),
        frameHolding(2, {0, 31, 32}), frameHolding(3, {0, 63, 64, 127}),
        frameHolding(4, {}),
    };
    expectEvents(recordedPart(frames.data(), frames.size()), {{1, kNoteOn, 0},
                                                              {1, kNoteOn, 31},
                                                              {1, kNoteOn, 32},
                                                              {3, kNoteOff, 31},
                                                              {3, kNoteOff, 32},
                                                              {3, kNoteOn, 63},
                                                              {3, kNoteOn, 64},
                                                              {3, kNoteOn, 127},
                                                              {4, kNoteOff, 0},
                                                              {4, kNoteOff, 63},
                                                              {4, kNoteOff, 64},
                                                              {4, kNoteOff, 127}});
}

// A note held from the first frame starts there; one still held at the last frame has no
// note-off (the report ends it with the take); a take with no note held has no part.
TEST(RecordedPart, NotesHeldAtTheEdgesAndNone) {
    const std::vector<RecordedFrame> held = {frameHolding(0, {60}), frameHolding(1, {60})};
    expectEvents(recordedPart(held.data(), held.size()), {{0, kNoteOn, 60}});

    const std::vector<RecordedFrame> silent = {frameHolding(0, {}), frameHolding(1, {})};
    EXPECT_TRUE(recordedPart(silent.data(), silent.size()).empty());
    EXPECT_TRUE(recordedPart(nullptr, 0).empty());
}
