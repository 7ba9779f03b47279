// Requests to the host: argument placement, answer conversion, and the fallbacks
// without a callback.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace kelvatone::vst;

namespace {

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { recordingHost().reset(); }
    HostRequest onlyRequest() {
        EXPECT_EQ(recordingHost().requests.size(), 1u);
        HostRequest request = recordingHost().requests.at(0);
        recordingHost().requests.clear();
        return request;
    }
    TestEffect effect;
};

TEST_F(RequestTest, MasterVersionTurnsZeroIntoOne) {
    EXPECT_EQ(effect.getMasterVersion(), 1);
    const HostRequest request = onlyRequest();
    EXPECT_EQ(request.opcode, audioMasterVersion);
    EXPECT_EQ(request.effect, &effect.record());
    recordingHost().answers[audioMasterVersion] = 2400;
    EXPECT_EQ(effect.getMasterVersion(), 2400);
    // Only the low 32 bits count: a host answering 2^32 has answered 0.
    recordingHost().answers[audioMasterVersion] = intptr_t{1} << 32;
    EXPECT_EQ(effect.getMasterVersion(), 1);
}

TEST_F(RequestTest, PinConnectedIsTrueExactlyForAZeroAnswer) {
    EXPECT_TRUE(effect.isInputConnected(3));
    HostRequest request = onlyRequest();
    EXPECT_EQ(request.opcode, audioMasterPinConnected);
    EXPECT_EQ(request.index, 3);
    EXPECT_EQ(request.value, 0);
    EXPECT_TRUE(effect.isOutputConnected(1));
    request = onlyRequest();
    EXPECT_EQ(request.index, 1);
    EXPECT_EQ(request.value, 1);

    for (intptr_t answer : {intptr_t{1}, intptr_t{-1}}) {
        recordingHost().answers[audioMasterPinConnected] = answer;
        EXPECT_FALSE(effect.isInputConnected(0));
        EXPECT_FALSE(effect.isOutputConnected(0));
    }
    recordingHost().answers[audioMasterPinConnected] = intptr_t{1} << 32;
    EXPECT_TRUE(effect.isInputConnected(0));
}

TEST_F(RequestTest, UpdateSampleRateStoresOnlyPositiveAnswers) {
    for (intptr_t answer : {intptr_t{-48000}, intptr_t{0}}) {
        recordingHost().answers[audioMasterGetSampleRate] = answer;
        EXPECT_EQ(effect.updateSampleRate(), 44100.0);
        EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    }
    recordingHost().answers[audioMasterGetSampleRate] = 48000;
    EXPECT_EQ(effect.updateSampleRate(), 48000.0);
    EXPECT_EQ(effect.getSampleRate(), 48000.0f);
    EXPECT_EQ(recordingHost().requestsWith(audioMasterGetSampleRate).size(), 3u);
}

TEST_F(RequestTest, UpdateBlockSizeStoresOnlyPositiveLow32Bits) {
    recordingHost().answers[audioMasterGetBlockSize] = -5;
    EXPECT_EQ(effect.updateBlockSize(), 1024);
    // Positive as a whole, negative in its low 32 bits.
    recordingHost().answers[audioMasterGetBlockSize] = 0xFFFFFF00ll;
    EXPECT_EQ(effect.updateBlockSize(), 1024);
    recordingHost().answers[audioMasterGetBlockSize] = (intptr_t{1} << 32) + 512;
    EXPECT_EQ(effect.updateBlockSize(), 512);
    EXPECT_EQ(effect.getBlockSize(), 512);
}

TEST_F(RequestTest, CanHostDoTurnsAnyNonZeroAnswerIntoOne) {
    const char text[] = "sendVstMidiEvent";
    EXPECT_EQ(effect.canHostDo(text), 0);
    const HostRequest request = onlyRequest();
    EXPECT_EQ(request.opcode, audioMasterCanDo);
    EXPECT_EQ(request.ptr, text);
    for (intptr_t answer : {intptr_t{-1}, intptr_t{1}, intptr_t{7}, intptr_t{1} << 33}) {
        recordingHost().answers[audioMasterCanDo] = answer;
        EXPECT_EQ(effect.canHostDo(text), 1) << "answer " << answer;
    }
}

TEST_F(RequestTest, SetParameterAutomatedSetsFirstThenTellsTheHost) {
    class OrderEffect : public TestEffect {
    public:
        void setParameter(int32_t index, float value) override {
            requestsBefore = recordingHost().requests.size();
            lastIndex = index;
            lastValue = value;
        }
        size_t requestsBefore = 99;
        int32_t lastIndex = -1;
        float lastValue = -1.0f;
    } ordered;
    ordered.setParameterAutomated(2, 0.25f);
    EXPECT_EQ(ordered.requestsBefore, 0u);
    EXPECT_EQ(ordered.lastIndex, 2);
    EXPECT_EQ(ordered.lastValue, 0.25f);
    const HostRequest request = onlyRequest();
    EXPECT_EQ(request.opcode, audioMasterAutomate);
    EXPECT_EQ(request.index, 2);
    EXPECT_EQ(request.value, 0);
    EXPECT_EQ(request.ptr, nullptr);
    EXPECT_EQ(request.opt, 0.25f);
}

TEST_F(RequestTest, NullRecordsAreRefusedWithoutAskingTheHost) {
    recordingHost().answers[audioMasterOpenFileSelector] = 1;
    recordingHost().answers[audioMasterCloseFileSelector] = 1;
    recordingHost().answers[audioMasterGetChunkFile] = 1;
    EXPECT_FALSE(effect.openFileSelector(nullptr));
    EXPECT_FALSE(effect.closeFileSelector(nullptr));
    EXPECT_FALSE(effect.getChunkFile(nullptr));
    EXPECT_TRUE(recordingHost().requests.empty());

    int record = 0;
    auto* fileSelect = reinterpret_cast<VstFileSelect*>(&record);
    EXPECT_TRUE(effect.openFileSelector(fileSelect));
    EXPECT_EQ(onlyRequest().ptr, &record);
    EXPECT_TRUE(effect.closeFileSelector(fileSelect));
    EXPECT_EQ(onlyRequest().opcode, audioMasterCloseFileSelector);
    EXPECT_TRUE(effect.getChunkFile(&record));
    EXPECT_EQ(onlyRequest().opcode, audioMasterGetChunkFile);
}

// One row per request with arguments: what the operation sends and what it makes
// of a non-zero answer.
struct Placement {
    std::string name;
    std::function<intptr_t(TestEffect&)> call;
    int32_t opcode;
    int32_t index;
    intptr_t value;
    void* ptr;
    float opt;
};

int recordMarker = 0;
void* const kRecord = &recordMarker;

TEST_F(RequestTest, ArgumentsLandWhereTheHostExpectsThem) {
    const Placement placements[] = {
        {"wantEvents",
         [](TestEffect& fx) {
             fx.wantEvents(-2);
             return intptr_t{0};
         },
         audioMasterWantMidi, 0, -2, nullptr, 0.0f},
        {"getTimeInfo",
         [](TestEffect& fx) { return reinterpret_cast<intptr_t>(fx.getTimeInfo(-3)); },
         audioMasterGetTime, 0, -3, nullptr, 0.0f},
        {"tempoAt", [](TestEffect& fx) { return intptr_t{fx.tempoAt(-9)}; }, audioMasterTempoAt, 0,
         -9, nullptr, 0.0f},
        {"sizeWindow", [](TestEffect& fx) { return intptr_t{fx.sizeWindow(640, -360)}; },
         audioMasterSizeWindow, 640, -360, nullptr, 0.0f},
        {"getPreviousPlug",
         [](TestEffect& fx) { return reinterpret_cast<intptr_t>(fx.getPreviousPlug(4)); },
         audioMasterGetPreviousPlug, 0, 0, nullptr, 0.0f},
        {"getNextPlug",
         [](TestEffect& fx) { return reinterpret_cast<intptr_t>(fx.getNextPlug(4)); },
         audioMasterGetNextPlug, 0, 0, nullptr, 0.0f},
        {"offlineStart",
         [](TestEffect& fx) {
             return intptr_t{fx.offlineStart(static_cast<VstAudioFile*>(kRecord), -6, 3)};
         },
         audioMasterOfflineStart, 3, -6, kRecord, 0.0f},
        {"offlineRead",
         [](TestEffect& fx) {
             return intptr_t{fx.offlineRead(static_cast<VstOfflineTask*>(kRecord), -4, true)};
         },
         audioMasterOfflineRead, 1, -4, kRecord, 0.0f},
        {"offlineRead without source",
         [](TestEffect& fx) {
             return intptr_t{fx.offlineRead(static_cast<VstOfflineTask*>(kRecord), 2, false)};
         },
         audioMasterOfflineRead, 0, 2, kRecord, 0.0f},
        {"offlineWrite",
         [](TestEffect& fx) {
             return intptr_t{fx.offlineWrite(static_cast<VstOfflineTask*>(kRecord), -1)};
         },
         audioMasterOfflineWrite, 0, -1, kRecord, 0.0f},
        {"setOutputSamplerate",
         [](TestEffect& fx) {
             fx.setOutputSamplerate(96000.0f);
             return intptr_t{0};
         },
         audioMasterSetOutputSampleRate, 0, 0, nullptr, 96000.0f},
        {"getHostVendorString",
         [](TestEffect& fx) {
             return intptr_t{fx.getHostVendorString(static_cast<char*>(kRecord))};
         },
         audioMasterGetVendorString, 0, 0, kRecord, 0.0f},
        {"getHostProductString",
         [](TestEffect& fx) {
             return intptr_t{fx.getHostProductString(static_cast<char*>(kRecord))};
         },
         audioMasterGetProductString, 0, 0, kRecord, 0.0f},
        {"hostVendorSpecific",
         [](TestEffect& fx) { return fx.hostVendorSpecific(-5, intptr_t{1} << 35, kRecord, 0.5f); },
         audioMasterVendorSpecific, -5, intptr_t{1} << 35, kRecord, 0.5f},
        {"openWindow",
         [](TestEffect& fx) {
             return reinterpret_cast<intptr_t>(fx.openWindow(static_cast<VstWindow*>(kRecord)));
         },
         audioMasterOpenWindow, 0, 0, kRecord, 0.0f},
        {"closeWindow",
         [](TestEffect& fx) { return intptr_t{fx.closeWindow(static_cast<VstWindow*>(kRecord))}; },
         audioMasterCloseWindow, 0, 0, kRecord, 0.0f},
        {"beginEdit", [](TestEffect& fx) { return intptr_t{fx.beginEdit(5)}; },
         audioMasterBeginEdit, 5, 0, nullptr, 0.0f},
        {"endEdit", [](TestEffect& fx) { return intptr_t{fx.endEdit(-1)}; }, audioMasterEndEdit, -1,
         0, nullptr, 0.0f},
        {"masterIdle",
         [](TestEffect& fx) {
             fx.masterIdle();
             return intptr_t{0};
         },
         audioMasterIdle, 0, 0, nullptr, 0.0f},
    };
    for (const Placement& row : placements) {
        recordingHost().reset();
        row.call(effect);
        ASSERT_EQ(recordingHost().requests.size(), 1u) << row.name;
        const HostRequest& request = recordingHost().requests[0];
        EXPECT_EQ(request.effect, &effect.record()) << row.name;
        EXPECT_EQ(request.opcode, row.opcode) << row.name;
        EXPECT_EQ(request.index, row.index) << row.name;
        EXPECT_EQ(request.value, row.value) << row.name;
        EXPECT_EQ(request.ptr, row.ptr) << row.name;
        EXPECT_EQ(request.opt, row.opt) << row.name;
    }
}

// Requests without arguments: the conversion of a wide answer and of 0.
struct Conversion {
    std::string name;
    std::function<intptr_t(TestEffect&)> call;
    int32_t opcode;
    intptr_t wideAnswer; // what the host answers
    intptr_t converted;  // what the operation makes of it
};

constexpr intptr_t kWide = (intptr_t{1} << 32) | 0x80000001; // low 32 bits negative

TEST_F(RequestTest, AnswersAreConvertedAsTheirTypeSays) {
    const int32_t low = static_cast<int32_t>(kWide);
    const Conversion conversions[] = {
        {"getCurrentUniqueId", [](TestEffect& fx) { return intptr_t{fx.getCurrentUniqueId()}; },
         audioMasterCurrentId, kWide, low},
        {"getNumAutomatableParameters",
         [](TestEffect& fx) { return intptr_t{fx.getNumAutomatableParameters()}; },
         audioMasterGetNumAutomatableParameters, kWide, low},
        {"getParameterQuantization",
         [](TestEffect& fx) { return intptr_t{fx.getParameterQuantization()}; },
         audioMasterGetParameterQuantization, kWide, low},
        {"getInputLatency", [](TestEffect& fx) { return intptr_t{fx.getInputLatency()}; },
         audioMasterGetInputLatency, kWide, low},
        {"getOutputLatency", [](TestEffect& fx) { return intptr_t{fx.getOutputLatency()}; },
         audioMasterGetOutputLatency, kWide, low},
        {"willProcessReplacing", [](TestEffect& fx) { return intptr_t{fx.willProcessReplacing()}; },
         audioMasterWillReplaceOrAccumulate, kWide, low},
        {"getCurrentProcessLevel",
         [](TestEffect& fx) { return intptr_t{fx.getCurrentProcessLevel()}; },
         audioMasterGetCurrentProcessLevel, kWide, low},
        {"getAutomationState", [](TestEffect& fx) { return intptr_t{fx.getAutomationState()}; },
         audioMasterGetAutomationState, kWide, low},
        {"getHostVendorVersion", [](TestEffect& fx) { return intptr_t{fx.getHostVendorVersion()}; },
         audioMasterGetVendorVersion, kWide, low},
        {"getHostLanguage", [](TestEffect& fx) { return intptr_t{fx.getHostLanguage()}; },
         audioMasterGetLanguage, kWide, low},
        {"tempoAt", [](TestEffect& fx) { return intptr_t{fx.tempoAt(0)}; }, audioMasterTempoAt,
         kWide, low},
        {"getDirectory",
         [](TestEffect& fx) { return reinterpret_cast<intptr_t>(fx.getDirectory()); },
         audioMasterGetDirectory, kWide, kWide},
        {"getInputSpeakerArrangement",
         [](TestEffect& fx) { return reinterpret_cast<intptr_t>(fx.getInputSpeakerArrangement()); },
         audioMasterGetInputSpeakerArrangement, kWide, kWide},
        {"getOutputSpeakerArrangement",
         [](TestEffect& fx) {
             return reinterpret_cast<intptr_t>(fx.getOutputSpeakerArrangement());
         },
         audioMasterGetOutputSpeakerArrangement, kWide, kWide},
        {"getTimeInfo",
         [](TestEffect& fx) { return reinterpret_cast<intptr_t>(fx.getTimeInfo(0)); },
         audioMasterGetTime, kWide, kWide},
        {"hostVendorSpecific",
         [](TestEffect& fx) { return fx.hostVendorSpecific(0, 0, nullptr, 0.0f); },
         audioMasterVendorSpecific, kWide, kWide},
        // Booleans: true for any non-zero whole answer, even one with 32 zero low bits.
        {"ioChanged", [](TestEffect& fx) { return intptr_t{fx.ioChanged()}; }, audioMasterIOChanged,
         intptr_t{1} << 32, 1},
        {"needIdle", [](TestEffect& fx) { return intptr_t{fx.needIdle()}; }, audioMasterNeedIdle,
         intptr_t{1} << 32, 1},
        {"updateDisplay", [](TestEffect& fx) { return intptr_t{fx.updateDisplay()}; },
         audioMasterUpdateDisplay, -1, 1},
        {"sizeWindow", [](TestEffect& fx) { return intptr_t{fx.sizeWindow(1, 1)}; },
         audioMasterSizeWindow, intptr_t{1} << 32, 1},
        {"beginEdit", [](TestEffect& fx) { return intptr_t{fx.beginEdit(0)}; },
         audioMasterBeginEdit, -1, 1},
        {"endEdit", [](TestEffect& fx) { return intptr_t{fx.endEdit(0)}; }, audioMasterEndEdit, 2,
         1},
        {"offlineGetCurrentPass",
         [](TestEffect& fx) { return intptr_t{fx.offlineGetCurrentPass()}; },
         audioMasterOfflineGetCurrentPass, kWide, 1},
        {"offlineGetCurrentMetaPass",
         [](TestEffect& fx) { return intptr_t{fx.offlineGetCurrentMetaPass()}; },
         audioMasterOfflineGetCurrentMetaPass, -7, 1},
        {"getHostVendorString",
         [](TestEffect& fx) { return intptr_t{fx.getHostVendorString(nullptr)}; },
         audioMasterGetVendorString, intptr_t{1} << 32, 1},
        {"closeWindow", [](TestEffect& fx) { return intptr_t{fx.closeWindow(nullptr)}; },
         audioMasterCloseWindow, 3, 1},
    };
    for (const Conversion& row : conversions) {
        recordingHost().reset();
        recordingHost().answers[row.opcode] = row.wideAnswer;
        EXPECT_EQ(row.call(effect), row.converted) << row.name;
        recordingHost().answers[row.opcode] = 0;
        EXPECT_EQ(row.call(effect), 0) << row.name << " with a zero answer";
        ASSERT_EQ(recordingHost().requests.size(), 2u) << row.name;
        EXPECT_EQ(recordingHost().requests[0].opcode, row.opcode) << row.name;
    }
}

TEST(RequestsWithoutCallback, EveryOperationGivesItsFallback) {
    TestEffect effect(nullptr);
    int record = 0;
    EXPECT_EQ(effect.getMasterVersion(), 1);
    EXPECT_EQ(effect.getCurrentUniqueId(), 0);
    EXPECT_TRUE(effect.isInputConnected(0));
    EXPECT_TRUE(effect.isOutputConnected(1));
    EXPECT_EQ(effect.updateSampleRate(), 44100.0);
    EXPECT_EQ(effect.updateBlockSize(), 1024);
    EXPECT_EQ(effect.canHostDo("sendVstEvents"), 0);
    EXPECT_EQ(effect.getTimeInfo(0), nullptr);
    EXPECT_EQ(effect.getDirectory(), nullptr);
    EXPECT_EQ(effect.getPreviousPlug(0), nullptr);
    EXPECT_EQ(effect.getInputSpeakerArrangement(), nullptr);
    EXPECT_EQ(effect.openWindow(nullptr), nullptr);
    EXPECT_FALSE(effect.ioChanged());
    EXPECT_FALSE(effect.sizeWindow(640, 360));
    EXPECT_FALSE(effect.beginEdit(0));
    EXPECT_FALSE(effect.openFileSelector(reinterpret_cast<VstFileSelect*>(&record)));
    EXPECT_FALSE(effect.getChunkFile(&record));
    EXPECT_EQ(effect.hostVendorSpecific(1, 2, &record, 3.0f), 0);
    EXPECT_EQ(effect.offlineGetCurrentPass(), 0);
    EXPECT_EQ(effect.getHostLanguage(), 0);
    // Sending nothing must still reach the effect's own parameter handling and the
    // switch-on path must not crash.
    effect.setParameterAutomated(0, 0.5f);
    effect.masterIdle();
    effect.wantEvents(1);
    effect.canDoAnswer = 1;
    EXPECT_EQ(effect.dispatch(effMainsChanged, 0, 1), 0);
}

} // namespace
