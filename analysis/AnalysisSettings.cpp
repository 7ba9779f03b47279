#include "analysis/AnalysisSettings.h"

#include <algorithm>

namespace kelvatone::analysis {

NoteNumber clampBeginNote(NoteNumber begin, NoteNumber end) {
    return std::max(kLowestBeginNote, std::min(begin, end - kSmallestRangeSpan));
}

NoteNumber clampEndNote(NoteNumber end, NoteNumber begin) {
    return std::max(end, begin + kSmallestRangeSpan);
}

AnalysisRange rangeOf(NoteNumber begin, NoteNumber end) {
    AnalysisRange range;
    range.requestedBegin = static_cast<int16_t>(begin);
    range.begin = static_cast<int16_t>(begin);
    range.end = static_cast<int16_t>(end);
    return range;
}

AnalysisRange withBeginRequested(AnalysisRange range, NoteNumber begin) {
    range.requestedBegin = static_cast<int16_t>(std::max(kLowestBeginNote, begin));
    range.begin = static_cast<int16_t>(clampBeginNote(range.requestedBegin, range.end));
    return range;
}

AnalysisRange withEndRequested(AnalysisRange range, NoteNumber end) {
    range.end = static_cast<int16_t>(clampEndNote(end, range.begin));
    range.begin = static_cast<int16_t>(clampBeginNote(range.requestedBegin, range.end));
    return range;
}

template <typename Change> void AnalysisSettings::changeRange(Change change) {
    AnalysisRange current = range.load(std::memory_order_relaxed);
    while (!range.compare_exchange_weak(current, change(current), std::memory_order_relaxed)) {
    }
}

void AnalysisSettings::requestBeginNote(NoteNumber note) {
    changeRange([note](AnalysisRange current) { return withBeginRequested(current, note); });
}

void AnalysisSettings::requestEndNote(NoteNumber note) {
    changeRange([note](AnalysisRange current) { return withEndRequested(current, note); });
}

void AnalysisSettings::setRange(NoteNumber begin, NoteNumber end) {
    range.store(rangeOf(begin, end), std::memory_order_relaxed);
}

} // namespace kelvatone::analysis
