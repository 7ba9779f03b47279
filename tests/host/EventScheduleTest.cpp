#include <gtest/gtest.h>

#include "host/EventSchedule.h"

namespace kelvatone::host {
namespace {

TEST(PlanBlocks, FixedBlocksWithAShorterLastOne) {
    EXPECT_EQ(planBlocks(1000, 300, {}), (std::vector<int64_t>{0, 300, 600, 900}));
    EXPECT_EQ(planBlocks(900, 300, {}), (std::vector<int64_t>{0, 300, 600}));
    EXPECT_TRUE(planBlocks(0, 300, {}).empty());
}

TEST(PlanBlocks, PausePointsSplitBlocksAndRestartTheGrid) {
    // Points at 0, at a boundary, inside a block (twice) and at the end add no empty block.
    EXPECT_EQ(planBlocks(1000, 300, {450, 0, 300, 450, 1000}),
              (std::vector<int64_t>{0, 300, 450, 750}));
}

io::MidiNoteEvent note(double seconds, uint8_t number) {
    return {seconds, 0x90, number, 100};
}

TEST(EventSchedule, EveryEventLandsInItsBlockWithItsOffset) {
    const std::vector<int64_t> starts = planBlocks(1000, 300, {450});
    // At 1000 frames per second: frames 0, 299, 300, 449 (one before the split), 450,
    // 999, and 1000 (past the end: dropped).
    const std::vector<io::MidiNoteEvent> notes = {note(0.0, 1),   note(0.299, 2), note(0.3, 3),
                                                  note(0.449, 4), note(0.45, 5),  note(0.999, 6),
                                                  note(1.0, 7)};
    EventSchedule schedule;
    schedule.build(notes, 1000.0, starts, 1000);
    EXPECT_EQ(schedule.eventCount(), 6u);

    struct Expected {
        size_t block;
        std::vector<std::pair<int32_t, uint8_t>> events; // deltaFrames, note
    };
    const Expected expected[] = {
        {0, {{0, 1}, {299, 2}}}, {1, {{0, 3}, {149, 4}}}, {2, {{0, 5}}}, {3, {{249, 6}}}};
    for (const Expected& block : expected) {
        vst::VstEvents* events = schedule.eventsForBlock(block.block);
        ASSERT_NE(events, nullptr) << block.block;
        ASSERT_EQ(events->numEvents, static_cast<int32_t>(block.events.size()));
        for (size_t i = 0; i < block.events.size(); ++i) {
            const auto* midi = reinterpret_cast<const vst::VstMidiEvent*>(events->events[i]);
            EXPECT_EQ(midi->type, vst::kVstMidiType);
            EXPECT_EQ(midi->byteSize, static_cast<int32_t>(sizeof(vst::VstMidiEvent)));
            EXPECT_EQ(midi->deltaFrames, block.events[i].first);
            EXPECT_EQ(static_cast<uint8_t>(midi->midiData[1]), block.events[i].second);
            EXPECT_EQ(static_cast<uint8_t>(midi->midiData[0]), 0x90);
        }
    }
}

TEST(EventSchedule, BlocksWithoutEventsGetNothingAndUnsortedNotesAreOrdered) {
    const std::vector<int64_t> starts = planBlocks(1000, 100, {});
    EventSchedule schedule;
    schedule.build({note(0.55, 2), note(0.15, 1), note(0.52, 3)}, 1000.0, starts, 1000);
    EXPECT_EQ(schedule.eventsForBlock(0), nullptr);
    ASSERT_NE(schedule.eventsForBlock(1), nullptr);
    EXPECT_EQ(schedule.eventsForBlock(2), nullptr);
    vst::VstEvents* five = schedule.eventsForBlock(5);
    ASSERT_NE(five, nullptr);
    ASSERT_EQ(five->numEvents, 2);
    EXPECT_EQ(reinterpret_cast<const vst::VstMidiEvent*>(five->events[0])->deltaFrames, 20);
    EXPECT_EQ(reinterpret_cast<const vst::VstMidiEvent*>(five->events[1])->deltaFrames, 50);
    EXPECT_EQ(schedule.eventsForBlock(9), nullptr);
}

} // namespace
} // namespace kelvatone::host
