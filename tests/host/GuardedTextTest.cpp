#include <gtest/gtest.h>

#include <cstring>

#include "host/GuardedText.h"

namespace kelvatone::host {
namespace {

TEST(GuardedText, EightCharactersAndTheirZeroAreWithinTheLimit) {
    GuardedText text;
    std::strcpy(text.data(), "Threshol");
    EXPECT_EQ(text.text(), "Threshol");
    EXPECT_EQ(text.bytesWritten(), 9u);
    EXPECT_FALSE(text.overran());
}

TEST(GuardedText, TwelveCharactersAreAnOverrun) {
    GuardedText text;
    std::strcpy(text.data(), "TwelveChars!");
    EXPECT_EQ(text.text(), "TwelveChars!");
    EXPECT_TRUE(text.overran());
    EXPECT_EQ(text.overrunWarning("parameter 0 name"),
              "parameter 0 name: the module wrote 13 bytes, more than 8 characters and a "
              "terminating zero");
}

TEST(GuardedText, PaddingWithZerosPastTheLimitCountsAsWriting) {
    GuardedText text;
    std::memset(text.data(), 0, 24);
    std::strcpy(text.data(), "0.5");
    EXPECT_EQ(text.text(), "0.5");
    EXPECT_EQ(text.bytesWritten(), 24u);
    EXPECT_TRUE(text.overran());
}

TEST(GuardedText, UntouchedAndUnterminatedBuffers) {
    GuardedText untouched;
    EXPECT_EQ(untouched.bytesWritten(), 0u);
    EXPECT_FALSE(untouched.terminated());
    EXPECT_TRUE(untouched.overran());

    GuardedText full;
    std::memset(full.data(), 'x', GuardedText::kCapacity);
    EXPECT_EQ(full.text().size(), GuardedText::kCapacity);
    EXPECT_NE(full.overrunWarning("label").find("no terminating zero"), std::string::npos);
}

} // namespace
} // namespace kelvatone::host
