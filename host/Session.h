// One run of an effect over an input file, as a DAW drives it: set-up on the UI
// thread, processing on an audio thread of the host's own, pause points at which
// the UI thread can look at the editor, then shut-down.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/EventSchedule.h"
#include "host/ModuleLoader.h"
#include "io/AudioData.h"
#include "io/MidiFile.h"

namespace kelvatone::host {

constexpr int kDefaultRunBlockSize = 512;

// A point of the input's timeline at which the audio thread pauses so the UI thread
// can take a snapshot of the editor or click into it.
struct Checkpoint {
    enum class Kind { Snapshot, Click };
    Kind kind = Kind::Snapshot;
    double seconds = 0.0; // negative: after the whole input
    std::string path;     // snapshots: the PNG file
    int x = 0, y = 0;     // clicks: client coordinates in the editor
};

struct RunSettings {
    int blockSize = kDefaultRunBlockSize;
    std::vector<std::pair<int32_t, float>> parameters;
    bool keepOutput = false;
};

struct RunReport {
    int64_t frames = 0;
    int64_t blocks = 0;
    int64_t midiEvents = 0;
    double audioSeconds = 0.0;
    // Time the audio thread spent processing, pauses at checkpoints left out.
    double wallSeconds = 0.0;
    io::AudioData output; // filled when RunSettings::keepOutput is set
};

// The one-line summary a run prints at its end.
std::string summaryLine(const RunReport& report);

// What the UI thread does while the audio thread runs. All calls on the UI thread.
class UiDriver {
public:
    virtual ~UiDriver() = default;
    // Called about every 10 ms while audio is processed: pump window events, idle.
    virtual void idle() = 0;
    // Called with the audio thread paused at the checkpoint; false with a reason
    // ends the run.
    virtual bool atCheckpoint(const Checkpoint& checkpoint, std::string& error) = 0;
};

class Session {
public:
    // The session processes its own copy of the input: modules may write into their
    // input buffers.
    Session(EffectInstance& instance, io::AudioData input, RunSettings settings);
    // Switches the effect off if it is still on.
    ~Session() { finish(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // UI thread: effOpen, effSetSampleRate (the input's rate), effSetBlockSize,
    // effMainsChanged 1, then the parameters. False for a parameter index the effect
    // does not have, or an input the effect cannot take.
    bool prepare(std::string& error);

    // UI thread: processes the whole input on the audio thread, pausing at every
    // checkpoint for `ui`; `ui` may be null when there are no checkpoints.
    bool process(const std::vector<io::MidiNoteEvent>& notes,
                 const std::vector<Checkpoint>& checkpoints, UiDriver* ui, RunReport& report,
                 std::string& error);

    // UI thread: effMainsChanged 0.
    void finish();

private:
    EffectInstance& instance_;
    io::AudioData input_;
    RunSettings settings_;
    bool running_ = false;
};

} // namespace kelvatone::host
