// A take's report in the web page, for a take recorded on the page or an audio file
// dropped on it: its samples at the take's own rate through kelvatone-analyse's analysis
// (report::TakeAnalysis), then the report page, the notes as a Standard MIDI File and the
// take as a WAV file, each as bytes for the page to show or offer.
//
// Threads: the page's main thread only, in an instance of the module made for one take,
// whose memory the page sizes for the take's length (roomFor) when it makes it.
#pragma once

#include "io/MidiFile.h"
#include "report/TakeAnalysis.h"
#include "web/PartPlayer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvatone::web {

class LiveTake {
public:
    // Sample frames of each channel the page writes at once.
    static constexpr int kBlockFrames = 4096;
    // The channels a take is mixed from (the plug-in's intake mixes the first two).
    static constexpr int kChannels = 2;
    // The longest take, in samples at its own rate: 2^26, 23 minutes at 48 kHz, 25 at
    // 44.1 kHz.
    static constexpr int64_t kMaxSamples = int64_t{1} << 26;

    // The bytes of memory a take of `frames` samples needs beyond the module's own: its
    // mono samples kept for the notes sung, and again as the WAV file written from them.
    static int64_t roomFor(int64_t frames);

    // Starts a take of `frames` samples at `sampleRate` Hz. Allocates. False with a plain
    // `error` for an unsupported rate, a take shorter than one analysis frame or longer than
    // kMaxSamples.
    bool begin(int sampleRate, int64_t frames, std::string& error);
    // Where the page writes the next block's samples of channel 0 and 1.
    float* block(int channel) { return blocks[channel]; }
    // Mixes `frames` samples of the first `channels` blocks to mono and analyses them.
    void push(int frames, int channels);

    // The notes meant: a MIDI file's bytes read with io's reader (false with `error` when it
    // is no MIDI file or holds no notes), or the events of a recorded take (none: no part).
    // Before the first push.
    bool usePartFile(const uint8_t* bytes, size_t size, std::string& error);
    void usePartEvents(const PartEvent* events, int count);

    // After the last push: the report page (source names the take on it, and midiFile its
    // part when it has one), the notes as MIDI (the notes meant, or without them the notes sung),
    // and with `withWav` the take as a 32-bit float WAV file. False with `error` when the
    // take gave no frame.
    bool finish(const std::string& source, const std::string& midiFile, bool withWav,
                std::string& error);
    const std::string& report() const { return reportPage; }
    const std::vector<uint8_t>& midi() const { return midiBytes; }
    const std::vector<uint8_t>& wav() const { return wavBytes; }

private:
    // The part, when it holds notes (false: the take keeps none).
    bool usePart(const io::MidiFileContents& part);

    std::unique_ptr<report::TakeAnalysis> take;
    std::vector<io::MidiNoteEvent> partEvents;
    int rate = 0;
    float blocks[kChannels][kBlockFrames] = {};
    double mono[kBlockFrames] = {};
    std::string reportPage;
    std::vector<uint8_t> midiBytes;
    std::vector<uint8_t> wavBytes;
};

} // namespace kelvatone::web
