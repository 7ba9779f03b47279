#include "analysis/AnalysisSettings.h"

#include <algorithm>

namespace kelvatone::analysis {

NoteNumber clampBeginNote(NoteNumber begin, NoteNumber end) {
    return std::max(kLowestBeginNote, std::min(begin, end - kSmallestRangeSpan));
}

NoteNumber clampEndNote(NoteNumber end, NoteNumber begin) {
    return std::max(end, begin + kSmallestRangeSpan);
}

AnalysisSettings::AnalysisSettings()
    : beginFrequency(noteFrequency(beginNote.load(std::memory_order_relaxed))),
      endFrequency(noteFrequency(endNote.load(std::memory_order_relaxed))) {}

void AnalysisSettings::setBeginNote(NoteNumber note) {
    beginNote.store(note, std::memory_order_relaxed);
    beginFrequency.store(noteFrequency(note), std::memory_order_relaxed);
}

void AnalysisSettings::setEndNote(NoteNumber note) {
    endNote.store(note, std::memory_order_relaxed);
    endFrequency.store(noteFrequency(note), std::memory_order_relaxed);
}

} // namespace kelvatone::analysis
