#include "analysis/NoteNames.h"

#include <cstring>

namespace kelvatone::analysis {

std::atomic<int32_t> octaveLabelOffset{0};

namespace {

constexpr int kNotesPerOctave = 12;
static_assert(kCentsPerOctave == kNotesPerOctave * kCentsPerSemitone);
// A pitch is named after the note within 50 cents of it.
constexpr int kHalfNoteCents = kCentsPerSemitone / 2;
// Octaves beyond these would not fit the 8-byte label; no setting reaches them.
constexpr int64_t kLowestOctave = -9999;
constexpr int64_t kHighestOctave = 99999;

const char kNaturalLetters[kNotesPerOctave + 1] = "CCDDEFFGGAAB";
const char kDisplayNames[kNotesPerOctave][3] = {"C ", "C#", "D ", "D#", "E ", "F ",
                                                "F#", "G ", "G#", "A ", "A#", "B "};

// Writes the octave number at out and terminates it; returns the characters written.
int writeOctave(int64_t octave, char* out) {
    if (octave < kLowestOctave)
        octave = kLowestOctave;
    if (octave > kHighestOctave)
        octave = kHighestOctave;
    int length = 0;
    if (octave < 0) {
        out[length++] = '-';
        octave = -octave;
    }
    char digits[8];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + octave % 10);
        octave /= 10;
    } while (octave > 0);
    while (count > 0)
        out[length++] = digits[--count];
    out[length] = '\0';
    return length;
}

int64_t floorDivide(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

} // namespace

int noteLabel(NoteNumber n, int32_t octaveOffset, char* out) {
    int pitchClass = n % kNotesPerOctave;
    if (pitchClass < 0)
        pitchClass += kNotesPerOctave;
    out[0] = kNaturalLetters[pitchClass];
    return 1 + writeOctave(static_cast<int64_t>(n / kNotesPerOctave) + octaveOffset, out + 1);
}

int pitchNoteLabel(PitchCents cents, int32_t octaveOffset, char* out) {
    const int64_t rounded = static_cast<int64_t>(cents) + kHalfNoteCents;
    const int64_t octave = floorDivide(rounded, kCentsPerOctave);
    const int64_t withinOctave = rounded - octave * kCentsPerOctave;
    const char* name = kDisplayNames[withinOctave / kCentsPerSemitone];
    out[0] = name[0];
    out[1] = name[1];
    return 2 + writeOctave(octave + octaveOffset, out + 2);
}

bool parseNoteLabel(const char* text, NoteNumber& n) {
    static const int kLetterClasses[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    if (text[0] < 'A' || text[0] > 'G')
        return false;
    int pitchClass = kLetterClasses[text[0] - 'A'];
    const char* rest = text + 1;
    if (*rest == '#') {
        if (pitchClass == 4 || pitchClass == 11) // E# and B# are not note names here
            return false;
        ++pitchClass;
        ++rest;
    }
    if (rest[0] < '0' || rest[0] > '9' || rest[1] != '\0')
        return false;
    n = (rest[0] - '0') * kNotesPerOctave + pitchClass;
    return true;
}

} // namespace kelvatone::analysis
