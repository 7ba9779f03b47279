#include <gtest/gtest.h>

#include "host/CommandLine.h"
#include "host/validate/ValidateCommandLine.h"

namespace kelvatone::host {
namespace {

bool parse(std::vector<std::string> arguments, CommandLine& command, std::string& error) {
    return parseCommandLine(arguments, command, error);
}

TEST(CommandLine, RunTakesEveryOptionAndRepeatsTheRepeatableOnes) {
    CommandLine command;
    std::string error;
    ASSERT_TRUE(parse(
        {"run",      "m.so",    "--input",    "in.wav",  "--midi",        "n.mid",
         "--output", "o.wav",   "--block",    "64",      "--param",       "0=0.5",
         "--param",  "3=1",     "--snapshot", "end.png", "--snapshot-at", "1.5:C:\\pics\\a.png",
         "--click",  "2:600,10"},
        command, error))
        << error;
    EXPECT_EQ(command.action, CommandLine::Action::Run);
    EXPECT_EQ(command.module, "m.so");
    EXPECT_EQ(command.input, "in.wav");
    EXPECT_EQ(command.midi, "n.mid");
    EXPECT_TRUE(command.settings.keepOutput);
    EXPECT_EQ(command.settings.blockSize, 64);
    ASSERT_EQ(command.settings.parameters.size(), 2u);
    EXPECT_EQ(command.settings.parameters[1].first, 3);
    EXPECT_EQ(command.settings.parameters[1].second, 1.0f);
    ASSERT_EQ(command.checkpoints.size(), 3u);
    EXPECT_LT(command.checkpoints[0].seconds, 0.0); // --snapshot: after the input
    EXPECT_EQ(command.checkpoints[1].seconds, 1.5);
    EXPECT_EQ(command.checkpoints[1].path, "C:\\pics\\a.png"); // colons after the time stay
    EXPECT_EQ(command.checkpoints[2].kind, Checkpoint::Kind::Click);
    EXPECT_EQ(command.checkpoints[2].x, 600);
    EXPECT_EQ(command.checkpoints[2].y, 10);
}

TEST(CommandLine, RejectsMalformedValuesWithTheirOption) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"play", "m.so"}, "unknown command"},
        {{"info"}, "needs a MODULE"},
        {{"info", "m.so", "extra"}, "only a MODULE"},
        {{"run", "m.so"}, "needs --input"},
        {{"run", "m.so", "--input"}, "needs a value"},
        {{"run", "m.so", "--input", "a", "--block", "0"}, "--block"},
        {{"run", "m.so", "--input", "a", "--block", "12x"}, "--block"},
        {{"run", "m.so", "--input", "a", "--param", "1"}, "--param"},
        {{"run", "m.so", "--input", "a", "--param", "1=-0.1"}, "--param"},
        {{"run", "m.so", "--input", "a", "--param", "-1=0.5"}, "--param"},
        {{"run", "m.so", "--input", "a", "--param", "1=nan"}, "--param"},
        {{"run", "m.so", "--input", "a", "--snapshot-at", "x.png"}, "--snapshot-at"},
        {{"run", "m.so", "--input", "a", "--snapshot-at", "-1:x.png"}, "--snapshot-at"},
        {{"run", "m.so", "--input", "a", "--click", "1:5"}, "--click"},
        {{"run", "m.so", "--input", "a", "--click", "1:5,-2"}, "--click"},
        {{"run", "m.so", "--input", "a", "--loud", "yes"}, "unknown option --loud"},
    };
    for (const auto& [arguments, expected] : cases) {
        CommandLine command;
        std::string error;
        EXPECT_FALSE(parse(arguments, command, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(CommandLine, HelpNeedsNothingElse) {
    CommandLine command;
    std::string error;
    ASSERT_TRUE(parse({"--help"}, command, error));
    EXPECT_EQ(command.action, CommandLine::Action::Help);
    EXPECT_NE(usageText().find("--snapshot-at SECONDS:FILE.png"), std::string::npos);
}

TEST(CommandLine, ValidateHandsItsOptionsToTheValidatorWhichReadsThem) {
    CommandLine command;
    std::string error;
    ASSERT_TRUE(parse({"validate", "m.so", "--strictness", "10", "--seed", "18446744073709551615",
                       "--pass-through", "--test", "midi.", "--test", "audio.block"},
                      command, error))
        << error;
    EXPECT_EQ(command.action, CommandLine::Action::Validate);
    validate::ValidateOptions options;
    ASSERT_TRUE(
        validate::parseValidateOptions(command.module, command.validateArguments, options, error))
        << error;
    EXPECT_EQ(options.module, "m.so");
    EXPECT_EQ(options.strictness, 10);
    EXPECT_TRUE(options.seedGiven);
    EXPECT_EQ(options.seed, 18446744073709551615u);
    EXPECT_TRUE(options.passThrough);
    EXPECT_EQ(options.testPrefixes, (std::vector<std::string>{"midi.", "audio.block"}));

    ASSERT_TRUE(validate::parseValidateOptions("m.so", {}, options, error));
    EXPECT_EQ(options.strictness, validate::kDefaultStrictness);
    EXPECT_FALSE(options.seedGiven);
    EXPECT_FALSE(options.passThrough);
    EXPECT_TRUE(options.testPrefixes.empty());
}

TEST(CommandLine, ValidateRejectsMalformedOptionsWithTheirOption) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--strictness", "0"}, "--strictness wants a whole number in 1..10, not \"0\""},
        {{"--strictness", "11"}, "--strictness wants a whole number in 1..10, not \"11\""},
        {{"--strictness", "5x"}, "--strictness wants"},
        {{"--seed", "-3"}, "--seed wants a whole number of 0 or more, not \"-3\""},
        {{"--seed", ""}, "--seed wants"},
        {{"--seed", "18446744073709551616"}, "--seed wants"},
        {{"--test", ""}, "--test wants the start of a test name"},
        {{"--seed"}, "--seed needs a value (see --help)"},
        {{"--fast"}, "unknown option --fast (see --help)"},
    };
    for (const auto& [arguments, expected] : cases) {
        validate::ValidateOptions options;
        std::string error;
        EXPECT_FALSE(validate::parseValidateOptions("m.so", arguments, options, error)) << expected;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
}

} // namespace
} // namespace kelvatone::host
