#include "report/NoteSegmenter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace kelvatone::analysis;

namespace kelvatone::report {

namespace {

constexpr uint8_t kPartVelocity = 96;

// A rest splits when it lasts at least this long; a shorter gap is a dropout of the
// estimator inside a note.
constexpr double kShortestRestSeconds = 0.06;
// A move away from the note splits when it lasts at least this long; shorter ones are
// vibrato, a scoop or a stray frame.
constexpr double kSplitHoldSeconds = 0.09;
// Shorter segments are the middle of a glide (joined to the note glided into) or, alone
// between rests, noise (dropped).
constexpr double kShortestNoteSeconds = 0.1;
// A piece shorter than this whose pitch lies between its neighbours' is the middle of a glide.
constexpr double kLongestGlidePieceSeconds = 0.15;
// Farther than this from the note's centre is a move away (half a semitone).
constexpr double kSplitCents = 50.0;
// The note's centre is the median of at most this many of its latest frames, so that it
// follows a slow drift but not a vibrato.
constexpr size_t kCentreFrames = 15;
// Each pitch is smoothed by the median of itself and this many voiced neighbours either
// side, which removes single-frame octave errors and keeps the edges of jumps.
constexpr int kSmoothingReach = 1;
// A note is taken to begin this share of the window before its first frame's newest sample:
// the estimator names the new pitch once the note fills most of the window. Chosen from the
// fluidsynth renderings of bench/notes-compare.py (their median onset error) and the demo take.
constexpr double kOnsetWindowShare = 0.75;
// A piece shorter than this that lies at least kStrayCents from the pieces on both sides
// is the estimator's error (an octave or twelfth off, or a subharmonic while one note gives
// way to the next), not a note: it joins the piece after it, and its pitch does not count.
// The estimator's errors at a change of note last up to 8 frames (0.27 s) on the fluidsynth
// renderings of bench/notes-compare.py (seeds 1 to 3); a note held longer than this an
// octave away from both its neighbours stays a note.
constexpr double kLongestStraySeconds = 0.2;
// Just under an octave, so that an octave error a little off the note's centre counts.
constexpr double kStrayCents = 1150.0;
// When at least this share of a note's frames lie an octave below its median, the lower
// octave is the note: inside a held note the estimator slips to the second harmonic when the
// fundamental is weak, so of two octaves a note alternates between, the lower is the note.
// Chosen on seeds 1 to 3 of bench/notes-compare.py.
constexpr double kLowerOctaveShare = 0.25;
constexpr int kHighestMidiNote = 127;

double median(std::vector<double> values) {
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1)
        return upper;
    return (*std::max_element(values.begin(), values.begin() + middle) + upper) / 2.0;
}

long framesIn(double seconds, double frameSeconds) {
    return std::max(1L, static_cast<long>(std::ceil(seconds / frameSeconds - 1e-9)));
}

// A stretch of frames [first, end); the note's pitch is measured from pitchFirst on (the
// frames before it lead into the note: a glide or the estimator's errors at its start).
struct Segment {
    long first = 0;
    long end = 0;
    long pitchFirst = 0;
    long length() const { return end - first; }
};

// The voiced stretches of the track; gaps shorter than a rest are bridged.
std::vector<Segment> voicedRuns(const std::vector<PitchCents>& pitches, long shortestRest) {
    std::vector<Segment> runs;
    const long count = static_cast<long>(pitches.size());
    for (long k = 0; k < count; ++k) {
        if (pitches[k] == kNoPitch)
            continue;
        if (!runs.empty() && k - runs.back().end < shortestRest)
            runs.back().end = k + 1;
        else
            runs.push_back({k, k + 1, k});
    }
    return runs;
}

// The smoothed pitch of every voiced frame of a run (unvoiced frames of a bridged gap take
// the smoothed pitch of the voiced frame before them).
std::vector<double> smoothedPitches(const std::vector<PitchCents>& pitches, Segment run) {
    std::vector<double> voiced;
    std::vector<long> voicedAt;
    for (long k = run.first; k < run.end; ++k) {
        if (pitches[k] != kNoPitch) {
            voiced.push_back(pitches[k]);
            voicedAt.push_back(k);
        }
    }
    std::vector<double> smoothed(static_cast<size_t>(run.length()));
    size_t next = 0;
    double last = voiced.front();
    for (long k = run.first; k < run.end; ++k) {
        if (next < voicedAt.size() && voicedAt[next] == k) {
            const long from = std::max(0L, static_cast<long>(next) - kSmoothingReach);
            const long to = std::min(static_cast<long>(voiced.size()),
                                     static_cast<long>(next) + kSmoothingReach + 1);
            last = median(std::vector<double>(voiced.begin() + from, voiced.begin() + to));
            ++next;
        }
        smoothed[static_cast<size_t>(k - run.first)] = last;
    }
    return smoothed;
}

// Splits one voiced run where the pitch moves more than half a semitone from the current
// note's centre, to the same side, for at least splitHold frames; the new note starts at
// the first frame of the move.
std::vector<Segment> splitAtMoves(const std::vector<double>& smoothed, Segment run,
                                  long splitHold) {
    std::vector<Segment> pieces;
    std::vector<double> recent;
    long noteStart = run.first;
    long moveStart = -1;
    int moveSide = 0;
    for (long k = run.first; k < run.end; ++k) {
        const double pitch = smoothed[static_cast<size_t>(k - run.first)];
        const double away = recent.empty() ? 0.0 : pitch - median(recent);
        const int side = std::abs(away) > kSplitCents ? (away > 0 ? 1 : -1) : 0;
        if (side == 0 || side != moveSide) {
            moveStart = side == 0 ? -1 : k;
            moveSide = side;
        }
        if (moveStart >= 0 && k + 1 - moveStart >= splitHold) {
            pieces.push_back({noteStart, moveStart, noteStart});
            noteStart = moveStart;
            recent.assign(smoothed.begin() + (moveStart - run.first),
                          smoothed.begin() + (k + 1 - run.first));
            moveStart = -1;
            moveSide = 0;
            continue;
        }
        if (moveStart < 0) {
            recent.push_back(pitch);
            if (recent.size() > kCentreFrames)
                recent.erase(recent.begin());
        }
    }
    pieces.push_back({noteStart, run.end, noteStart});
    return pieces;
}

double medianOf(const std::vector<double>& smoothed, Segment run, Segment piece) {
    return median(std::vector<double>(smoothed.begin() + (piece.first - run.first),
                                      smoothed.begin() + (piece.end - run.first)));
}

// Joins the pieces of a run that are no notes of their own to the piece after them (the
// note a glide leads into), or else to the one before: pieces too short to be notes, and
// short pieces whose pitch lies between their neighbours' (the middle of a glide). A run
// that is one short piece is dropped.
std::vector<Segment> joinPassingPieces(std::vector<Segment> pieces,
                                       const std::vector<double>& smoothed, Segment run,
                                       long shortestNote, long longestGlidePiece) {
    std::vector<double> medians;
    for (const Segment piece : pieces)
        medians.push_back(medianOf(smoothed, run, piece));
    std::vector<Segment> joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const bool between = i > 0 && i + 1 < pieces.size() &&
                             (medians[i] - medians[i - 1]) * (medians[i + 1] - medians[i]) > 0;
        const bool passing = between && pieces[i].length() < longestGlidePiece;
        if (pieces[i].length() >= shortestNote && !passing) {
            joined.push_back(pieces[i]);
            continue;
        }
        if (i + 1 < pieces.size())
            pieces[i + 1].first = pieces[i].first;
        else if (!joined.empty())
            joined.back().end = pieces[i].end;
    }
    return joined;
}

// Joins the estimator's stray pieces of a run (see kLongestStraySeconds) to the piece
// after them, or to the one before when they end the run.
std::vector<Segment> joinStrayPieces(std::vector<Segment> pieces,
                                     const std::vector<double>& smoothed, Segment run,
                                     long longestStray) {
    std::vector<double> medians;
    for (const Segment piece : pieces)
        medians.push_back(medianOf(smoothed, run, piece));
    auto farFrom = [&](size_t i, size_t other) {
        return std::abs(medians[i] - medians[other]) >= kStrayCents;
    };
    std::vector<Segment> joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const bool stray = pieces.size() > 1 && pieces[i].length() < longestStray &&
                           (i == 0 || farFrom(i, i - 1)) &&
                           (i + 1 == pieces.size() || farFrom(i, i + 1));
        if (!stray) {
            joined.push_back(pieces[i]);
        } else if (i + 1 < pieces.size()) {
            pieces[i + 1].first = pieces[i].first;
        } else if (!joined.empty()) {
            joined.back().end = pieces[i].end;
        }
    }
    return joined;
}

// The note's centre: the median of its voiced frames from pitchFirst on, or of those an
// octave below it when there are enough of them (see kLowerOctaveShare).
double centreOf(const std::vector<PitchCents>& pitches, Segment segment) {
    std::vector<double> voiced;
    for (long k = segment.pitchFirst; k < segment.end; ++k)
        if (pitches[k] != kNoPitch)
            voiced.push_back(pitches[k]);
    const double centre = median(voiced);
    std::vector<double> below;
    for (const double pitch : voiced)
        if (std::abs(pitch - (centre - kCentsPerOctave)) <= kSplitCents)
            below.push_back(pitch);
    if (static_cast<double>(below.size()) >= kLowerOctaveShare * static_cast<double>(voiced.size()))
        return median(below);
    return centre;
}

SungNote noteOf(const std::vector<PitchCents>& pitches, Segment segment,
                const TrackTiming& timing) {
    SungNote note;
    namePitch(note, centreOf(pitches, segment));
    const double lead = timing.firstFrameSeconds - kOnsetWindowShare * timing.windowSeconds;
    note.onsetSeconds =
        std::max(0.0, lead + static_cast<double>(segment.first) * timing.frameSeconds);
    note.offsetSeconds =
        std::max(note.onsetSeconds, lead + static_cast<double>(segment.end) * timing.frameSeconds);
    note.firstFrame = segment.first;
    note.frames = segment.length();
    return note;
}

} // namespace

double pitchCentsOf(const SungNote& note) {
    return midiNoteCents(note.midiNote) + note.medianDeviationCents;
}

void namePitch(SungNote& note, double centsAboveC0) {
    const long semitones = std::lround(centsAboveC0 / kCentsPerSemitone);
    note.midiNote = static_cast<int>(
        std::clamp(semitones + kMidiNoteOfC0, 0L, static_cast<long>(kHighestMidiNote)));
    note.medianDeviationCents = centsAboveC0 - midiNoteCents(note.midiNote);
}

std::vector<SungNote> segmentNotes(const std::vector<PitchCents>& pitches,
                                   const TrackTiming& timing) {
    const long shortestRest = framesIn(kShortestRestSeconds, timing.frameSeconds);
    const long splitHold = framesIn(kSplitHoldSeconds, timing.frameSeconds);
    const long shortestNote = framesIn(kShortestNoteSeconds, timing.frameSeconds);
    const long longestGlidePiece = framesIn(kLongestGlidePieceSeconds, timing.frameSeconds);
    const long longestStray = framesIn(kLongestStraySeconds, timing.frameSeconds);
    std::vector<Segment> pieces;
    for (const Segment run : voicedRuns(pitches, shortestRest)) {
        const std::vector<double> smoothed = smoothedPitches(pitches, run);
        const std::vector<Segment> notePieces = joinPassingPieces(
            splitAtMoves(smoothed, run, splitHold), smoothed, run, shortestNote, longestGlidePiece);
        for (const Segment piece : joinStrayPieces(notePieces, smoothed, run, longestStray))
            pieces.push_back(piece);
    }
    // A slow drift can split a note into pieces that round to the same note: one note.
    std::vector<SungNote> notes;
    for (size_t i = 0; i < pieces.size(); ++i) {
        SungNote note = noteOf(pitches, pieces[i], timing);
        const bool joinsPrevious =
            i > 0 && pieces[i - 1].end == pieces[i].first && notes.back().midiNote == note.midiNote;
        if (joinsPrevious) {
            pieces[i].first = pieces[i - 1].first;
            pieces[i].pitchFirst = pieces[i - 1].pitchFirst;
            notes.pop_back();
            note = noteOf(pitches, pieces[i], timing);
        }
        notes.push_back(note);
    }
    return notes;
}

kelvatone::io::MidiFileContents partOf(const std::vector<SungNote>& notes) {
    kelvatone::io::MidiFileContents part;
    for (const SungNote& note : notes) {
        const auto midi = static_cast<uint8_t>(note.midiNote);
        part.notes.push_back({note.onsetSeconds, io::kNoteOn, midi, kPartVelocity});
        part.notes.push_back({note.offsetSeconds, io::kNoteOff, midi, 0});
    }
    // In time order, a note-off before a note-on at the same time.
    std::stable_sort(part.notes.begin(), part.notes.end(), [](const auto& a, const auto& b) {
        return a.seconds != b.seconds ? a.seconds < b.seconds : a.status < b.status;
    });
    return part;
}

} // namespace kelvatone::report
