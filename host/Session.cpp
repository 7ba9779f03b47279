#include "host/Session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "host/HostCallback.h"

using namespace kelvatone::vst;

namespace kelvatone::host {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kUiPollInterval = std::chrono::milliseconds(10);
constexpr int kMaxBlockSize = 1 << 20;

int64_t checkpointFrame(const Checkpoint& checkpoint, int sampleRate, int64_t totalFrames) {
    if (checkpoint.seconds < 0.0) {
        return totalFrames;
    }
    const double frame = std::floor(checkpoint.seconds * sampleRate + 0.5);
    return frame >= static_cast<double>(totalFrames) ? totalFrames : static_cast<int64_t>(frame);
}

// Everything the audio thread touches, built before it starts so that its loop
// allocates nothing.
class AudioWorker {
public:
    AudioWorker(EffectInstance& instance, io::AudioData& input, const RunSettings& settings,
                std::vector<int64_t> blockStarts, EventSchedule& schedule,
                std::vector<int64_t> pauseFrames, RunReport& report)
        : effect_(instance.effect()), instance_(instance), input_(input), settings_(settings),
          blockStarts_(std::move(blockStarts)), schedule_(schedule),
          pauseFrames_(std::move(pauseFrames)), report_(report),
          inputs_(static_cast<size_t>(std::max(effect_->numInputs, 0))),
          outputs_(static_cast<size_t>(std::max(effect_->numOutputs, 0))),
          silence_(static_cast<size_t>(settings.blockSize), 0.0f),
          scratch_(outputs_.size(), std::vector<float>(static_cast<size_t>(settings.blockSize))) {
        if (settings_.keepOutput) {
            const size_t kept = std::min<size_t>(outputs_.size(), io::kMaxFileChannels);
            report_.output.sampleRate = input_.sampleRate;
            report_.output.channels.assign(
                kept, std::vector<float>(static_cast<size_t>(input_.frames())));
        }
    }

    // Audio thread.
    void run() {
        markAudioThread(true);
        const int64_t total = input_.frames();
        size_t nextPause = 0;
        auto stretchStart = Clock::now();
        for (size_t block = 0; block < blockStarts_.size(); ++block) {
            const int64_t start = blockStarts_[block];
            const int64_t end = block + 1 < blockStarts_.size() ? blockStarts_[block + 1] : total;
            while (nextPause < pauseFrames_.size() && pauseFrames_[nextPause] <= start) {
                wallSeconds_ += secondsSince(stretchStart);
                pause(nextPause++);
                stretchStart = Clock::now();
            }
            if (aborted()) {
                break;
            }
            processBlock(block, start, static_cast<int32_t>(end - start));
        }
        wallSeconds_ += secondsSince(stretchStart);
        while (nextPause < pauseFrames_.size() && !aborted()) {
            pause(nextPause++);
        }
        report_.frames = total;
        report_.blocks = static_cast<int64_t>(blockStarts_.size());
        report_.wallSeconds = wallSeconds_;
        markAudioThread(false);
        finished_.store(true, std::memory_order_release);
    }

    // UI thread: the checkpoint the audio thread waits at, or -1.
    int pausedAt() const { return pausedAt_.load(std::memory_order_acquire); }
    bool finished() const { return finished_.load(std::memory_order_acquire); }

    // UI thread: lets the audio thread go on past checkpoint `index`; with `stop`
    // it ends the run there instead.
    void resume(int index, bool stop) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            resumedThrough_ = index + 1;
            if (stop) {
                aborted_.store(true, std::memory_order_relaxed);
            }
        }
        resumed_.notify_one();
    }

    int64_t deliveredEvents() const { return delivered_; }

private:
    static double secondsSince(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    bool aborted() const { return aborted_.load(std::memory_order_relaxed); }

    // Audio thread: waits, outside any processing call, until the UI thread is done.
    void pause(size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        pausedAt_.store(static_cast<int>(index), std::memory_order_release);
        resumed_.wait(lock, [&] { return resumedThrough_ > static_cast<int>(index); });
        pausedAt_.store(-1, std::memory_order_release);
    }

    // Audio thread.
    void processBlock(size_t block, int64_t start, int32_t frames) {
        if (VstEvents* events = schedule_.eventsForBlock(block)) {
            instance_.dispatch(effProcessEvents, 0, 0, events);
            delivered_ += events->numEvents;
        }
        const size_t fileChannels = input_.channels.size();
        for (size_t channel = 0; channel < inputs_.size(); ++channel) {
            // Mono input feeds both channels; channels past the second get silence.
            inputs_[channel] =
                channel < io::kMaxFileChannels
                    ? input_.channels[std::min(channel, fileChannels - 1)].data() + start
                    : silence_.data();
        }
        for (size_t channel = 0; channel < outputs_.size(); ++channel) {
            outputs_[channel] = channel < report_.output.channels.size()
                                    ? report_.output.channels[channel].data() + start
                                    : scratch_[channel].data();
        }
        if ((effect_->flags & effFlagsCanReplacing) != 0 && effect_->processReplacing != nullptr) {
            effect_->processReplacing(effect_, inputs_.data(), outputs_.data(), frames);
        } else if (effect_->process != nullptr) {
            // The accumulating call adds to its outputs: start them from silence.
            for (float* output : outputs_) {
                std::memset(output, 0, sizeof(float) * static_cast<size_t>(frames));
            }
            effect_->process(effect_, inputs_.data(), outputs_.data(), frames);
        }
    }

    AEffect* effect_;
    EffectInstance& instance_;
    io::AudioData& input_;
    const RunSettings& settings_;
    std::vector<int64_t> blockStarts_;
    EventSchedule& schedule_;
    std::vector<int64_t> pauseFrames_;
    RunReport& report_;
    std::vector<float*> inputs_;
    std::vector<float*> outputs_;
    std::vector<float> silence_;
    std::vector<std::vector<float>> scratch_;
    // Audio thread only; read by the UI thread after join.
    int64_t delivered_ = 0;
    double wallSeconds_ = 0.0;

    std::mutex mutex_;
    std::condition_variable resumed_;
    int resumedThrough_ = 0; // guarded by mutex_: written by the UI thread
    // Written by the audio thread, read by the UI thread.
    std::atomic<int> pausedAt_{-1};
    std::atomic<bool> finished_{false};
    // Written by the UI thread (under mutex_), read by the audio thread.
    std::atomic<bool> aborted_{false};
};

} // namespace

std::string summaryLine(const RunReport& report) {
    const double speed = report.wallSeconds > 0.0 ? report.audioSeconds / report.wallSeconds : 0.0;
    char line[256];
    std::snprintf(line, sizeof line,
                  "%lld frames, %lld blocks, %lld MIDI events delivered, %.3f s of audio, "
                  "%.3f s wall, %.1fx faster than real time",
                  static_cast<long long>(report.frames), static_cast<long long>(report.blocks),
                  static_cast<long long>(report.midiEvents), report.audioSeconds,
                  report.wallSeconds, speed);
    return line;
}

Session::Session(EffectInstance& instance, io::AudioData input, RunSettings settings)
    : instance_(instance), input_(std::move(input)), settings_(std::move(settings)) {}

bool Session::prepare(std::string& error) {
    AEffect* effect = instance_.effect();
    if (settings_.blockSize < 1 || settings_.blockSize > kMaxBlockSize) {
        error = "block size " + std::to_string(settings_.blockSize) + " outside 1.." +
                std::to_string(kMaxBlockSize);
        return false;
    }
    if (input_.channels.empty() || input_.sampleRate <= 0) {
        error = "the input has no audio channels";
        return false;
    }
    for (const auto& [index, value] : settings_.parameters) {
        if (index < 0 || index >= effect->numParams) {
            error = "parameter index " + std::to_string(index) + " outside 0.." +
                    std::to_string(effect->numParams - 1) + " of this effect";
            return false;
        }
    }
    if (settings_.keepOutput && effect->numOutputs < 1) {
        error = "the effect has no outputs to write";
        return false;
    }
    HostContext& context = instance_.context();
    context.sampleRate.store(static_cast<float>(input_.sampleRate), std::memory_order_relaxed);
    context.blockSize.store(settings_.blockSize, std::memory_order_relaxed);
    instance_.dispatch(effOpen);
    instance_.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(input_.sampleRate));
    instance_.dispatch(effSetBlockSize, 0, settings_.blockSize);
    instance_.dispatch(effMainsChanged, 0, 1);
    running_ = true;
    if (effect->setParameter != nullptr) {
        for (const auto& [index, value] : settings_.parameters) {
            effect->setParameter(effect, index, value);
        }
    }
    return true;
}

bool Session::process(const std::vector<io::MidiNoteEvent>& notes,
                      const std::vector<Checkpoint>& checkpoints, UiDriver* ui, RunReport& report,
                      std::string& error) {
    if (!checkpoints.empty() && ui == nullptr) {
        error = "checkpoints need a user interface";
        return false;
    }
    const int64_t total = input_.frames();
    // Checkpoints in timeline order; those at the same point keep the order given.
    std::vector<size_t> order(checkpoints.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::vector<int64_t> frames(checkpoints.size());
    for (size_t i = 0; i < checkpoints.size(); ++i) {
        frames[i] = checkpointFrame(checkpoints[i], input_.sampleRate, total);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return frames[a] < frames[b]; });
    std::vector<int64_t> pauseFrames;
    for (size_t i : order) {
        pauseFrames.push_back(frames[i]);
    }

    std::vector<int64_t> blockStarts = planBlocks(total, settings_.blockSize, pauseFrames);
    EventSchedule schedule;
    schedule.build(notes, input_.sampleRate, blockStarts, total);
    report = RunReport{};
    report.audioSeconds = static_cast<double>(total) / input_.sampleRate;
    AudioWorker worker(instance_, input_, settings_, std::move(blockStarts), schedule,
                       std::move(pauseFrames), report);

    std::thread audio([&worker] { worker.run(); });
    int handled = -1;
    bool ok = true;
    while (!worker.finished()) {
        const int paused = worker.pausedAt();
        if (paused > handled) {
            ok = ui->atCheckpoint(checkpoints[order[static_cast<size_t>(paused)]], error);
            handled = paused;
            worker.resume(paused, !ok);
            continue;
        }
        if (ui != nullptr) {
            ui->idle();
        }
        std::this_thread::sleep_for(kUiPollInterval);
    }
    audio.join();
    report.midiEvents = worker.deliveredEvents();
    return ok;
}

void Session::finish() {
    if (running_) {
        instance_.dispatch(effMainsChanged, 0, 0);
        running_ = false;
    }
}

} // namespace kelvatone::host
