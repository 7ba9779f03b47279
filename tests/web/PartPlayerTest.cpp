#include "web/PartPlayer.h"

#include "tests/support/FakeHost.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kelvatone::testsupport;
using namespace kelvatone::web;

namespace {

constexpr float kRate = 48000.0f;
constexpr int kBlock = 128;

PartEvent event(double seconds, uint8_t status, uint8_t note, uint8_t velocity) {
    return PartEvent{seconds, status, note, velocity, {}};
}

// A player (large: on the heap, as the page's is) holding `part`.
std::unique_ptr<PartPlayer> playerOf(const Instance& instance, const std::vector<PartEvent>& part) {
    auto player = std::make_unique<PartPlayer>(kRate);
    std::copy(part.begin(), part.end(), player->events());
    player->load(instance.kelvatone(), static_cast<int>(part.size()));
    return player;
}

bool held(const Instance& instance, int note) {
    return instance.kelvatone().heldNotes.contains(note);
}

// A4 from 10 ms (frame 480, block 3) to 20 ms (frame 960, block 7), where C5 takes over
// until 30 ms (frame 1440, block 11).
const std::vector<PartEvent> kTwoNotes = {event(0.010, 0x90, 69, 100), event(0.020, 0x80, 69, 0),
                                          event(0.020, 0x90, 72, 100), event(0.030, 0x90, 72, 0)};

} // namespace

TEST(PartPlayer, NotesReachTheHeldSetInTheBlockTheirTimeFallsIn) {
    Instance instance;
    auto player = playerOf(instance, kTwoNotes);
    player->play(instance.kelvatone());
    for (int block = 0; block < 12; ++block) {
        ASSERT_TRUE(player->playing()) << "block " << block;
        player->advance(instance.kelvatone(), kBlock);
        EXPECT_EQ(held(instance, 69), block >= 3 && block < 7) << "block " << block;
        EXPECT_EQ(held(instance, 72), block >= 7 && block < 11) << "block " << block;
    }
    // The last note-off was delivered: the part is over and holds nothing.
    EXPECT_FALSE(player->playing());
    EXPECT_FALSE(held(instance, 72));
}

TEST(PartPlayer, ManyEventsInOneBlockAreAllDelivered) {
    Instance instance;
    std::vector<PartEvent> part;
    for (uint8_t note = 0; note < 128; ++note)
        part.push_back(event(0.0, 0x90, note, 64));
    for (uint8_t note = 0; note < 128; ++note)
        part.push_back(event(0.005, 0x80, note, 0));
    auto player = playerOf(instance, part);
    player->play(instance.kelvatone());
    player->advance(instance.kelvatone(), kBlock);
    for (int note = 0; note < 128; ++note)
        EXPECT_TRUE(held(instance, note)) << note;
    player->advance(instance.kelvatone(), 2 * kBlock); // frames 128..383: 240 is in it
    for (int note = 0; note < 128; ++note)
        EXPECT_FALSE(held(instance, note)) << note;
    EXPECT_FALSE(player->playing());
}

TEST(PartPlayer, StopReleasesThePartsNotesAndPlayStartsOver) {
    Instance instance;
    auto player = playerOf(instance, kTwoNotes);
    player->play(instance.kelvatone());
    for (int block = 0; block < 4; ++block)
        player->advance(instance.kelvatone(), kBlock);
    ASSERT_TRUE(held(instance, 69));
    player->stop(instance.kelvatone());
    EXPECT_FALSE(held(instance, 69));
    EXPECT_FALSE(player->playing());
    // Stopped, the part sends nothing more.
    for (int block = 0; block < 8; ++block)
        player->advance(instance.kelvatone(), kBlock);
    EXPECT_FALSE(held(instance, 72));
    // Play again starts from the beginning: A4 is back in block 3.
    player->play(instance.kelvatone());
    for (int block = 0; block < 4; ++block)
        player->advance(instance.kelvatone(), kBlock);
    EXPECT_TRUE(held(instance, 69));
    // Loading another part releases what the playing one held.
    player->load(instance.kelvatone(), 0);
    EXPECT_FALSE(held(instance, 69));
    EXPECT_FALSE(player->playing());
}
