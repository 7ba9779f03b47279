// What the host tests' own VST 2.4 test module records about the host that drives
// it, read back by the tests through an exported function.
#pragma once

#include <cstdint>

namespace kelvatone::host::testing {

constexpr int kMaxRecordedEvents = 256;
constexpr int kMaxRecordedBlocks = 4096;
constexpr int kMaxRecordedClicks = 16;
// The test module's editor size and its two colours (0xRRGGBB): before and after
// the first click.
constexpr int kTestEditorWidth = 200;
constexpr int kTestEditorHeight = 100;
constexpr uint32_t kTestEditorColour = 0x2040C0;
constexpr uint32_t kTestEditorClickedColour = 0x20C040;

struct RecordedEvent {
    int64_t blockStart; // frames processed before the block the event came with
    int32_t block;      // index of that block
    int32_t deltaFrames;
    uint8_t status, note, velocity;
};

struct RecordedClick {
    int32_t x, y;
};

struct TestRecording {
    intptr_t versionAnswer;
    float sampleRate;
    int32_t blockSize;
    int32_t mainsOn, mainsOff;
    intptr_t processLevelInProcess;
    intptr_t processLevelOutside;
    int32_t blocks;
    int64_t frames;
    int32_t blockFrames[kMaxRecordedBlocks];
    int32_t eventCount;
    RecordedEvent events[kMaxRecordedEvents];
    float parameters[2];
    int32_t editorOpened, editorClosed, editorIdles;
    int32_t clickCount;
    RecordedClick clicks[kMaxRecordedClicks];
    // True when the effect was closed and its object freed.
    int32_t closed;
};

using RecordingAccessor = const TestRecording* (*)();
constexpr const char* kRecordingAccessorName = "kelvatoneTestRecording";

} // namespace kelvatone::host::testing
