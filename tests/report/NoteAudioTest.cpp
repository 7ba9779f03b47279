// Segmented notes checked against synthetic takes (harmonic tones at 44.1 kHz): onsets
// moved to where a note's pitch rose (past a short piece the track put before it, and past
// where the voices of a note cancel for an instant), notes
// named by the fundamental that sounds, pieces that sound no tone dropped (as is the piece
// the track put before a strike over noise alone), short subharmonics joined to the note
// they lead into, and the unsteady spans of a low voice's
// pitch track measured again on a longer window.
#include "report/NoteAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace kelvatone::report;

namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;
// An onset found on the audio lies this close to where the note began (the bench counts
// 50 ms).
constexpr double kOnsetToleranceSeconds = 0.02;
// A harmonic tone's amplitude by harmonic (1 = fundamental).
using Harmonics = std::vector<double>;
const Harmonics kReed = {1.0, 0.1, 2.7, 0.2, 0.7}; // a clarinet's: the third above the first
const Harmonics kVowel = {0.15, 1.0, 0.5, 0.3};    // a sung vowel's: a weak fundamental
const Harmonics kBass = {1.0, 0.8, 0.6, 0.4, 0.3, 0.2};
// Strong in its sixth harmonic, which the fourth of the note a fifth above lies on.
const Harmonics kBright = {1.0, 0.5, 0.5, 0.5, 0.5, 1.0};

// A low sung vowel's: a weak fundamental under many harmonics.
const Harmonics kLowVowel = {0.3, 1.0, 0.8, 0.6, 0.5, 0.4, 0.3, 0.2};

double hertzOf(int midiNote) {
    return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
}

// Adds a tone from `start` to `end` seconds whose amplitude rises linearly over `attack`
// and falls linearly over `release` after `end`.
void addTone(std::vector<float>& take, double hertz, const Harmonics& harmonics, double start,
             double end, double attack, double release) {
    for (size_t i = 0; i < take.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        if (t < start || t > end + release)
            continue;
        const double envelope =
            std::min({1.0, (t - start) / attack, t <= end ? 1.0 : 1.0 - (t - end) / release});
        double value = 0.0;
        for (size_t h = 0; h < harmonics.size(); ++h)
            value += harmonics[h] * std::sin(2 * kPi * hertz * static_cast<double>(h + 1) * t);
        take[i] += static_cast<float>(0.1 * envelope * value);
    }
}

// A take of white noise, about 20 dB under the tones addTone adds.
std::vector<float> whiteNoise(double seconds, unsigned seed) {
    std::vector<float> take(static_cast<size_t>(seconds * kRate));
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (float& sample : take)
        sample = noise(random);
    return take;
}

SungNote noteAt(int midiNote, double onset, double offset, long firstFrame, long frames) {
    SungNote note;
    note.midiNote = midiNote;
    note.onsetSeconds = onset;
    note.offsetSeconds = offset;
    note.firstFrame = firstFrame;
    note.frames = frames;
    return note;
}

TEST(NoteAudio, OnsetsMoveToWhereTheNotesPitchRose) {
    // A3 until 0.6 s, ringing on for 0.15 s; E4 from 0.6 s with a 60 ms attack. The track
    // places E4 70 ms late. Then F#3 released over 0.5 s while C#4 begins at 1.9 s: C#4's
    // fourth harmonic lies on F#3's sixth, which rings on, and the track places C#4 a
    // quarter of a second late. A note at a pitch that sounds throughout keeps its onset.
    std::vector<float> take(static_cast<size_t>(2.9 * kRate));
    addTone(take, hertzOf(57), kVowel, 0.1, 0.6, 0.01, 0.15);
    addTone(take, hertzOf(64), kVowel, 0.6, 1.2, 0.06, 0.05);
    addTone(take, hertzOf(54), kBright, 1.4, 1.9, 0.01, 0.5);
    addTone(take, hertzOf(61), kVowel, 1.9, 2.8, 0.01, 0.05);
    std::vector<SungNote> notes = {noteAt(57, 0.11, 0.7, 0, 18), noteAt(64, 0.67, 1.2, 18, 16),
                                   noteAt(54, 1.4, 2.15, 42, 23), noteAt(61, 2.15, 2.8, 65, 20)};
    refineOnsets(notes, take, kRate);
    EXPECT_NEAR(notes[0].onsetSeconds, 0.1, 0.015);
    EXPECT_NEAR(notes[1].onsetSeconds, 0.6, 0.015);
    EXPECT_LE(notes[0].offsetSeconds, notes[1].onsetSeconds);
    EXPECT_NEAR(notes[3].onsetSeconds, 1.9, 0.02);

    std::vector<float> held(static_cast<size_t>(1.5 * kRate));
    addTone(held, hertzOf(64), kVowel, 0.0, 1.5, 0.01, 0.01);
    std::vector<SungNote> late = {noteAt(64, 0.67, 1.2, 20, 16)};
    refineOnsets(late, held, kRate);
    EXPECT_DOUBLE_EQ(late[0].onsetSeconds, 0.67);
}

TEST(NoteAudio, AnOnsetUnderTheReleaseOfTheNoteBeforeMovesToWhereItRose) {
    // A3 sung loud from 0.1 s (its fourth harmonic ten times A#3's), released from 1.0 s
    // over a second; A#3 from 1.0 s. A3's harmonics lie on A#3's first three and beside its
    // fourth, so the level of A#3's own harmonic never falls 23 dB under its peak before it
    // begins: it rises from the floor A3 leaves there. The track places A#3 0.2 s late.
    std::vector<float> take(static_cast<size_t>(2.2 * kRate));
    addTone(take, hertzOf(57), {0.45, 3.0, 1.5, 3.0}, 0.1, 1.0, 0.01, 1.0);
    addTone(take, hertzOf(58), kVowel, 1.0, 2.1, 0.01, 0.05);
    std::vector<SungNote> notes = {noteAt(57, 0.1, 1.2, 0, 33), noteAt(58, 1.2, 2.1, 33, 27)};
    refineOnsets(notes, take, kRate);
    EXPECT_NEAR(notes[1].onsetSeconds, 1.0, kOnsetToleranceSeconds);
    EXPECT_DOUBLE_EQ(notes[0].offsetSeconds, notes[1].onsetSeconds);
}

// Adds two voices of one tone from `start` to `end` seconds with a 10 ms attack, sung
// `beatHertz` apart so that they beat: they cancel at `cancelSeconds` and every 1/beatHertz
// seconds from there, where the sum's phase turns over.
void addBeatingTone(std::vector<float>& take, double hertz, const Harmonics& harmonics,
                    double start, double end, double beatHertz, double cancelSeconds) {
    constexpr double kAttackSeconds = 0.01;
    for (size_t i = 0; i < take.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        if (t < start || t > end)
            continue;
        const double envelope = std::min(1.0, (t - start) / kAttackSeconds) *
                                std::sin(kPi * beatHertz * (t - cancelSeconds));
        double value = 0.0;
        for (size_t h = 0; h < harmonics.size(); ++h)
            value += harmonics[h] * std::sin(2 * kPi * hertz * static_cast<double>(h + 1) * t);
        take[i] += static_cast<float>(0.1 * envelope * value);
    }
}

TEST(NoteAudio, AnOnsetSearchPassesWhereTheVoicesOfANoteCancel) {
    // A3 sung by two voices 8 Hz apart from 0.5 s: they cancel at 0.56 s, where for 14 ms
    // the level of A3 lies more than 15 dB under its peak (74 dB at 0.56 s). The track
    // places A3 at 0.58 s; it began at 0.5 s.
    std::vector<float> take(static_cast<size_t>(1.4 * kRate));
    addBeatingTone(take, hertzOf(57), kVowel, 0.5, 1.3, 8.0, 0.56);
    std::vector<SungNote> notes = {noteAt(57, 0.58, 1.3, 0, 22)};
    refineOnsets(notes, take, kRate);
    EXPECT_NEAR(notes[0].onsetSeconds, 0.5, kOnsetToleranceSeconds);

    // A3 sung from 0.1 s to 0.5 s and again from 0.55 s: a rest of 50 ms is no notch, and
    // the second note begins after it.
    std::vector<float> struck(static_cast<size_t>(1.4 * kRate));
    addTone(struck, hertzOf(57), kVowel, 0.1, 0.5, 0.01, 0.01);
    addTone(struck, hertzOf(57), kVowel, 0.55, 1.3, 0.01, 0.01);
    std::vector<SungNote> again = {noteAt(57, 0.1, 0.6, 0, 15), noteAt(57, 0.6, 1.3, 15, 21)};
    refineOnsets(again, struck, kRate);
    EXPECT_NEAR(again[1].onsetSeconds, 0.55, kOnsetToleranceSeconds);
}

// A tone sung from `start` to `end` seconds.
struct SungTone {
    int midiNote;
    double start;
    double end;
};

// C3 sung from 0.1 s and released at 0.8 s over 0.3 s, then the given tones, in 2 s.
std::vector<float> afterLowC(const std::vector<SungTone>& tones) {
    std::vector<float> take(static_cast<size_t>(2.0 * kRate));
    addTone(take, hertzOf(48), kLowVowel, 0.1, 0.8, 0.01, 0.3);
    for (const SungTone& tone : tones)
        addTone(take, hertzOf(tone.midiNote), kLowVowel, tone.start, tone.end, 0.01, 0.05);
    return take;
}

TEST(NoteAudio, AShortPieceUnderWhoseOnsetTheNextNoteHadRisenIsItsStart) {
    // C3 from 0.1 s, released at 0.8 s over 0.3 s; E3 from 0.8 s. The track lags the step:
    // a piece between the two from 0.95 s (C3's release), then E3 only from 1.1 s. E3's
    // level had risen where the piece began: E3 begins at 0.8 s and the piece goes, its
    // frames E3's.
    const std::vector<float> take = afterLowC({{52, 0.8, 1.9}});
    std::vector<SungNote> notes = {noteAt(48, 0.1, 0.95, 0, 26), noteAt(50, 0.95, 1.1, 26, 4),
                                   noteAt(52, 1.1, 1.9, 30, 24)};
    refineOnsets(notes, take, kRate);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].midiNote, 52);
    EXPECT_NEAR(notes[1].onsetSeconds, 0.8, kOnsetToleranceSeconds);
    EXPECT_EQ(notes[1].firstFrame, 26);
    EXPECT_EQ(notes[1].frames, 28);
    EXPECT_DOUBLE_EQ(notes[0].offsetSeconds, notes[1].onsetSeconds);

    // A short D3 that sounds from 0.95 s, with E3 after it from 1.1 s, stays a note.
    const std::vector<float> passing = afterLowC({{50, 0.95, 1.1}, {52, 1.1, 1.9}});
    std::vector<SungNote> kept = {noteAt(48, 0.1, 0.95, 0, 26), noteAt(50, 0.95, 1.1, 26, 4),
                                  noteAt(52, 1.15, 1.9, 30, 23)};
    refineOnsets(kept, passing, kRate);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_NEAR(kept[1].onsetSeconds, 0.95, kOnsetToleranceSeconds);
    EXPECT_NEAR(kept[2].onsetSeconds, 1.1, kOnsetToleranceSeconds);
}

TEST(NoteAudio, NotesAreNamedByTheFundamentalThatSounds) {
    // B4 on a reed, which the track named at its twelfth (F#6); A3 sung with a weak
    // fundamental, named right; D4 sung, whose first half the track named an octave low;
    // and E1 (41 Hz) on a bass, named right and then at its octave: on the 46 ms level
    // window (two periods) the tone leaks into its half, a longer look tells them apart.
    std::vector<float> take(static_cast<size_t>(5.4 * kRate));
    addTone(take, hertzOf(71), kReed, 0.1, 0.9, 0.01, 0.05);
    addTone(take, hertzOf(57), kVowel, 1.0, 1.9, 0.01, 0.05);
    addTone(take, hertzOf(62), kVowel, 2.0, 2.9, 0.01, 0.05);
    addTone(take, hertzOf(28), kBass, 3.1, 4.1, 0.01, 0.05);
    addTone(take, hertzOf(28), kBass, 4.3, 5.3, 0.01, 0.05);
    std::vector<SungNote> notes = {noteAt(90, 0.1, 0.9, 0, 24),   noteAt(57, 1.0, 1.9, 27, 27),
                                   noteAt(50, 2.0, 2.45, 57, 14), noteAt(62, 2.45, 2.9, 71, 13),
                                   noteAt(28, 3.1, 4.1, 93, 30),  noteAt(40, 4.3, 5.3, 129, 30)};
    notes[0].medianDeviationCents = 2.0;
    nameFundamentals(notes, take, kRate);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[3].midiNote, 28);
    EXPECT_EQ(notes[4].midiNote, 28);
    EXPECT_EQ(notes[0].midiNote, 71);
    EXPECT_NEAR(notes[0].medianDeviationCents, 0.0, 0.5);
    EXPECT_EQ(notes[1].midiNote, 57);
    EXPECT_EQ(notes[2].midiNote, 62);
    EXPECT_DOUBLE_EQ(notes[2].onsetSeconds, 2.0);
    EXPECT_DOUBLE_EQ(notes[2].offsetSeconds, 2.9);
    EXPECT_EQ(notes[2].frames, 27);
}

TEST(NoteAudio, ADecayingInharmonicToneIsNamedByItsFundamental) {
    // A2 struck: 20 partials stretched as a string's (inharmonicity 0.0002), the higher
    // dying faster, a weak fundamental. The track named its tenth partial.
    constexpr double kStretch = 0.0002;
    constexpr double kDecaySeconds = 1.5;
    std::vector<float> take(static_cast<size_t>(1.6 * kRate));
    for (size_t i = static_cast<size_t>(0.1 * kRate); i < take.size(); ++i) {
        const double t = static_cast<double>(i) / kRate - 0.1;
        double value = 0.0;
        for (int h = 1; h <= 20; ++h) {
            const double partial = h * hertzOf(45) * std::sqrt(1.0 + kStretch * h * h);
            const double amplitude = (h == 1 ? 0.3 : 1.0 / h) * std::exp(-t * h / kDecaySeconds);
            value += amplitude * std::sin(2 * kPi * partial * t);
        }
        take[i] = static_cast<float>(0.05 * value);
    }
    const double tenth = 45 + 12 * std::log2(10 * std::sqrt(1.0 + kStretch * 100));
    std::vector<SungNote> notes = {noteAt(0, 0.1, 1.5, 0, 42)};
    namePitch(notes[0], (tenth - 12) * 100.0);
    nameFundamentals(notes, take, kRate);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].midiNote, 45);
}

TEST(NoteAudio, PiecesThatSoundNoToneAreDropped) {
    // White noise from 0 to 2 s, 20 dB under a clarinet's B4 from 1 to 2 s; the track
    // gave a note in the noise alone too.
    std::vector<float> take = whiteNoise(2.0, 7);
    addTone(take, hertzOf(71), kReed, 1.0, 2.0, 0.01, 0.0);
    std::vector<SungNote> notes = {noteAt(66, 0.2, 0.6, 6, 12), noteAt(71, 1.0, 1.9, 30, 27)};
    dropTonelessNotes(notes, take, kRate);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].midiNote, 71);
}

TEST(NoteAudio, ANoteStruckAgainUnderItsReverberationIsTwo) {
    // A3 from 0.1 to 0.8 s, its reverberation 30 dB down to 1.0 s, then A3 again: the
    // track gave one note. A held A3 with vibrato stays one.
    std::vector<float> take(static_cast<size_t>(2.0 * kRate));
    addTone(take, hertzOf(57), kVowel, 0.1, 0.8, 0.01, 0.01);
    addTone(take, hertzOf(57), {0.005, 0.03, 0.015, 0.01}, 0.8, 1.0, 0.01, 0.01);
    addTone(take, hertzOf(57), kVowel, 1.0, 1.8, 0.01, 0.01);
    std::vector<SungNote> notes = {noteAt(57, 0.1, 1.8, 0, 51)};
    splitReattacks(notes, take, kRate);
    ASSERT_EQ(notes.size(), 2u);
    // The level is scanned every 20 ms; refineOnsets places the onset finer.
    EXPECT_NEAR(notes[1].onsetSeconds, 1.01, 0.015);
    EXPECT_EQ(notes[0].frames + notes[1].frames, 51);

    // Vibrato of +-40 cents at 5.5 Hz: a phase swing of (frequency swing / rate) radians.
    constexpr double kVibratoHz = 5.5;
    const double swing = hertzOf(57) * (std::pow(2.0, 40.0 / 1200.0) - 1.0) / kVibratoHz;
    std::vector<float> held(static_cast<size_t>(2.0 * kRate));
    for (size_t i = 0; i < held.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double value = 0.0;
        for (size_t h = 1; h <= kVowel.size(); ++h)
            value +=
                kVowel[h - 1] *
                std::sin(static_cast<double>(h) *
                         (2 * kPi * hertzOf(57) * t + swing * std::sin(2 * kPi * kVibratoHz * t)));
        held[i] = static_cast<float>(0.1 * value);
    }
    std::vector<SungNote> one = {noteAt(57, 0.1, 1.9, 0, 54)};
    splitReattacks(one, held, kRate);
    EXPECT_EQ(one.size(), 1u);
}

TEST(NoteAudio, APieceBeforeAStrikeThatSoundsNoToneIsDropped) {
    // White noise throughout; A3 from 0.1 to 0.8 s, then C4 from 1.1 s: the track named C4
    // from 0.8 s, over the noise alone.
    std::vector<float> take = whiteNoise(2.0, 11);
    addTone(take, hertzOf(57), kVowel, 0.1, 0.8, 0.01, 0.0);
    addTone(take, hertzOf(60), kVowel, 1.1, 1.9, 0.01, 0.0);
    std::vector<SungNote> notes = {noteAt(57, 0.1, 0.8, 0, 21), noteAt(60, 0.8, 1.9, 21, 33)};
    splitReattacks(notes, take, kRate);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].midiNote, 60);
    EXPECT_NEAR(notes[1].onsetSeconds, 1.11, 0.015);
}

TEST(NoteAudio, AShortSubharmonicRunningIntoItsNoteJoinsIt) {
    // C4 at 0.9 s, whose first 0.12 s the track named an octave low (C3) as A3 gave way:
    // one C4 from 0.9 s. A short note a fifth below the next, a short C3 after a rest, and a
    // C3 held 0.3 s before C4 stay notes.
    std::vector<SungNote> notes = {noteAt(57, 0.1, 0.9, 0, 24), noteAt(48, 0.9, 1.02, 24, 4),
                                   noteAt(60, 1.02, 1.8, 28, 23)};
    joinStrayStarts(notes);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].midiNote, 60);
    EXPECT_DOUBLE_EQ(notes[1].onsetSeconds, 0.9);
    EXPECT_EQ(notes[1].firstFrame, 24);
    EXPECT_EQ(notes[1].frames, 27);

    std::vector<SungNote> kept = {noteAt(53, 0.1, 0.22, 0, 4),  noteAt(60, 0.22, 1.0, 4, 23),
                                  noteAt(48, 1.5, 1.62, 42, 4), noteAt(60, 1.62, 2.4, 47, 23),
                                  noteAt(48, 2.5, 2.8, 71, 9),  noteAt(60, 2.8, 3.6, 80, 24)};
    joinStrayStarts(kept);
    EXPECT_EQ(kept.size(), 6u);
}

// The track of the engine at 44.1 kHz: a frame every 1470 samples, each over 4096.
const TrackTiming kTrackTiming = {1469.0 / kRate, 1470.0 / kRate, 4096.0 / kRate};

// The middle of frame k's window, in seconds.
double frameCentre(size_t k) {
    return kTrackTiming.firstFrameSeconds + static_cast<double>(k) * kTrackTiming.frameSeconds -
           0.5 * kTrackTiming.windowSeconds;
}

// A track that names, frame by frame, the note, its octave and a formant far above it.
std::vector<kelvatone::analysis::PitchCents> jumpingTrack(int midiNote, size_t frames) {
    const kelvatone::analysis::PitchCents note = kelvatone::analysis::midiNoteCents(midiNote);
    const kelvatone::analysis::PitchCents named[] = {note, note + 1200, note + 2700};
    std::vector<kelvatone::analysis::PitchCents> track(frames);
    for (size_t k = 0; k < frames; ++k)
        track[k] = named[k % 3];
    return track;
}

TEST(NoteAudio, AnUnsteadyLowTrackIsMeasuredAgainOnALongerWindow) {
    // G2 then C3, 0.8 s each, under a track that jumps between the note, its octave and a
    // formant every frame: away from the change (a long window's half and a frame), the
    // frames name the note sounding. Frames without a pitch keep none.
    std::vector<float> take(static_cast<size_t>(1.8 * kRate));
    addTone(take, hertzOf(43), kLowVowel, 0.1, 0.9, 0.02, 0.02);
    addTone(take, hertzOf(48), kLowVowel, 0.9, 1.7, 0.02, 0.02);
    const size_t frames = 52;
    std::vector<kelvatone::analysis::PitchCents> track = jumpingTrack(43, frames);
    const std::vector<kelvatone::analysis::PitchCents> second = jumpingTrack(48, frames);
    for (size_t k = 0; k < frames; ++k)
        if (frameCentre(k) > 0.9)
            track[k] = second[k];
    track[0] = kelvatone::analysis::kNoPitch;
    const std::vector<kelvatone::analysis::PitchCents> looked =
        lookLonger(track, kTrackTiming, take, kRate);
    ASSERT_EQ(looked.size(), frames);
    EXPECT_EQ(looked[0], kelvatone::analysis::kNoPitch);
    // Half a semitone: the bench's tolerance on a note's pitch.
    constexpr double kPitchToleranceCents = 50.0;
    constexpr double kAwayFromChangeSeconds = 0.12;
    for (size_t k = 1; k < frames; ++k) {
        const double centre = frameCentre(k);
        if (centre < 0.1 + kAwayFromChangeSeconds || centre > 1.7 - kAwayFromChangeSeconds ||
            std::abs(centre - 0.9) < kAwayFromChangeSeconds)
            continue;
        const int sounding = centre < 0.9 ? 43 : 48;
        EXPECT_NEAR(looked[k], kelvatone::analysis::midiNoteCents(sounding), kPitchToleranceCents)
            << "frame " << k;
    }
}

TEST(NoteAudio, SteadyOrHighTracksAreNotMeasuredAgain) {
    // A steady track keeps its pitch even where the audio names another (G2 named an
    // octave high); an unsteady track over A4 keeps its frames, though A3 below it sounds
    // every other harmonic of A4 and lies in the low range.
    std::vector<float> low(static_cast<size_t>(1.0 * kRate));
    addTone(low, hertzOf(43), kLowVowel, 0.0, 1.0, 0.02, 0.02);
    const std::vector<kelvatone::analysis::PitchCents> steady(
        28, kelvatone::analysis::midiNoteCents(55));
    EXPECT_EQ(lookLonger(steady, kTrackTiming, low, kRate), steady);

    std::vector<float> high(static_cast<size_t>(1.0 * kRate));
    addTone(high, hertzOf(69), kLowVowel, 0.0, 1.0, 0.02, 0.02);
    const std::vector<kelvatone::analysis::PitchCents> jumping = jumpingTrack(69, 28);
    EXPECT_EQ(lookLonger(jumping, kTrackTiming, high, kRate), jumping);
}

} // namespace
