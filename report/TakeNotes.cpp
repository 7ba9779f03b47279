#include "report/TakeNotes.h"

#include "analysis/NoteNames.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace kelvatone::analysis;

namespace kelvatone::report {

namespace {

constexpr int kMidiNoteCount = 128;
constexpr int kLabelCapacity = 8;

// The sample at which the host delivers an event: its time rounded to the nearest sample.
int64_t eventSample(double seconds, double sampleRate) {
    return static_cast<int64_t>(std::floor(seconds * sampleRate + 0.5));
}

double median(std::vector<int32_t>& values) {
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    const double upper = values[middle];
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + middle);
    return (lower + upper) / 2.0;
}

void setNote(HeldNoteSet& set, int note) {
    set.words[note >> 5] |= 1u << (note & 31);
}

void clearNote(HeldNoteSet& set, int note) {
    set.words[note >> 5] &= ~(1u << (note & 31));
}

} // namespace

std::string midiNoteName(int midiNote) {
    char label[kLabelCapacity];
    pitchNoteLabel(midiNoteCents(midiNote), 0, label);
    std::string name(label);
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

std::string heldNoteNames(const HeldNoteSet& held) {
    std::string names;
    for (int note = 0; note < kMidiNoteCount; ++note) {
        if (!held.contains(note))
            continue;
        if (!names.empty())
            names += ' ';
        names += midiNoteName(note);
    }
    return names;
}

SpanFigures figuresOf(long frames, std::vector<int32_t> deviations, long withinTolerance) {
    SpanFigures figures;
    figures.frames = frames;
    if (frames > 0) {
        figures.haveShares = true;
        figures.voicedShare = static_cast<double>(deviations.size()) / static_cast<double>(frames);
        figures.withinShare = static_cast<double>(withinTolerance) / static_cast<double>(frames);
    }
    if (!deviations.empty()) {
        figures.haveMedian = true;
        double magnitudes = 0.0;
        for (int32_t deviation : deviations)
            magnitudes += std::abs(deviation);
        figures.meanAbsoluteCents = magnitudes / static_cast<double>(deviations.size());
        figures.medianCents = median(deviations);
    }
    return figures;
}

bool hasNotes(const kelvatone::io::MidiFileContents& part) {
    return std::any_of(
        part.notes.begin(), part.notes.end(), [](const kelvatone::io::MidiNoteEvent& event) {
            return (event.status & io::kStatusMask) == io::kNoteOn && event.velocity != 0;
        });
}

TakeNotes::TakeNotes(const kelvatone::io::MidiFileContents& part) : events_(part.notes) {
    std::fill(std::begin(openSpan_), std::end(openSpan_), -1);
}

void TakeNotes::apply(const kelvatone::io::MidiNoteEvent& event) {
    // As the plug-in's intake: all channels act on one set; a note-on with velocity 0 is a
    // note-off.
    const int note = event.note;
    const bool on = (event.status & io::kStatusMask) == io::kNoteOn && event.velocity != 0;
    if (on && openSpan_[note] < 0) {
        NoteSpan span;
        span.midiNote = note;
        span.startSeconds = event.seconds;
        openSpan_[note] = static_cast<int>(spans_.size());
        spans_.push_back(std::move(span));
        setNote(held_, note);
    } else if (!on && openSpan_[note] >= 0) {
        spans_[openSpan_[note]].endSeconds = event.seconds;
        openSpan_[note] = -1;
        clearNote(held_, note);
    }
}

const HeldNoteSet& TakeNotes::heldAt(int64_t sampleIndex, double sampleRate) {
    while (nextEvent_ < events_.size() &&
           eventSample(events_[nextEvent_].seconds, sampleRate) <= sampleIndex)
        apply(events_[nextEvent_++]);
    return held_;
}

void TakeNotes::addFrame(PitchCents pitch) {
    gatherFrame(pitch);
    ++frameCount_;
}

void TakeNotes::gatherFrame(PitchCents pitch) {
    bool anyHeld = false;
    bool haveNearest = false;
    int32_t nearest = 0;
    for (int note = 0; note < kMidiNoteCount; ++note) {
        if (openSpan_[note] < 0)
            continue;
        anyHeld = true;
        NoteSpan& span = spans_[openSpan_[note]];
        if (span.frames++ == 0)
            span.firstFrame = frameCount_;
        if (pitch == kNoPitch)
            continue;
        const int32_t deviation = pitch - midiNoteCents(note);
        span.deviations.push_back(deviation);
        if (std::abs(deviation) < kWithinCents)
            ++span.withinTolerance;
        if (!haveNearest || std::abs(deviation) < std::abs(nearest)) {
            nearest = deviation;
            haveNearest = true;
        }
    }
    if (!anyHeld)
        return;
    ++takeFrames_;
    if (!haveNearest)
        return;
    takeDeviations_.push_back(nearest);
    if (std::abs(nearest) < kWithinCents)
        ++takeWithin_;
}

void TakeNotes::finish(double takeSeconds) {
    while (nextEvent_ < events_.size())
        apply(events_[nextEvent_++]);
    for (int note = 0; note < kMidiNoteCount; ++note) {
        if (openSpan_[note] < 0)
            continue;
        NoteSpan& span = spans_[openSpan_[note]];
        span.endSeconds = std::max(takeSeconds, span.startSeconds);
        openSpan_[note] = -1;
        clearNote(held_, note);
    }
}

SpanFigures TakeNotes::takeFigures() const {
    return figuresOf(takeFrames_, takeDeviations_, takeWithin_);
}

double TakeNotes::partStart() const {
    // Spans open in the events' time order.
    return spans_.empty() ? 0.0 : spans_.front().startSeconds;
}

double TakeNotes::partEnd() const {
    double end = 0.0;
    for (const NoteSpan& span : spans_)
        end = std::max(end, span.endSeconds);
    return end;
}

} // namespace kelvatone::report
