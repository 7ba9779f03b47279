// The host library driving real modules: our test modules (pass-through, overflowing
// names, null entry, no entry).
#include <gtest/gtest.h>

#include <cstring>

#include "host/HostCallback.h"
#include "host/InfoReport.h"
#include "host/ModuleLoader.h"
#include "host/Session.h"
#include "tests/host/TestFiles.h"
#include "tests/host/TestModuleRecording.h"

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

using testing::kMaxRecordedBlocks;
using testing::TestRecording;

struct LoadedTestModule {
    std::unique_ptr<ModuleLibrary> library;
    std::unique_ptr<EffectInstance> instance;

    const TestRecording& recording() const {
        auto accessor = reinterpret_cast<testing::RecordingAccessor>(
            library->symbol(testing::kRecordingAccessorName));
        return *accessor();
    }
};

LoadedTestModule loadTestModule(const char* path = HOST_TEST_MODULE) {
    LoadedTestModule module;
    std::string error;
    module.library = ModuleLibrary::open(path, error);
    EXPECT_NE(module.library, nullptr) << error;
    if (module.library != nullptr) {
        module.instance = EffectInstance::create(*module.library, error);
        EXPECT_NE(module.instance, nullptr) << error;
    }
    return module;
}

TEST(ModuleLoading, EveryFailureIsReportedWithItsCause) {
    const std::pair<const char*, const char*> cases[] = {
        {"/nonexistent/module.so", "no such file"},
        {HOST_TEST_TEXT_FILE, "not a loadable module"},
        {HOST_TEST_NO_ENTRY_MODULE, "exports neither VSTPluginMain nor main"},
    };
    for (const auto& [path, reason] : cases) {
        std::string error;
        EXPECT_EQ(ModuleLibrary::open(path, error), nullptr) << path;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    std::string error;
    auto library = ModuleLibrary::open(HOST_TEST_NULL_ENTRY_MODULE, error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_EQ(EffectInstance::create(*library, error), nullptr);
    EXPECT_NE(error.find("entry returned no effect"), std::string::npos) << error;
}

TEST(ModuleLoading, TheEntryIsAnsweredAsAVst24HostAndCloseFreesTheEffect) {
    LoadedTestModule module = loadTestModule();
    ASSERT_NE(module.instance, nullptr);
    EXPECT_EQ(module.recording().versionAnswer, 2400);
    EXPECT_EQ(module.recording().closed, 0);
    module.instance->close();
    EXPECT_EQ(module.recording().closed, 1);
}

TEST(HostCallback, AnswersForTheInstanceThatAsks) {
    HostContext context;
    context.sampleRate.store(96000.0f);
    context.blockSize.store(128);
    AEffect effect{};
    effect.resvd1 = reinterpret_cast<intptr_t>(&context);
    EXPECT_EQ(hostCallback(&effect, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 96000);
    EXPECT_EQ(hostCallback(&effect, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 128);
    EXPECT_EQ(hostCallback(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f), 2400);
    hostCallback(&effect, audioMasterWantMidi, 0, 1, nullptr, 0.0f);
    EXPECT_EQ(context.wantMidiRequests.load(), 1);
    char capability[] = "sendVstMidiEvent";
    EXPECT_EQ(hostCallback(&effect, audioMasterCanDo, 0, 0, capability, 0.0f), 1);
    char unknown[] = "sizeWindow";
    EXPECT_EQ(hostCallback(&effect, audioMasterCanDo, 0, 0, unknown, 0.0f), 0);
    char vendor[64];
    std::memset(vendor, 'x', sizeof vendor);
    EXPECT_EQ(hostCallback(&effect, audioMasterGetProductString, 0, 0, vendor, 0.0f), 1);
    EXPECT_STREQ(vendor, "kelvatone-host");
    EXPECT_EQ(hostCallback(&effect, audioMasterGetTime, 0, 0, nullptr, 0.0f), 0);
}

TEST(InfoReport, GuardedNamesOfTwelveCharactersGiveWarnings) {
    LoadedTestModule module = loadTestModule(HOST_TEST_OVERFLOW_MODULE);
    ASSERT_NE(module.instance, nullptr);
    const std::string report = buildInfoReport(*module.instance);
    EXPECT_NE(report.find("\"name\": \"Parameter000\""), std::string::npos) << report;
    EXPECT_NE(report.find("parameter 0 name (opcode 8): the module wrote 13 bytes, more than 8 "
                          "characters and a terminating zero"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("parameter 1 name (opcode 8)"), std::string::npos) << report;
    // Displays ("0.25") and labels ("dB") stay within their limit.
    EXPECT_EQ(report.find("display (opcode 7)"), std::string::npos) << report;
    EXPECT_EQ(report.find("label (opcode 6)"), std::string::npos) << report;
}

RunReport runTestModule(LoadedTestModule& module, const io::AudioData& input, RunSettings settings,
                        const std::vector<io::MidiNoteEvent>& notes = {}) {
    Session session(*module.instance, input, std::move(settings));
    std::string error;
    EXPECT_TRUE(session.prepare(error)) << error;
    RunReport report;
    EXPECT_TRUE(session.process(notes, {}, nullptr, report, error)) << error;
    session.finish();
    return report;
}

TEST(Session, OutputIsTheInputBitForBitAndTheHostSetsTheEffectUp) {
    LoadedTestModule module = loadTestModule();
    ASSERT_NE(module.instance, nullptr);
    const io::AudioData input = testing::noise(48000, 2, 10000);
    RunSettings settings;
    settings.blockSize = 333;
    settings.keepOutput = true;
    settings.parameters = {{1, 0.125f}};
    const RunReport report = runTestModule(module, input, settings);

    ASSERT_EQ(report.output.channels.size(), 2u);
    for (size_t channel = 0; channel < 2; ++channel) {
        EXPECT_EQ(std::memcmp(report.output.channels[channel].data(),
                              input.channels[channel].data(), sizeof(float) * 10000),
                  0);
    }
    EXPECT_EQ(report.output.sampleRate, 48000);
    EXPECT_EQ(report.frames, 10000);
    EXPECT_EQ(report.blocks, 31); // 30 of 333 frames and one of 10
    const TestRecording& recording = module.recording();
    EXPECT_EQ(recording.sampleRate, 48000.0f);
    EXPECT_EQ(recording.blockSize, 333);
    EXPECT_EQ(recording.mainsOn, 1);
    EXPECT_EQ(recording.mainsOff, 1);
    EXPECT_EQ(recording.parameters[1], 0.125f);
    EXPECT_EQ(recording.blocks, 31);
    EXPECT_EQ(recording.blockFrames[29], 333);
    EXPECT_EQ(recording.blockFrames[30], 10);
    EXPECT_EQ(recording.processLevelInProcess, kProcessLevelRealtime);
    EXPECT_EQ(recording.processLevelOutside, kProcessLevelUser);
    EXPECT_EQ(module.instance->context().wantMidiRequests.load(), 1);
}

TEST(Session, MonoInputFeedsBothChannels) {
    LoadedTestModule module = loadTestModule();
    ASSERT_NE(module.instance, nullptr);
    const io::AudioData input = testing::noise(44100, 1, 2000);
    RunSettings settings;
    settings.keepOutput = true;
    const RunReport report = runTestModule(module, input, settings);
    ASSERT_EQ(report.output.channels.size(), 2u);
    EXPECT_EQ(report.output.channels[0], input.channels[0]);
    EXPECT_EQ(report.output.channels[1], input.channels[0]);
}

TEST(Session, MidiArrivesBeforeItsBlockWithDeltaFramesInsideIt) {
    LoadedTestModule module = loadTestModule();
    ASSERT_NE(module.instance, nullptr);
    const int rate = 44100;
    const io::AudioData input = testing::noise(rate, 2, rate); // one second
    std::vector<io::MidiNoteEvent> notes;
    std::vector<int64_t> frames;
    // Frames at block starts, block ends, inside blocks, and two in the same block.
    for (int64_t frame : {0, 1, 511, 512, 513, 1000, 1001, 22050, 44099}) {
        notes.push_back(
            {static_cast<double>(frame) / rate, 0x90, static_cast<uint8_t>(frames.size()), 64});
        frames.push_back(frame);
    }
    notes.push_back({1.5, 0x80, 99, 0}); // after the input: never delivered
    RunSettings settings;
    const RunReport report = runTestModule(module, input, settings, notes);

    EXPECT_EQ(report.midiEvents, static_cast<int64_t>(frames.size()));
    const TestRecording& recording = module.recording();
    ASSERT_EQ(recording.eventCount, static_cast<int32_t>(frames.size()));
    for (int32_t i = 0; i < recording.eventCount; ++i) {
        const auto& event = recording.events[i];
        ASSERT_LT(event.block, kMaxRecordedBlocks);
        EXPECT_EQ(event.note, i);
        EXPECT_EQ(event.blockStart + event.deltaFrames, frames[static_cast<size_t>(i)]) << i;
        EXPECT_GE(event.deltaFrames, 0);
        EXPECT_LT(event.deltaFrames, recording.blockFrames[event.block]) << i;
    }
}

TEST(Session, ParameterIndicesOutsideTheEffectAreRefusedBeforeAnythingIsSent) {
    LoadedTestModule module = loadTestModule();
    ASSERT_NE(module.instance, nullptr);
    RunSettings settings;
    settings.parameters = {{2, 0.5f}};
    Session session(*module.instance, testing::noise(44100, 1, 100), settings);
    std::string error;
    EXPECT_FALSE(session.prepare(error));
    EXPECT_NE(error.find("parameter index 2 outside 0..1"), std::string::npos) << error;
    EXPECT_EQ(module.recording().mainsOn, 0);
}

} // namespace
} // namespace kelvatone::host
