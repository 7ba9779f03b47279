// The functions the web page calls in the WebAssembly module. The page instantiates the
// module in the AudioWorklet (kv_audio_*: the analysis of the microphone), on the main
// thread (kv_display_*: parameters, model and picture) and there again for each take's
// report (kv_take_*), in memory sized for the take. Pointers answered here stay valid for
// the instance's life: its memory is sized once and never grows.
#include "io/AudioFileRate.h"
#include "io/MidiFile.h"
#include "web/LiveAudio.h"
#include "web/LiveDisplay.h"
#include "web/LiveTake.h"
#include "web/RecordedPart.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using kelvatone::web::Column;
using kelvatone::web::kMaxPartEvents;
using kelvatone::web::LiveAudio;
using kelvatone::web::LiveDisplay;
using kelvatone::web::LiveTake;
using kelvatone::web::PartEvent;
using kelvatone::web::RecordedFrame;

namespace {

// Made once by kv_audio_create on the worklet's thread (outside process), used there only.
LiveAudio* audio = nullptr;
// Made once by kv_display_create on the main thread, used there only.
LiveDisplay* display = nullptr;
// A column handed in by the main thread (five 32-bit words). Main thread.
Column incoming{};

// The largest MIDI file the page reads as a part.
constexpr int kMaxMidiFileBytes = 1 << 20;
// Main thread: a MIDI file's bytes as the page hands them, the part read from them (kept
// until the next file that reads well) and why the last file could not be read.
uint8_t midiFile[kMaxMidiFileBytes];
PartEvent readPart[kMaxPartEvents];
char midiError[256];
// Made by kv_take_begin in a take's own instance, on the main thread.
LiveTake* take = nullptr;
char takeError[256];
// The frames of a take recorded on the page, as the page writes them. Main thread.
std::vector<RecordedFrame> recordedFrames;

int midiFailure(const std::string& reason) {
    std::snprintf(midiError, sizeof midiError, "%s", reason.c_str());
    return -1;
}

int takeFailure(const std::string& reason) {
    std::snprintf(takeError, sizeof takeError, "%s", reason.c_str());
    return 0;
}

} // namespace

// ---- The worklet's instance (the browser's audio thread) ----

// Not real-time (allocates): the worklet's constructor. Answers 0 for an unsupported rate.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_audio_create(float sampleRate) {
    if (!audio)
        audio = new LiveAudio(sampleRate);
    return audio ? 1 : 0;
}

// Real-time from here on: none of these allocates, locks or waits.
extern "C" EMSCRIPTEN_KEEPALIVE float* kv_audio_input() {
    return audio->input();
}

extern "C" EMSCRIPTEN_KEEPALIVE int kv_audio_process(int frames) {
    return audio->process(frames);
}

extern "C" EMSCRIPTEN_KEEPALIVE const Column* kv_audio_column() {
    return &audio->column();
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_midi(int status, int data1, int data2) {
    audio->midi(static_cast<uint8_t>(status), static_cast<uint8_t>(data1),
                static_cast<uint8_t>(data2));
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_set_parameter(int index, float value) {
    audio->setParameter(index, value);
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_set_hold(int held) {
    audio->setHold(held != 0);
}

// Where the worklet copies a part (kv_part_capacity events) before kv_audio_part_load.
extern "C" EMSCRIPTEN_KEEPALIVE PartEvent* kv_audio_part() {
    return audio->partEvents();
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_part_load(int count) {
    audio->loadPart(count);
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_part_play() {
    audio->playPart();
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_part_stop() {
    audio->stopPart();
}

// The guide tone of the last block (kMaxBlock floats), for the speakers.
extern "C" EMSCRIPTEN_KEEPALIVE const float* kv_audio_output() {
    return audio->output();
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_audio_set_guide(int on) {
    audio->setGuideTone(on != 0);
}

// ---- Either instance ----

extern "C" EMSCRIPTEN_KEEPALIVE int kv_part_capacity() {
    return kMaxPartEvents;
}

// ---- The main thread's instance ----

extern "C" EMSCRIPTEN_KEEPALIVE int kv_display_create() {
    if (!display)
        display = new LiveDisplay();
    return display ? 1 : 0;
}

// Where the page writes a column before kv_display_add_column or kv_display_set_column.
extern "C" EMSCRIPTEN_KEEPALIVE Column* kv_display_column() {
    return &incoming;
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_display_add_column() {
    display->addColumn(incoming);
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_display_set_column(int i) {
    display->setShownColumn(i, incoming);
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_display_set_result(int pitch) {
    display->setLatestResult(pitch);
}

extern "C" EMSCRIPTEN_KEEPALIVE int kv_display_draw() {
    return display->draw() ? 1 : 0;
}

extern "C" EMSCRIPTEN_KEEPALIVE const uint8_t* kv_display_pixels() {
    return display->rgba();
}

extern "C" EMSCRIPTEN_KEEPALIVE int kv_display_click(int x, int y) {
    return display->click(x, y) ? 1 : 0;
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kv_display_readout() {
    return display->readout();
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kv_display_parameter_name(int index) {
    return display->parameterName(index);
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kv_display_parameter_text(int index) {
    return display->parameterText(index);
}

extern "C" EMSCRIPTEN_KEEPALIVE float kv_display_parameter(int index) {
    return display->parameter(index);
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_display_set_parameter(int index, float value) {
    display->setParameter(index, value);
}

// ---- A MIDI file as a part, read on the main thread with the project's MIDI reader ----

// Where the page writes a file's bytes (kv_midi_file_capacity of them) before kv_midi_read.
extern "C" EMSCRIPTEN_KEEPALIVE uint8_t* kv_midi_file() {
    return midiFile;
}

extern "C" EMSCRIPTEN_KEEPALIVE int kv_midi_file_capacity() {
    return kMaxMidiFileBytes;
}

// Not real-time (allocates). Reads the first `size` bytes of kv_midi_file(): answers the
// part's event count, its events then at kv_midi_part(); or -1, the reason at
// kv_midi_error() and the part read before left as it was.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_midi_read(int size) {
    kelvatone::io::MidiFileContents contents;
    std::string error;
    const auto bytes = static_cast<size_t>(std::clamp(size, 0, kMaxMidiFileBytes));
    if (!kelvatone::io::parseMidiFile(midiFile, bytes, contents, error))
        return midiFailure(error);
    if (contents.notes.empty())
        return midiFailure("it holds no notes");
    if (contents.notes.size() > static_cast<size_t>(kMaxPartEvents))
        return midiFailure("it holds more than " + std::to_string(kMaxPartEvents) + " note events");
    std::transform(contents.notes.begin(), contents.notes.end(), readPart,
                   [](const kelvatone::io::MidiNoteEvent& note) {
                       return PartEvent{note.seconds, note.status, note.note, note.velocity, {}};
                   });
    return static_cast<int>(contents.notes.size());
}

extern "C" EMSCRIPTEN_KEEPALIVE const PartEvent* kv_midi_part() {
    return readPart;
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kv_midi_error() {
    return midiError;
}

// ---- A take's report, in an instance of its own on the main thread (not real-time) ----

// The rate a file's header states, from its first `size` bytes at kv_midi_file(); 0 when
// unknown.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_file_rate(int size) {
    return kelvatone::io::audioFileRate(
        midiFile, static_cast<size_t>(std::clamp(size, 0, kMaxMidiFileBytes)));
}

extern "C" EMSCRIPTEN_KEEPALIVE double kv_take_max_samples() {
    return static_cast<double>(LiveTake::kMaxSamples);
}

// Bytes of memory beyond the module's own that a take of `frames` samples needs.
extern "C" EMSCRIPTEN_KEEPALIVE double kv_take_room(double frames) {
    return static_cast<double>(LiveTake::roomFor(static_cast<int64_t>(frames)));
}

// Starts the take: 1, or 0 with the reason at kv_take_error().
extern "C" EMSCRIPTEN_KEEPALIVE int kv_take_begin(int sampleRate, double frames) {
    std::string error;
    if (!take)
        take = new LiveTake();
    return take->begin(sampleRate, static_cast<int64_t>(frames), error) ? 1 : takeFailure(error);
}

// Where the page writes a block of channel 0 or 1 (kv_take_block_frames samples).
extern "C" EMSCRIPTEN_KEEPALIVE float* kv_take_block(int channel) {
    return take->block(std::clamp(channel, 0, LiveTake::kChannels - 1));
}

extern "C" EMSCRIPTEN_KEEPALIVE int kv_take_block_frames() {
    return LiveTake::kBlockFrames;
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv_take_push(int frames, int channels) {
    take->push(frames, channels);
}

// The notes meant, as a MIDI file's first `size` bytes at kv_midi_file(): 1, or 0 with
// the reason.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_take_part_file(int size) {
    std::string error;
    const auto bytes = static_cast<size_t>(std::clamp(size, 0, kMaxMidiFileBytes));
    return take->usePartFile(midiFile, bytes, error) ? 1 : takeFailure(error);
}

// Room for the `count` analysed frames of a recorded take (RecordedFrame records), for
// kv_take_recorded_part. Allocates.
extern "C" EMSCRIPTEN_KEEPALIVE RecordedFrame* kv_take_recorded_frames(int count) {
    recordedFrames.assign(static_cast<size_t>(std::max(count, 0)), RecordedFrame{});
    return recordedFrames.data();
}

// The notes meant of a recorded take: the notes held at its frames, written at
// kv_take_recorded_frames().
extern "C" EMSCRIPTEN_KEEPALIVE void kv_take_recorded_part() {
    const std::vector<PartEvent> events =
        kelvatone::web::recordedPart(recordedFrames.data(), recordedFrames.size());
    take->usePartEvents(events.data(), static_cast<int>(events.size()));
}

// The report, the notes and (withWav) the WAV file: 1, or 0 with the reason. The names
// of the take and its part, UTF-8, are at kv_take_names(): source, a zero, MIDI file, a
// zero.
extern "C" EMSCRIPTEN_KEEPALIVE int kv_take_finish(int withWav) {
    std::string error;
    const char* source = reinterpret_cast<const char*>(midiFile);
    const char* part = source + std::strlen(source) + 1;
    return take->finish(source, part, withWav != 0, error) ? 1 : takeFailure(error);
}

extern "C" EMSCRIPTEN_KEEPALIVE const char* kv_take_error() {
    return takeError;
}

// The outputs after kv_take_finish: where each begins and how many bytes it has.
extern "C" EMSCRIPTEN_KEEPALIVE const char* kv_take_report() {
    return take->report().data();
}
extern "C" EMSCRIPTEN_KEEPALIVE int kv_take_report_size() {
    return static_cast<int>(take->report().size());
}
extern "C" EMSCRIPTEN_KEEPALIVE const uint8_t* kv_take_midi() {
    return take->midi().data();
}
extern "C" EMSCRIPTEN_KEEPALIVE int kv_take_midi_size() {
    return static_cast<int>(take->midi().size());
}
extern "C" EMSCRIPTEN_KEEPALIVE const uint8_t* kv_take_wav() {
    return take->wav().data();
}
extern "C" EMSCRIPTEN_KEEPALIVE double kv_take_wav_size() {
    return static_cast<double>(take->wav().size());
}
