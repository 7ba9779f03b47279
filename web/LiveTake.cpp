#include "web/LiveTake.h"

#include "analysis/Feed.h"
#include "analysis/RateConverter.h"
#include "io/AudioData.h"
#include "io/MidiFile.h"
#include "io/WavFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using kelvatone::analysis::RateConverter;

namespace kelvatone::web {

namespace {

// Bytes of one kept sample, and of the same sample in the WAV file.
constexpr int64_t kBytesPerSample = 2 * sizeof(float);

// Called for every analysed frame of a take: the report needs no more than the analysis
// keeps.
void ignoreFrame(long, int64_t, analysis::PitchCents, const analysis::HeldNoteSet&) {}

// The report page written into memory through a stream, as the tool writes it to a file.
bool writeReport(report::TakeAnalysis& take, const std::string& source, const std::string& midiFile,
                 const std::vector<report::SungNote>& sung, std::string& page) {
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    if (!out)
        return false;
    take.writeReport(out, source, midiFile, sung);
    const bool written = std::fflush(out) == 0 && !std::ferror(out);
    std::fclose(out);
    if (written)
        page.assign(text, length);
    std::free(text);
    return written;
}

} // namespace

int64_t LiveTake::roomFor(int64_t frames) {
    return frames * kBytesPerSample;
}

bool LiveTake::begin(int sampleRate, int64_t frames, std::string& error) {
    if (!RateConverter::supportsInputRate(sampleRate)) {
        error = "it " + report::unsupportedRateReason(sampleRate);
        return false;
    }
    if (frames > kMaxSamples) {
        error = "it is longer than a take can be (" +
                std::to_string(kMaxSamples / sampleRate / 60) + " minutes at " +
                std::to_string(sampleRate) + " Hz)";
        return false;
    }
    take = std::make_unique<report::TakeAnalysis>(report::TakeSettings{}, sampleRate, true);
    if (frames < take->hopInFile()) {
        error = "it " + report::tooShortReason(take->hopInFile());
        take.reset();
        return false;
    }
    take->reserve(frames);
    rate = sampleRate;
    return true;
}

void LiveTake::push(int frames, int channels) {
    const int count = std::clamp(frames, 0, kBlockFrames);
    for (int i = 0; i < count; ++i)
        mono[i] = channels > 1 ? analysis::monoMix(blocks[0][i], blocks[1][i]) : blocks[0][i];
    take->push(mono, static_cast<size_t>(count), ignoreFrame);
}

bool LiveTake::usePart(const io::MidiFileContents& part) {
    if (!report::hasNotes(part))
        return false;
    partEvents = part.notes;
    take->usePart(std::make_unique<report::TakeNotes>(part));
    return true;
}

bool LiveTake::usePartFile(const uint8_t* bytes, size_t size, std::string& error) {
    io::MidiFileContents part;
    if (!io::parseMidiFile(bytes, size, part, error))
        return false;
    if (!usePart(part)) {
        error = "it holds no notes";
        return false;
    }
    return true;
}

void LiveTake::usePartEvents(const PartEvent* events, int count) {
    io::MidiFileContents part;
    for (int i = 0; i < count; ++i)
        part.notes.push_back(
            {events[i].seconds, events[i].status, events[i].note, events[i].velocity});
    usePart(part);
}

bool LiveTake::finish(const std::string& source, const std::string& midiFile, bool withWav,
                      std::string& error) {
    take->finish(ignoreFrame);
    if (take->frames() == 0) {
        error = "it " + report::tooShortReason(take->hopInFile());
        return false;
    }
    // Without a part the report measures the take against the notes sung, and those are
    // its notes.
    const std::vector<report::SungNote> sung =
        take->part() ? std::vector<report::SungNote>{} : take->sungNotes();
    // A recorded take in which no note was held has no part to name.
    const std::string partName = take->part() ? midiFile : std::string();
    if (!writeReport(*take, source, partName, sung, reportPage)) {
        error = "its report could not be written";
        return false;
    }
    midiBytes = io::encodeMidiFile(take->part() ? partEvents : report::partOf(sung).notes);
    if (withWav) {
        io::AudioData audio;
        audio.sampleRate = rate;
        audio.channels.push_back(take->releaseSamples());
        if (!io::encodeFloatWav(audio, wavBytes, error))
            return false;
    }
    return true;
}

} // namespace kelvatone::web
