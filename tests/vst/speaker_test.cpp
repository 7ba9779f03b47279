// The speaker-arrangement tools: allocation, release, copying a speaker and
// matching a whole arrangement.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace kelvatone::vst;

namespace {

class SpeakerTest : public ::testing::Test {
protected:
    void TearDown() override {
        effect.deallocateArrangement(&first);
        effect.deallocateArrangement(&second);
    }
    TestEffect effect{nullptr};
    VstSpeakerArrangement* first = nullptr;
    VstSpeakerArrangement* second = nullptr;
};

bool allZero(const void* data, size_t bytes) {
    const auto* byte = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i) {
        if (byte[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST_F(SpeakerTest, AllocateGivesAZeroedBlockAndReplacesAnOldOne) {
    ASSERT_TRUE(effect.allocateArrangement(&first, 12));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->numChannels, 12);
    EXPECT_EQ(first->type, 0);
    EXPECT_TRUE(allZero(first->speakers, 12 * sizeof(VstSpeakerProperties)));
    // Writing every byte of all twelve records must stay inside the block (ASan).
    std::memset(first->speakers, 0x5A, 12 * sizeof(VstSpeakerProperties));

    ASSERT_TRUE(effect.allocateArrangement(&first, 0));
    EXPECT_EQ(first->numChannels, 0);
}

TEST_F(SpeakerTest, AllocateRefusesWhatItCannotHold) {
    EXPECT_FALSE(effect.allocateArrangement(nullptr, 2));
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    VstSpeakerArrangement* const before = first;
    EXPECT_FALSE(effect.allocateArrangement(&first, -1));
    EXPECT_EQ(first, before) << "a refused count leaves the arrangement alone";
    EXPECT_EQ(first->numChannels, 2);
}

TEST_F(SpeakerTest, DeallocateClearsThePointer) {
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    EXPECT_TRUE(effect.deallocateArrangement(&first));
    EXPECT_EQ(first, nullptr);
    EXPECT_TRUE(effect.deallocateArrangement(&first));
    EXPECT_FALSE(effect.deallocateArrangement(nullptr));
}

VstSpeakerProperties namedSpeaker(const char* name, int32_t type) {
    VstSpeakerProperties speaker{};
    speaker.azimuth = 0.5f;
    speaker.elevation = -0.25f;
    speaker.radius = 2.0f;
    speaker.reserved = 3.0f;
    std::strncpy(speaker.name, name, sizeof(speaker.name) - 1);
    speaker.type = type;
    for (size_t i = 0; i < sizeof(speaker.future); ++i) {
        speaker.future[i] = static_cast<char>(i + 1);
    }
    return speaker;
}

TEST_F(SpeakerTest, CopySpeakerCopiesEveryFieldAndCutsTheName) {
    const VstSpeakerProperties from = namedSpeaker("Left", 1);
    VstSpeakerProperties to{};
    std::memset(&to, 0x7F, sizeof(to));
    ASSERT_TRUE(effect.copySpeaker(&to, &from));
    EXPECT_EQ(std::memcmp(&to, &from, sizeof(to)), 0);

    VstSpeakerProperties longName = namedSpeaker("", 2);
    std::memset(longName.name, 'n', sizeof(longName.name)); // no terminator at all
    ASSERT_TRUE(effect.copySpeaker(&to, &longName));
    EXPECT_EQ(std::strlen(to.name), 63u);
    EXPECT_EQ(to.name[63], 0);
    EXPECT_EQ(to.type, 2);

    EXPECT_FALSE(effect.copySpeaker(nullptr, &from));
    EXPECT_FALSE(effect.copySpeaker(&to, nullptr));
}

TEST_F(SpeakerTest, MatchArrangementCopiesTypeCountAndSpeakers) {
    ASSERT_TRUE(effect.allocateArrangement(&first, 10));
    first->type = 7;
    for (int32_t channel = 0; channel < 10; ++channel) {
        VstSpeakerProperties* speakers = first->speakers;
        speakers[channel] = namedSpeaker("Speaker", channel);
    }
    ASSERT_TRUE(effect.allocateArrangement(&second, 1));
    ASSERT_TRUE(effect.matchArrangement(&second, first));
    ASSERT_NE(second, first);
    EXPECT_EQ(second->type, 7);
    ASSERT_EQ(second->numChannels, 10);
    const VstSpeakerProperties* copied = second->speakers;
    const VstSpeakerProperties* original = first->speakers;
    for (int32_t channel = 0; channel < 10; ++channel) {
        EXPECT_EQ(std::memcmp(&copied[channel], &original[channel], sizeof(*copied)), 0)
            << "speaker " << channel;
    }
}

TEST_F(SpeakerTest, MatchArrangementEdgeCases) {
    EXPECT_FALSE(effect.matchArrangement(&second, nullptr));
    ASSERT_TRUE(effect.allocateArrangement(&first, 2));
    EXPECT_FALSE(effect.matchArrangement(nullptr, first));
    // Matching an arrangement to itself keeps it (and must not free the source).
    second = first;
    EXPECT_TRUE(effect.matchArrangement(&second, first));
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->numChannels, 2);
    second = nullptr;
}

} // namespace
