#include "report/HtmlReport.h"

#include "io/Json.h"

#include <algorithm>
#include <cstring>

namespace kelvatone::report {

namespace {

constexpr size_t kRankedNotes = 3;
// A note sung within 50 cents for at least this share of its frames is not among the worst.
constexpr double kWellSungShare = 0.9;
// A note is sharp or flat when its median deviation is at least this many cents.
constexpr double kOffCents = 10.0;

SpanFigures figuresOfSpan(const NoteSpan& span) {
    return figuresOf(span.frames, span.deviations, span.withinTolerance);
}

// Indices of the spans that pass `keep`, ordered by `before`, at most kRankedNotes.
template <typename Keep, typename Before>
std::vector<size_t> ranked(const std::vector<SpanFigures>& figures, Keep keep, Before before) {
    std::vector<size_t> indices;
    for (size_t i = 0; i < figures.size(); ++i)
        if (keep(figures[i]))
            indices.push_back(i);
    std::stable_sort(indices.begin(), indices.end(),
                     [&](size_t a, size_t b) { return before(figures[a], figures[b]); });
    indices.resize(std::min(indices.size(), kRankedNotes));
    return indices;
}

// JSON text for the page. Strings escape '<' so that no text can close the script element.
void writeString(std::FILE* out, const std::string& text) {
    std::fputs(kelvatone::io::jsonQuoteForHtml(text).c_str(), out);
}

void writeOptional(std::FILE* out, bool present, const char* format, double value) {
    if (present)
        std::fprintf(out, format, value);
    else
        std::fputs("null", out);
}

void writeIndices(std::FILE* out, const std::vector<size_t>& indices) {
    std::fputc('[', out);
    for (size_t i = 0; i < indices.size(); ++i)
        std::fprintf(out, "%s%zu", i == 0 ? "" : ",", indices[i]);
    std::fputc(']', out);
}

// The figures as --summary prints them, so that the page shows the same numbers.
void writeFigures(std::FILE* out, const SpanFigures& figures) {
    std::fprintf(out, "\"frames\":%ld,\"voiced\":", figures.frames);
    writeOptional(out, figures.haveShares, "%.3f", figures.voicedShare);
    std::fputs(",\"median\":", out);
    writeOptional(out, figures.haveMedian, "%.1f", figures.medianCents);
    std::fputs(",\"within\":", out);
    writeOptional(out, figures.haveShares, "%.3f", figures.withinShare);
}

void writeSettings(std::FILE* out, const ReportSettings& settings) {
    std::fputs("\"source\":", out);
    writeString(out, settings.sourceFile);
    std::fprintf(
        out, ",\"reference\":\"%s\",\"midiFile\":", settings.midiFile.empty() ? "sung" : "midi");
    writeString(out, settings.midiFile);
    std::fprintf(out,
                 ",\"settings\":{\"sampleRate\":%.17g,\"fftSize\":%d,\"hopLength\":%d,"
                 "\"resolution\":",
                 settings.sampleRate, settings.fftSize, settings.hopLength);
    writeString(out, settings.resolution);
    std::fprintf(out, ",\"threshold\":%.17g,\"beginNote\":%d,\"endNote\":%d,\"version\":",
                 settings.threshold, settings.beginNote, settings.endNote);
    writeString(out, KELVATONE_VERSION);
    std::fputc('}', out);
}

void writeTrack(std::FILE* out, const TakeTrack& track) {
    std::fprintf(out, ",\n\"frames\":{\"first\":%.9g,\"step\":%.9g,\"window\":%.9g},\n\"pitch\":[",
                 track.timing.firstFrameSeconds, track.timing.frameSeconds,
                 track.timing.windowSeconds);
    for (size_t k = 0; k < track.pitches.size(); ++k)
        std::fprintf(out, "%s%d", k == 0 ? "" : ",", static_cast<int>(track.pitches[k]));
    std::fputc(']', out);
}

void writeNotes(std::FILE* out, const TakeNotes& reference, const NoteRanking& ranking) {
    std::fputs(",\n\"notes\":[", out);
    const std::vector<NoteSpan>& spans = reference.spans();
    for (size_t i = 0; i < spans.size(); ++i) {
        const NoteSpan& span = spans[i];
        const bool worst =
            std::find(ranking.worst.begin(), ranking.worst.end(), i) != ranking.worst.end();
        std::fprintf(out,
                     "%s\n{\"note\":\"%s\",\"midi\":%d,\"start\":%.6f,\"end\":%.6f,"
                     "\"firstFrame\":%ld,\"worst\":%s,",
                     i == 0 ? "" : ",", midiNoteName(span.midiNote).c_str(), span.midiNote,
                     span.startSeconds, span.endSeconds, span.firstFrame, worst ? "true" : "false");
        writeFigures(out, figuresOfSpan(span));
        std::fputc('}', out);
    }
    std::fputs("],\n\"take\":{", out);
    const SpanFigures take = reference.takeFigures();
    std::fprintf(out, "\"start\":%.6f,\"end\":%.6f,", reference.partStart(), reference.partEnd());
    writeFigures(out, take);
    std::fputs(",\"meanAbs\":", out);
    writeOptional(out, take.haveMedian, "%.1f", take.meanAbsoluteCents);
    std::fputs("},\n\"sharpest\":", out);
    writeIndices(out, ranking.sharpest);
    std::fputs(",\"flattest\":", out);
    writeIndices(out, ranking.flattest);
}

} // namespace

NoteRanking rankNotes(const std::vector<NoteSpan>& spans) {
    std::vector<SpanFigures> figures;
    figures.reserve(spans.size());
    for (const NoteSpan& span : spans)
        figures.push_back(figuresOfSpan(span));
    NoteRanking ranking;
    ranking.worst = ranked(
        figures,
        [](const SpanFigures& f) { return f.haveShares && f.withinShare < kWellSungShare; },
        [](const SpanFigures& a, const SpanFigures& b) { return a.withinShare < b.withinShare; });
    ranking.sharpest = ranked(
        figures, [](const SpanFigures& f) { return f.haveMedian && f.medianCents >= kOffCents; },
        [](const SpanFigures& a, const SpanFigures& b) { return a.medianCents > b.medianCents; });
    ranking.flattest = ranked(
        figures, [](const SpanFigures& f) { return f.haveMedian && f.medianCents <= -kOffCents; },
        [](const SpanFigures& a, const SpanFigures& b) { return a.medianCents < b.medianCents; });
    return ranking;
}

void writeHtmlReport(std::FILE* out, const ReportSettings& settings, const TakeTrack& track,
                     const TakeNotes& reference) {
    const char* marker = std::strstr(kTakeReportTemplate, kTakeReportDataMarker);
    std::fwrite(kTakeReportTemplate, 1, static_cast<size_t>(marker - kTakeReportTemplate), out);
    std::fputc('{', out);
    writeSettings(out, settings);
    writeTrack(out, track);
    writeNotes(out, reference, rankNotes(reference.spans()));
    std::fputs("}", out);
    std::fputs(marker + std::strlen(kTakeReportDataMarker), out);
}

} // namespace kelvatone::report
