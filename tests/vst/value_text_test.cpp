// The value texts of the base effect: the exact texts, the maxLen cut, the ranges
// that give "Huge!", NaN, and the virtual hooks a derived effect may override.
#include "TestEffect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr int32_t kTextLength = 8;
constexpr char kGuard = '#';

class ValueTextTest : public ::testing::Test {
protected:
    // Formats into a guarded buffer and checks that nothing past byte maxLen changed.
    template <typename Format> std::string text(Format format, int32_t maxLen = kTextLength) {
        char buffer[32];
        std::memset(buffer, kGuard, sizeof(buffer));
        format(buffer, maxLen);
        for (size_t at = static_cast<size_t>(maxLen) + 1; at < sizeof(buffer); ++at) {
            EXPECT_EQ(buffer[at], kGuard) << "byte " << at << " written, maxLen " << maxLen;
        }
        const void* terminator = std::memchr(buffer, 0, static_cast<size_t>(maxLen) + 1);
        EXPECT_NE(terminator, nullptr) << "no terminator at maxLen or before";
        return terminator != nullptr ? std::string(buffer) : std::string();
    }
    std::string floatText(float value, int32_t maxLen = kTextLength) {
        return text([&](char* b, int32_t n) { effect.float2string(value, b, n); }, maxLen);
    }
    std::string intText(int32_t value, int32_t maxLen = kTextLength) {
        return text([&](char* b, int32_t n) { effect.int2string(value, b, n); }, maxLen);
    }
    std::string dBText(float value) {
        return text([&](char* b, int32_t n) { effect.dB2string(value, b, n); });
    }
    std::string hzText(float value) {
        return text([&](char* b, int32_t n) { effect.Hz2string(value, b, n); });
    }
    std::string msText(float value) {
        return text([&](char* b, int32_t n) { effect.ms2string(value, b, n); });
    }
    TestEffect effect{nullptr};
};

TEST_F(ValueTextTest, FloatTextsTruncateToEightCharacters) {
    EXPECT_EQ(floatText(0.0f), "0.000000");
    EXPECT_EQ(floatText(1.5f), "1.500000");
    EXPECT_EQ(floatText(-1.5f), "-1.50000");
    EXPECT_EQ(floatText(123.25f), "123.2500");
    EXPECT_EQ(floatText(1234567.0f), "1234567.");
    EXPECT_EQ(floatText(-123456.0f), "-123456.");
    EXPECT_EQ(floatText(0.1f), "0.100000");
    EXPECT_EQ(floatText(2.675f), "2.674999");
    EXPECT_EQ(floatText(9999999.0f), "9999999.");
    EXPECT_EQ(floatText(-999999.0f), "-999999.");
    EXPECT_EQ(floatText(-0.5f), "-0.50000");
}

TEST_F(ValueTextTest, FloatTextsBeyondTheBudgetAreHuge) {
    EXPECT_EQ(floatText(100000000.0f), "Huge!");
    EXPECT_EQ(floatText(99999999.0f), "Huge!");
    EXPECT_EQ(floatText(-10000000.0f), "Huge!");
    EXPECT_EQ(floatText(std::numeric_limits<float>::infinity()), "Huge!");
    EXPECT_EQ(floatText(-std::numeric_limits<float>::infinity()), "Huge!");
    // Eight integer digits (positive) or seven (negative) do not fit beside the
    // point: rather "Huge!" than a text that has lost its leading digits.
    for (float value :
         {10000000.0f, 12345678.0f, 98765432.0f, -1000000.0f, -1234567.0f, -9999999.0f}) {
        EXPECT_EQ(floatText(value), "Huge!") << value;
    }
}

TEST_F(ValueTextTest, NotANumberHasItsOwnText) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(floatText(nan), "NaN");
    EXPECT_EQ(floatText(-nan), "NaN");
    EXPECT_EQ(dBText(nan), "NaN");
    EXPECT_EQ(hzText(nan), "NaN");
    EXPECT_EQ(msText(nan), "NaN");
}

TEST_F(ValueTextTest, DecibelTexts) {
    EXPECT_EQ(dBText(0.5f), "-6.02059");
    EXPECT_EQ(dBText(2.0f), "6.020599");
    EXPECT_EQ(dBText(1.0f), "0.000000");
    EXPECT_EQ(dBText(0.0f), "-oo");
    EXPECT_EQ(dBText(-1.0f), "-oo");
}

TEST_F(ValueTextTest, FrequencyAndDurationTextsUseTheSampleRate) {
    EXPECT_EQ(hzText(0.0f), "0.000000");
    EXPECT_EQ(hzText(100.0f), "441.0000");
    EXPECT_EQ(msText(441.0f), "10.00000");
    effect.setSampleRate(48000.0f);
    EXPECT_EQ(hzText(100.0f), "480.0000");
    EXPECT_EQ(msText(48.0f), "1.000000");
    effect.setSampleRate(0.0f);
    EXPECT_EQ(msText(1.0f), "Huge!");
}

// Overrides of getSampleRate and float2string take part in the derived texts.
class DecoratedEffect : public TestEffect {
public:
    DecoratedEffect() : TestEffect(nullptr) {}
    float getSampleRate() override { return 1000.0f; }
    void float2string(float value, char* text, int32_t maxLen) override {
        lastValue = value;
        std::strncpy(text, "custom", static_cast<size_t>(maxLen));
        text[maxLen] = 0;
    }
    float lastValue = -1.0f;
};

TEST(ValueTextHooks, DerivedTextsGoThroughTheVirtualOperations) {
    DecoratedEffect effect;
    char buffer[16];
    effect.Hz2string(4.0f, buffer, 8);
    EXPECT_STREQ(buffer, "custom");
    EXPECT_EQ(effect.lastValue, 250.0f);
    effect.ms2string(500.0f, buffer, 8);
    EXPECT_EQ(effect.lastValue, 500.0f);
    effect.dB2string(10.0f, buffer, 8);
    EXPECT_EQ(effect.lastValue, 20.0f);
}

TEST_F(ValueTextTest, IntegerTexts) {
    EXPECT_EQ(intText(0), "0");
    EXPECT_EQ(intText(7), "7");
    EXPECT_EQ(intText(-1), "-1");
    EXPECT_EQ(intText(-42), "-42");
    EXPECT_EQ(intText(1000), "1000");
    EXPECT_EQ(intText(99999999, 16), "99999999");
    EXPECT_EQ(intText(100000000), "Huge!");
    EXPECT_EQ(intText(std::numeric_limits<int32_t>::max()), "Huge!");
    EXPECT_EQ(intText(-123456789, 16), "-123456789");
    EXPECT_EQ(intText(-999999999, 16), "-999999999");
    // Ten digits would need a digit position the text does not have.
    EXPECT_EQ(intText(-1000000000), "Huge!");
    EXPECT_EQ(intText(std::numeric_limits<int32_t>::min()), "Huge!");
}

TEST_F(ValueTextTest, MaxLenCutsTheText) {
    EXPECT_EQ(floatText(1.5f, 4), "1.50");
    EXPECT_EQ(floatText(1.5f, 0), "");
    EXPECT_EQ(floatText(100000000.0f, 3), "Hug");
    EXPECT_EQ(intText(-123456789, 8), "-1234567");
    EXPECT_EQ(intText(42, 1), "4");
    EXPECT_EQ(text([&](char* b, int32_t n) { effect.dB2string(0.0f, b, n); }, 2), "-o");
    EXPECT_EQ(text([&](char* b, int32_t n) { effect.Hz2string(100.0f, b, n); }, 3), "441");

    char untouched[4] = {kGuard, kGuard, kGuard, kGuard};
    effect.float2string(1.5f, untouched, -1);
    effect.int2string(5, untouched, -1);
    EXPECT_EQ(untouched[0], kGuard) << "a negative maxLen leaves no room even for the zero";
}

} // namespace
